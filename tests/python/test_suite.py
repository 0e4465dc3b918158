"""Suites: reproducible on any executor, verified, resumed, and bad manifests refused."""

import concurrent.futures
import gzip
import json
import os
import socket
import signal
import subprocess
import sys
import time
from pathlib import Path

import pytest
from conftest import NETWORK, big_network, needs_sigint

import korvane
from korvane import _version, suite


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
    # Hostile manifests: one line each, not a traceback, and nothing enumerated or allocated.
    (("cap_zero_param = 0.2", "cap_zero_param = 0.2\nx = " + "[" * 100_000 + "]" * 100_000),
     "not valid TOML: nested too deeply"),
    (("[2, 3]", "[2, 9223372036854775807]"),
     "grid.num_commodities: must be at most 10000000, got 9223372036854775807"),
    (("count = 2", "count = 10000000"), "grid: 120000000 instances (1 networks x 2 num_commodities x "
     "3 method x 2 randomize_caps x 10000000 seed), more than the limit of 100000 (raise it with --max-instances)"),
    # Settings that cannot change an instance.
    (("cap_zero = true", "cap_zero = true\ncap_a = [0.5, 1.2]"), "grid.cap_a 1.2 is above grid.cap_b 1.0 (a reversed range)"),
    (("cap_zero = true", "cap_zero = true\ncost_b = 0.5"), "grid.cost_a 0.8 is above grid.cost_b 0.5 (a reversed range)"),
    (("cap_zero = true", "cap_zero = false"), "grid.cap_zero_param: has no effect without grid.cap_zero = true"),
    (("cap_zero_param = 0.2", "cap_zero_param = [0.2, 5]"), "grid.cap_zero_param: must be between 0 and 1, got 5.0"),
])
def test_bad_manifest_refused_before_work(tmp_path, command, edit, message):
    manifest = write_manifest(tmp_path, MANIFEST.replace(*edit))
    code, out, err = command("suite", manifest)
    assert (code, out, err) == (2, "", f"korvane: {manifest}: {message}\n")
    assert not (tmp_path / "out").exists()


@pytest.mark.parametrize("text", ["", "# Notes\n\nSome text.\n", "a 1 2 0 5 1\n", "NETGEN 1 10 2 0\n"])
@pytest.mark.parametrize("verify", [[], ["--verify"]])
def test_network_without_problem_line_refused_before_work(tmp_path, command, text, verify):
    (tmp_path / "net.min").write_text(text)
    manifest = write_manifest(tmp_path, SMALL)
    network = suite.load_manifest(manifest).networks[0][1]
    assert command("suite", manifest, "--jobs", "1", *verify) == (
        2, "", f"korvane: {network}: not a network: no problem line ('p min NODES ARCS')\n")
    assert not (tmp_path / "out").exists()


def test_grid_size_cap_can_be_raised(tmp_path, command):
    manifest = write_manifest(tmp_path)
    assert command("suite", manifest, "--max-instances", "23", "-q") == (
        2, "", f"korvane: {manifest}: grid: 24 instances (1 networks x 2 num_commodities x 3 method x "
        "2 randomize_caps x 2 seed), more than the limit of 23 (raise it with --max-instances)\n")
    assert len(suite.load_manifest(manifest, max_instances=24).jobs) == 24


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


@needs_sigint
def test_ctrl_c_stops_workers_cleanly(tmp_path):
    # A real Ctrl-C to the process group while two workers write. An instance taken as the
    # interrupt came may be whole on disk but unrecorded; resuming: test_interrupted_suite_resumes.
    big_network(tmp_path / "big.min")
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


SMALL = 'networks = ["net.min"]\noutput = "out"\n[grid]\nnum_commodities = 2\nmethod = ["spread", "uniform"]\n'


@pytest.fixture
def small(tmp_path):
    """A two-instance suite over a copy of the example network: (manifest, plan)."""
    (tmp_path / "net.min").write_bytes(Path(NETWORK).read_bytes())
    manifest = write_manifest(tmp_path, SMALL)
    return manifest, suite.load_manifest(manifest)


def change_network(tmp_path, plan):
    # One arc's cost, which every instance copies.
    net = tmp_path / "net.min"
    lines = net.read_text().splitlines()
    i = next(i for i, line in enumerate(lines) if line.startswith("a "))
    *arc, cost = lines[i].split()
    lines[i] = " ".join([*arc, str(int(cost) + 1)])
    net.write_text("\n".join(lines) + "\n")


def damage_first(tmp_path, plan):
    first = plan.output / f"{plan.jobs[0].name}.mcf"
    data = bytearray(first.read_bytes())
    data[-2] ^= 1  # one digit of the last arc: the same size, only the checksum tells
    first.write_bytes(bytes(data))


def remove_first(tmp_path, plan):
    (plan.output / f"{plan.jobs[0].name}.mcf").unlink()


def new_version(tmp_path, plan):
    _version.__version__ = "0.0.0+other"  # the test's monkeypatch puts the real one back


@pytest.mark.parametrize("change, summary", [
    (None, "0 made, 2 kept"),
    (change_network, "2 made (network changed), 0 kept"),
    (new_version, "2 made (korvane version changed), 0 kept"),
    (damage_first, "1 made (file changed), 1 kept"),
    (remove_first, "1 made (file missing), 1 kept"),
])
def test_run_again_remakes_what_its_inputs_no_longer_make(tmp_path, small, command, monkeypatch, change, summary):
    manifest, plan = small
    assert command("suite", manifest, "--jobs", "1", "-q") == (0, f"2 made, 0 kept; {plan.suite_file}\n", "")
    monkeypatch.setattr(_version, "__version__", _version.__version__)
    if change is not None:
        change(tmp_path, plan)
    assert command("suite", manifest, "--jobs", "1", "-q") == (0, f"{summary}; {plan.suite_file}\n", "")
    # Each record says what it was made from, and the files are what that makes now.
    network_sha = suite.sha256_file(tmp_path / "net.min")
    for entry in json.loads(plan.suite_file.read_text())["instances"]:
        assert (entry["network_sha256"], entry["korvane_version"]) == (network_sha, _version.__version__)
    assert command("suite", manifest, "--verify", "--jobs", "1")[0] == 0


def test_verify_names_what_differs(tmp_path, small, command):
    manifest, plan = small
    command("suite", manifest, "--jobs", "1", "-q")
    # A file edited together with its record in suite.json agrees with the record; only
    # regenerating it shows the difference.
    victim = plan.output / f"{plan.jobs[1].name}.mcf"
    victim.write_bytes(victim.read_bytes().replace(b"\n", b"\nc edited\n", 1))
    doc = json.loads(plan.suite_file.read_text())
    record = doc["instances"][1]["files"][0]
    old_sha, old_size = record["sha256"], record["size"]
    record.update(sha256=suite.sha256_file(victim), size=victim.stat().st_size)
    plan.suite_file.write_text(json.dumps(doc))
    code, _, err = command("suite", manifest, "--verify", "--jobs", "1")
    assert (code, err) == (1, f"korvane: {victim}: regenerated file differs from suite.json (sha256 "
                              f"{record['sha256'][:12]}..., {record['size']} bytes recorded; {old_sha[:12]}..., "
                              f"{old_size} bytes regenerated) from the same network, parameters and korvane "
                              "version\n")
    # A changed network is named once, with both checksums, and its instances not regenerated.
    before = suite.sha256_file(tmp_path / "net.min")
    change_network(tmp_path, plan)
    code, _, err = command("suite", manifest, "--verify", "--jobs", "1")
    assert (code, err) == (1, f"korvane: {tmp_path / 'net.min'}: network changed since 2 instances were made "
                              f"from it (sha256 {before[:12]}... in suite.json, "
                              f"{suite.sha256_file(tmp_path / 'net.min')[:12]}... now); run the suite again to "
                              "remake them\n")


def test_full_disk_names_the_output_file(small, command, monkeypatch):
    def full(*args, **kwargs):
        raise OSError("No space left on device (os error 28)")

    # An instance nothing needs in memory is drawn and written in one native call.
    monkeypatch.setattr(suite._NATIVE, "_generate_to_files", full)
    manifest, plan = small
    # Whichever job the runner took first, the message names its output, not the network.
    names = {f"korvane: {plan.output / job.name}.mcf: No space left on device (os error 28)\n"
             for job in plan.jobs}
    code, out, err = command("suite", manifest, "--jobs", "1", "-q")
    assert (code, out) == (3, "") and err in names


def test_dask_scheduler_unreachable_or_without_workers_is_one_line(tmp_path, command):
    distributed = pytest.importorskip("distributed")
    manifest = write_manifest(tmp_path / "s")
    # A port nobody listens on: the client retries until the time-out, then one line.
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    code, out, err = command("suite", manifest, "--executor", f"dask://127.0.0.1:{port}",
                             "--connect-timeout", "1", "-q")
    assert (code, out) == (2, "") and err == (
        f"korvane: --executor: no Dask scheduler answered at tcp://127.0.0.1:{port} within 1 s\n")
    with distributed.LocalCluster(n_workers=0, processes=True, dashboard_address=":0",
                                  host="127.0.0.1") as cluster:
        address = cluster.scheduler_address
        code, out, err = command("suite", manifest, "--executor",
                                 "dask://" + address.removeprefix("tcp://"),
                                 "--connect-timeout", "1", "-q")
    assert (code, out) == (2, "") and err == (
        f"korvane: --executor: the Dask scheduler at {address} has no worker (none joined "
        "within 1 s)\n")
    assert not (tmp_path / "s" / "out").exists()
