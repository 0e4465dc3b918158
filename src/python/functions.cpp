// The module functions: each binds and converts its arguments, calls one core
// routine without the interpreter lock (its inputs are native copies or immutable
// records the caller's arguments keep alive) and converts the result or raises.
#include "python/functions.h"

#include "python/bind.h"
#include "python/gc_tracking.h"
#include "python/gil.h"
#include "core/generate/generate.h"
#include "core/generate/heterogeneity.h"
#include "core/generate/partition.h"
#include "core/records/multi_commodity_data.h"
#include "core/records/network_instance.h"
#include "python/py_errors.h"
#include "python/record_type.h"
#include "core/records/parsed_instance.h"
#include "core/graph/mappings.h"
#include "core/formats/mc_reader.h"
#include "core/formats/mc_writer.h"
#include "core/formats/min_reader.h"

namespace korvane::py {
namespace {

// Converts a routine's result, or raises its error (`reported` for reported failures).
template <class T, class Convert>
PyObject* finish(Result<T>&& result, PyObject* reported, Convert&& convert) {
  if (!result.ok()) return raise(result.error(), reported);
  return convert(std::move(result).value());
}

// Wraps a routine's record in a new Python object, or raises its error.
template <class T>
PyObject* finish_record(Result<T>&& result, PyObject* reported) {
  return finish(std::move(result), reported, [](T&& record) { return wrap_record(std::move(record)); });
}

template <class Item>
PyObject* mapping_to_py(const NodeMapping<Item>& mapping) {
  using Map = FlatMap<int64_t, std::vector<Item>>;
  DeferredTracking deferred;
  return deferred.finish(
      build_tuple(Converter<Map>::to_py(mapping.incoming), Converter<Map>::to_py(mapping.outgoing)));
}

// ------------------------------------------------------------ load_min_instance

constexpr const char* kLoadMinInstanceParams[] = {"path"};
constexpr Signature kLoadMinInstance{
    "load_min_instance", kLoadMinInstanceParams, 1,
    "load_min_instance(path)\n--\n\nLoads a single-commodity network instance from a DIMACS .min "
    "file.\n\nArgs:\n    path (str): The filesystem path to the .min file.\n\nReturns:\n    "
    "NetworkInstance: An object containing information on the min-cost flow instance.\n\nRaises:\n"
    "    IOError: If the file cannot be read or the format is invalid."};

PyObject* load_min_instance(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                            PyObject* kwnames) noexcept {
  return call<kLoadMinInstance>(args, nargsf, kwnames, std::tuple<std::string>{},
              [](const std::string& path) {
                return finish_record(without_gil([&] { return parse_min(path); }), PyExc_OSError);
              });
}

// ------------------------------------------------------------- partitioning

PyObject* partition_to_py(Result<Partition>&& result) {
  DeferredTracking deferred;
  return deferred.finish(finish(std::move(result), PyExc_RuntimeError,
                                [](const Partition& p) { return Converter<Partition>::to_py(p); }));
}

constexpr const char* kSplitUniformParams[] = {"data", "num_commodities"};
constexpr Signature kSplitUniform{
    "split_supplies_uniform", kSplitUniformParams, 2,
    "split_supplies_uniform(data, num_commodities)\n--\n\nPartitions nodal supply/demand into K "
    "commodities using a uniform distribution.\n\nArgs:\n    data (Dict[int, int]): A mapping of "
    "node IDs to their total supply/demand.\n    num_commodities (int): The number of "
    "commodities.\n\nReturns:\n    Dict[int, List[int]]: A mapping where each node ID points to a "
    "list of the commodity supplies/demands"};

PyObject* split_supplies_uniform(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                                 PyObject* kwnames) noexcept {
  return call<kSplitUniform>(args, nargsf, kwnames, std::tuple<Supplies, uint64_t>{},
              [](const Supplies& data, uint64_t k) {
                return partition_to_py(without_gil([&] { return split_supply_and_demand_uniform(data, k); }));
              });
}

constexpr const char* kSplitSpreadParams[] = {"data", "num_commodities", "seed"};
constexpr Signature kSplitSpread{
    "split_supplies_spread", kSplitSpreadParams, 3,
    "split_supplies_spread(data, num_commodities, seed)\n--\n\nPartitions nodal supply/demand into "
    "K commodities using a spread distribution.\n\nArgs:\n    data (Dict[int, int]): A mapping of "
    "node IDs to their total supply/demand.\n    num_commodities (int): The number of "
    "commodities.\n    seed (int): Seed.\n\nReturns:\n    Dict[int, List[int]]: A mapping where "
    "each node ID points to a list of the commodity supplies/demands."};

PyObject* split_supplies_spread(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                                PyObject* kwnames) noexcept {
  return call<kSplitSpread>(args, nargsf, kwnames, std::tuple<Supplies, uint64_t, uint64_t>{},
              [](const Supplies& data, uint64_t k, uint64_t seed) {
                return partition_to_py(
                    without_gil([&] { return split_supply_and_demand_spread(data, k, seed); }));
              });
}

constexpr const char* kSplitBetaBinomialParams[] = {"data", "num_commodities",
                                                    "concentration_param", "seed"};
constexpr Signature kSplitBetaBinomial{
    "split_supplies_beta_binomial", kSplitBetaBinomialParams, 2,
    "split_supplies_beta_binomial(data, num_commodities, concentration_param=3.0, seed=42)\n--\n\n"
    "Partitions nodal supply/demand into K commodities using a beta-binomial "
    "distribution.\n\nArgs:\n    data (Dict[int, int]): A mapping of node IDs to the total "
    "supply/demand.\n    num_commodities (int): The number of commodities.\n    "
    "concentration_param (float): Concentration parameter for Beta-Binomial distribution. Defaults "
    "to 3.0.\n    seed (int): Seed.\n\nReturns:\n    Dict[int, List[int]]: A mapping where each "
    "node ID points to a list of the commodity supplies / demands."};

// The arguments as converted, holding each optional parameter's default: the one
// place a default is written (see defaults_table below).
constexpr GenerationParams kDefaults{};
const std::tuple<Supplies, uint64_t, double, uint64_t> kSplitBetaBinomialDefaults{
    {}, 0, kDefaults.concentration_param, kDefaults.seed};

PyObject* split_supplies_beta_binomial(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                                       PyObject* kwnames) noexcept {
  return call<kSplitBetaBinomial>(args, nargsf, kwnames, kSplitBetaBinomialDefaults,
              [](const Supplies& data, uint64_t k, double c, uint64_t seed) {
                return partition_to_py(without_gil(
                    [&] { return split_supply_and_demand_beta_binomial(data, k, seed, c); }));
              });
}

// ------------------------------------------------------------- heterogeneity

constexpr const char* kHeterogeneityParams[] = {"partition", "original"};
constexpr Signature kHeterogeneity{
    "compute_commodity_demand_heterogeneity", kHeterogeneityParams, 2,
    "compute_commodity_demand_heterogeneity(partition, original)\n--\n\nComputes the "
    "commodity-demand heterogeneity H(B) of a given partition.\n\nThe metric is defined as the "
    "average total variation distance between the commodity-share vector of each active node and "
    "the uniform distribution.\nIts value lies in [0, 1].\n\nArgs: \n    partition (Dict[int, "
    "List[int]]): Mapping from node ID to commodity demands.\n    original (Dict[int, int]): "
    "Original single-commodity demands.\n\nReturns:\n    float: Commodity-demand heterogeneity in "
    "[0,1]."};

PyObject* compute_heterogeneity(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                                PyObject* kwnames) noexcept {
  return call<kHeterogeneity>(args, nargsf, kwnames, std::tuple<Partition, Supplies>{},
              [](const Partition& partition, const Supplies& original) {
                return Converter<double>::to_py(without_gil(
                    [&] { return compute_commodity_demand_heterogeneity(partition, original); }));
              });
}

// ---------------------------------------------------------------- generation

constexpr const char* kGenerateParams[] = {
    "instance", "num_commodities", "method", "randomize_caps", "cap_a", "cap_b", "randomize_costs",
    "cost_a", "cost_b", "concentration_param", "cap_zero", "cap_zero_param", "seed"};
constexpr Signature kGenerate{
    "generate_multi_commodity_data", kGenerateParams, 3,
    "generate_multi_commodity_data(instance, num_commodities, method, randomize_caps=False, "
    "cap_a=0.8, cap_b=1.0, randomize_costs=False, cost_a=0.8, cost_b=1.2, "
    "concentration_param=3.0, cap_zero=False, cap_zero_param=0.0, seed=42)\n--\n\n"
    "Generates a full multi-commodity dataset from a single-commodity instance.\n\n"
    "This function handles the partitioning of supplies and the optional randomization of\n"
    "arc capacities and costs across commodities.\n\n"
    "Args:\n"
    "    instance (NetworkInstance): The base single-commodity network.\n"
    "    num_commodities (int): The number of commodities.\n"
    "    method (int): Partitioning method. 0 = Spread, 1 = Uniform, 2 = Beta-Binomial.\n"
    "    randomize_caps (bool, optional): If True, varies capacities per commodity. Default to "
    "False.\n"
    "    cap_a (float, optional): Lower multiplier for capacity randomization. Defaults to 0.8.\n"
    "    cap_b (float, optional): Upper multiplier for capacity randomization. Defaults to 1.0.\n"
    "    randomize_costs (bool, optional): If True, varies costs per commodity. Defaults to "
    "False.\n"
    "    cost_a (float, optional): Lower multiplier for cost randomization. Defaults to 0.8.\n"
    "    cost_b (float, optional): Upper multiplier for cost randomization. Defaults to 1.2.\n"
    "    concentation_param (float, optional): Concentration parameter for Beta-Binomial "
    "distribution. Defaults to 3.0.\n"
    "    cap_zero (bool, optional): If True, set a fraction of individual capacities to zero. "
    "Defaults to False.\n"
    "    cap_zero_param (float, optional): Fraction of arcs excluded per commmodity. Defaults to "
    "0.0.\n"
    "    seed (int, optional): Seed.\n\n"
    "If cap_zero is True and cap_zero_param > 0, at least one arc per commodity is excluded.\n\n"
    "Returns:\n"
    "    MultiCommodityData: The generated multi-commodity data."};

const std::tuple<const NetworkInstance*, uint64_t, int64_t, bool, double, double, bool, double,
                 double, double, bool, double, uint64_t>
    kGenerateDefaults{nullptr,
                      kDefaults.num_commodities,
                      kDefaults.method,
                      kDefaults.randomize_caps,
                      kDefaults.cap_a,
                      kDefaults.cap_b,
                      kDefaults.randomize_costs,
                      kDefaults.cost_a,
                      kDefaults.cost_b,
                      kDefaults.concentration_param,
                      kDefaults.cap_zero,
                      kDefaults.cap_zero_param,
                      kDefaults.seed};

PyObject* generate_multi_commodity_data_fn(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                                           PyObject* kwnames) noexcept {
  return call<kGenerate>(args, nargsf, kwnames, kGenerateDefaults,
              [](const NetworkInstance* instance, uint64_t k, int64_t method, bool randomize_caps,
                 double cap_a, double cap_b, bool randomize_costs, double cost_a, double cost_b,
                 double concentration, bool cap_zero, double cap_zero_param, uint64_t seed) {
                const GenerationParams params{.num_commodities = k,
                                              .method = method,
                                              .randomize_caps = randomize_caps,
                                              .cap_a = cap_a,
                                              .cap_b = cap_b,
                                              .randomize_costs = randomize_costs,
                                              .cost_a = cost_a,
                                              .cost_b = cost_b,
                                              .concentration_param = concentration,
                                              .cap_zero = cap_zero,
                                              .cap_zero_param = cap_zero_param,
                                              .seed = seed};
                return finish_record(without_gil([&] { return generate_multi_commodity_data(*instance, params); }),
                                     PyExc_RuntimeError);
              });
}

// ------------------------------------------------------ multi-commodity files

constexpr const char* kSaveParams[] = {"path", "instance", "multi_data"};
constexpr Signature kSave{
    "save_multi_commodity_instance", kSaveParams, 3,
    "save_multi_commodity_instance(path, instance, multi_data)\n--\n\nExports a multi-commodity "
    "instance to a DIMACS-formatted file.\n\nUses a specialized hybrid format that compresses "
    "non-randomized arc data while allowing\nexpanded per-commodity values when "
    "necessary.\n\nArgs:\n    path (str): Export destination path.\n    instance "
    "(NetworkInstance): The base network topology.\n    multi_data (MultiCommodityData): The "
    "multi-commodity data.\n"};

PyObject* save_multi_commodity_instance(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                                        PyObject* kwnames) noexcept {
  using Args = std::tuple<std::string, const NetworkInstance*, const MultiCommodityData*>;
  return call<kSave>(args, nargsf, kwnames, Args{{}, nullptr, nullptr},
              [](const std::string& path, const NetworkInstance* instance,
                 const MultiCommodityData* data) -> PyObject* {
                const Result<void> written =
                    without_gil([&] { return export_to_dimacs(path, *instance, *data); });
                if (!written.ok()) return raise(written.error(), PyExc_OSError);
                Py_RETURN_NONE;
              });
}

constexpr const char* kLoadMultiParams[] = {"path"};
constexpr Signature kLoadMulti{
    "load_multi_commodity_instance", kLoadMultiParams, 1,
    "load_multi_commodity_instance(path)\n--\n\nLoads and parses a multi-commodity DIMACS file "
    "into a multicommodity-instance.\n\nThis function reads the specialized DIMACS format "
    "generated by this package.\nIt reconstructs the multicommodity instance.\n\nArgs:\n    path "
    "(str): The filesystem path to the multi-commodity .min file.\n\nReturns:\n    "
    "ParsedMulticommodityInstance: An object containing multi-commodity data.\n\nRaises:\n    "
    "RuntimeError: If the file header is inconsistent or the arc data is malformed.\n    IOError: "
    "If the file cannot be accessed."};

PyObject* load_multi_commodity_instance(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                                        PyObject* kwnames) noexcept {
  return call<kLoadMulti>(args, nargsf, kwnames, std::tuple<std::string>{},
              [](const std::string& path) {
                return finish_record(without_gil([&] { return parse_multi_min(path); }), PyExc_RuntimeError);
              });
}

// -------------------------------------------------------- adjacency, incidence

constexpr const char* kMappingParams[] = {"nodes", "edges"};
constexpr Signature kGetAdjacencyMapping{
    "get_adjacency_mapping", kMappingParams, 2,
    "get_adjacency_mapping(nodes, edges)\n--\n\nCreates adjacency mapping from nodes and "
    "edges.\n\nArgs: \n    nodes (List[int]): List of node IDs.\n    edges (List[int, int]): List "
    "of edges.\n\nReturns:\n    Tuple[Dict[int, List[int]], Dict[int, List[int]]]: Incoming and "
    "outgoing."};
constexpr Signature kGetIncidenceMapping{
    "get_incidence_mapping", kMappingParams, 2,
    "get_incidence_mapping(nodes, edges)\n--\n\nCreates the incidence mapping of the "
    "graph.\n\nArgs:\n    nodes (List[int]): List of node IDs.\n    edges (List[Tuple[int, int, "
    "int]]): List of `(tail, head, index)` triples.\n\nReturns:\n    Tuple[Dict[int, "
    "List[Tuple[int, int, int]]], Dict[int, List[Tuple[int, int, int]]]]: Incoming and outgoing "
    "\narc lists per node."};

PyObject* get_adjacency_mapping_fn(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                                   PyObject* kwnames) noexcept {
  return call<kGetAdjacencyMapping>(args, nargsf, kwnames,
              std::tuple<std::vector<int64_t>, std::vector<Pair>>{},
              [](const std::vector<int64_t>& nodes, const std::vector<Pair>& edges) {
                return mapping_to_py(without_gil([&] { return get_adjacency_mapping(nodes, edges); }));
              });
}

PyObject* get_incidence_mapping_fn(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                                   PyObject* kwnames) noexcept {
  return call<kGetIncidenceMapping>(args, nargsf, kwnames,
              std::tuple<std::vector<int64_t>, std::vector<ArcKey>>{},
              [](const std::vector<int64_t>& nodes, const std::vector<ArcKey>& edges) {
                return mapping_to_py(without_gil([&] { return get_incidence_mapping(nodes, edges); }));
              });
}

// {parameter: default} of a function's optional parameters, from its defaults.
template <const auto& kSignature, class... P>
bool add_defaults(PyObject* table, const std::tuple<P...>& defaults) {
  Ref entry = Ref::steal(PyDict_New());
  if (!entry) return false;
  const bool ok = [&]<std::size_t... I>(std::index_sequence<I...>) {
    auto one = [&]<std::size_t J>(std::integral_constant<std::size_t, J>) {
      if constexpr (J < kSignature.num_required) {
        return true;
      } else {
        using T = std::tuple_element_t<J, std::tuple<P...>>;
        Ref value = Ref::steal(Converter<T>::to_py(std::get<J>(defaults)));
        return value && PyDict_SetItemString(entry.get(), kSignature.params[J], value.get()) == 0;
      }
    };
    return (one(std::integral_constant<std::size_t, I>{}) && ...);
  }(std::index_sequence_for<P...>());
  return ok && PyDict_SetItemString(table, kSignature.name, entry.get()) == 0;
}

// The method table entry of a fast-call-with-keywords function, run in a scope
// on its module's state (module_state.h).
template <auto Fn, std::size_t N>
PyMethodDef method_def(const Signature<N>& signature) {
  return {signature.name, module_entry<Fn>(), METH_FASTCALL | METH_KEYWORDS, signature.doc};
}

}  // namespace

PyObject* defaults_table() {
  Ref table = Ref::steal(PyDict_New());
  if (!table || !add_defaults<kSplitBetaBinomial>(table.get(), kSplitBetaBinomialDefaults) ||
      !add_defaults<kGenerate>(table.get(), kGenerateDefaults)) {
    return nullptr;
  }
  return table.release();
}

PyMethodDef load_min_instance_def = method_def<load_min_instance>(kLoadMinInstance);
PyMethodDef split_supplies_uniform_def = method_def<split_supplies_uniform>(kSplitUniform);
PyMethodDef split_supplies_spread_def = method_def<split_supplies_spread>(kSplitSpread);
PyMethodDef split_supplies_beta_binomial_def = method_def<split_supplies_beta_binomial>(kSplitBetaBinomial);
PyMethodDef compute_commodity_demand_heterogeneity_def = method_def<compute_heterogeneity>(kHeterogeneity);
PyMethodDef generate_multi_commodity_data_def = method_def<generate_multi_commodity_data_fn>(kGenerate);
PyMethodDef save_multi_commodity_instance_def = method_def<save_multi_commodity_instance>(kSave);
PyMethodDef load_multi_commodity_instance_def = method_def<load_multi_commodity_instance>(kLoadMulti);
PyMethodDef get_adjacency_mapping_def = method_def<get_adjacency_mapping_fn>(kGetAdjacencyMapping);
PyMethodDef get_incidence_mapping_def = method_def<get_incidence_mapping_fn>(kGetIncidenceMapping);

}  // namespace korvane::py
