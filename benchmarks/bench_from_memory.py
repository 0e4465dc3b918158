"""Networks from memory on a large network: network_from_arrays from the columns of a read
instance against load_min_instance of the same file, and from_networkx / to_networkx on a
smaller one against networkx building the same graph itself. Size: KORVANE_BENCH_ARCS
(default 5M arcs, nodes a fifth of that; the networkx part uses a tenth of the arcs)."""

from __future__ import annotations

import os

import korvane

from common import best_of, row, synthetic_min

ARCS = int(os.environ.get("KORVANE_BENCH_ARCS", 5_000_000))


def main() -> None:
    from korvane.arrays import from_networkx, network_arrays, network_from_arrays, to_networkx

    path = synthetic_min(num_nodes=ARCS // 5, num_arcs=ARCS)
    inst = korvane.load_min_instance(str(path))
    a = network_arrays(inst)
    columns = [a[c] for c in ("tail", "head", "low", "up", "cost")]
    supplies = (a["supply_node"], a["supply"])
    print(f"{ARCS} arcs, {ARCS // 5} nodes; best of 3 wall seconds")
    print(row("operation", "seconds", "peer", "ratio"))
    read = best_of(lambda: korvane.load_min_instance(str(path)))
    built = best_of(lambda: network_from_arrays(*columns, supplies, inst.num_nodes))
    print(row("network_from_arrays vs file read", f"{built:.4f}", f"{read:.4f}", f"{built / read:.3f}"))

    import networkx as nx

    small = synthetic_min(num_nodes=ARCS // 50, num_arcs=ARCS // 10, seed=2)
    net = korvane.load_min_instance(str(small))
    G = to_networkx(net)
    edges = [(e.tail, e.head, {"capacity": e.up, "weight": e.cost}) for e in net.edges]
    by_hand = best_of(lambda: nx.MultiDiGraph(edges))
    out = best_of(lambda: to_networkx(net))
    back = best_of(lambda: from_networkx(G))
    print(row(f"to_networkx ({ARCS // 10} arcs) vs nx", f"{out:.4f}", f"{by_hand:.4f}",
              f"{out / by_hand:.3f}"))
    print(row("from_networkx vs nx graph build", f"{back:.4f}", f"{by_hand:.4f}",
              f"{back / by_hand:.3f}"))


if __name__ == "__main__":
    main()
