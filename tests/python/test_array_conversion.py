"""Arrays in and out, exact under every NumPy major: construction from each numeric dtype
and memory layout, and index_array and bool_array of the result. The array descriptor's
fields moved between NumPy 1 and 2, so a reader of the wrong layout gives plausible but
wrong values rather than an error."""
import subprocess
import sys

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from _veltrane_rec_extension import Bitmap

DTYPES = [np.uint8, np.uint16, np.uint32, np.uint64, np.int8, np.int16, np.int32, np.int64,
          np.float32, np.float64, np.bool_]

LAYOUTS = {
    "contiguous": lambda a: a,
    "strided": lambda a: np.repeat(a, 3)[::3],
    "reversed": lambda a: a[::-1],
    "byte-swapped": lambda a: a.astype(a.dtype.newbyteorder()),
    "column of a 2-d array": lambda a: np.stack([a, a[::-1]], axis=1)[:, 0],
    "read-only": lambda a: np.lib.stride_tricks.as_strided(a, writeable=False),
}


def largest(dtype):
    if dtype is np.bool_:
        return 1
    if np.issubdtype(dtype, np.floating):
        return 2 ** np.finfo(dtype).nmant  # every integer up to here is exact
    return int(np.iinfo(dtype).max)


@pytest.mark.parametrize("layout", LAYOUTS)
@pytest.mark.parametrize("dtype", DTYPES, ids=lambda dtype: np.dtype(dtype).name)
@settings(max_examples=15, deadline=None)
@given(data=st.data())
def test_arrays_of_every_dtype_and_layout_convert_exactly(dtype, layout, data):
    # Values close together, anywhere in the dtype's range, so that masks stay small.
    top = largest(dtype)
    base = data.draw(st.integers(0, top))
    values = [min(top, base + offset) for offset in data.draw(st.lists(st.integers(0, 1000), max_size=40))]
    indices = LAYOUTS[layout](np.array(values, dtype=dtype))
    expected = sorted(set(values))

    b = Bitmap(indices)

    positions = b.index_array()
    assert positions.dtype == np.uint64 and positions.tolist() == expected
    if expected:
        assert np.flatnonzero(~b.bool_array()).tolist() == [p - expected[0] for p in expected]
    if not expected or expected[-1] < 1 << 16:
        assert np.flatnonzero(b.bool_array(invert=False, relative=False)).tolist() == expected


def test_array_methods_raise_no_numpy_warnings():
    code = ("import numpy as np; from _veltrane_rec_extension import Bitmap; "
            "b = Bitmap(np.array([3, 40], dtype='>i8')); b.index_array(); b.bool_array()")
    child = subprocess.run([sys.executable, "-W", "error", "-c", code], capture_output=True, text=True,
                           timeout=120)
    assert child.returncode == 0, child.stderr
