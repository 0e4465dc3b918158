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

// Layout: the bytes "KVR", a version byte (2) and a record tag byte, then each
// stored field in declaration order: integers and counts as 8 little-endian
// bytes, a double as its IEEE bits, a bool as one byte, a column as its length
// then its values, a map as its entry count then key and value per entry. What
// the arc columns determine (parallel indices, the pair order and the parallel
// flags) is not stored but rebuilt by the decoder.
inline constexpr std::uint8_t kRecordCodecVersion = 2;

using AnyRecord = std::variant<Edge, NetworkInstance, MultiCommoditySupplies, MultiCommodityData,
                               ParsedMulticommodityInstance, MulticommodityProblem>;

// The exact size of the encoded form of `record`, and its encoding into `out`,
// which must hold that many bytes. The encoding fails only with kCancelled,
// when the cancellation poll (core/base/cancel.h) asks, leaving `out` partly
// written.
template <class T>
std::size_t encoded_size(const T& record);
template <class T>
Result<void> encode_record(const T& record, std::span<std::byte> out);

// Rebuilds a record from bytes made by encode_record, and its derived fields
// from its arc columns. Fails with kInvalid ("not a korvane record of a known
// version", "korvane record is truncated", "korvane record is inconsistent")
// for bytes that are not such an encoding, or whose fields break an invariant
// the readers rely on (columns of different lengths or indexing past one
// another, map keys not strictly ascending, node lists that repeat an id or
// miss an endpoint or a supply node); with kCancelled when the poll asks. So
// the record returned is always one a reader could have built.
Result<AnyRecord> decode_record(std::span<const std::byte> bytes);

}  // namespace korvane
