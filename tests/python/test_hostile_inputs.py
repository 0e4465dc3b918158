"""Arguments, files and imports that try to mislead the module."""

import os

import pytest
from conftest import run_python

import korvane


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


def peak_memory_kib(script):
    """Peak address space of a child running `script` (reserved memory counts even untouched)."""
    out = run_python(script + "\nprint(open('/proc/self/status').read().split('VmPeak:')[1].split()[0])",
                     check=True, timeout=120)
    return int(out.stdout.split()[-1])


@pytest.mark.skipif(not os.path.exists("/proc/self/status"), reason="needs /proc")
def test_a_declared_node_count_reserves_no_more_than_the_file_can_hold(tmp_path):
    # 32 MB of comments under a problem line declaring 2^63 - 1 nodes: the node table
    # is sized by the file, not by the declaration (it used to take 32 MB).
    body = ("c " + "x" * 1000 + "\n") * 32_000 + "n 1 5\nn 2 -5\na 1 2 0 10 3\n"
    for count in (2**63 - 1, 2):
        (tmp_path / f"{count}.min").write_text(f"p min {count} 1\n" + body)
    load = "import korvane; korvane.load_min_instance({!r})"
    wild = peak_memory_kib(load.format(str(tmp_path / f"{2**63 - 1}.min")))
    tame = peak_memory_kib(load.format(str(tmp_path / "2.min")))
    assert wild - tame < 8 * 1024
