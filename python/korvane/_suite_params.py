"""Generation parameters as a suite gives them, the suite's errors and limits, and the
optional parts of korvane a suite may need."""

from __future__ import annotations

import dataclasses
import importlib
import re
from typing import Any

import korvane

from . import formats


_NATIVE: Any = importlib.import_module("korvane.korvane")
# Each default of generate_multi_commodity_data, as its binder holds it.
GENERATE_DEFAULTS: dict[str, Any] = _NATIVE._defaults["generate_multi_commodity_data"]
METHODS = ("spread", "uniform", "beta-binomial")
FORMATS = ("mcf", "mnetgen")
MNETGEN_PARTS = tuple(f".{part}" for part in formats.PARTS)
SUITE_FILE = "suite.json"
TMP_MARK = ".korvane-tmp"
# Every temporary file korvane makes, here and in the native writer, is named
# .<name>.<pid>.<hex>.korvane-tmp, plus a part's suffix for Mnetgen files; the pid tells a
# dead run's leftovers from a live run's work in progress.
TMP_NAME = re.compile(r"\..*\.([0-9]+)\.[0-9a-f]+\.korvane-tmp(\.[A-Za-z0-9]+)?")
# The native writers' codes for a compression.
COMPRESSION_CODES = {None: 0, "gzip": 1, "zstd": 2}
# A grid larger than this is refused unless the caller raises the cap (--max-instances).
MAX_INSTANCES = 100_000
# K above this is refused in a manifest: every instance holds K values per arc and per
# supply node, so such a suite could not be made on any machine.
MAX_COMMODITIES = 10_000_000


class ManifestError(ValueError):
    """A manifest that cannot describe a suite; the message names the offending key."""


class InstanceError(Exception):
    """One instance could not be made; raised in a worker, carried back to the runner."""


class MissingFeature(ImportError):
    """An optional part of korvane (or its extra) that this installation lacks."""


# --- generation parameters ---------------------------------------------------------------


@dataclasses.dataclass(frozen=True)
class Params:
    """The arguments of generate_multi_commodity_data, with its defaults (the binder's own,
    from korvane.korvane._defaults)."""

    num_commodities: int
    method: int
    randomize_caps: bool = GENERATE_DEFAULTS["randomize_caps"]
    cap_a: float = GENERATE_DEFAULTS["cap_a"]
    cap_b: float = GENERATE_DEFAULTS["cap_b"]
    randomize_costs: bool = GENERATE_DEFAULTS["randomize_costs"]
    cost_a: float = GENERATE_DEFAULTS["cost_a"]
    cost_b: float = GENERATE_DEFAULTS["cost_b"]
    concentration_param: float = GENERATE_DEFAULTS["concentration_param"]
    cap_zero: bool = GENERATE_DEFAULTS["cap_zero"]
    cap_zero_param: float = GENERATE_DEFAULTS["cap_zero_param"]
    seed: int = GENERATE_DEFAULTS["seed"]

    def effective(self) -> Params:
        """The same instance with every setting that cannot change it reset to its default,
        so that grid points differing only there collapse into one."""
        base = Params(0, 0)
        return dataclasses.replace(
            self,
            concentration_param=self.concentration_param if self.method == 2 else base.concentration_param,
            cap_a=self.cap_a if self.randomize_caps else base.cap_a,
            cap_b=self.cap_b if self.randomize_caps else base.cap_b,
            cost_a=self.cost_a if self.randomize_costs else base.cost_a,
            cost_b=self.cost_b if self.randomize_costs else base.cost_b,
            cap_zero_param=self.cap_zero_param if self.cap_zero else base.cap_zero_param,
        )

    def to_json(self) -> dict[str, Any]:
        out = dataclasses.asdict(self)
        out["method"] = METHODS[self.method]
        return out

    @staticmethod
    def from_json(obj: dict[str, Any]) -> Params:
        fields = {f.name for f in dataclasses.fields(Params)}
        values = {k: v for k, v in obj.items() if k in fields}
        values["method"] = METHODS.index(values["method"])
        return Params(**values)


def generate(instance: korvane.NetworkInstance, params: Params) -> korvane.MultiCommodityData:
    return korvane.generate_multi_commodity_data(
        instance, params.num_commodities, params.method,
        randomize_caps=params.randomize_caps, cap_a=params.cap_a, cap_b=params.cap_b,
        randomize_costs=params.randomize_costs, cost_a=params.cost_a, cost_b=params.cost_b,
        concentration_param=params.concentration_param, cap_zero=params.cap_zero,
        cap_zero_param=params.cap_zero_param, seed=params.seed)


def _submodule(name: str, purpose: str) -> Any:
    # Imported on first use: the submodules pull in optional dependencies of their own,
    # and their ImportError, which names the extra to install, is passed on as it is.
    try:
        return importlib.import_module(f"korvane.{name}")
    except ModuleNotFoundError as exc:
        if exc.name != f"korvane.{name}":
            raise MissingFeature(str(exc)) from exc
        raise MissingFeature(f"{purpose} needs korvane.{name}, which this korvane lacks") from exc
    except ImportError as exc:
        raise MissingFeature(str(exc)) from exc


def formats_module() -> Any:
    return _submodule("formats", "the Mnetgen format")


def solve_module() -> Any:
    solve = _submodule("solve", "solving")
    # korvane.solve imports its solver only when it runs; find out before any work starts.
    for name in ("numpy", "highspy"):
        try:
            importlib.import_module(name)
        except ImportError:
            raise MissingFeature(f"korvane.solve needs {name}: pip install highspy numpy (or "
                                 "'korvane[solve]' by name, '.[solve]' from a checkout)") from None
    return solve


def _reason(exc: BaseException) -> str:
    # Python's own OSErrors carry "[Errno N] text: 'path'", and the path may be a temporary.
    return exc.strerror if isinstance(exc, OSError) and exc.strerror else str(exc)
