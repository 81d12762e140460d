#!/usr/bin/env bash
# Builds the module for every supported interpreter besides the development one (.venv)
# that this machine has, each in a virtual environment of its own under build/matrix/,
# and runs the Python tests against it. On 3.11 the tests run twice, with its newest
# NumPy 2 and then with NumPy 1.26, so that every run covers both NumPy majors. Ends with
# one line naming the interpreters tested and those absent; fails when any build or test
# fails.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/interpreters.sh
source scripts/interpreters.sh

SUPPORTED=(3.8 3.9 3.10 3.11 3.12 3.13)
declare -A SECOND_NUMPY=([3.11]=1.26.4)
development=$(.venv/bin/python -c 'import sys; print("%d.%d" % sys.version_info[:2])')

run_tests() {
  local venv=$1 label=$2
  echo "matrix: $label"
  (cd tests/python && "../../$venv/bin/python" -m pytest -q -p no:cacheprovider)
}

tested=() absent=()
for version in "${SUPPORTED[@]}"; do
  [ "$version" = "$development" ] && continue
  if ! python=$(find_python "$version"); then
    absent+=("$version")
    continue
  fi
  venv=build/matrix/$version
  echo "matrix: CPython $version ($python)"
  make_venv_with "$python" "$venv" requirements-test.txt
  "$venv/bin/python" -m pip install -q --disable-pip-version-check --no-build-isolation --no-deps .
  run_tests "$venv" "CPython $version, NumPy $("$venv/bin/python" -c 'import numpy; print(numpy.__version__)')"
  tested+=("$version")
  if [ -n "${SECOND_NUMPY[$version]:-}" ]; then
    "$venv/bin/python" -m pip install -q --disable-pip-version-check "numpy==${SECOND_NUMPY[$version]}"
    # The next make_venv_with puts the pinned NumPy back.
    rm -f "$venv/.requirements-installed"
    run_tests "$venv" "CPython $version, NumPy ${SECOND_NUMPY[$version]}"
    tested+=("$version+numpy-${SECOND_NUMPY[$version]}")
  fi
done
echo "matrix: tested ${tested[*]:-none}; absent: ${absent[*]:-none}"
