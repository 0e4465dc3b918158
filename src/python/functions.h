// The module functions, in registration order (defined in functions.cpp).
#pragma once

#include "python/py_ref.h"

namespace korvane::py {

extern PyMethodDef load_min_instance_def;
extern PyMethodDef split_supplies_uniform_def;
extern PyMethodDef split_supplies_spread_def;
extern PyMethodDef split_supplies_beta_binomial_def;
extern PyMethodDef compute_commodity_demand_heterogeneity_def;
extern PyMethodDef generate_multi_commodity_data_def;
extern PyMethodDef save_multi_commodity_instance_def;
extern PyMethodDef load_multi_commodity_instance_def;
extern PyMethodDef get_adjacency_mapping_def;
extern PyMethodDef get_incidence_mapping_def;

// {function name: {parameter: default}} for the functions with optional
// parameters, made from the very values their binders use: a new reference, or
// nullptr with an error set. The command line and the suites take their
// defaults from it (korvane.korvane._defaults).
PyObject* defaults_table();

}  // namespace korvane::py
