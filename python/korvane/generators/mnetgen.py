"""Mnetgen, the multi-commodity generator of Ali and Kennington, inside korvane.

``mnetgen(**params)`` draws an instance from the generator's 21 parameters and returns the
``MulticommodityProblem`` that ``korvane.formats.read_mnetgen`` gives on the generator's
four files; ``write_mnetgen_instance(base, **params)`` writes those files, ``BASE.nod``,
``.arc``, ``.sup`` and ``.mut``, byte for byte as the generator writes them (its random
source is built in: the same files on every machine). ``read_par(path)`` reads a
parameter file in the generator's layout; ``family_parameters(name)`` gives the
parameters of an instance of the published set by its name ``n-k-h`` (``family_names()``
lists the 216).

Parameters, in the order of the parameter file, with the generator's own names:

=============================  ========  ===============================================
``seed``                       iseed     seed of the random source (its low 32 bits)
``problem_number``             nprob     read and ignored (optional here, default 1)
``num_nodes``                  nodes     n
``min_lines``                  dens      the minimum number of .arc lines (arc-commodity
                                         pairs, not arcs): random arcs are added while
                                         fewer exist
``num_sources``                nsorc     sources, pure and transshipment
``num_sinks``                  nsink     sinks, pure and transshipment
``num_commodities``            ncomm     K
``num_transshipment_sources``  ntsorc    how many of the sources are transshipment ones
``num_transshipment_sinks``    ntsink    how many of the sinks are transshipment ones
``max_chain_length``           lchain    bound on the drawn nodes of a source's chain
``min_cost``                   mincst    lower bound of the random costs
``max_cost``                   maxcst    upper bound, and the cost of high-cost lines
``min_supply``                 minsup    bounds of a commodity's total supply
``max_supply``                 maxsup
``min_bound``                  minbnd    bounds of the individual bounds of random lines
``max_bound``                  maxbnd
``min_bundle_capacity``        mincap    bounds of the bundle capacities of random arcs
``max_bundle_capacity``        maxcap
``high_cost_percent``          bhicst    percent of skeleton lines with the high cost
``bounded_percent``            bbnd      percent of lines with an individual bound
``bundled_percent``            bcap      percent of arcs with a bundle capacity
=============================  ========  ===============================================

The first 18 are integers, the last three real numbers. Parameters the generator refuses
raise ValueError naming them, with the generator's own message
(``"num_sources (nsorc) 12 + num_sinks (nsink) 10 > num_nodes (nodes) 20: INPUT ERROR -
SOURCES  +  SINKS .GT. NODES"``); so do those on which it crashes or never ends. The work
runs in native code without the interpreter lock and answers Ctrl-C.
"""

from __future__ import annotations

import importlib
import numbers
import operator
import os
import re
from typing import Any

from . import _mnetgen_families

__all__ = ["PARAMETERS", "ORIGINAL_NAMES", "mnetgen", "write_mnetgen_instance", "read_par",
           "family_parameters", "family_names"]

_native: Any = importlib.import_module("korvane.korvane")

PARAMETERS = (
    "seed", "problem_number", "num_nodes", "min_lines", "num_sources", "num_sinks",
    "num_commodities", "num_transshipment_sources", "num_transshipment_sinks",
    "max_chain_length", "min_cost", "max_cost", "min_supply", "max_supply", "min_bound",
    "max_bound", "min_bundle_capacity", "max_bundle_capacity", "high_cost_percent",
    "bounded_percent", "bundled_percent",
)
# The generator's own name of each parameter, in the same order.
ORIGINAL_NAMES = (
    "iseed", "nprob", "nodes", "dens", "nsorc", "nsink", "ncomm", "ntsorc", "ntsink", "lchain",
    "mincst", "maxcst", "minsup", "maxsup", "minbnd", "maxbnd", "mincap", "maxcap", "bhicst",
    "bbnd", "bcap",
)
_INTEGERS = 18
_DEFAULTS = {"problem_number": 1}
_INT64 = (-(1 << 63), (1 << 63) - 1)
_COMPRESSIONS: dict[Any, int] = {None: 0, False: 0, True: 1, "gzip": 1, "zstd": 2}
_PARTS = ("nod", "arc", "sup", "mut")

# The parameter file's tokens as the generator's stream extraction takes them: decimal
# integers with an optional sign, and decimal reals with an optional exponent.
_INTEGER = re.compile(r"[+-]?[0-9]+")
_REAL = re.compile(r"[+-]?(?:[0-9]+(?:\.[0-9]*)?|\.[0-9]+)(?:[eE][+-]?[0-9]+)?")
_WHITE = re.compile(rb"[ \t\n\v\f\r]+")


def _label(i: int) -> str:
    return f"{PARAMETERS[i]} ({ORIGINAL_NAMES[i]})"


def _values(params: dict[str, Any], caller: str) -> tuple[list[int], list[float]]:
    """The 18 integers and 3 percentages, in file order, from keyword arguments."""
    for key in params:
        if key not in PARAMETERS:
            raise TypeError(f"{caller}() got an unexpected keyword argument {key!r}")
    integers: list[int] = []
    percents: list[float] = []
    for i, name in enumerate(PARAMETERS):
        if name in params:
            value = params[name]
        elif name in _DEFAULTS:
            value = _DEFAULTS[name]
        else:
            raise TypeError(f"{caller}() missing parameter {name!r} ({ORIGINAL_NAMES[i]})")
        kind = "an integer" if i < _INTEGERS else "a real number"
        if isinstance(value, bool) or (i >= _INTEGERS and not isinstance(value, numbers.Real)):
            raise TypeError(f"{_label(i)} must be {kind}, not {type(value).__name__}")
        if i < _INTEGERS:
            try:
                whole = operator.index(value)  # int, and integer types such as numpy's
            except TypeError:
                raise TypeError(f"{_label(i)} must be {kind}, not {type(value).__name__}") from None
            if not _INT64[0] <= whole <= _INT64[1]:
                raise ValueError(f"{_label(i)} {whole} does not fit in 64 bits")
            integers.append(whole)
        else:
            percents.append(float(value))
    return integers, percents


def mnetgen(**params: Any) -> Any:
    """The instance the generator makes from ``params`` (the names of ``PARAMETERS``), as
    the ``MulticommodityProblem`` that ``korvane.formats.read_mnetgen`` gives on its four
    files: costs and bounds are the values of their 4-digit text. Raises ValueError for
    parameters the generator refuses, crashes or never ends on, and for files the reader
    would refuse (no commodity, no arc name)."""
    integers, percents = _values(params, "mnetgen")
    return _native._mnetgen(integers, percents)


def write_mnetgen_instance(base: str | os.PathLike[str], *, compress: bool | str | None = None,
                           **params: Any) -> None:
    """Writes ``BASE.nod``, ``BASE.arc``, ``BASE.sup`` and ``BASE.mut`` byte for byte as the
    generator writes them for ``params``. ``compress`` "gzip" (or True) writes gzip parts
    named ``BASE.part.gz``, "zstd" zstd parts ``BASE.part.zst``. The four parts are renamed
    into place together once all are complete: a refusal or a failed write leaves the old
    ones as they were. Raises ValueError as ``mnetgen`` does, OSError naming the part."""
    if compress not in _COMPRESSIONS:
        raise ValueError(f"compress must be None, False, True, 'gzip' or 'zstd', not {compress!r}")
    how = _COMPRESSIONS[compress]
    integers, percents = _values(params, "write_mnetgen_instance")
    suffix = ("", ".gz", ".zst")[how]
    base = os.fspath(base)
    _native._write_mnetgen_instance(*(f"{base}.{part}{suffix}" for part in _PARTS), integers,
                                    percents, how)


def read_par(path: str | os.PathLike[str]) -> dict[str, int | float]:
    """The 21 parameters of a parameter file in the generator's layout: numbers separated
    by white space, in the order of ``PARAMETERS``; what follows the 21st is ignored.
    Raises ValueError naming the file for fewer than 21 numbers, and for a value that is
    not an integer in an integer slot (``720.5``) or not a number in a real one (where the
    generator would go on with garbage); OSError when the file cannot be read."""
    with open(path, "rb") as f:
        data = f.read()
    tokens = [t for t in _WHITE.split(data, maxsplit=len(PARAMETERS) + 1) if t][: len(PARAMETERS)]
    name = os.fspath(path)
    if len(tokens) < len(PARAMETERS):
        raise ValueError(f"{name}: {len(tokens)} numbers; a Mnetgen parameter file holds "
                         f"{len(PARAMETERS)}")
    values: dict[str, int | float] = {}
    for i, raw in enumerate(tokens):
        text = raw.decode("latin-1")
        if i < _INTEGERS:
            if not _INTEGER.fullmatch(text):
                raise ValueError(f"{name}: number {i + 1}, {_label(i)}, is {text!r}, not an integer")
            value = int(text)
            if not _INT64[0] <= value <= _INT64[1]:
                raise ValueError(f"{name}: number {i + 1}, {_label(i)}, {text} does not fit "
                                 "in 64 bits")
            values[PARAMETERS[i]] = value
        else:
            if not _REAL.fullmatch(text):
                raise ValueError(f"{name}: number {i + 1}, {_label(i)}, is {text!r}, not a number")
            values[PARAMETERS[i]] = float(text)
    return values


def _parse_table() -> dict[str, dict[str, int | float]]:
    rows = _mnetgen_families.TABLE.splitlines()
    table: dict[str, dict[str, int | float]] = {}
    for row in rows[1:]:
        fields = row.split("\t")
        table[fields[0]] = {
            name: int(text) if i < _INTEGERS else float(text)
            for i, (name, text) in enumerate(zip(PARAMETERS, fields[1:], strict=True))}
    return table


_FAMILY: dict[str, dict[str, int | float]] = _parse_table()


def family_names() -> list[str]:
    """The names ``n-k-h`` of the 216 instances of the published Mnetgen set, in the order
    of its table (by n, then k, then h)."""
    return list(_FAMILY)


def family_parameters(name: str) -> dict[str, int | float]:
    """The parameters of the published instance ``name`` (``"64-4-1"`` .. ``"256-256-12"``),
    as ``read_par`` gives them from its parameter file. ValueError for an unknown name."""
    found = _FAMILY.get(name) if isinstance(name, str) else None
    if found is None:
        raise ValueError(f"no Mnetgen instance is named {name!r}: the names are n-k-h with n "
                         "64, 128 or 256, k 4, 8, ... n and h 1..12, such as '64-4-1'")
    return dict(found)
