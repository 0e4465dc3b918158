// White space, field splitting, integer and float token grammars, and number formatting.
#include <initializer_list>
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "core/text/tokens.h"

namespace korvane {
namespace {

std::string utf8(char32_t c) {
  if (c < 0x80) return std::string(1, static_cast<char>(c));
  std::string s;
  const int extra = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
  s += static_cast<char>(((0xFF00 >> (extra + 1)) & 0xFF) | (c >> (6 * extra)));
  for (int i = extra - 1; i >= 0; --i) s += static_cast<char>(0x80 | ((c >> (6 * i)) & 0x3F));
  return s;
}

uint64_t bits_of(double v) { return std::bit_cast<uint64_t>(v); }

TEST(WhiteSpace, ClassificationAndEveryCodePointInSplitAndTrim) {
  for (char32_t c : std::initializer_list<char32_t>{0x09, 0x0D, 0x20, 0x85, 0xA0, 0x1680, 0x2000, 0x200A, 0x2028, 0x2029,
                     0x202F, 0x205F, 0x3000}) {
    EXPECT_TRUE(is_white_space(c)) << static_cast<uint32_t>(c);
  }
  for (char32_t c : std::initializer_list<char32_t>{0x00, 0x08, 0x0E, 0x1C, 0x1F, 0x21, 0x84, 0x86, 0xA1, 0x180E, 0x200B,
                     0x2027, 0x202A, 0x205E, 0x2060, 0x3001, 0xFEFF, 0x10FFFF}) {
    EXPECT_FALSE(is_white_space(c)) << static_cast<uint32_t>(c);
  }
  std::vector<std::string_view> fields;
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    const std::string ch = utf8(c);
    const bool white = is_white_space(c);
    split_fields("x" + ch + "y", fields);
    ASSERT_EQ(fields.size(), white ? 2u : 1u) << static_cast<uint32_t>(c);
    ASSERT_EQ(trim_white_space(ch + "z" + ch), white ? "z" : ch + "z" + ch);
  }
}

TEST(Integers, LimitsSignsAndFailureMessages) {
  EXPECT_EQ(parse_i64("-0").value(), 0);
  EXPECT_EQ(parse_i64("+5").value(), 5);
  EXPECT_EQ(parse_i64("9223372036854775807").value(), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(parse_i64("-9223372036854775808").value(), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(parse_i64("-0009223372036854775808").value(), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(parse_u64("+0018446744073709551615").value(), std::numeric_limits<uint64_t>::max());
  const std::string_view invalid = kInvalidDigitMessage;
  const struct {
    const char* token;
    bool is_signed;
    std::string_view message;
  } failures[] = {
      {"", true, invalid}, {"+", true, invalid}, {"--1", true, invalid}, {" 1", true, invalid},
      {"\u0661", true, invalid}, {"-1", false, invalid}, {"-0", false, invalid},
      {"9223372036854775808", true, kTooLargeMessage},
      {"-9223372036854775809", true, kTooSmallMessage},
      {"18446744073709551616", false, kTooLargeMessage},
      // Scanning is left to right: overflow before a later bad character, and
      // a bad character before a later overflow.
      {"99999999999999999999x", true, kTooLargeMessage},
      {"-99999999999999999999x", true, kTooSmallMessage},
      {"1x99999999999999999999", true, invalid},
  };
  for (const auto& f : failures) {
    const Error error = f.is_signed ? parse_i64(f.token).error() : parse_u64(f.token).error();
    EXPECT_EQ(error.kind, ErrorKind::kReported);
    EXPECT_EQ(error.message, f.message) << f.token;
  }
}

// Lines of every length up to 90 bytes from plain tokens (1 to 19 digits, signs,
// leading zeros) and a few that are not, compared with split_fields and
// parse_i64_to. Each line is viewed inside a longer text whose next bytes are
// digits, so a scan that read past its line would change a value.
TEST(Integers, ScannerAgreesWithTheTokenGrammar) {
  std::mt19937_64 rng(99);
  const char* const odd[] = {"-", "+", "--1", "1-", "+-2", "1.5", "x", "\t7", "7\r", "0x1"};
  ShortIntegerScanner scanner;
  std::vector<std::string_view> fields;
  for (int round = 0; round < 20000; ++round) {
    const std::size_t target = rng() % 91;
    const bool plain = rng() % 4 != 0;
    std::string line(rng() % 3, ' ');
    while (line.size() < target) {
      if (!plain && rng() % 6 == 0) {
        line += odd[rng() % std::size(odd)];
      } else {
        const int sign = static_cast<int>(rng() % 6);
        if (sign == 0) line += '-';
        if (sign == 1) line += '+';
        const std::size_t digits = rng() % 3 == 0 ? 1 + rng() % 19 : 1 + rng() % 8;
        for (std::size_t d = 0; d < digits; ++d) line += static_cast<char>('0' + rng() % 10);
      }
      line.append(1 + rng() % 3, ' ');
    }
    if (rng() % 2 == 0) line.resize(target);  // a token may end the line
    const std::string backing = line + "123456789 987654321";
    const std::string_view text(backing.data(), line.size());

    split_fields(text, fields);
    std::vector<int64_t> expected;
    bool short_integers = text.find_first_not_of(" +-0123456789") == std::string_view::npos;
    for (const std::string_view field : fields) {
      int64_t value = 0;
      const std::size_t digits = field.size() - (field[0] == '-' || field[0] == '+' ? 1 : 0);
      short_integers = short_integers && digits <= 18 && parse_i64_to(field, value) == IntStatus::kOk;
      expected.push_back(value);
    }
    const std::size_t count = scanner.scan(text);
    if (!short_integers) {
      EXPECT_EQ(count, kNotShortIntegers) << '"' << line << '"';
      continue;
    }
    ASSERT_EQ(count, expected.size()) << '"' << line << '"';
    EXPECT_EQ(std::vector<int64_t>(scanner.values(), scanner.values() + count), expected)
        << '"' << line << '"';
  }
}

// Integer fields of the four-file formats also take reals whose text denotes an
// integer exactly; exactness comes from the digits, not from a rounded double.
TEST(Integers, IntegralDecimalsExactlyFromTheText) {
  const int64_t max = std::numeric_limits<int64_t>::max();
  const int64_t min = std::numeric_limits<int64_t>::min();
  const struct {
    const char* token;
    IntStatus status;
    int64_t value;
  } cases[] = {
      {"3.000000", IntStatus::kOk, 3}, {"1e3", IntStatus::kOk, 1000}, {"+1E+3", IntStatus::kOk, 1000},
      {"-0.0", IntStatus::kOk, 0}, {"0e999999999999999999999", IntStatus::kOk, 0},
      {".0", IntStatus::kOk, 0}, {"7.", IntStatus::kOk, 7}, {"12.5e1", IntStatus::kOk, 125},
      {"1500e-2", IntStatus::kOk, 15}, {"000120.000e-1", IntStatus::kOk, 12},
      {"9223372036854775807.0", IntStatus::kOk, max},
      {"-9.223372036854775808e18", IntStatus::kOk, min},
      {"1e-400", IntStatus::kInvalidDigit, 0}, {"1.0000000000000001", IntStatus::kInvalidDigit, 0},
      {"2.5", IntStatus::kInvalidDigit, 0}, {"15e-1", IntStatus::kInvalidDigit, 0},
      {"1e-99999999999999999999", IntStatus::kInvalidDigit, 0},
      {"inf", IntStatus::kInvalidDigit, 0}, {"nan", IntStatus::kInvalidDigit, 0},
      {".", IntStatus::kInvalidDigit, 0}, {"1e", IntStatus::kInvalidDigit, 0},
      {"1e+", IntStatus::kInvalidDigit, 0}, {"1.0x", IntStatus::kInvalidDigit, 0},
      {"--1.0", IntStatus::kInvalidDigit, 0}, {"", IntStatus::kInvalidDigit, 0},
      {"9223372036854775808.0", IntStatus::kTooLarge, 0},
      {"-9223372036854775809e0", IntStatus::kTooSmall, 0},
      {"1e19", IntStatus::kTooLarge, 0}, {"-1e99999999999999999999", IntStatus::kTooSmall, 0},
  };
  for (const auto& c : cases) {
    int64_t value = -1;
    EXPECT_EQ(parse_integral_decimal_to(c.token, value), c.status) << c.token;
    if (c.status == IntStatus::kOk) {
      EXPECT_EQ(value, c.value) << c.token;
    }
  }
  // Any integer written with its point moved p places left and exponent p, with
  // leading and trailing zeros added, reads back; a nonzero digit added to the
  // end of its fraction makes it no integer.
  std::mt19937_64 rng(7);
  for (int round = 0; round < 20000; ++round) {
    const auto n = static_cast<int64_t>((rng() >> 1) >> (rng() % 63));
    const bool negative = rng() % 2 == 0;
    std::string digits = std::to_string(n);
    const std::size_t p = rng() % (digits.size() + 3);
    if (p > digits.size()) digits.insert(0, p - digits.size(), '0');
    digits.insert(digits.end() - static_cast<std::ptrdiff_t>(p), '.');
    std::string token(negative ? 1 : 0, '-');
    token.append(rng() % 3, '0').append(digits).append(rng() % 3, '0');
    const std::size_t fraction_end = token.size();
    token.append(1, 'e').append(std::to_string(p));
    int64_t value = -1;
    ASSERT_EQ(parse_integral_decimal_to(token, value), IntStatus::kOk) << token;
    ASSERT_EQ(value, negative ? -n : n) << token;
    token.insert(fraction_end, 1, static_cast<char>('1' + rng() % 9)).insert(fraction_end, 1, '0');
    ASSERT_EQ(parse_integral_decimal_to(token, value), IntStatus::kInvalidDigit) << token;
  }
}

TEST(Floats, AcceptedAndRejectedForms) {
  const struct {
    const char* token;
    double value;
  } accepted[] = {
      {"+1", 1.0}, {"-2.5", -2.5}, {"1.", 1.0}, {".5", 0.5}, {"1E+3", 1000.0}, {"1.e2", 100.0},
      {"007.250", 7.25}, {"1e-7", 1e-7}, {"5e-324", 5e-324}, {"-0", -0.0}, {"-1e-400", -0.0},
      {"1.7976931348623157e308", 1.7976931348623157e308},
      {"1.7976931348623159e308", INFINITY}, {"-1e99999999999999999999", -INFINITY},
      {"0.000000000000000000000000000000000000001e-300", 0.0},
      {"9007199254740993", 9007199254740992.0},  // a halfway case rounds to even
      {"9007199254740993.0000000000000000000000001", 9007199254740994.0},
      {"inf", INFINITY}, {"-Infinity", -INFINITY}, {"+INF", INFINITY},
  };
  for (const auto& a : accepted) {
    auto parsed = parse_f64(a.token);
    ASSERT_TRUE(parsed.ok()) << a.token;
    EXPECT_EQ(bits_of(parsed.value()), bits_of(a.value)) << a.token;
  }
  // Out of range: the magnitude decides, not the sign of the exponent alone.
  EXPECT_EQ(parse_f64(std::string(1, '1').append(400, '0').append("e-10")).value(), INFINITY);
  EXPECT_EQ(bits_of(parse_f64("-0." + std::string(700, '0') + "1e300").value()), bits_of(-0.0));
  for (const char* nan : {"nan", "-nan", "+NaN"}) {
    EXPECT_EQ(bits_of(parse_f64(nan).value()), 0x7FF8000000000000u) << nan;
  }
  for (const char* token : {"", "+", ".", "-.", "e5", ".e5", "1e", "1e+", "1.5.2", "1,5", "0x1p3",
                            "nan(1)", "infin", "inf ", " 1", "1f", "++1", "1e5.0", "\u00A01"}) {
    auto parsed = parse_f64(token);
    ASSERT_FALSE(parsed.ok()) << token;
    EXPECT_EQ(parsed.error().kind, ErrorKind::kReported);
    EXPECT_EQ(parsed.error().message, kInvalidFloatMessage) << token;
  }
}

std::string formatted(double v) {
  char buffer[kFormatF64BufferSize];
  return std::string(buffer, format_f64(v, buffer));
}

TEST(Formatting, FloatsPositionalShortestAndReadBackIdentical) {
  // The short texts are asserted through the Python module's writer.
  EXPECT_EQ(formatted(-5e-324), "-0." + std::string(323, '0') + "5");
  EXPECT_EQ(formatted(std::numeric_limits<double>::max()).size(), 309u);
  std::mt19937_64 gen(20240611);
  for (int i = 0; i < 200000; ++i) {
    const double v = std::bit_cast<double>(gen());
    if (!std::isfinite(v)) continue;
    const std::string text = formatted(v);
    ASSERT_EQ(text.find_first_of("eE"), std::string::npos) << text;
    ASSERT_EQ(bits_of(parse_f64(text).value()), bits_of(v)) << text;
    ASSERT_TRUE(text.find('.') == std::string::npos || text.back() != '0') << text;
  }
}

TEST(Formatting, IntegersAtEveryDigitCount) {
  char buffer[kFormatIntBufferSize];
  auto text = [&](int64_t v) { return std::string(buffer, format_i64(v, buffer)); };
  EXPECT_EQ(text(std::numeric_limits<int64_t>::min()), "-9223372036854775808");
  EXPECT_EQ(std::string(buffer, format_u64(std::numeric_limits<uint64_t>::max(), buffer)),
            "18446744073709551615");
  for (int64_t p = 1; p <= 1000000000000; p *= 10) {
    for (const int64_t v : {p - 1, p, p + 1, 3 * p - 1, -p, -p + 1}) {
      EXPECT_EQ(text(v), std::to_string(v));
    }
  }
}

}  // namespace
}  // namespace korvane
