"""Adjacency and incidence mappings, and the topology view they are built from."""

import gc

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import korvane

adjacency, incidence = korvane.get_adjacency_mapping, korvane.get_incidence_mapping


@pytest.mark.parametrize(("func", "nodes", "edges", "expected"), [
    (adjacency, [9], [(2, 1), (-3, 1), (1, 2), (2, 1)],
     ({1: [2, -3, 2], 2: [1], 9: []}, {-3: [1], 1: [2], 2: [1, 1], 9: []})),
    (incidence, [5], [(5, 6, 3), (5, 6, 3)], ({5: [], 6: [(5, 6, 3), (5, 6, 3)]}, {5: [(5, 6, 3), (5, 6, 3)]})),
])  # loops, repeated and empty node lists, and extreme ids: the property below
def test_worked_examples(func, nodes, edges, expected):
    result = func(nodes, edges)
    assert type(result) is tuple and result == expected
    assert [list(m) for m in result] == [list(m) for m in expected]


def test_topology_feeds_the_mappings(net):
    inst = net("p min 4 6\nn 4 2\na 1 2 0 5 1\na 2 3 0 5 1\na 1 2 0 6 2\na 3 3 0 1 1\na 2 1 0 1 1\na 1 2 0 7 3\n")
    assert inst.topology() == [(t, h) for t, h, _ in inst.arcs] == [(1, 2), (2, 3), (1, 2), (3, 3), (2, 1), (1, 2)]
    assert adjacency(inst.nodes, inst.topology()) == ({1: [2], 2: [1, 1, 1], 3: [2, 3], 4: []},
                                                      {1: [2, 2, 2], 2: [3, 1], 3: [3], 4: []})
    incoming, outgoing = incidence(inst.nodes, inst.arcs)
    assert (incoming[2], outgoing[2]) == ([(1, 2, 0), (1, 2, 1), (1, 2, 2)], [(2, 3, 0), (2, 1, 0)])
    assert net("p min 3 0\n").topology() == []


node_id = st.integers(-4, 4) | st.integers(-2**63, 2**63 - 1)


@settings(derandomize=True, max_examples=200, deadline=None)
@given(nodes=st.lists(node_id, max_size=8), arcs=st.lists(st.tuples(node_id, node_id, st.integers(0, 3)), max_size=20))
def test_mapping_invariants(nodes, arcs):
    pairs = [(t, h) for t, h, _ in arcs]
    before = (list(nodes), list(arcs))
    (adj_in, adj_out), (inc_in, inc_out) = adjacency(nodes, pairs), incidence(nodes, arcs)
    assert (nodes, arcs) == before
    for mapping, ends in ((adj_in, {h for _, h in pairs}), (adj_out, {t for t, _ in pairs}),
                          (inc_in, {h for _, h in pairs}), (inc_out, {t for t, _ in pairs})):
        assert list(mapping) == sorted(set(nodes) | ends)
    for node in adj_in:
        assert (adj_in[node], inc_in[node]) == ([t for t, h in pairs if h == node], [a for a in arcs if a[1] == node])
    for node in adj_out:
        assert (adj_out[node], inc_out[node]) == ([h for t, h in pairs if t == node], [a for a in arcs if a[0] == node])
    if adj_in:
        next(iter(adj_in.values())).append(99)  # each call builds new lists
        assert adjacency(nodes, pairs)[0] == {n: [t for t, h in pairs if h == n] for n in adj_in}


def test_collector_state_is_restored_after_building_results(net):
    inst = net("p min 2 2\na 1 2 0 5 1\na 2 1 0 5 1\n")
    assert gc.isenabled()
    inst.arcs, inst.topology(), adjacency(inst.nodes, inst.topology())
    assert gc.isenabled()
    gc.disable()
    try:
        inst.arcs, adjacency(inst.nodes, inst.topology())
        assert not gc.isenabled()
    finally:
        gc.enable()
