# The documentation site (docs/, Sphinx with MyST) built against the GCC build tree, with
# warnings as errors: a broken link, a page missing from the table of contents, a docstring
# that does not render or a command missing from the command reference fails the stage.
# Sourced by test.sh; the HTML lands in build/docs-html.
build_docs() {
  rm -rf "$ROOT/build/docs-html" "$ROOT/build/docs-doctrees"
  cd "$ROOT" && PYTHONPATH="$ROOT/build/python" "$PY" -P -m sphinx -W --keep-going -q -b html \
    -d "$ROOT/build/docs-doctrees" docs "$ROOT/build/docs-html"
  echo "built $(find "$ROOT/build/docs-html" -name '*.html' | wc -l) pages in build/docs-html"
}
