// Edge: one arc of a single-commodity network, as handed to Python.
#pragma once

#include <cstdint>

namespace korvane {

struct Edge {
  int64_t tail = 0;
  int64_t head = 0;
  int64_t low = 0;
  int64_t up = 0;
  int64_t cost = 0;
  int64_t index = 0;  // parallel index: earlier arcs with the same (tail, head)
};

}  // namespace korvane
