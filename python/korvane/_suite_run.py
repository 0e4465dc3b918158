"""The runner: every instance of a suite not already made, with suite.json rewritten as
instances finish so that an interrupted run resumes."""

from __future__ import annotations

import concurrent.futures
import dataclasses
import json
import os
import time
from collections.abc import Callable, Iterable, Iterator
from pathlib import Path
from typing import Any

from . import suite_networks, _version
from ._suite_params import _NATIVE, _reason, formats_module, InstanceError, solve_module
from ._suite_files import remove_stale_temporaries, sha256_file
from ._suite_manifest import Job, Suite
from ._suite_make import make_instance


def write_json_atomic(path: Path, obj: Any) -> None:
    # Through the native writer: replaced whole, synced, the file's mode and link kept.
    text = json.dumps(obj, indent=2, sort_keys=True) + "\n"
    _NATIVE._write_bytes([str(path)], (text.encode("utf-8"),))


def _entry(job: Job, result: dict[str, Any], network_sha256: str) -> dict[str, Any]:
    # What the instance was made from (network, parameters, korvane version) sits beside
    # what it is, so that a later run can tell which instances its inputs no longer make.
    entry: dict[str, Any] = {
        "name": job.name,
        "network": job.network,
        "network_sha256": network_sha256,
        "params": _params_json(job),
        "files": result["files"],
        "korvane_version": _version.__version__,
    }
    if result["seed"] != job.params.seed:
        entry["params"]["seed"] = result["seed"]
        entry["requested_seed"] = job.params.seed
    if "status" in result:
        entry["status"] = result["status"]
        entry["objective"] = result["objective"]
    return entry


def _params_json(job: Job) -> dict[str, Any]:
    return job.params.to_json() if job.generated is None else dict(job.generated)


def _entry_seed(entry: dict[str, Any]) -> int:
    return int(entry["params"]["seed"])


def read_suite_file(suite: Suite) -> dict[str, dict[str, Any]]:
    """The entries of an existing suite.json by instance name; none if there is no file."""
    try:
        with open(suite.suite_file, encoding="utf-8") as f:
            doc = json.load(f)
    except FileNotFoundError:
        return {}
    except (OSError, ValueError) as exc:
        raise InstanceError(f"{suite.suite_file}: cannot read: {exc}") from None
    entries = doc.get("instances") if isinstance(doc, dict) else None
    if not isinstance(entries, list):
        raise InstanceError(f"{suite.suite_file}: no list of instances")
    # Entries written before each recorded its network's checksum take the suite's.
    networks = doc.get("networks")
    for e in entries:
        if isinstance(e, dict) and "network_sha256" not in e and isinstance(networks, dict):
            recorded = networks.get(e.get("network"))
            if isinstance(recorded, dict) and isinstance(recorded.get("sha256"), str):
                e["network_sha256"] = recorded["sha256"]
    # Only plain names in the output folder are trusted: an edited suite.json must not make
    # the runner look at, or replace, files elsewhere.
    return {e["name"]: e for e in entries
            if isinstance(e, dict) and isinstance(e.get("name"), str)
            and isinstance(e.get("files"), list) and e["files"]
            and all(isinstance(f, dict) and _plain_name(f.get("name")) for f in e["files"])}


def _plain_name(name: Any) -> bool:
    return isinstance(name, str) and name not in ("", ".", "..") and "/" not in name and os.sep not in name


def _stale_reason(suite: Suite, job: Job, entry: dict[str, Any] | None, network_sha256: str) -> str | None:
    """Why an earlier run's instance must be made again, or None to keep it: it is kept when
    it was made from the same network, settings and korvane version and every one of its
    files is still on disk with the recorded checksum."""
    if entry is None:
        return "new"
    recorded = dict(entry.get("params", {}))
    if job.generated is None:
        recorded["seed"] = entry.get("requested_seed", recorded.get("seed"))
    if entry.get("network") != job.network or recorded != _params_json(job):
        return "parameters changed"
    if job.feasible_only != ("status" in entry):
        return "parameters changed"
    # A replaced seed stands only while replacement is asked for, and an infeasible
    # instance only while it is not.
    if "requested_seed" in entry and not job.replace_infeasible:
        return "parameters changed"
    if job.replace_infeasible and entry.get("status") != "optimal":
        return "parameters changed"
    if entry.get("network_sha256") != network_sha256:
        return "network changed"
    if entry.get("korvane_version") != _version.__version__:
        return "korvane version changed"
    for f in entry.get("files", []):
        path = suite.output / f["name"]
        try:
            if path.stat().st_size != f["size"] or sha256_file(path) != f["sha256"]:
                return "file changed"
        except OSError:
            return "file missing"
    return None if entry.get("files") else "file missing"


def network_checksums(suite: Suite) -> dict[str, dict[str, Any]]:
    sums = {shown: {"size": p.stat().st_size, "sha256": sha256_file(p)} for shown, p in suite.networks}
    for shown, recipe in suite.generated.items():
        sums[shown].update(suite_networks.describe(recipe))
    for job in suite.jobs:
        if job.generated is not None:
            sums[job.network] = suite_networks.describe_mnetgen(job.generated)
    return sums


REMADE_BECAUSE = ("new", "network changed", "parameters changed", "korvane version changed",
                  "file changed", "file missing")


@dataclasses.dataclass
class RunSummary:
    made: int = 0
    kept: int = 0
    infeasible: list[str] = dataclasses.field(default_factory=list)
    # Why the instances were made (one of REMADE_BECAUSE), with their counts.
    reasons: dict[str, int] = dataclasses.field(default_factory=dict)

    def __str__(self) -> str:
        why = ""
        if set(self.reasons) - {"new"}:
            parts = [(r, self.reasons[r]) for r in REMADE_BECAUSE if r in self.reasons]
            why = (f" ({parts[0][0]})" if len(parts) == 1
                   else " (" + ", ".join(f"{n} {reason}" for reason, n in parts) + ")")
        return f"{self.made} made{why}, {self.kept} kept"


Progress = Callable[[str, str], None]  # (what happened, instance name)


def _document(suite: Suite, networks: dict[str, Any], entries: dict[str, dict[str, Any]]) -> dict[str, Any]:
    order = {job.name: i for i, job in enumerate(suite.jobs)}
    listed = sorted((e for n, e in entries.items() if n in order), key=lambda e: order[e["name"]])
    return {
        "korvane_version": _version.__version__,
        "format": suite.fmt,
        "networks": networks,
        "instances": listed,
    }


def _run_windowed(executor: concurrent.futures.Executor, window: int, tasks: Iterable[Any],
                  submit: Callable[[Any], concurrent.futures.Future[Any]],
                  done: Callable[[Any, concurrent.futures.Future[Any]], None]) -> None:
    """Keep at most window tasks in flight, so a suite of thousands of instances neither
    queues them all at once nor leaves a worker idle."""
    pending: dict[concurrent.futures.Future[Any], Any] = {}
    it: Iterator[Any] = iter(tasks)
    try:
        while True:
            while len(pending) < window:
                task = next(it, None)
                if task is None:
                    break
                pending[submit(task)] = task
            if not pending:
                return
            finished, _ = concurrent.futures.wait(pending, return_when=concurrent.futures.FIRST_COMPLETED)
            for future in finished:
                # Dropped from pending only once recorded: an interrupt inside done() leaves
                # it for the handler below to record (done() may then run twice for it).
                done(pending[future], future)
                del pending[future]
    except BaseException:
        # Interrupted or failed: nothing new starts, but instances already running are
        # finished and recorded, so their work is not lost.
        for future in pending:
            future.cancel()
        for future in concurrent.futures.as_completed(pending):
            if not future.cancelled() and future.exception() is None:
                done(pending[future], future)
        raise


def run_suite(suite: Suite, executor: concurrent.futures.Executor, *, workers: int = 1,
              collect: bool = False, progress: Progress | None = None) -> RunSummary:
    """Make every instance of the suite not already made. suite.json is rewritten atomically
    as instances finish, so an interrupted run is resumed by running it again."""
    if suite.fmt == "mnetgen":
        formats_module()
    if any(job.feasible_only for job in suite.jobs):
        solve_module()
    suite.output.mkdir(parents=True, exist_ok=True)
    remove_stale_temporaries(suite.output)
    try:
        suite_networks.make_generated(suite.generated, dict(suite.networks), suite.suite_file,
                                      sha256_file)
    except (OSError, ValueError) as exc:
        raise InstanceError(f"{suite.output}: cannot make a generated network: {_reason(exc)}") from None
    networks = network_checksums(suite)
    previous = read_suite_file(suite)
    entries: dict[str, dict[str, Any]] = {}
    summary = RunSummary()
    todo = []
    why: dict[str, str] = {}
    for job in suite.jobs:
        old = previous.get(job.name)
        reason = _stale_reason(suite, job, old, networks[job.network]["sha256"])
        if reason is None and old is not None:
            entries[job.name] = old
            summary.kept += 1
            if progress:
                progress("kept", job.name)
        else:
            todo.append(job)
            why[job.name] = reason or "new"

    last_write = 0.0

    def save(force: bool = False) -> None:
        nonlocal last_write
        if force or time.monotonic() - last_write > 1.0:
            write_json_atomic(suite.suite_file, _document(suite, networks, entries))
            last_write = time.monotonic()

    recorded: set[str] = set()

    def done(job: Job, future: concurrent.futures.Future[Any]) -> None:
        if job.name in recorded:
            return
        result = future.result()
        if collect:
            # Put in place by the native writer, the four parts of a Mnetgen instance as one.
            _NATIVE._write_bytes([str(suite.output / desc["name"]) for desc in result["files"]],
                                 tuple(result["contents"]))
        entries[job.name] = _entry(job, result, networks[job.network]["sha256"])
        recorded.add(job.name)
        summary.made += 1
        summary.reasons[why[job.name]] = summary.reasons.get(why[job.name], 0) + 1
        if result.get("status", "optimal") != "optimal":
            summary.infeasible.append(job.name)
        save()
        if progress:
            progress("made", job.name)

    try:
        _run_windowed(executor, max(1, workers) * 2, todo,
                      lambda job: executor.submit(make_instance, job, collect), done)
    finally:
        save(force=True)
    return summary
