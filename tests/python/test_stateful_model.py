"""Drives a few bitmaps through every method and checks each step against a plain
Python set of positions (strategies and profiles in conftest.py)."""
import numpy as np
import pytest
from hypothesis import strategies as st
from hypothesis.stateful import RuleBasedStateMachine, initialize, invariant, rule

from _veltrane_rec_extension import Bitmap
from conftest import MAX, SPAN, check_rank_and_neighbours, lengths, positions, shifts, wide_lengths

slots = st.integers(0, 2)


def expanded(model, position, by):
    return {p if p < position else p + by for p in model}


def contracted(model, position, by):
    """Positions below the key of `position` are never touched."""
    lowest_removed = max((position >> 32) << 32, position - by + 1)
    return {p if p < lowest_removed else p - by for p in model if not lowest_removed <= p <= position}


class BitmapModel(RuleBasedStateMachine):
    def __init__(self):
        super().__init__()
        self.bitmaps = [Bitmap() for _ in range(3)]
        self.models = [set() for _ in range(3)]

    @initialize(values=st.lists(positions, max_size=20))
    def from_array(self, values):
        self.bitmaps[0] = Bitmap(np.array(values, dtype=np.uint64))
        self.models[0] = set(values)

    # --- edits ---------------------------------------------------------------------

    @rule(i=slots, p=positions, setting=st.booleans())
    def set_or_unset_one(self, i, p, setting):
        if setting:
            self.bitmaps[i].set(p)
            self.models[i].add(p)
        else:
            self.bitmaps[i].unset(p)
            self.models[i].discard(p)

    @rule(i=slots, p=positions, n=lengths, setting=st.booleans())
    def set_or_unset_range(self, i, p, n, setting):
        end = min(MAX, p + n)
        (self.bitmaps[i].set if setting else self.bitmaps[i].unset)(p, end)
        (self.models[i].update if setting else self.models[i].difference_update)(range(p, end))

    @rule(i=slots, p=positions, n=lengths)
    def flip(self, i, p, n):
        end = p + n
        if n == 0 or end > MAX:
            self.bitmaps[i].flip(p, None)
            self.models[i] ^= {p}
        else:
            self.bitmaps[i].flip(p, end)
            self.models[i] ^= set(range(p, end))

    @rule(i=slots, p=positions)
    def flip_reversed_range_is_refused(self, i, p):
        with pytest.raises(RuntimeError, match=r"^Invalid range\.$"):
            self.bitmaps[i].flip(p, max(0, p - 1) if p else 0)

    def shift(self, i, method, p, by, refused, moved):
        if refused:
            with pytest.raises(ValueError, match="^Range Out of Bounds$"):
                getattr(self.bitmaps[i], method)(p, by)
        else:
            getattr(self.bitmaps[i], method)(p, by)
            self.models[i] = moved(self.models[i], p, by)

    @rule(i=slots, p=positions, by=shifts)
    def expand(self, i, p, by):
        self.shift(i, "expand", p, by, any(q >= p and q + by > MAX for q in self.models[i]), expanded)

    @rule(i=slots, p=positions, by=shifts)
    def contract(self, i, p, by):
        model = self.models[i]
        if not model or max(model) < p:
            return self.shift(i, "contract", p, by, False, lambda unchanged, *_: unchanged)
        start_bucket_holds = any(q >> 32 == p >> 32 for q in model)
        refused = (start_bucket_holds and (p & (SPAN - 1)) <= by) or (not start_bucket_holds and by > SPAN)
        self.shift(i, "contract", p, by, refused, contracted)

    # --- set algebra ---------------------------------------------------------------

    @rule(i=slots, j=slots, op=st.sampled_from(["|", "&", "-", "^"]), in_place=st.booleans())
    def combine(self, i, j, op, in_place):
        a, b = self.bitmaps[i], self.bitmaps[j]
        expected = {"|": set.__or__, "&": set.__and__, "-": set.__sub__, "^": set.__xor__}[op](
            self.models[i], self.models[j])
        if in_place:
            method = {"|": a.inplace_union, "&": a.inplace_intersect, "-": a.inplace_difference,
                      "^": a.inplace_symmetric_difference}[op]
            result = method(b)
            assert result is not a
            self.models[i] = expected
        else:
            result = {"|": a.union, "&": a.intersect, "-": a.difference, "^": a.symmetric_difference}[op](b)
        assert set(result) == expected

    @rule(i=slots, j=slots)
    def compare(self, i, j):
        a, b = self.models[i], self.models[j]
        assert (self.bitmaps[i] == self.bitmaps[j]) == (a == b)
        assert self.bitmaps[i].subset_of(self.bitmaps[j]) == (a <= b)
        assert self.bitmaps[i].strict_subset_of(self.bitmaps[j]) == (a < b)
        x, y = self.bitmaps[i], self.bitmaps[j]
        assert (x <= y, x < y, x >= y, x > y) == (a <= b, a < b, a >= b, a > b)
        assert (x.intersection_cardinality(y), x.union_cardinality(y), x.difference_cardinality(y),
                x.symmetric_difference_cardinality(y), x.isdisjoint(y)) == (
                    len(a & b), len(a | b), len(a - b), len(a ^ b), a.isdisjoint(b))
        jaccard = len(a & b) / len(a | b) if a | b else float("nan")
        assert x.jaccard_index(y) == pytest.approx(jaccard, nan_ok=True)

    @rule(chosen=st.lists(slots, max_size=5))
    def many_way(self, chosen):
        bitmaps = [self.bitmaps[i] for i in chosen]
        assert set(Bitmap.union_all(bitmaps)) == set().union(*(self.models[i] for i in chosen))
        if chosen:
            assert set(Bitmap.intersect_all(bitmaps)) == set.intersection(*(self.models[i] for i in chosen))

    @rule(i=slots, j=slots)
    def copy_into(self, i, j):
        self.bitmaps[j] = self.bitmaps[i].copy()
        self.models[j] = set(self.models[i])

    # --- queries -------------------------------------------------------------------

    @rule(i=slots, p=positions)
    def rank_and_neighbours(self, i, p):
        check_rank_and_neighbours(self.bitmaps[i], self.models[i], p)

    @rule(i=slots, ordinal=st.integers(0, 40))
    def nth(self, i, ordinal):
        ordered = sorted(self.models[i])
        if ordinal < len(ordered):
            assert self.bitmaps[i].nth(ordinal) == ordered[ordinal]
        else:
            with pytest.raises(RuntimeError, match=rf"^The ordinal value \[ {ordinal}\] is greater"):
                self.bitmaps[i].nth(ordinal)

    @rule(i=slots, p=positions, n=wide_lengths)
    def range_tests_and_slice(self, i, p, n):
        b, model = self.bitmaps[i], self.models[i]
        end = min(MAX, p + n)
        inside = {q for q in model if p <= q < end}
        assert b.any(p, end) == bool(inside)
        if p < end:
            assert b.all(p, end) == (len(inside) == end - p)
        assert set(b.slice(p, end)) == inside

    @rule(i=slots, portable=st.booleans())
    def round_trip(self, i, portable):
        b = self.bitmaps[i]
        buffer = bytearray(b.persisted_size(portable=portable))
        assert b.write(buffer, portable) == len(buffer)
        copy = Bitmap.read(buffer, portable)
        assert copy == b and set(copy) == self.models[i]
        assert Bitmap.from_roaring64(b.to_roaring64()) == b

    @rule(i=slots, invert=st.booleans(), relative=st.booleans())
    def bool_array(self, i, invert, relative):
        model = self.models[i]
        if not model:
            assert len(self.bitmaps[i].bool_array(invert, relative)) == 0
            return
        offset = min(model) if relative else 0
        if max(model) - offset > 1 << 20:
            return
        mask = self.bitmaps[i].bool_array(invert, relative)
        expected = np.full(max(model) - offset + 1, invert)
        expected[[q - offset for q in model]] = not invert
        assert np.array_equal(mask, expected)

    @invariant()
    def matches_the_model(self):
        for b, model in zip(self.bitmaps, self.models):
            ordered = sorted(model)
            assert len(b) == len(model) and b.empty == (not model)
            assert (b.first, b.last) == ((ordered[0], ordered[-1]) if ordered else (None, None))
            assert list(b) == ordered
            assert b.index_array().tolist() == ordered


TestBitmapModel = BitmapModel.TestCase
