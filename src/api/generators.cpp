// The public NETGEN and Mnetgen generators: the public parameter structs as the
// core's, one core call each, its errors as Python raises them.
#include "api/facade.h"

namespace korvane {
inline namespace v0 {
namespace {

// The limit checks korvane.generators makes before the generator's own.
Result<inner::netgen::Limits> netgen_limits(const NetgenLimits& limits) {
  const auto check = [](const char* name, int64_t value) -> Result<void> {
    if (value >= 1 && value <= inner::netgen::kHardMaxNodes) return {};
    return Error{ErrorKind::value_error, std::string(name) + ": must be between 1 and " +
                                             std::to_string(inner::netgen::kHardMaxNodes) +
                                             ", got " + std::to_string(value)};
  };
  static_assert(inner::netgen::kHardMaxNodes == inner::netgen::kHardMaxArcs);
  if (Result<void> nodes = check("max_nodes", limits.max_nodes); !nodes) return nodes.error();
  if (Result<void> arcs = check("max_arcs", limits.max_arcs); !arcs) return arcs.error();
  return inner::netgen::Limits{.max_nodes = limits.max_nodes, .max_arcs = limits.max_arcs};
}

inner::netgen::Params netgen_params(const NetgenParams& p) {
  return inner::netgen::Params{.seed = p.seed,
                               .problem = p.problem,
                               .nodes = p.nodes,
                               .sources = p.sources,
                               .sinks = p.sinks,
                               .arcs = p.arcs,
                               .min_cost = p.min_cost,
                               .max_cost = p.max_cost,
                               .supply = p.supply,
                               .transshipment_sources = p.transshipment_sources,
                               .transshipment_sinks = p.transshipment_sinks,
                               .max_cost_percent = p.max_cost_percent,
                               .capacitated_percent = p.capacitated_percent,
                               .min_capacity = p.min_capacity,
                               .max_capacity = p.max_capacity};
}

inner::CoreMnetgenParams mnetgen_params(const MnetgenParams& p) {
  return inner::CoreMnetgenParams{.iseed = p.seed,
                                  .nprob = p.problem_number,
                                  .nodes = p.num_nodes,
                                  .dens = p.min_lines,
                                  .nsorc = p.num_sources,
                                  .nsink = p.num_sinks,
                                  .ncomm = p.num_commodities,
                                  .ntsorc = p.num_transshipment_sources,
                                  .ntsink = p.num_transshipment_sinks,
                                  .lchain = p.max_chain_length,
                                  .mincst = p.min_cost,
                                  .maxcst = p.max_cost,
                                  .minsup = p.min_supply,
                                  .maxsup = p.max_supply,
                                  .minbnd = p.min_bound,
                                  .maxbnd = p.max_bound,
                                  .mincap = p.min_bundle_capacity,
                                  .maxcap = p.max_bundle_capacity,
                                  .bhicst = p.high_cost_percent,
                                  .bbnd = p.bounded_percent,
                                  .bcap = p.bundled_percent};
}

// The compression, or false for a value outside the enumeration.
bool core_compression(Compression compression, inner::CoreCompression& out) {
  switch (compression) {
    case Compression::none: out = inner::CoreCompression::kNone; return true;
    case Compression::gzip: out = inner::CoreCompression::kGzip; return true;
    case Compression::zstd: out = inner::CoreCompression::kZstd; return true;
  }
  return false;
}

Error unknown_compression() {
  return Error{ErrorKind::value_error, "compression must be 0 (none), 1 (gzip) or 2 (zstd)"};
}

}  // namespace

Result<NetworkInstance> netgen_instance(const NetgenParams& params, const RunOptions& options,
                                        const NetgenLimits& limits) {
  Result<inner::netgen::Limits> bounds = netgen_limits(limits);
  if (!bounds) return bounds.error();
  return run_call(options, [&]() -> Result<NetworkInstance> {
    return finish_record<NetworkInstance>(
        inner::netgen::netgen_instance(netgen_params(params), bounds.value()), ErrorKind::os_error);
  });
}

Result<void> write_netgen(std::string_view path, const NetgenParams& params,
                          Compression compression, const RunOptions& options,
                          const NetgenLimits& limits) {
  Result<inner::netgen::Limits> bounds = netgen_limits(limits);
  if (!bounds) return bounds.error();
  inner::CoreCompression how{};
  if (!core_compression(compression, how)) return unknown_compression();
  return run_call(options, [&]() -> Result<void> {
    const inner::CoreResult<uint64_t> written =
        inner::netgen::write_netgen(path, netgen_params(params), bounds.value(), how);
    if (!written.ok()) return from_core(written.error(), ErrorKind::os_error);
    return {};
  });
}

Result<MulticommodityProblem> mnetgen_problem(const MnetgenParams& params,
                                              const RunOptions& options) {
  return run_call(options, [&]() -> Result<MulticommodityProblem> {
    return finish_record<MulticommodityProblem>(inner::generate_mnetgen(mnetgen_params(params)),
                                                ErrorKind::os_error);
  });
}

Result<void> write_mnetgen_instance(std::string_view base, const MnetgenParams& params,
                                    Compression compression, const RunOptions& options) {
  inner::CoreCompression how{};
  if (!core_compression(compression, how)) return unknown_compression();
  return run_call(options, [&]() -> Result<void> {
    const char* suffix = compression == Compression::gzip   ? ".gz"
                         : compression == Compression::zstd ? ".zst"
                                                            : "";
    const std::string stem(base);
    const inner::CoreParts parts{stem + ".nod" + suffix, stem + ".arc" + suffix,
                                 stem + ".sup" + suffix, stem + ".mut" + suffix};
    return finish_void(inner::write_mnetgen_instance(parts, mnetgen_params(params), how),
                       ErrorKind::os_error);
  });
}

}  // namespace v0
}  // namespace korvane
