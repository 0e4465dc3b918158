// The private functions behind korvane.generators' NETGEN (defined in netgen.cpp).
#pragma once

#include "python/py_ref.h"

namespace korvane::py {

// _netgen_instance and _netgen_write.
extern PyMethodDef netgen_functions[];

}  // namespace korvane::py
