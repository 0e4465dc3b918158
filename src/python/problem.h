// The class korvane.formats.MulticommodityProblem and the private functions
// behind korvane.formats (defined in problem.cpp).
#pragma once

#include "core/records/multicommodity_problem.h"
#include "python/convert.h"

namespace korvane::py {

template <>
const char* const RecordType<MulticommodityProblem>::name;
template <>
PyTypeObject* RecordType<MulticommodityProblem>::create(PyObject* module);

// _read_mnetgen, _read_jlf, _write_mnetgen and _to_problem.
extern PyMethodDef problem_functions[];

}  // namespace korvane::py
