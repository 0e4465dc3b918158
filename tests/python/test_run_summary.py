"""The test command's summary (scripts/summary.sh): counts with skips and their reasons from
real pytest and CTest runs, and a failing stage that leaves the others' lines in place."""

import shutil
import os
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

SUMMARY_SH = Path(__file__).resolve().parents[2] / "scripts" / "summary.sh"
# Without this run's PYTHONPATH, which would reach other interpreters (a pyenv shim's ctest).
ENV = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}


def bash(script, cwd):
    """Run script after sourcing summary.sh with SUMMARY in cwd; (status, stdout, summary)."""
    done = subprocess.run(["bash", "-c", f'set -euo pipefail; SUMMARY=summary; : > summary; '
                                         f'source "{SUMMARY_SH}"; {script}'],
                          cwd=cwd, capture_output=True, text=True, timeout=300, env=ENV)
    return done.returncode, done.stdout, (cwd / "summary").read_text()


def test_pytest_counts_and_skip_reasons(tmp_path):
    (tmp_path / "test_sample.py").write_text(textwrap.dedent("""
        import pytest
        def test_ok(): pass
        def test_bad(): assert False
        @pytest.mark.skipif(True, reason="the sample folder is absent")
        def test_data(): pass
        def test_other(): pytest.skip("no chromium here")
    """))
    pytest_cmd = f"{sys.executable} -m pytest -q -rs -p no:cacheprovider test_sample.py"
    status, out, summary = bash(f'''
        tail_log() {{ tail -n 1 "$1"; }}
        run_stage "[x] pytest" log pytest_count {pytest_cmd}
        echo "status $STAGE_STATUS"
        pytest_skips log
        run_stage "next" log2 tail_log echo fine
        echo "failed: ${{FAILED_STAGES[*]}}"
        ''', tmp_path)
    assert status == 0 and "status 1\n" in out and out.endswith("failed: [x] pytest\n")
    lines = summary.splitlines()
    assert lines[0].startswith("[x] pytest               FAILED (exit status 1): 1 failed, 1 passed, 2 skipped")
    assert lines[1].startswith("  skipped [1] test_sample.py:")
    assert sorted(line.rsplit(": ", 1)[1] for line in lines[1:3]) == [
        "no chromium here", "the sample folder is absent"]
    assert lines[3] == "next                     fine"


def test_ctest_counts_skips(tmp_path):
    if shutil.which("ctest") is None:
        pytest.skip("no ctest on PATH")
    (tmp_path / "CTestTestfile.cmake").write_text(textwrap.dedent("""
        add_test(passes "true")
        add_test(skips "sh" "-c" "exit 77")
        set_tests_properties(skips PROPERTIES SKIP_RETURN_CODE 77)
        add_test(fails "false")
    """))
    status, out, summary = bash('run_stage ctest log ctest_count ctest --test-dir .; '
                                'run_stage ctest-again log ctest_count ctest --test-dir . -E fails',
                                tmp_path)
    assert status == 0
    first, again = summary.splitlines()
    assert first.startswith("ctest                    FAILED (exit status ")
    assert first.endswith(" tests passed, 1 tests failed out of 3, 1 skipped")
    # CTest 4 leaves out ", 0 tests failed".
    assert again.replace(", 0 tests failed", "") == "ctest-again              100% tests passed out of 2, 1 skipped"



def test_a_stage_stops_at_its_first_failing_command(tmp_path):
    # errexit holds inside the stage: it ends at false.
    status, out, summary = bash('''
        stage() { echo one; false; echo two; }
        count() { grep -c . "$1"; }
        run_stage s log count stage
        echo "status $STAGE_STATUS"
        ''', tmp_path)
    assert (status, out) == (0, "== s\none\nstatus 1\n")
    assert summary == "s                        FAILED (exit status 1): 1\n"


def test_sample_folders_can_be_moved(tmp_path):
    # The generator-instance tests look where KORVANE_MNETGEN_DIR says and skip, naming it.
    elsewhere = tmp_path / "elsewhere"
    tests = Path(__file__).resolve().parent
    done = subprocess.run(
        [sys.executable, "-m", "pytest", "-q", "-rs", "-p", "no:cacheprovider", str(tests / "test_mnetgen.py"),
         "-k", "generator_files", f"--basetemp={tmp_path / 'run'}"],
        capture_output=True, text=True, timeout=300,
        env={**os.environ, "KORVANE_MNETGEN_DIR": str(elsewhere), "PYTHONPATH": os.pathsep.join(sys.path)})
    assert done.returncode == 0, done.stdout
    assert "SKIPPED [1] tests/python/test_mnetgen.py" in done.stdout.replace(str(tests.parents[1]) + "/", "")
    assert f"no Mnetgen generator instances in {elsewhere} (set KORVANE_MNETGEN_DIR" in done.stdout
