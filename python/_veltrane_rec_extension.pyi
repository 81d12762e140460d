"""Compressed sets of unsigned 64-bit positions, and a counter of concatenated JSON documents."""
from typing import ClassVar, Iterator, Optional, Tuple

import numpy
import numpy.typing
from typing_extensions import Buffer

class MemoryScanner:
    """Counts the concatenated JSON documents in a byte buffer."""

    def __init__(self) -> None: ...
    def scan(self, buffer: Buffer, /) -> Tuple[int, int]:
        """Returns (complete documents, bytes they cover) for a contiguous buffer of one-byte items."""

class Bitmap:
    """A mutable set of unsigned 64-bit positions (0 to 2**64 - 1) in compressed form.

    A position argument outside that range, or not an int, raises TypeError.
    Bitmaps compare with == but are unhashable.
    """

    __hash__: ClassVar[None]  # type: ignore[assignment]

    def __init__(self, indices: Optional[numpy.typing.ArrayLike] = None) -> None:
        """Holds the distinct values of indices, converted to a one-dimensional uint64 array."""
    def copy(self) -> Bitmap:
        """An independent copy."""
    def slice(self, startInc: int, endInc: int) -> Bitmap:
        """A new bitmap with the positions p of self with startInc <= p < endInc (the second bound is excluded)."""
    def persisted_size(self, portable: bool = True, optimize: bool = True, shrink: bool = True) -> int:
        """The byte length of the serialized form; optimize and shrink compact the storage first."""
    def write(self, buffer: Buffer, portable: bool = True) -> int:
        """Writes the serialized form into a writable buffer of persisted_size() bytes; returns that size."""
    @staticmethod
    def read(buffer: Buffer, portable: bool = True) -> Bitmap:
        """Rebuilds a bitmap from the serialized form that write() produced."""
    @property
    def cardinality(self) -> int:
        """The number of positions, also beyond what len() accepts."""
    @property
    def empty(self) -> bool:
        """True when no position is set."""
    @property
    def first(self) -> Optional[int]:
        """The smallest position, or None when empty."""
    @property
    def last(self) -> Optional[int]:
        """The largest position, or None when empty."""
    @property
    def in_memory_size(self) -> int:
        """The number of compressed containers held in memory."""
    def lower_cardinality(self, position: int) -> int:
        """The number of positions below position."""
    def upper_cardinality(self, position: int) -> int:
        """The number of positions above position."""
    def nth(self, ordinal: int) -> int:
        """The position with the given 0-based rank."""
    def self_or_next(self, position: int) -> Optional[int]:
        """position if set, else the next larger set position; 0 when there is none (never None)."""
    def self_or_previous(self, position: int) -> Optional[int]:
        """position if set, else the next smaller set position; 2**64 - 1 when there is none (never None)."""
    def subset_of(self, other: Bitmap) -> bool:
        """True when every position of self is in other."""
    def strict_subset_of(self, other: Bitmap) -> bool:
        """True when self is a subset of other and differs from it."""
    def contains(self, position: int) -> bool:
        """True when position is set."""
    def all(self, startInc: int, endEx: int) -> bool:
        """True when every position of the half-open range is set."""
    def any(self, startInc: int, endEx: int) -> bool:
        """True when some position of the half-open range is set."""
    def __len__(self) -> int: ...
    def __contains__(self, position: int) -> bool: ...
    def contract(self, position: int, by: int) -> None:
        """Removes the by positions ending at position and moves every higher position down by by."""
    def expand(self, position: int, by: int) -> None:
        """Moves every position from position up by by, leaving a gap of by unset positions."""
    def set(self, position: int, endEx: Optional[int] = None) -> None:
        """Sets position, or the half-open range [position, endEx) when endEx is given."""
    def unset(self, position: int, endEx: Optional[int] = None) -> None:
        """Unsets position, or the half-open range [position, endEx) when endEx is given."""
    def flip(self, position: int, endEx: Optional[int]) -> None:
        """Toggles position (endEx None) or every position of [position, endEx)."""
    def symmetric_difference(self, other: Bitmap) -> Bitmap: ...
    def union(self, other: Bitmap) -> Bitmap: ...
    def intersect(self, other: Bitmap) -> Bitmap: ...
    def difference(self, other: Bitmap) -> Bitmap: ...
    def __or__(self, other: Bitmap) -> Bitmap: ...
    def __and__(self, other: Bitmap) -> Bitmap: ...
    def __sub__(self, other: Bitmap) -> Bitmap: ...
    def __xor__(self, other: Bitmap) -> Bitmap: ...
    def __eq__(self, other: Bitmap) -> bool:  # type: ignore[override]
        """Equal positions; comparing with anything but a Bitmap raises TypeError."""
    def inplace_symmetric_difference(self, other: Bitmap) -> Bitmap:
        """Changes self; returns a new bitmap holding a copy of the result."""
    def inplace_union(self, other: Bitmap) -> Bitmap:
        """Changes self; returns a new bitmap holding a copy of the result."""
    def inplace_intersect(self, other: Bitmap) -> Bitmap:
        """Changes self; returns a new bitmap holding a copy of the result."""
    def inplace_difference(self, other: Bitmap) -> Bitmap:
        """Changes self; returns a new bitmap holding a copy of the result."""
    def __ior__(self, other: Bitmap) -> Bitmap: ...
    def __iand__(self, other: Bitmap) -> Bitmap: ...
    def __isub__(self, other: Bitmap) -> Bitmap: ...
    def __ixor__(self, other: Bitmap) -> Bitmap: ...
    def __iter__(self) -> Iterator[int]:
        """Iterates the positions in ascending order."""
    def index_array(self) -> numpy.typing.NDArray[numpy.uint64]:
        """The positions in ascending order."""
    def bool_array(self, invert: bool = True, relative: bool = True) -> numpy.typing.NDArray[numpy.bool_]:
        """One element per position from first (relative) or 0 up to last: whether it is set, negated when invert."""
