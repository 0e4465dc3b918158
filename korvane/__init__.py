from .korvane import *  # noqa: F401,F403
from .korvane import InternalError, __all__, __doc__  # noqa: F401
