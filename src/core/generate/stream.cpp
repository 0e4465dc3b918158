// Streaming generation: the partition and the refusal checks first, then each
// window's rows drawn on the available threads and handed to a file stream.
#include "core/generate/stream.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "core/base/cancel.h"
#include "core/base/table_size.h"
#include "core/formats/mc_writer.h"
#include "core/formats/mnetgen_writer.h"
#include "core/generate/arc_draws.h"

namespace korvane {
namespace {

constexpr std::size_t kWindowValues = std::size_t{1} << 17;

// Draws every arc's rows a window at a time, in arc order, and hands each
// window to write(first, count, capacity_rows, cost_rows). The words each window
// takes are counted, so the next one starts its source where this one stopped.
template <class Write>
Result<void> for_each_window(const NetworkInstance& instance, const GenerationParams& params,
                             std::size_t window_arcs, Write&& write) {
  const uint64_t k = params.num_commodities;
  const std::size_t num_edges = instance.num_edges();
  const std::size_t window = std::min(
      num_edges, window_arcs != 0 ? window_arcs : default_window_arcs(k));
  std::vector<int64_t> costs(window * k);
  std::vector<int64_t> capacities(window * k);
  uint64_t word = 0;
  // Polled once per window, on the calling thread, across windows: the runs of
  // each window poll too, but each starts its own interval.
  CancelCheck cancel;
  for (std::size_t begin = 0; begin < num_edges; begin += window) {
    const std::size_t end = std::min(num_edges, begin + window);
    if (cancel.requested(2 * (end - begin) * k + CancelCheck::kStepsPerClockRead)) {
      return cancelled();
    }
    KORVANE_TRY(detail::draw_rows(instance, params, begin, end, word,
                                  detail::draw_chunks(end - begin, k), costs.data(),
                                  capacities.data()));
    word += detail::words_of(instance, params, begin, end);
    KORVANE_TRY(write(begin, end - begin, capacities.data(), costs.data()));
  }
  return {};
}

// The generation's failures, in its order, before anything is drawn.
Result<Partition> prepare(const NetworkInstance& instance, const GenerationParams& params) {
  Result<Partition> partition = detail::partition_supplies(instance.supplies, params);
  if (!partition.ok()) return partition;
  check_table_size(instance.num_edges(), params.num_commodities);
  KORVANE_TRY(detail::check_draws(instance, params));
  return partition;
}

}  // namespace

std::size_t default_window_arcs(uint64_t num_commodities) {
  return std::max<std::size_t>(1, kWindowValues / std::max<uint64_t>(num_commodities, 1));
}

Result<void> generate_to_dimacs(std::string_view path, const NetworkInstance& instance,
                                const GenerationParams& params, std::size_t window_arcs,
                                Compression compression) {
  Result<Partition> partition = prepare(instance, params);
  if (!partition.ok()) return partition.take_error();
  const MultiCommodityData header =
      detail::data_without_tables(instance, params, std::move(partition).value());
  auto opened = MultiCommodityFileStream::open(path, instance, header, compression);
  if (!opened.ok()) return opened.take_error();
  MultiCommodityFileStream& out = opened.value();
  KORVANE_TRY(for_each_window(
      instance, params, window_arcs,
      [&](std::size_t first, std::size_t count, const int64_t* capacities, const int64_t* costs) {
        return out.write_arcs(first, count, capacities, costs);
      }));
  return out.commit();
}

Result<void> generate_to_mnetgen(const FourFileParts& parts, const NetworkInstance& instance,
                                 const GenerationParams& params, Compression compression,
                                 std::size_t window_arcs) {
  Result<Partition> prepared = prepare(instance, params);
  if (!prepared.ok()) return prepared.take_error();
  const Partition partition = std::move(prepared).value();
  const uint64_t k = params.num_commodities;
  const std::size_t num_edges = instance.num_edges();
  // A row holds a negative capacity only where the arc's own upper bound is
  // negative and stays in the row: kept as it is, or restored to a row that
  // zeroing emptied. Drawn and fixed randomised values are at least 1.
  auto negative_capacity = [&](std::size_t a) {
    if (k == 0 || instance.ups[a] >= 0) return false;
    return !params.randomize_caps || detail::row_fully_zeroed(params, num_edges, a);
  };
  auto opened = MnetgenStream::open(parts, instance, partition, k, compression, negative_capacity);
  if (!opened.ok()) return opened.take_error();
  MnetgenStream& out = opened.value();
  KORVANE_TRY(for_each_window(
      instance, params, window_arcs,
      [&](std::size_t first, std::size_t count, const int64_t* capacities, const int64_t* costs) {
        return out.write_arcs(first, count, capacities, costs);
      }));
  return out.commit();
}

}  // namespace korvane
