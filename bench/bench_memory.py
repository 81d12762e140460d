"""Memory per position for each generated shape: ours, pyroaring's BitMap64 and a
sorted uint64 array (8 bytes a position).

Memory is what the C allocator holds for the structure: the growth of glibc's
in-use bytes (mallinfo2: arena chunks in use plus mmapped blocks) across building
it, after run optimization on both sides (harness.same_layout), with the input array
made before the measurement starts. Both libraries allocate through malloc, so
allocator headers and rounding are counted on both sides alike.
"""
import ctypes
import gc

from pyroaring import BitMap64

from _veltrane_rec_extension import Bitmap
from harness import Row, same_layout

GROUP = "Memory per position"

SHAPES = (("dense", "dense runs"), ("sparse", "uniform 64-bit"), ("clustered", "clustered"))
UNIT = "B/position"


class _MallInfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in (
        "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks",
        "fordblks", "keepcost")]


def _allocator():
    libc = ctypes.CDLL("libc.so.6")
    libc.mallinfo2.restype = _MallInfo2
    return libc.mallinfo2


def bytes_held(build, allocator_info):
    """Bytes the allocator holds for what build() returns (kept alive until measured)."""
    gc.collect()
    before = allocator_info()
    built = build()
    after = allocator_info()
    held = (after.uordblks + after.hblkhd) - (before.uordblks + before.hblkhd)
    del built
    return held


def run(ctx):
    allocator_info = _allocator()
    sizes = (10_000, 100_000) if ctx.quick else (10_000, 1_000_000)
    for n in sizes:
        for shape, label in SHAPES:
            values = ctx.generated(shape, n)
            dataset = f"{n:,} {label}"
            ours = bytes_held(lambda: same_layout(Bitmap(values)), allocator_info) / len(values)
            peer = bytes_held(lambda: BitMap64(values), allocator_info) / len(values)
            yield Row("memory", dataset, ours, "BitMap64", peer, unit=UNIT)
            yield Row("memory", dataset, ours, "sorted uint64 array", float(values.itemsize), unit=UNIT)
