#!/usr/bin/env bash
# Shared set-up for the demo and the test commands: a Python 3.13 virtual
# environment in .venv with the build dependencies (and, for the tests, the test
# tools), and the Debian packages the native build and its checks need.
# Sourced by demo.sh and test.sh; sets PY to the environment's interpreter.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
VENV="$ROOT/.venv"
# What `pip install .` needs (the build backend and its tools): all the demo installs.
BUILD_REQUIREMENTS=(scikit-build-core cmake ninja)
# The test runner, type checkers, and the optional dependencies whose features
# the tests exercise (Dask runs a suite on a local cluster; matplotlib is
# imported by the plotting example that mypy checks and draws the suite report's plots;
# Sphinx and MyST build the documentation). test.sh adds these.
TEST_REQUIREMENTS=(
  pytest hypothesis mypy
  numpy
  dask[distributed] tqdm
  matplotlib
  highspy networkx
  sphinx myst-parser
  scipy
)
REQUIREMENTS=("${BUILD_REQUIREMENTS[@]}" "${TEST_REQUIREMENTS[@]}")
# GoogleTest, Clang (CI builds with both compilers) with its sanitizer and
# fuzzer runtimes, zlib and libzstd for compressed input (and the zstd command
# that makes the tests' zstd files), Chromium, which renders the suite report in the tests,
# and strace, with which tests stop a writer at a chosen system call.
DEBIAN_PACKAGES=(
  libgtest-dev
  clang libclang-rt-14-dev
  zlib1g-dev
  libzstd-dev zstd
  chromium
  libglpk-dev
  doxygen pkg-config
  strace
)

find_python() {
  if command -v python3.13 >/dev/null 2>&1 && python3.13 -c 'import sys' >/dev/null 2>&1; then
    command -v python3.13
    return
  fi
  if command -v pyenv >/dev/null 2>&1; then
    local candidate
    for candidate in $(ls -d "$(pyenv root)"/versions/3.13*/bin/python3.13 2>/dev/null | sort -V -r); do
      if "$candidate" -c 'import sys' >/dev/null 2>&1; then
        echo "$candidate"
        return
      fi
    done
  fi
  echo "error: no working Python 3.13 found (tried python3.13 on PATH and pyenv's 3.13 versions);" >&2
  echo "       install CPython 3.13 and run this command again." >&2
  exit 1
}

# ensure_venv [REQUIREMENT...]: the virtual environment, with the given packages
# (all of REQUIREMENTS by default) installed. What is installed is remembered, so
# a later call installs only what an earlier one did not.
ensure_venv() {
  local wanted=("$@")
  [ ${#wanted[@]} -eq 0 ] && wanted=("${REQUIREMENTS[@]}")
  if [ -x "$VENV/bin/python" ] && "$VENV/bin/python" -c 'import sys; sys.exit(sys.version_info[:2] != (3, 13))' 2>/dev/null; then
    :
  else
    local base
    base="$(find_python)"
    echo "== creating $VENV with $base"
    rm -rf "$VENV"
    "$base" -m venv "$VENV"
  fi
  PY="$VENV/bin/python"
  local stamp="$VENV/.korvane-requirements" missing=() req
  for req in "${wanted[@]}"; do
    grep -qxF -- "$req" "$stamp" 2>/dev/null || missing+=("$req")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "== installing into $VENV: ${missing[*]}"
    "$PY" -m pip install --quiet --disable-pip-version-check "${missing[@]}"
    printf '%s\n' "${missing[@]}" >> "$stamp"
  fi
  export PATH="$VENV/bin:$PATH"
}

# The libraries the package itself links (compressed input): enough for pip install.
LIBRARY_PACKAGES=(zlib1g-dev libzstd-dev)

# ensure_debian_packages [PACKAGE...]: the given packages, or all of DEBIAN_PACKAGES.
ensure_debian_packages() {
  local missing=() pkg wanted=("$@")
  [ ${#wanted[@]} -eq 0 ] && wanted=("${DEBIAN_PACKAGES[@]}")
  for pkg in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return
  if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
    echo "== installing Debian packages: ${missing[*]}"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null 2>&1 ||
      { apt-get update -qq >/dev/null &&
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null; }
    return
  fi
  echo "error: missing Debian packages: ${missing[*]}" >&2
  echo "       (sudo apt-get install ${missing[*]}) and run this command again." >&2
  exit 1
}
