// White space, field splitting, integer and float token grammars, and number formatting.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "utils/tokens.h"

namespace korvane {
namespace {

std::string utf8(char32_t c) {
  std::string s;
  if (c < 0x80) {
    s += static_cast<char>(c);
  } else if (c < 0x800) {
    s += static_cast<char>(0xC0 | (c >> 6));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    s += static_cast<char>(0xE0 | (c >> 12));
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    s += static_cast<char>(0xF0 | (c >> 18));
    s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  }
  return s;
}

std::vector<std::string> split(std::string_view line) {
  std::vector<std::string_view> views;
  split_fields(line, views);
  return std::vector<std::string>(views.begin(), views.end());
}

TEST(WhiteSpace, ClassificationTable) {
  const char32_t white[] = {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20, 0x85, 0xA0, 0x1680, 0x2000,
                            0x2005, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000};
  const char32_t not_white[] = {0x00, 0x08, 0x0E, 0x1C, 0x1D, 0x1E, 0x1F, 0x21, 0x7F,
                                0x84, 0x86, 0x9F, 0xA1, 0x180E, 0x1FFF, 0x200B, 0x200C,
                                0x2027, 0x202A, 0x205E, 0x2060, 0x2FFF, 0x3001, 0xFEFF,
                                0x10FFFF};
  for (char32_t c : white) EXPECT_TRUE(is_white_space(c)) << static_cast<uint32_t>(c);
  for (char32_t c : not_white) EXPECT_FALSE(is_white_space(c)) << static_cast<uint32_t>(c);
}

TEST(WhiteSpace, SplitAndTrimAgreeWithClassificationForEveryCodePoint) {
  std::vector<std::string_view> fields;
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    const std::string ch = utf8(c);
    const std::string line = "x" + ch + "y";
    split_fields(line, fields);
    const bool white = is_white_space(c);
    ASSERT_EQ(fields.size(), white ? 2u : 1u) << std::hex << static_cast<uint32_t>(c);
    ASSERT_EQ(trim_white_space(ch + "z" + ch), white ? "z" : ch + "z" + ch)
        << std::hex << static_cast<uint32_t>(c);
  }
}

TEST(WhiteSpace, TrimBothEnds) {
  EXPECT_EQ(trim_white_space("  \t p min 1 2 \r"), "p min 1 2");
  EXPECT_EQ(trim_white_space("\u3000\u00A0a b\u2029\u00A0"), "a b");
  EXPECT_EQ(trim_white_space(" \t\u3000 "), "");
  EXPECT_EQ(trim_white_space(""), "");
  // A byte-order mark is content, and a non-white character whose last byte
  // looks like part of a white-space sequence stays.
  EXPECT_EQ(trim_white_space("\uFEFFp "), "\uFEFFp");
  EXPECT_EQ(trim_white_space("a\u00C0"), "a\u00C0");
  EXPECT_EQ(trim_white_space("a\u2080"), "a\u2080");
}

TEST(Split, RunsOfWhiteSpaceSeparateFields) {
  EXPECT_EQ(split("a 1  2\t\t3"), (std::vector<std::string>{"a", "1", "2", "3"}));
  EXPECT_EQ(split("  lead and trail  "), (std::vector<std::string>{"lead", "and", "trail"}));
  EXPECT_EQ(split("n\u00A07\u3000\u2003-5"), (std::vector<std::string>{"n", "7", "-5"}));
  EXPECT_EQ(split("\uFEFFp min"), (std::vector<std::string>{"\uFEFFp", "min"}));
  EXPECT_EQ(split("x\u200By \u00E9\u2010"), (std::vector<std::string>{"x\u200By", "\u00E9\u2010"}));
  EXPECT_EQ(split(std::string_view("a\0b c", 5)),
            (std::vector<std::string>{std::string("a\0b", 3), "c"}));
  EXPECT_TRUE(split("").empty());
  EXPECT_TRUE(split(" \t ").empty());
}

TEST(Split, ClearsOutputAndKeepsItsCapacity) {
  std::vector<std::string_view> fields;
  split_fields("a b c d e f g h", fields);
  const auto capacity = fields.capacity();
  split_fields("z", fields);
  ASSERT_EQ(fields.size(), 1u);
  EXPECT_EQ(fields[0], "z");
  EXPECT_EQ(fields.capacity(), capacity);
}

TEST(Integers, SignedAcceptsLimitsSignsAndLeadingZeros) {
  EXPECT_EQ(parse_i64("0").value(), 0);
  EXPECT_EQ(parse_i64("-0").value(), 0);
  EXPECT_EQ(parse_i64("+5").value(), 5);
  EXPECT_EQ(parse_i64("-17").value(), -17);
  EXPECT_EQ(parse_i64("9223372036854775807").value(), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(parse_i64("-9223372036854775808").value(), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(parse_i64("+0000000000000000000000000042").value(), 42);
  EXPECT_EQ(parse_i64("-0009223372036854775808").value(), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(parse_i64("999999999999999999").value(), 999999999999999999);
  EXPECT_EQ(parse_i64("-1000000000000000000").value(), -1000000000000000000);
}

TEST(Integers, SignedFailuresAndTheirMessages) {
  const struct {
    const char* token;
    std::string_view message;
  } cases[] = {
      {"", kInvalidDigitMessage},
      {"+", kInvalidDigitMessage},
      {"-", kInvalidDigitMessage},
      {"--1", kInvalidDigitMessage},
      {"+-1", kInvalidDigitMessage},
      {"1.5", kInvalidDigitMessage},
      {"1e3", kInvalidDigitMessage},
      {"1_000", kInvalidDigitMessage},
      {"0x10", kInvalidDigitMessage},
      {" 1", kInvalidDigitMessage},
      {"1 ", kInvalidDigitMessage},
      {"\u0661", kInvalidDigitMessage},  // a non-ASCII digit
      {"9223372036854775808", kTooLargeMessage},
      {"-9223372036854775809", kTooSmallMessage},
      {"99999999999999999999999999", kTooLargeMessage},
      {"-99999999999999999999999999", kTooSmallMessage},
      // The first failure from the left decides.
      {"99999999999999999999x", kTooLargeMessage},
      {"-99999999999999999999x", kTooSmallMessage},
      {"1x99999999999999999999", kInvalidDigitMessage},
      {"922337203685477580x", kInvalidDigitMessage},
  };
  for (const auto& c : cases) {
    auto parsed = parse_i64(c.token);
    ASSERT_FALSE(parsed.ok()) << c.token;
    EXPECT_EQ(parsed.error().kind, ErrorKind::kReported);
    EXPECT_EQ(parsed.error().message, c.message) << c.token;
  }
}

TEST(Integers, Unsigned) {
  EXPECT_EQ(parse_u64("18446744073709551615").value(), std::numeric_limits<uint64_t>::max());
  EXPECT_EQ(parse_u64("+7").value(), 7u);
  EXPECT_EQ(parse_u64("0000000000000000000000018446744073709551615").value(),
            std::numeric_limits<uint64_t>::max());
  EXPECT_EQ(parse_u64("9999999999999999999").value(), 9999999999999999999u);
  EXPECT_EQ(parse_u64("18446744073709551616").error().message, kTooLargeMessage);
  EXPECT_EQ(parse_u64("184467440737095516150").error().message, kTooLargeMessage);
  EXPECT_EQ(parse_u64("-1").error().message, kInvalidDigitMessage);
  EXPECT_EQ(parse_u64("-0").error().message, kInvalidDigitMessage);
  EXPECT_EQ(parse_u64("+").error().message, kInvalidDigitMessage);
  EXPECT_EQ(parse_u64("").error().message, kInvalidDigitMessage);
  EXPECT_EQ(parse_u64("12a").error().message, kInvalidDigitMessage);
}

// The plain-integer scan must agree with splitting and parsing whenever it
// accepts a line, and accept every line of plain short integers between spaces.
TEST(ShortIntegers, AgreesWithSplitAndParse) {
  ShortIntegerScanner scanner;
  EXPECT_EQ(scanner.scan(""), 0u);
  EXPECT_EQ(scanner.scan("   "), 0u);
  ASSERT_EQ(scanner.scan(" -0 +7   12345678 123456789012345678 -99999999 000000000000000009"),
            6u);
  const int64_t expected[] = {0, 7, 12345678, 123456789012345678, -99999999, 9};
  for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(scanner.values()[i], expected[i]);
  const std::string others[] = {"1 1234567890123456789", "1 x", "12345678x 1", "1 2 -", "+ 1",
                                "1 --2", "1\t2", "1\u00A02", "1 2.5", "0x1 2", "9/ 1", ":",
                                "123456789012345678901234", std::string(100, '7')};
  for (const std::string& other : others) {
    EXPECT_EQ(scanner.scan(other), kNotShortIntegers) << other;
  }

  const std::string pieces[] = {"0", "7", "-3", "+12", "999", "1000", "-2048", "12345678",
                                "00000000001", "123456789", "999999999999999999",
                                "-999999999999999999", "12x", "x", "-", "1234567890123456789",
                                "\u00E9", "1.5", "1\t2", "/", ":0"};
  std::mt19937_64 gen(5);
  std::vector<std::string_view> fields;
  for (int i = 0; i < 300000; ++i) {
    std::string line(gen() % 3, ' ');
    const int n = static_cast<int>(gen() % 40);
    for (int t = 0; t < n; ++t) {
      if (t != 0) line += std::string(1 + gen() % 2, ' ');
      // Mostly plain tokens, so that many lines are accepted.
      line += pieces[gen() % 16 == 0 ? gen() % std::size(pieces) : gen() % 12];
    }
    const std::size_t count = scanner.scan(line);
    split_fields(line, fields);
    bool plain = line.find('\t') == std::string::npos;
    for (const auto field : fields) {
      int64_t value = 0;
      const std::string_view digits = field.substr(field[0] == '-' || field[0] == '+');
      plain = plain && parse_i64_to(field, value) == IntStatus::kOk && digits.size() <= 18;
    }
    ASSERT_EQ(count != kNotShortIntegers, plain) << line;
    if (!plain) continue;
    ASSERT_EQ(count, fields.size()) << line;
    for (std::size_t f = 0; f < count; ++f) {
      ASSERT_EQ(scanner.values()[f], parse_i64(fields[f]).value()) << line;
    }
  }
}

uint64_t bits_of(double v) { return std::bit_cast<uint64_t>(v); }

TEST(Floats, AcceptedForms) {
  const struct {
    const char* token;
    double value;
  } cases[] = {
      {"0", 0.0},          {"1", 1.0},          {"+1", 1.0},          {"-2.5", -2.5},
      {"1.", 1.0},         {".5", 0.5},         {"-.5", -0.5},        {"1e3", 1000.0},
      {"1E+3", 1000.0},    {"25e-2", 0.25},     {"1.e2", 100.0},      {".5e1", 5.0},
      {"007.250", 7.25},   {"0.1", 0.1},        {"1e-7", 1e-7},       {"5e-324", 5e-324},
      {"1e400", INFINITY}, {"-1e400", -INFINITY},
      {"1.7976931348623157e308", 1.7976931348623157e308},
      {"1.7976931348623159e308", INFINITY},
      {"1e99999999999999999999999999", INFINITY},
      {"0.000000000000000000000000000000000000001e-300", 0.0},
      {"1e-99999999999999999999999999", 0.0},
      {"0e99999999999999999999999999", 0.0},
      {"inf", INFINITY},   {"-Infinity", -INFINITY}, {"+INF", INFINITY}, {"iNfInItY", INFINITY},
  };
  for (const auto& c : cases) {
    auto parsed = parse_f64(c.token);
    ASSERT_TRUE(parsed.ok()) << c.token;
    EXPECT_EQ(bits_of(parsed.value()), bits_of(c.value)) << c.token;
  }
  // Underflow keeps the sign; every NaN spelling reads as the canonical quiet NaN.
  EXPECT_EQ(bits_of(parse_f64("-1e-400").value()), bits_of(-0.0));
  EXPECT_EQ(bits_of(parse_f64("-0").value()), bits_of(-0.0));
  for (const char* nan : {"nan", "NaN", "-nan", "+NAN"}) {
    EXPECT_EQ(bits_of(parse_f64(nan).value()), 0x7FF8000000000000u) << nan;
  }
  // Correct rounding of a halfway case that needs every digit.
  EXPECT_EQ(parse_f64("9007199254740993").value(), 9007199254740992.0);
  EXPECT_EQ(parse_f64("9007199254740993.0000000000000000000000001").value(), 9007199254740994.0);
}

TEST(Floats, RejectedForms) {
  for (const char* token : {"", "+", "-", ".", "-.", "e5", ".e5", "1e", "1e+", "1e-", "1.5.2",
                            "1,5", "0x1p3", "0x10", "nan(1)", "nan()", "infin", "infinityy",
                            "inf ", " 1", "1 ", "1f", "1d", "++1", "+-1", "1e5.0", "1e++5",
                            "\u00A01", "∞"}) {
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

TEST(FormatF64, PositionalShortestText) {
  EXPECT_EQ(formatted(0.0), "0");
  EXPECT_EQ(formatted(-0.0), "-0");
  EXPECT_EQ(formatted(1.0), "1");
  EXPECT_EQ(formatted(0.5), "0.5");
  EXPECT_EQ(formatted(0.25), "0.25");
  EXPECT_EQ(formatted(0.1), "0.1");
  EXPECT_EQ(formatted(-2.75), "-2.75");
  EXPECT_EQ(formatted(1e-7), "0.0000001");
  EXPECT_EQ(formatted(1e20), "100000000000000000000");
  EXPECT_EQ(formatted(123456.789), "123456.789");
  EXPECT_EQ(formatted(1.0 / 3.0), "0.3333333333333333");
  EXPECT_EQ(formatted(std::numeric_limits<double>::quiet_NaN()), "NaN");
  EXPECT_EQ(formatted(-std::numeric_limits<double>::quiet_NaN()), "NaN");
  EXPECT_EQ(formatted(INFINITY), "inf");
  EXPECT_EQ(formatted(-INFINITY), "-inf");
  const std::string tiny = formatted(-5e-324);
  EXPECT_EQ(tiny, "-0." + std::string(323, '0') + "5");
  EXPECT_LE(tiny.size(), kFormatF64BufferSize);
  const std::string huge = formatted(std::numeric_limits<double>::max());
  EXPECT_EQ(huge.size(), 309u);
  EXPECT_EQ(huge.substr(0, 17), "17976931348623157");
}

TEST(FormatF64, RandomBitPatternsReadBackIdenticalWithoutExponent) {
  std::mt19937_64 gen(20240611);
  for (int i = 0; i < 200000; ++i) {
    const double v = std::bit_cast<double>(gen());
    if (!std::isfinite(v)) continue;
    const std::string text = formatted(v);
    ASSERT_EQ(text.find_first_of("eE"), std::string::npos) << text;
    auto back = parse_f64(text);
    ASSERT_TRUE(back.ok()) << text;
    ASSERT_EQ(bits_of(back.value()), bits_of(v)) << text;
    // A fraction never ends in a zero digit.
    if (text.find('.') != std::string::npos) {
      ASSERT_NE(text.back(), '0') << text;
    }
  }
}

TEST(FormatIntegers, MatchesDecimalTextAcrossMagnitudes) {
  char buffer[kFormatIntBufferSize];
  auto text_i64 = [&](int64_t v) { return std::string(buffer, format_i64(v, buffer)); };
  auto text_u64 = [&](uint64_t v) { return std::string(buffer, format_u64(v, buffer)); };
  EXPECT_EQ(text_i64(std::numeric_limits<int64_t>::min()), "-9223372036854775808");
  EXPECT_EQ(text_u64(std::numeric_limits<uint64_t>::max()), "18446744073709551615");
  // Every length boundary of the table forms and the fallback.
  for (uint64_t p = 1; p <= 1000000000000ull; p *= 10) {
    for (const uint64_t v : {p - 1, p, p + 1, 3 * p - 1}) {
      EXPECT_EQ(text_u64(v), std::to_string(v));
      EXPECT_EQ(text_i64(-static_cast<int64_t>(v)), std::to_string(-static_cast<int64_t>(v)));
    }
  }
  std::mt19937_64 gen(99);
  for (int i = 0; i < 100000; ++i) {
    const auto v = static_cast<int64_t>(gen() >> (gen() % 64));
    ASSERT_EQ(text_i64(v), std::to_string(v));
    ASSERT_EQ(text_i64(-v), std::to_string(-v));
  }
}

}  // namespace
}  // namespace korvane
