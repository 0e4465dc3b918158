"""The korvane command: look into network and instance files, generate and convert instances,
solve them, and make or verify whole suites from a manifest."""

from __future__ import annotations

import argparse
import importlib
import json
import math
import os
import signal
import sys
import threading
from collections.abc import Sequence
from pathlib import Path
from typing import Any, NoReturn

import korvane

from . import suite as suites
from .generators import commands as generator_commands
from ._version import __version__

_NATIVE: Any = importlib.import_module("korvane.korvane")

EXIT_OK = 0
EXIT_CHECK_FAILED = 1
EXIT_USAGE = 2
EXIT_FILE = 3
EXIT_MISSING = 4
EXIT_INTERRUPTED = 130
EXIT_TERMINATED = 143

EXIT_CODES = f"""\
exit codes:
  {EXIT_OK}    success
  {EXIT_CHECK_FAILED}    a check failed: suite --verify found a mismatch, solve --require-feasible
       met an instance that is not feasible
  {EXIT_USAGE}    bad command line or manifest, a file that is not what the command takes, or a
       Dask scheduler that cannot be reached or has no workers (nothing was done)
  {EXIT_FILE}    a file could not be read, parsed or written, or memory ran out
  {EXIT_MISSING}    an optional dependency is missing (the message names the extra)
  {EXIT_INTERRUPTED}  interrupted (Ctrl-C); no partial file is left behind
  {EXIT_TERMINATED}  terminated (SIGTERM), likewise
"""


class Terminated(KeyboardInterrupt):
    """SIGTERM, taken like Ctrl-C so that every temporary is removed on the way out."""


def _terminate(signum: int, frame: Any) -> None:
    raise Terminated

class UserError(Exception):
    """A failure the user can act on: reported as one line, never as a traceback."""

    def __init__(self, message: str, code: int) -> None:
        super().__init__(message)
        self.code = code


def fail_file(path: str | os.PathLike[str], exc: BaseException | str) -> NoReturn:
    # Python's own OSErrors carry "[Errno N] text: 'path'"; the path is already named.
    text = exc.strerror if isinstance(exc, OSError) and exc.strerror else str(exc)
    if isinstance(exc, korvane.InternalError) and text.startswith("index out of bounds"):
        text = f"a field is missing ({text})"
    # A reader's note names the file and the line at fault ("line 4 of bad.min").
    notes = getattr(exc, "__notes__", None) if isinstance(exc, BaseException) else None
    where = notes[-1] if notes else os.fspath(path)
    raise UserError(f"{where}: {text}", EXIT_FILE)


# --- reading any of the three kinds of file ------------------------------------------------


def load_any(path: str, jlf_kind: str | None = None) -> tuple[str, Any]:
    """(format, record) for a .min network, a multi-commodity file, or a Mnetgen or JLF
    instance (named by its base or any part; a JLF one needs its kind), as
    korvane.formats.detect tells them apart."""
    formats = suites.formats_module()
    try:
        found = formats.detect(path)
        if found.format == "mnetgen":
            return "mnetgen", formats.read_mnetgen(found.base)
        if found.format == "jlf":
            if jlf_kind is None:
                raise UserError(f"{path}: a JLF instance: say what its commodities are with "
                                "--jlf-kind psp, osp or ods", EXIT_USAGE)
            return "jlf", formats.read_jlf(found.base, jlf_kind, supply=found.supply)
        if found.format == "mcf":
            return "mcf", korvane.load_multi_commodity_instance(path)
        return "min", read_network(path)
    except (suites.MissingFeature, UserError):
        raise
    except (OSError, RuntimeError, ValueError, korvane.InternalError) as exc:
        fail_file(path, exc)


def read_network(path: str | os.PathLike[str]) -> korvane.NetworkInstance:
    """The .min network at path. The reader takes any text as a network of what it finds;
    the command line wants one that says it is one (a usage error otherwise)."""
    read: tuple[korvane.NetworkInstance, bool] = _NATIVE._read_min(os.fspath(path))
    network, has_problem_line = read
    if not has_problem_line:
        raise UserError(f"{os.fspath(path)}: not a network: no problem line ('p min NODES ARCS')",
                        EXIT_USAGE)
    return network


def _number(value: float) -> int | float:
    """A total as the files would print it: integral values as integers."""
    return int(value) if math.isfinite(value) and float(value).is_integer() else value


def _split_totals(partition: dict[int, list[int]], k: int) -> tuple[list[int], list[int]]:
    supply = [0] * k
    demand = [0] * k
    for amounts in partition.values():
        for c, v in enumerate(amounts[:k]):
            if v > 0:
                supply[c] += v
            else:
                demand[c] += v
    return supply, demand


def describe(path: str, jlf_kind: str | None = None) -> dict[str, Any]:
    kind, rec = load_any(path, jlf_kind)
    out: dict[str, Any] = {"file": path, "format": kind}
    if kind == "min":
        supplies = rec.supplies
        out.update(
            declared_nodes=rec.num_nodes, declared_arcs=rec.num_arcs,
            nodes=len(rec.nodes), arcs=len(rec.edges),
            parallel_arc_pairs=rec.num_parallel_arc_pairs,
            supply=sum(v for v in supplies.values() if v > 0),
            demand=sum(v for v in supplies.values() if v < 0))
        return out
    k = rec.num_commodities
    if kind in ("mnetgen", "jlf"):
        return _describe_problem(out, rec)
    partition = rec.commodity_supply_demand_data
    totals = {n: sum(v) for n, v in partition.items()}
    supply, demand = _split_totals(partition, k)
    out.update(declared_nodes=rec.num_nodes, declared_arcs=rec.num_arcs)
    out.update(nodes=len(rec.nodes), arcs=len(rec.edges),
               parallel_arc_pairs=sum(1 for v in rec.arc_indices.values() if len(v) > 1))
    out.update(num_commodities=k, commodity_supply=supply, commodity_demand=demand)
    method = rec.method
    out.update(
        method=suites.METHODS[method] if 0 <= method < 3 else method,
        randomized_capacities=rec.randomized_capacities,
        randomized_weights=rec.randomized_weights,
        cap_zero=rec.cap_zero, cap_zero_param=rec.cap_zero_param, seed=rec.seed)
    if partition and k > 0:
        try:
            out["heterogeneity"] = korvane.compute_commodity_demand_heterogeneity(partition, totals)
        except (OverflowError, korvane.InternalError):
            pass  # a file's amounts may sum beyond 64 bits; the measure is then left out
    return out


def _describe_problem(out: dict[str, Any], rec: Any) -> dict[str, Any]:
    """What a Mnetgen or JLF instance holds, totals in the files' own numbers."""
    k = rec.num_commodities
    supply = [0.0] * k
    demand = [0.0] * k
    for amounts in rec.supplies:
        for c, v in enumerate(amounts):
            if v > 0:
                supply[c] += v
            else:
                demand[c] += v
    tails, heads = rec.tails, rec.heads
    pairs: dict[tuple[int, int], int] = {}
    for pair in zip(tails, heads):
        pairs[pair] = pairs.get(pair, 0) + 1
    out.update(
        declared_nodes=rec.num_nodes, declared_arcs=rec.declared_arcs, nodes=rec.num_nodes,
        arcs=rec.num_arcs, parallel_arc_pairs=sum(1 for n in pairs.values() if n > 1),
        bundled_arcs=sum(1 for b in rec.bundle_capacities if math.isfinite(b)),
        num_commodities=k, commodity_supply=[_number(v) for v in supply],
        commodity_demand=[_number(v) for v in demand])
    return out


def _json_safe(value: Any) -> Any:
    if isinstance(value, float) and not math.isfinite(value):
        return str(value)
    return value


def cmd_info(args: argparse.Namespace) -> int:
    reports = [describe(path, args.jlf_kind) for path in args.files]
    if args.json:
        safe = [{k: _json_safe(v) for k, v in r.items()} for r in reports]
        print(json.dumps(safe, indent=2))
        return EXIT_OK
    for r in reports:
        print(f"{r['file']}: {r['format']}")
        for key, value in r.items():
            if key not in ("file", "format"):
                print(f"  {key.replace('_', ' ')}: {value}")
    return EXIT_OK


# --- generate ------------------------------------------------------------------------------


def _params(args: argparse.Namespace) -> suites.Params:
    return suites.Params(
        num_commodities=args.num_commodities, method=args.method,
        randomize_caps=args.randomize_caps, cap_a=args.cap_a, cap_b=args.cap_b,
        randomize_costs=args.randomize_costs, cost_a=args.cost_a, cost_b=args.cost_b,
        concentration_param=args.concentration_param, cap_zero=args.cap_zero,
        cap_zero_param=(suites.GENERATE_DEFAULTS["cap_zero_param"] if args.cap_zero_param is None
                        else args.cap_zero_param), seed=args.seed)


def cmd_generate(args: argparse.Namespace) -> int:
    params = _params(args)
    pointless = suites.pointless_setting(params, args.cap_zero_param is not None,
                                         lambda key: "--" + key.replace("_", "-"))
    if pointless is not None:
        raise UserError(pointless, EXIT_USAGE)
    if args.format == "mnetgen":
        suites.formats_module()
    out = Path(args.output)
    how = _compression(out)
    kind, instance = load_any(args.network)
    if kind != "min":
        fail_file(args.network, f"expected a DIMACS .min network, found a {kind} instance")
    suites.remove_stale_temporaries(out.parent)
    # Drawn and written in one pass, compressed on the way as the name asks: the generated
    # data is never held whole. Generation fails (InternalError) before the writer checks
    # anything or opens a file.
    try:
        if args.format == "mnetgen":
            # -o x.gz (or .zst): the four parts x.nod.gz ... compressed as they are written.
            out = out.with_name(out.name.removesuffix(".gz").removesuffix(".zst"))
        files = suites.stream_instance(instance, params, out, args.format, how)
    except MemoryError:
        raise UserError(f"{args.network}: not enough memory for {args.num_commodities} commodities "
                        f"on {len(instance.edges)} arcs", EXIT_FILE) from None
    except korvane.InternalError as exc:
        raise UserError(f"{args.network}: cannot generate: {exc}", EXIT_USAGE) from None
    except (OSError, ValueError) as exc:
        fail_file(args.output, exc)
    if not args.quiet:
        for f in files:
            print(f"wrote {f}")
    return EXIT_OK



# --- mnetgen --------------------------------------------------------------------------------


def cmd_mnetgen(args: argparse.Namespace) -> int:
    gen = importlib.import_module("korvane.generators.mnetgen")
    source = args.source
    if os.path.exists(source):
        try:
            params = gen.read_par(source)
        except OSError as exc:
            fail_file(source, exc)
        except ValueError as exc:  # names the file already
            raise UserError(str(exc), EXIT_FILE) from None
    else:
        try:
            params = gen.family_parameters(source)
        except ValueError:
            raise UserError(f"{source}: no such parameter file, nor the name of a published "
                            "Mnetgen instance (n-k-h, such as 64-4-1)", EXIT_FILE) from None
    # BASE.gz or BASE.zst asks for compressed parts, BASE.nod.gz and so on.
    base = args.output
    how = _compression(Path(base))
    if how is not None:
        base = base[: -len(".gz" if how == "gzip" else ".zst")]
    suites.remove_stale_temporaries(Path(base).parent)
    try:
        gen.write_mnetgen_instance(base, compress=how, **params)
    except ValueError as exc:
        raise UserError(f"{source}: {exc}", EXIT_USAGE) from None
    except OSError as exc:
        fail_file(args.output, exc)
    if not args.quiet:
        suffix = {None: "", "gzip": ".gz", "zstd": ".zst"}[how]
        print(f"wrote {base}.{{nod,arc,sup,mut}}{suffix}")
    return EXIT_OK

# --- convert --------------------------------------------------------------------------------


def _compression(out: Path) -> str | None:
    """The compression an output's name asks for."""
    compression: str | None = suites.formats_module().compression_for_name(out)
    return compression


def _copy_as_named(src: str, out: Path) -> None:
    """Copy src, decompressed, to out, compressed as out's name asks, through the native
    writer (which replaces out whole, keeping its mode, owner and symbolic link)."""
    _NATIVE._copy_file(src, str(out), suites.COMPRESSION_CODES[_compression(out)])


def cmd_convert(args: argparse.Namespace) -> int:
    kind, rec = load_any(args.input, args.jlf_kind)
    if kind == "min":
        fail_file(args.input, "a .min network has no commodities; make an instance with 'korvane generate'")
    out = Path(args.output)
    mnetgen_suffix = ""
    suites.remove_stale_temporaries(out.parent)
    try:
        if args.to == "mcf":
            if kind != "mcf":
                raise UserError(f"{args.input}: cannot convert a {kind} instance to mcf: mcf files "
                                f"hold integers and generation parameters that {kind} files do "
                                "not", EXIT_USAGE)
            # The reader keeps no lower bounds, so the file itself is copied (decompressed,
            # then compressed as the output's name asks), which is exact.
            _copy_as_named(args.input, out)
        elif args.to == "mnetgen":
            # The writer renames the four parts into place together once all are written;
            # -o x.gz (or .zst) names the base x of compressed parts.
            how = _compression(out)
            out = out.with_name(out.name.removesuffix(".gz").removesuffix(".zst"))
            suites.formats_module().write_mnetgen(str(out), rec, compress=how or False)
            mnetgen_suffix = {"gzip": ".gz", "zstd": ".zst"}.get(how or "", "")
        else:
            solve = suites.solve_module()
            # The model writer picks the format by suffix, so the temporary name keeps it;
            # the native writer then puts the model in place as it puts every output.
            tmp = suites.temporary_sibling(out, "." + args.to)
            try:
                solve.write_model(str(tmp), rec)
                _NATIVE._copy_file(str(tmp), str(out), 0)
            finally:
                tmp.unlink(missing_ok=True)
    except (OSError, ValueError, RuntimeError) as exc:
        fail_file(args.output, exc)
    if not args.quiet:
        print(f"wrote {out}" + (".{nod,arc,sup,mut}" + mnetgen_suffix if args.to == "mnetgen"
                                else ""))
    return EXIT_OK


# --- solve ---------------------------------------------------------------------------------


def _highs_options(pairs: Sequence[str]) -> dict[str, str]:
    options = {}
    for pair in pairs:
        name, sep, value = pair.partition("=")
        if not sep or not name:
            raise UserError(f"--highs-option: expected NAME=VALUE, got {pair!r}", EXIT_USAGE)
        options[name.strip()] = value.strip()
    return options


def cmd_solve(args: argparse.Namespace) -> int:
    solve = suites.solve_module()
    options = _highs_options(args.highs_option)
    try:
        solve.check_options(options)
    except ValueError as exc:
        raise UserError(f"--highs-option: {exc}", EXIT_USAGE) from None
    rows = []
    for path in args.files:
        kind, rec = load_any(path, args.jlf_kind)
        if kind == "min":
            fail_file(path, "a .min network has no commodities; solve a generated instance")
        try:
            result = solve.solve(rec, time_limit=args.time_limit, options=options,
                                 method=args.method)
            row: dict[str, Any] = {
                "file": path, "status": str(result.status), "objective": result.objective,
                "seconds": round(float(result.solve_seconds), 6), "method": result.method,
                "proven_optimal": result.proven_optimal,
                "primal_residual": result.primal_residual,
                "dual_residual": result.dual_residual}
            if args.explain:
                # An optimum is a feasible flow; anything else is asked why.
                row["explanation"] = "feasible" if result.status == "optimal" else \
                    solve.check_feasible(rec, time_limit=args.time_limit, options=options).reason
        except (ValueError, RuntimeError) as exc:
            fail_file(path, exc)
        rows.append(row)
    if args.json:
        print(json.dumps(rows, indent=2))
    else:
        for row in rows:
            # repr: the shortest text that reads back to the same float.
            obj = "" if row["objective"] is None else f" objective {row['objective']!r}"
            print(f"{row['file']}: {row['status']}{obj} ({row['seconds']:.3f} s)")
            if "explanation" in row:
                print(f"  {row['explanation']}")
    if args.require_feasible and any(r["status"] not in ("optimal",) for r in rows):
        return EXIT_CHECK_FAILED
    return EXIT_OK


# --- suite ---------------------------------------------------------------------------------


class _Progress:
    """A tqdm bar on a terminal; otherwise one plain line per instance."""

    def __init__(self, total: int, label: str, enabled: bool) -> None:
        self.bar: Any = None
        self.plain = enabled
        if enabled and sys.stderr.isatty():
            try:
                tqdm = importlib.import_module("tqdm").tqdm
            except ImportError:
                pass
            else:
                self.bar = tqdm(total=total, desc=label, unit="inst", file=sys.stderr)
                self.plain = False

    def __call__(self, what: str, name: str) -> None:
        if self.bar is not None:
            self.bar.update(1)
        elif self.plain:
            print(f"{what} {name}", flush=True)

    def close(self) -> None:
        if self.bar is not None:
            self.bar.close()


def cmd_suite(args: argparse.Namespace) -> int:
    try:
        if args.max_instances < 1:
            raise UserError(f"--max-instances: must be at least 1, got {args.max_instances}", EXIT_USAGE)
        suite = suites.load_manifest(args.manifest, args.max_instances)
    except OSError as exc:
        fail_file(args.manifest, exc)
    except suites.ManifestError as exc:
        raise UserError(f"{args.manifest}: {exc}", EXIT_USAGE) from None
    if args.output is not None:
        suite = suite.with_output(args.output)
    # Each network file read once here, before any work: the same refusal as the other commands.
    for shown, path in suite.networks:
        if shown not in suite.generated:
            try:
                read_network(path)
            except (OSError, RuntimeError, ValueError, korvane.InternalError) as exc:
                fail_file(path, exc)
    if args.jobs is not None and args.jobs < 1:
        raise UserError(f"--jobs: must be at least 1, got {args.jobs}", EXIT_USAGE)
    if args.executor is not None and not args.executor.startswith("dask://"):
        raise UserError(f"--executor: expected dask://HOST:PORT, got {args.executor!r}", EXIT_USAGE)
    jobs = args.jobs if args.jobs is not None else suites.default_jobs()
    try:
        executor, workers, close = suites.open_executor(jobs, args.executor,
                                                        args.connect_timeout)
    except suites.ExecutorError as exc:
        raise UserError(str(exc), EXIT_USAGE) from None
    progress = _Progress(len(suite.jobs), "verify" if args.verify else "suite", not args.quiet)
    try:
        if args.verify:
            mismatches = suites.verify_suite(suite, executor, workers=workers, progress=progress)
            progress.close()
            for m in mismatches:
                print(f"korvane: {m.file}: {m.reason}", file=sys.stderr)
            if mismatches:
                return EXIT_CHECK_FAILED
            print(f"verified {len(suite.jobs)} instances: every checksum matches")
            return EXIT_OK
        summary = suites.run_suite(suite, executor, workers=workers, collect=args.collect,
                                   progress=progress)
        progress.close()
        print(f"{summary}; {suite.suite_file}")
        for name in summary.infeasible:
            print(f"not feasible: {name}")
        if args.report:
            print(f"report: {_write_report(suite.output)}")
        return EXIT_OK
    except suites.InstanceError as exc:
        raise UserError(str(exc), EXIT_FILE) from None
    finally:
        progress.close()
        close()


def _write_report(folder: str | os.PathLike[str], output: str | None = None) -> str:
    from . import report
    try:
        return str(report.write_report(folder, output))
    except report.ReportError as exc:
        raise UserError(str(exc), EXIT_FILE) from None
    except OSError as exc:
        fail_file(output or os.path.join(folder, report.REPORT_FILE), exc)


def cmd_report(args: argparse.Namespace) -> int:
    print(_write_report(args.folder, args.output))
    return EXIT_OK


# --- parser ----------------------------------------------------------------------------------


def _method(text: str) -> int:
    try:
        return suites.parse_method("--method", int(text) if text.isdigit() else text)
    except suites.ManifestError as exc:
        raise argparse.ArgumentTypeError(str(exc).removeprefix("--method: ")) from None


def _uint(text: str) -> int:
    try:
        value = int(text, 10)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected a non-negative integer, got {text!r}") from None
    if not 0 <= value < 2**64:
        raise argparse.ArgumentTypeError(f"must be between 0 and {2**64 - 1}, got {text}")
    return value


def _commodities(text: str) -> int:
    try:
        value = int(text, 10)
    except ValueError:
        value = -1
    if not 1 <= value < 2**64:
        raise argparse.ArgumentTypeError(
            f"expected a number of commodities from 1 to {2**64 - 1}, got {text!r}")
    return value


def _finite(text: str) -> float:
    # As a manifest: nan would make every drawn value 1, inf overflows them.
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected a finite number, got {text!r}") from None
    if not math.isfinite(value):
        raise argparse.ArgumentTypeError(f"expected a finite number, got {text!r}")
    return value


def _seconds(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        value = math.nan
    if not value > 0:  # also nan
        raise argparse.ArgumentTypeError(f"expected a positive number of seconds, got {text!r}")
    return value


def _jlf_kind_option(p: argparse.ArgumentParser) -> None:
    p.add_argument("--jlf-kind", choices=("psp", "osp", "ods"), default=None,
                   help="what a JLF instance's commodities are: products (psp), products by "
                        "origin (osp) or origin-destination pairs (ods); JLF instances need it")


def _formatter(prog: str) -> argparse.HelpFormatter:
    return argparse.RawDescriptionHelpFormatter(prog, max_help_position=32)


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="korvane", formatter_class=_formatter,
        description="Make reproducible multi-commodity flow instances from DIMACS .min networks.",
        epilog="examples:\n"
               "  korvane info examples/network.min\n"
               "  korvane generate examples/network.min -k 4 --method beta-binomial --seed 7 -o net4.mcf\n"
               "  korvane suite suite.toml --jobs 2\n"
               "  korvane suite suite.toml --verify\n\n" + EXIT_CODES)
    parser.add_argument("--version", action="version", version=f"korvane {__version__}")
    sub = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")

    p = sub.add_parser(
        "info", formatter_class=_formatter, help="what a .min, multi-commodity, Mnetgen or JLF file holds",
        description="Show the counts, supply totals, parallel arcs and, for an instance, the number "
                    "of commodities and the generation parameters. gzip files are read like plain ones.",
        epilog="examples:\n  korvane info examples/network.min\n  korvane info --json net4.mcf\n\n" + EXIT_CODES)
    p.add_argument("files", nargs="+", metavar="FILE")
    p.add_argument("--json", action="store_true",
                   help="print JSON instead of text: a list, one object per file")
    _jlf_kind_option(p)
    p.set_defaults(run=cmd_info)

    p = sub.add_parser(
        "generate", formatter_class=_formatter, help="make one multi-commodity instance",
        description="Generate multi-commodity data from a network and write it. The file is byte for "
                    "byte what korvane.generate_multi_commodity_data and "
                    "korvane.save_multi_commodity_instance write for the same arguments; options "
                    "carry their names and defaults.",
        epilog="examples:\n"
               "  korvane generate net.min -k 8 --method spread --seed 1 -o net8.mcf\n"
               "  korvane generate net.min -k 4 --method beta-binomial --concentration-param 0.5 \\\n"
               "      --randomize-caps --cap-zero --cap-zero-param 0.1 -o net4.mcf\n"
               "  korvane generate net.min -k 4 --method uniform --format mnetgen -o net4\n\n" + EXIT_CODES)
    p.add_argument("network", metavar="NETWORK", help="DIMACS .min file (plain or gzip)")
    p.add_argument("-k", "--num-commodities", type=_commodities, required=True, metavar="K")
    p.add_argument("--method", type=_method, required=True, metavar="METHOD",
                   help="spread, uniform or beta-binomial (or 0, 1, 2)")
    # Every default is the binder's own (korvane.korvane._defaults), written once.
    default = suites.GENERATE_DEFAULTS
    p.add_argument("--seed", type=_uint, default=default["seed"],
                   help=f"(default {default['seed']})")
    p.add_argument("--randomize-caps", action="store_true", help="draw a capacity per commodity")
    p.add_argument("--cap-a", type=_finite, default=default["cap_a"],
                   help=f"lower capacity multiplier (default {default['cap_a']})")
    p.add_argument("--cap-b", type=_finite, default=default["cap_b"],
                   help=f"upper capacity multiplier (default {default['cap_b']})")
    p.add_argument("--randomize-costs", action="store_true", help="draw a cost per commodity")
    p.add_argument("--cost-a", type=_finite, default=default["cost_a"],
                   help=f"lower cost multiplier (default {default['cost_a']})")
    p.add_argument("--cost-b", type=_finite, default=default["cost_b"],
                   help=f"upper cost multiplier (default {default['cost_b']})")
    p.add_argument("--concentration-param", type=_finite, default=default["concentration_param"],
                   help=f"beta-binomial concentration (default {default['concentration_param']})")
    p.add_argument("--cap-zero", action="store_true", help="zero a fraction of per-commodity capacities")
    # None tells "not given" from the default, which is refused without --cap-zero.
    p.add_argument("--cap-zero-param", type=_finite, default=None,
                   help=f"that fraction, between 0 and 1 (default {default['cap_zero_param']})")
    p.add_argument("-o", "--output", required=True, metavar="OUT",
                   help="output file (the base name of four files with --format mnetgen)")
    p.add_argument("--format", choices=suites.FORMATS, default="mcf")
    p.add_argument("-q", "--quiet", action="store_true")
    p.set_defaults(run=cmd_generate)

    p = sub.add_parser(
        "convert", formatter_class=_formatter, help="write an instance in another format",
        description="Convert a multi-commodity, Mnetgen or JLF instance: to mcf (decompressing gzip), "
                    "to the four Mnetgen files, or to an MPS or LP model of its linear program.",
        epilog="examples:\n  korvane convert net4.mcf.gz -o net4.mcf --to mcf\n"
               "  korvane convert net4.mcf -o net4 --to mnetgen\n"
               "  korvane convert net4.mcf -o net4.mps --to mps\n\n" + EXIT_CODES)
    p.add_argument("input", metavar="IN")
    p.add_argument("-o", "--output", required=True, metavar="OUT")
    p.add_argument("--to", choices=("mcf", "mnetgen", "mps", "lp"), required=True)
    _jlf_kind_option(p)
    p.add_argument("-q", "--quiet", action="store_true")
    p.set_defaults(run=cmd_convert)

    p = sub.add_parser(
        "mnetgen", formatter_class=_formatter, help="run the Mnetgen generator",
        description="Write the four files BASE.nod, .arc, .sup and .mut byte for byte as the "
                    "Mnetgen generator writes them, from its 21-value parameter file or from "
                    "the name n-k-h of an instance of the published set. Parameters the "
                    "generator refuses (or crashes or never ends on) are refused, and nothing "
                    "is written. An output name ending in .gz or .zst writes compressed parts "
                    "(BASE.nod.gz, ...).",
        epilog="examples:\n  korvane mnetgen inst.par -o inst\n"
               "  korvane mnetgen 64-4-1 -o 64-4-1\n  korvane mnetgen 256-256-7 -o big.zst\n\n"
               + EXIT_CODES)
    p.add_argument("source", metavar="PARAMS",
                   help="a parameter file, or a published instance's name such as 64-4-1")
    p.add_argument("-o", "--output", required=True, metavar="BASE")
    p.add_argument("-q", "--quiet", action="store_true")
    p.set_defaults(run=cmd_mnetgen)

    p = sub.add_parser(
        "solve", formatter_class=_formatter, help="solve instances with HiGHS",
        description="Solve each instance's linear multi-commodity min-cost flow problem with HiGHS "
                    "and print its status, optimum and solve time.",
        epilog="examples:\n  korvane solve net4.mcf\n  korvane solve --require-feasible out/*.mcf\n\n"
               + EXIT_CODES)
    p.add_argument("files", nargs="+", metavar="FILE")
    p.add_argument("--time-limit", type=_seconds, default=None, metavar="SECONDS",
                   help="stop each solve after this many seconds (positive)")
    p.add_argument("--method", choices=["auto", "simplex", "ipm", "pdlp", "decomposition"],
                   default="auto",
                   help="the LP method (default auto, chosen by size; decomposition: column "
                        "generation by commodity); pdlp answers are reported "
                        "as 'approximately optimal', never as proven optima")
    p.add_argument("--highs-option", action="append", default=[], metavar="NAME=VALUE",
                   help="set a HiGHS option over korvane's defaults (presolve=off); repeatable, "
                        "e.g. --highs-option presolve=choose")
    p.add_argument("--require-feasible", action="store_true",
                   help="exit with 1 when any instance is not solved to optimality "
                        "(infeasible, unbounded, or stopped by the time limit)")
    p.add_argument("--json", action="store_true", help="print JSON: a list, one object per file")
    p.add_argument("--explain", action="store_true",
                   help="for an instance not solved to optimality, say why it is infeasible "
                        "(korvane.solve.check_feasible: the commodities that cannot be routed "
                        "alone, or the bundles that cannot all hold)")
    _jlf_kind_option(p)
    p.set_defaults(run=cmd_solve)

    p = sub.add_parser(
        "suite", formatter_class=_formatter, help="make or verify a suite of instances from a manifest",
        description="Make every instance of a TOML manifest's grid in parallel workers and record "
                    "each file's size and SHA-256 in suite.json in the output folder. Instances "
                    "already made with a matching checksum are kept, so an interrupted run resumes. "
                    "--verify regenerates every instance and compares checksums.",
        epilog="examples:\n  korvane suite suite.toml\n  korvane suite suite.toml --jobs 1\n"
               "  korvane suite suite.toml --executor dask://scheduler:8786 --collect\n"
               "  korvane suite suite.toml --verify\n\n" + EXIT_CODES)
    p.add_argument("manifest", metavar="MANIFEST")
    p.add_argument("--verify", action="store_true", help="regenerate and compare checksums")
    p.add_argument("-j", "--jobs", type=int, default=None, metavar="N",
                   help="worker processes (default: the cores available)")
    p.add_argument("--executor", metavar="dask://HOST:PORT", default=None,
                   help="run on a Dask cluster (needs distributed: pip install distributed, "
                        "or the extra korvane[dask])")
    p.add_argument("--connect-timeout", type=_seconds, default=suites.DASK_TIMEOUT,
                   metavar="SECONDS",
                   help="how long to wait for the Dask scheduler and its first worker "
                        f"(default {suites.DASK_TIMEOUT:g})")
    p.add_argument("-o", "--output", metavar="DIR", default=None,
                   help="make the suite in DIR instead of the manifest's output folder")
    p.add_argument("--collect", action="store_true",
                   help="workers return the files' bytes and this process writes them")
    p.add_argument("--max-instances", type=int, default=suites.MAX_INSTANCES, metavar="N",
                   help="refuse a grid of more than N instances before making any "
                        f"(default {suites.MAX_INSTANCES})")
    p.add_argument("-q", "--quiet", action="store_true", help="no progress output")
    p.add_argument("--report", action="store_true",
                   help="then write report.html in the output folder (see korvane report)")
    p.set_defaults(run=cmd_suite)

    p = sub.add_parser(
        "report", formatter_class=_formatter, help="write a suite's HTML report",
        description="Write one self-contained HTML page about a suite made by korvane suite: a "
                    "sortable table of its instances (network, K, method, seed, sizes, checksum, "
                    "feasibility and optimum where solved, demand heterogeneity, bundle ratio) and "
                    "plots of them (with matplotlib, the extra korvane[plot]). It reads suite.json "
                    "and every instance file; it needs no network access to be read.",
        epilog="examples:\n  korvane report suite-out\n  korvane report suite-out -o ~/suite.html\n\n"
               + EXIT_CODES)
    p.add_argument("folder", metavar="SUITE_DIR", help="the suite's output folder (with suite.json)")
    p.add_argument("-o", "--output", metavar="OUT", default=None,
                   help="the page to write (default: SUITE_DIR/report.html)")
    p.set_defaults(run=cmd_report)
    generator_commands.register(sub, _formatter, EXIT_CODES)
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    parser = build_parser()
    args = parser.parse_args(argv)
    # SIGTERM (timeout, a batch scheduler) takes Ctrl-C's way out: the interrupt is raised
    # where the work stands, and every temporary file is removed on the way out.
    on_main = threading.current_thread() is threading.main_thread()
    previous = signal.signal(signal.SIGTERM, _terminate) if on_main else None
    try:
        return int(args.run(args))
    except UserError as exc:
        print(f"korvane: {exc}", file=sys.stderr)
        return exc.code
    except ImportError as exc:
        # korvane's optional parts raise ImportError naming the extra to install.
        print(f"korvane: {exc}", file=sys.stderr)
        return EXIT_MISSING
    except Terminated:
        print("korvane: terminated", file=sys.stderr)
        return EXIT_TERMINATED
    except KeyboardInterrupt:
        print("korvane: interrupted", file=sys.stderr)
        return EXIT_INTERRUPTED
    except MemoryError:
        print("korvane: not enough memory", file=sys.stderr)
        return EXIT_FILE
    except BrokenPipeError:
        # The reader of our output went away (korvane info ... | head); not an error of ours.
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        return EXIT_OK
    finally:
        if on_main:
            signal.signal(signal.SIGTERM, previous if previous is not None else signal.SIG_DFL)


def run() -> NoReturn:
    sys.exit(main())
