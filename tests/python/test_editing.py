"""Point and range edits, membership, counts and extremes through Python."""
import pytest

from _veltrane_rec_extension import Bitmap
from conftest import MAX, SPAN


def test_a_new_bitmap_is_empty():
    b = Bitmap()
    assert (b.empty, b.cardinality, len(b), b.first, b.last, bool(b)) == (True, 0, 0, None, None, False)


@pytest.mark.parametrize("start, end, expected_count, first, last", [
    (5, 5, 0, None, None),
    (5, 3, 0, None, None),
    (SPAN, 5, 0, None, None),
    (5, SPAN, SPAN - 5, 5, SPAN - 1),
    (SPAN - 2, SPAN + 2, 4, SPAN - 2, SPAN + 1),
    (0, 2 * SPAN, 2 * SPAN, 0, 2 * SPAN - 1),
    (MAX - SPAN - 1, MAX, SPAN + 1, MAX - SPAN - 1, MAX - 1),
])
def test_set_range(start, end, expected_count, first, last):
    b = Bitmap()
    b.set(start, end)
    assert (b.cardinality, b.first, b.last) == (expected_count, first, last)
    assert end not in b or end <= start


def test_point_edits_at_the_extremes():
    b = Bitmap()
    b.set(MAX)
    b.set(0)
    assert (MAX in b, b.contains(0), b.first, b.last, len(b)) == (True, True, 0, MAX, 2)
    b.unset(MAX)
    b.unset(12345 * SPAN)  # no bucket there: nothing happens
    assert (b.last, len(b)) == (0, 1)
    b.unset(0)
    assert b.empty and b.first is None


class Sub(Bitmap):
    pass


@pytest.mark.parametrize("make", [Bitmap, Sub])
def test_every_spelling_of_a_point_edit_agrees(make):
    """Plain ints, keywords, bools, NumPy scalars and None all reach the same edits."""
    import numpy as np

    b = make()
    b.set(5)
    b.set(position=6)
    b.set(True)
    b.set(np.uint64(7), endEx=None)
    b.set(10, 12)
    b.set(np.int64(20), np.uint64(22))
    b.unset(position=6)
    b.unset(20, endEx=21)
    assert [p for p in range(25) if p in b] == [1, 5, 7, 10, 11, 21]
    assert [b.contains(p) for p in (1, True, np.uint32(5), 6)] == [True, True, True, False]
    assert b.contains(position=7) and b.__contains__(10) and not b.__contains__(position=9)
    assert len(b) == b.__len__() == b.cardinality == 6 and bool(b) and not make()


@pytest.mark.parametrize("call", [
    lambda b: b.set(-1), lambda b: b.set(1, 2**64), lambda b: b.set(1.5), lambda b: b.unset("1"),
    lambda b: b.contains(2**64), lambda b: (-1 in b), lambda b: (None in b), lambda b: b.set(1, 2, 3),
])
def test_refused_arguments_raise_the_argument_mismatch_error(call):
    with pytest.raises(TypeError, match=r"incompatible function arguments"):
        call(Bitmap())


def test_an_object_without_a_value_is_refused_not_crashed():
    b = Bitmap.__new__(Bitmap)
    for call in (lambda: 5 in b, lambda: b.contains(5), lambda: b.set(5), lambda: b.unset(1, 2)):
        with pytest.raises(TypeError):
            call()
    with pytest.raises(TypeError, match="not initialized"):
        len(b)
