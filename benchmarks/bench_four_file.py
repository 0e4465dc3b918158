"""Reading and writing the field's four-file formats next to korvane's own multi-commodity
file, on the same instance: the synthetic network (1M arcs by default) at K = 4 with
randomised capacities and costs, saved as a .mcf file, as Mnetgen parts, and as JLF (PSP)
parts made from the Mnetgen ones. Every reader runs on one thread; each is given in MB/s of
its input and as a ratio to load_multi_commodity_instance, with `cat` of the same bytes as
the floor. The writers are compared the same way.

    python benchmarks/bench_four_file.py [ARCS]
"""

from __future__ import annotations

import sys
from pathlib import Path

import korvane
from korvane import formats

from common import CACHE, best_of, command_time, on_threads, row, synthetic_min

K = 4
PARTS = ("nod", "arc", "sup", "mut")


def jlf_from_mnetgen(base: Path, target: Path) -> Path:
    """The same instance as JLF PSP parts (written once, then reused): each arc record
    becomes (from, to, product, cost, capacity, -1, -1, pointer), each supply record
    (node, -1, product, amount) or (-1, node, product, -amount)."""
    if Path(f"{target}.arc").exists():
        return target
    with open(f"{base}.arc") as fin, open(f"{target}.arc", "w") as fout:
        for line in fin:
            _, tail, head, k, cost, cap, ptr = line.split()
            fout.write(f"{tail}\t{head}\t{k}\t{cost}\t{cap}\t-1\t-1\t{ptr}\n")
    with open(f"{base}.sup") as fin, open(f"{target}.sup", "w") as fout:
        for line in fin:
            node, k, amount = line.split()
            if amount.startswith("-"):
                fout.write(f"-1\t{node}\t{k}\t{amount[1:]}\n")
            else:
                fout.write(f"{node}\t-1\t{k}\t{amount}\n")
    Path(f"{target}.nod").write_text(Path(f"{base}.nod").read_text())
    Path(f"{target}.mut").write_text(Path(f"{base}.mut").read_text())
    return target


def without_loops(network: Path) -> Path:
    """The network without its self-loops, which the Mnetgen format cannot hold (written
    once, then reused)."""
    target = network.with_name(network.stem + "_loopless.min")
    if not target.exists():
        with open(network) as fin, open(target, "w") as fout:
            for line in fin:
                fields = line.split()
                if not (fields and fields[0] == "a" and fields[1] == fields[2]):
                    fout.write(line)
    return target


def size(paths: list[Path]) -> int:
    return sum(p.stat().st_size for p in paths)


def main() -> None:
    arcs = int(sys.argv[1]) if len(sys.argv) > 1 else 1_000_000
    network = without_loops(synthetic_min(num_nodes=max(2, arcs // 5), num_arcs=arcs))
    inst = korvane.load_min_instance(str(network))
    data = korvane.generate_multi_commodity_data(inst, K, 1, randomize_caps=True,
                                                 randomize_costs=True, seed=3)
    mcf = CACHE / f"four_file_{arcs}.mcf"
    base = CACHE / f"four_file_{arcs}"
    jlf = CACHE / f"four_file_{arcs}_psp"
    write_mcf = lambda: korvane.save_multi_commodity_instance(str(mcf), inst, data)  # noqa: E731
    write_mnetgen = lambda: formats.write_mnetgen(base, inst, data)  # noqa: E731
    write_mcf()
    write_mnetgen()
    jlf_from_mnetgen(base, jlf)
    mcf_bytes = mcf.stat().st_size
    mnetgen_files = [Path(f"{base}.{p}") for p in PARTS]
    jlf_files = [Path(f"{jlf}.{p}") for p in PARTS]

    print(f"K = {K}, {arcs} arcs; .mcf {mcf_bytes / 1e6:.1f} MB, Mnetgen "
          f"{size(mnetgen_files) / 1e6:.1f} MB, JLF {size(jlf_files) / 1e6:.1f} MB; one thread")
    print(row("reading", "seconds", "MB/s", "vs .mcf"))
    mcf_seconds = best_of(on_threads(1, lambda: korvane.load_multi_commodity_instance(str(mcf))))
    mcf_rate = mcf_bytes / mcf_seconds / 1e6
    cases = [
        ("cat of the Mnetgen parts (floor)", size(mnetgen_files),
         lambda: command_time(["cat", *map(str, mnetgen_files)])),
        ("load_multi_commodity_instance", mcf_bytes, lambda: mcf_seconds),
        ("read_mnetgen", size(mnetgen_files),
         lambda: best_of(on_threads(1, lambda: formats.read_mnetgen(base)))),
        ("read_jlf (psp)", size(jlf_files),
         lambda: best_of(on_threads(1, lambda: formats.read_jlf(jlf, "psp")))),
    ]
    for name, nbytes, timed in cases:
        seconds = timed()
        rate = nbytes / seconds / 1e6
        print(row(name, f"{seconds:.3f}", f"{rate:.0f}", f"{rate / mcf_rate:.2f}"))

    print(row("writing", "seconds", "MB/s", "vs .mcf"))
    mcf_write = best_of(on_threads(1, write_mcf))
    mnetgen_write = best_of(on_threads(1, write_mnetgen))
    write_rate = mcf_bytes / mcf_write / 1e6
    for name, nbytes, seconds in (("save_multi_commodity_instance", mcf_bytes, mcf_write),
                                  ("write_mnetgen", size(mnetgen_files), mnetgen_write)):
        rate = nbytes / seconds / 1e6
        print(row(name, f"{seconds:.3f}", f"{rate:.0f}", f"{rate / write_rate:.2f}"))


if __name__ == "__main__":
    main()
