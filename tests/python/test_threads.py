"""Threads: results do not depend on the thread count; the setting and thread start failures.

That a Python thread runs beside native work is test_gil_release.py's."""

import os

import pytest

import korvane
from korvane.arrays import data_arrays, network_arrays, parsed_arrays

from conftest import run_python


def generated_under(monkeypatch, threads, inst, options):
    monkeypatch.setenv("KORVANE_NUM_THREADS", str(threads))
    try:
        data = korvane.generate_multi_commodity_data(inst, 8, 2, seed=11, **options)
    except BaseException as exc:
        return type(exc), str(exc)
    tables = data_arrays(data)
    return tables["capacity"].tobytes(), tables["cost"].tobytes(), data.supply_partition


@pytest.mark.parametrize("options, fails", [
    (dict(randomize_caps=True, randomize_costs=True), False),
    (dict(randomize_caps=True, cap_zero=True, cap_zero_param=0.3), False),
    (dict(randomize_costs=True, cost_a=0.5, cost_b=3.0), False),
    # 10^9 * 2e300 is no finite range: the draw of a late arc fails, whichever thread meets it
    (dict(randomize_costs=True, cost_a=-1e300, cost_b=1e300), True),
])
def test_generation_identical_for_every_thread_count(wide_net, monkeypatch, options, fails):
    results = [generated_under(monkeypatch, t, wide_net, options) for t in (1, 2, 7)]
    assert results[0] == results[1] == results[2]
    assert isinstance(results[0][0], type) == fails, results[0][:2]


def test_large_files_read_alike_for_every_thread_count(tmp_path, monkeypatch):
    """Files this large are read in ranges, one per thread, merged in file order."""
    lines = [f"a {1 + (i * 7919) % 30011} {1 + i % 30011} 0 {i % 90} {i % 13 - 6}\n" for i in range(500_000)]
    # Node ids first met in the second half, by a node line and by an arc.
    lines[400_000:400_000] = ["n 40000 9\n", "c a comment\n", "n 77 -9\n", "a 40001 5 0 1 1\n"]
    min_path = tmp_path / "big.min"
    min_path.write_text("p min 30011 500000\n" + "".join(lines))
    mc_path = tmp_path / "big.mc"
    inst = korvane.load_min_instance(str(min_path))
    data = korvane.generate_multi_commodity_data(inst, 3, 1, randomize_caps=True, seed=5)
    korvane.save_multi_commodity_instance(str(mc_path), inst, data)
    with open(mc_path, "a") as f:  # node lines in the last range too, one replacing an earlier line
        f.write("n 77 1 1 0 0\nn 50000 -1 0 -1 0\n")
    assert mc_path.stat().st_size > 8 << 20

    def read_under(threads):
        monkeypatch.setenv("KORVANE_NUM_THREADS", str(threads))
        net = korvane.load_min_instance(str(min_path))
        parsed = korvane.load_multi_commodity_instance(str(mc_path))
        return (net.nodes, net.supplies, network_arrays(net), parsed.nodes, parsed.supplies,
                parsed.commodity_supply_demand_data, parsed.parallel, parsed_arrays(parsed))

    def as_bytes(reads):
        return [{k: getattr(v, "tobytes", lambda v=v: v)() for k, v in r.items()} if isinstance(r, dict) else r
                for r in reads]

    assert as_bytes(read_under(1)) == as_bytes(read_under(2)) == as_bytes(read_under(7))


@pytest.mark.parametrize("value", ["abc", "0", "-3", "+2", " 2", "1.5"])
@pytest.mark.parametrize("call", ["load", "generate"])
def test_thread_count_setting_must_be_a_positive_integer(wide_net, min_file, monkeypatch, value, call):
    path = min_file("p min 2 1\na 1 2 0 1 1\n")
    monkeypatch.setenv("KORVANE_NUM_THREADS", value)
    with pytest.raises(ValueError) as exc:
        korvane.load_min_instance(path) if call == "load" else korvane.generate_multi_commodity_data(wide_net, 2, 0)
    assert str(exc.value) == f"KORVANE_NUM_THREADS must be a positive integer, not '{value}'"


# The child may start no thread (RLIMIT_NPROC 0; root is exempt from it, so it runs as nobody):
# a generation spread over two threads fails as the interpreter's own threads fail to start.
NO_THREADS = """
import errno, os, resource, tempfile
if os.getuid() == 0:
    os.setgid(65534)
    os.setuid(65534)
resource.setrlimit(resource.RLIMIT_NPROC, (0, 0))
import korvane
folder = tempfile.mkdtemp()
path = os.path.join(folder, "wide.min")
with open(path, "w") as f:
    f.write("p min 1009 20000\\n" + "".join(f"a {1 + i % 997} {1 + i % 1009} 0 9 1\\n" for i in range(20000)))
inst = korvane.load_min_instance(path)
try:
    korvane.generate_multi_commodity_data(inst, 8, 1)
    print("no failure")
except BaseException as e:
    print(type(e).__name__, isinstance(e, OSError), errno.errorcode.get(getattr(e, "errno", None)))
"""


def test_thread_that_cannot_start_raises_os_error():
    done = run_python(NO_THREADS, KORVANE_NUM_THREADS="2")
    assert done.returncode == 0, done.stderr
    assert done.stdout.split() == ["BlockingIOError", "True", "EAGAIN"]


# The worker threads outlive a call; a child made by fork() has none of them and must start its own
# (were it to wait on its parent's, it would hang until the alarm ends it).
AFTER_FORK = """
import os, signal, tempfile, warnings
import korvane
from korvane.arrays import data_arrays
warnings.simplefilter("ignore", DeprecationWarning)  # forking a process that has threads
folder = tempfile.mkdtemp()
path = os.path.join(folder, "wide.min")
with open(path, "w") as f:
    f.write("p min 1009 20000\\n" + "".join(f"a {1 + i % 997} {1 + i % 1009} 0 9 {i % 7}\\n" for i in range(20000)))
def generated():
    data = korvane.generate_multi_commodity_data(korvane.load_min_instance(path), 8, 1, seed=3,
                                                 randomize_costs=True)
    return data_arrays(data)["cost"].tobytes()
before = generated()
pid = os.fork()
if pid == 0:
    signal.alarm(30)
    os._exit(0 if generated() == before else 1)
_, status = os.waitpid(pid, 0)
print(os.waitstatus_to_exitcode(status), generated() == before)
"""


def test_forked_child_runs_threaded_calls():
    done = run_python(AFTER_FORK, KORVANE_NUM_THREADS="2")
    assert done.returncode == 0, done.stderr
    assert done.stdout.split() == ["0", "True"]


# Eight callers each asking for 16 threads at once share one pool: the process keeps the
# largest count asked for (15 workers beside a caller, or the documented per-core bound),
# not one worker per chunk of every loop running.
SHARED_POOL = """
import os, tempfile, threading
import korvane
folder = tempfile.mkdtemp()
path = os.path.join(folder, "wide.min")
with open(path, "w") as f:
    f.write("p min 1009 40000\\n" + "".join(f"a {1 + i % 997} {1 + i % 1009} 0 9 {i % 7}\\n" for i in range(40000)))
inst = korvane.load_min_instance(path)
expected = korvane.generate_multi_commodity_data(inst, 8, 1, randomize_costs=True).commodity_weights
start, same = threading.Barrier(8), []
def call():
    start.wait()
    for _ in range(3):
        same.append(korvane.generate_multi_commodity_data(inst, 8, 1, randomize_costs=True).commodity_weights == expected)
threads = [threading.Thread(target=call) for _ in range(8)]
for t in threads: t.start()
for t in threads: t.join()
print(len(os.listdir("/proc/self/task")), all(same), len(same))
"""


def test_concurrent_callers_share_a_bounded_pool():
    done = run_python(SHARED_POOL, KORVANE_NUM_THREADS="16")
    assert done.returncode == 0, done.stderr
    threads, same, calls = done.stdout.split()
    cores = len(os.sched_getaffinity(0))
    assert 1 < int(threads) <= 1 + min(15, 4 * cores, 256) and (same, calls) == ("True", "24")
