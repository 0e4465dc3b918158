"""The solver ladder: each LP method's time to the optimum at 1e-6 relative, each run capped
by a time limit, on netgen_8_14a (131072 arcs, from the shared DIMACS folder) at K = 2, 4, 8,
16 (beta-binomial, randomised capacities and costs, seed 1) and on instances of the published
Mnetgen set (``--mnetgen 256-64-9,...``, made in memory: per-commodity costs and capacities,
bundles on a share of the arcs). A method counts as having reached the optimum when HiGHS
stopped with a solution whose objective is within 1e-6 relative of the reference (the best
proven optimum of that instance) and whose residuals are at most 1e-6 relative to the largest
finite capacity; the ratio is each method's time over the fastest one's on that instance.
Runs that hit the cap, or stop elsewhere, are shown as such, with their residuals.

    python benchmarks/bench_solve_ladder.py [--cap SECONDS] [--ks 2,4,8,16] [--mnetgen NAMES]
                                            [--methods simplex,ipm,...] [NETWORK.min]

With ``--mnetgen`` alone only the Mnetgen instances run; add ``--ks`` for both.
"""

from __future__ import annotations

import argparse
import itertools
import math
import os
from collections.abc import Callable, Iterator
from pathlib import Path
from typing import Any

import korvane
from korvane import generators, solve

from common import row

NETWORK = Path(os.environ.get("KORVANE_DIMACS_DIR") or Path(__file__).resolve().parents[2] / "shared"
               / "data" / "dimacs") / "netgen_8_14a.min"

# The methods korvane.solve takes (the decomposition by commodity among them), plus the
# interior point method without crossover (a bound-quality answer, to see what crossover
# costs).
LADDER = {
    "simplex": ("simplex", {}),
    "ipm": ("ipm", {}),
    "ipm-no-crossover": ("ipm", {"run_crossover": "off"}),
    "pdlp": ("pdlp", {}),
    "decomposition": ("decomposition", {}),
}
WIDTHS = (14, 18, 10, 22, 9, 9, 9, 11)

# An instance of the ladder: its label, its solve(method, options, cap) and the scale its
# residuals are measured against.
Case = tuple[str, Callable[[str, dict[str, Any], float], solve.SolveResult], float]


def netgen_cases(network: Path, ks: list[int]) -> Iterator[Case]:
    inst = korvane.load_min_instance(str(network))
    scale = float(max(abs(c) for c in inst.capacities) or 1)
    for k in ks:
        data = korvane.generate_multi_commodity_data(inst, k, 2, randomize_caps=True,
                                                     randomize_costs=True, seed=1)
        model = solve.build_model(inst, data)
        print(f"{network.stem} K={k}: {model.num_cols} columns, {model.num_rows} rows, "
              f"auto -> {solve._auto_method(model)}", flush=True)
        yield (f"K={k}", lambda m, o, cap, d=data: solve.solve(inst, d, method=m, options=o,
                                                               time_limit=cap), scale)


def mnetgen_cases(names: list[str]) -> Iterator[Case]:
    np = solve._numpy()
    for name in names:
        problem = generators.mnetgen_family(name)
        model = solve.build_model(problem)
        # Unbounded capacities (Mnetgen's -1, infinite in the model) do not scale anything.
        bounds = np.concatenate([model.col_upper, model.row_upper[len(model.nodes)
                                                                  * model.num_commodities:]])
        finite = bounds[np.isfinite(bounds)]
        scale = float(finite.max()) if finite.size else 1.0
        print(f"{name}: K={problem.num_commodities}, {problem.num_arcs} arcs, "
              f"{model.num_cols} columns, {model.num_rows} rows, "
              f"{len(model.bundle_arcs)} bundles, auto -> {solve._auto_method(model)}",
              flush=True)
        yield (name, lambda m, o, cap, p=problem: solve.solve(p, method=m, options=o,
                                                              time_limit=cap), scale)


def ladder(case: Case, methods: list[str], cap: float) -> None:
    label, run, scale = case
    results = {name: run(LADDER[name][0], dict(LADDER[name][1]), cap) for name in methods}
    proven = [r.objective for r in results.values() if r.proven_optimal and r.objective is not None]
    reference = min(proven) if proven else None

    def error(r: solve.SolveResult) -> float | None:
        if reference is None or r.objective is None:
            return None
        return abs(r.objective - reference) / max(1.0, abs(reference))

    reached = {}
    for name, r in results.items():
        err = error(r)
        residual = max(r.primal_residual or 0.0, r.dual_residual or 0.0) / scale
        if err is not None and err <= 1e-6 and residual <= 1e-6 and math.isfinite(residual):
            reached[name] = r.solve_seconds
    fastest = min(reached.values()) if reached else None
    for name, r in results.items():
        err = error(r)
        ratio = f"{reached[name] / fastest:.2f}x" if fastest and name in reached else "-"
        print(row(label, name, f"{r.solve_seconds:.2f}", r.status,
                  "-" if r.primal_residual is None else f"{r.primal_residual:.1e}",
                  "-" if r.dual_residual is None else f"{r.dual_residual:.1e}",
                  "-" if err is None else f"{err:.1e}", ratio, widths=WIDTHS), flush=True)
    if reference is not None:
        print(f"{label}: optimum {reference!r}", flush=True)


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("network", nargs="?", default=str(NETWORK))
    parser.add_argument("--cap", type=float, default=300.0, help="time limit per run (s)")
    parser.add_argument("--ks", default=None, help="K for the network (default 2,4,8,16 "
                        "unless --mnetgen is given)")
    parser.add_argument("--mnetgen", default="", help="Mnetgen instances by name, e.g. 256-64-9")
    parser.add_argument("--methods", default=",".join(LADDER))
    args = parser.parse_args()
    methods = args.methods.split(",")
    unknown = [m for m in methods if m not in LADDER]
    if unknown:
        parser.error(f"unknown methods {unknown}: the ladder has {', '.join(LADDER)}")
    names = [n for n in args.mnetgen.split(",") if n]
    ks_text = args.ks if args.ks is not None else ("" if names else "2,4,8,16")
    ks = [int(x) for x in ks_text.split(",") if x]
    print(f"cap {args.cap:.0f} s per run; load average {os.getloadavg()[0]:.1f}", flush=True)
    print(row("instance", "method", "seconds", "status", "primal", "dual", "rel. err",
              "vs fastest", widths=WIDTHS), flush=True)
    network = Path(args.network)
    if ks and not network.exists():
        print(f"skipped K={ks_text}: {network} is absent (the shared data folder holds it)")
        ks = []
    for case in itertools.chain(netgen_cases(network, ks) if ks else (), mnetgen_cases(names)):
        ladder(case, methods, args.cap)
    print(f"load average at the end {os.getloadavg()[0]:.1f}", flush=True)


if __name__ == "__main__":
    main()
