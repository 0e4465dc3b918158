"""The solver ladder: each LP method's time to the optimum at 1e-6 relative on netgen_8_14a
(131072 arcs, from the shared DIMACS folder) at K = 2, 4, 8, 16 (beta-binomial, randomised
capacities and costs, seed 1), each run capped by a time limit. A method counts as having
reached the optimum when HiGHS stopped with a solution whose objective is within 1e-6
relative of the reference (the best proven optimum of that K) and whose residuals are at
most 1e-6 relative to the largest capacity; the ratio is each method's time over the
fastest one's at that K. Runs that hit the cap, or stop elsewhere, are shown as such.

    python benchmarks/bench_solve_ladder.py [--cap SECONDS] [--ks 2,4,8,16] [NETWORK.min]
"""

from __future__ import annotations

import argparse
import os
from pathlib import Path

import korvane
from korvane import solve
from korvane.decomposition import decompose

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
WIDTHS = (4, 20, 12, 22, 10, 10, 10, 12)


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("network", nargs="?", default=str(NETWORK))
    parser.add_argument("--cap", type=float, default=300.0, help="time limit per run (s)")
    parser.add_argument("--ks", default="2,4,8,16")
    parser.add_argument("--methods", default=",".join(LADDER))
    args = parser.parse_args()
    network = Path(args.network)
    if not network.exists():
        print(f"skipped: {network} is absent (the shared data folder holds it)")
        return
    inst = korvane.load_min_instance(str(network))
    scale = max(abs(c) for c in inst.capacities) or 1
    methods = args.methods.split(",")
    print(f"{network.name}: {len(inst.edges)} arcs; cap {args.cap:.0f} s per run; load average "
          f"{os.getloadavg()[0]:.1f}", flush=True)
    print(row("K", "method", "seconds", "status", "primal", "dual", "rel. err", "vs fastest",
              widths=WIDTHS), flush=True)
    for k in (int(x) for x in args.ks.split(",")):
        data = korvane.generate_multi_commodity_data(inst, k, 2, randomize_caps=True,
                                                     randomize_costs=True, seed=1)
        results = {}
        for name in methods:
            method, options = LADDER[name]
            if method == "decomposition":
                result, stats = decompose(inst, data, options=options, time_limit=args.cap)
                results[name] = result
                print(f"   decomposition at K = {k}: {stats.iterations} master solves, "
                      f"{stats.columns} columns, {stats.pivots} pivots; master "
                      f"{stats.master_seconds:.1f} s, pricing {stats.pricing_seconds:.1f} s; "
                      f"lower bound {stats.lower_bound}", flush=True)
                continue
            results[name] = solve.solve(inst, data, method=method, options=options,
                                        time_limit=args.cap)
        proven = [r.objective for r in results.values() if r.proven_optimal]
        reference = min(proven) if proven else None
        reached = {}
        for name, r in results.items():
            err = (None if reference is None or r.objective is None
                   else abs(r.objective - reference) / max(1.0, abs(reference)))
            residual = max(r.primal_residual or 0.0, r.dual_residual or 0.0) / scale
            if err is not None and err <= 1e-6 and residual <= 1e-6:
                reached[name] = r.solve_seconds
        fastest = min(reached.values()) if reached else None
        for name, r in results.items():
            err = (None if reference is None or r.objective is None
                   else abs(r.objective - reference) / max(1.0, abs(reference)))
            ratio = (f"{reached[name] / fastest:.2f}x" if fastest and name in reached else "-")
            print(row(k, name, f"{r.solve_seconds:.1f}", r.status,
                      "-" if r.primal_residual is None else f"{r.primal_residual:.1e}",
                      "-" if r.dual_residual is None else f"{r.dual_residual:.1e}",
                      "-" if err is None else f"{err:.1e}", ratio, widths=WIDTHS), flush=True)


if __name__ == "__main__":
    main()
