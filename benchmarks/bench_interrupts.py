"""How long Ctrl-C takes to stop korvane's long paths: SIGINT sent by another process, as a
terminal does, to the KeyboardInterrupt (or the command's exit) in the interrupted process.

Each path runs twice untouched to learn its duration D (the shorter run), then is
interrupted four times, at 0.2, 0.4, 0.6 and 0.8 of D; the table gives D and the worst and median of the four latencies.
Input: a network of 5M arcs and 1M nodes (written once to KORVANE_BENCH_DIR).

    PYTHONPATH=build/python .venv/bin/python benchmarks/bench_interrupts.py [--arcs N] [--only NAME]
"""

from __future__ import annotations

import argparse
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from common import CACHE  # noqa: E402


def loopless_min(arcs: int) -> Path:
    """A .min network of `arcs` arcs and arcs // 5 nodes without self-loops (which the
    Mnetgen format cannot hold), 1% of the nodes supplies or demands; written once."""
    CACHE.mkdir(parents=True, exist_ok=True)
    path = CACHE / f"loopless_{arcs}.min"
    if path.exists():
        return path
    n = max(arcs // 5, 3)
    tmp = path.with_suffix(".tmp")
    with open(tmp, "w") as f:
        f.write(f"p min {n} {arcs}\n")
        f.writelines(f"n {i} {1000 if i % 2 else -1000}\n" for i in range(1, n // 100 + 2, 1))
        for start in range(0, arcs, 100_000):
            f.writelines(f"a {i % n + 1} {(i * 7 + 3) % n + 1} 0 {50 + i % 9} {i % 13}\n"
                         for i in range(start, min(arcs, start + 100_000)))
    tmp.replace(path)
    return path

# Each path: its setup, then the statement interrupted. The child prints "go T" just before it
# starts and "caught T" or "done T" after, T from the system-wide monotonic clock.
SETUP = {
    "pickle": "import pickle\ninst = korvane.load_min_instance(NET)\n"
              "data = korvane.generate_multi_commodity_data(inst, 4, 1)\n",
    "cli-mnetgen": "from korvane import cli\n",
    "cli-mcf-gz": "from korvane import cli\n",
    "generate-threads": "inst = korvane.load_min_instance(NET)\n",
    "write-mnetgen-gzip": "from korvane.formats import to_problem, write_mnetgen\n"
                          "inst = korvane.load_min_instance(NET)\n"
                          "problem = to_problem(inst, korvane.generate_multi_commodity_data(inst, 4, 1))\n",
    "min-read": "",
}
RUN = {
    "pickle": "pickle.loads(pickle.dumps(data))",
    "cli-mnetgen": "code = cli.main(['generate', NET, '-k', '4', '--method', 'uniform', '--format', 'mnetgen', "
                   "'-q', '-o', OUT + '/m'])\nif code == 130: raise KeyboardInterrupt",
    "cli-mcf-gz": "code = cli.main(['generate', NET, '-k', '4', '--method', 'uniform', '-q', '-o', "
                  "OUT + '/x.mcf.gz'])"
                  "\nif code == 130: raise KeyboardInterrupt",
    "generate-threads": "korvane.generate_multi_commodity_data(inst, 16, 1, randomize_caps=True, "
                        "randomize_costs=True)",
    "write-mnetgen-gzip": "write_mnetgen(OUT + '/g', problem, compress='gzip')",
    "min-read": "korvane.load_min_instance(NET)",
}
TITLES = {
    "pickle": "pickle.dumps + loads of a data record (K = 4)",
    "cli-mnetgen": "korvane generate --format mnetgen (K = 4)",
    "cli-mcf-gz": "korvane generate -o x.mcf.gz (K = 4)",
    "generate-threads": "generation on 2 threads (K = 16, both draws)",
    "write-mnetgen-gzip": "write_mnetgen, gzip (K = 4)",
    "min-read": "load_min_instance, plain .min",
}

CHILD = """
import signal, sys, time
# A job started without job control inherits SIGINT ignored: take Ctrl-C's usual handler.
signal.signal(signal.SIGINT, signal.default_int_handler)
import korvane
NET, OUT = sys.argv[1], sys.argv[2]
{setup}
print("go", time.monotonic(), flush=True)
try:
{run}
    print("done", time.monotonic(), flush=True)
except KeyboardInterrupt:
    print("caught", time.monotonic(), flush=True)
"""


def one_run(name: str, net: Path, after: float | None) -> tuple[float, float | None]:
    """(duration or latency, ...): with `after` None, the untouched duration; else the latency
    of a SIGINT sent `after` seconds into the run (None when the run ended first)."""
    run = "\n".join("    " + line for line in RUN[name].splitlines())
    with tempfile.TemporaryDirectory(dir=net.parent) as out:
        child = subprocess.Popen([sys.executable, "-c", CHILD.format(setup=SETUP[name], run=run),
                                  str(net), out], stdout=subprocess.PIPE, text=True,
                                 env={**os.environ, "KORVANE_NUM_THREADS": "2"})
        assert child.stdout is not None
        kind, started = child.stdout.readline().split()
        sent = None
        if after is not None:
            time.sleep(max(0.0, float(started) + after - time.monotonic()))
            sent = time.monotonic()
            child.send_signal(signal.SIGINT)
        kind, ended = child.stdout.readline().split()
        child.wait()
        if sent is None:
            return float(ended) - float(started), None
        return 0.0, float(ended) - sent if kind == "caught" else None


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--arcs", type=int, default=5_000_000)
    parser.add_argument("--only", choices=sorted(RUN), action="append")
    args = parser.parse_args()
    net = loopless_min(args.arcs)
    print(f"{args.arcs} arcs, KORVANE_NUM_THREADS=2, {os.cpu_count()} cores")
    print(f"{'path':48s} {'D (s)':>7s} {'worst (ms)':>11s} {'median (ms)':>12s}")
    for name in args.only or RUN:
        duration = min(one_run(name, net, None)[0] for _ in range(2))
        latencies = []
        for fraction in (0.2, 0.4, 0.6, 0.8):
            _, latency = one_run(name, net, fraction * duration)
            if latency is not None:
                latencies.append(latency)
        if latencies:
            print(f"{TITLES[name]:48s} {duration:7.2f} {1000 * max(latencies):11.0f} "
                  f"{1000 * statistics.median(latencies):12.0f}"
                  + ("" if len(latencies) == 4 else f"  ({4 - len(latencies)} ran to the end)"))
        else:
            print(f"{TITLES[name]:48s} {duration:7.2f}  every run ended before the signal")


if __name__ == "__main__":
    main()
