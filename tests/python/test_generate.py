"""generate_multi_commodity_data and the MultiCommodityData record: the shape of every arrangement,
randomised costs and capacities, capacity zeroing, reproducibility, failures and the class rules."""

import math
import os
import tempfile

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import korvane

GEN = korvane.generate_multi_commodity_data
MAX = 2**63 - 1

FIELDS = [
    "supply_partition", "method", "commodity_edges", "capacities", "weight", "weights_by_arc",
    "capacities_by_arc", "commodity_capacities", "commodity_weights", "num_commodities",
    "randomized_capacities", "randomized_weights", "cap_zero", "cap_zero_param", "seed", "parallel",
    "arc_indices",
]


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
    return {name: getattr(data, name) for name in FIELDS}


def drawn(value, a, b, minimum):
    """The closed range a drawn value ends in: ceil of a point between a*value and b*value."""
    lo, hi = a * value, b * value
    top = hi if hi > lo else lo
    return max(math.ceil(lo), minimum), max(math.ceil(top), minimum)


def check_record(inst, data, k, method, flags):
    edges = inst.edges
    e = len(edges)
    keys = [(x.tail, x.head, x.index) for x in edges]
    assert data.commodity_edges == [(c, x.tail, x.head, x.index) for x in edges for c in range(k)]
    assert data.capacities == [x.up for x in edges for _ in range(k)]
    by_arc_w, by_arc_c = data.weights_by_arc, data.capacities_by_arc
    assert list(by_arc_w) == list(by_arc_c) == list(range(e))
    assert all(len(v) == k for v in [*by_arc_w.values(), *by_arc_c.values()])
    assert list(data.commodity_weights) == list(data.commodity_capacities) == sorted(keys)
    assert data.commodity_weights == {key: by_arc_w[a] for a, key in enumerate(keys)}
    assert data.commodity_capacities == {key: by_arc_c[a] for a, key in enumerate(keys)}
    assert data.weight == [[by_arc_w[a][c] for a in range(e)] for c in range(k)]
    for a, x in enumerate(edges):
        if flags["randomize_costs"]:
            low, high = drawn(x.cost, 0.8, 1.2, 1 if x.cost else 0)
            assert all(low <= v <= high for v in by_arc_w[a])
        else:
            assert by_arc_w[a] == [x.cost] * k
        if flags["cap_zero"]:
            continue
        if flags["randomize_caps"]:
            low, high = drawn(x.up, 0.8, 1.0, 1)
            assert all(low <= v <= high for v in by_arc_c[a])
        else:
            assert by_arc_c[a] == [x.up] * k
    recorded = (data.method, data.num_commodities, data.randomized_capacities, data.randomized_weights,
                data.cap_zero, data.cap_zero_param, data.seed)
    assert recorded == (method, k, flags["randomize_caps"], flags["randomize_costs"], flags["cap_zero"],
                        flags["cap_zero_param"], flags["seed"])
    assert (data.parallel, data.arc_indices) == (inst.parallel, inst.arc_indices)
    assert all(len(parts) == k for parts in data.supply_partition.values())


SPLITTERS = {
    0: lambda s, k, seed: korvane.split_supplies_spread(s, k, seed),
    1: lambda s, k, seed: korvane.split_supplies_uniform(s, k),
    2: lambda s, k, seed: korvane.split_supplies_beta_binomial(s, k, 3.0, seed),
}

node = st.integers(1, 5)
arc_lists = st.lists(st.tuples(node, node, st.integers(-3, 40), st.integers(-10, 50)), max_size=8)
supply_maps = st.dictionaries(st.integers(1, 6), st.integers(-30, 30), max_size=5)
flag_sets = st.fixed_dictionaries({
    "randomize_caps": st.booleans(), "randomize_costs": st.booleans(), "cap_zero": st.booleans(),
    "cap_zero_param": st.sampled_from([0.0, 0.2, 0.5, 0.9, 1.0]), "seed": st.integers(0, 2**64 - 1),
})


class TestRecordShape:
    @settings(derandomize=True, max_examples=150, deadline=None)
    @given(arc_lists, supply_maps, st.integers(1, 4), st.integers(0, 2), flag_sets)
    def test_invariants_on_random_instances(self, arcs, supplies, k, method, flags):
        inst = network(arcs, supplies)
        data = GEN(inst, k, method, **flags)
        check_record(inst, data, k, method, flags)
        assert data.supply_partition == SPLITTERS[method](inst.supplies, k, flags["seed"])
        if flags["cap_zero"]:
            plain = GEN(inst, k, method, **{**flags, "cap_zero": False}).capacities_by_arc
            for a, x in enumerate(inst.edges):
                got = data.capacities_by_arc[a]
                assert all(v in (0, x.up, p) for v, p in zip(got, plain[a]))
                assert x.up == 0 or any(got)

    def test_parallel_arcs_are_keyed_by_parallel_index(self):
        inst = network([(1, 2, 5, 1), (1, 2, 6, 2), (2, 1, 7, 3), (1, 2, 8, 4)], {1: 3, 2: -3})
        data = GEN(inst, 2, 1)
        assert data.commodity_capacities == {(1, 2, 0): [5, 5], (1, 2, 1): [6, 6], (1, 2, 2): [8, 8],
                                             (2, 1, 0): [7, 7]}
        assert data.arc_indices == {(1, 2): [0, 1, 3], (2, 1): [2]}
        assert data.parallel is True

    def test_instance_without_arcs(self):
        data = GEN(network([], {1: 3, 2: -3}), 2, 1, cap_zero=True, cap_zero_param=0.5)
        assert data.weight == [[], []]
        assert data.commodity_edges == data.capacities == []
        assert data.capacities_by_arc == data.commodity_weights == data.arc_indices == {}
        assert data.supply_partition == {1: [1, 2], 2: [-1, -2]}

    def test_zero_commodities_with_zeroing_on_is_skipped(self):
        data = GEN(network([(1, 2, 3, 1), (2, 3, 4, 1)]), 0, 0, cap_zero=True, cap_zero_param=0.5)
        assert data.capacities_by_arc == {0: [], 1: []}
        assert data.weight == [] and data.supply_partition == {}


class TestReproducibility:
    INST = network([(1, 2, 20, 10), (2, 3, 15, 7), (1, 3, 9, 30)], {1: 25, 3: -25})
    RANDOM = {"randomize_caps": True, "randomize_costs": True, "cap_zero": True, "cap_zero_param": 0.4}

    @pytest.mark.parametrize("method", [0, 1, 2])
    def test_same_arguments_same_record(self, method):
        assert snapshot(GEN(self.INST, 4, method, **self.RANDOM, seed=5)) == \
               snapshot(GEN(self.INST, 4, method, **self.RANDOM, seed=5))

    def test_seed_changes_the_draws(self):
        weights = {repr(GEN(self.INST, 4, 1, randomize_costs=True, seed=s).weights_by_arc) for s in range(5)}
        assert len(weights) > 1

    def test_arc_draws_do_not_depend_on_the_method(self):
        records = [GEN(self.INST, 3, method, **self.RANDOM, seed=9) for method in (0, 1, 2)]
        assert len({repr((r.weights_by_arc, r.capacities_by_arc)) for r in records}) == 1

    def test_without_flags_uniform_ignores_the_seed(self):
        first, second = snapshot(GEN(self.INST, 3, 1, seed=1)), snapshot(GEN(self.INST, 3, 1, seed=2))
        assert first.pop("seed") == 1 and second.pop("seed") == 2
        assert first == second


class TestRandomisedValues:
    def test_default_capacity_multipliers(self):
        caps = GEN(chain([10]), 60, 1, randomize_caps=True).capacities_by_arc[0]
        assert set(caps) <= {8, 9, 10} and {9, 10} <= set(caps)

    @pytest.mark.parametrize(("up", "cost", "kwargs", "costs", "caps"), [
        (0, 4, {"randomize_caps": True}, 4, 1),
        (10, 0, {"randomize_costs": True}, 0, 10),
        (10, -7, {"randomize_costs": True}, 1, 10),
        (10, 4, {"randomize_caps": True, "cap_a": 0.55, "cap_b": 0.55}, 4, 6),
        (10, 4, {"randomize_caps": True, "cap_b": 0.5}, 4, 8),
        (10, 10, {"randomize_costs": True, "cost_a": 0.3, "cost_b": 0.3}, 3, 10),
        (10, 1, {"randomize_costs": True, "cost_a": 0.3, "cost_b": 0.3}, 1, 10),
        # out-of-range ceilings saturate; NaN becomes 0 before the lower limit applies
        (10, 5, {"randomize_costs": True, "cost_a": 1e300, "cost_b": 1e300}, MAX, 10),
        (10, -5, {"randomize_costs": True, "cost_a": 1e300, "cost_b": 1e300}, 1, 10),
        (10, 5, {"randomize_costs": True, "cost_a": math.nan, "cost_b": math.nan}, 1, 10),
        (10, 0, {"randomize_costs": True, "cost_a": math.nan, "cost_b": math.nan}, 0, 10),
        (10, 5, {"randomize_caps": True, "cap_a": math.nan, "cap_b": 2.0}, 5, 1),
        (10, 5, {"randomize_caps": True, "cap_a": 1e300, "cap_b": 1e300}, 5, MAX),
        (10, 5, {"randomize_caps": True, "cap_a": -1e300, "cap_b": -1e300}, 5, 1),
    ])
    def test_values_without_a_draw(self, up, cost, kwargs, costs, caps):
        data = GEN(network([(1, 2, up, cost)]), 3, 1, **kwargs)
        assert (data.weights_by_arc[0], data.capacities_by_arc[0]) == ([costs] * 3, [caps] * 3)
        assert data.capacities == [up] * 3

    @pytest.mark.parametrize(("first", "kwargs"), [
        ((1, 2, 5, 0), {"randomize_costs": True}),
        ((1, 2, 5, -3), {"randomize_costs": True}),
        ((1, 2, 0, 5), {"randomize_costs": True, "cost_a": 1.5, "cost_b": 1.5, "randomize_caps": True}),
        ((1, 2, 0, 5), {"randomize_caps": True}),
        ((1, 2, -4, 5), {"randomize_caps": True}),
        ((1, 2, 5, 0), {"randomize_caps": True, "cap_a": 0.5, "cap_b": 0.5, "randomize_costs": True}),
    ])
    def test_arcs_without_a_draw_leave_the_stream_alone(self, first, kwargs):
        later = (3, 4, 500, 500)
        alone = GEN(network([later]), 3, 1, seed=3, **kwargs)
        behind = GEN(network([first, later]), 3, 1, seed=3, **kwargs)
        assert (behind.weights_by_arc[1], behind.capacities_by_arc[1]) == \
               (alone.weights_by_arc[0], alone.capacities_by_arc[0])
        assert len(set(alone.weights_by_arc[0] + alone.capacities_by_arc[0])) > 2

    @pytest.mark.parametrize("kwargs", [
        {"randomize_costs": True, "cost_a": -1e308, "cost_b": 1e308},
        {"randomize_caps": True, "cap_a": -1e308, "cap_b": 1e308},
    ])
    def test_infinite_draw_width(self, kwargs):
        with pytest.raises(korvane.InternalError) as exc:
            GEN(chain([10], cost=10), 2, 1, **kwargs)
        assert str(exc.value).endswith("NonFinite")


def zeroed(ups, k, p, **kwargs):
    return GEN(chain(ups), k, 1, cap_zero=True, cap_zero_param=p, **kwargs).capacities_by_arc


class TestCapacityZeroing:
    def test_alternating_arcs(self):
        assert zeroed([10, 11, 12, 13], 2, 0.5) == {0: [0, 10], 1: [11, 0], 2: [0, 12], 3: [13, 0]}

    def test_wrapped_positions_zero_fewer_arcs(self):
        ups = list(range(20, 30))
        caps = zeroed(ups, 2, 0.6)
        assert caps == {a: [0, up] if a % 2 == 0 else [up, 0] for a, up in enumerate(ups)}

    def test_all_zero_arcs_are_restored_in_turn(self):
        ups = [20, 21, 22, 23, 24, 25, 26]
        assert zeroed(ups, 2, 0.75) == {0: [20, 0], 1: [0, 21], 2: [22, 0], 3: [23, 0], 4: [0, 24],
                                        5: [25, 0], 6: [0, 26]}

    def test_single_commodity_restores_the_base_capacity(self):
        caps = zeroed([0, 0, 10, 10], 1, 0.5, randomize_caps=True)
        assert caps[0] == [0] and caps[1] == [1] and caps[2] == [10]
        assert caps[3][0] in (8, 9, 10)

    @pytest.mark.parametrize("p", [0.0, 1.0, 1.5, -0.5, math.nan])
    def test_parameters_that_zero_nothing(self, p):
        inst = chain([10, 11, 12])
        data = GEN(inst, 3, 1, randomize_caps=True, cap_zero=True, cap_zero_param=p)
        plain = GEN(inst, 3, 1, randomize_caps=True)
        assert (data.capacities_by_arc, data.commodity_capacities) == \
               (plain.capacities_by_arc, plain.commodity_capacities)
        assert data.cap_zero is True and (data.cap_zero_param == p or math.isnan(p))

    def test_one_arc_per_commodity(self):
        ups = [10, 11, 12, 13, 14]
        caps = zeroed(ups, 7, 0.3)
        assert caps == {a: [0 if a == c % 5 else up for c in range(7)] for a, up in enumerate(ups)}

    def test_single_arc(self):
        assert zeroed([10], 3, 0.5) == {0: [10, 0, 0]}

    def test_costs_and_plain_capacities_are_untouched(self):
        data = GEN(chain([10, 11, 12, 13], cost=6), 2, 1, cap_zero=True, cap_zero_param=0.5)
        assert data.capacities == [10, 10, 11, 11, 12, 12, 13, 13]
        assert data.weight == [[6] * 4, [6] * 4]
        assert data.commodity_capacities[(1, 2, 0)] == [0, 10]


class TestFailures:
    INST = chain([10])

    @pytest.mark.parametrize("method", [3, -1, MAX])
    def test_unknown_method(self, method):
        with pytest.raises(korvane.InternalError) as exc:
            GEN(self.INST, 2, method)
        assert exc.value.args == (f"Unknown partitioning method: {method}",)

    @pytest.mark.parametrize("method", [0, 1, 2])
    def test_unallocatable_commodity_count(self, method):
        with pytest.raises(MemoryError):
            GEN(self.INST, 2**62, method)

    @pytest.mark.parametrize(("kwargs", "cls", "message"), [
        ({"randomize_caps": 1}, TypeError, "argument 'randomize_caps': 'int' object is not an instance of 'bool'"),
        ({"randomize_caps": None}, TypeError, "argument 'randomize_caps': 'None' is not an instance of 'bool'"),
        ({"seed": None}, TypeError, "argument 'seed': 'NoneType' object cannot be interpreted as an integer"),
        ({"seed": -1}, OverflowError, "can't convert negative int to unsigned"),
        ({"num_commodities": -2}, OverflowError, "can't convert negative int to unsigned"),
        ({"instance": {}}, TypeError, "argument 'instance': 'dict' object is not an instance of 'NetworkInstance'"),
        ({"instance": None}, TypeError, "argument 'instance': 'None' is not an instance of 'NetworkInstance'"),
    ])
    def test_argument_failures(self, kwargs, cls, message):
        arguments = {"instance": self.INST, "num_commodities": 2, "method": 1, **kwargs}
        with pytest.raises(cls) as exc:
            GEN(**arguments)
        assert type(exc.value) is cls
        assert str(exc.value) == message


class TestRecordClasses:
    DATA = GEN(chain([10, 11]), 2, 1)

    @pytest.mark.parametrize(("cls", "fields"), [
        (korvane.MultiCommodityData, FIELDS), (korvane.MultiCommoditySupplies, ["partition"])])
    def test_class_rules(self, cls, fields):
        assert [n for n in vars(cls) if not n.startswith("__")] == fields
        assert cls.__module__ == "builtins" and cls.__doc__ == ""
        with pytest.raises(TypeError) as exc:
            cls()
        assert str(exc.value) == f"cannot create 'builtins.{cls.__name__}' instances"

    @pytest.mark.parametrize("name", FIELDS)
    def test_fields_are_read_only(self, name):
        with pytest.raises(AttributeError):
            setattr(self.DATA, name, None)
        with pytest.raises(AttributeError):
            delattr(self.DATA, name)

    def test_each_read_is_a_fresh_copy(self):
        first, second = self.DATA.weight, self.DATA.weight
        assert first is not second and first == second
        first[0].append(99)
        self.DATA.supply_partition[1].clear()
        self.DATA.commodity_capacities.clear()
        assert self.DATA.weight == [[1, 1], [1, 1]]
        assert self.DATA.supply_partition[1] == [2, 2]
        assert len(self.DATA.commodity_capacities) == 2


DOC_LINES = [
    "Generates a full multi-commodity dataset from a single-commodity instance.",
    "",
    "This function handles the partitioning of supplies and the optional randomization of",
    "arc capacities and costs across commodities.",
    "",
    "Args:",
    "    instance (NetworkInstance): The base single-commodity network.",
    "    num_commodities (int): The number of commodities.",
    "    method (int): Partitioning method. 0 = Spread, 1 = Uniform, 2 = Beta-Binomial.",
    "    randomize_caps (bool, optional): If True, varies capacities per commodity. Default to False.",
    "    cap_a (float, optional): Lower multiplier for capacity randomization. Defaults to 0.8.",
    "    cap_b (float, optional): Upper multiplier for capacity randomization. Defaults to 1.0.",
    "    randomize_costs (bool, optional): If True, varies costs per commodity. Defaults to False.",
    "    cost_a (float, optional): Lower multiplier for cost randomization. Defaults to 0.8.",
    "    cost_b (float, optional): Upper multiplier for cost randomization. Defaults to 1.2.",
    "    concentation_param (float, optional): Concentration parameter for Beta-Binomial distribution. "
    "Defaults to 3.0.",
    "    cap_zero (bool, optional): If True, set a fraction of individual capacities to zero. Defaults to False.",
    "    cap_zero_param (float, optional): Fraction of arcs excluded per commmodity. Defaults to 0.0.",
    "    seed (int, optional): Seed.",
    "",
    "If cap_zero is True and cap_zero_param > 0, at least one arc per commodity is excluded.",
    "",
    "Returns:",
    "    MultiCommodityData: The generated multi-commodity data.",
]


def test_docstring_and_signature():
    assert GEN.__text_signature__ == (
        "(instance, num_commodities, method, randomize_caps=False, cap_a=0.8, cap_b=1.0, "
        "randomize_costs=False, cost_a=0.8, cost_b=1.2, concentration_param=3.0, cap_zero=False, "
        "cap_zero_param=0.0, seed=42)")
    assert GEN.__doc__ == "\n".join(DOC_LINES)
