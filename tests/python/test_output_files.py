"""What the command line and the suites write reaches its path through the native writer:
an output keeps its mode and its symbolic link, and compressed outputs hold exactly the
plain file's bytes, compressed by korvane itself."""

import gzip
import os
import subprocess
from pathlib import Path

import pytest
from conftest import NETWORK, zstd

import korvane
import korvane.formats
from korvane import suite

PARAMS = suite.Params(num_commodities=3, method=2, randomize_caps=True, seed=4)
ARGS = ["-k", "3", "--method", "beta-binomial", "--randomize-caps", "--seed", "4", "-q"]


def unzstd(data):
    zstd(b"")  # skips without the zstd command
    return subprocess.run(["zstd", "-d", "-q", "-c"], input=data, check=True,
                          stdout=subprocess.PIPE).stdout


UNPACK = {"": lambda data: data, ".gz": gzip.decompress, ".zst": unzstd}


def instance_and_data():
    inst = korvane.load_min_instance(NETWORK)
    return inst, suite.generate(inst, PARAMS)


@pytest.fixture
def plain(tmp_path):
    """The multi-commodity file of PARAMS, as the API saves it."""
    path = tmp_path / "plain.mcf"
    korvane.save_multi_commodity_instance(str(path), *instance_and_data())
    return path.read_bytes()


# Each writes the multi-commodity file of PARAMS at `out` (whose name asks for a compression)
# and returns the files it reports.
WRITERS = {
    "generate": lambda command, out, source: command(
        "generate", NETWORK, *ARGS[:-1], "-o", out)[1].split(),
    "convert": lambda command, out, source: command(
        "convert", source, "-o", out, "--to", "mcf")[1].split(),
    "stream_instance": lambda command, out, source: suite.stream_instance(
        korvane.load_min_instance(NETWORK), PARAMS, out, "mcf"),
    "write_instance": lambda command, out, source: suite.write_instance(
        *instance_and_data(), out, "mcf"),
}
CASES = [(writer, suffix) for writer in WRITERS for suffix in ("", ".gz", ".zst")
         if not (writer.endswith("_instance") and suffix)]


@pytest.mark.parametrize("writer, suffix", CASES)
def test_an_output_keeps_its_mode_and_its_link(tmp_path, command, plain, writer, suffix):
    source = tmp_path / "source.mcf"
    source.write_bytes(plain)
    real, link = tmp_path / f"real.mcf{suffix}", tmp_path / f"link.mcf{suffix}"
    real.write_text("old\n")
    real.chmod(0o600)
    os.symlink(real.name, link)
    for out in (real, link):
        assert [str(f) for f in WRITERS[writer](command, out, source)][-1:] == [str(out)]
        assert UNPACK[suffix](real.read_bytes()) == plain
        assert real.stat().st_mode & 0o777 == 0o600
    assert link.is_symlink() and os.readlink(link) == real.name
    assert not [p.name for p in tmp_path.iterdir() if p.name.startswith(".")]


@pytest.mark.parametrize("suffix", [".gz", ".zst"])
def test_compressed_output_is_the_plain_file_compressed(tmp_path, command, plain, suffix):
    # Also through a gzip or zstd source: convert decompresses as it copies.
    out, again = tmp_path / f"x.mcf{suffix}", tmp_path / f"again.mcf{suffix}"
    assert command("generate", NETWORK, *ARGS, "-o", out)[0] == 0
    assert command("convert", out, "-o", again, "--to", "mcf")[0] == 0
    assert command("convert", again, "-o", tmp_path / "back.mcf", "--to", "mcf")[0] == 0
    assert UNPACK[suffix](out.read_bytes()) == plain
    assert out.read_bytes() == again.read_bytes()
    assert (tmp_path / "back.mcf").read_bytes() == plain


def test_mnetgen_parts_keep_their_mode(tmp_path, command):
    base = tmp_path / "x"
    korvane.formats.write_mnetgen(base, *instance_and_data())
    Path(f"{base}.nod").chmod(0o640)
    assert command("generate", NETWORK, *ARGS, "--format", "mnetgen", "-o", base)[0] == 0
    assert Path(f"{base}.nod").stat().st_mode & 0o777 == 0o640


def test_collected_parts_are_published_as_one_instance(tmp_path):
    # What a suite's remote workers send back: the parts' bytes, put in place by the client.
    made, base = tmp_path / "made", tmp_path / "x"
    inst, data = instance_and_data()
    korvane.formats.write_mnetgen(made, inst, data)
    korvane.formats.write_mnetgen(base, inst, korvane.generate_multi_commodity_data(inst, 2, 0),
                                  compress="gzip")
    parts = [f".{part}" for part in korvane.formats.PARTS]
    suite._NATIVE._write_bytes([f"{base}{p}" for p in parts],
                               tuple(Path(f"{made}{p}").read_bytes() for p in parts))
    assert sorted(p.name for p in tmp_path.iterdir()) == sorted(
        [f"made{p}" for p in parts] + [f"x{p}" for p in parts])
    assert korvane.formats.read_mnetgen(base) == korvane.formats.read_mnetgen(made)
