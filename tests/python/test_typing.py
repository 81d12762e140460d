"""The shipped type stubs against the built module, and a typed example under mypy --strict."""
import subprocess
import sys
from pathlib import Path

import pytest

import _veltrane_rec_extension

pytest.importorskip("mypy")
HERE = Path(__file__).resolve().parent
EXAMPLE = HERE.parents[1] / "examples" / "typed_usage.py"


def run_mypy(*arguments):
    return subprocess.run([sys.executable, "-m", *arguments], capture_output=True, text=True)


def test_stubs_match_the_built_module():
    result = run_mypy("mypy.stubtest", "--allowlist", str(HERE / "stubtest_allowlist.txt"), "_veltrane_rec_extension")
    assert result.returncode == 0, result.stdout + result.stderr


def test_typed_example_passes_strict_checking_and_runs():
    checked = run_mypy("mypy", "--strict", "--no-incremental", str(EXAMPLE))
    assert checked.returncode == 0, checked.stdout + checked.stderr
    ran = subprocess.run([sys.executable, str(EXAMPLE)], capture_output=True, text=True)
    assert ran.returncode == 0, ran.stderr
    assert "(2, 12)" in ran.stdout
