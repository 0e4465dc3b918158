// Private native entry points of korvane.arrays: read-only buffers over record
// columns, each keeping its record alive, and the CSR builder.
#pragma once

#include "python/py_ref.h"

namespace korvane::py {

// The buffer exporter type of `module`, created by its exec step, which keeps
// it in the module state: a new reference, or nullptr with an error set.
PyTypeObject* array_view_type(PyObject* module);

// _network_columns, _data_columns, _parsed_columns, _csr; ends with a sentinel.
extern PyMethodDef array_functions[];

}  // namespace korvane::py
