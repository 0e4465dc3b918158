"""Compressed input and the LP model.

gzip: load_min_instance and load_multi_commodity_instance on gzip (and zstd) files against
the same calls on the plain files plus `zcat` (`zstd -dc`) alone (the target is at most
1.5x plain + zcat).
model: building the arc-flow model of netgen_8_14a.min at K = 8 (-k K) against HiGHS's solve time.
k1: K = 1 optima of every DIMACS sample, HiGHS against networkx's network simplex.

    python bench_interop.py [gzip] [model] [k1] [--time-limit SECONDS]
"""

from __future__ import annotations

import argparse
import gzip
import shutil
import subprocess
import sys
import time
from pathlib import Path

import korvane
from korvane import solve

from common import CACHE, best_of, command_time, row, synthetic_min

# The DIMACS sample folder lives beside the checkout, as for the tests.
DIMACS = Path(__file__).resolve().parents[1].parent / "shared" / "data" / "dimacs"
NETGEN = DIMACS / "netgen_8_14a.min"


def gzipped(path: Path) -> Path:
    target = path.with_name(path.name + ".gz")
    if not target.exists():
        with open(path, "rb") as src, gzip.open(target, "wb", compresslevel=6) as dst:
            shutil.copyfileobj(src, dst, 1 << 20)
    return target


def zstd_packed(path: Path) -> Path:
    target = path.with_name(path.name + ".zst")
    if not target.exists():
        subprocess.run(["zstd", "-q", "-3", str(path), "-o", str(target)], check=True)
    return target


def bench_gzip() -> None:
    plain_min = synthetic_min()
    inst = korvane.load_min_instance(str(plain_min))
    plain_mcf = CACHE / "interop_k4.mcf"
    if not plain_mcf.exists():
        data = korvane.generate_multi_commodity_data(inst, 4, 2, randomize_caps=True, seed=3)
        korvane.save_multi_commodity_instance(str(plain_mcf), inst, data)
        del data
    del inst
    widths = (34, 6, 10, 10, 12, 26)
    print(row("", "", "plain s", "tool s", "packed s", "ratio", widths=widths))
    for name, load, plain in (("load_min_instance", korvane.load_min_instance, plain_min),
                              ("load_multi_commodity_instance",
                               korvane.load_multi_commodity_instance, plain_mcf)):
        t_plain = best_of(lambda: load(str(plain)))
        for kind, pack, tool in (("gzip", gzipped, ["zcat"]),
                                 ("zstd", zstd_packed, ["zstd", "-dcq"])):
            if kind == "zstd" and shutil.which("zstd") is None:
                continue
            packed = pack(plain)
            t_tool = command_time([*tool, str(packed)])
            t_packed = best_of(lambda: load(str(packed)))
            ratio = t_packed / (t_plain + t_tool)
            print(row(name, kind, f"{t_plain:.3f}", f"{t_tool:.3f}", f"{t_packed:.3f}",
                      f"{ratio:.2f}x of plain + tool", widths=widths), flush=True)


def bench_model(time_limit: float | None, k: int) -> None:
    if not NETGEN.exists():
        print(f"model: skipped, {NETGEN} is absent")
        return
    inst = korvane.load_min_instance(str(NETGEN))
    data = korvane.generate_multi_commodity_data(inst, k, 2, randomize_caps=True, seed=42)
    build = best_of(lambda: solve.build_model(inst, data))
    model = solve.build_model(inst, data)
    print(f"netgen_8_14a K={k}: {model.num_cols} columns, {model.num_rows} rows, "
          f"{len(model.index)} non-zeros; build {build:.3f} s (best of 3)", flush=True)
    result = solve.solve(inst, data, time_limit=time_limit)
    print(f"HiGHS: status {result.status}, objective {result.objective}, "
          f"solve {result.solve_seconds:.1f} s; build / solve = "
          f"{result.build_seconds / result.solve_seconds:.4f}", flush=True)


def networkx_optimum(inst: korvane.NetworkInstance) -> object:
    import networkx as nx

    g = nx.MultiDiGraph()
    supply = dict.fromkeys(inst.nodes, 0)
    supply.update(inst.supplies)
    offset = 0
    for e in inst.edges:  # lower bounds moved into the supplies
        supply[e.tail] -= e.low
        supply[e.head] += e.low
        offset += e.low * e.cost
        g.add_edge(e.tail, e.head, capacity=e.up - e.low, weight=e.cost)
    for node, amount in supply.items():
        g.add_node(node, demand=-amount)
    try:
        return nx.network_simplex(g)[0] + offset
    except nx.NetworkXUnfeasible:
        return "infeasible"


def bench_k1() -> None:
    widths = (28, 8, 14, 8, 14, 8, 8)
    print(row("instance", "arcs", "networkx", "s", "HiGHS", "solve s", "build s", widths=widths))
    for path in sorted(DIMACS.glob("*")):
        if path.suffix not in (".min", ".dmx"):
            continue
        inst = korvane.load_min_instance(str(path))
        began = time.perf_counter()
        expected = networkx_optimum(inst)
        nx_seconds = time.perf_counter() - began
        data = korvane.generate_multi_commodity_data(inst, 1, 1)
        result = solve.solve(inst, data)
        print(row(path.name, len(inst.edges), expected, f"{nx_seconds:.2f}",
                  f"{result.objective:.0f}" if result.objective is not None else result.status,
                  f"{result.solve_seconds:.2f}", f"{result.build_seconds:.3f}", widths=widths),
              flush=True)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("parts", nargs="*", choices=["gzip", "model", "k1"],
                        default=["gzip", "model", "k1"])
    parser.add_argument("--time-limit", type=float, default=None)
    parser.add_argument("-k", type=int, default=8, help="commodities of the model part")
    args = parser.parse_args()
    if "gzip" in args.parts:
        bench_gzip()
    if "model" in args.parts:
        bench_model(args.time_limit, args.k)
    if "k1" in args.parts:
        bench_k1()


if __name__ == "__main__":
    sys.exit(main())
