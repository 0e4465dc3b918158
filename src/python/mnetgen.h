// The private functions behind korvane.generators.mnetgen (defined in mnetgen.cpp).
#pragma once

#include "python/convert.h"

namespace korvane::py {

// _mnetgen and _write_mnetgen_instance.
extern PyMethodDef mnetgen_functions[];

}  // namespace korvane::py
