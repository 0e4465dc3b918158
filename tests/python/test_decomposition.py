"""The decomposition by commodity: its native min-cost flows against HiGHS, and its optima
against the full LP's on every kind of instance."""

import importlib

import numpy as np
import pytest
from conftest import DATA, MNETGEN_DIR, needs_data, write_parts

import korvane
from korvane import solve
from korvane.decomposition import decompose
from korvane.formats import read_mnetgen

highspy = pytest.importorskip("highspy")
native = importlib.import_module("korvane.korvane")

STATUS = {0: "Optimal", 1: "Infeasible", 2: "Unbounded"}


def random_network(rng, k):
    n = int(rng.integers(2, 12))
    m = int(rng.integers(1, 40))
    tails, heads = rng.integers(0, n, m), rng.integers(0, n, m)  # loops and parallel arcs too
    caps = rng.integers(-1, 8, (m, k))  # -1: no bound
    supply = np.zeros((k, n), dtype=np.int64)
    for c in range(k):
        for _ in range(3):
            i, j = rng.integers(0, n, 2)
            q = int(rng.integers(0, 6))
            supply[c, i] += q
            supply[c, j] -= q
    return n, tails.astype(np.int64), heads.astype(np.int64), caps.astype(np.int64), supply


def highs_min_cost_flow(n, tails, heads, caps, supply, cost):
    h = highspy.Highs()
    h.setOptionValue("output_flag", False)
    m = len(tails)
    for a in range(m):
        h.addVar(0.0, highspy.kHighsInf if caps[a] < 0 else float(caps[a]))
    h.changeColsCost(m, np.arange(m, dtype=np.int32), cost)
    for v in range(n):
        arcs = [a for a in range(m) if tails[a] != heads[a] and v in (tails[a], heads[a])]
        coef = [1.0 if tails[a] == v else -1.0 for a in arcs]
        h.addRow(float(supply[v]), float(supply[v]), len(arcs), np.array(arcs, dtype=np.int32),
                 np.array(coef))
    h.run()
    return h.modelStatusToString(h.getModelStatus()), h.getInfo().objective_function_value


@pytest.mark.parametrize("seed", range(40))
def test_native_min_cost_flow_matches_highs(seed):
    # Integer costs (ties, degenerate pivots) on even seeds, fractional on odd ones; each
    # network solved cold, then twice more from its last tree with new costs.
    rng = np.random.default_rng(seed)
    n, tails, heads, caps, supply = random_network(rng, 1)
    flows = native._flows_new(n, tails, heads, caps, supply, 1)
    out = np.zeros((len(tails), 1), dtype=np.int64)
    for _ in range(3):
        cost = rng.integers(-3, 10, len(tails)) + (rng.random(len(tails)) if seed % 2 else 0.0)
        (status,), _ = native._flows_solve(flows, np.ascontiguousarray(cost[:, None], dtype=float),
                                           out, 0)
        expected, optimum = highs_min_cost_flow(n, tails, heads, caps[:, 0], supply[0], cost)
        if STATUS[status] == "Unbounded" and expected == "Infeasible":
            break  # a negative cycle without bound is found before the routing is settled
        assert STATUS[status] == expected
        if expected != "Optimal":
            break
        x = out[:, 0]
        assert (x >= 0).all() and ((caps[:, 0] < 0) | (x <= caps[:, 0])).all()
        balance = np.zeros(n, dtype=np.int64)
        np.add.at(balance, tails, x)
        np.add.at(balance, heads, -x)
        assert (balance == supply[0]).all()
        assert cost @ x == pytest.approx(optimum, rel=1e-9, abs=1e-9)


def test_commodity_flows_are_the_same_on_every_thread_count():
    rng = np.random.default_rng(5)
    n, tails, heads, caps, supply = random_network(rng, 6)
    cost = np.ascontiguousarray(rng.random((len(tails), 6)) * 10 - 1)
    results = []
    for threads in (1, 2, 5):
        flows = native._flows_new(n, tails, heads, caps, supply, 6)
        out = np.zeros((len(tails), 6), dtype=np.int64)
        status, pivots = native._flows_solve(flows, cost, out, threads)
        results.append((status, pivots, out.tobytes()))
    assert results[0] == results[1] == results[2]
    with pytest.raises(ValueError, match="1 capacities per arc"):
        native._flows_new(n, tails, heads, caps, supply, 1)
    with pytest.raises(TypeError, match="cost must be a contiguous float64 array"):
        native._flows_solve(flows, cost.astype(np.float32), out, 0)


HAND = {
    "nod": "2 4 10 1\n",
    "arc": "1 1 3 1 1 10 0\n2 2 3 2 1 10 0\n3 3 4 1 1 10 1\n3 3 4 2 1 10 1\n"
           "4 1 4 1 5 10 0\n5 2 4 2 8 10 0\n",
    "sup": "1 1 10\n4 1 -10\n2 2 10\n4 2 -10\n",
    "mut": "1 12\n",
}


def generated(name, k):
    inst = korvane.load_min_instance(str(DATA / name))
    return inst, korvane.generate_multi_commodity_data(inst, k, 2, randomize_caps=True,
                                                       randomize_costs=True, seed=1)


def dimacs_case(name, k):
    return pytest.param(lambda tmp: generated(name, k), id=f"{name}-K{k}", marks=needs_data)


def mnetgen_case(base):
    return pytest.param(lambda tmp: (read_mnetgen(str(MNETGEN_DIR / base)), None), id=base,
                        marks=pytest.mark.skipif(not MNETGEN_DIR.is_dir(),
                                                 reason=f"{MNETGEN_DIR} is absent"))


def small_case(text, k):
    def make(tmp):
        path = tmp / "n.min"
        path.write_text(text)
        inst = korvane.load_min_instance(str(path))
        return inst, korvane.generate_multi_commodity_data(inst, k, 2, randomize_caps=True,
                                                           cap_a=0.4, randomize_costs=True,
                                                           seed=11)
    return make


CASES = [
    pytest.param(lambda tmp: (read_mnetgen(write_parts(tmp / "h", HAND)), None), id="hand"),
    pytest.param(small_case("p min 5 7\nn 1 9\nn 2 3\nn 5 -12\na 1 3 0 8 2\na 1 3 0 6 3\n"
                            "a 2 3 0 9 1\na 3 5 0 9 4\na 3 4 0 9 1\na 4 5 0 9 1\na 1 5 0 4 9\n", 3),
                 id="generated-K3"),
    # A lower bound and a loop of negative cost.
    pytest.param(small_case("p min 3 4\nn 1 6\nn 3 -6\na 1 2 4 9 5\na 2 3 0 9 1\na 1 3 0 9 1\n"
                            "a 2 2 0 3 -1\n", 2), id="lower-bound-K2"),
    dimacs_case("sample.dmx", 3), dimacs_case("Network3.dmx", 3), dimacs_case("Network3.dmx", 8),
    dimacs_case("inst_4000_8000_5.max.min", 3), dimacs_case("inst_4000_8000_5.max.min", 8),
    mnetgen_case("m01_k2_tiny"), mnetgen_case("m02_k4"), mnetgen_case("m04_k10_all"),
    mnetgen_case("m13_enotation"),
]


@pytest.mark.parametrize("make", CASES)
def test_decomposition_reaches_the_full_lp_optimum(make, tmp_path):
    instance, data = make(tmp_path)
    full = solve.solve(instance, data)
    result, stats = decompose(instance, data)
    assert full.status == "optimal"
    assert (result.status, result.method, result.proven_optimal) == (
        "optimal", "decomposition", True)
    assert result.objective == pytest.approx(full.objective, rel=1e-6)
    assert result.gap <= 1e-6 and result.primal_residual <= 1e-6 * max(1.0, result.objective)
    # The flows are a feasible routing of that cost, and the bound never passes the optimum.
    model = solve.build_model(instance, data)
    x = result.flows.ravel()
    assert (x >= -1e-9).all() and (x <= model.col_upper + 1e-6).all()
    assert model.col_cost @ x == pytest.approx(result.objective, rel=1e-9)
    ax = np.zeros(model.num_rows)
    cols = np.repeat(np.arange(model.num_cols), np.diff(model.start))
    np.add.at(ax, model.index, model.value * x[cols])
    assert (ax >= model.row_lower - 1e-6).all() and (ax <= model.row_upper + 1e-6).all()
    assert stats.lower_bound <= full.objective * (1 + 1e-9) + 1e-9
    assert solve.solve(instance, data, method="decomposition").objective == result.objective


def test_infeasible_unbounded_and_refused(tmp_path):
    def hand(**changes):
        return read_mnetgen(write_parts(tmp_path / "h", {**HAND, **changes}))

    # Both commodities need the 12-unit bundle for 20 units: only the phase of pure
    # infeasibility can tell. Commodity 2 alone cannot send 25 over its routes of 10.
    no_direct = HAND["arc"].replace("4 1 4 1 5 10 0\n5 2 4 2 8 10 0\n", "")
    for changes in ({"arc": no_direct}, {"sup": "1 1 10\n4 1 -10\n2 2 25\n4 2 -25\n"}):
        result = solve.solve(hand(**changes), method="decomposition")
        assert (result.status, result.objective, result.proven_optimal) == (
            "infeasible", None, False)
    # A negative cycle without bound goes to the full LP, which says what it is.
    rec = read_mnetgen(write_parts(tmp_path / "u", {
        "nod": "1 2 2 0\n", "arc": "1 1 2 1 -1 -1 0\n2 2 1 1 0 -1 0\n", "sup": "", "mut": ""}))
    assert (solve.solve(rec, method="decomposition").status) == "unbounded"
    assert solve.solve(hand(), method="decomposition", time_limit=0).status == "time limit reached"
    with pytest.raises(ValueError) as exc:
        solve.solve(hand(arc=HAND["arc"].replace("1 1 3 1 1 10 0", "1 1 3 1 1 9.5 0")),
                    method="decomposition")
    assert str(exc.value) == "the decomposition needs integer capacities"


def _new(tails=(0,), heads=(1,), caps=((5,),), supply=((3, -3),), n=2):
    as_array = lambda v: np.ascontiguousarray(np.array(v, dtype=np.int64))  # noqa: E731
    return native._flows_new(n, as_array(tails), as_array(heads), as_array(caps),
                             as_array(supply), len(supply))


@pytest.mark.parametrize("changes, message", [
    ({"heads": (2,)}, "arc 0 has a node rank outside [0, 2)"),
    ({"caps": ((2**62,),)}, "arc 0 has a capacity above 2^61"),
    ({"supply": ((2**62, -(2**62)),)}, "node 0 has a supply beyond 2^61 in size"),
    ({"supply": ((2**61, 2**61),)}, "the supplies add up beyond 2^61"),
    ({"caps": ((5, 5),)}, "the min-cost flows need 1 capacities per arc and 1 supplies per node"),
])
def test_min_cost_flow_inputs_are_checked(changes, message):
    with pytest.raises(ValueError) as exc:
        _new(**changes)
    assert str(exc.value) == message


def test_min_cost_flow_costs_are_checked():
    flows = _new()
    out = np.zeros((1, 1), dtype=np.int64)
    for cost, message in [(np.zeros((2, 1)), "the min-cost flows need 1 costs and flows per arc"),
                          (np.full((1, 1), np.nan), "arc 0 has a cost that is not finite")]:
        with pytest.raises(ValueError) as exc:
            native._flows_solve(flows, cost, out, 0)
        assert str(exc.value) == message
    # Supplies that do not balance are infeasible, not an error; the solver stays usable.
    assert native._flows_solve(_new(supply=((3, -2),)), np.ones((1, 1)), out, 0)[0] == [1]
    assert native._flows_solve(flows, np.ones((1, 1)), out, 0)[0] == [0] and out[0, 0] == 3
