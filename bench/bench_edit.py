"""Construction from arrays, membership and point edits against pyroaring's BitMap64."""
import numpy as np
from pyroaring import BitMap64

from _veltrane_rec_extension import Bitmap
from harness import Row, same_layout

GROUP = "Construction, membership, point edits"


def spread(values, keys):
    """values (below 2^32) moved onto `keys` distinct keys, block by block."""
    block = max(1, len(values) // keys)
    key = (np.arange(len(values), dtype=np.uint64) // np.uint64(block)) % np.uint64(keys)
    return values + (key << np.uint64(32))


def run(ctx):
    n = 200_000 if ctx.quick else 10_000_000
    rng = np.random.default_rng(1)
    base = np.sort(rng.choice(1 << 31, size=n, replace=False).astype(np.uint64))
    for keys in (1, 100, 10_000):
        ordered = spread(base, keys)
        shuffled = rng.permutation(ordered)
        for label, values in (("sorted", ordered), ("shuffled", shuffled)):
            dataset = f"{n:,} {label}, {keys:,} keys"
            ours = ctx.time(lambda: Bitmap(values), repeats=3)
            # BitMap64 takes seconds per call on shuffled input: fewer samples there.
            theirs = ctx.time(lambda: BitMap64(values), repeats=3, budget=8.0)
            yield Row("Bitmap(array)", dataset, ours, "BitMap64(array)", theirs)

    values = spread(base[:1_000_000], 100)
    ours_bitmap, peer_bitmap = same_layout(Bitmap(values)), BitMap64(values)
    probes = [int(v) for v in rng.choice(values, 10_000)] + [int(v) + 1 for v in rng.choice(values, 10_000)]
    dataset = "20,000 probes, 1e6 positions over 100 keys"

    def ours_contains():
        for p in probes:
            p in ours_bitmap

    def peer_contains():
        for p in probes:
            p in peer_bitmap

    yield Row("in", dataset, ctx.time(ours_contains), "BitMap64 in", ctx.time(peer_contains))
    contains = ours_bitmap.contains

    def ours_contains_method():
        for p in probes:
            contains(p)

    yield Row("contains()", dataset, ctx.time(ours_contains_method), "BitMap64 in", ctx.time(peer_contains))

    def ours_set():
        b = Bitmap()
        for p in probes:
            b.set(p)

    def peer_add():
        b = BitMap64()
        for p in probes:
            b.add(p)

    yield Row("set(p)", "20,000 positions over 100 keys", ctx.time(ours_set), "BitMap64.add", ctx.time(peer_add))

    def ours_unset():
        b = ours_bitmap.copy()
        for p in probes:
            b.unset(p)

    def peer_discard():
        b = BitMap64(peer_bitmap)
        for p in probes:
            b.discard(p)

    yield Row("copy + unset(p)", dataset, ctx.time(ours_unset), "BitMap64 copy + discard", ctx.time(peer_discard))
    start = int(values[len(values) // 2])
    yield Row("set(a, b) 2^20 range", "1e6 positions", ctx.time(lambda: ours_bitmap.set(start, start + (1 << 20))),
              "BitMap64.add_range", ctx.time(lambda: peer_bitmap.add_range(start, start + (1 << 20))))
    yield Row("cardinality", dataset, ctx.time(lambda: ours_bitmap.cardinality), "len(BitMap64)",
              ctx.time(lambda: len(peer_bitmap)))
