"""The DIMACS .min reader: grammar, failures, and mutated files against a model."""

import re

import pytest
from conftest import fails_with, mutated
from hypothesis import HealthCheck, given, settings

import korvane
from korvane.korvane import InternalError

INVALID_DIGIT = "invalid digit found in string"
TOO_LARGE = "number too large to fit in target type"
TOO_SMALL = "number too small to fit in target type"
BAD_UTF8 = "stream did not contain valid UTF-8"
NO_FILE = "No such file or directory (os error 2)"
I64_MIN, I64_MAX = -2**63, 2**63 - 1


def missing(length, index=None):
    return f"index out of bounds: the len is {length} but the index is {length if index is None else index}"


def snapshot(inst):
    """Every field, with maps as item lists so that iteration order is compared too."""
    return {
        "num_nodes": inst.num_nodes, "num_arcs": inst.num_arcs, "nodes": inst.nodes,
        "edges": [(e.tail, e.head, e.low, e.up, e.cost, e.index) for e in inst.edges],
        "supplies": list(inst.supplies.items()), "arcs": inst.arcs, "capacities": inst.capacities,
        "weights": inst.weights, "parallel": inst.parallel,
        "num_parallel_arc_pairs": inst.num_parallel_arc_pairs, "arc_indices": list(inst.arc_indices.items()),
    }


EMPTY = {"num_nodes": 0, "num_arcs": 0, "nodes": [], "edges": [], "supplies": [], "arcs": [], "capacities": [],
         "weights": [], "parallel": False, "num_parallel_arc_pairs": 0, "arc_indices": []}


@pytest.fixture
def load(net):
    return lambda content: snapshot(net(content))


def test_worked_example(load):
    assert load("p min 4 5\nn 1 10\nn 4 -10\na 1 2 0 15 4\na 1 2 0 5 2\na 2 4 0 7 1\n") == {
        "num_nodes": 4, "num_arcs": 5, "nodes": [1, 4, 2],
        "edges": [(1, 2, 0, 15, 4, 0), (1, 2, 0, 5, 2, 1), (2, 4, 0, 7, 1, 0)],
        "supplies": [(1, 10), (4, -10)], "arcs": [(1, 2, 0), (1, 2, 1), (2, 4, 0)],
        "capacities": [15, 5, 7], "weights": [4, 2, 1], "parallel": True, "num_parallel_arc_pairs": 1,
        "arc_indices": [((1, 2), [0, 1]), ((2, 4), [2])],
    }


REFERENCE = "p min 3 2\nn 1 5\nn 3 -5\na 1 2 0 4 7\na 2 3 1 6 -2\n"


@pytest.mark.parametrize("content", [
    REFERENCE.replace("\n", "\r\n").rstrip("\n"),
    REFERENCE + "\r",
    "\ufeff" + REFERENCE + "\n\n\n",
    "p max 3 2" + REFERENCE[9:],
    REFERENCE.replace(" ", " \t\x0b "),
    REFERENCE.replace(" ", "\u3000").replace("\n", " \u2028\u00a0\n"),
    REFERENCE.replace("n 1 5", "n 1 +005").replace("\n", " extra 1.5 x\n"),
    "c first\n  c anything\ncost 1 2\nc\u00a0\n" + REFERENCE + "c trailing \xe9\n",
    "x 1 2 3\narc 1 2 0 5 1\nP min 9 9\nA 4 4 0 1 1\npp 1 2\n\u00e9 1\n" + REFERENCE,
    # lines lost without error: a mark not at the very start, and characters that are not white space
    "c\ufeffp min 3 2\n\ufeffp min 9 9\n\ufeff\ufeffn 1 2\n\u200ba 1 2 0 1 1\n\x1ca 1 2 0 1 1\n" + REFERENCE,
])
def test_reads_like_the_plain_file(load, content):
    assert load(content) == load(REFERENCE)


@pytest.mark.parametrize("content", ["", "c header\n\n   \nc\n\t\n", b"\x00" * 100_000, b"\n" * 10**6,
                                     b"\r" * 10**5, b"\xef\xbb\xbf", "p\ufeffmin 3 2\n\u00a0\u00a0c 1 2\n"])
def test_files_without_records(load, content):
    assert load(content) == EMPTY


@pytest.mark.parametrize("offset", [1, 2, 5, 6, 11, 12, 13])
def test_line_across_buffer_boundary(net, offset):
    arc_line = "a 1 2 0 5 1\r\n"
    inst = net("c " + "z" * (8192 - offset - 3) + "\n" + arc_line + arc_line)
    assert inst.arcs == [(1, 2, 0), (1, 2, 1)]


def test_what_is_never_read_is_never_checked(net):
    inst = net("p 1.5 1 2 x\nn 1 2 +\na 1 2 0 1 1 99999999999999999999\n" + "x" + " 1" * 10**6 + "\n")
    assert (inst.num_nodes, inst.num_arcs, inst.supplies, inst.weights) == (1, 2, {1: 2}, [1])
    inst = net("a" + " 3" * 10**6 + "\np" + " 4" * 10**6 + "\nc " + "z" * 10**7 + "\na" + " " * 10**6 + "1 2 0 5 1\n")
    assert (inst.arcs, inst.num_nodes, inst.num_arcs) == ([(3, 3, 0), (1, 2, 0)], 4, 4)


FAILURES = [
    # the token grammar itself is test_tokens.cpp's; here, the class each message takes
    ("n 7 1e3", OSError, INVALID_DIGIT), ("a 1 9223372036854775808 0 1 1", OSError, TOO_LARGE),
    ("a 1 2 0 1 -9223372036854775809", OSError, TOO_SMALL),
    # missing fields, each found just before it would be parsed, so a malformed one comes first
    ("p", InternalError, missing(1, 2)), ("a", InternalError, missing(1)),
    ("  a\t1 2 0 5\u00a0 ", InternalError, missing(5)), (b"a 1 2 0 5 \t\x0b\x0c\r", InternalError, missing(5)),
    ("a 1 x", OSError, INVALID_DIGIT), ("a 1 2 0 99999999999999999999", OSError, TOO_LARGE),
    # the first failing line wins
    ("n 1 2\nn 1 x\nn 1 99999999999999999999", OSError, INVALID_DIGIT),
    (b"n 1 x\n\xff", OSError, INVALID_DIGIT), ("a 1\na 1 x", InternalError, missing(2)),
    (b"a 1 2 0 5 " + b"9" * 10**6, OSError, TOO_LARGE),  # a hostile field
    # text that is not UTF-8, after valid lines
    (b"p min 3 2\nn 1 1\n\xff", OSError, BAD_UTF8), (b"c \xc0\x80", OSError, BAD_UTF8),
    (b"a 1 2 0 5 1\n\xf4\x90\x80\x80", OSError, BAD_UTF8), (b"\xef\xbb", OSError, BAD_UTF8),
    (b"a 1 2 0 5 1\xc3", OSError, BAD_UTF8), (b"c \xed\xa0\x80", OSError, BAD_UTF8),
]


@pytest.mark.parametrize(("content", "cls", "message"), FAILURES)
def test_failure_message(min_file, content, cls, message):
    end = "\n" if isinstance(content, str) else b"\n"
    assert fails_with(lambda: korvane.load_min_instance(min_file(content + end))) == (cls, (message,))


@pytest.mark.parametrize(("load", "cls"), [(korvane.load_min_instance, OSError),
                                           (korvane.load_multi_commodity_instance, RuntimeError)])
@pytest.mark.parametrize(("path", "message"), [
    ("", NO_FILE), ("/", "Is a directory (os error 21)"), ("{file}/x", "Not a directory (os error 20)"),
    ("net\0.min", "file name contained an unexpected NUL byte"),
])
def test_file_access_failures(min_file, load, cls, path, message):
    with pytest.raises(cls) as exc:
        load(path.format(file=min_file("c\n")))
    assert (type(exc.value), exc.value.args) == (cls, (message,))
    assert getattr(exc.value, "errno", None) is None and getattr(exc.value, "filename", None) is None


# Model of the format, for the mutation property below.

WHITE_SPACE = ("\t\n\x0b\x0c\r \x85\xa0\u1680\u2000\u2001\u2002\u2003\u2004\u2005\u2006\u2007"
               "\u2008\u2009\u200a\u2028\u2029\u202f\u205f\u3000")
FIELD_SPLIT = re.compile(f"[{re.escape(WHITE_SPACE)}]+")


class Failure(Exception):
    pass


def model_int(token):
    if not re.fullmatch(r"[+-]?[0-9]+", token):
        raise Failure(OSError, INVALID_DIGIT)
    if int(token) > I64_MAX:
        raise Failure(OSError, TOO_LARGE)
    if int(token) < I64_MIN:
        raise Failure(OSError, TOO_SMALL)
    return int(token)


def model_fields(fields, first, last):
    """Values of fields first..last, checking presence just before each one is parsed."""
    values = []
    for k in range(first, last + 1):
        if len(fields) <= k:
            raise Failure(InternalError, f"index out of bounds: the len is {len(fields)} but the index is {k}")
        values.append(model_int(fields[k]))
    return values


def model_read(data):
    result = dict(EMPTY)
    nodes, edges, supplies, arc_indices = [], [], {}, {}
    lines = data.removeprefix(b"\xef\xbb\xbf").split(b"\n")
    for raw in lines[:-1] if lines[-1] == b"" else lines:
        try:
            line = raw.decode("utf-8").strip(WHITE_SPACE)
        except UnicodeDecodeError:
            raise Failure(OSError, BAD_UTF8) from None
        fields = FIELD_SPLIT.split(line)
        if fields[0] == "p":
            result["num_nodes"], result["num_arcs"] = model_fields(fields, 2, 3)
        elif fields[0] == "n":
            node, supplies[node] = model_fields(fields, 1, 2)
            nodes.append(node)
        elif fields[0] == "a":
            tail, head, low, up, cost = model_fields(fields, 1, 5)
            positions = arc_indices.setdefault((tail, head), [])
            edges.append((tail, head, low, up, cost, len(positions)))
            positions.append(len(edges) - 1)
            nodes += [tail, head]
    pairs = sum(len(v) > 1 for v in arc_indices.values())
    return dict(result, nodes=list(dict.fromkeys(nodes)), edges=edges, supplies=sorted(supplies.items()),
                arcs=[e[:2] + e[5:] for e in edges], capacities=[e[3] for e in edges],
                weights=[e[4] for e in edges], num_parallel_arc_pairs=pairs, parallel=pairs > 0,
                arc_indices=sorted(arc_indices.items()))


BASES = [
    b"c net\np min 4 5\nn 1 10\nn 4 -10\na 1 2 0 15 4\na 1 2 0 5 2\na 2 4 0 7 1\n"
    b"a 4 1 -3 9223372036854775807 -9223372036854775808\n",
    "\ufeffp max 3 2\r\nn 1 +5\r\n\ta 1 2 0 4 7 \r\na\u00a02\u30003 1 6 -2\nc \u00e9\r\nn 3 -5".encode(),
]


@settings(derandomize=True, max_examples=200, deadline=None,
          suppress_health_check=[HealthCheck.function_scoped_fixture, HealthCheck.too_slow])
@given(data=mutated(BASES))
def test_mutated_files_agree_with_the_model(min_file, data):
    try:
        expected = model_read(data)
    except Failure as failure:
        cls, message = failure.args
        with pytest.raises(cls) as exc:
            korvane.load_min_instance(min_file(data))
        assert type(exc.value) is cls and exc.value.args == (message,)
    else:
        assert snapshot(korvane.load_min_instance(min_file(data))) == expected
