"""korvane netgen and korvane generators list: the original's inputs and the families' names."""

import io
import json
import sys

import pytest

from korvane import generators

LINE = "13502460 8 256 16 16 2048 1 10000 16000 0 0 100 100 1 1000"


def expected(tmp_path, **params):
    out = tmp_path / "expected.min"
    generators.write_netgen(out, **params)
    return out.read_bytes()


@pytest.mark.parametrize("text", [LINE + "\n", LINE.replace(" ", "\n") + "\n0\n",
                                  "  " + LINE.replace(" ", "\t ") + " -1"])
def test_parameter_file_in_the_originals_layout(tmp_path, command, text):
    params = tmp_path / "net.param"
    params.write_text(text)
    code, out, err = command("netgen", params, "-o", tmp_path / "net.min")
    assert (code, err) == (0, "")
    assert out == f"wrote {tmp_path / 'net.min'} (256 nodes, 2048 arcs)\n"
    assert (tmp_path / "net.min").read_bytes() == expected(tmp_path, **generators.family("netgen_8_08a"))


def test_parameters_from_standard_input_and_by_name(tmp_path, command, monkeypatch):
    monkeypatch.setattr(sys, "stdin", io.StringIO(LINE))
    assert command("netgen", "-", "-o", tmp_path / "stdin.min", "-q") == (0, "", "")
    assert command("netgen", "netgen_8_08a", "-o", tmp_path / "named.min.gz", "-q") == (0, "", "")
    assert command("netgen", "netgen-101", "-o", tmp_path / "p101.min", "-q") == (0, "", "")
    import gzip
    plain = (tmp_path / "stdin.min").read_bytes()
    assert gzip.decompress((tmp_path / "named.min.gz").read_bytes()) == plain
    assert (tmp_path / "p101.min").read_bytes() == expected(tmp_path, **generators.family("netgen-101"))


@pytest.mark.parametrize("text, message", [
    (LINE.replace("16 16 2048", "16 0 2048"),
     "sinks: must be positive, got 0 (Inconsistent parameter settings - check the input)"),
    (LINE.replace("0 0 100", "0 -1 100"),
     "transshipment_sinks: must not be negative, got -1 (NETGEN would crash)"),
    ("5 1 20 4 5 80", "{src}: expected 15 integers (seed, problem number, 13 parameters), found 6"),
    ("0 " + LINE, "{src}: the seed must be positive (NETGEN stops reading at a seed that is not)"),
    ("", "{src}: no NETGEN problem: expected 15 integers (seed, problem number, 13 parameters)"),
    (LINE + " " + LINE, "{src}: holds 2 problems; korvane netgen writes one per file (split the file)"),
])
def test_refusals_are_one_line_with_exit_2_and_no_file(tmp_path, command, text, message):
    params = tmp_path / "bad.param"
    params.write_text(text)
    out = tmp_path / "net.min"
    code, stdout, err = command("netgen", params, "-o", out)
    assert (code, stdout) == (2, "")
    assert err == f"korvane: {message.format(src=params)}\n"
    assert not out.exists()


def test_unknown_name_and_mnetgen_name(tmp_path, command):
    code, _, err = command("netgen", "netgen_8_23a", "-o", tmp_path / "x.min")
    assert (code, err) == (2, "korvane: netgen_8_23a: neither a parameter file nor a NETGEN family "
                              "member (see korvane generators list)\n")
    code, _, err = command("netgen", "64-4-1", "-o", tmp_path / "x.min")
    assert (code, err) == (2, "korvane: 64-4-1: a Mnetgen instance; korvane mnetgen writes it\n")


def test_generators_list(command):
    code, out, _ = command("generators", "list")
    names = out.split()
    assert code == 0 and names == generators.family_names()
    assert names[:2] == ["netgen-101", "netgen-102"] and "netgen_deg_12e" in names
    assert len([n for n in names if n.startswith("netgen")]) == 50 + 5 * (15 + 9 + 15 + 9 + 12)
    code, out, _ = command("generators", "list", "--json", "netgen_sr_1?b")
    listed = json.loads(out)
    assert [m["name"] for m in listed] == [f"netgen_sr_{k}b" for k in range(10, 17)]
    assert all(generators.family(m["name"]) == m["params"] for m in listed)


def test_family_spellings_agree():
    member = generators.family("netgen_lo_sr_12c")
    assert member == generators.family("netgen-lo-sr", size=12, seed="c") \
        == generators.family("netgen-lo-sr", size=12, seed=3)
    assert member["seed"] == 91208735 and member["supply"] == 640 and member["arcs"] == 262144
    assert generators.family("netgen-classic", number=137) == generators.family("netgen-137")
    assert generators.family("netgen-deg", size=12) == generators.family("netgen_deg_12a")


@pytest.mark.parametrize("args, kwargs, message", [
    (("netgen-9",), {}, "name: no generator family member or family is called 'netgen-9' "
                        "(see korvane generators list)"),
    (("netgen-sr",), {"size": 17}, "size: netgen-sr has sizes 8 to 16, got 17"),
    (("netgen-8",), {"size": 9, "seed": "f"},
     "seed: expected a variant letter 'a' to 'e' or its number 1 to 5, got 'f'"),
    (("netgen-8",), {"size": 9, "seed": 0},
     "seed: expected a variant letter 'a' to 'e' or its number 1 to 5, got 0"),
    (("netgen-8",), {}, "size: netgen-8 needs a size"),
    (("netgen-classic",), {"number": 151}, "number: the classic NETGEN problems are 101 to 150, got 151"),
    (("netgen-classic",), {"number": 101, "size": 3}, "size: netgen-classic takes no size"),
    (("netgen_8_14a",), {"seed": "b"}, "seed: netgen_8_14a takes no seed"),
])
def test_family_refusals(args, kwargs, message):
    with pytest.raises(ValueError) as exc:
        generators.family(*args, **kwargs)
    assert str(exc.value) == message


def test_mnetgen_names_go_to_mnetgen():
    mnetgen = pytest.importorskip("korvane.generators.mnetgen")
    assert generators.family("64-4-1") == mnetgen.family_parameters("64-4-1")
    assert set(mnetgen.family_names()) <= set(generators.family_names())
