"""Set algebra between consecutive sets of the real datasets, against pyroaring's BitMap64.

Each dataset is measured in three layouts of the same sets:
- "key per set": set i on key i, as the harness provides it; consecutive sets share no
  key apart from the empty key-0 bucket every Bitmap() starts with, so these rows show
  the fixed cost of a call more than the work inside CRoaring;
- "one key": the sets as they are in the files, all on key 0;
- "64K blocks over keys": every 2^16 block of a set on its own key, so each CRoaring
  container sits in its own bucket and consecutive sets share keys.

A row's time is one pass over all consecutive pairs. The first rows give the fixed
cost of a call on empty bitmaps, for reading the rows whose answers are trivial. The
in-place rows copy the left operand first on both sides (the operands must stay
intact between passes); ours then also returns a copy of the result, as its in-place
methods must.
"""
import operator

import numpy as np
from pyroaring import BitMap64

from _veltrane_rec_extension import Bitmap
from harness import ROARING_DATASETS, Row, same_layout

GROUP = "Set algebra"

LOW_MASK = np.uint64(0xFFFFFFFF)


def one_key(values):
    return np.unique(values & LOW_MASK)


def blocks_over_keys(values):
    low = np.unique(values & LOW_MASK)
    return ((low >> np.uint64(16)) << np.uint64(32)) | (low & np.uint64(0xFFFF))


LAYOUTS = (("key per set", lambda values: values), ("one key", one_key),
           ("64K blocks over keys", blocks_over_keys))


def new_result(op):
    def run(pairs):
        for a, b in pairs:
            op(a, b)
    return run


def copy_then_in_place(op):
    def run(pairs):
        for a, b in pairs:
            op(a.copy(), b)
    return run


def ior(a, b):
    a |= b


def iand(a, b):
    a &= b


def isub(a, b):
    a -= b


def ixor(a, b):
    a ^= b


# operation label, peer label, ours and theirs as functions of the list of pairs
OPERATIONS = [
    ("a | b", "BitMap64 |", new_result(operator.or_), new_result(operator.or_)),
    ("a & b", "BitMap64 &", new_result(operator.and_), new_result(operator.and_)),
    ("a - b", "BitMap64 -", new_result(operator.sub), new_result(operator.sub)),
    ("a ^ b", "BitMap64 ^", new_result(operator.xor), new_result(operator.xor)),
    ("copy, |=", "BitMap64 copy, |=", copy_then_in_place(ior), copy_then_in_place(ior)),
    ("copy, &=", "BitMap64 copy, &=", copy_then_in_place(iand), copy_then_in_place(iand)),
    ("copy, -=", "BitMap64 copy, -=", copy_then_in_place(isub), copy_then_in_place(isub)),
    ("copy, ^=", "BitMap64 copy, ^=", copy_then_in_place(ixor), copy_then_in_place(ixor)),
    ("a == b", "BitMap64 ==", new_result(operator.eq), new_result(operator.eq)),
    ("a.subset_of(b)", "BitMap64 <=", new_result(Bitmap.subset_of), new_result(operator.le)),
]


def equal_pairs(bitmaps):
    return [(b, b.copy()) for b in bitmaps]


def subset_pairs(bitmaps):
    return [(a, a | b) for a, b in zip(bitmaps, bitmaps[1:])]


# Whole-walk variants: pairs where the answer is only known at the last bucket.
FULL_WALKS = [
    ("a == a.copy()", "BitMap64 ==", equal_pairs, new_result(operator.eq), new_result(operator.eq)),
    ("a.subset_of(a | b)", "BitMap64 <=", subset_pairs, new_result(Bitmap.subset_of),
     new_result(operator.le)),
]


def call_floor(ctx):
    """The fixed cost of one call, with nothing to compare: what the rows between
    sets that share no key mostly measure."""
    ours_pairs = [(Bitmap(), Bitmap())] * 100
    peer_pairs = [(BitMap64(), BitMap64())] * 100
    for label, peer_label, op in (("a == b", "BitMap64 ==", operator.eq),
                                  ("a & b", "BitMap64 &", operator.and_)):
        yield Row(label, "100 calls on empty bitmaps", ctx.time(lambda: new_result(op)(ours_pairs)),
                  peer_label, ctx.time(lambda: new_result(op)(peer_pairs)))


def run(ctx):
    yield from call_floor(ctx)
    for name in ROARING_DATASETS:
        sets = ctx.roaring_sets(name)
        for layout, arrange in LAYOUTS:
            arrays = [arrange(values) for values in sets]
            ours_bitmaps = [same_layout(Bitmap(values)) for values in arrays]
            peer_bitmaps = [BitMap64(values) for values in arrays]
            ours_pairs = list(zip(ours_bitmaps, ours_bitmaps[1:]))
            peer_pairs = list(zip(peer_bitmaps, peer_bitmaps[1:]))
            dataset = f"{name}, {layout}"
            for label, peer_label, ours, theirs in OPERATIONS:
                yield Row(label, dataset, ctx.time(lambda: ours(ours_pairs)), peer_label,
                          ctx.time(lambda: theirs(peer_pairs)))
            for label, peer_label, make_pairs, ours, theirs in FULL_WALKS:
                ours_walk, peer_walk = make_pairs(ours_bitmaps), make_pairs(peer_bitmaps)
                yield Row(label, dataset, ctx.time(lambda: ours(ours_walk)), peer_label,
                          ctx.time(lambda: theirs(peer_walk)))
