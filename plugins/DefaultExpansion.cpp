#include "plugins/DefaultExpansion.h"

#include <algorithm>
#include <limits>

namespace vornik {

void DefaultExpansion::Init(const std::vector<std::uint64_t>& end_vertices) {
    num_agents_ = end_vertices.size();
}

std::int64_t DefaultExpansion::SelectAgent(const SearchNode& node) const {
    // A node carrying fewer per-agent entries than configured agents is read only as
    // far as its lists go.
    const std::size_t count =
        std::min({static_cast<std::size_t>(num_agents_), node.cost.size(), node.closed.size()});
    std::int64_t best = -1;
    double min_cost = std::numeric_limits<double>::max();
    for (std::size_t i = 0; i < count; ++i) {
        // Strictly less: ties keep the lower index.
        if (node.closed[i] == 0 && node.cost[i] < min_cost) {
            best = static_cast<std::int64_t>(i);
            min_cost = node.cost[i];
        }
    }
    return best;
}

}  // namespace vornik
