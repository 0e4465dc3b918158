"""Read-only NumPy arrays over korvane's records, without copying.

Every array is int64 (float64 for a MulticommodityProblem's real numbers) and views the record's own memory through the buffer
protocol: it keeps the record alive, and two calls on the same record return
arrays sharing memory. The arrays are read-only (the records never change).

``network_arrays(instance)`` for a NetworkInstance:
    tail, head, low, up, cost, parallel_index  (E,) one entry per arc, in position order
    node                                       (n,) the ``nodes`` order
    supply_node, supply                        (S,) the ``supplies`` entries, ascending node id

``data_arrays(data)`` for a MultiCommodityData:
    capacity, cost            (E, K) per-commodity values after randomisation and zeroing
    supply_node               (N,)   ascending node id, the balanced partition's keys
    supply                    (N, K) the balanced partition; built (copied) once per call,
                              because the record holds one list per node
    tail, head, parallel_index, up  (E,) the network's arc columns the record holds
                              (the record has no lower bounds or single-commodity costs)

``parsed_arrays(parsed)`` for a ParsedMulticommodityInstance:
    capacity, cost            (E, K) in place when all arcs were read in one layout (a
                              compressed list shows as a row of stride 0); built once when the
                              file changed K or list forms between arcs
    supply_node, supply_total (N,)   the node lines, ascending node id, and their totals
    supply                    (N, K) the node lines' amounts; ValueError when a line does not
                              hold exactly K amounts
    tail, head, parallel_index, up, node  as for a network

``problem_arrays(problem)`` for a korvane.formats.MulticommodityProblem, every table in
place (float64 where the problem holds real numbers):
    tail, head, arc_name          (E,)   int64: endpoints as node numbers 1..N, file names
    cost, capacity                (E, K) float64: capacity inf for no bound, 0 where the
                                         commodity may not use the arc
    bundle                        (E,)   float64: the bound on the arc's total flow, inf: none
    supply                        (N, K) float64: row i is node number i + 1
    node_id                       (N,)   int64: node number i + 1's id (built once per call)

``csr(instance)`` for a NetworkInstance or ParsedMulticommodityInstance, built once per
call in native code:
    node                          (R,)   row r is node id node[r], ascending: the keys of
                                         get_adjacency_mapping(inst.nodes, inst.topology())
    out_indptr, in_indptr         (R+1,) row r spans [indptr[r], indptr[r+1])
    out_indices, out_arc          (E,)   per tail row: the head's row and the arc position
    in_indices, in_arc            (E,)   per head row: the tail's row and the arc position
Each row lists its arcs in position order, parallel arcs kept, as the mapping's lists do.

``csr_array(instance, weight=None)`` the out-adjacency above as a ``scipy.sparse.csr_array``
of shape (R, R) over the same node rows (SciPy needed): one stored entry per arc (parallel
arcs are duplicate entries; ``.sum_duplicates()`` merges them), valued 1, or the arc
column ``weight`` names ("up", "cost", "low" for a network; "up" for a parsed instance),
or any E values given.

Networks from memory, equal field for field to what load_min_instance reads from the
equivalent .min file, built natively without a file:

``network_from_arrays(tails, heads, lows, capacities, costs, supplies=None, num_nodes=None)``
    the file "p min N E", one node line per ``supplies`` entry in its order (a mapping
    {id: supply} or a pair of sequences (ids, supplies)), then one arc line per arc in
    position order. N is ``num_nodes``, by default the number of distinct node ids.
``from_networkx(G, demand="demand", capacity="capacity", weight="weight", lower="low",
num_nodes=None)``
    a directed networkx graph (DiGraph or MultiDiGraph, integer nodes) with networkx's own
    attribute names and sign: a node's ``demand`` is negative at a source, so its supply is
    ``-demand``. Node lines for the nodes carrying ``demand`` in ``G.nodes`` order, then the
    arcs in ``G.edges`` order; a missing ``weight`` or ``lower`` is 0 (as networkx reads a
    missing weight), a missing ``capacity`` (unbounded to networkx) is refused. N defaults
    to ``len(G)``. A node with neither a demand nor an edge has no line in a .min file, so
    it is not in the result.
``to_networkx(record)`` a networkx MultiDiGraph of a NetworkInstance (edge keys the
    parallel indices; edge attributes ``capacity``, ``weight``, ``low``; node ``demand`` =
    -supply for the nodes that have one), of a ParsedMulticommodityInstance (edge
    ``capacity`` the arc's bound on all commodities, ``capacities`` and ``weights`` lists
    of K; node ``demands``, the K negated amounts), or of a MulticommodityProblem (nodes are
    its ``node_ids``; edge keys 0, 1... per pair in arc order, ``name`` the arc name,
    ``capacity`` the bundle bound (inf: none), ``capacities`` and ``weights`` lists of K
    floats; node ``demands``). ``from_networkx(to_networkx(inst), num_nodes=inst.num_nodes)``
    holds the same arcs, supplies and counts as ``inst``, its arcs in networkx's edge order
    (grouped by tail).

NumPy is an optional dependency: ``pip install numpy`` (or ``'korvane[numpy]'`` by name,
``'.[numpy]'`` from a checkout); networkx and SciPy only for the functions that use them.
"""

from __future__ import annotations

import importlib
import math
import numbers
import operator
from collections.abc import Mapping
from typing import TYPE_CHECKING, Any, TypedDict, Union

from . import MultiCommodityData, NetworkInstance, ParsedMulticommodityInstance

# The native module's private entry points: a buffer exporter per column.
_native: Any = importlib.import_module("korvane.korvane")

if TYPE_CHECKING:
    import numpy as np
    from numpy.typing import ArrayLike, NDArray

    from .formats import MulticommodityProblem

__all__ = ["network_arrays", "data_arrays", "parsed_arrays", "problem_arrays", "csr",
           "csr_array", "network_from_arrays", "from_networkx", "to_networkx",
           "NetworkArrays", "DataArrays", "ParsedArrays", "ProblemArrays", "CsrArrays"]


class NetworkArrays(TypedDict):
    """network_arrays' result."""

    tail: NDArray[np.int64]
    head: NDArray[np.int64]
    low: NDArray[np.int64]
    up: NDArray[np.int64]
    cost: NDArray[np.int64]
    parallel_index: NDArray[np.int64]
    node: NDArray[np.int64]
    supply_node: NDArray[np.int64]
    supply: NDArray[np.int64]


class DataArrays(TypedDict):
    """data_arrays' result."""

    capacity: NDArray[np.int64]
    cost: NDArray[np.int64]
    supply_node: NDArray[np.int64]
    supply: NDArray[np.int64]
    tail: NDArray[np.int64]
    head: NDArray[np.int64]
    parallel_index: NDArray[np.int64]
    up: NDArray[np.int64]


class ParsedArrays(TypedDict):
    """parsed_arrays' result."""

    capacity: NDArray[np.int64]
    cost: NDArray[np.int64]
    supply_node: NDArray[np.int64]
    supply: NDArray[np.int64]
    supply_total: NDArray[np.int64]
    tail: NDArray[np.int64]
    head: NDArray[np.int64]
    parallel_index: NDArray[np.int64]
    up: NDArray[np.int64]
    node: NDArray[np.int64]


class ProblemArrays(TypedDict):
    """problem_arrays' result: int64 arc columns and node ids, float64 tables."""

    tail: NDArray[np.int64]
    head: NDArray[np.int64]
    arc_name: NDArray[np.int64]
    cost: NDArray[np.float64]
    capacity: NDArray[np.float64]
    bundle: NDArray[np.float64]
    supply: NDArray[np.float64]
    node_id: NDArray[np.int64]


class CsrArrays(TypedDict):
    """csr's result."""

    node: NDArray[np.int64]
    out_indptr: NDArray[np.int64]
    out_indices: NDArray[np.int64]
    out_arc: NDArray[np.int64]
    in_indptr: NDArray[np.int64]
    in_indices: NDArray[np.int64]
    in_arc: NDArray[np.int64]


# What supplies may be given as: {id: supply}, or (ids, supplies).
Supplies = Union[Mapping[int, int], "tuple[ArrayLike, ArrayLike]"]


def _needs(module: str, extra: str, what: str) -> Any:
    try:
        return importlib.import_module(module)
    except ImportError as exc:
        package = module.split(".")[0]
        raise ImportError(f"{what} needs {package}: pip install {package} (or 'korvane[{extra}]' "
                          f"by name, '.[{extra}]' from a checkout)") from exc


def _numpy() -> Any:
    return _needs("numpy", "numpy", "korvane.arrays")


def _arrays(columns: dict[str, Any]) -> Any:
    np = _numpy()
    return {name: np.asarray(view) for name, view in columns.items()}


def network_arrays(instance: NetworkInstance) -> NetworkArrays:
    """The arc, node and supply columns of a NetworkInstance as read-only int64 views."""
    arrays: NetworkArrays = _arrays(_native._network_columns(instance))
    return arrays


def data_arrays(data: MultiCommodityData) -> DataArrays:
    """The (E, K) tables, the partition and the arc columns of a MultiCommodityData."""
    arrays: DataArrays = _arrays(_native._data_columns(data))
    return arrays


def parsed_arrays(parsed: ParsedMulticommodityInstance) -> ParsedArrays:
    """The (E, K) tables, node amounts and arc columns of a ParsedMulticommodityInstance."""
    arrays: ParsedArrays = _arrays(_native._parsed_columns(parsed))
    return arrays


def problem_arrays(problem: MulticommodityProblem) -> ProblemArrays:
    """The arc columns and (E, K), (E,) and (N, K) tables of a MulticommodityProblem."""
    arrays: ProblemArrays = _arrays(_native._problem_columns(problem))
    return arrays


def csr(instance: NetworkInstance | ParsedMulticommodityInstance) -> CsrArrays:
    """Out- and in-adjacency over node rows (ascending id) as CSR arrays."""
    arrays: CsrArrays = _arrays(_native._csr(instance))
    return arrays


def csr_array(instance: NetworkInstance | ParsedMulticommodityInstance,
              weight: str | ArrayLike | None = None) -> Any:
    """The out-adjacency as a scipy.sparse.csr_array over csr(instance)["node"] rows and
    columns: one entry per arc, valued 1, the arc column ``weight`` names, or E values."""
    sparse = _needs("scipy.sparse", "scipy", "korvane.arrays.csr_array")
    np = _numpy()
    adjacency = csr(instance)
    order = adjacency["out_arc"]
    if weight is None:
        values = np.ones(order.size, dtype=np.int64)
    else:
        if isinstance(weight, str):
            columns: Mapping[str, Any] = (parsed_arrays(instance)
                                          if isinstance(instance, ParsedMulticommodityInstance)
                                          else network_arrays(instance))
            if weight not in ("up", "cost", "low") or weight not in columns:
                raise ValueError(f"weight must name an arc column of this record ('up', 'cost' "
                                 f"or 'low' for a network, 'up' for a parsed instance), not "
                                 f"{weight!r}")
            values = np.asarray(columns[weight])
            if values.ndim != 1:
                raise ValueError(f"weight {weight!r} is not one value per arc here")
        else:
            values = np.asarray(weight)
            if values.shape != order.shape:
                raise ValueError(f"weight must hold one value per arc ({order.size}), got shape "
                                 f"{values.shape}")
        values = values[order]
    rows = adjacency["node"].size
    return sparse.csr_array((values, adjacency["out_indices"], adjacency["out_indptr"]),
                            shape=(rows, rows))


# --- networks from memory -----------------------------------------------------------------


def _column(values: ArrayLike, name: str) -> Any:
    """``values`` as a one-dimensional C-contiguous int64 array; integers only."""
    np = _numpy()
    array = np.asarray(values)
    if array.ndim != 1:
        raise ValueError(f"{name} must be one-dimensional, got shape {array.shape}")
    if array.size == 0:
        return np.empty(0, dtype=np.int64)
    if array.dtype.kind == "O":
        # Python integers beyond int64 arrive as objects; anything else there is refused.
        try:
            items = [operator.index(v) for v in array.tolist()]
        except TypeError:
            raise TypeError(f"{name} must hold integers") from None
        try:
            return np.array(items, dtype=np.int64)
        except OverflowError:
            raise OverflowError(f"{name} holds a value outside the signed 64-bit range") from None
    if array.dtype.kind not in "iu":
        raise TypeError(f"{name} must hold integers, not {array.dtype}")
    if array.dtype.kind == "u" and array.max() > np.iinfo(np.int64).max:
        raise OverflowError(f"{name} holds a value outside the signed 64-bit range")
    return np.ascontiguousarray(array, dtype=np.int64)


def network_from_arrays(tails: ArrayLike, heads: ArrayLike, lows: ArrayLike,
                        capacities: ArrayLike, costs: ArrayLike,
                        supplies: Supplies | None = None,
                        num_nodes: int | None = None) -> NetworkInstance:
    """The NetworkInstance load_min_instance reads from the .min file of these arcs (entry i
    of each column is the arc at position i) and ``supplies`` (node lines, in their order),
    its problem line declaring ``num_nodes`` (default: the distinct ids) and E arcs.
    Raises TypeError for a column that does not hold integers, ValueError for columns of
    unequal lengths, OverflowError for a value beyond 64 bits."""
    columns = [_column(v, name) for v, name in ((tails, "tails"), (heads, "heads"),
                                                (lows, "lows"), (capacities, "capacities"),
                                                (costs, "costs"))]
    if supplies is None:
        ids: Any = []
        amounts: Any = []
    elif isinstance(supplies, Mapping):
        ids, amounts = list(supplies.keys()), list(supplies.values())
    else:
        ids, amounts = supplies
    if num_nodes is not None:
        num_nodes = operator.index(num_nodes)
    instance: NetworkInstance = _native._network_from_columns(
        *columns, _column(ids, "supply ids"), _column(amounts, "supplies"), num_nodes)
    return instance


def _integer(value: Any, what: str) -> int:
    """A networkx attribute as an integer: ints, or floats holding one (10.0)."""
    if isinstance(value, numbers.Integral):
        return operator.index(value)
    if isinstance(value, numbers.Real) and math.isfinite(value) and float(value).is_integer():
        return int(float(value))
    raise ValueError(f"{what} must be an integer, got {value!r}")


def _node(node: Any) -> int:
    try:
        return operator.index(node)
    except TypeError:
        raise TypeError(f"node {node!r} is not an integer; relabel the graph first, e.g. "
                        "networkx.convert_node_labels_to_integers(G, first_label=1)") from None


def from_networkx(G: Any, *, demand: str = "demand", capacity: str = "capacity",
                  weight: str = "weight", lower: str = "low",
                  num_nodes: int | None = None) -> NetworkInstance:
    """The NetworkInstance of a directed networkx graph, as load_min_instance reads the
    equivalent .min file (see the module's documentation): supply = -demand."""
    if not G.is_directed():
        raise TypeError("from_networkx needs a directed graph (DiGraph or MultiDiGraph); "
                        "G.to_directed() gives an arc each way per edge")
    ids: list[int] = []
    amounts: list[int] = []
    for node, value in G.nodes(data=demand):
        if value is not None:
            ids.append(_node(node))
            amounts.append(-_integer(value, f"demand of node {node!r}"))
    tails: list[int] = []
    heads: list[int] = []
    lows: list[int] = []
    ups: list[int] = []
    costs: list[int] = []
    for u, v, attrs in G.edges(data=True):
        tails.append(_node(u))
        heads.append(_node(v))
        if capacity not in attrs:
            raise ValueError(f"edge ({u!r}, {v!r}) has no {capacity!r} attribute: networkx "
                             "reads that as unbounded, which a .min file cannot hold")
        ups.append(_integer(attrs[capacity], f"{capacity} of edge ({u!r}, {v!r})"))
        costs.append(_integer(attrs.get(weight, 0), f"{weight} of edge ({u!r}, {v!r})"))
        lows.append(_integer(attrs.get(lower, 0), f"{lower} of edge ({u!r}, {v!r})"))
    return network_from_arrays(tails, heads, lows, ups, costs, (ids, amounts),
                               len(G) if num_nodes is None else num_nodes)


def to_networkx(record: NetworkInstance | ParsedMulticommodityInstance | MulticommodityProblem
                ) -> Any:
    """A networkx MultiDiGraph of a network, a parsed instance or a problem (attributes in
    the module's documentation)."""
    nx = _needs("networkx", "networkx", "korvane.arrays.to_networkx")
    G = nx.MultiDiGraph()
    if isinstance(record, NetworkInstance):
        a = network_arrays(record)
        G.graph["num_nodes"] = record.num_nodes
        G.add_nodes_from(record.nodes)
        nx.set_node_attributes(G, {n: -s for n, s in record.supplies.items()}, "demand")
        G.add_edges_from(
            (t, h, k, {"capacity": up, "weight": c, "low": lo})
            for t, h, k, up, c, lo in zip(a["tail"].tolist(), a["head"].tolist(),
                                          a["parallel_index"].tolist(), a["up"].tolist(),
                                          a["cost"].tolist(), a["low"].tolist()))
        return G
    if isinstance(record, ParsedMulticommodityInstance):
        p = parsed_arrays(record)
        G.graph["num_nodes"] = record.num_nodes
        G.add_nodes_from(record.nodes)
        demands = record.commodity_supply_demand_data
        nx.set_node_attributes(G, {n: [-v for v in vs] for n, vs in demands.items()}, "demands")
        G.add_edges_from(
            (t, h, k, {"capacity": up, "capacities": caps, "weights": ws})
            for t, h, k, up, caps, ws in zip(p["tail"].tolist(), p["head"].tolist(),
                                             p["parallel_index"].tolist(), p["up"].tolist(),
                                             p["capacity"].tolist(), p["cost"].tolist()))
        return G
    if type(record) is not _native._MulticommodityProblem:
        raise TypeError("to_networkx takes a NetworkInstance, a ParsedMulticommodityInstance "
                        f"or a MulticommodityProblem, not {type(record).__name__}")
    q = problem_arrays(record)
    ids = q["node_id"].tolist()
    G.add_nodes_from((n, {"demands": [0.0 - v for v in row]})
                     for n, row in zip(ids, q["supply"].tolist()))
    G.add_edges_from(
        (ids[t - 1], ids[h - 1], {"name": name, "capacity": b, "capacities": caps, "weights": ws})
        for t, h, name, b, caps, ws in zip(q["tail"].tolist(), q["head"].tolist(),
                                           q["arc_name"].tolist(), q["bundle"].tolist(),
                                           q["capacity"].tolist(), q["cost"].tolist()))
    return G
