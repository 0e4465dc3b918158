"""The executors a suite runs on: in the calling process, a process pool, or a Dask
scheduler."""

from __future__ import annotations

import concurrent.futures
import os
from collections.abc import Callable
from typing import Any

from ._suite_params import MissingFeature


class SerialExecutor(concurrent.futures.Executor):
    """Runs each task in the calling process when it is submitted (--jobs 1)."""

    def submit(self, fn: Callable[..., Any], /, *args: Any, **kwargs: Any) -> concurrent.futures.Future[Any]:
        future: concurrent.futures.Future[Any] = concurrent.futures.Future()
        try:
            future.set_result(fn(*args, **kwargs))
        except Exception as exc:
            future.set_exception(exc)
        return future


def _init_worker(threads: int) -> None:
    # Ctrl-C reaches every process of the terminal's group (and a batch scheduler's SIGTERM
    # often does too); the runner, not the workers, decides what happens, so workers finish
    # the instance they hold.
    import signal

    signal.signal(signal.SIGINT, signal.SIG_IGN)
    signal.signal(signal.SIGTERM, signal.SIG_IGN)
    # Generation runs on KORVANE_NUM_THREADS threads, all cores by default; with several
    # workers the cores are shared out instead of oversubscribed. A value the user set wins.
    os.environ.setdefault("KORVANE_NUM_THREADS", str(threads))


def default_jobs() -> int:
    try:
        return len(os.sched_getaffinity(0))
    except AttributeError:
        return os.cpu_count() or 1


class ExecutorError(Exception):
    """A Dask scheduler that cannot be reached, or that no worker joins, in the time allowed."""


DASK_TIMEOUT = 30.0


def open_executor(jobs: int, address: str | None, timeout: float = DASK_TIMEOUT,
                  ) -> tuple[concurrent.futures.Executor, int, Callable[[], None]]:
    """The executor for --jobs/--executor, its number of workers, and how to close it.
    Raises ExecutorError when the scheduler does not answer or has no worker within
    ``timeout`` seconds."""
    if address is not None:
        if not address.startswith("dask://"):
            raise ValueError(f"--executor: expected dask://HOST:PORT, got {address!r}")
        try:
            import distributed
        except ImportError:
            raise MissingFeature(
                "--executor dask:// needs Dask distributed: pip install distributed (or "
                "'korvane[dask]' by name, '.[dask]' from a checkout)") from None
        where = "tcp://" + address.removeprefix("dask://")
        try:
            client = distributed.Client(where, timeout=timeout)
        except (OSError, TimeoutError):
            raise ExecutorError(f"--executor: no Dask scheduler answered at {where} within "
                                f"{timeout:g} s") from None
        try:
            # Tasks sent to a scheduler without workers would wait for ever.
            client.wait_for_workers(1, timeout=timeout)
        except (OSError, TimeoutError):
            client.close()
            raise ExecutorError(f"--executor: the Dask scheduler at {where} has no worker "
                                f"(none joined within {timeout:g} s)") from None
        workers = max(1, sum(w.get("nthreads", 1) for w in client.scheduler_info()["workers"].values()))
        executor = client.get_executor(pure=False)

        def close() -> None:
            client.close()

        return executor, workers, close
    if jobs <= 1:
        return SerialExecutor(), 1, lambda: None
    threads = max(1, default_jobs() // jobs)
    pool = concurrent.futures.ProcessPoolExecutor(jobs, initializer=_init_worker, initargs=(threads,))

    def shutdown() -> None:
        pool.shutdown(wait=True, cancel_futures=True)

    return pool, jobs, shutdown
