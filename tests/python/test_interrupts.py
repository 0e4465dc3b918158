"""Ctrl-C ends calls that block or run long: a FIFO open without a peer, and a balancing that
needs many passes, raise KeyboardInterrupt within a second and leave nothing half-written."""

import os
import subprocess
import time

import pytest

import korvane

# Fifty commodities over two hundred nodes, 10^9 units each: many surplus and many deficit
# commodities at once, so passes cannot be applied in bulk; this runs for many seconds.
LONG_SPLIT = {n: 10**9 for n in range(1, 101)} | {-n: -10**9 for n in range(1, 101)}


def interrupted_after(delay, call):
    """Have another process send SIGINT (as Ctrl-C does) after `delay` seconds; return the
    seconds `call` took to raise KeyboardInterrupt after that. No thread of ours could send
    it: the call holds the interpreter lock."""
    start = time.monotonic()
    sender = subprocess.Popen(["sh", "-c", f"sleep {delay}; kill -INT {os.getpid()}"])
    try:
        with pytest.raises(KeyboardInterrupt):
            call()
    finally:
        sender.wait()
    return time.monotonic() - start - delay


@pytest.fixture
def fifo(tmp_path):
    path = tmp_path / "pipe"
    os.mkfifo(path)
    return path


@pytest.mark.parametrize("call", [
    lambda path: korvane.load_min_instance(str(path)),
    lambda path: korvane.load_multi_commodity_instance(str(path)),
])
def test_opening_a_fifo_without_writer(fifo, call):
    assert interrupted_after(0.3, lambda: call(fifo)) < 1.0


def test_saving_to_a_fifo_without_reader(fifo, net):
    inst = net("p min 2 1\nn 1 5\nn 2 -5\na 1 2 0 10 3\n")
    data = korvane.generate_multi_commodity_data(inst, 2, 0)
    assert interrupted_after(0.3, lambda: korvane.save_multi_commodity_instance(str(fifo), inst, data)) < 1.0
    assert fifo.is_fifo()


@pytest.mark.parametrize("call", [
    lambda: korvane.split_supplies_spread(LONG_SPLIT, 50, 0),
    lambda: korvane.split_supplies_beta_binomial(LONG_SPLIT, 50, 3.0, 0),
])
def test_a_long_balancing(call):
    assert interrupted_after(0.5, call) < 1.0
