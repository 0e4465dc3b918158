// A plain reference reader of the Mnetgen format, for the fuzz target to
// compare the real reader with: each part held whole, split at ASCII white
// space, every rule applied in the most direct way, no speed at all. It reads
// ASCII text only (no byte-order mark, no compressed part), and answers only
// whether the instance is valid and, if so, the problem it describes.
#pragma once

#include <cctype>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/records/multicommodity_problem.h"
#include "core/text/tokens.h"

namespace korvane::fuzz {

inline std::vector<std::string> ascii_tokens(std::string_view text) {
  std::vector<std::string> out;
  std::string token;
  for (const char c : text) {
    if (c == ' ' || (c >= '\t' && c <= '\r')) {
      if (!token.empty()) out.push_back(token);
      token.clear();
    } else {
      token += c;
    }
  }
  if (!token.empty()) out.push_back(token);
  return out;
}

// Optional sign, then digits with an optional '.' fraction (one digit at
// least) and an optional exponent, or inf, infinity, nan in any case.
inline std::optional<double> reference_real(const std::string& token) {
  std::string lower;
  for (const char c : token) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::string_view body = lower;
  if (!body.empty() && (body[0] == '+' || body[0] == '-')) body.remove_prefix(1);
  if (body == "inf" || body == "infinity" || body == "nan") {
    if (body == "nan") return std::numeric_limits<double>::quiet_NaN();
    return lower[0] == '-' ? -kUnbounded : kUnbounded;
  }
  std::size_t i = 0, digits = 0;
  while (i < body.size() && std::isdigit(static_cast<unsigned char>(body[i]))) ++i, ++digits;
  if (i < body.size() && body[i] == '.') {
    ++i;
    while (i < body.size() && std::isdigit(static_cast<unsigned char>(body[i]))) ++i, ++digits;
  }
  if (digits == 0) return std::nullopt;
  if (i < body.size() && body[i] == 'e') {
    ++i;
    if (i < body.size() && (body[i] == '+' || body[i] == '-')) ++i;
    const std::size_t first = i;
    while (i < body.size() && std::isdigit(static_cast<unsigned char>(body[i]))) ++i;
    if (i == first) return std::nullopt;
  }
  if (i != body.size()) return std::nullopt;
  return std::strtod(token.c_str(), nullptr);
}

// An integer, or a real whose text is one exactly, within [lo, hi] or -1 when
// `wildcard`.
inline std::optional<int64_t> reference_integer(const std::string& token, int64_t lo, int64_t hi,
                                                bool wildcard = false) {
  int64_t value = 0;
  if (parse_i64_to(token, value) != IntStatus::kOk &&
      parse_integral_decimal_to(token, value) != IntStatus::kOk) {
    return std::nullopt;
  }
  if ((value >= lo && value <= hi) || (wildcard && value == -1)) return value;
  return std::nullopt;
}

// The problem the four parts describe, or nothing when they are refused.
inline std::optional<MulticommodityProblem> reference_mnetgen(std::string_view nod,
                                                              std::string_view arc,
                                                              std::string_view sup,
                                                              std::string_view mut) {
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  const auto counts = ascii_tokens(nod);
  if (counts.size() < 4) return std::nullopt;
  std::optional<int64_t> c[4];
  for (int i = 0; i < 4; ++i) c[i] = reference_integer(counts[static_cast<std::size_t>(i)], -kMax - 1, kMax);
  if (!c[0] || !c[1] || !c[2] || !c[3]) return std::nullopt;
  const int64_t k = *c[0], n = *c[1], m = *c[2], b = *c[3];
  if (k <= 0 || n <= 1 || m <= 0 || b < 0 || b > m) return std::nullopt;
  // At most 1000 table cells (2·K·m + K·n + m + n) per byte of input.
  const long double cells = 2.0L * k * m + static_cast<long double>(k) * n + m + n;
  const auto bytes = static_cast<long double>(nod.size() + arc.size() + sup.size() + mut.size());
  if (cells > 1000.0L * bytes) return std::nullopt;

  MulticommodityProblem p;
  p.num_nodes = static_cast<uint64_t>(n);
  p.num_commodities = static_cast<uint64_t>(k);
  p.declared_arcs = static_cast<uint64_t>(m);
  const auto kk = static_cast<std::size_t>(k);
  p.supplies.assign(static_cast<std::size_t>(n) * kk, 0.0);
  const auto sup_tokens = ascii_tokens(sup);
  if (sup_tokens.size() % 3 != 0) return std::nullopt;
  for (std::size_t i = 0; i < sup_tokens.size(); i += 3) {
    const auto node = reference_integer(sup_tokens[i], 1, n);
    const auto commodity = reference_integer(sup_tokens[i + 1], 1, k, true);
    const auto amount = reference_real(sup_tokens[i + 2]);
    if (!node || !commodity || !amount || !std::isfinite(*amount)) return std::nullopt;
    for (int64_t x = 1; x <= k; ++x) {
      if (*commodity == -1 || *commodity == x) {
        p.supplies[static_cast<std::size_t>((*node - 1) * k + x - 1)] = *amount;
      }
    }
  }
  // The i-th record's capacity, by position; the label only has to be a number.
  const auto mut_tokens = ascii_tokens(mut);
  if (mut_tokens.size() < 2 * static_cast<std::size_t>(b)) return std::nullopt;
  std::vector<double> bundle(static_cast<std::size_t>(b) + 1, kUnbounded);
  for (int64_t i = 1; i <= b; ++i) {
    const auto at = static_cast<std::size_t>(2 * (i - 1));
    const auto capacity = reference_real(mut_tokens[at + 1]);
    if (!reference_real(mut_tokens[at]) || !capacity || !std::isfinite(*capacity)) {
      return std::nullopt;
    }
    bundle[static_cast<std::size_t>(i)] = *capacity < 0 ? kUnbounded : *capacity;
  }
  struct Arc {
    int64_t tail, head, pointer;
    std::vector<double> costs, capacities;
  };
  std::map<int64_t, Arc> arcs;
  const auto arc_tokens = ascii_tokens(arc);
  if (arc_tokens.size() % 7 != 0) return std::nullopt;
  for (std::size_t i = 0; i < arc_tokens.size(); i += 7) {
    const auto name = reference_integer(arc_tokens[i], 1, m);
    const auto tail = reference_integer(arc_tokens[i + 1], 1, n);
    const auto head = reference_integer(arc_tokens[i + 2], 1, n);
    const auto commodity = reference_integer(arc_tokens[i + 3], 1, k, true);
    const auto cost = reference_real(arc_tokens[i + 4]);
    const auto capacity = reference_real(arc_tokens[i + 5]);
    const auto pointer = reference_integer(arc_tokens[i + 6], 0, b);
    if (!name || !tail || !head || !commodity || !cost || !capacity || !pointer ||
        !std::isfinite(*cost) || !std::isfinite(*capacity) || *tail == *head) {
      return std::nullopt;
    }
    auto [it, added] = arcs.try_emplace(*name, Arc{*tail, *head, *pointer, std::vector<double>(kk),
                                                   std::vector<double>(kk)});
    Arc& a = it->second;
    if (!added && (a.tail != *tail || a.head != *head || a.pointer != *pointer)) return std::nullopt;
    for (int64_t x = 1; x <= k; ++x) {
      if (*commodity != -1 && *commodity != x) continue;
      a.costs[static_cast<std::size_t>(x - 1)] = *cost;
      a.capacities[static_cast<std::size_t>(x - 1)] = *capacity < 0 ? kUnbounded : *capacity;
    }
  }
  for (const auto& [name, a] : arcs) {
    p.arc_names.push_back(name);
    p.tails.push_back(a.tail);
    p.heads.push_back(a.head);
    p.bundles.push_back(a.pointer == 0 ? kUnbounded : bundle[static_cast<std::size_t>(a.pointer)]);
    p.costs.insert(p.costs.end(), a.costs.begin(), a.costs.end());
    p.capacities.insert(p.capacities.end(), a.capacities.begin(), a.capacities.end());
  }
  return p;
}

}  // namespace korvane::fuzz
