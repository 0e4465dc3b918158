// Multi-commodity reader: accepted texts, every failure message and its token
// order, list layouts across problem lines, hostile input, and the round trip
// through the writer.
#include <gtest/gtest.h>

#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "mc_test_support.h"
#include "utils/mc_reader.h"
#include "utils/mc_writer.h"

namespace korvane {
namespace {

using testing::make_data;
using testing::make_instance;
using testing::temp_path;
using testing::write_file;
using testing::WorkedExample;

Result<ParsedMulticommodityInstance> parse_text(const std::string& text) {
  return parse_multi_min(write_file("reader", text));
}

ParsedMulticommodityInstance parsed_ok(const std::string& text) {
  auto result = parse_text(text);
  EXPECT_TRUE(result.ok()) << (result.ok() ? "" : result.error().message);
  return result.ok() ? std::move(result).value() : ParsedMulticommodityInstance{};
}

std::vector<int64_t> expand(ListView list) {
  std::vector<int64_t> values;
  for (uint64_t k = 0; k < list.length; ++k) values.push_back(list.at(k));
  return values;
}

using Arc = std::tuple<int64_t, int64_t, int64_t>;
std::vector<Arc> edges_of(const ParsedMulticommodityInstance& r) {
  std::vector<Arc> edges;
  for (std::size_t a = 0; a < r.num_edges(); ++a) {
    edges.emplace_back(r.tails[a], r.heads[a], r.parallel_index[a]);
  }
  return edges;
}

std::map<int64_t, std::vector<int64_t>> amounts_of(const ParsedMulticommodityInstance& r) {
  std::map<int64_t, std::vector<int64_t>> out;
  for (std::size_t i = 0; i < r.supplies.size(); ++i) {
    const auto span = r.amounts(i);
    out[r.supplies.entries[i].first] = std::vector<int64_t>(span.begin(), span.end());
  }
  return out;
}

std::vector<int64_t> bundle_of(const ParsedMulticommodityInstance& r) {
  std::vector<int64_t> out;
  for (uint64_t k = 0; k < r.num_commodities; ++k) {
    for (std::size_t a = 0; a < r.num_edges(); ++a) out.push_back(r.bundle_capacity(k, a));
  }
  return out;
}

void expect_failure(const std::string& text, ErrorKind kind, const std::string& message) {
  auto result = parse_text(text);
  ASSERT_FALSE(result.ok()) << text;
  EXPECT_EQ(result.error().kind, kind) << text;
  EXPECT_EQ(result.error().message, message) << text;
}

std::string index_error(std::size_t i, std::size_t len) {
  return index_out_of_range_message(i, len);
}
std::string range_error(std::size_t end, std::size_t len) {
  return range_out_of_range_message(end, len);
}

TEST(McReader, WorkedExampleReadsEveryField) {
  const auto r = parsed_ok(WorkedExample::kText);
  EXPECT_EQ(r.num_nodes, 3);
  EXPECT_EQ(r.num_arcs, 2);
  EXPECT_EQ(r.num_commodities, 2u);
  EXPECT_TRUE(r.randomized_capacities);
  EXPECT_FALSE(r.randomized_weights);
  EXPECT_EQ(r.method, 2);
  EXPECT_FALSE(r.cap_zero);
  EXPECT_EQ(r.cap_zero_param, 0.0);
  EXPECT_EQ(r.seed, 42u);
  EXPECT_EQ(r.nodes, (std::vector<int64_t>{1, 3, 2}));
  EXPECT_EQ(r.supplies.entries, (std::vector<std::pair<int64_t, int64_t>>{{1, 10}, {3, -10}}));
  EXPECT_EQ(amounts_of(r), (std::map<int64_t, std::vector<int64_t>>{{1, {7, 3}}, {3, {-7, -3}}}));
  EXPECT_EQ(edges_of(r), (std::vector<Arc>{{1, 2, 0}, {2, 3, 0}}));
  EXPECT_EQ(r.ups, (std::vector<int64_t>{15, 20}));
  EXPECT_EQ(expand(r.capacity_list(0)), (std::vector<int64_t>{12, 15}));
  EXPECT_EQ(expand(r.capacity_list(1)), (std::vector<int64_t>{18, 17}));
  EXPECT_EQ(expand(r.cost_list(0)), (std::vector<int64_t>{4, 4}));
  EXPECT_EQ(expand(r.cost_list(1)), (std::vector<int64_t>{2, 2}));
  EXPECT_EQ(bundle_of(r), (std::vector<int64_t>{12, 18, 15, 17}));
  EXPECT_EQ(r.commodity_major_size(), std::optional<std::size_t>(4));
  EXPECT_FALSE(r.parallel);
  // Compressed costs are stored once per arc, not K times.
  EXPECT_EQ(r.cost_values.size(), 2u);
}

TEST(McReader, ToleratesCommentsUnknownLinesWhiteSpaceAndExtraTokens) {
  const auto r = parsed_ok(
      "\xEF\xBB\xBF"
      "c leading comment\r\n"
      "   \t\r\n"
      "\n"
      "x 1 2 3\n"
      "pp min 9 9 9 0 0 0 0 0 0\n"
      "A 1 2 0 5 1 1\n"
      "cost 1 2\n"
      "\u00A0p\tmax 4 3 3 0 0 1 0 0.25 0 extra\r\n"
      "  c indented comment\n"
      "n 1 6 2 2 2\n"
      "a\u3000 1 2 0 10 5 7 99\r\n"
      "  a 2 1 0 11 +6 -8\n");
  EXPECT_EQ(r.num_nodes, 4);
  EXPECT_EQ(r.num_commodities, 3u);
  EXPECT_EQ(r.method, 1);
  EXPECT_EQ(r.cap_zero_param, 0.25);
  EXPECT_EQ(r.nodes, (std::vector<int64_t>{1, 2}));
  EXPECT_EQ(edges_of(r), (std::vector<Arc>{{1, 2, 0}, {2, 1, 0}}));
  EXPECT_EQ(expand(r.capacity_list(0)), (std::vector<int64_t>{5, 5, 5}));
  EXPECT_EQ(expand(r.cost_list(0)), (std::vector<int64_t>{7, 7, 7}));
  EXPECT_EQ(expand(r.capacity_list(1)), (std::vector<int64_t>{6, 6, 6}));
  EXPECT_EQ(expand(r.cost_list(1)), (std::vector<int64_t>{-8, -8, -8}));
}

TEST(McReader, EmptyFileAndHeaderOnlyFile) {
  const auto empty = parsed_ok("");
  EXPECT_EQ(empty.num_commodities, 0u);
  EXPECT_EQ(empty.seed, 0u);
  EXPECT_TRUE(empty.nodes.empty() && empty.supplies.empty() && empty.num_edges() == 0);
  EXPECT_EQ(empty.amount_offsets, (std::vector<uint64_t>{0}));
  const auto header = parsed_ok("c x\np min 5 6 2 1 1 0 1 -0 7\n");
  EXPECT_EQ(header.num_arcs, 6);
  EXPECT_TRUE(header.randomized_capacities && header.randomized_weights && header.cap_zero);
  EXPECT_EQ(std::bit_cast<uint64_t>(header.cap_zero_param), std::bit_cast<uint64_t>(-0.0));
  EXPECT_EQ(header.seed, 7u);
  EXPECT_TRUE(header.segments.empty());
  EXPECT_EQ(header.commodity_major_size(), std::optional<std::size_t>(0));
}

TEST(McReader, NodeLinesLastWinsAndNodesInFirstAppearanceOrder) {
  const auto r = parsed_ok(
      "p min 9 9 2 0 0 0 0 0 0\n"
      "n 9 1 1 0\n"
      "a 4 9 0 1 1 1\n"
      "n 4 5\n"
      "n 9 -3 -1 -1 -1\n"
      "a 7 4 0 1 1 1\n");
  EXPECT_EQ(r.nodes, (std::vector<int64_t>{9, 4, 7}));
  EXPECT_EQ(r.supplies.entries, (std::vector<std::pair<int64_t, int64_t>>{{4, 5}, {9, -3}}));
  EXPECT_EQ(amounts_of(r),
            (std::map<int64_t, std::vector<int64_t>>{{4, {}}, {9, {-1, -1, -1}}}));
}

TEST(McReader, ParallelIndicesAndPairOrder) {
  const auto r = parsed_ok(
      "p min 3 5 1 0 0 0 0 0 0\n"
      "a 2 3 0 1 1 1\n"
      "a 1 2 0 1 1 1\n"
      "a 1 2 0 1 1 1\n"
      "a 2 3 0 1 1 1\n"
      "a -5 7 0 1 1 1\n");
  EXPECT_EQ(edges_of(r),
            (std::vector<Arc>{{2, 3, 0}, {1, 2, 0}, {1, 2, 1}, {2, 3, 1}, {-5, 7, 0}}));
  EXPECT_EQ(r.pair_order, (std::vector<uint64_t>{4, 1, 2, 0, 3}));
  EXPECT_TRUE(r.parallel);
  EXPECT_EQ(r.nodes, (std::vector<int64_t>{2, 3, 1, -5, 7}));
  // Arcs grouped by tail (the usual listing) with heads out of order in a group.
  const auto grouped = parsed_ok(
      "a 1 3 0 1 1 1\na 1 2 0 1 1 1\na 1 3 0 1 1 1\na 2 1 0 1 1 1\na 2 1 0 1 1 1\n"
      "a 2 0 0 1 1 1\n");
  EXPECT_EQ(edges_of(grouped),
            (std::vector<Arc>{{1, 3, 0}, {1, 2, 0}, {1, 3, 1}, {2, 1, 0}, {2, 1, 1}, {2, 0, 0}}));
  EXPECT_EQ(grouped.pair_order, (std::vector<uint64_t>{1, 0, 2, 5, 3, 4}));
  EXPECT_TRUE(grouped.parallel);
  const auto single = parsed_ok("a 0 2 0 1 1 1\na 2 0 0 1 1 1\n");
  EXPECT_FALSE(single.parallel);
  EXPECT_EQ(single.pair_order, (std::vector<uint64_t>{0, 1}));
  EXPECT_EQ(single.nodes, (std::vector<int64_t>{0, 2}));
}

TEST(McReader, MissingTokens) {
  const std::string p2 = "p min 3 2 2 1 0 2 0 0 42\n";  // K = 2, capacities expanded
  const std::string p2w = "p min 3 2 2 0 1 2 0 0 42\n";  // K = 2, costs expanded
  const struct {
    std::string text;
    std::string message;
  } cases[] = {
      {"p min 3 2 2\n", index_error(10, 5)},
      {"p\n", index_error(2, 1)},
      {"p min\n", index_error(2, 2)},
      {"p min 3\n", index_error(3, 3)},
      {"p min 3 2\n", index_error(4, 4)},
      {"p min 3 2 2 0 0 0 0 0\n", index_error(10, 10)},
      {"n\n", index_error(1, 1)},
      {"n 1\n", index_error(2, 2)},
      {"a 1 2 0\n", index_error(4, 4)},
      {"a 1\n", index_error(2, 2)},
      {"a 1 2 0 5\n", index_error(5, 5)},
      {"a 1 2 0 5 1\n", index_error(6, 6)},
      {p2 + "a 1 2 0 10 5\n", range_error(7, 6)},
      {p2 + "a 1 2 0 10 5 6\n", index_error(7, 7)},
      {p2w + "a 1 2 0 10 5 6\n", range_error(8, 7)},
      {"p min 1 1 2 1 1 0 0 0 0\na 1 2 0 10 1 2 3\n", range_error(9, 8)},
  };
  for (const auto& c : cases) expect_failure(c.text, ErrorKind::kInternal, c.message);
}

TEST(McReader, TokensAreExaminedInOrder) {
  const std::string invalid = "invalid digit found in string";
  const std::string large = "number too large to fit in target type";
  const struct {
    std::string text;
    ErrorKind kind;
    std::string message;
  } cases[] = {
      // A malformed earlier token is reported before a missing later one.
      {"a x\n", ErrorKind::kReported, invalid},
      {"a 1 2 zz\n", ErrorKind::kInternal, index_error(4, 4)},  // token 3 is never read
      {"a 1 2 0 x\n", ErrorKind::kReported, invalid},
      {"n x\n", ErrorKind::kReported, invalid},
      {"p min x\n", ErrorKind::kReported, invalid},
      {"p min 1 2 x\n", ErrorKind::kReported, invalid},
      // The presence of token 10 is checked before tokens 5 to 9 are read.
      {"p min 1 2 3 x x x x x\n", ErrorKind::kInternal, index_error(10, 10)},
      // Token 10 is read before 5, and 5..8 before 9.
      {"p min 1 2 3 x 0 0 0 0 99999999999999999999\n", ErrorKind::kReported, large},
      {"p min 1 2 3 0 0 0 x bad 0\n", ErrorKind::kReported, invalid},
      {"p min 1 2 3 0 0 0 0 bad 0\n", ErrorKind::kReported, "invalid float literal"},
      // An expanded range must exist before its first value is parsed.
      {"p min 1 1 3 1 0 0 0 0 0\na 1 2 0 10 x 1\n", ErrorKind::kInternal, range_error(8, 7)},
      {"p min 1 1 2 1 0 0 0 0 0\na 1 2 0 10 x 1 1\n", ErrorKind::kReported, invalid},
  };
  for (const auto& c : cases) expect_failure(c.text, c.kind, c.message);
}

TEST(McReader, NumberMessages) {
  expect_failure("p min 1 1 -1 0 0 0 0 0 0\n", ErrorKind::kReported,
                 "invalid digit found in string");
  expect_failure("p min 1 1 1 0 0 0 0 0 -0\n", ErrorKind::kReported,
                 "invalid digit found in string");
  expect_failure("p min 9223372036854775808 1 1 0 0 0 0 0 0\n", ErrorKind::kReported,
                 "number too large to fit in target type");
  expect_failure("n 1 -9223372036854775809\n", ErrorKind::kReported,
                 "number too small to fit in target type");
  expect_failure("n 1 2 3 4 +\n", ErrorKind::kReported, "invalid digit found in string");
  expect_failure("p min 1 1 18446744073709551616 0 0 0 0 0 0\n", ErrorKind::kReported,
                 "number too large to fit in target type");
  expect_failure("p min 1 1 1 0 0 0 0 1e 0\n", ErrorKind::kReported, "invalid float literal");
  expect_failure("a 1 2 0 1 1 1.0\n", ErrorKind::kReported, "invalid digit found in string");
  // The low bound is never read, whatever it holds.
  const auto r = parsed_ok("a +1 -2 anything 007 1 1\n");
  EXPECT_EQ(edges_of(r), (std::vector<Arc>{{1, -2, 0}}));
  EXPECT_EQ(r.ups, (std::vector<int64_t>{7}));
  EXPECT_EQ(parsed_ok("p min 1 1 1 0 0 0 0 NaN 18446744073709551615\n").seed,
            std::numeric_limits<uint64_t>::max());
  EXPECT_EQ(std::bit_cast<uint64_t>(parsed_ok("p min 1 1 1 0 0 0 0 -nan 0\n").cap_zero_param),
            0x7FF8000000000000u);
}

TEST(McReader, FileAccessFailuresAreReported) {
  expect_failure("ok\n\xFF\n", ErrorKind::kReported, "stream did not contain valid UTF-8");
  auto missing = parse_multi_min("/nonexistent-dir/file.txt");
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().kind, ErrorKind::kReported);
  EXPECT_EQ(missing.error().message, "No such file or directory (os error 2)");
}

TEST(McReader, EachArcUsesTheProblemLineBeforeIt) {
  const auto r = parsed_ok(
      "p min 1 1 3 0 0 0 0 0 1\n"
      "a 1 2 0 10 5 7\n"
      "a 1 2 0 10 6 8\n"
      "p min 2 2 2 1 1 0 0 0 2\n"
      "a 3 4 0 20 1 2 3 4\n"
      "p min 3 3 2 1 1 2 0 0 3\n"  // same layout: the segment continues
      "a 5 6 0 30 9 8 7 6\n");
  EXPECT_EQ(r.num_nodes, 3);
  EXPECT_EQ(r.num_commodities, 2u);
  EXPECT_EQ(r.method, 2);
  EXPECT_EQ(r.seed, 3u);
  ASSERT_EQ(r.segments.size(), 2u);
  EXPECT_EQ(r.segments[1].first_arc, 2u);
  EXPECT_EQ(expand(r.capacity_list(1)), (std::vector<int64_t>{6, 6, 6}));
  EXPECT_EQ(expand(r.cost_list(1)), (std::vector<int64_t>{8, 8, 8}));
  EXPECT_EQ(expand(r.capacity_list(2)), (std::vector<int64_t>{1, 2}));
  EXPECT_EQ(expand(r.cost_list(2)), (std::vector<int64_t>{3, 4}));
  EXPECT_EQ(expand(r.capacity_list(3)), (std::vector<int64_t>{9, 8}));
  EXPECT_EQ(expand(r.cost_list(3)), (std::vector<int64_t>{7, 6}));
  EXPECT_EQ(edges_of(r), (std::vector<Arc>{{1, 2, 0}, {1, 2, 1}, {3, 4, 0}, {5, 6, 0}}));
  EXPECT_EQ(bundle_of(r), (std::vector<int64_t>{5, 6, 1, 9, 5, 6, 2, 8}));
}

TEST(McReader, ListsShorterThanTheFinalKFail) {
  // Arcs before any problem line have empty lists but still need tokens 5 and 6.
  expect_failure("a 1 2 0 5 1 1\np min 1 1 1 0 0 0 0 0 0\n", ErrorKind::kInternal,
                 index_error(0, 0));
  // The first failure in commodity-major order is at the shortest list, wherever
  // its arcs stand: k = 1 on the K = 1 arcs, before k = 2 on the K = 2 arcs.
  expect_failure(
      "p min 1 1 3 0 0 0 0 0 0\na 1 2 0 1 1 1\n"
      "p min 1 1 1 0 0 0 0 0 0\na 1 2 0 1 1 1\n"
      "p min 1 1 2 0 0 0 0 0 0\na 1 2 0 1 1 1\n"
      "p min 1 1 3 0 0 0 0 0 0\n",
      ErrorKind::kInternal, index_error(1, 1));
  // With the final K = 0 nothing is needed.
  const auto r = parsed_ok("p min 1 1 2 0 0 0 0 0 0\na 1 2 0 1 1 1\np min 1 1 0 0 0 0 0 0 0\n");
  EXPECT_EQ(r.num_commodities, 0u);
  EXPECT_EQ(expand(r.capacity_list(0)), (std::vector<int64_t>{1, 1}));
  const auto before = parsed_ok("a 1 2 0 5 1 1\n");
  EXPECT_EQ(before.capacity_list(0).length, 0u);
}

TEST(McReader, HugeCountsCostNeitherTimeNorMemory) {
  const auto start = std::chrono::steady_clock::now();
  const auto r = parsed_ok(
      "p min 9223372036854775807 9223372036854775807 18446744073709551615 0 0 0 0 0 0\n"
      "a 1 2 0 5 3 4\n"
      "a 1 2 0 5 6 7\n");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(r.capacity_list(1).length, std::numeric_limits<uint64_t>::max());
  EXPECT_EQ(r.capacity_list(1).at(std::numeric_limits<uint64_t>::max() - 1), 6);
  EXPECT_EQ(r.bundle_capacity(123456789012345, 0), 3);
  EXPECT_EQ(r.cost_values.size(), 2u);
  EXPECT_LE(r.tails.capacity(), 1000u);  // the declared arc count was clamped
  EXPECT_FALSE(r.commodity_major_size().has_value());
  const auto no_arcs = parsed_ok("p min 1 1 18446744073709551615 1 1 0 1 0 0\n");
  EXPECT_EQ(no_arcs.commodity_major_size(), std::optional<std::size_t>(0));
  // The end of an expanded range is stated exactly, even beyond 64 bits.
  expect_failure("p min 1 1 18446744073709551615 1 1 0 0 0 0\na 1 2 0 5 1 2\n",
                 ErrorKind::kInternal,
                 "range end index 18446744073709551620 out of range for slice of length 7");
  expect_failure("p min 1 1 18446744073709551615 0 1 0 0 0 0\na 1 2 0 5 1 2\n",
                 ErrorKind::kInternal,
                 "range end index 18446744073709551621 out of range for slice of length 7");
}

TEST(McReader, HostileLinesDoNotBreakTheReader) {
  std::string many = "n 1 0";
  for (int i = 0; i < 1000000; ++i) many += " -1";
  auto r = parsed_ok(many + "\n");
  EXPECT_EQ(r.amounts(0).size(), 1000000u);
  expect_failure(std::string("a 1\0 2 0 1 1 1\n", 15), ErrorKind::kReported,
                 "invalid digit found in string");
  const auto nul_kind = parsed_ok(std::string("\0 1 2\n", 6));
  EXPECT_EQ(nul_kind.num_edges(), 0u);
  std::string long_token = "p min " + std::string(200000, '9') + " 1\n";
  expect_failure(long_token, ErrorKind::kReported, "number too large to fit in target type");
  const std::string digits(100000, '0');
  const auto zeros = parsed_ok("p min " + digits + "1 2 3 0 0 0 0 0." + digits + "1e-5 9\n");
  EXPECT_EQ(zeros.num_nodes, 1);
  EXPECT_EQ(zeros.cap_zero_param, 0.0);  // 1e-100006 underflows
}

// Lines of plain integers between spaces take a faster route than lines with
// other white space; both must give the same record or the same failure.
// Random line soup, valid and broken, read with spaces and again with tabs.
TEST(McReader, SpaceAndTabSeparatedFilesReadAlike) {
  const std::string tokens[] = {"0", "1", "2", "3", "-1", "+4", "17", "-250", "99999999",
                                "123456789012345678", "9223372036854775807",
                                "-9223372036854775808", "9223372036854775808", "007", "x",
                                "1.5", "+", "nan", "0.25"};
  const char* kinds[] = {"a", "a", "a", "a", "n", "n", "p", "c", "x", "aa"};
  std::mt19937_64 gen(11);
  auto same = [](const ParsedMulticommodityInstance& x, const ParsedMulticommodityInstance& y) {
    auto segments = [](const ParsedMulticommodityInstance& r) {
      std::vector<std::tuple<uint64_t, uint64_t, bool, bool, uint64_t, uint64_t>> out;
      for (const auto& s : r.segments) {
        out.emplace_back(s.first_arc, s.num_commodities, s.capacities_expanded, s.costs_expanded,
                         s.capacity_base, s.cost_base);
      }
      return out;
    };
    return std::tie(x.num_nodes, x.num_arcs, x.num_commodities, x.randomized_capacities,
                    x.randomized_weights, x.method, x.cap_zero, x.seed, x.nodes,
                    x.supplies.entries, x.amount_offsets, x.amount_values, x.tails, x.heads,
                    x.parallel_index, x.ups, x.pair_order, x.parallel, x.capacity_values,
                    x.cost_values) ==
               std::tie(y.num_nodes, y.num_arcs, y.num_commodities, y.randomized_capacities,
                        y.randomized_weights, y.method, y.cap_zero, y.seed, y.nodes,
                        y.supplies.entries, y.amount_offsets, y.amount_values, y.tails, y.heads,
                        y.parallel_index, y.ups, y.pair_order, y.parallel, y.capacity_values,
                        y.cost_values) &&
           std::bit_cast<uint64_t>(x.cap_zero_param) == std::bit_cast<uint64_t>(y.cap_zero_param) &&
           segments(x) == segments(y);
  };
  int succeeded = 0;
  for (int trial = 0; trial < 3000; ++trial) {
    std::vector<std::vector<std::string>> lines;
    const int num_lines = 1 + static_cast<int>(gen() % 12);
    for (int l = 0; l < num_lines; ++l) {
      std::vector<std::string> line{kinds[gen() % std::size(kinds)]};
      const bool problem = line[0] == "p";
      const int count = problem ? 9 + static_cast<int>(gen() % 4) : static_cast<int>(gen() % 12);
      for (int t = 0; t < count; ++t) {
        // Mostly small plain values, so that many files are read to the end;
        // problem lines mostly get flags and a small K.
        const bool plain = gen() % 12 != 0;
        const std::size_t pick = plain ? gen() % (problem ? 4 : 8) : gen() % std::size(tokens);
        line.push_back(tokens[pick]);
      }
      if (problem && line.size() > 2) line[1] = "min";
      lines.push_back(line);
    }
    std::string with_spaces, with_tabs;
    for (const auto& line : lines) {
      for (std::size_t t = 0; t < line.size(); ++t) {
        with_spaces += (t != 0 ? " " : "") + line[t];
        with_tabs += (t != 0 ? "\t" : "") + line[t];
      }
      with_spaces += "\n";
      with_tabs += "\n";
    }
    auto fast = parse_multi_min(write_file("soup_spaces", with_spaces));
    auto general = parse_multi_min(write_file("soup_tabs", with_tabs));
    ASSERT_EQ(fast.ok(), general.ok()) << with_spaces;
    if (!fast.ok()) {
      ASSERT_EQ(fast.error().kind, general.error().kind) << with_spaces;
      ASSERT_EQ(fast.error().message, general.error().message) << with_spaces;
      continue;
    }
    ++succeeded;
    ASSERT_TRUE(same(fast.value(), general.value())) << with_spaces;
  }
  EXPECT_GT(succeeded, 300);  // the comparison covered real records, not only failures
}

TEST(McReader, RoundTripThroughTheWriter) {
  std::mt19937_64 gen(7);
  for (int trial = 0; trial < 40; ++trial) {
    const uint64_t k = gen() % 5;
    std::vector<testing::TestArc> arcs;
    const std::size_t num_arcs = gen() % 30;
    for (std::size_t a = 0; a < num_arcs; ++a) {
      arcs.push_back({static_cast<int64_t>(gen() % 5) - 2, static_cast<int64_t>(gen() % 5),
                      static_cast<int64_t>(gen() % 3), static_cast<int64_t>(gen() % 100)});
    }
    const auto instance = make_instance(static_cast<int64_t>(gen() % 9), -3, arcs);
    const bool rc = gen() % 2, rw = gen() % 2, cz = gen() % 2;
    std::vector<int64_t> capacities, costs;
    for (std::size_t a = 0; a < num_arcs; ++a) {
      const auto cap0 = static_cast<int64_t>(gen()), cost0 = static_cast<int64_t>(gen());
      for (uint64_t c = 0; c < k; ++c) {
        capacities.push_back(rc || cz ? static_cast<int64_t>(gen()) : cap0);
        costs.push_back(rw ? static_cast<int64_t>(gen() % 1000) - 500 : cost0);
      }
    }
    // The writer refuses an empty compressed list (K = 0 with arcs).
    if (k == 0 && num_arcs != 0 && !((rc || cz) && rw)) continue;
    auto data = make_data(instance, k, capacities, costs);
    data.randomized_capacities = rc;
    data.randomized_weights = rw;
    data.cap_zero = cz;
    data.method = static_cast<int64_t>(gen() % 3);
    data.cap_zero_param = std::bit_cast<double>(gen());
    data.seed = gen();
    for (int64_t node = -3; node < 6; node += 1 + static_cast<int64_t>(gen() % 3)) {
      std::vector<int64_t> amounts;
      for (uint64_t c = 0; c < k; ++c) amounts.push_back(static_cast<int64_t>(gen()));
      data.supply_partition.entries.emplace_back(node, amounts);
    }
    const std::string path = temp_path("round_trip");
    ASSERT_TRUE(export_to_dimacs(path, instance, data).ok());
    auto read = parse_multi_min(path);
    ASSERT_TRUE(read.ok()) << read.error().message;
    const auto& r = read.value();

    EXPECT_EQ(r.num_nodes, instance.num_nodes);
    EXPECT_EQ(r.num_arcs, -3);
    EXPECT_EQ(r.num_commodities, k);
    EXPECT_EQ(r.randomized_capacities, rc);
    EXPECT_EQ(r.randomized_weights, rw);
    EXPECT_EQ(r.cap_zero, cz);
    EXPECT_EQ(r.method, data.method);
    if (std::isnan(data.cap_zero_param)) {
      EXPECT_EQ(std::bit_cast<uint64_t>(r.cap_zero_param), 0x7FF8000000000000u);
    } else {
      EXPECT_EQ(std::bit_cast<uint64_t>(r.cap_zero_param),
                std::bit_cast<uint64_t>(data.cap_zero_param));
    }
    EXPECT_EQ(r.seed, data.method == 1 && !rc && !rw ? 0 : data.seed);
    // Partition nodes first (ascending), then arc endpoints by first appearance.
    std::vector<int64_t> nodes;
    for (const auto& [node, amounts] : data.supply_partition) nodes.push_back(node);
    for (std::size_t a = 0; a < num_arcs; ++a) {
      for (const int64_t id : {arcs[a].tail, arcs[a].head}) {
        if (std::find(nodes.begin(), nodes.end(), id) == nodes.end()) nodes.push_back(id);
      }
    }
    EXPECT_EQ(r.nodes, nodes);
    ASSERT_EQ(r.supplies.size(), data.supply_partition.size());
    for (std::size_t i = 0; i < r.supplies.size(); ++i) {
      const auto& [node, amounts] = data.supply_partition.entries[i];
      uint64_t total = 0;
      for (const int64_t amount : amounts) total += static_cast<uint64_t>(amount);
      EXPECT_EQ(r.supplies.entries[i], std::make_pair(node, static_cast<int64_t>(total)));
      const auto read_amounts = r.amounts(i);
      EXPECT_EQ(std::vector<int64_t>(read_amounts.begin(), read_amounts.end()), amounts);
    }
    ASSERT_EQ(r.num_edges(), num_arcs);
    EXPECT_EQ(r.tails, instance.tails);
    EXPECT_EQ(r.heads, instance.heads);
    EXPECT_EQ(r.parallel_index, instance.parallel_index);
    EXPECT_EQ(r.ups, instance.ups);
    EXPECT_EQ(r.pair_order, instance.pair_order);
    EXPECT_EQ(r.parallel, instance.parallel());
    for (std::size_t a = 0; a < num_arcs; ++a) {
      const std::vector<int64_t> cap(capacities.begin() + static_cast<std::ptrdiff_t>(a * k),
                                     capacities.begin() + static_cast<std::ptrdiff_t>(a * k + k));
      const std::vector<int64_t> cost(costs.begin() + static_cast<std::ptrdiff_t>(a * k),
                                      costs.begin() + static_cast<std::ptrdiff_t>(a * k + k));
      EXPECT_EQ(expand(r.capacity_list(a)), cap);
      EXPECT_EQ(expand(r.cost_list(a)), cost);
      for (uint64_t c = 0; c < k; ++c) EXPECT_EQ(r.bundle_capacity(c, a), cap[c]);
    }
  }
}

}  // namespace
}  // namespace korvane
