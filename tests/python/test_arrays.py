"""korvane.arrays: read-only views sharing the record's memory, tables, CSR."""

import gc
import sys

import numpy as np
import pytest
from conftest import edge_rows, fails_with, saved_and_read

import korvane
from korvane.arrays import csr, data_arrays, network_arrays, parsed_arrays

NET = "p min 5 5\nn 1 7\nn 4 -3\nn 5 -4\na 1 2 0 9 2\na 1 2 1 8 3\na 2 4 0 7 -1\na 4 4 0 5 1\na 2 5 0 6 4\n"


@pytest.fixture
def inst(net):
    return net(NET)


def check_views(first, second, names):
    for name in names:
        a, b = first[name], second[name]
        assert a.dtype == np.int64 and not a.flags.writeable, name
        assert np.shares_memory(a, b) or a.size == 0, name


def test_network_arrays_view_the_record_and_keep_it_alive(net):
    inst = net(NET)
    arrays = network_arrays(inst)
    assert [arrays[name].tolist() for name in ("tail", "head", "low", "up", "cost", "parallel_index")] \
        == [list(column) for column in zip(*edge_rows(inst))]
    assert arrays["node"].tolist() == inst.nodes
    assert dict(zip(arrays["supply_node"].tolist(), arrays["supply"].tolist())) == inst.supplies
    assert arrays["supply_node"].tolist() == sorted(inst.supplies)
    check_views(arrays, network_arrays(inst), arrays)
    del inst
    gc.collect()
    assert arrays["up"].tolist() == [9, 8, 7, 5, 6] and arrays["supply"].tolist() == [7, -3, -4]


@pytest.mark.parametrize("randomize", [False, True])
def test_data_and_parsed_arrays(inst, tmp_path, randomize):
    data = korvane.generate_multi_commodity_data(inst, 3, 2, randomize_caps=randomize,
                                                 randomize_costs=randomize, cap_zero=randomize,
                                                 cap_zero_param=0.3, seed=5)
    arrays = data_arrays(data)
    assert arrays["capacity"].shape == arrays["cost"].shape == (5, 3)
    assert arrays["capacity"].tolist() == [data.capacities_by_arc[a] for a in range(5)]
    assert arrays["cost"].tolist() == [data.weights_by_arc[a] for a in range(5)]
    assert dict(zip(arrays["supply_node"].tolist(), arrays["supply"].tolist())) == data.supply_partition
    assert [arrays[c].tolist() for c in ("tail", "head", "parallel_index", "up")] == [
        network_arrays(inst)[c].tolist() for c in ("tail", "head", "parallel_index", "up")]
    check_views(arrays, data_arrays(data), ["capacity", "cost", "supply_node", "tail", "up"])
    assert not np.shares_memory(arrays["supply"], data_arrays(data)["supply"])  # built per call

    parsed = saved_and_read(tmp_path / "x.mc", inst, data)
    got = parsed_arrays(parsed)
    keys = parsed.edges
    assert got["capacity"].tolist() == [parsed.commodity_capacities[key] for key in keys]
    assert got["cost"].tolist() == [parsed.commodity_weights[key] for key in keys]
    assert np.array_equal(got["capacity"], arrays["capacity"]) and np.array_equal(got["cost"], arrays["cost"])
    assert dict(zip(got["supply_node"].tolist(), got["supply"].tolist())) == parsed.commodity_supply_demand_data
    assert dict(zip(got["supply_node"].tolist(), got["supply_total"].tolist())) == parsed.supplies
    assert got["node"].tolist() == parsed.nodes and got["tail"].tolist() == parsed.start_nodes
    check_views(got, parsed_arrays(parsed), got)


def test_parsed_tables_across_layouts(tmp_path):
    path = tmp_path / "two.mc"
    path.write_text("p min 1 1 3 0 0 0 0 0 1\na 1 2 0 10 5 7\np min 2 2 2 1 1 1 1 0.5 2\na 3 4 0 20 1 2 3 4\n")
    got = parsed_arrays(korvane.load_multi_commodity_instance(str(path)))
    assert got["capacity"].tolist() == [[5, 5], [1, 2]] and got["cost"].tolist() == [[7, 7], [3, 4]]
    assert not got["capacity"].flags.writeable
    assert got["supply"].shape == (0, 2)
    for text, failure in [
        ("p min 9 0 2 0 0 0 0 0 0\nn 4 9 1 2 3\nn 5 1\n",
         (ValueError, ("supply lists do not all hold num_commodities values; no (N, K) table exists",))),
        ("p min 1 1 18446744073709551615 0 0 0 0 0 0\na 1 2 0 5 3 4\n", (MemoryError, ())),  # too large
    ]:
        path.write_text(text)
        assert fails_with(lambda: parsed_arrays(korvane.load_multi_commodity_instance(str(path)))) == failure


@pytest.mark.parametrize("text", [
    NET,
    "p min 4 4\nn -5 2\nn 1000000000000 -2\na -5 1000000000000 0 1 1\na 7 -5 0 1 1\na 7 7 0 1 1\na -5 7 0 1 1\n",
    "p min 3 0\nn 3 0\nn 1 0\n",
])
def test_csr_matches_the_adjacency_mapping(net, tmp_path, text):
    inst = net(text)
    incoming, outgoing = korvane.get_adjacency_mapping(inst.nodes, inst.topology())
    parsed = saved_and_read(tmp_path / "x.mc", inst, korvane.generate_multi_commodity_data(inst, 1, 1))
    topology = inst.topology()
    for record in (inst, parsed):
        got = csr(record)
        node = got["node"]
        assert node.tolist() == list(outgoing) == list(incoming)
        for side, mapping, end in [("out", outgoing, 0), ("in", incoming, 1)]:
            indptr, indices, arc = (got[f"{side}_{part}"] for part in ("indptr", "indices", "arc"))
            for r, n in enumerate(node.tolist()):
                row = slice(indptr[r], indptr[r + 1])
                assert node[indices[row]].tolist() == mapping[n]
                # exactly the node's arcs, in ascending order
                assert arc[row].tolist() == [a for a, pair in enumerate(topology) if pair[end] == n]


def test_wrong_records_and_missing_numpy(inst, monkeypatch):
    data = korvane.generate_multi_commodity_data(inst, 1, 1)
    with pytest.raises(TypeError) as exc:
        network_arrays(data)
    assert str(exc.value) == "'MultiCommodityData' object is not an instance of 'NetworkInstance'"
    with pytest.raises(TypeError) as exc:
        csr(None)
    assert str(exc.value) == "'None' is not an instance of 'NetworkInstance'"
    monkeypatch.setitem(sys.modules, "numpy", None)
    with pytest.raises(ImportError) as exc:
        data_arrays(data)
    assert str(exc.value) == ("korvane.arrays needs numpy: pip install numpy (or "
                              "'korvane[numpy]' by name, '.[numpy]' from a checkout)")
