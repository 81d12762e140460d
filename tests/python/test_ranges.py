"""Range queries (all, any), flipping and slicing through Python: their arguments and
errors. The bucket cases are the core's tests, and the stateful model checks them
against Python sets."""
import pytest

from _veltrane_rec_extension import Bitmap
from conftest import MAX, SPAN, holds, of


def serialized_size(bitmap):
    """Grows with the number of buckets, empty ones included; changes nothing."""
    return bitmap.persisted_size(portable=True, optimize=False, shrink=False)


# --- flip -------------------------------------------------------------------------------

def test_flip_requires_its_second_argument():
    b = of(5)
    with pytest.raises(TypeError, match="incompatible function arguments"):
        b.flip(5)
    assert holds(b, {5})


@pytest.mark.parametrize("start, end", [(5, 5), (6, 5), (2 * SPAN + 6, 2 * SPAN + 5), (SPAN, 3)])
def test_flip_refuses_an_empty_or_reversed_range_before_changing_anything(start, end):
    b = of(5, 6)
    size = serialized_size(b)
    with pytest.raises(RuntimeError, match=r"^Invalid range\.$"):
        b.flip(start, end)
    assert holds(b, {5, 6}) and serialized_size(b) == size


@pytest.mark.parametrize("position", [0, SPAN - 1, MAX])
def test_flip_with_none_toggles_exactly_one_position(position):
    b = Bitmap()
    b.flip(position, None)
    assert holds(b, {position})
    b.flip(position, endEx=None)
    assert b.empty


def test_all_and_any_answer_for_the_half_open_range():
    b = of(SPAN + 100)
    b.set(10, 20)
    assert (b.all(10, 20), b.all(10, 21), b.any(SPAN + 5, SPAN + 100), b.any(SPAN + 5, SPAN + 101)) == \
        (True, False, False, True)


def test_slice_is_a_new_bitmap_of_the_half_open_range():
    b = Bitmap()
    b.set(SPAN - 2, SPAN + 6)
    part = b.slice(startInc=SPAN - 1, endInc=SPAN + 2)
    assert holds(part, {SPAN - 1, SPAN, SPAN + 1})
    part.set(500)
    assert len(b) == 8 and 500 not in b
    assert b.slice(20, 10).empty


def test_slice_refuses_a_range_whose_end_key_is_below_its_start_key():
    with pytest.raises(RuntimeError, match=r"^Invalid range4294967301\.\.5$"):
        of(5).slice(SPAN + 5, 5)


# --- arguments --------------------------------------------------------------------------

@pytest.mark.parametrize("call", [
    lambda b: b.flip(-1, 5),
    lambda b: b.flip(0, MAX + 1),
    lambda b: b.all(0, -1),
    lambda b: b.any(MAX + 1, 0),
    lambda b: b.slice(0, None),
    lambda b: b.all(0, None),
])
def test_out_of_range_arguments_raise_type_error(call):
    b = of(5)
    with pytest.raises(TypeError):
        call(b)
    assert holds(b, {5})
