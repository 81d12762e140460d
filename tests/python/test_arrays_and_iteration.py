"""index_array, bool_array and Python iteration."""
import gc
import os
import subprocess
import sys

import numpy as np
import pytest

import _veltrane_rec_extension
from _veltrane_rec_extension import Bitmap
from conftest import MAX, SPAN, of as bitmap_of

FLAGS = [(invert, relative) for invert in (True, False) for relative in (True, False)]


@pytest.mark.parametrize("invert, relative", FLAGS)
def test_empty_bitmap(invert, relative):
    bitmap = bitmap_of(7)
    bitmap.unset(7)
    assert bitmap.index_array().dtype == np.uint64 and len(bitmap.index_array()) == 0
    mask = bitmap.bool_array(invert, relative)
    assert mask.dtype == np.bool_ and len(mask) == 0
    assert list(bitmap) == []


@pytest.mark.parametrize("positions, arguments, expected", [
    ((5,), (False, False), [0, 0, 0, 0, 0, 1]),
    ((5,), (False, True), [1]),
    ((5,), (), [0]),
    ((5,), (True, False), [1, 1, 1, 1, 1, 0]),
    ((5, 7), (), [0, 1, 0]),
    ((5, 7), (False,), [1, 0, 1]),
    ((5, 7), (False, False), [0, 0, 0, 0, 0, 1, 0, 1]),
    ((5, 7), (None,), [1, 0, 1]),
])
def test_small_masks(positions, arguments, expected):
    mask = bitmap_of(*positions).bool_array(*arguments)
    assert mask.dtype == np.bool_
    assert mask.astype(int).tolist() == expected


@pytest.mark.parametrize("invert", [True, False])
def test_masks_match_fancy_indexing_across_a_bucket_border(invert):
    rng = np.random.default_rng(5)
    values = np.unique(np.concatenate([rng.integers(SPAN - 3000, SPAN + 3000, 800),
                                       rng.integers(SPAN + 20000, SPAN + 90000, 5000)]))
    expected = np.zeros(int(values[-1] - values[0]) + 1, dtype=bool)
    expected[values - values[0]] = True
    mask = Bitmap(values.astype(np.uint64)).bool_array(invert, True)
    assert np.array_equal(mask, expected ^ invert)


def test_list_and_index_array_give_every_position_in_order_skipping_empty_buckets():
    rng = np.random.default_rng(11)
    values = np.unique(np.concatenate([rng.integers(0, 2**64, 20000, dtype=np.uint64),
                                       np.arange(10**5, 2 * 10**5, dtype=np.uint64), [MAX]]))
    bitmap = Bitmap(values[::-1])
    bitmap.unset(MAX)
    bitmap.unset(3 * SPAN, 9 * SPAN)
    expected = [v for v in values.tolist() if v != MAX and not 3 * SPAN <= v < 9 * SPAN]
    assert bitmap.index_array().tolist() == list(bitmap) == expected and len(bitmap) == len(expected)


def test_arrays_are_new_and_independent():
    bitmap = bitmap_of(1, 3)
    positions, mask = bitmap.index_array(), bitmap.bool_array()
    bitmap.set(2)
    assert positions.tolist() == [1, 3] and mask.tolist() == [False, True, False]
    for array in (positions, mask):
        assert array.flags.c_contiguous and array.flags.owndata and array.flags.writeable
        assert array.dtype.isnative and array.ndim == 1


@pytest.mark.parametrize("positions, relative", [((0, MAX), True), ((MAX,), False)])
def test_mask_of_every_position_is_refused_before_allocating(positions, relative):
    with pytest.raises(ValueError, match="18446744073709551616"):
        bitmap_of(*positions).bool_array(relative=relative)


# 2^62 bytes exceed any address space: NumPy's MemoryError. From 2^63 elements on
# NumPy cannot even express the length, which is refused naming it.
def test_masks_numpy_cannot_allocate_fail_with_its_error():
    with pytest.raises(MemoryError):
        bitmap_of(2**62).bool_array(relative=False)


@pytest.mark.parametrize("last", [2**63 - 1, 2**63, MAX - 1])
def test_masks_longer_than_numpy_can_hold_are_refused_naming_the_length(last):
    with pytest.raises(ValueError, match=f"^bool_array length {last + 1} is too large for an array$"):
        bitmap_of(last).bool_array(relative=False)


def test_iterator_keeps_its_bitmap_alive():
    bitmap = bitmap_of(3, SPAN)
    iterator = iter(bitmap)
    del bitmap
    gc.collect()
    assert list(iterator) == [3, SPAN]


def test_stop_iteration_repeats():
    iterator = iter(bitmap_of(9))
    assert next(iterator) == 9
    for _ in range(3):
        with pytest.raises(StopIteration):
            next(iterator)


def test_iterators_are_independent():
    bitmap = bitmap_of(1, 2)
    first, second = iter(bitmap), iter(bitmap)
    assert next(first) == 1 and next(first) == 2 and next(second) == 1


def test_iterator_type_is_hidden_and_not_instantiable():
    iterator = iter(Bitmap())
    assert type(iterator).__name__ == "iterator"
    assert iter(iterator) is iterator
    assert not hasattr(_veltrane_rec_extension, "iterator")
    with pytest.raises(TypeError):
        type(iterator)()


def test_iteration_works_without_numpy():
    script = (
        "import sys; sys.modules['numpy'] = None\n"
        "from _veltrane_rec_extension import Bitmap\n"
        "b = Bitmap(); b.set(3); b.set(2**40)\n"
        "assert list(b) == [3, 2**40]\n"
        "try:\n    b.index_array()\nexcept ImportError:\n    print('no numpy')\n"
    )
    result = subprocess.run([sys.executable, "-c", script], env=dict(os.environ),
                            capture_output=True, text=True)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "no numpy"


def test_an_iterator_object_made_without_init_is_refused_not_crashed():
    iterator_type = type(iter(Bitmap()))
    orphan = iterator_type.__new__(iterator_type)
    with pytest.raises(TypeError, match="not initialized"):
        next(orphan)
    with pytest.raises(TypeError, match="not initialized"):
        orphan.__next__()
