"""Suites: reproducible on any executor, verified, resumed, and bad manifests refused."""

import concurrent.futures
import gzip
import json
import os
import signal
import subprocess
import sys
import time
from pathlib import Path

import pytest
from conftest import NETWORK

from korvane import suite


# 1 network x 2 K x 3 methods x 2 seeds x 2 capacity settings = 24 instances.
MANIFEST = f"""
output = "out"
networks = ["{NETWORK}"]

[grid]
num_commodities = [2, 3]
method = ["spread", "uniform", "beta-binomial"]
seed_range = {{start = 5, count = 2}}
randomize_caps = [false, true]
cap_zero = true
cap_zero_param = 0.2
"""


def write_manifest(folder, text=MANIFEST):
    folder.mkdir(parents=True, exist_ok=True)
    path = folder / "suite.toml"
    path.write_text(text)
    return str(path)


@pytest.fixture(scope="module")
def dask_address():
    distributed = pytest.importorskip("distributed")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=":0", host="127.0.0.1") as cluster:
        yield "dask://" + cluster.scheduler_address.removeprefix("tcp://")


def test_same_suite_whatever_runs_it(tmp_path, command, dask_address):
    runs = {
        "jobs1": ["--jobs", "1"],
        "jobs2": ["--jobs", "2"],
        "dask": ["--executor", dask_address],
        "collect": ["--executor", dask_address, "--collect"],
    }
    docs = {}
    for label, options in runs.items():
        manifest = write_manifest(tmp_path / label)
        code, out, err = command("suite", manifest, *options)
        assert (code, err) == (0, ""), label
        assert out.endswith(f"24 made, 0 kept; {tmp_path / label / 'out' / 'suite.json'}\n")
        docs[label] = (tmp_path / label / "out" / "suite.json").read_bytes()
    assert len(set(docs.values())) == 1

    doc = json.loads(docs["jobs1"])
    names = [e["name"] for e in doc["instances"]]
    assert len(names) == 24 == len(set(names))
    first = doc["instances"][0]
    assert [f["name"] for f in first["files"]] == [first["name"] + ".mcf"]
    assert first["params"] == {
        "num_commodities": 2, "method": "spread", "seed": 5, "randomize_caps": False, "cap_a": 0.8,
        "cap_b": 1.0, "randomize_costs": False, "cost_a": 0.8, "cost_b": 1.2, "concentration_param": 3.0,
        "cap_zero": True, "cap_zero_param": 0.2}
    # Each recorded file is what the Python API writes for the recorded parameters.
    params = suite.Params.from_json(first["params"])
    api = tmp_path / "api.mcf"
    inst = suite.load_network(NETWORK)
    suite.write_instance(inst, suite.generate(inst, params), api, "mcf")
    assert suite.sha256_file(api) == first["files"][0]["sha256"]
    assert (tmp_path / "jobs2" / "out" / first["files"][0]["name"]).read_bytes() == api.read_bytes()

    # --verify passes, on a cluster too, then names the one file whose byte changed.
    manifest = str(tmp_path / "jobs2" / "suite.toml")
    assert command("suite", manifest, "--verify", "--executor", dask_address)[0] == 0
    victim = tmp_path / "jobs2" / "out" / doc["instances"][7]["files"][0]["name"]
    data = bytearray(victim.read_bytes())
    data[-3] ^= 1
    victim.write_bytes(bytes(data))
    code, _, err = command("suite", manifest, "--verify", "--jobs", "2")
    assert (code, err) == (1, f"korvane: {victim}: file differs from its regenerated checksum\n")


class InterruptAfter(concurrent.futures.Executor):
    """Runs tasks in submit, and raises KeyboardInterrupt as the (n+1)th one starts."""

    def __init__(self, n):
        self.left = n

    def submit(self, fn, /, *args, **kwargs):
        if self.left == 0:
            raise KeyboardInterrupt
        self.left -= 1
        future = concurrent.futures.Future()
        future.set_result(fn(*args, **kwargs))
        return future


def test_interrupted_suite_resumes(tmp_path, command):
    manifest = write_manifest(tmp_path)
    plan = suite.load_manifest(manifest)
    with pytest.raises(KeyboardInterrupt):
        suite.run_suite(plan, InterruptAfter(5))
    made = json.loads(plan.suite_file.read_text())["instances"]
    assert [e["name"] for e in made] == [job.name for job in plan.jobs[:5]]
    stamps = {e["name"]: (plan.output / e["files"][0]["name"]).stat().st_mtime_ns for e in made}
    assert not list(plan.output.glob(".*"))

    # A damaged finished file is made again; the other four are kept untouched.
    damaged = plan.output / made[2]["files"][0]["name"]
    damaged.write_bytes(damaged.read_bytes() + b"c\n")
    seen = []
    summary = suite.run_suite(plan, suite.SerialExecutor(), progress=lambda what, name: seen.append((what, name)))
    assert (summary.made, summary.kept) == (20, 4)
    assert [n for what, n in seen if what == "kept"] == [e["name"] for i, e in enumerate(made) if i != 2]
    for i, e in enumerate(made):
        if i != 2:
            assert (plan.output / e["files"][0]["name"]).stat().st_mtime_ns == stamps[e["name"]]
    code, _, _ = command("suite", manifest, "--verify", "--jobs", "1")
    assert code == 0


@pytest.mark.parametrize("edit, message", [
    (("[grid]", "seeds = [1]\n[grid]"), "seeds: unknown key"),
    (("randomize_caps", "randomise_caps"), "grid.randomise_caps: unknown key"),
    ((f'"{NETWORK}"', '"no/such/*.min"'), "networks: no file matches 'no/such/*.min'"),
    (("[2, 3]", "[2, 0]"), "grid.num_commodities: must be at least 1, got 0"),
    (('"uniform"', '"unifrom"'),
     "grid.method: unknown method 'unifrom' (expected spread, uniform or beta-binomial, or 0, 1, 2)"),
    (('output = "out"', 'output = "out"\nformat = "mps"'), "format: unknown format 'mps' (expected mcf or mnetgen)"),
    (("cap_zero_param = 0.2", 'cap_zero_param = "0.2"'), "grid.cap_zero_param: expected a finite number, got '0.2'"),
])
def test_bad_manifest_refused_before_work(tmp_path, command, edit, message):
    manifest = write_manifest(tmp_path, MANIFEST.replace(*edit))
    code, out, err = command("suite", manifest)
    assert (code, out, err) == (2, "", f"korvane: {manifest}: {message}\n")
    assert not (tmp_path / "out").exists()


def test_grid_collapses_settings_without_effect(tmp_path):
    # concentration_param only matters to beta-binomial, cap_a only with randomised capacities.
    plan = suite.load_manifest(write_manifest(tmp_path, f"""
networks = ["{NETWORK}"]
[grid]
num_commodities = 2
method = ["uniform", "beta-binomial"]
concentration_param = [0.5, 2.0]
cap_a = [0.5, 0.9]
"""))
    assert [(j.params.method, j.params.concentration_param, j.params.cap_a) for j in plan.jobs] == [
        (1, 3.0, 0.8), (2, 0.5, 0.8), (2, 2.0, 0.8)]


def test_networks_by_glob_plain_or_gzip(tmp_path, command, monkeypatch):
    (tmp_path / "nets").mkdir()
    text = Path(NETWORK).read_bytes()
    (tmp_path / "nets" / "a.min").write_bytes(text)
    (tmp_path / "nets" / "b.min.gz").write_bytes(gzip.compress(text))
    manifest = write_manifest(tmp_path, 'networks = ["nets/*.min*"]\n[grid]\nnum_commodities = 2\nmethod = "spread"\n')
    # On a terminal, progress is a bar on stderr instead of a line per instance on stdout.
    pytest.importorskip("tqdm")
    monkeypatch.setattr(sys.stderr, "isatty", lambda: True)
    code, out, err = command("suite", manifest, "--jobs", "1", "--output", str(tmp_path / "elsewhere"))
    assert code == 0 and out == f"2 made, 0 kept; {tmp_path / 'elsewhere' / 'suite.json'}\n"
    assert "suite: 100%" in err and "2/2" in err
    assert not (tmp_path / "suite").exists()
    a, b = json.loads((tmp_path / "elsewhere" / "suite.json").read_text())["instances"]
    assert (a["network"], b["network"]) == ("nets/a.min", "nets/b.min.gz")
    assert a["files"][0]["sha256"] == b["files"][0]["sha256"]


def test_ctrl_c_stops_workers_cleanly(tmp_path):
    # A real Ctrl-C to the process group while two workers write. An instance taken as the
    # interrupt came may be whole on disk but unrecorded; resuming: test_interrupted_suite_resumes.
    lines = ["p min 2000 100000"] + [f"n {i} {5 if i % 2 else -5}" for i in range(1, 201)]
    lines += [f"a {i % 2000 + 1} {(i * 7) % 2000 + 1} 0 {50 + i % 9} {i % 13}" for i in range(100000)]
    (tmp_path / "big.min").write_text("\n".join(lines) + "\n")
    manifest = write_manifest(tmp_path, 'networks = ["big.min"]\n[grid]\nnum_commodities = 8\n'
                                        'method = "beta-binomial"\nseed_range = {start = 1, count = 200}\n'
                                        'randomize_caps = true\n')
    argv = [sys.executable, "-m", "korvane", "suite", manifest, "--jobs", "2", "-q"]
    proc = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                            start_new_session=True)
    record = tmp_path / "suite" / "suite.json"
    deadline = time.monotonic() + 60
    while not record.exists() and proc.poll() is None and time.monotonic() < deadline:
        time.sleep(0.05)
    os.killpg(proc.pid, signal.SIGINT)
    out, err = proc.communicate(timeout=60)
    assert (proc.returncode, out, err) == (130, "", "korvane: interrupted\n")
    assert not [p for p in (tmp_path / "suite").iterdir() if p.name.startswith(".")]
    made = json.loads(record.read_text())["instances"]
    assert 0 < len(made) < 200
    assert len(made) <= len(list((tmp_path / "suite").glob("*.mcf"))) <= len(made) + 4
