# The C++ package as its users take it, after the GCC suite (it reuses that
# build, $ROOT/build, and its Python module as the reference):
# - the API reference from the public headers' comments (Doxygen, a warning is
#   an error: every public function and type is documented);
# - tests/consumer (consumer_test and the example program) built with
#   -Wall -Wextra -Werror three ways: against an installed prefix (GCC), against
#   the build tree (Clang), and through FetchContent of the checkout (GCC with
#   ASan and UBSan, the library built along with the same flags, as a shared
#   library that must export no symbol of the core's namespaces); plus
#   examples/cpp as its own project against the prefix and the build tree, and
#   the example compiled with nothing but pkg-config's flags;
# - every run's files are compared byte for byte with what the Python module
#   writes for the same arguments, its error lines (kind, message, note) with
#   the exceptions Python raises.
# Sourced by test.sh: uses ROOT, PY, LOGS, STAGE and summarize.

cpp_consumer_compare() {  # cpp_consumer_compare OUT_DIR: C++ files against Python's
  local out=$1 part
  for part in mcf nod arc sup mut; do cmp "$out/cpp.$part" "$out/py.$part"; done
  for part in nod arc sup mut; do cmp "$out/cpp_jlf.$part" "$out/py_jlf.$part"; done
  cmp "$out/cpp_example.mcf" "$out/py_example.mcf"
  cmp "$out/cpp_netgen.min" "$out/py_netgen.min"
  for part in nod arc sup mut; do
    cmp "$out/cpp_mnetgen.$part" "$out/py_mnetgen.$part"
    cmp "$out/cpp_mnetgen_zst.$part.zst" "$out/py_mnetgen_zst.$part.zst"
  done
  diff "$out/cpp_errors.tsv" "$out/py_errors.tsv"
  diff "$out/cpp_version.txt" "$out/py_version.txt"
}

cpp_consumer_run() {  # cpp_consumer_run NAME BUILD_DIR [env...]: run both programs, compare
  local name=$1 build=$2 work="$ROOT/build-consumers"
  shift 2
  local out="$work/$name-out" net="$ROOT/examples/network.min" jlf="$ROOT/tests/consumer/data/tiny_psp"
  rm -rf "$out" && mkdir -p "$out"
  env "$@" "$build/consumer_test" "$net" "$jlf" "$out"
  env "$@" "$build/generate_commodities" "$net" "$out/cpp_example.mcf" > /dev/null
  PYTHONPATH="$ROOT/build/python" "$PY" -P "$ROOT/tests/consumer/python_reference.py" "$net" "$jlf" "$out"
  cpp_consumer_compare "$out"
}

cpp_consumer_build() {  # cpp_consumer_build SOURCE BUILD_DIR CXX [cmake args...]
  local source=$1 build=$2 cxx=$3 launcher=()
  shift 3
  command -v ccache > /dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  rm -rf "$build"
  cmake -S "$source" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER="$cxx" \
    "${launcher[@]}" "$@" > "$build.log" 2>&1 || { cat "$build.log"; return 1; }
  cmake --build "$build" -j "$(nproc)" >> "$build.log" 2>&1 || { cat "$build.log"; return 1; }
}

run_cpp_consumers() {
  local work="$ROOT/build-consumers" started=$SECONDS
  rm -rf "$work" && mkdir -p "$work"

  STAGE="[c++] API reference"
  echo "== [c++] API reference (Doxygen)"
  mkdir -p "$work/docs"
  (cd "$ROOT" && KORVANE_DOCS_OUT="$work/docs" doxygen docs/cpp/Doxyfile)
  summarize "[c++] API reference" "doxygen: no warning, $(ls "$work/docs/html" | wc -l) files"

  STAGE="[c++] installed prefix"
  echo "== [c++] consumers against an installed prefix (g++)"
  cmake --install "$ROOT/build" --prefix "$work/prefix" > /dev/null
  cpp_consumer_build "$ROOT/tests/consumer" "$work/installed" g++ -DCMAKE_PREFIX_PATH="$work/prefix"
  cpp_consumer_run installed "$work/installed"
  cpp_consumer_build "$ROOT/examples/cpp" "$work/example-installed" g++ -DCMAKE_PREFIX_PATH="$work/prefix"
  # Nothing but pkg-config's flags.
  g++ -std=c++20 -Wall -Wextra -Werror "$ROOT/examples/cpp/generate_commodities.cpp" -o "$work/example-pc" \
    $(PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig" pkg-config --cflags --libs korvane)
  "$work/example-installed/generate_commodities" "$ROOT/examples/network.min" "$work/example-installed.mcf" > /dev/null
  "$work/example-pc" "$ROOT/examples/network.min" "$work/example-pc.mcf" > /dev/null
  cmp "$work/example-installed.mcf" "$work/installed-out/py_example.mcf"
  cmp "$work/example-pc.mcf" "$work/installed-out/py_example.mcf"

  STAGE="[c++] build tree"
  echo "== [c++] consumers against the build tree (clang++)"
  cpp_consumer_build "$ROOT/tests/consumer" "$work/build-tree" clang++ -Dkorvane_DIR="$ROOT/build"
  cpp_consumer_run build-tree "$work/build-tree"
  cpp_consumer_build "$ROOT/examples/cpp" "$work/example-build-tree" clang++ -Dkorvane_DIR="$ROOT/build"
  "$work/example-build-tree/generate_commodities" "$ROOT/examples/network.min" "$work/example-build-tree.mcf" > /dev/null
  cmp "$work/example-build-tree.mcf" "$work/installed-out/py_example.mcf"

  STAGE="[c++] FetchContent, ASan/UBSan"
  echo "== [c++] consumers through FetchContent of the checkout (g++, ASan and UBSan)"
  cpp_consumer_build "$ROOT/tests/consumer" "$work/fetch" g++ -DKORVANE_FROM=fetch \
    -DKORVANE_SOURCE_DIR="$ROOT" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_SHARED_LIBS=ON \
    "-DCMAKE_CXX_FLAGS=-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
  # Included from another project, korvane builds neither its tests nor its module.
  if grep -qE 'test_arc_order|cpython' "$work/fetch/build.ninja"; then
    echo "FetchContent built korvane's own tests or module" >&2
    return 1
  fi
  # Built shared, the library exports the public API (korvane::v0) and no function,
  # object or class data of the core's namespaces. (Instances of std templates over
  # core types may be: libstdc++ declares namespace std with default visibility.)
  local exported
  exported=$(nm -D --defined-only -C "$work/fetch/_deps/korvane-build/libkorvane.so" |
    awk '{ $1 = ""; $2 = ""; sub(/^ +/, ""); print }' |
    sed -E 's/^(typeinfo name for|typeinfo for|vtable for|VTT for|guard variable for) //' |
    grep -E '^korvane::' | grep -vE '^korvane::v0::' || true)
  if [ -n "$exported" ]; then
    echo "the shared library exports internal symbols:" >&2
    echo "$exported" | head -n 20 >&2
    return 1
  fi
  cpp_consumer_run fetch "$work/fetch" ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

  summarize "[c++] consumers" "installed (g++, pkg-config), build tree (clang++), FetchContent \
(g++ ASan/UBSan, shared, core symbols hidden): the bytes and errors Python writes, $((SECONDS - started)) s"
}
