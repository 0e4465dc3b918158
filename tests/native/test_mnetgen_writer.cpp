// The Mnetgen writer (exact bytes, refusals, failures that must leave the old
// parts whole, compressed output), BufferedWriter's two steps, and the
// conversions of korvane's records into a MulticommodityProblem.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "core/formats/mnetgen_writer.h"
#include "core/io/file_io.h"
#include "core/records/problem_conversion.h"

// Designated initializers name only the fields that matter here.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace korvane {
namespace {

namespace fs = std::filesystem;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void spit(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// A fresh folder per test, with the four parts of base "x" in it.
struct Folder {
  fs::path dir;
  explicit Folder(const std::string& name) : dir(fs::temp_directory_path() / ("korvane_" + name)) {
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  ~Folder() { fs::remove_all(dir); }
  FourFileParts parts(const std::string& suffix = "", const std::string& name = "x") const {
    const std::string base = (dir / name).string();
    return {base + ".nod" + suffix, base + ".arc" + suffix, base + ".sup" + suffix,
            base + ".mut" + suffix};
  }
  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const auto& entry : fs::directory_iterator(dir)) out.push_back(entry.path().filename());
    std::sort(out.begin(), out.end());
    return out;
  }
};

// K = 2, three nodes, three arcs: an unbounded capacity, a commodity that may
// not use an arc, an arc no commodity may use, -0, 1e-7 and 1e20, two bundles.
MulticommodityProblem small_problem() {
  return MulticommodityProblem{
      .num_nodes = 3, .num_commodities = 2, .arc_names = {1, 2, 3}, .tails = {1, 2, 3},
      .heads = {2, 3, 1}, .costs = {4, -0.0, 1, 1e-7, 7, 8},
      .capacities = {kUnbounded, 5, 0, 1e20, 0, 0}, .bundles = {6, kUnbounded, 0.25},
      .supplies = {3, 2, 0, -0.0, -3, -2.5}};
}

// Written out by hand from the format's rules, not taken from the writer.
const std::string kNod = "2\n3\n3\n2\n";
const std::string kArc =
    "1\t1\t2\t1\t4\t-1\t1\n"
    "1\t1\t2\t2\t0\t5\t1\n"
    "2\t2\t3\t2\t0.0000001\t100000000000000000000\t0\n"
    "3\t3\t1\t1\t7\t0\t2\n";
const std::string kSup = "1\t1\t3\n1\t2\t2\n3\t1\t-3\n3\t2\t-2.5\n";
const std::string kMut = "1\t6\n2\t0.25\n";

TEST(MnetgenWriter, WritesTheFourPartsAsTheGeneratorDoes) {
  const Folder folder("mnetgen_exact");
  const FourFileParts parts = folder.parts();
  ASSERT_TRUE(write_mnetgen(parts, small_problem(), Compression::kNone).ok());
  EXPECT_EQ(slurp(parts.nod), kNod);
  EXPECT_EQ(slurp(parts.arc), kArc);
  EXPECT_EQ(slurp(parts.sup), kSup);
  EXPECT_EQ(slurp(parts.mut), kMut);
  EXPECT_EQ(folder.names(), (std::vector<std::string>{"x.arc", "x.mut", "x.nod", "x.sup"}));
}

// Decompressed through the readers' LineReader, each part is the plain bytes;
// the problem is large enough for many buffer flushes and compressor outputs.
TEST(MnetgenWriter, CompressedPartsHoldThePlainBytes) {
  MulticommodityProblem big = small_problem();
  for (int64_t a = 3; a < 30000; ++a) {
    big.arc_names.push_back(a + 1);
    big.tails.push_back(1 + a % 3);
    big.heads.push_back(1 + (a + 1) % 3);
    big.costs.insert(big.costs.end(), {static_cast<double>(a) / 7, static_cast<double>(a)});
    big.capacities.insert(big.capacities.end(), {static_cast<double>(a % 5), kUnbounded});
    big.bundles.push_back(a % 4 == 0 ? static_cast<double>(a) / 3 : kUnbounded);
  }
  const Folder folder("mnetgen_compressed");
  const FourFileParts plain = folder.parts();
  ASSERT_TRUE(write_mnetgen(plain, big, Compression::kNone).ok());
  std::vector<std::pair<Compression, std::string>> kinds;
  if (KORVANE_HAVE_ZLIB) kinds.emplace_back(Compression::kGzip, ".gz");
  if (KORVANE_HAVE_ZSTD) kinds.emplace_back(Compression::kZstd, ".zst");
  for (const auto& [compression, suffix] : kinds) {
    // Beside the plain parts, not over them: a writer removes a part's other variants.
    const FourFileParts packed = folder.parts(suffix, "packed");
    ASSERT_TRUE(write_mnetgen(packed, big, compression).ok()) << suffix;
    for (const auto& [a, b] :
         {std::pair{plain.nod, packed.nod}, std::pair{plain.arc, packed.arc},
          std::pair{plain.sup, packed.sup}, std::pair{plain.mut, packed.mut}}) {
      auto lines = LineReader::open(b);
      ASSERT_TRUE(lines.ok());
      std::string text;
      ASSERT_TRUE(for_each_line(lines.value(), [&](std::string_view line) -> Result<void> {
                    text.append(line).push_back('\n');
                    return {};
                  }).ok());
      EXPECT_TRUE(lines.value().compressed()) << b;
      EXPECT_EQ(text, slurp(a)) << b;
    }
  }
  EXPECT_GT(slurp(plain.arc).size(), std::size_t{1} << 20);
}

struct Refusal {
  const char* name;
  void (*spoil)(MulticommodityProblem&);
  const char* message;
};

class MnetgenRefusal : public testing::TestWithParam<Refusal> {};

// Refused before any file is opened: the old parts stay byte for byte, and no
// temporary file is left.
TEST_P(MnetgenRefusal, LeavesTheOldPartsAlone) {
  const Folder folder(std::string("mnetgen_refusal_") + GetParam().name);
  const FourFileParts parts = folder.parts();
  for (const auto& path : {parts.nod, parts.arc, parts.sup, parts.mut}) spit(path, "old " + path);
  MulticommodityProblem problem = small_problem();
  problem.node_ids = {-5, 10, 12};
  GetParam().spoil(problem);
  const Result<void> written = write_mnetgen(parts, problem, Compression::kNone);
  ASSERT_FALSE(written.ok());
  EXPECT_EQ(written.error().kind, ErrorKind::kInvalid);
  EXPECT_EQ(written.error().message, GetParam().message);
  for (const auto& path : {parts.nod, parts.arc, parts.sup, parts.mut}) {
    EXPECT_EQ(slurp(path), "old " + path);
  }
  EXPECT_EQ(folder.names().size(), 4u);
}

INSTANTIATE_TEST_SUITE_P(
    Values, MnetgenRefusal,
    testing::Values(
        Refusal{"self_loop", [](MulticommodityProblem& p) { p.heads[1] = 2; },
                "arc 2 (10 -> 10) is a self-loop; Mnetgen files cannot hold one"},
        Refusal{"negative_capacity", [](MulticommodityProblem& p) { p.capacities[3] = -2; },
                "arc 2 (10 -> 12) has capacity -2 for commodity 2; Mnetgen files read a "
                "negative one as unbounded"},
        Refusal{"nan_capacity", [](MulticommodityProblem& p) { p.capacities[0] = kNaN; },
                "arc 1 (-5 -> 10) has capacity NaN for commodity 1; Mnetgen files cannot hold it"},
        Refusal{"infinite_cost", [](MulticommodityProblem& p) { p.costs[5] = -kInf; },
                "arc 3 (12 -> -5) has cost -inf for commodity 2; Mnetgen files cannot hold it"},
        Refusal{"negative_bundle", [](MulticommodityProblem& p) { p.bundles[2] = -1; },
                "arc 3 (12 -> -5) has bundle capacity -1; Mnetgen files read a negative one as "
                "unbounded"},
        Refusal{"nan_bundle", [](MulticommodityProblem& p) { p.bundles[1] = kNaN; },
                "arc 2 (10 -> 12) has bundle capacity NaN; Mnetgen files cannot hold it"},
        Refusal{"infinite_supply", [](MulticommodityProblem& p) { p.supplies[2] = kInf; },
                "node 10 has supply inf for commodity 1; Mnetgen files cannot hold it"},
        // The records of one name are one arc when read: names must ascend.
        Refusal{"repeated_name", [](MulticommodityProblem& p) { p.arc_names = {2, 5, 5}; },
                "arc 5 (12 -> -5) comes after arc 5; Mnetgen arc names ascend from 1"},
        Refusal{"name_zero", [](MulticommodityProblem& p) { p.arc_names[0] = 0; },
                "arc 0 (-5 -> 10) is named below 1; Mnetgen arc names ascend from 1"}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

// A part that cannot be written (its target is a folder) after three that
// were: nothing is renamed, the old parts stay, no temporary file is left.
TEST(MnetgenWriter, AFailedPartLeavesEveryOldPartWhole) {
  const Folder folder("mnetgen_failed");
  const FourFileParts parts = folder.parts();
  for (const auto& path : {parts.nod, parts.arc, parts.sup}) spit(path, "old");
  fs::create_directory(parts.mut);
  const Result<void> written = write_mnetgen(parts, small_problem(), Compression::kNone);
  ASSERT_FALSE(written.ok());
  EXPECT_EQ(written.error().kind, ErrorKind::kReported);
  EXPECT_EQ(written.error().message, parts.mut + ": Is a directory (os error 21)");
  for (const auto& path : {parts.nod, parts.arc, parts.sup}) EXPECT_EQ(slurp(path), "old");
  EXPECT_EQ(folder.names(), (std::vector<std::string>{"x.arc", "x.mut", "x.nod", "x.sup"}));
}

TEST(BufferedWriter, FinishKeepsTheTargetUntilPublish) {
  const Folder folder("writer_steps");
  const fs::path target = folder.dir / "t";
  spit(target, "old");
  {
    auto created = BufferedWriter::create(target.string());
    ASSERT_TRUE(created.ok());
    ASSERT_TRUE(created.value().write("new").ok());
    ASSERT_TRUE(created.value().finish().ok());
    EXPECT_EQ(slurp(target), "old");
    EXPECT_EQ(folder.names().size(), 2u);  // the finished temporary file beside it
  }
  EXPECT_EQ(folder.names(), std::vector<std::string>{"t"});  // removed unpublished
  EXPECT_EQ(slurp(target), "old");
  auto created = BufferedWriter::create(target.string());
  ASSERT_TRUE(created.ok());
  ASSERT_TRUE(created.value().write("new").ok());
  EXPECT_EQ(created.value().publish().error().kind, ErrorKind::kInternal);  // not finished
  ASSERT_TRUE(created.value().finish().ok());
  ASSERT_TRUE(created.value().publish().ok());
  EXPECT_EQ(slurp(target), "new");
  EXPECT_EQ(folder.names(), std::vector<std::string>{"t"});
}

// ------------------------------------------------------------ conversions

// Sparse ids (a supply-only node 20 among them), K = 2; arc 0's bound 5 binds
// (below 3 + 4), arc 1's bound 9 does not (equal to the sum).
NetworkInstance small_network() {
  return NetworkInstance{.nodes = {10, -3, 7}, .tails = {10, -3}, .heads = {-3, 7},
                         .lows = {0, 0}, .ups = {5, 9}, .costs = {1, 2},
                         .parallel_index = {0, 0}};
}
MultiCommodityData small_data() {
  MultiCommodityData data{.supply_partition = {{{-3, {0, -4}}, {10, {2, 4}}, {20, {-2, 0}}}},
                          .num_commodities = 2, .tails = {10, -3}, .heads = {-3, 7}};
  data.capacity_table.assign({3, 4, 9, 0});
  data.cost_table.assign({1, 2, 3, 4});
  return data;
}

TEST(MnetgenConversion, NetworkWithData) {
  const auto converted = problem_from_network(small_network(), nullptr);
  ASSERT_TRUE(converted.ok());
  const NetworkInstance network = small_network();
  const MultiCommodityData data = small_data();
  const auto made = problem_from_network(network, &data);
  ASSERT_TRUE(made.ok()) << made.error().message;
  const MulticommodityProblem& p = made.value();
  EXPECT_EQ(p.source, ProblemSource::kConverted);
  EXPECT_EQ(p.num_nodes, 4u);
  EXPECT_EQ(p.node_ids, (std::vector<int64_t>{-3, 7, 10, 20}));
  EXPECT_EQ(p.arc_names, (std::vector<int64_t>{1, 2}));
  EXPECT_EQ(p.tails, (std::vector<int64_t>{3, 1}));
  EXPECT_EQ(p.heads, (std::vector<int64_t>{1, 2}));
  EXPECT_EQ(p.capacities, (std::vector<double>{3, 4, 9, 0}));
  EXPECT_EQ(p.costs, (std::vector<double>{1, 2, 3, 4}));
  EXPECT_EQ(p.bundles, (std::vector<double>{5, kUnbounded}));
  EXPECT_EQ(p.supplies, (std::vector<double>{0, -4, 0, 0, 2, 4, -2, 0}));

  // Without data: one commodity with the network's bounds, never a binding bundle.
  const MulticommodityProblem& single = converted.value();
  EXPECT_EQ(single.num_commodities, 1u);
  EXPECT_EQ(single.node_ids, (std::vector<int64_t>{-3, 7, 10}));
  EXPECT_EQ(single.capacities, (std::vector<double>{5, 9}));
  EXPECT_EQ(single.bundles, (std::vector<double>{kUnbounded, kUnbounded}));
}

TEST(MnetgenConversion, Refusals) {
  const MultiCommodityData data = small_data();
  auto refused = [&](const NetworkInstance& network, const MultiCommodityData& d) {
    const auto made = problem_from_network(network, &d);
    EXPECT_FALSE(made.ok());
    return made.ok() ? std::string() : made.error().message;
  };
  NetworkInstance low = small_network();
  low.lows[1] = 2;
  EXPECT_EQ(refused(low, data),
            "arc 1 (-3, 7, 0) has lower bound 2; Mnetgen files have no lower bounds");
  MultiCommodityData negative = small_data();
  negative.capacity_table[1] = -1;
  EXPECT_EQ(refused(small_network(), negative),
            "arc 0 (10, -3, 0) has a negative commodity capacity, which Mnetgen files read as "
            "unbounded");
  MultiCommodityData other = small_data();
  other.heads[1] = 10;
  EXPECT_EQ(refused(small_network(), other),
            "arc 1 of the network is (-3, 7), not the multi-commodity data's: the data belongs "
            "to another network");
  MultiCommodityData fewer = small_data();
  fewer.tails.pop_back();
  EXPECT_EQ(refused(small_network(), fewer), "the multi-commodity data has 1 arcs, the network 2");
  MultiCommodityData short_list = small_data();
  short_list.supply_partition.entries[2].second.pop_back();
  EXPECT_EQ(refused(small_network(), short_list),
            "node 20 holds 1 per-commodity values, not K = 2");
}

// Two segments: a compressed capacity list, then expanded ones; node 4 only in
// the supplies. A list shorter than K is refused naming the smallest arc key.
TEST(MnetgenConversion, ParsedInstance) {
  ParsedMulticommodityInstance parsed{
      .num_commodities = 2, .nodes = {1, 2, 3}, .tails = {2, 1}, .heads = {3, 2},
      .parallel_index = {0, 0}, .ups = {4, 100},
      .segments = {{.first_arc = 0, .num_commodities = 2, .costs_expanded = true},
                   {.first_arc = 1, .num_commodities = 2, .capacities_expanded = true,
                    .costs_expanded = true, .capacity_base = 1, .cost_base = 2}},
      .capacity_values = {3, 5, 6}, .cost_values = {1, 2, 3, 4}};
  parsed.supplies.entries = {{1, 3}, {4, -3}};
  parsed.amount_offsets = {0, 2, 4};
  parsed.amount_values = {1, 2, -1, -2};
  const auto made = problem_from_parsed(parsed);
  ASSERT_TRUE(made.ok()) << made.error().message;
  const MulticommodityProblem& p = made.value();
  EXPECT_EQ(p.node_ids, (std::vector<int64_t>{1, 2, 3, 4}));
  EXPECT_EQ(p.tails, (std::vector<int64_t>{2, 1}));
  EXPECT_EQ(p.capacities, (std::vector<double>{3, 3, 5, 6}));
  EXPECT_EQ(p.costs, (std::vector<double>{1, 2, 3, 4}));
  EXPECT_EQ(p.bundles, (std::vector<double>{4, kUnbounded}));
  EXPECT_EQ(p.supplies, (std::vector<double>{1, 2, 0, 0, 0, 0, -1, -2}));

  parsed.segments[1].num_commodities = 1;  // arc 1 read under K = 1
  const auto refused = problem_from_parsed(parsed);
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().message, "arc (1, 2, 0) holds 1 per-commodity values, not K = 2");
}

}  // namespace
}  // namespace korvane
