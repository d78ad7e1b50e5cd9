#ifndef VORNIK_PLUGINS_LITERALHEURISTIC_H
#define VORNIK_PLUGINS_LITERALHEURISTIC_H

// Test and benchmark code, not part of the engine: the spanning-forest bound computed by
// the plain rescanning loop, kept as the oracle for DefaultHeuristic::Evaluate.

#include <algorithm>
#include <cstdint>
#include <vector>

#include "core/SearchRecords.h"

namespace vornik {

/// The bound of DefaultHeuristic, computed literally: after every record taken, the
/// list is scanned again from its first record. `num_agents` plays the role of the
/// agent count given to Init. Records with an endpoint of 256 or more are skipped.
inline double LiteralHeuristic(const std::vector<EdgeRecord>& edges, std::uint64_t num_agents,
                               const SearchNode& node) {
    const std::int64_t n = node.num_vertices;
    const std::size_t k = std::min(
        {static_cast<std::size_t>(num_agents), node.current_vertex.size(), node.closed.size()});
    VisitedSet in_c = node.visited;
    for (std::size_t i = 0; i < k; ++i) in_c.Set(node.current_vertex[i]);
    VisitedSet in_b = node.visited;
    for (std::size_t i = 0; i < k; ++i) {
        if (node.closed[i] == 0) in_b.Reset(node.current_vertex[i]);
    }
    double sum = 0.0;
    for (;;) {
        if (n <= 0 || in_c.AllSetBelow(n)) return sum;
        bool taken = false;
        for (const EdgeRecord& e : edges) {
            if (e.cost >= 9999.0) continue;
            if (e.u >= kMaxVertices || e.v >= kMaxVertices) continue;
            const bool u_in = in_c.Test(e.u);
            const bool v_in = in_c.Test(e.v);
            if (u_in == v_in) continue;
            if (in_b.Test(e.u) || in_b.Test(e.v)) continue;
            sum += e.cost;
            in_c.Set(u_in ? e.v : e.u);
            taken = true;
            break;
        }
        if (!taken) return 1.1235582092889473e307;
    }
}

}  // namespace vornik

#endif  // VORNIK_PLUGINS_LITERALHEURISTIC_H
