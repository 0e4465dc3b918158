"""Sphinx configuration of korvane's documentation: Markdown pages (MyST), the command
reference from the command line's own parser (_ext/clidoc.py), and the Python API from the docstrings, with
the native module's signatures taken from its stubs (__init__.pyi).

Build from the repository root, against a build tree or an installed korvane:

    PYTHONPATH=build/python .venv/bin/python -m sphinx -W -b html docs build/docs-html
"""

from __future__ import annotations

import ast
import sys
from pathlib import Path
from typing import Any

import korvane

sys.path.insert(0, str(Path(__file__).resolve().parent / "_ext"))

project = "korvane"
release = version = korvane.__version__
copyright = "the korvane developers"

extensions = ["myst_parser", "sphinx.ext.autodoc", "sphinx.ext.napoleon", "clidoc"]
source_suffix = {".md": "markdown"}
root_doc = "index"
# Pages other branches add appear through index.md's glob; these are not pages.
exclude_patterns = ["_build", "_ext", "cpp/**", "README.md"]
myst_heading_anchors = 3
html_theme = "alabaster"
html_theme_options = {"page_width": "1160px", "sidebar_width": "230px"}
# Shell lines and plain text are the usual code here; Python blocks say so.
highlight_language = "none"
# "--json" stays two hyphens.
smartquotes = False
napoleon_google_docstring = True
napoleon_numpy_docstring = False
html_title = f"korvane {release}"
autodoc_member_order = "bysource"
autodoc_typehints = "signature"
suppress_warnings: list[str] = []


def _stub_signatures() -> dict[str, tuple[str, str | None]]:
    """(parameters, return annotation) by qualified name, from the package's stubs."""
    stub = Path(korvane.__file__).with_name("__init__.pyi")
    found: dict[str, tuple[str, str | None]] = {}

    def visit(body: list[ast.stmt], prefix: str) -> None:
        for node in body:
            if isinstance(node, ast.ClassDef):
                visit(node.body, f"{prefix}{node.name}.")
            elif isinstance(node, ast.FunctionDef):
                args = ast.unparse(node.args)
                returns = ast.unparse(node.returns) if node.returns is not None else None
                found[prefix + node.name] = (f"({args})", returns)

    visit(ast.parse(stub.read_text(encoding="utf-8")).body, "korvane.")
    return found


STUBS = _stub_signatures()


def _signature(app: Any, what: str, name: str, obj: Any, options: Any, signature: str | None,
               return_annotation: str | None) -> tuple[str | None, str | None] | None:
    # The native functions and methods carry no signature of their own: the stubs have it.
    if what in ("function", "method") and name in STUBS:
        params, returns = STUBS[name]
        if what == "method":
            params = params.replace("(self, ", "(", 1).replace("(self)", "()", 1)
        return params, returns
    return None


GOOGLE_SECTIONS = ("Args:", "Returns:", "Raises:")


def _plain_text(app: Any, what: str, name: str, obj: Any, options: Any, lines: list[str]) -> None:
    # korvane's docstrings are plain text laid out for help() and IDEs (aligned tables,
    # indented lists), not reStructuredText: they are shown as they are written, except
    # those with Args/Returns/Raises sections, which napoleon lays out.
    if any(line.strip() in GOOGLE_SECTIONS for line in lines):
        return
    if any(line.strip() for line in lines):
        lines[:] = ["::", ""] + ["   " + line if line else "" for line in lines] + [""]


def setup(app: Any) -> None:
    app.connect("autodoc-process-signature", _signature)
    # Before napoleon's handler (priority 500), which then sees only the Google-style ones.
    app.connect("autodoc-process-docstring", _plain_text, priority=400)
    sys.setrecursionlimit(max(sys.getrecursionlimit(), 3000))
