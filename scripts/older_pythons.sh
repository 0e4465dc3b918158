#!/usr/bin/env bash
# Builds the extension for each older CPython the package supports (3.11, 3.12)
# that this machine has, and checks that it writes, from one seed, the same
# bytes as the 3.13 build in $ROOT/build. Sourced by test.sh; skips, saying
# so, a version that is absent.
run_older_pythons() {
  local roundtrip='import hashlib, os, sys, tempfile, korvane
inst = korvane.load_min_instance(sys.argv[1])
data = korvane.generate_multi_commodity_data(inst, 4, 2, randomize_caps=True, randomize_costs=True,
                                             cap_zero=True, cap_zero_param=0.3, seed=11)
path = os.path.join(tempfile.mkdtemp(), "out.mc")
korvane.save_multi_commodity_instance(path, inst, data)
assert korvane.load_multi_commodity_instance(path).num_commodities == 4
print(hashlib.sha256(open(path, "rb").read()).hexdigest())'
  local network="$ROOT/examples/network.min" expected version python build got
  expected=$(PYTHONPATH="$ROOT/build/python" "$PY" -P -c "$roundtrip" "$network")
  for version in 3.11 3.12; do
    python=$(command -v "python$version" || true)
    if [ -z "$python" ] || ! "$python" -c 'import sys' >/dev/null 2>&1; then
      python=$(ls -d "$(pyenv root 2>/dev/null)"/versions/"$version".*/bin/python"$version" 2>/dev/null |
               sort -V | tail -n 1)
    fi
    if [ -z "$python" ]; then
      echo "== [python $version] not on this machine: skipped"
      continue
    fi
    build="$ROOT/build-py$version"
    echo "== [python $version] build and round trip ($python)"
    cmake -S "$ROOT" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVANE_WERROR=ON \
      -DPython_EXECUTABLE="$python" >/dev/null
    cmake --build "$build" -j "$(nproc)" --target korvane
    got=$(PYTHONPATH="$build/python" "$python" -P -c "$roundtrip" "$network")
    if [ "$got" != "$expected" ]; then
      echo "python $version wrote $got, 3.13 wrote $expected" >&2
      exit 1
    fi
  done
}
