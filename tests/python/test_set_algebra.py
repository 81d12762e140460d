"""Union, intersection, difference, symmetric difference, equality and subset tests
through Python, checked against Python sets."""
import operator
import random

import pytest

from _veltrane_rec_extension import Bitmap

SPAN = 1 << 32
MAX = (1 << 64) - 1


def holds(bitmap, positions):
    """True when the bitmap holds exactly `positions` (read without iteration)."""
    return len(bitmap) == len(positions) and all(p in bitmap for p in positions)


def bitmap_of(positions):
    b = Bitmap()
    for p in positions:
        b.set(p)
    return b


# name of the method, its operator form, the in-place method, its augmented form, set rule
OPERATORS = [
    ("union", operator.or_, "inplace_union", operator.ior, operator.or_),
    ("intersect", operator.and_, "inplace_intersect", operator.iand, operator.and_),
    ("difference", operator.sub, "inplace_difference", operator.isub, operator.sub),
    ("symmetric_difference", operator.xor, "inplace_symmetric_difference", operator.ixor,
     operator.xor),
]
OPERATOR_IDS = [entry[0] for entry in OPERATORS]


def random_positions(rng, keys):
    """A few dozen positions spread over some of `keys`, clustered inside each key,
    sometimes reaching the top of a bucket or the very last position."""
    positions = set()
    for key in rng.sample(keys, rng.randint(0, len(keys))):
        base = key * SPAN
        for _ in range(rng.randint(0, 12)):
            low = rng.choice([rng.randrange(64), rng.randrange(1 << 20),
                              SPAN - 1 - rng.randrange(4)])
            positions.add(base + low)
    return positions


@pytest.mark.parametrize("seed", range(60))
def test_every_operator_matches_python_sets(seed):
    rng = random.Random(seed)
    keys = [0, 1, 2, 7, 1000, (1 << 32) - 1]
    left_set, right_set = random_positions(rng, keys), random_positions(rng, keys)
    if seed % 5 == 0:
        right_set |= set(rng.sample(sorted(left_set), len(left_set) // 2))  # overlap
    if seed % 7 == 0:
        right_set = set(left_set)
    left, right = bitmap_of(left_set), bitmap_of(right_set)

    for name, op, inplace_name, iop, rule in OPERATORS:
        expected = rule(left_set, right_set)
        for result in (getattr(left, name)(right), op(left, right)):
            assert holds(result, expected), name
            assert result == bitmap_of(expected)
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
    a = bitmap_of(positions)
    original = a
    a = iop(a, a)
    assert a is not original
    assert holds(a, expected) and holds(original, expected)

    b = bitmap_of(positions)
    assert holds(getattr(b, inplace_name)(b), expected) and holds(b, expected)
    c = bitmap_of(positions)
    assert holds(op(c, c), expected) and holds(getattr(c, name)(c), expected)
    assert holds(c, positions)


@pytest.mark.parametrize("name, op, inplace_name, iop, rule", OPERATORS, ids=OPERATOR_IDS)
def test_inplace_changes_the_object_and_returns_a_new_copy(name, op, inplace_name, iop, rule):
    a_set, b_set = {1, 2, SPAN + 3}, {2, 4, 2 * SPAN}
    expected = rule(a_set, b_set)
    a, b = bitmap_of(a_set), bitmap_of(b_set)
    c = a
    a = iop(a, b)
    assert a is not c and a == c
    assert holds(c, expected) and holds(b, b_set)
    a.set(777)  # the returned object owns its own copy
    assert 777 not in c

    d = bitmap_of(a_set)
    returned = getattr(d, inplace_name)(b)
    assert returned is not d and holds(d, expected) and holds(returned, expected)


def test_equality_ignores_empty_buckets():
    b = Bitmap()
    b.set(5)
    b.unset(5)
    assert b == Bitmap()
    b.unset(3 * SPAN, 5 * SPAN)  # creates empty buckets 3 to 5
    assert b == Bitmap() and not (b != Bitmap())
    no_common_key = bitmap_of([SPAN + 1]) & bitmap_of([2 * SPAN + 1])
    assert no_common_key == Bitmap() and no_common_key.empty
    assert bitmap_of([SPAN + 1]) != bitmap_of([2 * SPAN + 1])


def test_subset_tests():
    empty_buckets_only = Bitmap()
    empty_buckets_only.unset(7 * SPAN, 9 * SPAN)
    other = bitmap_of([SPAN + 5])
    assert empty_buckets_only.subset_of(other) and empty_buckets_only.strict_subset_of(other)
    assert not other.subset_of(empty_buckets_only)
    assert other.subset_of(other.copy()) and not other.strict_subset_of(other.copy())
    assert Bitmap().subset_of(Bitmap()) and not Bitmap().strict_subset_of(Bitmap())


class Derived(Bitmap):
    pass


def test_subclass_instances_are_operands():
    d = Derived()
    d.set(4)
    result = bitmap_of([4, 5]) & d
    assert type(result) is Bitmap and holds(result, {4})
    assert d.subset_of(bitmap_of([4])) and d == bitmap_of([4])


@pytest.mark.parametrize("method", [
    "union", "intersect", "difference", "symmetric_difference",
    "__or__", "__and__", "__sub__", "__xor__", "__eq__",
    "inplace_union", "inplace_intersect", "inplace_difference", "inplace_symmetric_difference",
    "__ior__", "__iand__", "__isub__", "__ixor__", "subset_of", "strict_subset_of",
])
@pytest.mark.parametrize("bad", [5, None, {1, 2}])
def test_non_bitmap_operands_are_argument_mismatches(method, bad):
    b = bitmap_of([1])
    with pytest.raises(TypeError, match=rf"^{method}\(\): incompatible function arguments"):
        getattr(b, method)(bad)
    assert holds(b, {1})


@pytest.mark.parametrize("expression", [
    lambda b: b == 5, lambda b: b != 5, lambda b: b | 5, lambda b: b & None, lambda b: 5 | b,
    lambda b: b - {1}, lambda b: hash(b),
])
def test_operators_never_fall_back_to_not_implemented(expression):
    with pytest.raises(TypeError):
        expression(bitmap_of([1]))


def test_bitmaps_are_unhashable():
    assert Bitmap.__hash__ is None
    with pytest.raises(TypeError):
        {Bitmap()}
