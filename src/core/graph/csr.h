// Compressed sparse rows of a network's out- and in-adjacency, indexed by node
// rank (position in ascending id order), arcs kept in position order per row.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace korvane {

struct CsrSide {
  std::vector<int64_t> indptr;   // rows + 1 entries; row r is [indptr[r], indptr[r + 1])
  std::vector<int64_t> indices;  // rank of the other endpoint, one per arc
  std::vector<int64_t> arc;      // arc position, one per arc, ascending within a row
};

struct Csr {
  std::vector<int64_t> node;  // row r is node id node[r]: every id of `nodes`, tails and heads
  CsrSide out;                // row of the tail: heads
  CsrSide in;                 // row of the head: tails
};

// Builds both sides: the rows are the keys get_adjacency_mapping(nodes,
// topology) gives, and each row lists its arcs in the order of its lists.
// tails and heads have one entry per arc (equal sizes). Never fails besides
// running out of memory; allocates O(N + E) and nothing per arc.
Csr build_csr(std::span<const int64_t> nodes, std::span<const int64_t> tails,
              std::span<const int64_t> heads);

}  // namespace korvane
