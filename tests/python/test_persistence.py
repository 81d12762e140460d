"""The serialized form through Python buffers: sizes, write, read, and their refusals."""
import numpy as np
import pytest

from _veltrane_rec_extension import Bitmap
from conftest import (MAX, SHAPES, SPAN, STORED_FORMS, STORED_SHAPES, many_buckets, of, serialized, single_bucket,
                      stored_form_path)

DEFAULT_PORTABLE = bytes.fromhex("0100000000000000" "00000000" "0800000000000000" "3a30000000000000")
DEFAULT_NATIVE = bytes.fromhex("0100000000000000" "00000000" "0500000000000000" "0100000000")


def test_default_bitmap_golden_bytes_and_keyword_sizes():
    b = Bitmap()
    assert (b.persisted_size(), b.persisted_size(portable=False)) == (28, 25)
    for p in (1, 2, 3):
        b.set(p)
    assert (b.persisted_size(portable=True, optimize=False, shrink=False),
            b.persisted_size(portable=False, optimize=False, shrink=False)) == (42, 37)
    b = Bitmap()
    assert serialized(b, True) == DEFAULT_PORTABLE
    assert serialized(b, False) == DEFAULT_NATIVE


@pytest.mark.parametrize("portable", [True, False])
@pytest.mark.parametrize("shape", SHAPES)
def test_round_trip_gives_equal_bitmaps(shape, portable):
    original = SHAPES[shape]()
    data = serialized(original, portable)
    copy = Bitmap.read(data, portable)
    assert serialized(copy, portable) == data  # same buckets, empty ones included
    assert (copy.cardinality, copy.first, copy.last) == (original.cardinality, original.first, original.last)
    assert copy.in_memory_size == original.in_memory_size
    probes = [0, 1, 3, 4, 5 * SPAN + 8, 7 * SPAN + 100, 7 * SPAN + 99, MAX, MAX - 1]
    assert [p in copy for p in probes] == [p in original for p in probes]


@pytest.mark.parametrize("form", STORED_FORMS)
@pytest.mark.parametrize("shape", STORED_SHAPES)
def test_forms_an_earlier_build_wrote_read_the_same(shape, form):
    write, read = STORED_FORMS[form]
    data = stored_form_path(shape, form).read_bytes()
    restored, expected = read(data), SHAPES[shape]()
    assert np.array_equal(restored.index_array(), expected.index_array())
    if form != "roaring64":  # which leaves out buckets without positions
        assert serialized(restored, compact=False) == serialized(expected, compact=False)
    assert write(restored) == data


def test_read_of_no_buckets_gives_the_default_bitmap():
    b = Bitmap.read(bytes(8))
    assert (b.empty, b.in_memory_size, serialized(b)) == (True, 0, DEFAULT_PORTABLE)


@pytest.mark.parametrize("portable", [True, False])
def test_other_format_does_not_decode(portable):
    data = serialized(single_bucket(), portable)
    with pytest.raises(RuntimeError, match="^failed alloc while reading$"):
        Bitmap.read(data, not portable)


@pytest.mark.parametrize("make_buffer", [
    bytes, bytearray, memoryview,
    lambda data: np.frombuffer(data, dtype=np.uint8),
    lambda data: memoryview(bytearray(data) + b"trailing bytes"),
], ids=["bytes", "bytearray", "memoryview", "numpy uint8", "longer buffer"])
def test_read_accepts_any_contiguous_byte_buffer(make_buffer):
    original = many_buckets()
    data = serialized(original)
    assert serialized(Bitmap.read(make_buffer(data))) == data


def test_damaged_form_raises_value_error_saying_where():
    data = bytearray(serialized(of(5, SPAN + 6)))
    with pytest.raises(ValueError, match="truncated: the bucket count needs 8 bytes, the buffer holds 7"):
        Bitmap.read(data[:7])
    data[42:50] = (2**40).to_bytes(8, "little")  # body length of the second record
    with pytest.raises(ValueError, match=r"record 1 of 2 \(key 1, byte 38\).*1099511627776"):
        Bitmap.read(data)


@pytest.mark.parametrize("portable", [True, False])
def test_short_buffer_refused_before_writing(portable):
    b = many_buckets()
    needed = b.persisted_size(portable)
    buffer = bytearray(b"\xab" * (needed - 1))
    with pytest.raises(ValueError, match=f"{needed - 1} bytes.*{needed} bytes"):
        b.write(buffer, portable)
    assert buffer == bytearray(b"\xab" * (needed - 1))


def test_write_into_a_longer_buffer_touches_only_the_form():
    buffer = bytearray(b"\xab" * 40)
    assert Bitmap().write(buffer) == 28
    assert bytes(buffer) == DEFAULT_PORTABLE + b"\xab" * 12
    target = np.zeros(28, dtype=np.uint8)
    assert Bitmap().write(target) == 28 and target.tobytes() == DEFAULT_PORTABLE


def test_write_refuses_read_only_buffers():
    with pytest.raises(BufferError):
        Bitmap().write(bytes(28))
    frozen = np.zeros(28, dtype=np.uint8)
    frozen.flags.writeable = False
    with pytest.raises((BufferError, ValueError)):  # the exporter's own refusal propagates
        Bitmap().write(frozen)
    assert not frozen.any()


@pytest.mark.parametrize("view", [
    lambda data: memoryview(bytearray(data * 2))[::2],
    lambda data: memoryview(bytearray(data))[::-1],
    lambda data: np.frombuffer(data * 2, dtype=np.uint8)[::2].copy().reshape(-1, 1)[::2],
], ids=["every second byte", "reversed", "strided column"])
def test_non_contiguous_views_are_refused(view):
    buffer = view(DEFAULT_PORTABLE)
    with pytest.raises(BufferError):
        Bitmap.read(buffer)
    with pytest.raises(BufferError):
        Bitmap().write(buffer)


@pytest.mark.parametrize("call", [
    lambda buffer: Bitmap().write(buffer),
    lambda buffer: Bitmap.read(buffer),
], ids=["write", "read"])
def test_item_size_other_than_one_is_refused(call):
    wide = np.zeros(32, dtype=np.uint16)
    with pytest.raises(RuntimeError, match="^Item size should be 1$"):
        call(wide)
    assert not wide.any()


@pytest.mark.parametrize("argument", [None, 28, [0] * 28, "text"])
def test_non_buffers_are_an_argument_mismatch(argument):
    with pytest.raises(TypeError):
        Bitmap().write(argument)
    with pytest.raises(TypeError):
        Bitmap.read(argument)


def test_the_view_is_released_on_every_path():
    buffer = bytearray(28)
    Bitmap().write(buffer)
    Bitmap.read(buffer)
    for failing in (lambda: many_buckets().write(buffer), lambda: Bitmap.read(buffer, False),
                    lambda: Bitmap.read(buffer[:9])):
        with pytest.raises((ValueError, RuntimeError)):
            failing()
    buffer.extend(b"more")  # a view still held would make resizing fail
    assert len(buffer) == 32


@pytest.mark.parametrize("positions, containers", [
    ((), 0), ((1, 2, 3), 1), ((1, 65536), 2), ((1, SPAN + 1), 2),
])
def test_in_memory_size_counts_containers(positions, containers):
    b = Bitmap()
    for p in positions:
        b.set(p)
    assert b.in_memory_size == containers
