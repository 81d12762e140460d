"""Editing a bitmap while a Python iterator walks it.

Every edit, whether or not it changes a position, may rebuild or free the storage the
iterator stands in, so the next __next__ must refuse with RuntimeError before reading
anything. Run under AddressSanitizer, a missed edit shows as a read of freed memory.
"""
import itertools

import pytest

from _veltrane_rec_extension import Bitmap
from conftest import SPAN

MESSAGE = "Bitmap changed during iteration"


def walked():
    bitmap = Bitmap()
    for position in (1, 2, 3, SPAN + 1, SPAN + 2, 3 * SPAN + 5, 3 * SPAN + 6):
        bitmap.set(position)
    bitmap.set(5 * SPAN, 5 * SPAN + 100000)
    return bitmap


def other():
    bitmap = Bitmap()
    bitmap.set(2)
    bitmap.set(5 * SPAN + 7)
    return bitmap


EDITS = {
    "set": lambda b: b.set(7),
    "set an existing position": lambda b: b.set(1),
    "set a range": lambda b: b.set(10, 20),
    "unset": lambda b: b.unset(2),
    "unset a range over buckets": lambda b: b.unset(0, 4 * SPAN),
    "flip one": lambda b: b.flip(3, None),
    "flip a range": lambda b: b.flip(0, 10),
    "expand": lambda b: b.expand(0, SPAN),
    "contract erasing buckets": lambda b: b.contract(4 * SPAN + 5, SPAN),
    "persisted_size": lambda b: b.persisted_size(),
    **{name: (lambda name: lambda b: getattr(b, name)(other()))(name) for name in (
        "inplace_intersect", "inplace_union", "inplace_difference", "inplace_symmetric_difference",
        "__iand__", "__ior__", "__isub__", "__ixor__")},
}


@pytest.mark.parametrize("edit", EDITS.values(), ids=EDITS.keys())
# Before the first position, inside the first bucket, inside the last, dense bucket,
# whose containers and map entry the larger edits free, and past the end, where the
# iterator stays exhausted.
@pytest.mark.parametrize("steps_before", [0, 2, 9, None])
def test_next_after_an_edit_raises(edit, steps_before):
    bitmap = walked()
    iterator = iter(bitmap)
    list(itertools.islice(iterator, steps_before))
    edit(bitmap)
    for _ in range(2):
        with pytest.raises(StopIteration) if steps_before is None else pytest.raises(RuntimeError, match=MESSAGE):
            next(iterator)
    assert list(bitmap) == bitmap.index_array().tolist()


def test_augmented_intersection_rebinds_but_the_walked_object_changed():
    bitmap = walked()
    iterator = iter(bitmap)
    next(iterator)
    bitmap &= other()  # edits the walked object in place, then binds a copy
    del bitmap
    with pytest.raises(RuntimeError, match=MESSAGE):
        next(iterator)


def test_reads_do_not_disturb_iteration():
    bitmap = walked()
    iterator = iter(bitmap)
    seen = [next(iterator)]
    bitmap.copy(), bitmap.index_array(), bitmap.nth(3), bitmap.slice(0, 9), len(bitmap)
    bitmap.lower_cardinality(5), bitmap.contains(2), 2 in bitmap, bitmap | other()
    seen += list(iterator)
    assert seen == bitmap.index_array().tolist()


def test_neighbour_queries_that_add_empty_buckets_do_not_stop_iteration():
    """Adding a map entry moves and frees nothing an iterator stands on, and adds no
    position: the walk goes on and yields exactly the positions."""
    bitmap = walked()
    expected = bitmap.index_array().tolist()
    iterator = iter(bitmap)
    seen = [next(iterator) for _ in range(4)]  # inside bucket 1
    # New buckets below, between and above the walk's bucket, and probes of existing ones.
    for key in (0, 2, 4, 7, 2**32 - 1):
        assert bitmap.self_or_next(key * SPAN + 9) == next((p for p in expected if p >= key * SPAN + 9), 0)
        assert bitmap.self_or_previous(key * SPAN + 9) == max((p for p in expected if p <= key * SPAN + 9),
                                                               default=2**64 - 1)
    seen += [next(iterator) for _ in range(4)]  # into the dense bucket
    bitmap.self_or_previous(6 * SPAN)
    seen += list(iterator)
    assert seen == expected
