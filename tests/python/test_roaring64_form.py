"""The portable 64-bit Roaring form: the very bytes of the peer's BitMap64, round trips
both ways, and hostile buffers refused with ValueError."""
import struct

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from _veltrane_rec_extension import Bitmap
from conftest import SHAPES, of, serialized

pyroaring = pytest.importorskip("pyroaring")
BitMap64 = pyroaring.BitMap64
PEER_VERSION = tuple(int(part) for part in pyroaring.__version__.split(".")[:2])


@pytest.mark.parametrize("shape", SHAPES)
def test_round_trips_through_both_libraries(shape):
    bitmap = SHAPES[shape]()
    form = bitmap.to_roaring64()
    back = Bitmap.from_roaring64(form)
    assert back == bitmap and back.to_roaring64() == form
    for buffer in (bytearray(form), memoryview(form), np.frombuffer(form, dtype=np.uint8)):
        assert Bitmap.from_roaring64(buffer) == bitmap
    peer = BitMap64.deserialize(form)
    assert list(peer) == bitmap.index_array().tolist()
    assert Bitmap.from_roaring64(peer.serialize()) == bitmap


@pytest.mark.skipif(PEER_VERSION < (1, 2), reason="needs pyroaring 1.2 or later")
@pytest.mark.parametrize("shape", SHAPES)
def test_bytes_equal_the_peers_when_containers_are_alike(shape):
    positions = SHAPES[shape]().index_array()
    assert Bitmap(positions).to_roaring64() == BitMap64(positions, optimize=False).serialize()


def test_leaves_out_empty_buckets_and_never_changes_the_bitmap():
    assert SHAPES["empty-bucket laden"]().to_roaring64() == struct.pack("<QI", 1, 5) + of(8).to_roaring64()[12:]
    assert Bitmap().to_roaring64() == bytes(8)
    bitmap = SHAPES["mixed containers"]()
    before = serialized(bitmap, compact=False)
    bitmap.to_roaring64()
    assert serialized(bitmap, compact=False) == before


def _form(*records):
    """A form of (key, positions) records, keys as given."""
    return struct.pack("<Q", len(records)) + b"".join(
        struct.pack("<I", key) + of(*low).to_roaring64()[12:] for key, low in records)


@pytest.mark.parametrize("form, message", [
    (b"", "truncated: the count of 32-bit bitmaps needs 8 bytes, the buffer holds 0"),
    (struct.pack("<Q", 3), "truncated: 32-bit bitmap 0 of 3 \\(byte 8\\) needs a 4-byte key"),
    (_form((4, [1]), (4, [2])), "has key 4, not above the key 4 before it"),
    (_form((4, [1])) + b"\0", "1 bytes follow the last of its 1 32-bit bitmaps"),
    (_form((4, [1]))[:-1], "the body of 32-bit bitmap 0 of 1 \\(byte 8\\)"),
])
def test_damaged_forms_are_refused_saying_what_and_where(form, message):
    with pytest.raises(ValueError, match="^64-bit Roaring form .*" + message):
        Bitmap.from_roaring64(form)


def test_buffers_are_taken_as_read_takes_them():
    with pytest.raises(TypeError):
        Bitmap.from_roaring64("not bytes")
    with pytest.raises(RuntimeError, match="^Item size should be 1$"):
        Bitmap.from_roaring64(np.zeros(4, dtype=np.uint16))


SEED_FORMS = [SHAPES[name]().to_roaring64() for name in ("single bucket", "mixed containers")]


@settings(max_examples=300, deadline=None)
@given(seed=st.sampled_from(SEED_FORMS), at=st.integers(0, 10**6), data=st.binary(max_size=12),
       cut=st.integers(0, 10**6))
def test_mutated_forms_decode_or_raise_value_error(seed, at, data, cut):
    at %= len(seed)
    mutated = (seed[:at] + data + seed[at + len(data):])[:max(8, cut % (len(seed) + 4))]
    try:
        bitmap = Bitmap.from_roaring64(mutated)
    except ValueError:
        return
    assert Bitmap.from_roaring64(bitmap.to_roaring64()) == bitmap
    assert list(BitMap64.deserialize(mutated)) == bitmap.index_array().tolist()
