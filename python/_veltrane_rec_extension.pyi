"""Compressed sets of unsigned 64-bit positions, and a counter of concatenated JSON documents."""
from typing import ClassVar, Iterable, Iterator, NoReturn, Optional, Tuple

import numpy
import numpy.typing
from typing_extensions import Buffer

class MemoryScanner:
    """Counts the concatenated JSON documents in a byte buffer."""

    def __init__(self) -> None:
        """A scanner; one can scan many buffers."""
    def scan(self, buffer: Buffer, /) -> Tuple[int, int]:
        """Returns (complete documents, bytes they cover) for a contiguous buffer of one-byte items."""
    def __reduce__(self) -> NoReturn:
        """Refuses pickling and the copy module; importing veltrane_rec makes both work."""

class Bitmap:
    """A mutable set of unsigned 64-bit positions (0 to 2**64 - 1) in compressed form.

    A position argument outside that range, or not an int, raises TypeError.
    Bitmaps compare with == but are unhashable; <, <=, > and >= test for subsets and supersets.
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
        """position if set, else the next larger set position; 0 when there is none."""
    def self_or_previous(self, position: int) -> Optional[int]:
        """position if set, else the next smaller set position; 2**64 - 1 when there is none."""
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
    def __len__(self) -> int:
        """The number of positions; OverflowError beyond 2**63 - 1, where the cardinality property still answers."""
    def __contains__(self, position: int) -> bool:
        """True when position is set."""
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
    def symmetric_difference(self, other: Bitmap) -> Bitmap:
        """A new bitmap with the positions in exactly one of self and other."""
    def union(self, other: Bitmap) -> Bitmap:
        """A new bitmap with the positions in self or other."""
    def intersect(self, other: Bitmap) -> Bitmap:
        """A new bitmap with the positions in both self and other."""
    def difference(self, other: Bitmap) -> Bitmap:
        """A new bitmap with the positions of self that are not in other."""
    def __or__(self, other: Bitmap) -> Bitmap:
        """A new bitmap with the positions in self or other."""
    def __and__(self, other: Bitmap) -> Bitmap:
        """A new bitmap with the positions in both self and other."""
    def __sub__(self, other: Bitmap) -> Bitmap:
        """A new bitmap with the positions of self that are not in other."""
    def __xor__(self, other: Bitmap) -> Bitmap:
        """A new bitmap with the positions in exactly one of self and other."""
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
    def __ior__(self, other: Bitmap) -> Bitmap:
        """Changes self; returns a new bitmap holding a copy of the result."""
    def __iand__(self, other: Bitmap) -> Bitmap:
        """Changes self; returns a new bitmap holding a copy of the result."""
    def __isub__(self, other: Bitmap) -> Bitmap:
        """Changes self; returns a new bitmap holding a copy of the result."""
    def __ixor__(self, other: Bitmap) -> Bitmap:
        """Changes self; returns a new bitmap holding a copy of the result."""
    def __iter__(self) -> Iterator[int]:
        """Iterates the positions in ascending order."""
    def index_array(self) -> numpy.typing.NDArray[numpy.uint64]:
        """The positions in ascending order."""
    def bool_array(self, invert: bool = True, relative: bool = True) -> numpy.typing.NDArray[numpy.bool_]:
        """One element per position from first (relative) or 0 up to last: whether it is set, negated when invert."""
    def to_roaring64(self) -> bytes:
        """The portable 64-bit Roaring form that other Roaring libraries read; buckets without positions are left out."""
    @staticmethod
    def from_roaring64(buffer: Buffer) -> Bitmap:
        """Rebuilds a bitmap from the portable 64-bit Roaring form; damaged or inconsistent bytes raise ValueError."""
    @staticmethod
    def union_all(bitmaps: Iterable[Bitmap]) -> Bitmap:
        """The union of an iterable of bitmaps, made in one pass per key; Bitmap() for none."""
    @staticmethod
    def intersect_all(bitmaps: Iterable[Bitmap]) -> Bitmap:
        """The intersection of an iterable of bitmaps, made in one pass per key; ValueError for none."""
    def __repr__(self) -> str:
        """Bitmap([...]) with every position up to 32 of them, else the first 16 and the count."""
    def __str__(self) -> str:
        """Bitmap([...]) with every position up to 32 of them, else the first 16 and the count."""
    def intersection_cardinality(self, other: Bitmap) -> int:
        """len(self & other), counted without building it."""
    def union_cardinality(self, other: Bitmap) -> int:
        """len(self | other), counted without building it."""
    def difference_cardinality(self, other: Bitmap) -> int:
        """len(self - other), counted without building it."""
    def symmetric_difference_cardinality(self, other: Bitmap) -> int:
        """len(self ^ other), counted without building it."""
    def jaccard_index(self, other: Bitmap) -> float:
        """len(self & other) / len(self | other), counted without building either; nan when both are empty."""
    def isdisjoint(self, other: Bitmap) -> bool:
        """True when no position is in both self and other."""
    def __le__(self, other: Bitmap) -> bool:
        """True when every position of self is in other."""
    def __lt__(self, other: Bitmap) -> bool:
        """True when self is a subset of other and differs from it."""
    def __ge__(self, other: Bitmap) -> bool:
        """True when every position of other is in self."""
    def __gt__(self, other: Bitmap) -> bool:
        """True when other is a subset of self and differs from it."""
    def __reduce__(self) -> NoReturn:
        """Refuses pickling and the copy module; importing veltrane_rec makes both work."""
