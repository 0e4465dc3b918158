// Fuzz target: the token scanners and number parsers. Each parse is compared with
// an independent reference (std::from_chars for integers, strtod for floats, on a
// grammar recognised here from the documented syntax), and whatever a parser
// accepts must survive formatting and parsing again unchanged.
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "core/text/tokens.h"

namespace {

using korvane::IntStatus;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The length of the run of ASCII digits at the start of `s`.
std::size_t digit_run(std::string_view s) {
  std::size_t n = 0;
  while (n < s.size() && is_digit(s[n])) ++n;
  return n;
}

// What an integer parse must report for `token`: digits after the optional sign are
// accumulated left to right, so an overflow among the leading digits wins over a
// later invalid character, and an invalid character over a later overflow.
template <class T>
IntStatus expected_int(std::string_view token, bool allow_minus, T& value) {
  bool negative = false;
  if (!token.empty() && (token[0] == '+' || (allow_minus && token[0] == '-'))) {
    negative = token[0] == '-';
    token.remove_prefix(1);
  }
  const std::size_t run = digit_run(token);
  if (run == 0) return IntStatus::kInvalidDigit;
  // from_chars reads a leading '-' itself and never a '+'.
  std::string digits = negative ? "-" : "";
  digits.append(token.substr(0, run));
  const auto parsed = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (parsed.ptr != digits.data() + digits.size()) __builtin_trap();
  if (parsed.ec == std::errc::result_out_of_range) {
    return negative ? IntStatus::kTooSmall : IntStatus::kTooLarge;
  }
  if (parsed.ec != std::errc()) __builtin_trap();
  return run == token.size() ? IntStatus::kOk : IntStatus::kInvalidDigit;
}

bool same_word(std::string_view s, std::string_view lower) {
  if (s.size() != lower.size()) return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = (s[i] >= 'A' && s[i] <= 'Z') ? static_cast<char>(s[i] - 'A' + 'a') : s[i];
    if (c != lower[i]) return false;
  }
  return true;
}

// The float syntax: optional sign, then digits with an optional '.' fraction (one
// digit at least) and an optional exponent, or inf, infinity or nan in any case.
// strtod takes more (hex, leading blanks, nan(...)), so it decides only the value.
bool float_syntax(std::string_view s) {
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) s.remove_prefix(1);
  if (same_word(s, "inf") || same_word(s, "infinity") || same_word(s, "nan")) return true;
  std::size_t digits = digit_run(s);
  s.remove_prefix(digits);
  if (!s.empty() && s[0] == '.') {
    s.remove_prefix(1);
    const std::size_t fraction = digit_run(s);
    digits += fraction;
    s.remove_prefix(fraction);
  }
  if (digits == 0) return false;
  if (!s.empty() && (s[0] == 'e' || s[0] == 'E')) {
    s.remove_prefix(1);
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) s.remove_prefix(1);
    const std::size_t exponent = digit_run(s);
    if (exponent == 0) return false;
    s.remove_prefix(exponent);
  }
  return s.empty();
}

void check_against_references(std::string_view token) {
  int64_t i = 0;
  int64_t want_i = 0;
  const IntStatus i_status = korvane::parse_i64_to(token, i);
  if (i_status != expected_int(token, true, want_i)) __builtin_trap();
  if (i_status == IntStatus::kOk && i != want_i) __builtin_trap();

  uint64_t u = 0;
  uint64_t want_u = 0;
  const IntStatus u_status = korvane::parse_u64_to(token, u);
  if (u_status != expected_int(token, false, want_u)) __builtin_trap();
  if (u_status == IntStatus::kOk && u != want_u) __builtin_trap();

  double d = 0.0;
  const bool accepted = korvane::parse_f64_to(token, d);
  if (accepted != float_syntax(token)) __builtin_trap();
  if (!accepted) return;
  const std::string text(token);  // strtod needs the terminating NUL
  char* end = nullptr;
  const double want = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size()) __builtin_trap();
  if (want != want) {
    // Every NaN reads as the positive quiet NaN with an all-zero payload.
    uint64_t bits = 0;
    std::memcpy(&bits, &d, sizeof bits);
    if (bits != 0x7FF8000000000000ULL) __builtin_trap();
  } else if (std::memcmp(&d, &want, sizeof d) != 0) {
    __builtin_trap();  // correctly rounded both; a zero or an infinity keeps its sign
  }
}

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

void check(std::string_view token) {
  check_against_references(token);
  check_round_trips(token);
}

// The line scanner gives up unless every byte is a space, a digit or a sign and
// every token is a sign and 1 to 18 digits; what it accepts is what the general
// route (split_fields, parse_i64_to) reads. The input is read in place, so any
// byte read past the line is an ASan report.
void check_scanner(std::string_view line) {
  static korvane::ShortIntegerScanner scanner;
  static std::vector<std::string_view> fields;
  korvane::split_fields(line, fields);
  bool plain = line.find_first_not_of(" +-0123456789") == std::string_view::npos;
  for (const std::string_view field : fields) {
    const bool sign = field[0] == '+' || field[0] == '-';
    const std::size_t digits = digit_run(field.substr(sign ? 1 : 0));
    plain = plain && digits >= 1 && digits <= 18 && digits + (sign ? 1 : 0) == field.size();
  }
  const std::size_t count = scanner.scan(line);
  if (!plain) {
    if (count != korvane::kNotShortIntegers) __builtin_trap();
    return;
  }
  if (count != fields.size()) __builtin_trap();
  for (std::size_t i = 0; i < count; ++i) {
    int64_t want = 0;
    if (korvane::parse_i64_to(fields[i], want) != IntStatus::kOk) __builtin_trap();
    if (scanner.values()[i] != want) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  static std::vector<std::string_view> fields;
  korvane::split_fields(text, fields);
  check_scanner(text);
  check(text);
  for (const std::string_view field : fields) check(field);
  return 0;
}
