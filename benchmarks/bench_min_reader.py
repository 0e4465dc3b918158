"""Reading a large .min file: load_min_instance on one thread and on all, against
a pure-Python reader of the same format, against `wc -l` (the floor) and, when
pyarrow is installed, against pyarrow.csv.read_csv on one thread reading the
same arc lines (numbers only, extracted beforehand); then each attribute read of the loaded instance
against pickle.loads of an equal Python object, and the native memory the
instance holds. --native-only skips the pure-Python reader."""

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


def main() -> None:
    path = synthetic_min()
    size_mb = path.stat().st_size / 1e6
    print(f"file: {path} ({size_mb:.0f} MB)")

    wc = command_time(["wc", "-l", str(path)])
    gc.collect()
    native = best_of(on_threads(1, lambda: korvane.load_min_instance(str(path))))
    gc.collect()
    threads = max(2, len(os.sched_getaffinity(0)))
    parallel = best_of(on_threads(threads, lambda: korvane.load_min_instance(str(path))))

    print()
    print(row("reader", "seconds", "MB/s", "vs wc -l"))
    print(row("wc -l (floor)", f"{wc:.3f}", f"{size_mb / wc:.0f}", "1.0x"))
    print(row("load_min_instance, 1 thread", f"{native:.3f}", f"{size_mb / native:.0f}",
              f"{native / wc:.1f}x"))
    print(row(f"load_min_instance, {threads} threads", f"{parallel:.3f}", f"{size_mb / parallel:.0f}",
              f"{parallel / wc:.1f}x"))
    print(f"{threads} threads read {native / parallel:.2f}x as fast as one")

    csv = pyarrow_csv()
    if csv is not None:
        arcs_path = numbers_only(path, "a", path.with_suffix(".arcs.txt"))
        arcs_mb = arcs_path.stat().st_size / 1e6
        gc.collect()
        peer = best_of(pyarrow_reader(csv, arcs_path, 5, use_threads=False))
        print(row("pyarrow read_csv, 1 thread", f"{peer:.3f}", f"{arcs_mb / peer:.0f}",
                  f"{peer / wc:.1f}x"))
        print(f"  (pyarrow reads {arcs_path.name}: the arc lines' five numbers, {arcs_mb:.0f} MB)")
        print(f"load_min_instance on 1 thread runs at {peer / native:.2f}x the speed of"
              " pyarrow.csv.read_csv (use_threads=False) on the same arcs")

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
