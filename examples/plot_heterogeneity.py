"""Draw how unevenly each partitioning method spreads a real network's supplies and demands
over K commodities (0 = every commodity gets the same share, 1 = each node serves one).

    python examples/plot_heterogeneity.py [NETWORK.min] [-o PICTURE.png]

NETWORK defaults to the DIMACS sample netgen_8_14a.min when the shared sample folder is
beside the checkout, else to the bundled examples/network.min; the picture goes to
PICTURE.png, by default to korvane-heterogeneity.png in the temporary folder (the picture
in the docs (command-line.md), examples/heterogeneity.png, was made with -o examples/heterogeneity.png).
Needs matplotlib (pip install '.[plot]' from a checkout). Seeded methods are drawn as the
mean over ten seeds with a band from the lowest to the highest value.
"""

import argparse
import statistics
import tempfile
from collections.abc import Callable
from pathlib import Path

import korvane

HERE = Path(__file__).resolve().parent
KS = [2, 3, 4, 6, 8, 12, 16, 24, 32, 48, 64]
SEEDS = range(1, 11)

Partitioner = Callable[[dict[int, int], int, int], dict[int, list[int]]]


def default_network() -> Path:
    # The DIMACS samples live in a shared folder beside the checkout, not in it; a fresh
    # clone has only the bundled network.
    for parent in HERE.parents:
        candidate = parent / "shared" / "data" / "dimacs" / "netgen_8_14a.min"
        if candidate.is_file():
            return candidate
    return HERE / "network.min"


def series(supplies: dict[int, int], split: Partitioner, seeds: range) -> list[list[float]]:
    """For each K, the heterogeneity of the partition of every seed."""
    return [
        [korvane.compute_commodity_demand_heterogeneity(split(supplies, k, seed), supplies) for seed in seeds]
        for k in KS
    ]


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("network", nargs="?", type=Path, default=default_network())
    parser.add_argument("-o", "--output", type=Path,
                        default=Path(tempfile.gettempdir()) / "korvane-heterogeneity.png")
    args = parser.parse_args()
    try:
        import matplotlib
    except ImportError:
        raise SystemExit("this example needs matplotlib: pip install '.[plot]' (or pip install matplotlib)") from None
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    inst = korvane.load_min_instance(str(args.network))
    supplies = inst.supplies
    methods: list[tuple[str, Partitioner, range]] = [
        ("spread", korvane.split_supplies_spread, SEEDS),
        ("uniform", lambda s, k, _seed: korvane.split_supplies_uniform(s, k), range(1)),
        ("beta-binomial, concentration 3", lambda s, k, seed: korvane.split_supplies_beta_binomial(s, k, 3.0, seed),
         SEEDS),
        ("beta-binomial, concentration 0.5",
         lambda s, k, seed: korvane.split_supplies_beta_binomial(s, k, 0.5, seed), SEEDS),
    ]

    fig, ax = plt.subplots(figsize=(7.5, 4.2), dpi=100)
    for label, split, seeds in methods:
        values = series(supplies, split, seeds)
        mean = [statistics.fmean(v) for v in values]
        line = ax.plot(KS, mean, marker="o", markersize=3.5, label=label)[0]
        if len(seeds) > 1:
            ax.fill_between(KS, [min(v) for v in values], [max(v) for v in values],
                            color=line.get_color(), alpha=0.18, linewidth=0)
    ax.set_xscale("log", base=2)
    ax.set_xticks(KS, [str(k) for k in KS])
    ax.set_ylim(-0.02, 1.02)
    ax.set_xlabel("number of commodities K")
    ax.set_ylabel("commodity-demand heterogeneity")
    ax.set_title(f"{args.network.name}: {len(supplies)} supply and demand nodes, {len(inst.edges)} arcs",
                 fontsize=10)
    ax.grid(True, alpha=0.3)
    ax.legend(fontsize=8, loc="best")
    fig.tight_layout()
    fig.savefig(args.output, metadata={"Software": None})
    print(f"wrote {args.output}")


if __name__ == "__main__":
    main()
