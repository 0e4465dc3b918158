// Fuzz target: the token scanners and number parsers. Whatever a parser accepts
// must survive formatting and parsing again unchanged.
#include <cstring>
#include <string_view>
#include <vector>

#include "core/text/tokens.h"

namespace {

void check_round_trips(std::string_view token) {
  using namespace korvane;
  int64_t i = 0;
  if (parse_i64_to(token, i) == IntStatus::kOk) {
    char text[32];
    int64_t again = 0;
    const char* end = format_i64(i, text);
    if (parse_i64_to(std::string_view(text, static_cast<std::size_t>(end - text)), again) !=
            IntStatus::kOk ||
        again != i) {
      __builtin_trap();
    }
  }
  uint64_t u = 0;
  if (parse_u64_to(token, u) == IntStatus::kOk) {
    char text[32];
    uint64_t again = 0;
    const char* end = format_u64(u, text);
    if (parse_u64_to(std::string_view(text, static_cast<std::size_t>(end - text)), again) !=
            IntStatus::kOk ||
        again != u) {
      __builtin_trap();
    }
  }
  double d = 0.0;
  if (parse_f64_to(token, d)) {
    char text[kFormatF64BufferSize];
    double again = 0.0;
    const std::size_t n = format_f64(d, text);
    if (!parse_f64_to(std::string_view(text, n), again)) __builtin_trap();
    if (d == d && std::memcmp(&d, &again, sizeof d) != 0) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  static std::vector<std::string_view> fields;
  korvane::split_fields(text, fields);
  check_round_trips(text);
  for (const std::string_view field : fields) check_round_trips(field);
  return 0;
}
