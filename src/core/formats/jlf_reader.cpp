// The JLF reader: commodities made from the supply records by kind, arc
// records resolved through an index from (product, origin, destination), any of
// them "every", to the commodities they select, so that no wildcard or run of
// parallel arcs makes the work grow faster than the tables it fills.
#include <algorithm>
#include <array>
#include <span>
#include <string>
#include <vector>

#include "core/base/hash.h"
#include "core/base/huge_pages.h"
#include "core/formats/four_file_reader.h"
#include "core/formats/number_records.h"

namespace korvane {
namespace {

using detail::FieldKind;
using detail::FieldSpec;
using detail::FieldValue;
using detail::RecordStream;

// Open-addressing (linear probing) map from `Width` 64-bit words to a 64-bit
// value, key and value side by side so that a lookup touches one cache line.
// No key starts with kEmpty: every first word here is a count, an index or a
// node, all below 2^63.
template <std::size_t Width>
class KeyMap {
 public:
  using Key = std::array<uint64_t, Width>;

  // The value stored for `key`, inserting `fresh` when there is none;
  // `inserted` tells which. The reference lives until the next insertion.
  uint64_t& get(const Key& key, uint64_t fresh, bool& inserted) {
    if (2 * (size_ + 1) > slots_.size()) grow();
    Slot& slot = slots_[place(key)];
    inserted = slot.key[0] == kEmpty;
    if (inserted) {
      slot = Slot{key, fresh};
      ++size_;
    }
    return slot.value;
  }

  const uint64_t* find(const Key& key) const {
    if (size_ == 0) return nullptr;
    const Slot& slot = slots_[place(key)];
    return slot.key[0] == kEmpty ? nullptr : &slot.value;
  }

 private:
  static constexpr uint64_t kEmpty = UINT64_MAX;
  struct Slot {
    Key key;
    uint64_t value;
  };

  // The words as a polynomial in an odd multiplier, then mixed once.
  static uint64_t hash(const Key& key) {
    uint64_t h = 0;
    for (const uint64_t word : key) h = (h + word) * 0x9e3779b97f4a7c15ULL;
    return mix_hash(h);
  }

  static bool same(const Key& a, const Key& b) {
    bool equal = true;
    for (std::size_t i = 0; i < Width; ++i) equal &= a[i] == b[i];
    return equal;
  }

  // The slot holding `key`, or the empty slot where it would go.
  std::size_t place(const Key& key) const {
    const std::size_t mask = slots_.size() - 1;
    std::size_t at = hash(key) & mask;
    while (slots_[at].key[0] != kEmpty && !same(slots_[at].key, key)) at = (at + 1) & mask;
    return at;
  }

  void grow() { rehash(std::max<std::size_t>(16, 2 * slots_.size())); }

  void rehash(std::size_t capacity) {
    std::vector<Slot> old = std::move(slots_);
    Key empty{};
    empty[0] = kEmpty;
    slots_ = std::vector<Slot>();
    slots_.reserve(capacity);
    advise_huge_pages(slots_.data(), capacity * sizeof(Slot));
    slots_.assign(capacity, Slot{empty, 0});
    for (const Slot& slot : old) {
      if (slot.key[0] != kEmpty) slots_[place(slot.key)] = slot;
    }
  }

  std::vector<Slot> slots_;
  std::size_t size_ = 0;
};

// A commodity's attributes: its product, and for OSP its origin, for ODS its
// origin and destination (0 where the kind has none).
struct Commodity {
  int64_t product;
  int64_t origin;
  int64_t destination;
  double amount;  // ODS: the amount of the record that made it
};

// Attribute bits of a selection: which of product, origin and destination it fixes.
constexpr unsigned kByProduct = 1, kByOrigin = 2, kByDestination = 4;

unsigned attributes_of(JlfKind kind) {
  switch (kind) {
    case JlfKind::kPsp:
      return kByProduct;
    case JlfKind::kOsp:
      return kByProduct | kByOrigin;
    case JlfKind::kOds:
      return kByProduct | kByOrigin | kByDestination;
  }
  return 0;
}

// For every combination of fixed attributes and every value they take, the
// commodities that have them, ascending: a record's selection is one lookup.
class Selections {
 public:
  Selections(const std::vector<Commodity>& commodities, unsigned attributes) {
    std::vector<uint64_t> group_of;
    std::vector<uint64_t> sizes;
    for (unsigned mask = 0; mask <= attributes; ++mask) {
      if ((mask & ~attributes) != 0) continue;
      for (const Commodity& c : commodities) {
        bool inserted = false;
        const uint64_t group =
            index_.get(key(mask, c.product, c.origin, c.destination), sizes.size(), inserted);
        if (inserted) sizes.push_back(0);
        ++sizes[group];
        group_of.push_back(group);
      }
    }
    if (attributes == kByProduct) {
      // PSP: commodity p - 1 is product p, and every record's group is by
      // product alone (or none for product -1): an array is its index.
      by_product_.resize(commodities.size() + 1);
      for (std::size_t p = 0; p < by_product_.size(); ++p) {
        by_product_[p] = *index_.find(key(p == 0 ? 0u : kByProduct, static_cast<int64_t>(p), 0, 0));
      }
    }
    start_.assign(sizes.size() + 1, 0);
    for (std::size_t g = 0; g < sizes.size(); ++g) start_[g + 1] = start_[g] + sizes[g];
    members_.resize(group_of.size());
    std::vector<uint64_t> fill(start_.begin(), start_.end() - 1);
    const std::size_t k = commodities.size();
    for (std::size_t i = 0; i < group_of.size(); ++i) members_[fill[group_of[i]]++] = i % k;
  }

  // The group of commodities with the given attributes (-1: any), if any has them.
  const uint64_t* find(int64_t product, int64_t origin, int64_t destination) const {
    if (!by_product_.empty() && origin == -1 && destination == -1) {
      return &by_product_[static_cast<uint64_t>(product == -1 ? 0 : product)];
    }
    const unsigned mask = (product != -1 ? kByProduct : 0u) | (origin != -1 ? kByOrigin : 0u) |
                          (destination != -1 ? kByDestination : 0u);
    return index_.find(key(mask, product, origin, destination));
  }

  std::span<const uint64_t> members(uint64_t group) const {
    return std::span<const uint64_t>(members_).subspan(start_[group],
                                                       start_[group + 1] - start_[group]);
  }

 private:
  static KeyMap<4>::Key key(unsigned mask, int64_t product, int64_t origin, int64_t destination) {
    return {mask, (mask & kByProduct) != 0 ? static_cast<uint64_t>(product) : 0,
            (mask & kByOrigin) != 0 ? static_cast<uint64_t>(origin) : 0,
            (mask & kByDestination) != 0 ? static_cast<uint64_t>(destination) : 0};
  }

  KeyMap<4> index_;
  std::vector<uint64_t> by_product_;  // PSP: the group of product p (0: of every product)
  std::vector<uint64_t> start_;
  std::vector<uint64_t> members_;
};

// Writes of a pair of values to every commodity of a group in one row of a
// table, where a later write replaces an earlier one. A write of a small group
// to a row that has no kept write is applied at once: it costs no more than
// reading its record. Any other write is kept, and so is every later write to
// its row; only the last kept write per (row, group) stays, and those are
// applied after the immediate ones, in the order they were made. Each row then
// costs at most a small constant per record plus the sizes of its distinct
// groups, however many records repeat them, and the common case (a record
// that names one commodity) makes no hash lookup.
class GroupWrites {
 public:
  explicit GroupWrites(uint64_t rows) : kept_row_(rows, 0) {}

  // apply(row, commodity, first, second) now, for every member of `group`, or later.
  template <class Apply>
  void write(uint64_t row, uint64_t group, std::span<const uint64_t> members, double first,
             double second, Apply&& apply) {
    if (kept_row_[row] == 0 && members.size() <= kImmediate) {
      for (const uint64_t c : members) apply(row, c, first, second);
      return;
    }
    kept_row_[row] = 1;
    bool inserted = false;
    uint64_t& at = index_.get({row, group}, writes_.size(), inserted);
    if (inserted) {
      writes_.push_back(Write{row, group, stamp_++, first, second});
    } else {
      writes_[at] = Write{row, group, stamp_++, first, second};
    }
  }

  // apply(row, commodity, first, second) for every kept write, oldest first.
  template <class Apply>
  Result<void> resolve(const Selections& selections, Apply&& apply) {
    std::sort(writes_.begin(), writes_.end(),
              [](const Write& a, const Write& b) { return a.stamp < b.stamp; });
    CancelCheck cancel;
    for (const Write& w : writes_) {
      const auto members = selections.members(w.group);
      if (cancel.requested(members.size())) return cancelled();
      for (const uint64_t c : members) apply(w.row, c, w.first, w.second);
    }
    return {};
  }

 private:
  // The largest group written at once.
  static constexpr std::size_t kImmediate = 8;
  struct Write {
    uint64_t row;
    uint64_t group;
    uint64_t stamp;
    double first;
    double second;
  };
  std::vector<unsigned char> kept_row_;  // per row: 1 once a write to it was kept
  KeyMap<2> index_;
  std::vector<Write> writes_;
  uint64_t stamp_ = 0;
};

struct SupplyRecord {
  int64_t origin;  // -1 where the record has none
  int64_t destination;
  int64_t product;  // -1: every product
  double amount;
};

// products x times + more, false on overflow.
bool checked_count(uint64_t products, uint64_t times, uint64_t more, uint64_t& out) {
  return !__builtin_mul_overflow(products, times, &out) && !__builtin_add_overflow(out, more, &out);
}

// Commodities of the supply records, grouped by product and within a product
// in order of first appearance. For OSP and ODS, whose K comes from the
// records, refuses (before building them) a K whose tables fail the size check.
Result<std::vector<Commodity>> make_commodities(const std::vector<SupplyRecord>& records,
                                                JlfKind kind, uint64_t products,
                                                const FourFileParts& parts,
                                                detail::OpenedParts& opened, uint64_t arcs,
                                                uint64_t nodes) {
  const auto p_count = static_cast<int64_t>(products);
  // (product, first appearance, attributes), sorted at the end.
  struct Made {
    int64_t product;
    uint64_t first;
    int64_t origin;
    int64_t destination;
    double amount;
  };
  std::vector<Made> made;
  if (kind == JlfKind::kPsp) {  // K = P, checked once the counts were read
    std::vector<Commodity> commodities;
    commodities.reserve(products);
    for (int64_t p = 1; p <= p_count; ++p) commodities.push_back(Commodity{p, 0, 0, 0.0});
    return commodities;
  }
  const char* const too_many = ": the supply records make more commodities than 64 bits can count";
  if (kind == JlfKind::kOds) {
    // Every record is a commodity of its own, one per product for product -1.
    uint64_t wild = 0;
    for (const SupplyRecord& r : records) wild += r.product == -1 ? 1 : 0;
    uint64_t k = 0;
    if (!checked_count(products, wild, records.size() - wild, k)) {
      return invalid(parts.sup + too_many);
    }
    KORVANE_TRY(detail::check_table_cells(opened, parts.sup, k, arcs, nodes));
    made.reserve(k);
    for (uint64_t i = 0; i < records.size(); ++i) {
      const SupplyRecord& r = records[i];
      if (r.product != -1) {
        made.push_back(Made{r.product, i, r.origin, r.destination, r.amount});
        continue;
      }
      for (int64_t p = 1; p <= p_count; ++p)
        made.push_back(Made{p, i, r.origin, r.destination, r.amount});
    }
  } else {
    // OSP: one commodity per (product, origin); a product -1 record names the
    // origin for every product.
    KeyMap<2> specific;  // (product, origin) -> index in `made`
    KeyMap<1> wild;      // origin -> first record with product -1
    std::vector<std::pair<int64_t, uint64_t>> wild_origins;
    for (uint64_t i = 0; i < records.size(); ++i) {
      const SupplyRecord& r = records[i];
      bool inserted = false;
      if (r.product == -1) {
        wild.get({static_cast<uint64_t>(r.origin)}, i, inserted);
        if (inserted) wild_origins.emplace_back(r.origin, i);
      } else {
        specific.get({static_cast<uint64_t>(r.product), static_cast<uint64_t>(r.origin)},
                     made.size(), inserted);
        if (inserted) made.push_back(Made{r.product, i, r.origin, 0, 0.0});
      }
    }
    uint64_t beside = 0;  // specific pairs whose origin no wildcard record names
    for (Made& c : made) {
      const uint64_t* first = wild.find({static_cast<uint64_t>(c.origin)});
      if (first == nullptr) {
        ++beside;
      } else {
        c.first = std::min(c.first, *first);
      }
    }
    uint64_t k = 0;
    if (!checked_count(products, wild_origins.size(), beside, k)) {
      return invalid(parts.sup + too_many);
    }
    KORVANE_TRY(detail::check_table_cells(opened, parts.sup, k, arcs, nodes));
    if (!wild_origins.empty()) {
      made.reserve(k);
      for (int64_t p = 1; p <= p_count; ++p) {
        for (const auto& [origin, first] : wild_origins) {
          if (specific.find({static_cast<uint64_t>(p), static_cast<uint64_t>(origin)})) {
            continue;
          }
          made.push_back(Made{p, first, origin, 0, 0.0});
        }
      }
    }
  }
  if (made.empty()) return invalid(parts.sup + ": no supply record, so no commodity");
  std::sort(made.begin(), made.end(), [](const Made& a, const Made& b) {
    return a.product != b.product ? a.product < b.product : a.first < b.first;
  });
  std::vector<Commodity> commodities;
  commodities.reserve(made.size());
  for (const Made& c : made)
    commodities.push_back(Commodity{c.product, c.origin, c.destination, c.amount});
  return commodities;
}

// An arc of pointer 0 as made so far: its nodes and the next arc between the
// same nodes (1 + its index among the unbundled arcs; 0 for none).
struct UnbundledArc {
  int64_t tail;
  int64_t head;
  uint64_t next;
};

// One (arc, commodity) entry of an unbundled arc: each is made once.
struct Cell {
  uint64_t arc;  // among the unbundled arcs
  uint64_t commodity;
  double cost;
  double capacity;
};

// The arcs of pointer-0 records. Each commodity a record selects joins the
// first arc between the record's nodes that does not have it yet, so the arcs
// of a node pair that have a commodity are always its first ones: the arc the
// commodity joins next is the one after the last that has it (its holder).
//
// Holders live in a map keyed by (pair, commodity) only for pairs whose records
// come in more than one run; while a pair's records all follow each other,
// which is how the files are written, they live in arrays indexed by
// commodity, stamped with the run, so the common case makes no hash lookup. A
// pair moves to the map when its second run starts, its holders recovered
// from the cells of its earlier runs: each cell moves once.
class UnbundledArcs {
 public:
  explicit UnbundledArcs(uint64_t commodities)
      : run_stamp_(commodities, 0), run_holder_(commodities, 0) {}

  // Starts a record between `tail` and `head`.
  void at_pair(int64_t tail, int64_t head) {
    if (run_ != 0 && tail == run_tail_ && head == run_head_) return;
    end_run();
    bool inserted = false;
    run_pair_ = pair_index_.get({static_cast<uint64_t>(tail), static_cast<uint64_t>(head)},
                                pairs_.size(), inserted);
    if (inserted) pairs_.push_back(Pair{});
    run_tail_ = tail;
    run_head_ = head;
    run_begin_ = cells_.size();
    ++run_;
    Pair& pair = pairs_[run_pair_];
    if (pair.last_segment != 0 && !pair.mapped) {
      pair.mapped = true;
      // Newest cells first: the first seen per commodity is its latest arc.
      for (uint64_t at = pair.last_segment; at != 0; at = segments_[at - 1].previous) {
        const Segment& segment = segments_[at - 1];
        for (uint64_t i = segment.end; i-- > segment.begin;) {
          uint64_t& holder = holders_.get({run_pair_, cells_[i].commodity}, 0, inserted);
          if (inserted) holder = cells_[i].arc + 1;
        }
      }
    }
  }

  // Gives commodity c its cost and capacity on the arc it joins, making that
  // arc when every arc of the pair has c; false, changing nothing, when the
  // new arc would be more than `limit`.
  bool place(uint64_t c, double cost, double capacity, uint64_t limit) {
    Pair& pair = pairs_[run_pair_];
    bool inserted = false;
    uint64_t* holder = nullptr;
    uint64_t held = 0;
    if (pair.mapped) {
      holder = &holders_.get({run_pair_, c}, 0, inserted);
      held = *holder;
    } else if (run_stamp_[c] == run_) {
      held = run_holder_[c];
    }
    uint64_t next = held == 0 ? pair.first : arcs_[held - 1].next;
    if (next == 0) {
      if (arcs_.size() >= limit) return false;
      arcs_.push_back(UnbundledArc{run_tail_, run_head_, 0});
      next = arcs_.size();
      if (pair.last == 0) {
        pair.first = next;
      } else {
        arcs_[pair.last - 1].next = next;
      }
      pair.last = next;
    }
    if (holder != nullptr) {
      *holder = next;
    } else {
      run_stamp_[c] = run_;
      run_holder_[c] = next;
    }
    cells_.push_back(Cell{next - 1, c, cost, capacity});
    return true;
  }

  const std::vector<UnbundledArc>& arcs() const { return arcs_; }
  const std::vector<Cell>& cells() const { return cells_; }

 private:
  struct Pair {
    uint64_t first = 0;  // 1 + index of its first and last arcs; 0: none
    uint64_t last = 0;
    uint64_t last_segment = 0;  // 1 + index of its latest run's cells; 0: none
    bool mapped = false;        // its holders are in holders_
  };
  // The cells of one run, and the pair's run before (1 + index; 0: none).
  struct Segment {
    uint64_t begin;
    uint64_t end;
    uint64_t previous;
  };

  void end_run() {
    if (run_ == 0 || cells_.size() == run_begin_) return;
    Pair& pair = pairs_[run_pair_];
    segments_.push_back(Segment{run_begin_, cells_.size(), pair.last_segment});
    pair.last_segment = segments_.size();
  }

  std::vector<UnbundledArc> arcs_;
  std::vector<Cell> cells_;
  KeyMap<2> pair_index_;  // (tail, head) -> index in pairs_
  std::vector<Pair> pairs_;
  std::vector<Segment> segments_;
  KeyMap<2> holders_;  // (pair, commodity) -> 1 + its holder, for mapped pairs
  uint64_t run_ = 0;   // runs started so far; the current one's stamp
  uint64_t run_pair_ = 0;
  int64_t run_tail_ = 0;
  int64_t run_head_ = 0;
  uint64_t run_begin_ = 0;            // first cell of the current run
  std::vector<uint64_t> run_stamp_;   // per commodity: the run that set run_holder_
  std::vector<uint64_t> run_holder_;  // 1 + its holder in the current run
};

struct BundledArc {
  int64_t tail = 0;  // 0 until a record names it
  int64_t head = 0;
  uint64_t line = 0;
};

}  // namespace

Result<MulticommodityProblem> read_jlf(const FourFileParts& parts, JlfKind kind) {
  auto opened = detail::open_parts(parts);
  if (!opened.ok()) return opened.take_error();
  auto& [nod, arc, sup, mut] = opened.value();

  auto counts = detail::read_counts(nod, "product count");
  if (!counts.ok()) return counts.take_error();
  const auto products = static_cast<uint64_t>(counts.value().first);
  const auto n = static_cast<uint64_t>(counts.value().nodes);
  const auto m = static_cast<uint64_t>(counts.value().arcs);
  const int64_t b = counts.value().bundles;
  const auto node_max = static_cast<int64_t>(n);
  if (kind == JlfKind::kPsp) {
    KORVANE_TRY(detail::check_table_cells(opened.value(), parts.nod, products, m, n));
  }

  // Supplies: every record is checked against its kind's rule as it is read.
  RecordStream& supply_part = sup;
  const FieldSpec supply_fields[] = {
      {"origin", FieldKind::kInteger, 1, node_max, true},
      {"destination", FieldKind::kInteger, 1, node_max, true},
      {"product", FieldKind::kInteger, 1, counts.value().first, true},
      {"amount", FieldKind::kReal}};
  std::vector<SupplyRecord> supply_records;
  auto read_sup = supply_part.read(
      supply_fields, UINT64_MAX, [&](const FieldValue* v, uint64_t line) -> Result<void> {
        const int64_t origin = v[0].i, destination = v[1].i;
        switch (kind) {
          case JlfKind::kPsp:
            if ((origin == -1) == (destination == -1)) {
              return supply_part.at(line, "origin " + std::to_string(origin) + " and destination " +
                                              std::to_string(destination) +
                                              ": exactly one of them must be -1");
            }
            break;
          case JlfKind::kOsp:
            if (origin == -1) return supply_part.at(line, "origin -1: the commodity needs one");
            break;
          case JlfKind::kOds:
            if (origin == -1 || destination == -1) {
              return supply_part.at(line, "origin " + std::to_string(origin) + " and destination " +
                                              std::to_string(destination) +
                                              ": the commodity needs both");
            }
            break;
        }
        supply_records.push_back(SupplyRecord{origin, destination, v[2].i, v[3].r});
        return {};
      });
  if (!read_sup.ok()) return read_sup.take_error();
  auto made = make_commodities(supply_records, kind, products, parts, opened.value(), m, n);
  if (!made.ok()) return made.take_error();
  const std::vector<Commodity>& commodities = made.value();
  const uint64_t k = commodities.size();
  const unsigned attributes = attributes_of(kind);
  const Selections selections(commodities, attributes);

  MulticommodityProblem problem;
  problem.source = kind == JlfKind::kPsp   ? ProblemSource::kJlfPsp
                   : kind == JlfKind::kOsp ? ProblemSource::kJlfOsp
                                           : ProblemSource::kJlfOds;
  problem.num_nodes = n;
  problem.num_commodities = k;
  problem.declared_arcs = m;
  problem.supplies.assign(n * k, 0.0);
  double* const supplies = problem.supplies.data();
  if (kind == JlfKind::kOds) {
    // Commodity c was made by one record: its amount leaves the origin and
    // reaches the destination (the two cancel when they are one node).
    for (uint64_t c = 0; c < k; ++c) {
      const Commodity& commodity = commodities[c];
      supplies[static_cast<uint64_t>(commodity.origin - 1) * k + c] += commodity.amount;
      supplies[static_cast<uint64_t>(commodity.destination - 1) * k + c] -= commodity.amount;
    }
  } else {
    // PSP and OSP: a record sets the supply (no destination) or the demand (at
    // the destination) of the commodities it selects at one node; a later
    // record replaces.
    const auto set = [&](uint64_t row, uint64_t c, double amount, double) {
      supplies[row * k + c] = amount;
    };
    GroupWrites writes(n);
    for (const SupplyRecord& r : supply_records) {
      const bool supply = r.destination == -1;
      const int64_t node = supply ? r.origin : r.destination;
      const uint64_t* group = selections.find(r.product, kind == JlfKind::kOsp ? r.origin : -1, -1);
      if (group == nullptr) continue;
      writes.write(static_cast<uint64_t>(node - 1), *group, selections.members(*group),
                   supply ? r.amount : -r.amount, 0.0, set);
    }
    KORVANE_TRY(writes.resolve(selections, set));
  }
  std::vector<SupplyRecord>().swap(supply_records);

  auto bundle_capacities = detail::read_bundle_capacities(mut, b, parts.nod);
  if (!bundle_capacities.ok()) return bundle_capacities.take_error();

  const FieldSpec arc_fields[] = {{"from node", FieldKind::kInteger, 1, node_max},
                                  {"to node", FieldKind::kInteger, 1, node_max},
                                  {"product", FieldKind::kInteger, 1, counts.value().first, true},
                                  {"cost", FieldKind::kReal},
                                  {"capacity", FieldKind::kReal},
                                  {"origin", FieldKind::kInteger, 1, node_max, true},
                                  {"destination", FieldKind::kInteger, 1, node_max, true},
                                  {"bundle pointer", FieldKind::kInteger, 0, b}};
  const auto bundled = static_cast<uint64_t>(b);
  std::vector<BundledArc> bundled_arcs(bundled + 1);
  // The bundled arcs' rows come first in the tables: they are filled as the
  // records are read, and the unbundled rows added after them.
  problem.costs.assign(bundled * k, 0.0);
  problem.capacities.assign(bundled * k, 0.0);
  const auto set_bundled = [&](uint64_t row, uint64_t c, double cost, double capacity) {
    problem.costs[row * k + c] = cost;
    problem.capacities[row * k + c] = capacity;
  };
  GroupWrites bundled_writes(bundled);
  UnbundledArcs unbundled(k);
  RecordStream& arc_part = arc;
  auto read_arcs = arc_part.read(
      arc_fields, UINT64_MAX, [&](const FieldValue* v, uint64_t line) -> Result<void> {
        const int64_t tail = v[0].i, head = v[1].i;
        if (tail == head) {
          return arc_part.at(line, "the arc goes from node " + std::to_string(tail) + " to itself");
        }
        const double cost = v[3].r;
        const double capacity = v[4].r < 0 ? kUnbounded : v[4].r;
        const uint64_t* group = selections.find(v[2].i, (attributes & kByOrigin) != 0 ? v[5].i : -1,
                                                (attributes & kByDestination) != 0 ? v[6].i : -1);
        const auto pointer = static_cast<uint64_t>(v[7].i);
        if (pointer != 0) {
          BundledArc& a = bundled_arcs[pointer];
          if (a.tail == 0) {
            a = BundledArc{tail, head, line};
          } else if (a.tail != tail || a.head != head) {
            return arc_part.at(line, "bundled arc " + std::to_string(pointer) + " from " +
                                         std::to_string(tail) + " to " + std::to_string(head) +
                                         " disagrees with line " + std::to_string(a.line) +
                                         ": from " + std::to_string(a.tail) + " to " +
                                         std::to_string(a.head));
          }
          if (group != nullptr) {
            bundled_writes.write(pointer - 1, *group, selections.members(*group), cost, capacity,
                                 set_bundled);
          }
          return {};
        }
        if (group == nullptr) return {};  // selects no commodity: makes no arc
        unbundled.at_pair(tail, head);
        for (const uint64_t c : selections.members(*group)) {
          if (!unbundled.place(c, cost, capacity, m - bundled)) {
            return arc_part.at(line, "arc " + std::to_string(m + 1) + " from " +
                                         std::to_string(tail) + " to " + std::to_string(head) +
                                         " is one more than the " + std::to_string(m) + " arcs " +
                                         parts.nod + " declares");
          }
        }
        return {};
      });
  if (!read_arcs.ok()) return read_arcs.take_error();

  // Arcs 1..b are the bundled ones, then the others in the order they were made.
  const uint64_t e = bundled + unbundled.arcs().size();
  problem.arc_names.reserve(e);
  problem.tails.reserve(e);
  problem.heads.reserve(e);
  problem.bundles.reserve(e);
  for (uint64_t p = 1; p <= bundled; ++p) {
    const BundledArc& a = bundled_arcs[p];
    if (a.tail == 0) {
      return invalid(parts.arc + ": no record gives bundled arc " + std::to_string(p) +
                     " its nodes");
    }
    problem.tails.push_back(a.tail);
    problem.heads.push_back(a.head);
    problem.bundles.push_back(bundle_capacities.value()[p]);
  }
  for (const UnbundledArc& a : unbundled.arcs()) {
    problem.tails.push_back(a.tail);
    problem.heads.push_back(a.head);
    problem.bundles.push_back(kUnbounded);
  }
  for (uint64_t name = 1; name <= e; ++name)
    problem.arc_names.push_back(static_cast<int64_t>(name));
  KORVANE_TRY(bundled_writes.resolve(selections, set_bundled));
  // The unbundled rows after the bundled ones, the tables moved once at most.
  for (std::vector<double>* table : {&problem.costs, &problem.capacities}) {
    if (table->capacity() < e * k) {
      std::vector<double> wider;
      wider.reserve(e * k);
      wider.assign(table->begin(), table->end());
      table->swap(wider);
    }
    table->resize(e * k, 0.0);
  }
  double* const costs = problem.costs.data();
  double* const capacities = problem.capacities.data();
  for (const Cell& cell : unbundled.cells()) {
    const uint64_t at = (bundled + cell.arc) * k + cell.commodity;
    costs[at] = cell.cost;
    capacities[at] = cell.capacity;
  }
  return problem;
}

}  // namespace korvane
