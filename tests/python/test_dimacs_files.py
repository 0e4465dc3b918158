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


def test_folder_holds_exactly_the_described_files():
    assert sorted(p.name for p in DATA.iterdir() if p.name != "SOURCES.md") == sorted(FILES)


@pytest.mark.parametrize("name", FILES)
class TestPublishedFigures:
    def test_counts(self, loaded, name):
        num_nodes, num_arcs, arcs, distinct, first, pairs, *_ = FILES[name]
        inst = loaded[name]
        assert (inst.num_nodes, inst.num_arcs) == (num_nodes, num_arcs)
        assert len(inst.edges) == len(inst.arcs) == arcs
        assert len(inst.nodes) == len(set(inst.nodes)) == distinct
        assert inst.nodes[:len(first)] == first
        assert (inst.num_parallel_arc_pairs, inst.parallel) == (pairs, pairs > 0)

    def test_sums_and_supplies(self, loaded, name):
        *_, costs, capacities, supplies, node_lines = FILES[name]
        inst = loaded[name]
        assert sum(inst.weights) == sum(e.cost for e in inst.edges) == costs
        assert sum(inst.capacities) == capacities
        assert len(inst.supplies) == node_lines
        assert sum(inst.supplies.values()) == 0
        if supplies is not None:
            assert inst.supplies == supplies

    def test_record_invariants(self, loaded, name):
        inst = loaded[name]
        assert inst.arcs == [(e.tail, e.head, e.index) for e in inst.edges]
        assert sorted(p for positions in inst.arc_indices.values() for p in positions) == \
            list(range(len(inst.edges)))
        assert set(inst.nodes) == set(inst.supplies) | {v for t, h, _ in inst.arcs for v in (t, h)}


def test_sample_arcs(loaded):
    assert loaded["sample.dmx"].arcs == [(1, 2, 0), (2, 3, 0), (3, 4, 0), (1, 4, 0)]


def test_negative_cost_cycle_is_kept(loaded):
    inst = loaded["negative_weight_cycle.min"]
    assert [(e.tail, e.head, e.cost) for e in inst.edges if e.cost < 0] == [(4, 2, -4)]


@pytest.mark.parametrize(("name", "zero_cost_arcs"), [("Network1.dmx", 1), ("inst_4000_8000_5.max.min", 76)])
def test_zero_cost_arcs(loaded, name, zero_cost_arcs):
    assert loaded[name].weights.count(0) == zero_cost_arcs


def test_netgen_nodes_are_dense(loaded):
    assert sorted(loaded["netgen_8_14a.min"].nodes) == list(range(1, 16385))
