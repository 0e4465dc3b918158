"""The four-file Mnetgen format: writer text, round trips, real suites' files, refusals."""

import gzip

import pytest
from conftest import write_parts

import korvane
from korvane.formats import read_mnetgen, write_mnetgen

# Expanded lists: a tail head low up cap1 cap2 cost1 cost2. Ids are sparse and negative.
MC_TEXT = """c hand-made
p min 3 5 2 1 1 0 0 0 0
n 10 6 4 2
n 7 -6 -4 -2
a 10 -3 0 9 5 4 2 3
a 10 -3 0 4 3 3 3 3
a -3 7 0 8 6 0 1 1
a 10 7 0 5 5 5 5 7
a 7 7 0 3 1 2 1 1
"""
# -3 -> 1, 7 -> 2, 10 -> 3; a bundle only where up < cap1 + cap2 (arcs 2 and 4).
FILES = {
    "nod": "2\t3\t10\t2\n",
    "arc": "1\t3\t1\t1\t2\t5\t0\n1\t3\t1\t2\t3\t4\t0\n2\t3\t1\t1\t3\t3\t1\n2\t3\t1\t2\t3\t3\t1\n"
           "3\t1\t2\t1\t1\t6\t0\n3\t1\t2\t2\t1\t0\t0\n4\t3\t2\t1\t5\t5\t2\n4\t3\t2\t2\t7\t5\t2\n"
           "5\t2\t2\t1\t1\t1\t0\n5\t2\t2\t2\t1\t2\t0\n",
    "sup": "2\t1\t-4\n2\t2\t-2\n3\t1\t4\n3\t2\t2\n",
    "mut": "1\t4\n2\t5\n",
}


@pytest.fixture
def parsed(tmp_path):
    (tmp_path / "hand.mc").write_text(MC_TEXT)
    return korvane.load_multi_commodity_instance(str(tmp_path / "hand.mc"))


def written(base):
    return {part: base.with_name(f"{base.name}.{part}").read_text() for part in FILES}


def test_writer_text_and_round_trip(parsed, tmp_path):
    assert write_mnetgen(tmp_path / "a", parsed) == {-3: 1, 7: 2, 10: 3}
    assert written(tmp_path / "a") == FILES
    rec = read_mnetgen(tmp_path / "a")
    assert (rec.num_nodes, rec.num_arcs, rec.num_commodities) == (3, 5, 2)
    assert rec.edges == [(3, 1, 0), (3, 1, 1), (1, 2, 0), (3, 2, 0), (2, 2, 0)]
    assert (rec.tails, rec.heads) == ([3, 3, 1, 3, 2], [1, 1, 2, 2, 2])
    assert rec.bundle_capacities == [None, 4, None, 5, None]
    assert list(rec.commodity_capacities) == sorted(rec.edges)
    assert rec.commodity_capacities[3, 1, 1] == [3, 3] and rec.commodity_weights[3, 2, 0] == [5, 7]
    assert rec.supply_partition == {2: [-4, -2], 3: [4, 2]}
    # The record writes the same files again, compressed or not, and gzip parts read alike.
    write_mnetgen(tmp_path / "b", rec)
    assert written(tmp_path / "b") == FILES
    write_mnetgen(tmp_path / "c", rec, compress=True)
    unpacked = {p: gzip.decompress((tmp_path / f"c.{p}.gz").read_bytes()).decode() for p in FILES}
    assert unpacked == FILES
    assert read_mnetgen(tmp_path / "c") == rec


def test_network_with_generated_data_round_trips(net, tmp_path):
    inst = net("p min 4 5\nn 4 7\nn 1 -7\na 4 2 0 9 2\na 4 2 0 8 3\na 2 1 0 7 -1\n"
               "a 4 3 0 9 1\na 3 1 0 2 4\n")
    data = korvane.generate_multi_commodity_data(inst, 3, 0, randomize_caps=True, cap_a=0.2,
                                                 cap_b=0.6, randomize_costs=True, seed=9)
    renumber = write_mnetgen(str(tmp_path / "g"), inst, data)
    rec = read_mnetgen(str(tmp_path / "g"))
    back = {v: k for k, v in renumber.items()}
    assert [(back[t], back[h], p) for t, h, p in rec.edges] == inst.arcs
    caps = list(data.capacities_by_arc.values())
    assert [rec.commodity_capacities[key] for key in rec.edges] == caps
    assert [rec.commodity_weights[key] for key in rec.edges] == list(data.weights_by_arc.values())
    assert {back[n]: a for n, a in rec.supply_partition.items()} == {
        n: a for n, a in data.supply_partition.items() if any(a)}
    assert rec.bundle_capacities == [up if up < sum(c) else None
                                     for up, c in zip(inst.capacities, caps)]


def test_suite_files_keep_parallel_arcs_and_commodity_values(tmp_path):
    # As real suites write them: tabs or spaces, counts that are only hints, a parallel arc,
    # per-commodity costs, an unbounded commodity (-1), a commodity without a line on an arc,
    # supply given for every commodity at once (-1), blank lines.
    rec = read_mnetgen(write_parts(tmp_path / "s", {
        "nod": "2 3 99 1\n", "mut": "1\t5\n", "sup": "1 -1 3\n3 -1 -3\n1 2 1\n3 2 -1\n",
        "arc": "1\t1\t2\t1\t4\t-1\t1\n1 1 2 2 6 5 1\n\n2 1 2 2 1 3 0\n"
               "3\t2\t3\t1\t2\t10\t0\n3\t2\t3\t2\t2\t10\t0\n"}))
    assert rec.edges == [(1, 2, 0), (1, 2, 1), (2, 3, 0)]
    assert rec.commodity_capacities == {(1, 2, 0): [-1, 5], (1, 2, 1): [0, 3], (2, 3, 0): [10, 10]}
    assert rec.commodity_weights == {(1, 2, 0): [4, 6], (1, 2, 1): [0, 1], (2, 3, 0): [2, 2]}
    assert rec.bundle_capacities == [5, None, None]
    assert rec.supply_partition == {1: [3, 4], 3: [-3, -4]}
    write_mnetgen(tmp_path / "again", rec)
    assert read_mnetgen(tmp_path / "again") == rec


def test_lower_bound_refused_before_any_file(net, tmp_path):
    inst = net("p min 2 2\na 1 2 0 5 3\na 1 2 2 5 3\n")
    data = korvane.generate_multi_commodity_data(inst, 1, 1)
    with pytest.raises(ValueError) as exc:
        write_mnetgen(tmp_path / "low", inst, data)
    assert str(exc.value) == "arc 1 (1, 2, 1) has lower bound 2; Mnetgen files have no lower bounds"
    assert list(tmp_path.glob("low*")) == []


@pytest.mark.parametrize("part, text, cls, message", [
    ("sup", "1 3 5\n", ValueError, "x.sup line 1: unknown commodity 3 (commodities are 1..2)"),
    ("sup", "\n4 1 5\n", ValueError, "x.sup line 2: unknown node 4 (nodes are 1..3)"),
    ("arc", "1 3 1 0 2 5 0\n", ValueError, "x.arc line 1: unknown commodity 0 (commodities are 1..2)"),
    ("arc", "1 3 1 1 2 5 7\n", ValueError, "x.arc line 1: unknown bundle 7 (not in the .mut file)"),
    ("arc", "1 3 1 1 2.5 5 0\n", ValueError, "x.arc line 1: '2.5' is not an integer"),
    ("mut", None, FileNotFoundError, "Mnetgen part missing: neither {d}/x.mut nor {d}/x.mut.gz exists"),
    ("mut.gz", gzip.compress(FILES["mut"].encode())[:-4], OSError,
     "x.mut.gz: truncated gzip stream: Compressed file ended before the end-of-stream marker was reached"),
])
def test_reader_refusals(parsed, tmp_path, part, text, cls, message):
    write_mnetgen(tmp_path / "x", parsed)
    if part.startswith("mut"):
        (tmp_path / "x.mut").unlink()
    if text is not None:
        (tmp_path / f"x.{part}").write_bytes(text if isinstance(text, bytes) else text.encode())
    with pytest.raises(cls) as exc:
        read_mnetgen(tmp_path / "x")
    where = "" if text is None else f"{tmp_path}/"
    assert (type(exc.value), str(exc.value)) == (cls, where + message.format(d=tmp_path))
