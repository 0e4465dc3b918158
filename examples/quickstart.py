"""korvane quick start: load a DIMACS .min network and look at what was read."""

from pathlib import Path

import korvane

HERE = Path(__file__).resolve().parent


def main() -> None:
    inst = korvane.load_min_instance(str(HERE / "network.min"))
    print(f"loaded {HERE / 'network.min'}")
    print(f"  declared: {inst.num_nodes} nodes, {inst.num_arcs} arcs")
    print(f"  read:     {len(inst.nodes)} nodes, {len(inst.edges)} arcs, supplies {inst.supplies}")

    print("  first arcs (tail, head, low, up, cost, parallel index):")
    for e in inst.edges[:4]:
        print(f"    {e.tail} -> {e.head}  low={e.low} up={e.up} cost={e.cost} index={e.index}")

    print(f"  parallel arc pairs: {inst.num_parallel_arc_pairs}")
    for pair, positions in inst.arc_indices.items():
        if len(positions) > 1:
            print(f"    {pair}: arc positions {positions}")

    incoming, outgoing = korvane.get_adjacency_mapping(inst.nodes, inst.topology())
    print(f"  node 4: incoming from {incoming[4]}, outgoing to {outgoing[4]}")


if __name__ == "__main__":
    main()
