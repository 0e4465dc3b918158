"""Capacity zeroing, which the generator folds into the draw of each row, against its
definition applied to the same data generated without zeroing: commodity k zeroes arcs
(k mod E + j * s) mod E for j < n, then every all-zero row gets its arc's upper capacity back
in commodity a mod K. Zeroing draws nothing, so both calls draw the same values."""

import math

import pytest

import korvane


def zeroed_by_definition(caps_by_arc, ups, k, p):
    caps = {a: list(row) for a, row in caps_by_arc.items()}
    e = len(ups)
    if not (p <= 0.0 or p >= 1.0) and e and k:
        n = max(math.floor(p * e), 1) if p > 0.0 else 0  # NaN selects no arc
        stride = -(-e // n) if n else 0
        for c in range(k):
            for j in range(n):
                caps[(c % e + j * stride) % e][c] = 0
        for a in range(e):
            if not any(caps[a]):
                caps[a][a % k] = ups[a]
    return caps


@pytest.mark.parametrize(("arcs", "k", "p"), [
    (1, 3, 0.5),          # E = 1: every commodity zeroes the only arc
    (4, 9, 0.5),          # K > E: k mod E wraps
    (7, 7, 0.75),         # rows emptied whole and restored
    (10, 2, 0.6),         # n * s > E: positions wrap onto earlier arcs
    (50, 16, 0.999),      # nearly every position, wrapping twice
    (50, 16, math.nan),   # nothing zeroed; zero rows restored to their zero bound
    (3000, 16, 0.3),      # several draw chunks on 2 and 3 threads
    (3000, 40, 0.05),
    (2999, 3, 0.97),
])
@pytest.mark.parametrize("randomize_caps", [False, True])
@pytest.mark.parametrize("threads", ["1", "2", "3"])
def test_zeroing_matches_its_definition(min_file, monkeypatch, arcs, k, p, randomize_caps,
                                        threads):
    monkeypatch.setenv("KORVANE_NUM_THREADS", threads)
    # Upper bounds include zeros, so that some rows are all zero before any zeroing.
    ups = [(a * 7919) % 13 for a in range(arcs)]
    lines = [f"a {a + 1} {a + 2} 0 {up} 3" for a, up in enumerate(ups)]
    inst = korvane.load_min_instance(
        min_file(f"p min {arcs + 1} {arcs}\nn 1 9\nn {arcs + 1} -9\n" + "\n".join(lines) + "\n"))
    settings = dict(randomize_caps=randomize_caps, randomize_costs=True, seed=arcs)
    plain = korvane.generate_multi_commodity_data(inst, k, 2, **settings)
    zeroed = korvane.generate_multi_commodity_data(inst, k, 2, cap_zero=True, cap_zero_param=p,
                                                   **settings)
    assert zeroed.capacities_by_arc == zeroed_by_definition(plain.capacities_by_arc, ups, k, p)
    assert zeroed.weights_by_arc == plain.weights_by_arc
