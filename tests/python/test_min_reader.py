"""The DIMACS .min reader: line grammar, integer fields, failures, hostile input, and a model-based property."""

import os
import re

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import korvane
from korvane.korvane import InternalError

INVALID_DIGIT = "invalid digit found in string"
TOO_LARGE = "number too large to fit in target type"
TOO_SMALL = "number too small to fit in target type"
BAD_UTF8 = "stream did not contain valid UTF-8"
I64_MIN, I64_MAX = -2**63, 2**63 - 1


def snapshot(inst):
    """Every field, with maps as item lists so that iteration order is compared too."""
    return {
        "num_nodes": inst.num_nodes,
        "num_arcs": inst.num_arcs,
        "nodes": inst.nodes,
        "edges": [(e.tail, e.head, e.low, e.up, e.cost, e.index) for e in inst.edges],
        "supplies": list(inst.supplies.items()),
        "arcs": inst.arcs,
        "capacities": inst.capacities,
        "weights": inst.weights,
        "parallel": inst.parallel,
        "num_parallel_arc_pairs": inst.num_parallel_arc_pairs,
        "arc_indices": list(inst.arc_indices.items()),
    }


EMPTY = {
    "num_nodes": 0, "num_arcs": 0, "nodes": [], "edges": [], "supplies": [], "arcs": [],
    "capacities": [], "weights": [], "parallel": False, "num_parallel_arc_pairs": 0, "arc_indices": [],
}


@pytest.fixture
def load(min_file):
    def run(content):
        return korvane.load_min_instance(min_file(content))
    return run


@pytest.fixture
def fails(load):
    """Read content expecting exactly expected_class with a single argument; return its message."""
    def run(content, expected_class):
        with pytest.raises(expected_class) as exc:
            load(content)
        assert type(exc.value) is expected_class
        assert len(exc.value.args) == 1
        return str(exc.value)
    return run


class TestRecord:
    def test_empty_file(self, load):
        assert snapshot(load("")) == EMPTY

    def test_only_comments_and_blank_lines(self, load):
        assert snapshot(load("c header\n\n   \nc\n\t\n")) == EMPTY

    def test_worked_example(self, load):
        inst = load("p min 4 5\nn 1 10\nn 4 -10\na 1 2 0 15 4\na 1 2 0 5 2\na 2 4 0 7 1\n")
        assert snapshot(inst) == {
            "num_nodes": 4, "num_arcs": 5, "nodes": [1, 4, 2],
            "edges": [(1, 2, 0, 15, 4, 0), (1, 2, 0, 5, 2, 1), (2, 4, 0, 7, 1, 0)],
            "supplies": [(1, 10), (4, -10)],
            "arcs": [(1, 2, 0), (1, 2, 1), (2, 4, 0)],
            "capacities": [15, 5, 7], "weights": [4, 2, 1],
            "parallel": True, "num_parallel_arc_pairs": 1,
            "arc_indices": [((1, 2), [0, 1]), ((2, 4), [2])],
        }

    def test_parallel_indices_count_per_direction(self, load):
        inst = load("a 1 2 0 1 1\na 2 1 0 1 1\na 1 2 0 1 1\na 1 2 0 1 1\n")
        assert inst.arcs == [(1, 2, 0), (2, 1, 0), (1, 2, 1), (1, 2, 2)]
        assert inst.arc_indices == {(1, 2): [0, 2, 3], (2, 1): [1]}
        assert (inst.num_parallel_arc_pairs, inst.parallel) == (1, True)

    def test_opposite_arcs_and_self_loop_are_not_parallel(self, load):
        inst = load("a 3 3 0 1 1\na 1 2 0 1 1\na 2 1 0 1 1\n")
        assert inst.nodes == [3, 1, 2]
        assert list(inst.arc_indices) == [(1, 2), (2, 1), (3, 3)]
        assert (inst.num_parallel_arc_pairs, inst.parallel) == (0, False)

    def test_node_membership_and_declared_counts(self, load):
        inst = load("p min 5 9\nn 7 3\na -1 2 4 6 -8\n")
        assert (inst.num_nodes, inst.num_arcs) == (5, 9)
        assert inst.nodes == [7, -1, 2]
        assert inst.supplies == {7: 3}
        assert [(e.low, e.up, e.cost) for e in inst.edges] == [(4, 6, -8)]

    def test_repeated_node_line_keeps_later_supply(self, load):
        inst = load("n 9 1\na 9 3 0 1 1\nn 9 -4\nn 2 0\n")
        assert inst.nodes == [9, 3, 2]
        assert list(inst.supplies.items()) == [(2, 0), (9, -4)]

    def test_later_problem_line_replaces_counts(self, load):
        inst = load("p min 3 2\na 1 2 0 1 1\np min 8 1\n")
        assert (inst.num_nodes, inst.num_arcs) == (8, 1)


class TestLineGrammar:
    REFERENCE = "p min 3 2\nn 1 5\nn 3 -5\na 1 2 0 4 7\na 2 3 1 6 -2\n"

    @pytest.mark.parametrize("content", [
        REFERENCE.replace("\n", "\r\n"),
        REFERENCE.rstrip("\n"),
        REFERENCE.replace("\n", "\r\n").rstrip("\n"),
        REFERENCE + "\r",
        REFERENCE + "\n\n\n",
        "\ufeff" + REFERENCE,
        "p max 3 2" + REFERENCE[9:],
        REFERENCE.replace(" ", "\t"),
        REFERENCE.replace(" ", " \t  "),
        REFERENCE.replace(" ", "\u00a0"),
        REFERENCE.replace(" ", "\u3000").replace("\n", " \u2028\u00a0\n"),
        "\n".join("  " + line + "\t" for line in REFERENCE.split("\n")),
        REFERENCE.replace("\n", " extra 1.5 x\n"),
        "c first\n  c anything\ncost 1 2\nc\u00a0\n" + REFERENCE + "c trailing \xe9\n",
        "x 1 2 3\narc 1 2 0 5 1\nP min 9 9\nN 4 4\nA 4 4 0 1 1\npp 1 2\n\u00e9 1\n" + REFERENCE,
    ])
    def test_reads_like_the_plain_file(self, load, content):
        assert snapshot(load(content)) == snapshot(load(self.REFERENCE))

    def test_byte_order_mark_at_start_is_skipped(self, load):
        inst = load("\ufeffp min 6 1\r\n")
        assert (inst.num_nodes, inst.num_arcs) == (6, 1)

    @pytest.mark.parametrize("content", [
        "c\ufeffp min 3 2\n\ufeffp min 3 2\n",   # only a mark at the very start is skipped
        "\ufeff\ufeffp min 3 2\n",
        "p\ufeffmin 3 2\n",
        "\u200ba 1 2 0 1 1\n",                   # zero-width space is not white space
        "\x1ca 1 2 0 1 1\n",                     # nor is an information separator
        "\u00a0\u00a0c 1 2\n",
    ])
    def test_lines_lost_without_error(self, load, content):
        assert snapshot(load(content)) == EMPTY

    @pytest.mark.parametrize("content", [
        "p min 3 2\ufeff\n",
        "n 1 \ufeff5\n",
        "a 1 2 0 5 1\x1c7\n",
        "a 1 2 0 5 1\u200b\n",
    ])
    def test_non_white_space_inside_a_field(self, fails, content):
        assert fails(content, OSError) == INVALID_DIGIT

    @pytest.mark.parametrize("offset", [1, 2, 5, 6, 11, 12, 13])
    def test_line_across_buffer_boundary(self, load, offset):
        arc_line = "a 1 2 0 5 1\r\n"
        padding = "c " + "z" * (8192 - offset - 3) + "\n"
        inst = load(padding + arc_line + arc_line)
        assert inst.arcs == [(1, 2, 0), (1, 2, 1)]


class TestIntegerFields:
    @pytest.mark.parametrize(("text", "value"), [
        ("+5", 5), ("-0", 0), ("+0", 0), ("007", 7), ("-012", -12),
        ("9223372036854775807", I64_MAX), ("-9223372036854775808", I64_MIN),
        ("+9223372036854775807", I64_MAX), ("0000000000000000000000000042", 42),
    ])
    def test_accepted(self, load, text, value):
        assert load(f"n 7 {text}\n").supplies == {7: value}

    @pytest.mark.parametrize(("text", "message"), [
        ("1.5", INVALID_DIGIT), ("+", INVALID_DIGIT), ("-", INVALID_DIGIT), ("+-1", INVALID_DIGIT),
        ("--1", INVALID_DIGIT), ("0x1F", INVALID_DIGIT), ("1e3", INVALID_DIGIT), ("1,000", INVALID_DIGIT),
        ("\u0661", INVALID_DIGIT), ("\uff11", INVALID_DIGIT), ("5-", INVALID_DIGIT), ("1_0", INVALID_DIGIT),
        ("9223372036854775808", TOO_LARGE), ("+99999999999999999999", TOO_LARGE),
        ("-9223372036854775809", TOO_SMALL), ("-99999999999999999999", TOO_SMALL),
        ("9223372036854775807x", INVALID_DIGIT), ("92233720368547758079x", TOO_LARGE),
        ("-92233720368547758089x", TOO_SMALL), ("1x99999999999999999999", INVALID_DIGIT),
    ])
    def test_rejected(self, fails, text, message):
        assert fails(f"n 7 {text}\n", OSError) == message

    @pytest.mark.parametrize("content", [
        "a 1 2 0 9223372036854775808 1\n", "p min 9223372036854775808 1\n", "p min 1 9223372036854775808\n",
        "n 9223372036854775808 1\n", "a 1 9223372036854775808 0 1 1\n",
    ])
    def test_every_used_field_is_checked(self, fails, content):
        assert fails(content, OSError) == TOO_LARGE

    def test_unused_fields_are_not_parsed(self, load):
        inst = load("p 1.5 1 2 x\nn 1 2 +\na 1 2 0 1 1 99999999999999999999\n")
        assert (inst.num_nodes, inst.num_arcs, inst.supplies, inst.weights) == (1, 2, {1: 2}, [1])

    def test_first_failing_line_wins(self, fails):
        assert fails("n 1 2\nn 1 x\nn 1 99999999999999999999\n", OSError) == INVALID_DIGIT
        assert fails(b"n 1 x\n\xff\n", OSError) == INVALID_DIGIT
        assert fails(b"a 1\na 1 x\n", InternalError) == "index out of bounds: the len is 2 but the index is 2"


class TestMissingFields:
    @pytest.mark.parametrize(("line", "length", "index"), [
        ("p", 1, 2), ("p min", 2, 2), ("p min 3", 3, 3),
        ("n", 1, 1), ("n 1", 2, 2),
        ("a", 1, 1), ("a 1", 2, 2), ("a 1 2", 3, 3), ("a 1 2 0", 4, 4), ("a 1 2 0 5", 5, 5),
        ("  a\t1 2 0 5\u00a0 ", 5, 5),
    ])
    def test_internal_error_names_length_and_index(self, fails, line, length, index):
        assert fails(line + "\n", InternalError) == \
            f"index out of bounds: the len is {length} but the index is {index}"

    @pytest.mark.parametrize(("line", "message"), [
        ("a 1 x", INVALID_DIGIT), ("a x", INVALID_DIGIT), ("n +", INVALID_DIGIT),
        ("p min x", INVALID_DIGIT), ("a 1 2 0 99999999999999999999", TOO_LARGE),
    ])
    def test_malformed_field_reported_before_missing_one(self, fails, line, message):
        assert fails(line + "\n", OSError) == message


class TestFileAccess:
    def test_missing_file_carries_only_the_message(self, tmp_path):
        with pytest.raises(OSError) as exc:
            korvane.load_min_instance(str(tmp_path / "absent.min"))
        assert type(exc.value) is OSError
        assert exc.value.args == ("No such file or directory (os error 2)",)
        assert exc.value.errno is None and exc.value.filename is None

    @pytest.mark.parametrize(("path", "message"), [
        ("", "No such file or directory (os error 2)"),
        ("/nonexistent-dir/x.min", "No such file or directory (os error 2)"),
        ("/", "Is a directory (os error 21)"),
        ("net\0.min", "file name contained an unexpected NUL byte"),
        ("/nonexistent-dir/\0", "file name contained an unexpected NUL byte"),
    ])
    def test_os_failures(self, path, message):
        with pytest.raises(OSError) as exc:
            korvane.load_min_instance(path)
        assert exc.value.args == (message,)

    def test_through_a_file_below_a_file(self, min_file):
        with pytest.raises(OSError) as exc:
            korvane.load_min_instance(os.path.join(min_file("c\n"), "x"))
        assert exc.value.args == ("Not a directory (os error 20)",)

    @pytest.mark.parametrize("content", [
        b"p min 3 2\nn 1 1\n\xff\n", b"a 1 2 0 5 1\r\nc \xc3\n", b"c \xed\xa0\x80\n",
        b"c \xc0\x80\n", b"a 1 2 0 5 1\n\xf4\x90\x80\x80", b"\xef\xbb", b"a 1 2 0 5 1\xc3",
    ])
    def test_invalid_utf8_after_valid_lines(self, fails, content):
        assert fails(content, OSError) == BAD_UTF8


class TestHostileInput:
    @pytest.mark.parametrize("arc_count", ["9223372036854775807", "-9223372036854775808", "-1",
                                           "4611686018427387904", "100000000000"])
    def test_declared_arc_count_has_no_effect(self, load, arc_count):
        body = "a 1 2 0 5 1\na 1 2 0 6 2\n"
        inst = load(f"p min 2 {arc_count}\n" + body)
        assert inst.num_arcs == int(arc_count)
        assert {k: v for k, v in snapshot(inst).items() if k not in ("num_nodes", "num_arcs")} == \
            {k: v for k, v in snapshot(load(body)).items() if k not in ("num_nodes", "num_arcs")}

    def test_many_fields_on_a_line(self, load):
        inst = load("a" + " 3" * 10**6 + "\np" + " 4" * 10**6 + "\nx" + " 1" * 10**6 + "\n")
        assert inst.arcs == [(3, 3, 0)]
        assert (inst.num_nodes, inst.num_arcs) == (4, 4)

    def test_huge_comment_and_huge_gap(self, load):
        inst = load("c " + "z" * 20_000_000 + "\na" + " " * 10**6 + "1 2 0 5 1\n")
        assert inst.arcs == [(1, 2, 0)]

    @pytest.mark.parametrize(("content", "message"), [
        (b"a 1 2 0 5 " + b"9" * 10**6 + b"\n", TOO_LARGE),
        (b"a 1 2 0 5 -" + b"9" * 10**6 + b"\n", TOO_SMALL),
        (b"a 1 2 0 5 " + b"\x00" * 10**5 + b"\n", INVALID_DIGIT),
        (b"n 1\x002\n", INVALID_DIGIT),
    ])
    def test_hostile_fields(self, fails, content, message):
        assert fails(content, OSError) == message

    @pytest.mark.parametrize("content", [b"\x00" * 100_000, b"\n" * 10**6, b"\r" * 10**5,
                                         b"\x00\n\x00 a\n", b"\xef\xbb\xbf"])
    def test_junk_without_records(self, load, content):
        assert snapshot(load(content)) == EMPTY

    def test_trailing_white_space_is_not_a_field(self, fails):
        assert fails(b"a 1 2 0 5 \t\x0b\x0c\r\n", InternalError) == \
            "index out of bounds: the len is 5 but the index is 5"


# Model of the format, used by the property below.

WHITE_SPACE = ("\t\n\x0b\x0c\r \x85\xa0\u1680\u2000\u2001\u2002\u2003\u2004\u2005\u2006\u2007"
               "\u2008\u2009\u200a\u2028\u2029\u202f\u205f\u3000")
FIELD_SPLIT = re.compile(f"[{re.escape(WHITE_SPACE)}]+")


class Failure(Exception):
    def __init__(self, cls, message):
        super().__init__(cls, message)
        self.cls, self.message = cls, message


def model_int(token):
    negative = token[0] == "-"
    digits = token[1:] if token[0] in "+-" else token
    if not digits:
        raise Failure(OSError, INVALID_DIGIT)
    value = 0
    for ch in digits:
        if ch not in "0123456789":
            raise Failure(OSError, INVALID_DIGIT)
        value = value * 10 + (-int(ch) if negative else int(ch))
        if value > I64_MAX:
            raise Failure(OSError, TOO_LARGE)
        if value < I64_MIN:
            raise Failure(OSError, TOO_SMALL)
    return value


def model_fields(fields, wanted):
    """Values of fields 1..wanted, checking presence just before each one is parsed."""
    values = []
    for k in range(1, wanted + 1):
        if len(fields) == k:
            raise Failure(InternalError, f"index out of bounds: the len is {k} but the index is {k}")
        values.append(model_int(fields[k]))
    return values


def model_read(data):
    result = dict(EMPTY, supplies={}, arc_indices={})
    nodes, edges, last_index = [], [], {}
    if data.startswith(b"\xef\xbb\xbf"):
        data = data[3:]
    lines = data.split(b"\n")
    if lines[-1] == b"":
        lines.pop()
    for raw in lines:
        try:
            line = raw.decode("utf-8").strip(WHITE_SPACE)
        except UnicodeDecodeError:
            raise Failure(OSError, BAD_UTF8) from None
        if not line or line[0] == "c":
            continue
        fields = FIELD_SPLIT.split(line)
        if fields[0] == "p":
            if len(fields) < 3:
                raise Failure(InternalError, f"index out of bounds: the len is {len(fields)} but the index is 2")
            result["num_nodes"] = model_int(fields[2])
            if len(fields) == 3:
                raise Failure(InternalError, "index out of bounds: the len is 3 but the index is 3")
            result["num_arcs"] = model_int(fields[3])
        elif fields[0] == "n":
            node, supply = model_fields(fields, 2)
            result["supplies"][node] = supply
            nodes.append(node)
        elif fields[0] == "a":
            tail, head, low, up, cost = model_fields(fields, 5)
            index = last_index[(tail, head)] = last_index.get((tail, head), -1) + 1
            result["arc_indices"].setdefault((tail, head), []).append(len(edges))
            edges.append((tail, head, low, up, cost, index))
            nodes += [tail, head]
    pairs = sum(len(v) > 1 for v in result["arc_indices"].values())
    result.update(
        nodes=list(dict.fromkeys(nodes)), edges=edges,
        supplies=sorted(result["supplies"].items()), arc_indices=sorted(result["arc_indices"].items()),
        arcs=[(t, h, i) for t, h, _, _, _, i in edges], capacities=[e[3] for e in edges],
        weights=[e[4] for e in edges], num_parallel_arc_pairs=pairs, parallel=pairs > 0,
    )
    return result


def weighted(*pairs):
    return st.sampled_from([s for s, n in pairs for _ in range(n)]).flatmap(lambda s: s)


valid_number = weighted(
    (st.integers(1, 3).map(str), 8),
    (st.integers(-2, 9).map(str), 2),
    (st.integers(I64_MIN, I64_MAX).map(str), 2),
    (st.integers(0, 9).map(lambda v: f"+{v}"), 1),
)
junk_number = st.sampled_from([
    "9223372036854775808", "-9223372036854775809", "1.5", "+", "-", "x", "0x1", "1\x1c2", "3\ufeff",
    "\u0661", "99999999999999999999", "-99999999999999999999",
])
gap = st.sampled_from([" ", " ", "  ", "\t", "\u00a0", " \t", "\u3000", "\x0b"])
COUNTS = {"p": [3] * 8 + [4, 2, 1, 0], "n": [2] * 8 + [3, 1, 0], "a": [5] * 8 + [6, 4, 3, 0]}


@st.composite
def record_line(draw, hostile):
    kind = draw(st.sampled_from("pnaaaa"))
    count = draw(st.sampled_from(COUNTS[kind])) if hostile else COUNTS[kind][0]
    number = weighted((valid_number, 20), (junk_number, 1)) if hostile else valid_number
    fields = [kind] + (["min"] if kind == "p" else []) + [draw(number) for _ in range(count)]
    text = draw(st.sampled_from(["", " ", "\u00a0"]))
    for field in fields:
        text += field + draw(gap)
    return text.rstrip(" ") if draw(st.booleans()) else text


other_line = st.sampled_from([
    "", "   ", "\t\u00a0", "c comment", "  c 1 2", "cost 1 2", "c \u00e9\u00e8", "x 1 2 3",
    "arc 1 2 0 5 1", "P min 1 1", "\ufeffp min 9 9", "\u00e9 1", "\x1cn 1 2",
]).map(str.encode)
bad_line = st.sampled_from([b"\xff", b"c \xc3", b"a 1 2 0 5 1 \xed\xa0\x80"])


@st.composite
def min_files(draw):
    """Half the files hold only well-formed lines; the rest mix in malformed ones."""
    hostile = draw(st.booleans())
    line = weighted((record_line(hostile).map(str.encode), 10), (other_line, 3),
                    (bad_line, 1 if hostile else 0))
    lines = draw(st.lists(line, max_size=12))
    data = b"".join(line + draw(st.sampled_from([b"\n", b"\r\n"])) for line in lines)
    if lines and draw(st.booleans()):
        data = data.rstrip(b"\r\n")
    return (b"\xef\xbb\xbf" if draw(st.booleans()) else b"") + data


@settings(derandomize=True, max_examples=200, deadline=None,
          suppress_health_check=[HealthCheck.function_scoped_fixture, HealthCheck.too_slow])
@given(data=min_files())
def test_reader_agrees_with_model(min_file, data):
    try:
        expected = model_read(data)
    except Failure as failure:
        with pytest.raises(failure.cls) as exc:
            korvane.load_min_instance(min_file(data))
        assert type(exc.value) is failure.cls
        assert exc.value.args == (failure.message,)
    else:
        assert snapshot(korvane.load_min_instance(min_file(data))) == expected
