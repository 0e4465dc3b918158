"""Streamed generation against generation followed by a save, in fresh processes: wall time
and peak resident memory of `korvane generate` (which draws and writes a window of arcs at a
time) and of a script that calls generate_multi_commodity_data and then
save_multi_commodity_instance (or korvane.formats.write_mnetgen), on a synthetic network
(2M arcs by default, self-loops left out) at K = 16. Runs alternate between the two, best of N; the two outputs
are checked to be the same bytes. With --bench-generate it first runs that binary (built
with -DKORVANE_BENCHMARKS=ON) for the one-thread generation against its floor.

    PYTHONPATH=build/python python bench_stream.py [--arcs 2000000] [--repeat 3]
        [--bench-generate build/bench_generate]
"""

from __future__ import annotations

import argparse
import filecmp
import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from bench_four_file import without_loops  # noqa: E402
from common import row, synthetic_min  # noqa: E402

SETTINGS = ["--method", "beta-binomial", "--randomize-caps", "--randomize-costs", "--cap-zero",
            "--cap-zero-param", "0.3", "--seed", "7"]

TWO_CALLS = """
import sys, korvane
from korvane import formats
network, k, out, fmt = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
inst = korvane.load_min_instance(network)
data = korvane.generate_multi_commodity_data(inst, k, 2, randomize_caps=True, randomize_costs=True,
                                             cap_zero=True, cap_zero_param=0.3, seed=7)
if fmt == "mcf":
    korvane.save_multi_commodity_instance(out, inst, data)
else:
    formats.write_mnetgen(out, inst, data)
"""


# Runs `python -m ...` or `python -c CODE ...` in this process and writes its peak resident
# memory (VmHWM) to the file KORVANE_BENCH_HWM names when it exits. Not ru_maxrss from wait4:
# a child started by vfork and exec inherits its parent's peak there.
PEAK_OF = r"""
import atexit, os, runpy, sys
def report():
    with open("/proc/self/status") as f:
        peak = next(int(line.split()[1]) for line in f if line.startswith("VmHWM:"))
    with open(os.environ["KORVANE_BENCH_HWM"], "w") as out:
        out.write(str(peak))
atexit.register(report)
if sys.argv[1] == "-m":
    sys.argv = sys.argv[2:]
    runpy.run_module(sys.argv[0], run_name="__main__", alter_sys=True)
else:
    code, sys.argv = sys.argv[2], ["-c", *sys.argv[3:]]
    exec(compile(code, "<bench>", "exec"), {"__name__": "__main__"})
"""


def measured(args: list[str]) -> tuple[float, float]:
    """(wall seconds, peak RSS in MB) of one child process running `python -m ...` or
    `python -c ...` (args[0] is the interpreter)."""
    with tempfile.NamedTemporaryFile("r") as peak:
        env = dict(os.environ, KORVANE_BENCH_HWM=peak.name)
        start = time.perf_counter()
        done = subprocess.run([args[0], "-c", PEAK_OF, *args[1:]], stdout=subprocess.DEVNULL,
                              env=env)
        took = time.perf_counter() - start
        if done.returncode != 0:
            raise SystemExit(f"{args[:4]} failed with status {done.returncode}")
        return took, int(peak.read()) / 1024


def outputs(base: Path, fmt: str) -> list[Path]:
    if fmt == "mcf":
        return [base]
    return [base.with_name(f"{base.name}.{part}") for part in ("nod", "arc", "sup", "mut")]


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--arcs", type=int, default=2_000_000)
    parser.add_argument("-k", type=int, default=16)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--format", choices=["mcf", "mnetgen", "both"], default="both")
    parser.add_argument("--bench-generate", type=Path)
    opts = parser.parse_args()

    # Without self-loops, which Mnetgen files cannot hold.
    network = without_loops(synthetic_min(num_nodes=opts.arcs // 5, num_arcs=opts.arcs))
    print(f"load average {os.getloadavg()[0]:.2f} {os.getloadavg()[1]:.2f}")
    if opts.bench_generate is not None:
        big = synthetic_min()  # 5M arcs, 1M nodes
        subprocess.run([str(opts.bench_generate), str(big), str(opts.k)], check=True)
        print()

    print(f"{network.name}: {opts.arcs} arcs, K = {opts.k}, {os.environ.get('KORVANE_NUM_THREADS', 'all')} threads")
    formats = ["mcf", "mnetgen"] if opts.format == "both" else [opts.format]
    with tempfile.TemporaryDirectory(prefix="korvane-stream-") as tmp:
        for fmt in formats:
            streamed = Path(tmp) / f"streamed.{fmt}"
            whole = Path(tmp) / f"whole.{fmt}"
            stream_cmd = [sys.executable, "-m", "korvane", "generate", str(network), "-k",
                          str(opts.k), *SETTINGS, "--format", fmt, "-o", str(streamed), "-q"]
            whole_cmd = [sys.executable, "-c", TWO_CALLS, str(network), str(opts.k), str(whole), fmt]
            best = {"stream": (float("inf"), float("inf")), "whole": (float("inf"), float("inf"))}
            for _ in range(opts.repeat):
                for name, cmd in (("stream", stream_cmd), ("whole", whole_cmd)):
                    took, rss = measured(cmd)
                    best[name] = (min(best[name][0], took), min(best[name][1], rss))
            same = all(filecmp.cmp(a, b, shallow=False)
                       for a, b in zip(outputs(streamed, fmt), outputs(whole, fmt)))
            print(row(f"format {fmt}", "wall s", "peak RSS MB"))
            print(row("  korvane generate (streamed)", f"{best['stream'][0]:.2f}",
                      f"{best['stream'][1]:.0f}"))
            print(row("  generate, then save", f"{best['whole'][0]:.2f}", f"{best['whole'][1]:.0f}"))
            print(f"  streamed / two calls: time {best['stream'][0] / best['whole'][0]:.2f}x, "
                  f"memory {best['stream'][1] / best['whole'][1]:.2f}x; same bytes: {same}")
            for path in outputs(streamed, fmt) + outputs(whole, fmt):
                path.unlink()
    print(f"load average {os.getloadavg()[0]:.2f} {os.getloadavg()[1]:.2f}")


if __name__ == "__main__":
    main()
