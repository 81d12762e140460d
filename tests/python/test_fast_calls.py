"""The direct entries in front of the registered methods and slots.

A call on an exact Bitmap with positional plain ints takes the direct entry; the same
call on an instance of a subclass always takes the registered function. Both must
give the same result, leave the same positions and raise the same exception type and
message, for every method with a direct entry and for every kind of argument: the
direct entry decodes some of them itself and must hand the others over unchanged."""
import operator
import os

import numpy as np
import pytest

from _veltrane_rec_extension import Bitmap
from conftest import MAX, SPAN, SubBitmap, outcome, run_child

CONTENT = [0, 5, 6, 7, SPAN + 3, 3 * SPAN, MAX]


def made(kind, positions=CONTENT):
    bitmap = kind()
    for position in positions:
        bitmap.set(position)
    return bitmap


def uninitialized():
    return Bitmap.__new__(Bitmap)


POSITIONS = [0, 6, SPAN + 3, MAX, 4 * SPAN, True, False, np.uint64(5), np.int8(7), -1, 2**64, 1.0, None, "5", [5]]
OTHERS = [lambda: made(Bitmap, [5, 8]), lambda: made(SubBitmap, [5, 8]), lambda: made(Bitmap, CONTENT),
          uninitialized, lambda: 5, lambda: None]

ONE_POSITION = ["contains", "lower_cardinality", "upper_cardinality", "nth", "self_or_next", "self_or_previous"]
EDITS = ["set", "unset", "flip"]
RANGES = ["any", "all", "set", "unset", "flip"]
WITH_OTHER = ["subset_of", "strict_subset_of", "union", "intersect", "difference", "symmetric_difference",
              "inplace_union", "inplace_intersect", "inplace_difference", "inplace_symmetric_difference"]


def both_paths(call):
    """The outcome and the positions left afterwards, on an exact Bitmap (direct entry)
    and on a subclass instance (registered function)."""
    results = []
    for kind in (Bitmap, SubBitmap):
        bitmap = made(kind)
        results.append((outcome(lambda: call(bitmap)), bitmap.index_array().tolist()))
    return results


def assert_same(call):
    direct, registered = both_paths(call)
    assert direct == registered


@pytest.mark.parametrize("name", ONE_POSITION + EDITS)
@pytest.mark.parametrize("position", POSITIONS, ids=repr)
def test_one_position(name, position):
    assert_same(lambda b: getattr(b, name)(position))
    assert_same(lambda b: getattr(b, name)(position=position))


@pytest.mark.parametrize("name", RANGES)
@pytest.mark.parametrize("start, end", [(5, 9), (9, 5), (MAX - 20, MAX), (SPAN - 3, SPAN + 4), (MAX, MAX), (5, None),
                                        (True, 2), (np.uint64(1), 4), (-1, 4), (0, 2**64), (1.0, 3), (5, "9")])
def test_two_positions(name, start, end):
    assert_same(lambda b: getattr(b, name)(start, end))
    assert_same(lambda b: getattr(b, name)(start, endEx=end))


@pytest.mark.parametrize("name", ONE_POSITION + RANGES + ["copy"])
def test_argument_counts(name):
    for arguments in [(), (1,), (1, 2), (1, 2, 3)]:
        assert_same(lambda b: getattr(b, name)(*arguments))
    assert_same(lambda b: getattr(b, name)(1, bogus=2))


@pytest.mark.parametrize("name", WITH_OTHER)
@pytest.mark.parametrize("other", OTHERS, ids=["bitmap", "subclass", "equal", "uninitialized", "int", "None"])
def test_bitmap_operands(name, other):
    assert_same(lambda b: getattr(b, name)(other()))
    assert_same(lambda b: getattr(b, name)(other=other()))


IN_PLACE = {"|=": operator.ior, "&=": operator.iand, "-=": operator.isub, "^=": operator.ixor}
OPERATORS = {"==": operator.eq, "!=": operator.ne, "|": operator.or_, "&": operator.and_, "-": operator.sub,
             "^": operator.xor, "<": operator.lt, **IN_PLACE}


@pytest.mark.parametrize("symbol", OPERATORS)
@pytest.mark.parametrize("other", OTHERS, ids=["bitmap", "subclass", "equal", "uninitialized", "int", "None"])
def test_operators(symbol, other):
    apply = OPERATORS[symbol]
    assert_same(lambda b: apply(b, other()))
    assert_same(lambda b: apply(other(), b))


def test_in_place_operators_edit_the_left_operand_and_bind_a_copy():
    for apply in IN_PLACE.values():
        bitmap = made(Bitmap)
        result = apply(bitmap, made(Bitmap, [5, 8]))
        assert result is not bitmap and result == bitmap


@pytest.mark.parametrize("read", [len, bool, lambda b: 5 in b, lambda b: 2**64 in b, lambda b: "x" in b,
                                  lambda b: np.uint64(6) in b, lambda b: b.cardinality, lambda b: b.empty,
                                  lambda b: b.first, lambda b: b.last, lambda b: b.copy(), list])
def test_reads_without_arguments(read):
    assert_same(read)
    direct = outcome(lambda: read(made(Bitmap, [])))
    assert direct == outcome(lambda: read(made(SubBitmap, [])))


def test_objects_without_init_are_refused_on_every_entry():
    message = "_veltrane_rec_extension.Bitmap object is not initialized: its __init__ was not called"
    calls = [len, bool, lambda b: 5 in b, lambda b: b.cardinality, lambda b: b.copy(), lambda b: b.contains(5),
             lambda b: b.set(5), lambda b: b.nth(0), lambda b: b | Bitmap(), lambda b: Bitmap() | b,
             lambda b: b == Bitmap(), lambda b: b.union(Bitmap()), lambda b: Bitmap().union(b), iter]
    for call in calls:
        assert outcome(lambda: call(uninitialized())) == (TypeError, message)


def test_errors_of_the_core_reach_both_paths_alike():
    for call in (lambda b: b.nth(len(CONTENT)), lambda b: b.nth(MAX), lambda b: b.flip(9, 5)):
        direct, registered = both_paths(call)
        assert direct == registered and direct[0][0] is RuntimeError


def test_docs_are_those_of_the_registration():
    assert Bitmap.contains.__doc__.startswith("contains(self: _veltrane_rec_extension.Bitmap, position: int) -> bool")
    for name in ("set", "unset"):
        assert getattr(Bitmap, name).__doc__.startswith(
            f"{name}(self: _veltrane_rec_extension.Bitmap, position: int, endEx: Optional[int] = None) -> None")
    assert Bitmap.cardinality.fget.__doc__.endswith("(arg0: _veltrane_rec_extension.Bitmap) -> int\n")


# The sanitizer's allocator reserves its address space up front, so a cap on the
# address space does not make its allocations fail.
@pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""), reason="address space capped in advance")
def test_running_out_of_memory_raises_the_same_on_both_paths():
    """Unsetting a range over 2^30 absent keys creates their empty buckets until the
    bucket map cannot grow (no CRoaring allocation is involved)."""
    child = run_child("""
        from _veltrane_rec_extension import Bitmap

        class Sub(Bitmap):
            pass

        for call in (lambda: Bitmap().unset(0, 2**62), lambda: Bitmap().unset(0, endEx=2**62),
                     lambda: Sub().unset(0, 2**62), lambda: Bitmap().unset(2**62, None)):
            print(repr(bounded(address_space() + (64 << 20), call)))
        """)
    assert child.returncode == 0, child.stderr
    assert child.stdout.splitlines() == ["MemoryError('std::bad_alloc')"] * 3 + ["None"]