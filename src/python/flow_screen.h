// Private native entry point of korvane.solve: the per-commodity feasibility screen.
#pragma once

#include "python/py_ref.h"

namespace korvane::py {

// _screen_commodities; ends with a sentinel.
extern PyMethodDef flow_functions[];

}  // namespace korvane::py
