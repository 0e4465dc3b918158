// The private functions behind korvane.formats and the package's file
// handling (defined in format_functions.cpp and file_functions.cpp).
#pragma once

#include "python/convert.h"

namespace korvane::py {

// _read_mnetgen, _read_jlf, _write_mnetgen, _write_bytes, _generate_to_files
// and _to_problem.
extern PyMethodDef format_functions[];

// _read_min, _copy_file and _head_lines.
extern PyMethodDef file_functions[];

}  // namespace korvane::py
