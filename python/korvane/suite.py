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
import re
import tempfile
import time
import tomllib
from collections.abc import Callable, Iterable, Iterator, Sequence
from pathlib import Path
from typing import Any

import korvane

from . import formats, suite_networks
from ._version import __version__

_NATIVE: Any = importlib.import_module("korvane.korvane")
# Each default of generate_multi_commodity_data, as its binder holds it.
GENERATE_DEFAULTS: dict[str, Any] = _NATIVE._defaults["generate_multi_commodity_data"]
METHODS = ("spread", "uniform", "beta-binomial")
FORMATS = ("mcf", "mnetgen")
MNETGEN_PARTS = tuple(f".{part}" for part in formats.PARTS)
SUITE_FILE = "suite.json"
TMP_MARK = ".korvane-tmp"
# Every temporary file korvane makes, here and in the native writer, is named
# .<name>.<pid>.<hex>.korvane-tmp, plus a part's suffix for Mnetgen files; the pid tells a
# dead run's leftovers from a live run's work in progress.
TMP_NAME = re.compile(r"\..*\.([0-9]+)\.[0-9a-f]+\.korvane-tmp(\.[A-Za-z0-9]+)?")
# The native writers' codes for a compression.
COMPRESSION_CODES = {None: 0, "gzip": 1, "zstd": 2}
# A grid larger than this is refused unless the caller raises the cap (--max-instances).
MAX_INSTANCES = 100_000
# K above this is refused in a manifest: every instance holds K values per arc and per
# supply node, so such a suite could not be made on any machine.
MAX_COMMODITIES = 10_000_000


class ManifestError(ValueError):
    """A manifest that cannot describe a suite; the message names the offending key."""


class InstanceError(Exception):
    """One instance could not be made; raised in a worker, carried back to the runner."""


class MissingFeature(ImportError):
    """An optional part of korvane (or its extra) that this installation lacks."""


# --- generation parameters ---------------------------------------------------------------


@dataclasses.dataclass(frozen=True)
class Params:
    """The arguments of generate_multi_commodity_data, with its defaults (the binder's own,
    from korvane.korvane._defaults)."""

    num_commodities: int
    method: int
    randomize_caps: bool = GENERATE_DEFAULTS["randomize_caps"]
    cap_a: float = GENERATE_DEFAULTS["cap_a"]
    cap_b: float = GENERATE_DEFAULTS["cap_b"]
    randomize_costs: bool = GENERATE_DEFAULTS["randomize_costs"]
    cost_a: float = GENERATE_DEFAULTS["cost_a"]
    cost_b: float = GENERATE_DEFAULTS["cost_b"]
    concentration_param: float = GENERATE_DEFAULTS["concentration_param"]
    cap_zero: bool = GENERATE_DEFAULTS["cap_zero"]
    cap_zero_param: float = GENERATE_DEFAULTS["cap_zero_param"]
    seed: int = GENERATE_DEFAULTS["seed"]

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
            raise MissingFeature(f"korvane.solve needs {name}: pip install highspy numpy (or "
                                 "'korvane[solve]' by name, '.[solve]' from a checkout)") from None
    return solve


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


# --- manifest ------------------------------------------------------------------------------

TOP_KEYS = {"output", "format", "networks", "mnetgen", "feasible_only", "replace_infeasible",
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
    # A Mnetgen family member's parameters: the job writes its four files directly.
    generated: dict[str, Any] | None = None


@dataclasses.dataclass
class Suite:
    manifest: Path
    output: Path
    fmt: str
    networks: list[tuple[str, Path]]
    jobs: list[Job]
    # Networks a generator makes in the output folder, by file name (suite_networks.py).
    generated: dict[str, dict[str, Any]] = dataclasses.field(default_factory=dict)

    @property
    def suite_file(self) -> Path:
        return self.output / SUITE_FILE

    def with_output(self, folder: str | os.PathLike[str]) -> Suite:
        """The same suite made in another folder (a published manifest names its own)."""
        out = Path(folder).resolve()
        # Generated networks live in the output folder and move with it.
        networks = [(n, out / n if n in self.generated else p) for n, p in self.networks]
        paths = dict(networks)
        jobs = [dataclasses.replace(job, output=str(out), network_path=str(paths[job.network]))
                for job in self.jobs]
        return dataclasses.replace(self, output=out, jobs=jobs, networks=networks)


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


def _grid_values(grid: dict[str, Any]) -> dict[str, Sequence[Any]]:
    unknown = sorted(set(grid) - GRID_KEYS)
    if unknown:
        raise ManifestError(f"grid.{unknown[0]}: unknown key")
    if "num_commodities" not in grid:
        raise ManifestError("grid.num_commodities: missing")
    if "method" not in grid:
        raise ManifestError("grid.method: missing")
    values: dict[str, Sequence[Any]] = {}
    ks = [_check_int("grid.num_commodities", v, 0) for v in _as_list("grid.num_commodities", grid["num_commodities"])]
    if 0 in ks:
        raise ManifestError("grid.num_commodities: must be at least 1, got 0")
    if max(ks) > MAX_COMMODITIES:
        raise ManifestError(f"grid.num_commodities: must be at most {MAX_COMMODITIES}, got {max(ks)}")
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
        values["seed"] = range(start, start + count)  # not listed: the grid may be refused as too large
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
    # Settings that cannot change any instance are refused rather than folded away: they
    # are a slip (a reversed range, a fraction meant for zeroing that is switched off).
    for low, high in (("cap_a", "cap_b"), ("cost_a", "cost_b")):
        a, b = max(values[low]), min(values[high])
        if a > b:
            raise ManifestError(f"grid.{low} {a!r} is above grid.{high} {b!r} (a reversed range)")
    for z in values["cap_zero_param"]:
        if not 0.0 <= z <= 1.0:
            raise ManifestError(f"grid.cap_zero_param: must be between 0 and 1, got {z!r}")
    if "cap_zero_param" in grid and True not in values["cap_zero"]:
        raise ManifestError("grid.cap_zero_param: has no effect without grid.cap_zero = true")
    return values


def pointless_setting(params: Params, cap_zero_param_given: bool, spell: Callable[[str], str]) -> str | None:
    """Why the command line should refuse these settings, naming them with spell(key): a
    reversed range, a zeroing fraction outside [0, 1] or given without zeroing; None when
    they are fine. The Python functions accept all of these as documented."""
    for low, high in (("cap_a", "cap_b"), ("cost_a", "cost_b")):
        a, b = getattr(params, low), getattr(params, high)
        if a > b:
            return f"{spell(low)} {a!r} is above {spell(high)} {b!r} (a reversed range)"
    if not 0.0 <= params.cap_zero_param <= 1.0:
        return f"{spell('cap_zero_param')}: must be between 0 and 1, got {params.cap_zero_param!r}"
    if cap_zero_param_given and not params.cap_zero:
        return f"{spell('cap_zero_param')} has no effect without {spell('cap_zero')}"
    return None


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


def load_manifest(path: str | os.PathLike[str], max_instances: int = MAX_INSTANCES) -> Suite:
    """Read and check a manifest; every problem is a ManifestError naming its key, raised
    before any instance is made. Relative paths are taken from the manifest's folder. A
    grid of more than max_instances points is refused before it is enumerated."""
    manifest = Path(path)
    try:
        with open(manifest, "rb") as f:
            doc = tomllib.load(f)
    except tomllib.TOMLDecodeError as exc:
        raise ManifestError(f"not valid TOML: {exc}") from None
    except UnicodeDecodeError:
        raise ManifestError("not valid TOML: not UTF-8 text") from None
    except RecursionError:
        # tomllib descends once per nested array or inline table.
        raise ManifestError("not valid TOML: nested too deeply") from None
    unknown = sorted(set(doc) - TOP_KEYS)
    if unknown:
        raise ManifestError(f"{unknown[0]}: unknown key")
    root = manifest.resolve().parent

    if "networks" not in doc and "mnetgen" not in doc:
        raise ManifestError("networks: missing")
    networks: list[tuple[str, Path | None]] = []
    generated: dict[str, dict[str, Any]] = {}
    members = suite_networks.mnetgen_members(doc["mnetgen"]) if "mnetgen" in doc else []
    listed = _as_list("networks", doc["networks"]) if "networks" in doc else []
    for i, pattern in enumerate(listed):
        if isinstance(pattern, dict):
            try:
                name, recipe = suite_networks.parse_entry(pattern, f"networks[{i}]")
            except suite_networks.GeneratedError as exc:
                raise ManifestError(str(exc)) from None
            if name not in generated:
                generated[name] = recipe
                networks.append((name, None))
            continue
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
    if not isinstance(grid, dict) and (networks or grid is not None):
        raise ManifestError("grid: missing (a table of generation settings)")
    values: dict[str, Sequence[Any]] = {f.name: [] for f in dataclasses.fields(Params)}
    if networks and isinstance(grid, dict):
        values = _grid_values(grid)
    order = [f.name for f in dataclasses.fields(Params)]
    size = len(networks) * math.prod(len(values[k]) for k in order) + len(members)
    if size > max_instances:
        raise ManifestError(f"grid: {size} instances ({len(networks)} networks x "
                            + " x ".join(f"{len(values[k])} {k}" for k in order if len(values[k]) > 1)
                            + f"), more than the limit of {max_instances} (raise it with --max-instances)")

    out_dir = (root / output).resolve()
    placed = [(shown, out_dir / shown if path is None else path) for shown, path in networks]
    jobs: list[Job] = []
    seen: set[str] = set()
    for shown, abs_path in placed:
        for combo in itertools.product(*(values[k] for k in order)):
            params = Params(**dict(zip(order, combo))).effective()
            name = _instance_name(shown, params)
            if name in seen:
                continue
            seen.add(name)
            jobs.append(Job(name, shown, str(abs_path), params, fmt, str(out_dir),
                            flags["feasible_only"], flags["replace_infeasible"], tries,
                            None if time_limit is None else float(time_limit)))
    for member, member_params in members:
        jobs.append(Job(member, suite_networks.MNETGEN_PREFIX + member, "", Params(0, 0),
                        "mnetgen", str(out_dir), generated=member_params))
    return Suite(manifest, out_dir, fmt, placed, jobs, generated)


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
    try:
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


def _reason(exc: BaseException) -> str:
    # Python's own OSErrors carry "[Errno N] text: 'path'", and the path may be a temporary.
    return exc.strerror if isinstance(exc, OSError) and exc.strerror else str(exc)


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
        "korvane_version": __version__,
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
    if entry.get("korvane_version") != __version__:
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
        "korvane_version": __version__,
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
    generated_problems, fresh = suite_networks.verify_generated(
        suite.generated, dict(suite.networks), suite.suite_file, sha256_file)
    mismatches.extend(Mismatch(file, reason) for file, reason in generated_problems)
    now = {shown: sha256_file(path) if path.is_file() else fresh[shown]
           for shown, path in suite.networks}
    now.update({job.network: suite_networks.describe_mnetgen(job.generated)["sha256"]
                for job in suite.jobs if job.generated is not None})

    # An instance made from another network cannot regenerate to its checksum; that is
    # said once per network, and its instances are not regenerated.
    jobs = []
    changed: dict[str, tuple[str, int]] = {}  # network -> (sha256 recorded, instances)
    for job in suite.jobs:
        entry = entries.get(job.name)
        if entry is None:
            mismatches.append(Mismatch(str(suite.output / job.name), "not in suite.json (never made)"))
            continue
        made_from = entry.get("network_sha256")
        if made_from is not None and made_from != now[job.network]:
            recorded, count = changed.get(job.network, (made_from, 0))
            changed[job.network] = (recorded, count + 1)
        else:
            jobs.append((job, entry))
    paths = dict(suite.networks)
    for shown, (recorded, count) in changed.items():
        mismatches.append(Mismatch(str(paths[shown]), (
            f"network changed since {count} {'instances were' if count > 1 else 'instance was'} made from it "
            f"(sha256 {recorded[:12]}... in suite.json, {now[shown][:12]}... now); "
            "run the suite again to remake them")))

    def done(task: tuple[Job, dict[str, Any]], future: concurrent.futures.Future[Any]) -> None:
        job, entry = task
        fresh = {d["name"]: d for d in future.result()}
        for rec in entry["files"]:
            path = suite.output / rec["name"]
            new = fresh.get(rec["name"])
            if new is None or new["sha256"] != rec["sha256"]:
                mismatches.append(Mismatch(str(path), _regenerated_differs(entry, rec, new)))
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
                  lambda task: executor.submit(regenerate_checksums, task[0],
                                               _entry_seed(task[1]) if task[0].generated is None
                                               else task[0].params.seed), done)
    mismatches.sort(key=lambda m: m.file)
    return mismatches


def _regenerated_differs(entry: dict[str, Any], rec: dict[str, Any], new: dict[str, Any] | None) -> str:
    if new is None:
        return "regeneration makes no such file"
    text = (f"regenerated file differs from suite.json (sha256 {rec['sha256'][:12]}..., "
            f"{rec['size']} bytes recorded; {new['sha256'][:12]}..., {new['size']} bytes regenerated)")
    made_by = entry.get("korvane_version")
    if made_by != __version__:
        return f"{text}: made by korvane {made_by}, regenerated by {__version__}"
    # Same network, parameters and version: generation was not reproducible, or suite.json
    # was edited.
    return f"{text} from the same network, parameters and korvane version"


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
    # Ctrl-C reaches every process of the terminal's group (and a batch scheduler's SIGTERM
    # often does too); the runner, not the workers, decides what happens, so workers finish
    # the instance they hold.
    import signal

    signal.signal(signal.SIGINT, signal.SIG_IGN)
    signal.signal(signal.SIGTERM, signal.SIG_IGN)
    # Generation runs on KORVANE_NUM_THREADS threads, all cores by default; with several
    # workers the cores are shared out instead of oversubscribed. A value the user set wins.
    os.environ.setdefault("KORVANE_NUM_THREADS", str(threads))


def default_jobs() -> int:
    try:
        return len(os.sched_getaffinity(0))
    except AttributeError:
        return os.cpu_count() or 1


class ExecutorError(Exception):
    """A Dask scheduler that cannot be reached, or that no worker joins, in the time allowed."""


DASK_TIMEOUT = 30.0


def open_executor(jobs: int, address: str | None, timeout: float = DASK_TIMEOUT,
                  ) -> tuple[concurrent.futures.Executor, int, Callable[[], None]]:
    """The executor for --jobs/--executor, its number of workers, and how to close it.
    Raises ExecutorError when the scheduler does not answer or has no worker within
    ``timeout`` seconds."""
    if address is not None:
        if not address.startswith("dask://"):
            raise ValueError(f"--executor: expected dask://HOST:PORT, got {address!r}")
        try:
            import distributed
        except ImportError:
            raise MissingFeature(
                "--executor dask:// needs Dask distributed: pip install distributed (or "
                "'korvane[dask]' by name, '.[dask]' from a checkout)") from None
        where = "tcp://" + address.removeprefix("dask://")
        try:
            client = distributed.Client(where, timeout=timeout)
        except (OSError, TimeoutError):
            raise ExecutorError(f"--executor: no Dask scheduler answered at {where} within "
                                f"{timeout:g} s") from None
        try:
            # Tasks sent to a scheduler without workers would wait for ever.
            client.wait_for_workers(1, timeout=timeout)
        except (OSError, TimeoutError):
            client.close()
            raise ExecutorError(f"--executor: the Dask scheduler at {where} has no worker "
                                f"(none joined within {timeout:g} s)") from None
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
