#!/usr/bin/env bash
# Builds the module for every supported interpreter besides the reference 3.8 (3.9 to
# 3.12) that this machine has, each in a virtual environment of its own under
# build/matrix/, and runs the Python tests against it. Ends with one line naming the
# interpreters tested and those absent; fails when any build or test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/interpreters.sh
source scripts/interpreters.sh

tested=() absent=()
for version in 3.9 3.10 3.11 3.12; do
  if ! python=$(find_python "$version"); then
    absent+=("$version")
    continue
  fi
  venv=build/matrix/$version
  echo "matrix: CPython $version ($python)"
  make_venv_with "$python" "$venv" requirements-test.txt
  "$venv/bin/python" -m pip install -q --disable-pip-version-check --no-build-isolation --no-deps .
  (cd tests/python && "../../$venv/bin/python" -m pytest -q -p no:cacheprovider)
  tested+=("$version")
done
echo "matrix: tested ${tested[*]:-none}; absent: ${absent[*]:-none}"
