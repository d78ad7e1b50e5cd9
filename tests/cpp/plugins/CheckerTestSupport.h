#ifndef VORNIK_TESTS_PLUGINS_CHECKERTESTSUPPORT_H
#define VORNIK_TESTS_PLUGINS_CHECKERTESTSUPPORT_H

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "core/SearchRecords.h"
#include "graph/SparseGraph.h"

namespace vornik {
namespace checker_testing {

/// Complete directed graph on vertices 0 .. n-1 with `dim` cost components; arc u -> v
/// costs cost(u, v, t) for type t.
inline std::unique_ptr<SparseGraph> MakeCompleteGraph(
    std::uint64_t n, std::uint64_t dim,
    const std::function<double(std::uint64_t, std::uint64_t, std::uint64_t)>& cost) {
    auto graph = std::make_unique<SparseGraph>();
    graph->ChangeCostDim(dim, 9999.0);
    for (std::uint64_t v = 0; v < n; ++v) graph->AddVertex(v);
    for (std::uint64_t u = 0; u < n; ++u) {
        for (std::uint64_t v = 0; v < n; ++v) {
            if (u == v) continue;
            CostVector costs(dim);
            for (std::uint64_t t = 0; t < dim; ++t) costs[t] = cost(u, v, t);
            graph->AddArc(u, v, costs);
        }
    }
    return graph;
}

/// `n` node-table entries (ids 100, 101, ...) that all allow `allowed`.
inline std::vector<NodeEntry> MakeNodes(std::uint64_t n, const std::vector<std::int64_t>& allowed) {
    std::vector<NodeEntry> nodes(n);
    for (std::uint64_t v = 0; v < n; ++v) {
        nodes[v].id = 100 + v;
        nodes[v].allowed_types = allowed;
    }
    return nodes;
}

inline AgentEntry MakeAgent(std::int64_t type, double time_limit = 0.0) {
    AgentEntry agent;
    agent.id = 0;
    agent.type = type;
    agent.time_limit = time_limit;
    return agent;
}

/// A child node as the search hands it to the checkers: `positions` still hold the
/// vertices the agents stand on, `costs` already include the mover's arc, and
/// `visited` includes the vertex being moved to.
inline SearchNode MakeState(const std::vector<std::uint64_t>& positions,
                            const std::vector<double>& costs,
                            const std::vector<std::uint64_t>& visited, std::int32_t num_vertices,
                            const std::vector<std::uint8_t>& closed = {}) {
    SearchNode node;
    for (const std::uint64_t p : positions) {
        node.current_vertex.push_back(static_cast<NodeVertex>(p));
    }
    node.cost = costs;
    for (const std::uint64_t v : visited) node.visited.Set(v);
    node.num_vertices = num_vertices;
    node.closed = closed.empty() ? std::vector<std::uint8_t>(positions.size(), 0) : closed;
    std::int64_t open = 0;
    for (const std::uint8_t c : node.closed) open += c == 0 ? 1 : 0;
    node.open_agents = open;
    return node;
}

}  // namespace checker_testing
}  // namespace vornik

#endif  // VORNIK_TESTS_PLUGINS_CHECKERTESTSUPPORT_H
