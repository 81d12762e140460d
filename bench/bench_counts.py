"""Counts of combinations and many-way union, against building the result and against
pyroaring's BitMap64.

Count rows: one pass over all consecutive pairs of a dataset (the layouts of
bench_algebra), or one call on two generated shapes. Each count is measured twice: against
building the combination with our operator and taking len() of it, and against the
peer's method of the same name.

Many-way rows: the union of 1,000 generated bitmaps, against a pairwise fold of | and
against BitMap64.union(*bitmaps).
"""
import functools
import operator

import numpy as np
from pyroaring import BitMap64

from _veltrane_rec_extension import Bitmap
from bench_algebra import LAYOUTS, new_result
from harness import Row, same_layout

GROUP = "Counts and many-way union"

# method name, the operator whose result it counts (None: no single result to count)
COUNTS = [
    ("intersection_cardinality", operator.and_),
    ("union_cardinality", operator.or_),
    ("difference_cardinality", operator.sub),
    ("symmetric_difference_cardinality", operator.xor),
    ("jaccard_index", None),
    ("isdisjoint", operator.and_),
]

MANY = 1000


def count_rows(ctx, dataset, ours_pairs, peer_pairs):
    for name, combine in COUNTS:
        ours = ctx.time(lambda: new_result(getattr(Bitmap, name))(ours_pairs))
        if combine is not None:
            built = ctx.time(lambda: new_result(lambda a, b: len(combine(a, b)))(ours_pairs))
            yield Row(f"a.{name}(b)", dataset, ours, f"ours: len(a {symbol(combine)} b)", built)
        theirs = ctx.time(lambda: new_result(getattr(BitMap64, name))(peer_pairs))
        yield Row(f"a.{name}(b)", dataset, ours, f"BitMap64.{name}", theirs)


def symbol(combine):
    return {operator.and_: "&", operator.or_: "|", operator.sub: "-", operator.xor: "^"}[combine]


def dataset_pairs(ctx, name, arrange):
    arrays = [arrange(values) for values in ctx.roaring_sets(name)]
    ours = [same_layout(Bitmap(values)) for values in arrays]
    peer = [BitMap64(values) for values in arrays]
    return list(zip(ours, ours[1:])), list(zip(peer, peer[1:]))


def generated_pair(ctx, shape, n):
    arrays = [ctx.generated(shape, n, seed) for seed in (1, 2)]
    ours = [same_layout(Bitmap(values)) for values in arrays]
    peer = [BitMap64(values) for values in arrays]
    return [tuple(ours)], [tuple(peer)]


def uniform_below_2_28(ctx, seed):
    rng = np.random.default_rng(seed)
    return np.unique(rng.integers(0, 1 << 28, size=2000, dtype=np.uint64))


def runs_below_2_34(ctx, seed):
    return ctx.generated("dense", 2000, seed)


MANY_WAY_SHAPES = (("2000 uniform below 2^28 each", uniform_below_2_28),
                   ("a run of 2000 below 2^34 each", runs_below_2_34))


def many_way_rows(ctx, label, make):
    arrays = [make(ctx, seed) for seed in range(MANY)]
    ours = [same_layout(Bitmap(values)) for values in arrays]
    peer = [BitMap64(values) for values in arrays]
    dataset = f"{MANY} bitmaps, {label}"
    union_all = ctx.time(lambda: Bitmap.union_all(ours), budget=10)
    yield Row("Bitmap.union_all(bitmaps)", dataset, union_all, "ours: reduce(|, bitmaps)",
              ctx.time(lambda: functools.reduce(operator.or_, ours), budget=10))
    yield Row("Bitmap.union_all(bitmaps)", dataset, union_all, "BitMap64.union(*bitmaps)",
              ctx.time(lambda: BitMap64.union(*peer), budget=10))


def run(ctx):
    datasets = ("census1881",) if ctx.quick else ("census1881", "uscensus2000", "wikileaks-noquotes")
    for name in datasets:
        for layout, arrange in LAYOUTS:
            yield from count_rows(ctx, f"{name}, {layout}", *dataset_pairs(ctx, name, arrange))
    size = 100_000 if ctx.quick else 1_000_000
    for shape in ("dense", "sparse", "clustered"):
        yield from count_rows(ctx, f"{shape}, {size} positions", *generated_pair(ctx, shape, size))
    for label, make in MANY_WAY_SHAPES:
        yield from many_way_rows(ctx, label, make)
