"""Writes the fuzz seed corpora: .min networks like those the tests load, the multi-commodity
files korvane writes from them (every list form), number tokens, four-file instances, among
them those the Mnetgen generator wrote (read in place from the shared data folder beside the
checkout, or KORVANE_MNETGEN_DIR), and the binary form (what a pickle holds) of every record
made from them. Usage: make_seeds.py DIR"""

import os
import sys
from pathlib import Path

import korvane
import korvane.korvane as native
from korvane.formats import to_problem

NETWORKS = [
    "p min 3 2\nn 1 10\nn 2 0\nn 3 -10\na 1 2 0 15 4\na 2 3 0 20 2\n",
    "c comment\r\np min 4 5\nn 1 7\nn 4 -7\na 1 2 0 5 1\na 1 2 0 5 3\na 2 4 1 9 -2\na 1 3 0 0 0\na 3 4 0 8 2\n",
    "\ufeffp min 2 1\nn -9223372036854775808 1\nn 9223372036854775807 -1\n"
    "a -9223372036854775808 9223372036854775807 0 9223372036854775807 -9223372036854775808\n",
]
OPTIONS = [
    {}, {"randomize_caps": True}, {"randomize_costs": True}, {"cap_zero": True, "cap_zero_param": 0.5},
    {"randomize_caps": True, "randomize_costs": True, "cap_zero": True, "cap_zero_param": 0.25},
]
NUMBERS = ["0", "-0", "+7", "9223372036854775807", "-9223372036854775808", "18446744073709551615",
           "1e-7", "0.1", "-2.5e-10", "1e308", "4.9e-324", "NaN", "inf", "-inf", "1.7976931348623157e308",
           "a 1 2 0 10 3", "p min 2 1 3 1 1 0 1 0.5 42"]


# Four-file instances for fuzz_four_file_reader: .nod|.arc|.sup|.mut, read as Mnetgen and as
# each JLF kind.
FOUR_FILE = [
    "2\n3\n4\n1\n|1\t1\t2\t1\t25.77\t-1\t1\n1\t1\t2\t2\t3.469e+04\t10\t1\n2 2 3 -1 1 5 0\n"
    "|1\t1\t10\n3\t1\t-10\n1 -1 4\n|1\t7.000000\n",
    "2 4 6 1|1 2 -1 1 10 -1 -1 1\n2 3 1 2 5 -1 -1 0\n2 3 -1 4 6 -1 -1 0\n2 3 1 1 1 1 3 0\n"
    "|1 -1 1 10\n-1 4 1 10\n2 -1 -1 5\n-1 3 -1 5\n|1 -20\n",
    "2 4 6 1|1 2 -1 1 10 1 -1 0\n2 4 1 1 5 -1 4 0\n1 4 1 3 -1 1 4 0\n2 3 2 1 1 2 3 1\n"
    "|1 4 1 10\n2 3 -1 5\n|1 9\n",
]


MNETGEN_DIR = Path(os.environ.get("KORVANE_MNETGEN_DIR")
                   or Path(__file__).resolve().parents[2].parent / "shared" / "data" / "mnetgen")
# The fuzz run's -max_len: a longer seed would only be cut.
MAX_SEED_BYTES = 65536


def generator_instances():
    """The generator's instances as fuzz inputs (.nod|.arc|.sup|.mut), those that fit a seed."""
    if not MNETGEN_DIR.is_dir():
        print(f"make_seeds.py: no generator instances: {MNETGEN_DIR} is absent", file=sys.stderr)
        return {}
    seeds = {}
    for nod in sorted(MNETGEN_DIR.glob("*.nod")):
        parts = [nod.with_suffix(f".{part}").read_bytes() for part in ("nod", "arc", "sup", "mut")]
        seed = b"|".join(parts)
        if len(seed) <= MAX_SEED_BYTES:
            seeds[nod.stem] = seed
    return seeds


def main(out):
    folders = {name: Path(out) / name for name in ("min", "mc", "numbers", "fourfile", "records")}
    for folder in folders.values():
        folder.mkdir(parents=True, exist_ok=True)
    for i, text in enumerate(NETWORKS):
        path = folders["min"] / f"net{i}.min"
        path.write_text(text, encoding="utf-8")
        inst = korvane.load_min_instance(str(path))
        for j, options in enumerate(OPTIONS):
            for method in (0, 1, 2):
                data = korvane.generate_multi_commodity_data(inst, 1 + (i + j) % 3, method, **options)
                mc = folders["mc"] / f"net{i}-{j}-{method}.mc"
                korvane.save_multi_commodity_instance(str(mc), inst, data)
                if method == 2:
                    parsed = korvane.load_multi_commodity_instance(str(mc))
                    for name, record in (("data", data), ("parsed", parsed), ("problem", to_problem(parsed))):
                        (folders["records"] / f"{name}{i}-{j}").write_bytes(native._dump_record(record))
        for name, record in (("network", inst), ("edge", inst.edges[0])):
            (folders["records"] / f"{name}{i}").write_bytes(native._dump_record(record))
    for i, text in enumerate(FOUR_FILE):
        (folders["fourfile"] / f"instance{i}").write_text(text)
    for name, seed in generator_instances().items():
        (folders["fourfile"] / f"mnetgen-{name}").write_bytes(seed)
    for i, token in enumerate(NUMBERS):
        (folders["numbers"] / f"token{i}").write_text(token)


if __name__ == "__main__":
    main(sys.argv[1])
