// The public writers, the conversions into a problem, and streamed generation.
#include "api/facade.h"

namespace korvane {
inline namespace v0 {
namespace {

inner::CoreCompression core_compression(Compression compression) {
  switch (compression) {
    case Compression::gzip: return inner::CoreCompression::kGzip;
    case Compression::zstd: return inner::CoreCompression::kZstd;
    case Compression::none: break;
  }
  return inner::CoreCompression::kNone;
}

bool known(Compression compression) {
  return compression == Compression::none || compression == Compression::gzip ||
         compression == Compression::zstd;
}

Error unknown_compression() {
  return Error{ErrorKind::value_error, "compression must be 0 (none), 1 (gzip) or 2 (zstd)"};
}

}  // namespace

Result<void> write_multi_commodity(std::string_view path, const NetworkInstance& network,
                                   const MultiCommodityData& data, const RunOptions& options) {
  return run_call(options, [&] {
    return finish_void(inner::export_to_dimacs(path, network.impl().record, data.impl().record),
                       ErrorKind::os_error);
  });
}

Result<void> write_mnetgen(const FourFileParts& parts, const MulticommodityProblem& problem,
                           Compression compression, const RunOptions& options) {
  if (!known(compression)) return unknown_compression();
  return run_call(options, [&] {
    return finish_void(inner::write_mnetgen(core_parts(parts), problem.impl().record,
                                            core_compression(compression)),
                       ErrorKind::os_error);
  });
}

Result<MulticommodityProblem> to_problem(const NetworkInstance& network,
                                         const MultiCommodityData* data) {
  return run_call(RunOptions{}, [&]() -> Result<MulticommodityProblem> {
    return finish_record<MulticommodityProblem>(
        inner::problem_from_network(network.impl().record,
                                    data == nullptr ? nullptr : &data->impl().record),
        ErrorKind::os_error);
  });
}

Result<MulticommodityProblem> to_problem(const ParsedMulticommodityInstance& parsed) {
  return run_call(RunOptions{}, [&]() -> Result<MulticommodityProblem> {
    return finish_record<MulticommodityProblem>(inner::problem_from_parsed(parsed.impl().record),
                                                ErrorKind::os_error);
  });
}

Result<void> generate_to_file(std::string_view path, const NetworkInstance& network,
                              const GenerationParams& params, const RunOptions& options,
                              std::size_t window_arcs) {
  return run_call(options, [&] {
    return finish_void(inner::generate_to_dimacs(path, network.impl().record, params, window_arcs),
                       ErrorKind::os_error);
  });
}

Result<void> generate_to_mnetgen(const FourFileParts& parts, const NetworkInstance& network,
                                 const GenerationParams& params, Compression compression,
                                 const RunOptions& options, std::size_t window_arcs) {
  if (!known(compression)) return unknown_compression();
  return run_call(options, [&] {
    return finish_void(inner::generate_to_mnetgen(core_parts(parts), network.impl().record, params,
                                                  core_compression(compression), window_arcs),
                       ErrorKind::os_error);
  });
}

}  // namespace v0
}  // namespace korvane
