"""Mnetgen inside korvane: generating the largest published instances (256-256-7 .. 12,
about 10 MB of .arc text each) and writing their four files, against
korvane.formats.write_mnetgen writing the same problem alone (the problem made
beforehand, untimed). The target is at most 1.5 times the writer's time. Also the
in-memory problem (korvane.generators.mnetgen), and all 216 published instances
written once. Best of 3 wall seconds; files go to a temporary folder."""

from __future__ import annotations

import tempfile
import time
from pathlib import Path

from korvane.formats import write_mnetgen
from korvane.generators.mnetgen import family_names, family_parameters, mnetgen, write_mnetgen_instance

from common import best_of, row

LARGEST = [f"256-256-{h}" for h in range(7, 13)]


def main() -> None:
    with tempfile.TemporaryDirectory(prefix="korvane_bench_mnetgen_") as folder:
        out = Path(folder)
        print("largest published Mnetgen instances; best of 3 wall seconds")
        print(row("instance", "generate+write", "write_mnetgen", "ratio"))
        total_gen = total_write = 0.0
        for name in LARGEST:
            params = family_parameters(name)
            generated = best_of(lambda: write_mnetgen_instance(out / "gen", **params))
            problem = mnetgen(**params)
            written = best_of(lambda: write_mnetgen(out / "alone", problem))
            total_gen += generated
            total_write += written
            print(row(name, f"{generated:.4f}", f"{written:.4f}", f"{generated / written:.2f}"))
        print(row("all six", f"{total_gen:.4f}", f"{total_write:.4f}",
                  f"{total_gen / total_write:.2f}"))

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


if __name__ == "__main__":
    main()
