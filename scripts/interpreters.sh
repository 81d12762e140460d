# Sourced by the set-up and build scripts: finding the CPython interpreters this machine
# has, and virtual environments holding the pinned test packages.

# Prints the path of a working pythonX.Y (on PATH, under pyenv, or in /usr(/local)/bin);
# fails quietly when there is none.
find_python() {
  local version=$1 candidate
  for candidate in "$(command -v "python$version" 2>/dev/null)" \
      "${PYENV_ROOT:-$HOME/.pyenv}"/versions/"$version".*/bin/python"$version" \
      /usr/bin/python"$version" /usr/local/bin/python"$version"; do
    [ -n "$candidate" ] && [ -x "$candidate" ] && "$candidate" -c '' 2>/dev/null &&
      { echo "$candidate"; return 0; }
  done
  return 1
}

# Makes the virtual environment $2 with the interpreter $1 (unless it exists) and brings
# the pinned packages of the requirement files $3... into it when they changed.
make_venv_with() {
  local python=$1 venv=$2; shift 2
  if [ ! -x "$venv/bin/python" ]; then
    "$python" -m venv "$venv" || { echo "could not create $venv with $python" >&2; return 1; }
  fi
  if ! cat "$@" | cmp -s - "$venv/.requirements-installed"; then
    echo "installing the pinned Python packages into $venv"
    local files=() file
    for file in "$@"; do files+=(-r "$file"); done
    "$venv/bin/python" -m pip install -q --disable-pip-version-check "${files[@]}" ||
      { echo "pip could not install $*; check the network and retry" >&2; return 1; }
    cat "$@" > "$venv/.requirements-installed"
  fi
}
