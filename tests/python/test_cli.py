"""The korvane command: output equal to the API's, info, and one-line user errors."""

import gzip
import json
import os
import subprocess
import sys
import time
from pathlib import Path

import pytest
from conftest import NETWORK, big_network, child_env, dead_pid, zstd

import korvane
from korvane import cli, suite


@pytest.mark.parametrize("options, kwargs", [
    ([], {}),
    (["--seed", "7"], {"seed": 7}),
    (["--randomize-caps", "--cap-a", "0.5", "--randomize-costs", "--cost-b", "2"],
     {"randomize_caps": True, "cap_a": 0.5, "randomize_costs": True, "cost_b": 2.0}),
    (["--cap-zero", "--cap-zero-param", "0.25", "--seed", "0"],
     {"cap_zero": True, "cap_zero_param": 0.25, "seed": 0}),
    (["--concentration-param", "0.3", "--seed", "18446744073709551615"],
     {"concentration_param": 0.3, "seed": 2**64 - 1}),
])
@pytest.mark.parametrize("method, code", [("spread", 0), ("uniform", 1), ("beta-binomial", 2), ("2", 2)])
def test_generate_writes_what_the_api_writes(tmp_path, command, options, kwargs, method, code):
    out = tmp_path / "cli.mcf"
    assert command("generate", NETWORK, "-k", "3", "--method", method, "-o", str(out), *options)[0] == 0
    inst = korvane.load_min_instance(NETWORK)
    api = tmp_path / "api.mcf"
    korvane.save_multi_commodity_instance(str(api), inst, korvane.generate_multi_commodity_data(inst, 3, code, **kwargs))
    assert out.read_bytes() == api.read_bytes()
    assert sorted(p.name for p in tmp_path.iterdir()) == ["api.mcf", "cli.mcf"]


def test_info_and_convert(tmp_path, command):
    code, out, _ = command("info", "--json", NETWORK)
    [network] = json.loads(out)  # a list, one object per file, however many
    assert (code, network) == (0, {
        "file": NETWORK, "format": "min", "declared_nodes": 8, "declared_arcs": 15, "nodes": 8,
        "arcs": 15, "parallel_arc_pairs": 2, "supply": 50, "demand": -50})

    mcf = tmp_path / "net.mcf"
    command("generate", NETWORK, "-k", "2", "--method", "uniform", "--cap-zero", "--cap-zero-param",
            "0.5", "--randomize-costs", "-o", str(mcf))
    code, out, _ = command("info", "--json", str(mcf))
    [first] = json.loads(out)
    supplies = korvane.load_min_instance(NETWORK).supplies
    assert {k: first[k] for k in ("format", "num_commodities", "method", "cap_zero", "cap_zero_param",
                                  "seed", "commodity_supply", "commodity_demand", "heterogeneity")} == {
        "format": "mcf", "num_commodities": 2, "method": "uniform", "cap_zero": True,
        "cap_zero_param": 0.5, "seed": 42, "commodity_supply": [25, 25], "commodity_demand": [-25, -25],
        "heterogeneity": korvane.compute_commodity_demand_heterogeneity(
            korvane.split_supplies_uniform(supplies, 2), supplies)}
    # The kind of file is told by its content, also when compressed under an unhelpful name;
    # convert decompresses gzip exactly and names the command for zstd.
    hidden, back = tmp_path / "hidden.min", tmp_path / "back.mcf"
    for pack in (gzip.compress, zstd):
        for original, want in ((mcf, first), (Path(NETWORK), network)):
            hidden.write_bytes(pack(original.read_bytes()))
            code, out, _ = command("info", "--json", str(hidden))
            assert code == 0 and {**json.loads(out)[0], "file": want["file"]} == want
    for pack in (gzip.compress, zstd):
        hidden.write_bytes(pack(mcf.read_bytes()))
        back.unlink(missing_ok=True)
        assert command("convert", str(hidden), "-o", str(back), "--to", "mcf")[0] == 0
        assert back.read_bytes() == mcf.read_bytes()


@pytest.mark.parametrize("name, unpack", [
    ("x.mcf.gz", gzip.decompress),
    ("x.mcf.zst", lambda data: subprocess.run(["zstd", "-d", "-q", "-c"], input=data, check=True,
                                               stdout=subprocess.PIPE).stdout),
])
def test_output_compressed_as_its_name_asks(tmp_path, command, name, unpack):
    zstd(b"")  # skips without the zstd command, which both directions use
    plain = tmp_path / "plain.mcf"
    command("generate", NETWORK, "-k", "3", "--method", "beta-binomial", "-o", plain)
    out, again = tmp_path / name, tmp_path / ("again-" + name)
    assert command("generate", NETWORK, "-k", "3", "--method", "beta-binomial", "-o", out)[0] == 0
    assert command("convert", out, "-o", again, "--to", "mcf")[0] == 0
    assert unpack(out.read_bytes()) == unpack(again.read_bytes()) == plain.read_bytes()
    # The same instance compresses to the same bytes (no time stamp in a gzip header).
    assert out.read_bytes() == again.read_bytes()
    assert sorted(p.name for p in tmp_path.iterdir()) == sorted(["plain.mcf", name, "again-" + name])


@pytest.mark.parametrize("content, argv, code, message", [
    (None, ["info", "{f}"], 3, "korvane: {f}: No such file or directory (os error 2)"),
    ("p min 2 1\na 1 2 0 x 1\n", ["info", "{f}"], 3,
     "korvane: line 2 of {f}: invalid digit found in string"),
    ("p min 2 1\n\na 1 2 0 5\n", ["info", "{f}"], 3,
     "korvane: line 3 of {f}: a field is missing (index out of bounds: the len is 5 but the index is 5)"),
    ("c Multicommodity flow generated by korvane\np min 1 1 -1 0 0 0 0 0 0\n", ["info", "{f}"], 3,
     "korvane: line 2 of {f}: invalid digit found in string"),
    ("p min 2 1\na 1 2 0 5 1\n", ["convert", "{f}", "-o", "{f}.out", "--to", "mcf"], 3,
     "korvane: {f}: a .min network has no commodities; make an instance with 'korvane generate'"),
    ("p min 2 1\na 1 2 0 5 1\n", ["generate", "{f}", "-k", "2", "--method", "uniform", "-o", "/nonexistent/x.mcf"], 3,
     "korvane: /nonexistent/x.mcf: No such file or directory (os error 2)"),
    # Text without a problem line reads as a network of what it holds, for the command a refusal.
    *[(text, argv, 2, "korvane: {f}: not a network: no problem line ('p min NODES ARCS')")
      for text in ("", "# Notes\n\nSome text.\n", "a 1 2 0 5 1\n", "NETGEN 1 10 2 0\n")
      for argv in (["info", "{f}"], ["generate", "{f}", "-k", "2", "--method", "uniform", "-o", "{f}.x"],
                   ["convert", "{f}", "-o", "{f}.x", "--to", "mps"], ["solve", "{f}"])],
])
def test_user_errors_are_one_line(tmp_path, command, content, argv, code, message):
    f = tmp_path / "in.min"
    if content is not None:
        f.write_text(content)
    got, out, err = command(*(a.format(f=f) for a in argv))
    assert (got, out, err) == (code, "", message.format(f=f) + "\n")


@pytest.mark.parametrize("options, message", [
    (["--randomize-caps", "--cap-a", "1.2", "--cap-b", "0.8"], "--cap-a 1.2 is above --cap-b 0.8 (a reversed range)"),
    (["--cap-a", "1.5"], "--cap-a 1.5 is above --cap-b 1.0 (a reversed range)"),
    (["--cost-a", "2", "--cost-b", "-1"], "--cost-a 2.0 is above --cost-b -1.0 (a reversed range)"),
    (["--cap-zero-param", "0.3"], "--cap-zero-param has no effect without --cap-zero"),
    (["--cap-zero-param", "0"], "--cap-zero-param has no effect without --cap-zero"),
    (["--cap-zero", "--cap-zero-param", "5"], "--cap-zero-param: must be between 0 and 1, got 5.0"),
    (["--cap-zero", "--cap-zero-param", "-0.1"], "--cap-zero-param: must be between 0 and 1, got -0.1"),
])
def test_settings_that_change_nothing_refused(tmp_path, command, options, message):
    out = tmp_path / "x.mcf"
    assert command("generate", NETWORK, "-k", "2", "--method", "uniform", "-o", out, *options) == (
        2, "", f"korvane: {message}\n")
    assert not out.exists()
    # The Python function keeps taking them.
    assert korvane.generate_multi_commodity_data(korvane.load_min_instance(NETWORK), 2, 1, cap_a=1.5)


def test_too_many_commodities_for_memory(tmp_path, command):
    k = 2**63 - 1
    assert command("generate", NETWORK, "-k", k, "--method", "spread", "-o", tmp_path / "x.mcf") == (
        3, "", f"korvane: {NETWORK}: not enough memory for {k} commodities on 15 arcs\n")


@pytest.mark.parametrize("argv, fragment", [
    *[(["generate", NETWORK, "-k", k, "--method", "spread", "-o", "x"],
       f"expected a number of commodities from 1 to 18446744073709551615, got '{k}'")
      for k in ("0", "-1", "2.5", "18446744073709551616")],
    *[(["generate", NETWORK, "-k", "2", "--method", "spread", f"{option}={value}", "-o", "x"],
       f"argument {option}: expected a finite number, got '{value}'")
      for option in ("--cap-a", "--cap-b", "--cost-a", "--cost-b", "--concentration-param")
      for value in ("nan", "inf", "-inf")],
    *[(["solve", NETWORK, f"--time-limit={value}"],
       f"argument --time-limit: expected a positive number of seconds, got '{value}'")
      for value in ("-5", "0", "nan", "soon")],
    (["generate", NETWORK, "-k", "2", "--method", "sprad", "-o", "x"], "unknown method 'sprad'"),
    (["generate", NETWORK, "-k", "2", "--method", "spread", "--seed", "-1", "-o", "x"], "--seed"),
])
def test_bad_options_exit_2(capsys, argv, fragment):
    with pytest.raises(SystemExit) as exc:
        cli.main(argv)
    assert exc.value.code == 2 and fragment in capsys.readouterr().err


def test_interrupt_leaves_no_partial_output(tmp_path, command, monkeypatch):
    # generate draws and writes in one native call, which puts the file in place whole;
    # interrupted once that call is over, the command leaves that file and nothing else.
    native = suite._NATIVE
    real = native._generate_to_files

    def interrupted(*args, **kwargs):
        real(*args, **kwargs)
        raise KeyboardInterrupt

    monkeypatch.setattr(native, "_generate_to_files", interrupted)
    code, _, err = command("generate", NETWORK, "-k", "2", "--method", "spread", "-o", str(tmp_path / "x.mcf"))
    assert (code, err) == (130, "korvane: interrupted\n")
    inst = korvane.load_min_instance(NETWORK)
    korvane.save_multi_commodity_instance(str(tmp_path / "api.mcf"), inst,
                                          korvane.generate_multi_commodity_data(inst, 2, 0))
    assert sorted(p.name for p in tmp_path.iterdir()) == ["api.mcf", "x.mcf"]
    assert (tmp_path / "x.mcf").read_bytes() == (tmp_path / "api.mcf").read_bytes()


def test_module_entry_point(tmp_path):
    done = subprocess.run([sys.executable, "-m", "korvane", "info", str(tmp_path / "none.min")],
                          capture_output=True, text=True, check=False)
    assert (done.returncode, done.stdout) == (3, "")
    assert done.stderr == f"korvane: {tmp_path / 'none.min'}: No such file or directory (os error 2)\n"
    helped = subprocess.run([sys.executable, "-m", "korvane", "suite", "--help"],
                            capture_output=True, text=True, check=True)
    assert "exit codes:" in helped.stdout and "korvane suite suite.toml --verify" in helped.stdout


def wait_for_temporary(folder, proc):
    deadline = time.monotonic() + 60
    while proc.poll() is None and time.monotonic() < deadline:
        if any(p.name.startswith(".") for p in folder.iterdir()):
            return True
        time.sleep(0.001)
    return False


WRITERS = {
    "mcf": "korvane.save_multi_commodity_instance(out, inst, data)",
    "mnetgen": "__import__('korvane.formats').formats.write_mnetgen(out, inst, data)",
}


@pytest.mark.parametrize("writer", ["command", *sorted(WRITERS)])
def test_stopped_writer_leaves_no_partial_output(tmp_path, command, writer):
    # The command removes its temporary file on SIGTERM. A killed writer cannot, but every
    # temporary name, the native writers' included, carries the writer's pid in one pattern,
    # so that the next run in the folder can tell a dead run's leftovers.
    net, out = big_network(tmp_path / "big.min"), tmp_path / "out"
    out.mkdir()
    argv = ["-m", "korvane", "generate", net, "-k", "16", "--method", "uniform", "--randomize-caps", "-q",
            "-o", out / "big.mcf"] if writer == "command" else [
        "-c", f"import korvane\ninst = korvane.load_min_instance({str(net)!r})\n"
        "data = korvane.generate_multi_commodity_data(inst, 16, 1, randomize_caps=True)\n"
        f"out = {str(out / 'big.mcf')!r}\n" + WRITERS[writer] + "\n"]
    proc = subprocess.Popen([sys.executable, *argv], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            text=True, env=child_env())
    if not wait_for_temporary(out, proc):
        proc.kill()
        pytest.skip("the write was over before a temporary file could be seen")
    if writer == "command":
        proc.terminate()
        assert (proc.communicate(timeout=60)[1], proc.returncode) == ("korvane: terminated\n", 143)
        # Nothing, or (when the signal came as the finished file was being renamed into
        # place) the whole file; never a part of it, never a temporary.
        left = list(out.iterdir())
        assert left in ([], [out / "big.mcf"]), left
        if left:
            assert len(korvane.load_multi_commodity_instance(str(left[0])).edges) == 100_000
        return
    proc.kill()
    proc.communicate(timeout=60)
    left = [p.name for p in out.iterdir()]
    assert left and all((m := suite.TMP_NAME.fullmatch(n)) and int(m.group(1)) == proc.pid for n in left), left
    assert command("generate", NETWORK, "-k", "2", "--method", "spread", "-q", "-o", out / "small.mcf")[0] == 0
    assert [p.name for p in out.iterdir()] == ["small.mcf"]


@pytest.mark.parametrize("argv", [
    ["generate", NETWORK, "-k", "2", "--method", "spread", "-o", "{out}/x.mcf"],
    ["convert", "{out}/../in.mcf", "-o", "{out}/x.mcf", "--to", "mcf"],
    ["suite", "{out}/../suite.toml", "--jobs", "1", "-q"],
])
def test_stale_temporaries_removed_live_ones_kept(tmp_path, command, argv):
    out = tmp_path / "out"
    out.mkdir()
    korvane.save_multi_commodity_instance(
        str(tmp_path / "in.mcf"), inst := korvane.load_min_instance(NETWORK),
        korvane.generate_multi_commodity_data(inst, 2, 0))
    (tmp_path / "suite.toml").write_text(f'networks = ["{NETWORK}"]\noutput = "out"\n[grid]\n'
                                         'num_commodities = 2\nmethod = "spread"\n')
    dead, live = dead_pid(), os.getppid()
    stale = [f".x.mcf.{dead}.0123abcd.korvane-tmp", f".y.{dead}.9f.korvane-tmp.nod",
             f"..x.mcf.{dead}.01.korvane-tmp.{dead}.ab.korvane-tmp"]
    kept = [f".x.mcf.{live}.0123abcd.korvane-tmp", f".y.{live}.9f.korvane-tmp.sup",
            ".notes.korvane-tmp", ".x.mcf.12.korvane-tmp", ".profile"]
    for name in stale + kept:
        (out / name).write_text("partial")
    assert command(*(a.format(out=out) for a in argv))[0] == 0
    assert sorted(p.name for p in out.iterdir() if p.name.startswith(".")) == sorted(kept)
