"""Module surface: registration order, docstrings and signatures, record-class rules, InternalError."""

import inspect
import weakref

import pytest

import korvane
import korvane.korvane as native
from korvane.korvane import InternalError

REGISTRATION = [
    "load_min_instance",
    "split_supplies_uniform",
    "split_supplies_spread",
    "split_supplies_beta_binomial",
    "compute_commodity_demand_heterogeneity",
    "generate_multi_commodity_data",
    "save_multi_commodity_instance",
    "load_multi_commodity_instance",
    "get_adjacency_mapping",
    "get_incidence_mapping",
    "Edge",
    "NetworkInstance",
    "MultiCommoditySupplies",
    "MultiCommodityData",
    "ParsedMulticommodityInstance",
]

DOCS = {
    "load_min_instance": (
        "(path)",
        "Loads a single-commodity network instance from a DIMACS .min file.\n\n"
        "Args:\n    path (str): The filesystem path to the .min file.\n\n"
        "Returns:\n    NetworkInstance: An object containing information on the min-cost flow instance.\n\n"
        "Raises:\n    IOError: If the file cannot be read or the format is invalid.",
    ),
    "get_adjacency_mapping": (
        "(nodes, edges)",
        "Creates adjacency mapping from nodes and edges.\n\n"
        "Args: \n    nodes (List[int]): List of node IDs.\n    edges (List[int, int]): List of edges.\n\n"
        "Returns:\n    Tuple[Dict[int, List[int]], Dict[int, List[int]]]: Incoming and outgoing.",
    ),
    "get_incidence_mapping": (
        "(nodes, edges)",
        "Creates the incidence mapping of the graph.\n\n"
        "Args:\n    nodes (List[int]): List of node IDs.\n"
        "    edges (List[Tuple[int, int, int]]): List of `(tail, head, index)` triples.\n\n"
        "Returns:\n    Tuple[Dict[int, List[Tuple[int, int, int]]], Dict[int, List[Tuple[int, int, int]]]]: "
        "Incoming and outgoing \narc lists per node.",
    ),
}

EDGE_FIELDS = ["tail", "head", "low", "up", "cost", "index"]
INSTANCE_FIELDS = [
    "num_nodes", "num_arcs", "nodes", "edges", "supplies", "arcs", "capacities", "weights",
    "parallel", "num_parallel_arc_pairs", "arc_indices",
]
SAMPLE = "p min 3 3\nn 1 4\nn 3 -4\na 1 2 0 9 2\na 1 2 1 8 3\na 2 3 0 7 -1\n"


@pytest.fixture
def instance(min_file):
    return korvane.load_min_instance(min_file(SAMPLE))


@pytest.fixture(params=["Edge", "NetworkInstance"])
def record(request, instance):
    """(class, fields, one object of it)."""
    if request.param == "Edge":
        return korvane.Edge, EDGE_FIELDS, instance.edges[0]
    return korvane.NetworkInstance, INSTANCE_FIELDS, instance


class TestRegistration:
    def test_all_follows_registration_table_for_registered_names(self):
        present = [name for name in REGISTRATION if hasattr(native, name)]
        assert native.__all__ == present

    def test_functions_come_before_classes(self):
        kinds = [isinstance(getattr(native, name), type) for name in native.__all__]
        assert kinds == sorted(kinds)

    def test_reading_side_is_registered(self):
        assert {"load_min_instance", "get_adjacency_mapping", "get_incidence_mapping",
                "Edge", "NetworkInstance"} <= set(native.__all__)

    def test_package_reexports_the_native_names(self):
        assert korvane.__all__ == native.__all__
        for name in native.__all__:
            assert getattr(korvane, name) is getattr(native, name)

    def test_module_docstring_is_empty(self):
        assert native.__doc__ == ""
        assert korvane.__doc__ == ""

    def test_internal_error_is_reachable_but_not_exported(self):
        assert "InternalError" not in native.__all__
        assert korvane.InternalError is InternalError


@pytest.mark.parametrize("name", sorted(DOCS))
def test_function_object(name):
    func = getattr(korvane, name)
    assert (func.__name__, func.__module__, func.__self__) == (name, "korvane", native)
    assert (func.__text_signature__, func.__doc__) == DOCS[name]
    params = inspect.signature(func).parameters.values()
    assert all(p.kind is p.POSITIONAL_OR_KEYWORD and p.default is p.empty for p in params)


def test_topology_docstring():
    method = korvane.NetworkInstance.topology
    assert method.__text_signature__ == "($self)"
    assert method.__doc__ == (
        "Returns the topology-only view `(tail, head)` for `get_adjacency_mapping`.\n"
        "Parallel arcs are preserved; the parallel index is dropped."
    )


class TestRecordClasses:
    def test_type_identity(self, record):
        cls, _, obj = record
        assert cls.__module__ == "builtins"
        assert cls.__bases__ == (object,)
        assert cls.__doc__ == ""
        assert type(obj) is cls
        assert repr(obj).startswith(f"<builtins.{cls.__name__} object at 0x")

    def test_attributes_in_declaration_order(self, record):
        cls, fields, _ = record
        public = [name for name in vars(cls) if not name.startswith("__")]
        methods = {"topology"} if cls is korvane.NetworkInstance else set()
        assert [name for name in public if name not in methods] == fields
        assert set(public) - set(fields) == methods
        assert all(vars(cls)[name].__doc__ is None for name in fields)

    def test_no_own_comparison_hash_or_repr(self, record):
        cls, _, _ = record
        assert cls.__eq__ is object.__eq__
        assert cls.__hash__ is object.__hash__
        assert cls.__repr__ is object.__repr__

    def test_cannot_be_instantiated(self, record):
        cls, _, _ = record
        with pytest.raises(TypeError) as exc:
            cls()
        assert str(exc.value) == f"cannot create 'builtins.{cls.__name__}' instances"
        with pytest.raises(TypeError):
            cls.__new__(cls)

    def test_cannot_be_subclassed(self, record):
        cls, _, _ = record
        with pytest.raises(TypeError) as exc:
            type("Sub", (cls,), {})
        assert str(exc.value) == f"type 'builtins.{cls.__name__}' is not an acceptable base type"

    def test_fields_are_read_only(self, record):
        cls, fields, obj = record
        for name in fields:
            before = getattr(obj, name)
            with pytest.raises(AttributeError):
                setattr(obj, name, before)
            with pytest.raises(AttributeError):
                delattr(obj, name)
            if name != "edges":  # Edge compares by identity
                assert getattr(obj, name) == before

    def test_no_instance_dict_and_no_weakref(self, record):
        _, _, obj = record
        with pytest.raises(AttributeError):
            obj.extra = 1
        assert not hasattr(obj, "__dict__")
        with pytest.raises(TypeError):
            weakref.ref(obj)


class TestFreshValues:
    @pytest.mark.parametrize("name", ["nodes", "supplies", "arcs", "capacities", "weights",
                                      "arc_indices", "edges"])
    def test_each_read_builds_a_new_object(self, instance, name):
        assert getattr(instance, name) is not getattr(instance, name)

    def test_edges_are_new_objects_without_value_equality(self, instance):
        first, second = instance.edges, instance.edges
        assert all(a is not b and a != b for a, b in zip(first, second))
        assert [[getattr(e, f) for f in EDGE_FIELDS] for e in first] == \
               [[getattr(e, f) for f in EDGE_FIELDS] for e in second]

    def test_mutating_returned_values_leaves_the_record(self, instance):
        assert instance.topology() is not instance.topology()
        instance.nodes.append(99)
        instance.arcs.clear()
        instance.supplies[7] = 1
        instance.arc_indices[(1, 2)].append(5)
        instance.topology().pop()
        assert instance.nodes == [1, 3, 2]
        assert instance.arcs == [(1, 2, 0), (1, 2, 1), (2, 3, 0)]
        assert instance.supplies == {1: 4, 3: -4}
        assert instance.arc_indices == {(1, 2): [0, 1], (2, 3): [2]}
        assert instance.topology() == [(1, 2), (1, 2), (2, 3)]

    def test_edge_outlives_its_instance(self, min_file):
        edge = korvane.load_min_instance(min_file(SAMPLE)).edges[2]
        assert [getattr(edge, f) for f in EDGE_FIELDS] == [2, 3, 0, 7, -1, 0]


class TestInternalError:
    def test_derives_directly_from_base_exception(self):
        assert InternalError.__bases__ == (BaseException,)
        assert not issubclass(InternalError, Exception)
        assert InternalError.__module__ == "korvane"
        assert InternalError.__name__ == "InternalError"

    def test_except_exception_does_not_catch_it(self, min_file):
        path = min_file("a 1\n")
        caught_by_exception = False
        with pytest.raises(InternalError) as exc:
            try:
                korvane.load_min_instance(path)
            except Exception:
                caught_by_exception = True
        assert not caught_by_exception
        assert exc.value.args == ("index out of bounds: the len is 2 but the index is 2",)
