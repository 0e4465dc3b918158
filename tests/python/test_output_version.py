"""What korvane writes changes only together with its version, so suite.json's recorded
korvane_version tells the writers apart."""

import hashlib

import pytest
from conftest import NETWORK

import korvane

formats = pytest.importorskip("korvane.formats", reason="korvane.formats is not built in")

# SHA-256 of this version's files for one fixed generation, pinned from korvane's own output
# when the version was set. Output that changes needs a new version, with these recorded
# under it and a CHANGELOG entry; an unchanged writer carries its line forward.
OUTPUT = {
    "0.3.0": {
        "mcf": "fa160f98bd03f74ca2e621d5c171c48f45ec340fed20f9a55c3fac850668fffc",
        "mnetgen": "6ee2b5548426f9760e86ceb068981b2d076b3484e1180cdf502caa5c9abc2d90",
    },
}


def test_files_written_match_the_version(tmp_path):
    assert korvane.__version__ in OUTPUT, "a new version: record what it writes"
    inst = korvane.load_min_instance(NETWORK)
    data = korvane.generate_multi_commodity_data(inst, 3, 2, randomize_caps=True,
                                                 randomize_costs=True, cap_zero=True,
                                                 cap_zero_param=0.2, seed=11)
    korvane.save_multi_commodity_instance(str(tmp_path / "x.mcf"), inst, data)
    formats.write_mnetgen(tmp_path / "m", inst, data)
    written = {
        "mcf": hashlib.sha256((tmp_path / "x.mcf").read_bytes()).hexdigest(),
        "mnetgen": hashlib.sha256(b"".join((tmp_path / f"m.{part}").read_bytes()
                                           for part in formats.PARTS)).hexdigest(),
    }
    assert written == OUTPUT[korvane.__version__], (
        "the files written changed: raise the version and say so in CHANGELOG.md")
