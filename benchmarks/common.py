"""Helpers shared by the benchmarks: synthetic inputs, timing, native memory."""

from __future__ import annotations

import ctypes
import os
import random
import subprocess
import tempfile
import time
from pathlib import Path
from typing import Callable

CACHE = Path(os.environ.get("KORVANE_BENCH_DIR", Path(tempfile.gettempdir()) / "korvane-bench"))


def synthetic_min(num_nodes: int = 1_000_000, num_arcs: int = 5_000_000, seed: int = 1) -> Path:
    """A large seeded .min file (written once, then reused): node lines, parallel
    arcs and negative costs among ordinary random arcs."""
    CACHE.mkdir(parents=True, exist_ok=True)
    path = CACHE / f"synthetic_{num_nodes}_{num_arcs}_{seed}.min"
    if path.exists():
        return path
    rng = random.Random(seed)
    tmp = path.with_suffix(".tmp")
    with open(tmp, "w") as f:
        f.write(f"c synthetic network, seed {seed}\np min {num_nodes} {num_arcs}\n")
        sources = rng.sample(range(1, num_nodes + 1), max(1, num_nodes // 100))
        half = len(sources) // 2
        for i, node in enumerate(sources):
            f.write(f"n {node} {1000 if i < half else -1000}\n")
        written = 0
        last = (1, 2)
        while written < num_arcs:
            lines = []
            for _ in range(min(100_000, num_arcs - written)):
                if rng.random() < 0.02:
                    tail, head = last  # a parallel arc
                else:
                    tail = rng.randint(1, num_nodes)
                    head = rng.randint(1, num_nodes)
                last = (tail, head)
                cost = rng.randint(-100, 10_000) if rng.random() < 0.05 else rng.randint(0, 10_000)
                lines.append(f"a {tail} {head} 0 {rng.randint(1, 5_000)} {cost}\n")
            f.write("".join(lines))
            written += len(lines)
    tmp.rename(path)
    return path


def best_of(fn: Callable[[], object], repeat: int = 3) -> float:
    best = float("inf")
    for _ in range(repeat):
        start = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - start)
    return best


def on_threads(threads: int, fn: Callable[[], object]) -> Callable[[], object]:
    """fn run with KORVANE_NUM_THREADS set to `threads` (korvane reads it on every call)."""
    def run() -> object:
        before = os.environ.get("KORVANE_NUM_THREADS")
        os.environ["KORVANE_NUM_THREADS"] = str(threads)
        try:
            return fn()
        finally:
            if before is None:
                del os.environ["KORVANE_NUM_THREADS"]
            else:
                os.environ["KORVANE_NUM_THREADS"] = before
    return run


def command_time(args: list[str], repeat: int = 3) -> float:
    return best_of(lambda: subprocess.run(args, check=True, stdout=subprocess.DEVNULL), repeat)


class _Mallinfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in (
        "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks",
        "fsmblks", "uordblks", "fordblks", "keepcost")]


_libc = ctypes.CDLL(None)
_libc.mallinfo2.restype = _Mallinfo2


def malloc_in_use() -> int:
    """Bytes currently allocated through malloc (heap plus mmapped chunks). Python's
    small objects live in their own arenas, so this measures native records."""
    info = _libc.mallinfo2()
    return info.uordblks + info.hblkhd


def native_bytes(build: Callable[[], object]) -> tuple[object, int]:
    """Builds an object and returns it with the malloc'd bytes it keeps alive."""
    before = malloc_in_use()
    obj = build()
    return obj, malloc_in_use() - before


def row(*cells: object, widths: tuple[int, ...] = (34, 14, 14, 14)) -> str:
    return "".join(str(c).ljust(w) if i == 0 else str(c).rjust(w) for i, (c, w) in enumerate(zip(cells, widths)))


def numbers_only(source: Path, kind: str, target: Path) -> Path:
    """The `kind` lines of `source` without their leading letter (space-separated
    numbers only), written once for a CSV reader, then reused. Every line must
    hold the same number of fields."""
    if target.exists():
        return target
    tmp = target.with_suffix(".tmp")
    prefix = kind + " "
    with open(source) as f, open(tmp, "w") as out:
        for line in f:
            if line.startswith(prefix):
                out.write(line[2:])
    tmp.rename(target)
    return target


def pyarrow_csv():  # -> the pyarrow.csv module or None
    """pyarrow.csv, an optional peer of the readers, or None with a message."""
    try:
        import pyarrow.csv as csv
    except ImportError:
        print("pyarrow is not installed: the pyarrow.csv comparison is skipped")
        return None
    return csv


def pyarrow_reader(csv, path: Path, columns: int, use_threads: bool) -> Callable[[], object]:
    """read_csv of a space-separated file of `columns` int64 columns without a header."""
    names = [f"c{i}" for i in range(columns)]
    read = csv.ReadOptions(column_names=names, use_threads=use_threads)
    parse = csv.ParseOptions(delimiter=" ")
    convert = csv.ConvertOptions(column_types={n: "int64" for n in names})
    return lambda: csv.read_csv(str(path), read_options=read, parse_options=parse,
                                convert_options=convert)

