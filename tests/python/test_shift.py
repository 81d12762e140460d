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


# The bucket cases are the core's tests, and the stateful model checks both methods
# against Python sets; these check what Python sees.
@pytest.mark.parametrize("method, position, by, before, after", [
    ("expand", SPAN - 2, 3 * SPAN, [1, SPAN - 2], [1, 4 * SPAN - 2]),
    ("contract", TOP + 10, 3, [TOP + 11, MAX], [TOP + 8, MAX - 3]),
])
def test_shift_moves_positions(method, position, by, before, after):
    b = of(*before)
    assert getattr(b, method)(position, by) is None
    assert positions_of(b) == after


@pytest.mark.parametrize("method, position, by, before", [("contract", 10, MAX, [5, 100]), ("expand", MAX, 1, [MAX])])
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
