"""Typed use of korvane.arrays and korvane.formats: mypy --strict checks array names, reader
kinds and problem attributes (a misspelt one is an error).

    python examples/typed_arrays.py [NETWORK.min]
"""

import sys
from pathlib import Path

import numpy as np
from numpy.typing import NDArray

import korvane
from korvane.arrays import network_arrays, network_from_arrays, problem_arrays
from korvane.formats import MulticommodityProblem, to_problem

HERE = Path(__file__).resolve().parent


def arc_costs(inst: korvane.NetworkInstance) -> NDArray[np.int64]:
    return network_arrays(inst)["cost"]


def bundle_bounds(problem: MulticommodityProblem) -> NDArray[np.float64]:
    return problem_arrays(problem)["bundle"]


def main() -> None:
    path = sys.argv[1] if len(sys.argv) > 1 else str(HERE / "network.min")
    inst = korvane.load_min_instance(path)
    columns = network_arrays(inst)
    again = network_from_arrays(columns["tail"], columns["head"], columns["low"],
                                columns["up"], columns["cost"], inst.supplies, inst.num_nodes)
    problem = to_problem(again)
    print(f"{len(inst.edges)} arcs, total cost coefficient {int(arc_costs(inst).sum())}, "
          f"{int(np.isfinite(bundle_bounds(problem)).sum())} bounded bundles, "
          f"{problem.num_nodes} nodes numbered 1..N")


if __name__ == "__main__":
    main()
