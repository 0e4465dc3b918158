// The Mnetgen writer: a problem is checked whole, then its four parts are
// written under temporary names and put in place together.
#include "core/formats/mnetgen_writer.h"

#include <algorithm>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "core/base/cancel.h"
#include "core/base/numeric.h"
#include "core/graph/node_rank.h"
#include "core/records/problem_conversion.h"
#include "core/text/tokens.h"

namespace korvane {
namespace {

// ------------------------------------------------------------------- checks

std::string real_text(double v) {
  char text[kFormatF64BufferSize];
  return std::string(text, format_f64(v, text));
}

std::string arc_label(int64_t name, int64_t tail, int64_t head) {
  return "arc " + std::to_string(name) + " (" + std::to_string(tail) + " -> " +
         std::to_string(head) + ")";
}

// "arc 7 (3 -> 4)": the arc's name and its endpoints as the caller knows them
// (a converted record's own node ids).
std::string arc_label(const MulticommodityProblem& p, std::size_t a) {
  auto node = [&p](int64_t number) {
    if (p.node_ids.empty() || number < 1 || static_cast<uint64_t>(number) > p.node_ids.size()) {
      return number;
    }
    return p.node_ids[static_cast<std::size_t>(number - 1)];
  };
  const int64_t name = a < p.arc_names.size() ? p.arc_names[a] : static_cast<int64_t>(a + 1);
  return arc_label(name, node(p.tails[a]), node(p.heads[a]));
}

// "<subject> has <what> <v>[ for commodity k]; Mnetgen files ..." for a value
// the format cannot hold: a negative one reads back as unbounded, NaN and the
// infinities (but an unbounded capacity) cannot be written at all.
Error unwritable(const std::string& subject, std::string_view what, double v, uint64_t commodity) {
  std::string message = subject + " has " + std::string(what) + " " + real_text(v);
  if (commodity != 0) message += " for commodity " + std::to_string(commodity);
  message += std::isfinite(v) && v < 0 ? "; Mnetgen files read a negative one as unbounded"
                                       : "; Mnetgen files cannot hold it";
  return invalid(std::move(message));
}

// A record whose tables do not have the sizes its counts give was not built by
// a reader or a conversion: a violated precondition.
Result<void> check_shape(const MulticommodityProblem& p) {
  const uint64_t e = p.num_arcs();
  uint64_t ek = 0;
  uint64_t nk = 0;
  const bool sized = !__builtin_mul_overflow(e, p.num_commodities, &ek) &&
                     !__builtin_mul_overflow(p.num_nodes, p.num_commodities, &nk);
  if (!sized || p.heads.size() != e || (!p.arc_names.empty() && p.arc_names.size() != e) ||
      p.costs.size() != ek || p.capacities.size() != ek || p.bundles.size() != e ||
      p.supplies.size() != nk || (!p.node_ids.empty() && p.node_ids.size() != p.num_nodes)) {
    return internal("the multi-commodity problem's tables do not match its counts");
  }
  return {};
}

// What the checks count on the way, for the writing thread's estimates, and
// the arc count .nod declares.
struct Counts {
  uint64_t arc_records = 0;
  uint64_t bundles = 0;
  uint64_t supply_records = 0;
  uint64_t arc_names = 0;
};

// The name arc a is written under: its own, or a + 1 for a record without names.
int64_t arc_name(const MulticommodityProblem& p, std::size_t a) {
  return p.arc_names.empty() ? static_cast<int64_t>(a + 1) : p.arc_names[a];
}

// .nod's m: the arc count the file declared, or the largest name when that is
// larger (a converted record declares none). The names past the last arc, and
// those between arcs, carry nothing, as in the file the record was read from.
uint64_t declared_names(const MulticommodityProblem& p) {
  const std::size_t e = p.num_arcs();
  const uint64_t last = e == 0 ? 0 : static_cast<uint64_t>(arc_name(p, e - 1));
  return std::max(p.declared_arcs, last);
}

// Every value the files would hold, in the order the writer meets them: arc by
// arc its endpoints, then each commodity's cost and capacity, then its bundle;
// then the supplies.
Result<Counts> check_values(const MulticommodityProblem& p) {
  const std::size_t k = p.num_commodities;
  if (k == 0) return invalid("a problem without commodities cannot be written as Mnetgen files");
  // Names ascend from 1, as a reader gives them: the records of one name are one
  // arc, and a name below 1 is refused when read.
  for (std::size_t a = 0; a < p.arc_names.size(); ++a) {
    if (a == 0 && p.arc_names[a] < 1) {
      return invalid(arc_label(p, a) + " is named below 1; Mnetgen arc names ascend from 1");
    }
    if (a > 0 && p.arc_names[a] <= p.arc_names[a - 1]) {
      return invalid(arc_label(p, a) + " comes after arc " + std::to_string(p.arc_names[a - 1]) +
                     "; Mnetgen arc names ascend from 1");
    }
  }
  // The format's reader refuses n <= 1 and m <= 0: such files would never read
  // back. A problem read from files declaring arcs but naming none has m >= 1.
  Counts counts;
  counts.arc_names = declared_names(p);
  if (p.num_nodes < 2 || counts.arc_names == 0) {
    return invalid("a problem of " + std::to_string(p.num_nodes) + " nodes and " +
                   std::to_string(p.num_arcs()) +
                   " arcs cannot be written as Mnetgen files, which need 2 nodes and 1 arc");
  }
  const auto n = static_cast<int64_t>(p.num_nodes);
  CancelCheck cancel;
  for (std::size_t a = 0; a < p.num_arcs(); ++a) {
    if (cancel.requested(k)) return cancelled();
    const int64_t tail = p.tails[a];
    const int64_t head = p.heads[a];
    if (tail < 1 || tail > n || head < 1 || head > n) {
      return invalid(arc_label(p, a) + " has an endpoint outside the nodes 1.." +
                     std::to_string(n));
    }
    if (tail == head) {
      return invalid(arc_label(p, a) + " is a self-loop; Mnetgen files cannot hold one");
    }
    uint64_t records = 0;
    for (std::size_t c = 0; c < k; ++c) {
      const double cost = p.costs[a * k + c];
      const double capacity = p.capacities[a * k + c];
      if (!std::isfinite(cost)) return unwritable(arc_label(p, a), "cost", cost, c + 1);
      if (std::isnan(capacity) || capacity < 0) {
        return unwritable(arc_label(p, a), "capacity", capacity, c + 1);
      }
      if (capacity != 0) ++records;
    }
    counts.arc_records += records == 0 ? 1 : records;
    const double bundle = p.bundles[a];
    if (std::isnan(bundle) || bundle < 0) {
      return unwritable(arc_label(p, a), "bundle capacity", bundle, 0);
    }
    if (bundle != kUnbounded) ++counts.bundles;
  }
  for (std::size_t i = 0; i < p.num_nodes; ++i) {
    if (cancel.requested(k)) return cancelled();
    for (std::size_t c = 0; c < k; ++c) {
      const double amount = p.supplies[i * k + c];
      if (!std::isfinite(amount)) {
        const int64_t id = p.node_ids.empty() ? static_cast<int64_t>(i + 1) : p.node_ids[i];
        return unwritable("node " + std::to_string(id), "supply", amount, c + 1);
      }
      if (amount != 0) ++counts.supply_records;
    }
  }
  return counts;
}

// ------------------------------------------------------------------ writing

constexpr std::size_t kIntSlot = kFormatIntBufferSize + 1;  // an integer and its separator
constexpr std::size_t kRealSlot = kFormatF64BufferSize + 1;
// The longest record of any part: seven fields of which two are real.
constexpr std::size_t kRecordMax = 5 * kIntSlot + 2 * kRealSlot;
static_assert(kRecordMax <= kIoBufferSize);

// format_f64's text, but -0 written "0". Integral values below 2^53, the bulk
// of every generated instance, read back exactly as integers and take the
// integer formatter.
char* format_real(double v, char* out) {
  constexpr double kExactIntegers = 9007199254740992.0;  // 2^53
  if (v == 0) {
    *out = '0';
    return out + 1;
  }
  if (std::fabs(v) < kExactIntegers && v == std::trunc(v)) {
    return format_i64(saturating_cast<int64_t>(v), out);
  }
  return out + format_f64(v, out);
}

char* put_text(std::string_view text, char* p) {
  std::memcpy(p, text.data(), text.size());
  return p + text.size();
}

Result<void> write_nod(BufferedWriter& out, uint64_t commodities, uint64_t nodes, uint64_t arcs,
                       uint64_t bundles) {
  KORVANE_TRY(out.reserve(4 * kIntSlot));
  char* const start = out.cursor();
  char* q = start;
  for (const uint64_t count : {commodities, nodes, arcs, bundles}) {
    q = format_u64(count, q);
    *q++ = '\n';
  }
  out.advance(static_cast<std::size_t>(q - start));
  return {};
}

inline double as_real(double v) { return v; }
inline double as_real(int64_t v) { return static_cast<double>(v); }

// One arc's records: one per commodity whose capacity is not 0, in commodity
// order, or a closed record for commodity 1 when there is none. The fields the
// records share, name, tail and head before the commodity and the pointer
// (0: no bundle) after the capacity, are formatted once.
template <class T>
Result<void> write_arc_records(BufferedWriter& out, uint64_t name, int64_t tail, int64_t head,
                               uint64_t pointer, const T* costs, const T* capacities,
                               std::size_t k) {
  char lead[3 * kIntSlot];
  char trail[kIntSlot];
  char* l = format_u64(name, lead);
  *l++ = '\t';
  l = format_i64(tail, l);
  *l++ = '\t';
  l = format_i64(head, l);
  *l++ = '\t';
  const std::string_view shared(lead, static_cast<std::size_t>(l - lead));
  char* t = format_u64(pointer, trail);
  *t++ = '\n';
  const std::string_view closing(trail, static_cast<std::size_t>(t - trail));

  auto record = [&](std::size_t c, double capacity) -> Result<void> {
    KORVANE_TRY(out.reserve(kRecordMax));
    char* const start = out.cursor();
    char* q = put_text(shared, start);
    q = format_u64(c + 1, q);
    *q++ = '\t';
    q = format_real(as_real(costs[c]), q);
    *q++ = '\t';
    q = capacity == kUnbounded ? put_text("-1", q) : format_real(capacity, q);
    *q++ = '\t';
    q = put_text(closing, q);
    out.advance(static_cast<std::size_t>(q - start));
    return {};
  };
  bool any = false;
  for (std::size_t c = 0; c < k; ++c) {
    const double capacity = as_real(capacities[c]);
    if (capacity == 0) continue;
    any = true;
    KORVANE_TRY(record(c, capacity));
  }
  // An arc no commodity may use still exists: commodity 1 holds it, closed.
  if (!any) KORVANE_TRY(record(0, 0.0));
  return {};
}

// Arc records grouped by name, in arc order.
Result<void> write_arc(BufferedWriter& out, const MulticommodityProblem& p) {
  const std::size_t k = p.num_commodities;
  uint64_t pointer = 0;
  CancelCheck cancel;
  for (std::size_t a = 0; a < p.num_arcs(); ++a) {
    if (cancel.requested(k)) return cancelled();
    KORVANE_TRY(write_arc_records(out, static_cast<uint64_t>(arc_name(p, a)), p.tails[a],
                                  p.heads[a], p.bundles[a] != kUnbounded ? ++pointer : 0,
                                  &p.costs[a * k], &p.capacities[a * k], k));
  }
  return {};
}

// The .mut record of the bundle with the given label.
Result<void> write_mut_record(BufferedWriter& out, uint64_t label, double bundle) {
  KORVANE_TRY(out.reserve(kIntSlot + kRealSlot));
  char* const start = out.cursor();
  char* q = format_u64(label, start);
  *q++ = '\t';
  q = format_real(bundle, q);
  *q++ = '\n';
  out.advance(static_cast<std::size_t>(q - start));
  return {};
}

// The .sup record of one node and commodity (numbers from 1).
Result<void> write_sup_record(BufferedWriter& out, uint64_t node, uint64_t commodity,
                              double amount) {
  KORVANE_TRY(out.reserve(2 * kIntSlot + kRealSlot));
  char* const start = out.cursor();
  char* q = format_u64(node, start);
  *q++ = '\t';
  q = format_u64(commodity, q);
  *q++ = '\t';
  q = format_real(amount, q);
  *q++ = '\n';
  out.advance(static_cast<std::size_t>(q - start));
  return {};
}

Result<void> write_mut(BufferedWriter& out, const MulticommodityProblem& p) {
  uint64_t label = 0;
  CancelCheck cancel;
  for (const double bundle : p.bundles) {
    if (cancel.requested()) return cancelled();
    if (bundle == kUnbounded) continue;
    KORVANE_TRY(write_mut_record(out, ++label, bundle));
  }
  return {};
}

// Node-major: every commodity of node 1, then of node 2, ...
Result<void> write_sup(BufferedWriter& out, const MulticommodityProblem& p) {
  const std::size_t k = p.num_commodities;
  CancelCheck cancel;
  for (std::size_t i = 0; i < p.num_nodes; ++i) {
    if (cancel.requested(k)) return cancelled();
    for (std::size_t c = 0; c < k; ++c) {
      const double amount = p.supplies[i * k + c];
      if (amount == 0) continue;
      KORVANE_TRY(write_sup_record(out, i + 1, c + 1, amount));
    }
  }
  return {};
}

}  // namespace

namespace detail {

// An OS failure names the part it happened to.
Error at_part(std::string_view path, Error error) {
  if (error.kind == ErrorKind::kReported) error.message = std::string(path) + ": " + error.message;
  return error;
}

// Holds SIGINT, SIGTERM and SIGHUP on the calling thread for its lifetime
// (korvane's own threads block every signal), so that Ctrl-C or a polite kill
// lands once the instance is in place. SIGKILL cannot be held: the order of
// publish_parts is what keeps a kill from leaving a mixture.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (const int number : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&held, number);
    pthread_sigmask(SIG_BLOCK, &held, &previous_);
  }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;
  ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

 private:
  sigset_t previous_;
};

// Removes `path` (a missing one is fine); kReported naming it otherwise.
Result<void> remove_file(const std::string& path) {
  if (::unlink(path.c_str()) == 0 || errno == ENOENT) return {};
  const int err = errno;
  return reported(path + ": " + os_error_message(err));
}

// The names a reader may take for the part at `path`: plain, .gz and .zst.
std::array<std::string, 3> variants_of(std::string_view path) {
  std::string_view plain = path;
  for (const std::string_view suffix : {std::string_view(".gz"), std::string_view(".zst")}) {
    if (plain.ends_with(suffix)) {
      plain.remove_suffix(suffix.size());
      break;
    }
  }
  const std::string name(plain);
  return {name, name + ".gz", name + ".zst"};
}

// Removes the variants of a part other than `path` itself, which its writer
// replaces: a stale one would shadow the new part, or stand beside it.
Result<void> remove_other_variants(std::string_view path) {
  for (const std::string& name : variants_of(path)) {
    if (name != path) KORVANE_TRY(remove_file(name));
  }
  return {};
}

// Puts the four finished parts (.nod, .arc, .sup, .mut) in place as one
// instance. Four renames cannot happen at once, so the order makes every
// point of an interruption safe: the old .nod goes first (every variant of
// it, durably), the new .arc, .sup and .mut follow, each with the other
// variants of its name removed, and the new .nod comes last. Stopped anywhere,
// the base holds the old instance, the new one, or parts without a .nod, which
// no reader takes for an instance. Signals are held meanwhile.
Result<void> publish_parts(std::span<BufferedWriter> finished,
                           const std::array<std::string_view, 4>& paths) {
  // The parts may have waited long for the disk: a Ctrl-C meanwhile still
  // leaves the old instance (each writer removes its temporary file).
  if (cancel_requested_now()) return cancelled();
  const SignalsHeld held;
  BufferedWriter& nod = finished[0];
  // A .nod written in place (a FIFO) holds the new counts already.
  if (nod.replaces()) {
    Result<void> removed = remove_file(nod.target());
    if (!removed.ok()) return removed;  // nothing changed yet
  }
  auto none_left = [](Error error) {
    error.message += "; the old instance was taken away first (its .nod removed), so none is left";
    return error;
  };
  Result<void> removed = remove_other_variants(paths[0]);
  if (!removed.ok()) return none_left(removed.take_error());
  sync_folder_of(nod.target());
  for (const std::size_t i : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{0}}) {
    Result<void> published = finished[i].publish();
    if (!published.ok()) return none_left(at_part(paths[i], published.take_error()));
    if (i == 0) break;
    removed = remove_other_variants(paths[i]);
    if (!removed.ok()) return none_left(removed.take_error());
  }
  return {};
}

}  // namespace detail

using detail::at_part;
using detail::publish_parts;

Result<void> write_mnetgen(const FourFileParts& parts, const MulticommodityProblem& problem,
                           Compression compression) {
  KORVANE_TRY(check_shape(problem));
  auto checked = check_values(problem);
  if (!checked.ok()) return checked.take_error();
  const Counts counts = checked.value();

  // Written and finished one after the other; none is renamed into place before
  // all four are complete, and a writer destroyed unpublished removes its file.
  struct Part {
    std::string_view path;
    uint64_t min_bytes;  // a lower bound of its size, for the writing thread
    Result<void> (*write)(BufferedWriter&, const MulticommodityProblem&, const Counts&);
  };
  const std::array<Part, 4> plan{{
      {parts.nod, 8,
       [](BufferedWriter& out, const MulticommodityProblem& p, const Counts& c) {
         return write_nod(out, p.num_commodities, p.num_nodes, c.arc_names, c.bundles);
       }},
      {parts.arc, 14 * counts.arc_records,
       [](BufferedWriter& out, const MulticommodityProblem& p, const Counts&) {
         return write_arc(out, p);
       }},
      {parts.sup, 6 * counts.supply_records,
       [](BufferedWriter& out, const MulticommodityProblem& p, const Counts&) {
         return write_sup(out, p);
       }},
      {parts.mut, 4 * counts.bundles,
       [](BufferedWriter& out, const MulticommodityProblem& p, const Counts&) {
         return write_mut(out, p);
       }},
  }};
  std::vector<BufferedWriter> finished;
  finished.reserve(plan.size());
  for (const Part& part : plan) {
    auto created = BufferedWriter::create(part.path, compression);
    if (!created.ok()) return at_part(part.path, created.take_error());
    BufferedWriter& out = created.value();
    out.write_behind(part.min_bytes);
    Result<void> written = part.write(out, problem, counts);
    if (written.ok()) written = out.finish();
    if (!written.ok()) return at_part(part.path, written.take_error());
    finished.push_back(std::move(out));
  }
  return publish_parts(finished, {plan[0].path, plan[1].path, plan[2].path, plan[3].path});
}

Result<void> write_mnetgen_bytes(const FourFileParts& parts,
                                 const std::array<std::string_view, 4>& contents) {
  const std::array<std::string_view, 4> paths{parts.nod, parts.arc, parts.sup, parts.mut};
  std::vector<BufferedWriter> finished;
  finished.reserve(paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) {
    auto created = BufferedWriter::create(paths[i]);
    if (!created.ok()) return at_part(paths[i], created.take_error());
    BufferedWriter& out = created.value();
    out.write_behind(contents[i].size());
    Result<void> written = out.write(contents[i]);
    if (written.ok()) written = out.finish();
    if (!written.ok()) return at_part(paths[i], written.take_error());
    finished.push_back(std::move(out));
  }
  return publish_parts(finished, paths);
}

// ------------------------------------------------------------------ streaming

struct MnetgenStream::State {
  std::array<std::string, 4> paths;  // .nod, .arc, .sup, .mut
  const NetworkInstance* network = nullptr;
  const Partition* partition = nullptr;
  uint64_t k = 0;
  std::vector<int64_t> node_ids;
  std::optional<detail::Ranker> rank;  // over node_ids
  std::vector<BufferedWriter> parts;   // in the order of paths
  uint64_t bundles = 0;
  CancelCheck cancel;
};

MnetgenStream::MnetgenStream(std::unique_ptr<State> state) : state_(std::move(state)) {}
MnetgenStream::MnetgenStream(MnetgenStream&&) noexcept = default;
MnetgenStream::~MnetgenStream() = default;

Result<MnetgenStream> MnetgenStream::open(const FourFileParts& parts,
                                          const NetworkInstance& network,
                                          const Partition& partition, uint64_t k,
                                          Compression compression,
                                          const std::function<bool(std::size_t)>& negative_capacity) {
  // problem_from_network's checks, then write_mnetgen's, each in its own order.
  KORVANE_TRY(detail::check_columns(network));
  auto state = std::make_unique<State>();
  state->paths = {parts.nod, parts.arc, parts.sup, parts.mut};
  state->network = &network;
  state->partition = &partition;
  state->k = k;
  const std::vector<int64_t> supply_nodes = detail::keys_of(partition);
  state->node_ids =
      detail::sorted_ids({network.nodes, supply_nodes, network.tails, network.heads});
  const std::size_t e = network.num_edges();
  const uint64_t n = state->node_ids.size();
  uint64_t product = 0;
  if (__builtin_mul_overflow(uint64_t{e}, k, &product) ||
      __builtin_mul_overflow(n, k, &product)) {
    return detail::too_large(e, n, k);
  }
  CancelCheck cancel;
  for (std::size_t a = 0; a < e; ++a) {
    if (cancel.requested()) return cancelled();
    const int64_t tail = network.tails[a];
    const int64_t head = network.heads[a];
    const int64_t index = network.parallel_index[a];
    if (network.lows[a] != 0) {
      return detail::lower_bound_refused(a, tail, head, index, network.lows[a]);
    }
    if (negative_capacity(a)) return detail::negative_capacity_refused(a, tail, head, index);
  }
  if (k == 0) return invalid("a problem without commodities cannot be written as Mnetgen files");
  if (n < 2 || e == 0) {
    return invalid("a problem of " + std::to_string(n) + " nodes and " + std::to_string(e) +
                   " arcs cannot be written as Mnetgen files, which need 2 nodes and 1 arc");
  }
  // Rows hold no negative capacity now, so an arc's bundle is its own upper
  // bound exactly when that is negative.
  for (std::size_t a = 0; a < e; ++a) {
    if (cancel.requested()) return cancelled();
    const int64_t tail = network.tails[a];
    const int64_t head = network.heads[a];
    const auto name = static_cast<int64_t>(a + 1);
    if (tail == head) {
      return invalid(arc_label(name, tail, head) +
                     " is a self-loop; Mnetgen files cannot hold one");
    }
    if (network.ups[a] < 0) {
      return unwritable(arc_label(name, tail, head), "bundle capacity",
                        static_cast<double>(network.ups[a]), 0);
    }
  }
  state->rank.emplace(state->node_ids);

  state->parts.reserve(4);
  for (std::size_t i = 0; i < 4; ++i) {
    auto created = BufferedWriter::create(state->paths[i], compression);
    if (!created.ok()) return at_part(state->paths[i], created.take_error());
    // The arc part holds at least one record of 14 bytes per arc.
    if (i == 1) created.value().write_behind(14 * uint64_t{e});
    state->parts.push_back(std::move(created).value());
  }
  return MnetgenStream(std::move(state));
}

Result<void> MnetgenStream::write_arcs(std::size_t first, std::size_t count,
                                       const int64_t* capacity_rows, const int64_t* cost_rows) {
  State& s = *state_;
  const NetworkInstance& network = *s.network;
  const std::size_t k = static_cast<std::size_t>(s.k);
  BufferedWriter& arc = s.parts[1];
  BufferedWriter& mut = s.parts[3];
  for (std::size_t r = 0; r < count; ++r) {
    if (s.cancel.requested(k)) return cancelled();
    const std::size_t a = first + r;
    const int64_t* caps = capacity_rows + r * k;
    const double bundle = detail::bundle_of(network.ups[a], caps, k);
    const uint64_t pointer = bundle != kUnbounded ? ++s.bundles : 0;
    Result<void> written =
        write_arc_records(arc, a + 1, (*s.rank)(network.tails[a]) + 1,
                          (*s.rank)(network.heads[a]) + 1, pointer, cost_rows + r * k, caps, k);
    if (!written.ok()) return at_part(s.paths[1], written.take_error());
    if (pointer == 0) continue;
    written = write_mut_record(mut, pointer, bundle);
    if (!written.ok()) return at_part(s.paths[3], written.take_error());
  }
  return {};
}

Result<void> MnetgenStream::commit() {
  State& s = *state_;
  const std::size_t k = static_cast<std::size_t>(s.k);
  // Node-major in node order: the partition's nodes ascend as their numbers do.
  for (const auto& [node, amounts] : *s.partition) {
    if (s.cancel.requested(k)) return cancelled();
    const auto number = static_cast<uint64_t>((*s.rank)(node) + 1);
    for (std::size_t c = 0; c < k && c < amounts.size(); ++c) {
      if (amounts[c] == 0) continue;
      Result<void> written =
          write_sup_record(s.parts[2], number, c + 1, static_cast<double>(amounts[c]));
      if (!written.ok()) return at_part(s.paths[2], written.take_error());
    }
  }
  Result<void> written = write_nod(s.parts[0], s.k, s.node_ids.size(), s.network->num_edges(),
                                   s.bundles);
  if (!written.ok()) return at_part(s.paths[0], written.take_error());
  for (std::size_t i = 0; i < 4; ++i) {
    written = s.parts[i].finish();
    if (!written.ok()) return at_part(s.paths[i], written.take_error());
  }
  return publish_parts(s.parts, {s.paths[0], s.paths[1], s.paths[2], s.paths[3]});
}

}  // namespace korvane
