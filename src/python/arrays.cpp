// Read-only buffers over record columns for korvane.arrays. A column the record
// holds is exported in place (strided where it sits inside pairs, a stride of 0
// where one stored value stands for K); one it does not hold is built once here
// and owned by its exporter.
#include "python/arrays.h"

#include <array>
#include <bit>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include "core/formats/min_reader.h"
#include "core/graph/csr.h"
#include "core/records/dense_tables.h"
#include "python/gil.h"
#include "python/problem.h"
#include "python/py_errors.h"
#include "python/record_type.h"

namespace korvane::py {
namespace {

// What an exporter shows: an int64 (format 'q') or float64 ('d') array of one
// or two dimensions over memory that `owner` (a record) or `storage` keeps alive.
struct ArrayView {
  Ref owner;
  std::vector<int64_t> storage;
  const void* data = nullptr;
  char* format = nullptr;  // kFormat unless set
  int ndim = 1;
  Py_ssize_t shape[2] = {0, 0};
  Py_ssize_t strides[2] = {0, 0};  // in bytes
};

struct ArrayViewObject {
  PyObject_HEAD
  ArrayView view;
};

// A buffer must point somewhere even when empty.
const int64_t kEmpty[1] = {0};
char kFormat[] = "q";
char kFloatFormat[] = "d";

bool c_contiguous(const ArrayView& v) {
  if (v.ndim == 1) return v.shape[0] <= 1 || v.strides[0] == 8;
  if (v.shape[0] == 0 || v.shape[1] == 0) return true;
  return (v.shape[1] == 1 || v.strides[1] == 8) && (v.shape[0] == 1 || v.strides[0] == 8 * v.shape[1]);
}

int get_buffer(PyObject* self, Py_buffer* buffer, int flags) noexcept {
  ArrayView& v = reinterpret_cast<ArrayViewObject*>(self)->view;
  if ((flags & PyBUF_WRITABLE) == PyBUF_WRITABLE) {
    PyErr_SetString(PyExc_BufferError, "korvane arrays are read-only");
    buffer->obj = nullptr;
    return -1;
  }
  if ((flags & PyBUF_STRIDES) != PyBUF_STRIDES && !c_contiguous(v)) {
    PyErr_SetString(PyExc_BufferError, "this korvane array is strided");
    buffer->obj = nullptr;
    return -1;
  }
  Py_ssize_t count = 1;
  for (int d = 0; d < v.ndim; ++d) count *= v.shape[d];
  buffer->obj = Ref::borrow(self).release();
  buffer->buf = const_cast<void*>(count == 0 || v.data == nullptr ? kEmpty : v.data);
  buffer->len = count * 8;
  buffer->readonly = 1;
  buffer->itemsize = 8;
  buffer->format = (flags & PyBUF_FORMAT) != PyBUF_FORMAT ? nullptr
                   : v.format != nullptr                  ? v.format
                                                          : kFormat;
  buffer->ndim = v.ndim;
  buffer->shape = (flags & PyBUF_ND) == PyBUF_ND ? v.shape : nullptr;
  buffer->strides = (flags & PyBUF_STRIDES) == PyBUF_STRIDES ? v.strides : nullptr;
  buffer->suboffsets = nullptr;
  buffer->internal = nullptr;
  return 0;
}

void dealloc_view(PyObject* self) noexcept {
  PyTypeObject* type = Py_TYPE(self);
  std::destroy_at(&reinterpret_cast<ArrayViewObject*>(self)->view);
  type->tp_free(self);
  Py_DECREF(type);
}

PyObject* make_view(ArrayView&& view) {
  // Shapes stand for sizes in bytes too: refuse one whose size overflows.
  Py_ssize_t bytes = 8;
  for (int d = 0; d < view.ndim; ++d) {
    if (view.shape[d] < 0 || __builtin_mul_overflow(bytes, view.shape[d], &bytes)) {
      return PyErr_NoMemory();
    }
  }
  PyTypeObject* type = current_type(kArrayViewType);
  if (type == nullptr) {
    PyErr_SetString(PyExc_SystemError, "korvane array made outside a call of its module");
    return nullptr;
  }
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) return nullptr;
  new (&reinterpret_cast<ArrayViewObject*>(self)->view) ArrayView(std::move(view));
  return self;
}

// A size as a shape entry; beyond Py_ssize_t it becomes -1, which make_view refuses.
Py_ssize_t ssize(std::size_t n) {
  return n > static_cast<std::size_t>(PY_SSIZE_T_MAX) ? -1 : static_cast<Py_ssize_t>(n);
}

// n values of the record `owner`, `stride` bytes apart.
template <class V>
PyObject* column(PyObject* owner, const V* data, std::size_t n, std::size_t stride = 8) {
  static_assert(sizeof(V) == 8);
  ArrayView v;
  v.owner = Ref::borrow(owner);
  v.data = data;
  if constexpr (std::is_same_v<V, double>) v.format = kFloatFormat;
  v.shape[0] = ssize(n);
  v.strides[0] = ssize(stride);
  return make_view(std::move(v));
}

// rows x cols values of the record `owner`.
template <class V>
PyObject* table(PyObject* owner, const V* data, std::size_t rows, std::size_t cols,
                std::size_t row_stride, std::size_t col_stride) {
  static_assert(sizeof(V) == 8);
  ArrayView v;
  v.owner = Ref::borrow(owner);
  v.data = data;
  if constexpr (std::is_same_v<V, double>) v.format = kFloatFormat;
  v.ndim = 2;
  v.shape[0] = ssize(rows);
  v.shape[1] = ssize(cols);
  v.strides[0] = ssize(row_stride);
  v.strides[1] = ssize(col_stride);
  return make_view(std::move(v));
}

// A vector built here, 1-D.
PyObject* owned(std::vector<int64_t>&& values) {
  ArrayView v;
  v.storage = std::move(values);
  v.data = v.storage.data();
  v.shape[0] = ssize(v.storage.size());
  v.strides[0] = 8;
  return make_view(std::move(v));
}

// A vector built here holding rows x cols values, row-major.
PyObject* owned(std::vector<int64_t>&& values, std::size_t rows, std::size_t cols) {
  ArrayView v;
  v.storage = std::move(values);
  v.data = v.storage.data();
  v.ndim = 2;
  v.shape[0] = ssize(rows);
  v.shape[1] = ssize(cols);
  v.strides[0] = ssize(8 * cols);
  v.strides[1] = 8;
  return make_view(std::move(v));
}

template <class V, class Alloc>
PyObject* column(PyObject* owner, const std::vector<V, Alloc>& values) {
  return column(owner, values.data(), values.size());
}

// Keys (or values) of a flat map's entries, read in place across the pairs.
template <class V>
PyObject* keys_of(PyObject* owner, const FlatMap<int64_t, V>& map) {
  if (map.empty()) return column(owner, static_cast<const int64_t*>(nullptr), 0);
  return column(owner, &map.entries[0].first, map.size(), sizeof(map.entries[0]));
}
PyObject* values_of(PyObject* owner, const FlatMap<int64_t, int64_t>& map) {
  if (map.empty()) return column(owner, static_cast<const int64_t*>(nullptr), 0);
  return column(owner, &map.entries[0].second, map.size(), sizeof(map.entries[0]));
}

// A dict of name -> exporter; any nullptr fails the whole.
bool put(PyObject* dict, const char* name, PyObject* value) {
  Ref held = Ref::steal(value);
  return held && PyDict_SetItemString(dict, name, held.get()) == 0;
}

PyObject* no_dense_supply() {
  PyErr_SetString(PyExc_ValueError,
                  "supply lists do not all hold num_commodities values; no (N, K) table exists");
  return nullptr;
}

PyObject* network_columns(PyObject*, PyObject* arg) noexcept {
  return guard([&]() -> PyObject* {
    const NetworkInstance* inst = nullptr;
    if (!Converter<const NetworkInstance*>::from_py(arg, inst)) return nullptr;
    Ref dict = Ref::steal(PyDict_New());
    if (!dict || !put(dict.get(), "tail", column(arg, inst->tails)) ||
        !put(dict.get(), "head", column(arg, inst->heads)) ||
        !put(dict.get(), "low", column(arg, inst->lows)) ||
        !put(dict.get(), "up", column(arg, inst->ups)) ||
        !put(dict.get(), "cost", column(arg, inst->costs)) ||
        !put(dict.get(), "parallel_index", column(arg, inst->parallel_index)) ||
        !put(dict.get(), "node", column(arg, inst->nodes)) ||
        !put(dict.get(), "supply_node", keys_of(arg, inst->supplies)) ||
        !put(dict.get(), "supply", values_of(arg, inst->supplies))) {
      return nullptr;
    }
    return dict.release();
  });
}

PyObject* data_columns(PyObject*, PyObject* arg) noexcept {
  return guard([&]() -> PyObject* {
    const MultiCommodityData* data = nullptr;
    if (!Converter<const MultiCommodityData*>::from_py(arg, data)) return nullptr;
    const std::size_t e = data->num_edges();
    const std::size_t k = data->num_commodities;
    std::optional<std::vector<int64_t>> supply =
        without_gil([&] { return partition_table(data->supply_partition, k); });
    if (!supply) return no_dense_supply();
    Ref dict = Ref::steal(PyDict_New());
    if (!dict || !put(dict.get(), "capacity", table(arg, data->capacity_table.data(), e, k, 8 * k, 8)) ||
        !put(dict.get(), "cost", table(arg, data->cost_table.data(), e, k, 8 * k, 8)) ||
        !put(dict.get(), "supply_node", keys_of(arg, data->supply_partition)) ||
        !put(dict.get(), "supply", owned(std::move(*supply), data->supply_partition.size(), k)) ||
        !put(dict.get(), "tail", column(arg, data->tails)) ||
        !put(dict.get(), "head", column(arg, data->heads)) ||
        !put(dict.get(), "parallel_index", column(arg, data->indices)) ||
        !put(dict.get(), "up", column(arg, data->ups))) {
      return nullptr;
    }
    return dict.release();
  });
}

// A parsed instance's E x K capacities or costs: in place when every arc was
// read in one layout with the final K, else built.
PyObject* parsed_arc_values(PyObject* owner, const ParsedMulticommodityInstance& parsed,
                            bool capacities) {
  const std::size_t e = parsed.num_edges();
  const std::size_t k = parsed.num_commodities;
  if (e == 0) return table(owner, static_cast<const int64_t*>(nullptr), 0, k, 8 * k, 8);
  if (parsed.segments.size() == 1 && parsed.segments[0].num_commodities == k) {
    const ArcSegment& seg = parsed.segments[0];
    const auto& values = capacities ? parsed.capacity_values : parsed.cost_values;
    const int64_t* first = values.data() + (capacities ? seg.capacity_base : seg.cost_base);
    // A compressed list is one stored value standing for K: a column stride of 0.
    const bool expanded = capacities ? seg.capacities_expanded : seg.costs_expanded;
    return expanded ? table(owner, first, e, k, 8 * k, 8) : table(owner, first, e, k, 8, 0);
  }
  if (!parsed.commodity_major_size() || e * k > static_cast<std::size_t>(PY_SSIZE_T_MAX) / 8) {
    return PyErr_NoMemory();
  }
  std::vector<int64_t> built = without_gil([&] { return parsed_arc_table(parsed, capacities); });
  return owned(std::move(built), e, k);
}

// N x K node amounts: in place when every list holds K values, else refused.
PyObject* parsed_supply(PyObject* owner, const ParsedMulticommodityInstance& parsed) {
  const std::size_t n = parsed.supplies.size();
  const std::size_t k = parsed.num_commodities;
  if (parsed.amount_values.size() != n * k) return no_dense_supply();
  for (std::size_t i = 0; i <= n; ++i) {
    if (parsed.amount_offsets[i] != i * k) return no_dense_supply();
  }
  return table(owner, parsed.amount_values.data(), n, k, 8 * k, 8);
}

PyObject* parsed_columns(PyObject*, PyObject* arg) noexcept {
  return guard([&]() -> PyObject* {
    const ParsedMulticommodityInstance* parsed = nullptr;
    if (!Converter<const ParsedMulticommodityInstance*>::from_py(arg, parsed)) return nullptr;
    Ref dict = Ref::steal(PyDict_New());
    if (!dict || !put(dict.get(), "capacity", parsed_arc_values(arg, *parsed, true)) ||
        !put(dict.get(), "cost", parsed_arc_values(arg, *parsed, false)) ||
        !put(dict.get(), "supply_node", keys_of(arg, parsed->supplies)) ||
        !put(dict.get(), "supply", parsed_supply(arg, *parsed)) ||
        !put(dict.get(), "supply_total", values_of(arg, parsed->supplies)) ||
        !put(dict.get(), "tail", column(arg, parsed->tails)) ||
        !put(dict.get(), "head", column(arg, parsed->heads)) ||
        !put(dict.get(), "parallel_index", column(arg, parsed->parallel_index)) ||
        !put(dict.get(), "up", column(arg, parsed->ups)) ||
        !put(dict.get(), "node", column(arg, parsed->nodes))) {
      return nullptr;
    }
    return dict.release();
  });
}

// A MulticommodityProblem's tables in place: (E,) arc columns, (E, K) costs and
// capacities, (E,) bundle capacities, (N, K) supplies; node ids 1..N are built.
PyObject* problem_columns(PyObject*, PyObject* arg) noexcept {
  return guard([&]() -> PyObject* {
    const MulticommodityProblem* p = nullptr;
    if (!Converter<const MulticommodityProblem*>::from_py(arg, p)) return nullptr;
    const std::size_t e = p->num_arcs();
    const std::size_t k = p->num_commodities;
    const std::size_t n = p->num_nodes;
    std::vector<int64_t> ids = p->node_ids;
    if (ids.empty()) {
      ids.resize(n);
      for (std::size_t i = 0; i < n; ++i) ids[i] = static_cast<int64_t>(i + 1);
    }
    Ref dict = Ref::steal(PyDict_New());
    if (!dict || !put(dict.get(), "tail", column(arg, p->tails)) ||
        !put(dict.get(), "head", column(arg, p->heads)) ||
        !put(dict.get(), "arc_name", column(arg, p->arc_names)) ||
        !put(dict.get(), "cost", table(arg, p->costs.data(), e, k, 8 * k, 8)) ||
        !put(dict.get(), "capacity", table(arg, p->capacities.data(), e, k, 8 * k, 8)) ||
        !put(dict.get(), "bundle", column(arg, p->bundles)) ||
        !put(dict.get(), "supply", table(arg, p->supplies.data(), n, k, 8 * k, 8)) ||
        !put(dict.get(), "node_id", owned(std::move(ids)))) {
      return nullptr;
    }
    return dict.release();
  });
}

template <class T>
PyObject* csr_of(const T& record) {
  Csr csr = without_gil([&] { return build_csr(record.nodes, record.tails, record.heads); });
  Ref dict = Ref::steal(PyDict_New());
  if (!dict || !put(dict.get(), "node", owned(std::move(csr.node))) ||
      !put(dict.get(), "out_indptr", owned(std::move(csr.out.indptr))) ||
      !put(dict.get(), "out_indices", owned(std::move(csr.out.indices))) ||
      !put(dict.get(), "out_arc", owned(std::move(csr.out.arc))) ||
      !put(dict.get(), "in_indptr", owned(std::move(csr.in.indptr))) ||
      !put(dict.get(), "in_indices", owned(std::move(csr.in.indices))) ||
      !put(dict.get(), "in_arc", owned(std::move(csr.in.arc)))) {
    return nullptr;
  }
  return dict.release();
}

PyObject* csr_columns(PyObject*, PyObject* arg) noexcept {
  return guard([&]() -> PyObject* {
    if (Py_IS_TYPE(arg, RecordType<ParsedMulticommodityInstance>::type())) {
      return csr_of(record_of<ParsedMulticommodityInstance>(arg));
    }
    const NetworkInstance* inst = nullptr;
    if (!Converter<const NetworkInstance*>::from_py(arg, inst)) return nullptr;
    return csr_of(*inst);
  });
}

// A one-dimensional C-contiguous int64 buffer held for the length of a call.
class Int64Buffer {
 public:
  Int64Buffer() = default;
  Int64Buffer(const Int64Buffer&) = delete;
  Int64Buffer& operator=(const Int64Buffer&) = delete;
  ~Int64Buffer() {
    if (held_) PyBuffer_Release(&view_);
  }

  // False with TypeError set when `object` exports no such buffer.
  bool acquire(PyObject* object, const char* name) {
    if (PyObject_GetBuffer(object, &view_, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) != 0) {
      PyErr_Clear();
    } else {
      held_ = true;
      const char* format = view_.format == nullptr ? "B" : view_.format;
      // Native order, or little-endian stated on a little-endian machine.
      if (*format == '@' || *format == '=' ||
          (*format == '<' && std::endian::native == std::endian::little)) {
        ++format;
      }
      if (view_.ndim == 1 && view_.itemsize == 8 &&
          (std::strcmp(format, "q") == 0 || std::strcmp(format, "l") == 0)) {
        return true;
      }
    }
    PyErr_Format(PyExc_TypeError, "%s must be a one-dimensional C-contiguous int64 buffer", name);
    return false;
  }

  std::span<const int64_t> values() const {
    return {static_cast<const int64_t*>(view_.buf), static_cast<std::size_t>(view_.shape[0])};
  }

 private:
  Py_buffer view_{};
  bool held_ = false;
};

// _network_from_columns(tails, heads, lows, ups, costs, supply_nodes, supplies,
// num_nodes or None): the NetworkInstance of the equivalent .min file.
PyObject* network_from_columns_py(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
  return guard([&]() -> PyObject* {
    constexpr const char* kNames[] = {"tails", "heads", "lows", "capacities",
                                      "costs", "supply nodes", "supplies"};
    constexpr std::size_t kColumns = std::size(kNames);
    if (nargs != static_cast<Py_ssize_t>(kColumns + 1)) {
      PyErr_SetString(PyExc_TypeError, "_network_from_columns takes 8 arguments");
      return nullptr;
    }
    std::array<Int64Buffer, kColumns> buffers;
    for (std::size_t i = 0; i < kColumns; ++i) {
      if (!buffers[i].acquire(args[i], kNames[i])) return nullptr;
    }
    NetworkColumns columns{buffers[0].values(), buffers[1].values(), buffers[2].values(),
                           buffers[3].values(), buffers[4].values(), buffers[5].values(),
                           buffers[6].values(), std::nullopt};
    if (args[kColumns] != Py_None) {
      int64_t num_nodes = 0;
      if (!Converter<int64_t>::from_py(args[kColumns], num_nodes)) return nullptr;
      columns.num_nodes = num_nodes;
    }
    Result<NetworkInstance> built = without_gil([&] { return network_from_columns(columns); });
    if (!built.ok()) return raise(built.error(), PyExc_ValueError);
    return wrap_record(std::move(built).value());
  });
}

}  // namespace

PyTypeObject* array_view_type(PyObject* module) {
  PyType_Slot slots[] = {
      {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc_view)},
      {Py_bf_getbuffer, reinterpret_cast<void*>(&get_buffer)},
      {0, nullptr},
  };
  PyType_Spec spec = {
      "korvane._ArrayView",
      static_cast<int>(sizeof(ArrayViewObject)),
      0,
      Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE,
      slots,
  };
  return reinterpret_cast<PyTypeObject*>(PyType_FromModuleAndSpec(module, &spec, nullptr));
}

PyMethodDef array_functions[] = {
    {"_network_columns", module_entry<network_columns>(), METH_O, nullptr},
    {"_data_columns", module_entry<data_columns>(), METH_O, nullptr},
    {"_parsed_columns", module_entry<parsed_columns>(), METH_O, nullptr},
    {"_csr", module_entry<csr_columns>(), METH_O, nullptr},
    {"_problem_columns", module_entry<problem_columns>(), METH_O, nullptr},
    {"_network_from_columns", module_entry<network_from_columns_py>(), METH_FASTCALL, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace korvane::py
