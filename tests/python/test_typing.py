"""mypy --strict catches misspelt array names, reader kinds and problem attributes."""

import os
from pathlib import Path

import pytest

import korvane

api = pytest.importorskip("mypy.api", reason="mypy is not installed")
pytest.importorskip("numpy", reason="the array types need numpy's stubs")

HEAD = """\
import korvane
import numpy as np
from numpy.typing import NDArray
from korvane.arrays import csr, network_arrays, problem_arrays
from korvane.formats import MulticommodityProblem, read_jlf, to_problem, write_mnetgen
"""

GOOD = HEAD + """
def tails(inst: korvane.NetworkInstance) -> NDArray[np.int64]:
    return network_arrays(inst)["tail"] + csr(inst)["out_indptr"][:1]

def bundles(problem: MulticommodityProblem) -> NDArray[np.float64]:
    return problem_arrays(problem)["bundle"]

def commodities(base: str) -> int:
    return read_jlf(base, "ods").num_commodities

def ids(inst: korvane.NetworkInstance) -> list[int]:
    write_mnetgen(base="x", instance=inst, compress="zstd")
    return to_problem(inst).node_ids
"""

# Each body misspells one name; the error mypy must report names it.
BAD = {
    "array_key": ('network_arrays(inst)["tails"]', '"NetworkArrays" has no key "tails"'),
    "csr_key": ('csr(inst)["out_index"]', '"CsrArrays" has no key "out_index"'),
    "jlf_kind": ('read_jlf("x", "od")', 'Argument 2 to "read_jlf" has incompatible type'),
    "problem_attribute": ("to_problem(inst).node_id",
                          '"MulticommodityProblem" has no attribute "node_id"'),
    "compression": ('write_mnetgen("x", inst, compress="gz")',
                    'Argument "compress" to "write_mnetgen" has incompatible type'),
}


def test_mypy_strict_on_typed_and_misspelt_use(tmp_path, monkeypatch):
    # The package as this test imports it: the build tree's, stubs included.
    monkeypatch.setenv("MYPYPATH", str(Path(korvane.__file__).resolve().parents[1]))
    files = {"good": GOOD}
    for name, (body, _) in BAD.items():
        files[name] = HEAD + f"\ndef use(inst: korvane.NetworkInstance) -> object:\n    return {body}\n"
    for name, text in files.items():
        (tmp_path / f"{name}.py").write_text(text)
    out, err, _ = api.run(["--strict", "--cache-dir", str(tmp_path / ".cache"),
                           *(str(tmp_path / f"{name}.py") for name in files)])
    # mypy names a file relative to the working folder when it lies beneath it.
    errors = {name: [line for line in out.splitlines()
                     if Path(line.split(":", 1)[0]).name == f"{name}.py" and ": error:" in line]
              for name in files}
    assert errors["good"] == [], out + err
    for name, (_, expected) in BAD.items():
        assert len(errors[name]) == 1 and expected in errors[name][0], (name, out + err)
