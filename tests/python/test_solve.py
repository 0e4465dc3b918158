"""The arc-flow model handed to HiGHS: optima, feasibility diagnosis, model files, extras."""

import math
import re
import sys
from types import SimpleNamespace

import numpy as np
import pytest
from conftest import DATA, needs_data, saved_and_read, write_parts

import korvane
from korvane import solve
from korvane.formats import read_mnetgen, write_mnetgen

nx = pytest.importorskip("networkx")


def network_simplex_optimum(inst):
    """networkx's optimum on a multigraph; lower bounds are moved into the supplies."""
    g = nx.MultiDiGraph()
    supply = dict.fromkeys(inst.nodes, 0)
    supply.update(inst.supplies)
    offset = 0
    for e in inst.edges:
        supply[e.tail] -= e.low
        supply[e.head] += e.low
        offset += e.low * e.cost
        g.add_edge(e.tail, e.head, capacity=e.up - e.low, weight=e.cost)
    for node, amount in supply.items():
        g.add_node(node, demand=-amount)
    try:
        return nx.network_simplex(g)[0] + offset
    except nx.NetworkXUnfeasible:
        return "infeasible"


# netgen_8_14a.min (131k arcs) is left out: networkx needs about 40 s and HiGHS about a minute.
@needs_data
@pytest.mark.parametrize("name", ["negative_weight_cycle.min", "sample.dmx", "Network3.dmx",
                                  "Network1.dmx", "inst_4000_8000_5.max.min"])
def test_single_commodity_optimum_matches_network_simplex(name):
    inst = korvane.load_min_instance(str(DATA / name))
    expected = network_simplex_optimum(inst)
    data = korvane.generate_multi_commodity_data(inst, 1, 1)  # K = 1, nothing randomised
    # korvane's HiGHS defaults and HiGHS's own (presolve on) reach the same optimum.
    for result in (solve.solve(inst, data), solve.solve(inst),
                   solve.solve(inst, options={"presolve": "choose"})):
        assert result.status == "optimal" and result.objective == expected
        assert result.flows.shape == (len(inst.edges), 1)


def test_lower_bounds_and_loops(net):
    # Arc 1->2 must carry at least 4 although the direct arc 1->3 is cheaper; the loop is free
    # to carry flow and costs nothing to leave empty.
    inst = net("p min 3 4\nn 1 6\nn 3 -6\na 1 2 4 9 5\na 2 3 0 9 1\na 1 3 0 9 1\na 2 2 0 3 -1\n")
    result = solve.solve(inst)
    assert result.objective == network_simplex_optimum(inst) == 4 * 6 + 2 * 1 - 3
    assert result.flows[:, 0].tolist() == [4, 4, 2, 3]


# Two commodities share the bundled arc 3->4 (12 units): commodity 1 goes 1->3->4 or 1->4
# (cost 5), commodity 2 goes 2->3->4 or 2->4 (cost 8); each route through 3 costs 2. Diverting
# a unit of commodity 1 costs 3 more, of commodity 2 6 more, so commodity 2 takes 10 of the
# 12 units: objective 2*2 + 8*5 + 10*2 = 64.
HAND = {
    "nod": "2 4 10 1\n",
    "arc": "1 1 3 1 1 10 0\n2 2 3 2 1 10 0\n3 3 4 1 1 10 1\n3 3 4 2 1 10 1\n"
           "4 1 4 1 5 10 0\n5 2 4 2 8 10 0\n",
    "sup": "1 1 10\n4 1 -10\n2 2 10\n4 2 -10\n",
    "mut": "1 12\n",
}


@pytest.fixture
def hand(tmp_path):
    return lambda **changes: read_mnetgen(write_parts(tmp_path / "h", {**HAND, **changes}))


def test_two_commodities_share_a_bundle(hand, tmp_path):
    result = solve.solve(hand())
    assert (result.status, result.objective) == ("optimal", 64)
    assert result.flows.tolist() == [[2, 0], [0, 10], [2, 10], [8, 0], [0, 0]]
    assert solve.check_feasible(hand()).feasible
    # The model file solves to the same optimum in a fresh HiGHS.
    highspy = pytest.importorskip("highspy")
    for name in ("h.mps", "h.lp"):
        solve.write_model(tmp_path / name, hand())
        h = highspy.Highs()
        h.setOptionValue("output_flag", False)
        h.readModel(str(tmp_path / name))
        h.run()
        assert h.getInfo().objective_function_value == 64
        # Columns and rows are named after the file's arcs, commodities and nodes, so the
        # solution maps back: commodity 2 sends 10 over arc 3, the bundle carries 12.
        values = h.getSolution().col_value
        assert values[h.getColByName("x_3_2")[1]] == 10
        rows = h.getSolution().row_value
        assert [rows[h.getRowByName(r)[1]] for r in ("bundle_3", "flow_4_2")] == [12, -10]
    with pytest.raises(ValueError, match="use a .mps or .lp name"):
        solve.write_model(tmp_path / "h.txt", hand())


def test_infeasibility_is_traced(hand):
    # Without the direct arcs both commodities need 3->4, whose bundle holds 12 of 20.
    no_direct = HAND["arc"].replace("4 1 4 1 5 10 0\n5 2 4 2 8 10 0\n", "")
    assert solve.solve(hand(arc=no_direct)).status == "infeasible"
    for options in (None, {"presolve": "on"}):
        report = solve.check_feasible(hand(arc=no_direct), options=options)
        assert (report.feasible, report.infeasible_commodities, report.violated_bundles) == (
            False, [], [2])
    # Commodity 2 alone cannot send 25 through its two routes of 10.
    report = solve.check_feasible(hand(sup="1 1 10\n4 1 -10\n2 2 25\n4 2 -25\n"))
    assert (report.feasible, report.infeasible_commodities, report.violated_bundles) == (
        False, [1], [])


def test_every_instance_kind_gives_one_model(net, tmp_path):
    inst = net("p min 5 7\nn 1 9\nn 2 3\nn 5 -12\na 1 3 0 8 2\na 1 3 0 6 3\na 2 3 0 9 1\n"
               "a 3 5 0 9 4\na 3 4 0 9 1\na 4 5 0 9 1\na 1 5 0 4 9\n")
    data = korvane.generate_multi_commodity_data(inst, 3, 2, randomize_caps=True, cap_a=0.4,
                                                 randomize_costs=True, seed=11)
    write_mnetgen(tmp_path / "i", inst, data)
    results = [solve.solve(inst, data), solve.solve(saved_and_read(tmp_path / "i.mc", inst, data)),
               solve.solve(read_mnetgen(tmp_path / "i"))]
    assert {(r.status, r.objective) for r in results} == {("optimal", results[0].objective)}
    flows = results[0].flows
    caps = np.array(list(data.capacities_by_arc.values()))
    assert (flows >= 0).all() and (flows <= caps).all()
    assert (flows.sum(axis=1) <= np.array(inst.capacities)).all()
    with pytest.raises(TypeError, match="expected a NetworkInstance"):
        solve.solve({"not": "an instance"})


@pytest.mark.parametrize("missing", ["highspy", "numpy"])
def test_missing_extra_is_named(missing, hand, monkeypatch):
    monkeypatch.setitem(sys.modules, missing, None)
    with pytest.raises(ImportError) as exc:
        solve.solve(hand())
    assert str(exc.value) == (f"korvane.solve needs {missing}: pip install highspy numpy (or "
                              "'korvane[solve]' by name, '.[solve]' from a checkout)")


def test_unbounded_commodity_on_a_negative_cycle(tmp_path):
    # Mnetgen's -1 leaves the commodity unbounded; the cycle 1->2->1 costs -1 per unit.
    rec = read_mnetgen(write_parts(tmp_path / "u", {
        "nod": "1 2 2 0\n", "arc": "1 1 2 1 -1 -1 0\n2 2 1 1 0 -1 0\n", "sup": "", "mut": ""}))
    # With presolve on, HiGHS first cannot tell unbounded from infeasible; the rerun can.
    for options in (None, {"presolve": "on"}):
        result = solve.solve(rec, options=options)
        assert (result.status, result.objective, result.flows) == ("unbounded", None, None)
    assert solve.check_feasible(rec).feasible


# What HiGHS is given: korvane's defaults (presolve off, as the README documents), then a
# call's options, then the time limit; for a solve and for each model of a feasibility check.
@pytest.mark.parametrize("options, time_limit, given", [
    (None, None, {"presolve": "off", "time_limit": math.inf}),
    ({"presolve": "choose"}, None, {"presolve": "choose"}),
    ({"presolve": "on", "time_limit": 5.0}, 7.0, {"presolve": "on", "time_limit": 7.0}),
])
def test_the_options_highs_is_given(hand, monkeypatch, options, time_limit, given):
    made = []
    new_highs = solve._new_highs
    monkeypatch.setattr(solve, "_new_highs", lambda highspy: made.append(new_highs(highspy)) or made[-1])
    for call in (solve.solve, solve.check_feasible):
        made.clear()
        call(hand(), options=options, time_limit=time_limit)
        assert made and all({name: h.getOptionValue(name)[1] for name in given} == given for h in made)


@pytest.mark.parametrize("options, refused", [
    ({"no_such_option": 1}, "no_such_option=1"), ({"presolve": "sometimes"}, "presolve='sometimes'"),
    ({"threads": True}, "threads=True")])
def test_options_highs_refuses_are_value_errors(hand, options, refused):
    for call in (solve.solve, solve.check_feasible):
        with pytest.raises(ValueError, match=f"HiGHS refused the option {re.escape(refused)}"):
            call(hand(), options=options)


def _full_lp_runs(monkeypatch):
    """The number of commodities of every model solve._run is given, in order."""
    seen = []
    run = solve._run

    def recording(model, *args):
        seen.append(model.num_commodities)
        return run(model, *args)

    monkeypatch.setattr(solve, "_run", recording)
    return seen


# Each commodity's two routes hold 20 units; 3->4's bundle holds 12.
NO_DIRECT = HAND["arc"].replace("4 1 4 1 5 10 0\n5 2 4 2 8 10 0\n", "")


@pytest.mark.parametrize("changes, alone, bundles", [
    ({"sup": "1 1 10\n4 1 -10\n2 2 25\n4 2 -25\n"}, [1], []),
    ({"sup": "1 1 25\n4 1 -25\n2 2 25\n4 2 -25\n"}, [0, 1], []),
    # Commodity 0 has no arc into node 4 at all once arcs 1 and 4 are gone.
    ({"arc": "2 2 3 2 1 10 0\n3 3 4 2 1 10 1\n5 2 4 2 8 10 0\n"}, [0], []),
    ({"arc": NO_DIRECT}, [], [2]),
    ({}, [], []),
])
def test_commodity_screen_before_the_full_lp(hand, monkeypatch, changes, alone, bundles):
    rec = hand(**changes)
    # The verdict the full LP gives, without any screen.
    full = solve.solve(rec).status
    runs = _full_lp_runs(monkeypatch)
    report = solve.check_feasible(rec)
    assert (report.feasible, report.infeasible_commodities, report.violated_bundles) == (
        full == "optimal", alone, bundles)
    assert (full == "infeasible") == (not report.feasible)
    if alone:
        assert report.reason == f"commodities {alone} cannot be routed even without the bundles"
        # Settled by the screen: no LP at all.
        assert runs == []
        assert solve.screen_commodities(rec, first_only=True) == alone[:1]
    else:
        assert runs[:1] == [2]


@pytest.mark.parametrize("method, status, proven", [
    ("simplex", "optimal", True), ("ipm", "optimal", True), ("auto", "optimal", True),
    ("pdlp", "approximately optimal", False)])
def test_methods_report_how_sure_they_are(hand, method, status, proven):
    result = solve.solve(hand(), method=method)
    assert (result.status, result.proven_optimal) == (status, proven)
    assert result.method == ("simplex" if method == "auto" else method)
    assert result.primal_residual is not None and result.dual_residual is not None
    if proven:
        assert result.objective == 64 and result.primal_residual <= 1e-9
        assert result.flows.tolist() == [[2, 0], [0, 10], [2, 10], [8, 0], [0, 0]]
    else:
        # A first-order answer is close, not exact; its residuals say so.
        assert result.objective == pytest.approx(64, rel=1e-3)
        assert result.flows.shape == (5, 2)


def test_unproven_answers_and_bad_methods(hand):
    # The interior point answer without crossover is no vertex: never reported as optimal.
    result = solve.solve(hand(), method="ipm", options={"run_crossover": "off"})
    assert (result.status, result.proven_optimal) == ("approximately optimal", False)
    assert result.objective == pytest.approx(64, rel=1e-6)
    # An infeasible instance is no optimum for any method.
    for method in ("simplex", "ipm"):
        result = solve.solve(hand(arc=NO_DIRECT), method=method)
        assert (result.status, result.proven_optimal, result.objective) == (
            "infeasible", False, None)
    # "auto" hands a large model to the interior point method, still to a proven optimum.
    with pytest.MonkeyPatch.context() as patch:
        patch.setattr(solve, "AUTO_IPM_COLUMNS", 0)
        patch.setattr(solve, "AUTO_IPM_ARCS", 0)
        result = solve.solve(hand())
        assert (result.method, result.status, result.objective) == ("ipm", "optimal", 64)
    with pytest.raises(ValueError, match="method must be one of auto, simplex, ipm, pdlp"):
        solve.solve(hand(), method="barrier")


# Models of the shapes the solver ladder measured: arcs, arcs x K, and the faster method.
@pytest.mark.parametrize("arcs, columns, method", [
    (131_072, 2 * 131_072, "simplex"),     # NETGEN, K = 2
    (131_072, 4 * 131_072, "ipm"),         # NETGEN, K = 4
    (8_192, 64 * 8_192, "ipm"),            # NETGEN, K = 64
    (4_096, 128 * 4_096, "ipm"),           # NETGEN, K = 128
    (2_143, 256 * 2_143, "simplex"),       # Mnetgen 256-256-9
    (2_347, 128 * 2_347, "simplex"),       # Mnetgen 256-128-9
    (solve.AUTO_IPM_ARCS + 1, solve.AUTO_IPM_COLUMNS + 1, "ipm"),
    (solve.AUTO_IPM_ARCS, solve.AUTO_IPM_COLUMNS + 1, "simplex"),
    (solve.AUTO_IPM_ARCS + 1, solve.AUTO_IPM_COLUMNS, "simplex"),
])
def test_auto_picks_the_faster_method_of_the_ladder(arcs, columns, method):
    shape = SimpleNamespace(num_arcs=arcs, num_cols=columns)
    assert solve._auto_method(shape) == method


def networkx_infeasible(inst, data):
    """The commodities whose supplies networkx's maximum flow cannot route alone."""
    failed = []
    caps = list(data.capacities_by_arc.values())
    for c in range(data.num_commodities):
        g = nx.DiGraph()
        for a, e in enumerate(inst.edges):
            if e.tail != e.head and caps[a][c] > 0:
                # Parallel arcs add up on one networkx edge.
                old = g.get_edge_data(e.tail, e.head, {"capacity": 0})["capacity"]
                g.add_edge(e.tail, e.head, capacity=old + caps[a][c])
        g.add_nodes_from(["s", "t"])
        total = 0
        for node, amounts in data.supply_partition.items():
            amount = amounts[c]
            if amount > 0:
                g.add_edge("s", node, capacity=amount)
                total += amount
            elif amount < 0:
                g.add_edge(node, "t", capacity=-amount)
        if total and nx.maximum_flow_value(g, "s", "t") < total:
            failed.append(c)
    return failed


@needs_data
@pytest.mark.parametrize("name", ["sample.dmx", "Network3.dmx", "Network1.dmx"])
def test_screen_matches_networkx_maximum_flow(name):
    inst = korvane.load_min_instance(str(DATA / name))
    verdicts = set()
    for seed, zero in [(1, 0.05), (2, 0.2), (3, 0.4), (4, 0.0), (5, 0.6)]:
        data = korvane.generate_multi_commodity_data(
            inst, 4, 2, randomize_caps=True, cap_zero=zero > 0, cap_zero_param=zero or 0.5,
            seed=seed)
        expected = networkx_infeasible(inst, data)
        assert solve.screen_commodities(inst, data) == expected
        assert solve.screen_commodities(inst, data, first_only=True) == expected[:1]
        verdicts.add(bool(expected))
    assert verdicts == {True, False}  # both kinds were met


def test_screen_inputs_are_checked():
    native = solve._native
    ranks = np.array([0, 1], dtype=np.int64)
    ok = (3, ranks, ranks + 1, np.ones(2), np.array([1.0, 0.0, -1.0]), 1, False)
    assert native._screen_commodities(*ok) == []
    # Supplies that do not sum to zero cannot be met; an open arc (inf) carries anything.
    unbalanced = ok[:4] + (np.array([2.0, 0.0, -1.0]),) + ok[5:]
    assert native._screen_commodities(*unbalanced) == [0]
    wide = ok[:3] + (np.array([np.inf, 5.0]), np.array([5.0, 0.0, -5.0])) + ok[5:]
    assert native._screen_commodities(*wide) == []
    for bad, error in [((3, ranks, ranks + 2) + ok[3:], "outside"),
                       (ok[:3] + (np.ones(3),) + ok[4:], "capacities per arc"),
                       (ok[:5] + (2,) + ok[6:], "capacities per arc")]:
        with pytest.raises(ValueError, match=error):
            native._screen_commodities(*bad)
    with pytest.raises(TypeError, match="tails must be a contiguous int64 array"):
        native._screen_commodities(3, ranks.astype(np.int32), *ok[2:])
