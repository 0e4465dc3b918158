// Encoding and decoding of the records' compact binary form. One field list per
// record drives three passes (size, encode, decode), so the layouts cannot drift.
#include "core/records/record_codec.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <initializer_list>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/base/cancel.h"
#include "core/graph/arc_order.h"
#include "core/graph/node_index.h"

namespace korvane {
namespace {

constexpr char kMagic[3] = {'K', 'V', 'R'};
constexpr std::size_t kHeaderBytes = 5;  // magic, version, tag
// Columns are copied this many values at a time, the cancellation poll asked
// between two pieces.
constexpr std::size_t kPieceValues = std::size_t{1} << 17;

// The poll of one encoding or decoding: once it has said stop, it stays stopped.
struct Poll {
  CancelCheck check{};
  bool stopped = false;
  bool requested(uint64_t work) {
    stopped = stopped || check.requested(work);
    return stopped;
  }
};

template <class T>
inline constexpr bool kIsWord = std::is_same_v<T, int64_t> || std::is_same_v<T, uint64_t>;

uint64_t to_bits(int64_t v) { return static_cast<uint64_t>(v); }
uint64_t to_bits(uint64_t v) { return v; }
uint64_t to_bits(double v) { return std::bit_cast<uint64_t>(v); }
void from_bits(uint64_t bits, int64_t& v) { v = static_cast<int64_t>(bits); }
void from_bits(uint64_t bits, uint64_t& v) { v = bits; }
void from_bits(uint64_t bits, double& v) { v = std::bit_cast<double>(bits); }

void store_le(uint64_t bits, std::byte* out) {
  for (int i = 0; i < 8; ++i) out[i] = static_cast<std::byte>((bits >> (8 * i)) & 0xff);
}
uint64_t load_le(const std::byte* in) {
  uint64_t bits = 0;
  for (int i = 0; i < 8; ++i) bits |= std::to_integer<uint64_t>(in[i]) << (8 * i);
  return bits;
}

// Counts the bytes of an encoding.
struct Sizer {
  std::size_t size = 0;
  template <class T>
  bool num(const T&) {
    size += std::is_same_v<T, bool> ? 1 : 8;
    return true;
  }
  template <class Column>
  bool column(const Column& c) {
    size += 8 + 8 * c.size();
    return true;
  }
  bool count(std::size_t, std::size_t) {
    size += 8;
    return true;
  }
};

// Writes an encoding into a buffer of the size Sizer found; stops (`stopped`)
// when the cancellation poll asks.
struct Encoder {
  std::byte* at;
  Poll poll{};
  template <class T>
  bool num(const T& v) {
    if constexpr (std::is_same_v<T, bool>) {
      *at++ = std::byte{v ? std::uint8_t{1} : std::uint8_t{0}};
    } else {
      store_le(to_bits(v), at);
      at += 8;
    }
    return true;
  }
  template <class Column>
  bool column(const Column& c) {
    count(c.size(), 8);
    for (std::size_t done = 0; done < c.size();) {
      const std::size_t n = std::min(c.size() - done, kPieceValues);
      // The columns are stored as they lie in memory on a little-endian host.
      if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(at, c.data() + done, 8 * n);
        at += 8 * n;
      } else {
        for (std::size_t i = 0; i < n; ++i) num(c[done + i]);
      }
      done += n;
      if (poll.requested(n)) return false;
    }
    return true;
  }
  bool count(std::size_t n, std::size_t) {
    store_le(uint64_t{n}, at);
    at += 8;
    return true;
  }
};

// Reads an encoding; every read checks the bytes left first. Stops
// (`stopped`) when the cancellation poll asks.
struct Decoder {
  const std::byte* at;
  const std::byte* end;
  bool truncated = false;
  Poll poll{};

  std::size_t left() const { return static_cast<std::size_t>(end - at); }
  bool fail() {
    truncated = true;
    return false;
  }
  template <class T>
  bool num(T& v) {
    if constexpr (std::is_same_v<T, bool>) {
      if (left() < 1) return fail();
      const auto byte = std::to_integer<std::uint8_t>(*at++);
      if (byte > 1) return false;
      v = byte == 1;
    } else {
      if (left() < 8) return fail();
      from_bits(load_le(at), v);
      at += 8;
    }
    return true;
  }
  template <class Column>
  bool column(Column& c) {
    std::size_t n = 0;
    if (!count(n, 8)) return false;
    // A column holds what its bytes say, never a default entry of the record.
    c.clear();
    c.reserve(n);
    // Grown a piece at a time, so that a large column is never first cleared
    // whole (a pass nothing could interrupt) and then copied.
    for (std::size_t done = 0; done < n;) {
      const std::size_t piece = std::min(n - done, kPieceValues);
      c.resize(done + piece);
      if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(c.data() + done, at, 8 * piece);
        at += 8 * piece;
      } else {
        for (std::size_t i = 0; i < piece; ++i) num(c[done + i]);
      }
      done += piece;
      if (poll.requested(piece)) return false;
    }
    return true;
  }
  // A count of items of at least `min_item_bytes` each: never more than the
  // bytes left can hold, so a corrupt count cannot ask for a huge allocation.
  bool count(std::size_t& n, std::size_t min_item_bytes) {
    uint64_t bits = 0;
    if (!num(bits)) return false;
    if (bits > left() / min_item_bytes) return fail();
    n = static_cast<std::size_t>(bits);
    return true;
  }
};

// A sorted map: entry count, then key and value per entry.
template <class Io, class Map>
bool map_fields(Io& io, Map& map) {
  using Value = typename std::remove_const_t<Map>::value_type::second_type;
  std::size_t n = map.entries.size();
  if (!io.count(n, 16)) return false;  // a key and a value or a list length
  if constexpr (std::is_same_v<Io, Decoder>) map.entries.resize(n);
  for (auto& [key, value] : map.entries) {
    if constexpr (kIsWord<Value>) {
      if (!io.num(key) || !io.num(value)) return false;
    } else {
      if (!io.num(key) || !io.column(value)) return false;
    }
  }
  return true;
}

// The field lists: R is the record, const for the sizing and encoding passes.
template <class Io, class R>
bool edge_fields(Io& io, R& e) {
  return io.num(e.tail) && io.num(e.head) && io.num(e.low) && io.num(e.up) && io.num(e.cost) &&
         io.num(e.index);
}

template <class Io, class R>
bool network_fields(Io& io, R& n) {
  return io.num(n.num_nodes) && io.num(n.num_arcs) && io.column(n.nodes) &&
         map_fields(io, n.supplies) && io.column(n.tails) && io.column(n.heads) &&
         io.column(n.lows) && io.column(n.ups) && io.column(n.costs);
}

template <class Io, class R>
bool supplies_fields(Io& io, R& s) {
  return map_fields(io, s.partition);
}

template <class Io, class R>
bool data_fields(Io& io, R& d) {
  return map_fields(io, d.supply_partition) && io.num(d.method) && io.num(d.num_commodities) &&
         io.num(d.randomized_capacities) && io.num(d.randomized_weights) && io.num(d.cap_zero) &&
         io.num(d.cap_zero_param) && io.num(d.seed) && io.column(d.tails) && io.column(d.heads) &&
         io.column(d.ups) && io.column(d.cost_table) && io.column(d.capacity_table);
}

template <class Io, class R>
bool parsed_fields(Io& io, R& p) {
  if (!(io.num(p.num_nodes) && io.num(p.num_arcs) && io.num(p.num_commodities) &&
        io.num(p.randomized_capacities) && io.num(p.randomized_weights) && io.num(p.method) &&
        io.num(p.cap_zero) && io.num(p.cap_zero_param) && io.num(p.seed) && io.column(p.nodes) &&
        map_fields(io, p.supplies) && io.column(p.amount_offsets) &&
        io.column(p.amount_values) && io.column(p.tails) && io.column(p.heads) &&
        io.column(p.ups))) {
    return false;
  }
  std::size_t n = p.segments.size();
  if (!io.count(n, 34)) return false;  // four words and two flags per segment
  if constexpr (std::is_same_v<Io, Decoder>) p.segments.resize(n);
  for (auto& s : p.segments) {
    if (!(io.num(s.first_arc) && io.num(s.num_commodities) && io.num(s.capacities_expanded) &&
          io.num(s.costs_expanded) && io.num(s.capacity_base) && io.num(s.cost_base))) {
      return false;
    }
  }
  return io.column(p.capacity_values) && io.column(p.cost_values);
}

template <class Io, class R>
bool problem_fields(Io& io, R& p) {
  auto source = static_cast<uint64_t>(p.source);
  if (!io.num(source)) return false;
  if constexpr (std::is_same_v<Io, Decoder>) {
    if (source > static_cast<uint64_t>(ProblemSource::kConverted)) return false;
    p.source = static_cast<ProblemSource>(source);
  }
  return io.num(p.num_nodes) && io.num(p.num_commodities) && io.num(p.declared_arcs) &&
         io.column(p.node_ids) && io.column(p.arc_names) && io.column(p.tails) &&
         io.column(p.heads) && io.column(p.costs) && io.column(p.capacities) &&
         io.column(p.bundles) && io.column(p.supplies);
}

template <class Io, class R>
bool fields(Io& io, R& record) {
  using T = std::remove_const_t<R>;
  if constexpr (std::is_same_v<T, Edge>) return edge_fields(io, record);
  if constexpr (std::is_same_v<T, NetworkInstance>) return network_fields(io, record);
  if constexpr (std::is_same_v<T, MultiCommoditySupplies>) return supplies_fields(io, record);
  if constexpr (std::is_same_v<T, MultiCommodityData>) return data_fields(io, record);
  if constexpr (std::is_same_v<T, ParsedMulticommodityInstance>) return parsed_fields(io, record);
  if constexpr (std::is_same_v<T, MulticommodityProblem>) return problem_fields(io, record);
}

// The tag byte of each record: its position in AnyRecord, from 1.
template <class T>
constexpr std::uint8_t tag_of() {
  if constexpr (std::is_same_v<T, Edge>) return 1;
  if constexpr (std::is_same_v<T, NetworkInstance>) return 2;
  if constexpr (std::is_same_v<T, MultiCommoditySupplies>) return 3;
  if constexpr (std::is_same_v<T, MultiCommodityData>) return 4;
  if constexpr (std::is_same_v<T, ParsedMulticommodityInstance>) return 5;
  if constexpr (std::is_same_v<T, MulticommodityProblem>) return 6;
}
template <class T>
constexpr std::uint8_t kTag = tag_of<T>();

// Columns that run over the arcs all hold `arcs` entries.
template <class... Columns>
bool arc_columns_agree(std::size_t arcs, const Columns&... columns) {
  return ((columns.size() == arcs) && ...);
}

// A map's keys strictly ascending, as every reader of a FlatMap assumes.
template <class Map>
bool keys_ascending(const Map& map) {
  for (std::size_t i = 1; i < map.entries.size(); ++i) {
    if (!(map.entries[i - 1].first < map.entries[i].first)) return false;
  }
  return true;
}

// `nodes` holds each id once and every id of `columns` and of the keys of
// `supplies`: what the readers guarantee, and what the arc order needs.
template <class Map>
bool nodes_cover(std::span<const int64_t> nodes, const Map& supplies,
                 std::initializer_list<std::span<const int64_t>> columns, Poll& poll) {
  NodeIndex index;
  std::vector<int64_t> placed;
  placed.reserve(nodes.size());
  for (const int64_t id : nodes) index.place(id, placed);
  if (placed.size() != nodes.size()) return false;
  for (const auto& entry : supplies) index.place(entry.first, placed);
  for (const auto column : columns) {
    for (std::size_t done = 0; done < column.size(); done += kPieceValues) {
      const std::size_t stop = std::min(column.size(), done + kPieceValues);
      for (std::size_t i = done; i < stop; ++i) index.place(column[i], placed);
      if (placed.size() != nodes.size() || poll.requested(stop - done)) return false;
    }
  }
  return placed.size() == nodes.size();
}

bool consistent(const Edge&, Poll&) { return true; }
bool consistent(const MultiCommoditySupplies& s, Poll&) {
  return keys_ascending(s.partition);
}

bool consistent(const NetworkInstance& n, Poll& poll) {
  return arc_columns_agree(n.tails.size(), n.heads, n.lows, n.ups, n.costs) &&
         keys_ascending(n.supplies) && nodes_cover(n.nodes, n.supplies, {n.tails, n.heads}, poll);
}

bool consistent(const MultiCommodityData& d, Poll&) {
  const std::size_t arcs = d.tails.size();
  uint64_t cells = 0;
  if (__builtin_mul_overflow(uint64_t{arcs}, d.num_commodities, &cells)) return false;
  return arc_columns_agree(arcs, d.heads, d.ups) && d.cost_table.size() == cells &&
         d.capacity_table.size() == cells && keys_ascending(d.supply_partition);
}

// Segment `i` covers arcs [first_arc, next first_arc or E); its lists must lie
// within the value columns, and hold at least the final K values each.
bool segments_fit(const ParsedMulticommodityInstance& p) {
  const std::size_t arcs = p.tails.size();
  if (arcs == 0) return true;
  const auto& segments = p.segments;
  if (segments.empty() || segments[0].first_arc != 0) return false;
  for (std::size_t i = 0; i < segments.size(); ++i) {
    const ArcSegment& s = segments[i];
    const uint64_t next = i + 1 < segments.size() ? segments[i + 1].first_arc : arcs;
    if (next <= s.first_arc || next > arcs || s.num_commodities < p.num_commodities) return false;
    for (const auto& [base, expanded, values] :
         {std::tuple{s.capacity_base, s.capacities_expanded, &p.capacity_values},
          std::tuple{s.cost_base, s.costs_expanded, &p.cost_values}}) {
      uint64_t taken = 0;
      uint64_t end = 0;
      if (__builtin_mul_overflow(next - s.first_arc, expanded ? s.num_commodities : 1, &taken) ||
          __builtin_add_overflow(base, taken, &end) || end > values->size()) {
        return false;
      }
    }
  }
  return true;
}

bool consistent(const ParsedMulticommodityInstance& p, Poll& poll) {
  const auto& offsets = p.amount_offsets;
  if (offsets.size() != p.supplies.size() + 1 || offsets.front() != 0 ||
      offsets.back() != p.amount_values.size()) {
    return false;
  }
  for (std::size_t i = 1; i < offsets.size(); ++i) {
    if (offsets[i] < offsets[i - 1]) return false;
  }
  return arc_columns_agree(p.tails.size(), p.heads, p.ups) && segments_fit(p) &&
         keys_ascending(p.supplies) &&
         nodes_cover(p.nodes, p.supplies, {std::span<const int64_t>(p.tails),
                                           std::span<const int64_t>(p.heads)}, poll);
}

// Tables of E x K and N x K values, endpoints within 1..N, node ids for all N.
bool consistent(const MulticommodityProblem& p, Poll&) {
  const std::size_t arcs = p.tails.size();
  uint64_t arc_cells = 0;
  uint64_t node_cells = 0;
  if (__builtin_mul_overflow(uint64_t{arcs}, p.num_commodities, &arc_cells) ||
      __builtin_mul_overflow(p.num_nodes, p.num_commodities, &node_cells)) {
    return false;
  }
  if (p.heads.size() != arcs || p.arc_names.size() != arcs || p.bundles.size() != arcs ||
      p.costs.size() != arc_cells || p.capacities.size() != arc_cells ||
      p.supplies.size() != node_cells || (!p.node_ids.empty() && p.node_ids.size() != p.num_nodes)) {
    return false;
  }
  const auto n = static_cast<int64_t>(p.num_nodes);
  for (std::size_t a = 0; a < arcs; ++a) {
    if (p.tails[a] < 1 || p.tails[a] > n || p.heads[a] < 1 || p.heads[a] > n) return false;
  }
  return true;
}

// The fields derived from the arc columns are not stored: they are rebuilt
// here, so no encoding can make them disagree with the arcs.
// Fails only with kCancelled.
Result<void> rebuild(Edge&) { return {}; }
Result<void> rebuild(MultiCommoditySupplies&) { return {}; }
Result<void> rebuild(MulticommodityProblem&) { return {}; }

Result<void> rebuild(NetworkInstance& n) {
  Result<ArcOrder> order = order_arcs(n.tails, n.heads, n.nodes);
  if (!order.ok()) return order.take_error();
  n.parallel_index = std::move(order.value().parallel_index);
  n.pair_order = std::move(order.value().pair_order);
  n.num_parallel_arc_pairs = order.value().num_parallel_pairs;
  return {};
}

Result<void> rebuild(MultiCommodityData& d) {
  NodeIndex index;
  std::vector<int64_t> nodes;
  CancelCheck cancel;
  for (const auto* column : {&d.tails, &d.heads}) {
    for (const int64_t id : *column) {
      index.place(id, nodes);
      if (cancel.requested()) return cancelled();
    }
  }
  Result<ArcOrder> order = order_arcs(d.tails, d.heads, nodes);
  if (!order.ok()) return order.take_error();
  d.indices = std::move(order.value().parallel_index);
  d.pair_order = std::move(order.value().pair_order);
  d.parallel = order.value().num_parallel_pairs != 0;
  return {};
}

Result<void> rebuild(ParsedMulticommodityInstance& p) {
  Result<ArcOrder> order = order_arcs(p.tails, p.heads, p.nodes);
  if (!order.ok()) return order.take_error();
  p.parallel_index = std::move(order.value().parallel_index);
  p.pair_order = std::move(order.value().pair_order);
  p.parallel = order.value().num_parallel_pairs != 0;
  return {};
}

template <class T>
Result<AnyRecord> decode_as(Decoder& decoder) {
  T record;
  const bool sound =
      fields(decoder, record) && decoder.left() == 0 && consistent(record, decoder.poll);
  if (decoder.poll.stopped) return cancelled();
  if (!sound) {
    return invalid(decoder.truncated ? "korvane record is truncated"
                                     : "korvane record is inconsistent");
  }
  KORVANE_TRY(rebuild(record));
  return AnyRecord(std::in_place_type<T>, std::move(record));
}

}  // namespace

template <class T>
std::size_t encoded_size(const T& record) {
  Sizer sizer;
  fields(sizer, record);
  return kHeaderBytes + sizer.size;
}

template <class T>
Result<void> encode_record(const T& record, std::span<std::byte> out) {
  std::memcpy(out.data(), kMagic, sizeof kMagic);
  out[3] = std::byte{kRecordCodecVersion};
  out[4] = std::byte{kTag<T>};
  Encoder encoder{out.data() + kHeaderBytes};
  fields(encoder, record);
  if (encoder.poll.stopped) return cancelled();
  return {};
}

template std::size_t encoded_size(const Edge&);
template std::size_t encoded_size(const NetworkInstance&);
template std::size_t encoded_size(const MultiCommoditySupplies&);
template std::size_t encoded_size(const MultiCommodityData&);
template std::size_t encoded_size(const ParsedMulticommodityInstance&);
template std::size_t encoded_size(const MulticommodityProblem&);
template Result<void> encode_record(const Edge&, std::span<std::byte>);
template Result<void> encode_record(const NetworkInstance&, std::span<std::byte>);
template Result<void> encode_record(const MultiCommoditySupplies&, std::span<std::byte>);
template Result<void> encode_record(const MultiCommodityData&, std::span<std::byte>);
template Result<void> encode_record(const ParsedMulticommodityInstance&, std::span<std::byte>);
template Result<void> encode_record(const MulticommodityProblem&, std::span<std::byte>);

Result<AnyRecord> decode_record(std::span<const std::byte> bytes) {
  if (bytes.size() < kHeaderBytes || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0 ||
      std::to_integer<std::uint8_t>(bytes[3]) != kRecordCodecVersion) {
    return invalid("not a korvane record of a known version");
  }
  Decoder decoder{bytes.data() + kHeaderBytes, bytes.data() + bytes.size()};
  switch (std::to_integer<std::uint8_t>(bytes[4])) {
    case kTag<Edge>:
      return decode_as<Edge>(decoder);
    case kTag<NetworkInstance>:
      return decode_as<NetworkInstance>(decoder);
    case kTag<MultiCommoditySupplies>:
      return decode_as<MultiCommoditySupplies>(decoder);
    case kTag<MultiCommodityData>:
      return decode_as<MultiCommodityData>(decoder);
    case kTag<ParsedMulticommodityInstance>:
      return decode_as<ParsedMulticommodityInstance>(decoder);
    case kTag<MulticommodityProblem>:
      return decode_as<MulticommodityProblem>(decoder);
    default:
      return invalid("not a korvane record of a known version");
  }
}

}  // namespace korvane
