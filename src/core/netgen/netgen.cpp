// NETGEN's validation and generation. Every draw is one call of the Park-Miller
// source in the order the generator makes it: the order is the output.
#include "core/netgen/netgen.h"

#include <algorithm>
#include <limits>

namespace korvane::netgen {

const char* const kParamNames[kNumParams] = {
    "seed",           "problem",  "nodes",
    "sources",        "sinks",    "arcs",
    "min_cost",       "max_cost", "supply",
    "transshipment_sources", "transshipment_sinks", "max_cost_percent",
    "capacitated_percent",   "min_capacity",        "max_capacity"};

Params params_from_values(const int64_t (&v)[kNumParams]) {
  return Params{v[0], v[1], v[2], v[3], v[4],  v[5],  v[6], v[7],
                v[8], v[9], v[10], v[11], v[12], v[13], v[14]};
}

void params_to_values(const Params& p, int64_t (&v)[kNumParams]) {
  const int64_t all[kNumParams] = {p.seed,     p.problem,  p.nodes,    p.sources,
                                   p.sinks,    p.arcs,     p.min_cost, p.max_cost,
                                   p.supply,   p.transshipment_sources,
                                   p.transshipment_sinks,  p.max_cost_percent,
                                   p.capacitated_percent,  p.min_capacity, p.max_capacity};
  std::copy(std::begin(all), std::end(all), std::begin(v));
}

namespace {

constexpr const char* kNotPositiveSeed = "NETGEN requires a positive random seed";
constexpr const char* kTooLarge = "Problem too large for generator";
constexpr const char* kInconsistent = "Inconsistent parameter settings - check the input";

Error refuse(const std::string& what, const std::string& rule, const char* words) {
  return invalid(what + ": " + rule + " (" + words + ")");
}

std::string got(int64_t value) { return ", got " + std::to_string(value); }

// Whether draw(low, high) has a range b - a + 1 that fits a signed 64-bit value.
bool draw_range_fits(int64_t low, int64_t high) {
  if (high <= low) return true;
  const uint64_t width = static_cast<uint64_t>(high) - static_cast<uint64_t>(low);
  return width < static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
}

}  // namespace

Result<void> validate(const Params& p, const Limits& limits) {
  if (p.seed <= 0) return refuse("seed", "must be positive" + got(p.seed), kNotPositiveSeed);
  // The original reads a non-positive problem number as the end of its input.
  if (p.problem <= 0) {
    return invalid("problem: must be positive" + got(p.problem) +
                   " (NETGEN stops reading at a problem number that is not)");
  }
  if (p.nodes > limits.max_nodes) {
    return refuse("nodes", "must be at most " + std::to_string(limits.max_nodes) + got(p.nodes),
                  kTooLarge);
  }
  if (p.arcs > limits.max_arcs) {
    return refuse("arcs", "must be at most " + std::to_string(limits.max_arcs) + got(p.arcs),
                  kTooLarge);
  }
  // The generator's consistency test, one condition at a time, in its order.
  if (p.nodes <= 0) return refuse("nodes", "must be positive" + got(p.nodes), kInconsistent);
  if (p.nodes > p.arcs) {
    return refuse("arcs", "must be at least nodes (" + std::to_string(p.nodes) + ")" + got(p.arcs),
                  kInconsistent);
  }
  if (p.sources <= 0) return refuse("sources", "must be positive" + got(p.sources), kInconsistent);
  if (p.sinks <= 0) return refuse("sinks", "must be positive" + got(p.sinks), kInconsistent);
  if (p.sources > p.nodes - p.sinks) {
    return refuse("sinks", "sources + sinks must not exceed nodes (" + std::to_string(p.nodes) +
                               "), got " + std::to_string(p.sources) + " + " +
                               std::to_string(p.sinks),
                  kInconsistent);
  }
  if (p.min_cost > p.max_cost) {
    return refuse("min_cost",
                  "must not exceed max_cost (" + std::to_string(p.max_cost) + ")" + got(p.min_cost),
                  kInconsistent);
  }
  if (p.supply < p.sources) {
    return refuse("supply",
                  "must be at least sources (" + std::to_string(p.sources) + ")" + got(p.supply),
                  kInconsistent);
  }
  if (p.transshipment_sources > p.sources) {
    return refuse("transshipment_sources",
                  "must not exceed sources (" + std::to_string(p.sources) + ")" +
                      got(p.transshipment_sources),
                  kInconsistent);
  }
  if (p.transshipment_sinks > p.sinks) {
    return refuse("transshipment_sinks",
                  "must not exceed sinks (" + std::to_string(p.sinks) + ")" +
                      got(p.transshipment_sinks),
                  kInconsistent);
  }
  if (p.max_cost_percent < 0 || p.max_cost_percent > 100) {
    return refuse("max_cost_percent", "must be between 0 and 100" + got(p.max_cost_percent),
                  kInconsistent);
  }
  if (p.capacitated_percent < 0 || p.capacitated_percent > 100) {
    return refuse("capacitated_percent", "must be between 0 and 100" + got(p.capacitated_percent),
                  kInconsistent);
  }
  if (p.min_capacity > p.max_capacity) {
    return refuse("min_capacity",
                  "must not exceed max_capacity (" + std::to_string(p.max_capacity) + ")" +
                      got(p.min_capacity),
                  kInconsistent);
  }
  // Refused here although the generator takes them: negative transshipment
  // counts (a crash for sinks, misplaced pools for sources) and draw ranges
  // whose width overflows its 64-bit arithmetic.
  if (p.transshipment_sources < 0) {
    return invalid("transshipment_sources: must not be negative" + got(p.transshipment_sources) +
                   " (NETGEN would pick random arcs outside its node classes)");
  }
  if (p.transshipment_sinks < 0) {
    return invalid("transshipment_sinks: must not be negative" + got(p.transshipment_sinks) +
                   " (NETGEN would crash)");
  }
  if (!draw_range_fits(p.min_cost, p.max_cost)) {
    return invalid("max_cost: max_cost - min_cost must be below 9223372036854775807");
  }
  if (!draw_range_fits(p.min_capacity, p.max_capacity)) {
    return invalid("max_capacity: max_capacity - min_capacity must be below 9223372036854775807");
  }
  return {};
}

ProblemType problem_type(const Params& p) {
  const int64_t pure_sources = p.sources - p.transshipment_sources;
  const int64_t pure_sinks = p.sinks - p.transshipment_sinks;
  if (pure_sources + pure_sinks == p.nodes && pure_sources == pure_sinks && p.supply == p.sources) {
    return ProblemType::kAssignment;
  }
  if (p.min_cost == 1 && p.max_cost == 1) return ProblemType::kMaxFlow;
  return ProblemType::kMinCost;
}

std::string endless_message(const Params& p) {
  std::string text = "seed: NETGEN never ends on these parameters with seed " +
                     std::to_string(p.seed);
  if (p.seed % kParkMillerModulus == 0) {
    text += ", a multiple of 2^31 - 1, which freezes its random source";
  }
  return text + " (a node's arc budget can never be shared out among the nodes left)";
}

Generator::Generator(const Params& params)
    : p_(params), type_(problem_type(params)), rng_(params.seed) {
  const auto n = static_cast<std::size_t>(p_.nodes);
  transshipment_ = p_.nodes - p_.sources - p_.sinks;
  non_sources_ = p_.nodes - p_.sources + p_.transshipment_sources;
  nodes_left_ = p_.nodes - p_.sinks + p_.transshipment_sinks;
  balance_.assign(n + 1, 0);
  chunk_.reserve(kChunkArcs);
}

Result<void> Generator::flush() {
  if (chunk_.empty()) return {};
  Result<void> done = (*sink_)(std::span<const Arc>(chunk_));
  chunk_.clear();
  return done;
}

Result<void> Generator::generate(const ArcSink& sink) {
  sink_ = &sink;
  if (type_ == ProblemType::kAssignment) {
    KORVANE_TRY(assignment());
    return flush();
  }
  const auto n = static_cast<std::size_t>(p_.nodes);
  link_.assign(n + 1, 0);
  // One source's skeleton: its chain, its sinks and, for the last source, the
  // sinks swept up; plus the sentinel.
  const int64_t most_sinks = std::max<int64_t>(2, p_.sinks) + p_.sinks;
  tl_.assign(static_cast<std::size_t>(transshipment_ + most_sinks + 2), 0);
  hd_.assign(tl_.size(), 0);
  offsets_.assign(static_cast<std::size_t>(most_sinks + 1), 0);
  KORVANE_TRY(supplies());
  KORVANE_TRY(chains());
  // Sources in ascending order, then the transshipment sinks in ascending order.
  for (int64_t s = 1; s <= p_.sources; ++s) KORVANE_TRY(source(s));
  const int64_t first_sink = p_.nodes - p_.sinks + 1;
  for (int64_t t = first_sink; t < first_sink + p_.transshipment_sinks; ++t) {
    head_pool_.make(p_.sources - p_.transshipment_sources + 1, p_.nodes);
    head_pool_.discard(t);
    KORVANE_TRY(random_arcs(t));
  }
  return flush();
}

Result<void> Generator::supplies() {
  const int64_t q = p_.supply / p_.sources;
  // Per source: its own share first, then where the rest of its q goes.
  for (int64_t i = 1; i <= p_.sources; ++i) {
    const int64_t share = rng_.draw(1, q);
    balance_[static_cast<std::size_t>(i)] += share;
    const int64_t r = rng_.draw(0, p_.sources - 1);
    balance_[static_cast<std::size_t>(r + 1)] += q - share;
    if (cancel_.requested(8)) return cancelled();
  }
  const int64_t r = rng_.draw(0, p_.sources - 1);
  balance_[static_cast<std::size_t>(r + 1)] += p_.supply % p_.sources;
  return {};
}

Result<void> Generator::chains() {
  // Each source starts as a circular list of itself.
  for (int64_t s = 1; s <= p_.sources; ++s) link_[static_cast<std::size_t>(s)] = s;
  if (transshipment_ == 0) return {};
  chain_pool_.make(p_.sources + 1, p_.sources + transshipment_);
  const int64_t last = (4 * transshipment_ + 9) / 10;
  const int64_t first = transshipment_ - last;
  auto insert_after = [&](int64_t owner, int64_t x) {
    link_[static_cast<std::size_t>(x)] = link_[static_cast<std::size_t>(owner)];
    link_[static_cast<std::size_t>(owner)] = x;
  };
  // 60 %: dealt round-robin over the sources.
  int64_t s = 1;
  for (int64_t i = 0; i < first; ++i) {
    const int64_t x = chain_pool_.take(rng_.draw(1, chain_pool_.size()));
    insert_after(s, x);
    s = s == p_.sources ? 1 : s + 1;
    if (cancel_.requested(32)) return cancelled();
  }
  // 40 %: the pool position first, then the owner.
  for (int64_t i = 0; i < last; ++i) {
    const int64_t x = chain_pool_.take(rng_.draw(1, chain_pool_.size()));
    insert_after(rng_.draw(1, p_.sources), x);
    if (cancel_.requested(32)) return cancelled();
  }
  return {};
}

Result<void> Generator::source(int64_t s) {
  auto at = [](std::vector<int64_t>& v, int64_t i) -> int64_t& {
    return v[static_cast<std::size_t>(i)];
  };
  // A. The chain's arcs, walked from the source: x2->x1, ..., s->xL.
  int64_t c = 0;
  for (int64_t x = at(link_, s); x != s; x = at(link_, x)) {
    ++c;
    at(hd_, c) = x;
    at(tl_, c) = at(link_, x);
  }
  const int64_t chain_length = c;
  // B. How many sinks this source feeds (at least 2, even with one sink).
  int64_t k = 0;
  if (transshipment_ == 0) {
    k = p_.sinks / p_.sources + 1;
  } else {
    // 2 L NT < 2^63 because N < 2^31: the exact floor the generator computes.
    const uint64_t wide = 2 * static_cast<uint64_t>(chain_length) * static_cast<uint64_t>(p_.sinks);
    k = static_cast<int64_t>(wide / static_cast<uint64_t>(transshipment_));
  }
  k = std::max<int64_t>(2, std::min(k, p_.sinks));
  // C. The sinks, as offsets (node id - 1); an empty pool gives offset 0.
  sink_pool_.make(p_.nodes - p_.sinks, p_.nodes - 1);
  for (int64_t i = 0; i < k; ++i) at(offsets_, i) = sink_pool_.take(rng_.draw(1, sink_pool_.size()));
  if (s == p_.sources) {
    // The last source sweeps up, in ascending order and without draws, every
    // sink still without demand.
    while (sink_pool_.size() > 0) {
      const int64_t j = sink_pool_.take(1);
      if (at(balance_, j + 1) == 0) at(offsets_, k++) = j;
    }
  }
  // D. Demands and sink arcs. The generator holds q in 32 bits and computes it
  // from the balance read as unsigned (only node 1 with one sink is negative).
  const auto uk = static_cast<uint64_t>(k);
  const auto q = static_cast<int32_t>(static_cast<uint64_t>(at(balance_, s)) / uk);
  int64_t x = at(link_, s);
  // Per sink: its amount, where the rest goes, then the walk to the next tail.
  for (int64_t i = 0; i < k; ++i) {
    ++c;
    const int64_t amount = rng_.draw(1, q);
    const int64_t j = rng_.draw(0, k - 1);
    at(tl_, c) = x;
    at(hd_, c) = at(offsets_, i) + 1;
    at(balance_, at(offsets_, i) + 1) -= amount;
    at(balance_, at(offsets_, j) + 1) -= q - amount;
    x = s;
    for (int64_t steps = rng_.draw(1, chain_length); steps > 0; --steps) x = at(link_, x);
  }
  at(balance_, at(offsets_, 0) + 1) -=
      static_cast<int64_t>(static_cast<uint64_t>(at(balance_, s)) % uk);
  // E. The generator's Shell sort by tail (not stable: the order of equal
  // tails it leaves is part of the output).
  for (int64_t gap = c / 2; gap != 0; gap /= 2) {
    for (int64_t j = 1; j <= c - gap; ++j) {
      for (int64_t i = j; i >= 1 && at(tl_, i) > at(tl_, i + gap); i -= gap) {
        std::swap(at(tl_, i), at(tl_, i + gap));
        std::swap(at(hd_, i), at(hd_, i + gap));
      }
    }
  }
  // F. Tail by tail: the skeleton arcs (capacity draw, cost draws), then the
  // random arcs of that tail.
  at(tl_, c + 1) = 0;
  const int64_t source_balance = at(balance_, s);
  for (int64_t i = 1; i <= c;) {
    head_pool_.make(p_.sources - p_.transshipment_sources + 1, p_.nodes);
    const int64_t t = at(tl_, i);
    head_pool_.discard(t);
    for (; at(tl_, i) == t; ++i) {
      head_pool_.discard(at(hd_, i));
      int64_t capacity = p_.supply;
      if (rng_.draw(1, 100) <= p_.capacitated_percent) {
        capacity = std::max(source_balance, p_.min_capacity);
      }
      int64_t cost = p_.max_cost;
      if (rng_.draw(1, 100) > p_.max_cost_percent) cost = rng_.draw(p_.min_cost, p_.max_cost);
      KORVANE_TRY(emit(t, at(hd_, i), cost, capacity));
    }
    KORVANE_TRY(random_arcs(t));
  }
  return {};
}

Result<void> Generator::random_arcs(int64_t tail) {
  if (cancel_.requested(64)) return cancelled();
  --nodes_left_;
  // The budget is the generator's 32-bit difference of the truncated counts.
  const auto budget = static_cast<int32_t>(static_cast<uint32_t>(p_.arcs) -
                                           static_cast<uint32_t>(arc_count_));
  const int64_t r = budget;
  if (2 * nodes_left_ >= r) return {};
  const int64_t share_of = nodes_left_ + 1;
  const int64_t capacity_left = nodes_left_ * (non_sources_ - 1);
  int64_t limit = 0;
  if ((r + non_sources_ - head_pool_.pseudo_size() - 1) / share_of >= non_sources_ - 1) {
    limit = static_cast<int32_t>(non_sources_);
  } else {
    const int64_t ub = 2 * (r / share_of - 1);
    // The redraw below ends exactly when some value can pass (full period),
    // unless the source is frozen at 0 and only ever draws 1.
    if (nodes_left_ > 0) {
      const int64_t best = ub <= 0 ? ub : (rng_.state() == 0 ? 1 : ub);
      if (capacity_left < r - best) return invalid(endless_message(p_));
    }
    do {
      limit = static_cast<int32_t>(rng_.draw(1, ub));
      if (nodes_left_ == 0) limit = r;
    } while (capacity_left < r - limit);
  }
  // Heads from positions 1..pseudo size (not size): the highest candidate may
  // be out of reach. Capacity draws happen also when no head is found.
  for (int64_t n = 0; n < limit; ++n) {
    const int64_t head = head_pool_.take(rng_.draw(1, head_pool_.pseudo_size()));
    int64_t capacity = p_.supply;
    if (rng_.draw(1, 100) <= p_.capacitated_percent) {
      capacity = rng_.draw(p_.min_capacity, p_.max_capacity);
    }
    if (head != 0) KORVANE_TRY(emit(tail, head, rng_.draw(p_.min_cost, p_.max_cost), capacity));
  }
  if (cancel_.requested(static_cast<uint64_t>(std::max<int64_t>(limit, 0)))) return cancelled();
  return {};
}

Result<void> Generator::assignment() {
  const int64_t half = p_.nodes / 2;
  for (int64_t i = 1; i <= p_.nodes; ++i) balance_[static_cast<std::size_t>(i)] = i <= half ? 1 : -1;
  chain_pool_.make(p_.sources + 1, p_.nodes);
  // Per source: its partner, that arc's cost, then its random arcs.
  for (int64_t s = 1; s <= half; ++s) {
    const int64_t head = chain_pool_.take(rng_.draw(1, chain_pool_.size()));
    KORVANE_TRY(emit(s, head, rng_.draw(p_.min_cost, p_.max_cost), 1));
    head_pool_.make(p_.sources + 1, p_.nodes);
    head_pool_.discard(head);
    KORVANE_TRY(random_arcs(s));
  }
  return {};
}

}  // namespace korvane::netgen
