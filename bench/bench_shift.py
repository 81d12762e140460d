"""expand and contract near the start of a large bitmap, against rebuilding it.

The bitmap holds 10 million positions over 100 keys (100,000 per key) in two shapes:
"sparse", spread over the lowest 2^24 low parts of each key (about 400 per 2^16 block:
CRoaring array containers), and "dense", packed into the lowest 2^18 low parts (bitset
containers). A shift edits the bitmap, so each timed call is a pair, expand(p, by)
then the contract that closes the gap again, leaving the bitmap as it was. The peer
does the same two steps without shifting: it builds the bitmap anew from the shifted
NumPy array and then from the original one (the array arithmetic is not timed).
"""
import numpy as np

from _veltrane_rec_extension import Bitmap
from harness import Row

GROUP = "Position shifting"

KEYS = 100
SPAN = 1 << 32


def spread_over_keys(rng, per_key, low_bits):
    """KEYS keys of `per_key` distinct random low parts below 2^low_bits each, sorted."""
    return np.concatenate([
        np.sort(rng.choice(1 << low_bits, size=per_key, replace=False)).astype(np.uint64)
        + (np.uint64(key) << np.uint64(32))
        for key in range(KEYS)])


def shapes(n, rng):
    per_key = n // KEYS
    return (("sparse", spread_over_keys(rng, per_key, 24)),
            ("dense", spread_over_keys(rng, per_key, 18)))


def shifted(values, position, by):
    return np.where(values >= np.uint64(position), values + np.uint64(by), values)


def run(ctx):
    n = 200_000 if ctx.quick else 10_000_000
    rng = np.random.default_rng(5)
    for shape, values in shapes(n, rng):
        bitmap = Bitmap(values)
        dataset = f"{n:,} positions over {KEYS} keys, {shape}"
        near_start = int(values[10])
        # (label, position, by): inside containers, whole containers, whole keys. Each
        # contract(position + by - 1, by) closes exactly the gap its expand opened.
        cases = (("by 1", near_start, 1),
                 ("by 1000", near_start, 1000),
                 ("by 2^16", near_start, 1 << 16),
                 ("by 2^32 from 0", 0, SPAN))
        rebuild_original = ctx.time(lambda: Bitmap(values), repeats=3)
        for label, position, by in cases:
            def pair():
                bitmap.expand(position, by)
                bitmap.contract(position + by - 1, by)

            pair()
            assert (len(bitmap), bitmap.first, bitmap.last) == (n, int(values[0]), int(values[-1]))
            moved = shifted(values, position, by)
            rebuild_shifted = ctx.time(lambda: Bitmap(moved), repeats=3)
            yield Row(f"expand + contract back, {label}", dataset, ctx.time(pair, repeats=5),
                      "Bitmap(shifted) + Bitmap(original)", rebuild_shifted + rebuild_original)
