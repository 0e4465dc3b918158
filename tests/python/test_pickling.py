"""Records pickle to their compact native form and come back equal, also across processes."""

import copy
import multiprocessing
import operator
import pickle
import struct
from concurrent.futures import ProcessPoolExecutor

import pytest
from conftest import DATA_FIELDS, PARSED_FIELDS, saved_and_read

import korvane
import korvane.formats
import korvane.korvane as native
from korvane.formats import to_problem

FIELDS = {
    korvane.Edge: ["tail", "head", "low", "up", "cost", "index"],
    korvane.NetworkInstance: ["num_nodes", "num_arcs", "nodes", "edges", "supplies", "arcs",
                              "capacities", "weights", "parallel", "num_parallel_arc_pairs",
                              "arc_indices", "topology"],
    korvane.MultiCommoditySupplies: ["partition"],
    korvane.MultiCommodityData: DATA_FIELDS,
    korvane.ParsedMulticommodityInstance: [*PARSED_FIELDS, "topology"],
}
# Two parallel arcs, a node without supply; K rises after the first arc line of the
# multi-commodity file, so its record holds two list layouts.
SAMPLE = "p min 4 3\nn 1 4\nn 3 -4\na 1 2 0 9 2\na 1 2 1 8 3\na 2 3 0 7 -1\n"
TWO_LAYOUTS = ("p mc 3 2 2 0 0 0 0 0.0 7\nn 1 5 2 3\na 1 2 0 9 4 4 1 1\n"
               "p mc 3 2 2 1 1 0 0 0.0 7\na 2 3 0 8 5 6 2 3\n")


def word(*values):
    return b"".join(struct.pack("<q", v) for v in values)


def column(*values):
    return word(len(values), *values)


SUPPLIES = b"KVR\x02\x03" + word(2) + word(1) + column(3, -1) + word(4) + column(-2, 0)


def plain(value):
    """A record's attribute as plain data: records by their fields, methods called."""
    if type(value) in FIELDS:
        return {name: plain(getattr(value, name)) for name in FIELDS[type(value)]}
    if callable(value):
        return plain(value())
    if isinstance(value, (list, tuple)):
        return [plain(v) for v in value]
    if isinstance(value, dict):
        return {k: plain(v) for k, v in value.items()}
    return value


@pytest.fixture
def records(net, tmp_path):
    inst = net(SAMPLE)
    data = korvane.generate_multi_commodity_data(inst, 3, 2, randomize_caps=True, cap_zero=True)
    two_layouts = tmp_path / "two.mc"
    two_layouts.write_text(TWO_LAYOUTS)
    parsed = saved_and_read(tmp_path / "x.mc", inst, data)
    # korvane.formats' record (compared by its own ==) travels the same way.
    return [inst.edges[1], inst, native._load_record(SUPPLIES), data, parsed,
            korvane.load_multi_commodity_instance(str(two_layouts)), to_problem(parsed)]


def test_round_trips_in_this_process(records):
    assert [type(r) for r in records[:5]] == list(FIELDS)
    assert plain(records[2]) == {"partition": {1: [3, -1], 4: [-2, 0]}}
    for record in records:
        for again in (pickle.loads(pickle.dumps(record, protocol)) for protocol in (2, 5)):
            assert type(again) is type(record) and again is not record
            assert plain(again) == plain(record)
        assert plain(copy.deepcopy(record)) == plain(record)
        # The pickle holds the native bytes and a reference to the loader, nothing per item.
        assert len(pickle.dumps(record)) < len(native._dump_record(record)) + 100


def test_round_trips_through_a_process_pool(records):
    # Spawned workers share nothing with this process: every record crosses as its pickle,
    # both ways, and the worker reads it through the classes' own getters.
    with ProcessPoolExecutor(2, mp_context=multiprocessing.get_context("spawn")) as pool:
        back = list(pool.map(copy.copy, records))
        counts = list(pool.map(operator.attrgetter("num_arcs"), records[1::4]))
    assert [plain(r) for r in back] == [plain(r) for r in records]
    assert counts == [3, 2]


def test_large_record_is_its_columns(tmp_path):
    arcs = 20000
    text = f"p min {arcs + 1} {arcs}\n" + "".join(f"a {i} {i + 1} 0 {i} {i % 7}\n" for i in range(1, arcs + 1))
    (tmp_path / "big.min").write_text(text)
    inst = korvane.load_min_instance(str(tmp_path / "big.min"))
    # Five arc columns (tails, heads, lows, ups, costs) and the node ids: the parallel indices and
    # the pair order are rebuilt from the arcs.
    assert len(native._dump_record(inst)) < 8 * (5 * arcs + (arcs + 1)) + 200
    again = pickle.loads(pickle.dumps(inst))
    assert (again.capacities, again.weights, again.arc_indices) == (inst.capacities, inst.weights,
                                                                    inst.arc_indices)


NETWORK_HEAD = b"KVR\x02\x02" + word(2, 1) + column(1, 2) + word(0)


@pytest.mark.parametrize("blob, message", [
    (b"", "not a korvane record of a known version"),
    (b"KVR", "not a korvane record of a known version"),
    (b"KVR\x01\x01" + word(1, 2, 0, 9, 2, 0), "not a korvane record of a known version"),
    (b"KVR\x02\x07" + word(1, 2, 0, 9, 2, 0), "not a korvane record of a known version"),
    (b"KVR\x02\x01" + word(1, 2, 0, 9, 2), "korvane record is truncated"),
    (b"KVR\x02\x01" + word(1, 2, 0, 9, 2, 0) + b"\x00", "korvane record is inconsistent"),
    # A column longer than the bytes that follow is never allocated.
    (b"KVR\x02\x03" + word(1) + word(1) + word(2**40), "korvane record is truncated"),
    # One arc whose heads column is empty.
    (NETWORK_HEAD + column(1) + column() + column(0) + column(9) + column(2),
     "korvane record is inconsistent"),
    # A problem of one arc and one commodity without its cost, then one whose arc ends at
    # node 3 of 2 (table values are IEEE bits; 0 is 0.0).
    (b"KVR\x02\x06" + word(0, 2, 1, 1) + column() + column(1) + column(1) + column(2)
     + column() + column(0) + column(0) + column(0, 0), "korvane record is inconsistent"),
    (b"KVR\x02\x06" + word(0, 2, 1, 1) + column() + column(1) + column(1) + column(3)
     + column(0) + column(0) + column(0) + column(0, 0), "korvane record is inconsistent"),
    # ... and one without its bundle capacity.
    (b"KVR\x02\x06" + word(0, 2, 1, 1) + column() + column(1) + column(1) + column(2)
     + column(0) + column(0) + column() + column(0, 0), "korvane record is inconsistent"),
    # A network whose supplies are not in ascending node order, one whose node list repeats
    # node 1, and one whose node list misses the head of its arc.
    (b"KVR\x02\x02" + word(2, 1) + column(1, 2) + word(2, 2, -4, 1, 4) + column(1) + column(2)
     + column(0) + column(9) + column(2), "korvane record is inconsistent"),
    (b"KVR\x02\x02" + word(2, 1) + column(1, 1) + word(0) + column(1) + column(1)
     + column(0) + column(9) + column(2), "korvane record is inconsistent"),
    (b"KVR\x02\x02" + word(2, 1) + column(1) + word(0) + column(1) + column(2)
     + column(0) + column(9) + column(2), "korvane record is inconsistent"),
])
def test_foreign_bytes_raise_value_error(blob, message):
    with pytest.raises(ValueError) as exc:
        native._load_record(blob)
    assert exc.value.args == (message,)


def test_every_truncation_of_a_real_record_is_refused(records):
    blob = native._dump_record(records[5])
    for end in range(len(blob)):
        with pytest.raises(ValueError):
            native._load_record(blob[:end])
    good = NETWORK_HEAD + column(1) + column(2) + column(0) + column(9) + column(2)
    assert plain(native._load_record(good))["edges"] == [
        {"tail": 1, "head": 2, "low": 0, "up": 9, "cost": 2, "index": 0}]


def recounted(pairs):
    """Parallel indices, arc_indices and the number of pairs carrying several arcs, from scratch."""
    seen, positions = {}, {}
    for a, pair in enumerate(pairs):
        positions.setdefault(pair, []).append(a)
        seen[a] = len(positions[pair]) - 1
    return ([seen[a] for a in range(len(pairs))], dict(sorted(positions.items())),
            sum(len(p) > 1 for p in positions.values()))


def assert_truthful(record):
    """Every view of a record agrees with its columns, and calls that take it do not fail inside."""
    def ascending(keys):
        return all(a < b for a, b in zip(keys, keys[1:]))
    if isinstance(record, korvane.NetworkInstance):
        edges = [(e.tail, e.head, e.index) for e in record.edges]
        pairs = [e[:2] for e in edges]
        indices, arc_indices, multiple = recounted(pairs)
        assert record.arcs == edges and [e[2] for e in edges] == indices
        assert (record.arc_indices, record.num_parallel_arc_pairs, record.parallel) == (
            arc_indices, multiple, multiple > 0)
        assert ascending(list(record.supplies))
        nodes = record.nodes
        assert len(set(nodes)) == len(nodes) and set(nodes) >= {n for p in pairs for n in p} | set(
            record.supplies)
        try:
            korvane.generate_multi_commodity_data(record, 2, 0)
        except ValueError:
            pass
    elif isinstance(record, korvane.MultiCommodityData):
        edges = [(t, h, i) for k, t, h, i in record.commodity_edges if k == 0]
        indices, arc_indices, multiple = recounted([e[:2] for e in edges])
        assert [e[2] for e in edges] == indices
        assert (record.arc_indices, record.parallel) == (arc_indices, multiple > 0)
        assert ascending(list(record.supply_partition))
    elif isinstance(record, korvane.ParsedMulticommodityInstance):
        pairs = list(zip(record.start_nodes, record.end_nodes))
        indices, arc_indices, multiple = recounted(pairs)
        assert [e[2] for e in record.edges] == indices
        assert (record.arc_indices, record.parallel) == (arc_indices, multiple > 0)
        assert ascending(list(record.supplies))
        nodes = record.nodes
        assert len(set(nodes)) == len(nodes) and set(nodes) >= {n for p in pairs for n in p}
    elif isinstance(record, korvane.formats.MulticommodityProblem):
        e, k = record.num_arcs, record.num_commodities
        assert len(record.bundle_capacities) == len(record.tails) == e
        assert len(record.costs) == len(record.capacities) == e
        assert all(len(row) == k for row in record.costs + record.capacities)


def test_no_change_of_a_word_makes_a_record_that_lies(records):
    # Each 8-byte word of every record's bytes replaced by a few small values: the result is
    # refused, or every derived view (parallel indices, arc_indices, flags, sorted maps, the
    # node list) agrees with the columns it comes from.
    for record in records[1:]:
        blob = native._dump_record(record)
        for offset in range(5, len(blob) - 7, 8):
            for value in (0, 1, 2, 5, -1):
                try:
                    again = native._load_record(blob[:offset] + word(value) + blob[offset + 8:])
                except ValueError:
                    continue
                assert_truthful(again)


@pytest.mark.parametrize("call, arg, message", [
    (native._dump_record, 3, "'int' object is not an instance of 'korvane record'"),
    (native._load_record, "KVR", "'str' object is not an instance of 'bytes'"),
])
def test_wrong_argument_types(call, arg, message):
    with pytest.raises(TypeError) as exc:
        call(arg)
    assert str(exc.value) == message


class Hostile:
    """Pickles as a call of the record loader on the bytes given, as a tampered pickle does."""

    def __init__(self, blob):
        self.blob = blob

    def __reduce__(self):
        return native._load_record, (self.blob,)


def problem_blob(bundles):
    """A problem of two nodes, two arcs 1->2 and 2->1 and one commodity, with `bundles`."""
    return (b"KVR\x02\x06" + word(0, 2, 1, 2) + column() + column(1, 2) + column(1, 2)
            + column(2, 1) + column(0, 0) + column(0, 0) + column(*bundles) + column(0, 0))


def test_a_problem_whose_bundle_column_is_short_is_refused():
    assert pickle.loads(pickle.dumps(Hostile(problem_blob([0, 0])))).bundle_capacities == [0, 0]
    # One bundle for two arcs: korvane.arrays.problem_arrays would read past the column.
    with pytest.raises((ValueError, TypeError)):
        pickle.loads(pickle.dumps(Hostile(problem_blob([0]))))
