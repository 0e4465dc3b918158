// The module functions: each binds and converts its arguments, calls one core
// routine and converts the result or raises.
#include "functions.h"

#include "bind.h"
#include "models/network_instance.h"
#include "py_errors.h"
#include "utils/mappings.h"
#include "utils/min_reader.h"

namespace korvane::py {
namespace {

// Converts a routine's result, or raises its error (`reported` for reported failures).
template <class T, class Convert>
PyObject* finish(Result<T>&& result, PyObject* reported, Convert&& convert) {
  if (!result.ok()) return raise(result.error(), reported);
  return convert(std::move(result).value());
}

template <class Item>
PyObject* mapping_to_py(const NodeMapping<Item>& mapping) {
  using Map = FlatMap<int64_t, std::vector<Item>>;
  return build_tuple(Converter<Map>::to_py(mapping.incoming), Converter<Map>::to_py(mapping.outgoing));
}

// ------------------------------------------------------------ load_min_instance

constexpr const char* kLoadMinInstanceParams[] = {"path"};
constexpr FunctionSpec kLoadMinInstance = {
    "load_min_instance", kLoadMinInstanceParams, 1, 1,
    "load_min_instance(path)\n--\n\nLoads a single-commodity network instance from a DIMACS .min "
    "file.\n\nArgs:\n    path (str): The filesystem path to the .min file.\n\nReturns:\n    "
    "NetworkInstance: An object containing information on the min-cost flow instance.\n\nRaises:\n"
    "    IOError: If the file cannot be read or the format is invalid."};

PyObject* load_min_instance(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                            PyObject* kwnames) noexcept {
  return call(kLoadMinInstance, args, nargsf, kwnames, std::tuple<std::string>{},
              [](const std::string& path) {
                return finish(parse_min(path), PyExc_OSError,
                              [](NetworkInstance&& inst) { return wrap_record(std::move(inst)); });
              });
}

// -------------------------------------------------------- adjacency, incidence

constexpr const char* kMappingParams[] = {"nodes", "edges"};
constexpr FunctionSpec kGetAdjacencyMapping = {
    "get_adjacency_mapping", kMappingParams, 2, 2,
    "get_adjacency_mapping(nodes, edges)\n--\n\nCreates adjacency mapping from nodes and "
    "edges.\n\nArgs: \n    nodes (List[int]): List of node IDs.\n    edges (List[int, int]): List "
    "of edges.\n\nReturns:\n    Tuple[Dict[int, List[int]], Dict[int, List[int]]]: Incoming and "
    "outgoing."};
constexpr FunctionSpec kGetIncidenceMapping = {
    "get_incidence_mapping", kMappingParams, 2, 2,
    "get_incidence_mapping(nodes, edges)\n--\n\nCreates the incidence mapping of the "
    "graph.\n\nArgs:\n    nodes (List[int]): List of node IDs.\n    edges (List[Tuple[int, int, "
    "int]]): List of `(tail, head, index)` triples.\n\nReturns:\n    Tuple[Dict[int, "
    "List[Tuple[int, int, int]]], Dict[int, List[Tuple[int, int, int]]]]: Incoming and outgoing "
    "\narc lists per node."};

PyObject* get_adjacency_mapping_fn(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                                   PyObject* kwnames) noexcept {
  return call(kGetAdjacencyMapping, args, nargsf, kwnames,
              std::tuple<std::vector<int64_t>, std::vector<Pair>>{},
              [](const std::vector<int64_t>& nodes, const std::vector<Pair>& edges) {
                return mapping_to_py(get_adjacency_mapping(nodes, edges));
              });
}

PyObject* get_incidence_mapping_fn(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                                   PyObject* kwnames) noexcept {
  return call(kGetIncidenceMapping, args, nargsf, kwnames,
              std::tuple<std::vector<int64_t>, std::vector<ArcKey>>{},
              [](const std::vector<int64_t>& nodes, const std::vector<ArcKey>& edges) {
                return mapping_to_py(get_incidence_mapping(nodes, edges));
              });
}

// A fast-call-with-keywords function as stored in a PyMethodDef.
PyCFunction fastcall(PyCFunctionFastWithKeywords fn) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn));
}

}  // namespace

PyMethodDef load_min_instance_def = {kLoadMinInstance.name, fastcall(load_min_instance),
                                     METH_FASTCALL | METH_KEYWORDS, kLoadMinInstance.doc};
PyMethodDef get_adjacency_mapping_def = {kGetAdjacencyMapping.name,
                                         fastcall(get_adjacency_mapping_fn),
                                         METH_FASTCALL | METH_KEYWORDS, kGetAdjacencyMapping.doc};
PyMethodDef get_incidence_mapping_def = {kGetIncidenceMapping.name,
                                         fastcall(get_incidence_mapping_fn),
                                         METH_FASTCALL | METH_KEYWORDS, kGetIncidenceMapping.doc};

}  // namespace korvane::py
