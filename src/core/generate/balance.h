// Commodity balancing: moves single units between commodities at one node at a
// time until no commodity keeps a surplus while another keeps a deficit.
#pragma once

#include <cstdint>
#include <string>

#include "core/records/multi_commodity_data.h"
#include "core/random/random_source.h"
#include "core/base/result.h"

namespace korvane {

// Balances `partition` in place. `supplies` decides each node's kind (supply if
// its amount is >= 1, demand if < 0, transit if 0). With a generator, each pass
// draws its donor with uniform_index(|surplus commodities|); without one, the
// lowest-numbered surplus commodity donates. Node totals never change.
// Internal errors: a list shorter than K; a visited node missing from `supplies`
// ("no entry found for key"); a commodity total or a share leaving the signed
// 64-bit range; a pass that cannot move any unit (only possible when shares do not
// carry their node's sign). On an error the partition may be partly balanced.
// kCancelled when the cancellation poll (core/base/cancel.h) asks the call to stop;
// it is asked about every 50 ms.
//
// The result, and the generator's stream position afterwards, are those of moving
// one unit per node visit; passes that repeat a cycle while a single commodity has
// a surplus are applied in bulk, and their draws (one word each) are skipped.
Result<void> balance_commodities(Partition& partition, const Supplies& supplies,
                                 uint64_t num_commodities, RandomSource* generator);

// Message of a commodity total that leaves the signed 64-bit range.
inline std::string commodity_total_overflow_message(uint64_t commodity) {
  return "total of commodity " + std::to_string(commodity) + " overflows a signed 64-bit integer";
}

}  // namespace korvane
