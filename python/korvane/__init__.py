"""korvane: reproducible multi-commodity flow instances from DIMACS min-cost-flow networks."""

from .korvane import *  # noqa: F401,F403
from .korvane import InternalError, __all__, __doc__  # noqa: F401
from ._version import __version__  # noqa: F401
