"""What users of set libraries expect: counts and many-way operations at their edges,
repr, the subset comparisons, and a line of prose in every docstring, the same as in
the stubs."""
import ast
import collections.abc
import math
from pathlib import Path

import pytest

import _veltrane_rec_extension as ext
from conftest import MAX, SHAPES, SPAN, SubBitmap, of

Bitmap = ext.Bitmap
COUNTS = ["intersection_cardinality", "union_cardinality", "difference_cardinality",
          "symmetric_difference_cardinality", "jaccard_index", "isdisjoint"]
STUBS = Path(__file__).resolve().parents[2] / "python" / "_veltrane_rec_extension.pyi"


def test_counts_at_their_edges():
    assert math.isnan(Bitmap().jaccard_index(Bitmap()))
    a, b = SHAPES["many buckets"](), SHAPES["mixed containers"]()
    assert a.jaccard_index(b) == len(a & b) / len(a | b)
    for name in COUNTS:
        with pytest.raises(TypeError, match=f"^{name}\\(\\): incompatible function arguments"):
            getattr(a, name)(None)
        assert getattr(SubBitmap(a.index_array()), name)(b) == getattr(a, name)(b)


def test_many_way_operations_take_any_iterable_of_bitmaps():
    a, b, c = of(1, 2, SPAN), of(2, 3, SPAN), of(2, SPAN, MAX)
    assert Bitmap.union_all(x for x in (a, b, c)) == of(1, 2, 3, SPAN, MAX)
    assert Bitmap.intersect_all(iter([a, b, SubBitmap(c.index_array())])) == of(2, SPAN)
    assert Bitmap.union_all([]) == Bitmap() and Bitmap.intersect_all([a]) == a
    assert Bitmap.union_all([a]) is not a and a == of(1, 2, SPAN)
    with pytest.raises(ValueError, match="^intersection of no bitmaps$"):
        Bitmap.intersect_all([])
    with pytest.raises(TypeError, match="^union_all\\(\\) takes an iterable of Bitmap objects, not of int$"):
        Bitmap.union_all([a, 5])
    with pytest.raises(TypeError):
        Bitmap.intersect_all(5)
    with pytest.raises(ZeroDivisionError):
        Bitmap.union_all(a if i < 1 else 1 / 0 for i in range(2))


def test_repr_shows_up_to_32_positions_then_16_and_the_count():
    assert repr(Bitmap()) == "Bitmap([])"
    assert repr(of(1, 5, 4294967301)) == str(of(1, 5, 4294967301)) == "Bitmap([1, 5, 4294967301])"
    assert repr(Bitmap(list(range(32)))) == f"Bitmap({list(range(32))})"
    big = Bitmap()
    big.set(0, 1_000_000)
    assert repr(big) == f"Bitmap([{', '.join(map(str, range(16)))}, ...], len=1000000)"
    assert repr(SubBitmap([7])) == "SubBitmap([7])"


def test_ordering_comparisons_are_subset_tests():
    small, large = of(1, SPAN), of(1, 2, SPAN)
    for left, right in ((small, large), (large, small), (small, small.copy()), (Bitmap(), small)):
        expected = set(left) <= set(right), set(left) < set(right), set(left) >= set(right), set(left) > set(right)
        assert (left <= right, left < right, left >= right, left > right) == expected
        sub = SubBitmap(left.index_array())
        assert (sub <= right, sub < right, sub >= right, sub > right) == expected
    for other in (5, None, {1}, "x"):
        assert small.__le__(other) is NotImplemented
        for compare in (lambda: small <= other, lambda: small < other, lambda: other >= small,
                        lambda: small > other):
            with pytest.raises(TypeError, match="not supported between instances"):
                compare()
    with pytest.raises(TypeError, match="^__eq__\\(\\): incompatible function arguments"):
        small == 5  # noqa: B015 - unchanged: == with another type raises
    assert not isinstance(small, collections.abc.Set)


def _stub_docstrings():
    tree = ast.parse(STUBS.read_text())
    for cls in (node for node in tree.body if isinstance(node, ast.ClassDef)):
        for item in cls.body:
            if isinstance(item, ast.FunctionDef):
                yield cls.name, item.name, ast.get_docstring(item)


def _prose(cls, name):
    """A property's docstring is its prose; a method's follows its signature line."""
    if isinstance(vars(cls)[name], property):
        return vars(cls)[name].__doc__
    signature, _, prose = getattr(cls, name).__doc__.partition("\n\n")
    return prose.strip() if signature.startswith(name + "(") else ""


def test_every_method_has_the_prose_of_its_stub():
    stubbed = {(cls, name): doc for cls, name, doc in _stub_docstrings()}
    for cls in (ext.Bitmap, ext.MemoryScanner):
        registered = {name for name, value in vars(cls).items()  # less the binding layer's own hook
                      if (callable(value) or isinstance(value, (property, staticmethod)))
                      and not name.startswith("_pybind11")}
        assert registered == {name for owner, name in stubbed if owner == cls.__name__}
        for name in registered:
            assert _prose(cls, name) == stubbed[cls.__name__, name] != "", name
