"""Commodity balancing, the last step of every partitioner: forced cases (one commodity with
the only surplus, K = 2), many commodities between two nodes, and the general case of many
surplus and many deficit commodities at once, which runs pass by pass.

Run with the build tree first on sys.path:
    cd benchmarks; PYTHONPATH=../build/python:. ../.venv/bin/python -P bench_balance.py"""

from __future__ import annotations

import korvane

from common import best_of, row


def spread(data: dict[int, int], k: int) -> object:
    return korvane.split_supplies_spread(data, k, 0)


def beta(data: dict[int, int], k: int) -> object:
    return korvane.split_supplies_beta_binomial(data, k, 3.0, 0)


def nodes(count: int, amount: int) -> dict[int, int]:
    """`count` supply and `count` demand nodes of `amount` units each."""
    return {n: amount for n in range(1, count + 1)} | {-n: -amount for n in range(1, count + 1)}


CASES = [
    ("K=2, +-10^12, two nodes", nodes(1, 10**12), 2, 3),
    ("K=2, +-10^15, two nodes", nodes(1, 10**15), 2, 3),
    ("K=10^3, +-10^6, two nodes", nodes(1, 10**6), 1000, 3),
    ("K=10^5, +-10^6, two nodes", nodes(1, 10**6), 100_000, 1),
    ("K=16, +-10^3, 2x5000 nodes", nodes(5000, 1000), 16, 3),
    ("K=20, +-10^7, 2x50 nodes", nodes(50, 10**7), 20, 1),
    ("K=50, +-10^9, 2x100 nodes", nodes(100, 10**9), 50, 1),
]


def main() -> None:
    print(row("case", "spread s", "beta-bin s", widths=(34, 12, 12)))
    for label, data, k, repeat in CASES:
        print(row(label, f"{best_of(lambda: spread(data, k), repeat):.3g}",
                  f"{best_of(lambda: beta(data, k), repeat):.3g}", widths=(34, 12, 12)), flush=True)


if __name__ == "__main__":
    main()
