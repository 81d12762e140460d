"""Range tests, flipping and slicing against pyroaring's BitMap64.

Sparse rows: positions uniform over all 64 bits, about one per bucket, and ranges that
span thousands to billions of keys; the time should follow the buckets that exist in
the range, not the keys it spans. Dense rows: runs of 4096 positions below 2^34, so four
buckets of over a thousand containers each. BitMap64 has no slice; its nearest equivalent is an intersection with a
bitmap of the range, built once outside the timing.
"""
import numpy as np
from pyroaring import BitMap64

from _veltrane_rec_extension import Bitmap
from harness import Row, same_layout

GROUP = "Ranges, flip, slice"

SPAN = 1 << 32
MAX = (1 << 64) - 1


def widest_gap(values):
    """The exclusive bounds of the widest run of unset positions between two values."""
    gaps = np.diff(values)
    i = int(np.argmax(gaps))
    return int(values[i]) + 1, int(values[i + 1])


def sparse_rows(ctx):
    n = 10_000 if ctx.quick else 1_000_000
    values = ctx.generated("sparse", n)
    ours, peer = same_layout(Bitmap(values)), BitMap64(values)
    dataset = f"{n:,} sparse positions"

    start, end = widest_gap(values)
    keys = (end >> 32) - (start >> 32) + 1
    yield Row(f"any over an empty gap of {keys:,} keys", dataset, ctx.time(lambda: ours.any(start, end)),
              "BitMap64.range_cardinality > 0", ctx.time(lambda: peer.range_cardinality(start, end) > 0))
    one = 1000 * SPAN + 3
    ours_one, peer_one = Bitmap(np.array([one], dtype=np.uint64)), BitMap64([one])
    yield Row("any(0, 2^64 - 1)", "1 position", ctx.time(lambda: ours_one.any(0, MAX)),
              "BitMap64.range_cardinality > 0", ctx.time(lambda: peer_one.range_cardinality(0, MAX) > 0))
    yield Row("all(0, 2^64 - 1)", dataset, ctx.time(lambda: ours.all(0, MAX)),
              "BitMap64.contains_range", ctx.time(lambda: peer.contains_range(0, MAX)))

    # A range holding about a hundred of the positions, spread over millions of keys.
    middle = int(values[n // 2])
    width = (MAX // n) * 100
    low, high = middle - width // 2, middle + width // 2
    note = f"{len(ours.slice(low, high))} positions in the slice; BitMap64 has no slice"
    yield Row(f"slice over {(high - low) >> 32:,} keys", dataset, ctx.time(lambda: ours.slice(low, high)),
              "-", None, note=note)


def range_bitmap(start, end):
    result = BitMap64()
    result.add_range(start, end)
    return result


def dense_rows(ctx):
    n = 100_000 if ctx.quick else 20_000_000
    values = ctx.generated("dense", n)
    ours, peer = Bitmap(values), BitMap64(values)
    ours.persisted_size(optimize=True)  # run containers on both sides, as BitMap64 builds them
    dataset = f"{n:,} dense positions"
    first, last = int(values[0]), int(values[-1])
    ranges = (
        ("slice of the middle half", first + (last - first) // 4, last - (last - first) // 4),
        ("slice of a 2^24 range in one bucket", int(values[n // 3]), int(values[n // 3]) + (1 << 24)),
    )
    for operation, start, end in ranges:
        window = range_bitmap(start, end)
        yield Row(operation, dataset, ctx.time(lambda: ours.slice(start, end), repeats=3),
                  "BitMap64 & range bitmap", ctx.time(lambda: peer & window, repeats=3),
                  note=f"{len(ours.slice(start, end)):,} positions")

    start, end = first + 1000, last - 1000
    yield Row("all over the dense part", dataset, ctx.time(lambda: ours.all(start, end)),
              "BitMap64.contains_range", ctx.time(lambda: peer.contains_range(start, end)))
    yield Row("any over the dense part", dataset, ctx.time(lambda: ours.any(start, end)),
              "BitMap64.range_cardinality > 0", ctx.time(lambda: peer.range_cardinality(start, end) > 0))

    # Each call toggles the range back, so both sides alternate between two states.
    start, end = SPAN + 12345, SPAN + 12345 + (1 << 24)
    yield Row("flip 2^24 positions", dataset, ctx.time(lambda: ours.flip(start, end)),
              "BitMap64.flip_inplace", ctx.time(lambda: peer.flip_inplace(start, end)))
    whole, peer_whole = Bitmap(), BitMap64()
    yield Row("flip one whole bucket", "empty / full bucket",
              ctx.time(lambda: whole.flip(SPAN, 2 * SPAN), repeats=3),
              "BitMap64.flip_inplace", ctx.time(lambda: peer_whole.flip_inplace(SPAN, 2 * SPAN), repeats=3))


def run(ctx):
    yield from sparse_rows(ctx)
    yield from dense_rows(ctx)
