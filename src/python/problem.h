// The class korvane.formats.MulticommodityProblem (defined in problem.cpp).
#pragma once

#include "core/records/multicommodity_problem.h"
#include "python/convert.h"

namespace korvane::py {

template <>
const char* const RecordType<MulticommodityProblem>::name;
template <>
PyTypeObject* RecordType<MulticommodityProblem>::create(PyObject* module);

}  // namespace korvane::py
