"""Rank, select and nearest-position search from Python."""
import re

import pytest

from _veltrane_rec_extension import Bitmap

SPAN = 2**32
MAX = 2**64 - 1


def bitmap_of(*positions):
    bitmap = Bitmap()
    for position in positions:
        bitmap.set(position)
    return bitmap


@pytest.mark.parametrize("call, argument, expected", [
    ("lower_cardinality", SPAN, 1),
    ("lower_cardinality", 0, 0),
    ("lower_cardinality", MAX, 2),
    ("upper_cardinality", 5, 1),
    ("upper_cardinality", MAX, 0),
    ("nth", 0, 5),
    ("nth", 1, SPAN + 7),
    ("self_or_next", 5, 5),
    ("self_or_next", 6, SPAN + 7),
    ("self_or_next", SPAN + 8, 0),
    ("self_or_previous", SPAN + 3, 5),
    ("self_or_previous", SPAN + 14, SPAN + 7),
    ("self_or_previous", 4, MAX),
])
def test_two_buckets(call, argument, expected):
    assert getattr(bitmap_of(5, SPAN + 7), call)(argument) == expected


def test_nothing_to_find_on_an_empty_bitmap():
    bitmap = Bitmap()
    assert bitmap.self_or_next(10) == 0
    assert bitmap.self_or_previous(10) == MAX
    with pytest.raises(RuntimeError, match=re.escape(
            "The ordinal value [ 0] is greater than the total cardinality")):
        bitmap.nth(0)


def test_nth_beyond_the_count_names_the_ordinal():
    with pytest.raises(RuntimeError) as raised:
        bitmap_of(5, SPAN + 7).nth(2)
    assert str(raised.value) == "The ordinal value [ 2] is greater than the total cardinality"


def test_neighbour_search_leaves_an_empty_bucket_in_the_serialized_form():
    bitmap = bitmap_of(5)
    before = bitmap.persisted_size()
    assert bitmap.self_or_next(3 * SPAN) == 0
    assert bitmap.persisted_size() > before
    assert list(bitmap) == [5]


def test_nth_reaches_every_position_of_a_full_bucket():
    bitmap = Bitmap()
    bitmap.set(0, SPAN)
    bitmap.set(SPAN + 3)
    assert [bitmap.nth(o) for o in (0, SPAN - 2, SPAN - 1, SPAN)] == [0, SPAN - 2, SPAN - 1, SPAN + 3]
    with pytest.raises(RuntimeError, match=re.escape(f"The ordinal value [ {SPAN + 1}] is greater")):
        bitmap.nth(SPAN + 1)
