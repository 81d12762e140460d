"""Runs the Python tests against the sanitizer build of the module with leak detection
on, and fails when a leak report points into this project's code.

The interpreter and NumPy keep objects alive until exit on purpose, and the module's
types and functions are made once at import and live until shutdown; neither is a
leak of ours. Every other leaked allocation whose stack passes through storage/,
python/ or scanner/ is. PYTHONMALLOC=malloc gives each Python object its own
allocation, so an object leaked by a missing reference release shows up too.

    python scripts/leak_check.py SANITIZER_BUILD_DIR [pytest arguments...]
"""
import os
import re
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
OUR_CODE = re.compile(r"/(storage|python|scanner)/[\w.]+:\d+")
# The module body runs in PyInit_<name> (single-phase) or pybind11_exec_<name> (multi-phase).
MADE_AT_IMPORT = re.compile(r"(PyInit|pybind11_exec)__veltrane_rec_extension\b")


def preload():
    def library(name):
        return subprocess.run(["gcc", f"-print-file-name={name}"], capture_output=True, text=True).stdout.strip()
    return f"{library('libasan.so')} {library('libstdc++.so')}"


def leaks_of_ours(report):
    records = re.split(r"\n(?=(?:Direct|Indirect) leak of)", report)
    return [r for r in records if " leak of " in r and OUR_CODE.search(r) and not MADE_AT_IMPORT.search(r)]


def main():
    build = Path(sys.argv[1]).resolve()
    with tempfile.TemporaryDirectory() as folder:
        log = Path(folder) / "asan"
        env = dict(os.environ,
                   LD_PRELOAD=preload(), PYTHONMALLOC="malloc",
                   # The sanitizer build's module, and the companion package from the source tree.
                   PYTHONPATH=os.pathsep.join([str(build / "python"), str(ROOT)]),
                   # exitcode=0: leaks found at exit must not fail the subprocesses some tests start;
                   # the reports are read from the log instead.
                   ASAN_OPTIONS=f"detect_leaks=1:exitcode=0:allocator_may_return_null=1:log_path={log}",
                   UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1")
        tests = subprocess.run([sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider", *sys.argv[2:]],
                               cwd=ROOT / "tests" / "python", env=env)
        reports = "".join(p.read_text() for p in Path(folder).glob("asan*"))
    errors = [e for e in re.findall(r"ERROR: AddressSanitizer: [^\n]+|runtime error: [^\n]+", reports)]
    ours = leaks_of_ours(reports)
    total = len(re.findall(r"(?:Direct|Indirect) leak of", reports))
    print(f"leak check: {total} leak records from the interpreter run, {len(ours)} in this project's code")
    for record in ours[:5]:
        print(record[:2000])
    for error in errors[:5]:
        print(error)
    if errors or ours:
        sys.exit(1)
    sys.exit(tests.returncode)


if __name__ == "__main__":
    main()
