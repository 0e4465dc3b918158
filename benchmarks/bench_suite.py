"""Time a 24-instance suite (2 K x 3 methods x 2 seeds x 2 capacity settings) made with
`korvane suite` on 1 and on 2 workers, from a fresh output folder each time.

    python bench_suite.py [NETWORK.min ...] [--repeat 3]

Without a network it uses examples/network.min (15 arcs: the run is all start-up) and,
when the DIMACS sample folder is found, netgen_8_14a.min (131072 arcs).
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent

GRID = """
[grid]
num_commodities = [4, 8]
method = ["spread", "uniform", "beta-binomial"]
seed_range = {start = 1, count = 2}
randomize_caps = [false, true]
randomize_costs = true
cap_zero = true
cap_zero_param = 0.05
"""


def networks() -> list[Path]:
    found = [HERE.parent / "examples" / "network.min"]
    for parent in HERE.parents:
        candidate = parent / "shared" / "data" / "dimacs" / "netgen_8_14a.min"
        if candidate.is_file():
            found.append(candidate)
            break
    return found


def time_suite(network: Path, jobs: int, repeat: int) -> float:
    best = cpu = float("inf")
    with tempfile.TemporaryDirectory(prefix="korvane-bench-suite-") as tmp:
        manifest = Path(tmp) / "suite.toml"
        manifest.write_text(f'output = "out"\nnetworks = ["{network.as_posix()}"]\n' + GRID)
        for _ in range(repeat):
            shutil.rmtree(Path(tmp) / "out", ignore_errors=True)
            cpu_before = os.times()
            started = time.perf_counter()
            subprocess.run([sys.executable, "-m", "korvane", "suite", str(manifest), "--jobs", str(jobs), "-q"],
                           check=True, stdout=subprocess.DEVNULL)
            wall = time.perf_counter() - started
            cpu_after = os.times()
            if wall < best:
                best = wall
                cpu = (cpu_after.children_user + cpu_after.children_system
                       - cpu_before.children_user - cpu_before.children_system)
        size = sum(p.stat().st_size for p in (Path(tmp) / "out").iterdir())
    print(f"  --jobs {jobs}: {best:.2f} s wall, {cpu:.2f} s CPU (best of {repeat}), {size / 1e6:.1f} MB written")
    return best


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("networks", nargs="*", type=Path)
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()
    for network in args.networks or networks():
        print(f"{network.name}: 24 instances")
        one = time_suite(network, 1, args.repeat)
        two = time_suite(network, 2, args.repeat)
        print(f"  speed-up with 2 workers: {one / two:.2f}x")


if __name__ == "__main__":
    main()
