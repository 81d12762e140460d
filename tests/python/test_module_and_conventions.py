"""Module start-up, class options, argument conventions and the constructor."""
import glob
import os
import re
import shutil
import subprocess
import sys
import textwrap
from fractions import Fraction

import numpy as np
import pytest

import _veltrane_rec_extension as ext
from _veltrane_rec_extension import Bitmap
from conftest import MAX


def run_python(code, executable=sys.executable):
    return subprocess.run([executable, "-c", textwrap.dedent(code)], capture_output=True, text=True)


def test_module_registers_only_the_two_classes_scanner_first():
    public = [name for name in vars(ext) if not name.startswith("__")]
    assert public == ["MemoryScanner", "Bitmap"]
    assert ext.__doc__ is None


def other_interpreters():
    """Working CPython 3 interpreters of other minor versions, newer ones first: a module
    built for an older version usually finds every symbol it links in a newer one."""
    mine = sys.version_info[1]
    for minor in sorted(set(range(8, 14)) - {mine}, key=lambda minor: (minor < mine, abs(minor - mine))):
        name = f"python3.{minor}"
        candidates = glob.glob(os.path.expanduser(f"~/.pyenv/versions/3.{minor}.*/bin/{name}")) + [shutil.which(name)]
        found = next((c for c in candidates if c and run_python("", c).returncode == 0), None)
        if found:
            yield found


def test_other_interpreter_versions_are_refused_at_import(tmp_path):
    shutil.copy(ext.__file__, tmp_path / "_veltrane_rec_extension.so")
    importing = f"""
        import sys; sys.path.insert(0, {str(tmp_path)!r})
        try:
            import _veltrane_rec_extension
        except ImportError as error:
            print(error)
        """
    built_for = "%d.%d" % sys.version_info[:2]
    for other in other_interpreters():
        refusal = run_python(importing, other).stdout.strip()
        if "undefined symbol" in refusal:
            continue  # the loader refused it before its init function could run
        other_version = run_python("import sys; print(sys.version)", other).stdout.strip()
        assert refusal == (
            f"Python version mismatch: module was compiled for Python {built_for}, "
            f"but the interpreter version is incompatible: {other_version}.")
        return
    pytest.skip("no other CPython 3 interpreter that can load the module")


def test_bitmap_works_where_numpy_cannot_be_imported():
    result = run_python("""
        import sys
        sys.modules['numpy'] = None
        from _veltrane_rec_extension import Bitmap
        b = Bitmap(); b.set(3); b.set(10, 20)
        assert len(Bitmap(None)) == 0 and len(b) == 11 and 3 in b
        try:
            Bitmap([1, 2])
        except Exception as error:
            print(type(error).__name__)
        """)
    assert result.returncode == 0, result.stderr
    assert "numpy" not in result.stderr


@pytest.mark.parametrize("indices, expected", [
    (np.array([], dtype=np.uint64), []),
    (np.array([5, 1, 5], dtype=np.uint64), [1, 5]),
    ([3, 2, 1], [1, 2, 3]),
    ((7, 2**40), [7, 2**40]),
    (np.array([9, 4], dtype=np.int32), [4, 9]),
    (np.arange(10, dtype=np.uint64)[::3], [0, 3, 6, 9]),
    (np.arange(10, dtype=np.uint64)[::-4], [1, 5, 9]),
    (np.array([MAX, 0, 2**32], dtype=np.uint64), [0, 2**32, MAX]),
])
def test_constructor_takes_the_distinct_values_of_an_array(indices, expected):
    b = Bitmap(indices)
    assert len(b) == len(expected)
    assert all(v in b for v in expected)
    assert (b.first, b.last) == ((expected[0], expected[-1]) if expected else (None, None))


@pytest.mark.parametrize("indices, index, value", [
    (np.array([3, -1, -2], dtype=np.int64), 1, "-1"),
    ([5, -7], 1, "-7"),
    (np.array([1.0, np.nan]), 1, "nan"),
    (np.array([np.inf, 1.0]), 0, "inf"),
    (np.array([-np.inf]), 0, "-inf"),
    (np.array([2.0**64]), 0, "1.8446744073709552e+19"),
    (np.array([-0.5]), 0, "-0.5"),
    ([1, 2**64], 1, str(2**64)),
    (np.array([2**70], dtype=object), 0, str(2**70)),
    (np.array([1 + 0j, -3 + 1j]), 1, "(-3+1j)"),
])
def test_constructor_refuses_elements_that_name_no_position(indices, index, value):
    with pytest.raises(ValueError, match=re.escape(f"indices[{index}] is {value}, which is no position")):
        Bitmap(indices)


@pytest.mark.parametrize("indices, expected", [
    ([1.0, 2.5, 2.9], [1, 2]),
    (np.array([0.0, -0.0, 2.0**64 - 2048]), [0, 2**64 - 2048]),
    (np.array([7, 2**63], dtype=np.uint64), [7, 2**63]),
    (np.array([3, 9], dtype=np.int64), [3, 9]),
    (np.array([True, False]), [0, 1]),
    ([2**64 - 1, 0], [0, 2**64 - 1]),
    (np.ma.masked_array([5, -1, 2**64 - 1], mask=[False, True, False], dtype=object), [5, 2**64 - 1]),
    (np.ma.masked_array([4, -9, 6], mask=[False, True, False]), [4, 6]),
    (np.ma.masked_array([4, 6], dtype=np.uint64), [4, 6]),
    (list(np.array([MAX, MAX - 1023], dtype=np.uint64)), [MAX - 1023, MAX]),
    ([np.uint64(MAX), np.int8(3), np.bool_(True), np.float32(2.5), Fraction(7, 2), 9 + 2j], [1, 2, 3, 9, MAX]),
    (np.array([MAX, 5], dtype=">u8"), [5, MAX]),
    (range(2**64 - 3, 2**64), [MAX - 2, MAX - 1, MAX]),
])
def test_constructor_accepts_positions_in_any_type(indices, expected):
    assert Bitmap(indices).index_array().tolist() == expected


@pytest.mark.parametrize("indices, index, shown", [
    (["-1"], 0, "'-1'"),
    (np.array(["-1"]), 0, "'-1'"),
    (np.array([5, "-1"], dtype=object), 1, "'-1'"),
    (np.array([b"-5"]), 0, "b'-5'"),
    (np.array([-1], "m8[s]"), 0, "timedelta64(-1,'s')"),
    (np.array(["1969-12-31", "NaT"], "M8[D]"), 0, "datetime64('1969-12-31')"),
    ([np.datetime64("NaT", "D")], 0, "datetime64('NaT'"),
    ((3, None), 1, "None"),
    (np.ma.masked_array(["x", "y"], mask=[True, False]), 1, "'y'"),
])
def test_constructor_refuses_elements_that_are_no_numbers(indices, index, shown):
    with pytest.raises(TypeError, match=rf"^indices\[{index}\] is .*{re.escape(shown)}.*, which is not a number$"):
        Bitmap(indices)


def test_constructor_passes_on_what_reading_the_input_raises():
    class Failing:
        def __len__(self):
            return 2

        def __getitem__(self, index):
            raise RuntimeError("unreadable")

    with pytest.raises(RuntimeError, match="^unreadable$"):
        Bitmap(Failing())


def test_constructor_names_the_offending_element_of_a_masked_array_by_its_own_index():
    with pytest.raises(ValueError, match=re.escape("indices[2] is -3, which is no position")):
        Bitmap(np.ma.masked_array([4, -9, -3], mask=[False, True, False]))


def test_constructor_reads_a_read_only_view_without_copying_rules():
    values = np.arange(100, dtype=np.uint64)
    values.setflags(write=False)
    assert len(Bitmap(values[10:20])) == 10


@pytest.mark.parametrize("indices, dimensions", [(np.zeros((2, 2), dtype=np.uint64), 2), (7, 0)])
def test_constructor_refuses_other_dimensions(indices, dimensions):
    with pytest.raises(ValueError, match=f"^array has incorrect number of dimensions: {dimensions}; expected 1$"):
        Bitmap(indices)


@pytest.mark.parametrize("indices", ["x", object(), {1, 2}])
def test_constructor_mismatch_uses_the_constructor_wording(indices):
    with pytest.raises(TypeError) as error:
        Bitmap(indices)
    assert str(error.value).startswith("__init__(): incompatible constructor arguments. "
                                       "The following argument types are supported:\n    1. ")
    assert f"Invoked with: {indices!r}" in str(error.value)


@pytest.mark.parametrize("bad", [-1, 2**64, 1.0, None, "5", [5], object()])
def test_position_arguments_outside_unsigned_64_bits_are_argument_mismatches(bad):
    b = Bitmap()
    with pytest.raises(TypeError, match=r"^contains\(\): incompatible function arguments"):
        b.contains(bad)


@pytest.mark.parametrize("good, position", [(True, 1), (False, 0), (np.uint64(5), 5), (np.int8(7), 7), (MAX, MAX)])
def test_ints_bools_and_numpy_integers_are_positions(good, position):
    b = Bitmap()
    b.set(good)
    assert position in b and len(b) == 1


def test_mismatch_message_lists_the_call():
    with pytest.raises(TypeError) as error:
        Bitmap().set(1, 2, 3)
    message = str(error.value)
    assert message.startswith("set(): incompatible function arguments. The following argument types are supported:\n"
                              "    1. (self: _veltrane_rec_extension.Bitmap, position: int, endEx: Optional[int] = None)")
    assert message.endswith("\nInvoked with: Bitmap([]), 1, 2, 3")
    with pytest.raises(TypeError, match="kwargs: bogus=1"):
        Bitmap().set(1, bogus=1)


def test_keywords_and_none_where_allowed():
    b = Bitmap()
    b.set(position=5, endEx=None)
    b.set(10, endEx=12)
    assert sorted(v for v in range(20) if v in b) == [5, 10, 11]


def test_class_options():
    b = Bitmap()
    with pytest.raises(AttributeError):
        b.anything = 1
    with pytest.raises(AttributeError):
        b.cardinality = 3
    with pytest.raises(TypeError):
        hash(b)
    assert Bitmap.set.__doc__.startswith("set(self: _veltrane_rec_extension.Bitmap, position: int")


def test_subclasses_must_call_the_base_init():
    class Good(Bitmap):
        pass

    class Bad(Bitmap):
        def __init__(self):
            pass

    g = Good(np.array([1, 2], dtype=np.uint64))
    assert len(g) == 2 and isinstance(g.copy(), Bitmap)
    with pytest.raises(TypeError, match=r"^_veltrane_rec_extension.Bitmap.__init__\(\) must be called when overriding __init__$"):
        Bad()


def test_calling_init_again_changes_nothing():
    b = Bitmap(np.array([4], dtype=np.uint64))
    assert b.__init__(np.array([1], dtype=np.uint64)) is None
    assert list(v for v in range(6) if v in b) == [4]
