"""Published DIMACS min-cost-flow instances read in place; figures come from the folder's SOURCES.md."""

import pytest

import korvane

from conftest import DATA, needs_data

pytestmark = needs_data

# file: (num_nodes, num_arcs, arcs read, distinct nodes, first nodes, parallel pairs,
#        sum of costs, sum of capacities, supplies or None when only their count is known, node lines)
FILES = {
    "negative_weight_cycle.min": (4, 5, 5, 4, [1, 4, 2, 3], 0, 9, 50, {1: 8, 4: -8}, 2),
    "sample.dmx": (4, 4, 4, 4, [1, 4, 2, 3], 0, 7, 8, {1: 3, 4: -3}, 2),
    "Network3.dmx": (61, 244, 244, 61, [2, 30, 47, 48, 6], 3, 61_494, 215_161, None, 19),
    "Network1.dmx": (501, 4008, 4008, 501, [311, 412, 354, 210, 140], 29, 4_271_429, 11_957_353, None, 80),
    "inst_4000_8000_5.max.min": (4000, 8000, 8000, 3759, [1529, 1666, 4, 59, 3499], 0, 400_330, 408_577,
                                 {1: 1, 4000: -1}, 2),
    "netgen_8_14a.min": (16384, 131072, 131072, 16384, [1, 2, 3, 4, 5], 0, 737_108_064, 73_737_510, None, 256),
}


@pytest.fixture(scope="module")
def loaded():
    return {name: korvane.load_min_instance(str(DATA / name)) for name in FILES}


@pytest.mark.parametrize("name", FILES)
def test_published_figures(loaded, name):
    num_nodes, num_arcs, arcs, distinct, first, pairs, costs, capacities, supplies, node_lines = FILES[name]
    inst = loaded[name]
    assert (inst.num_nodes, inst.num_arcs) == (num_nodes, num_arcs)
    assert len(inst.edges) == len(inst.arcs) == arcs
    assert len(inst.nodes) == len(set(inst.nodes)) == distinct
    assert inst.nodes[:len(first)] == first
    assert (inst.num_parallel_arc_pairs, inst.parallel) == (pairs, pairs > 0)
    assert sum(inst.weights) == sum(e.cost for e in inst.edges) == costs
    assert sum(inst.capacities) == capacities
    assert (len(inst.supplies), sum(inst.supplies.values())) == (node_lines, 0)
    assert supplies is None or inst.supplies == supplies
    assert inst.arcs == [(e.tail, e.head, e.index) for e in inst.edges]
    assert sorted(p for positions in inst.arc_indices.values() for p in positions) == list(range(arcs))
    assert set(inst.nodes) == set(inst.supplies) | {v for t, h, _ in inst.arcs for v in (t, h)}

