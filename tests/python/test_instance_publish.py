"""A four-file instance is replaced as one: a writer killed or signalled at any point of
putting its parts in place leaves the old instance, the new one, or a base that no reader
takes, never a mixture; and no old part in another compression stands beside a new one."""

import gzip
import os
import shutil
import subprocess
import sys

import pytest
from conftest import NETWORK, child_env

import korvane
from korvane.formats import PARTS, read_mnetgen, write_mnetgen

GEN = korvane.generate_multi_commodity_data
# The system calls between the finished parts and the published instance, by family: strace
# counts each system call on its own, so a signal is sent at the n-th call of one family.
PUBLISH_CALLS = ["rename,renameat,renameat2", "unlink,unlinkat"]


def generated(seed):
    inst = korvane.load_min_instance(NETWORK)
    return inst, GEN(inst, 3, 2, randomize_caps=True, randomize_costs=True, seed=seed)


def fingerprint(problem):
    return repr([getattr(problem, name) for name in (
        "tails", "heads", "costs", "capacities", "bundle_capacities", "supplies")])


def outcome(base, old, new):
    try:
        got = fingerprint(read_mnetgen(base))
    except (OSError, ValueError):
        return "refused"
    return {old: "old", new: "new"}.get(got, "mixture")


WRITERS = {
    "api": [sys.executable, "-c",
            "import sys, korvane, korvane.formats as f\n"
            f"inst = korvane.load_min_instance({NETWORK!r})\n"
            "data = korvane.generate_multi_commodity_data(inst, 3, 2, randomize_caps=True, "
            "randomize_costs=True, seed=2)\n"
            "f.write_mnetgen(sys.argv[1], inst, data)\n"],
    "command": [sys.executable, "-m", "korvane", "generate", NETWORK, "-k", "3", "--method",
                "beta-binomial", "--randomize-caps", "--randomize-costs", "--seed", "2", "--format",
                "mnetgen", "-q", "-o"],
}


def strace_works():
    if shutil.which("strace") is None:
        return False
    # Where tracing is not allowed (a container without ptrace), strace fails at once.
    return subprocess.run(["strace", "-o", os.devnull, "true"], capture_output=True).returncode == 0


@pytest.mark.skipif(not strace_works(), reason="needs strace, allowed to trace, to stop a writer mid-publish")
@pytest.mark.parametrize("writer, signal", [("api", "KILL"), ("command", "KILL"), ("api", "TERM")])
def test_an_interrupted_publish_never_leaves_a_mixture(tmp_path, writer, signal):
    # The signal lands as the writer enters its n-th rename or unlink, for every n until the
    # writer gets through them all. A kill may leave the old instance, the new one or none;
    # SIGTERM is held while the parts go into place, so it ends the writer afterwards.
    reference = tmp_path / "ref"
    reference.mkdir()
    write_mnetgen(reference / "old", *generated(1))
    write_mnetgen(reference / "new", *generated(2))
    old, new = (fingerprint(read_mnetgen(reference / name)) for name in ("old", "new"))
    assert old != new
    seen = []
    for calls in PUBLISH_CALLS:
        for n in range(1, 40):
            folder = tmp_path / f"{calls[:6]}{n}"
            folder.mkdir()
            for part in PARTS:
                shutil.copy(reference / f"old.{part}", folder / f"x.{part}")
            done = subprocess.run(
                ["strace", "-f", "-qq", "-o", os.devnull, "-e", f"trace={calls}",
                 "-e", f"inject={calls}:signal={signal}:when={n}",
                 *WRITERS[writer], str(folder / "x")],
                capture_output=True, text=True, timeout=120,
                env=child_env(PYTHONDONTWRITEBYTECODE="1"))
            seen.append(outcome(folder / "x", old, new))
            if done.returncode == 0:
                break
        assert done.returncode == 0 and seen[-1] == "new", (done.returncode, done.stderr)
    assert len(seen) > 2 and "mixture" not in seen, seen
    if signal == "TERM":
        assert set(seen) == {"new"}, seen


def test_a_new_compression_removes_the_old_parts(tmp_path):
    base = tmp_path / "x"
    first, second = generated(1), generated(2)
    write_mnetgen(base, *first)
    write_mnetgen(base, *second, compress="gzip")
    assert sorted(p.name for p in tmp_path.iterdir()) == [f"x.{part}.gz" for part in sorted(PARTS)]
    assert fingerprint(read_mnetgen(base)) == fingerprint(korvane.formats.to_problem(*second))
    write_mnetgen(base, *first)
    assert sorted(p.name for p in tmp_path.iterdir()) == [f"x.{part}" for part in sorted(PARTS)]


@pytest.mark.parametrize("part", PARTS)
def test_a_part_in_two_compressions_is_refused_naming_both(tmp_path, part):
    base = tmp_path / "x"
    write_mnetgen(base, *generated(1))
    plain = tmp_path / f"x.{part}"
    (tmp_path / f"x.{part}.gz").write_bytes(gzip.compress(plain.read_bytes()))
    with pytest.raises(ValueError) as exc:
        read_mnetgen(base)
    assert str(exc.value) == (f"{base}.{part} is there twice, as {plain} and {plain}.gz: "
                              "remove the one that does not belong to the instance")
