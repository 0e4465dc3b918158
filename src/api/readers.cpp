// The public readers: one core reader each, under run_call, its errors mapped
// as the Python function of the same reader maps them.
#include "api/facade.h"

namespace korvane {
inline namespace v0 {

Result<NetworkInstance> read_min(std::string_view path, const RunOptions& options) {
  return run_call(options, [&]() -> Result<NetworkInstance> {
    return finish_record<NetworkInstance>(inner::parse_min(path), ErrorKind::os_error);
  });
}

Result<ParsedMulticommodityInstance> read_multi_commodity(std::string_view path,
                                                          const RunOptions& options) {
  return run_call(options, [&]() -> Result<ParsedMulticommodityInstance> {
    return finish_record<ParsedMulticommodityInstance>(inner::parse_multi_min(path),
                                                       ErrorKind::runtime_error);
  });
}

FourFileParts parts_of(std::string_view base) {
  const std::string b(base);
  return FourFileParts{b + ".nod", b + ".arc", b + ".sup", b + ".mut"};
}

Result<MulticommodityProblem> read_mnetgen(const FourFileParts& parts, const RunOptions& options) {
  return run_call(options, [&]() -> Result<MulticommodityProblem> {
    return finish_record<MulticommodityProblem>(inner::read_mnetgen(core_parts(parts)),
                                                ErrorKind::os_error);
  });
}

Result<MulticommodityProblem> read_jlf(const FourFileParts& parts, JlfKind kind,
                                       const RunOptions& options) {
  inner::CoreJlfKind core_kind = inner::CoreJlfKind::kPsp;
  switch (kind) {
    case JlfKind::psp: core_kind = inner::CoreJlfKind::kPsp; break;
    case JlfKind::osp: core_kind = inner::CoreJlfKind::kOsp; break;
    case JlfKind::ods: core_kind = inner::CoreJlfKind::kOds; break;
    default: return Error{ErrorKind::value_error, "kind must be 0 (psp), 1 (osp) or 2 (ods)"};
  }
  return run_call(options, [&]() -> Result<MulticommodityProblem> {
    return finish_record<MulticommodityProblem>(inner::read_jlf(core_parts(parts), core_kind),
                                                ErrorKind::os_error);
  });
}

}  // namespace v0
}  // namespace korvane
