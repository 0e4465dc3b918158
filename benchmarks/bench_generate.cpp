// Multi-commodity generation on a large network against its floor: drawing the
// same number of 64-bit words from RandomSource alone. Also reports the native
// memory the generated record holds.
//
//   bench_generate FILE.min [K [ROUNDS]]   (K 16, 5 rounds by default)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <vector>

#include "core/base/big_vector.h"
#include "core/generate/generate.h"
#include "core/random/random_source.h"
#include "core/base/parallel.h"
#include "core/formats/min_reader.h"

namespace {

using korvane::GenerationParams;
using korvane::MultiCommodityData;
using korvane::NetworkInstance;

// CPU seconds of the whole process (user and system, every thread): on a shared
// machine a single-threaded run's CPU time is steadier than its wall time.
double process_cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The best wall time of some runs, and the best CPU time.
struct Timing {
  double wall = 1e300;
  double cpu = 1e300;
};

// Runs f once and keeps the better of its times and `best`'s.
template <class F>
void time_into(Timing& best, F&& f) {
  const double cpu_start = process_cpu_seconds();
  const auto start = std::chrono::steady_clock::now();
  f();
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  best.wall = std::min(best.wall, took.count());
  best.cpu = std::min(best.cpu, process_cpu_seconds() - cpu_start);
}

template <class F>
Timing best_of(int repeat, F&& f) {
  Timing best;
  for (int i = 0; i < repeat; ++i) time_into(best, f);
  return best;
}

// Words the generation draws: one per (arc, commodity) for each randomised
// value whose bounds are not empty.
uint64_t words_drawn(const NetworkInstance& inst, const GenerationParams& p) {
  uint64_t per_commodity = 0;
  for (std::size_t a = 0; a < inst.num_edges(); ++a) {
    const double cost = static_cast<double>(inst.costs[a]);
    const double cap = static_cast<double>(inst.ups[a]);
    if (p.randomize_costs && p.cost_b * cost > p.cost_a * cost) ++per_commodity;
    if (p.randomize_caps && p.cap_b * cap > p.cap_a * cap) ++per_commodity;
  }
  return per_commodity * p.num_commodities;
}

template <class T, class A>
std::size_t bytes_of(const std::vector<T, A>& v) {
  return v.capacity() * sizeof(T);
}

std::size_t record_bytes(const MultiCommodityData& d) {
  std::size_t total = sizeof d + bytes_of(d.supply_partition.entries);
  for (const auto& entry : d.supply_partition.entries) total += bytes_of(entry.second);
  return total + bytes_of(d.tails) + bytes_of(d.heads) + bytes_of(d.indices) + bytes_of(d.ups) +
         bytes_of(d.pair_order) + bytes_of(d.cost_table) + bytes_of(d.capacity_table);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE.min [K [ROUNDS]]\n", argv[0]);
    return 2;
  }
  const uint64_t k = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 16;
  const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
  auto loaded = korvane::parse_min(argv[1]);
  if (!loaded.ok()) {
    std::fprintf(stderr, "%s\n", loaded.error().message.c_str());
    return 1;
  }
  const NetworkInstance& inst = loaded.value();
  GenerationParams params;
  params.num_commodities = k;
  params.method = 2;
  params.randomize_caps = true;
  params.randomize_costs = true;
  params.cap_zero = true;
  params.cap_zero_param = 0.3;
  params.seed = 7;

  const uint64_t words = words_drawn(inst, params);
  uint64_t sink = 0;
  // The floor, the tables and the one-thread generation take turns, one run each
  // per round, so that a burst of load elsewhere on the machine falls on all
  // three alike; each keeps its best round.
  const std::size_t cells = inst.num_edges() * k;
  std::size_t bytes = 0;
  Timing floor;
  Timing tables;
  Timing generate;
  for (int round = 0; round < rounds; ++round) {
    time_into(floor, [&] {
      auto source = korvane::RandomSource::from_seed(params.seed);
      for (uint64_t i = 0; i < words; ++i) sink += source.next_u64();
    });
    // The record's two E x K tables must be fresh memory: allocating and writing
    // them once is a cost no generator can avoid, beside the words themselves.
    // They are allocated as the record allocates them (huge pages included).
    time_into(tables, [&] {
      korvane::BigVector<int64_t> costs(cells, 1);
      korvane::BigVector<int64_t> capacities(cells, 1);
      sink += static_cast<uint64_t>(costs[cells / 2] + capacities[cells / 3]);
    });
    const korvane::ThreadCountScope one(1);
    time_into(generate, [&] {
      auto data = korvane::generate_multi_commodity_data(inst, params);
      if (!data.ok()) std::abort();
      bytes = record_bytes(data.value());
    });
  }
  const korvane::ThreadCountScope two(2);
  const Timing generate2 = best_of(rounds, [&] {
    auto data = korvane::generate_multi_commodity_data(inst, params);
    if (!data.ok()) std::abort();
  });
  const double arcs = static_cast<double>(inst.num_edges());
  std::printf("arcs %zu, K %llu, words drawn %llu (checksum %llu)\n", inst.num_edges(),
              static_cast<unsigned long long>(k), static_cast<unsigned long long>(words),
              static_cast<unsigned long long>(sink % 1000));
  std::printf("%-44s %10s %10s\n", "", "wall s", "cpu s");
  std::printf("%-44s %10.3f %10.3f\n", "RandomSource words alone (floor)", floor.wall, floor.cpu);
  std::printf("%-44s %10.3f %10.3f\n", "two fresh E x K tables alone", tables.wall, tables.cpu);
  std::printf("%-44s %10.3f %10.3f\n", "generate_multi_commodity_data, 1 thread", generate.wall,
              generate.cpu);
  std::printf("  ratio to words + tables (the floor): wall %.2fx, cpu %.2fx\n",
              generate.wall / (floor.wall + tables.wall), generate.cpu / (floor.cpu + tables.cpu));
  std::printf("%-44s %10.3f %10.3f  %5.2fx one thread (wall)\n", "  the same on 2 threads",
              generate2.wall, generate2.cpu, generate2.wall / generate.wall);
  std::printf("native memory of MultiCommodityData: %.0f MB, %.1f bytes per arc (budget %llu)\n",
              static_cast<double>(bytes) / 1e6, static_cast<double>(bytes) / arcs,
              static_cast<unsigned long long>(16 * k + 64));
  return 0;
}
