"""Rank, select and nearest-position search from Python."""
import re

import numpy as np
import pytest

from _veltrane_rec_extension import Bitmap
from conftest import MAX, SPAN, check_rank_and_neighbours, of as bitmap_of


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


def test_neighbour_search_leaves_an_empty_bucket_in_the_serialized_form():
    bitmap = bitmap_of(5)
    before = bitmap.persisted_size()
    assert bitmap.self_or_next(3 * SPAN) == 0
    assert bitmap.persisted_size() > before
    assert list(bitmap) == [5]


def expanded(model, at, by):
    return {p if p < at else p + by for p in model}


def contracted(model, at, by):
    return {p if p < at - by + 1 else p - by for p in model if not at - by < p <= at}


OTHER = {5, 7, SPAN + 9, 6 * SPAN + 1}
# Each edit as done to the bitmap and to a plain set of positions; the neighbour
# queries add empty buckets only, which must leave every count as it was.
EDITS = {
    "set": (lambda b: b.set(2 * SPAN + 7), lambda m: m | {2 * SPAN + 7}),
    "unset": (lambda b: b.unset(SPAN + 3), lambda m: m - {SPAN + 3}),
    "set a range": (lambda b: b.set(SPAN - 2, SPAN + 2), lambda m: m | set(range(SPAN - 2, SPAN + 2))),
    "unset a range": (lambda b: b.unset(0, SPAN + 4), lambda m: {p for p in m if p >= SPAN + 4}),
    "flip": (lambda b: b.flip(4, 9), lambda m: m ^ set(range(4, 9))),
    "flip one": (lambda b: b.flip(9 * SPAN, None), lambda m: m ^ {9 * SPAN}),
    "expand": (lambda b: b.expand(SPAN, 3 * SPAN), lambda m: expanded(m, SPAN, 3 * SPAN)),
    "contract": (lambda b: b.contract(SPAN + 100, 50), lambda m: contracted(m, SPAN + 100, 50)),
    "inplace_union": (lambda b: b.inplace_union(bitmap_of(*OTHER)), lambda m: m | OTHER),
    "|=": (lambda b: b.__ior__(bitmap_of(*OTHER)), lambda m: m | OTHER),
    "inplace_intersect": (lambda b: b.inplace_intersect(bitmap_of(*OTHER)), lambda m: m & OTHER),
    "-=": (lambda b: b.__isub__(bitmap_of(*OTHER)), lambda m: m - OTHER),
    "^=": (lambda b: b.__ixor__(bitmap_of(*OTHER)), lambda m: m ^ OTHER),
    "persisted_size": (lambda b: b.persisted_size(), lambda m: m),
    "self_or_next adding a bucket": (lambda b: b.self_or_next(11 * SPAN), lambda m: m),
    "self_or_previous adding a bucket": (lambda b: b.self_or_previous(SPAN // 2 + 8 * SPAN), lambda m: m),
}


def assert_rank_and_select(bitmap, model, probes):
    ordered = sorted(model)
    for ordinal in range(0, len(ordered) + 2, max(1, len(ordered) // 7)):
        if ordinal < len(ordered):
            assert bitmap.nth(ordinal) == ordered[ordinal]
        else:
            with pytest.raises(RuntimeError, match=re.escape(f"[ {ordinal}] is greater")):
                bitmap.nth(ordinal)
    for p in probes:
        check_rank_and_neighbours(bitmap, model, p)


@pytest.mark.parametrize("edit", EDITS.values(), ids=EDITS.keys())
def test_rank_and_select_follow_every_edit(edit):
    """Queries before the edit read the counts; those after must see the change."""
    model = {1, 2, 300, SPAN + 3, SPAN + 90, SPAN + 120, 4 * SPAN, 4 * SPAN + 1, 7 * SPAN + 5}
    bitmap = bitmap_of(*sorted(model))
    bitmap.unset(2 * SPAN, 2 * SPAN + 1)  # an empty bucket between non-empty ones
    probes = [0, 2, 3, SPAN, SPAN + 90, 2 * SPAN + 7, 3 * SPAN, 5 * SPAN, 9 * SPAN, 12 * SPAN, MAX]
    assert_rank_and_select(bitmap, model, probes)
    change, expected = edit
    change(bitmap)
    model = expected(model)
    assert_rank_and_select(bitmap, model, probes)
    assert sorted(model) == list(bitmap)


def assert_membership(bitmap, model, probes):
    assert [p in bitmap for p in probes] == [p in model for p in probes]
    assert [bitmap.contains(p) for p in probes[::5]] == [p in model for p in probes[::5]]


@pytest.mark.parametrize("edit", EDITS.values(), ids=EDITS.keys())
def test_membership_and_counts_follow_every_edit_on_many_buckets(edit):
    """Enough lookups before the edit for the key lookup table to be built, and a count
    taken; the lookups and counts after it must see the change."""
    model = {1, 2, 300, SPAN + 3, SPAN + 90, 4 * SPAN + 1} | {k * SPAN + k for k in range(12, 300)}
    bitmap = bitmap_of(*sorted(model))
    bitmap.unset(2 * SPAN, 2 * SPAN + 1)
    for _ in range(3):
        assert_membership(bitmap, model, sorted(model | {p + 1 for p in model}))
    assert (len(bitmap), bitmap.cardinality) == (len(model), len(model))
    change, expected = edit
    change(bitmap)
    after = expected(model)
    touched = model | after | OTHER | {2 * SPAN + 7, SPAN - 2, SPAN - 1, 9 * SPAN, 11 * SPAN}
    assert_membership(bitmap, after, sorted(touched | {p + 1 for p in touched}))
    assert (len(bitmap), bitmap.cardinality) == (len(after), len(after))
    assert bitmap.index_array().tolist() == sorted(after)


def test_copies_and_read_results_start_with_their_own_counts():
    bitmap = bitmap_of(5, SPAN + 7)
    assert bitmap.nth(1) == SPAN + 7
    copy = bitmap.copy()
    bitmap.unset(SPAN + 7)
    assert (copy.nth(1), copy.lower_cardinality(MAX)) == (SPAN + 7, 2)
    buffer = bytearray(copy.persisted_size())
    copy.write(buffer)
    del copy
    assert Bitmap.read(buffer).nth(1) == SPAN + 7


def test_neighbour_queries_over_many_empty_buckets():
    """Each probe adds an empty bucket, which changes no answer."""
    bitmap = bitmap_of(5, 900_000 * SPAN)
    rng = np.random.default_rng(4)
    for key in rng.integers(1, 900_000, 20_000):
        assert bitmap.self_or_next(int(key) * SPAN) == 900_000 * SPAN
        assert bitmap.self_or_previous(int(key) * SPAN) == 5


def test_nth_reaches_every_position_of_a_full_bucket():
    bitmap = bitmap_of(3 * SPAN + 1)
    bitmap.set(SPAN, 2 * SPAN)
    assert [bitmap.nth(o) for o in (0, SPAN - 2, SPAN - 1, SPAN)] == [SPAN, 2 * SPAN - 2, 2 * SPAN - 1, 3 * SPAN + 1]
    assert bitmap.lower_cardinality(2 * SPAN) == SPAN and bitmap.upper_cardinality(SPAN) == SPAN
    with pytest.raises(RuntimeError, match=re.escape(f"The ordinal value [ {SPAN + 1}] is greater")):
        bitmap.nth(SPAN + 1)
