"""Range queries (all, any), flipping and slicing through Python, checked against
Python sets."""
import pytest
from hypothesis import given
from hypothesis import strategies as st

from _veltrane_rec_extension import Bitmap
from conftest import MAX, SPAN, holds, of, position_sets, positions


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


@pytest.mark.parametrize("position", [0, 5, SPAN - 1, SPAN, 7 * SPAN + 3, MAX - 1, MAX])
def test_flip_with_none_toggles_exactly_one_position(position):
    b = Bitmap()
    b.flip(position, None)
    assert holds(b, {position})
    b.flip(position, endEx=None)
    assert b.empty


def test_flip_of_a_unit_range_toggles_that_position_only():
    b = of(4, 6)
    b.flip(5, 6)
    assert holds(b, {4, 5, 6})


def test_flip_over_three_buckets_toggles_each_position_once():
    b = Bitmap()
    b.flip(SPAN - 10, 2 * SPAN + 10)
    assert (len(b), b.first, b.last) == (SPAN + 20, SPAN - 10, 2 * SPAN + 9)
    assert SPAN - 11 not in b and 2 * SPAN + 10 not in b


def test_double_flip_restores_positions_and_keeps_the_buckets_it_created():
    b = of(5, SPAN + 7)
    b.flip(3, 4 * SPAN)
    b.flip(3, 4 * SPAN)
    assert holds(b, {5, SPAN + 7})
    assert serialized_size(b) > serialized_size(of(5, SPAN + 7))


# --- all and any ------------------------------------------------------------------------

def one_hundred_above_key_one():
    return of(SPAN + 100)


def empty_middle_buckets():
    b = of(5, 4 * SPAN + 10)
    b.unset(SPAN, 4 * SPAN)  # creates empty buckets 1 to 3
    return b


@pytest.mark.parametrize("make, start, end, expected_all, expected_any", [
    (Bitmap, 5, 5, True, False),  # bucket 0 exists: an empty range is contained
    (Bitmap, SPAN + 5, SPAN + 5, False, False),  # no bucket 1
    (Bitmap, SPAN, 5, True, False),  # key of the end below the key of the start
    (one_hundred_above_key_one, SPAN + 5, SPAN + 10, False, False),
    (one_hundred_above_key_one, SPAN + 5, SPAN + 101, False, True),
    (empty_middle_buckets, 6, 4 * SPAN + 10, False, False),
    (lambda: of(5), (SPAN - 2) * SPAN, MAX, False, False),
    (lambda: of(1000 * SPAN + 3), 0, MAX, False, True),
])
def test_all_and_any(make, start, end, expected_all, expected_any):
    b = make()
    assert (b.all(start, end), b.any(start, end)) == (expected_all, expected_any)


def test_all_is_false_once_one_position_is_missing():
    b = Bitmap()
    b.set(10, 20)
    assert b.all(10, 20)
    b.unset(15)
    assert not b.all(10, 20) and b.any(10, 20)


# --- slice ------------------------------------------------------------------------------

def test_slice_keeps_values_and_excludes_its_second_bound():
    b = Bitmap()
    b.set(0, 100)
    part = b.slice(10, 20)
    assert holds(part, set(range(10, 20)))
    part.set(500)
    assert len(b) == 100 and 500 not in b
    assert b.slice(20, 10).empty
    assert b.slice(startInc=SPAN - 2, endInc=SPAN + 2).empty


def test_slice_across_a_bucket_boundary_and_in_the_last_bucket():
    b = Bitmap()
    b.set(SPAN - 2, SPAN + 6)
    b.set(MAX - 3)
    b.set(MAX)
    assert holds(b.slice(SPAN - 2, SPAN + 2), {SPAN - 2, SPAN - 1, SPAN, SPAN + 1})
    assert holds(b.slice(MAX - 5, MAX), {MAX - 3})
    assert b.slice(3 * SPAN, 3 * SPAN + 10).empty


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


# --- properties against a Python set ---------------------------------------------------

def end_of(start, length):
    return min(MAX, start + length)


@given(position_sets, st.lists(st.tuples(positions, st.integers(0, 600)), max_size=6))
def test_flips_match_a_python_set(model, flips):
    b = of(*model)
    for start, length in flips:
        if length == 0 or start == MAX:
            b.flip(start, None)
            model ^= {start}
        else:
            b.flip(start, end_of(start, length))
            model ^= set(range(start, end_of(start, length)))
    assert holds(b, model)
