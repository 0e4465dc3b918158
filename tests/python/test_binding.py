"""Argument binding and conversion: exact failures, and what is accepted (numpy too)."""

import pathlib

import numpy as np
import pytest

import korvane

ADJ, INC, LOAD = korvane.get_adjacency_mapping, korvane.get_incidence_mapping, korvane.load_min_instance
UNIFORM, SPREAD, BETA = korvane.split_supplies_uniform, korvane.split_supplies_spread, korvane.split_supplies_beta_binomial
GEN, SAVE, H = korvane.generate_multi_commodity_data, korvane.save_multi_commodity_instance, \
    korvane.compute_commodity_demand_heterogeneity
INST = object()  # stands for a loaded NetworkInstance in the tables


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class Raises:
    def __init__(self, exc):
        self.exc = exc

    def __index__(self):
        raise self.exc


class Pair:
    """A sequence that is neither list nor tuple: items come from iteration."""

    def __len__(self):
        return 2

    def __getitem__(self, i):
        if i < 2:
            return 10 + i
        raise IndexError(i)


@pytest.fixture
def call(net):
    inst = net("p min 3 1\nn 1 4\nn 3 -4\na 1 3 0 9 2\n")

    def run(func, args, kwargs=None):
        """(class, message) of the failure, or the result."""
        args = [inst if a is INST else a for a in args]
        try:
            return func(*args, **{k: inst if v is INST else v for k, v in (kwargs or {}).items()})
        except Exception as exc:
            return type(exc), str(exc)
    return run


BINDING = [
    (LOAD, ("a", "b"), {}, "load_min_instance() takes 1 positional arguments but 2 were given"),
    (BETA, ({}, 1, 3.0, 42, 0), {}, "split_supplies_beta_binomial() takes from 2 to 4 positional arguments but 5 were given"),
    (ADJ, ([], []), {"arcs": []}, "get_adjacency_mapping() got an unexpected keyword argument 'arcs'"),
    (UNIFORM, ({1: 5}, 2), {"seed": 1}, "split_supplies_uniform() got an unexpected keyword argument 'seed'"),
    (UNIFORM, ({1: 5}, 2), {"\ud800": 1},  # a name without UTF-8 form
     "split_supplies_uniform() got an unexpected keyword argument '\ud800'"),
    (INC, ([], []), {"nodes": []}, "get_incidence_mapping() got multiple values for argument 'nodes'"),
    (ADJ, (), {"edges": []}, "get_adjacency_mapping() missing 1 required positional argument: 'nodes'"),
    (SPREAD, ({1: 5}, 2), {}, "split_supplies_spread() missing 1 required positional argument: 'seed'"),
    (INC, (), {}, "get_incidence_mapping() missing 2 required positional arguments: 'nodes' and 'edges'"),
    (SAVE, (), {}, "save_multi_commodity_instance() missing 3 required positional arguments: "
                   "'path', 'instance', and 'multi_data'"),
    # binding is complete before any conversion
    (LOAD, (3, 4), {}, "load_min_instance() takes 1 positional arguments but 2 were given"),
    (ADJ, ({1},), {"bogus": 1}, "get_adjacency_mapping() got an unexpected keyword argument 'bogus'"),
]


@pytest.mark.parametrize(("func", "args", "kwargs", "message"), BINDING)
def test_binding_failures(call, func, args, kwargs, message):
    assert call(func, args, kwargs) == (TypeError, message)


NP_BOOL = f"numpy.{np.bool_.__name__}"  # numpy 2 names it bool, numpy 1 bool_
CONVERSION = [
    (LOAD, (pathlib.PosixPath("net.min"),), {}, "argument 'path': 'PosixPath' object is not an instance of 'str'"),
    (ADJ, ("12", []), {}, "argument 'nodes': Can't extract `str` to `Vec`"),
    (ADJ, ({1, 2}, []), {}, "argument 'nodes': 'set' object is not an instance of 'Sequence'"),
    (ADJ, ([1, 2], [[1, 2]]), {}, "argument 'edges': 'list' object is not an instance of 'tuple'"),
    (INC, ([1], [(1, 2, "0")]), {}, "argument 'edges': 'str' object cannot be interpreted as an integer"),
    (UNIFORM, ([(1, 5)], 2), {}, "argument 'data': 'list' object is not an instance of 'dict'"),
    (BETA, ({"1": 5}, 2), {}, "argument 'data': 'str' object cannot be interpreted as an integer"),
    (BETA, ({1: 5}, 2, "3"), {}, "argument 'concentration_param': must be real number, not str"),
    (H, ({1: 5}, {1: 5}), {}, "argument 'partition': 'int' object is not an instance of 'Sequence'"),
    (GEN, (INST, 2, 0), {"randomize_caps": 1}, "argument 'randomize_caps': 'int' object is not an instance of 'bool'"),
    (GEN, (INST, 2, 0), {"randomize_caps": None}, "argument 'randomize_caps': 'None' is not an instance of 'bool'"),
    (GEN, (INST, 2, 0), {"seed": None}, "argument 'seed': 'NoneType' object cannot be interpreted as an integer"),
    (GEN, ({}, 2, 0), {}, "argument 'instance': 'dict' object is not an instance of 'NetworkInstance'"),
    (SAVE, ("x.mc", INST, None), {}, "argument 'multi_data': 'None' is not an instance of 'MultiCommodityData'"),
    # numpy scalars: integers are not booleans, nor booleans and floats integers
    (GEN, (INST, 2, 0), {"cap_zero": np.int64(1)}, "argument 'cap_zero': 'int64' object is not an instance of 'bool'"),
    (GEN, (INST, 2, 0), {"randomize_caps": np.float64(1)},
     "argument 'randomize_caps': 'float64' object is not an instance of 'bool'"),
    (GEN, (INST, np.bool_(True), 0), {}, f"argument 'num_commodities': '{NP_BOOL}' object cannot be interpreted as an integer"),
    (GEN, (INST, 2, np.float32(1)), {}, "argument 'method': 'numpy.float32' object cannot be interpreted as an integer"),
    (ADJ, (np.array([1.5]), []), {}, "argument 'nodes': 'numpy.float64' object cannot be interpreted as an integer"),
    # parameters convert in order: nodes fails before edges is looked at
    (ADJ, ({1}, [[1, 2]]), {}, "argument 'nodes': 'set' object is not an instance of 'Sequence'"),
    (ADJ, ([Raises(TypeError("no index"))], []), {}, "argument 'nodes': no index"),
]
# Only a TypeError names the argument; other classes pass through unchanged.
CONVERSION = [(*row, TypeError) for row in CONVERSION] + [
    (ADJ, ([1, 2], [(1, 2, 0)]), {}, "expected tuple of length 2, but got tuple of length 3", ValueError),
    (INC, ([1, 2], [(1, 2)]), {}, "expected tuple of length 3, but got tuple of length 2", ValueError),
    (ADJ, ([np.uint64(2**64 - 1)], []), {}, "int too big to convert", OverflowError),
    (UNIFORM, ({1: 5}, -1), {}, "can't convert negative int to unsigned", OverflowError),
    (SPREAD, ({1: 5}, 2, np.int64(-1)), {}, "can't convert negative int to unsigned", OverflowError),
    (BETA, ({1: 5}, 2, 3.0, 2**64), {}, "int too big to convert", OverflowError),
]


@pytest.mark.parametrize(("func", "args", "kwargs", "message", "cls"), CONVERSION)
def test_conversion_failures(call, func, args, kwargs, message, cls):
    assert call(func, args, kwargs) == (cls, message)


@pytest.mark.parametrize("original", [ValueError("bad index"), type("SubTypeError", (TypeError,), {})("mine")])
def test_other_exceptions_from_conversion_propagate_as_they_are(original):
    with pytest.raises(type(original)) as exc:
        ADJ([1], [(Raises(original), 1)])
    assert exc.value is original
    with pytest.raises(UnicodeEncodeError):
        LOAD("\udc80.min")


def test_wrapped_error_keeps_the_original_cause():
    root = KeyError("root")
    inner = TypeError("inner")
    inner.__cause__ = root
    with pytest.raises(TypeError) as exc:
        INC([Raises(inner)], [])
    assert str(exc.value) == "argument 'nodes': inner"
    assert exc.value is not inner and exc.value.__cause__ is root
    with pytest.raises(TypeError) as exc:
        LOAD(pathlib.PosixPath("x"))
    assert exc.value.__cause__ is None


@pytest.mark.parametrize(("args", "kwargs", "expected"), [
    (([3, 1], [(1, 3)]), {}, ({1: [], 3: [1]}, {1: [3], 3: []})),
    (((3, 1),), {"edges": [(1, 3)]}, ({1: [], 3: [1]}, {1: [3], 3: []})),
    ((Pair(), []), {}, ({10: [], 11: []}, {10: [], 11: []})),
    ((range(5, 3, -1), []), {}, ({4: [], 5: []}, {4: [], 5: []})),
    ((np.array([2], dtype=np.uint64), [(np.uint8(1), np.int32(2))]), {}, ({2: [1]}, {1: [2], 2: []})),
    (([Index(7)], [(Index(7), Index(-7))]), {}, ({-7: [7], 7: []}, {7: [-7]})),
    (([True, 2**63 - 1, -2**63], []), {}, ({-2**63: [], 1: [], 2**63 - 1: []},) * 2),
])
def test_accepted_sequences_and_integers(args, kwargs, expected):
    assert ADJ(*args, **kwargs) == expected


def test_numpy_scalars_convert_like_the_python_values(call):
    # booleans through their truth value, integers through __index__, floats through __float__
    numpy_args = {"randomize_caps": np.bool_(True), "cap_a": np.float32(0.5), "randomize_costs": np.bool_(False),
                  "cost_b": np.int64(2), "concentration_param": np.uint8(1), "cap_zero": np.bool_(True),
                  "cap_zero_param": np.float64(0.25), "seed": np.uint64(2**64 - 1)}
    plain_args = {"randomize_caps": True, "cap_a": 0.5, "randomize_costs": False, "cost_b": 2.0,
                  "concentration_param": 1.0, "cap_zero": True, "cap_zero_param": 0.25, "seed": 2**64 - 1}
    fields = ["supply_partition", "capacities_by_arc", "weights_by_arc", "randomized_capacities",
              "randomized_weights", "cap_zero", "cap_zero_param", "seed", "method", "num_commodities"]
    got = call(GEN, (INST, np.uint16(3), np.int8(2)), numpy_args)
    want = call(GEN, (INST, 3, 2), plain_args)
    assert [getattr(got, f) for f in fields] == [getattr(want, f) for f in fields]
    assert BETA({np.int64(1): np.int32(4), np.uint8(2): np.int16(-4)}, np.uint8(2), np.float32(3.0), np.int64(7)) \
        == BETA({1: 4, 2: -4}, 2, 3.0, 7)
