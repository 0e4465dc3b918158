// The compact binary form of each record (what a pickled record holds): a
// versioned header, then the record's scalars and columns in field order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <variant>

#include "core/base/result.h"
#include "core/records/edge.h"
#include "core/records/multi_commodity_data.h"
#include "core/records/multicommodity_problem.h"
#include "core/records/network_instance.h"
#include "core/records/parsed_instance.h"

namespace korvane {

// Layout: the bytes "KVR", a version byte (1) and a record tag byte, then each
// field in declaration order: integers and counts as 8 little-endian bytes, a
// double as its IEEE bits, a bool as one byte, a column as its length then its
// values, a map as its entry count then key and value per entry.
inline constexpr std::uint8_t kRecordCodecVersion = 1;

using AnyRecord = std::variant<Edge, NetworkInstance, MultiCommoditySupplies, MultiCommodityData,
                               ParsedMulticommodityInstance, MulticommodityProblem>;

// The exact size of the encoded form of `record`, and its encoding into `out`,
// which must hold that many bytes. Never fail.
template <class T>
std::size_t encoded_size(const T& record);
template <class T>
void encode_record(const T& record, std::span<std::byte> out);

// Rebuilds a record from bytes made by encode_record. Fails with kInvalid
// ("not a korvane record of a known version", "korvane record is truncated",
// "korvane record is inconsistent") for bytes that are not such an encoding, or
// whose columns disagree in length or index past one another, so the record
// returned always satisfies the invariants its readers rely on.
Result<AnyRecord> decode_record(std::span<const std::byte> bytes);

}  // namespace korvane
