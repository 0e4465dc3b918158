"""The suite report: one row per instance with figures that hold by construction, the same
figures with and without NumPy, hostile suite.json content kept inert, and the page as a real
browser renders it (sorting, plots)."""

import base64
import html.parser
import json
import os
import re
import shutil
import struct
import subprocess
import sys

import pytest
from conftest import NETWORK

from korvane import report

# 1 network x 2 K x 2 methods x capacities as given or randomised = 8 instances.
MANIFEST = f"""
output = "out"
format = "{{fmt}}"
networks = ["{NETWORK}"]
{{extra}}
[grid]
num_commodities = [2, 5]
method = ["spread", "uniform"]
randomize_caps = [false, true]
"""


class Page(html.parser.HTMLParser):
    """The table's rows (cells' text and sort keys), headers and images of a page."""

    def __init__(self, text):
        super().__init__()
        self.heads, self.rows, self.images, self.attrs = [], [], [], {}
        self._cell = None
        self.feed(text)

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if tag == "tr":
            self._row = []
        elif tag in ("td", "th"):
            self._cell = [attrs, ""]
        elif tag == "img":
            self.images.append(attrs["src"])
        elif tag == "body":
            self.attrs = attrs

    def handle_data(self, data):
        if self._cell is not None:
            self._cell[1] += data

    def handle_endtag(self, tag):
        if tag in ("td", "th"):
            self._row.append(self._cell)
            self._cell = None
        elif tag == "tr":
            if self._row and "data-num" in self._row[0][0]:
                self.heads = [text for _, text in self._row]
            else:
                self.rows.append({h: (a.get("data-v"), t) for h, (a, t) in zip(self.heads, self._row)})

    def column(self, name):
        return [row[name][1] for row in self.rows]


@pytest.fixture(scope="module")
def suites(tmp_path_factory):
    """Suite folders made by the korvane command: mcf solved (where HiGHS is installed) and mnetgen."""
    from korvane import cli
    made = {}
    solved = "feasible_only = true\n" if _has("highspy") else ""
    for fmt, extra in (("mcf", solved), ("mnetgen", "")):
        folder = tmp_path_factory.mktemp(fmt)
        (folder / "suite.toml").write_text(MANIFEST.format(fmt=fmt, extra=extra))
        assert cli.main(["suite", str(folder / "suite.toml"), "--jobs", "1", "-q", "--report"]) == 0
        made[fmt] = folder / "out"
    return made


def _has(module):
    try:
        __import__(module)
    except ImportError:
        return False
    return True


@pytest.mark.parametrize("fmt", ["mcf", "mnetgen"])
def test_rows_carry_each_instance(suites, fmt):
    doc = json.loads((suites[fmt] / "suite.json").read_text())
    page = Page((suites[fmt] / "report.html").read_text())
    assert page.column("instance") == [e["name"] for e in doc["instances"]]
    assert page.column("nodes") == ["8"] * 8 and page.column("arcs") == ["15"] * 8
    for entry, row in zip(doc["instances"], page.rows):
        k = entry["params"]["num_commodities"]
        ratio = float(row["bundle ratio"][0])
        # Every commodity may use the whole arc unless capacities were drawn below it.
        if entry["params"]["randomize_caps"]:
            assert 0.8 * k <= ratio < k
        else:
            assert ratio == k
        assert int(row["bytes"][0]) == sum(f["size"] for f in entry["files"])
        assert row["sha256"][0] == entry["files"][0]["sha256"]
        assert 0 <= float(row["heterogeneity"][0]) <= 1
        if "status" in entry:
            assert row["feasibility"][1] == entry["status"]
            assert float(row["optimum"][0]) == float(row["optimum"][1]) == entry["objective"]
        else:
            assert row["feasibility"][1] == "not solved" and row["optimum"][1] == ""
    # The uniform split is the even one.
    by_method = {}
    for row in page.rows:
        by_method.setdefault(row["method"][1], []).append(float(row["heterogeneity"][0]))
    assert max(by_method["uniform"]) < min(by_method["spread"])


@pytest.mark.parametrize("fmt", ["mcf", "mnetgen"])
def test_same_figures_without_numpy(suites, fmt, monkeypatch):
    doc, rows = report.read_suite(suites[fmt])
    report.fill_stats(suites[fmt], fmt, rows)
    monkeypatch.setattr(report, "_numpy", lambda: None)
    doc, plain = report.read_suite(suites[fmt])
    report.fill_stats(suites[fmt], fmt, plain)
    assert [r.bundle_ratio for r in plain] == pytest.approx([r.bundle_ratio for r in rows], rel=1e-12)
    assert [r.heterogeneity for r in plain] == [r.heterogeneity for r in rows]


def test_plots_or_how_to_get_them(suites, tmp_path, monkeypatch):
    pytest.importorskip("matplotlib")
    page = Page((suites["mcf"] / "report.html").read_text())
    assert len(page.images) == 3 and all(src.startswith("data:image/png;base64,") for src in page.images)
    assert report.PLOT_HINT not in (suites["mcf"] / "report.html").read_text()
    monkeypatch.setitem(sys.modules, "matplotlib", None)
    out = report.write_report(suites["mcf"], tmp_path / "plain.html")
    text = out.read_text()
    assert Page(text).images == [] and report.PLOT_HINT.replace("'", "&#x27;") in text
    assert len(Page(text).rows) == 8


def test_hostile_or_broken_suite_files(suites, tmp_path, command):
    folder = tmp_path / "copy"
    shutil.copytree(suites["mcf"], folder)
    doc = json.loads((folder / "suite.json").read_text())
    doc["instances"][0]["name"] = "<script>alert(1)</script>"
    doc["instances"][1]["files"][0]["name"] = "../../etc/passwd"
    (folder / doc["instances"][2]["files"][0]["name"]).unlink()
    (folder / "suite.json").write_text(json.dumps(doc))
    code, out, err = command("report", folder)
    assert (code, err) == (0, "") and out == f"{folder / 'report.html'}\n"
    text = (folder / "report.html").read_text()
    assert "<script>alert" not in text and "&lt;script&gt;alert(1)&lt;/script&gt;" in text
    rows = Page(text).rows
    assert rows[1]["nodes"][1] == "no plain file name recorded"
    assert rows[2]["nodes"][1].startswith("No such file or directory")
    assert rows[3]["nodes"][1] == "8"

    for content, why in [(None, "No such file or directory"), ("{", "not JSON"),
                         ('{"instances": 3}', "no list of instances"),
                         ("[" * 100_000 + "]" * 100_000, "nested too deeply")]:
        broken = tmp_path / f"broken{len(why)}"
        broken.mkdir()
        if content is not None:
            (broken / "suite.json").write_text(content)
        code, out, err = command("report", broken)
        assert code == 3 and out == "" and err.startswith(f"korvane: {broken / 'suite.json'}: {why}")
        assert err.count("\n") == 1 and not (broken / "report.html").exists()


def _chromium():
    for name in ("chromium", "chromium-browser", "google-chrome"):
        if shutil.which(name):
            return shutil.which(name)
    pytest.skip("no chromium on PATH (Debian's chromium package) to render the report in")


def test_page_in_a_browser(suites, tmp_path):
    browser = _chromium()
    pytest.importorskip("matplotlib")
    page_file = suites["mcf"] / "report.html"
    # The page sorts itself by the column its address names, through the headers' click
    # handler: #sort=-K clicks K twice (ascending, then descending).
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}  # the sanitizer run's
    dom = subprocess.run(
        [browser, "--headless", "--no-sandbox", "--disable-gpu", f"--user-data-dir={tmp_path}",
         "--virtual-time-budget=5000", "--dump-dom", page_file.as_uri() + "#sort=-K"],
        capture_output=True, text=True, timeout=120, env=env, check=True).stdout
    page = Page(dom)
    assert page.attrs.get("data-ready") == "1"        # the script ran to its end
    doc = json.loads((suites["mcf"] / "suite.json").read_text())
    assert sorted(page.column("instance")) == sorted(e["name"] for e in doc["instances"])
    ks = [int(k) for k in page.column("K")]
    assert ks == sorted(ks, reverse=True) and ks[0] != ks[-1]
    assert re.search(r'<th data-num="1" aria-sort="descending">K</th>', dom)
    assert len(page.images) == 3
    for src in page.images:
        png = base64.b64decode(src.split(",", 1)[1])
        width, height = struct.unpack(">II", png[16:24])
        assert png[:8] == b"\x89PNG\r\n\x1a\n" and width > 200 and height > 200
