"""Module surface: registration, signatures and docstrings, record class rules, reads."""

import ast
import dataclasses
import gc
import importlib.util
import inspect
import os
import threading
import weakref
from pathlib import Path

import pytest
from conftest import DATA_FIELDS, NETWORK, PARSED_FIELDS, saved_and_read

import korvane
import korvane.korvane as native
from korvane.korvane import InternalError

REGISTRATION = [
    "load_min_instance", "split_supplies_uniform", "split_supplies_spread",
    "split_supplies_beta_binomial", "compute_commodity_demand_heterogeneity",
    "generate_multi_commodity_data", "save_multi_commodity_instance",
    "load_multi_commodity_instance", "get_adjacency_mapping", "get_incidence_mapping",
    "Edge", "NetworkInstance", "MultiCommoditySupplies", "MultiCommodityData",
    "ParsedMulticommodityInstance",
]


def split_doc(how, data_text, extra_args, result_text):
    args = ["data (Dict[int, int]): " + data_text, "num_commodities (int): The number of commodities.", *extra_args]
    return (f"Partitions nodal supply/demand into K commodities using a {how} distribution.\n\nArgs:\n"
            + "".join(f"    {a}\n" for a in args) + "\nReturns:\n    Dict[int, List[int]]: " + result_text)


SPLIT_RESULT = "A mapping where each node ID points to a list of the commodity supplies"
DOCS = {
    "load_min_instance": ("(path)",
        "Loads a single-commodity network instance from a DIMACS .min file.\n\n"
        "Args:\n    path (str): The filesystem path to the .min file.\n\n"
        "Returns:\n    NetworkInstance: An object containing information on the min-cost flow instance.\n\n"
        "Raises:\n    IOError: If the file cannot be read or the format is invalid."),
    "split_supplies_uniform": ("(data, num_commodities)", split_doc(
        "uniform", "A mapping of node IDs to their total supply/demand.", [], SPLIT_RESULT + "/demands")),
    "split_supplies_spread": ("(data, num_commodities, seed)", split_doc(
        "spread", "A mapping of node IDs to their total supply/demand.", ["seed (int): Seed."],
        SPLIT_RESULT + "/demands.")),
    "split_supplies_beta_binomial": ("(data, num_commodities, concentration_param=3.0, seed=42)", split_doc(
        "beta-binomial", "A mapping of node IDs to the total supply/demand.",
        ["concentration_param (float): Concentration parameter for Beta-Binomial distribution. Defaults to 3.0.",
         "seed (int): Seed."], SPLIT_RESULT + " / demands.")),
    "compute_commodity_demand_heterogeneity": ("(partition, original)",
        "Computes the commodity-demand heterogeneity H(B) of a given partition.\n\n"
        "The metric is defined as the average total variation distance between the commodity-share "
        "vector of each active node and the uniform distribution.\nIts value lies in [0, 1].\n\n"
        "Args: \n    partition (Dict[int, List[int]]): Mapping from node ID to commodity demands.\n"
        "    original (Dict[int, int]): Original single-commodity demands.\n\n"
        "Returns:\n    float: Commodity-demand heterogeneity in [0,1]."),
    "generate_multi_commodity_data": (
        "(instance, num_commodities, method, randomize_caps=False, cap_a=0.8, cap_b=1.0, randomize_costs=False, "
        "cost_a=0.8, cost_b=1.2, concentration_param=3.0, cap_zero=False, cap_zero_param=0.0, seed=42)",
        "Generates a full multi-commodity dataset from a single-commodity instance.\n\n"
        "This function handles the partitioning of supplies and the optional randomization of\n"
        "arc capacities and costs across commodities.\n\nArgs:\n"
        "    instance (NetworkInstance): The base single-commodity network.\n"
        "    num_commodities (int): The number of commodities.\n"
        "    method (int): Partitioning method. 0 = Spread, 1 = Uniform, 2 = Beta-Binomial.\n"
        "    randomize_caps (bool, optional): If True, varies capacities per commodity. Default to False.\n"
        "    cap_a (float, optional): Lower multiplier for capacity randomization. Defaults to 0.8.\n"
        "    cap_b (float, optional): Upper multiplier for capacity randomization. Defaults to 1.0.\n"
        "    randomize_costs (bool, optional): If True, varies costs per commodity. Defaults to False.\n"
        "    cost_a (float, optional): Lower multiplier for cost randomization. Defaults to 0.8.\n"
        "    cost_b (float, optional): Upper multiplier for cost randomization. Defaults to 1.2.\n"
        "    concentation_param (float, optional): Concentration parameter for Beta-Binomial distribution. "
        "Defaults to 3.0.\n"
        "    cap_zero (bool, optional): If True, set a fraction of individual capacities to zero. "
        "Defaults to False.\n"
        "    cap_zero_param (float, optional): Fraction of arcs excluded per commmodity. Defaults to 0.0.\n"
        "    seed (int, optional): Seed.\n\n"
        "If cap_zero is True and cap_zero_param > 0, at least one arc per commodity is excluded.\n\n"
        "Returns:\n    MultiCommodityData: The generated multi-commodity data."),
    "save_multi_commodity_instance": ("(path, instance, multi_data)",
        "Exports a multi-commodity instance to a DIMACS-formatted file.\n\n"
        "Uses a specialized hybrid format that compresses non-randomized arc data while allowing\n"
        "expanded per-commodity values when necessary.\n\n"
        "Args:\n    path (str): Export destination path.\n"
        "    instance (NetworkInstance): The base network topology.\n"
        "    multi_data (MultiCommodityData): The multi-commodity data.\n"),
    "load_multi_commodity_instance": ("(path)",
        "Loads and parses a multi-commodity DIMACS file into a multicommodity-instance.\n\n"
        "This function reads the specialized DIMACS format generated by this package.\n"
        "It reconstructs the multicommodity instance.\n\n"
        "Args:\n    path (str): The filesystem path to the multi-commodity .min file.\n\n"
        "Returns:\n    ParsedMulticommodityInstance: An object containing multi-commodity data.\n\n"
        "Raises:\n    RuntimeError: If the file header is inconsistent or the arc data is malformed.\n"
        "    IOError: If the file cannot be accessed."),
    "get_adjacency_mapping": ("(nodes, edges)",
        "Creates adjacency mapping from nodes and edges.\n\n"
        "Args: \n    nodes (List[int]): List of node IDs.\n    edges (List[int, int]): List of edges.\n\n"
        "Returns:\n    Tuple[Dict[int, List[int]], Dict[int, List[int]]]: Incoming and outgoing."),
    "get_incidence_mapping": ("(nodes, edges)",
        "Creates the incidence mapping of the graph.\n\n"
        "Args:\n    nodes (List[int]): List of node IDs.\n"
        "    edges (List[Tuple[int, int, int]]): List of `(tail, head, index)` triples.\n\n"
        "Returns:\n    Tuple[Dict[int, List[Tuple[int, int, int]]], Dict[int, List[Tuple[int, int, int]]]]: "
        "Incoming and outgoing \narc lists per node."),
}
EDGE_FIELDS = ["tail", "head", "low", "up", "cost", "index"]
CLASSES = {
    "Edge": EDGE_FIELDS,
    "NetworkInstance": ["num_nodes", "num_arcs", "nodes", "edges", "supplies", "arcs", "capacities",
                        "weights", "parallel", "num_parallel_arc_pairs", "arc_indices"],
    "MultiCommoditySupplies": ["partition"],
    "MultiCommodityData": DATA_FIELDS,
    "ParsedMulticommodityInstance": PARSED_FIELDS,
}
TOPOLOGY_QUOTE = {"NetworkInstance": "`", "ParsedMulticommodityInstance": "\u00b4"}
SAMPLE = "p min 3 3\nn 1 4\nn 3 -4\na 1 2 0 9 2\na 1 2 1 8 3\na 2 3 0 7 -1\n"


@pytest.fixture
def records(net, tmp_path):
    """One object of every class that a module function returns."""
    inst = net(SAMPLE)
    data = korvane.generate_multi_commodity_data(inst, 2, 1)
    return {"Edge": inst.edges[0], "NetworkInstance": inst, "MultiCommodityData": data,
            "ParsedMulticommodityInstance": saved_and_read(tmp_path / "x.mc", inst, data)}


def test_registration():
    assert native.__all__ == korvane.__all__ == REGISTRATION
    assert all(getattr(korvane, name) is getattr(native, name) for name in REGISTRATION)
    assert native.__doc__ == ""
    assert korvane.__doc__.startswith("korvane: ") and "load_min_instance" in korvane.__doc__
    assert "InternalError" not in REGISTRATION and korvane.InternalError is InternalError


@pytest.mark.parametrize("name", REGISTRATION[:10])
def test_function_object(name):
    func = getattr(korvane, name)
    assert (func.__name__, func.__module__, func.__self__) == (name, "korvane", native)
    assert (func.__text_signature__, func.__doc__) == DOCS[name]
    params = inspect.signature(func).parameters.values()
    assert all(p.kind is p.POSITIONAL_OR_KEYWORD for p in params)


@pytest.mark.parametrize("name", CLASSES)
def test_class_rules(name):
    cls, fields = getattr(korvane, name), CLASSES[name]
    assert (cls.__module__, cls.__bases__, cls.__doc__) == ("builtins", (object,), "")
    public = [attr for attr in vars(cls) if not attr.startswith("__")]
    assert [attr for attr in public if attr != "topology"] == fields
    assert all(vars(cls)[field].__doc__ is None for field in fields)
    if name in TOPOLOGY_QUOTE:
        assert (cls.topology.__text_signature__, cls.topology.__doc__) == ("($self)",
            f"Returns the topology-only view `(tail, head)` for {TOPOLOGY_QUOTE[name]}"
            "get_adjacency_mapping`.\nParallel arcs are preserved; the parallel index is dropped.")
    assert (cls.__eq__, cls.__hash__, cls.__repr__) == (object.__eq__, object.__hash__, object.__repr__)
    for make, message in [(cls, f"cannot create 'builtins.{name}' instances"),
                          (lambda: type("Sub", (cls,), {}), f"type 'builtins.{name}' is not an acceptable base type")]:
        with pytest.raises(TypeError) as exc:
            make()
        assert str(exc.value) == message


def plain(value):
    """Edge objects compare by identity; compare their fields instead."""
    if isinstance(value, list) and value and isinstance(value[0], korvane.Edge):
        return [tuple(getattr(e, f) for f in EDGE_FIELDS) for e in value]
    return value


@pytest.mark.parametrize("name", [name for name in CLASSES if name != "MultiCommoditySupplies"])
def test_objects_are_closed_and_every_read_is_a_fresh_copy(records, name):
    obj = records[name]
    assert repr(obj).startswith(f"<builtins.{name} object at 0x")
    with pytest.raises(AttributeError):
        obj.extra = 1
    with pytest.raises(TypeError):
        weakref.ref(obj)
    for field in CLASSES[name]:
        first, second = getattr(obj, field), getattr(obj, field)
        for change in (lambda: setattr(obj, field, first), lambda: delattr(obj, field)):
            with pytest.raises(AttributeError):
                change()
        if isinstance(first, (list, dict)):
            assert first is not second and plain(first) == plain(second)
            first.clear()
            assert plain(getattr(obj, field)) == plain(second)
    if hasattr(obj, "topology"):
        obj.topology().pop()
        assert obj.topology() == [(1, 2), (1, 2), (2, 3)]


@pytest.mark.parametrize("name", ["NetworkInstance", "MultiCommodityData", "ParsedMulticommodityInstance"])
def test_concurrent_reads_of_one_record_agree(records, name):
    obj = records[name]

    def read_all():
        values = [plain(getattr(obj, field)) for field in CLASSES[name]]
        return values + [obj.topology()] if hasattr(obj, "topology") else values

    expected, results, start = read_all(), [None] * 8, threading.Barrier(8)

    def reader(slot):
        start.wait()
        results[slot] = [read_all() for _ in range(200)]

    threads = [threading.Thread(target=reader, args=(slot,)) for slot in range(8)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert all(run == expected for reads in results for run in reads)


def test_internal_error_is_not_an_exception(min_file):
    assert InternalError.__bases__ == (BaseException,)  # so `except Exception` does not catch it
    assert (InternalError.__module__, InternalError.__name__) == ("korvane", "InternalError")
    with pytest.raises(InternalError) as exc:
        korvane.load_min_instance(min_file("a 1\n"))
    assert exc.value.args == ("index out of bounds: the len is 2 but the index is 2",)


# ---------------------------------------------------------------- module state

def run_in_subinterpreter(code):
    """Run `code` in a fresh isolated subinterpreter (own GIL), then destroy it."""
    try:
        import _interpreters as interpreters  # 3.13
    except ImportError:
        interpreters = pytest.importorskip(
            "_xxsubinterpreters", reason="this Python has no private subinterpreter module")
    iid = interpreters.create()
    try:
        if hasattr(interpreters, "exec"):
            failure = interpreters.exec(iid, code)
            assert failure is None, failure.errdisplay
        else:
            interpreters.run_string(iid, code)  # raises RunFailedError
    finally:
        interpreters.destroy(iid)


SUBINTERPRETER_CODE = """
import sys
sys.path[:0] = [{package_root!r}]
import korvane
inst = korvane.load_min_instance({network!r})
assert isinstance(inst.edges[0], korvane.Edge)
data = korvane.generate_multi_commodity_data(inst, 3, 2, randomize_caps=True, seed=11)
korvane.save_multi_commodity_instance({out!r}, inst, data)
parsed = korvane.load_multi_commodity_instance({out!r})
assert type(parsed) is korvane.ParsedMulticommodityInstance and parsed.num_commodities == 3
korvane.split_supplies_spread({long_split!r}, 50, 0)
try:
    korvane.load_min_instance({bad!r})
except korvane.InternalError as exc:
    assert type(exc) is korvane.InternalError, type(exc)
    with open({out!r} + ".error", "w") as f:
        f.write(str(exc))
"""


# Balancing this runs for tenths of a second with the GIL released, so the cancellation poll
# runs several times; once a subinterpreter exists, PyGILState_Check answers 1 on any thread,
# and a poll trusting it would touch a missing thread state.
POLLED_SPLIT = {n: 10**7 for n in range(1, 11)} | {-n: -10**7 for n in range(1, 11)}


def generated_file(module, path):
    inst = module.load_min_instance(NETWORK)
    data = module.generate_multi_commodity_data(inst, 3, 2, randomize_caps=True, seed=11)
    module.save_multi_commodity_instance(str(path), inst, data)
    return path.read_bytes()


def test_isolated_subinterpreter_loads_and_generates(tmp_path, min_file):
    out, bad = tmp_path / "sub.mc", min_file("a 1\n")
    package_root = os.path.dirname(os.path.dirname(korvane.__file__))
    run_in_subinterpreter(SUBINTERPRETER_CODE.format(
        package_root=package_root, network=NETWORK, out=str(out), bad=bad, long_split=POLLED_SPLIT))
    # The subinterpreter's module wrote what this one writes, raised its own InternalError,
    # and this interpreter's module works on after the other was destroyed.
    assert (tmp_path / "sub.mc.error").read_text() == "index out of bounds: the len is 2 but the index is 2"
    assert generated_file(korvane, tmp_path / "main.mc") == out.read_bytes()
    with pytest.raises(InternalError):
        korvane.load_min_instance(bad)
    assert sum(sum(v) for v in korvane.split_supplies_spread(POLLED_SPLIT, 50, 0).values()) == 0


def second_native_module():
    spec = importlib.util.find_spec("korvane.korvane")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def test_second_module_object_has_its_own_classes(tmp_path, min_file):
    other = second_native_module()
    assert other is not native and other.__all__ == REGISTRATION
    for name in [*CLASSES, "InternalError", "_MulticommodityProblem"]:
        assert getattr(other, name) is not getattr(native, name)
        assert getattr(other, name).__name__ == getattr(native, name).__name__
    assert generated_file(other, tmp_path / "other.mc") == generated_file(native, tmp_path / "main.mc")
    # Each module makes records of its own classes, reads them back, and raises its own error.
    inst, parsed = other.load_min_instance(NETWORK), other.load_multi_commodity_instance(str(tmp_path / "other.mc"))
    assert (type(inst), type(inst.edges[0]), type(parsed)) == (
        other.NetworkInstance, other.Edge, other.ParsedMulticommodityInstance)
    assert type(other.generate_multi_commodity_data(inst, 2, 0)) is other.MultiCommodityData
    assert bytes(other._network_columns(inst)["tail"]) == bytes(native._network_columns(native.load_min_instance(NETWORK))["tail"])
    with pytest.raises(other.InternalError) as exc:
        other.load_min_instance(min_file("a 1\n"))
    assert not isinstance(exc.value, InternalError)
    # A function takes only the records of its own module.
    with pytest.raises(TypeError) as exc:
        native.generate_multi_commodity_data(inst, 2, 0)
    assert str(exc.value) == "argument 'instance': 'NetworkInstance' object is not an instance of 'NetworkInstance'"


def test_dropped_module_object_frees_its_classes():
    other = second_native_module()
    record = other.load_min_instance(NETWORK)
    classes = [weakref.ref(other.NetworkInstance), weakref.ref(other.InternalError), weakref.ref(other)]
    del other
    gc.collect()
    assert all(ref() is not None for ref in classes)  # the record holds its class, which holds the module
    assert record.edges[0].tail == 1  # its getters find the module's state through the class
    del record
    gc.collect()
    assert all(ref() is None for ref in classes)


def test_each_default_is_written_once():
    """The binder's own defaults (korvane.korvane._defaults) are what the docstrings' text
    signatures and the stub say, and what the command line and the suites use."""
    from korvane import cli

    table = native._defaults
    assert set(table) == {"split_supplies_beta_binomial", "generate_multi_commodity_data"}
    stub = ast.parse(Path(korvane.__file__).with_name("__init__.pyi").read_text())
    in_stub = {f.name: {a.arg: ast.literal_eval(d)
                        for a, d in zip(f.args.args[-len(f.args.defaults):], f.args.defaults)}
               for f in stub.body if isinstance(f, ast.FunctionDef) and f.args.defaults}
    assert in_stub == table
    for name, defaults in table.items():
        params = inspect.signature(getattr(korvane, name)).parameters
        assert {p: params[p].default for p in defaults} == defaults
    args = cli.build_parser().parse_args(["generate", "n.min", "-k", "2", "--method", "0", "-o", "x"])
    chosen = dataclasses.asdict(cli._params(args))
    assert {p: chosen[p] for p in table["generate_multi_commodity_data"]} == \
        table["generate_multi_commodity_data"]
