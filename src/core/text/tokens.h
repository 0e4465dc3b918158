// Token handling shared by the readers and the writer: Unicode white-space
// trimming and splitting, the integer and float token grammars with their error
// texts, and positional (exponent-free) number formatting.
#pragma once

#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "core/base/result.h"

namespace korvane {

inline constexpr std::string_view kInvalidDigitMessage = "invalid digit found in string";
inline constexpr std::string_view kTooLargeMessage = "number too large to fit in target type";
inline constexpr std::string_view kTooSmallMessage = "number too small to fit in target type";
inline constexpr std::string_view kInvalidFloatMessage = "invalid float literal";

// Whether a code point has the Unicode White_Space property: U+0009..U+000D,
// U+0020, U+0085, U+00A0, U+1680, U+2000..U+200A, U+2028, U+2029, U+202F, U+205F
// and U+3000. U+FEFF and the separators U+001C..U+001F are not white space.
bool is_white_space(char32_t c);

// `text` without leading and trailing white space. Expects valid UTF-8; on other
// bytes it never reads out of bounds, it only treats them as non-white.
std::string_view trim_white_space(std::string_view text);

// Clears `out` (keeping its capacity) and fills it with the runs of non-white
// characters of `line`, in order. The views point into `line`.
void split_fields(std::string_view line, std::vector<std::string_view>& out);

// Outcome of an integer token parse; the Result functions below turn it into the
// reported message. Scanning is left to right and the first failure wins.
enum class IntStatus : uint8_t { kOk, kInvalidDigit, kTooLarge, kTooSmall };
std::string_view int_status_message(IntStatus status);

// Optional single '+' or '-', then one or more ASCII digits, nothing else.
IntStatus parse_i64_to(std::string_view token, int64_t& out);
// Optional single '+', then one or more ASCII digits; '-' is an invalid digit.
IntStatus parse_u64_to(std::string_view token, uint64_t& out);

// A decimal number in parse_f64_to's grammar (optional sign, digits with an
// optional '.' fraction, an optional exponent) whose text denotes an integer
// exactly: "3.000000", "1e3", "-0.0", "12.5e1". Decided from the digits and the
// exponent, never from a rounded double, so "1.0000000000000001" and "1e-400"
// are no integers. kInvalidDigit for any other token (a fraction, a word, inf,
// nan), kTooLarge / kTooSmall for an integer outside int64_t.
IntStatus parse_integral_decimal_to(std::string_view token, int64_t& out);

// The same grammars with the failure as a kReported error carrying its message.
Result<int64_t> parse_i64(std::string_view token);
Result<uint64_t> parse_u64(std::string_view token);

// Reads lines made only of integers in their plainest form, the form the writer
// produces: tokens of an optional sign and 1 to 18 ASCII digits separated by
// runs of spaces (U+0020). Any other byte, a tab included, makes scan() give up;
// the caller then takes the general route (split_fields and parse_i64_to),
// which accepts all white space and reports the exact failure. Every value it
// accepts is what parse_i64_to gives for the same token. Token boundaries come
// from a bitmap of spaces built 64 bytes at a time, so converting one token
// does not wait for finding the next. A line of 16 to 63 bytes whose tokens have
// at most eight digits is read where it lies; others are first copied into a
// padded buffer. The buffers are reused across lines.
inline constexpr std::size_t kNotShortIntegers = static_cast<std::size_t>(-1);
class ShortIntegerScanner {
 public:
  // The number of tokens of `text`, their values at values()[0, n); or
  // kNotShortIntegers.
  std::size_t scan(std::string_view text);
  const int64_t* values() const { return values_.data(); }

 private:
  std::vector<char> padded_;  // the line, then spaces up to a whole block
  std::vector<int64_t> values_;
};

// Optional sign, then either a decimal number (digits with an optional '.'
// fraction, at least one digit in all, then an optional exponent e/E with an
// optional sign and at least one digit), correctly rounded, overflowing to an
// infinity and underflowing to a zero of the token's sign; or "inf", "infinity"
// or "nan" in any letter case. NaN always reads as the positive quiet NaN with an
// all-zero payload. Fails with kReported "invalid float literal".
bool parse_f64_to(std::string_view token, double& out);
Result<double> parse_f64(std::string_view token);

// Longest text format_f64 produces (the smallest subnormal with a sign needs 327).
inline constexpr std::size_t kFormatF64BufferSize = 400;

// Writes the shortest decimal digits that read back to `v` in positional notation,
// never with an exponent, and returns the number of bytes written (at most
// kFormatF64BufferSize). Integral values have no decimal point ("0", "-0", "1",
// "100000000000000000000"); others use '.' ("0.25", "0.0000001"). Non-finite
// values are written "NaN", "inf" and "-inf".
std::size_t format_f64(double v, char* out);

// Room the integer formatters need: the longest text ("-9223372036854775808",
// 20 bytes) plus slack for the four-byte stores of the short forms.
inline constexpr std::size_t kFormatIntBufferSize = 24;

namespace detail {
// "0000" to "9999", four characters each, for the integer formatters.
extern const std::array<char, 40000> kDigitQuads;

// 1 to 4 digits of v < 10000, written as four bytes of which the first `len`
// count: branch-free, as lengths in generated files are unpredictable.
inline char* format_below_10000(uint64_t v, char* out) {
  const unsigned len = 1u + (v >= 10) + (v >= 100) + (v >= 1000);
  std::memcpy(out, kDigitQuads.data() + 4 * v + 4 - len, 4);
  return out + len;
}
}  // namespace detail

// Writes `v` in decimal (no '+', no leading zeros) and returns one past the end.
// `out` must have room for kFormatIntBufferSize bytes. Below 10^8 the digits
// come from a table of four-digit groups; larger values go through
// std::to_chars. Inline: the writer formats every value through these.
inline char* format_u64(uint64_t v, char* out) {
  if (v < 10000) return detail::format_below_10000(v, out);
  if (v < 100000000) {
    out = detail::format_below_10000(v / 10000, out);
    std::memcpy(out, detail::kDigitQuads.data() + 4 * (v % 10000), 4);
    return out + 4;
  }
  return std::to_chars(out, out + 20, v).ptr;
}
inline char* format_i64(int64_t v, char* out) {
  uint64_t magnitude = static_cast<uint64_t>(v);
  if (v < 0) {
    *out++ = '-';
    magnitude = 0 - magnitude;  // also right for INT64_MIN
  }
  return format_u64(magnitude, out);
}

}  // namespace korvane
