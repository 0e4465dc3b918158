// _dump_record and _load_record: a record to the bytes of its compact native
// form (core/records/record_codec.h) and back, with the GIL released around the
// copying of the columns.
#include "python/pickling.h"

#include <cstddef>
#include <span>
#include <variant>

#include "core/records/record_codec.h"
#include "python/bind.h"
#include "python/gil.h"
#include "python/problem.h"
#include "python/record_type.h"

namespace korvane::py {
namespace {

template <class T>
PyObject* dump_as(PyObject* obj) {
  const T& record = record_of<T>(obj);
  const std::size_t size = encoded_size(record);
  Ref bytes = Ref::steal(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size)));
  if (!bytes) return nullptr;
  std::byte* out = reinterpret_cast<std::byte*>(PyBytes_AS_STRING(bytes.get()));
  Result<void> encoded =
      without_gil([&] { return encode_record(record, std::span<std::byte>(out, size)); });
  if (!encoded.ok()) return raise(encoded.error(), PyExc_ValueError);
  // A poll that ran the signal handlers leaves their exception set even when
  // the copy went on to finish: the exception wins.
  if (PyErr_Occurred() != nullptr) return nullptr;
  return bytes.release();
}

template <class T, class... Rest>
PyObject* dump_first_match(PyObject* obj) {
  if (Py_IS_TYPE(obj, RecordType<T>::type())) return dump_as<T>(obj);
  if constexpr (sizeof...(Rest) > 0) {
    return dump_first_match<Rest...>(obj);
  } else {
    raise_not_instance(obj, "korvane record");
    return nullptr;
  }
}

PyObject* dump_record(PyObject*, PyObject* obj) noexcept {
  return guard([&]() -> PyObject* {
    return dump_first_match<Edge, NetworkInstance, MultiCommoditySupplies, MultiCommodityData,
                            ParsedMulticommodityInstance, MulticommodityProblem>(obj);
  });
}

PyObject* load_record(PyObject*, PyObject* arg) noexcept {
  return guard([&]() -> PyObject* {
    if (!PyBytes_Check(arg)) {
      raise_not_instance(arg, "bytes");
      return nullptr;
    }
    const auto* data = reinterpret_cast<const std::byte*>(PyBytes_AS_STRING(arg));
    const auto size = static_cast<std::size_t>(PyBytes_GET_SIZE(arg));
    std::size_t threads = 0;
    if (!threads_from_environment(threads)) return nullptr;
    const ThreadCountScope thread_setting(threads);
    // The bytes object is immutable and held by the caller while the GIL is away.
    Result<AnyRecord> decoded =
        without_gil([&] { return decode_record(std::span<const std::byte>(data, size)); });
    if (!decoded.ok()) return raise(decoded.error(), PyExc_ValueError);
    if (PyErr_Occurred() != nullptr) return nullptr;
    return std::visit([](auto&& record) { return wrap_record(std::move(record)); },
                      std::move(decoded.value()));
  });
}

}  // namespace

PyMethodDef pickling_functions[] = {
    {"_dump_record", module_entry<dump_record>(), METH_O, nullptr},
    {"_load_record", module_entry<load_record>(), METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace korvane::py
