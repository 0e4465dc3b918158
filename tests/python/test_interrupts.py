"""Ctrl-C ends calls that block or run long within a second and leaves nothing half-written."""

import os
import subprocess
import time

import pytest

import korvane

# Many surplus and many deficit commodities at once, 10^9 units each: passes cannot be applied
# in bulk, so balancing runs for many seconds.
LONG_SPLIT = {n: 10**9 for n in range(1, 101)} | {-n: -10**9 for n in range(1, 101)}


@pytest.mark.parametrize("call", [
    lambda fifo, inst, data: korvane.load_min_instance(str(fifo)),
    lambda fifo, inst, data: korvane.load_multi_commodity_instance(str(fifo)),
    lambda fifo, inst, data: korvane.save_multi_commodity_instance(str(fifo), inst, data),
    lambda *_: korvane.split_supplies_spread(LONG_SPLIT, 50, 0),
    lambda *_: korvane.split_supplies_beta_binomial(LONG_SPLIT, 50, 3.0, 0),
], ids=["min-fifo-without-writer", "mc-fifo-without-writer", "save-fifo-without-reader",
        "long-spread", "long-beta"])
def test_sigint_raises_keyboard_interrupt_within_a_second(tmp_path, net, call):
    fifo = tmp_path / "pipe"
    os.mkfifo(fifo)
    inst = net("p min 2 1\nn 1 5\nn 2 -5\na 1 2 0 10 3\n")
    data = korvane.generate_multi_commodity_data(inst, 2, 0)
    # Another process sends it, as Ctrl-C does: no thread of ours could, the call holds the GIL.
    start, delay = time.monotonic(), 0.4
    sender = subprocess.Popen(["sh", "-c", f"sleep {delay}; kill -INT {os.getpid()}"])
    try:
        with pytest.raises(KeyboardInterrupt):
            call(fifo, inst, data)
    finally:
        sender.wait()
    assert time.monotonic() - start - delay < 1.0
    assert fifo.is_fifo()
