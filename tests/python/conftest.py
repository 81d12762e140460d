import os
import resource
import subprocess
import sys
import textwrap

import pytest

import _veltrane_rec_extension as ext

SPAN = 1 << 32
MAX = (1 << 64) - 1


@pytest.fixture
def Bitmap():
    return ext.Bitmap


def _run_limited(code, address_space=None, stack=None):
    """Runs code in a child interpreter whose address space and stack size are limited to the
    given numbers of bytes; glibc sizes the stacks of new threads by the stack limit."""
    def apply_limits():
        for kind, value in ((resource.RLIMIT_AS, address_space), (resource.RLIMIT_STACK, stack)):
            if value is not None:
                resource.setrlimit(kind, (value, value))

    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True,
                          text=True, preexec_fn=apply_limits, timeout=600)


@pytest.fixture
def run_limited():
    """_run_limited; skipped in the sanitizer run, whose shadow memory needs far more address
    space than any such limit allows."""
    if "libasan" in os.environ.get("LD_PRELOAD", ""):
        pytest.skip("AddressSanitizer cannot run under an address-space limit")
    return _run_limited
