"""The files of a suite's instances: writing them (streamed or whole), their temporaries and
their checksums."""

from __future__ import annotations

import dataclasses
import hashlib
import os
from collections.abc import Sequence
from pathlib import Path
from typing import Any

import korvane

from ._suite_params import (
    _NATIVE, COMPRESSION_CODES, formats_module, MNETGEN_PARTS, Params, TMP_MARK, TMP_NAME,
)


def stream_instance(instance: korvane.NetworkInstance, params: Params, base: Path,
                    fmt: str, compression: str | None = None) -> list[Path]:
    """The files write_instance(instance, generate(instance, params), base, fmt) writes, the
    same bytes, drawn and written in one pass that holds only a window of the data, whole
    or not at all. Generation failures come first, as InternalError (or MemoryError);
    the writer's then raise OSError or ValueError, before any file is opened. The native
    writer puts the files in place itself (keeping a replaced file's mode, owner and
    symbolic link), compressed as ``compression`` ("gzip", "zstd" or None) says; compressed
    Mnetgen parts are named BASE.nod.gz (.zst)."""
    suffix = {None: "", "gzip": ".gz", "zstd": ".zst"}[compression] if fmt == "mnetgen" else ""
    finals = [p.with_name(p.name + suffix) for p in output_files(base, fmt)]
    _NATIVE._generate_to_files([str(p) for p in finals], instance, **dataclasses.asdict(params),
                               compression=COMPRESSION_CODES[compression])
    return finals


def output_files(base: Path, fmt: str) -> list[Path]:
    """The files an instance written at base occupies."""
    if fmt == "mnetgen":
        return [base.with_name(base.name + part) for part in MNETGEN_PARTS]
    return [base]


def temporary_sibling(path: Path, suffix: str = "") -> Path:
    """A name in path's folder that no other writer uses, marked so that an interrupted
    run's leftovers can be recognised and removed (suffix: for writers that choose the
    format by the name's ending)."""
    return path.with_name(f".{path.name}.{os.getpid()}.{os.urandom(4).hex()}{TMP_MARK}{suffix}")


def _process_alive(pid: int) -> bool:
    if pid == os.getpid():
        return True
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except (PermissionError, OverflowError):
        return True  # another user's process, or not a pid we can ask about: leave it
    return True


def remove_stale_temporaries(folder: Path) -> list[Path]:
    """Remove the temporary files that runs which are no longer alive left in folder (a
    SIGKILL, a crashed machine); those of a live process stay. Returns what was removed."""
    removed: list[Path] = []
    try:
        names = [e.name for e in os.scandir(folder) if e.name.startswith(".")]
    except OSError:
        return removed  # a folder that cannot be listed holds nothing we could remove
    for name in names:
        match = TMP_NAME.fullmatch(name)
        if match is None or _process_alive(int(match.group(1))):
            continue
        try:
            (folder / name).unlink()
        except FileNotFoundError:
            continue  # its own run finished it meanwhile
        except OSError:
            continue  # not ours to remove (a folder, another user's file)
        removed.append(folder / name)
    return removed


def write_instance(instance: korvane.NetworkInstance, data: korvane.MultiCommodityData,
                   base: Path, fmt: str) -> list[Path]:
    """Write the instance at base in the given format, whole or not at all: the native
    writers write every file under a temporary name and rename it into place once all are
    written (the four Mnetgen parts as one instance)."""
    if fmt == "mnetgen":
        formats_module().write_mnetgen(str(base), instance, data)
    else:
        korvane.save_multi_commodity_instance(str(base), instance, data)
    return output_files(base, fmt)


def sha256_file(path: Path) -> str:
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        while block := f.read(1 << 20):
            digest.update(block)
    return digest.hexdigest()


def describe_files(paths: Sequence[Path]) -> list[dict[str, Any]]:
    return [{"name": p.name, "size": p.stat().st_size, "sha256": sha256_file(p)} for p in paths]
