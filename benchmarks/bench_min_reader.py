"""Reading a large .min file: load_min_instance on one thread and on two (and on
every core when there are more), side by side in one run with the peers a user
would reach for, each reading the same arc lines (numbers only, extracted
beforehand): pyarrow.csv.read_csv on one thread and threaded, and pandas.read_csv
with the pyarrow engine and with its default C engine (a peer that is not
installed is skipped, saying so). The contenders run in turn, round after round,
and each keeps its best time, so that a busy machine slows them alike; the load
average is printed before and after. Then `wc -l` (the floor), a pure-Python
reader of the same format, each attribute read of the loaded instance against
pickle.loads of an equal Python object, and the native memory the instance holds.
--native-only skips the pure-Python reader; --rounds N sets the rounds (5)."""

from __future__ import annotations

import gc
import os
import pickle
import time
import sys
from pathlib import Path

import korvane

from common import (best_of, command_time, native_bytes, numbers_only, on_threads, pyarrow_csv,
                    pyarrow_reader, row, synthetic_min)


def python_reader(path: Path) -> dict:
    """The reader's rules written plainly in Python: dicts for the placed nodes,
    the parallel counters and the position lists, one sort at the end."""
    nodes, placed, supplies = [], set(), {}
    edges, counters, by_pair = [], {}, {}
    num_nodes = num_arcs = 0

    def place(v: int) -> None:
        if v not in placed:
            placed.add(v)
            nodes.append(v)

    with open(path, encoding="utf-8") as f:
        for line in f:
            fields = line.split()
            if not fields or fields[0][0] == "c" or len(fields[0]) != 1:
                continue
            kind = fields[0]
            if kind == "p":
                num_nodes, num_arcs = int(fields[2]), int(fields[3])
            elif kind == "n":
                v = int(fields[1])
                supplies[v] = int(fields[2])
                place(v)
            elif kind == "a":
                tail, head, low, up, cost = map(int, fields[1:6])
                p = counters.get((tail, head), -1) + 1
                counters[(tail, head)] = p
                by_pair.setdefault((tail, head), []).append(len(edges))
                edges.append((tail, head, low, up, cost, p))
                place(tail)
                place(head)
    return {
        "num_nodes": num_nodes, "num_arcs": num_arcs, "nodes": nodes,
        "supplies": dict(sorted(supplies.items())), "edges": edges,
        "arc_indices": dict(sorted(by_pair.items())),
    }


def pandas_reader(path: Path, columns: int, engine: str):  # -> a reader, or None
    """pandas.read_csv of the same space-separated int64 columns, or None with a message."""
    try:
        import pandas
    except ImportError:
        print("pandas is not installed: the pandas.read_csv comparisons are skipped")
        return None
    if engine == "pyarrow":
        try:
            import pyarrow  # noqa: F401  (pandas' pyarrow engine needs it)
        except ImportError:
            print("pyarrow is not installed: pandas.read_csv(engine='pyarrow') is skipped")
            return None
    names = [f"c{i}" for i in range(columns)]
    return lambda: pandas.read_csv(path, sep=" ", header=None, names=names,
                                   dtype={n: "int64" for n in names}, engine=engine)


def interleaved_best(contenders: dict[str, object], rounds: int) -> dict[str, float]:
    """Each contender's best time over `rounds` rounds, every round running each once in turn."""
    best = {name: float("inf") for name in contenders}
    for _ in range(rounds):
        for name, fn in contenders.items():
            gc.collect()
            start = time.perf_counter()
            fn()
            best[name] = min(best[name], time.perf_counter() - start)
    return best


def load_average() -> str:
    return " ".join(f"{x:.2f}" for x in os.getloadavg())


def main() -> None:
    path = synthetic_min()
    size_mb = path.stat().st_size / 1e6
    print(f"file: {path} ({size_mb:.0f} MB)")
    rounds = int(sys.argv[sys.argv.index("--rounds") + 1]) if "--rounds" in sys.argv else 5
    cores = len(os.sched_getaffinity(0))

    wc = command_time(["wc", "-l", str(path)])
    load = lambda: korvane.load_min_instance(str(path))  # noqa: E731
    korvane_runs = {f"load_min_instance, {t} thread{'s' if t > 1 else ''}": on_threads(t, load)
                    for t in sorted({1, 2, cores})}
    peers = {}
    csv = pyarrow_csv()
    arcs_path = numbers_only(path, "a", path.with_suffix(".arcs.txt"))
    arcs_mb = arcs_path.stat().st_size / 1e6
    if csv is not None:
        peers["pyarrow read_csv, 1 thread"] = pyarrow_reader(csv, arcs_path, 5, use_threads=False)
        peers["pyarrow read_csv, threaded"] = pyarrow_reader(csv, arcs_path, 5, use_threads=True)
    for engine in ("pyarrow", "c"):
        reader = pandas_reader(arcs_path, 5, engine)
        if reader is not None:
            peers[f"pandas read_csv, engine={engine}"] = reader

    print(f"load average before: {load_average()}; best of {rounds} interleaved rounds")
    best = interleaved_best({**korvane_runs, **peers}, rounds)
    print(f"load average after:  {load_average()}")
    print()
    print(row("reader", "seconds", "MB/s", "vs wc -l"))
    print(row("wc -l (floor)", f"{wc:.3f}", f"{size_mb / wc:.0f}", "1.0x"))
    for name in korvane_runs:
        print(row(name, f"{best[name]:.3f}", f"{size_mb / best[name]:.0f}", f"{best[name] / wc:.1f}x"))
    for name in peers:
        print(row(name, f"{best[name]:.3f}", f"{arcs_mb / best[name]:.0f}", f"{best[name] / wc:.1f}x"))
    if peers:
        print(f"  (the peers read {arcs_path.name}: the arc lines' five numbers, {arcs_mb:.0f} MB;"
              f" korvane reads the whole .min, {size_mb:.0f} MB)")

    one, two = (best[name] for name in list(korvane_runs)[:2])
    print(f"\n2 threads read {one / two:.2f}x as fast as one")
    print()
    print(row("korvane / peer (time ratio; below 1 is faster)", "1 thread", "2 threads",
              widths=(50, 12, 12)))
    for name in peers:
        print(row(name, f"{one / best[name]:.2f}", f"{two / best[name]:.2f}", widths=(50, 12, 12)))
    native = one

    if "--native-only" not in sys.argv:
        gc.collect()
        start = time.perf_counter()
        model = python_reader(path)
        pure = time.perf_counter() - start
        print(row("pure-Python reader", f"{pure:.3f}", f"{size_mb / pure:.1f}",
                  f"{pure / wc:.1f}x"))
        print(f"load_min_instance is {pure / native:.0f}x the pure-Python reader")
        del model
        gc.collect()

    inst, held = native_bytes(lambda: korvane.load_min_instance(str(path)))
    arcs = len(inst.capacities)
    print(f"\nnative memory of the NetworkInstance: {held / 1e6:.0f} MB, {held / arcs:.1f} bytes per arc")

    print()
    print(row("attribute", "read s", "pickle.loads s", "ratio"))
    for name in ("nodes", "edges", "supplies", "arcs", "capacities", "weights", "arc_indices"):
        read = best_of(lambda: getattr(inst, name), repeat=2)
        value = getattr(inst, name)
        if name == "edges":
            # An equal plain object: the same fields as tuples.
            value = [(e.tail, e.head, e.low, e.up, e.cost, e.index) for e in value]
        blob = pickle.dumps(value, protocol=pickle.HIGHEST_PROTOCOL)
        del value
        gc.collect()
        loads = best_of(lambda: pickle.loads(blob), repeat=2)
        print(row(name, f"{read:.3f}", f"{loads:.3f}", f"{read / loads:.2f}"))
    read = best_of(inst.topology, repeat=2)
    blob = pickle.dumps(inst.topology(), protocol=pickle.HIGHEST_PROTOCOL)
    loads = best_of(lambda: pickle.loads(blob), repeat=2)
    print(row("topology()", f"{read:.3f}", f"{loads:.3f}", f"{read / loads:.2f}"))


if __name__ == "__main__":
    main()
