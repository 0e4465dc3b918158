"""The decomposition by commodity against the full LP on Mnetgen family instances: each
method's time to its optimum, capped by a time limit, the decomposition's master solves,
columns and pivots, and the ratio of the two times measured in the same run.

    python benchmarks/bench_decomposition.py [--cap SECONDS] [--full-method auto] [FAMILY ...]
"""

from __future__ import annotations

import argparse
import os
import time

from korvane import generators, solve
from korvane.decomposition import decompose

from common import row

WIDTHS = (12, 5, 8, 15, 20, 10, 10, 8, 8)


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("families", nargs="*", default=["128-16-8", "256-32-12"])
    parser.add_argument("--cap", type=float, default=300.0, help="time limit per run (s)")
    parser.add_argument("--full-method", default="auto")
    args = parser.parse_args()
    print(f"cap {args.cap:.0f} s per run; load average {os.getloadavg()[0]:.1f}", flush=True)
    print(row("instance", "K", "arcs", "method", "status", "seconds", "rel. err", "masters",
              "columns", widths=WIDTHS), flush=True)
    for name in args.families:
        problem = generators.mnetgen_family(name)
        began = time.perf_counter()
        full = solve.solve(problem, method=args.full_method, time_limit=args.cap)
        full_seconds = time.perf_counter() - began
        began = time.perf_counter()
        result, stats = decompose(problem, time_limit=args.cap)
        seconds = time.perf_counter() - began
        err = (abs(result.objective - full.objective) / max(1.0, abs(full.objective))
               if result.objective is not None and full.objective is not None else None)
        k, arcs = problem.num_commodities, problem.num_arcs
        print(row(name, k, arcs, full.method, full.status, f"{full_seconds:.1f}", "-", "-", "-",
                  widths=WIDTHS), flush=True)
        print(row(name, k, arcs, "decomposition", result.status, f"{seconds:.1f}",
                  "-" if err is None else f"{err:.1e}", stats.iterations, stats.columns,
                  widths=WIDTHS), flush=True)
        print(f"  decomposition / {full.method}: {seconds / full_seconds:.2f}x; master "
              f"{stats.master_seconds:.1f} s, pricing {stats.pricing_seconds:.1f} s, "
              f"{stats.pivots} pivots", flush=True)


if __name__ == "__main__":
    main()
