"""index_array, bool_array and iteration against pyroaring's BitMap64 and NumPy."""
import numpy as np
from pyroaring import BitMap64

from _veltrane_rec_extension import Bitmap
from harness import Row, same_layout

GROUP = "NumPy output and iteration"


def datasets(n, rng):
    """n positions in one run, n random ones in the first 2^27 of a bucket (bitset
    containers), about n spread over 100,000 keys, and about n random ones below 2^32
    (array containers of about n / 2^16 values each)."""
    runs = np.arange(n, dtype=np.uint64) + np.uint64(5 << 32)
    dense = np.unique(rng.integers(0, 1 << 27, n + n // 10, dtype=np.uint64))[:n]
    keys = 100_000
    lows = rng.integers(0, 1 << 32, size=(keys, max(1, n // keys)), dtype=np.uint64)
    spread = np.unique(lows + (np.arange(keys, dtype=np.uint64)[:, None] << np.uint64(32)))
    arrays = np.unique(rng.integers(0, 1 << 32, n, dtype=np.uint64))
    return {f"{n:,} in one run": runs, f"{n:,} random in 2^27": dense,
            f"{len(spread):,} over 100,000 keys": spread, f"{len(arrays):,} random below 2^32": arrays}


def walk(bitmap):
    for _ in bitmap:
        pass


def run(ctx):
    rng = np.random.default_rng(9)
    n = 300_000 if ctx.quick else 10_000_000
    for dataset, values in datasets(n, rng).items():
        ours, peer = same_layout(Bitmap(values)), BitMap64(values)
        yield Row("index_array", dataset, ctx.time(ours.index_array, repeats=3),
                  "BitMap64.to_array", ctx.time(peer.to_array, repeats=3))
        yield Row("list(b)", dataset, ctx.time(lambda: list(ours), repeats=3),
                  "list(BitMap64)", ctx.time(lambda: list(peer), repeats=3))
        yield Row("for p in b", dataset, ctx.time(lambda: walk(ours), repeats=3),
                  "for p in BitMap64", ctx.time(lambda: walk(peer), repeats=3))
        if values[-1] - values[0] > 1 << 30:
            continue  # a dense mask of this span would not fit in memory
        positions = ours.index_array()

        def fancy_index():
            mask = np.zeros(int(values[-1] - values[0]) + 1, dtype=bool)
            mask[positions - values[0]] = True
            return mask

        yield Row("bool_array(False)", dataset, ctx.time(lambda: ours.bool_array(False), repeats=3),
                  "numpy.zeros + mask[index_array()] = True", ctx.time(fancy_index, repeats=3),
                  note="peer time excludes index_array()")
