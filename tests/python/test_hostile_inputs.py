"""Arguments, files and imports that try to mislead the module."""

import os
import subprocess
import sys
import threading

import pytest
from conftest import child_env

import korvane
from korvane.formats import read_mnetgen


class Lying:
    """A sequence whose __len__ raises or claims far more than it holds."""

    def __init__(self, items, length):
        self.items, self.length = items, length

    def __len__(self):
        if isinstance(self.length, BaseException):
            raise self.length
        return self.length

    def __getitem__(self, i):
        return self.items[i]


@pytest.mark.parametrize("length, raised", [
    (2**62, None), (-1 + 2**31, None), (TypeError("no length"), None),  # only a hint
    (KeyboardInterrupt(), KeyboardInterrupt), (ValueError("bad length"), ValueError),
])
def test_a_length_is_only_a_hint(length, raised):
    nodes = Lying([1, 2], length)
    if raised is None:
        assert korvane.get_adjacency_mapping(nodes, [(1, 2)]) == ({1: [], 2: [1]}, {1: [2], 2: []})
    else:
        pytest.raises(raised, korvane.get_adjacency_mapping, nodes, [])


def test_a_dict_changed_while_read_is_read_as_it_was():
    data = {}

    class Clearing:
        def __index__(self):
            data.clear()  # the dict being read loses its other entry
            return 1

    data.update({Clearing(): 4, 2: -4})
    assert korvane.split_supplies_uniform(data, 1) == {1: [4], 2: [-4]}


def test_k_zero_with_an_infinite_range_makes_no_draw(net):
    inst = net("p min 2 1\na 1 2 0 10 3\n")  # no supplies to split among no commodities
    data = korvane.generate_multi_commodity_data(inst, 0, 1, randomize_costs=True, cost_a=-1e308,
                                                 cost_b=1e308, seed=42)
    assert data.weights_by_arc == {0: []}  # with K = 1 it fails (test_generate.py)


# The reservation a declared node count makes: test_min_reader.cpp.


# A child that reads a Mnetgen instance whose .sup part is a FIFO (fed a few records by a
# thread) or whose .arc part is a directory, its address space capped 256 MiB above what it
# holds before the read: the 10^8 arcs the .nod declares would take GiBs if the declaration
# were trusted.
STREAM_PART = """
import os, resource, sys, threading
from korvane.formats import read_mnetgen
base, kind = sys.argv[1], sys.argv[2]
if kind == "fifo":
    os.mkfifo(base + ".sup")
    def feed():
        with open(base + ".sup", "w") as f:
            f.write("1 1 3\\n3 1 -3\\n")
    threading.Thread(target=feed, daemon=True).start()
else:
    os.mkdir(base + ".arc")
held = int(open("/proc/self/status").read().split("VmSize:")[1].split()[0]) * 1024
resource.setrlimit(resource.RLIMIT_AS, (held + (256 << 20), resource.RLIM_INFINITY))
try:
    read_mnetgen(base)
except BaseException as e:
    print(type(e).__name__, e)
"""
PARTS = {"nod": "1 3 100000000 0\n", "arc": "1 1 2 1 5 3 0\n", "sup": "1 1 3\n3 1 -3\n", "mut": ""}


@pytest.mark.skipif(not os.path.exists("/proc/self/status"), reason="needs /proc")
@pytest.mark.parametrize("kind, stream, outcome", [
    ("fifo", "sup", "ValueError {base}.nod: 1 commodities, 100000000 arcs and 3 nodes need "
                    "300000006 table cells, more than 1000 per byte of the 43 bytes of input"),
    ("directory", "arc", "OSError {base}.arc: Is a directory (os error 21)"),
])
def test_a_part_that_is_no_regular_file_keeps_the_size_bound(tmp_path, kind, stream, outcome):
    base = tmp_path / "x"
    for part, text in PARTS.items():
        if part != stream:
            base.with_name(f"x.{part}").write_text(text)
    done = subprocess.run([sys.executable, "-c", STREAM_PART, str(base), kind], capture_output=True,
                          text=True, timeout=120, env=child_env(KORVANE_NUM_THREADS="1"))
    assert done.stdout.strip() == outcome.format(base=base), done.stderr


def test_a_fifo_part_reads_ahead_only_what_the_bound_needs_and_reads_as_the_file(tmp_path):
    # The declared 20000 arc names need 61 bytes of input; .nod and .sup hold 25, so 36 bytes of
    # the FIFO's 462 are read ahead before its records, which must still all be read in order.
    arcs = "".join(f"{i} {1 + i % 2} {2 - i % 2} 1 {i} 3 0\n" for i in range(1, 31))
    parts = {**PARTS, "nod": "1 3 20000 0\n", "arc": arcs}
    for name in ("file", "fifo"):
        for part, text in parts.items():
            if name == "file" or part != "arc":
                (tmp_path / f"{name}.{part}").write_text(text)
    os.mkfifo(tmp_path / "fifo.arc")

    def feed():
        with open(tmp_path / "fifo.arc", "w") as f:
            f.write(arcs)
    feeder = threading.Thread(target=feed)
    feeder.start()
    try:
        got = read_mnetgen(tmp_path / "fifo")
    finally:
        feeder.join()
    assert got == read_mnetgen(tmp_path / "file") and got.arc_names == list(range(1, 31))
