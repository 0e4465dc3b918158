"""The field's classic instance generators inside korvane, byte for byte as the original
programs write their files, and the published instance sets by name.

``netgen(**params)`` / ``write_netgen(path, **params)``: NETGEN's min-cost-flow networks,
byte for byte the C version's ``.min`` text (``korvane.generators.netgen`` documents the
parameters). ``mnetgen(**params)`` / ``write_mnetgen_instance(base, **params)``: the
multi-commodity generator Mnetgen's four files (``korvane.generators.mnetgen`` documents its
parameters, ``read_par`` reads its parameter files). ``family(name, ...)`` gives the
parameters of a published instance (the classic NETGEN problems 101-150, the NETGEN
benchmark families, Mnetgen's ``n-k-h`` set); ``family_names()`` lists every member and
``mnetgen_family(name)`` makes one of Mnetgen's. On the command line: ``korvane netgen``,
``korvane mnetgen``, ``korvane generators list``.
"""

from __future__ import annotations

from typing import Any

from .families import expand_names, family, family_names, netgen_family_names
from .mnetgen import PARAMETERS as MNETGEN_PARAMETERS
from .mnetgen import family_names as mnetgen_family_names
from .mnetgen import family_parameters as mnetgen_family_parameters
from .mnetgen import mnetgen, read_par, write_mnetgen_instance
from .netgen import (MAX_ARCS, MAX_NODES, PARAMETERS, check_netgen, netgen, problem_type,
                     read_netgen_input, write_netgen)

__all__ = ["netgen", "write_netgen", "check_netgen", "read_netgen_input", "problem_type", "PARAMETERS",
           "MAX_NODES", "MAX_ARCS", "family", "family_names", "netgen_family_names",
           "expand_names", "mnetgen", "write_mnetgen_instance", "read_par", "MNETGEN_PARAMETERS",
           "mnetgen_family", "mnetgen_family_names", "mnetgen_family_parameters"]


def mnetgen_family(name: str) -> Any:
    """The published Mnetgen instance ``name`` (``"64-4-1"`` .. ``"256-256-12"``) as a
    ``MulticommodityProblem``: ``mnetgen(**mnetgen_family_parameters(name))``."""
    return mnetgen(**mnetgen_family_parameters(name))
