"""The multi-commodity LP solved by commodity: column generation (Dantzig-Wolfe) over each
commodity's own flow polytope, with a HiGHS master.

A column is one extreme flow of one commodity: a min-cost flow of its supplies within its own
capacities (and within the arc's bundle, which no single commodity may exceed either). The
master holds the bundle rows that can bind (as ``korvane.solve.build_model`` decides) and one
convexity row per commodity, and chooses a convex combination of each commodity's columns.
Pricing re-optimises every commodity's min-cost flow natively (the network simplex method,
each commodity from its last tree, on the pool threads) for costs cost(a,k) - dual(a). It
stops when no column prices out below -1e-9 of the objective (the master's optimum is then
the LP's: a proven optimum) or when the Lagrangian lower bound comes within 1e-9 of it.

The master starts feasible with penalised artificial columns on the bundle rows. When they are
still in use once nothing prices out, a phase of pure infeasibility (artificial cost 1, flow
costs 0) decides: still in use at its optimum, the instance is infeasible; otherwise the
penalty grows and the solve goes on.
"""

from __future__ import annotations

import importlib
import time
from collections.abc import Mapping
from dataclasses import dataclass
from typing import Any

from . import solve as _solve

_native: Any = importlib.import_module("korvane.korvane")

__all__ = ["DecompositionStats", "decompose"]

#: Relative tolerance of pricing and of the Lagrangian gap.
TOLERANCE = 1e-9
#: Artificial flow below this (in units of flow) counts as none.
_ARTIFICIAL_TOLERANCE = 1e-6
#: Capacities and supplies from this size on are taken as unbounded by the native flows.
_UNBOUNDED = float(2**61)


@dataclass(frozen=True)
class DecompositionStats:
    """How the column generation went: master solves, columns added (the first round's
    included), native pivots over all commodities, the Lagrangian lower bound (None before
    the first full pricing with duals), seconds in the master and in pricing."""

    iterations: int
    columns: int
    pivots: int
    lower_bound: float | None
    master_seconds: float
    pricing_seconds: float


def _integers(np: Any, values: Any, what: str) -> Any:
    finite = values[np.isfinite(values)]
    if (finite != np.round(finite)).any():
        raise ValueError(f"the decomposition needs integer {what}")
    return values


def decompose(instance: Any, data: Any = None, *, time_limit: float | None = None,
              options: Mapping[str, Any] | None = None,
              threads: int = 0) -> tuple[_solve.SolveResult, DecompositionStats]:
    """Solves ``instance`` (as for ``korvane.solve.build_model``) by column generation and
    returns the result with its statistics. ``time_limit`` bounds the whole solve;
    ``options`` are HiGHS options for the master; ``threads`` prices the commodities on that
    many threads (0: every core), with the same result for every count.

    An instance whose pricing could be unbounded (a negative-cost cycle of unbounded
    capacity, or a lower-bounded arc some commodity may use without bound) is handed to the
    full LP instead, whose result says so by its ``method``."""
    np = _solve._numpy()
    highspy = _solve._highspy()
    began = time.perf_counter()
    columns = _solve._columns(np, instance, data)
    k = columns["k"]
    e = len(columns["tail"])
    nodes = columns["node"]
    n = len(nodes)
    tails = np.searchsorted(nodes, columns["tail"]).astype(np.int64)
    heads = np.searchsorted(nodes, columns["head"]).astype(np.int64)
    caps = np.array(columns["capacity"], dtype=np.float64).reshape(e, k)
    caps[caps < 0] = np.inf  # unbounded, as in build_model
    lows = np.asarray(columns["low"], dtype=np.float64)
    ups = np.asarray(columns["up"], dtype=np.float64)
    supply = np.zeros((k, n))
    supply[:, np.searchsorted(nodes, columns["supply_node"])] = np.asarray(
        columns["supply"], dtype=np.float64).reshape(-1, k).T
    cost = np.ascontiguousarray(np.asarray(columns["cost"], dtype=np.float64).reshape(e, k))
    bundled = (lows > 0) | (ups < caps.sum(axis=1))

    def full_lp() -> tuple[_solve.SolveResult, DecompositionStats]:
        left = None if time_limit is None else max(0.0, time_limit - (time.perf_counter() - began))
        result = _solve.solve(instance, data, time_limit=left, options=options)
        return result, DecompositionStats(0, 0, 0, None, 0.0, 0.0)

    # A bundle's lower bound with no upper one leaves its dual free to make a commodity's
    # priced cycle negative and unbounded; the full LP takes those.
    if (((lows > 0) & np.isinf(ups))[:, None] & np.isinf(caps)).any():
        return full_lp()
    # No commodity may carry more than its arc's bundle alone: the polytope of each shrinks
    # to what the master could use, and bounded arcs stay bounded in pricing.
    own = np.minimum(caps, np.where(np.isfinite(ups), np.maximum(ups, 0.0), np.inf)[:, None])
    _integers(np, own, "capacities")
    _integers(np, supply, "supplies")
    if (np.abs(supply) >= _UNBOUNDED).any():
        raise ValueError("the decomposition needs supplies below 2^61 in size")
    own_int = np.where(np.isfinite(own) & (own < _UNBOUNDED), own, -1).astype(np.int64)
    flows_state = _native._flows_new(n, tails, heads, np.ascontiguousarray(own_int),
                                     np.ascontiguousarray(supply.astype(np.int64)), k)
    out = np.zeros((e, k), dtype=np.int64)
    pricing_seconds = 0.0
    master_seconds = 0.0

    def price(costs: Any) -> tuple[list[int], int]:
        nonlocal pricing_seconds
        start = time.perf_counter()
        status, pivots = _native._flows_solve(flows_state, costs, out, threads)
        pricing_seconds += time.perf_counter() - start
        return status, pivots

    def finish(status: str, objective: float | None = None, flows: Any = None, *,
               proven: bool = False, primal: float | None = None, dual: float | None = None,
               gap: float | None = None, iterations: int = 0, pivots: int = 0,
               lower: float | None = None) -> tuple[_solve.SolveResult, DecompositionStats]:
        elapsed = time.perf_counter() - began
        result = _solve.SolveResult(
            status=status, objective=objective, flows=flows, solve_seconds=elapsed,
            build_seconds=0.0, method="decomposition", proven_optimal=proven,
            primal_residual=primal, dual_residual=dual, gap=gap)
        return result, DecompositionStats(iterations, len(col_commodity), pivots, lower,
                                          master_seconds, pricing_seconds)

    col_commodity: list[int] = []
    col_arcs: list[Any] = []
    col_flow: list[Any] = []
    col_cost: list[float] = []
    seen: set[tuple[int, bytes, bytes]] = set()

    status, pivots = price(cost)
    if 1 in status:
        return finish("infeasible", pivots=pivots)
    if 2 in status:
        return full_lp()

    # Master: the convexity rows, then the bundle rows as the master's flows first break
    # them (most bundles never bind, and each row left out makes every master solve
    # cheaper). Each bundle row comes with an artificial column that lets it be exceeded
    # (or fall short of its lower bound) at a penalty per unit: ten times the largest arc
    # cost to begin with, which a long detour can beat; but a penalty of the size that
    # never could (the cost of the longest path) leaves HiGHS's master badly scaled, its
    # dual simplex failing on dual values beyond its tolerances. A penalty too small shows
    # itself (artificial flow at the end) and grows.
    penalty = float(10.0 * (np.abs(cost).max(initial=0.0) + 1.0))
    # The master's costs are in units of the largest arc cost, which keeps its objective
    # and duals within the ranges HiGHS's tolerances are made for.
    unit = max(1.0, float(np.abs(cost).max(initial=0.0)))
    h = _solve._new_highs(highspy)
    _solve._set_options(h, None if time_limit is None else max(1e-3, time_limit), options)
    lp = highspy.HighsLp()
    lp.num_row_ = k
    lp.row_lower_ = np.ones(k)
    lp.row_upper_ = np.ones(k)
    if h.passModel(lp) == highspy.HighsStatus.kError:
        raise ValueError("HiGHS refused the master problem")
    row_of = np.full(e, -1, dtype=np.int64)  # master row of an arc's bundle, -1: not yet in
    bundle_list: list[int] = []
    col_index: list[int] = []  # HiGHS column of each flow column
    art_index: list[int] = []
    num_cols = 0

    def add_columns(which: list[int], phase_one: bool) -> int:
        nonlocal num_cols
        starts, indices, values, costs = [0], [], [], []
        added = 0
        for j in which:
            arcs = np.flatnonzero(out[:, j])
            amounts = out[arcs, j].copy()
            key = (j, arcs.tobytes(), amounts.tobytes())
            if key in seen:
                continue
            seen.add(key)
            rows = row_of[arcs]
            on = rows >= 0
            indices.append(np.append(rows[on], j).astype(np.int32))
            values.append(np.append(amounts[on].astype(np.float64), 1.0))
            starts.append(starts[-1] + len(indices[-1]))
            true_cost = float(cost[arcs, j] @ amounts)
            costs.append(true_cost / unit)
            col_commodity.append(j)
            col_arcs.append(arcs)
            col_flow.append(amounts)
            col_cost.append(true_cost)
            col_index.append(num_cols + added)
            added += 1
        if added:
            index = np.concatenate(indices)
            h.addCols(added, np.zeros(added) if phase_one else np.array(costs), np.zeros(added),
                      np.full(added, np.inf), len(index), np.array(starts[:-1], dtype=np.int32),
                      index, np.concatenate(values))
            num_cols += added
        return added

    def add_rows(arcs: Any, phase_one: bool) -> None:
        nonlocal num_cols
        first = k + len(bundle_list)
        row_of[arcs] = first + np.arange(len(arcs))
        bundle_list.extend(arcs.tolist())
        # Row-wise entries: every stored column's flow on the new rows' arcs.
        position = np.full(e, -1, dtype=np.int64)
        position[arcs] = np.arange(len(arcs))
        rows, cols, vals = [], [], []
        for c, (col_arcs_c, amounts) in enumerate(zip(col_arcs, col_flow)):
            where = position[col_arcs_c]
            hit = where >= 0
            if hit.any():
                rows.append(where[hit])
                cols.append(np.full(int(hit.sum()), col_index[c]))
                vals.append(amounts[hit].astype(np.float64))
        if rows:
            r = np.concatenate(rows)
            order = np.argsort(r, kind="stable")
            r, cc, vv = r[order], np.concatenate(cols)[order], np.concatenate(vals)[order]
        else:
            r = cc = np.zeros(0, dtype=np.int64)
            vv = np.zeros(0)
        starts = np.searchsorted(r, np.arange(len(arcs))).astype(np.int32)
        lower = np.where(lows[arcs] > 0, lows[arcs], -np.inf)
        h.addRows(len(arcs), lower, ups[arcs], len(r), starts, cc.astype(np.int32), vv)
        shortfall = arcs[lows[arcs] > 0]
        art_rows = np.concatenate([row_of[arcs], row_of[shortfall]]).astype(np.int32)
        count = len(art_rows)
        h.addCols(count, np.full(count, 1.0 if phase_one else penalty / unit), np.zeros(count),
                  np.full(count, np.inf), count, np.arange(count, dtype=np.int32), art_rows,
                  np.concatenate([-np.ones(len(arcs)), np.ones(len(shortfall))]))
        art_index.extend(range(num_cols, num_cols + count))
        num_cols += count

    add_columns(list(range(k)), False)
    iterations = 0
    best_lower = -np.inf
    phase_one = False
    reduced = np.zeros(k)
    wanted: list[int] = []

    def set_costs(flow_costs: Any, art_cost: float) -> None:
        if art_index:
            h.changeColsCost(len(art_index), np.array(art_index, dtype=np.int32),
                             np.full(len(art_index), art_cost))
        h.changeColsCost(len(col_index), np.array(col_index, dtype=np.int32), flow_costs / unit)

    # New columns leave the master's last basis primal feasible, so the primal simplex goes
    # on from it: on Mnetgen's 128-16-8 the master took 0.68 s by the primal simplex, 1.75 s
    # by HiGHS's default dual simplex and 1.31 s by the dual after new rows and the primal
    # after new columns. ``options`` may choose otherwise.
    if "simplex_strategy" not in (options or {}):
        h.setOptionValue("simplex_strategy", 4)
    while True:
        if time_limit is not None:
            left = time_limit - (time.perf_counter() - began)
            if left <= 0:
                return finish("time limit reached", iterations=iterations, pivots=pivots,
                              lower=None if np.isinf(best_lower) else float(best_lower))
            # HiGHS's clock runs over all the master's solves.
            h.setOptionValue("time_limit", float(h.getRunTime() + left))
        start = time.perf_counter()
        h.run()
        master_seconds += time.perf_counter() - start
        iterations += 1
        model_status = h.getModelStatus()
        if model_status != highspy.HighsModelStatus.kOptimal:
            return finish(_solve._status_text(h), iterations=iterations, pivots=pivots,
                          lower=None if np.isinf(best_lower) else float(best_lower))
        solution = h.getSolution()
        values = np.asarray(solution.col_value)
        # Bundles the master's flows break join the master before any pricing.
        total = np.zeros(e)
        weights = values[col_index]
        for lam, arcs, amounts in zip(weights, col_arcs, col_flow):
            if lam > 0.0:
                total[arcs] += lam * amounts
        slack = 1e-9 * np.maximum(1.0, np.abs(ups))
        broken = np.flatnonzero(bundled & (row_of < 0) & ((total > ups + slack)
                                                            | (total < lows - slack)))
        if len(broken):
            add_rows(broken, phase_one)
            continue
        duals = np.asarray(solution.row_dual) * unit
        z = float(h.getInfo().objective_function_value) * unit
        artificial = float(values[art_index].sum()) if art_index else 0.0
        # Reduced costs are c - A^T y with HiGHS's row duals y; rows not in the master
        # have dual 0.
        priced = (np.zeros((e, k)) if phase_one else cost.copy())
        if bundle_list:
            priced[np.array(bundle_list), :] -= duals[k:, None]
        status, pivots = price(np.ascontiguousarray(priced))
        reduced = (priced * out).sum(axis=0) - duals[:k]
        lower = z + float(np.minimum(reduced, 0.0).sum())
        scale = max(1.0, abs(z))
        if not phase_one:
            best_lower = max(best_lower, lower)
        wanted = [j for j in range(k) if reduced[j] < -TOLERANCE * scale]
        feasible = artificial <= _ARTIFICIAL_TOLERANCE
        gap_closed = not phase_one and feasible and z - best_lower <= TOLERANCE * scale
        if wanted and not gap_closed and add_columns(wanted, phase_one):
            continue
        if not gap_closed:
            wanted = []  # all already in the master: priced out within HiGHS's tolerances
        # Nothing left to add (or the bound is close enough).
        if phase_one:
            if not feasible:
                return finish("infeasible", iterations=iterations, pivots=pivots)
            phase_one = False
            penalty *= 10.0
            set_costs(np.array(col_cost), penalty / unit)
            continue
        if not feasible:
            # The penalty may only be too small; a phase of pure infeasibility tells.
            phase_one = True
            set_costs(np.zeros(len(col_cost)), 1.0 / unit)
            continue
        break

    weights = values[col_index]
    flows = np.zeros((e, k))
    for lam, j, arcs, amounts in zip(weights, col_commodity, col_arcs, col_flow):
        if lam != 0.0:
            flows[arcs, j] += lam * amounts
    flows += 0.0
    objective = float((cost * flows).sum())
    total = flows.sum(axis=1)
    over = np.maximum(total - ups, 0.0)
    under = np.maximum(lows - total, 0.0)
    convexity = np.abs(np.bincount(col_commodity, weights=weights, minlength=k) - 1.0)
    primal = float(max(over.max(initial=0.0), under.max(initial=0.0),
                       (convexity * np.abs(supply).max(initial=1.0)).max(initial=0.0)))
    dual = float(max(0.0, -reduced.min(initial=0.0)))
    gap = max(0.0, (objective - best_lower) / max(1.0, abs(objective)))
    proven = not wanted
    return finish("optimal" if proven else "approximately optimal", objective, flows,
                  proven=proven, primal=primal, dual=dual, gap=gap, iterations=iterations,
                  pivots=pivots, lower=float(best_lower))
