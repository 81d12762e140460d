"""Union, intersection, difference, symmetric difference, equality and subset tests
through Python, checked against Python sets."""
import operator

import pytest
from hypothesis import given
from hypothesis import strategies as st

from _veltrane_rec_extension import Bitmap
from conftest import MAX, SPAN, holds, of, position_sets


# name of the method, its operator form, the in-place method, its augmented form, set rule
OPERATORS = [
    ("union", operator.or_, "inplace_union", operator.ior, operator.or_),
    ("intersect", operator.and_, "inplace_intersect", operator.iand, operator.and_),
    ("difference", operator.sub, "inplace_difference", operator.isub, operator.sub),
    ("symmetric_difference", operator.xor, "inplace_symmetric_difference", operator.ixor,
     operator.xor),
]
OPERATOR_IDS = [entry[0] for entry in OPERATORS]


# Unrelated sets, equal ones, and sets that share some of their positions.
set_pairs = st.one_of(
    st.tuples(position_sets, position_sets),
    position_sets.map(lambda positions: (positions, set(positions))),
    st.tuples(position_sets, position_sets).map(lambda pair: (pair[0], pair[1] | set(sorted(pair[0])[::2]))),
)


@given(set_pairs)
def test_every_operator_matches_python_sets(pair):
    left_set, right_set = pair
    left, right = of(*left_set), of(*right_set)
    for name, op, inplace_name, iop, rule in OPERATORS:
        expected = rule(left_set, right_set)
        for result in (getattr(left, name)(right), op(left, right)):
            assert holds(result, expected), name
            assert result == of(*expected)
        for apply in (lambda a: getattr(a, inplace_name)(right), lambda a: iop(a, right)):
            changed = left.copy()
            returned = apply(changed)
            assert holds(changed, expected) and holds(returned, expected), inplace_name
            assert returned is not changed
        assert holds(left, left_set) and holds(right, right_set)

    assert (left == right) is (left_set == right_set)
    assert (left != right) is (left_set != right_set)
    assert left.subset_of(right) is (left_set <= right_set)
    assert right.subset_of(left) is (right_set <= left_set)
    assert left.strict_subset_of(right) is (left_set < right_set)
    assert right.strict_subset_of(left) is (right_set < left_set)


@pytest.mark.parametrize("name, op, inplace_name, iop, rule", OPERATORS, ids=OPERATOR_IDS)
def test_augmented_assignment_on_itself(name, op, inplace_name, iop, rule):
    positions = {3, SPAN, SPAN + 9, 5 * SPAN + 1, MAX}
    expected = rule(positions, positions)
    a = of(*positions)
    original = a
    a = iop(a, a)
    assert a is not original
    assert holds(a, expected) and holds(original, expected)

    b = of(*positions)
    assert holds(getattr(b, inplace_name)(b), expected) and holds(b, expected)
    c = of(*positions)
    assert holds(op(c, c), expected) and holds(getattr(c, name)(c), expected)
    assert holds(c, positions)


class Derived(Bitmap):
    pass


def test_subclass_instances_are_operands():
    d = Derived()
    d.set(4)
    result = of(4, 5) & d
    assert type(result) is Bitmap and holds(result, {4})
    assert d.subset_of(of(4)) and d == of(4)


@pytest.mark.parametrize("method", [
    "union", "intersect", "difference", "symmetric_difference",
    "__or__", "__and__", "__sub__", "__xor__", "__eq__",
    "inplace_union", "inplace_intersect", "inplace_difference", "inplace_symmetric_difference",
    "__ior__", "__iand__", "__isub__", "__ixor__", "subset_of", "strict_subset_of",
])
@pytest.mark.parametrize("bad", [5, None, {1, 2}])
def test_non_bitmap_operands_are_argument_mismatches(method, bad):
    b = of(1)
    with pytest.raises(TypeError, match=rf"^{method}\(\): incompatible function arguments"):
        getattr(b, method)(bad)
    assert holds(b, {1})


@pytest.mark.parametrize("expression", [
    lambda b: b == 5, lambda b: b != 5, lambda b: b | 5, lambda b: b & None, lambda b: 5 | b,
    lambda b: b - {1}, lambda b: hash(b),
])
def test_operators_never_fall_back_to_not_implemented(expression):
    with pytest.raises(TypeError):
        expression(of(1))


def test_bitmaps_are_unhashable():
    assert Bitmap.__hash__ is None
    with pytest.raises(TypeError):
        {Bitmap()}
