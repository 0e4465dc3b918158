"""The Mnetgen generator: the generator's own files rewritten byte for byte from their
parameter files, the in-memory problem against the reader on the written files, every
check with its message, the inputs the generator crashes or hangs on, parameter files,
the published set by name, thread counts, and the command."""

import gzip
import os
import shutil
import signal
import subprocess
import threading
from pathlib import Path

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from conftest import DATA, needs_sigint

import korvane.generators as generators
from korvane.formats import read_mnetgen
from korvane.generators.mnetgen import (ORIGINAL_NAMES, PARAMETERS, family_names,
                                        family_parameters, mnetgen, read_par,
                                        write_mnetgen_instance)

# Beside the DIMACS samples (KORVANE_DIMACS_DIR, or the shared folder beside the checkout).
MNETGEN_DIR = DATA.parent / "mnetgen"
PARS = sorted(MNETGEN_DIR.glob("*.par")) if MNETGEN_DIR.is_dir() else []
needs_instances = pytest.mark.skipif(not PARS, reason=f"no Mnetgen instances in {MNETGEN_DIR}")
PARTS = ("nod", "arc", "sup", "mut")

# The worked example's parameters (20 nodes, 3 sources, 3 sinks, K = 2), by name.
TINY = dict(zip(PARAMETERS, [11, 1, 20, 100, 3, 3, 2, 1, 1, 5, 1, 50, 100, 200, 10, 50, 30,
                             60, 20.0, 30.0, 30.0], strict=True))


def params(**changes):
    p = dict(TINY)
    p.update(changes)
    return p


def parts_of(base, suffix=""):
    return {part: Path(f"{base}.{part}{suffix}").read_bytes() for part in PARTS}


@needs_instances
@pytest.mark.parametrize("par", PARS, ids=lambda p: p.stem)
def test_the_generators_files_come_out_byte_for_byte(par, tmp_path):
    base = tmp_path / par.stem
    write_mnetgen_instance(base, **read_par(par))
    assert parts_of(base) == parts_of(par.with_suffix(""))
    assert mnetgen(**read_par(par)) == read_mnetgen(par.with_suffix(""))


# Corners of the draw order: each changes which draws happen or how lines print.
CORNERS = {
    "no bundles": params(bundled_percent=0),
    "every arc bundled and bounded": params(bundled_percent=100, bounded_percent=100),
    "no bounds, all high cost": params(bounded_percent=0, high_cost_percent=100),
    "one commodity": params(num_commodities=1),
    "more commodities than nodes": params(num_commodities=25, min_lines=300),
    "no transshipment nodes": params(num_nodes=6, num_transshipment_sources=0,
                                     num_transshipment_sinks=0, min_lines=40),
    "chains of length 0": params(max_chain_length=0),
    "skeleton only": params(min_lines=0),
    "e-notation costs and bounds": params(min_cost=100, max_cost=2_000_000_000,
                                          min_bound=9990, max_bound=123_456),
    "negative costs and bounds": params(min_cost=-500, max_cost=-3, min_bound=-20,
                                        max_bound=-1),
    "equal bounds": params(min_cost=7, max_cost=7, min_bundle_capacity=9,
                           max_bundle_capacity=9),
    "fractional percentages": params(high_cost_percent=12.5, bounded_percent=1e1,
                                     bundled_percent=99.99),
    "negative seed": params(seed=-12345),
    "all sources and sinks transshipment": params(num_transshipment_sources=3,
                                                  num_transshipment_sinks=3),
    "two nodes": params(num_nodes=2, num_sources=1, num_sinks=1,
                        num_transshipment_sources=0, num_transshipment_sinks=0, min_lines=10),
}


@pytest.mark.parametrize("case", CORNERS.values(), ids=CORNERS.keys())
def test_the_problem_in_memory_is_what_the_reader_makes_of_the_files(case, tmp_path):
    write_mnetgen_instance(tmp_path / "x", **case)
    assert mnetgen(**case) == read_mnetgen(tmp_path / "x")


@st.composite
def small_params(draw):
    n = draw(st.integers(2, 24))
    nsorc = draw(st.integers(1, n - 1))
    nsink = draw(st.integers(1, n - nsorc))
    low_cost, low_bound, low_cap = (draw(st.integers(-50, 50)) for _ in range(3))
    return params(
        seed=draw(st.integers(-(1 << 40), 1 << 40)), num_nodes=n,
        min_lines=draw(st.integers(0, 120)), num_sources=nsorc, num_sinks=nsink,
        num_commodities=draw(st.integers(1, 6)),
        num_transshipment_sources=draw(st.integers(0, nsorc)),
        num_transshipment_sinks=draw(st.integers(0, nsink)),
        max_chain_length=draw(st.integers(0, 8)),
        min_cost=low_cost, max_cost=low_cost + draw(st.integers(0, 20000)),
        min_supply=nsorc + draw(st.integers(0, 100)), max_supply=nsorc + 100 + draw(
            st.integers(0, 50000)),
        min_bound=low_bound, max_bound=low_bound + draw(st.integers(0, 30000)),
        min_bundle_capacity=low_cap, max_bundle_capacity=low_cap + draw(st.integers(0, 500)),
        high_cost_percent=draw(st.floats(0, 100)), bounded_percent=draw(st.floats(0, 100)),
        bundled_percent=draw(st.floats(0, 100)))


@settings(max_examples=150, derandomize=True, deadline=None)
@given(small_params())
def test_any_small_instance_reads_back_as_made_in_memory(tmp_path_factory, case):
    base = tmp_path_factory.mktemp("m") / "x"
    try:
        write_mnetgen_instance(base, **case)
    except ValueError as exc:
        # A loop with nothing left to draw: the same refusal in memory, and no file.
        with pytest.raises(ValueError) as again:
            mnetgen(**case)
        assert str(again.value) == str(exc)
        assert not base.parent.joinpath("x.nod").exists()
        return
    assert mnetgen(**case) == read_mnetgen(base)


def test_seeds_use_their_low_32_bits(tmp_path):
    write_mnetgen_instance(tmp_path / "a", **params(seed=11))
    write_mnetgen_instance(tmp_path / "b", **params(seed=11 + (1 << 32)))
    assert parts_of(tmp_path / "a") == parts_of(tmp_path / "b")


@pytest.mark.parametrize("compress, suffix, unpack", [
    ("gzip", ".gz", gzip.decompress),
    ("zstd", ".zst", lambda data: subprocess.run(["zstd", "-q", "-d", "-c"], input=data,
                                                 stdout=subprocess.PIPE, check=True).stdout),
])
def test_compressed_parts_hold_the_same_bytes(compress, suffix, unpack, tmp_path):
    if compress == "zstd" and shutil.which("zstd") is None:
        pytest.skip("the zstd command (Debian's zstd) is not installed")
    write_mnetgen_instance(tmp_path / "plain", **TINY)
    write_mnetgen_instance(tmp_path / "packed", compress=compress, **TINY)
    packed = parts_of(tmp_path / "packed", suffix)
    assert {part: unpack(data) for part, data in packed.items()} == parts_of(tmp_path / "plain")


@pytest.mark.parametrize("threads", ["1", "2", "4"])
def test_every_thread_count_writes_the_same_files(threads, tmp_path, monkeypatch):
    case = family_parameters("64-8-7")
    write_mnetgen_instance(tmp_path / "default", **case)
    monkeypatch.setenv("KORVANE_NUM_THREADS", threads)
    write_mnetgen_instance(tmp_path / "set", **case)
    assert parts_of(tmp_path / "set") == parts_of(tmp_path / "default")
    assert mnetgen(**case) == read_mnetgen(tmp_path / "set")


@needs_sigint
@pytest.mark.parametrize("job", ["files", "memory"])
def test_ctrl_c_ends_a_generation_and_leaves_no_file(job, tmp_path):
    # Hours of random arcs unless the interrupt ends them.
    endless = params(num_nodes=1000, min_lines=10**13, num_commodities=4)
    timer = threading.Timer(0.3, lambda: os.kill(os.getpid(), signal.SIGINT))
    try:
        with pytest.raises(KeyboardInterrupt):
            timer.start()  # within the block: however late the signal comes, it is caught here
            if job == "files":
                write_mnetgen_instance(tmp_path / "x", **endless)
            else:
                mnetgen(**endless)
    finally:
        timer.cancel()
        timer.join()
    assert list(tmp_path.iterdir()) == []


# ------------------------------------------------------------------------------ refusals

CHECKS = [
    (params(num_sources=12, num_sinks=10),
     "num_sources (nsorc) 12 + num_sinks (nsink) 10 > num_nodes (nodes) 20: "
     "INPUT ERROR - SOURCES  +  SINKS .GT. NODES"),
    (params(num_transshipment_sources=4),
     "num_transshipment_sources (ntsorc) 4 > num_sources (nsorc) 3: "
     "INPUT ERROR - NTSORC GREATER THAN NSORC"),
    (params(num_transshipment_sinks=4),
     "num_transshipment_sinks (ntsink) 4 > num_sinks (nsink) 3: "
     "INPUT ERROR - NTSINK GREATER THAN NSINK"),
    (params(min_lines=-1), "min_lines (dens) -1 < 0: INPUT ERROR - A VARIABLE IN INPUT"),
    (params(num_transshipment_sources=-1, num_commodities=-2),
     "num_commodities (ncomm) -2 < 0: INPUT ERROR - A VARIABLE IN INPUT"),
    (params(min_cost=51), "min_cost (mincst) 51 > max_cost (maxcst) 50: "
                          "INPUT ERROR - MINCST.GT.MAXCST"),
    (params(min_supply=201), "min_supply (minsup) 201 > max_supply (maxsup) 200: "
                             "INPUT ERROR - MINSUP.GT.MAXSUP"),
    (params(min_bound=51), "min_bound (minbnd) 51 > max_bound (maxbnd) 50: "
                           "INPUT ERROR - MINBND.GT.MAXBND"),
    (params(min_bundle_capacity=61),
     "min_bundle_capacity (mincap) 61 > max_bundle_capacity (maxcap) 60: "
     "INPUT ERROR - MINCAP.GT.MAXCAP"),
    (params(bounded_percent=100.5), "bounded_percent (bbnd) 100.5 not in [0, 100]: "
                                    "INPUT ERROR - BHICST OR BBND OR BCAP NOT IN (0,100)"),
    (params(bundled_percent=-1), "bundled_percent (bcap) -1 not in [0, 100]: "
                                 "INPUT ERROR - BHICST OR BBND OR BCAP NOT IN (0,100)"),
    (params(min_supply=2, max_supply=2, num_sources=3),
     "min_supply (minsup) 2 < num_sources (nsorc) 3: INPUT ERROR - MINSUP.LT.NSORC"),
    # Several failing at once: the generator's order decides.
    (params(num_transshipment_sinks=9, min_cost=99, bounded_percent=-5),
     "num_transshipment_sinks (ntsink) 9 > num_sinks (nsink) 3: "
     "INPUT ERROR - NTSINK GREATER THAN NSINK"),
    # Passing the checks, then crashing or running forever in the generator.
    (params(num_sources=0, num_transshipment_sources=0, min_supply=0),
     "num_sources (nsorc) 0 with num_commodities (ncomm) 2: "
     "the generator divides by zero sharing out the supplies"),
    (params(num_sinks=0, num_transshipment_sinks=0),
     "num_sinks (nsink) 0 with num_sources (nsorc) 3 and num_commodities (ncomm) 2: "
     "the generator divides by zero sharing out the demands"),
    (params(num_commodities=0),
     "num_commodities (ncomm) 0 with min_lines (dens) 100: "
     "the generator draws random arcs from an empty table of commodities"),
    (params(max_chain_length=-1),
     "max_chain_length (lchain) -1 with 14 pure transshipment nodes: "
     "the generator writes before the start of its chain table"),
    (params(seed=1, num_nodes=3, num_sources=1, num_sinks=1, num_transshipment_sources=0,
            num_transshipment_sinks=0, max_chain_length=3, min_supply=1, min_lines=0),
     "the generator never ends on these parameters: no node is left for the chain of source 1"),
    (params(seed=1, num_nodes=3, num_sources=1, num_sinks=2, num_transshipment_sources=0,
            num_transshipment_sinks=1, max_chain_length=1, min_supply=1, min_lines=0),
     "the generator never ends on these parameters: no sink is left for the arcs of source 1"),
    (params(seed=1, num_nodes=2, num_sources=1, num_sinks=1, num_transshipment_sources=1,
            num_transshipment_sinks=0, max_chain_length=0, min_supply=1, min_lines=50),
     "the generator never ends on these parameters: no tail is left for a random arc into "
     "node 1"),
    (params(min_cost=-(1 << 63), max_cost=(1 << 63) - 1),
     f"max_cost (maxcst) {(1 << 63) - 1} - min_cost (mincst) {-(1 << 63)}: "
     "does not fit in 64 bits, where the generator computes it"),
]


@pytest.mark.parametrize("case, message", CHECKS)
def test_refused_parameters_raise_the_message_and_leave_old_files(case, message, tmp_path):
    write_mnetgen_instance(tmp_path / "x", **TINY)
    before = parts_of(tmp_path / "x")
    with pytest.raises(ValueError) as exc:
        mnetgen(**case)
    assert str(exc.value) == message
    with pytest.raises(ValueError) as exc:
        write_mnetgen_instance(tmp_path / "x", **case)
    assert str(exc.value) == message
    assert parts_of(tmp_path / "x") == before
    assert sorted(p.name for p in tmp_path.iterdir()) == [f"x.{part}" for part in sorted(PARTS)]


@pytest.mark.parametrize("case, why", [
    # K = 0 without random arcs is well defined: the files are written, but hold no commodity.
    (params(num_commodities=0, min_lines=0), "they hold 0 commodities"),
    # A negative chain bound takes names back: later arcs reuse earlier names.
    (params(num_nodes=6, max_chain_length=-1, min_lines=30),
     "arc name 2 has lines of different nodes or bundles"),
])
def test_files_the_reader_would_refuse_are_refused_in_memory(case, why, tmp_path):
    write_mnetgen_instance(tmp_path / "x", **case)
    with pytest.raises(ValueError):
        read_mnetgen(tmp_path / "x")
    with pytest.raises(ValueError) as exc:
        mnetgen(**case)
    assert str(exc.value) == f"the Mnetgen files of these parameters do not read back: {why}"


@pytest.mark.parametrize("call, cls, message", [
    (lambda: mnetgen(**{k: v for k, v in TINY.items() if k != "num_nodes"}), TypeError,
     "mnetgen() missing parameter 'num_nodes' (nodes)"),
    (lambda: mnetgen(**TINY, nodes=3), TypeError,
     "mnetgen() got an unexpected keyword argument 'nodes'"),
    (lambda: mnetgen(**params(num_nodes=20.0)), TypeError,
     "num_nodes (nodes) must be an integer, not float"),
    (lambda: mnetgen(**params(min_lines=True)), TypeError,
     "min_lines (dens) must be an integer, not bool"),
    (lambda: mnetgen(**params(bounded_percent="30")), TypeError,
     "bounded_percent (bbnd) must be a real number, not str"),
    (lambda: mnetgen(**params(seed=1 << 63)), ValueError,
     f"seed (iseed) {1 << 63} does not fit in 64 bits"),
    (lambda: mnetgen(**params(bundled_percent=float("nan"))), ValueError,
     "bundled_percent (bcap) NaN not in [0, 100]: "
     "INPUT ERROR - BHICST OR BBND OR BCAP NOT IN (0,100)"),
    (lambda: write_mnetgen_instance("x", compress="bz2", **TINY), ValueError,
     "compress must be None, False, True, 'gzip' or 'zstd', not 'bz2'"),
])
def test_keyword_arguments_are_checked(call, cls, message):
    with pytest.raises(cls) as exc:
        call()
    assert str(exc.value) == message


def test_problem_number_changes_nothing():
    without = {k: v for k, v in TINY.items() if k != "problem_number"}
    assert mnetgen(**without) == mnetgen(**params(problem_number=77))


# ------------------------------------------------------------------------- parameter files

def test_parameter_files_take_any_white_space_and_ignore_what_follows(tmp_path):
    values = [str(v) for v in TINY.values()]
    (tmp_path / "a.par").write_text("\n".join(values) + "\n")
    (tmp_path / "b.par").write_bytes((" \t".join(values[:10]) + "\r\n" + "\v".join(values[10:])
                                      + "  99 junk").encode())
    values[18:] = ["2e1", "30.", "+30.0"]
    (tmp_path / "c.par").write_text("  " + " ".join(values))
    assert read_par(tmp_path / "a.par") == read_par(tmp_path / "b.par") == \
        read_par(tmp_path / "c.par") == TINY


@pytest.mark.parametrize("text, message", [
    ("1 2 3", "3 numbers; a Mnetgen parameter file holds 21"),
    ("11 1 20 720.5" + " 1" * 17, "number 4, min_lines (dens), is '720.5', not an integer"),
    ("11 1 20 1e3" + " 1" * 17, "number 4, min_lines (dens), is '1e3', not an integer"),
    ("11 1 20 100" + " 1" * 15 + " 5 nan", "number 21, bundled_percent (bcap), is 'nan', "
                                           "not a number"),
    ("11 1 99999999999999999999" + " 1" * 18,
     "number 3, num_nodes (nodes), 99999999999999999999 does not fit in 64 bits"),
])
def test_malformed_parameter_files_are_refused(text, message, tmp_path):
    path = tmp_path / "bad.par"
    path.write_text(text)
    with pytest.raises(ValueError) as exc:
        read_par(path)
    assert str(exc.value) == f"{path}: {message}"


# ------------------------------------------------------------------------- the published set

def test_the_published_set_by_name():
    names = family_names()
    assert len(names) == len(set(names)) == 216
    for name in names:
        n, k, h = map(int, name.split("-"))
        p = family_parameters(name)
        assert list(p) == list(PARAMETERS)
        assert (p["num_nodes"], p["num_commodities"]) == (n, k) and 1 <= h <= 12
        assert p["num_sources"] == p["num_sinks"] == n // 2
    with pytest.raises(ValueError, match="no Mnetgen instance is named '64-4-13'"):
        family_parameters("64-4-13")
    assert len(ORIGINAL_NAMES) == len(PARAMETERS) == 21


@pytest.mark.parametrize("name", ["64-4-1", "64-16-6", "128-8-12", "256-4-3"])
def test_published_instances_generate_and_read_back(name, tmp_path):
    write_mnetgen_instance(tmp_path / name, **family_parameters(name))
    problem = generators.mnetgen_family(name)
    assert problem == read_mnetgen(tmp_path / name)
    p = family_parameters(name)
    lines = (tmp_path / f"{name}.arc").read_text().count("\n")
    assert lines >= p["min_lines"] and problem.num_commodities == p["num_commodities"]
    # Each commodity's supplies and demands balance.
    for c in range(problem.num_commodities):
        assert sum(row[c] for row in problem.supplies) == 0


# ------------------------------------------------------------------------------- the command

@needs_instances
def test_the_command_writes_a_parameter_files_instance(command, tmp_path):
    par = PARS[0]
    code, out, err = command("mnetgen", par, "-o", tmp_path / "x")
    assert (code, err) == (0, "")
    assert parts_of(tmp_path / "x") == parts_of(par.with_suffix(""))


def test_the_command_takes_a_published_name_and_compresses_by_name(command, tmp_path):
    code, out, _ = command("mnetgen", "64-4-2", "-o", tmp_path / "y.gz")
    assert code == 0 and out == f"wrote {tmp_path / 'y'}.{{nod,arc,sup,mut}}.gz\n"
    write_mnetgen_instance(tmp_path / "plain", **family_parameters("64-4-2"))
    assert {p: gzip.decompress(d) for p, d in parts_of(tmp_path / "y", ".gz").items()} == \
        parts_of(tmp_path / "plain")


@pytest.mark.parametrize("text, code, message", [
    ("11 1 20 100 30 3 2 1 1 5 1 50 100 200 10 50 30 60 20 30 30", 2,
     "num_sources (nsorc) 30 + num_sinks (nsink) 3 > num_nodes (nodes) 20: "
     "INPUT ERROR - SOURCES  +  SINKS .GT. NODES"),
    ("11 1 20", 3, "3 numbers; a Mnetgen parameter file holds 21"),
])
def test_the_command_refuses_in_one_line_and_writes_nothing(command, tmp_path, text, code,
                                                            message):
    par = tmp_path / "bad.par"
    par.write_text(text)
    got, out, err = command("mnetgen", par, "-o", tmp_path / "out")
    assert (got, out) == (code, "")
    assert err == f"korvane: {par}: {message}\n"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["bad.par"]
