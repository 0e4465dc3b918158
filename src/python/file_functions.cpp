// The private file entry points the Python package builds on: the .min
// reader that also tells whether the file held a problem line, copying a file
// through the native writer, and the first lines of a file for telling formats
// apart.
#include "python/format_functions.h"

#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "core/formats/min_reader.h"
#include "core/io/file_io.h"
#include "python/bind.h"
#include "python/gil.h"
#include "python/record_type.h"

namespace korvane::py {
namespace {

// _read_min(path): (NetworkInstance, whether the file held a problem line), read
// and failing as load_min_instance does.
PyObject* read_min_py(PyObject*, PyObject* arg) noexcept {
  return guard([&]() -> PyObject* {
    std::string path;
    if (!Converter<std::string>::from_py(arg, path)) return nullptr;
    Result<MinRead> read = without_gil([&] { return read_min(path); });
    if (!read.ok()) return raise(read.error(), PyExc_OSError);
    Ref instance = Ref::steal(wrap_record(std::move(read.value().instance)));
    if (!instance) return nullptr;
    return PyTuple_Pack(2, instance.get(), read.value().has_problem_line ? Py_True : Py_False);
  });
}


// _copy_file(source, path, compression): the file at source, decompressed, written
// to path through the native writer, compressed (1 gzip, 2 zstd) or not (0).
constexpr const char* kCopyParams[] = {"source", "path", "compression"};
constexpr Signature kCopyFile{"_copy_file", kCopyParams, 3, nullptr};

PyObject* copy_file_py(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                       PyObject* kwnames) noexcept {
  return call<kCopyFile>(
      args, nargsf, kwnames, std::tuple<std::string, std::string, int64_t>{},
      [](const std::string& source, const std::string& path, int64_t compression) -> PyObject* {
        if (compression < 0 || compression > 2) {
          PyErr_SetString(PyExc_ValueError, "compression must be 0 (none), 1 (gzip) or 2 (zstd)");
          return nullptr;
        }
        const auto how = static_cast<Compression>(compression);
        const Result<void> copied =
            without_gil([&] { return copy_decompressed(source, path, how); });
        if (!copied.ok()) return raise(copied.error(), PyExc_OSError);
        Py_RETURN_NONE;
      });
}


// _head_lines(path, max_lines): the first lines of a file as str (decoded as
// every reader decodes it: decompressed, byte-order mark skipped), for telling
// formats apart. Read errors raise OSError.
PyObject* head_lines(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
  return guard([&]() -> PyObject* {
    std::string path;
    int64_t max_lines = 0;
    if (nargs != 2) {
      PyErr_SetString(PyExc_TypeError, "_head_lines takes a path and a line count");
      return nullptr;
    }
    if (!Converter<std::string>::from_py(args[0], path) ||
        !Converter<int64_t>::from_py(args[1], max_lines)) {
      return nullptr;
    }
    std::vector<std::string> lines;
    const Result<void> read = without_gil([&]() -> Result<void> {
      auto reader = LineReader::open(path);
      if (!reader.ok()) return reader.take_error();
      std::string_view line;
      while (static_cast<int64_t>(lines.size()) < max_lines) {
        auto more = reader.value().next(line);
        if (!more.ok()) return more.take_error();
        if (!more.value()) break;
        lines.emplace_back(line);
      }
      return {};
    });
    if (!read.ok()) return raise(read.error(), PyExc_OSError);
    return to_python(lines);
  });
}

}  // namespace

PyMethodDef file_functions[] = {
    {"_copy_file", module_entry<copy_file_py>(), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"_head_lines", module_entry<head_lines>(), METH_FASTCALL, nullptr},
    {"_read_min", module_entry<read_min_py>(), METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace korvane::py
