"""Typed use of the module, checked with `mypy --strict` against the shipped stubs."""
from typing import Dict, List, Optional, Tuple

import numpy as np
import numpy.typing as npt

from _veltrane_rec_extension import Bitmap, MemoryScanner


def documents_per_chunk(chunks: List[bytes]) -> Dict[int, Tuple[int, int]]:
    scanner = MemoryScanner()
    return {number: scanner.scan(chunk) for number, chunk in enumerate(chunks)}


def gaps(bitmap: Bitmap, limit: int) -> List[int]:
    """The first `limit` unset positions between the first and the last set one."""
    found: List[int] = []
    position: Optional[int] = bitmap.first
    while position is not None and len(found) < limit:
        if position not in bitmap:
            found.append(position)
        position = position + 1 if bitmap.last is not None and position < bitmap.last else None
    return found


def round_trip(bitmap: Bitmap) -> Bitmap:
    buffer = bytearray(bitmap.persisted_size(portable=True))
    bitmap.write(buffer)
    return Bitmap.read(buffer)


def main() -> None:
    positions: npt.NDArray[np.uint64] = np.array([3, 7, 2**20], dtype=np.uint64)
    b = Bitmap(positions)
    b.set(10, 14)
    both: Bitmap = b | Bitmap([7, 8])
    both |= Bitmap([1])
    mask: npt.NDArray[np.bool_] = both.bool_array(invert=False, relative=True)
    assert round_trip(both) == both
    print(sorted(iter(both))[:5], both.cardinality, int(mask.sum()), gaps(b, 3))
    print(documents_per_chunk([b'{"a": 1} [2]', b'{"open": ']))


if __name__ == "__main__":
    main()
