"""Streamed generation (korvane.korvane._generate_to_files): the bytes of generation
followed by a save, for both formats, every method and thread count, across window
boundaries; the same failures in the same order, and nothing left behind by one."""

import filecmp
import math
import os
import random

import pytest

import korvane
from korvane import formats
from korvane.korvane import _generate_to_files

from conftest import NETWORK, needs_sigint


def write_network(path, nodes, arcs, seed, lows=False, declared=None):
    """A seeded .min file: supplies on every node, parallel arcs, zero and large bounds,
    negative and zero costs (no self-loop, so the Mnetgen parts can hold it); the problem
    line declares `declared` arcs (default: as many as it holds)."""
    rng = random.Random(seed)
    lines = [f"p min {nodes} {arcs if declared is None else declared}"]
    lines += [f"n {i} {rng.randint(-40, 40)}" for i in range(1, nodes + 1)]
    last = (1, 2)
    for _ in range(arcs):
        tail, head = last if rng.random() < 0.1 else rng.sample(range(1, nodes + 1), 2)
        last = (tail, head)
        up = rng.choice([0, 1, 7, rng.randint(1, 10**6), 2**62])
        cost = rng.choice([0, -5, rng.randint(0, 10**4)])
        lines.append(f"a {tail} {head} {1 if lows and rng.random() < 0.1 else 0} {up} {cost}")
    path.write_text("\n".join(lines) + "\n")
    return korvane.load_min_instance(str(path))


def part_paths(base, fmt):
    return [str(base)] if fmt == "mcf" else [f"{base}.{part}" for part in formats.PARTS]


def two_calls(base, instance, fmt, k, method, **kwargs):
    data = korvane.generate_multi_commodity_data(instance, k, method, **kwargs)
    if fmt == "mcf":
        korvane.save_multi_commodity_instance(str(base), instance, data)
    else:
        formats.write_mnetgen(str(base), instance, data)


def outcome(action):
    try:
        action()
    except BaseException as exc:  # InternalError is a BaseException
        return type(exc), str(exc)
    return None


SETTINGS = [
    dict(),
    dict(randomize_caps=True, randomize_costs=True),
    dict(randomize_costs=True, cost_a=0.5, cost_b=2.0, seed=9),
    dict(randomize_caps=True, cap_zero=True, cap_zero_param=0.3, seed=3),
    dict(cap_zero=True, cap_zero_param=0.9),              # wrapping strides
    dict(randomize_caps=True, cap_zero=True, cap_zero_param=math.nan),
    dict(randomize_caps=True, randomize_costs=True, cap_zero=True, cap_zero_param=0.05,
         concentration_param=0.7, seed=2**64 - 1),
]


@pytest.fixture(scope="module")
def networks(tmp_path_factory):
    folder = tmp_path_factory.mktemp("networks")
    return {
        "small": write_network(folder / "small.min", 6, 9, 1),      # E < K for K = 16
        "medium": write_network(folder / "medium.min", 60, 700, 2),  # two draw chunks at K = 16
        "single": write_network(folder / "single.min", 2, 1, 3),     # E = 1
        # .nod counts the arcs written, whatever the network's problem line declared.
        "declaring": write_network(folder / "declaring.min", 5, 8, 4, declared=40),
    }


@pytest.mark.parametrize("fmt", ["mcf", "mnetgen"])
@pytest.mark.parametrize("method", [0, 1, 2])
@pytest.mark.parametrize("settings", SETTINGS)
def test_same_bytes_as_generate_then_save(tmp_path, networks, monkeypatch, fmt, method, settings):
    for name, instance in networks.items():
        for k in (1, 16):
            two_calls(tmp_path / "whole", instance, fmt, k, method, **settings)
            expected = part_paths(tmp_path / "whole", fmt)
            for threads, window in [("1", 0), ("2", 0), ("2", 1), ("1", 5), ("2", 64)]:
                monkeypatch.setenv("KORVANE_NUM_THREADS", threads)
                paths = part_paths(tmp_path / f"streamed_{threads}_{window}", fmt)
                _generate_to_files(paths, instance, k, method, window_arcs=window, **settings)
                for want, got in zip(expected, paths):
                    assert filecmp.cmp(want, got, shallow=False), (name, k, threads, window, got)


def test_mnetgen_compression_matches(tmp_path):
    instance = korvane.load_min_instance(NETWORK)
    formats.write_mnetgen(tmp_path / "whole", instance,
                          korvane.generate_multi_commodity_data(instance, 4, 2, randomize_caps=True),
                          compress="gzip")
    paths = [f"{tmp_path}/streamed.{part}.gz" for part in formats.PARTS]
    _generate_to_files(paths, instance, 4, 2, randomize_caps=True, compression=1, window_arcs=3)
    for part, got in zip(formats.PARTS, paths):
        assert filecmp.cmp(f"{tmp_path}/whole.{part}.gz", got, shallow=False)


FAILURES = [
    ("plain", 3, dict(randomize_caps=True, cap_a=-math.inf)),     # refused draw: NonFinite
    ("plain", 3, dict(randomize_costs=True, cost_b=1e308)),        # refused on huge costs
    ("plain", 0, dict()),                                          # no commodity for a supply
    ("plain", 3, dict(concentration_param=-1.0)),                  # the partition refuses
]
MNETGEN_FAILURES = [
    ("lows", 2, dict()),                                           # lower bounds
    ("selfloop", 2, dict(randomize_caps=True)),                    # a self-loop
    ("negative", 2, dict(randomize_caps=True)),                    # a negative bundle
    ("negative", 2, dict()),                                       # a negative capacity
    ("negative_first", 2, dict(randomize_caps=True, cap_zero=True, cap_zero_param=0.99)),
]


@pytest.mark.parametrize(("fmt", "network", "k", "settings"),
                         [(fmt, *case) for case in FAILURES for fmt in ("mcf", "mnetgen")]
                         + [("mnetgen", *case) for case in MNETGEN_FAILURES])
def test_failures_match_and_leave_nothing(tmp_path, fmt, network, k, settings):
    sources = {
        "plain": "p min 3 2\nn 1 4\nn 3 -4\na 1 2 0 5 10\na 2 3 0 1000000 2\n",
        "lows": "p min 3 2\nn 1 4\nn 3 -4\na 1 2 0 5 10\na 2 3 1 9 2\n",
        "selfloop": "p min 3 3\nn 1 4\nn 3 -4\na 1 2 0 5 10\na 2 2 0 5 1\na 2 3 0 9 2\n",
        "negative": "p min 3 3\nn 1 4\nn 3 -4\na 1 2 0 5 10\na 2 1 0 -5 1\na 2 3 0 9 2\n",
        # Zeroing empties arc 0's row, whose negative bound is then restored.
        "negative_first": "p min 3 3\nn 1 4\nn 3 -4\na 2 1 0 -5 1\na 1 2 0 5 10\na 2 3 0 9 2\n",
    }
    (tmp_path / "net.min").write_text(sources[network])
    instance = korvane.load_min_instance(str(tmp_path / "net.min"))
    out = tmp_path / "out"
    out.mkdir()
    expected = outcome(lambda: two_calls(out / "whole", instance, fmt, k, 2, **settings))
    assert expected is not None
    for name in os.listdir(out):
        os.unlink(out / name)
    got = outcome(lambda: _generate_to_files(part_paths(out / "streamed", fmt), instance, k, 2,
                                             window_arcs=1, **settings))
    assert got == expected
    assert os.listdir(out) == []


@pytest.mark.skipif(os.geteuid() == 0, reason="root writes into read-only folders")
@pytest.mark.parametrize("fmt", ["mcf", "mnetgen"])
def test_unwritable_folder_leaves_nothing(tmp_path, fmt):
    instance = korvane.load_min_instance(NETWORK)
    folder = tmp_path / "locked"
    folder.mkdir()
    folder.chmod(0o500)
    try:
        with pytest.raises(OSError):
            _generate_to_files(part_paths(folder / "x", fmt), instance, 2, 1)
        assert os.listdir(folder) == []
    finally:
        folder.chmod(0o700)


@pytest.mark.parametrize("fmt", ["mcf", "mnetgen"])
def test_missing_folder_leaves_nothing(tmp_path, fmt):
    instance = korvane.load_min_instance(NETWORK)
    with pytest.raises(OSError) as exc:
        _generate_to_files(part_paths(tmp_path / "absent" / "x", fmt), instance, 2, 1)
    assert "No such file or directory" in str(exc.value)
    assert os.listdir(tmp_path) == []


@pytest.mark.parametrize(("paths", "compression", "message"), [
    (["a", "b"], 0, "paths must hold one path or four part paths"),
    (["a"], -1, "compression must be 0 (none), 1 (gzip) or 2 (zstd)"),
    (["a", "b", "c", "d"], 3, "compression must be 0 (none), 1 (gzip) or 2 (zstd)"),
])
def test_argument_errors(tmp_path, paths, compression, message):
    instance = korvane.load_min_instance(NETWORK)
    with pytest.raises(ValueError) as exc:
        _generate_to_files([str(tmp_path / p) for p in paths], instance, 2, 1,
                           compression=compression)
    assert str(exc.value) == message
    assert os.listdir(tmp_path) == []


@needs_sigint
@pytest.mark.parametrize("fmt", ["mcf", "mnetgen"])
def test_sigint_ends_the_stream_and_leaves_nothing(tmp_path, monkeypatch, fmt):
    from test_interrupts import sigint_latency

    instance = write_network(tmp_path / "wide.min", 1000, 20_000, 4)
    monkeypatch.setenv("KORVANE_NUM_THREADS", "2")
    out = tmp_path / "out"
    out.mkdir()
    # Seconds of work (4000 commodities) when nothing stops it.
    run = lambda: _generate_to_files(part_paths(out / "x", fmt), instance, 4000, 1,
                                     randomize_caps=True, randomize_costs=True)
    assert sigint_latency(run) < 0.5
    assert os.listdir(out) == []
