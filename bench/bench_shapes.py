"""Generated shapes against every peer: pyroaring's BitMap64, Python's set and NumPy.

Shapes (harness.generated): "dense" runs of 4096 below 2^34, "sparse" uniform over all
64 bits (about one position per bucket) and "clustered" around 256 centres below 2^48.
Each shape is measured at 10^4 and 10^6 positions for the main operations and at 10^7
for construction, union, intersection, index_array and writing (the quick run uses
10^4 and 10^5 only). The right operand of the set operators has the same shape: every
second position of the left one plus as many new positions drawn the same way, so the
results are neither empty nor trivial. Both sides hold run-optimized containers
before anything but construction is timed (harness.same_layout).

Peers per row: BitMap64 always; Python's set and NumPy (unique, union1d, intersect1d,
setdiff1d, setxor1d, isin) for the array-style work, up to 10^6 positions (a set of
10^7 ints would take gigabytes); pyroaring's 32-bit BitMap on the "below 2^32" rows,
where the positions are the generated ones folded into 32 bits.
"""
import numpy as np
from pyroaring import BitMap, BitMap64

from _veltrane_rec_extension import Bitmap
from harness import Row, same_layout

GROUP = "Generated shapes against all peers"

SHAPES = ("dense", "sparse", "clustered")
LABELS = {"dense": "dense runs", "sparse": "uniform 64-bit", "clustered": "clustered"}
PROBES = 10_000
LOW32 = np.uint64(0xFFFFFFFF)


def operands(ctx, shape, n):
    left = ctx.generated(shape, n)
    extra = ctx.generated(shape, n // 2, seed=8)
    right = np.union1d(left[::2], extra)
    return left, right


def probes_for(values, rng):
    """Half positions that are set, half their successors (mostly unset)."""
    picked = rng.choice(values, PROBES)
    picked[1::2] += np.uint64(1)
    return picked


def write_form(bitmap):
    buffer = bytearray(bitmap.persisted_size(True, optimize=False, shrink=False))
    bitmap.write(buffer, True)
    return buffer


def loop_in(container, probes):
    def run():
        for p in probes:
            p in container
    return run


def rows_for(ctx, dataset, left, right, full, bitmap32=False):
    """Rows for one pair of operands. full=False keeps to the few operations of the
    largest size (and leaves out Python's set)."""
    # The largest rows take seconds per call: fewer samples, within a budget per row.
    repeats, budget = (None, None) if full else (3, 8.0)
    time = lambda fn: ctx.time(fn, repeats=repeats, budget=budget)  # noqa: E731
    rng = np.random.default_rng(len(left))
    shuffled = rng.permutation(left)
    peer_type = BitMap if bitmap32 else BitMap64
    peer_name = peer_type.__name__
    peer_input = shuffled.astype(np.uint32) if bitmap32 else shuffled

    ours_build = time(lambda: Bitmap(shuffled))
    yield Row("Bitmap(shuffled array)", dataset, ours_build, f"{peer_name}(array)",
              time(lambda: peer_type(peer_input)), note="the peer also run-optimizes what it builds")
    if not bitmap32:  # the 32-bit rows hold construction and the set operators only
        yield Row("Bitmap(shuffled array)", dataset, ours_build, "numpy.unique",
                  time(lambda: np.unique(shuffled)), note="sorted distinct array, not a set")
    as_list = None
    if full:
        as_list = shuffled.tolist()
        yield Row("Bitmap(shuffled array)", dataset, ours_build, "set(list)",
                  time(lambda: set(as_list)), note="peer input is a prebuilt list of ints")

    a, b = same_layout(Bitmap(left)), same_layout(Bitmap(right))
    pa = peer_type(left.astype(np.uint32) if bitmap32 else left)
    pb = peer_type(right.astype(np.uint32) if bitmap32 else right)
    sa = sb = None
    if full:
        sa, sb = set(as_list), set(right.tolist())
        probes = [int(p) for p in probes_for(left, rng)]
        probe_array = np.array(probes, dtype=np.uint64)
        ours_in = time(loop_in(a, probes))
        yield Row(f"in, {PROBES:,} probes", dataset, ours_in, f"{peer_name} in",
                  time(loop_in(pa, probes)))
        yield Row(f"in, {PROBES:,} probes", dataset, ours_in, "set in", time(loop_in(sa, probes)))
        yield Row(f"in, {PROBES:,} probes", dataset, ours_in, "numpy.isin",
                  time(lambda: np.isin(probe_array, left, assume_unique=False)),
                  note="one vectorised call against a Python loop")

    operators = [("a | b", "__or__", np.union1d, "union1d"),
                 ("a & b", "__and__", lambda x, y: np.intersect1d(x, y, assume_unique=True),
                  "intersect1d")]
    if full:
        operators += [("a - b", "__sub__", lambda x, y: np.setdiff1d(x, y, assume_unique=True),
                       "setdiff1d"),
                      ("a ^ b", "__xor__", lambda x, y: np.setxor1d(x, y, assume_unique=True),
                       "setxor1d")]
    for label, method, numpy_op, numpy_name in operators:
        ours = time(lambda: getattr(a, method)(b))
        yield Row(label, dataset, ours, f"{peer_name} {label[2]}", time(lambda: getattr(pa, method)(pb)))
        if bitmap32:
            continue
        yield Row(label, dataset, ours, f"numpy.{numpy_name}", time(lambda: numpy_op(left, right)),
                  note="sorted arrays in and out")
        if full:
            yield Row(label, dataset, ours, f"set {label[2]}", time(lambda: getattr(sa, method)(sb)))
    if bitmap32:
        return

    if full:
        yield Row("a == b.copy()", dataset, time(lambda: a == a.copy()), "BitMap64 == copy",
                  time(lambda: pa == pa.copy()), note="copy included on both sides")
        yield Row("cardinality", dataset, time(lambda: a.cardinality), "len(BitMap64)",
                  time(lambda: len(pa)))
    ours_array = time(a.index_array)
    yield Row("index_array", dataset, ours_array, "BitMap64.to_array", time(pa.to_array))
    if full:
        yield Row("index_array", dataset, ours_array, "numpy.array(sorted(set))",
                  time(lambda: np.array(sorted(sa), dtype=np.uint64)))
        ours_list = time(lambda: list(a))
        yield Row("list(b)", dataset, ours_list, "list(BitMap64)", time(lambda: list(pa)))
        yield Row("list(b)", dataset, ours_list, "list(set)", time(lambda: list(sa)),
                  note="set order is not sorted")

    form = bytes(write_form(a))
    peer_bytes = pa.serialize()
    yield Row("persisted_size + write (portable)", dataset, time(lambda: write_form(a)),
              "BitMap64.serialize", time(pa.serialize),
              note=f"{len(form):,} B vs {len(peer_bytes):,} B; no run optimization on either side")
    if full:
        yield Row("read (portable)", dataset, time(lambda: Bitmap.read(form, True)),
                  "BitMap64.deserialize", time(lambda: BitMap64.deserialize(peer_bytes)))


def run(ctx):
    sizes = (10_000, 100_000) if ctx.quick else (10_000, 1_000_000, 10_000_000)
    for n in sizes:
        for shape in SHAPES:
            left, right = operands(ctx, shape, n)
            dataset = f"{n:,} {LABELS[shape]}"
            yield from rows_for(ctx, dataset, left, right, full=n <= 1_000_000)
    # The 32-bit peer: the dense and uniform shapes folded into the low 32 bits.
    n = 100_000 if ctx.quick else 1_000_000
    for shape in ("dense", "sparse"):
        left, right = (np.unique(values & LOW32) for values in operands(ctx, shape, n))
        yield from rows_for(ctx, f"{len(left):,} {LABELS[shape]} below 2^32", left, right,
                            full=False, bitmap32=True)
