"""Suites whose networks a generator makes: made, recorded, resumed, remade and verified."""

import json

import pytest

from korvane import generators, suite

# TOML keeps an inline table on one line.
INLINE = ("{ netgen = { seed = 5, nodes = 60, sources = 5, sinks = 6, arcs = 300, min_cost = 1, "
          "max_cost = 90, supply = 500, max_cost_percent = 20, capacitated_percent = 50, "
          "min_capacity = 5, max_capacity = 60 } }")
MANIFEST = f"""\
output = "out"
networks = [{{ netgen = "netgen-8", size = 8, seed = "b" }},
            {INLINE}]
[grid]
num_commodities = [2, 3]
method = "spread"
"""


def run(command, manifest, *options):
    code, out, err = command("suite", manifest, "--jobs", "1", "-q", *options)
    assert err == ""
    return code, out


def test_generated_networks_run_resume_and_verify(tmp_path, command):
    manifest = tmp_path / "suite.toml"
    manifest.write_text(MANIFEST)
    assert run(command, manifest) == (0, f"4 made, 0 kept; {tmp_path / 'out' / 'suite.json'}\n")
    out = tmp_path / "out"
    member = out / "netgen_8_08b.min"
    expected = tmp_path / "expected.min"
    generators.write_netgen(expected, **generators.family("netgen-8", size=8, seed="b"))
    assert member.read_bytes() == expected.read_bytes()
    doc = json.loads((out / "suite.json").read_text())
    recorded = doc["networks"]["netgen_8_08b.min"]
    assert recorded["netgen"] == generators.family("netgen_8_08b")
    assert recorded["sha256"] == suite.sha256_file(member)
    inline = [n for n in doc["networks"] if n.startswith("netgen-s5-n60-")]
    assert len(inline) == 1 and doc["networks"][inline[0]]["netgen"]["arcs"] == 300
    assert {e["network"] for e in doc["instances"]} == {"netgen_8_08b.min", inline[0]}

    assert run(command, manifest) == (0, f"0 made, 4 kept; {out / 'suite.json'}\n")
    assert run(command, manifest, "--verify") == (0, "verified 4 instances: every checksum matches\n")

    # A damaged base network is caught by --verify, then remade by the next run, which then
    # keeps the instances made from it (the remade network has the recorded checksum).
    member.write_text("p min 1 0\n")
    code, _, err = command("suite", manifest, "--jobs", "1", "-q", "--verify")
    assert code == 1
    assert f"korvane: {member}: network file differs from its regenerated checksum\n" in err
    assert run(command, manifest) == (0, f"0 made, 4 kept; {out / 'suite.json'}\n")
    assert member.read_bytes() == expected.read_bytes()

    # Other parameters make another network, and its instances are new.
    manifest.write_text(MANIFEST.replace("arcs = 300", "arcs = 301"))
    assert run(command, manifest) == (0, f"2 made, 2 kept; {out / 'suite.json'}\n")


@pytest.mark.parametrize("entry, message", [
    ('{ netgen = "netgen-8", size = 30 }', "networks[0].netgen: size: netgen-8 has sizes 8 to 22, got 30"),
    ('{ netgen = "netgen-8", sizes = 8 }', "networks[0].sizes: unknown key"),
    ('{ size = 8 }', "networks[0]: a generated network needs the key 'netgen'"),
    ('{ netgen = { seed = 1, nodes = 10 } }', "networks[0].netgen: missing NETGEN parameter 'sources'"),
    ('{ netgen = { seed = 1, nodes = 10, sources = 2, sinks = 2, arcs = 20, min_cost = 1, '
     'max_cost = 9, supply = 1, max_cost_percent = 0, capacitated_percent = 0, min_capacity = 1, '
     'max_capacity = 2 } }',
     "networks[0].netgen: supply: must be at least sources (2), got 1 (Inconsistent parameter "
     "settings - check the input)"),
    ('{ netgen = { seed = 1, density = 5 } }', "networks[0].netgen.density: unknown NETGEN parameter"),
    ('{ netgen = 7 }', "networks[0].netgen: expected a family member's name or a table of NETGEN "
                       "parameters, got 7"),
])
def test_bad_generator_entries_are_refused_before_work(tmp_path, command, entry, message):
    manifest = tmp_path / "suite.toml"
    manifest.write_text(f"networks = [{entry}]\n[grid]\nnum_commodities = 2\nmethod = 'spread'\n")
    assert command("suite", manifest) == (2, "", f"korvane: {manifest}: {message}\n")
    assert not (tmp_path / "suite").exists()


def mnetgen_suite(tmp_path, command, names):
    manifest = tmp_path / "suite.toml"
    manifest.write_text(f'output = "out"\nmnetgen = {names!r}\n'.replace("'", '"'))
    code, out, err = command("suite", manifest, "--jobs", "1", "-q")
    assert (code, err) == (0, "")
    return manifest, out


def check_mnetgen_suite(tmp_path, command, module, names, expected):
    manifest, out = mnetgen_suite(tmp_path, command, names)
    folder = tmp_path / "out"
    assert out == f"{len(expected)} made, 0 kept; {folder / 'suite.json'}\n"
    doc = json.loads((folder / "suite.json").read_text())
    assert [e["name"] for e in doc["instances"]] == expected
    for name in expected:
        assert doc["networks"][f"mnetgen:{name}"]["mnetgen"] == module.family_parameters(name)
        assert sorted(p.name for p in folder.glob(f"{name}.*")) == \
            [f"{name}.{part}" for part in ("arc", "mut", "nod", "sup")]
    assert command("suite", manifest, "--jobs", "1", "-q")[1] == \
        f"0 made, {len(expected)} kept; {folder / 'suite.json'}\n"
    (folder / f"{expected[0]}.sup").write_text("damaged\n")
    code, _, err = command("suite", manifest, "--jobs", "1", "-q", "--verify")
    assert code == 1 and f"{folder / expected[0]}.sup: file differs" in err
    assert command("suite", manifest, "--jobs", "1", "-q")[1] == \
        f"1 made (file changed), {len(expected) - 1} kept; {folder / 'suite.json'}\n"
    assert command("suite", manifest, "--jobs", "1", "-q", "--verify")[0] == 0


def test_mnetgen_members_as_jobs(tmp_path, command):
    mnetgen = pytest.importorskip("korvane.generators.mnetgen")
    expected = generators.expand_names("64-4-*", mnetgen.family_names())[:2]
    check_mnetgen_suite(tmp_path, command, mnetgen, [expected[0], expected[1], expected[0]],
                        expected)


class FakeMnetgen:
    """Stands in for korvane.generators.mnetgen where it is absent: the suite's part is
    naming, recording and publishing the four files, which this exercises."""

    @staticmethod
    def family_names():
        return ["8-2-1", "8-2-2", "16-2-1"]

    @staticmethod
    def family_parameters(name):
        if name not in FakeMnetgen.family_names():
            raise ValueError(name)
        return {"seed": sum(map(int, name.split("-"))), "nodes": int(name.split("-")[0])}

    @staticmethod
    def write_mnetgen_instance(base, *, compress=None, **params):
        for part in ("nod", "arc", "sup", "mut"):
            with open(f"{base}.{part}", "w") as f:
                f.write(f"{part} {params['seed']} {params['nodes']}\n")


def test_mnetgen_jobs_with_a_stand_in(tmp_path, command, monkeypatch):
    import sys
    monkeypatch.setitem(sys.modules, "korvane.generators.mnetgen", FakeMnetgen)
    check_mnetgen_suite(tmp_path, command, FakeMnetgen, ["8-2-*"], ["8-2-1", "8-2-2"])
    manifest = tmp_path / "bad.toml"
    manifest.write_text('mnetgen = ["9-9-*"]\n')
    assert command("suite", manifest) == (2, "", f"korvane: {manifest}: mnetgen: no Mnetgen "
                                                 "instance matches '9-9-*'\n")
