"""Suite networks made by a generator instead of read from a file.

A manifest's ``networks`` list may hold, beside paths and globs, tables such as
``{ netgen = "netgen-8", size = 12, seed = "a" }`` (a family member by family, size and
variant), ``{ netgen = "netgen_8_12a" }`` or ``{ netgen = "netgen-101" }`` (a member by
name), or ``{ netgen = { seed = 1, nodes = 500, ... } }`` (NETGEN's parameters inline,
``max_nodes`` / ``max_arcs`` beside ``netgen`` to raise its limits). Each is written into the
suite's output folder as a ``.min`` file before any instance is made, remade when it is
missing or no longer matches its recorded checksum, and recorded in suite.json with its
parameters and checksum; ``--verify`` regenerates it and compares.
"""

from __future__ import annotations

import hashlib
import importlib
import json
import tempfile
from pathlib import Path
from typing import Any

from . import generators

MNETGEN_PREFIX = "mnetgen:"
_MEMBER_KEYS = {"netgen", "size", "seed", "number", "max_nodes", "max_arcs"}


class GeneratedError(ValueError):
    """A generator entry that cannot describe a network; the message names the key."""


def parse_entry(entry: dict[str, Any], where: str) -> tuple[str, dict[str, Any]]:
    """(file name in the output folder, what suite.json records) for one generator entry:
    {"generator": "netgen", "params": {...}, "member": name or None, "limits": {...}}."""
    unknown = sorted(set(entry) - _MEMBER_KEYS)
    if unknown:
        raise GeneratedError(f"{where}.{unknown[0]}: unknown key")
    if "netgen" not in entry:
        raise GeneratedError(f"{where}: a generated network needs the key 'netgen'")
    recipe = entry["netgen"]
    limits = {k: entry[k] for k in ("max_nodes", "max_arcs") if k in entry}
    member = None
    try:
        if isinstance(recipe, str):
            picked: dict[str, Any] = {k: entry[k] for k in ("size", "seed", "number") if k in entry}
            params = generators.family(recipe, **picked)
            if generators.families.is_mnetgen_name(recipe):
                raise GeneratedError(f"{where}.netgen: {recipe!r} is a Mnetgen instance; list it "
                                     "under the top-level key 'mnetgen'")
            member = recipe if not picked else _member_name(recipe, picked)
        elif isinstance(recipe, dict):
            extra = sorted({"size", "seed", "number"} & set(entry))
            if extra:
                raise GeneratedError(f"{where}.{extra[0]}: only taken with a family's name")
            params = {**{"problem": 1, "transshipment_sources": 0, "transshipment_sinks": 0},
                      **recipe}
            unknown = sorted(set(params) - set(generators.PARAMETERS))
            if unknown:
                raise GeneratedError(f"{where}.netgen.{unknown[0]}: unknown NETGEN parameter")
            params = {k: params[k] for k in generators.PARAMETERS if k in params}
        else:
            raise GeneratedError(f"{where}.netgen: expected a family member's name or a table "
                                 f"of NETGEN parameters, got {recipe!r}")
        generators.check_netgen(**params, **limits)
    except GeneratedError:
        raise
    except (TypeError, ValueError) as exc:
        raise GeneratedError(f"{where}.netgen: {exc}") from None
    if member is None:
        key = json.dumps([params, limits], sort_keys=True)
        member = f"netgen-s{params['seed']}-n{params['nodes']}-" + \
                 hashlib.sha256(key.encode()).hexdigest()[:8]
    return f"{member}.min", {"generator": "netgen", "member": member, "params": params,
                             "limits": limits}


def _member_name(family: str, picked: dict[str, Any]) -> str:
    """The member's own name ("netgen_8_12a", "netgen-101") for a family and its picks."""
    params = generators.family(family, **picked)
    if family == "netgen-classic":
        return f"netgen-{params['problem']}"
    prefix = generators.families.NETGEN_FAMILIES[family]
    variant = next(v for v, s in generators.families.VARIANT_SEEDS.items() if s == params["seed"])
    return f"{prefix}_{params['problem']:02d}{variant}"


def _write(path: Path, recipe: dict[str, Any]) -> None:
    generators.write_netgen(path, **recipe["params"], **recipe["limits"])


def _recorded(suite_file: Path) -> dict[str, Any]:
    try:
        with open(suite_file, encoding="utf-8") as f:
            doc = json.load(f)
    except (OSError, ValueError):
        return {}
    networks = doc.get("networks") if isinstance(doc, dict) else None
    return networks if isinstance(networks, dict) else {}


def make_generated(generated: dict[str, dict[str, Any]], paths: dict[str, Path], suite_file: Path,
                   sha256_file: Any) -> list[str]:
    """Write every generated network that is missing, was made from other parameters, or no
    longer has its recorded checksum; returns the names written."""
    recorded = _recorded(suite_file)
    made = []
    for name, recipe in generated.items():
        path = paths[name]
        before = recorded.get(name)
        if (isinstance(before, dict) and before.get("netgen") == recipe["params"]
                and before.get("limits", {}) == recipe["limits"] and path.is_file()
                and sha256_file(path) == before.get("sha256")):
            continue
        _write(path, recipe)
        made.append(name)
    return made


def describe(recipe: dict[str, Any]) -> dict[str, Any]:
    """What suite.json says of a generated network besides its size and checksum."""
    out: dict[str, Any] = {"netgen": recipe["params"], "member": recipe["member"]}
    if recipe["limits"]:
        out["limits"] = recipe["limits"]
    return out


def verify_generated(generated: dict[str, dict[str, Any]], paths: dict[str, Path],
                     suite_file: Path, sha256_file: Any) -> tuple[list[tuple[str, str]], dict[str, str]]:
    """Regenerate every generated network: ([(file, reason)] for each one whose regenerated
    checksum differs from suite.json's or from the file's, {name: regenerated sha256})."""
    recorded = _recorded(suite_file)
    problems: list[tuple[str, str]] = []
    fresh: dict[str, str] = {}
    for name, recipe in generated.items():
        path = paths[name]
        with tempfile.TemporaryDirectory(prefix="korvane-verify-") as tmp:
            again = Path(tmp) / name
            _write(again, recipe)
            fresh[name] = sha256_file(again)
        before = recorded.get(name)
        if not isinstance(before, dict) or before.get("sha256") != fresh[name]:
            problems.append((str(path), "regenerated network differs from suite.json"
                             if isinstance(before, dict) else "network not in suite.json (never made)"))
        if not path.is_file():
            problems.append((str(path), "missing"))
        elif sha256_file(path) != fresh[name]:
            problems.append((str(path), "network file differs from its regenerated checksum"))
    return problems, fresh


def _mnetgen() -> Any:
    try:
        return importlib.import_module("korvane.generators.mnetgen")
    except ImportError:
        raise GeneratedError("mnetgen: needs korvane.generators.mnetgen, which this korvane "
                             "lacks") from None


def mnetgen_members(value: Any) -> list[tuple[str, dict[str, Any]]]:
    """The Mnetgen members a manifest's top-level ``mnetgen`` names (names or globs over
    them, e.g. ["64-4-1", "64-4-*"]), each once, with its parameters."""
    from .suite import ManifestError

    items = value if isinstance(value, list) else [value]
    if not items:
        raise ManifestError("mnetgen: needs at least one name")
    try:
        module = _mnetgen()
    except GeneratedError as exc:
        raise ManifestError(str(exc)) from None
    names: list[str] = module.family_names()
    out: dict[str, dict[str, Any]] = {}
    for pattern in items:
        if not isinstance(pattern, str):
            raise ManifestError(f"mnetgen: expected a member's name or a glob, got {pattern!r}")
        matches = generators.expand_names(pattern, names)
        if not matches:
            raise ManifestError(f"mnetgen: no Mnetgen instance matches {pattern!r}")
        for name in matches:
            out.setdefault(name, dict(module.family_parameters(name)))
    return list(out.items())


def describe_mnetgen(params: dict[str, Any]) -> dict[str, Any]:
    """What suite.json records of a Mnetgen member's input: its parameters, and a checksum of
    them that tells a later run when they changed."""
    digest = hashlib.sha256(json.dumps(params, sort_keys=True).encode()).hexdigest()
    return {"mnetgen": params, "sha256": digest}


def build_mnetgen(job: Any, folder: Path, failure: type[Exception]) -> list[Path]:
    """Write a Mnetgen job's four files into folder (published together by the writer)."""
    base = folder / job.name
    try:
        _mnetgen().write_mnetgen_instance(str(base), compress=None, **job.generated)
    except (OSError, ValueError, GeneratedError) as exc:
        text = exc.strerror if isinstance(exc, OSError) and exc.strerror else str(exc)
        raise failure(f"{base}.{{nod,arc,sup,mut}}: {text}") from None
    return [base.with_name(f"{base.name}.{part}") for part in ("nod", "arc", "sup", "mut")]
