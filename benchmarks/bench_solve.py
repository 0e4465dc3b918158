"""korvane.solve.solve with its default HiGHS options against the other settings tried, on
the same model in one run: netgen_8_14a (131072 arcs) from the shared DIMACS folder at
K = 2 (beta-binomial, randomised capacities and costs, seed 1) unless another network and K
are given. Each setting is timed once per round (a solve takes tens of seconds), rounds
alternate the settings, and the best of the rounds is kept; every setting must reach the
same optimum. The ratio is each setting's time over the fastest one's.

    python benchmarks/bench_solve.py [NETWORK.min [K [ROUNDS]]]
"""

from __future__ import annotations

import os
import sys
from pathlib import Path

import korvane
from korvane import solve

from common import row

NETWORK = Path(__file__).resolve().parents[2] / "shared" / "data" / "dimacs" / "netgen_8_14a.min"

SETTINGS = {
    "korvane's defaults": {},
    "HiGHS's defaults (presolve on)": {"presolve": "choose"},
    "presolve on, time_limit=300": {"presolve": "choose", "time_limit": 300},
    "presolve on, no dependent equations": {"presolve": "choose", "presolve_rule_off": 1024},
    "interior point (ipm) + crossover": {"solver": "ipm"},
}


def main() -> None:
    network = Path(sys.argv[1]) if len(sys.argv) > 1 else NETWORK
    k = int(sys.argv[2]) if len(sys.argv) > 2 else 2
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 1
    if not network.exists():
        print(f"skipped: {network} is absent (the shared data folder holds it)")
        return
    inst = korvane.load_min_instance(str(network))
    data = korvane.generate_multi_commodity_data(inst, k, 2, randomize_caps=True,
                                                 randomize_costs=True, seed=1)
    print(f"{network.name}, K = {k}: {len(inst.edges)} arcs; load average "
          f"{os.getloadavg()[0]:.1f}; best of {rounds} round(s)")
    best: dict[str, float] = {}
    optimum: dict[str, float | None] = {}
    for _ in range(rounds):
        for name, settings in SETTINGS.items():
            options = {key: v for key, v in settings.items() if key != "time_limit"}
            result = solve.solve(inst, data, time_limit=settings.get("time_limit"),
                                 options=options)
            best[name] = min(best.get(name, float("inf")), result.solve_seconds)
            optimum[name] = result.objective
    fastest = min(best.values())
    print(row("settings", "seconds", "vs fastest", "optimum", widths=(40, 10, 12, 20)))
    for name in SETTINGS:
        print(row(name, f"{best[name]:.2f}", f"{best[name] / fastest:.2f}x", optimum[name],
                  widths=(40, 10, 12, 20)))
    if len(set(optimum.values())) != 1:
        print("the settings reached different optima")
        sys.exit(1)


if __name__ == "__main__":
    main()
