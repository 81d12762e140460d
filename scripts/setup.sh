#!/usr/bin/env bash
# Prepares a fresh machine for building and testing: system packages, the .venv
# with pinned Python packages, and the CRoaring amalgamation built as a static
# library. Every step checks whether it is already done, so a second run is quick.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

die() { echo "setup: $*" >&2; exit 1; }

# clang and its runtime libraries build the scanner's libFuzzer target.
DEBIAN_PACKAGES=(libsimdjson-dev libgtest-dev clang libclang-rt-14-dev)
CROARING_SDIST=pyroaring==1.0.3
CROARING_C_SHA256=3b840f824e49c8353401938621eb306efb1d2b3ca88f224a72fe3f867bdcb9d6
CROARING_H_SHA256=995c8149bb8aa46664f17b0212408bf30f08fe1134b09686d1dacf024c3ba4ae
deps="$root/.deps/croaring"

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

find_python38() {
  if command -v python3.8 >/dev/null 2>&1 && python3.8 -c '' 2>/dev/null; then
    command -v python3.8; return
  fi
  local candidate
  for candidate in "${PYENV_ROOT:-$HOME/.pyenv}"/versions/3.8*/bin/python3.8 /usr/bin/python3.8 /usr/local/bin/python3.8; do
    [ -x "$candidate" ] && { echo "$candidate"; return; }
  done
  die "python3.8 not found; install CPython 3.8 with its headers (for example 'pyenv install 3.8') and rerun"
}

make_venv() {
  if [ ! -x .venv/bin/python ]; then
    local py; py=$(find_python38)
    echo "setup: creating .venv with $py"
    "$py" -m venv .venv || die "could not create .venv with $py"
  fi
  .venv/bin/python -c 'import sys; assert sys.version_info[:2] == (3, 8)' ||
    die ".venv does not run Python 3.8; remove .venv and rerun"
  if ! cmp -s requirements.txt .venv/.requirements-installed; then
    echo "setup: installing pinned Python packages into .venv"
    .venv/bin/python -m pip install -q --disable-pip-version-check -r requirements.txt ||
      die "pip could not install requirements.txt; check the network and retry"
    cp requirements.txt .venv/.requirements-installed
  fi
}

check_sha256() {
  local file=$1 expected=$2
  echo "$expected  $file" | sha256sum --check --status ||
    die "sha256 mismatch for $(basename "$file") from $CROARING_SDIST; refusing to build it (delete .deps and rerun, or update the pinned hash after review)"
}

fetch_croaring() {
  if [ -f "$deps/roaring.c" ] && [ -f "$deps/roaring.h" ]; then
    check_sha256 "$deps/roaring.c" "$CROARING_C_SHA256"
    check_sha256 "$deps/roaring.h" "$CROARING_H_SHA256"
    return
  fi
  echo "setup: fetching the CRoaring amalgamation from the $CROARING_SDIST source distribution"
  local tmp; tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' RETURN
  .venv/bin/python -m pip download -q --disable-pip-version-check --no-deps --no-binary :all: \
    "$CROARING_SDIST" -d "$tmp" || die "could not download $CROARING_SDIST with pip; check the network and retry"
  local archive; archive=$(ls "$tmp"/*.tar.gz)
  tar -xzf "$archive" -C "$tmp" --wildcards '*/pyroaring/roaring.c' '*/pyroaring/roaring.h' ||
    die "$CROARING_SDIST does not carry pyroaring/roaring.c and roaring.h"
  check_sha256 "$tmp"/*/pyroaring/roaring.c "$CROARING_C_SHA256"
  check_sha256 "$tmp"/*/pyroaring/roaring.h "$CROARING_H_SHA256"
  mkdir -p "$deps"
  cp "$tmp"/*/pyroaring/roaring.c "$tmp"/*/pyroaring/roaring.h "$deps/"
}

# Rebuilt when the sources are newer or the flags changed (recorded next to the library).
build_croaring() {
  local lib="$deps/$1/libroaring.a" flags=$2 stamp="$deps/$1/flags"
  [ -f "$lib" ] && [ "$lib" -nt "$deps/roaring.c" ] && [ "$(cat "$stamp" 2>/dev/null)" = "$flags" ] && return
  echo "setup: building CRoaring ($1)"
  mkdir -p "$deps/$1"
  # shellcheck disable=SC2086
  cc -std=c11 -fPIC $flags -c "$deps/roaring.c" -o "$deps/$1/roaring.o" ||
    die "could not compile roaring.c"
  rm -f "$lib"
  ar rcs "$lib" "$deps/$1/roaring.o"
  echo "$flags" >"$stamp"
}

install_debian_packages
make_venv
fetch_croaring
# -fexceptions: the allocation hooks of storage/allocation_hooks.cpp throw std::bad_alloc
# out of CRoaring's allocation calls, and the exception must unwind through its C frames.
build_croaring release "-O3 -DNDEBUG -fexceptions"
build_croaring sanitize "-O1 -g -fno-omit-frame-pointer -fsanitize=address,undefined -fexceptions"
