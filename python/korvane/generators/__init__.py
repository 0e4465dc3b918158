"""The field's classic instance generators inside korvane, byte for byte as the original
programs write their files, and the published instance sets by name.

``korvane.generators.mnetgen(...)`` and ``write_mnetgen_instance(base, ...)``: the
multi-commodity generator Mnetgen (see ``korvane.generators.mnetgen``'s module for its
parameters, ``read_par`` for its parameter files and ``mnetgen_family`` for the 216
instances of the published set by name).
"""

from __future__ import annotations

from typing import Any

from .mnetgen import family_names as mnetgen_family_names
from .mnetgen import family_parameters as mnetgen_family_parameters
from .mnetgen import mnetgen, read_par, write_mnetgen_instance

__all__ = ["mnetgen", "write_mnetgen_instance", "read_par", "mnetgen_family",
           "mnetgen_family_names", "mnetgen_family_parameters"]


def mnetgen_family(name: str) -> Any:
    """The published Mnetgen instance ``name`` (``"64-4-1"`` .. ``"256-256-12"``) as a
    ``MulticommodityProblem``: ``mnetgen(**mnetgen_family_parameters(name))``."""
    return mnetgen(**mnetgen_family_parameters(name))
