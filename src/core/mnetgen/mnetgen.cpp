// Mnetgen: the checks, the draws in the generator's order, and the two
// consumers of what it makes: the four files, and the problem the Mnetgen
// reader would build from them.
#include "core/mnetgen/mnetgen.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core/base/cancel.h"
#include "core/base/numeric.h"
#include "core/formats/four_file_reader.h"
#include "core/formats/mnetgen_writer.h"
#include "core/mnetgen/drand48.h"
#include "core/text/tokens.h"

namespace korvane {

const std::array<MnetgenParamName, kMnetgenParamCount> kMnetgenParamNames{{
    {"seed", "iseed"},
    {"problem_number", "nprob"},
    {"num_nodes", "nodes"},
    {"min_lines", "dens"},
    {"num_sources", "nsorc"},
    {"num_sinks", "nsink"},
    {"num_commodities", "ncomm"},
    {"num_transshipment_sources", "ntsorc"},
    {"num_transshipment_sinks", "ntsink"},
    {"max_chain_length", "lchain"},
    {"min_cost", "mincst"},
    {"max_cost", "maxcst"},
    {"min_supply", "minsup"},
    {"max_supply", "maxsup"},
    {"min_bound", "minbnd"},
    {"max_bound", "maxbnd"},
    {"min_bundle_capacity", "mincap"},
    {"max_bundle_capacity", "maxcap"},
    {"high_cost_percent", "bhicst"},
    {"bounded_percent", "bbnd"},
    {"bundled_percent", "bcap"},
}};

MnetgenParams mnetgen_params(const std::array<int64_t, kMnetgenIntegerCount>& v,
                             const std::array<double, 3>& percents) {
  return MnetgenParams{v[0],  v[1],  v[2],  v[3],  v[4],  v[5],  v[6],
                       v[7],  v[8],  v[9],  v[10], v[11], v[12], v[13],
                       v[14], v[15], v[16], v[17], percents[0], percents[1], percents[2]};
}

char* format_g4(double v, char* out) {
  // Integers of at most four digits are their own %.4g text.
  if (std::fabs(v) < 10000 && v == std::trunc(v) && !(v == 0 && std::signbit(v))) {
    return format_i64(static_cast<int64_t>(v), out);
  }
  return std::to_chars(out, out + 16, v, std::chars_format::general, 4).ptr;
}

namespace {

// ------------------------------------------------------------------- checks

enum Param : std::size_t {
  kIseed, kNprob, kNodes, kDens, kNsorc, kNsink, kNcomm, kNtsorc, kNtsink, kLchain,
  kMincst, kMaxcst, kMinsup, kMaxsup, kMinbnd, kMaxbnd, kMincap, kMaxcap,
  kBhicst, kBbnd, kBcap,
};

std::array<int64_t, kMnetgenIntegerCount> integers_of(const MnetgenParams& p) {
  return {p.iseed,  p.nprob,  p.nodes,  p.dens,   p.nsorc,  p.nsink,  p.ncomm,  p.ntsorc, p.ntsink,
          p.lchain, p.mincst, p.maxcst, p.minsup, p.maxsup, p.minbnd, p.maxbnd, p.mincap, p.maxcap};
}

std::string real_text(double v) {
  char text[kFormatF64BufferSize];
  return std::string(text, format_f64(v, text));
}

// "num_nodes (nodes) 20": a parameter by both its names and its value.
std::string named(Param which, const MnetgenParams& p) {
  const MnetgenParamName& n = kMnetgenParamNames[which];
  std::string text = std::string(n.name) + " (" + std::string(n.original) + ") ";
  if (which >= kBhicst) {
    const double percents[] = {p.bhicst, p.bbnd, p.bcap};
    return text + real_text(percents[which - kBhicst]);
  }
  return text + std::to_string(integers_of(p)[which]);
}

Error refused(std::string what, std::string_view message) {
  return invalid(std::move(what) + ": " + std::string(message));
}

constexpr int64_t kMaxSize = int64_t{1} << 40;

// The generator's own checks, in its order, with its messages.
Result<void> check_as_generator(const MnetgenParams& p) {
  // The sum as a mathematician takes it: one past 64 bits is past any node count.
  int64_t ends = 0;
  const bool over = __builtin_add_overflow(p.nsorc, p.nsink, &ends);
  if (over ? p.nsorc > 0 : ends > p.nodes) {
    return refused(named(kNsorc, p) + " + " + named(kNsink, p) + " > " + named(kNodes, p),
                   "INPUT ERROR - SOURCES  +  SINKS .GT. NODES");
  }
  if (p.ntsorc > p.nsorc) {
    return refused(named(kNtsorc, p) + " > " + named(kNsorc, p),
                   "INPUT ERROR - NTSORC GREATER THAN NSORC");
  }
  if (p.ntsink > p.nsink) {
    return refused(named(kNtsink, p) + " > " + named(kNsink, p),
                   "INPUT ERROR - NTSINK GREATER THAN NSINK");
  }
  for (const Param which : {kNodes, kDens, kNsorc, kNsink, kNcomm, kNtsorc, kNtsink}) {
    if (integers_of(p)[which] < 0) {
      return refused(named(which, p) + " < 0", "INPUT ERROR - A VARIABLE IN INPUT");
    }
  }
  const std::pair<Param, std::string_view> ranges[] = {
      {kMincst, "INPUT ERROR - MINCST.GT.MAXCST"},
      {kMinsup, "INPUT ERROR - MINSUP.GT.MAXSUP"},
      {kMinbnd, "INPUT ERROR - MINBND.GT.MAXBND"},
      {kMincap, "INPUT ERROR - MINCAP.GT.MAXCAP"},
  };
  for (const auto& [low, message] : ranges) {
    const auto high = static_cast<Param>(low + 1);
    if (integers_of(p)[low] > integers_of(p)[high]) {
      return refused(named(low, p) + " > " + named(high, p), message);
    }
  }
  const double percents[] = {p.bhicst, p.bbnd, p.bcap};
  for (std::size_t i = 0; i < 3; ++i) {
    // Written so that NaN, which only a caller (never a parameter file) can pass, fails too.
    if (!(percents[i] >= 0 && percents[i] <= 100)) {
      return refused(named(static_cast<Param>(kBhicst + i), p) + " not in [0, 100]",
                     "INPUT ERROR - BHICST OR BBND OR BCAP NOT IN (0,100)");
    }
  }
  if (p.minsup < p.nsorc) {
    return refused(named(kMinsup, p) + " < " + named(kNsorc, p), "INPUT ERROR - MINSUP.LT.NSORC");
  }
  return {};
}

}  // namespace

Result<void> check_mnetgen(const MnetgenParams& p) {
  KORVANE_TRY(check_as_generator(p));
  for (const Param which : {kNodes, kNcomm}) {
    if (integers_of(p)[which] > kMaxSize) {
      return refused(named(which, p), "more than korvane generates (2^40)");
    }
  }
  for (const Param low : {kMincst, kMinbnd, kMincap}) {
    const auto high = static_cast<Param>(low + 1);
    int64_t difference = 0;
    if (__builtin_sub_overflow(integers_of(p)[high], integers_of(p)[low], &difference)) {
      return refused(named(high, p) + " - " + named(low, p),
                     "does not fit in 64 bits, where the generator computes it");
    }
  }
  // Inputs that pass the generator's checks and then crash it.
  if (p.nsorc == 0 && p.ncomm >= 1) {
    return refused(named(kNsorc, p) + " with " + named(kNcomm, p),
                   "the generator divides by zero sharing out the supplies");
  }
  if (p.nsink == 0 && p.nsorc >= 1 && p.ncomm >= 1) {
    return refused(named(kNsink, p) + " with " + named(kNsorc, p) + " and " + named(kNcomm, p),
                   "the generator divides by zero sharing out the demands");
  }
  if (p.ncomm == 0 && p.dens > 0) {
    return refused(named(kNcomm, p) + " with " + named(kDens, p),
                   "the generator draws random arcs from an empty table of commodities");
  }
  const int64_t pure_transshipment = p.nodes - p.nsorc - p.nsink;
  if (p.lchain < 0 && pure_transshipment > 0) {
    return refused(named(kLchain, p) + " with " + std::to_string(pure_transshipment) +
                       " pure transshipment nodes",
                   "the generator writes before the start of its chain table");
  }
  uint64_t cells = 0;
  if (__builtin_mul_overflow(static_cast<uint64_t>(p.nodes), static_cast<uint64_t>(p.ncomm),
                             &cells) ||
      cells > (uint64_t{1} << 48)) {
    return refused(named(kNodes, p) + " with " + named(kNcomm, p),
                   "supply tables larger than korvane generates (2^48 entries)");
  }
  return {};
}

namespace {

// -------------------------------------------------------------- generation

double dbl(int64_t v) { return static_cast<double>(v); }
// The generator's long(x), for x >= 0 (saturating where it would be undefined).
int64_t trunc_i(double x) { return saturating_cast<int64_t>(x); }

Error past_64_bits(std::string_view what) {
  return invalid("these parameters make " + std::string(what) + " past 64 bits");
}

Error never_ends(std::string what) {
  return invalid("the generator never ends on these parameters: " + std::move(what));
}

constexpr uint64_t kRejectionsBeforeScan = 1000;

// What the draws make, handed to a consumer in the generator's order:
//   mut(label, capacity)                   a .mut record
//   arc(name, from, to, k, cost, bound, b) a .arc line
//   counts(K, n, names, bundles)           .nod, after the last line
//   supply(node, k, amount)                .sup records, in order, after .nod
// Each returns Result<void>; the first failure ends the run.
template <class Out>
Result<void> generate(const MnetgenParams& prm, Out& out) {
  const int64_t n = prm.nodes;
  const int64_t K = prm.ncomm;
  const int64_t nsorc = prm.nsorc;
  const int64_t nsink = prm.nsink;
  const int64_t P = nsorc - prm.ntsorc;  // pure sources 1..P
  const int64_t T0 = n - nsink;          // sinks T0+1..n
  const int64_t ktran = T0 + prm.ntsink - P;
  const int64_t Q = nsink - prm.ntsink;
  const bool has_t = P + Q != n;

  const double pcap = prm.bcap / 100.0;
  const double phicst = prm.bhicst / 100.0;
  const double pbnd = prm.bbnd / 100.0;
  const double d_sup = dbl(prm.maxsup - prm.minsup);
  const double d_cost = dbl(prm.maxcst - prm.mincst);
  const double d_mut = dbl(prm.maxcap - prm.mincap);
  const double d_bnd = dbl(prm.maxbnd - prm.minbnd);
  const double f1x3 = (dbl(ktran) / dbl(nsorc)) * 3.0;
  const double f2x3 = (dbl(nsink) / dbl(nsorc)) * 3.0;

  const auto kk = static_cast<std::size_t>(K);
  Drand48 rng(prm.iseed);
  CancelCheck cancel;

  // S[(i-1)*K + k-1]: supply of source i; D[(s-T0-1)*K + k-1]: demand of sink s.
  std::vector<int64_t> supply(static_cast<std::size_t>(nsorc) * kk, 0);
  std::vector<int64_t> demand(static_cast<std::size_t>(nsink) * kk, 0);
  auto S = [&](int64_t i, int64_t k) -> int64_t& {
    return supply[static_cast<std::size_t>(i - 1) * kk + static_cast<std::size_t>(k - 1)];
  };
  auto D = [&](int64_t s, int64_t k) -> int64_t& {
    return demand[static_cast<std::size_t>(s - T0 - 1) * kk + static_cast<std::size_t>(k - 1)];
  };
  auto add = [](int64_t& to, int64_t v) { return !__builtin_add_overflow(to, v, &to); };

  // 5.1 supplies, commodity by commodity: the amount of a pair, then its partner.
  for (int64_t k = 1; k <= K; ++k) {
    if (cancel.requested(static_cast<uint64_t>(nsorc))) return cancelled();
    int64_t total = 0;
    if (__builtin_add_overflow(trunc_i(rng.next() * d_sup), prm.minsup, &total)) {
      return past_64_bits("a total supply");
    }
    const int64_t s = total / nsorc;
    for (int64_t i = 1; i <= nsorc; ++i) {
      const int64_t a = trunc_i(dbl(s) * rng.next() + 1.0);
      const int64_t j = trunc_i(dbl(nsorc) * rng.next()) + 1;
      S(i, k) += a;
      S(j, k) += s - a;
    }
    const int64_t j = trunc_i(dbl(nsorc) * rng.next()) + 1;
    S(j, k) += total - s * nsorc;
    for (int64_t i = 1; i <= nsorc; ++i) S(i, k) = std::max(S(i, k), nsink);
  }
  std::vector<int64_t> supply_total(static_cast<std::size_t>(nsorc), 0);
  for (int64_t i = 1; i <= nsorc; ++i) {
    for (int64_t k = 1; k <= K; ++k) {
      if (!add(supply_total[static_cast<std::size_t>(i - 1)], S(i, k))) {
        return past_64_bits("a source's total supply");
      }
    }
  }

  std::vector<uint8_t> used(static_cast<std::size_t>(n) + 1, 0);
  std::vector<int64_t> chain;
  std::vector<int64_t> sinks;
  std::vector<int64_t> chain_bundle;
  std::vector<int64_t> sink_bundle;
  int64_t names = 0;
  int64_t lines = 0;
  int64_t nb = 0;

  auto skeleton_cost = [&] {
    if (rng.next() > phicst) return dbl(prm.mincst) + rng.next() * d_cost;
    return dbl(prm.maxcst);
  };
  auto skeleton_bound = [&](int64_t amount) { return rng.next() < pbnd ? dbl(amount) : -1.0; };

  // 5.2 the skeleton: per source a chain through the transshipment range, then a
  // fan of arcs from the chain's end to sinks.
  for (int64_t p = 1; p <= nsorc; ++p) {
    if (cancel.requested()) return cancelled();
    std::fill(used.begin() + (T0 + 1), used.end(), uint8_t{0});
    chain.clear();
    sinks.clear();
    int64_t L = 0;
    int64_t last = p;
    if (has_t) {
      L = std::min(trunc_i(f1x3 * rng.next() + 1.0), prm.lchain);
      for (int64_t c = 1; c <= L; ++c) {
        // Rejection: a node of the range other than the last and the source, not
        // barred by an earlier chain.
        auto admissible = [&](int64_t v) {
          return v != last && v != p && used[static_cast<std::size_t>(v)] == 0;
        };
        int64_t v = 0;
        bool scanned = false;
        for (uint64_t tries = 1;; ++tries) {
          v = trunc_i(dbl(ktran) * rng.next()) + P + 1;
          if (admissible(v)) break;
          if (cancel.requested()) return cancelled();
          if (tries >= kRejectionsBeforeScan && !scanned) {
            scanned = true;
            bool any = false;
            for (int64_t w = P + 1; w <= P + ktran && !any; ++w) any = admissible(w);
            if (!any) {
              return never_ends("no node is left for the chain of source " + std::to_string(p));
            }
          }
        }
        chain.push_back(v);
        last = v;
        if (v <= T0) used[static_cast<std::size_t>(v)] = 1;
      }
      if (p == nsorc) {
        // The last chain also takes every pure transshipment node left, in order.
        for (int64_t v = nsorc + 1; v <= T0; ++v) {
          if (used[static_cast<std::size_t>(v)] != 0) continue;
          ++L;
          chain.push_back(v);
          last = v;
        }
      }
    }

    int64_t M = std::min(trunc_i(f2x3 * rng.next() + 1.0), nsink);
    for (int64_t q = 1; q <= M; ++q) {
      auto admissible = [&](int64_t v) {
        return v != last && used[static_cast<std::size_t>(v)] == 0;
      };
      int64_t v = 0;
      bool scanned = false;
      for (uint64_t tries = 1;; ++tries) {
        v = trunc_i(dbl(nsink) * rng.next()) + T0 + 1;
        if (admissible(v)) break;
        if (cancel.requested()) return cancelled();
        if (tries >= kRejectionsBeforeScan && !scanned) {
          scanned = true;
          bool any = false;
          for (int64_t w = T0 + 1; w <= n && !any; ++w) any = admissible(w);
          if (!any) {
            return never_ends("no sink is left for the arcs of source " + std::to_string(p));
          }
        }
      }
      sinks.push_back(v);
      used[static_cast<std::size_t>(v)] = 1;
    }
    if (p == nsorc) {
      // The last source also ships to every other sink, in order.
      for (int64_t v = T0 + 1; v <= n; ++v) {
        if (v == last || used[static_cast<std::size_t>(v)] != 0) continue;
        ++M;
        sinks.push_back(v);
      }
    }

    // Bundles: the chain arcs', then the sink arcs'.
    const int64_t source_total = supply_total[static_cast<std::size_t>(p - 1)];
    auto bundle = [&](std::vector<int64_t>& into, std::size_t count) -> Result<void> {
      into.assign(count, 0);
      for (std::size_t c = 0; c < count; ++c) {
        if (rng.next() > pcap) continue;
        into[c] = ++nb;
        KORVANE_TRY(out.mut(nb, source_total));
      }
      return {};
    };
    if (has_t) KORVANE_TRY(bundle(chain_bundle, chain.size()));
    KORVANE_TRY(bundle(sink_bundle, sinks.size()));

    const std::size_t fan = sinks.size();
    for (int64_t k = 1; k <= K; ++k) {
      if (cancel.requested(chain.size() + fan)) return cancelled();
      const int64_t amount = S(p, k);
      // Demands: a pair's partner sink, then its amount.
      const int64_t s = amount / M;
      for (std::size_t q = 0; q < fan; ++q) {
        const auto j = static_cast<std::size_t>(trunc_i(dbl(M) * rng.next()));
        const int64_t a = trunc_i(dbl(s) * rng.next() + 1.0);
        if (!add(D(sinks[q], k), a) || !add(D(sinks[j], k), s - a)) {
          return past_64_bits("a demand");
        }
      }
      const auto j = static_cast<std::size_t>(trunc_i(dbl(M) * rng.next()));
      if (!add(D(sinks[j], k), amount - s * M)) return past_64_bits("a demand");

      // Lines: along the chain, then the fan; each a cost, then a bound.
      int64_t name = names;
      int64_t from = p;
      if (has_t) {
        for (std::size_t c = 0; c < chain.size(); ++c) {
          const double cost = skeleton_cost();
          const double bound = skeleton_bound(amount);
          KORVANE_TRY(out.arc(++name, from, chain[c], k, cost, bound, chain_bundle[c]));
          from = chain[c];
        }
      }
      for (std::size_t q = 0; q < fan; ++q) {
        const double cost = skeleton_cost();
        const double bound = skeleton_bound(amount);
        KORVANE_TRY(out.arc(++name, last, sinks[q], k, cost, bound, sink_bundle[q]));
      }
      // L may be negative (lchain < 0): the generator counts it as it is.
      if (!add(lines, L) || !add(lines, M)) return past_64_bits("the line count");
    }
    if (!add(names, L) || !add(names, M)) return past_64_bits("the arc name count");
  }

  // 5.3 random arcs while fewer lines than dens exist: head, tail, commodity
  // count, bundle, then per line its commodity, cost and bound.
  std::vector<uint8_t> taken(kk + 1, 0);
  std::vector<int64_t> drawn;
  while (lines < prm.dens) {
    if (cancel.requested()) return cancelled();
    // The head adds its offset in double before truncating.
    const int64_t to = trunc_i(dbl(n - P) * rng.next() + dbl(P + 1));
    int64_t from = 0;
    bool scanned = false;
    for (uint64_t tries = 1;; ++tries) {
      from = trunc_i(dbl(n) * rng.next());
      if (from != to && from != 0) break;
      if (cancel.requested()) return cancelled();
      if (tries >= kRejectionsBeforeScan && !scanned) {
        scanned = true;
        // Tails are 1..n-1 but the head.
        if (n - 1 < 1 || (n - 1 == 1 && to == 1)) {
          return never_ends("no tail is left for a random arc into node " + std::to_string(to));
        }
      }
    }
    const int64_t count = trunc_i(dbl(K) * rng.next() + 1.0);
    for (const int64_t k : drawn) taken[static_cast<std::size_t>(k)] = 0;
    drawn.clear();
    int64_t b = 0;
    if (rng.next() <= pcap) {
      b = ++nb;
      KORVANE_TRY(out.mut(nb, prm.mincap + trunc_i(rng.next() * d_mut)));
    }
    if (!add(names, 1)) return past_64_bits("the arc name count");
    for (int64_t r = 1; r <= count; ++r) {
      if (static_cast<std::size_t>(r) > kk) {
        return never_ends("no commodity is left for random arc " + std::to_string(names));
      }
      int64_t k = 0;
      do {
        k = trunc_i(dbl(K) * rng.next()) + 1;
      } while (taken[static_cast<std::size_t>(k)] != 0);
      taken[static_cast<std::size_t>(k)] = 1;
      drawn.push_back(k);
      const double cost = dbl(prm.mincst) + rng.next() * d_cost;
      double bound = -1.0;
      if (rng.next() < pbnd) bound = dbl(prm.minbnd + trunc_i(rng.next() * d_bnd));
      KORVANE_TRY(out.arc(names, from, to, k, cost, bound, b));
    }
    if (!add(lines, count)) return past_64_bits("the line count");
  }

  // 5.4 .nod, then .sup: the sources' supplies, then the sinks' negated demands.
  KORVANE_TRY(out.counts(K, n, names, nb));
  for (int64_t i = 1; i <= nsorc; ++i) {
    if (cancel.requested(kk)) return cancelled();
    for (int64_t k = 1; k <= K; ++k) KORVANE_TRY(out.supply(i, k, S(i, k)));
  }
  for (int64_t s = T0 + 1; s <= n; ++s) {
    if (cancel.requested(kk)) return cancelled();
    for (int64_t k = 1; k <= K; ++k) KORVANE_TRY(out.supply(s, k, -D(s, k)));
  }
  return {};
}

// ------------------------------------------------------------ the four files

constexpr std::size_t kIntSlot = kFormatIntBufferSize + 1;
constexpr std::size_t kRealSlot = 16 + 1;
constexpr std::size_t kArcLineMax = 5 * kIntSlot + 2 * kRealSlot;

// One record of integers and reals, tab-separated, ending in a line feed.
char* put_int(int64_t v, char* q, char end) {
  q = format_i64(v, q);
  *q++ = end;
  return q;
}

char* format_arc_line(char* q, int64_t name, int64_t from, int64_t to, int64_t k, double cost,
                      double bound, int64_t b) {
  q = put_int(name, q, '\t');
  q = put_int(from, q, '\t');
  q = put_int(to, q, '\t');
  q = put_int(k, q, '\t');
  q = format_g4(cost, q);
  *q++ = '\t';
  q = format_g4(bound, q);
  *q++ = '\t';
  return put_int(b, q, '\n');
}

class FileOut {
 public:
  // Parts in publishing order: .nod, .arc, .sup, .mut.
  static Result<FileOut> open(const FourFileParts& parts, Compression compression,
                              uint64_t expected_lines) {
    FileOut out;
    out.paths_ = {parts.nod, parts.arc, parts.sup, parts.mut};
    out.writers_.reserve(4);
    for (std::size_t i = 0; i < 4; ++i) {
      auto created = BufferedWriter::create(out.paths_[i], compression);
      if (!created.ok()) return detail::at_part(out.paths_[i], created.take_error());
      // An .arc line takes at least 14 bytes.
      if (i == 1) created.value().write_behind(14 * expected_lines);
      out.writers_.push_back(std::move(created).value());
    }
    return out;
  }

  Result<void> mut(int64_t label, int64_t capacity) {
    BufferedWriter& w = writers_[3];
    auto reserved = w.reserve(2 * kIntSlot);
    if (!reserved.ok()) return detail::at_part(paths_[3], reserved.take_error());
    char* const start = w.cursor();
    char* q = put_int(label, start, '\t');
    q = put_int(capacity, q, '\n');
    w.advance(static_cast<std::size_t>(q - start));
    return {};
  }

  Result<void> arc(int64_t name, int64_t from, int64_t to, int64_t k, double cost, double bound,
                   int64_t b) {
    BufferedWriter& w = writers_[1];
    auto reserved = w.reserve(kArcLineMax);
    if (!reserved.ok()) return detail::at_part(paths_[1], reserved.take_error());
    char* const start = w.cursor();
    char* const q = format_arc_line(start, name, from, to, k, cost, bound, b);
    w.advance(static_cast<std::size_t>(q - start));
    return {};
  }

  Result<void> counts(int64_t k, int64_t n, int64_t names, int64_t bundles) {
    BufferedWriter& w = writers_[0];
    auto reserved = w.reserve(4 * kIntSlot);
    if (!reserved.ok()) return detail::at_part(paths_[0], reserved.take_error());
    char* const start = w.cursor();
    char* q = start;
    for (const int64_t v : {k, n, names, bundles}) q = put_int(v, q, '\n');
    w.advance(static_cast<std::size_t>(q - start));
    return {};
  }

  Result<void> supply(int64_t node, int64_t k, int64_t amount) {
    BufferedWriter& w = writers_[2];
    auto reserved = w.reserve(3 * kIntSlot);
    if (!reserved.ok()) return detail::at_part(paths_[2], reserved.take_error());
    char* const start = w.cursor();
    char* q = put_int(node, start, '\t');
    q = put_int(k, q, '\t');
    q = put_int(amount, q, '\n');
    w.advance(static_cast<std::size_t>(q - start));
    return {};
  }

  Result<void> publish() {
    for (std::size_t i = 0; i < 4; ++i) {
      Result<void> finished = writers_[i].finish();
      if (!finished.ok()) return detail::at_part(paths_[i], finished.take_error());
    }
    return detail::publish_parts(writers_, {paths_[0], paths_[1], paths_[2], paths_[3]});
  }

 private:
  std::array<std::string, 4> paths_;
  std::vector<BufferedWriter> writers_;
};

// ------------------------------------------------------- the problem in memory

// Collects the records as the reader would meet them, and counts the bytes the
// plain files would hold, for the reader's bound on table cells per byte.
class ProblemOut {
 public:
  struct Line {
    int64_t name, from, to, k, pointer;
    double cost, capacity;
  };

  Result<void> mut(int64_t label, int64_t capacity) {
    bundle_capacities_.push_back(capacity);
    char text[2 * kIntSlot];
    bytes_ += static_cast<uint64_t>(put_int(capacity, put_int(label, text, '\t'), '\n') - text);
    return {};
  }

  Result<void> arc(int64_t name, int64_t from, int64_t to, int64_t k, double cost, double bound,
                   int64_t b) {
    char text[kArcLineMax];
    char* q = put_int(name, text, '\t');
    q = put_int(from, q, '\t');
    q = put_int(to, q, '\t');
    q = put_int(k, q, '\t');
    const double cost_read = read_back(cost, q);
    const double bound_read = read_back(bound, q);
    q = put_int(b, q, '\n');
    bytes_ += static_cast<uint64_t>(q - text);
    // A negative bound is the generator's "unbounded".
    lines_.push_back(Line{name, from, to, k, b, cost_read, bound_read < 0 ? kUnbounded : bound_read});
    return {};
  }

  Result<void> counts(int64_t k, int64_t n, int64_t names, int64_t bundles) {
    k_ = k;
    n_ = n;
    m_ = names;
    nb_ = bundles;
    char text[4 * kIntSlot];
    char* q = text;
    for (const int64_t v : {k, n, names, bundles}) q = put_int(v, q, '\n');
    bytes_ += static_cast<uint64_t>(q - text);
    return {};
  }

  Result<void> supply(int64_t node, int64_t k, int64_t amount) {
    if (k_ >= 1 && node >= 1 && node <= n_) {
      if (supplies_.empty()) {
        supplies_.assign(static_cast<std::size_t>(n_) * static_cast<std::size_t>(k_), 0.0);
      }
      supplies_[static_cast<std::size_t>(node - 1) * static_cast<std::size_t>(k_) +
                static_cast<std::size_t>(k - 1)] = static_cast<double>(amount);
    }
    char text[3 * kIntSlot];
    bytes_ += static_cast<uint64_t>(put_int(amount, put_int(k, put_int(node, text, '\t'), '\t'),
                                            '\n') -
                                    text);
    return {};
  }

  Result<MulticommodityProblem> build();

 private:
  // The value the reader takes from the value's 4-digit text, which is written at q.
  static double read_back(double v, char*& q) {
    char* const start = q;
    q = format_g4(v, q);
    double value = 0;
    parse_f64_to(std::string_view(start, static_cast<std::size_t>(q - start)), value);
    *q++ = '\t';
    return value;
  }

  std::vector<Line> lines_;
  std::vector<int64_t> bundle_capacities_;
  std::vector<double> supplies_;
  uint64_t bytes_ = 0;
  int64_t k_ = 0, n_ = 0, m_ = 0, nb_ = 0;
};

Error unreadable(std::string why) {
  return invalid("the Mnetgen files of these parameters do not read back: " + std::move(why));
}

// The reader's rules, in its order: the counts of .nod, the table size, then
// .arc line by line; then its tables, built as it builds them.
Result<MulticommodityProblem> ProblemOut::build() {
  if (k_ <= 0) return unreadable("they hold " + std::to_string(k_) + " commodities");
  if (n_ <= 1) return unreadable("they hold " + std::to_string(n_) + " nodes");
  if (m_ <= 0) return unreadable("they hold " + std::to_string(m_) + " arc names");
  if (nb_ > m_) {
    return unreadable("they hold " + std::to_string(nb_) + " bundles for " + std::to_string(m_) +
                      " arc names");
  }
  const auto k = static_cast<uint64_t>(k_);
  const auto n = static_cast<uint64_t>(n_);
  const auto m = static_cast<uint64_t>(m_);
  uint64_t km = 0, kn = 0, cells = 0, limit = 0;
  if (__builtin_mul_overflow(k, m, &km) || __builtin_mul_overflow(km, uint64_t{2}, &km) ||
      __builtin_mul_overflow(k, n, &kn) || __builtin_add_overflow(km, kn, &cells) ||
      __builtin_add_overflow(cells, m + n, &cells) ||
      (!__builtin_mul_overflow(bytes_, kMaxCellsPerInputByte, &limit) && cells > limit)) {
    return unreadable(std::to_string(k) + " commodities, " + std::to_string(m) + " arcs and " +
                      std::to_string(n) + " nodes need more table cells than " +
                      std::to_string(kMaxCellsPerInputByte) + " per byte of the files");
  }

  struct NameInfo {
    int64_t tail = 0, head = 0, pointer = 0;
  };
  std::vector<NameInfo> names(m + 1);
  CancelCheck cancel;
  for (const Line& line : lines_) {
    if (cancel.requested()) return cancelled();
    if (line.name < 1 || line.name > m_) {
      return unreadable("arc name " + std::to_string(line.name) + " is not in 1.." +
                        std::to_string(m_));
    }
    // A random arc's head sums its offset in double: on the largest node counts that
    // sum can round up to n + 1, which the generator writes and no reader takes.
    for (const int64_t node : {line.from, line.to}) {
      if (node < 1 || node > n_) {
        return unreadable("node " + std::to_string(node) + " of arc name " +
                          std::to_string(line.name) + " is not in 1.." + std::to_string(n_));
      }
    }
    NameInfo& info = names[static_cast<std::size_t>(line.name)];
    if (info.tail == 0) {
      info = NameInfo{line.from, line.to, line.pointer};
    } else if (info.tail != line.from || info.head != line.to || info.pointer != line.pointer) {
      return unreadable("arc name " + std::to_string(line.name) +
                        " has lines of different nodes or bundles");
    }
  }

  MulticommodityProblem problem;
  problem.source = ProblemSource::kMnetgen;
  problem.num_nodes = n;
  problem.num_commodities = k;
  problem.declared_arcs = m;
  std::vector<uint64_t> position(m + 1, 0);
  uint64_t e = 0;
  for (uint64_t name = 1; name <= m; ++name) {
    const NameInfo& info = names[name];
    if (info.tail == 0) continue;
    position[name] = e++;
    problem.arc_names.push_back(static_cast<int64_t>(name));
    problem.tails.push_back(info.tail);
    problem.heads.push_back(info.head);
    const int64_t capacity =
        info.pointer == 0 ? -1 : bundle_capacities_[static_cast<std::size_t>(info.pointer - 1)];
    problem.bundles.push_back(capacity < 0 ? kUnbounded : static_cast<double>(capacity));
  }
  problem.costs.assign(e * k, 0.0);
  problem.capacities.assign(e * k, 0.0);
  // A later line of a (name, commodity) replaces an earlier one, as in the reader.
  for (const Line& line : lines_) {
    const uint64_t cell =
        position[static_cast<std::size_t>(line.name)] * k + static_cast<uint64_t>(line.k - 1);
    problem.costs[cell] = line.cost;
    problem.capacities[cell] = line.capacity;
  }
  if (supplies_.empty()) supplies_.assign(n * k, 0.0);
  problem.supplies = std::move(supplies_);
  return problem;
}

// A lower bound of the lines the run makes, for the writing thread (clamped, so
// that 14 bytes a line stays within 64 bits).
uint64_t expected_lines(const MnetgenParams& p) {
  return static_cast<uint64_t>(std::clamp<int64_t>(p.dens, 0, int64_t{1} << 40));
}

}  // namespace

Result<void> write_mnetgen_instance(const FourFileParts& parts, const MnetgenParams& params,
                                    Compression compression) {
  KORVANE_TRY(check_mnetgen(params));
  auto opened = FileOut::open(parts, compression, expected_lines(params));
  if (!opened.ok()) return opened.take_error();
  FileOut& out = opened.value();
  KORVANE_TRY(generate(params, out));
  return out.publish();
}

Result<MulticommodityProblem> generate_mnetgen(const MnetgenParams& params) {
  KORVANE_TRY(check_mnetgen(params));
  ProblemOut out;
  KORVANE_TRY(generate(params, out));
  return out.build();
}

}  // namespace korvane
