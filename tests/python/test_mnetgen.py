"""The field's four-file formats from Python: the generator's own files, the writer's text and
round trips, JLF kinds, detection, array views, and how failures surface."""

import gzip
import math
import os

import pytest
from conftest import MNETGEN_DIR, write_parts, zstd

import korvane
from korvane import arrays
from korvane.formats import (MnetgenInstance, MulticommodityProblem, detect, read_jlf,
                             read_mnetgen, to_problem, write_mnetgen)

INF = math.inf

# Expanded lists: a tail head low up cap1 cap2 cost1 cost2. Ids are sparse and negative.
MC_TEXT = """c hand-made
p min 3 4 2 1 1 0 0 0 0
n 10 6 4 2
n 7 -6 -4 -2
a 10 -3 0 9 5 4 2 3
a 10 -3 0 4 3 3 3 3
a -3 7 0 8 6 0 1 1
a 10 7 0 5 5 5 5 7
"""
# -3 -> 1, 7 -> 2, 10 -> 3. A bundle only where up < cap1 + cap2 (arcs 2 and 4); no record
# for commodity 2 on arc 3, whose capacity there is 0. .nod counts arc names, one per line.
FILES = {
    "nod": "2\n3\n4\n2\n",
    "arc": "1\t3\t1\t1\t2\t5\t0\n1\t3\t1\t2\t3\t4\t0\n2\t3\t1\t1\t3\t3\t1\n2\t3\t1\t2\t3\t3\t1\n"
           "3\t1\t2\t1\t1\t6\t0\n4\t3\t2\t1\t5\t5\t2\n4\t3\t2\t2\t7\t5\t2\n",
    "sup": "2\t1\t-4\n2\t2\t-2\n3\t1\t4\n3\t2\t2\n",
    "mut": "1\t4\n2\t5\n",
}


def generator_instances():
    """(base, K, nodes, arc names, bundles, optimum, tolerance) from the folder's SOURCES.md."""
    if not MNETGEN_DIR.is_dir():
        return []
    rows = []
    for line in (MNETGEN_DIR / "SOURCES.md").read_text().splitlines():
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if len(cells) == 7 and (MNETGEN_DIR / f"{cells[0]}.nod").exists():
            decimals = len(cells[6].partition(".")[2])
            rows.append((cells[0], *map(int, cells[1:4]), int(cells[5]), float(cells[6]),
                         0.5 * 10.0**-decimals))
    return rows


GENERATOR = generator_instances()
needs_generator_files = pytest.mark.skipif(
    not GENERATOR, reason=f"no Mnetgen generator instances in {MNETGEN_DIR} (set KORVANE_MNETGEN_DIR, "
                          "or put the folder beside the checkout)")


@pytest.fixture
def parsed(tmp_path):
    (tmp_path / "hand.mc").write_text(MC_TEXT)
    return korvane.load_multi_commodity_instance(str(tmp_path / "hand.mc"))


def written(base, suffix=""):
    return {part: base.with_name(f"{base.name}.{part}{suffix}").read_bytes() for part in FILES}


@needs_generator_files
@pytest.mark.parametrize("base, k, n, names, bundles, optimum, tolerance", GENERATOR)
def test_generator_files_read_and_solve_to_their_optimum(base, k, n, names, bundles, optimum,
                                                         tolerance, tmp_path):
    rec = read_mnetgen(MNETGEN_DIR / base)
    assert (rec.source, rec.num_commodities, rec.num_nodes, rec.num_arcs) == ("mnetgen", k, n, names)
    assert rec.arc_names == list(range(1, names + 1))
    assert sum(map(math.isfinite, rec.bundle_capacities)) == bundles
    # Written back, it reads back equal: real numbers print so that they read back exactly.
    write_mnetgen(tmp_path / base, rec)
    assert read_mnetgen(tmp_path / base) == rec
    solve = pytest.importorskip("korvane.solve")
    pytest.importorskip("highspy")
    result = solve.solve(rec)
    assert result.status == "optimal"
    assert abs(result.objective - optimum) <= tolerance + 1e-9 * abs(optimum)


def test_writer_text_and_round_trips(parsed, tmp_path):
    assert write_mnetgen(tmp_path / "a", parsed) == {-3: 1, 7: 2, 10: 3}
    assert written(tmp_path / "a") == {p: t.encode() for p, t in FILES.items()}
    rec = read_mnetgen(tmp_path / "a")
    assert MnetgenInstance is MulticommodityProblem and isinstance(rec, MulticommodityProblem)
    assert (rec.num_nodes, rec.num_arcs, rec.declared_arcs, rec.num_commodities) == (3, 4, 4, 2)
    assert (rec.tails, rec.heads, rec.arc_names) == ([3, 3, 1, 3], [1, 1, 2, 2], [1, 2, 3, 4])
    assert rec.capacities == [[5, 4], [3, 3], [6, 0], [5, 5]]
    assert rec.costs == [[2, 3], [3, 3], [1, 0], [5, 7]]
    assert rec.bundle_capacities == [INF, 4, INF, 5]
    assert rec.supplies == [[0, 0], [-4, -2], [4, 2]]
    # The record writes the same files again; gzip and zstd parts hold the same text.
    write_mnetgen(tmp_path / "b", rec)
    assert written(tmp_path / "b") == written(tmp_path / "a")
    write_mnetgen(tmp_path / "c", rec, compress=True)
    assert {p: gzip.decompress(t) for p, t in written(tmp_path / "c", ".gz").items()} == \
        written(tmp_path / "a")
    write_mnetgen(tmp_path / "z", rec, compress="zstd")
    for name in ("c", "z"):
        assert read_mnetgen(tmp_path / name) == rec
    assert rec != read_mnetgen(write_parts(tmp_path / "d", {**FILES, "mut": "1 4\n2 6\n"}))


# Written back, a problem read from files keeps its arc names and .nod's declared arc count, and
# files that declare arcs but name none write too. A commodity's cost on an arc it may not use
# (capacity 0) is not kept: it has no record, as in the generator's files, and reads back 0.
ONE_COMMODITY = {"sup": "1 1 3\n3 1 -3\n", "mut": ""}


@pytest.mark.parametrize("parts, names, declared, costs", [
    ({"nod": "1 3 10 1", "arc": "4 1 2 1 2 5 0\n9 2 3 1 3 -1 1\n", "mut": "1 4\n"}, [4, 9], 10,
     [[2], [3]]),
    ({"nod": "1 3 5 0", "arc": ""}, [], 5, []),
    ({"nod": "2 3 1 0", "arc": "1 1 3 1 5 3 0\n1 1 3 2 7 0 0\n", "sup": "1 -1 3\n3 -1 -3\n"}, [1],
     1, [[5, 0]]),
])
def test_read_problems_written_back_keep_names_and_declared_counts(tmp_path, parts, names,
                                                                   declared, costs):
    rec = read_mnetgen(write_parts(tmp_path / "in", {**ONE_COMMODITY, **parts}))
    write_mnetgen(tmp_path / "out", rec)
    back = read_mnetgen(tmp_path / "out")
    assert (back.arc_names, back.declared_arcs, back.costs) == (names, declared, costs)
    kept = ("num_nodes", "num_commodities", "tails", "heads", "capacities", "bundle_capacities",
            "supplies")
    assert [getattr(back, name) for name in kept] == [getattr(rec, name) for name in kept]
    assert (back == rec) == (rec.costs == costs)


def test_network_with_generated_data_round_trips(net, tmp_path):
    inst = net("p min 4 5\nn 4 7\nn 1 -7\na 4 2 0 9 2\na 4 2 0 8 3\na 2 1 0 7 -1\n"
               "a 4 3 0 9 1\na 3 1 0 2 4\n")
    data = korvane.generate_multi_commodity_data(inst, 3, 0, randomize_caps=True, cap_a=0.2,
                                                 cap_b=0.6, randomize_costs=True, seed=9)
    renumber = write_mnetgen(str(tmp_path / "g"), inst, data)
    rec = read_mnetgen(str(tmp_path / "g"))
    assert rec.node_ids == [1, 2, 3, 4] and renumber == {1: 1, 2: 2, 3: 3, 4: 4}
    assert list(zip(rec.tails, rec.heads)) == [(t, h) for t, h, _ in inst.arcs]
    caps = list(data.capacities_by_arc.values())
    costs = list(data.weights_by_arc.values())
    assert rec.capacities == caps
    # A commodity that may not use an arc has no record there, so its cost reads as 0.
    assert rec.costs == [[c if cap else 0 for c, cap in zip(cs, ks)] for cs, ks in zip(costs, caps)]
    assert rec.supplies == [data.supply_partition.get(node, [0, 0, 0]) for node in range(1, 5)]
    assert rec.bundle_capacities == [up if up < sum(c) else INF
                                     for up, c in zip(inst.capacities, caps)]
    assert to_problem(inst, data).node_ids == [1, 2, 3, 4]


@pytest.mark.parametrize("text, message", [
    ("p min 2 2\na 1 2 0 5 3\na 1 2 2 5 3\n", "lower bound 2"),
    ("p min 2 2\na 1 2 0 5 3\na 2 2 0 5 3\n", "self-loop"),
    ("p min 1 0\nn 1 0\n", "1 nodes and 0 arcs"),  # the reader refuses n <= 1, m <= 0
])
def test_what_the_format_cannot_hold_is_refused_before_any_file(net, tmp_path, text, message):
    inst = net(text)
    data = korvane.generate_multi_commodity_data(inst, 1, 1)
    with pytest.raises(ValueError, match=message) as exc:
        write_mnetgen(tmp_path / "x", inst, data)
    assert "arc" in str(exc.value)
    assert list(tmp_path.glob("*x*")) == []


def test_a_failed_write_raises_oserror(tmp_path):
    # The old parts left whole: test_mnetgen_writer.cpp.
    (tmp_path / "old.mut").mkdir()  # the last part cannot be written
    with pytest.raises(OSError, match="old.mut"):
        write_mnetgen(tmp_path / "old", read_mnetgen(write_parts(tmp_path / "other", FILES)))


def test_bundle_records_are_read_by_position_not_by_label(tmp_path):
    # The i-th .mut record bounds the arcs with pointer i; its label is read and ignored.
    want = read_mnetgen(write_parts(tmp_path / "plain", FILES)).bundle_capacities
    for labels in ("2 4\n1 5\n", "9 4\n-3.5 5\n"):
        got = read_mnetgen(write_parts(tmp_path / "x", {**FILES, "mut": labels}))
        assert got.bundle_capacities == want == [INF, 4, INF, 5]


def test_files_of_the_earlier_writer_still_read(tmp_path):
    # It counted arc lines (arcs x K) in .nod: the names beyond the used ones carry nothing.
    rec = read_mnetgen(write_parts(tmp_path / "old", {**FILES, "nod": "2\t3\t7\t2\n"}))
    assert (rec.num_arcs, rec.declared_arcs) == (4, 7)
    assert rec.capacities == read_mnetgen(write_parts(tmp_path / "new", FILES)).capacities


@pytest.mark.parametrize("part, text, cls, words", [
    ("sup", "1 3 5\n", ValueError, ["x.sup line 1", "commodity"]),
    ("sup", "\n\n4 1\n5\n", ValueError, ["x.sup line 3", "node"]),
    ("arc", "1 3 1 1 2 5 0\n2 2 2 1 1 1 0\n", ValueError, ["x.arc line 2", "itself"]),
    ("arc", "1 3 1 1 2 5 7\n", ValueError, ["x.arc line 1", "7"]),
    ("nod", "2 1 4 2", ValueError, ["x.nod", "1"]),
    ("nod", "9223372036854775808 3 4 2", ValueError, ["x.nod", "9223372036854775808"]),
])
def test_reader_refusals_name_file_and_line(parsed, tmp_path, part, text, cls, words):
    write_mnetgen(tmp_path / "x", parsed)
    (tmp_path / f"x.{part}").write_text(text)
    with pytest.raises(cls) as exc:
        read_mnetgen(tmp_path / "x")
    assert all(w in str(exc.value) for w in words), str(exc.value)


# An integer field takes an integer, or a real whose text denotes one exactly (generators that
# print with "%f" write 3.000000), decided from the text, never from a rounded double.
@pytest.mark.parametrize("token, exact", [
    ("3.000000", True), ("0.3e1", True), ("+30e-1", True),
    ("3.0000000000000001", False), ("2.9999999999999999", False), ("1e-400", False),
    ("2.5", False), ("3e-1", False),
])
def test_integer_fields_take_reals_only_when_their_text_is_an_integer(tmp_path, token, exact):
    sup = FILES["sup"].replace("3\t1\t4", f"{token}\t1\t4")
    base = write_parts(tmp_path / "x", {**FILES, "sup": sup})
    if exact:
        assert read_mnetgen(base) == read_mnetgen(write_parts(tmp_path / "plain", FILES))
        return
    with pytest.raises(ValueError) as exc:
        read_mnetgen(base)
    assert str(exc.value) == f"{base}.sup line 3: node {token} is not an integer"


def test_missing_and_damaged_parts(parsed, tmp_path):
    write_mnetgen(tmp_path / "x", parsed)
    (tmp_path / "x.mut").unlink()
    with pytest.raises(FileNotFoundError, match="x.mut.gz"):
        read_mnetgen(tmp_path / "x")
    (tmp_path / "x.mut.gz").write_bytes(gzip.compress(FILES["mut"].encode())[:-4])
    with pytest.raises(OSError, match="gzip stream"):
        read_mnetgen(tmp_path / "x")
    # Whatever bit of a compressed part flips, the read gives the record or says the stream
    # is damaged: never a parse error about damaged text, never the wrong numbers. (Flips
    # in the magic bytes leave a file that is not gzip: it reads as text, and fails so.)
    write_mnetgen(tmp_path / "x", parsed)
    want = read_mnetgen(tmp_path / "x")
    packed = gzip.compress(FILES["arc"].encode(), mtime=0)
    (tmp_path / "x.arc").unlink()
    outcomes = set()
    for bit in range(16, 8 * len(packed)):
        damaged = bytearray(packed)
        damaged[bit // 8] ^= 1 << bit % 8
        (tmp_path / "x.arc.gz").write_bytes(bytes(damaged))
        try:
            assert read_mnetgen(tmp_path / "x") == want
            outcomes.add("read")
        except OSError as exc:
            assert "gzip stream" in str(exc), str(exc)
            outcomes.add("damaged")
    assert outcomes == {"read", "damaged"}


# JLF cases whose optimum follows by hand (see each comment).
JLF = {
    # Products 1 and 2 from node 1 to node 3, 5 of each (product -1), product 2 then replaced
    # by 4. Arcs: 1->3 direct (cost 10, bundle -1: unbounded); 1->2 (cost 1, 4 per product);
    # 2->3 for product 1 (cost 1, cap 3) joined by product 2 (cost 2), and a parallel 2->3
    # for product 1 (cost 3). Product 1: 3 via 1-2-3 (2 each), 1 via the parallel (4), 1 direct
    # (10) = 20; product 2: 4 via 1-2-3 (3 each) = 12. Optimum 32.
    "psp": ({"nod": "2 3 10 1\n", "mut": "1 -1\n",
             "sup": "1 -1 -1 5\n-1 3 -1 5\n1 -1 2 4\n-1 3 2 4\n",
             "arc": "1 3 -1 10 -1 -1 -1 1\n1 2 -1 1 4 -1 -1 0\n2 3 1 1 3 -1 -1 0\n"
                    "2 3 2 2 -1 -1 -1 0\n2 3 1 3 -1 -1 -1 0\n"}, 2, 4, 32),
    # Commodities (product 1, origin 1): 3 units, (1, 2): 2 units, both to node 4. 3->4 has a
    # bundle of 4 and costs 1, but 5 for origin 2's commodity (a later record replaces); 1->4
    # is only for origin 1 (cost 10). Origin 2 needs 2 of the bundle (12); origin 1 takes the
    # other 2 (2 each) and 1 direct (10). Optimum 26.
    "osp": ({"nod": "1 4 10 1\n", "mut": "1 4\n",
             "sup": "1 -1 1 3\n2 -1 1 2\n1 4 1 3\n2 4 1 2\n",
             "arc": "1 3 1 1 -1 -1 -1 0\n2 3 1 1 -1 -1 -1 0\n3 4 1 1 4 -1 -1 1\n"
                    "3 4 1 5 -1 2 -1 1\n1 4 1 10 -1 1 -1 0\n"}, 2, 4, 26),
    # Commodities 1->3 (4 units) and 2->3 (2 units). 2->3 bundled (cost 1, bundle 5), two
    # parallel unbundled 2->3 arcs for origin 2 (costs 4 and 6), 1->2 (cost 1), 1->3 direct
    # for commodity 1 (cost 7). Commodity 1 takes 4 of the bundle (8), commodity 2 the last
    # unit (1) and 1 on the cost-4 arc. Optimum 13.
    "ods": ({"nod": "1 3 6 1\n", "mut": "1 5\n", "sup": "1 3 1 4\n2 3 1 2\n",
             "arc": "1 2 1 1 -1 -1 -1 0\n2 3 1 1 5 -1 -1 1\n1 3 1 7 -1 1 3 0\n"
                    "2 3 1 4 -1 2 -1 0\n2 3 1 6 -1 2 -1 0\n"}, 2, 5, 13),
}


@pytest.mark.parametrize("kind", JLF)
def test_jlf_kinds_read_and_solve(kind, tmp_path):
    parts, k, arcs, optimum = JLF[kind]
    base = write_parts(tmp_path / kind, parts)
    rec = read_jlf(base, kind)
    assert (rec.source, rec.num_commodities, rec.num_arcs) == (kind, k, arcs)
    assert detect(f"{base}.arc").format == "jlf"
    if kind == "ods":  # ODS sets often ship the supply part as BASE.od
        os.rename(f"{base}.sup", f"{base}.od")
        assert read_jlf(base, kind, supply=f"{base}.od") == rec
    solve = pytest.importorskip("korvane.solve")
    pytest.importorskip("highspy")
    result = solve.solve(rec)
    assert (result.status, result.objective) == ("optimal", optimum)


def test_detect_tells_every_format(parsed, tmp_path):
    write_mnetgen(tmp_path / "m", parsed)
    (tmp_path / "i.mcf").write_text(MC_TEXT)
    (tmp_path / "i.mcf.zst").write_bytes(zstd(MC_TEXT.encode()))
    (tmp_path / "n.gz").write_bytes(gzip.compress(b"p min 2 1\na 1 2 0 1 1\n"))
    cases = {tmp_path / "m": ("mnetgen", None), tmp_path / "m.sup": ("mnetgen", None),
             tmp_path / "i.mcf": ("mcf", None), tmp_path / "i.mcf.zst": ("mcf", "zstd"),
             tmp_path / "n.gz": ("min", "gzip")}
    assert {p: (d.format, d.compression) for p in cases for d in [detect(p)]} == cases
    assert detect(tmp_path / "m.nod").base == str(tmp_path / "m")
    with pytest.raises(OSError):
        detect(tmp_path / "nothing.min")


def test_problem_arrays_view_the_record(parsed, tmp_path):
    np = pytest.importorskip("numpy")
    write_mnetgen(tmp_path / "a", parsed)
    rec = read_mnetgen(tmp_path / "a")
    first, second = arrays.problem_arrays(rec), arrays.problem_arrays(rec)
    assert first["cost"].dtype == np.float64 and first["tail"].dtype == np.int64
    assert first["capacity"].tolist() == rec.capacities
    assert first["supply"].tolist() == rec.supplies
    assert first["bundle"].tolist() == rec.bundle_capacities
    assert first["node_id"].tolist() == [1, 2, 3]
    for name in ("tail", "head", "arc_name", "cost", "capacity", "bundle", "supply"):
        assert np.shares_memory(first[name], second[name]) and not first[name].flags.writeable
    del rec
    assert first["cost"].shape == (4, 2)  # the views keep the record alive


def test_converted_records_keep_their_node_ids(parsed):
    problem = to_problem(parsed)
    assert (problem.source, problem.node_ids) == ("korvane", [-3, 7, 10])
    assert problem == to_problem(parsed) and to_problem(problem) is problem
    assert problem.costs[2] == [1, 1]  # kept here; only a file drops what cannot be used
    with pytest.raises(TypeError, match="expected a NetworkInstance"):
        to_problem({"not": "a record"})
