"""Networks built from arrays and networkx graphs are the records the .min reader makes from
the equivalent file; records go back to networkx and to SciPy's sparse arrays."""

import pickle
import random

import networkx as nx
import numpy as np
import pytest
from conftest import DATA, NETWORK, edge_rows, needs_data, saved_and_read

import korvane
from korvane import formats
from korvane.arrays import (csr, csr_array, from_networkx, network_arrays, network_from_arrays,
                            to_networkx)

NETWORK_FIELDS = ["num_nodes", "num_arcs", "nodes", "supplies", "arcs", "capacities", "weights",
                  "parallel", "num_parallel_arc_pairs", "arc_indices"]


def assert_same_network(built, read):
    for name in NETWORK_FIELDS:
        assert getattr(built, name) == getattr(read, name), name
    assert edge_rows(built) == edge_rows(read)
    assert built.topology() == read.topology()
    # The native columns, every derived arrangement included, byte for byte.
    assert pickle.dumps(built) == pickle.dumps(read)


def min_text(num_nodes, supplies, arcs):
    """The .min file the builders promise to equal: problem line, node lines, arc lines."""
    lines = [f"p min {num_nodes} {len(arcs)}"]
    lines += [f"n {node} {amount}" for node, amount in supplies]
    lines += ["a " + " ".join(map(str, arc)) for arc in arcs]
    return "\n".join(lines) + "\n"


SAMPLES = sorted(p.name for p in DATA.glob("*") if p.suffix in (".min", ".dmx")) if DATA.is_dir() \
    else []


@needs_data
@pytest.mark.parametrize("name", SAMPLES)
def test_samples_rebuilt_from_their_columns_and_from_networkx(net, name):
    read = korvane.load_min_instance(str(DATA / name))
    a = network_arrays(read)
    columns = [a[c] for c in ("tail", "head", "low", "up", "cost")]
    supplies = list(read.supplies.items())
    built = network_from_arrays(*columns, dict(supplies), read.num_nodes)
    assert_same_network(built, net(min_text(read.num_nodes, supplies, list(zip(*columns)))))
    # The sample may interleave node and arc lines: only the order of first appearance differs.
    assert sorted(built.nodes) == sorted(read.nodes)
    for field in set(NETWORK_FIELDS) - {"nodes"}:
        assert getattr(built, field) == getattr(read, field), field
    G = to_networkx(read)
    arcs = [(u, v, d["low"], d["capacity"], d["weight"]) for u, v, d in G.edges(data=True)]
    supplies = [(n, -d) for n, d in G.nodes(data="demand") if d is not None]
    assert_same_network(from_networkx(G, num_nodes=read.num_nodes),
                        net(min_text(read.num_nodes, supplies, arcs)))


def random_graph(seed, multi):
    rng = random.Random(seed)
    G = nx.gnm_random_graph(40, 160, seed=seed, directed=True)
    if multi:
        G = nx.MultiDiGraph(G)
        for u, v in rng.sample(list(G.edges()), 30):
            G.add_edge(u, v)  # parallel arcs, and some pairs both ways
    for u, v, attrs in G.edges(data=True):
        attrs["capacity"] = rng.randint(0, 50)
        attrs["weight"] = rng.randint(-5, 20)
        if rng.random() < 0.3:
            attrs["low"] = rng.randint(0, 3)
    for node in rng.sample(list(G.nodes), 12):
        G.nodes[node]["demand"] = rng.randint(-30, 30)
    return G


@pytest.mark.parametrize("seed, multi", [(1, False), (2, True), (3, True)])
def test_networkx_graph_equals_the_equivalent_file(net, seed, multi):
    G = random_graph(seed, multi)
    supplies = [(n, -d) for n, d in G.nodes(data="demand") if d is not None]
    arcs = [(u, v, a.get("low", 0), a["capacity"], a["weight"]) for u, v, a in G.edges(data=True)]
    read = net(min_text(len(G), supplies, arcs))
    assert_same_network(from_networkx(G), read)
    tails, heads, lows, ups, costs = zip(*arcs)
    assert_same_network(network_from_arrays(tails, heads, lows, ups, costs, tuple(zip(*supplies)),
                                            num_nodes=len(G)), read)


def test_from_networkx_names_and_defaults(net):
    G = nx.DiGraph()
    G.add_node(9, need=-4)
    G.add_edge(9, 3, cap=5.0, price=2)
    G.add_edge(3, 7, cap=4)  # no price: cost 0, as networkx reads it
    read = net("p min 2 2\nn 9 4\na 9 3 0 5 2\na 3 7 0 4 0\n")
    assert_same_network(from_networkx(G, demand="need", capacity="cap", weight="price",
                                      num_nodes=2), read)


def test_arrays_defaults_and_repeated_supplies(net):
    # Default N: the distinct ids. A repeated node line keeps the later amount, listed once.
    built = network_from_arrays(np.array([5, 5], dtype=np.int32), [6, 6], [0, 0], [3, 4], [1, 1],
                                ([2, 5, 2], [1, -1, 7]))
    assert_same_network(built, net("p min 3 2\nn 2 1\nn 5 -1\nn 2 7\na 5 6 0 3 1\na 5 6 0 4 1\n"))
    assert_same_network(network_from_arrays([], [], [], [], []), net("p min 0 0\n"))


def test_sign_convention_solves_as_networkx_expects(net):
    inst = net("p min 4 4\nn 1 5\nn 4 -5\na 1 2 0 4 1\na 1 3 0 8 3\na 2 4 0 5 1\na 3 4 0 5 1\n")
    # 4 units over the cost-2 path, 1 over the cost-4 one.
    assert nx.min_cost_flow_cost(to_networkx(inst)) == 12


@pytest.mark.parametrize("call, expected", [
    (lambda: from_networkx(nx.gnm_random_graph(3, 2, seed=1)), TypeError),
    (lambda: from_networkx(nx.DiGraph([(1, 2)])), ValueError),
    (lambda: from_networkx(nx.DiGraph([("a", "b", {"capacity": 1})])), TypeError),
    (lambda: from_networkx(nx.DiGraph([(1, 2, {"capacity": 2.5})])), ValueError),
    (lambda: from_networkx(nx.DiGraph([(1, 2, {"capacity": float("nan")})])), ValueError),
    (lambda: network_from_arrays([1.0], [2], [0], [1], [1]), TypeError),
    (lambda: network_from_arrays([1], [2], [0], [2**63], [1]), OverflowError),
    (lambda: network_from_arrays(np.array([2**63], dtype=np.uint64), [2], [0], [1], [1]),
     OverflowError),
    (lambda: network_from_arrays([[1]], [[2]], [[0]], [[1]], [[1]]), ValueError),
    (lambda: network_from_arrays([1], [2], [0], [1], [1], ([1, 2], [3])), ValueError),
])
def test_refusals(call, expected):
    with pytest.raises(expected):
        call()


@pytest.mark.parametrize("column", [np.zeros(2), np.arange(4)[::2], np.arange(2, dtype=np.int32),
                                    np.arange(4).reshape(2, 2), b"12345678", None])
def test_native_entry_takes_only_int64_columns(column):
    # korvane.arrays converts every column first; the native entry still refuses other buffers.
    native = korvane.korvane
    ok = np.arange(2)
    with pytest.raises(TypeError) as exc:
        native._network_from_columns(column, ok, ok, ok, ok, ok[:0], ok[:0], None)
    assert str(exc.value) == "tails must be a one-dimensional C-contiguous int64 buffer"


def test_unequal_columns_message():
    with pytest.raises(ValueError) as exc:
        network_from_arrays([1, 2], [2, 3], [0], [1, 1], [1, 1])
    assert str(exc.value) == ("tails, heads, lows, capacities and costs must have the same "
                              "length, got 2, 2, 1, 2 and 2")


@pytest.fixture
def generated(tmp_path):
    inst = korvane.load_min_instance(NETWORK)
    data = korvane.generate_multi_commodity_data(inst, 3, 2, randomize_caps=True, seed=5)
    return inst, data, saved_and_read(tmp_path / "x.mcf", inst, data)


def test_parsed_instance_to_networkx(generated):
    _, _, parsed = generated
    G = to_networkx(parsed)
    assert list(G.nodes) == parsed.nodes
    for n, amounts in parsed.commodity_supply_demand_data.items():
        assert G.nodes[n]["demands"] == [-v for v in amounts]
    # networkx lists edges grouped by tail: compare by arc key.
    edges = {(t, h, k): attrs for t, h, k, attrs in G.edges(keys=True, data=True)}
    assert sorted(edges) == sorted(parsed.commodity_capacities)
    for key, attrs in edges.items():
        assert attrs["capacities"] == parsed.commodity_capacities[key]
        assert attrs["weights"] == parsed.commodity_weights[key]
    assert [edges[key]["capacity"] for key in parsed.edges] == parsed.capacities


def test_problem_to_networkx(generated):
    inst, data, _ = generated
    problem = formats.to_problem(inst, data)
    G = to_networkx(problem)
    assert list(G.nodes) == problem.node_ids
    for n, row in zip(problem.node_ids, problem.supplies):
        assert G.nodes[n]["demands"] == [-v for v in row]
    ids = problem.node_ids
    edges = list(G.edges(data=True))
    assert len(edges) == problem.num_arcs
    # Edges come back grouped by tail; each arc is found by its name.
    by_name = {a["name"]: (t, h, a) for t, h, a in edges}
    for i, name in enumerate(problem.arc_names):
        t, h, a = by_name[name]
        assert (t, h) == (ids[problem.tails[i] - 1], ids[problem.heads[i] - 1])
        assert (a["capacities"], a["weights"], a["capacity"]) == \
            (problem.capacities[i], problem.costs[i], problem.bundle_capacities[i])
    with pytest.raises(TypeError):
        to_networkx(data)


def test_csr_array_against_the_arcs(net):
    inst = net("p min 4 5\na 1 2 0 9 2\na 1 2 0 8 3\na 2 4 0 7 -1\na 4 4 0 5 1\na 3 1 0 6 4\n")
    rows = {n: r for r, n in enumerate(csr(inst)["node"].tolist())}
    for weight, values in [(None, [1] * 5), ("up", inst.capacities), ("cost", inst.weights),
                           (np.arange(5) * 10, list(range(0, 50, 10)))]:
        expected = np.zeros((4, 4), dtype=np.int64)
        for (t, h, _), v in zip(inst.arcs, values):
            expected[rows[t], rows[h]] += v
        A = csr_array(inst, weight)
        assert A.format == "csr" and A.nnz == 5  # parallel arcs kept as duplicate entries
        assert (A.toarray() == expected).all(), weight
    with pytest.raises(ValueError):
        csr_array(inst, "tail")
    with pytest.raises(ValueError):
        csr_array(inst, [1, 2])
