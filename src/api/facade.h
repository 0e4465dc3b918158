// The C++ API's side of the core: every facade file includes this header first.
//
// The core and the public API share the namespace korvane (the API in its inline
// namespace v0), and some names on both sides are alike (Error, Result,
// NetworkInstance, FourFileParts, read_mnetgen, ...). So the core's headers are
// all read before the public ones, and the core's names are fixed here, in
// korvane::inner, while they are still the only ones; facade code, inside
// korvane::v0, names the core only through inner::.
#pragma once

#include <cerrno>
#include <exception>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>

#include "core/base/cancel.h"
#include "core/base/parallel.h"
#include "core/base/result.h"
#include "core/formats/four_file_reader.h"
#include "core/formats/mc_reader.h"
#include "core/formats/mc_writer.h"
#include "core/formats/min_reader.h"
#include "core/formats/mnetgen_writer.h"
#include "core/generate/generate.h"
#include "core/generate/heterogeneity.h"
#include "core/generate/partition.h"
#include "core/generate/stream.h"
#include "core/io/file_io.h"
#include "core/mnetgen/mnetgen.h"
#include "core/netgen/netgen_writer.h"
#include "core/records/multi_commodity_data.h"
#include "core/records/multicommodity_problem.h"
#include "core/records/network_instance.h"
#include "core/records/parsed_instance.h"
#include "core/records/problem_conversion.h"

namespace korvane::inner {

using CoreError = ::korvane::Error;
using CoreErrorKind = ::korvane::ErrorKind;
template <class T>
using CoreResult = ::korvane::Result<T>;
using CoreNetwork = ::korvane::NetworkInstance;
using CoreData = ::korvane::MultiCommodityData;
using CoreParsed = ::korvane::ParsedMulticommodityInstance;
using CoreProblem = ::korvane::MulticommodityProblem;
using CoreSource = ::korvane::ProblemSource;
using CoreParts = ::korvane::FourFileParts;
using CoreJlfKind = ::korvane::JlfKind;
using CoreCompression = ::korvane::Compression;
using CorePartition = ::korvane::Partition;
using CoreMnetgenParams = ::korvane::MnetgenParams;
using CoreSupplies = ::korvane::Supplies;
namespace netgen = ::korvane::netgen;
using ::korvane::StopTokenScope;
using ::korvane::ThreadCountScope;

using ::korvane::compute_commodity_demand_heterogeneity;
using ::korvane::export_to_dimacs;
using ::korvane::generate_mnetgen;
using ::korvane::generate_multi_commodity_data;
using ::korvane::generate_to_dimacs;
using ::korvane::generate_to_mnetgen;
using ::korvane::parse_min;
using ::korvane::parse_multi_min;
using ::korvane::problem_from_network;
using ::korvane::problem_from_parsed;
using ::korvane::read_jlf;
using ::korvane::read_mnetgen;
using ::korvane::split_supply_and_demand_beta_binomial;
using ::korvane::split_supply_and_demand_spread;
using ::korvane::split_supply_and_demand_uniform;
using ::korvane::write_mnetgen;
using ::korvane::write_mnetgen_instance;

}  // namespace korvane::inner

#include "korvane/korvane.hpp"

namespace korvane {
inline namespace v0 {

// Each public record holds the core's record, moved in whole: the one copy.
struct NetworkInstance::Impl {
  inner::CoreNetwork record;
};
struct MultiCommodityData::Impl {
  inner::CoreData record;
};
struct ParsedMulticommodityInstance::Impl {
  inner::CoreParsed record;
};
struct MulticommodityProblem::Impl {
  inner::CoreProblem record;
};

template <class Public, class Core>
Public wrap(Core&& record) {
  using Impl = typename Public::Impl;
  return Public(std::make_shared<const Impl>(Impl{std::move(record)}));
}

// A core error as the API's: `reported` is the class the Python function of the
// same routine raises for a reported failure.
inline Error from_core(const inner::CoreError& error, ErrorKind reported) {
  ErrorKind kind = reported;
  switch (error.kind) {
    case inner::CoreErrorKind::kReported: kind = reported; break;
    case inner::CoreErrorKind::kInvalid: kind = ErrorKind::value_error; break;
    case inner::CoreErrorKind::kInternal: kind = ErrorKind::internal_error; break;
    case inner::CoreErrorKind::kCancelled: kind = ErrorKind::cancelled; break;
  }
  return Error{kind, error.message, error.note};
}

// Runs one core call for the API: a stop already requested ends it before any
// work; the thread count and the stop token hold for the call's duration; the
// exceptions the core may throw become the errors Python raises for them
// (MemoryError, OSError "[Errno N] text" for a thread that cannot start, the
// internal error for anything else), so none leaves the API.
template <class Body>
auto run_call(const RunOptions& options, Body&& body) noexcept -> decltype(body()) {
  if (options.stop.stop_requested()) return Error{ErrorKind::cancelled, {}};
  try {
    const inner::ThreadCountScope threads(options.threads);
    const inner::StopTokenScope stop(options.stop);
    return body();
  } catch (const std::bad_alloc&) {
    return Error{ErrorKind::memory_error, {}};
  } catch (const std::length_error&) {
    return Error{ErrorKind::memory_error, {}};
  } catch (const std::system_error& e) {
    if (e.code().category() == std::generic_category() ||
        e.code().category() == std::system_category()) {
      return Error{ErrorKind::os_error,
                   "[Errno " + std::to_string(e.code().value()) + "] " + e.code().message()};
    }
    return Error{ErrorKind::internal_error, e.what()};
  } catch (const std::exception& e) {
    return Error{ErrorKind::internal_error, e.what()};
  } catch (...) {
    return Error{ErrorKind::internal_error, "unknown native failure"};
  }
}

// A core Result<Core> as the API's Result<Public>, the record wrapped.
template <class Public, class Core>
Result<Public> finish_record(inner::CoreResult<Core>&& result, ErrorKind reported) {
  if (!result.ok()) return from_core(result.error(), reported);
  return wrap<Public>(std::move(result).value());
}

inline Result<void> finish_void(const inner::CoreResult<void>& result, ErrorKind reported) {
  if (!result.ok()) return from_core(result.error(), reported);
  return {};
}

inline inner::CoreParts core_parts(const FourFileParts& parts) {
  return inner::CoreParts{parts.nod, parts.arc, parts.sup, parts.mut};
}

}  // namespace v0
}  // namespace korvane
