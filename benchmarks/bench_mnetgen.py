"""Mnetgen inside korvane: generating the largest published instances (256-256-7 .. 12,
about 10 MB of .arc text each) and writing their four files, against
korvane.formats.write_mnetgen writing the same problem alone (the problem made
beforehand, untimed). The target is at most 1.5 times the writer's time. The two run
in turn for ROUNDS rounds (KORVANE_BENCH_ROUNDS, default 5), best of each, so that load
from other work falls on both alike. Also the in-memory problem
(korvane.generators.mnetgen), and all 216 published instances written once. Wall
seconds; files go to a temporary folder (KORVANE_BENCH_DIR's, or the system's)."""

from __future__ import annotations

import os
import tempfile
import time
from collections.abc import Callable
from pathlib import Path

from korvane.formats import write_mnetgen
from korvane.generators.mnetgen import family_names, family_parameters, mnetgen, write_mnetgen_instance

from common import best_of, row

LARGEST = [f"256-256-{h}" for h in range(7, 13)]
ROUNDS = int(os.environ.get("KORVANE_BENCH_ROUNDS", 5))


def timed(fn: Callable[[], object]) -> tuple[float, float]:
    """(wall, CPU) seconds of fn(); CPU time counts every thread of the process, and
    depends less on other work than wall time does."""
    wall, cpu = time.perf_counter(), time.process_time()
    fn()
    return time.perf_counter() - wall, time.process_time() - cpu


def main() -> None:
    where = os.environ.get("KORVANE_BENCH_DIR")
    if where:
        os.makedirs(where, exist_ok=True)
    with tempfile.TemporaryDirectory(prefix="korvane_bench_mnetgen_", dir=where) as folder:
        out = Path(folder)
        print(f"largest published Mnetgen instances; best of {ROUNDS} wall seconds, in turn; "
              f"load average {os.getloadavg()[0]:.2f}")
        widths = (34, 14, 14, 10, 12)
        print(row("instance", "generate+write", "write_mnetgen", "ratio", "CPU ratio",
                  widths=widths))
        totals = [0.0, 0.0, 0.0, 0.0]
        for name in LARGEST:
            params = family_parameters(name)
            problem = mnetgen(**params)
            best = [float("inf")] * 4  # generated wall, CPU; written wall, CPU
            for _ in range(ROUNDS):
                gen = timed(lambda: write_mnetgen_instance(out / "gen", **params))
                alone = timed(lambda: write_mnetgen(out / "alone", problem))
                best = [min(b, t) for b, t in zip(best, (*gen, *alone))]
            totals = [t + b for t, b in zip(totals, best)]
            print(row(name, f"{best[0]:.4f}", f"{best[2]:.4f}", f"{best[0] / best[2]:.2f}",
                      f"{best[1] / best[3]:.2f}", widths=widths))
        print(row("all six", f"{totals[0]:.4f}", f"{totals[2]:.4f}",
                  f"{totals[0] / totals[2]:.2f}", f"{totals[1] / totals[3]:.2f}", widths=widths))

        params = family_parameters(LARGEST[0])
        in_memory = best_of(lambda: mnetgen(**params))
        print(row(f"mnetgen() {LARGEST[0]}, in memory", f"{in_memory:.4f}", "", ""))
        start = time.perf_counter()
        arc_bytes = 0
        for name in family_names():
            write_mnetgen_instance(out / "each", **family_parameters(name))
            arc_bytes += (out / "each.arc").stat().st_size
        every = time.perf_counter() - start
        print(row("all 216 written once", f"{every:.4f}", f"{arc_bytes / 1e6:.1f} MB", ".arc"))
        print(f"load average {os.getloadavg()[0]:.2f} at the end")


if __name__ == "__main__":
    main()
