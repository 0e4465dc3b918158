"""The linear multi-commodity min-cost flow problem of an instance, handed to HiGHS.

The arc-flow model: a variable x(a,k) in [0, capacity(a,k)] with cost(a,k) for every arc a and
commodity k; for every node and commodity, outflow - inflow = the node's amount in the
partition (0 for nodes outside it); for every arc, low(a) <= sum_k x(a,k) <= up(a), the arc's
own bounds acting as its bundle (rows that cannot bind are left out). The sparse matrix is
built column-wise with vectorised NumPy.

Needs highspy and numpy: ``pip install highspy numpy`` (or ``'korvane[solve]'`` by name,
``'.[solve]'`` from a checkout).
"""

from __future__ import annotations

import importlib
import os
import sys
import time
from collections.abc import Mapping
from dataclasses import dataclass
from types import MappingProxyType
from typing import TYPE_CHECKING, Any

from . import MultiCommodityData, NetworkInstance, ParsedMulticommodityInstance, arrays
from .formats import MulticommodityProblem

_native: Any = importlib.import_module("korvane.korvane")

if TYPE_CHECKING:
    import numpy as np
    import numpy.typing as npt

__all__ = ["DEFAULT_OPTIONS", "METHODS", "FeasibilityResult", "Model", "SolveResult", "build_model",
           "check_feasible", "check_options", "screen_commodities", "solve", "write_model"]

_SOLVE_EXTRA = ("korvane.solve needs {}: pip install highspy numpy (or 'korvane[solve]' by name, "
                "'.[solve]' from a checkout)")

#: The HiGHS options every solve starts from; a call's ``options`` are set after them and win.
#: Presolve is off: on these flow models it removes only redundant conservation rows, and
#: with no time limit it gives its search for dependent equations a budget of 100 s, which
#: on a 131k-arc network it spends to find nothing. The dual simplex without presolve
#: reaches the same optima sooner on every network of the tests (see docs/solving.md).
DEFAULT_OPTIONS: Mapping[str, Any] = MappingProxyType({"presolve": "off"})


#: The LP methods ``solve`` takes, as the HiGHS options each sets. "ipm" is the interior point
#: method followed by crossover to a vertex, so its optimum is proven like the simplex's;
#: "pdlp" is the first-order method, whose answer meets its tolerances but is never a proven
#: optimum. "auto" picks one by the size of the model (see ``_auto_method``).
METHODS: Mapping[str, Mapping[str, Any]] = MappingProxyType({
    "simplex": MappingProxyType({"solver": "simplex"}),
    "ipm": MappingProxyType({"solver": "ipm", "run_crossover": "on"}),
    "pdlp": MappingProxyType({"solver": "pdlp"}),
})

#: "auto" takes the interior point method (with crossover) rather than the dual simplex for
#: a model of more than AUTO_IPM_COLUMNS columns whose network has more than AUTO_IPM_ARCS
#: arcs. From the solver ladder (docs/performance.md), at about 524k columns: on NETGEN
#: networks of 4,096 to 131,072 arcs (K = 128 down to 4) the interior point method reached
#: the proven optimum 1.7-1.8x sooner than the simplex or while the simplex was still far from
#: it, whereas on Mnetgen instances of about 2,200 arcs with K = 256 (549k-564k columns) the
#: simplex was 1.45-7.7x faster; so the column count alone cannot decide. Below 400k columns
#: the simplex won everywhere (1.5x at K = 2 on a 131k-arc network, 2.7-5.0x on Mnetgen
#: instances of 150k-300k columns). No network between 2,362 and 4,096 arcs was measured.
AUTO_IPM_COLUMNS = 400_000
AUTO_IPM_ARCS = 3_000


def _auto_method(model: Model) -> str:
    large = model.num_cols > AUTO_IPM_COLUMNS and model.num_arcs > AUTO_IPM_ARCS
    return "ipm" if large else "simplex"


def _numpy() -> Any:
    try:
        import numpy
    except ImportError as exc:
        raise ImportError(_SOLVE_EXTRA.format("numpy"), name="numpy") from exc
    return numpy


def _highspy() -> Any:
    try:
        import highspy
    except ImportError as exc:
        raise ImportError(_SOLVE_EXTRA.format("highspy"), name="highspy") from exc
    return highspy


@dataclass(frozen=True)
class Model:
    """The arc-flow model as column-wise sparse arrays (the layout HiGHS takes).

    Column a*K + k is x(a,k). Row k*N + i is node ``nodes[i]``'s conservation for commodity
    k; row N*K + b is the bundle of arc ``bundle_arcs[b]``. ``arc_labels[a]`` and
    ``first_commodity`` + k are how the instance itself numbers arc a and commodity k: arc
    positions and commodities from 0 for korvane's records, the file's arc names and
    commodities from 1 for a MulticommodityProblem. ``names()`` gives the columns and rows
    the names ``write_model`` writes.
    """

    num_arcs: int
    num_commodities: int
    nodes: npt.NDArray[np.int64]
    bundle_arcs: npt.NDArray[np.int64]
    col_cost: npt.NDArray[np.float64]
    col_lower: npt.NDArray[np.float64]
    col_upper: npt.NDArray[np.float64]
    row_lower: npt.NDArray[np.float64]
    row_upper: npt.NDArray[np.float64]
    start: npt.NDArray[np.int32]
    index: npt.NDArray[np.int32]
    value: npt.NDArray[np.float64]
    build_seconds: float
    arc_labels: npt.NDArray[np.int64] | None = None
    first_commodity: int = 0

    @property
    def num_cols(self) -> int:
        return len(self.col_cost)

    def names(self) -> tuple[list[str], list[str]]:
        """Column names ``x_<arc>_<k>`` and row names ``flow_<node>_<k>`` then
        ``bundle_<arc>``, with arcs, commodities and nodes numbered as the instance numbers
        them, so that another solver's solution maps back."""
        arcs = (range(self.num_arcs) if self.arc_labels is None else self.arc_labels.tolist())
        ks = range(self.first_commodity, self.first_commodity + self.num_commodities)
        cols = [f"x_{a}_{k}" for a in arcs for k in ks]
        nodes = self.nodes.tolist()
        rows = [f"flow_{node}_{k}" for k in ks for node in nodes]
        labels = list(arcs)
        rows += [f"bundle_{labels[a]}" for a in self.bundle_arcs.tolist()]
        return cols, rows

    @property
    def num_rows(self) -> int:
        return len(self.row_lower)


@dataclass(frozen=True)
class SolveResult:
    """``status`` is "optimal", "infeasible", "unbounded", "time limit", ... (HiGHS's model
    status in lower case); ``objective`` and ``flows`` (an (E, K) array, entry [a, k] the flow
    of commodity k on the arc at position a) are None unless a solution exists.

    "optimal" always means a proven optimum: a vertex solution (simplex, or interior point
    with crossover) that HiGHS found primal and dual feasible. An answer that only meets a
    method's tolerances without a vertex behind it (PDLP, or the interior point method with
    crossover off) has the status "approximately optimal": its objective and flows are given,
    ``proven_optimal`` is False, and ``primal_residual`` and ``dual_residual`` (HiGHS's largest
    bound or row violation, and largest reduced-cost sign violation or dual row error) and
    ``gap`` (the relative difference between the primal and dual objectives) say how close
    it is. ``method`` is the method that ran ("simplex", "ipm", "pdlp" or "decomposition",
    whose ``gap`` is that of its Lagrangian lower bound and ``dual_residual`` its most
    negative reduced cost left)."""

    status: str
    objective: float | None
    flows: npt.NDArray[np.float64] | None
    solve_seconds: float
    build_seconds: float
    method: str = "simplex"
    proven_optimal: bool = False
    primal_residual: float | None = None
    dual_residual: float | None = None
    gap: float | None = None


@dataclass(frozen=True)
class FeasibilityResult:
    """Whether the instance has a feasible flow. For an infeasible one: the commodities that
    cannot be routed even on their own (bundles relaxed), or else the arcs whose bundles
    cannot all be respected, as arc positions (arcs whose bundles must be exceeded in the
    least total excess found by HiGHS); ``reason`` says which in words."""

    feasible: bool
    status: str
    infeasible_commodities: list[int]
    violated_bundles: list[int]
    reason: str


def build_model(instance: Any, data: Any = None, *, bundles: bool = True,
                costs: bool = True) -> Model:
    """The arc-flow model of ``instance`` (a NetworkInstance with its MultiCommodityData, a
    ParsedMulticommodityInstance or a korvane.formats.MulticommodityProblem).
    ``bundles=False`` leaves out the bundle rows, ``costs=False`` zeroes the costs (a pure
    feasibility problem)."""
    np = _numpy()
    began = time.perf_counter()
    columns = _columns(np, instance, data)
    k = columns["k"]
    e = len(columns["tail"])
    nodes = columns["node"]
    n = len(nodes)
    tails = np.searchsorted(nodes, columns["tail"])
    heads = np.searchsorted(nodes, columns["head"])
    caps = np.array(columns["capacity"], dtype=np.float64).reshape(e, k)
    # A negative commodity bound is Mnetgen's "unbounded". In korvane's own instances it can
    # only come from a negative arc bound, which that arc's bundle row still enforces.
    caps[caps < 0] = np.inf
    lows = np.asarray(columns["low"], dtype=np.float64)
    ups = np.asarray(columns["up"], dtype=np.float64)
    supply = np.zeros((k, n))
    supply[:, np.searchsorted(nodes, columns["supply_node"])] = np.asarray(
        columns["supply"], dtype=np.float64).reshape(-1, k).T

    bundled = (lows > 0) | (ups < caps.sum(axis=1)) if bundles else np.zeros(e, dtype=bool)
    bundle_arcs = np.flatnonzero(bundled)
    bundle_row = np.full(e, -1, dtype=np.int64)
    bundle_row[bundle_arcs] = n * k + np.arange(len(bundle_arcs))

    # Each column x(a,k) has up to three entries: +1 in its tail's row, -1 in its head's
    # row (both dropped for a loop, where they cancel) and +1 in its arc's bundle row.
    commodity = np.tile(np.arange(k), e)
    arc = np.repeat(np.arange(e), k)
    rows = np.stack([commodity * n + tails[arc], commodity * n + heads[arc], bundle_row[arc]],
                    axis=1)
    loop = (tails == heads)[arc]
    present = np.stack([~loop, ~loop, bundled[arc]], axis=1)
    values = np.broadcast_to(np.array([1.0, -1.0, 1.0]), rows.shape)
    counts = present.sum(axis=1)
    start = np.zeros(e * k + 1, dtype=np.int64)
    np.cumsum(counts, out=start[1:])
    if start[-1] >= 2**31 or n * k + len(bundle_arcs) >= 2**31:
        raise ValueError("the model is too large for HiGHS's 32-bit indices")

    # A bundle without a lower bound is one-sided (flows are never negative), so a model file
    # holds it as one row, not as a range split in two.
    row_lower = np.concatenate([supply.ravel(),
                                np.where(lows[bundle_arcs] > 0, lows[bundle_arcs], -np.inf)])
    row_upper = np.concatenate([supply.ravel(), ups[bundle_arcs]])
    cost = np.asarray(columns["cost"], dtype=np.float64).reshape(e * k)
    return Model(
        num_arcs=e, num_commodities=k, nodes=nodes, bundle_arcs=bundle_arcs,
        col_cost=cost if costs else np.zeros(e * k), col_lower=np.zeros(e * k),
        col_upper=caps.reshape(e * k), row_lower=row_lower, row_upper=row_upper,
        start=start.astype(np.int32), index=rows[present].astype(np.int32),
        value=np.ascontiguousarray(values[present]),
        build_seconds=time.perf_counter() - began, arc_labels=columns.get("arc_label"),
        first_commodity=columns.get("first_commodity", 0))


_banner_shown = False


def _columns(np: Any, instance: Any, data: Any) -> dict[str, Any]:
    """The model's inputs as arrays, through zero-copy views of the records' own memory
    (korvane.arrays). ``up`` is +inf where an arc has no bundle, ``node`` every node id once,
    ascending."""
    if isinstance(instance, NetworkInstance):
        net = arrays.network_arrays(instance)
        if data is None:
            out = dict(net, k=1, capacity=net["up"], supply=net["supply"])
        elif isinstance(data, MultiCommodityData):
            tables = arrays.data_arrays(data)
            if tables["capacity"].shape[0] != len(net["tail"]):
                raise ValueError(f"the multi-commodity data has {tables['capacity'].shape[0]} "
                                 f"arcs, the network {len(net['tail'])}")
            out = dict(net, k=data.num_commodities, capacity=tables["capacity"],
                       cost=tables["cost"], supply_node=tables["supply_node"],
                       supply=tables["supply"])
        else:
            raise TypeError(f"data must be a MultiCommodityData, not '{type(data).__name__}'")
    elif isinstance(instance, ParsedMulticommodityInstance) and data is None:
        parsed = arrays.parsed_arrays(instance)
        out = dict(parsed, k=instance.num_commodities, low=np.zeros(len(parsed["tail"])))
    elif isinstance(instance, MulticommodityProblem) and data is None:
        table = arrays.problem_arrays(instance)
        ids = table["node_id"]
        out = dict(k=instance.num_commodities, tail=ids[table["tail"] - 1],
                   head=ids[table["head"] - 1], low=np.zeros(instance.num_arcs),
                   up=table["bundle"], capacity=table["capacity"], cost=table["cost"],
                   supply_node=ids, supply=table["supply"], node=ids,
                   arc_label=table["arc_name"], first_commodity=1)
    else:
        if data is not None:
            raise TypeError("data is only taken with a NetworkInstance")
        raise TypeError(
            "expected a NetworkInstance (with its MultiCommodityData), a "
            "ParsedMulticommodityInstance or a MulticommodityProblem, not "
            f"'{type(instance).__name__}'")
    out["node"] = np.union1d(np.union1d(out["node"], out["supply_node"]),
                             np.union1d(out["tail"], out["head"]))
    return out


def _new_highs(highspy: Any) -> Any:
    """A silent HiGHS. The first solver object of a process prints a banner on stdout from C++,
    which would corrupt the output of a program writing results there; it goes to /dev/null."""
    global _banner_shown
    if _banner_shown:
        h = highspy.Highs()
    else:
        sys.stdout.flush()
        saved = os.dup(1)
        try:
            with open(os.devnull, "wb") as devnull:
                os.dup2(devnull.fileno(), 1)
            h = highspy.Highs()
        finally:
            os.dup2(saved, 1)
            os.close(saved)
        _banner_shown = True
    h.setOptionValue("output_flag", False)
    return h


def _set_options(h: Any, time_limit: float | None, options: Mapping[str, Any] | None) -> None:
    """DEFAULT_OPTIONS, then ``options``, then the time limit. A name HiGHS does not know, or
    a value of the wrong type or range, is a ValueError naming it."""
    chosen = dict(DEFAULT_OPTIONS)
    chosen.update(options or {})
    if time_limit is not None:
        chosen["time_limit"] = float(time_limit)
    for name, value in chosen.items():
        # HiGHS takes an int for an integer option and refuses a bool or a float there.
        if h.setOptionValue(name, value) == _highspy().HighsStatus.kError:
            raise ValueError(f"HiGHS refused the option {name}={value!r}")


def check_options(options: Mapping[str, Any]) -> None:
    """Raises ValueError for the first of ``options`` HiGHS refuses, before any model is built."""
    _set_options(_new_highs(_highspy()), None, options)


def _highs(model: Model, time_limit: float | None, options: Mapping[str, Any] | None = None,
           *, names: bool = False) -> Any:
    highspy = _highspy()
    h = _new_highs(highspy)
    _set_options(h, time_limit, options)
    lp = highspy.HighsLp()
    lp.num_col_ = model.num_cols
    lp.num_row_ = model.num_rows
    lp.col_cost_ = model.col_cost
    lp.col_lower_ = model.col_lower
    lp.col_upper_ = model.col_upper
    lp.row_lower_ = model.row_lower
    lp.row_upper_ = model.row_upper
    matrix = lp.a_matrix_
    matrix.format_ = highspy.MatrixFormat.kColwise
    matrix.num_col_ = model.num_cols
    matrix.num_row_ = model.num_rows
    matrix.start_ = model.start
    matrix.index_ = model.index
    matrix.value_ = model.value
    if names:
        lp.col_names_, lp.row_names_ = model.names()
    status = h.passModel(lp)
    if status == highspy.HighsStatus.kError:
        raise ValueError("HiGHS refused the model")
    return h


def _status_text(h: Any) -> str:
    return str(h.modelStatusToString(h.getModelStatus())).lower()


def _run(model: Model, time_limit: float | None,
         options: Mapping[str, Any] | None) -> tuple[Any, str, float]:
    highspy = _highspy()
    h = _highs(model, time_limit, options)
    began = time.perf_counter()
    h.run()
    status = h.getModelStatus()
    if status == highspy.HighsModelStatus.kUnboundedOrInfeasible:
        # Presolve could not tell which; the simplex without it can.
        h.setOptionValue("presolve", "off")
        h.clearSolver()
        h.run()
    elapsed = time.perf_counter() - began
    return h, _status_text(h), elapsed


def _method_options(method: str, model: Model) -> tuple[str, dict[str, Any]]:
    if method == "auto":
        method = _auto_method(model)
    if method not in METHODS:
        raise ValueError(f"method must be one of {', '.join(['auto', *METHODS, 'decomposition'])}, "
                         f"not {method!r}")
    return method, dict(METHODS[method])


def _quality(h: Any) -> tuple[bool, float | None, float | None, float | None]:
    """Whether HiGHS's solution is a proven optimum, with its primal and dual residuals and
    primal-dual gap (None where HiGHS has no value)."""
    highspy = _highspy()
    info = h.getInfo()

    def worst(infeasibility: float, count: int, residual_error: float) -> float | None:
        # HiGHS gives -1 for a value it did not compute; the residual errors (the rows' or
        # reduced costs' recomputation) it computes only for an answer without a vertex.
        if infeasibility < 0:
            return None
        return float(max(infeasibility, residual_error) if count >= 0 else infeasibility)

    primal = worst(info.max_primal_infeasibility, info.num_primal_residual_errors,
                   info.max_primal_residual_error)
    dual = worst(info.max_dual_infeasibility, info.num_dual_residual_errors,
                 info.max_dual_residual_error)
    gap = None if info.primal_dual_objective_error < 0 else float(info.primal_dual_objective_error)
    feasible = highspy.SolutionStatus.kSolutionStatusFeasible
    proven = (h.getModelStatus() == highspy.HighsModelStatus.kOptimal
              and info.basis_validity == highspy.BasisValidity.kBasisValidityValid
              and info.primal_solution_status == feasible
              and info.dual_solution_status == feasible)
    return proven, primal, dual, gap


def solve(instance: Any, data: Any = None, *, time_limit: float | None = None,
          options: Mapping[str, Any] | None = None, method: str = "auto") -> SolveResult:
    """Solves the arc-flow model with HiGHS. ``instance`` as for ``build_model``;
    ``time_limit`` in seconds; ``method`` one of "simplex", "ipm", "pdlp" or "auto" (see
    ``METHODS``); ``options`` are HiGHS options by name, set over ``DEFAULT_OPTIONS`` and
    the method's own (``{"presolve": "choose"}`` gives HiGHS's own default back).
    ``method="decomposition"`` solves by column generation over the commodities instead
    (korvane.decomposition), ``options`` then going to its master problem."""
    if method == "decomposition":
        from .decomposition import decompose
        return decompose(instance, data, time_limit=time_limit, options=options)[0]
    np = _numpy()
    model = build_model(instance, data)
    method, chosen = _method_options(method, model)
    chosen.update(options or {})
    h, status, elapsed = _run(model, time_limit, chosen)
    proven, primal, dual, gap = _quality(h)
    objective = flows = None
    if h.getModelStatus() == _highspy().HighsModelStatus.kOptimal:
        if not proven:
            status = "approximately optimal"
        objective = float(h.getInfo().objective_function_value)
        # Adding 0.0 turns the solver's -0.0 into 0.0.
        flows = np.asarray(h.getSolution().col_value, dtype=np.float64).reshape(
            model.num_arcs, model.num_commodities) + 0.0
    return SolveResult(status=status, objective=objective, flows=flows, solve_seconds=elapsed,
                       build_seconds=model.build_seconds, method=method, proven_optimal=proven,
                       primal_residual=primal, dual_residual=dual, gap=gap)


def screen_commodities(instance: Any, data: Any = None, *, first_only: bool = False) -> list[int]:
    """The commodities that cannot be routed even on their own, bundles ignored (numbered
    from 0, as the model's commodities): any one of them proves the whole instance
    infeasible without the full LP. Each commodity is a maximum flow from its supplies to
    its demands within its own capacities, computed natively (Dinic's algorithm), so the
    screen costs a small part of one LP. ``first_only`` stops at the first found."""
    np = _numpy()
    columns = _columns(np, instance, data)
    k = columns["k"]
    e = len(columns["tail"])
    nodes = columns["node"]
    caps = np.array(columns["capacity"], dtype=np.float64).reshape(e, k)
    caps[caps < 0] = np.inf  # unbounded, as in build_model
    supply = np.zeros((k, len(nodes)))
    supply[:, np.searchsorted(nodes, columns["supply_node"])] = np.asarray(
        columns["supply"], dtype=np.float64).reshape(-1, k).T
    tails = np.searchsorted(nodes, columns["tail"]).astype(np.int64)
    heads = np.searchsorted(nodes, columns["head"]).astype(np.int64)
    failed: list[int] = _native._screen_commodities(len(nodes), tails, heads, caps, supply, k,
                                                    first_only)
    return failed


def check_feasible(instance: Any, data: Any = None, *, time_limit: float | None = None,
                   options: Mapping[str, Any] | None = None) -> FeasibilityResult:
    """Whether any flow meets every bound, supply and bundle, and if none does, why: first the
    commodities infeasible on their own (``screen_commodities``, before the full problem),
    else the bundles, found by minimising the total excess over them.
    ``time_limit`` and ``options`` as for ``solve``, for each solve this makes."""
    np = _numpy()
    highspy = _highspy()
    alone = screen_commodities(instance, data)
    if alone:
        return FeasibilityResult(
            False, "infeasible", alone, [],
            f"commodities {alone} cannot be routed even without the bundles")
    model = build_model(instance, data, costs=False)
    h, status, _ = _run(model, time_limit, options)
    if h.getModelStatus() == highspy.HighsModelStatus.kOptimal:
        return FeasibilityResult(True, status, [], [], "feasible")
    if h.getModelStatus() != highspy.HighsModelStatus.kInfeasible:
        return FeasibilityResult(False, status, [], [], f"HiGHS ended with status {status!r}")

    k, e, n = model.num_commodities, model.num_arcs, len(model.nodes)
    # Elastic bundles: each bundle row gains a surplus and a shortfall column costing 1, so
    # the optimum exceeds as few units as possible and names the bundles that must give way.
    b = len(model.bundle_arcs)
    rows = n * k + np.arange(b, dtype=np.int32)
    elastic = Model(
        num_arcs=e, num_commodities=k, nodes=model.nodes, bundle_arcs=model.bundle_arcs,
        col_cost=np.concatenate([model.col_cost, np.ones(2 * b)]),
        col_lower=np.concatenate([model.col_lower, np.zeros(2 * b)]),
        col_upper=np.concatenate([model.col_upper, np.full(2 * b, np.inf)]),
        row_lower=model.row_lower, row_upper=model.row_upper,
        start=np.concatenate([model.start, model.start[-1] + np.arange(1, 2 * b + 1)]).astype(
            np.int32),
        index=np.concatenate([model.index, rows, rows]),
        value=np.concatenate([model.value, -np.ones(b), np.ones(b)]), build_seconds=0.0)
    h_elastic, elastic_status, _ = _run(elastic, time_limit, options)
    if h_elastic.getModelStatus() != highspy.HighsModelStatus.kOptimal:
        return FeasibilityResult(False, status, [], [],
                                 f"the elastic bundle problem ended with status {elastic_status!r}")
    slack = np.asarray(h_elastic.getSolution().col_value)[model.num_cols:].reshape(2, b).sum(axis=0)
    violated = model.bundle_arcs[slack > 1e-9].tolist()
    return FeasibilityResult(False, status, [], violated,
                             f"the bundles of arcs {violated} cannot all be respected")


def write_model(path: str | os.PathLike[str], instance: Any, data: Any = None) -> None:
    """Writes the arc-flow model through HiGHS's own writer, as MPS (a ``.mps`` path) or
    CPLEX LP (a ``.lp`` path), for any other solver to read. Columns are named
    ``x_<arc>_<k>``, rows ``flow_<node>_<k>`` and ``bundle_<arc>`` (see ``Model.names``)."""
    path = os.fspath(path)
    if not path.endswith((".mps", ".lp")):
        raise ValueError(f"cannot tell the model format from {path!r}: use a .mps or .lp name")
    h = _highs(build_model(instance, data), None, names=True)
    if h.writeModel(path) == _highspy().HighsStatus.kError:
        raise OSError(f"HiGHS could not write {path!r}")
