// The private entry points of korvane.generators.mnetgen: the generator's
// parameters in, the problem or the four files out. Each binds its arguments,
// runs one core routine without the interpreter lock and converts the result
// or raises.
#include "python/mnetgen.h"

#include <array>
#include <string>
#include <tuple>
#include <vector>

#include "core/mnetgen/mnetgen.h"
#include "python/bind.h"
#include "python/gil.h"
#include "python/problem.h"
#include "python/record_type.h"

namespace korvane::py {
namespace {

// The 18 integers and 3 percentages in parameter-file order; false with
// ValueError set when the lists do not hold that many.
bool params_of(const std::vector<int64_t>& integers, const std::vector<double>& percents,
               MnetgenParams& out) {
  if (integers.size() != kMnetgenIntegerCount || percents.size() != 3) {
    PyErr_SetString(PyExc_ValueError, "Mnetgen takes 18 integers and 3 percentages");
    return false;
  }
  std::array<int64_t, kMnetgenIntegerCount> i{};
  std::copy(integers.begin(), integers.end(), i.begin());
  out = mnetgen_params(i, {percents[0], percents[1], percents[2]});
  return true;
}

constexpr const char* kGenerateParams[] = {"integers", "percents"};
constexpr Signature kGenerate{"_mnetgen", kGenerateParams, 2, nullptr};

PyObject* mnetgen_py(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                     PyObject* kwnames) noexcept {
  return call<kGenerate>(
      args, nargsf, kwnames, std::tuple<std::vector<int64_t>, std::vector<double>>{},
      [](const std::vector<int64_t>& integers, const std::vector<double>& percents) -> PyObject* {
        MnetgenParams params;
        if (!params_of(integers, percents, params)) return nullptr;
        Result<MulticommodityProblem> made = without_gil([&] { return generate_mnetgen(params); });
        if (!made.ok()) return raise(made.error(), PyExc_OSError);
        return wrap_record(std::move(made).value());
      });
}

constexpr const char* kWriteParams[] = {"nod", "arc", "sup", "mut", "integers", "percents",
                                        "compression"};
constexpr Signature kWrite{"_write_mnetgen_instance", kWriteParams, 7, nullptr};

PyObject* write_mnetgen_instance_py(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                                    PyObject* kwnames) noexcept {
  using Args = std::tuple<std::string, std::string, std::string, std::string,
                          std::vector<int64_t>, std::vector<double>, int64_t>;
  return call<kWrite>(
      args, nargsf, kwnames, Args{},
      [](std::string& nod, std::string& arc, std::string& sup, std::string& mut,
         const std::vector<int64_t>& integers, const std::vector<double>& percents,
         int64_t compression) -> PyObject* {
        MnetgenParams params;
        if (!params_of(integers, percents, params)) return nullptr;
        if (compression < 0 || compression > 2) {
          PyErr_SetString(PyExc_ValueError, "compression must be 0 (none), 1 (gzip) or 2 (zstd)");
          return nullptr;
        }
        const FourFileParts parts{std::move(nod), std::move(arc), std::move(sup), std::move(mut)};
        const auto how = static_cast<Compression>(compression);
        const Result<void> written =
            without_gil([&] { return write_mnetgen_instance(parts, params, how); });
        if (!written.ok()) return raise(written.error(), PyExc_OSError);
        Py_RETURN_NONE;
      });
}

}  // namespace

PyMethodDef mnetgen_functions[] = {
    {"_mnetgen", module_entry<mnetgen_py>(), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"_write_mnetgen_instance", module_entry<write_mnetgen_instance_py>(),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace korvane::py
