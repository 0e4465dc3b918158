"""gzip and zstd input, told by magic bytes: read like plain text, or fail whole."""

import gzip

import pytest
from conftest import DATA, PARSED_FIELDS, fails_with, needs_data, zstd

import korvane


def network(inst):
    return ([(e.tail, e.head, e.low, e.up, e.cost, e.index) for e in inst.edges],
            inst.nodes, inst.supplies, inst.num_nodes, inst.num_arcs, inst.arc_indices)


def parsed(rec):
    return [getattr(rec, name) for name in PARSED_FIELDS if name != "cap_zero_param"]


@pytest.fixture
def mc_text(net, tmp_path):
    """A multi-commodity file (K = 3, expanded lists) as bytes."""
    inst = net("p min 4 5\nn 1 9\nn 4 -9\na 1 2 0 9 2\na 1 2 1 8 3\na 2 4 0 7 -1\n"
               "a 1 3 0 9 1\na 3 4 0 9 4\n")
    data = korvane.generate_multi_commodity_data(inst, 3, 0, randomize_caps=True,
                                                 randomize_costs=True, seed=5)
    korvane.save_multi_commodity_instance(str(tmp_path / "x.mc"), inst, data)
    return (tmp_path / "x.mc").read_bytes()


@needs_data
@pytest.mark.parametrize("pack", [gzip.compress, zstd])
@pytest.mark.parametrize("name", ["sample.dmx", "Network1.dmx", "netgen_8_14a.min"])
def test_dimacs_compressed_reads_like_plain(name, pack, tmp_path):
    raw = (DATA / name).read_bytes()
    # Whatever the name: the magic bytes decide. Several members: test_inflaters.cpp.
    (tmp_path / "renamed.min").write_bytes(pack(raw))
    assert network(korvane.load_min_instance(str(tmp_path / "renamed.min"))) == network(
        korvane.load_min_instance(str(DATA / name)))


@pytest.mark.parametrize("pack", [gzip.compress, zstd])
def test_multi_commodity_compressed_reads_like_plain(pack, mc_text, tmp_path):
    (tmp_path / "plain").write_bytes(b"\xef\xbb\xbf" + mc_text.replace(b"\n", b"\r\n"))
    (tmp_path / "packed").write_bytes(pack((tmp_path / "plain").read_bytes()))
    load = korvane.load_multi_commodity_instance
    assert parsed(load(str(tmp_path / "packed"))) == parsed(load(str(tmp_path / "plain")))
    # An empty member, and a file of empty members, are valid empty streams.
    (tmp_path / "empty").write_bytes(gzip.compress(b"") + gzip.compress(b""))
    assert load(str(tmp_path / "empty")).edges == []
    # A stream of one byte 0x1f is not gzip; it is plain text.
    (tmp_path / "one").write_bytes(b"\x1f")
    assert korvane.load_min_instance(str(tmp_path / "one")).edges == []


READERS = [(korvane.load_min_instance, OSError),
           (korvane.load_multi_commodity_instance, RuntimeError)]


@pytest.mark.parametrize("load, error", READERS)
def test_damaged_streams_fail_whole(load, error, mc_text, tmp_path):
    # Every cut and junk after the last member are the inflaters' own test
    # (test_inflaters.cpp); here, each reader's class for them, a cut deep in a stream of
    # many read blocks, and a checksum failure found only after the whole text came out.
    gz, zs = gzip.compress(mc_text * 40), zstd(mc_text * 40)
    for damaged, message in [
        (gz[:len(gz) // 3], "truncated gzip stream: unexpected end of file"),
        (gz + b"junk", "corrupt gzip stream: incorrect header check"),
        (gz[:-6] + bytes([gz[-6] ^ 1]) + gz[-5:], "corrupt gzip stream: incorrect data check"),
        (zs[:-1], "truncated zstd stream: unexpected end of file"),
        (zs + b"junk", "corrupt zstd stream: Unknown frame descriptor"),
    ]:
        (tmp_path / "bad").write_bytes(damaged)
        assert fails_with(lambda: load(str(tmp_path / "bad"))) == (error, (message,))
