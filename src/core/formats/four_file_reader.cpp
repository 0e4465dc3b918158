// The Mnetgen reader: records kept as read, then the tables built once the
// used arc names are known, so neither the order of the records nor an arc
// count far above the used names costs more than the records themselves.
#include "core/formats/four_file_reader.h"

#include <algorithm>
#include <string>
#include <vector>

#include "core/formats/number_records.h"

namespace korvane {
namespace {

using detail::FieldKind;
using detail::FieldSpec;
using detail::FieldValue;
using detail::RecordStream;

// The shortest .arc record, "1 1 2 1 0 0 0\n", bounds what its size can hold.
constexpr std::size_t kMinArcRecordBytes = 14;
constexpr uint64_t kNone = 0;

struct ArcRecord {
  uint64_t name;
  int64_t commodity;  // 1..K, or -1 for every commodity
  double cost;
  double capacity;
};

// What the records of one arc name agree on; `tail` 0 for a name without one.
struct NameInfo {
  int64_t tail = 0;
  int64_t head = 0;
  int64_t pointer = 0;
  uint64_t line = 0;               // of its first record, for messages
  uint64_t last_wildcard = kNone;  // 1 + index of its last commodity -1 record
};

struct SupplyRecord {
  uint64_t node;
  int64_t commodity;
  double amount;
};

Result<std::vector<double>> read_supplies(RecordStream& sup, uint64_t k, uint64_t n) {
  const FieldSpec fields[] = {{"node", FieldKind::kInteger, 1, static_cast<int64_t>(n)},
                              {"commodity", FieldKind::kInteger, 1, static_cast<int64_t>(k), true},
                              {"supply", FieldKind::kReal}};
  std::vector<SupplyRecord> records;
  std::vector<uint64_t> last_wildcard(n + 1, kNone);
  auto read = sup.read(fields, UINT64_MAX, [&](const FieldValue* v, uint64_t) -> Result<void> {
    const auto node = static_cast<uint64_t>(v[0].i);
    records.push_back(SupplyRecord{node, v[1].i, v[2].r});
    if (v[1].i == -1) last_wildcard[node] = records.size();
    return {};
  });
  if (!read.ok()) return read.take_error();
  // A node's last "every commodity" record sets its whole row once; only the
  // records after it change that row again, so the work is linear.
  std::vector<double> supplies(n * k, 0.0);
  for (std::size_t i = 0; i < records.size(); ++i) {
    const SupplyRecord& r = records[i];
    double* row = supplies.data() + (r.node - 1) * k;
    if (r.commodity == -1) {
      if (last_wildcard[r.node] == i + 1) std::fill(row, row + k, r.amount);
    } else if (i + 1 > last_wildcard[r.node]) {
      row[r.commodity - 1] = r.amount;
    }
  }
  return supplies;
}

}  // namespace

Result<MulticommodityProblem> read_mnetgen(const FourFileParts& parts) {
  auto opened = detail::open_parts(parts);
  if (!opened.ok()) return opened.take_error();
  auto& [nod, arc, sup, mut] = opened.value();

  auto counts = detail::read_counts(nod, "commodity count");
  if (!counts.ok()) return counts.take_error();
  const auto k = static_cast<uint64_t>(counts.value().first);
  const auto n = static_cast<uint64_t>(counts.value().nodes);
  const auto m = static_cast<uint64_t>(counts.value().arcs);
  const int64_t b = counts.value().bundles;
  KORVANE_TRY(detail::check_table_cells(opened.value(), parts.nod, k, m, n));

  MulticommodityProblem problem;
  problem.source = ProblemSource::kMnetgen;
  problem.num_nodes = n;
  problem.num_commodities = k;
  problem.declared_arcs = m;

  auto supplies = read_supplies(sup, k, n);
  if (!supplies.ok()) return supplies.take_error();
  auto bundle_capacities = detail::read_bundle_capacities(mut, b, parts.nod);
  if (!bundle_capacities.ok()) return bundle_capacities.take_error();

  const FieldSpec fields[] = {{"arc name", FieldKind::kInteger, 1, static_cast<int64_t>(m)},
                              {"from node", FieldKind::kInteger, 1, static_cast<int64_t>(n)},
                              {"to node", FieldKind::kInteger, 1, static_cast<int64_t>(n)},
                              {"commodity", FieldKind::kInteger, 1, static_cast<int64_t>(k), true},
                              {"cost", FieldKind::kReal},
                              {"capacity", FieldKind::kReal},
                              {"bundle pointer", FieldKind::kInteger, 0, b}};
  std::vector<NameInfo> names(m + 1);
  std::vector<ArcRecord> records;
  records.reserve(std::min<uint64_t>(regular_file_size(parts.arc) / kMinArcRecordBytes, m * k));
  RecordStream& arcs = arc;
  auto read =
      arcs.read(fields, UINT64_MAX, [&](const FieldValue* v, uint64_t line) -> Result<void> {
        const auto name = static_cast<uint64_t>(v[0].i);
        const int64_t tail = v[1].i, head = v[2].i, pointer = v[6].i;
        if (tail == head) {
          return arcs.at(line, "arc " + std::to_string(name) + " goes from node " +
                                   std::to_string(tail) + " to itself");
        }
        NameInfo& info = names[name];
        if (info.tail == 0) {
          info.tail = tail;
          info.head = head;
          info.pointer = pointer;
          info.line = line;
        } else if (info.tail != tail || info.head != head || info.pointer != pointer) {
          auto describe = [](int64_t t, int64_t h, int64_t p) {
            return "from " + std::to_string(t) + " to " + std::to_string(h) +
                   " with bundle pointer " + std::to_string(p);
          };
          return arcs.at(line, "arc " + std::to_string(name) + " " + describe(tail, head, pointer) +
                                   " disagrees with line " + std::to_string(info.line) + ": " +
                                   describe(info.tail, info.head, info.pointer));
        }
        // A negative capacity is the generator's "unbounded".
        records.push_back(ArcRecord{name, v[3].i, v[4].r, v[5].r < 0 ? kUnbounded : v[5].r});
        if (v[3].i == -1) info.last_wildcard = records.size();
        return {};
      });
  if (!read.ok()) return read.take_error();

  // Arcs are the used names in ascending order; `position` maps a name to its row.
  std::vector<uint64_t> position(m + 1, 0);
  uint64_t e = 0;
  for (uint64_t name = 1; name <= m; ++name) {
    const NameInfo& info = names[name];
    if (info.tail == 0) continue;
    position[name] = e++;
    problem.arc_names.push_back(static_cast<int64_t>(name));
    problem.tails.push_back(info.tail);
    problem.heads.push_back(info.head);
    problem.bundles.push_back(info.pointer == 0
                                  ? kUnbounded
                                  : bundle_capacities.value()[static_cast<uint64_t>(info.pointer)]);
  }
  // Every cell is 0 until a record sets it; an arc name's last "every
  // commodity" record fills its row once and only later records change it.
  problem.costs.assign(e * k, 0.0);
  problem.capacities.assign(e * k, 0.0);
  CancelCheck cancel;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const ArcRecord& r = records[i];
    if (cancel.requested(r.commodity == -1 ? k : 1)) return cancelled();
    const uint64_t last_wildcard = names[r.name].last_wildcard;
    const uint64_t base = position[r.name] * k;
    if (r.commodity == -1) {
      if (last_wildcard != i + 1) continue;
      std::fill_n(problem.costs.begin() + static_cast<std::ptrdiff_t>(base), k, r.cost);
      std::fill_n(problem.capacities.begin() + static_cast<std::ptrdiff_t>(base), k, r.capacity);
    } else if (i + 1 > last_wildcard) {
      const uint64_t cell = base + static_cast<uint64_t>(r.commodity - 1);
      problem.costs[cell] = r.cost;
      problem.capacities[cell] = r.capacity;
    }
  }
  problem.supplies = std::move(supplies.value());
  return problem;
}

}  // namespace korvane
