// NETGEN (Klingman, Napier and Stutz 1974, in its C form with the 1992 fixes):
// the 15 inputs, their validation, and the generation of a network's arcs and
// node balances in the generator's exact draw order. Python-free.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "core/base/cancel.h"
#include "core/base/result.h"
#include "core/netgen/ordered_pool.h"
#include "core/netgen/park_miller.h"

namespace korvane::netgen {

// The inputs in the order the generator reads them.
struct Params {
  int64_t seed = 0;
  int64_t problem = 0;       // only printed
  int64_t nodes = 0;         // N
  int64_t sources = 0;       // NS, transshipment sources included
  int64_t sinks = 0;         // NT, transshipment sinks included
  int64_t arcs = 0;          // M, the requested ("density")
  int64_t min_cost = 0;      // CMIN
  int64_t max_cost = 0;      // CMAX
  int64_t supply = 0;        // SUP
  int64_t transshipment_sources = 0;  // TS
  int64_t transshipment_sinks = 0;    // TT
  int64_t max_cost_percent = 0;       // HI: skeleton arcs given the maximum cost
  int64_t capacitated_percent = 0;    // CAPP
  int64_t min_capacity = 0;  // UMIN
  int64_t max_capacity = 0;  // UMAX
};
inline constexpr std::size_t kNumParams = 15;

// The names of the 15 inputs, in input order, as the Python layer spells them.
extern const char* const kParamNames[kNumParams];

// Params from 15 values in input order.
Params params_from_values(const int64_t (&values)[kNumParams]);
void params_to_values(const Params& params, int64_t (&values)[kNumParams]);

// The size limits the generator refuses to go past.
struct Limits {
  int64_t max_nodes = 10'000'000;
  int64_t max_arcs = 40'000'000;
};
// Past these the generator's 32-bit quantities would overflow: no limit can
// be raised beyond them.
inline constexpr int64_t kHardMaxNodes = 2147483647;
inline constexpr int64_t kHardMaxArcs = 2147483647;

enum class ProblemType : uint8_t { kMinCost, kMaxFlow, kAssignment };

// Checks the inputs in the generator's own order (seed, size, consistency),
// then the inputs korvane refuses beyond it (negative transshipment counts,
// draw ranges wider than 64 bits). kInvalid naming the input at fault; the
// message ends with the generator's own words in parentheses.
Result<void> validate(const Params& params, const Limits& limits);

// Which problem the inputs describe (they must be valid).
ProblemType problem_type(const Params& params);

// One emitted arc.
struct Arc {
  int64_t tail;
  int64_t head;
  int64_t cost;
  int64_t capacity;
};

// Receives the arcs of a run in creation order, a chunk at a time; an error
// it returns ends the run with that error.
using ArcSink = std::function<Result<void>(std::span<const Arc>)>;

// One run of the generator over valid inputs: call generate() once; then
// balances() and arc_count() describe the result. A run may end with kInvalid
// when the inputs would make the generator draw for ever (a limit that no
// draw can satisfy), or kCancelled when the caller asked it to stop (polled
// about every 50 ms). Two runs over the same inputs emit the same arcs.
class Generator {
 public:
  explicit Generator(const Params& params);

  Result<void> generate(const ArcSink& sink);

  // b[id] for id 1..N at index id (index 0 unused).
  const std::vector<int64_t>& balances() const { return balance_; }
  uint64_t arc_count() const { return arc_count_; }
  ProblemType type() const { return type_; }

 private:
  static constexpr std::size_t kChunkArcs = 4096;

  Result<void> emit(int64_t tail, int64_t head, int64_t cost, int64_t capacity) {
    chunk_.push_back(Arc{tail, head, cost, capacity});
    ++arc_count_;
    if (chunk_.size() == kChunkArcs) return flush();
    return {};
  }
  Result<void> flush();
  Result<void> supplies();
  Result<void> chains();
  Result<void> source(int64_t s);
  Result<void> random_arcs(int64_t tail);
  Result<void> assignment();

  Params p_;
  ProblemType type_;
  ParkMiller rng_;
  const ArcSink* sink_ = nullptr;
  std::vector<Arc> chunk_;
  int64_t transshipment_ = 0;  // TR
  int64_t non_sources_ = 0;    // NSRC: candidate heads of random arcs
  int64_t nodes_left_ = 0;     // calls of random_arcs still to come
  uint64_t arc_count_ = 0;
  std::vector<int64_t> balance_;
  std::vector<int64_t> link_;
  std::vector<int64_t> tl_, hd_, offsets_;  // one source's skeleton (1-based) and sinks
  OrderedPool chain_pool_, sink_pool_, head_pool_;
  CancelCheck cancel_;
};

// The message of a run that would never end.
std::string endless_message(const Params& params);

}  // namespace korvane::netgen

