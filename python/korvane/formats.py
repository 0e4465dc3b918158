"""Other file formats: the four-file Mnetgen format (``BASE.nod``, ``.arc``, ``.sup``, ``.mut``).

``write_mnetgen`` writes a network with its multi-commodity data (or a parsed multi-commodity
instance, or a record read by ``read_mnetgen``); ``read_mnetgen`` reads the four files back into
an ``MnetgenInstance``. Plain Python: no third-party package is needed. Each part may be gzip
compressed, recognised by its magic bytes; ``BASE.nod.gz`` stands in for a missing ``BASE.nod``.
"""

from __future__ import annotations

import gzip
import os
import zlib
from dataclasses import dataclass
from operator import attrgetter, itemgetter
from typing import IO, Any, Iterator, Sequence

from . import MultiCommodityData, NetworkInstance, ParsedMulticommodityInstance

__all__ = ["MnetgenInstance", "ArcTable", "arc_table", "read_mnetgen", "write_mnetgen"]

_PARTS = ("nod", "arc", "sup", "mut")
_GZIP_MAGIC = b"\x1f\x8b"
# Lines formatted per % operation when writing: one C-level format call per block, not per line.
_BLOCK_LINES = 1 << 14

ArcKey = tuple[int, int, int]


@dataclass(frozen=True)
class MnetgenInstance:
    """A multi-commodity instance read from the four Mnetgen files.

    Nodes are 1..num_nodes and arcs are in name order (position = name - 1). ``edges`` holds
    (tail, head, parallel index) per arc, the parallel index counted by occurrence of the pair
    in position order. ``commodity_capacities`` and ``commodity_weights`` map each arc key to
    its K values in ascending key order; a capacity of -1 leaves the commodity unbounded on the
    arc, and a commodity without a line for an arc has capacity 0 and cost 0 there.
    ``bundle_capacities`` holds each arc's mutual capacity, or None for an arc without one.
    ``supply_partition`` maps each node with a non-zero amount to its K amounts.
    """

    num_nodes: int
    num_arcs: int
    num_commodities: int
    tails: list[int]
    heads: list[int]
    edges: list[ArcKey]
    commodity_capacities: dict[ArcKey, list[int]]
    commodity_weights: dict[ArcKey, list[int]]
    bundle_capacities: list[int | None]
    supply_partition: dict[int, list[int]]


@dataclass(frozen=True)
class ArcTable:
    """One instance in a common shape: per-arc columns in position order, K values per arc.

    ``lows`` and ``ups`` bound the sum of the commodities' flows on each arc (``None`` in
    ``ups``: no bound); ``capacities[a][k]`` and ``costs[a][k]`` are commodity k's own bound
    (negative: none) and unit cost on arc a. ``nodes`` lists every node id once, ascending.
    """

    nodes: list[int]
    tails: list[int]
    heads: list[int]
    indices: list[int]
    lows: list[int]
    ups: list[int | None]
    capacities: list[list[int]]
    costs: list[list[int]]
    supply_partition: dict[int, list[int]]
    num_commodities: int


def arc_table(instance: Any, data: Any = None) -> ArcTable:
    """The arcs, per-commodity values and partition of any instance korvane reads or makes.

    ``instance`` is a NetworkInstance with its MultiCommodityData (without data: one commodity
    with the network's own bounds, costs and supplies), a ParsedMulticommodityInstance or an
    MnetgenInstance. Raises TypeError for anything else and ValueError when the data does not
    belong to the network or a per-commodity list does not hold K values.
    """
    if isinstance(instance, NetworkInstance):
        return _network_table(instance, data)
    if data is not None:
        raise TypeError("data is only taken with a NetworkInstance")
    if isinstance(instance, ParsedMulticommodityInstance):
        return _parsed_table(instance)
    if isinstance(instance, MnetgenInstance):
        edges = instance.edges
        return ArcTable(
            nodes=list(range(1, instance.num_nodes + 1)), tails=instance.tails,
            heads=instance.heads, indices=_column(edges, 2), lows=[0] * len(edges),
            ups=instance.bundle_capacities,
            capacities=list(map(instance.commodity_capacities.__getitem__, edges)),
            costs=list(map(instance.commodity_weights.__getitem__, edges)),
            supply_partition=instance.supply_partition, num_commodities=instance.num_commodities)
    raise TypeError(
        "expected a NetworkInstance (with its MultiCommodityData), a ParsedMulticommodityInstance "
        f"or an MnetgenInstance, not '{type(instance).__name__}'")


# The tables are built with C-level iteration (zip, map, list) over the records' own lists:
# no Python statement runs per arc.


def _column(rows: Sequence[tuple[int, ...]], i: int) -> list[int]:
    return list(map(itemgetter(i), rows))


def _network_table(inst: Any, data: Any) -> ArcTable:
    arcs = inst.arcs
    lows = list(map(attrgetter("low"), inst.edges))
    ups = inst.capacities
    common = dict(tails=_column(arcs, 0), heads=_column(arcs, 1), indices=_column(arcs, 2),
                  lows=lows, ups=ups)
    if data is None:
        supplies = inst.supplies
        return ArcTable(
            nodes=_all_nodes(inst.nodes, supplies), capacities=list(map(_single, ups)),
            costs=list(map(_single, inst.weights)),
            supply_partition=dict(zip(supplies, map(_single, supplies.values()))),
            num_commodities=1, **common)
    if not isinstance(data, MultiCommodityData):
        raise TypeError(f"data must be a MultiCommodityData, not '{type(data).__name__}'")
    caps = data.capacities_by_arc
    if len(caps) != len(arcs):
        raise ValueError(f"the multi-commodity data has {len(caps)} arcs, the network {len(arcs)}")
    partition = data.supply_partition
    return ArcTable(
        nodes=_all_nodes(inst.nodes, partition), capacities=list(caps.values()),
        costs=list(data.weights_by_arc.values()), supply_partition=partition,
        num_commodities=data.num_commodities, **common)


def _single(value: int) -> list[int]:
    return [value]


def _parsed_table(parsed: Any) -> ArcTable:
    k = parsed.num_commodities
    edges = parsed.edges
    caps = parsed.commodity_capacities
    costs = parsed.commodity_weights
    partition = parsed.commodity_supply_demand_data
    for what, table in (("arc", caps), ("arc", costs), ("node", partition)):
        lengths = set(map(len, table.values()))
        if lengths - {k}:
            bad = next(key for key, values in table.items() if len(values) != k)
            raise ValueError(f"{what} {bad} holds {len(table[bad])} per-commodity values, "
                             f"not K = {k}")
    return ArcTable(
        nodes=_all_nodes(parsed.nodes, partition), tails=parsed.start_nodes,
        heads=parsed.end_nodes, indices=_column(edges, 2), lows=[0] * len(edges),
        ups=parsed.capacities, capacities=list(map(caps.__getitem__, edges)),
        costs=list(map(costs.__getitem__, edges)), supply_partition=partition, num_commodities=k)


def _all_nodes(nodes: Sequence[int], partition: dict[int, Any]) -> list[int]:
    return sorted(set(nodes).union(partition))


# ------------------------------------------------------------------------------- writing


def write_mnetgen(base: str | os.PathLike[str], instance: Any, data: Any = None, *,
                  compress: bool = False) -> dict[int, int]:
    """Writes ``BASE.nod``, ``BASE.arc``, ``BASE.sup`` and ``BASE.mut`` (``.gz`` appended and
    gzip compressed with ``compress=True``); returns the node renumbering {id: 1..n}.

    Nodes are numbered 1..n in ascending id order, commodity k becomes k + 1 and arc a is
    named a + 1. Each arc's own upper bound becomes its bundle, written only where it
    constrains (below the sum of the commodities' capacities); a record read by
    ``read_mnetgen`` is written back as it was read. Raises ValueError naming the
    arc for what the format cannot hold (a non-zero lower bound, a negative per-commodity
    capacity, which the format reads as unbounded), before any file is opened.
    """
    table = arc_table(instance, data)
    k = table.num_commodities
    renumber = {node: i for i, node in enumerate(table.nodes, start=1)}
    arc_rows: list[int] = []
    mut_rows: list[int] = []
    # A record read from Mnetgen files keeps its bundles and its -1 (unbounded) capacities.
    as_read = isinstance(instance, MnetgenInstance)
    for a, (tail, head, low, up, caps, costs) in enumerate(
            zip(table.tails, table.heads, table.lows, table.ups, table.capacities, table.costs)):
        if low != 0 or (not as_read and min(caps, default=0) < 0):
            name = f"arc {a} ({tail}, {head}, {table.indices[a]})"
            if low != 0:
                raise ValueError(f"{name} has lower bound {low}; Mnetgen files have no lower "
                                 "bounds")
            raise ValueError(f"{name} has a negative commodity capacity, which Mnetgen files "
                             "read as unbounded")
        pointer = 0
        if up is not None and (as_read or up < sum(caps)):
            mut_rows += (len(mut_rows) // 2 + 1, up)
            pointer = len(mut_rows) // 2
        t, h = renumber[tail], renumber[head]
        for c in range(k):
            arc_rows += (a + 1, t, h, c + 1, costs[c], caps[c], pointer)
    sup_rows: list[int] = []
    for node, amounts in table.supply_partition.items():
        sup_rows.extend(x for c, amount in enumerate(amounts) if amount != 0
                        for x in (renumber[node], c + 1, amount))

    suffix = ".gz" if compress else ""
    paths = {part: f"{os.fspath(base)}.{part}{suffix}" for part in _PARTS}
    header = [k, len(table.nodes), len(arc_rows) // 7, len(mut_rows) // 2]
    _write_rows(paths["nod"], header, 4, compress)
    _write_rows(paths["arc"], arc_rows, 7, compress)
    _write_rows(paths["sup"], sup_rows, 3, compress)
    _write_rows(paths["mut"], mut_rows, 2, compress)
    return renumber


def _write_rows(path: str, values: list[int], width: int, compress: bool) -> None:
    line = "\t".join(["%d"] * width) + "\n"
    block = line * _BLOCK_LINES
    stream: IO[str] = (gzip.open(path, "wt", encoding="ascii", newline="") if compress
                       else open(path, "w", encoding="ascii", newline=""))
    with stream:
        step = width * _BLOCK_LINES
        whole = len(values) - len(values) % step
        for start in range(0, whole, step):
            stream.write(block % tuple(values[start:start + step]))
        rest = values[whole:]
        stream.write(line * (len(rest) // width) % tuple(rest))


# ------------------------------------------------------------------------------- reading


def read_mnetgen(base: str | os.PathLike[str]) -> MnetgenInstance:
    """Reads the four Mnetgen files of ``base`` (each plain or gzip, ``BASE.part`` or
    ``BASE.part.gz``) into an MnetgenInstance.

    The counts of ``.nod`` are taken as hints except K and the number of nodes. Raises
    FileNotFoundError naming a missing part, ValueError naming the file and line of a malformed
    line, an unknown node, commodity, arc name or bundle pointer, and OSError for a corrupt or
    truncated gzip part.
    """
    base = os.fspath(base)
    paths = {part: _find_part(base, part) for part in _PARTS}
    k, n = _only_line(paths["nod"])[:2]
    if k < 1 or n < 0:
        raise ValueError(f"{paths['nod']} line 1: {k} commodities and {n} nodes")

    bundles: dict[int, int] = {}
    for where, (pointer, capacity) in _lines(paths["mut"], 2):
        bundles[pointer] = capacity

    arcs: dict[int, list[Any]] = {}  # name -> [tail, head, pointer, capacities, costs]
    for where, (name, tail, head, c, cost, cap, pointer) in _lines(paths["arc"], 7):
        if not (0 < tail <= n and 0 < head <= n and 0 < c <= k and name > 0):
            _check_node(tail, n, where)
            _check_node(head, n, where)
            _check_commodity(c, k, where, allow_all=False)
            raise ValueError(f"{_at(where)}: arc name {name} is not positive")
        arc = arcs.get(name)
        if arc is None:
            if pointer != 0 and pointer not in bundles:
                raise ValueError(f"{_at(where)}: unknown bundle {pointer} (not in the .mut file)")
            arc = arcs[name] = [tail, head, pointer, [0] * k, [0] * k]
        elif arc[0] != tail or arc[1] != head or arc[2] != pointer:
            raise ValueError(f"{_at(where)}: arc {name} was given as {arc[0]} -> {arc[1]} with "
                             f"bundle {arc[2]} before")
        arc[3][c - 1] = cap
        arc[4][c - 1] = cost

    supply: dict[int, list[int]] = {}
    for where, (node, c, amount) in _lines(paths["sup"], 3):
        _check_node(node, n, where)
        _check_commodity(c, k, where, allow_all=True)
        amounts = supply.setdefault(node, [0] * k)
        for target in range(k) if c == -1 else (c - 1,):
            amounts[target] += amount

    tails: list[int] = []
    heads: list[int] = []
    edges: list[ArcKey] = []
    caps: dict[ArcKey, list[int]] = {}
    costs: dict[ArcKey, list[int]] = {}
    ups: list[int | None] = []
    seen: dict[tuple[int, int], int] = {}
    for name in sorted(arcs):
        tail, head, pointer, arc_caps, arc_costs = arcs[name]
        p = seen[tail, head] = seen.get((tail, head), -1) + 1
        key = (tail, head, p)
        tails.append(tail)
        heads.append(head)
        edges.append(key)
        caps[key] = arc_caps
        costs[key] = arc_costs
        ups.append(bundles[pointer] if pointer else None)
    order = sorted(edges)
    return MnetgenInstance(
        num_nodes=n, num_arcs=len(edges), num_commodities=k, tails=tails, heads=heads,
        edges=edges, commodity_capacities={e: caps[e] for e in order},
        commodity_weights={e: costs[e] for e in order}, bundle_capacities=ups,
        supply_partition=dict(sorted(supply.items())))


def _find_part(base: str, part: str) -> str:
    for path in (f"{base}.{part}", f"{base}.{part}.gz"):
        if os.path.exists(path):
            return path
    raise FileNotFoundError(
        f"Mnetgen part missing: neither {base}.{part} nor {base}.{part}.gz exists")


def _open_text(path: str) -> IO[str]:
    with open(path, "rb") as probe:
        compressed = probe.read(2) == _GZIP_MAGIC
    if compressed:
        return gzip.open(path, "rt", encoding="utf-8-sig")
    return open(path, encoding="utf-8-sig")


def _raw_lines(path: str) -> Iterator[tuple[int, str]]:
    stream = _open_text(path)
    try:
        with stream:
            yield from enumerate(stream, start=1)
    except (EOFError, gzip.BadGzipFile, zlib.error) as exc:
        kind = "truncated" if isinstance(exc, EOFError) else "corrupt"
        raise OSError(f"{path}: {kind} gzip stream: {exc}") from exc
    except UnicodeDecodeError as exc:
        raise ValueError(f"{path}: not UTF-8 text: {exc}") from exc


def _lines(path: str, width: int) -> Iterator[tuple[tuple[str, int], list[int]]]:
    """The first ``width`` numbers of each non-blank line of a part, with (path, line number)."""
    for number, text in _raw_lines(path):
        fields = text.split()
        if len(fields) < width:
            if not fields:
                continue
            raise ValueError(f"{path} line {number}: expected {width} fields, found {len(fields)}")
        try:
            values = list(map(int, fields[:width]))
        except ValueError:
            values = [_int(token, path, number) for token in fields[:width]]
        yield (path, number), values


def _only_line(path: str) -> list[int]:
    for _, values in _lines(path, 2):
        return values
    raise ValueError(f"{path}: empty file")


def _at(where: tuple[str, int]) -> str:
    return f"{where[0]} line {where[1]}"


def _int(token: str, path: str, line: int) -> int:
    try:
        return int(token)
    except ValueError:
        try:
            value = float(token)
        except ValueError:
            value = float("nan")
        if value.is_integer():
            return int(value)
        raise ValueError(f"{path} line {line}: {token!r} is not an integer") from None


def _check_node(node: int, n: int, where: tuple[str, int]) -> None:
    if not 1 <= node <= n:
        raise ValueError(f"{_at(where)}: unknown node {node} (nodes are 1..{n})")


def _check_commodity(c: int, k: int, where: tuple[str, int], *, allow_all: bool) -> None:
    if not (1 <= c <= k or (allow_all and c == -1)):
        raise ValueError(f"{_at(where)}: unknown commodity {c} (commodities are 1..{k})")
