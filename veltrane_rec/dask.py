"""Bitmaps and document counts computed on Dask's distributed scheduler.

Needs the optional dependencies (`pip install .[dask]`). Both functions return a
`dask.delayed.Delayed`; call `.compute()` on it (with a `distributed.Client` active, the
work runs on the cluster's workers):

- `bitmap_from(positions, combine="|")`: one `Bitmap` per partition of a Dask array or bag
  of positions, built on the workers and combined by a tree reduction.
- `count_documents(paths, blocksize=...)`: the JSON documents of newline-delimited files,
  each file split into blocks at line ends and every block scanned on a worker by a
  `MemoryScanner`.

Errors raised on the workers (a bad position, a file that cannot be read) reach the
caller as the exception types the same work raises in one process.

Block splitting and documents that span lines: a block ends right after a line feed, so
documents written one per line (or several per line) are never cut. A document that spans
lines is cut when a block ends inside it. The block before the cut then ends in an
incomplete document, which is detected, and the computation fails with ValueError naming
the file and the block: it is refused, never miscounted. Pass
`blocksize=None` to scan each file whole, which gives exactly the single-process result.
Input that the scanner rejects part-way (for example invalid UTF-8) is counted block by
block: a whole-file scan stops at the first such error, while the blocks after it are
still counted here, so such files agree with a single-process scan only with
`blocksize=None`.
"""
import collections.abc
import functools
import operator
import os
import threading
from typing import NamedTuple

import dask.array as da
import dask.bag as db
import numpy as np
from dask import delayed

from _veltrane_rec_extension import Bitmap, MemoryScanner

__all__ = ["bitmap_from", "count_documents", "partition_bitmap", "DocumentCount"]

MAX_POSITION = (1 << 64) - 1
# Each combines the bitmaps of one reduction task into a new bitmap: an input may still
# be held for another task. Union and intersection take all of them in one pass per key.
COMBINERS = {"|": Bitmap.union_all, "&": Bitmap.intersect_all,
             "^": lambda bitmaps: functools.reduce(operator.xor, bitmaps)}
DEFAULT_BLOCKSIZE = 64 << 20


class DocumentCount(NamedTuple):
    """What `MemoryScanner.scan` returns for one buffer, summed over blocks and files."""
    documents: int
    covered: int


def _checked_position(value):
    position = operator.index(value)  # TypeError for floats, strings, None, ...
    if not 0 <= position <= MAX_POSITION:
        raise ValueError(f"position {position} is outside 0 to 2**64 - 1")
    return position


def partition_bitmap(values):
    """The Bitmap of one partition: a one-dimensional NumPy array, or a sequence or
    iterable of ints.

    Positions are ints in 0 to 2**64 - 1 (bools count as ints). Other values are refused
    rather than cast: TypeError for values that are not integers (floats included),
    ValueError for integers out of range and for arrays of more than one dimension.
    """
    if not isinstance(values, (np.ndarray, collections.abc.Sequence)):
        values = list(values)  # an iterator: NumPy would hold it as one object
    array = np.asarray(values)
    if array.ndim != 1:
        raise ValueError(f"positions must form one dimension, not {array.ndim}")
    if array.size == 0:
        return Bitmap()
    kind = array.dtype.kind
    if kind == "i" and array.min() < 0:
        raise ValueError(f"position {array.min()} is outside 0 to 2**64 - 1")
    if kind in "iub":
        return Bitmap(array)
    if kind == "O" or not isinstance(values, np.ndarray):
        # Python objects, or a sequence that NumPy could only hold as floats or text
        # (such as [-1, 2**63]): each value is checked on its own.
        checked = (_checked_position(value) for value in values)
        return Bitmap(np.fromiter(checked, dtype=np.uint64, count=array.size))
    raise TypeError(f"positions must be integers, not {array.dtype}")


def _combine_bitmaps(combine, *bitmaps):
    return COMBINERS[combine](bitmaps)


def _add_counts(*counts):
    return DocumentCount(sum(c.documents for c in counts), sum(c.covered for c in counts))


def _tree(parts, combine_many, split_every):
    """Reduces the Delayed parts level by level, split_every of them per task."""
    level = list(parts)
    while len(level) > 1:
        level = [delayed(combine_many, pure=True)(*level[i:i + split_every])
                 for i in range(0, len(level), split_every)]
    return level[0]


def _check_split_every(split_every):
    if operator.index(split_every) < 2:
        raise ValueError(f"split_every must be at least 2, not {split_every}")


def _partitions(positions):
    if isinstance(positions, da.Array):
        if positions.ndim != 1:
            raise ValueError(f"positions must form one dimension, not {positions.ndim}")
        return list(positions.to_delayed().ravel())
    if isinstance(positions, db.Bag):
        return positions.to_delayed()
    raise TypeError(f"positions must be a dask.array.Array or dask.bag.Bag, "
                    f"not {type(positions).__name__}")


def bitmap_from(positions, combine="|", split_every=8):
    """A Delayed that computes to the Bitmap combining one Bitmap per partition.

    positions: a one-dimensional Dask array of integers, or a Dask bag of ints.
    combine: "|" (union), "&" (intersection) or "^" (symmetric difference) of the
    partitions' bitmaps. split_every: how many bitmaps one reduction task combines.
    """
    if combine not in COMBINERS:
        raise ValueError(f"combine must be one of {', '.join(COMBINERS)}, not {combine!r}")
    _check_split_every(split_every)
    bitmaps = [delayed(partition_bitmap, pure=True)(part) for part in _partitions(positions)]
    if not bitmaps:
        return delayed(Bitmap, pure=True)()
    return _tree(bitmaps, functools.partial(_combine_bitmaps, combine), split_every)


def _line_start(file, offset):
    """The offset of the first line that starts at or after offset (the file's
    length when none does)."""
    if offset == 0:
        return 0
    file.seek(offset - 1)
    file.readline()
    return file.tell()


# Per worker thread: a scanner, whose working memory every scan reuses, and the buffer
# blocks are read into. Reading into memory already touched spares a page fault for every
# 4 KiB of every block (bench/NOTES_ON_RATIOS.md, the Distributed group).
_reused = threading.local()
KEPT_BUFFER_BYTES = 256 << 20


def _thread_scanner():
    if getattr(_reused, "scanner", None) is None:
        _reused.scanner = MemoryScanner()
    return _reused.scanner


def _block_buffer(length):
    buffer = getattr(_reused, "buffer", None)
    if buffer is None or len(buffer) < length:
        buffer = bytearray(length)
        if length <= KEPT_BUFFER_BYTES:  # a whole large file is not kept after its scan
            _reused.buffer = buffer
    return buffer


def _scan_block(path, start, stop):
    """Counts the documents of the lines that start in [start, stop) of the file."""
    with open(path, "rb") as file:
        begin, end = _line_start(file, start), _line_start(file, stop)
        length = max(0, end - begin)
        with memoryview(_block_buffer(length))[:length] as block:
            file.seek(begin)
            length = file.readinto(block)
            last = end >= os.fstat(file.fileno()).st_size
            with block[:length] as content:
                documents, covered = _thread_scanner().scan(content)
    if covered < length and not last:
        # The block ends inside a document, or (the block after such a cut) begins inside
        # one: either way a document spans the boundary. Malformed data looks the same.
        raise ValueError(
            f"{os.fspath(path)}: the block of bytes {begin} to {end} has no complete document "
            f"from byte {begin + covered} on; a document spans lines across a block boundary "
            f"(or the data is malformed there), and such documents cannot be split into "
            f"blocks: pass blocksize=None to scan whole files, or a larger blocksize")
    return DocumentCount(documents, covered)


def _blocks(path, blocksize):
    size = os.path.getsize(path)
    if blocksize is None or size == 0:
        return [(path, 0, size)]
    return [(path, start, min(start + blocksize, size)) for start in range(0, size, blocksize)]


def count_documents(paths, blocksize=DEFAULT_BLOCKSIZE, split_every=32):
    """A Delayed that computes to the DocumentCount of the files' JSON documents.

    paths: one path or a sequence of paths, readable by every worker under that name.
    Each file is split into blocks of about blocksize bytes, moved to the next line end;
    blocksize=None scans each file whole. The result equals the sum, over the files, of
    `MemoryScanner().scan(file contents)`, or the computation fails with ValueError when a
    document spans a block boundary (see the module's description).
    """
    if blocksize is not None and operator.index(blocksize) < 1:
        raise ValueError(f"blocksize must be positive or None, not {blocksize}")
    _check_split_every(split_every)
    if isinstance(paths, (str, bytes, os.PathLike)):
        paths = [paths]
    blocks = [block for path in paths for block in _blocks(path, blocksize)]
    # Not pure: a block's count depends on the file's contents when it is read, so two
    # calls on one path must not share results.
    counts = [delayed(_scan_block, pure=False)(*block) for block in blocks]
    if not counts:
        return delayed(DocumentCount, pure=True)(0, 0)
    return _tree(counts, _add_counts, split_every)
