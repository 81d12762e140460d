"""Memory per position for each generated shape: ours, pyroaring's BitMap64 and a
sorted uint64 array (8 bytes a position).

Memory is what the C allocator holds for the structure: the growth of glibc's
in-use bytes (mallinfo2: arena chunks in use plus mmapped blocks) across building
it, after run optimization on both sides (harness.same_layout), with the input array
made before the measurement starts. Both libraries allocate through malloc, so
allocator headers and rounding are counted on both sides alike. Small structures are
built many times over and measured together (at least COPIED_POSITIONS positions in
all), because a structure of a few hundred bytes moves the allocator's counters by
less than their own noise.
"""
import ctypes
import gc

from pyroaring import BitMap64

from _veltrane_rec_extension import Bitmap
from harness import Row, same_layout

GROUP = "Memory per position"

SHAPES = (("dense", "dense runs"), ("sparse", "uniform 64-bit"), ("clustered", "clustered"))
UNIT = "B/position"
COPIED_POSITIONS = 1_000_000


class _MallInfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in (
        "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks",
        "fordblks", "keepcost")]


def _allocator():
    libc = ctypes.CDLL("libc.so.6")
    libc.mallinfo2.restype = _MallInfo2
    return libc.mallinfo2


def bytes_per_position(build, positions, allocator_info):
    """Bytes the allocator holds per position for what build() returns, over enough
    copies (all kept alive until measured) to hold COPIED_POSITIONS positions."""
    copies = max(1, COPIED_POSITIONS // positions)
    gc.collect()
    before = allocator_info()
    built = [build() for _ in range(copies)]
    after = allocator_info()
    held = (after.uordblks + after.hblkhd) - (before.uordblks + before.hblkhd)
    del built
    return held / (copies * positions)


def run(ctx):
    allocator_info = _allocator()
    sizes = (10_000, 100_000) if ctx.quick else (10_000, 1_000_000)
    for n in sizes:
        for shape, label in SHAPES:
            values = ctx.generated(shape, n)
            dataset = f"{n:,} {label}"
            ours = bytes_per_position(lambda: same_layout(Bitmap(values)), len(values), allocator_info)
            peer = bytes_per_position(lambda: BitMap64(values), len(values), allocator_info)
            yield Row("memory", dataset, ours, "BitMap64", peer, unit=UNIT)
            yield Row("memory", dataset, ours, "sorted uint64 array", float(values.itemsize), unit=UNIT)
