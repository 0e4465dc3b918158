"""NETGEN: korvane's generator against its peers on the same parameters, in one run.

- GLPK's glp_netgen (the C peer, through ctypes): generation alone (korvane's NetworkInstance,
  GLPK's graph) and with the file written (korvane's write_netgen, GLPK's glp_netgen followed
  by its own DIMACS writer glp_write_mincost). GLPK takes at most 100,000 nodes, which bounds
  the instances. Some builds (Debian 12's libglpk 5.0) ship the routine disabled: it prints
  "sorry, this routine is temporarily disabled" and aborts. A child process probes it first,
  and the GLPK columns are left out, saying so, when it is missing or disabled.
- pynetgen's command (PyPI, a Python port), with its file written, on the smaller members
  (it is pure Python), when installed.

The contenders run in turn, round after round, and each keeps its best time, so that a busy
machine slows them alike; the load average is printed before and after.
--rounds N sets the rounds (3)."""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from korvane import generators

# NETGEN-8 and NETGEN-SR members at GLPK's sizes, a dense NETGEN-DEG member, a classic problem.
CASES = ["netgen-101", "netgen_8_14a", "netgen_8_16a", "netgen_sr_13a", "netgen_deg_09a",
         "netgen_8_20a"]
# pynetgen refuses transportation problems and arc counts above the request: LEMON members only.
PYNETGEN_CASES = ["netgen_8_10a", "netgen_8_12a"]


def load_glpk() -> ctypes.CDLL | None:
    name = ctypes.util.find_library("glpk")
    if name is None:
        return None
    lib = ctypes.CDLL(name)
    lib.glp_create_graph.restype = ctypes.c_void_p
    lib.glp_create_graph.argtypes = [ctypes.c_int, ctypes.c_int]
    lib.glp_delete_graph.argtypes = [ctypes.c_void_p]
    lib.glp_netgen.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int,
                               ctypes.POINTER(ctypes.c_int)]
    lib.glp_write_mincost.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int,
                                      ctypes.c_int, ctypes.c_char_p]
    lib.glp_term_out.argtypes = [ctypes.c_int]
    lib.glp_term_out(0)
    return lib


def glpk_works() -> str | None:
    """None when glp_netgen runs here; else why not (it aborts the process when disabled)."""
    if ctypes.util.find_library("glpk") is None:
        return "GLPK (libglpk.so) not found: install libglpk-dev for the C peer's times"
    probe = subprocess.run(
        [sys.executable, __file__, "--probe-glpk"], capture_output=True, text=True, check=False)
    if probe.returncode != 0:
        said = (probe.stdout + probe.stderr).strip().splitlines()
        return f"GLPK's glp_netgen does not run here: {said[0] if said else probe.returncode}"
    return None


def pynetgen_seconds(params: dict[str, int], out: str) -> float | None:
    command = shutil.which("pynetgen") or str(Path(sys.executable).with_name("pynetgen"))
    if not Path(command).exists():
        return None
    args = [str(params[name]) for name in generators.PARAMETERS if name != "problem"]
    began = time.perf_counter()
    done = subprocess.run([command, "-q", "-f", out, "netgen", *args], capture_output=True,
                          check=False)
    seconds = time.perf_counter() - began
    return seconds if done.returncode == 0 else None


def glpk_run(lib: ctypes.CDLL, params: dict[str, int], path: str | None) -> None:
    """glp_netgen into a graph whose nodes hold the supply (a double) and arcs the capacity
    and the cost (two doubles); then, with a path, glp_write_mincost."""
    parm = (ctypes.c_int * 16)(0, *(params[name] for name in generators.PARAMETERS))
    graph = lib.glp_create_graph(8, 16)
    try:
        code = lib.glp_netgen(graph, 0, 0, 8, parm)
        if code != 0:
            raise RuntimeError(f"glp_netgen returned {code}")
        if path is not None and lib.glp_write_mincost(graph, 0, -1, 0, 8, path.encode()) != 0:
            raise RuntimeError("glp_write_mincost failed")
    finally:
        lib.glp_delete_graph(graph)


def main() -> None:
    if "--probe-glpk" in sys.argv:
        probe = load_glpk()
        assert probe is not None
        glpk_run(probe, generators.family("netgen_8_08a"), None)
        return
    rounds = int(sys.argv[sys.argv.index("--rounds") + 1]) if "--rounds" in sys.argv else 3
    why_not = glpk_works()
    lib = load_glpk() if why_not is None else None
    if why_not is not None:
        print(why_not)
    print(f"load average before: {os.getloadavg()[0]:.2f}")
    with tempfile.TemporaryDirectory(prefix="korvane-bench-netgen-") as tmp:
        out = str(Path(tmp) / "net.min")
        print(f"{'instance':16} {'arcs':>9} {'korvane gen':>12} {'glpk gen':>10} {'ratio':>6} "
              f"{'korvane +file':>14} {'glpk +file':>11} {'ratio':>6}")
        for name in CASES:
            params = generators.family(name)
            contenders = {
                "k_gen": lambda: generators.netgen(**params),
                "k_file": lambda: generators.write_netgen(out, **params),
            }
            if lib is not None:
                contenders["g_gen"] = lambda: glpk_run(lib, params, None)
                contenders["g_file"] = lambda: glpk_run(lib, params, out)
            best = {key: float("inf") for key in contenders}
            for _ in range(rounds):
                for key, run in contenders.items():
                    began = time.perf_counter()
                    run()
                    best[key] = min(best[key], time.perf_counter() - began)
            arcs = generators.write_netgen(out, **params)
            line = f"{name:16} {arcs:9d} {best['k_gen']:11.3f}s"
            if lib is not None:
                line += (f" {best['g_gen']:9.3f}s {best['g_gen'] / best['k_gen']:6.2f}"
                         f" {best['k_file']:13.3f}s {best['g_file']:10.3f}s"
                         f" {best['g_file'] / best['k_file']:6.2f}")
            else:
                line += f" {'-':>10} {'-':>6} {best['k_file']:13.3f}s"
            print(line)
        print("\nwith the file written, against pynetgen's command (a Python port; its process "
              "start is included):")
        for name in PYNETGEN_CASES:
            params = generators.family(name)
            theirs = pynetgen_seconds(params, out)
            if theirs is None:
                print(f"{name:16} pynetgen not installed or failed")
                continue
            ours = min(_timed(lambda: generators.write_netgen(out, **params)) for _ in range(rounds))
            print(f"{name:16} korvane {ours:.3f}s  pynetgen {theirs:.3f}s  ratio {theirs / ours:.1f}")
    print(f"load average after: {os.getloadavg()[0]:.2f}")
    print("ratio: the peer's time over korvane's (above 1: korvane is faster)")


def _timed(run: object) -> float:
    began = time.perf_counter()
    run()  # type: ignore[operator]
    return time.perf_counter() - began


if __name__ == "__main__":
    main()
