// Multi-commodity reader: accepted texts, every failure message and its token
// order, list layouts across problem lines, hostile input, and the round trip
// through the writer.
#include <gtest/gtest.h>

#include <bit>
#include <chrono>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "mc_test_support.h"
#include "utils/mc_reader.h"
#include "utils/mc_writer.h"

namespace korvane {
namespace {

using testing::write_file;

Result<ParsedMulticommodityInstance> parse_text(const std::string& text) {
  return parse_multi_min(write_file("reader", text));
}

ParsedMulticommodityInstance parsed_ok(const std::string& text) {
  auto result = parse_text(text);
  EXPECT_TRUE(result.ok()) << (result.ok() ? "" : result.error().message);
  return result.ok() ? std::move(result).value() : ParsedMulticommodityInstance{};
}

std::string join(const std::vector<int64_t>& values) {
  std::string out;
  for (const int64_t v : values) out.append(out.empty() ? "" : ",").append(std::to_string(v));
  return "[" + out + "]";
}

std::vector<int64_t> expand(ListView list) {
  std::vector<int64_t> values;
  for (uint64_t k = 0; k < list.length; ++k) values.push_back(list.at(k));
  return values;
}

// The arcs as "tail>head#p up caps costs" items.
std::string arcs_of(const ParsedMulticommodityInstance& r) {
  std::string out;
  for (std::size_t a = 0; a < r.num_edges(); ++a) {
    out += std::to_string(r.tails[a]) + ">" + std::to_string(r.heads[a]) + "#" +
           std::to_string(r.parallel_index[a]) + " " + std::to_string(r.ups[a]) + " " +
           join(expand(r.capacity_list(a))) + join(expand(r.cost_list(a))) + "; ";
  }
  return out;
}

// The node lines as "node:total[amounts]" items.
std::string nodes_of(const ParsedMulticommodityInstance& r) {
  std::string out;
  for (std::size_t i = 0; i < r.supplies.size(); ++i) {
    const auto amounts = r.amounts(i);
    out += std::to_string(r.supplies.entries[i].first) + ":" +
           std::to_string(r.supplies.entries[i].second) +
           join(std::vector<int64_t>(amounts.begin(), amounts.end())) + " ";
  }
  return out + "order" + join(r.nodes);
}

// Every field, for comparing two records.
std::string everything(const ParsedMulticommodityInstance& r) {
  std::string out = std::to_string(r.num_nodes) + " " + std::to_string(r.num_arcs) + " " +
                    std::to_string(r.num_commodities) + " " +
                    std::to_string(r.randomized_capacities) + std::to_string(r.randomized_weights) +
                    std::to_string(r.cap_zero) + " " + std::to_string(r.method) + " " +
                    std::to_string(std::bit_cast<uint64_t>(r.cap_zero_param)) + " " +
                    std::to_string(r.seed) + " " + std::to_string(r.parallel) + " ";
  for (const uint64_t a : r.pair_order) out += std::to_string(a) + ",";
  for (const auto& s : r.segments) {
    out += " [" + std::to_string(s.first_arc) + " " + std::to_string(s.num_commodities) +
           std::to_string(s.capacities_expanded) + std::to_string(s.costs_expanded) + " " +
           std::to_string(s.capacity_base) + " " + std::to_string(s.cost_base) + "]";
  }
  return out + " " + nodes_of(r) + " " + arcs_of(r) + join(r.capacity_values) +
         join(r.cost_values) + join(r.amount_values);
}

std::vector<int64_t> bundle_of(const ParsedMulticommodityInstance& r) {
  std::vector<int64_t> out;
  for (uint64_t k = 0; k < r.num_commodities; ++k) {
    for (std::size_t a = 0; a < r.num_edges(); ++a) out.push_back(r.bundle_capacity(k, a));
  }
  return out;
}

TEST(McReader, WorkedExampleReadsEveryField) {
  const auto r = parsed_ok(testing::WorkedExample::kText);
  EXPECT_EQ(std::tie(r.num_nodes, r.num_arcs, r.num_commodities, r.method, r.seed),
            std::make_tuple(3, 2, 2u, 2, 42u));
  EXPECT_TRUE(r.randomized_capacities && !r.randomized_weights && !r.cap_zero && !r.parallel);
  EXPECT_EQ(r.cap_zero_param, 0.0);
  EXPECT_EQ(nodes_of(r), "1:10[7,3] 3:-10[-7,-3] order[1,3,2]");
  EXPECT_EQ(arcs_of(r), "1>2#0 15 [12,15][4,4]; 2>3#0 20 [18,17][2,2]; ");
  EXPECT_EQ(bundle_of(r), (std::vector<int64_t>{12, 18, 15, 17}));
  EXPECT_EQ(r.commodity_major_size(), std::optional<std::size_t>(4));
  EXPECT_EQ(r.cost_values.size(), 2u);  // a compressed list is stored once, not K times
}

TEST(McReader, LenientText) {
  const auto r = parsed_ok(
      "\xEF\xBB\xBF"
      "c leading comment\r\n   \t\r\n\nx 1 2 3\npp min 9 9 9 0 0 0 0 0 0\nA 1 2 0 5 1 1\n"
      "cost 1 2\n"
      "\u00A0p\tmax 4 3 3 0 0 1 0 0.25 0 extra\r\n"
      "  c indented comment\n"
      "n 9 1 1 0\n"
      "a\u3000 1 9 zz 10 5 7 99\r\n"
      "n 4 5\n"
      "n 9 -3 -1 -1 -1 -1\n"
      "  a 2 1 0 11 +6 -8\n");
  EXPECT_EQ(std::tie(r.num_nodes, r.num_commodities, r.method), std::make_tuple(4, 3u, 1));
  EXPECT_EQ(r.cap_zero_param, 0.25);
  EXPECT_EQ(nodes_of(r), "4:5[] 9:-3[-1,-1,-1,-1] order[9,1,4,2]");
  EXPECT_EQ(arcs_of(r), "1>9#0 10 [5,5,5][7,7,7]; 2>1#0 11 [6,6,6][-8,-8,-8]; ");

  const auto empty = parsed_ok("");
  EXPECT_EQ(everything(empty), everything(ParsedMulticommodityInstance{}));
  const auto header = parsed_ok("p min 5 6 2 1 1 0 1 -0 7\n");
  EXPECT_EQ(std::tie(header.num_arcs, header.seed), std::make_tuple(6, 7u));
  EXPECT_TRUE(header.randomized_capacities && header.randomized_weights && header.cap_zero);
  EXPECT_EQ(std::bit_cast<uint64_t>(header.cap_zero_param), std::bit_cast<uint64_t>(-0.0));
  EXPECT_EQ(header.commodity_major_size(), std::optional<std::size_t>(0));
}

TEST(McReader, ParallelIndicesAndPairOrder) {
  const auto scattered = parsed_ok(
      "a 2 3 0 1 1 1\na 1 2 0 1 1 1\na 1 2 0 1 1 1\na 2 3 0 1 1 1\na -5 7 0 1 1 1\n");
  EXPECT_EQ(arcs_of(scattered),
            "2>3#0 1 [][]; 1>2#0 1 [][]; 1>2#1 1 [][]; 2>3#1 1 [][]; -5>7#0 1 [][]; ");
  EXPECT_EQ(scattered.pair_order, (std::vector<uint64_t>{4, 1, 2, 0, 3}));
  EXPECT_TRUE(scattered.parallel);
  // Grouped by tail, as most files are, with heads out of order in a group.
  const auto grouped = parsed_ok(
      "a 1 3 0 1 1 1\na 1 2 0 1 1 1\na 1 3 0 1 1 1\na 2 1 0 1 1 1\na 2 1 0 1 1 1\na 2 0 0 1 1 1\n");
  EXPECT_EQ(grouped.parallel_index, (std::vector<int64_t>{0, 0, 1, 0, 1, 0}));
  EXPECT_EQ(grouped.pair_order, (std::vector<uint64_t>{1, 0, 2, 5, 3, 4}));
  const auto single = parsed_ok("a 0 2 0 1 1 1\na 2 0 0 1 1 1\n");
  EXPECT_FALSE(single.parallel);
  EXPECT_EQ(single.nodes, (std::vector<int64_t>{0, 2}));
}

TEST(McReader, FailuresTheirKindsAndTokenOrder) {
  const auto index = [](std::size_t i, std::size_t len) {
    return index_out_of_range_message(i, len);
  };
  const auto range = [](std::size_t end, std::size_t len) {
    return range_out_of_range_message(end, len);
  };
  const std::string invalid = "invalid digit found in string";
  const std::string large = "number too large to fit in target type";
  const std::string rc2 = "p min 1 1 2 1 0 0 0 0 0\n";  // K = 2, capacities expanded
  const std::string rw2 = "p min 1 1 2 0 1 0 0 0 0\n";  // K = 2, costs expanded
  constexpr ErrorKind kI = ErrorKind::kInternal, kR = ErrorKind::kReported;
  const struct {
    std::string text;
    ErrorKind kind;
    std::string message;
  } cases[] = {
      {"p min 3 2 2\n", kI, index(10, 5)},
      {"p\n", kI, index(2, 1)},
      {"p min 3 2\n", kI, index(4, 4)},
      {"n 1\n", kI, index(2, 2)},
      {"a 1 2 zz\n", kI, index(4, 4)},  // token 3 is never read
      {"a 1 2 0 5\n", kI, index(5, 5)},
      {"a 1 2 0 5 1\n", kI, index(6, 6)},
      {rc2 + "a 1 2 0 10 5\n", kI, range(7, 6)},
      {rc2 + "a 1 2 0 10 5 6\n", kI, index(7, 7)},
      {rw2 + "a 1 2 0 10 5 6\n", kI, range(8, 7)},
      {"p min 1 1 2 1 1 0 0 0 0\na 1 2 0 10 1 2 3\n", kI, range(9, 8)},
      // The first problem in token order decides.
      {"a x\n", kR, invalid},
      {"p min x\n", kR, invalid},
      {"p min 1 2 3 x x x x x\n", kI, index(10, 10)},  // presence of 10 before 5..9
      {"p min 1 2 3 x 0 0 0 0 99999999999999999999\n", kR, large},  // 10 before 5
      {"p min 1 2 3 0 0 0 x bad 0\n", kR, invalid},  // 8 before 9
      {"p min 1 2 3 0 0 0 0 bad 0\n", kR, "invalid float literal"},
      {"p min 1 1 3 1 0 0 0 0 0\na 1 2 0 10 x 1\n", kI, range(8, 7)},  // range before values
      {rc2 + "a 1 2 0 10 x 1 1\n", kR, invalid},
      {"p min 1 1 -1 0 0 0 0 0 0\n", kR, invalid},
      {"p min 1 1 1 0 0 0 0 0 -0\n", kR, invalid},
      {"p min 9223372036854775808 1 1 0 0 0 0 0 0\n", kR, large},
      {"p min 1 1 18446744073709551616 0 0 0 0 0 0\n", kR, large},
      {"n 1 -9223372036854775809\n", kR, "number too small to fit in target type"},
      {"n 1 2 3 4 +\n", kR, invalid},
      {"a 1 2 0 1 1 1.0\n", kR, invalid},
      {"ok\n\xFF\n", kR, "stream did not contain valid UTF-8"},
      // Lists shorter than the final K: arcs before any problem line have empty
      // lists; otherwise the shortest list fails first, wherever its arcs are.
      {"a 1 2 0 5 1 1\np min 1 1 1 0 0 0 0 0 0\n", kI, index(0, 0)},
      {"p min 1 1 1 0 0 0 0 0 0\na 1 2 0 1 1 1\np min 1 1 2 0 0 0 0 0 0\na 1 2 0 1 1 1\n"
       "p min 1 1 3 0 0 0 0 0 0\n",
       kI, index(1, 1)},
  };
  for (const auto& c : cases) {
    auto result = parse_text(c.text);
    ASSERT_FALSE(result.ok()) << c.text;
    EXPECT_EQ(result.error().kind, c.kind) << c.text;
    EXPECT_EQ(result.error().message, c.message) << c.text;
  }
  auto missing = parse_multi_min("/nonexistent-dir/file.txt");
  EXPECT_EQ(missing.error().kind, kR);
  EXPECT_EQ(missing.error().message, "No such file or directory (os error 2)");
}

TEST(McReader, EachArcUsesTheProblemLineBeforeIt) {
  const auto r = parsed_ok(
      "a 0 1 0 0 9 9\n"
      "p min 1 1 3 0 0 0 0 0 1\n"
      "a 1 2 0 10 5 7\n"
      "p min 2 2 2 1 1 0 0 0 2\n"
      "a 3 4 0 20 1 2 3 4\n"
      "p min 3 3 2 1 1 2 0 0 3\n"  // same layout: the segment continues
      "a 5 6 0 30 9 8 7 6\n"
      "p min 3 3 2 1 0 2 0 0 3\n"  // only the cost form changes
      "a 7 8 0 40 1 2 5\n"
      "p min 3 3 0 1 1 2 0 0 3\n");  // the final K is 0: every list is long enough
  EXPECT_EQ(std::tie(r.num_nodes, r.num_commodities, r.seed), std::make_tuple(3, 0u, 3u));
  EXPECT_EQ(arcs_of(r),
            "0>1#0 0 [][]; 1>2#0 10 [5,5,5][7,7,7]; 3>4#0 20 [1,2][3,4]; 5>6#0 30 [9,8][7,6]; "
            "7>8#0 40 [1,2][5,5]; ");
  ASSERT_EQ(r.segments.size(), 4u);
  EXPECT_EQ(r.segments[2].first_arc, 2u);
}

TEST(McReader, HugeCountsAndHostileLines) {
  const auto start = std::chrono::steady_clock::now();
  const auto r = parsed_ok(
      "p min 9223372036854775807 9223372036854775807 18446744073709551615 0 0 0 0 0 0\n"
      "a 1 2 0 5 3 4\na 1 2 0 5 6 7\n");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(r.capacity_list(1).length, std::numeric_limits<uint64_t>::max());
  EXPECT_EQ(r.bundle_capacity(std::numeric_limits<uint64_t>::max() - 1, 1), 6);
  EXPECT_EQ(r.cost_values.size(), 2u);
  EXPECT_LE(r.tails.capacity(), 1000u);  // the declared arc count was clamped
  EXPECT_FALSE(r.commodity_major_size().has_value());
  // The end of an expanded range is stated exactly, even beyond 64 bits.
  auto beyond = parse_text("p min 1 1 18446744073709551615 0 1 0 0 0 0\na 1 2 0 5 1 2\n");
  EXPECT_EQ(beyond.error().message,
            "range end index 18446744073709551621 out of range for slice of length 7");

  std::string many = "n 1 0";
  for (int i = 0; i < 1000000; ++i) many += " -1";
  EXPECT_EQ(parsed_ok(many + "\n").amounts(0).size(), 1000000u);
  EXPECT_EQ(parse_text(std::string("a 1\0 2 0 1 1 1\n", 15)).error().message,
            "invalid digit found in string");
  EXPECT_EQ(parsed_ok(std::string("\0 1 2\n", 6)).num_edges(), 0u);
  EXPECT_EQ(parse_text("p min " + std::string(200000, '9') + " 1\n").error().message,
            "number too large to fit in target type");
  const std::string zeros(100000, '0');
  const auto padded = parsed_ok("p min " + zeros + "1 2 3 0 0 0 0 0." + zeros + "1e-5 9\n");
  EXPECT_EQ(padded.num_nodes, 1);
  EXPECT_EQ(padded.cap_zero_param, 0.0);  // 1e-100006 underflows
}

// Lines of plain integers between spaces take a faster route than lines with
// other white space; both must give the same record or the same failure.
// Random line soup, valid and broken, read with spaces and again with tabs.
TEST(McReader, SpaceAndTabSeparatedFilesReadAlike) {
  const std::string tokens[] = {"0", "1", "2", "3", "-1", "+4", "-250", "99999999",
                                "123456789012345678", "9223372036854775807", "9223372036854775808",
                                "x", "1.5", "+", "nan"};
  const char* kinds[] = {"a", "a", "a", "a", "n", "n", "p", "c", "x", "aa"};
  std::mt19937_64 gen(11);
  int read_through = 0;
  for (int trial = 0; trial < 3000; ++trial) {
    std::string with_spaces, with_tabs;
    for (int l = 0, lines = 1 + static_cast<int>(gen() % 12); l < lines; ++l) {
      const std::string kind = kinds[gen() % std::size(kinds)];
      with_spaces += kind;
      with_tabs += kind;
      const bool problem = kind == "p";
      for (int t = 0, n = problem ? 9 + static_cast<int>(gen() % 4) : static_cast<int>(gen() % 12);
           t < n; ++t) {
        // Mostly small plain values (flags and small K on problem lines), so
        // that many files are read to the end.
        const std::size_t pick =
            gen() % 12 != 0 ? gen() % (problem ? 4 : 8) : gen() % std::size(tokens);
        with_spaces += " " + tokens[pick];
        with_tabs += "\t" + tokens[pick];
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
    ++read_through;
    ASSERT_EQ(everything(fast.value()), everything(general.value())) << with_spaces;
  }
  EXPECT_GT(read_through, 300);  // real records were compared, not only failures
}

TEST(McReader, RoundTripThroughTheWriter) {
  std::mt19937_64 gen(7);
  for (int trial = 0; trial < 40; ++trial) {
    const uint64_t k = gen() % 5;
    const std::size_t num_arcs = gen() % 30;
    std::vector<testing::TestArc> arcs;
    for (std::size_t a = 0; a < num_arcs; ++a) {
      arcs.push_back({static_cast<int64_t>(gen() % 5) - 2, static_cast<int64_t>(gen() % 5),
                      static_cast<int64_t>(gen() % 3), static_cast<int64_t>(gen() % 100)});
    }
    const auto instance = testing::make_instance(static_cast<int64_t>(gen() % 9), -3, arcs);
    bool rc = gen() % 2, rw = gen() % 2;
    const bool cz = gen() % 2;
    if (k == 0) rc = rw = true;  // K = 0 only with two expanded (empty) lists
    std::vector<int64_t> capacities, costs;
    for (std::size_t a = 0; a < num_arcs; ++a) {
      const auto cap0 = static_cast<int64_t>(gen()), cost0 = static_cast<int64_t>(gen());
      for (uint64_t c = 0; c < k; ++c) {
        capacities.push_back(rc || cz ? static_cast<int64_t>(gen()) : cap0);
        costs.push_back(rw ? static_cast<int64_t>(gen() % 1000) - 500 : cost0);
      }
    }
    auto data = testing::make_data(instance, k, capacities, costs);
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
    const std::string path = testing::temp_path("round_trip");
    ASSERT_TRUE(export_to_dimacs(path, instance, data).ok());
    auto read = parse_multi_min(path);
    ASSERT_TRUE(read.ok()) << read.error().message;
    const auto& r = read.value();

    EXPECT_EQ(std::tie(r.num_nodes, r.num_arcs, r.num_commodities, r.method),
              std::tie(instance.num_nodes, instance.num_arcs, k, data.method));
    EXPECT_EQ(std::tie(r.randomized_capacities, r.randomized_weights, r.cap_zero),
              std::tie(rc, rw, cz));
    EXPECT_EQ(std::bit_cast<uint64_t>(r.cap_zero_param),
              std::isnan(data.cap_zero_param) ? 0x7FF8000000000000u
                                              : std::bit_cast<uint64_t>(data.cap_zero_param));
    EXPECT_EQ(r.seed, data.method == 1 && !rc && !rw ? 0 : data.seed);
    // Partition nodes first (ascending), then arc endpoints by first appearance.
    std::vector<int64_t> nodes;
    std::string expected_nodes;
    for (const auto& [node, amounts] : data.supply_partition) {
      uint64_t total = 0;
      for (const int64_t amount : amounts) total += static_cast<uint64_t>(amount);
      expected_nodes += std::to_string(node) + ":" +
                        std::to_string(static_cast<int64_t>(total)) + join(amounts) + " ";
      nodes.push_back(node);
    }
    for (const auto& arc : arcs) {
      for (const int64_t id : {arc.tail, arc.head}) {
        if (std::find(nodes.begin(), nodes.end(), id) == nodes.end()) nodes.push_back(id);
      }
    }
    EXPECT_EQ(nodes_of(r), expected_nodes + "order" + join(nodes));
    std::string expected_arcs;
    for (std::size_t a = 0; a < num_arcs; ++a) {
      const auto slice = [&](const std::vector<int64_t>& table) {
        return join(std::vector<int64_t>(table.begin() + static_cast<std::ptrdiff_t>(a * k),
                                         table.begin() + static_cast<std::ptrdiff_t>(a * k + k)));
      };
      expected_arcs += std::to_string(arcs[a].tail) + ">" + std::to_string(arcs[a].head) + "#" +
                       std::to_string(instance.parallel_index[a]) + " " +
                       std::to_string(arcs[a].up) + " " + slice(capacities) + slice(costs) + "; ";
    }
    EXPECT_EQ(arcs_of(r), expected_arcs);
    EXPECT_EQ(r.pair_order, instance.pair_order);
    EXPECT_EQ(r.parallel, instance.parallel());
  }
}

}  // namespace
}  // namespace korvane
