"""Saving never destroys what stood at the path: regular files are replaced whole or not at
all, links are followed, FIFOs are written in place; over-long lines end a read."""

import os
import shutil
import subprocess
import sys
import tempfile
import threading
from pathlib import Path

import pytest
from conftest import child_env, run_python

import korvane

SAVE = korvane.save_multi_commodity_instance
GEN = korvane.generate_multi_commodity_data
ARCS = "p min 2 1\nn 1 5\nn 2 -5\na 1 2 0 10 3\n"


def many_arcs(n):
    return "p min 2 %d\nn 1 5\nn 2 -5\n" % n + "a 1 2 0 10 3\n" * n


def leftovers(folder):
    """Temporary files left behind (the writer's are hidden files beside the target)."""
    return sorted(name for name in os.listdir(folder) if name.startswith("."))


# With two threads the writes run on the writer's own thread, 1 MiB at a time: a limit
# below the first MiB fails at the final flush, a larger one while the lines are formatted.
@pytest.mark.parametrize("threads, limit", [(1, 9000), (2, 9000), (2, 1_500_000)])
def test_file_size_limit_leaves_the_old_file_byte_for_byte(net, tmp_path, threads, limit):
    target, big = tmp_path / "out.mc", tmp_path / "big.min"
    SAVE(str(target), net(ARCS), GEN(net(ARCS), 1, 1))
    old = target.read_bytes()
    big.write_text(many_arcs(150_000))
    # In a child, so that the limit does not outlive the test; Python ignores SIGXFSZ.
    result = run_python(
        "import resource, korvane\n"
        f"resource.setrlimit(resource.RLIMIT_FSIZE, ({limit}, resource.RLIM_INFINITY))\n"
        f"inst = korvane.load_min_instance({str(big)!r})\n"
        "try:\n"
        f"    korvane.save_multi_commodity_instance({str(target)!r}, inst,"
        " korvane.generate_multi_commodity_data(inst, 3, 1, randomize_caps=True))\n"
        "except OSError as e:\n"
        "    print(type(e).__name__, e.args)\n", KORVANE_NUM_THREADS=str(threads))
    assert result.stdout == "OSError ('File too large (os error 27)',)\n", result.stderr
    assert target.read_bytes() == old
    assert leftovers(tmp_path) == []


def test_writing_on_a_thread_of_its_own_gives_the_same_bytes(net, tmp_path, monkeypatch):
    inst = net(many_arcs(150_000))
    data = GEN(inst, 3, 1, randomize_caps=True, seed=3)
    written = []
    for threads in (1, 2):
        monkeypatch.setenv("KORVANE_NUM_THREADS", str(threads))
        SAVE(str(tmp_path / "out.mc"), inst, data)
        written.append((tmp_path / "out.mc").read_bytes())
    assert len(written[0]) > 2 << 20 and written[0] == written[1]
    assert leftovers(tmp_path) == []


def test_links_are_followed_and_fifos_written_in_place(net, tmp_path):
    inst, fifo, got = net(ARCS), tmp_path / "pipe", []
    (tmp_path / "real.mc").write_text("old\n")
    os.symlink("real.mc", tmp_path / "link.mc")
    os.symlink(tmp_path / "nowhere.mc", tmp_path / "dangling.mc")
    os.mkfifo(fifo)
    reader = threading.Thread(target=lambda: got.append(fifo.read_bytes()))
    reader.start()
    for target in ("link.mc", "dangling.mc", "pipe"):
        SAVE(str(tmp_path / target), inst, GEN(inst, 1, 1))
    reader.join(10)
    assert os.path.islink(tmp_path / "link.mc") and os.path.islink(tmp_path / "dangling.mc")
    written = (tmp_path / "real.mc").read_bytes()
    assert written.startswith(b"c Multicommodity"), "the link's target was replaced"
    assert (tmp_path / "nowhere.mc").read_bytes() == written, "the dangling link's target was made"
    assert got == [written] and fifo.is_fifo(), "the FIFO got the text, stayed a FIFO"
    assert leftovers(tmp_path) == []


@pytest.mark.skipif(not os.path.exists("/dev/zero"), reason="needs /dev/zero")
@pytest.mark.parametrize("load, cls", [(korvane.load_min_instance, OSError),
                                       (korvane.load_multi_commodity_instance, RuntimeError)])
def test_a_line_longer_than_256_mib_ends_the_read(load, cls):
    with pytest.raises(cls) as exc:
        load("/dev/zero")
    assert exc.value.args == ("line 1 is longer than 268435456 bytes",)


# Saving over a file of another user. As root the replacement keeps the owner, group and mode
# (set-uid included: it stays nobody's); as nobody, who cannot give a file to root, it is the
# caller's file and loses the set-uid and set-gid bits it no longer stands for.
@pytest.mark.skipif(not hasattr(os, "geteuid") or os.geteuid() != 0, reason="needs root to own files of others")
@pytest.mark.parametrize("owner, saver, expected", [
    ((65534, 65534), None, (65534, 65534, 0o4755)),
    ((0, 0), (65534, 65534), (65534, 65534, 0o0777)),
])
def test_replacing_another_users_file(owner, saver, expected):
    # Outside pytest's folders, which only root may enter.
    base = Path(tempfile.mkdtemp())
    try:
        replace_as(base, owner, saver, expected)
    finally:
        shutil.rmtree(base)


def replace_as(base, owner, saver, expected):
    os.chmod(base, 0o755)
    folder = base / "shared"
    folder.mkdir()
    os.chmod(folder, 0o777)
    target = folder / "out.mc"
    target.write_text("old\n")
    os.chown(target, *owner)
    os.chmod(target, expected[2] | 0o6000 if saver else expected[2])
    network = base / "net.min"
    network.write_text(ARCS)
    os.chmod(network, 0o644)
    script = (
        "import os, korvane\n"
        + (f"os.setgid({saver[1]}); os.setuid({saver[0]})\n" if saver else "")
        + f"inst = korvane.load_min_instance({str(network)!r})\n"
        f"korvane.save_multi_commodity_instance({str(target)!r}, inst,"
        " korvane.generate_multi_commodity_data(inst, 1, 1))\n")
    done = run_python(script)
    assert done.returncode == 0, done.stderr
    info = target.stat()
    assert (info.st_uid, info.st_gid, info.st_mode & 0o7777) == expected
    assert target.read_text().startswith("c Multicommodity")


# What a machine crash may not undo: the new file reaches the disk before the rename, and the
# rename reaches it after (the folder is synced). Seen in the system calls the save makes.
@pytest.mark.skipif(shutil.which("strace") is None, reason="needs strace")
def test_save_syncs_file_before_rename_and_folder_after(net, tmp_path):
    network, target, log = tmp_path / "net.min", tmp_path / "out.mc", tmp_path / "calls"
    network.write_text(ARCS)
    script = (f"import korvane\ninst = korvane.load_min_instance({str(network)!r})\n"
              f"korvane.save_multi_commodity_instance({str(target)!r}, inst,"
              " korvane.generate_multi_commodity_data(inst, 1, 1))\n")
    subprocess.run(["strace", "-f", "-qq", "-o", str(log), "-e", "trace=openat,fsync,fdatasync,rename,renameat,renameat2",
                    sys.executable, "-c", script], check=True, env=child_env(), capture_output=True)
    calls = [line.split(None, 1)[1] for line in log.read_text().splitlines() if "(" in line]
    rename = next(i for i, c in enumerate(calls) if c.startswith("rename") and str(target) in c)
    opened = {}  # descriptor -> path, from the opens before each sync
    syncs = []
    for i, call in enumerate(calls):
        if call.startswith("openat(") and "= " in call and not call.rsplit("= ", 1)[1].startswith("-"):
            opened[call.rsplit("= ", 1)[1].split()[0]] = call.split('"')[1]
        elif call.startswith(("fsync(", "fdatasync(")) and call.rstrip().endswith("= 0"):
            syncs.append((i, opened.get(call[call.index("(") + 1:call.index(")")])))
    temporary = calls[rename].split('"')[1]
    assert any(i < rename and path == temporary for i, path in syncs), syncs
    assert any(i > rename and path == str(tmp_path) for i, path in syncs), syncs


# A regular file is only ever replaced through a new file beside it. In a folder that takes no
# new entry the save fails, naming the folder, before the old file is touched: writing it in
# place could leave it truncated (here: the file-size limit stops the write). Root passes any
# mode check, so as root the save runs as nobody, in root's folder, over nobody's file.
def test_a_folder_without_room_for_a_new_file_fails_the_save(net, tmp_path):
    base = Path(tempfile.mkdtemp()) if os.geteuid() == 0 else tmp_path
    try:
        folder, network = base / "locked", base / "net.min"
        folder.mkdir()
        network.write_text(many_arcs(20_000))
        target = folder / "out.mc"
        SAVE(str(target), net(ARCS), GEN(net(ARCS), 1, 1))
        old = target.read_bytes()
        if os.geteuid() == 0:
            os.chmod(base, 0o755)
            os.chmod(network, 0o644)
            os.chown(target, 65534, 65534)
            drop = "os.setgid(65534); os.setuid(65534)\n"
        else:
            drop = ""
        folder.chmod(0o555)
        result = run_python(
            "import os, resource, korvane\n" + drop +
            "resource.setrlimit(resource.RLIMIT_FSIZE, (4096, resource.RLIM_INFINITY))\n"
            f"inst = korvane.load_min_instance({str(network)!r})\n"
            "try:\n"
            f"    korvane.save_multi_commodity_instance({str(target)!r}, inst,"
            " korvane.generate_multi_commodity_data(inst, 2, 1))\n"
            "except OSError as e:\n"
            "    print(type(e).__name__, e.args)\n")
        assert result.stdout == (f"OSError ('no new file can be made in {folder} to replace "
                                 f"{target} safely: Permission denied (os error 13)',)\n"), result.stderr
        assert target.read_bytes() == old
        assert os.listdir(folder) == ["out.mc"]
    finally:
        folder.chmod(0o755)
        if base != tmp_path:
            shutil.rmtree(base)
