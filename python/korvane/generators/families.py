"""The published instance families, by name: the parameters that make each member.

NETGEN:

- the classic problems 101-150 of Klingman, Napier and Stutz: ``"netgen-101"`` ...
  ``"netgen-150"``, or ``family("netgen-classic", number=101)``;
- the benchmark families of min-cost-flow libraries, NETGEN-8, NETGEN-SR, NETGEN-LO-8,
  NETGEN-LO-SR and NETGEN-DEG: ``family("netgen-8", size=14, seed="a")``, or the member's
  file name ``"netgen_8_14a"``. ``size`` is the exponent k (N = 2^k nodes; for NETGEN-DEG the
  average degree 2^k at 4096 nodes); ``seed`` the variant, a letter "a" to "e" or its number
  1 to 5 (1 is "a").

Mnetgen's 216 instances are named ``n-k-h`` (e.g. ``"64-4-1"``) and come from
``korvane.generators.mnetgen``.

``family`` returns a dict of keyword arguments: ``netgen(**family("netgen_8_14a"))``.
"""

from __future__ import annotations

import csv
import fnmatch
import importlib
import io
import re
from importlib import resources
from typing import Any

__all__ = ["family", "family_names", "netgen_family_names", "mnetgen_available", "is_mnetgen_name",
           "is_netgen_name", "NETGEN_FAMILIES", "VARIANT_SEEDS", "expand_names"]

# The five variants of every size: the seed that makes each.
VARIANT_SEEDS = {"a": 13502460, "b": 69013527, "c": 91208735, "d": 73460581, "e": 37240194}
# Family name -> the prefix of its members' file names.
NETGEN_FAMILIES = {"netgen-8": "netgen_8", "netgen-sr": "netgen_sr", "netgen-lo-8": "netgen_lo_8",
                   "netgen-lo-sr": "netgen_lo_sr", "netgen-deg": "netgen_deg"}
_PREFIX_FAMILY = {prefix: name for name, prefix in NETGEN_FAMILIES.items()}
_MEMBER = re.compile(r"(netgen_(?:8|sr|lo_8|lo_sr|deg))_([0-9]{2})([a-e])")
_CLASSIC = re.compile(r"netgen-(1[0-4][0-9]|150)")
_MNETGEN = re.compile(r"[0-9]+-[0-9]+-[0-9]+")


def _table(name: str) -> list[dict[str, str]]:
    text = resources.files(__package__).joinpath(name).read_text(encoding="utf-8")
    return list(csv.DictReader(io.StringIO(text), delimiter="\t"))


# The tables, read from the package's data on first use.
_loaded: dict[str, Any] = {}


def _classic() -> dict[int, dict[str, int]]:
    if "classic" in _loaded:
        return _loaded["classic"]  # type: ignore[no-any-return]
    order = ("seed", "nodes", "sources", "sinks", "density", "mincost", "maxcost", "supply",
             "tsources", "tsinks", "hicost", "capacitated", "mincap", "maxcap")
    names = ("seed", "nodes", "sources", "sinks", "arcs", "min_cost", "max_cost", "supply",
             "transshipment_sources", "transshipment_sinks", "max_cost_percent",
             "capacitated_percent", "min_capacity", "max_capacity")
    out = {}
    for row in _table("netgen-problems.tsv"):
        number = int(row["problem"])
        params = {"problem": number, **{n: int(row[o]) for n, o in zip(names, order)}}
        out[number] = {k: params[k] for k in ("seed", "problem", *names[1:])}
    _loaded["classic"] = out
    return out


def classic_facts() -> dict[int, tuple[int, int]]:
    """Per classic problem, (arcs generated, optimal cost): facts of the published table."""
    return {int(r["problem"]): (int(r["arcs"]), int(r["optimum"]))
            for r in _table("netgen-problems.tsv")}


def _sizes() -> dict[str, dict[int, tuple[int, int, int, int]]]:
    if "sizes" in _loaded:
        return _loaded["sizes"]  # type: ignore[no-any-return]
    out: dict[str, dict[int, tuple[int, int, int, int]]] = {}
    for row in _table("netgen-families.tsv"):
        out.setdefault(row["family"], {})[int(row["size"])] = (
            int(row["nodes"]), int(row["sources_sinks"]), int(row["arcs"]), int(row["supply"]))
    _loaded["sizes"] = out
    return out


def _variant(seed: Any) -> str:
    if isinstance(seed, str) and seed in VARIANT_SEEDS:
        return seed
    if isinstance(seed, int) and not isinstance(seed, bool) and 1 <= seed <= len(VARIANT_SEEDS):
        return "abcde"[seed - 1]
    raise ValueError(f"seed: expected a variant letter 'a' to 'e' or its number 1 to 5, got {seed!r}")


def _member(fam: str, size: Any, variant: str) -> dict[str, int]:
    sizes = _sizes()[fam]
    if isinstance(size, bool) or not isinstance(size, int) or size not in sizes:
        raise ValueError(f"size: {fam} has sizes {min(sizes)} to {max(sizes)}, got {size!r}")
    nodes, ends, arcs, supply = sizes[size]
    return {"seed": VARIANT_SEEDS[variant], "problem": size, "nodes": nodes, "sources": ends,
            "sinks": ends, "arcs": arcs, "min_cost": 1, "max_cost": 10000, "supply": supply,
            "transshipment_sources": 0, "transshipment_sinks": 0, "max_cost_percent": 100,
            "capacitated_percent": 100, "min_capacity": 1, "max_capacity": 1000}


def is_netgen_name(name: str) -> bool:
    """Whether ``name`` names one NETGEN member ("netgen-101", "netgen_8_14a")."""
    found = _MEMBER.fullmatch(name)
    if found is not None:
        return int(found.group(2)) in _sizes()[_PREFIX_FAMILY[found.group(1)]]
    return _CLASSIC.fullmatch(name) is not None


def is_mnetgen_name(name: str) -> bool:
    """Whether ``name`` has the form of a Mnetgen member, ``n-k-h``."""
    return _MNETGEN.fullmatch(name) is not None


def mnetgen_available() -> bool:
    try:
        _mnetgen()
    except ImportError:
        return False
    return True


def _mnetgen() -> Any:
    return importlib.import_module("korvane.generators.mnetgen")


def family(name: str, *, number: int | None = None, size: int | None = None,
           seed: str | int | None = None) -> dict[str, Any]:
    """The parameters of one published instance, as keyword arguments of ``netgen`` /
    ``write_netgen`` (NETGEN) or of ``mnetgen`` / ``write_mnetgen_instance`` (Mnetgen).

    ``name`` is a member ("netgen-101", "netgen_8_14a", "64-4-1") or a family with the
    arguments that pick the member: "netgen-classic" with ``number``, one of "netgen-8",
    "netgen-sr", "netgen-lo-8", "netgen-lo-sr", "netgen-deg" with ``size`` and ``seed``.
    Raises ValueError naming what is unknown."""
    if not isinstance(name, str):
        raise TypeError(f"name: expected a str, got {type(name).__name__}")
    picked = {"number": number, "size": size, "seed": seed}

    def only(*allowed: str) -> None:
        extra = [k for k, v in picked.items() if v is not None and k not in allowed]
        if extra:
            raise ValueError(f"{extra[0]}: {name} takes no {extra[0]}")

    if name == "netgen-classic":
        only("number")
        if number not in _classic():
            raise ValueError(f"number: the classic NETGEN problems are 101 to 150, got {number!r}")
        return dict(_classic()[number])
    if name in NETGEN_FAMILIES:
        only("size", "seed")
        if size is None:
            raise ValueError(f"size: {name} needs a size")
        return _member(name, size, _variant("a" if seed is None else seed))
    only()
    found = _MEMBER.fullmatch(name)
    if found is not None:
        fam = _PREFIX_FAMILY[found.group(1)]
        return _member(fam, int(found.group(2)), found.group(3))
    if _CLASSIC.fullmatch(name) is not None:
        return dict(_classic()[int(name.removeprefix("netgen-"))])
    if is_mnetgen_name(name):
        params: dict[str, Any] = _mnetgen().family_parameters(name)
        return params
    raise ValueError(f"name: no generator family member or family is called {name!r} "
                     "(see korvane generators list)")


def netgen_family_names() -> list[str]:
    """Every NETGEN member: the classic problems, then each family by size and variant."""
    names = [f"netgen-{n}" for n in sorted(_classic())]
    for fam, prefix in NETGEN_FAMILIES.items():
        for k in sorted(_sizes()[fam]):
            names.extend(f"{prefix}_{k:02d}{v}" for v in VARIANT_SEEDS)
    return names


def family_names() -> list[str]:
    """Every member of every family: NETGEN's, then Mnetgen's when korvane has it."""
    names = netgen_family_names()
    if mnetgen_available():
        names.extend(_mnetgen().family_names())
    return names


def expand_names(pattern: str, names: list[str] | None = None) -> list[str]:
    """The members whose names match a glob pattern ("64-4-*", "netgen_8_1?a"), in listed
    order; a plain name matches itself only."""
    pool = family_names() if names is None else names
    return [n for n in pool if fnmatch.fnmatchcase(n, pattern)]
