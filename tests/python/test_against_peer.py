"""Differential checks against pyroaring's BitMap64, an independent implementation,
on random data spread over several keys, for every operation both libraries have."""
import numpy as np
import pytest

pyroaring = pytest.importorskip("pyroaring")
from _veltrane_rec_extension import Bitmap  # noqa: E402
from conftest import MAX, SPAN  # noqa: E402

BitMap64 = pyroaring.BitMap64


def random_positions(rng, n):
    """Clusters around bucket boundaries and the top of the range, plus runs."""
    anchors = np.array([0, SPAN - 50, 3 * SPAN, 77 * SPAN + 12345, MAX - SPAN - 50, MAX - 200], dtype=np.uint64)
    picks = anchors[rng.integers(0, len(anchors), n)] + rng.integers(0, 100, n, dtype=np.uint64)
    run_start = int(rng.integers(0, 4 * SPAN))
    return np.concatenate([picks, np.arange(run_start, run_start + int(rng.integers(0, 5000)), dtype=np.uint64)])


@pytest.fixture(params=range(8))
def pair(request):
    rng = np.random.default_rng(request.param)
    values = random_positions(rng, 400)
    others = np.concatenate([values[rng.random(len(values)) < 0.5], random_positions(rng, 200)])
    return rng, (Bitmap(values), BitMap64(values)), (Bitmap(others), BitMap64(others))


def same(ours, theirs):
    assert np.array_equal(ours.index_array(), np.array(theirs.to_array(), dtype=np.uint64))
    assert len(ours) == len(theirs)


def test_construction_membership_and_extremes(pair):
    rng, (ours, theirs), _ = pair
    same(ours, theirs)
    assert (ours.first, ours.last) == (theirs.min(), theirs.max())
    probes = [int(p) for p in list(theirs)[::7]] + [int(p) for p in rng.integers(0, MAX, 50, dtype=np.uint64)]
    assert [p in ours for p in probes] == [p in theirs for p in probes]


@pytest.mark.parametrize("ours_op, peer_op", [
    ("union", "union"), ("intersect", "intersection"), ("difference", "difference"),
    ("symmetric_difference", "symmetric_difference"),
])
def test_set_algebra(pair, ours_op, peer_op):
    _, (a, pa), (b, pb) = pair
    same(getattr(a, ours_op)(b), getattr(pa, peer_op)(pb))
    assert (a == b) == (pa == pb)
    assert a.subset_of(a | b) and (pa.issubset(pa | pb))
    assert a.intersect(b).subset_of(b) == pa.intersection(pb).issubset(pb)


def test_rank_select_and_neighbours(pair):
    rng, (ours, theirs), _ = pair
    for p in [int(p) for p in rng.integers(0, MAX, 40, dtype=np.uint64)] + [int(theirs[i]) for i in (0, 17, -1)]:
        assert ours.lower_cardinality(p) + ours.contains(p) == theirs.rank(p)
        expected_next = theirs.next_set_bit(p) if p <= theirs.max() else 0
        assert ours.self_or_next(p) == expected_next
    for ordinal in (0, 1, len(theirs) // 2, len(theirs) - 1):
        assert ours.nth(ordinal) == theirs[ordinal]


def test_ranges_and_flips(pair):
    rng, (ours, theirs), _ = pair
    for _ in range(10):
        start = int(theirs[int(rng.integers(0, len(theirs)))]) - int(rng.integers(0, 3))
        end = start + int(rng.integers(1, 3 * SPAN))
        end = min(end, MAX)
        assert ours.all(start, end) == theirs.contains_range(start, end)
        assert ours.any(start, end) == (theirs.range_cardinality(start, end) > 0)
        assert len(ours.slice(start, end)) == theirs.range_cardinality(start, end)
    start = SPAN - 10
    ours.flip(start, start + 30)
    theirs.flip_inplace(start, start + 30)
    ours.set(5 * SPAN - 3, 5 * SPAN + 3)
    theirs.add_range(5 * SPAN - 3, 5 * SPAN + 3)
    ours.unset(MAX - 150, MAX)
    theirs.remove_range(MAX - 150, MAX)
    same(ours, theirs)


@pytest.mark.parametrize("portable", [True, False])
def test_round_trip_keeps_what_the_peer_sees(pair, portable):
    _, (ours, theirs), _ = pair
    buffer = bytearray(ours.persisted_size(portable))
    ours.write(buffer, portable)
    same(Bitmap.read(buffer, portable), theirs)
