import re

import pytest

import _veltrane_rec_extension as ext

SPAN = 1 << 32
MAX = (1 << 64) - 1


@pytest.fixture
def Bitmap():
    return ext.Bitmap


class SubBitmap(ext.Bitmap):
    """A subclass with nothing of its own: calls on its instances always take the
    registered functions, never the direct entries, so they show what the direct
    entries must give."""


def outcome(call):
    """What a call gives, comparable across objects: a Bitmap result as its positions,
    an exception as its type and message with object addresses and subclass names
    taken out."""
    try:
        result = call()
    except Exception as error:  # noqa: BLE001 - the exception is the outcome
        message = re.sub(r"<[\w.]+ object at 0x[0-9a-f]+>", "<object>", str(error))
        return type(error), message.replace("SubBitmap", "_veltrane_rec_extension.Bitmap")
    if isinstance(result, ext.Bitmap):
        return type(result), result.index_array().tolist()
    return type(result), result
