"""Adjacency and incidence mappings, and the topology view they are built from."""

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import korvane

adjacency, incidence = korvane.get_adjacency_mapping, korvane.get_incidence_mapping


@pytest.mark.parametrize(("func", "nodes", "edges", "expected"), [
    (adjacency, [1, 2, 3], [(1, 2), (1, 2), (2, 1)],
     ({1: [2], 2: [1, 1], 3: []}, {1: [2, 2], 2: [1], 3: []})),
    (adjacency, [], [(5, 7)], ({7: [5]}, {5: [7]})),
    (adjacency, [3, 1, 3], [], ({1: [], 3: []}, {1: [], 3: []})),
    (adjacency, [4], [(4, 4)], ({4: [4]}, {4: [4]})),
    (adjacency, [], [], ({}, {})),
    (adjacency, [9], [(2, 1), (-3, 1), (1, 2), (2, 1)],
     ({1: [2, -3, 2], 2: [1], 9: []}, {-3: [1], 1: [2], 2: [1, 1], 9: []})),
    (incidence, [1, 2], [(1, 2, 0), (1, 2, 1)],
     ({1: [], 2: [(1, 2, 0), (1, 2, 1)]}, {1: [(1, 2, 0), (1, 2, 1)], 2: []})),
    (incidence, [], [(4, 4, 7), (-2**63, 2**63 - 1, -1)],
     ({4: [(4, 4, 7)], 2**63 - 1: [(-2**63, 2**63 - 1, -1)]},
      {-2**63: [(-2**63, 2**63 - 1, -1)], 4: [(4, 4, 7)]})),
    (incidence, [5], [(5, 6, 3), (5, 6, 3)], ({5: [], 6: [(5, 6, 3), (5, 6, 3)]}, {5: [(5, 6, 3), (5, 6, 3)]})),
])
def test_worked_examples(func, nodes, edges, expected):
    incoming, outgoing = result = func(nodes, edges)
    assert type(result) is tuple
    assert (incoming, outgoing) == expected
    assert list(incoming) == list(expected[0]) and list(outgoing) == list(expected[1])


def test_inputs_are_left_unchanged():
    nodes, edges = [3, 1], [(1, 3, 0), (3, 1, 0)]
    incidence(nodes, edges)
    assert (nodes, edges) == ([3, 1], [(1, 3, 0), (3, 1, 0)])


def test_each_call_builds_new_lists():
    first = adjacency([1], [(1, 2)])
    first[1][1].append(99)
    assert adjacency([1], [(1, 2)]) == ({1: [], 2: [1]}, {1: [2]})


class TestTopology:
    @pytest.fixture
    def instance(self, min_file):
        return korvane.load_min_instance(min_file(
            "p min 4 6\nn 4 2\na 1 2 0 5 1\na 2 3 0 5 1\na 1 2 0 6 2\na 3 3 0 1 1\na 2 1 0 1 1\na 1 2 0 7 3\n"))

    def test_one_pair_per_arc_in_position_order(self, instance):
        assert instance.topology() == [(1, 2), (2, 3), (1, 2), (3, 3), (2, 1), (1, 2)]
        assert instance.topology() == [(t, h) for t, h, _ in instance.arcs]

    def test_parallel_neighbour_listed_once_per_arc(self, instance):
        incoming, outgoing = adjacency(instance.nodes, instance.topology())
        assert incoming == {1: [2], 2: [1, 1, 1], 3: [2, 3], 4: []}
        assert outgoing == {1: [2, 2, 2], 2: [3, 1], 3: [3], 4: []}

    def test_incidence_from_instance_arcs(self, instance):
        incoming, outgoing = incidence(instance.nodes, instance.arcs)
        assert incoming[2] == [(1, 2, 0), (1, 2, 1), (1, 2, 2)]
        assert outgoing[2] == [(2, 3, 0), (2, 1, 0)]

    def test_empty_instance(self, min_file):
        assert korvane.load_min_instance(min_file("p min 3 0\n")).topology() == []


node_id = st.integers(-4, 4) | st.integers(-2**63, 2**63 - 1)
arc_key = st.tuples(node_id, node_id, st.integers(0, 3))


@settings(derandomize=True, max_examples=200, deadline=None)
@given(nodes=st.lists(node_id, max_size=8), arcs=st.lists(arc_key, max_size=20))
def test_mapping_invariants(nodes, arcs):
    pairs = [(t, h) for t, h, _ in arcs]
    adj_in, adj_out = adjacency(nodes, pairs)
    inc_in, inc_out = incidence(nodes, arcs)
    heads, tails = {h for _, h in pairs}, {t for t, _ in pairs}
    for mapping, keys in ((adj_in, heads), (adj_out, tails), (inc_in, heads), (inc_out, tails)):
        assert sum(map(len, mapping.values())) == len(arcs)
        assert set(mapping) == set(nodes) | keys
        assert list(mapping) == sorted(mapping)
    for node in adj_in:
        assert adj_in[node] == [t for t, h in pairs if h == node]
        assert inc_in[node] == [a for a in arcs if a[1] == node]
    for node in adj_out:
        assert adj_out[node] == [h for t, h in pairs if t == node]
        assert inc_out[node] == [a for a in arcs if a[0] == node]
