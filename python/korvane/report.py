"""A suite's report: one self-contained HTML page (no network access needed to read it)
with a sortable table of the instances that suite.json lists and, where matplotlib is
installed, plots of their demand heterogeneity, sizes and capacity tightness.

What suite.json records (network, parameters, files, feasibility and optimum when the suite
solved its instances) is completed by reading each instance file once: its node and arc
counts, the demand heterogeneity of its partition and its bundle ratio.

The bundle ratio of an arc is the sum of its commodities' capacities over the arc's own
bound: at most 1 the bound can never bind, K when every commodity may use the whole arc.
An instance's ratio is the mean over its arcs with a finite, positive bound and finite
commodity capacities."""

from __future__ import annotations

import base64
import dataclasses
import html
import importlib
import io
import json
import math
import os
from collections.abc import Callable, Iterable, Sequence
from pathlib import Path
from typing import Any

import korvane

from . import suite as suites
from ._version import __version__

REPORT_FILE = "report.html"
PLOT_HINT = ("Plots need matplotlib: pip install 'korvane[plot]', or pip install '.[plot]' "
             "from a checkout, then write the report again.")


class ReportError(Exception):
    """suite.json is missing or is not a suite's record; the message names the file."""


@dataclasses.dataclass
class Row:
    name: str
    network: str
    num_commodities: int | None
    method: str
    seed: int | None
    files: list[str]
    size: int | None               # bytes, every file of the instance
    sha256: str                    # of the first file (an instance's files change together)
    status: str                    # the solve's status, or "" when the suite did not solve
    objective: float | None
    nodes: int | None = None
    arcs: int | None = None
    heterogeneity: float | None = None
    bundle_ratio: float | None = None
    problem: str = ""              # why the file could not be read, if it could not


def _int(value: Any) -> int | None:
    return value if isinstance(value, int) and not isinstance(value, bool) else None


def _float(value: Any) -> float | None:
    if isinstance(value, (int, float)) and not isinstance(value, bool) and math.isfinite(value):
        return float(value)
    return None


def read_suite(folder: str | os.PathLike[str]) -> tuple[dict[str, Any], list[Row]]:
    """suite.json of folder and one row per instance it lists, in its order."""
    path = Path(folder) / suites.SUITE_FILE
    try:
        with open(path, encoding="utf-8") as f:
            doc = json.load(f)
    except OSError as exc:
        raise ReportError(f"{path}: {exc.strerror or exc}") from None
    except (UnicodeDecodeError, json.JSONDecodeError) as exc:
        raise ReportError(f"{path}: not JSON ({exc})") from None
    except RecursionError:
        raise ReportError(f"{path}: nested too deeply: not a suite's record") from None
    if not isinstance(doc, dict) or not isinstance(doc.get("instances"), list):
        raise ReportError(f"{path}: no list of instances: not a suite's record")
    rows = []
    for i, entry in enumerate(doc["instances"]):
        if not isinstance(entry, dict):
            raise ReportError(f"{path}: instance {i + 1} is not an object")
        params: dict[str, Any] = entry["params"] if isinstance(entry.get("params"), dict) else {}
        files = [f for f in entry.get("files", []) if isinstance(f, dict)] \
            if isinstance(entry.get("files"), list) else []
        sizes = [_int(f.get("size")) for f in files]
        rows.append(Row(
            name=str(entry.get("name", "")),
            network=str(entry.get("network", "")),
            num_commodities=_int(params.get("num_commodities")),
            method=str(params.get("method", "")),
            seed=_int(params.get("seed")),
            files=[str(f.get("name", "")) for f in files],
            size=sum(s for s in sizes if s is not None) if files and None not in sizes else None,
            sha256=str(files[0].get("sha256", "")) if files else "",
            status=str(entry["status"]) if "status" in entry else "",
            objective=_float(entry.get("objective")),
        ))
    return doc, rows


def _mean_ratio(pairs: Iterable[tuple[Sequence[float], float]]) -> float | None:
    total, count = 0.0, 0
    for caps, bound in pairs:
        if not (math.isfinite(bound) and bound > 0):
            continue
        together = math.fsum(caps)
        if math.isfinite(together):
            total += together / bound
            count += 1
    return total / count if count else None


def _numpy() -> Any:
    try:
        return importlib.import_module("numpy")
    except ImportError:
        return None


def _mean_ratio_numpy(np: Any, caps: Any, bound: Any) -> float | None:
    caps = caps.astype(np.float64)
    bound = bound.astype(np.float64)
    with np.errstate(invalid="ignore", over="ignore"):
        together = caps.sum(axis=1)
    keep = np.isfinite(bound) & (bound > 0) & np.isfinite(together)
    return float(np.mean(together[keep] / bound[keep])) if keep.any() else None


def instance_stats(path: str | os.PathLike[str], fmt: str) -> tuple[int, int, float | None, float | None]:
    """(nodes, arcs, demand heterogeneity, bundle ratio) of an instance file (for Mnetgen,
    the base name of its parts). Raises what the reader raises."""
    np = _numpy()
    if fmt == "mnetgen":
        rec = suites.formats_module().read_mnetgen(os.fspath(path))
        rows = rec.supplies
        partition = {i + 1: [int(x) for x in row] for i, row in enumerate(rows)
                     if all(float(x).is_integer() for x in row)}
        original = {node: sum(amounts) for node, amounts in partition.items()}
        if np is not None:
            arrays = importlib.import_module("korvane.arrays").problem_arrays(rec)
            ratio = _mean_ratio_numpy(np, arrays["capacity"], arrays["bundle"])
        else:
            ratio = _mean_ratio(zip(rec.capacities, rec.bundle_capacities))
        nodes, arcs = int(rec.num_nodes), int(rec.num_arcs)
    else:
        parsed = korvane.load_multi_commodity_instance(os.fspath(path))
        partition = parsed.commodity_supply_demand_data
        original = parsed.supplies
        if np is not None:
            arrays = importlib.import_module("korvane.arrays").parsed_arrays(parsed)
            ratio = _mean_ratio_numpy(np, arrays["capacity"], arrays["up"])
        else:
            per_arc = parsed.commodity_capacities
            ratio = _mean_ratio((per_arc[arc], float(up)) for arc, up in zip(parsed.edges, parsed.capacities))
        nodes, arcs = int(parsed.num_nodes), int(parsed.num_arcs)
    heterogeneity = korvane.compute_commodity_demand_heterogeneity(partition, original)
    return nodes, arcs, float(heterogeneity), ratio


def fill_stats(folder: Path, fmt: str, rows: list[Row]) -> None:
    """Complete each row from its file; a file that cannot be read is named in the row."""
    for row in rows:
        names = row.files + ([row.name] if fmt == "mnetgen" else [])
        # Only plain names in the folder: an edited suite.json must not send the reader elsewhere.
        if not row.files or not all(suites._plain_name(f) for f in names):
            row.problem = "no plain file name recorded"
            continue
        target = folder / (row.name if fmt == "mnetgen" else row.files[0])
        try:
            row.nodes, row.arcs, row.heterogeneity, row.bundle_ratio = instance_stats(target, fmt)
        except (OSError, RuntimeError, ValueError, MemoryError, korvane.InternalError) as exc:
            row.problem = suites._reason(exc) or type(exc).__name__


# --- plots ----------------------------------------------------------------------------------


def _pyplot() -> Any:
    try:
        matplotlib = importlib.import_module("matplotlib")
    except ImportError:
        return None
    matplotlib.use("Agg", force=True)
    return importlib.import_module("matplotlib.pyplot")


def _png(plt: Any, fig: Any) -> str:
    buf = io.BytesIO()
    # No software or date stamp: the same suite gives the same page.
    fig.savefig(buf, format="png", dpi=96, bbox_inches="tight", metadata={"Software": None})
    plt.close(fig)
    return base64.b64encode(buf.getvalue()).decode("ascii")


def _by_method(rows: list[Row]) -> dict[str, list[Row]]:
    groups: dict[str, list[Row]] = {}
    for method in list(suites.METHODS) + sorted({r.method for r in rows} - set(suites.METHODS)):
        members = [r for r in rows if r.method == method]
        if members:
            groups[method] = members
    return groups


def plots(rows: list[Row]) -> list[tuple[str, str]] | None:
    """(title, base64 PNG) of each plot; None without matplotlib."""
    plt = _pyplot()
    if plt is None:
        return None
    groups = _by_method(rows)
    out = []

    def scatter(title: str, x: Callable[[Row], float | None], y: Callable[[Row], float | None],
                xlabel: str, ylabel: str, by_k: bool) -> None:
        """by_k: x is K, drawn as categories with the methods side by side; else log-log."""
        fig, ax = plt.subplots(figsize=(6.4, 4.0))
        ks = sorted({r.num_commodities for r in rows if r.num_commodities is not None})
        slot = {k: i for i, k in enumerate(ks)}
        width = 0.6 / max(len(groups), 1)
        for g, (method, members) in enumerate(groups.items()):
            points: list[tuple[float, float]] = []
            for r in members:
                a, b = x(r), y(r)
                if a is not None and b is not None:
                    points.append((slot[int(a)] + (g - (len(groups) - 1) / 2) * width if by_k else a, b))
            if points:
                ax.scatter([a for a, _ in points], [b for _, b in points], label=method, alpha=0.7)
        if by_k:
            ax.set_xticks(range(len(ks)), [str(k) for k in ks])
        else:
            ax.set_xscale("log")
            ax.set_yscale("log")
        ax.set_xlabel(xlabel)
        ax.set_ylabel(ylabel)
        ax.set_title(title)
        if ax.collections:
            ax.legend(title="method")
        ax.grid(True, alpha=0.3)
        out.append((title, _png(plt, fig)))

    def columns(r: Row) -> float | None:
        return r.arcs * r.num_commodities if r.arcs is not None and r.num_commodities else None

    scatter("Demand heterogeneity by method", lambda r: r.num_commodities, lambda r: r.heterogeneity,
            "commodities K", "demand heterogeneity (0 even, 1 one commodity)", True)
    scatter("Instance sizes", columns, lambda r: r.size, "arcs x K", "file size (bytes)", False)
    scatter("Capacity tightness", lambda r: r.num_commodities, lambda r: r.bundle_ratio,
            "commodities K", "bundle ratio (commodity capacities / arc bound)", True)
    return out


# --- page -----------------------------------------------------------------------------------

# (header, Row attribute, numeric)
COLUMNS: list[tuple[str, str, bool]] = [
    ("instance", "name", False), ("network", "network", False), ("K", "num_commodities", True),
    ("method", "method", False), ("seed", "seed", True), ("nodes", "nodes", True),
    ("arcs", "arcs", True), ("bytes", "size", True), ("sha256", "sha256", False),
    ("feasibility", "status", False), ("optimum", "objective", True),
    ("heterogeneity", "heterogeneity", True), ("bundle ratio", "bundle_ratio", True),
]

STYLE = """
body { font: 14px/1.4 system-ui, sans-serif; margin: 1.5em; color: #222; }
table { border-collapse: collapse; font-variant-numeric: tabular-nums; }
th, td { border-bottom: 1px solid #ddd; padding: 0.25em 0.6em; text-align: left; }
td.num { text-align: right; }
th { cursor: pointer; background: #f3f3f3; position: sticky; top: 0; user-select: none; }
th[aria-sort=ascending]::after { content: " \\25B2"; }
th[aria-sort=descending]::after { content: " \\25BC"; }
td.problem { color: #a00; }
.plots img { max-width: 100%; margin: 0.5em 1em 0.5em 0; }
.hint { background: #fff6d5; padding: 0.5em 1em; border-left: 4px solid #e0b400; }
code { font-size: 90%; }
"""

# Clicking a header sorts by its column (again: the other way); numbers compare as numbers,
# and empty cells go last. The address may name a column to sort by: report.html#sort=K
# (#sort=-K descending).
SCRIPT = """
(function () {
  var table = document.getElementById('instances');
  var body = table.tBodies[0];
  var heads = Array.prototype.slice.call(table.tHead.rows[0].cells);
  function key(cell, numeric) {
    var v = cell.getAttribute('data-v');
    if (v === null || v === '') return null;
    return numeric ? parseFloat(v) : v;
  }
  function sortBy(index, descending) {
    var numeric = heads[index].getAttribute('data-num') === '1';
    var rows = Array.prototype.slice.call(body.rows);
    rows.sort(function (a, b) {
      var x = key(a.cells[index], numeric), y = key(b.cells[index], numeric);
      if (x === null || y === null) return (x === null) - (y === null);
      var c = numeric ? x - y : (x < y ? -1 : x > y ? 1 : 0);
      return descending ? -c : c;
    });
    rows.forEach(function (r) { body.appendChild(r); });
    heads.forEach(function (h) { h.removeAttribute('aria-sort'); });
    heads[index].setAttribute('aria-sort', descending ? 'descending' : 'ascending');
  }
  heads.forEach(function (h, i) {
    h.addEventListener('click', function () {
      sortBy(i, h.getAttribute('aria-sort') === 'ascending');
    });
  });
  var m = /^#sort=(-?)(.+)$/.exec(decodeURIComponent(location.hash));
  if (m) {
    heads.forEach(function (h) {
      if (h.textContent === m[2]) {
        h.click();
        if (m[1] === '-') h.click();
      }
    });
  }
  document.body.setAttribute('data-ready', '1');
})();
"""


# Measures shown to four digits (the sort key keeps every digit); an optimum is shown whole.
ROUNDED = ("heterogeneity", "bundle_ratio")


def _cell(value: Any, rounded: bool) -> tuple[str, str]:
    """(sort key, text shown) of a value."""
    if value is None or value == "":
        return "", ""
    if isinstance(value, float):
        return repr(value), f"{value:.4g}" if rounded else repr(value)
    return str(value), str(value)


def _row_html(row: Row) -> str:
    cells = []
    for header, attr, numeric in COLUMNS:
        value = getattr(row, attr)
        key, text = _cell(value, attr in ROUNDED)
        if attr == "sha256" and value:
            text = value[:12]
        if attr == "status" and not value:
            text = "not solved"
        if attr == "nodes" and row.problem:
            text = row.problem
        cls = ' class="problem"' if attr == "nodes" and row.problem else (' class="num"' if numeric else "")
        title = f' title="{html.escape(value)}"' if attr == "sha256" and value else ""
        cells.append(f'<td{cls} data-v="{html.escape(key)}"{title}>{html.escape(text)}</td>')
    return "<tr>" + "".join(cells) + "</tr>"


def render(doc: dict[str, Any], rows: list[Row], figures: list[tuple[str, str]] | None,
           title: str) -> str:
    """The page for rows; figures from plots() (None: say how to get them)."""
    heads = "".join(f'<th data-num="{int(numeric)}">{html.escape(header)}</th>'
                    for header, _, numeric in COLUMNS)
    body = "\n".join(_row_html(r) for r in rows)
    if figures is None:
        pictures = f'<p class="hint">{html.escape(PLOT_HINT)}</p>'
    else:
        pictures = "\n".join(f'<img alt="{html.escape(t)}" title="{html.escape(t)}" '
                             f'src="data:image/png;base64,{png}">' for t, png in figures)
    made_by = html.escape(str(doc.get("korvane_version", "?")))
    unread = sum(1 for r in rows if r.problem)
    note = f"; {unread} could not be read" if unread else ""
    return f"""<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>{html.escape(title)}</title>
<style>{STYLE}</style>
</head>
<body>
<h1>{html.escape(title)}</h1>
<p>{len(rows)} instances ({html.escape(str(doc.get("format", "mcf")))} files{note}), made by
korvane {made_by}; this page by korvane {html.escape(__version__)}. Click a column's header
to sort by it. Demand heterogeneity: 0 when every node's amount is split evenly over the
commodities, 1 when all of it is in one. Bundle ratio: the commodities' capacities of an arc
summed over its own bound, averaged over the arcs (at most 1: the bound never binds).</p>
<h2>Plots</h2>
<div class="plots">
{pictures}
</div>
<h2>Instances</h2>
<table id="instances">
<thead><tr>{heads}</tr></thead>
<tbody>
{body}
</tbody>
</table>
<script>{SCRIPT}</script>
</body>
</html>
"""


def write_report(folder: str | os.PathLike[str], output: str | os.PathLike[str] | None = None) -> Path:
    """Write the report of the suite in folder (its suite.json and instance files) to output
    (default: report.html in folder), under a temporary name renamed into place."""
    folder = Path(folder)
    doc, rows = read_suite(folder)
    fill_stats(folder, str(doc.get("format", "mcf")), rows)
    page = render(doc, rows, plots(rows), f"korvane suite {folder.resolve().name}")
    target = Path(output) if output is not None else folder / REPORT_FILE
    tmp = suites.temporary_sibling(target)
    try:
        tmp.write_text(page, encoding="utf-8")
        os.replace(tmp, target)
    finally:
        tmp.unlink(missing_ok=True)
    return target
