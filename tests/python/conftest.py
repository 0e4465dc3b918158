"""Shared fixtures and helpers: files written into tmp_path, record field lists, sample data,
the korvane command in-process, child interpreters, and mutations of valid files."""

import os
import re
import signal
import shutil
import subprocess
import sys
from pathlib import Path

import pytest
from hypothesis import strategies as st

import korvane

# The DIMACS sample networks: KORVANE_DIMACS_DIR, or the shared folder beside the checkout.
DATA = Path(os.environ.get("KORVANE_DIMACS_DIR")
            or Path(__file__).resolve().parents[2].parent / "shared" / "data" / "dimacs")

# The Mnetgen generator's own instances: KORVANE_MNETGEN_DIR, or the shared folder beside the checkout.
MNETGEN_DIR = Path(os.environ.get("KORVANE_MNETGEN_DIR")
                   or Path(__file__).resolve().parents[2].parent / "shared" / "data" / "mnetgen")

needs_data = pytest.mark.skipif(
    not DATA.is_dir(),
    reason=f"DIMACS sample folder {DATA} is absent (set KORVANE_DIMACS_DIR, or put it beside the checkout)",
)


# A shell without job control starts its background jobs with SIGINT ignored, and then Python
# installs no handler for it: a test that sends SIGINT would wait for an interrupt that never comes.
needs_sigint = pytest.mark.skipif(signal.getsignal(signal.SIGINT) is signal.SIG_IGN,
                                  reason="SIGINT is ignored in this process (a background job "
                                         "started without job control)")

NETWORK = (Path(__file__).resolve().parents[2] / "examples" / "network.min").as_posix()

DATA_FIELDS = [
    "supply_partition", "method", "commodity_edges", "capacities", "weight", "weights_by_arc",
    "capacities_by_arc", "commodity_capacities", "commodity_weights", "num_commodities",
    "randomized_capacities", "randomized_weights", "cap_zero", "cap_zero_param", "seed", "parallel",
    "arc_indices",
]
PARSED_FIELDS = [
    "num_nodes", "num_arcs", "num_commodities", "randomized_capacities", "randomized_weights",
    "nodes", "edges", "supplies", "commodity_supply_demand_data", "capacities",
    "commodity_capacities", "commodity_weights", "commodity_edges", "start_nodes", "end_nodes",
    "method", "cap_zero", "cap_zero_param", "seed", "parallel", "arc_indices",
    "commodity_bundle_capacities",
]


def fails_with(action):
    """(exception class, its args) of a call that must fail."""
    with pytest.raises(BaseException) as exc:
        action()
    return type(exc.value), exc.value.args


def edge_rows(inst):
    """Edges as (tail, head, low, up, cost, index) tuples: Edge objects compare by identity."""
    return [(e.tail, e.head, e.low, e.up, e.cost, e.index) for e in inst.edges]


def saved_and_read(path, inst, data):
    """Save (inst, data) to path and read it back as a ParsedMulticommodityInstance."""
    korvane.save_multi_commodity_instance(str(path), inst, data)
    return korvane.load_multi_commodity_instance(str(path))


def write_parts(base, parts):
    """Write Mnetgen parts {"nod": text, ...} beside base (a Path) as base.nod, ..."""
    for part, text in parts.items():
        base.with_name(f"{base.name}.{part}").write_text(text)
    return base


def child_env(**env):
    """The environment for a child interpreter that imports this korvane (more in env)."""
    return {**os.environ, "PYTHONPATH": os.pathsep.join(sys.path), **env}


def run_python(script, check=False, timeout=60, **env):
    """Run script in a child interpreter that imports this korvane (more environment in env)."""
    return subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=check,
                          timeout=timeout, env=child_env(**env))


def dead_pid():
    """The pid of a process that has already ended."""
    proc = subprocess.Popen([sys.executable, "-c", "pass"])
    proc.wait()
    return proc.pid


def big_network(path, arcs=100_000):
    """A .min file of many arcs, slow enough to write that a signal can land mid-write."""
    lines = ["p min 2000 %d" % arcs] + [f"n {i} {5 if i % 2 else -5}" for i in range(1, 201)]
    # 6i + 3 is odd, so no arc is a self-loop (the Mnetgen format has none).
    lines += [f"a {i % 2000 + 1} {(i * 7 + 3) % 2000 + 1} 0 {50 + i % 9} {i % 13}" for i in range(arcs)]
    path.write_text("\n".join(lines) + "\n")
    return path


def zstd(data):
    """zstd-compressed bytes, made by the zstd command."""
    if shutil.which("zstd") is None:
        pytest.skip("the zstd command (Debian's zstd) is not installed")
    return subprocess.run(["zstd", "-q", "-c"], input=data, stdout=subprocess.PIPE, check=True).stdout


@pytest.fixture
def command(capsys):
    """Run the korvane command in this process: (exit code, stdout, stderr)."""
    from korvane import cli

    def run(*argv):
        code = cli.main([str(a) for a in argv])
        out, err = capsys.readouterr()
        return code, out, err
    return run


@pytest.fixture
def min_file(tmp_path):
    """Write str (as UTF-8) or bytes verbatim to a fresh file and return its path as str."""
    counter = iter(range(1_000_000))

    def write(content, name=None):
        path = tmp_path / (name or f"net{next(counter)}.min")
        path.write_bytes(content.encode("utf-8") if isinstance(content, str) else content)
        return str(path)

    return write


@pytest.fixture
def net(min_file):
    """Load a NetworkInstance from .min text."""
    return lambda text: korvane.load_min_instance(min_file(text))


@pytest.fixture
def wide_net(min_file):
    """20k arcs: every thread count gets its own run of arcs; two late arcs cost 10^9."""
    costs = [10**9 if i in (15_000, 19_000) else (i % 40) - 5 for i in range(20_000)]
    lines = [f"a {1 + i % 997} {1 + (i * 7) % 1009} 0 {1 + i % 50} {c}\n" for i, c in enumerate(costs)]
    return korvane.load_min_instance(min_file("p min 1009 20000\nn 1 300\nn 2 -300\n" + "".join(lines)))


# Mutations of valid files for the reader properties: bytes flipped, inserted or deleted, tokens
# swapped for junk, whole lines dropped, repeated or moved. No mutation inserts digits, so a number
# can grow only by merging two neighbours, which keeps commodity counts small.
JUNK_TOKENS = [b"", b"x", b"-", b"+", b"-0", b"+7", b"1.5", b"nan", b"0x10", b"9223372036854775807",
               b"-9223372036854775808", b"9223372036854775808", b"18446744073709551615", b"99999999999999999999",
               b"\xff", b"\xc3", b"\xe2\x80\x8b", b"\xc2\xa0", b"\xef\xbb\xbf", b"\x00", b"min"]
INSERTS = [b" ", b"\t", b"\x0b", b"\r", b"\n", b"\r\n", b"-", b"+", b"x", b"c ", b"a ", b"p ", b"n ",
           b"\xff", b"\xc3", b"\xed\xa0\x80", b"\xef\xbb\xbf", b"\x00", b"\xc2\xa0", b"\xe3\x80\x80"]


@st.composite
def mutated(draw, bases):
    data = bytearray(draw(st.sampled_from(bases)))
    for _ in range(draw(st.integers(1, 3))):
        op = draw(st.sampled_from(["flip", "insert", "delete", "token", "token", "line"]))
        at = draw(st.integers(0, max(len(data) - 1, 0)))
        if op == "flip" and data:
            data[at] ^= draw(st.integers(1, 255))
        elif op == "insert":
            data[at:at] = draw(st.sampled_from(INSERTS))
        elif op == "delete":
            del data[at:at + draw(st.integers(1, 8))]
        elif op == "token":
            spans = [match.span() for match in re.finditer(rb"[^ \n]+", data)]
            start, end = draw(st.sampled_from(spans)) if spans else (0, 0)
            data[start:end] = draw(st.sampled_from(JUNK_TOKENS))
        elif op == "line":
            lines = bytes(data).split(b"\n")
            pick, to = draw(st.integers(0, len(lines) - 1)), draw(st.integers(0, len(lines) - 1))
            how = draw(st.sampled_from(["drop", "repeat", "move"]))
            line = lines[pick] if how == "repeat" else lines.pop(pick)
            lines[to:to] = [] if how == "drop" else [line]
            data = bytearray(b"\n".join(lines))
    return bytes(data)
