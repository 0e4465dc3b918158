// The Mnetgen and JLF readers: a table of small hand-made instances pinning each
// reading rule and a table of refusals with their exact messages. Compressed
// parts and the generator's own instances are read in tests/python/test_mnetgen.py.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "core/formats/four_file_reader.h"

namespace korvane {
namespace {

constexpr double kInf = kUnbounded;

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "korvane-4f-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    dir_ = pattern;
  }
  ~TempDir() { std::filesystem::remove_all(dir_); }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  std::string write(const std::string& name, const std::string& text) const {
    std::ofstream(path(name), std::ios::binary) << text;
    return path(name);
  }
  // "@" in `text` stands for the folder.
  std::string expand(std::string text) const {
    for (std::size_t at = text.find('@'); at != std::string::npos; at = text.find('@', at)) {
      text.replace(at, 1, dir_);
      at += dir_.size();
    }
    return text;
  }

 private:
  std::string dir_;
};

struct Parts {
  std::string nod, arc, sup, mut;
};

// kind empty: Mnetgen.
Result<MulticommodityProblem> read_parts(const TempDir& dir, const Parts& p,
                                         std::optional<JlfKind> kind = std::nullopt) {
  const FourFileParts parts{dir.write("m.nod", p.nod), dir.write("m.arc", p.arc),
                            dir.write("m.sup", p.sup), dir.write("m.mut", p.mut)};
  return kind ? read_jlf(parts, *kind) : read_mnetgen(parts);
}

struct Accepted {
  const char* rule;
  std::optional<JlfKind> kind;
  Parts parts;
  std::vector<int64_t> names, tails, heads;
  std::vector<double> costs, capacities, bundles, supplies;
};

const Accepted kAccepted[] = {
    {"records span lines and share lines; exponent reals; integral reals in integer fields; "
     "a missing commodity has capacity 0; -1 commodity and capacity",
     {},
     {"2\n3\n4\n1\n", "1 1 2\n1 2.5e1 10 0 2.000000 2 3 -1 1e0 -5 1\n", "", "7 8.5\n"},
     {1, 2},
     {1, 2},
     {2, 3},
     {25, 0, 1, 1},
     {10, 0, kInf, kInf},
     {kInf, 8.5},
     {0, 0, 0, 0, 0, 0}},
    {"a later record for (name, commodity) replaces; -1 then a commodity",
     {},
     {"2 3 4 0", "1 1 2 1 5 5 0\n1 1 2 -1 7 7 0\n1 1 2 2 9 9 0\n", "", ""},
     {1},
     {1},
     {2},
     {7, 9},
     {7, 9},
     {kInf},
     {0, 0, 0, 0, 0, 0}},
    {".sup: -1 sets every commodity, a later record replaces, other nodes 0; names never "
     "used are not arcs; counts after the fourth are not read",
     {},
     {"2 3 4 0 junk", "4\t2\t1\t1\t3\t4\t0\n2 3 1 2 1 1 0\n", "1 -1 4\n1 2 -3\n2 1 5\n2 1 6\n", ""},
     {2, 4},
     {3, 2},
     {1, 1},
     {0, 1, 3, 0},
     {0, 1, 4, 0},
     {kInf, kInf},
     {4, -3, 6, 0, 0, 0}},
    {".mut by position: labels ignored, negative capacity unbounded, records after the b-th "
     "not read",
     {},
     {"1 3 2 2", "1 1 2 1 1 1 2\n2 2 3 1 1 1 1\n", "", "9 5\n-3.5 -1\n99 99 junk\n"},
     {1, 2},
     {1, 2},
     {2, 3},
     {1, 1},
     {1, 1},
     {kInf, 5},
     {0, 0, 0}},
    {"JLF PSP: -1 product supplies, a later supply replaces, a later bundled record replaces, "
     "parallel unbundled arcs, negative bundle capacity",
     JlfKind::kPsp,
     {"2 4 6 1",
      "1 2 -1 1 10 -1 -1 1\n1 2 1 3 -1 -1 -1 1\n2 3 1 2 5 -1 -1 0\n"
      "2 3 -1 4 6 -1 -1 0\n2 3 2 8 9 -1 -1 0\n",
      "1 -1 1 10\n-1 4 1 10\n2 -1 -1 5\n-1 3 -1 5\n2 -1 2 7\n", "1 -20\n"},
     {1, 2, 3},
     {1, 2, 2},
     {2, 3, 3},
     {3, 1, 2, 4, 4, 8},
     {kInf, 10, 5, 6, 6, 9},
     {kInf, kInf, kInf},
     {10, 0, 5, 7, -5, -5, -10, 0}},
    {"JLF PSP: a pair's records in several runs keep filling its arcs in order",
     JlfKind::kPsp,
     {"2 3 6 0",
      "2 3 1 1 1 -1 -1 0\n1 2 1 2 2 -1 -1 0\n2 3 1 3 3 -1 -1 0\n1 2 2 4 4 -1 -1 0\n"
      "2 3 -1 5 5 -1 -1 0\n2 3 2 6 6 -1 -1 0\n",
      "", ""},
     {1, 2, 3, 4},
     {2, 1, 2, 2},
     {3, 2, 3, 3},
     {1, 5, 2, 4, 3, 6, 5, 0},
     {1, 5, 2, 4, 3, 6, 5, 0},
     {kInf, kInf, kInf, kInf},
     {0, 0, 0, 0, 0, 0}},
    {"JLF OSP: commodities by product then first appearance, -1 product origins, a record "
     "selecting nothing makes no arc",
     JlfKind::kOsp,
     {"2 4 5 0", "1 4 2 1 -1 1 -1 0\n3 4 -1 2 8 3 -1 0\n3 4 1 2 8 1 -1 0\n",
      "1 -1 2 10\n1 4 2 10\n3 -1 -1 5\n3 4 -1 5\n", ""},
     {1, 2},
     {1, 3},
     {4, 4},
     {0, 1, 0, 2, 0, 2},
     {0, kInf, 0, 8, 0, 8},
     {kInf, kInf},
     {0, 10, 0, 0, 0, 0, 5, 0, 5, -5, -10, -5}},
    {"JLF ODS: one commodity per record (one per product for -1), arcs selecting by origin "
     "and destination",
     JlfKind::kOds,
     {"1 3 3 0", "1 3 -1 1 10 1 3 0\n1 2 1 1 -1 -1 -1 0\n2 3 1 1 5 2 -1 0\n",
      "1 3 1 4\n1 3 1 6\n2 3 -1 1\n", ""},
     {1, 2, 3},
     {1, 1, 2},
     {3, 2, 3},
     {1, 1, 0, 1, 1, 1, 0, 0, 1},
     {10, 10, 0, kInf, kInf, kInf, 0, 0, 5},
     {kInf, kInf, kInf},
     {4, 6, 0, 0, 0, 1, -4, -6, -1}},
};

TEST(FourFileReader, ReadingRules) {
  for (const Accepted& row : kAccepted) {
    SCOPED_TRACE(row.rule);
    const TempDir dir;
    auto read = read_parts(dir, row.parts, row.kind);
    ASSERT_TRUE(read.ok()) << read.error().message;
    const MulticommodityProblem& p = read.value();
    EXPECT_EQ(p.arc_names, row.names);
    EXPECT_EQ(p.tails, row.tails);
    EXPECT_EQ(p.heads, row.heads);
    EXPECT_EQ(p.costs, row.costs);
    EXPECT_EQ(p.capacities, row.capacities);
    EXPECT_EQ(p.bundles, row.bundles);
    EXPECT_EQ(p.supplies, row.supplies);
    EXPECT_EQ(p.num_nodes * p.num_commodities, p.supplies.size());
    EXPECT_TRUE(p.node_ids.empty());
    const ProblemSource source = !row.kind                    ? ProblemSource::kMnetgen
                                 : *row.kind == JlfKind::kPsp ? ProblemSource::kJlfPsp
                                 : *row.kind == JlfKind::kOsp ? ProblemSource::kJlfOsp
                                                              : ProblemSource::kJlfOds;
    EXPECT_EQ(p.source, source);
  }
}

// Unbundled JLF arcs against the rule applied literally (each selected
// commodity walks the pair's arcs to the first without it), on random records
// over few nodes: many parallel arcs, pairs in many runs, -1 products.
TEST(FourFileReader, UnbundledArcsFollowTheirRule) {
  const TempDir dir;
  constexpr int64_t kProducts = 3, kNodes = 3;
  uint64_t state = 12345;
  auto draw = [&](int64_t below) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<int64_t>((state >> 33) % static_cast<uint64_t>(below));
  };
  std::string arc;
  std::vector<int64_t> tails, heads;  // the expected arcs
  std::vector<double> costs;          // kProducts per arc
  for (int record = 0; record < 400; ++record) {
    const int64_t tail = 1 + draw(kNodes), head = 1 + (tail + draw(kNodes - 1)) % kNodes;
    const int64_t product = draw(4) == 0 ? -1 : 1 + draw(kProducts);
    arc += std::to_string(tail) + " " + std::to_string(head) + " " + std::to_string(product) + " " +
           std::to_string(record + 1) + " 1 -1 -1 0\n";
    for (int64_t p = 1; p <= kProducts; ++p) {
      if (product != -1 && product != p) continue;
      std::size_t a = 0;
      while (a < tails.size() && !(tails[a] == tail && heads[a] == head &&
                                   costs[a * kProducts + static_cast<std::size_t>(p - 1)] == 0)) {
        ++a;
      }
      if (a == tails.size()) {
        tails.push_back(tail);
        heads.push_back(head);
        costs.resize(costs.size() + kProducts, 0.0);
      }
      costs[a * kProducts + static_cast<std::size_t>(p - 1)] = record + 1;
    }
  }
  auto read = read_parts(dir, {"3 3 100000 0", arc, "", ""}, JlfKind::kPsp);
  ASSERT_TRUE(read.ok()) << read.error().message;
  EXPECT_EQ(read.value().tails, tails);
  EXPECT_EQ(read.value().heads, heads);
  EXPECT_EQ(read.value().costs, costs);
  EXPECT_GT(tails.size(), 100u);  // the records did make long runs of parallel arcs
}

// Bundled JLF records and PSP supplies against "a later record replaces"
// applied literally, record by record: random records over few pointers and
// nodes, enough products that -1 is a large group, so that writes of one
// commodity and of every product interleave on the same rows.
TEST(FourFileReader, LaterBundledRecordsAndSuppliesReplace) {
  const TempDir dir;
  constexpr int64_t kProducts = 12, kPointers = 3, kNodes = kPointers + 1;
  uint64_t state = 777;
  auto draw = [&](int64_t below) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<int64_t>((state >> 33) % static_cast<uint64_t>(below));
  };
  // Sets `value` in row `row` (0-based) of a kProducts-wide table for product (-1: all).
  auto set = [](std::vector<double>& table, int64_t row, int64_t product, double value) {
    for (int64_t p = 1; p <= kProducts; ++p) {
      if (product == -1 || product == p) {
        table[static_cast<std::size_t>(row * kProducts + p - 1)] = value;
      }
    }
  };
  std::string arc, sup;
  std::vector<double> costs(kPointers * kProducts, 0.0), capacities(costs.size(), 0.0);
  std::vector<double> supplies(kNodes * kProducts, 0.0);
  for (int record = 1; record <= 400; ++record) {
    // Runs of one pointer as files are written, and pointers that come back.
    const int64_t pointer = 1 + (draw(3) == 0 ? draw(kPointers) : (record / 7) % kPointers);
    const int64_t product = draw(5) == 0 ? -1 : 1 + draw(kProducts);
    arc += std::to_string(pointer) + " " + std::to_string(pointer + 1) + " " +
           std::to_string(product) + " " + std::to_string(record) + " " +
           std::to_string(2 * record) + " -1 -1 " + std::to_string(pointer) + "\n";
    set(costs, pointer - 1, product, record);
    set(capacities, pointer - 1, product, 2 * record);
    const int64_t node = 1 + draw(kNodes);
    const int64_t supply_product = draw(5) == 0 ? -1 : 1 + draw(kProducts);
    const bool demand = draw(2) == 0;
    sup += (demand ? "-1 " + std::to_string(node) : std::to_string(node) + " -1") + " " +
           std::to_string(supply_product) + " " + std::to_string(record) + "\n";
    set(supplies, node - 1, supply_product, demand ? -record : record);
  }
  std::string mut;
  for (int64_t p = 1; p <= kPointers; ++p) mut += std::to_string(p) + " 1\n";
  auto read = read_parts(
      dir, {"12 " + std::to_string(kNodes) + " 3 " + std::to_string(kPointers), arc, sup, mut},
      JlfKind::kPsp);
  ASSERT_TRUE(read.ok()) << read.error().message;
  EXPECT_EQ(read.value().costs, costs);
  EXPECT_EQ(read.value().capacities, capacities);
  EXPECT_EQ(read.value().supplies, supplies);
}

struct Refused {
  std::optional<JlfKind> kind;
  Parts parts;
  const char* message;  // "@" is the folder
};

const char* const kArcOk = "1 1 2 1 1 1 0\n";
const Refused kRefused[] = {
    {{}, {"0 3 4 1", kArcOk, "", "1 1"}, "@/m.nod line 1: commodity count 0 is not positive"},
    {{}, {"2 1 4 1", kArcOk, "", "1 1"}, "@/m.nod line 1: node count 1 is less than 2"},
    {{}, {"2 3 0 0", kArcOk, "", ""}, "@/m.nod line 1: arc count 0 is not positive"},
    {{}, {"2 3 4 -1", kArcOk, "", ""}, "@/m.nod line 1: bundle count -1 is negative"},
    {{},
     {"2 3 4 5", kArcOk, "", ""},
     "@/m.nod line 1: bundle count 5 is more than the arc count 4"},
    {{},
     {"9223372036854775808\n3 4 0", kArcOk, "", ""},
     "@/m.nod line 1: commodity count 9223372036854775808 is too large"},
    {{}, {"2 3 4 -1e19", kArcOk, "", ""}, "@/m.nod line 1: bundle count -1e19 is too small"},
    {{},
     {"9223372036854775807\n3 4 0", kArcOk, "", ""},
     "@/m.nod: 9223372036854775807 commodities, 4 arcs and 3 nodes need more table cells than "
     "64 bits can count"},
    {{}, {"", kArcOk, "", ""}, "@/m.nod: holds no counts"},
    {{}, {"2\n3\n4", kArcOk, "", ""}, "@/m.nod line 1: ends inside a record: 3 of its 4 numbers"},
    {{},
     {"2 3 4 0", "1 1 2 1 1 1 0\n5 1 2 1 1 1 0\n", "", ""},
     "@/m.arc line 2: arc name 5 is not in 1..4"},
    {{}, {"2 3 4 0", "\n1 0 2 1 1 1 0\n", "", ""}, "@/m.arc line 2: from node 0 is not in 1..3"},
    {{},
     {"2 3 4 0", "1 1 2 3 1 1 0\n", "", ""},
     "@/m.arc line 1: commodity 3 is neither -1 nor in 1..2"},
    {{},
     {"2 3 4 0", "1 1 2 1.5 1 1 0\n", "", ""},
     "@/m.arc line 1: commodity 1.5 is not an integer"},
    {{}, {"2 3 4 0", "1 1 2\n1\nnan 1 0\n", "", ""}, "@/m.arc line 1: cost nan is not finite"},
    {{},
     {"2 3 4 0", "1 1 2 1 1 1e999 0\n", "", ""},
     "@/m.arc line 1: capacity 1e999 is not finite"},
    {{}, {"2 3 4 0", "1 1 2 1 1,5 1 0\n", "", ""}, "@/m.arc line 1: cost 1,5 is not a number"},
    {{}, {"2 3 4 0", "1 1 2-1 1 1 1 0\n", "", ""}, "@/m.arc line 1: to node 2-1 is not an integer"},
    {{},
     {"1 3 2 1", "1 1 2 1 1 1 1\n", "", "1x 5\n"},
     "@/m.mut line 1: bundle label 1x is not a number"},
    {{},
     {"2 3 4 1", "1 1 2 1 1 1 2\n", "", "1 1"},
     "@/m.arc line 1: bundle pointer 2 is not in 0..1"},
    {{},
     {"2 3 4 0", "1 2 2 1 1 1 0\n", "", ""},
     "@/m.arc line 1: arc 1 goes from node 2 to itself"},
    {{},
     {"2 3 4 1", "1 1 2 1 1 1 0\n\n1 1 2 2 1 1 1\n", "", "1 1"},
     "@/m.arc line 3: arc 1 from 1 to 2 with bundle pointer 1 disagrees with line 1: from 1 to 2 "
     "with bundle pointer 0"},
    {{},
     {"2 3 4 0", "1 1 2 1 1 1 0\n2 2\n3 1", "", ""},
     "@/m.arc line 2: ends inside a record: 4 of its 7 numbers"},
    {{},
     {"2 3 4 2", kArcOk, "", "1 5\n"},
     "@/m.mut: holds 1 bundle records, fewer than the 2 that @/m.nod declares"},
    {{}, {"2 3 4 0", kArcOk, "1 1 5\n4 1 -5\n", ""}, "@/m.sup line 2: node 4 is not in 1..3"},
    {JlfKind::kPsp,
     {"1 3 4 0", "", "1 2 1 5\n", ""},
     "@/m.sup line 1: origin 1 and destination 2: exactly one of them must be -1"},
    {JlfKind::kOsp,
     {"1 3 4 0", "", "-1 2 1 5\n", ""},
     "@/m.sup line 1: origin -1: the commodity needs one"},
    {JlfKind::kOds,
     {"1 3 4 0", "", "1 -1 1 5\n", ""},
     "@/m.sup line 1: origin 1 and destination -1: the commodity needs both"},
    {JlfKind::kOds, {"1 3 4 0", "", "", ""}, "@/m.sup: no supply record, so no commodity"},
    {JlfKind::kPsp,
     {"1 3 4 2", "1 2 1 1 1 -1 -1 2\n", "", "1 1 2 1"},
     "@/m.arc: no record gives bundled arc 1 its nodes"},
    {JlfKind::kPsp,
     {"1 3 4 1", "1 2 1 1 1 -1 -1 1\n2 3 1 1 1 -1 -1 1\n", "", "1 1"},
     "@/m.arc line 2: bundled arc 1 from 2 to 3 disagrees with line 1: from 1 to 2"},
    {JlfKind::kOds,
     {"1 3 3 0",
      "1 3 1 1 1 1 -1 0\n1 3 1 1 1 -1 3 0\n1 3 1 1 1 -1 -1 0\n"
      "1 3 -1 1 1 1 3 0\n",
      "1 3 1 4\n1 3 1 6\n", ""},
     "@/m.arc line 4: arc 4 from 1 to 3 is one more than the 3 arcs @/m.nod declares"},
    {JlfKind::kPsp,
     {"1 3 4 0", "1 1 1 1 1 -1 -1 0\n", "", ""},
     "@/m.arc line 1: the arc goes from node 1 to itself"},
};

TEST(FourFileReader, Refusals) {
  for (const Refused& row : kRefused) {
    const TempDir dir;
    const std::string expected = dir.expand(row.message);
    SCOPED_TRACE(expected);
    auto read = read_parts(dir, row.parts, row.kind);
    ASSERT_FALSE(read.ok());
    EXPECT_EQ(read.error().kind, ErrorKind::kInvalid);
    EXPECT_EQ(read.error().message, expected);
  }
}

// Tables sized by declared counts are refused before they are allocated when
// the input is too small to fill them: for Mnetgen and PSP from .nod, for ODS
// once .od told K.
TEST(FourFileReader, DeclaredCountsBoundedByInputSize) {
  const TempDir dir;
  const std::string nod = "20000000\n2\n3\n0\n";
  const std::string arc = "1\t1\t2\t1\t1.5\t10\t0\n";
  const Parts parts{nod, arc, std::string(85 - nod.size() - arc.size(), ' '), ""};
  auto read = read_parts(dir, parts);
  ASSERT_FALSE(read.ok());
  EXPECT_EQ(read.error().message,
            dir.path("m.nod") +
                ": 20000000 commodities, 3 arcs and 2 nodes need 160000005 "
                "table cells, more than 1000 per byte of the 85 bytes of input");
  // One -1 record over 60 products makes 60 commodities, 485 cells for 22 bytes:
  // accepted; over 10^6 products it is refused.
  auto ods = read_parts(dir, {"1000000 2 3 0", "", "1 2 -1 1\n", ""}, JlfKind::kOds);
  ASSERT_FALSE(ods.ok());
  EXPECT_EQ(ods.error().message, dir.path("m.sup") +
                                     ": 1000000 commodities, 3 arcs and 2 nodes need 8000005 table "
                                     "cells, more than 1000 per byte of the 22 bytes of input");
  EXPECT_TRUE(read_parts(dir, {"60 2 3 0", "", "1 2 -1 1\n", ""}, JlfKind::kOds).ok());
}

// OS failures are kReported, naming the part.
TEST(FourFileReader, UnreadablePart) {
  const TempDir dir;
  const Parts& p = kAccepted[0].parts;
  const std::string missing = dir.path("none.sup");
  auto read = read_mnetgen(
      {dir.write("m.nod", p.nod), dir.write("m.arc", p.arc), missing, dir.write("m.mut", p.mut)});
  ASSERT_FALSE(read.ok());
  EXPECT_EQ(read.error().kind, ErrorKind::kReported);
  EXPECT_EQ(read.error().message, missing + ": No such file or directory (os error 2)");
}

}  // namespace
}  // namespace korvane
