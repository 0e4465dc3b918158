"""Every public call, repeated, leaves resident memory flat."""

import os

import pytest

import korvane
from conftest import DATA_FIELDS, PARSED_FIELDS

pytestmark = [
    pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="needs /proc"),
    # The sanitizer's allocator keeps freed memory in quarantine, so RSS cannot stay flat.
    pytest.mark.skipif(os.environ.get("KORVANE_SANITIZED") == "1", reason="RSS is not flat under ASan"),
]


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def calls(tmp_path, min_file):
    good = min_file("p min 4 4\nn 1 6\nn 4 -6\na 1 2 0 10 3\na 2 4 0 10 1\na 1 3 0 5 2\na 3 4 0 5 2\n")
    bad = min_file("p min 2 1\na 1\n")
    inst = korvane.load_min_instance(good)
    data = korvane.generate_multi_commodity_data(inst, 3, 2, randomize_caps=True, cap_zero=True,
                                                 cap_zero_param=0.5)
    out, missing = str(tmp_path / "out.mc"), str(tmp_path / "missing" / "x.mc")
    korvane.save_multi_commodity_instance(out, inst, data)
    parsed = korvane.load_multi_commodity_instance(out)
    failing = (OSError, RuntimeError, TypeError, ValueError, OverflowError, korvane.InternalError)

    def fails(call, *args, **kwargs):
        try:
            call(*args, **kwargs)
        except failing:
            return
        raise AssertionError("expected a failure")

    return [
        lambda: korvane.load_min_instance(good),
        lambda: fails(korvane.load_min_instance, bad),
        lambda: fails(korvane.load_min_instance, str(tmp_path / "absent.min")),
        lambda: korvane.split_supplies_uniform({1: 7, 2: -7}, 3),
        lambda: korvane.split_supplies_spread({1: 7, 2: -7}, 3, 5),
        lambda: korvane.split_supplies_beta_binomial({1: 7, 2: -7}, 3, 2.0, 5),
        lambda: fails(korvane.split_supplies_spread, {1: 7, "x": -7}, 3, 5),
        lambda: fails(korvane.split_supplies_uniform, {1: 2**62, 2: 2**62}, 1),
        lambda: korvane.compute_commodity_demand_heterogeneity({1: [3, 4]}, {1: 7}),
        lambda: korvane.generate_multi_commodity_data(inst, 3, 0, randomize_costs=True),
        lambda: fails(korvane.generate_multi_commodity_data, inst, 3, 3),
        lambda: fails(korvane.generate_multi_commodity_data, inst, 3, 0, randomize_caps=1),
        lambda: korvane.save_multi_commodity_instance(out, inst, data),
        lambda: fails(korvane.save_multi_commodity_instance, missing, inst, data),
        lambda: korvane.load_multi_commodity_instance(out),
        lambda: fails(korvane.load_multi_commodity_instance, bad),
        lambda: korvane.get_adjacency_mapping([1, 2, 3], [(1, 2), (2, 3)]),
        lambda: fails(korvane.get_adjacency_mapping, [1, 2], [(1, 2, 0)]),
        lambda: korvane.get_incidence_mapping([1, 2], [(1, 2, 0)]),
        lambda: fails(korvane.get_incidence_mapping, "12", []),
        lambda: [getattr(data, field) for field in DATA_FIELDS],
        lambda: [getattr(parsed, field) for field in PARSED_FIELDS],
        lambda: (inst.edges, inst.supplies, inst.topology(), parsed.topology()),
    ]


def test_resident_memory_stays_flat(tmp_path, min_file):
    work = calls(tmp_path, min_file)
    for _ in range(300):  # warm up: allocator pools, interned objects, caches of the interpreter
        for call in work:
            call()
    before = resident_bytes()
    for _ in range(3000):
        for call in work:
            call()
    # 3000 rounds of 23 calls: a leak of even one small object per call would add megabytes.
    assert resident_bytes() - before < 1 << 20
