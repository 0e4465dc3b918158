"""Argument binding and conversion: each failure's exact class and message, and what is accepted."""

import pathlib

import numpy as np
import pytest

import korvane


def call(name, *args, **kwargs):
    func = getattr(korvane, name, None)
    if func is None:
        pytest.skip(f"{name} is not registered yet")
    return func(*args, **kwargs)


ADJ, INC, LOAD = "get_adjacency_mapping", "get_incidence_mapping", "load_min_instance"


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


class SubTypeError(TypeError):
    pass


BINDING = [
    # too many positional
    (LOAD, ("a", "b"), {}, "load_min_instance() takes 1 positional arguments but 2 were given"),
    (ADJ, ([], [], []), {}, "get_adjacency_mapping() takes 2 positional arguments but 3 were given"),
    (INC, ([], [], [], []), {}, "get_incidence_mapping() takes 2 positional arguments but 4 were given"),
    ("split_supplies_beta_binomial", ({}, 1, 3.0, 42, 0), {},
     "split_supplies_beta_binomial() takes from 2 to 4 positional arguments but 5 were given"),
    # unknown keyword
    (LOAD, (), {"paths": "x"}, "load_min_instance() got an unexpected keyword argument 'paths'"),
    (ADJ, ([], []), {"arcs": []}, "get_adjacency_mapping() got an unexpected keyword argument 'arcs'"),
    # filled twice
    (LOAD, ("x",), {"path": "y"}, "load_min_instance() got multiple values for argument 'path'"),
    (INC, ([], []), {"nodes": []}, "get_incidence_mapping() got multiple values for argument 'nodes'"),
    # missing
    (LOAD, (), {}, "load_min_instance() missing 1 required positional argument: 'path'"),
    (ADJ, ([],), {}, "get_adjacency_mapping() missing 1 required positional argument: 'edges'"),
    (ADJ, (), {"edges": []}, "get_adjacency_mapping() missing 1 required positional argument: 'nodes'"),
    (ADJ, (), {}, "get_adjacency_mapping() missing 2 required positional arguments: 'nodes' and 'edges'"),
    (INC, (), {}, "get_incidence_mapping() missing 2 required positional arguments: 'nodes' and 'edges'"),
    ("split_supplies_spread", (), {},
     "split_supplies_spread() missing 3 required positional arguments: 'data', 'num_commodities', and 'seed'"),
    ("save_multi_commodity_instance", (), {},
     "save_multi_commodity_instance() missing 3 required positional arguments: "
     "'path', 'instance', and 'multi_data'"),
    # binding is complete before any conversion
    (LOAD, (3, 4), {}, "load_min_instance() takes 1 positional arguments but 2 were given"),
    (ADJ, ("12",), {}, "get_adjacency_mapping() missing 1 required positional argument: 'edges'"),
    (ADJ, ({1},), {"bogus": 1}, "get_adjacency_mapping() got an unexpected keyword argument 'bogus'"),
]


@pytest.mark.parametrize(("name", "args", "kwargs", "message"), BINDING)
def test_binding_failures(name, args, kwargs, message):
    with pytest.raises(TypeError) as exc:
        call(name, *args, **kwargs)
    assert type(exc.value) is TypeError
    assert str(exc.value) == message


@pytest.mark.parametrize(("args", "kwargs"), [
    (([3, 1], [(1, 3)]), {}),
    (([3, 1],), {"edges": [(1, 3)]}),
    ((), {"edges": [(1, 3)], "nodes": [3, 1]}),
])
def test_keywords_bind_by_name(args, kwargs):
    assert korvane.get_adjacency_mapping(*args, **kwargs) == ({1: [], 3: [1]}, {1: [3], 3: []})


WRAPPED = [
    # text
    (LOAD, (pathlib.PosixPath("net.min"),), "argument 'path': 'PosixPath' object is not an instance of 'str'"),
    (LOAD, (b"net.min",), "argument 'path': 'bytes' object is not an instance of 'str'"),
    (LOAD, (None,), "argument 'path': 'None' is not an instance of 'str'"),
    (LOAD, (7,), "argument 'path': 'int' object is not an instance of 'str'"),
    # list of T
    (ADJ, ("12", []), "argument 'nodes': Can't extract `str` to `Vec`"),
    (ADJ, ([1], "ab"), "argument 'edges': Can't extract `str` to `Vec`"),
    (ADJ, ({1, 2}, []), "argument 'nodes': 'set' object is not an instance of 'Sequence'"),
    (ADJ, ({1: 2}, []), "argument 'nodes': 'dict' object is not an instance of 'Sequence'"),
    (ADJ, ({1: 2}.keys(), []), "argument 'nodes': 'dict_keys' object is not an instance of 'Sequence'"),
    (ADJ, ((i for i in [1]), []), "argument 'nodes': 'generator' object is not an instance of 'Sequence'"),
    (ADJ, (None, []), "argument 'nodes': 'None' is not an instance of 'Sequence'"),
    (INC, ([1], None), "argument 'edges': 'None' is not an instance of 'Sequence'"),
    # pairs and triples
    (ADJ, ([1, 2], [[1, 2]]), "argument 'edges': 'list' object is not an instance of 'tuple'"),
    (ADJ, ([1], [None]), "argument 'edges': 'None' is not an instance of 'tuple'"),
    (ADJ, ([1], np.array([[1, 2]])), "argument 'edges': 'ndarray' object is not an instance of 'tuple'"),
    # signed 64-bit items
    (ADJ, ([1.0], []), "argument 'nodes': 'float' object cannot be interpreted as an integer"),
    (ADJ, (["1"], []), "argument 'nodes': 'str' object cannot be interpreted as an integer"),
    (ADJ, ([1], [(1, "a")]), "argument 'edges': 'str' object cannot be interpreted as an integer"),
    (INC, ([1], [(1, 2, 0.0)]), "argument 'edges': 'float' object cannot be interpreted as an integer"),
    (ADJ, (np.array([1.5]), []),
     "argument 'nodes': 'numpy.float64' object cannot be interpreted as an integer"),
    # parameters convert in order: nodes fails before edges is looked at
    (ADJ, ({1}, [[1, 2]]), "argument 'nodes': 'set' object is not an instance of 'Sequence'"),
    (ADJ, ([Raises(TypeError("no index"))], []), "argument 'nodes': no index"),
]


@pytest.mark.parametrize(("name", "args", "message"), WRAPPED)
def test_conversion_type_errors_name_the_argument(name, args, message):
    with pytest.raises(TypeError) as exc:
        call(name, *args)
    assert type(exc.value) is TypeError
    assert str(exc.value) == message


@pytest.mark.parametrize(("name", "args", "message"), [
    (ADJ, ([1, 2], [(1, 2, 0)]), "expected tuple of length 2, but got tuple of length 3"),
    (ADJ, ([1], [(1,)]), "expected tuple of length 2, but got tuple of length 1"),
    (ADJ, ([1], [()]), "expected tuple of length 2, but got tuple of length 0"),
    (INC, ([1, 2], [(1, 2)]), "expected tuple of length 3, but got tuple of length 2"),
    (INC, ([1, 2], [(1, 2, 0, 0)]), "expected tuple of length 3, but got tuple of length 4"),
])
def test_tuple_length_is_value_error_without_argument_name(name, args, message):
    with pytest.raises(ValueError) as exc:
        call(name, *args)
    assert type(exc.value) is ValueError
    assert str(exc.value) == message


@pytest.mark.parametrize(("name", "args"), [
    (ADJ, ([2**63], [])),
    (ADJ, ([-2**63 - 1], [])),
    (ADJ, ([1], [(0, 2**64)])),
    (INC, ([], [(0, 0, -2**70)])),
    (ADJ, ([Index(2**63)], [])),
    (ADJ, ([np.uint64(2**64 - 1)], [])),
    ("split_supplies_uniform", ({1: 5}, -1)),
])
def test_out_of_range_integers_raise_unwrapped_overflow(name, args):
    with pytest.raises(OverflowError) as exc:
        call(name, *args)
    assert type(exc.value) is OverflowError
    assert not str(exc.value).startswith("argument")


class TestOtherFailuresPropagateUnchanged:
    def test_value_error_from_index(self):
        original = ValueError("bad index")
        with pytest.raises(ValueError) as exc:
            korvane.get_adjacency_mapping([Raises(original)], [])
        assert exc.value is original

    def test_type_error_subclass_is_not_wrapped(self):
        original = SubTypeError("mine")
        with pytest.raises(SubTypeError) as exc:
            korvane.get_adjacency_mapping([1], [(Raises(original), 1)])
        assert exc.value is original

    def test_unencodable_path(self):
        with pytest.raises(UnicodeEncodeError):
            korvane.load_min_instance("\udc80.min")


class TestCause:
    def test_wrapped_error_keeps_the_original_cause(self):
        root = KeyError("root")
        inner = TypeError("inner")
        inner.__cause__ = root
        with pytest.raises(TypeError) as exc:
            korvane.get_incidence_mapping([Raises(inner)], [])
        assert str(exc.value) == "argument 'nodes': inner"
        assert exc.value is not inner
        assert exc.value.__cause__ is root

    def test_no_cause_when_the_original_had_none(self):
        with pytest.raises(TypeError) as exc:
            korvane.load_min_instance(pathlib.PosixPath("x"))
        assert exc.value.__cause__ is None


@pytest.mark.parametrize(("nodes", "edges", "expected"), [
    ((3, 1), (), ({1: [], 3: []}, {1: [], 3: []})),
    (range(2), [], ({0: [], 1: []}, {0: [], 1: []})),
    (Pair(), [], ({10: [], 11: []}, {10: [], 11: []})),
    (np.array([5, 4]), [], ({4: [], 5: []}, {4: [], 5: []})),
    (np.array([5, 4], dtype=np.int8), [], ({4: [], 5: []}, {4: [], 5: []})),
    ([np.int64(2)], [(np.uint8(1), np.int32(2))], ({2: [1]}, {1: [2], 2: []})),
    ([Index(7)], [(Index(7), Index(-7))], ({-7: [7], 7: []}, {7: [-7]})),
    ([True, False], [], ({0: [], 1: []}, {0: [], 1: []})),
    ([2**63 - 1, -2**63], [], ({-2**63: [], 2**63 - 1: []}, {-2**63: [], 2**63 - 1: []})),
])
def test_accepted_sequences_and_integers(nodes, edges, expected):
    assert korvane.get_adjacency_mapping(nodes, edges) == expected
