"""Argument binding and conversion: each failure's exact class and message, and what is accepted."""

import pathlib

import numpy as np
import pytest

import korvane

ADJ, INC, LOAD = korvane.get_adjacency_mapping, korvane.get_incidence_mapping, korvane.load_min_instance


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


def raised(func, *args, **kwargs):
    with pytest.raises(Exception) as exc:
        func(*args, **kwargs)
    return type(exc.value), str(exc.value)


BINDING = [
    (LOAD, ("a", "b"), {}, "load_min_instance() takes 1 positional arguments but 2 were given"),
    (korvane.split_supplies_beta_binomial, ({}, 1, 3.0, 42, 0), {},
     "split_supplies_beta_binomial() takes from 2 to 4 positional arguments but 5 were given"),
    (ADJ, ([], []), {"arcs": []}, "get_adjacency_mapping() got an unexpected keyword argument 'arcs'"),
    (INC, ([], []), {"nodes": []}, "get_incidence_mapping() got multiple values for argument 'nodes'"),
    (ADJ, (), {"edges": []}, "get_adjacency_mapping() missing 1 required positional argument: 'nodes'"),
    (INC, (), {}, "get_incidence_mapping() missing 2 required positional arguments: 'nodes' and 'edges'"),
    (korvane.save_multi_commodity_instance, (), {},
     "save_multi_commodity_instance() missing 3 required positional arguments: "
     "'path', 'instance', and 'multi_data'"),
    # binding is complete before any conversion
    (LOAD, (3, 4), {}, "load_min_instance() takes 1 positional arguments but 2 were given"),
    (ADJ, ({1},), {"bogus": 1}, "get_adjacency_mapping() got an unexpected keyword argument 'bogus'"),
]


@pytest.mark.parametrize(("func", "args", "kwargs", "message"), BINDING)
def test_binding_failures(func, args, kwargs, message):
    assert raised(func, *args, **kwargs) == (TypeError, message)


WRAPPED = [
    (LOAD, (pathlib.PosixPath("net.min"),), "argument 'path': 'PosixPath' object is not an instance of 'str'"),
    (ADJ, ("12", []), "argument 'nodes': Can't extract `str` to `Vec`"),
    (ADJ, ({1, 2}, []), "argument 'nodes': 'set' object is not an instance of 'Sequence'"),
    (ADJ, ([1, 2], [[1, 2]]), "argument 'edges': 'list' object is not an instance of 'tuple'"),
    (ADJ, ([1], np.array([[1, 2]])), "argument 'edges': 'ndarray' object is not an instance of 'tuple'"),
    (INC, ([1], [(1, 2, "0")]), "argument 'edges': 'str' object cannot be interpreted as an integer"),
    (ADJ, (np.array([1.5]), []), "argument 'nodes': 'numpy.float64' object cannot be interpreted as an integer"),
    # parameters convert in order: nodes fails before edges is looked at
    (ADJ, ({1}, [[1, 2]]), "argument 'nodes': 'set' object is not an instance of 'Sequence'"),
    (ADJ, ([Raises(TypeError("no index"))], []), "argument 'nodes': no index"),
]


@pytest.mark.parametrize(("func", "args", "message"), WRAPPED)
def test_conversion_type_errors_name_the_argument(func, args, message):
    assert raised(func, *args) == (TypeError, message)


@pytest.mark.parametrize(("func", "args", "expected"), [
    (ADJ, ([1, 2], [(1, 2, 0)]), (ValueError, "expected tuple of length 2, but got tuple of length 3")),
    (INC, ([1, 2], [(1, 2)]), (ValueError, "expected tuple of length 3, but got tuple of length 2")),
    (ADJ, ([2**63], []), (OverflowError, "int too big to convert")),
    (ADJ, ([np.uint64(2**64 - 1)], []), (OverflowError, "int too big to convert")),
    (korvane.split_supplies_uniform, ({1: 5}, -1), (OverflowError, "can't convert negative int to unsigned")),
])
def test_other_conversion_failures_are_not_wrapped(func, args, expected):
    assert raised(func, *args) == expected


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
    (([np.int64(2)], [(np.uint8(1), np.int32(2))]), {}, ({2: [1]}, {1: [2], 2: []})),
    (([Index(7)], [(Index(7), Index(-7))]), {}, ({-7: [7], 7: []}, {7: [-7]})),
    (([True, 2**63 - 1, -2**63], []), {}, ({-2**63: [], 1: [], 2**63 - 1: []},) * 2),
])
def test_accepted_arguments(args, kwargs, expected):
    assert ADJ(*args, **kwargs) == expected
