"""Threads: other Python threads run while a call works natively."""

import sys
import threading
import time

import pytest

import korvane


def test_python_thread_progresses_beside_a_long_load(tmp_path):
    path = tmp_path / "big.min"
    path.write_bytes(b"p min 3 1500000\nn 1 5\nn 3 -5\n" + b"a 1 2 0 9 2\na 2 3 0 8 1\n" * 750_000)
    start = time.perf_counter()
    korvane.load_min_instance(str(path))
    alone = time.perf_counter() - start
    if alone < 0.05:
        pytest.skip(f"the load took {alone:.3f} s, too short to show a stall")

    previous_interval = sys.getswitchinterval()
    sys.setswitchinterval(0.001)
    try:
        worker = threading.Thread(target=korvane.load_min_instance, args=(str(path),))
        longest_gap, last = 0.0, time.perf_counter()
        worker.start()
        while worker.is_alive():
            now = time.perf_counter()
            longest_gap, last = max(longest_gap, now - last), now
        worker.join()
    finally:
        sys.setswitchinterval(previous_interval)
    # Holding the lock for the whole load would stall this loop for about `alone`.
    assert longest_gap < alone / 2
