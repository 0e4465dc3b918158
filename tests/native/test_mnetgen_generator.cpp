// Mnetgen's random source against the published first draws of three seeds, and
// the 4-significant-digit number format against printf's "%.4g".
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "core/mnetgen/drand48.h"
#include "core/mnetgen/mnetgen.h"

namespace korvane {
namespace {

struct Draws {
  int64_t seed;
  uint64_t states[3];
  double values[3];
};

TEST(Drand48, FirstDrawsOfKnownSeeds) {
  const Draws table[] = {
      {11,
       {0xbfe9498b5101, 0x801a06046378, 0x382243dc2a23},
       {0.74965343142776319, 0.50039708716528253, 0.21927284360038968}},
      {12345,
       {0x39af21215101, 0xeb4f94e26378, 0x34f38c622a23},
       {0.22532851279629895, 0.91918306853355602, 0.20684125324818226}},
      {-1,
       {0x4cce7c6f5101, 0x0b9989186378, 0x5ba10b602a23},
       {0.30002572744070122, 0.045311516241298477, 0.35792609308021994}},
      // Only the seed's low 32 bits count: 2^32 + 11 is seed 11.
      {(int64_t{1} << 32) + 11,
       {0xbfe9498b5101, 0x801a06046378, 0x382243dc2a23},
       {0.74965343142776319, 0.50039708716528253, 0.21927284360038968}},
  };
  for (const Draws& row : table) {
    Drand48 rng(row.seed);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(rng.next(), row.values[i]) << "seed " << row.seed << " draw " << i;
      EXPECT_EQ(rng.state(), row.states[i]) << "seed " << row.seed << " draw " << i;
    }
  }
}

std::string g4(double v) {
  char text[32];
  return std::string(text, format_g4(v, text));
}

std::string printf_g4(double v) {
  char text[64];
  const int n = std::snprintf(text, sizeof text, "%.4g", v);
  return std::string(text, static_cast<std::size_t>(n));
}

TEST(FormatG4, TheGeneratorsExamples) {
  const std::pair<double, const char*> table[] = {
      {37.3456, "37.35"},       {7.2153, "7.215"},        {50, "50"},
      {1000, "1000"},           {9999.6, "1e+04"},        {10000, "1e+04"},
      {34690.2, "3.469e+04"},   {39400, "3.94e+04"},      {12345, "1.234e+04"},
      {12355, "1.236e+04"},     {99995, "1e+05"},         {0.00012345, "0.0001234"},
      {0.00001, "1e-05"},       {-1, "-1"},               {0, "0"},
      {2e9, "2e+09"},           {-12345, "-1.234e+04"},   {1e100, "1e+100"},
  };
  for (const auto& [v, text] : table) EXPECT_EQ(g4(v), text) << v;
}

TEST(FormatG4, AgreesWithPrintfAcrossMagnitudes) {
  // Integers around the fast path's edge, ties, fractions and negative values.
  for (double v = -20010; v <= 20010; v += 0.25) EXPECT_EQ(g4(v), printf_g4(v)) << v;
  for (double v = 1e-7; v < 1e12; v *= 1.37) EXPECT_EQ(g4(v), printf_g4(v)) << v;
}

}  // namespace
}  // namespace korvane
