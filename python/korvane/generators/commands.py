"""The command line of the generators: ``korvane netgen`` and ``korvane generators list``."""

from __future__ import annotations

import argparse
import json
import os
import sys
from pathlib import Path
from typing import Any

from . import families
from .netgen import MAX_ARCS, MAX_NODES, read_netgen_input, write_netgen

EXIT_OK = 0
EXIT_USAGE = 2
EXIT_FILE = 3


class Refused(Exception):
    """Parameters that cannot make a network: one line, exit code 2, nothing written."""


def _read_params(source: str) -> dict[str, Any]:
    """The one problem of a parameter file (``-``: standard input) or a family member's name."""
    if source != "-" and not os.path.exists(source):
        if families.is_netgen_name(source):
            return families.family(source)
        if families.is_mnetgen_name(source):
            raise Refused(f"{source}: a Mnetgen instance; korvane mnetgen writes it")
        raise Refused(f"{source}: neither a parameter file nor a NETGEN family member "
                      "(see korvane generators list)")
    try:
        text = sys.stdin.read() if source == "-" else Path(source).read_text(encoding="utf-8")
    except UnicodeDecodeError:
        raise Refused(f"{source}: not a NETGEN parameter file (not text)") from None
    problems, why = read_netgen_input(text)
    shown = "standard input" if source == "-" else source
    if len(problems) > 1:
        raise Refused(f"{shown}: holds {len(problems)} problems; korvane netgen writes one per "
                      "file (split the file)")
    if problems:
        return dict(problems[0])
    if why.startswith("incomplete:"):
        raise Refused(f"{shown}: expected 15 integers (seed, problem number, 13 parameters), "
                      f"found {why.partition(':')[2]}")
    reasons = {
        "seed": "the seed must be positive (NETGEN stops reading at a seed that is not)",
        "problem": "the problem number must be positive (NETGEN stops reading at one that is not)",
        "range": "a value does not fit a signed 64-bit integer",
    }
    raise Refused(f"{shown}: " + reasons.get(
        why, "no NETGEN problem: expected 15 integers (seed, problem number, 13 parameters)"))


def cmd_netgen(args: argparse.Namespace) -> int:
    try:
        params = _read_params(args.params)
    except OSError as exc:
        print(f"korvane: {args.params}: {exc.strerror or exc}", file=sys.stderr)
        return EXIT_FILE
    except Refused as exc:
        print(f"korvane: {exc}", file=sys.stderr)
        return EXIT_USAGE
    streamed = {"auto": None, "memory": False, "stream": True}[args.holding]
    try:
        arcs = write_netgen(args.output, **params, max_nodes=args.max_nodes,
                            max_arcs=args.max_arcs, streamed=streamed)
    except ValueError as exc:
        print(f"korvane: {exc}", file=sys.stderr)
        return EXIT_USAGE
    except OSError as exc:
        print(f"korvane: {args.output}: {exc.strerror or exc}", file=sys.stderr)
        return EXIT_FILE
    if not args.quiet:
        print(f"wrote {args.output} ({params['nodes']} nodes, {arcs} arcs)")
    return EXIT_OK


def _describe(name: str) -> dict[str, Any]:
    params = families.family(name)
    if families.is_mnetgen_name(name):
        return {"name": name, "generator": "mnetgen", "params": params}
    return {"name": name, "generator": "netgen", "nodes": params["nodes"],
            "arcs": params["arcs"], "params": params}


def cmd_list(args: argparse.Namespace) -> int:
    names = families.family_names()
    if args.pattern is not None:
        names = families.expand_names(args.pattern, names)
    if args.json:
        print(json.dumps([_describe(n) for n in names], indent=2))
        return EXIT_OK
    for name in names:
        print(name)
    return EXIT_OK


def _positive(text: str) -> int:
    try:
        value = int(text, 10)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected an integer, got {text!r}") from None
    if not 1 <= value <= 2**31 - 1:
        raise argparse.ArgumentTypeError(f"must be between 1 and {2**31 - 1}, got {text}")
    return value


def register(sub: Any, formatter: Any, exit_codes: str) -> None:
    """Adds the generators' commands to korvane's subcommand parser."""
    p = sub.add_parser(
        "netgen", formatter_class=formatter, help="make a NETGEN network (.min), byte for byte",
        description="Write the network the C version of NETGEN makes from PARAMS: a file in its "
                    "input layout (15 integers: seed, problem number, then nodes, sources, "
                    "sinks, arcs, minimum and maximum cost, supply, transshipment sources and "
                    "sinks, percent of skeleton arcs with the maximum cost, percent "
                    "capacitated, minimum and maximum capacity), '-' for standard input, or a "
                    "family member's name (korvane generators list). OUT ending in .gz or .zst "
                    "is compressed. Parameters NETGEN refuses, crashes or never ends on are "
                    "refused with exit code 2 and nothing is written.",
        epilog="examples:\n  korvane netgen problem.param -o net.min\n"
               "  echo 13502460 8 256 16 16 2048 1 10000 16000 0 0 100 100 1 1000 | "
               "korvane netgen - -o net.min\n  korvane netgen netgen_8_14a -o netgen_8_14a.min.gz\n"
               "  korvane netgen netgen-101 -o p101.min\n\n" + exit_codes)
    p.add_argument("params", metavar="PARAMS")
    p.add_argument("-o", "--output", required=True, metavar="OUT")
    p.add_argument("--max-nodes", type=_positive, default=MAX_NODES, metavar="N",
                   help=f"refuse more nodes than this (default {MAX_NODES})")
    p.add_argument("--max-arcs", type=_positive, default=MAX_ARCS, metavar="M",
                   help=f"refuse more requested arcs than this (default {MAX_ARCS})")
    p.add_argument("--holding", choices=("auto", "memory", "stream"), default="auto",
                   help="hold the arcs in memory, or stream them (two runs, memory independent "
                        "of the arc count); auto streams above 4194304 arcs")
    p.add_argument("-q", "--quiet", action="store_true")
    p.set_defaults(run=cmd_netgen)

    p = sub.add_parser(
        "generators", formatter_class=formatter, help="the published instance families",
        description="List the members of the generator families korvane makes by name: NETGEN's "
                    "classic problems 101-150, the NETGEN benchmark families and Mnetgen's set.",
        epilog="examples:\n  korvane generators list\n  korvane generators list 'netgen_deg_*'\n"
               "  korvane generators list --json netgen-101\n\n" + exit_codes)
    what = p.add_subparsers(dest="what", required=True, metavar="ACTION")
    q = what.add_parser("list", formatter_class=formatter, help="list every family member")
    q.add_argument("pattern", nargs="?", default=None, metavar="GLOB",
                   help="only the members whose names match")
    q.add_argument("--json", action="store_true", help="each member with its parameters, as JSON")
    q.set_defaults(run=cmd_list)
