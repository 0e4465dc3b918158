"""The per-commodity screen's share of a feasible_only check: for each seed, the time of
korvane.solve.screen_commodities (every commodity alone, bundles ignored, one small LP each)
and of the full LP solve that follows it when no commodity fails, in one run. Instances are
beta-binomial with randomised capacities and capacity zeroing, so some seeds give an
infeasible commodity (the screen settles those alone) and others go on to the LP. For
those, the LP is still timed ("LP avoided") to show what the screen saves.

    python benchmarks/bench_screen.py [NETWORK.min [K [SEEDS [CAP_ZERO]]]]
"""

from __future__ import annotations

import os
import sys
import time
from pathlib import Path

import korvane
from korvane import solve

from common import row

NETWORK = Path(os.environ.get("KORVANE_DIMACS_DIR") or Path(__file__).resolve().parents[2] / "shared"
               / "data" / "dimacs") / "inst_4000_8000_5.max.min"
WIDTHS = (6, 12, 10, 16, 14, 16)


def main() -> None:
    network = Path(sys.argv[1]) if len(sys.argv) > 1 else NETWORK
    k = int(sys.argv[2]) if len(sys.argv) > 2 else 8
    seeds = int(sys.argv[3]) if len(sys.argv) > 3 else 6
    cap_zero = float(sys.argv[4]) if len(sys.argv) > 4 else 0.02
    if not network.exists():
        print(f"skipped: {network} is absent (the shared data folder holds it)")
        return
    inst = korvane.load_min_instance(str(network))
    print(f"{network.name}, K = {k}, cap_zero_param {cap_zero}: {len(inst.edges)} arcs; "
          f"load average {os.getloadavg()[0]:.1f}")
    print(row("seed", "screen (s)", "LP (s)", "verdict", "screen share", "LP avoided (s)",
              widths=WIDTHS))
    solve.screen_commodities(inst, korvane.generate_multi_commodity_data(inst, k, 2))  # warm-up
    screen_total = lp_total = avoided_total = 0.0
    for seed in range(1, seeds + 1):
        data = korvane.generate_multi_commodity_data(
            inst, k, 2, randomize_caps=True, randomize_costs=True, cap_zero=True,
            cap_zero_param=cap_zero, seed=seed)
        began = time.perf_counter()
        failed = solve.screen_commodities(inst, data, first_only=True)
        screened = time.perf_counter() - began
        began = time.perf_counter()
        status = solve.solve(inst, data).status
        lp = avoided = 0.0
        if failed:
            avoided = time.perf_counter() - began
            assert status == "infeasible", status
        else:
            lp = time.perf_counter() - began
        verdict = f"commodity {failed[0]}" if failed else status
        screen_total += screened
        lp_total += lp
        avoided_total += avoided
        print(row(seed, f"{screened:.3f}", f"{lp:.2f}", verdict,
                  f"{screened / (screened + lp):.1%}", f"{avoided:.2f}", widths=WIDTHS), flush=True)
    print(row("all", f"{screen_total:.3f}", f"{lp_total:.2f}", "",
              f"{screen_total / (screen_total + lp_total):.1%}", f"{avoided_total:.2f}",
              widths=WIDTHS))


if __name__ == "__main__":
    main()
