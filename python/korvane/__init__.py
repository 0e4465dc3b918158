"""korvane: reproducible multi-commodity flow instances from DIMACS min-cost-flow networks.

korvane reads a single-commodity network (a DIMACS ``.min`` file), splits its
supplies among K commodities, draws per-commodity capacities and costs from a
seed, and writes the result to a multi-commodity file that it reads back
exactly. The native core is C++; a bad file raises an exception, never crashes.

Where to start::

    import korvane
    inst = korvane.load_min_instance("network.min")          # NetworkInstance
    data = korvane.generate_multi_commodity_data(inst, 8, 2)  # 8 commodities, beta-binomial
    korvane.save_multi_commodity_instance("net8.mc", inst, data)
    parsed = korvane.load_multi_commodity_instance("net8.mc")

The functions and classes are listed in ``korvane.__all__``; each function's
docstring gives its arguments. Beyond them:

    korvane.arrays   read-only NumPy arrays over a record's columns, without copies
    korvane.formats  the field's other multi-commodity formats (Mnetgen, JLF)
    korvane.solve    an instance's linear program handed to HiGHS
    korvane.generators  NETGEN byte for byte, the published families by name
    the command line ``korvane info | generate | convert | solve | suite | netgen |
                     generators``
                     (``korvane --help``; also ``python -m korvane``)

Errors met while reading a file carry a note naming the file and line. Records
pickle (to their compact native form), so they can go to a process pool.
"""

import copyreg as _copyreg

from . import korvane as _native
from .korvane import *  # noqa: F401,F403
from .korvane import InternalError, __all__  # noqa: F401
from ._version import __version__  # noqa: F401


def _reduce_record(record: object) -> tuple[object, tuple[bytes]]:
    # A record travels as the bytes of its native columns; no method is added
    # to the classes, whose surface is fixed.
    return _native._load_record, (_native._dump_record(record),)


for _cls in (Edge, NetworkInstance, MultiCommoditySupplies, MultiCommodityData,  # noqa: F405
             ParsedMulticommodityInstance, _native._MulticommodityProblem):  # noqa: F405
    _copyreg.pickle(_cls, _reduce_record)
del _cls
