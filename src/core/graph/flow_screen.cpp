#include "core/graph/flow_screen.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <string>

#include "core/base/cancel.h"

namespace korvane {
namespace {

// The residual graph: edge 2p is a pair's forward direction, 2p + 1 its reverse
// (so e ^ 1 is the partner of e). Pairs [0, num_arc_pairs) are the network's arcs
// (loops left out), then per node one pair from the source and one to the sink.
struct Residual {
  int64_t source = 0;
  int64_t sink = 0;
  std::vector<int64_t> to;           // head of each edge
  std::vector<double> left;          // residual capacity of each edge
  std::vector<int64_t> arc;          // network arc of each arc pair
  std::vector<int64_t> first;        // CSR over tails: node v's edges are
  std::vector<int64_t> out;          //   out[first[v] .. first[v + 1])
  std::vector<int64_t> level;        // BFS distance from the source, -1 unreached or dead
  std::vector<int64_t> next;         // current edge of each node in the blocking flow
  std::vector<int64_t> queue;
  std::vector<int64_t> path;
};

Residual make_residual(const ScreenInput& in) {
  Residual g;
  const auto n = in.num_nodes;
  g.source = n;
  g.sink = n + 1;
  for (std::size_t a = 0; a < in.tails.size(); ++a) {
    if (in.tails[a] != in.heads[a]) g.arc.push_back(static_cast<int64_t>(a));
  }
  const auto arc_pairs = static_cast<int64_t>(g.arc.size());
  const auto edges = static_cast<std::size_t>(2 * (arc_pairs + 2 * n));
  g.to.resize(edges);
  g.left.assign(edges, 0.0);
  std::vector<int64_t> tail(edges);
  auto pair = [&](int64_t p, int64_t from, int64_t onto) {
    const auto e = static_cast<std::size_t>(2 * p);
    tail[e] = from;
    g.to[e] = onto;
    tail[e + 1] = onto;
    g.to[e + 1] = from;
  };
  for (int64_t p = 0; p < arc_pairs; ++p) {
    const auto a = static_cast<std::size_t>(g.arc[static_cast<std::size_t>(p)]);
    pair(p, in.tails[a], in.heads[a]);
  }
  for (int64_t v = 0; v < n; ++v) {
    pair(arc_pairs + 2 * v, g.source, v);
    pair(arc_pairs + 2 * v + 1, v, g.sink);
  }
  const auto nodes = static_cast<std::size_t>(n + 2);
  g.first.assign(nodes + 1, 0);
  for (int64_t t : tail) ++g.first[static_cast<std::size_t>(t) + 1];
  for (std::size_t v = 0; v < nodes; ++v) g.first[v + 1] += g.first[v];
  g.out.resize(edges);
  std::vector<int64_t> fill(g.first.begin(), g.first.end() - 1);
  for (std::size_t e = 0; e < edges; ++e) {
    g.out[static_cast<std::size_t>(fill[static_cast<std::size_t>(tail[e])]++)] =
        static_cast<int64_t>(e);
  }
  g.level.resize(nodes);
  g.next.resize(nodes);
  g.queue.reserve(nodes);
  return g;
}

// Levels from the source over edges with more than `eps` left; whether the sink
// is reached.
bool levels(Residual& g, double eps, CancelCheck& check, bool& stop) {
  std::fill(g.level.begin(), g.level.end(), -1);
  g.queue.clear();
  g.queue.push_back(g.source);
  g.level[static_cast<std::size_t>(g.source)] = 0;
  for (std::size_t head = 0; head < g.queue.size(); ++head) {
    const auto v = static_cast<std::size_t>(g.queue[head]);
    const auto begin = static_cast<std::size_t>(g.first[v]);
    const auto end = static_cast<std::size_t>(g.first[v + 1]);
    if (check.requested(end - begin + 1)) {
      stop = true;
      return false;
    }
    for (std::size_t i = begin; i < end; ++i) {
      const auto e = static_cast<std::size_t>(g.out[i]);
      const auto w = static_cast<std::size_t>(g.to[e]);
      if (g.left[e] > eps && g.level[w] < 0) {
        g.level[w] = g.level[v] + 1;
        g.queue.push_back(g.to[e]);
      }
    }
  }
  return g.level[static_cast<std::size_t>(g.sink)] >= 0;
}

// Augments along level-increasing paths until none is left (a blocking flow),
// walking with an explicit path so that no path length can exhaust the stack.
double blocking_flow(Residual& g, double eps, CancelCheck& check, bool& stop) {
  for (std::size_t v = 0; v < g.next.size(); ++v) g.next[v] = g.first[v];
  double pushed = 0.0;
  g.path.clear();
  int64_t v = g.source;
  while (true) {
    if (check.requested()) {
      stop = true;
      return pushed;
    }
    if (v == g.sink) {
      double bottleneck = INFINITY;
      for (int64_t e : g.path) bottleneck = std::min(bottleneck, g.left[static_cast<std::size_t>(e)]);
      std::size_t saturated = g.path.size();
      for (std::size_t i = 0; i < g.path.size(); ++i) {
        const auto e = static_cast<std::size_t>(g.path[i]);
        g.left[e] -= bottleneck;
        g.left[e ^ 1] += bottleneck;
        if (saturated == g.path.size() && g.left[e] <= eps) saturated = i;
      }
      pushed += bottleneck;
      // Back to the tail of the first edge used up; its current edge is skipped next.
      g.path.resize(saturated);
      v = g.path.empty() ? g.source : g.to[static_cast<std::size_t>(g.path.back())];
      continue;
    }
    const auto uv = static_cast<std::size_t>(v);
    const auto end = g.first[uv + 1];
    auto& i = g.next[uv];
    for (; i < end; ++i) {
      const auto e = static_cast<std::size_t>(g.out[static_cast<std::size_t>(i)]);
      if (g.left[e] > eps && g.level[static_cast<std::size_t>(g.to[e])] == g.level[uv] + 1) break;
    }
    if (i < end) {
      const auto e = g.out[static_cast<std::size_t>(i)];
      g.path.push_back(e);
      v = g.to[static_cast<std::size_t>(e)];
      continue;
    }
    if (v == g.source) return pushed;
    g.level[uv] = -1;  // nothing more reaches the sink through v
    const auto e = static_cast<std::size_t>(g.path.back());
    g.path.pop_back();
    v = g.to[e ^ 1];
    ++g.next[static_cast<std::size_t>(v)];
  }
}

}  // namespace

Result<std::vector<int64_t>> infeasible_commodities(const ScreenInput& in, bool first_only) {
  const auto n = in.num_nodes;
  const auto k = in.num_commodities;
  const auto arcs = in.tails.size();
  if (n < 0 || k < 0 || in.heads.size() != arcs) {
    return invalid("the screen needs one head per tail and non-negative counts");
  }
  const auto uk = static_cast<std::size_t>(k);
  const auto un = static_cast<std::size_t>(n);
  if (k > 0 && (in.capacity.size() % uk != 0 || in.capacity.size() / uk != arcs ||
                in.supply.size() % uk != 0 || in.supply.size() / uk != un)) {
    return invalid("the screen needs " + std::to_string(k) + " capacities per arc and " +
                   std::to_string(k) + " supplies per node");
  }
  for (std::size_t a = 0; a < arcs; ++a) {
    if (in.tails[a] < 0 || in.tails[a] >= n || in.heads[a] < 0 || in.heads[a] >= n) {
      return invalid("arc " + std::to_string(a) + " has a node rank outside [0, " +
                     std::to_string(n) + ")");
    }
  }
  std::vector<int64_t> failed;
  if (k == 0) return failed;
  Residual g = make_residual(in);
  const auto arc_pairs = g.arc.size();
  CancelCheck check;
  bool stop = false;
  for (std::size_t c = 0; c < uk; ++c) {
    for (std::size_t p = 0; p < arc_pairs; ++p) {
      const double cap = in.capacity[static_cast<std::size_t>(g.arc[p]) * uk + c];
      g.left[2 * p] = cap > 0 ? cap : 0.0;  // NaN closes the arc too
      g.left[2 * p + 1] = 0.0;
    }
    double out = 0.0;
    double into = 0.0;
    for (std::size_t v = 0; v < un; ++v) {
      const double s = in.supply[c * un + v];
      const std::size_t from_source = 2 * (arc_pairs + 2 * v);
      const std::size_t to_sink = from_source + 2;
      g.left[from_source] = s > 0 ? s : 0.0;
      g.left[from_source + 1] = 0.0;
      g.left[to_sink] = s < 0 ? -s : 0.0;
      g.left[to_sink + 1] = 0.0;
      if (s > 0) out += s;
      if (s < 0) into -= s;
      if (std::isnan(s)) out = NAN;
    }
    const double tol = 1e-9 * std::max(1.0, out);
    bool feasible = std::abs(out - into) <= tol;  // false for NaN
    if (feasible && out > 0) {
      // Residues below eps are rounding, not capacity: never worth a path.
      const double eps = 1e-12 * std::max(1.0, out);
      double flow = 0.0;
      while (flow < out - tol && levels(g, eps, check, stop)) {
        flow += blocking_flow(g, eps, check, stop);
        if (stop) break;
      }
      if (stop) return cancelled();
      feasible = flow >= out - tol;
    }
    if (!feasible) {
      failed.push_back(static_cast<int64_t>(c));
      if (first_only) break;
    }
  }
  return failed;
}

}  // namespace korvane
