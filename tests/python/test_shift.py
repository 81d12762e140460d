"""expand and contract through Python: results, refusals and argument conversion."""
import pytest

from _veltrane_rec_extension import Bitmap
from conftest import MAX, SPAN, of

TOP = MAX - SPAN + 1  # first position of the last key


def positions_of(b):
    """The positions in ascending order, read with the basic queries only."""
    rest, found = b.copy(), []
    while rest.first is not None:
        found.append(rest.first)
        rest.unset(rest.first)
    return found


@pytest.mark.parametrize("method, position, by, before, after", [
    ("expand", 5, 3, [1, 5, 6, 100], [1, 8, 9, 103]),
    ("expand", 0, 1, [SPAN - 1], [SPAN]),
    ("expand", 0, 1, [0, TOP], [1, TOP + 1]),
    ("expand", SPAN - 2, 3 * SPAN, [1, SPAN - 2], [1, 4 * SPAN - 2]),
    ("expand", 200, 9, [6, 7], [6, 7]),
    ("contract", 10, 3, [5, 7, 8, 9, 10, 11, 20], [5, 7, 8, 17]),
    ("contract", 10, 1, [5, 2 * SPAN], [5, 2 * SPAN - 1]),
    ("contract", 100, 50, [60, 70], [60, 70]),
    ("contract", TOP + 10, 3, [TOP + 11, MAX], [TOP + 8, MAX - 3]),
])
def test_shift_moves_positions(method, position, by, before, after):
    b = of(*before)
    assert getattr(b, method)(position, by) is None
    assert positions_of(b) == after


@pytest.mark.parametrize("method, position, by, before", [
    ("contract", 10, MAX, [5, 100]),
    ("contract", 3, 5, [1, 2, 100]),
    ("contract", 0, 0, [0, 1]),
    ("contract", SPAN + 5, SPAN + 1, [3 * SPAN]),
    ("expand", MAX, 1, [MAX]),
    ("expand", 0, 2, [3, MAX - 1]),
])
def test_out_of_bounds_is_refused_and_changes_nothing(method, position, by, before):
    b = of(*before)
    with pytest.raises(ValueError, match="^Range Out of Bounds$"):
        getattr(b, method)(position, by)
    assert positions_of(b) == before


@pytest.mark.parametrize("method", ["expand", "contract"])
@pytest.mark.parametrize("args", [(5,), (), (-1, 1), (1, MAX + 1), (None, 1), (1.5, 1)])
def test_bad_arguments_are_refused(method, args):
    b = of(1, 9)
    with pytest.raises(TypeError):
        getattr(b, method)(*args)
    assert positions_of(b) == [1, 9]


def test_arguments_by_keyword():
    b = of(4, 8)
    b.expand(by=2, position=5)
    b.contract(position=9, by=2)
    assert positions_of(b) == [4, 8]
