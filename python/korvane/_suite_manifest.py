"""Manifests: a suite's networks and its grid of generation settings, checked and expanded
into jobs."""

from __future__ import annotations

import dataclasses
import glob
import hashlib
import itertools
import json
import math
import os
import tomllib
from collections.abc import Callable, Sequence
from pathlib import Path
from typing import Any

from . import suite_networks
from ._suite_params import (
    FORMATS, ManifestError, MAX_COMMODITIES, MAX_INSTANCES, METHODS, Params, SUITE_FILE,
)


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
