"""The field's classic instance generators inside korvane, and the published families by name.

``netgen(**params)`` / ``write_netgen(path, **params)``: NETGEN's min-cost-flow networks,
byte for byte the C version's ``.min`` text (``korvane.generators.netgen`` documents the
parameters). ``family(name, ...)`` gives the parameters of a published instance (the classic
NETGEN problems 101-150, the NETGEN benchmark families, Mnetgen's ``n-k-h`` set);
``family_names()`` lists every member. On the command line: ``korvane netgen``,
``korvane generators list``.
"""

from .families import expand_names, family, family_names, netgen_family_names
from .netgen import (MAX_ARCS, MAX_NODES, PARAMETERS, check_netgen, netgen, problem_type,
                     read_netgen_input, write_netgen)

__all__ = ["netgen", "write_netgen", "check_netgen", "read_netgen_input", "problem_type", "PARAMETERS",
           "MAX_NODES", "MAX_ARCS", "family", "family_names", "netgen_family_names",
           "expand_names"]

try:
    from .mnetgen import PARAMETERS as MNETGEN_PARAMETERS  # type: ignore[import-not-found,unused-ignore]
    from .mnetgen import mnetgen, read_par, write_mnetgen_instance  # type: ignore[import-not-found,unused-ignore]

    __all__ += ["mnetgen", "read_par", "write_mnetgen_instance", "MNETGEN_PARAMETERS"]
except ImportError:  # Mnetgen arrives with its own branch
    pass
