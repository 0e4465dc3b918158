"""generate_multi_commodity_data and the MultiCommodityData record (saved and read back)."""

import contextlib
import math
import os
import struct
import tempfile

import pytest
from conftest import DATA_FIELDS, fails_with
from hypothesis import example, given, settings
from hypothesis import strategies as st

import korvane

GEN = korvane.generate_multi_commodity_data
MAX = 2**63 - 1
QUIET_NAN = struct.pack("<d", float("nan"))  # positive quiet NaN, empty payload


def bits(value):
    return struct.pack("<d", value)


@pytest.fixture(scope="module")
def scratch(tmp_path_factory):
    return tmp_path_factory.mktemp("generated")


def network(arcs, supplies=None):
    """Load an instance with arcs (tail, head, up, cost) in this order and node lines for supplies."""
    lines = ["p min 9 %d" % len(arcs)]
    lines += ["n %d %d" % item for item in (supplies or {}).items()]
    lines += ["a %d %d 0 %d %d" % arc for arc in arcs]
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "net.min")
        with open(path, "w") as handle:
            handle.write("\n".join(lines) + "\n")
        return korvane.load_min_instance(path)


def chain(ups, cost=1):
    """Arcs i -> i+1 with the given upper capacities; a balanced pair of end nodes."""
    return network([(i + 1, i + 2, up, cost) for i, up in enumerate(ups)], {1: 4, len(ups) + 1: -4})


def snapshot(data):
    return {name: getattr(data, name) for name in DATA_FIELDS}


def within(values, value, a, b, minimum):
    """Each value is the ceiling of a point between a*value and b*value, raised to minimum."""
    lo, hi = a * value, max(a * value, b * value)
    return all(max(math.ceil(lo), minimum) <= v <= max(math.ceil(hi), minimum) for v in values)


def check_record(inst, data, k, method, flags):
    keys, by_w, by_c = inst.arcs, data.weights_by_arc, data.capacities_by_arc
    assert data.commodity_edges == [(c, *key) for key in keys for c in range(k)]
    assert data.capacities == [x.up for x in inst.edges for _ in range(k)]
    assert list(by_w) == list(by_c) == list(range(len(keys)))
    assert all(len(v) == k for v in [*by_w.values(), *by_c.values()])
    assert list(data.commodity_weights.items()) == sorted(zip(keys, by_w.values()))
    assert list(data.commodity_capacities.items()) == sorted(zip(keys, by_c.values()))
    assert data.weight == [[by_w[a][c] for a in by_w] for c in range(k)]
    for a, x in enumerate(inst.edges):
        least = 1 if x.cost else 0
        costs_ok = within(by_w[a], x.cost, 0.8, 1.2, least) if flags["randomize_costs"] else by_w[a] == [x.cost] * k
        caps_ok = within(by_c[a], x.up, 0.8, 1.0, 1) if flags["randomize_caps"] else by_c[a] == [x.up] * k
        assert costs_ok and (caps_ok or flags["cap_zero"])
    recorded = (data.method, data.num_commodities, data.randomized_capacities, data.randomized_weights,
                data.cap_zero, repr(data.cap_zero_param), data.seed, data.parallel, data.arc_indices)
    assert recorded == (method, k, flags["randomize_caps"], flags["randomize_costs"], flags["cap_zero"],
                        repr(flags["cap_zero_param"]), flags["seed"], inst.parallel, inst.arc_indices)


def check_file(record, inst, data, k, method, flags):
    """What the reader gives for the saved data: the record's own values, the header fields."""
    r = record
    assert (r.num_nodes, r.num_arcs, r.num_commodities, r.method) == (inst.num_nodes, inst.num_arcs, k, method)
    assert (r.randomized_capacities, r.randomized_weights, r.cap_zero) == (
        flags["randomize_caps"], flags["randomize_costs"], flags["cap_zero"])
    param = flags["cap_zero_param"]
    assert bits(r.cap_zero_param) == (QUIET_NAN if math.isnan(param) else bits(param))
    assert r.seed == (0 if method == 1 and not (r.randomized_capacities or r.randomized_weights)
                      else flags["seed"])
    partition = data.supply_partition
    assert r.supplies == {node: sum(parts) for node, parts in partition.items()}
    assert r.commodity_supply_demand_data == partition
    ends = [x for e in inst.edges for x in (e.tail, e.head) if x not in partition]
    assert r.nodes == sorted(partition) + list(dict.fromkeys(ends))
    assert (r.edges, r.arc_indices, r.parallel) == (inst.arcs, inst.arc_indices, inst.parallel)
    assert r.capacities == [e.up for e in inst.edges]
    assert (r.commodity_capacities, r.commodity_weights) == (data.commodity_capacities, data.commodity_weights)
    by_arc = data.capacities_by_arc
    assert r.commodity_bundle_capacities == [by_arc[a][c] for c in range(k) for a in by_arc]


node = st.sampled_from([-3, 1, 2, 3, 4, 5])
arc_lists = st.lists(st.tuples(node, node, st.integers(-3, 40), st.integers(-10, 50)), max_size=8)
supply_maps = st.dictionaries(node | st.just(6), st.integers(-30, 30), max_size=5)
flag_sets = st.fixed_dictionaries({
    "randomize_caps": st.booleans(), "randomize_costs": st.booleans(), "cap_zero": st.booleans(),
    "cap_zero_param": st.sampled_from([0.0, 0.2, 0.5, 0.9, 1.0, math.nan, -0.0]) | st.floats(0, 1),
    "seed": st.integers(0, 2**64 - 1),
})


@contextlib.contextmanager
def threads(count):
    """KORVANE_NUM_THREADS set to count for the calls inside."""
    before = os.environ.get("KORVANE_NUM_THREADS")
    os.environ["KORVANE_NUM_THREADS"] = str(count)
    try:
        yield
    finally:
        if before is None:
            del os.environ["KORVANE_NUM_THREADS"]
        else:
            os.environ["KORVANE_NUM_THREADS"] = before


class TestRecordShape:
    # The saved file is read back over the same cases, generated, written and read on 1, 2 and 7
    # threads; K = 0 (possible only without supplies) writes expanded lists that are empty. The
    # explicit examples write lines much longer than the writer's 8192-byte buffer, and such lists.
    @settings(derandomize=True, max_examples=150, deadline=None)
    @example([(1, 2, 10**9, 10**9)], {1: 10**6, 2: -10**6}, 1500, 0, {
        "randomize_caps": True, "randomize_costs": True, "cap_zero": False, "cap_zero_param": 0.5, "seed": 1})
    @example([(1, 2, 5, 3), (1, 2, 6, 4)], {}, 0, 1, {
        "randomize_caps": True, "randomize_costs": True, "cap_zero": False, "cap_zero_param": 0.0, "seed": 1})
    @given(arc_lists, supply_maps, st.integers(0, 4), st.integers(0, 2), flag_sets)
    def test_invariants_and_the_saved_file(self, scratch, arcs, supplies, k, method, flags):
        inst = network(arcs, {} if k == 0 else supplies)
        if k == 0 and inst.edges:
            # A compressed list of no values cannot be written: both lists expanded.
            flags = {**flags, "randomize_costs": True,
                     "randomize_caps": flags["randomize_caps"] or not flags["cap_zero"]}
        for count in (1, 2, 7):
            with threads(count):
                data = GEN(inst, k, method, **flags)
                check_record(inst, data, k, method, flags)
                # Rewritten in place each time: a longer earlier file must be replaced completely.
                korvane.save_multi_commodity_instance(str(scratch / "round.mc"), inst, data)
                record = korvane.load_multi_commodity_instance(str(scratch / "round.mc"))
            check_file(record, inst, data, k, method, flags)
        if flags["cap_zero"]:
            plain = GEN(inst, k, method, **{**flags, "cap_zero": False}).capacities_by_arc
            for a, x in enumerate(inst.edges):
                got = data.capacities_by_arc[a]
                assert all(v in (0, x.up, p) for v, p in zip(got, plain[a]))
                assert x.up == 0 or k == 0 or any(got)

    # Spread with seed 42 is the split function's worked example; the other partitions are pinned
    # from our own output, the seed-7 ones to show that the seed reaches the partitioner.
    @pytest.mark.parametrize(("method", "seed", "partition"), [
        (0, 42, {1: [4, 2, 4], 2: [-4, -2, -4]}), (0, 7, {1: [1, 3, 6], 2: [-1, -3, -6]}),
        (1, 7, {1: [3, 4, 3], 2: [-3, -4, -3], 3: [0, 0, 0]}),
        (2, 42, {1: [3, 3, 4], 2: [-3, -3, -4]}), (2, 7, {1: [0, 4, 6], 2: [0, -4, -6]}),
    ])
    def test_method_code_chooses_the_partitioner(self, method, seed, partition):
        assert GEN(network([(1, 2, 5, 1)], {1: 10, 2: -10, 3: 0}), 3, method, seed=seed).supply_partition == partition

    def test_nothing_to_zero_is_not_a_failure(self):
        data = GEN(network([], {1: 3, 2: -3}), 2, 1, cap_zero=True, cap_zero_param=0.5)
        assert (data.weight, data.commodity_edges, data.capacities) == ([[], []], [], [])
        assert data.capacities_by_arc == data.commodity_weights == data.arc_indices == {}
        assert data.supply_partition == {1: [1, 2], 2: [-1, -2]}
        data = GEN(network([(1, 2, 3, 1), (2, 3, 4, 1)]), 0, 0, cap_zero=True, cap_zero_param=0.5)
        assert (data.capacities_by_arc, data.weight, data.supply_partition) == ({0: [], 1: []}, [], {})


class TestDraws:
    INST = network([(1, 2, 20, 10), (2, 3, 15, 7), (1, 3, 9, 30)], {1: 25, 3: -25})
    RANDOM = {"randomize_caps": True, "randomize_costs": True, "cap_zero": True, "cap_zero_param": 0.4}

    def test_one_stream_arcs_then_commodities_then_cost_before_capacity(self):
        # Costs and capacities drawn from the same range: two arcs, three commodities, a cost and a
        # capacity each take the same twelve values as twelve cost draws on one arc.
        both = GEN(network([(1, 2, 100, 100), (2, 3, 100, 100)]), 3, 1, randomize_caps=True, cap_a=0.5,
                   randomize_costs=True, cost_a=0.5, cost_b=1.0, seed=7)
        stream = GEN(network([(1, 2, 100, 100)]), 12, 1, randomize_costs=True, cost_a=0.5, cost_b=1.0,
                     seed=7).weights_by_arc[0]
        assert [v for a in (0, 1) for pair in zip(both.weights_by_arc[a], both.capacities_by_arc[a])
                for v in pair] == stream
        assert len(set(stream)) > 6

    @pytest.mark.parametrize("k", [3, 5, 16, 33])
    def test_rows_of_one_and_two_draws_take_the_stream_in_order(self, k):
        # Arcs alternate between a cost draw only (no capacity range) and both draws from the same
        # range, so rows start at every offset of the source's buffer and some pairs are cut by a
        # refill; the values still follow the one stream of a single arc's cost draws.
        arcs = [(1, 2, 0 if a % 2 == 0 else 100, 100) for a in range(40)]
        data = GEN(network(arcs), k, 1, randomize_caps=True, cap_a=0.5, randomize_costs=True,
                   cost_a=0.5, cost_b=1.0, seed=11)
        drawn = []
        for a in range(len(arcs)):
            if a % 2 == 0:
                drawn += data.weights_by_arc[a]
            else:
                drawn += [v for pair in zip(data.weights_by_arc[a], data.capacities_by_arc[a]) for v in pair]
        stream = GEN(network([(1, 2, 100, 100)]), len(drawn), 1, randomize_costs=True, cost_a=0.5,
                     cost_b=1.0, seed=11).weights_by_arc[0]
        assert drawn == stream
        assert len(set(stream)) > 6

    @pytest.mark.parametrize(("first", "kwargs"), [
        ((1, 2, 5, 0), {"randomize_costs": True}),
        ((1, 2, 5, -3), {"randomize_costs": True}),
        ((1, 2, 0, 5), {"randomize_costs": True, "cost_a": 1.5, "cost_b": 1.5, "randomize_caps": True}),
        ((1, 2, -4, 5), {"randomize_caps": True}),
    ])
    def test_arcs_without_a_draw_leave_the_stream_alone(self, first, kwargs):
        later = (3, 4, 500, 500)
        alone = GEN(network([later]), 3, 1, seed=3, **kwargs)
        behind = GEN(network([first, later]), 3, 1, seed=3, **kwargs)
        assert (behind.weights_by_arc[1], behind.capacities_by_arc[1]) == \
               (alone.weights_by_arc[0], alone.capacities_by_arc[0])
        assert len(set(alone.weights_by_arc[0] + alone.capacities_by_arc[0])) > 2

    def test_the_seed_and_only_the_seed_moves_the_arc_draws(self):
        assert len({repr(GEN(self.INST, 4, 1, randomize_costs=True, seed=s).weights_by_arc) for s in range(5)}) > 1
        records = [GEN(self.INST, 3, method, **self.RANDOM, seed=9) for method in (0, 1, 2)]
        assert len({repr((r.weights_by_arc, r.capacities_by_arc)) for r in records}) == 1
        first, second = snapshot(GEN(self.INST, 3, 1, seed=1)), snapshot(GEN(self.INST, 3, 1, seed=2))
        assert (first.pop("seed"), second.pop("seed")) == (1, 2) and first == second


class TestValues:
    @pytest.mark.parametrize(("up", "cost", "kwargs", "costs", "caps"), [
        (0, 4, {"randomize_caps": True}, 4, 1),
        (10, 0, {"randomize_costs": True}, 0, 10),
        (10, -7, {"randomize_costs": True}, 1, 10),
        (10, 4, {"randomize_caps": True, "cap_a": 0.55, "cap_b": 0.55}, 4, 6),
        (10, 1, {"randomize_costs": True, "cost_a": 0.3, "cost_b": 0.3}, 1, 10),
        # out-of-range ceilings saturate; NaN becomes 0 before the lower limit applies
        (10, 5, {"randomize_costs": True, "cost_a": 1e300, "cost_b": 1e300}, MAX, 10),
        (10, 0, {"randomize_costs": True, "cost_a": math.nan, "cost_b": math.nan}, 0, 10),
        (10, 5, {"randomize_caps": True, "cap_a": math.nan, "cap_b": 2.0}, 5, 1),
        (10, 5, {"randomize_caps": True, "cap_a": -1e300, "cap_b": -1e300}, 5, 1),
    ])
    def test_values_without_a_draw(self, up, cost, kwargs, costs, caps):
        data = GEN(network([(1, 2, up, cost)]), 3, 1, **kwargs)
        assert (data.weights_by_arc[0], data.capacities_by_arc[0]) == ([costs] * 3, [caps] * 3)
        assert data.capacities == [up] * 3

    def test_drawn_values_beyond_the_integer_range_saturate(self):
        costs = GEN(network([(1, 2, 10, 10**6)]), 64, 1, randomize_costs=True, cost_a=-1e13, cost_b=2e13).weight
        assert {1, MAX} <= {c for [c] in costs} and all(1 <= c <= MAX for [c] in costs)


class TestCapacityZeroing:
    @pytest.mark.parametrize(("ups", "k", "p", "expected"), [
        ([10, 11, 12, 13], 2, 0.5, {0: [0, 10], 1: [11, 0], 2: [0, 12], 3: [13, 0]}),
        # E = 10, n = 6, s = 2: the sixth position wraps onto the first
        (list(range(20, 30)), 2, 0.6, {a: [0, 20 + a] if a % 2 == 0 else [20 + a, 0] for a in range(10)}),
        # E = 7, n = 5, s = 2: arcs 0, 1 and 2 lose both commodities and get up back in turn
        ([20, 21, 22, 23, 24, 25, 26], 2, 0.75,
         {0: [20, 0], 1: [0, 21], 2: [22, 0], 3: [23, 0], 4: [0, 24], 5: [25, 0], 6: [0, 26]}),
        # 0 < p * E < 2: commodity k loses arc k mod E
        ([10, 11, 12, 13, 14], 7, 0.3, {a: [0 if a == c % 5 else 10 + a for c in range(7)] for a in range(5)}),
        ([10], 3, 0.5, {0: [10, 0, 0]}),
    ])
    def test_selection_and_restore(self, ups, k, p, expected):
        data = GEN(chain(ups, cost=6), k, 1, cap_zero=True, cap_zero_param=p)
        assert data.capacities_by_arc == expected
        assert data.commodity_capacities == {(a + 1, a + 2, 0): caps for a, caps in expected.items()}
        assert data.capacities == [up for up in ups for _ in range(k)]
        assert data.weight == [[6] * len(ups)] * k

    def test_single_commodity_restores_the_base_capacity(self):
        data = GEN(chain([0, 0, 10, 10]), 1, 1, randomize_caps=True, cap_zero=True, cap_zero_param=0.5)
        caps = data.capacities_by_arc
        assert (caps[0], caps[1], caps[2]) == ([0], [1], [10]) and caps[3][0] in (8, 9, 10)

    @pytest.mark.parametrize("p", [0.0, 1.0, 1.5, -0.5, math.nan])
    def test_parameters_that_zero_nothing(self, p):
        inst = chain([10, 11, 12])
        data = GEN(inst, 3, 1, randomize_caps=True, cap_zero=True, cap_zero_param=p)
        plain = GEN(inst, 3, 1, randomize_caps=True)
        assert data.capacities_by_arc == plain.capacities_by_arc
        assert data.commodity_capacities == plain.commodity_capacities
        assert data.cap_zero is True and (data.cap_zero_param == p or math.isnan(p))


INFINITE = (korvane.InternalError, ("invalid uniform range: NonFinite",))


@pytest.mark.parametrize(("k", "method", "kwargs", "failure"), [
    *[(2, m, {}, (korvane.InternalError, (f"Unknown partitioning method: {m}",))) for m in (3, -1, MAX)],
    (2, 1, {"randomize_costs": True, "cost_a": -1e308, "cost_b": 1e308}, INFINITE),
    (2, 1, {"randomize_caps": True, "cap_a": -1e308, "cap_b": 1e308}, INFINITE),
    (2**62, 1, {}, (MemoryError, ())),  # a commodity count no table can hold
])
def test_failures(k, method, kwargs, failure):
    assert fails_with(lambda: GEN(chain([10], cost=10), k, method, **kwargs)) == failure
