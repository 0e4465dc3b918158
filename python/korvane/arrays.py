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

NumPy is an optional dependency: pip install 'korvane[numpy]'.
"""

from __future__ import annotations

import importlib
from typing import TYPE_CHECKING, Any

from . import MultiCommodityData, NetworkInstance, ParsedMulticommodityInstance

# The native module's private entry points: a buffer exporter per column.
_native: Any = importlib.import_module("korvane.korvane")

if TYPE_CHECKING:
    import numpy as np
    from numpy.typing import NDArray

__all__ = ["network_arrays", "data_arrays", "parsed_arrays", "problem_arrays", "csr"]


def _numpy() -> Any:
    try:
        return importlib.import_module("numpy")
    except ImportError as exc:
        raise ImportError("korvane.arrays needs numpy: pip install 'korvane[numpy]'") from exc


def _arrays(columns: dict[str, Any]) -> dict[str, NDArray[Any]]:
    np = _numpy()
    return {name: np.asarray(view) for name, view in columns.items()}


def network_arrays(instance: NetworkInstance) -> dict[str, NDArray[np.int64]]:
    """The arc, node and supply columns of a NetworkInstance as read-only int64 views."""
    return _arrays(_native._network_columns(instance))


def data_arrays(data: MultiCommodityData) -> dict[str, NDArray[np.int64]]:
    """The (E, K) tables, the partition and the arc columns of a MultiCommodityData."""
    return _arrays(_native._data_columns(data))


def parsed_arrays(parsed: ParsedMulticommodityInstance) -> dict[str, NDArray[np.int64]]:
    """The (E, K) tables, node amounts and arc columns of a ParsedMulticommodityInstance."""
    return _arrays(_native._parsed_columns(parsed))


def problem_arrays(problem: Any) -> dict[str, NDArray[Any]]:
    """The arc columns and (E, K), (E,) and (N, K) tables of a MulticommodityProblem."""
    return _arrays(_native._problem_columns(problem))


def csr(
    instance: NetworkInstance | ParsedMulticommodityInstance,
) -> dict[str, NDArray[np.int64]]:
    """Out- and in-adjacency over node rows (ascending id) as CSR arrays."""
    return _arrays(_native._csr(instance))
