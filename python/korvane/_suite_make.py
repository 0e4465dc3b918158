"""Workers: making one instance of a suite (or regenerating it for a check)."""

from __future__ import annotations

import dataclasses
import os
import tempfile
from pathlib import Path
from typing import Any

import korvane

from . import suite_networks
from ._suite_params import _reason, generate, InstanceError, solve_module
from ._suite_files import describe_files, stream_instance, write_instance
from ._suite_manifest import Job


_loaded: dict[tuple[str, int, int], korvane.NetworkInstance] = {}


def load_network(path: str) -> korvane.NetworkInstance:
    """Load a network once per worker process: a suite makes many instances of each, one
    network after the other, so only the latest is kept."""
    st = os.stat(path)
    key = (path, st.st_mtime_ns, st.st_size)
    instance = _loaded.get(key)
    if instance is None:
        _loaded.clear()
        instance = _loaded[key] = korvane.load_min_instance(path)
    return instance


def _solve_status(job: Job, instance: korvane.NetworkInstance,
                  data: korvane.MultiCommodityData) -> tuple[str, float | None]:
    solve = solve_module()
    # One commodity that cannot be routed alone settles it without the full LP.
    if solve.screen_commodities(instance, data, first_only=True):
        return "infeasible", None
    result = solve.solve(instance, data, time_limit=job.time_limit)
    objective = result.objective if result.status == "optimal" else None
    return str(result.status), None if objective is None else float(objective)


def _build(job: Job, folder: Path) -> tuple[list[Path], dict[str, Any]]:
    """Generate the job's instance into folder; return its files and what suite.json says
    about it besides the files."""
    if job.generated is not None:
        return suite_networks.build_mnetgen(job, folder, InstanceError), {"seed": job.params.seed}
    try:
        instance = load_network(job.network_path)
    except (OSError, RuntimeError, ValueError, MemoryError, korvane.InternalError) as exc:
        raise InstanceError(f"{job.network}: {_reason(exc)}") from None
    base = folder / (job.name + (".mcf" if job.fmt == "mcf" else ""))
    where = f"{base}{'.{nod,arc,sup,mut}' if job.fmt == 'mnetgen' else ''}"
    if not job.feasible_only:
        # Nothing needs the data in memory: draw and write in one pass.
        try:
            files = stream_instance(instance, job.params, base, job.fmt)
        except MemoryError:
            raise InstanceError(f"{job.name}: not enough memory for "
                                f"{job.params.num_commodities} commodities on {job.network}") from None
        except (OSError, ValueError) as exc:
            raise InstanceError(f"{where}: {_reason(exc)}") from None
        except (RuntimeError, korvane.InternalError) as exc:
            raise InstanceError(f"{job.network}: {_reason(exc)}") from None
        return files, {"seed": job.params.seed}
    # Kept only when feasible: the data is drawn whole, solved, and written if kept.
    try:
        tries = job.max_seed_tries if job.replace_infeasible else 1
        for attempt in range(tries):
            params = dataclasses.replace(job.params, seed=(job.params.seed + attempt) % 2**64)
            data = generate(instance, params)
            status, objective = _solve_status(job, instance, data)
            if status == "optimal":
                break
        extra: dict[str, Any] = {"status": status, "objective": objective}
    except MemoryError:
        raise InstanceError(f"{job.name}: not enough memory for {job.params.num_commodities} "
                            f"commodities on {job.network}") from None
    except (OSError, RuntimeError, ValueError, korvane.InternalError) as exc:
        raise InstanceError(f"{job.network}: {_reason(exc)}") from None
    try:
        files = write_instance(instance, data, base, job.fmt)
    except (OSError, RuntimeError, ValueError, korvane.InternalError) as exc:
        # A full disk or a missing folder is the output's fault, not the network's.
        raise InstanceError(f"{where}: {_reason(exc)}") from None
    return files, {"seed": params.seed, **extra}


def make_instance(job: Job, collect: bool = False) -> dict[str, Any]:
    """Worker: make one instance. Written straight into the output folder, or, with collect,
    returned as bytes for the client to write."""
    if not collect:
        files, extra = _build(job, Path(job.output))
        return {"files": describe_files(files), **extra}
    with tempfile.TemporaryDirectory(prefix="korvane-") as tmp:
        files, extra = _build(job, Path(tmp))
        return {"files": describe_files(files), **extra,
                "contents": [f.read_bytes() for f in files]}


def regenerate_checksums(job: Job, seed: int) -> list[dict[str, Any]]:
    """Worker for --verify: regenerate with the recorded seed in a temporary folder."""
    fixed = dataclasses.replace(job, params=dataclasses.replace(job.params, seed=seed),
                                feasible_only=False)
    with tempfile.TemporaryDirectory(prefix="korvane-verify-") as tmp:
        files, _ = _build(fixed, Path(tmp))
        return describe_files(files)
