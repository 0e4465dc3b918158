"""Arrays and mappings on a large network: korvane.arrays views and CSR against
np.array of a list attribute and scipy.sparse, then the list-building reads
(arcs, topology(), get_adjacency_mapping). Run it against two builds to compare
them; the parts a build lacks are skipped. Size: KORVANE_BENCH_ARCS (default
5M arcs, nodes a fifth of that), K = 16."""

from __future__ import annotations

import importlib.util
import os

import korvane

from common import best_of, row, synthetic_min

ARCS = int(os.environ.get("KORVANE_BENCH_ARCS", 5_000_000))
K = 16


def main() -> None:
    path = synthetic_min(num_nodes=ARCS // 5, num_arcs=ARCS)
    inst = korvane.load_min_instance(str(path))
    print(f"{ARCS} arcs, {ARCS // 5} nodes, K = {K}; best of 3 wall seconds")
    print(row("operation", "seconds", "peer", "ratio"))
    have_numpy = importlib.util.find_spec("numpy") is not None
    have_arrays = importlib.util.find_spec("korvane.arrays") is not None
    if have_numpy and have_arrays:
        import numpy as np

        from korvane.arrays import csr, data_arrays, network_arrays

        data = korvane.generate_multi_commodity_data(inst, K, 1, randomize_caps=True)
        copy = best_of(lambda: np.array(inst.capacities))
        views = best_of(lambda: network_arrays(inst))
        print(row("network_arrays vs np.array(caps)", f"{views:.6f}", f"{copy:.4f}", f"{views / copy:.5f}"))
        tables = best_of(lambda: data_arrays(data))
        print(row("data_arrays (supply built)", f"{tables:.6f}", "", ""))
        built = best_of(lambda: csr(inst))
        if importlib.util.find_spec("scipy") is not None:
            import scipy.sparse

            cols = network_arrays(inst)
            n = int(max(cols["tail"].max(), cols["head"].max())) + 1
            arc = np.arange(len(cols["tail"]), dtype=np.int64)
            peer = best_of(lambda: (
                scipy.sparse.csr_array((arc, (cols["tail"], cols["head"])), shape=(n, n)),
                scipy.sparse.csr_array((arc, (cols["head"], cols["tail"])), shape=(n, n))))
            print(row("csr vs scipy.sparse (out + in)", f"{built:.4f}", f"{peer:.4f}", f"{built / peer:.2f}"))
        else:
            print(row("csr", f"{built:.4f}", "scipy absent", ""))
    else:
        print("korvane.arrays or numpy absent: views and CSR skipped")
    topo = inst.topology()
    print(row("get_adjacency_mapping", f"{best_of(lambda: korvane.get_adjacency_mapping(inst.nodes, topo)):.4f}"))
    print(row("inst.arcs", f"{best_of(lambda: inst.arcs):.4f}"))
    print(row("inst.topology()", f"{best_of(inst.topology):.4f}"))


if __name__ == "__main__":
    main()
