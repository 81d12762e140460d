import pytest

import _veltrane_rec_extension as ext

SPAN = 1 << 32
MAX = (1 << 64) - 1


@pytest.fixture
def Bitmap():
    return ext.Bitmap
