// Private native entry points of korvane.solve's decomposition: the commodities'
// min-cost flows, kept between pricing rounds.
#pragma once

#include "python/py_ref.h"

namespace korvane::py {

// _flows_new, _flows_solve; ends with a sentinel.
extern PyMethodDef commodity_flow_functions[];

}  // namespace korvane::py
