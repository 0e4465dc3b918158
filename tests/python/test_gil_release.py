"""Each long call runs without the interpreter lock: a Python thread keeps running beside it.

Calls whose time goes into converting Python objects (the mappings, the heterogeneity measure,
the uniform split) hold the lock for that conversion by necessity and are not listed."""

import functools
import sys
import threading
import time

import pytest

import korvane


@pytest.fixture(scope="module")
def files(tmp_path_factory):
    folder = tmp_path_factory.mktemp("gil")
    network = folder / "big.min"
    lines = [f"a {1 + (i * 7919) % 30011} {1 + i % 30011} 0 {10 + i % 90} {i % 13 - 6}\n" for i in range(400_000)]
    network.write_text("p min 30011 400000\nn 1 500\nn 2 -500\n" + "".join(lines))
    inst = korvane.load_min_instance(str(network))
    data = korvane.generate_multi_commodity_data(inst, 16, 1, randomize_caps=True, randomize_costs=True, seed=3)
    instance = folder / "big.mcf"
    korvane.save_multi_commodity_instance(str(instance), inst, data)
    # Read in ranges on several threads, 400k arcs load too fast to show a stall.
    loaded = folder / "long.min"
    loaded.write_bytes(b"p min 3 1500000\nn 1 5\nn 3 -5\n" + b"a 1 2 0 9 2\na 2 3 0 8 1\n" * 750_000)
    return {"network": str(loaded), "instance": str(instance), "inst": inst, "data": data,
            "out": str(folder / "out.mcf")}


# Many supply and demand nodes with large amounts: the balancing passes, not the conversion
# of 200 x 20 amounts, take the time.
SUPPLIES = {i: 10**7 for i in range(1, 101)} | {i: -10**7 for i in range(101, 201)}

CALLS = {
    "load_min_instance": lambda f: (korvane.load_min_instance, f["network"]),
    "load_multi_commodity_instance": lambda f: (korvane.load_multi_commodity_instance, f["instance"]),
    "save_multi_commodity_instance": lambda f: (korvane.save_multi_commodity_instance, f["out"], f["inst"], f["data"]),
    "generate_multi_commodity_data": lambda f: (functools.partial(
        korvane.generate_multi_commodity_data, randomize_caps=True, randomize_costs=True), f["inst"], 16, 2),
    "split_supplies_spread": lambda f: (korvane.split_supplies_spread, SUPPLIES, 20, 1),
    "split_supplies_beta_binomial": lambda f: (korvane.split_supplies_beta_binomial, SUPPLIES, 20, 3.0, 1),
}


def longest_stall(function, args):
    """The longest time this thread waited for the lock while function(*args) ran in another."""
    previous_interval = sys.getswitchinterval()
    sys.setswitchinterval(0.001)
    try:
        worker = threading.Thread(target=function, args=args)
        longest, last = 0.0, time.perf_counter()
        worker.start()
        while worker.is_alive():
            now = time.perf_counter()
            longest, last = max(longest, now - last), now
        worker.join()
    finally:
        sys.setswitchinterval(previous_interval)
    return longest


@pytest.mark.parametrize("name", sorted(CALLS))
def test_python_thread_runs_beside_the_call(files, name):
    function, *args = CALLS[name](files)
    start = time.perf_counter()
    function(*args)
    alone = time.perf_counter() - start
    if alone < 0.05:
        pytest.skip(f"{name} took {alone:.3f} s, too short to show a stall")
    # Holding the lock for the whole call would stall this thread for about `alone` every
    # time; on a loaded machine the scheduler alone can stall it now and then, so the best
    # of three tries counts.
    stalls = []
    while len(stalls) < 3 and min(stalls, default=alone) >= alone / 2:
        stalls.append(longest_stall(function, args))
    assert min(stalls) < alone / 2, stalls
