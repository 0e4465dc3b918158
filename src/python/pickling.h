// Private native entry points behind the pickling of the record classes
// (copyreg reducers registered by the korvane package).
#pragma once

#include "python/py_ref.h"

namespace korvane::py {

// _dump_record(record) -> bytes and _load_record(bytes) -> record; ends with a sentinel.
extern PyMethodDef pickling_functions[];

}  // namespace korvane::py
