#!/usr/bin/env bash
# Prepares a fresh machine for building and testing: system packages, the .venv with
# the pinned Python packages, and the pinned third-party sources (fetched and checked by
# sha256). It builds nothing: CMake does. Every step checks whether it is already done,
# so a second run is quick.
set -euo pipefail
cd "$(dirname "$0")/.."

die() { echo "setup: $*" >&2; exit 1; }
# shellcheck source=scripts/interpreters.sh
source scripts/interpreters.sh

# GoogleTest is needed by the C++ tests only; CRoaring and simdjson are compiled by the
# build from the pinned sources that scripts/third_party.py fetches and checks.
# clang and its runtime libraries build the scanner's libFuzzer target.
DEBIAN_PACKAGES=(libgtest-dev clang libclang-rt-14-dev)

install_debian_packages() {
  local missing=()
  for pkg in "${DEBIAN_PACKAGES[@]}"; do
    dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return
  echo "setup: installing ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -qq >/dev/null || die "apt-get update failed; check the network and retry"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null ||
    die "could not install ${missing[*]} with apt-get; install them by hand and rerun"
}

# The development environment runs a current interpreter: 3.13, else 3.12. The matrix
# (scripts/matrix.sh) covers the other supported ones.
DEVELOPMENT_PYTHONS=(3.13 3.12)

make_venv() {
  local py version
  if [ ! -x .venv/bin/python ]; then
    for version in "${DEVELOPMENT_PYTHONS[@]}"; do
      py=$(find_python "$version") && break
    done
    [ -n "$py" ] ||
      die "neither python3.13 nor python3.12 found; install one with its headers (for example 'pyenv install 3.13') and rerun"
    echo "setup: creating .venv with $py"
  fi
  make_venv_with "${py:-.venv/bin/python}" .venv requirements-test.txt requirements.txt || die "could not prepare .venv"
  .venv/bin/python -c 'import sys; assert sys.version_info[:2] in ((3, 13), (3, 12))' ||
    die ".venv runs neither Python 3.13 nor 3.12 (made by an older set-up?); remove .venv and rerun"
}

install_debian_packages
make_venv
.venv/bin/python scripts/third_party.py || die "the pinned third-party sources could not be put in place"
