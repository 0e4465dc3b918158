"""The command line and suites with the Mnetgen format and HiGHS."""

import json
import sys
from pathlib import Path

import pytest
from conftest import NETWORK

import korvane
from korvane import suite

formats = pytest.importorskip("korvane.formats", reason="korvane.formats is not built in")
solve = pytest.importorskip("korvane.solve", reason="korvane.solve is not built in")
pytest.importorskip("highspy", reason="HiGHS (korvane[solve]) is not installed")

PARTS = [".nod", ".arc", ".sup", ".mut"]
# One arc of capacity 10 carrying 10 units: with two commodities and capacity zeroing, the
# arc is zeroed for both and restored for commodity 0 only, so commodity 1 cannot move.
ONE_ARC = "p min 2 1\nn 1 10\nn 2 -10\na 1 2 0 10 3\n"


def test_generate_and_convert_to_mnetgen(tmp_path, command):
    inst = korvane.load_min_instance(NETWORK)
    data = korvane.generate_multi_commodity_data(inst, 3, 2, randomize_costs=True, seed=9)
    formats.write_mnetgen(str(tmp_path / "api"), inst, data)
    assert command("generate", NETWORK, "-k", 3, "--method", "beta-binomial", "--randomize-costs",
           "--seed", 9, "--format", "mnetgen", "-o", tmp_path / "cli")[0] == 0
    mcf = tmp_path / "net.mcf"
    korvane.save_multi_commodity_instance(str(mcf), inst, data)
    assert command("convert", mcf, "-o", tmp_path / "conv", "--to", "mnetgen")[0] == 0
    formats.write_mnetgen(str(tmp_path / "api2"), korvane.load_multi_commodity_instance(str(mcf)))
    for part in PARTS:
        want = (tmp_path / f"api{part}").read_bytes()
        assert (tmp_path / f"cli{part}").read_bytes() == want
        assert (tmp_path / f"conv{part}").read_bytes() == (tmp_path / f"api2{part}").read_bytes()

    code, out, _ = command("info", "--json", tmp_path / "cli.arc")
    [report] = json.loads(out)
    assert (report["format"], report["num_commodities"], report["arcs"]) == ("mnetgen", 3, 15)
    assert report["commodity_supply"] == [sum(max(p[k], 0) for p in data.supply_partition.values())
                                          for k in range(3)]


def test_solve_and_models(tmp_path, command):
    mcf = tmp_path / "net.mcf"
    command("generate", NETWORK, "-k", 2, "--method", "spread", "--seed", 3, "-o", mcf)
    want = solve.solve(korvane.load_multi_commodity_instance(str(mcf)))
    code, out, _ = command("solve", "--json", "--require-feasible", mcf)
    [got] = json.loads(out)
    assert code == 0 and (got["status"], got["objective"]) == ("optimal", want.objective)
    # HiGHS options pass through over korvane's defaults; one HiGHS refuses is a usage error.
    code, out, _ = command("solve", "--json", "--highs-option", "presolve=choose",
                           "--highs-option", "simplex_strategy=4", mcf)
    assert code == 0 and json.loads(out)[0]["objective"] == want.objective
    # A first-order answer is never passed off as an optimum, not even to --require-feasible.
    for method, status, proven, code_wanted in [("ipm", "optimal", True, 0),
                                                ("decomposition", "optimal", True, 0),
                                                ("pdlp", "approximately optimal", False, 1)]:
        code, out, _ = command("solve", "--json", "--require-feasible", "--method", method, mcf)
        [got] = json.loads(out)
        assert (code, got["status"], got["proven_optimal"], got["method"]) == (
            code_wanted, status, proven, method)
        assert got["primal_residual"] is not None
    for bad_option in ("no_such_option=1", "presolve=sometimes", "presolve"):
        code, out, err = command("solve", "--highs-option", bad_option, mcf)
        assert (code, out) == (2, "") and "--highs-option" in err and bad_option.split("=")[0] in err
    for kind in ("mps", "lp"):
        target = tmp_path / f"model.{kind}"
        assert command("convert", mcf, "-o", target, "--to", kind)[0] == 0
        assert target.stat().st_size > 0
    assert sorted(p.name for p in tmp_path.iterdir()) == ["model.lp", "model.mps", "net.mcf"]

    net = tmp_path / "one.min"
    net.write_text(ONE_ARC)
    bad = tmp_path / "bad.mcf"
    command("generate", net, "-k", 2, "--method", "uniform", "--cap-zero", "--cap-zero-param", 0.5, "-o", bad)
    code, out, _ = command("solve", mcf, bad)
    assert code == 0 and out.splitlines()[1].startswith(f"{bad}: infeasible (")
    assert command("solve", "--require-feasible", mcf, bad)[0] == 1


def test_feasible_only_suite(tmp_path, command):
    (tmp_path / "one.min").write_text(ONE_ARC)
    # Capacities drawn in [1, 10] for one commodity that must move 10 units: only seeds that
    # draw above 9 give a feasible instance.
    manifest = tmp_path / "suite.toml"
    manifest.write_text('networks = ["one.min"]\nfeasible_only = true\nreplace_infeasible = true\n'
                        'max_seed_tries = 100\n[grid]\nnum_commodities = 1\nmethod = "uniform"\n'
                        'seed = [1, 2]\nrandomize_caps = true\ncap_a = 0.1\n')
    assert command("suite", manifest, "--jobs", 1)[0] == 0
    doc = json.loads((tmp_path / "suite" / "suite.json").read_text())
    for entry in doc["instances"]:
        assert entry["status"] == "optimal" and entry["objective"] == 30.0
        params = suite.Params.from_json(entry["params"])
        inst = korvane.load_min_instance(str(tmp_path / "one.min"))
        assert korvane.generate_multi_commodity_data(inst, 1, 1, randomize_caps=True, cap_a=0.1,
                                                     seed=params.seed).capacities_by_arc[0] == [10]
        assert entry.get("requested_seed", params.seed) in (1, 2)
    assert any("requested_seed" in e for e in doc["instances"])
    assert command("suite", manifest, "--verify", "--jobs", 1)[0] == 0

    # Without replacement the infeasible instance stays, recorded as such.
    manifest.write_text(manifest.read_text().replace("replace_infeasible = true", "replace_infeasible = false"))
    code, out, _ = command("suite", manifest, "--jobs", 1)
    statuses = [e["status"] for e in json.loads((tmp_path / "suite" / "suite.json").read_text())["instances"]]
    assert code == 0 and "infeasible" in statuses and "not feasible: " in out


def test_missing_solver_is_named_before_work(tmp_path, command, monkeypatch):
    monkeypatch.setitem(sys.modules, "highspy", None)
    manifest = tmp_path / "suite.toml"
    manifest.write_text(f'networks = ["{Path(NETWORK).as_posix()}"]\nfeasible_only = true\n'
                        '[grid]\nnum_commodities = 2\nmethod = "uniform"\n')
    assert command("suite", manifest) == (4, "", "korvane: korvane.solve needs highspy: pip install "
                                          "highspy numpy (or 'korvane[solve]' by name, '.[solve]' "
                                          "from a checkout)\n")
    assert not (tmp_path / "suite").exists()


def test_mnetgen_suite(tmp_path, command):
    manifest = tmp_path / "suite.toml"
    manifest.write_text(f'networks = ["{Path(NETWORK).as_posix()}"]\nformat = "mnetgen"\n'
                        '[grid]\nnum_commodities = [2, 3]\nmethod = "spread"\n')
    assert command("suite", manifest, "--jobs", 2)[0] == 0
    doc = json.loads((tmp_path / "suite" / "suite.json").read_text())
    for entry in doc["instances"]:
        assert [f["name"] for f in entry["files"]] == [entry["name"] + part for part in PARTS]
    victim = tmp_path / "suite" / doc["instances"][1]["files"][3]["name"]
    victim.write_text(victim.read_text() + "\n")
    code, _, err = command("suite", manifest, "--verify", "--jobs", 1)
    assert (code, err) == (1, f"korvane: {victim}: file differs from its regenerated checksum\n")


def test_jlf_and_generator_files_on_the_command_line(tmp_path, command):
    from test_mnetgen import GENERATOR, JLF, MNETGEN_DIR
    from conftest import write_parts

    parts, k, arcs, optimum = JLF["ods"]
    base = write_parts(tmp_path / "ods", parts)
    code, out, err = command("info", base)
    assert (code, out) == (2, "") and "--jlf-kind" in err
    code, out, _ = command("solve", "--json", "--jlf-kind", "ods", f"{base}.arc")
    assert code == 0 and [(r["status"], r["objective"]) for r in json.loads(out)] == [
        ("optimal", optimum)]
    code, out, _ = command("info", "--json", "--jlf-kind", "ods", base)
    assert [(r["format"], r["num_commodities"], r["arcs"]) for r in json.loads(out)] == [
        ("jlf", k, arcs)]
    assert command("convert", base, "--jlf-kind", "ods", "-o", tmp_path / "m", "--to", "mnetgen")[0] == 0
    assert solve.solve(formats.read_mnetgen(tmp_path / "m")).objective == optimum
    if GENERATOR:
        names = [MNETGEN_DIR / row[0] for row in GENERATOR[:2]]
        code, out, _ = command("solve", "--json", *names)
        assert [r["objective"] for r in json.loads(out)] == pytest.approx(
            [row[5] for row in GENERATOR[:2]], rel=1e-7)


def test_solve_explains_and_prints_the_exact_optimum(tmp_path, command):
    net = tmp_path / "one.min"
    net.write_text(ONE_ARC)
    good, bad = tmp_path / "good.mcf", tmp_path / "bad.mcf"
    command("generate", net, "-k", 2, "--method", "uniform", "--randomize-costs", "--seed", 4,
            "-o", good)
    command("generate", net, "-k", 2, "--method", "uniform", "--cap-zero", "--cap-zero-param", 0.5,
            "-o", bad)
    want = solve.solve(korvane.load_multi_commodity_instance(str(good))).objective
    why = solve.check_feasible(korvane.load_multi_commodity_instance(str(bad))).reason
    code, out, _ = command("solve", "--explain", good, bad)
    lines = out.splitlines()
    assert code == 0 and len(lines) == 4
    # The optimum as the shortest text that reads back to the same float.
    assert lines[0].startswith(f"{good}: optimal objective {want!r} (")
    assert float(lines[0].split("objective ")[1].split(" (")[0]) == want
    assert lines[1:] == ["  feasible", lines[2], f"  {why}"] and "cannot be routed" in why
    code, out, _ = command("solve", "--json", "--explain", bad)
    assert json.loads(out)[0]["explanation"] == why


@pytest.mark.parametrize("suffix, compress", [(".gz", "gzip"), (".zst", "zstd")])
def test_compressed_mnetgen_output_named_by_its_suffix(tmp_path, command, suffix, compress):
    inst = korvane.load_min_instance(NETWORK)
    data = korvane.generate_multi_commodity_data(inst, 2, 1, seed=3)
    formats.write_mnetgen(str(tmp_path / "api"), inst, data, compress=compress)
    assert command("generate", NETWORK, "-k", 2, "--method", "uniform", "--seed", 3,
                   "--format", "mnetgen", "-o", tmp_path / f"cli{suffix}")[0] == 0
    mcf = tmp_path / "net.mcf"
    korvane.save_multi_commodity_instance(str(mcf), inst, data)
    assert command("convert", mcf, "--to", "mnetgen", "-o", tmp_path / f"conv{suffix}") == (
        0, f"wrote {tmp_path / 'conv'}.{{nod,arc,sup,mut}}{suffix}\n", "")
    for part in PARTS:
        assert (tmp_path / f"cli{part}{suffix}").read_bytes() == \
            (tmp_path / f"api{part}{suffix}").read_bytes()
        assert not (tmp_path / f"cli{suffix}{part}").exists()
    assert formats.read_mnetgen(tmp_path / "conv") == formats.read_mnetgen(tmp_path / "api")
