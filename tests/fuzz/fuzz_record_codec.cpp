// Fuzz target: the records' binary form, as a hostile pickle hands it over.
// Whatever the decoder accepts must encode back to the very same bytes, and
// every view a reader of the record takes (edges, the pair order, per-commodity
// lists, tables, and the routines that receive the record) must stay in bounds.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <variant>
#include <vector>

#include "core/formats/mnetgen_writer.h"
#include "core/generate/generate.h"
#include "core/graph/csr.h"
#include "core/records/problem_conversion.h"
#include "core/records/record_codec.h"

namespace {

using namespace korvane;

volatile uint64_t g_sink = 0;  // keeps the reads below from being optimised away

// Values folded into the sink in wrapping arithmetic.
uint64_t bits(int64_t v) { return static_cast<uint64_t>(v); }

void check(bool holds) {
  if (!holds) std::abort();
}

template <class T>
std::vector<std::byte> encoded(const T& record) {
  std::vector<std::byte> out(encoded_size(record));
  check(encode_record(record, out).ok());
  return out;
}

void arc_order_in_bounds(std::span<const uint64_t> pair_order, std::span<const int64_t> tails,
                         std::span<const int64_t> heads, std::span<const int64_t> indices) {
  check(pair_order.size() == tails.size() && heads.size() == tails.size() &&
        indices.size() == tails.size());
  uint64_t sum = 0;
  for (const uint64_t a : pair_order) sum += bits(tails[a] ^ heads[a] ^ indices[a]);
  g_sink = sum;
}

void touch(const Edge&) {}
void touch(const MultiCommoditySupplies&) {}

void touch(const NetworkInstance& n) {
  arc_order_in_bounds(n.pair_order, n.tails, n.heads, n.parallel_index);
  for (std::size_t a = 0; a < n.num_edges(); ++a) g_sink = bits(n.edge(a).cost);
  const Csr csr = build_csr(n.nodes, n.tails, n.heads);
  g_sink = csr.node.size();
  (void)problem_from_network(n, nullptr);
  // Balancing huge amounts runs for as long as they are large: generation is
  // tried on networks with small supplies only.
  for (const auto& [node, amount] : n.supplies) {
    if (amount < -1000 || amount > 1000) return;
  }
  GenerationParams params;
  params.num_commodities = 2;
  params.randomize_caps = true;
  Result<MultiCommodityData> data = generate_multi_commodity_data(n, params);
  if (data.ok()) {
    (void)problem_from_network(n, &data.value());
    const std::vector<std::byte> bytes = encoded(data.value());
    check(decode_record(bytes).ok());
  }
}

void touch(const MultiCommodityData& d) {
  arc_order_in_bounds(d.pair_order, d.tails, d.heads, d.indices);
  uint64_t sum = 0;
  for (std::size_t a = 0; a < d.num_edges(); ++a) {
    for (uint64_t k = 0; k < d.num_commodities; ++k) {
      sum += bits(d.cost_table[a * d.num_commodities + k] ^
                  d.capacity_table[a * d.num_commodities + k]);
    }
  }
  g_sink = sum;
}

void touch(const ParsedMulticommodityInstance& p) {
  arc_order_in_bounds(p.pair_order, p.tails, p.heads, p.parallel_index);
  uint64_t sum = 0;
  for (std::size_t i = 0; i < p.supplies.size(); ++i) {
    for (const int64_t v : p.amounts(i)) sum += bits(v);
  }
  // A compressed list stands for K values in one, so K is not bounded by the
  // bytes: the first and last commodities stand for all of them.
  const uint64_t k = p.num_commodities;
  for (std::size_t a = 0; a < p.num_edges(); ++a) {
    const ListView caps = p.capacity_list(a);
    const ListView costs = p.cost_list(a);
    for (const uint64_t c : {uint64_t{0}, k / 2, k - 1}) {
      if (c < k) sum += bits(caps.at(c) ^ costs.at(c));
    }
  }
  g_sink = sum;
  const auto cells = p.commodity_major_size();
  if (cells && *cells <= (std::size_t{1} << 20)) (void)problem_from_parsed(p);
}

void touch(const MulticommodityProblem& p) {
  const std::size_t k = p.num_commodities;
  double sum = 0;
  for (std::size_t a = 0; a < p.num_arcs(); ++a) {
    sum += p.bundles[a] + static_cast<double>(p.tails[a]) + static_cast<double>(p.heads[a]) +
           static_cast<double>(p.arc_names[a]);
    for (std::size_t c = 0; c < k; ++c) sum += p.costs[a * k + c] + p.capacities[a * k + c];
  }
  for (std::size_t i = 0; i < p.num_nodes * k; ++i) sum += p.supplies[i];
  g_sink = sum != sum ? 1 : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(data), size);
  Result<AnyRecord> decoded = decode_record(bytes);
  if (!decoded.ok()) return 0;
  std::visit(
      [&](const auto& record) {
        // Derived fields are rebuilt, never read: the bytes say everything.
        const std::vector<std::byte> again = encoded(record);
        check(again.size() == size && std::memcmp(again.data(), data, size) == 0);
        touch(record);
      },
      decoded.value());
  return 0;
}
