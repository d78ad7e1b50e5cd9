#include "search/FocalTables.h"

#include <cmath>
#include <limits>

namespace vornik {

namespace {

// Coordinates are carried into the node table but never read by the search, so a value
// outside the 64-bit range is clamped (and NaN read as 0) rather than cast, which would
// be undefined.
std::int64_t TruncateCoordinate(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 9223372036854775807.0) return std::numeric_limits<std::int64_t>::max();
    if (value <= -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(value);
}

}  // namespace

FocalTables BuildFocalTables(const InstanceModel& model) {
    FocalTables tables;
    const std::size_t n = model.NumVertices();
    tables.nodes.reserve(n);
    for (std::size_t v = 0; v < n; ++v) {
        const Position& position = model.NodePosition(v);
        NodeEntry entry;
        entry.x = TruncateCoordinate(position.x);
        entry.y = TruncateCoordinate(position.y);
        entry.z = TruncateCoordinate(position.z);
        entry.id = model.NodeId(v);
        entry.allowed_types = model.AllowedTypes(v);
        tables.nodes.push_back(std::move(entry));
    }
    for (std::size_t a = 0; a < model.NumAgents(); ++a) {
        const ModelAgent& agent = model.Agent(a);
        tables.agents.push_back(
            AgentEntry{agent.id, agent.type, agent.capacity_limit, agent.time_limit});
        tables.start_vertices.push_back(agent.start);
        tables.end_vertices.push_back(agent.end);
    }
    for (std::size_t v = 0; v < n; ++v) {
        const TimeWindow& window = model.Window(v);
        if (window.present) tables.time_windows[v] = {window.start, window.end};
    }

    // Arc-major, so that one arc's costs for every type lie together, as the search reads
    // them. A cost the instance does not give is the focal search's large finite cost.
    const std::size_t types = model.NumTypes();
    std::vector<double> costs(n * n * types, kFocalNoArcCost);
    for (std::size_t t = 0; t < types; ++t) {
        for (std::size_t u = 0; u < n; ++u) {
            for (std::size_t v = 0; v < n; ++v) {
                if (u != v && model.Given(t, u, v))
                    costs[(u * n + v) * types + t] = model.Cost(t, u, v);
            }
        }
    }
    tables.graph = std::make_unique<DenseGraph>(n, types, std::move(costs));
    return tables;
}

}  // namespace vornik
