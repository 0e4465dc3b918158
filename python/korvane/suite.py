"""Instance suites: a TOML manifest names networks and a grid of generation settings; the
runner makes every instance of the grid through any concurrent.futures.Executor, records
each file's size and SHA-256 in suite.json, resumes an interrupted run and verifies a
finished one by regenerating it."""

from __future__ import annotations

import concurrent.futures
import dataclasses
import glob
import hashlib
import importlib
import itertools
import json
import math
import os
import tempfile
import time
import tomllib
from collections.abc import Callable, Iterable, Iterator, Sequence
from pathlib import Path
from typing import Any

import korvane

from ._version import __version__

METHODS = ("spread", "uniform", "beta-binomial")
FORMATS = ("mcf", "mnetgen")
MNETGEN_PARTS = (".nod", ".arc", ".sup", ".mut")
SUITE_FILE = "suite.json"
TMP_MARK = ".korvane-tmp"


class ManifestError(ValueError):
    """A manifest that cannot describe a suite; the message names the offending key."""


class InstanceError(Exception):
    """One instance could not be made; raised in a worker, carried back to the runner."""


class MissingFeature(ImportError):
    """An optional part of korvane (or its extra) that this installation lacks."""


# --- generation parameters ---------------------------------------------------------------


@dataclasses.dataclass(frozen=True)
class Params:
    """The arguments of generate_multi_commodity_data, with its defaults."""

    num_commodities: int
    method: int
    randomize_caps: bool = False
    cap_a: float = 0.8
    cap_b: float = 1.0
    randomize_costs: bool = False
    cost_a: float = 0.8
    cost_b: float = 1.2
    concentration_param: float = 3.0
    cap_zero: bool = False
    cap_zero_param: float = 0.0
    seed: int = 42

    def effective(self) -> Params:
        """The same instance with every setting that cannot change it reset to its default,
        so that grid points differing only there collapse into one."""
        base = Params(0, 0)
        return dataclasses.replace(
            self,
            concentration_param=self.concentration_param if self.method == 2 else base.concentration_param,
            cap_a=self.cap_a if self.randomize_caps else base.cap_a,
            cap_b=self.cap_b if self.randomize_caps else base.cap_b,
            cost_a=self.cost_a if self.randomize_costs else base.cost_a,
            cost_b=self.cost_b if self.randomize_costs else base.cost_b,
            cap_zero_param=self.cap_zero_param if self.cap_zero else base.cap_zero_param,
        )

    def to_json(self) -> dict[str, Any]:
        out = dataclasses.asdict(self)
        out["method"] = METHODS[self.method]
        return out

    @staticmethod
    def from_json(obj: dict[str, Any]) -> Params:
        fields = {f.name for f in dataclasses.fields(Params)}
        values = {k: v for k, v in obj.items() if k in fields}
        values["method"] = METHODS.index(values["method"])
        return Params(**values)


def generate(instance: korvane.NetworkInstance, params: Params) -> korvane.MultiCommodityData:
    return korvane.generate_multi_commodity_data(
        instance, params.num_commodities, params.method,
        randomize_caps=params.randomize_caps, cap_a=params.cap_a, cap_b=params.cap_b,
        randomize_costs=params.randomize_costs, cost_a=params.cost_a, cost_b=params.cost_b,
        concentration_param=params.concentration_param, cap_zero=params.cap_zero,
        cap_zero_param=params.cap_zero_param, seed=params.seed)


def _submodule(name: str, purpose: str) -> Any:
    # Imported on first use: the submodules pull in optional dependencies of their own,
    # and their ImportError, which names the extra to install, is passed on as it is.
    try:
        return importlib.import_module(f"korvane.{name}")
    except ModuleNotFoundError as exc:
        if exc.name != f"korvane.{name}":
            raise MissingFeature(str(exc)) from exc
        raise MissingFeature(f"{purpose} needs korvane.{name}, which this korvane lacks") from exc
    except ImportError as exc:
        raise MissingFeature(str(exc)) from exc


def formats_module() -> Any:
    return _submodule("formats", "the Mnetgen format")


def solve_module() -> Any:
    solve = _submodule("solve", "solving")
    # korvane.solve imports its solver only when it runs; find out before any work starts.
    for name in ("numpy", "highspy"):
        try:
            importlib.import_module(name)
        except ImportError:
            raise MissingFeature(f"korvane.solve needs {name}: pip install 'korvane[solve]'") from None
    return solve


def output_files(base: Path, fmt: str) -> list[Path]:
    """The files an instance written at base occupies."""
    if fmt == "mnetgen":
        return [base.with_name(base.name + part) for part in MNETGEN_PARTS]
    return [base]


def temporary_sibling(path: Path) -> Path:
    """A name in path's folder that no other writer uses, marked so that an interrupted
    run's leftovers can be recognised and removed."""
    return path.with_name(f".{path.name}.{os.getpid()}.{os.urandom(4).hex()}{TMP_MARK}")


def write_instance(instance: korvane.NetworkInstance, data: korvane.MultiCommodityData,
                   base: Path, fmt: str) -> list[Path]:
    """Write the instance at base in the given format, whole or not at all: every file goes
    to a temporary name first and is renamed into place once all are written."""
    tmp = temporary_sibling(base)
    tmp_files = output_files(tmp, fmt)
    try:
        if fmt == "mnetgen":
            formats_module().write_mnetgen(str(tmp), instance, data)
        else:
            korvane.save_multi_commodity_instance(str(tmp), instance, data)
        finals = output_files(base, fmt)
        for src, dst in zip(tmp_files, finals):
            os.replace(src, dst)
        return finals
    finally:
        for leftover in tmp_files:
            leftover.unlink(missing_ok=True)


def sha256_file(path: Path) -> str:
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        while block := f.read(1 << 20):
            digest.update(block)
    return digest.hexdigest()


def describe_files(paths: Sequence[Path]) -> list[dict[str, Any]]:
    return [{"name": p.name, "size": p.stat().st_size, "sha256": sha256_file(p)} for p in paths]


# --- manifest ------------------------------------------------------------------------------

TOP_KEYS = {"output", "format", "networks", "feasible_only", "replace_infeasible",
            "max_seed_tries", "time_limit", "grid"}
GRID_KEYS = {f.name for f in dataclasses.fields(Params)} | {"seed_range"}
FLOAT_KEYS = ("cap_a", "cap_b", "cost_a", "cost_b", "concentration_param", "cap_zero_param")
BOOL_KEYS = ("randomize_caps", "randomize_costs", "cap_zero")


@dataclasses.dataclass(frozen=True)
class Job:
    """One instance of a suite: what a worker needs to make or check it."""

    name: str
    network: str          # as the manifest's folder sees it; recorded in suite.json
    network_path: str     # absolute, what a worker opens
    params: Params
    fmt: str
    output: str           # absolute folder
    feasible_only: bool = False
    replace_infeasible: bool = False
    max_seed_tries: int = 10
    time_limit: float | None = None


@dataclasses.dataclass
class Suite:
    manifest: Path
    output: Path
    fmt: str
    networks: list[tuple[str, Path]]
    jobs: list[Job]

    @property
    def suite_file(self) -> Path:
        return self.output / SUITE_FILE

    def with_output(self, folder: str | os.PathLike[str]) -> Suite:
        """The same suite made in another folder (a published manifest names its own)."""
        out = Path(folder).resolve()
        jobs = [dataclasses.replace(job, output=str(out)) for job in self.jobs]
        return dataclasses.replace(self, output=out, jobs=jobs)


def _as_list(key: str, value: Any) -> list[Any]:
    items = value if isinstance(value, list) else [value]
    if not items:
        raise ManifestError(f"{key}: needs at least one value")
    return items


def _check_int(key: str, v: Any, low: int, high: int = 2**64 - 1) -> int:
    if isinstance(v, bool) or not isinstance(v, int):
        raise ManifestError(f"{key}: expected an integer, got {v!r}")
    if not low <= v <= high:
        raise ManifestError(f"{key}: must be between {low} and {high}, got {v}")
    return v


def parse_method(key: str, v: Any) -> int:
    if isinstance(v, str) and v in METHODS:
        return METHODS.index(v)
    if isinstance(v, int) and not isinstance(v, bool) and 0 <= v < len(METHODS):
        return v
    raise ManifestError(f"{key}: unknown method {v!r} (expected spread, uniform or beta-binomial, or 0, 1, 2)")


def _grid_values(grid: dict[str, Any]) -> dict[str, list[Any]]:
    unknown = sorted(set(grid) - GRID_KEYS)
    if unknown:
        raise ManifestError(f"grid.{unknown[0]}: unknown key")
    if "num_commodities" not in grid:
        raise ManifestError("grid.num_commodities: missing")
    if "method" not in grid:
        raise ManifestError("grid.method: missing")
    values: dict[str, list[Any]] = {}
    ks = [_check_int("grid.num_commodities", v, 0) for v in _as_list("grid.num_commodities", grid["num_commodities"])]
    if 0 in ks:
        raise ManifestError("grid.num_commodities: must be at least 1, got 0")
    values["num_commodities"] = ks
    values["method"] = [parse_method("grid.method", v) for v in _as_list("grid.method", grid["method"])]
    if "seed" in grid and "seed_range" in grid:
        raise ManifestError("grid.seed_range: give either grid.seed or grid.seed_range, not both")
    if "seed_range" in grid:
        rng = grid["seed_range"]
        if not isinstance(rng, dict) or set(rng) != {"start", "count"}:
            raise ManifestError("grid.seed_range: expected a table {start = S, count = N}")
        start = _check_int("grid.seed_range.start", rng["start"], 0)
        count = _check_int("grid.seed_range.count", rng["count"], 1, min(2**64 - start, 10**7))
        values["seed"] = list(range(start, start + count))
    else:
        values["seed"] = [_check_int("grid.seed", v, 0) for v in _as_list("grid.seed", grid.get("seed", 42))]
    defaults = Params(0, 0)
    for key in BOOL_KEYS:
        vals = _as_list(f"grid.{key}", grid.get(key, getattr(defaults, key)))
        for v in vals:
            if not isinstance(v, bool):
                raise ManifestError(f"grid.{key}: expected true or false, got {v!r}")
        values[key] = vals
    for key in FLOAT_KEYS:
        vals = _as_list(f"grid.{key}", grid.get(key, getattr(defaults, key)))
        for v in vals:
            if isinstance(v, bool) or not isinstance(v, (int, float)) or not math.isfinite(v):
                raise ManifestError(f"grid.{key}: expected a finite number, got {v!r}")
        values[key] = [float(v) for v in vals]
    if any(c <= 0 for c in values["concentration_param"]) and 2 in values["method"]:
        raise ManifestError("grid.concentration_param: must be positive")
    return values


def _network_stem(path: str) -> str:
    name = Path(path).name
    for suffix in (".gz", ".min", ".dmx"):
        name = name.removesuffix(suffix)
    return name or "network"


def _instance_name(network: str, params: Params) -> str:
    # A digest of every setting keeps names unique however many dimensions the grid has;
    # the readable prefix is for people.
    key = json.dumps([network, params.to_json()], sort_keys=True)
    digest = hashlib.sha256(key.encode()).hexdigest()[:8]
    return (f"{_network_stem(network)}-k{params.num_commodities}-{METHODS[params.method]}"
            f"-s{params.seed}-{digest}")


def load_manifest(path: str | os.PathLike[str]) -> Suite:
    """Read and check a manifest; every problem is a ManifestError naming its key, raised
    before any instance is made. Relative paths are taken from the manifest's folder."""
    manifest = Path(path)
    try:
        with open(manifest, "rb") as f:
            doc = tomllib.load(f)
    except tomllib.TOMLDecodeError as exc:
        raise ManifestError(f"not valid TOML: {exc}") from None
    except UnicodeDecodeError:
        raise ManifestError("not valid TOML: not UTF-8 text") from None
    unknown = sorted(set(doc) - TOP_KEYS)
    if unknown:
        raise ManifestError(f"{unknown[0]}: unknown key")
    root = manifest.resolve().parent

    if "networks" not in doc:
        raise ManifestError("networks: missing")
    networks: list[tuple[str, Path]] = []
    for pattern in _as_list("networks", doc["networks"]):
        if not isinstance(pattern, str):
            raise ManifestError(f"networks: expected a path or glob, got {pattern!r}")
        matches = sorted(glob.glob(pattern, root_dir=root))
        matches = [m for m in matches if (root / m).is_file()]
        if not matches:
            raise ManifestError(f"networks: no file matches {pattern!r}")
        for m in matches:
            shown = Path(m).as_posix()
            if shown not in (n for n, _ in networks):
                networks.append((shown, (root / m).resolve()))

    output = doc.get("output", "suite")
    if not isinstance(output, str) or not output:
        raise ManifestError("output: expected a folder name")
    fmt = doc.get("format", "mcf")
    if fmt not in FORMATS:
        raise ManifestError(f"format: unknown format {fmt!r} (expected mcf or mnetgen)")
    flags = {}
    for key in ("feasible_only", "replace_infeasible"):
        flags[key] = doc.get(key, False)
        if not isinstance(flags[key], bool):
            raise ManifestError(f"{key}: expected true or false, got {flags[key]!r}")
    tries = _check_int("max_seed_tries", doc.get("max_seed_tries", 10), 1, 1_000_000)
    time_limit = doc.get("time_limit")
    if time_limit is not None and (isinstance(time_limit, bool)
                                   or not isinstance(time_limit, (int, float)) or time_limit <= 0):
        raise ManifestError(f"time_limit: expected a positive number of seconds, got {time_limit!r}")

    grid = doc.get("grid")
    if not isinstance(grid, dict):
        raise ManifestError("grid: missing (a table of generation settings)")
    values = _grid_values(grid)
    order = [f.name for f in dataclasses.fields(Params)]

    out_dir = (root / output).resolve()
    jobs: list[Job] = []
    seen: set[str] = set()
    for shown, abs_path in networks:
        for combo in itertools.product(*(values[k] for k in order)):
            params = Params(**dict(zip(order, combo))).effective()
            name = _instance_name(shown, params)
            if name in seen:
                continue
            seen.add(name)
            jobs.append(Job(name, shown, str(abs_path), params, fmt, str(out_dir),
                            flags["feasible_only"], flags["replace_infeasible"], tries,
                            None if time_limit is None else float(time_limit)))
    return Suite(manifest, out_dir, fmt, networks, jobs)


# --- workers ---------------------------------------------------------------------------------


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
    result = solve_module().solve(instance, data, time_limit=job.time_limit)
    objective = result.objective if result.status == "optimal" else None
    return str(result.status), None if objective is None else float(objective)


def _build(job: Job, folder: Path) -> tuple[list[Path], dict[str, Any]]:
    """Generate the job's instance into folder; return its files and what suite.json says
    about it besides the files."""
    try:
        instance = load_network(job.network_path)
        params = job.params
        extra: dict[str, Any] = {}
        if job.feasible_only:
            tries = job.max_seed_tries if job.replace_infeasible else 1
            for attempt in range(tries):
                params = dataclasses.replace(job.params, seed=(job.params.seed + attempt) % 2**64)
                data = generate(instance, params)
                status, objective = _solve_status(job, instance, data)
                if status == "optimal":
                    break
            extra = {"status": status, "objective": objective}
        else:
            data = generate(instance, params)
        suffix = ".mcf" if job.fmt == "mcf" else ""
        files = write_instance(instance, data, folder / (job.name + suffix), job.fmt)
    except (OSError, RuntimeError, ValueError, korvane.InternalError) as exc:
        raise InstanceError(f"{job.network}: {exc}") from None
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


# --- runner ------------------------------------------------------------------------------------


def write_json_atomic(path: Path, obj: Any) -> None:
    tmp = temporary_sibling(path)
    try:
        with open(tmp, "w", encoding="utf-8") as f:
            json.dump(obj, f, indent=2, sort_keys=True)
            f.write("\n")
        os.replace(tmp, path)
    finally:
        tmp.unlink(missing_ok=True)


def _entry(job: Job, result: dict[str, Any]) -> dict[str, Any]:
    entry: dict[str, Any] = {
        "name": job.name,
        "network": job.network,
        "params": job.params.to_json(),
        "files": result["files"],
        "korvane_version": __version__,
    }
    if result["seed"] != job.params.seed:
        entry["params"]["seed"] = result["seed"]
        entry["requested_seed"] = job.params.seed
    if "status" in result:
        entry["status"] = result["status"]
        entry["objective"] = result["objective"]
    return entry


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
    # Only plain names in the output folder are trusted: an edited suite.json must not make
    # the runner look at, or replace, files elsewhere.
    return {e["name"]: e for e in entries
            if isinstance(e, dict) and isinstance(e.get("name"), str)
            and isinstance(e.get("files"), list) and e["files"]
            and all(isinstance(f, dict) and _plain_name(f.get("name")) for f in e["files"])}


def _plain_name(name: Any) -> bool:
    return isinstance(name, str) and name not in ("", ".", "..") and "/" not in name and os.sep not in name


def _still_valid(suite: Suite, job: Job, entry: dict[str, Any]) -> bool:
    """An earlier run's instance is kept when it was made from the same settings and every
    one of its files is still on disk with the recorded checksum."""
    recorded = dict(entry.get("params", {}))
    recorded["seed"] = entry.get("requested_seed", recorded.get("seed"))
    if entry.get("network") != job.network or recorded != job.params.to_json():
        return False
    if job.feasible_only != ("status" in entry):
        return False
    # A replaced seed stands only while replacement is asked for, and an infeasible
    # instance only while it is not.
    if "requested_seed" in entry and not job.replace_infeasible:
        return False
    if job.replace_infeasible and entry.get("status") != "optimal":
        return False
    for f in entry.get("files", []):
        path = suite.output / f["name"]
        try:
            if path.stat().st_size != f["size"] or sha256_file(path) != f["sha256"]:
                return False
        except OSError:
            return False
    return bool(entry.get("files"))


def network_checksums(suite: Suite) -> dict[str, dict[str, Any]]:
    return {shown: {"size": p.stat().st_size, "sha256": sha256_file(p)} for shown, p in suite.networks}


@dataclasses.dataclass
class RunSummary:
    made: int = 0
    kept: int = 0
    infeasible: list[str] = dataclasses.field(default_factory=list)


Progress = Callable[[str, str], None]  # (what happened, instance name)


def _document(suite: Suite, networks: dict[str, Any], entries: dict[str, dict[str, Any]]) -> dict[str, Any]:
    order = {job.name: i for i, job in enumerate(suite.jobs)}
    listed = sorted((e for n, e in entries.items() if n in order), key=lambda e: order[e["name"]])
    return {
        "korvane_version": __version__,
        "format": suite.fmt,
        "networks": networks,
        "instances": listed,
    }


def _remove_leftovers(folder: Path) -> None:
    for leftover in folder.glob(f".*{TMP_MARK}"):
        leftover.unlink(missing_ok=True)


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
    _remove_leftovers(suite.output)
    networks = network_checksums(suite)
    previous = read_suite_file(suite)
    entries: dict[str, dict[str, Any]] = {}
    summary = RunSummary()
    todo = []
    for job in suite.jobs:
        old = previous.get(job.name)
        if old is not None and _still_valid(suite, job, old):
            entries[job.name] = old
            summary.kept += 1
            if progress:
                progress("kept", job.name)
        else:
            todo.append(job)

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
            for desc, content in zip(result["files"], result["contents"]):
                final = suite.output / desc["name"]
                tmp = temporary_sibling(final)
                try:
                    tmp.write_bytes(content)
                    os.replace(tmp, final)
                finally:
                    tmp.unlink(missing_ok=True)
        entries[job.name] = _entry(job, result)
        recorded.add(job.name)
        summary.made += 1
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


@dataclasses.dataclass
class Mismatch:
    file: str
    reason: str


def verify_suite(suite: Suite, executor: concurrent.futures.Executor, *, workers: int = 1,
                 progress: Progress | None = None) -> list[Mismatch]:
    """Regenerate every instance of the suite and compare its checksums with suite.json and
    with the files on disk; return every mismatch found."""
    if suite.fmt == "mnetgen":
        formats_module()
    entries = read_suite_file(suite)
    mismatches: list[Mismatch] = []
    try:
        with open(suite.suite_file, encoding="utf-8") as f:
            recorded_networks = json.load(f).get("networks", {})
    except FileNotFoundError:
        recorded_networks = {}
    for shown, path in suite.networks:
        want = recorded_networks.get(shown, {}).get("sha256")
        if want is not None and want != sha256_file(path):
            mismatches.append(Mismatch(str(path), "network differs from the one the suite was made from"))

    jobs = []
    for job in suite.jobs:
        entry = entries.get(job.name)
        if entry is None:
            mismatches.append(Mismatch(str(suite.output / job.name), "not in suite.json (never made)"))
        else:
            jobs.append((job, entry))

    def done(task: tuple[Job, dict[str, Any]], future: concurrent.futures.Future[Any]) -> None:
        job, entry = task
        fresh = {d["name"]: d for d in future.result()}
        for rec in entry["files"]:
            path = suite.output / rec["name"]
            new = fresh.get(rec["name"])
            if new is None or new["sha256"] != rec["sha256"]:
                mismatches.append(Mismatch(str(path), "regenerated file differs from suite.json"))
                continue
            try:
                on_disk = sha256_file(path)
            except FileNotFoundError:
                mismatches.append(Mismatch(str(path), "missing"))
                continue
            if on_disk != rec["sha256"]:
                mismatches.append(Mismatch(str(path), "file differs from its regenerated checksum"))
        if progress:
            progress("verified", job.name)

    _run_windowed(executor, max(1, workers) * 2, jobs,
                  lambda task: executor.submit(regenerate_checksums, task[0], _entry_seed(task[1])), done)
    mismatches.sort(key=lambda m: m.file)
    return mismatches


# --- executors -------------------------------------------------------------------------------


class SerialExecutor(concurrent.futures.Executor):
    """Runs each task in the calling process when it is submitted (--jobs 1)."""

    def submit(self, fn: Callable[..., Any], /, *args: Any, **kwargs: Any) -> concurrent.futures.Future[Any]:
        future: concurrent.futures.Future[Any] = concurrent.futures.Future()
        try:
            future.set_result(fn(*args, **kwargs))
        except Exception as exc:
            future.set_exception(exc)
        return future


def _init_worker(threads: int) -> None:
    # Ctrl-C reaches every process of the terminal's group; the runner, not the workers,
    # decides what happens, so workers finish the instance they hold.
    import signal

    signal.signal(signal.SIGINT, signal.SIG_IGN)
    # Generation runs on KORVANE_NUM_THREADS threads, all cores by default; with several
    # workers the cores are shared out instead of oversubscribed. A value the user set wins.
    os.environ.setdefault("KORVANE_NUM_THREADS", str(threads))


def default_jobs() -> int:
    try:
        return len(os.sched_getaffinity(0))
    except AttributeError:
        return os.cpu_count() or 1


def open_executor(jobs: int, address: str | None) -> tuple[concurrent.futures.Executor, int, Callable[[], None]]:
    """The executor for --jobs/--executor, its number of workers, and how to close it."""
    if address is not None:
        if not address.startswith("dask://"):
            raise ValueError(f"--executor: expected dask://HOST:PORT, got {address!r}")
        try:
            import distributed
        except ImportError:
            raise MissingFeature(
                "--executor dask:// needs Dask distributed: pip install 'korvane[dask]'") from None
        client = distributed.Client("tcp://" + address.removeprefix("dask://"), timeout=30)
        workers = max(1, sum(w.get("nthreads", 1) for w in client.scheduler_info()["workers"].values()))
        executor = client.get_executor(pure=False)

        def close() -> None:
            client.close()

        return executor, workers, close
    if jobs <= 1:
        return SerialExecutor(), 1, lambda: None
    threads = max(1, default_jobs() // jobs)
    pool = concurrent.futures.ProcessPoolExecutor(jobs, initializer=_init_worker, initargs=(threads,))

    def shutdown() -> None:
        pool.shutdown(wait=True, cancel_futures=True)

    return pool, jobs, shutdown
