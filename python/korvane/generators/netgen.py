"""NETGEN, the min-cost-flow network generator of Klingman, Napier and Stutz (1974), in the
C form the field's benchmark files were made with: the same inputs give the same ``.min``
text, byte for byte, comment header included.

``netgen(**params)`` returns the network as the ``NetworkInstance`` that
``korvane.load_min_instance`` gives on the written file; ``write_netgen(path, **params)``
writes the file. Parameters, with the original's names beside them:

==========================  ======  ==========================================================
parameter                   NETGEN  meaning
==========================  ======  ==========================================================
``seed``                    seed    random seed, positive
``problem``                 problem problem number (only printed in the header; positive)
``nodes``                   N       number of nodes
``sources``                 NS      source nodes, transshipment sources included
``sinks``                   NT      sink nodes, transshipment sinks included
``arcs``                    DENS    requested number of arcs (the result may differ a little)
``min_cost``                MINCST  minimum arc cost
``max_cost``                MAXCST  maximum arc cost
``supply``                  SUPPLY  total supply
``transshipment_sources``   TSORC   sources that may also receive flow
``transshipment_sinks``     TSINK   sinks that may also send flow
``max_cost_percent``        HICOST  percent of skeleton arcs given the maximum cost
``capacitated_percent``     CAPCT   percent of arcs that are capacitated
``min_capacity``            MINCAP  minimum capacity of capacitated arcs
``max_capacity``            MAXCAP  maximum capacity of capacitated arcs
==========================  ======  ==========================================================

The inputs the original refuses raise ValueError naming the parameter, and so do those on
which it crashes or never ends (negative transshipment counts; parameters, often a seed that
is a multiple of 2^31 - 1, on which its arc budget can never be shared out). Sizes are
limited as in the original's large build (``MAX_NODES``, ``MAX_ARCS``); ``max_nodes`` and
``max_arcs`` raise the limits, up to 2^31 - 1, with the same algorithm, so output within the
default limits never changes.
"""

from __future__ import annotations

import importlib
import os
import re
from typing import Any

__all__ = ["PARAMETERS", "ORIGINAL_NAMES", "MAX_NODES", "MAX_ARCS", "netgen", "write_netgen",
           "read_netgen_input", "problem_type", "check_netgen"]

_native: Any = importlib.import_module("korvane.korvane")

# The 15 inputs in the order the original reads them.
PARAMETERS = ("seed", "problem", "nodes", "sources", "sinks", "arcs", "min_cost", "max_cost",
              "supply", "transshipment_sources", "transshipment_sinks", "max_cost_percent",
              "capacitated_percent", "min_capacity", "max_capacity")
ORIGINAL_NAMES = dict(zip(PARAMETERS, (
    "seed", "problem", "N", "NS", "NT", "DENS", "MINCST", "MAXCST", "SUPPLY", "TSORC", "TSINK",
    "HICOST", "CAPCT", "MINCAP", "MAXCAP")))
_DEFAULTS = {"problem": 1, "transshipment_sources": 0, "transshipment_sinks": 0}
MAX_NODES = 10_000_000
MAX_ARCS = 40_000_000
_INT64 = (-(2**63), 2**63 - 1)
_COMPRESSIONS = {False: 0, True: 1, "gzip": 1, "zstd": 2}
_HOLDINGS = {None: 0, False: 1, True: 2}


def _values(params: dict[str, Any]) -> list[int]:
    """The 15 inputs in input order, each checked to be a 64-bit integer."""
    unknown = sorted(set(params) - set(PARAMETERS))
    if unknown:
        raise TypeError(f"unexpected NETGEN parameter '{unknown[0]}'")
    values = []
    for name in PARAMETERS:
        if name not in params:
            if name not in _DEFAULTS:
                raise TypeError(f"missing NETGEN parameter '{name}'")
            value = _DEFAULTS[name]
        else:
            value = params[name]
        if isinstance(value, bool) or not isinstance(value, int):
            raise TypeError(f"{name}: expected an integer, got {type(value).__name__}")
        if not _INT64[0] <= value <= _INT64[1]:
            raise ValueError(f"{name}: must fit a signed 64-bit integer, got {value}")
        values.append(value)
    return values


def _given(scope: dict[str, Any]) -> dict[str, Any]:
    return {name: scope[name] for name in PARAMETERS}


def _limit(name: str, value: Any) -> int:
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError(f"{name}: expected an integer, got {type(value).__name__}")
    if not 1 <= value <= 2**31 - 1:
        raise ValueError(f"{name}: must be between 1 and {2**31 - 1}, got {value}")
    return value


def netgen(*, seed: int, problem: int = 1, nodes: int, sources: int, sinks: int, arcs: int,
           min_cost: int, max_cost: int, supply: int, transshipment_sources: int = 0,
           transshipment_sinks: int = 0, max_cost_percent: int, capacitated_percent: int,
           min_capacity: int, max_capacity: int, max_nodes: int = MAX_NODES,
           max_arcs: int = MAX_ARCS) -> Any:
    """The NETGEN network of these parameters (see the module's table) as a NetworkInstance:
    the one ``korvane.load_min_instance`` gives on the file ``write_netgen`` writes. A
    max-flow problem (``min_cost = max_cost = 1``) comes with its unit costs and its nodes'
    balances, an assignment with unit capacities and balances 1 / -1: the record of the
    same network written as a min-cost problem. Runs without the interpreter lock and
    answers Ctrl-C. Raises ValueError naming the parameter the generator refuses."""
    values = _values(_given(locals()))
    return _native._netgen_instance(values, _limit("max_nodes", max_nodes),
                                    _limit("max_arcs", max_arcs))


def write_netgen(path: str | os.PathLike[str], *, seed: int, problem: int = 1, nodes: int, sources: int, sinks: int, arcs: int,
                 min_cost: int, max_cost: int, supply: int, transshipment_sources: int = 0,
                 transshipment_sinks: int = 0, max_cost_percent: int, capacitated_percent: int,
                 min_capacity: int, max_capacity: int, max_nodes: int = MAX_NODES,
                 max_arcs: int = MAX_ARCS,
                 compress: bool | str | None = None, streamed: bool | None = None) -> int:
    """Write the original's output for these parameters to ``path`` and return the number of
    arcs. ``compress`` None follows the name (``.gz`` gzip, ``.zst`` zstd), else False, True
    or "gzip", or "zstd". ``streamed`` True writes each arc as it is made (the generator runs
    twice: first to count the arcs and settle the balances the file lists before them), so
    memory stays independent of the arc count; False holds the arcs in memory and runs once;
    None (the default) streams above 4,194,304 requested arcs. The file is whole or absent:
    a refusal (ValueError, before anything is written), Ctrl-C or a failed write (OSError)
    leaves the path as it was."""
    values = _values(_given(locals()))
    if compress is None:
        name = os.fspath(path)
        how = 1 if name.endswith(".gz") else 2 if name.endswith(".zst") else 0
    elif compress in _COMPRESSIONS:
        how = _COMPRESSIONS[compress]
    else:
        raise ValueError(f"compress must be None, False, True, 'gzip' or 'zstd', not {compress!r}")
    if streamed not in _HOLDINGS:
        raise ValueError(f"streamed must be None, True or False, not {streamed!r}")
    count: int = _native._netgen_write(os.fspath(path), values, _limit("max_nodes", max_nodes),
                                       _limit("max_arcs", max_arcs), how, _HOLDINGS[streamed])
    return count


def check_netgen(*, max_nodes: int = MAX_NODES, max_arcs: int = MAX_ARCS, **params: int) -> None:
    """Raises the ValueError (or TypeError) ``netgen(**params)`` would raise for its inputs,
    without generating anything. A run may still be refused later, when its draws show that
    it would never end."""
    _native._netgen_check(_values(params), _limit("max_nodes", max_nodes),
                          _limit("max_arcs", max_arcs))


def problem_type(**params: int) -> str:
    """"min", "max" or "asn": the problem the original makes of these parameters (an
    assignment when the pure sources and pure sinks are equally many, fill the network and
    the supply equals the sources; else max-flow when every cost is 1)."""
    v = dict(zip(PARAMETERS, _values(params)))
    pure_sources = v["sources"] - v["transshipment_sources"]
    pure_sinks = v["sinks"] - v["transshipment_sinks"]
    if (pure_sources + pure_sinks == v["nodes"] and pure_sources == pure_sinks
            and v["supply"] == v["sources"]):
        return "asn"
    return "max" if v["min_cost"] == 1 and v["max_cost"] == 1 else "min"


# C's isspace, then what "%ld" takes: an optional sign and decimal digits.
_SPACE = re.compile(r"[ \t\n\v\f\r]*")
_LONG = re.compile(r"[+-]?[0-9]+")


def read_netgen_input(text: str) -> tuple[list[dict[str, int]], str]:
    """The problems of a NETGEN input stream, read as the original reads it: integers
    separated by any white space, 15 per problem (seed, problem number, the 13 parameters).
    Reading stops at the end of the text, at anything that does not start an integer (so
    ``12abc`` yields 12 and then stops), at a seed or problem number that is not positive, or
    in the middle of a problem (which is then dropped). Returns the problems, each a dict
    of ``PARAMETERS``, and why reading stopped: "end", "seed", "problem", "incomplete" (with
    the number of values read in the dropped problem after a colon, e.g. "incomplete:7"),
    "text" (not an integer where a seed was expected) or "range" (an integer beyond 64 bits)."""
    problems: list[dict[str, int]] = []
    pos = 0
    while True:
        values: list[int] = []
        while len(values) < len(PARAMETERS):
            pos = _SPACE.match(text, pos).end()  # type: ignore[union-attr]
            found = _LONG.match(text, pos)
            if found is None:
                if values:
                    return problems, f"incomplete:{len(values)}"
                return problems, "end" if pos == len(text) else "text"
            value = int(found.group())
            if not _INT64[0] <= value <= _INT64[1]:
                return problems, "range"
            pos = found.end()
            values.append(value)
            if len(values) == 1 and value <= 0:
                return problems, "seed"
            if len(values) == 2 and value <= 0:
                return problems, "problem"
        problems.append(dict(zip(PARAMETERS, values)))
