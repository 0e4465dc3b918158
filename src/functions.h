// The module functions, in registration order (defined in functions.cpp).
#pragma once

#include "py_ref.h"

namespace korvane::py {

extern PyMethodDef load_min_instance_def;
extern PyMethodDef get_adjacency_mapping_def;
extern PyMethodDef get_incidence_mapping_def;

}  // namespace korvane::py
