"""Pickling and copying: refused by the extension alone, supported through veltrane_rec."""
import copy
import copyreg
import multiprocessing
import pickle

import pytest

import veltrane_rec  # noqa: F401  (registers the reductions)
from _veltrane_rec_extension import Bitmap, MemoryScanner
from conftest import SHAPES, SPAN, mixed_containers, of, serialized

PROTOCOLS = range(pickle.HIGHEST_PROTOCOL + 1)


@pytest.fixture
def extension_alone():
    """copyreg as it is before veltrane_rec registers its reductions."""
    saved = {cls: copyreg.dispatch_table.pop(cls) for cls in (Bitmap, MemoryScanner)}
    yield
    copyreg.dispatch_table.update(saved)


class Tagged(Bitmap):
    pass


@pytest.mark.usefixtures("extension_alone")
@pytest.mark.parametrize("protocol", PROTOCOLS)
@pytest.mark.parametrize("make", [Bitmap, MemoryScanner, Tagged])
def test_the_extension_alone_refuses_pickling_at_every_protocol(make, protocol):
    # The words Python itself uses at protocols 2 to 5 for objects it cannot rebuild.
    refusal = rf"^cannot pickle '(_veltrane_rec_extension\.)?{make.__name__}' object$"
    with pytest.raises(TypeError, match=refusal):
        pickle.dumps(make(), protocol)
    with pytest.raises(TypeError, match=refusal):
        pickle._dumps(make(), protocol)  # the pure-Python pickler takes another path


@pytest.mark.usefixtures("extension_alone")
@pytest.mark.parametrize("copier", [copy.copy, copy.deepcopy])
def test_the_extension_alone_names_what_to_use_instead_of_the_copy_module(copier):
    with pytest.raises(TypeError, match=r"cannot copy '\S*Bitmap' object .*\.copy\(\) method"):
        copier(of(1))
    with pytest.raises(TypeError, match=r"cannot copy '\S*MemoryScanner' object .*MemoryScanner\(\)"):
        copier(MemoryScanner())


@pytest.mark.parametrize("protocol", PROTOCOLS)
@pytest.mark.parametrize("shape", SHAPES)
def test_a_round_trip_keeps_positions_and_buckets(shape, protocol):
    original = SHAPES[shape]()
    form = serialized(original, compact=False)
    restored = pickle.loads(pickle.dumps(original, protocol))
    assert type(restored) is Bitmap
    assert restored == original and len(restored) == len(original)
    assert serialized(restored, compact=False) == form  # empty buckets and containers alike


def test_protocol_5_hands_the_serialized_form_out_of_band():
    original = mixed_containers()
    buffers = []
    data = pickle.dumps(original, 5, buffer_callback=buffers.append)
    assert len(buffers) == 1 and buffers[0].raw().nbytes == original.persisted_size(True, False, False)
    assert len(data) < 200
    restored = pickle.loads(data, buffers=buffers)
    assert serialized(restored, compact=False) == serialized(original, compact=False)


def test_pickling_neither_changes_the_bitmap_nor_ends_its_iteration():
    b = mixed_containers()
    iterator = iter(b)
    first = next(iterator)
    form = serialized(b, compact=False)
    pickle.dumps(b)
    assert serialized(b, compact=False) == form
    assert next(iterator) > first


@pytest.mark.parametrize("copier", [copy.copy, copy.deepcopy])
def test_copies_are_equal_and_independent(copier):
    original = SHAPES["empty-bucket laden"]()
    duplicate = copier(original)
    assert duplicate == original and serialized(duplicate) == serialized(original)
    duplicate.set(3 * SPAN)
    assert 3 * SPAN not in original


def test_deepcopy_keeps_shared_references_shared():
    b = of(5, SPAN)
    first, second = copy.deepcopy([b, b])
    assert first is second and first is not b and first == b


def test_subclass_instances_are_refused_even_with_the_package():
    with pytest.raises(TypeError, match=r"^cannot pickle 'Tagged' object$"):
        pickle.dumps(Tagged([1, 2]))
    with pytest.raises(TypeError, match=r"\.copy\(\) method"):
        copy.copy(Tagged([1]))


def test_a_scanner_pickles_to_a_working_scanner():
    scanner = pickle.loads(pickle.dumps(MemoryScanner()))
    assert scanner.scan(b'{"a": 1}\n[2]\n{"b"') == (2, 13)
    assert type(copy.deepcopy(scanner)) is MemoryScanner


class DamagedPickle:
    """Pickles as a Bitmap whose serialized form was damaged in storage would."""

    def __init__(self, form):
        self.form = form

    def __reduce__(self):
        return copyreg.dispatch_table[Bitmap](of())[0], (self.form,)


@pytest.mark.parametrize("damage", [lambda f: f[:-3], lambda f: f[:10], lambda f: b"\xff" * len(f)],
                         ids=["cut short", "header only", "garbled"])
def test_damaged_pickled_data_raises_instead_of_rebuilding(damage):
    form = serialized(of(1, 2, SPAN + 3), compact=False)
    assert pickle.loads(pickle.dumps(DamagedPickle(form))) == of(1, 2, SPAN + 3)
    with pytest.raises((ValueError, RuntimeError)):  # the refusals of Bitmap.read
        pickle.loads(pickle.dumps(DamagedPickle(damage(form))))


def test_bitmaps_return_from_a_pool_of_processes():
    with multiprocessing.get_context("spawn").Pool(1) as pool:
        results = pool.map(copy.deepcopy, [of(1, SPAN), SHAPES["many buckets"]()], chunksize=1)
    assert results[0] == of(1, SPAN)
    assert serialized(results[1], compact=False) == serialized(SHAPES["many buckets"](), compact=False)
