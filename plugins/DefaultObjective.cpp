#include "plugins/DefaultObjective.h"

#include <algorithm>

namespace vornik {

void DefaultObjective::Init(const std::vector<std::uint64_t>& end_vertices) {
    end_vertices_ = end_vertices;
}

double DefaultObjective::Aggregate(const std::vector<double>& costs) const {
    if (costs.empty()) return 0.0;
    double largest = costs.front();
    for (const double c : costs) largest = std::max(largest, c);
    return largest;
}

double DefaultObjective::Estimate(const SearchNode& node, std::int64_t open_agents,
                                  double h) const {
    const double makespan = Aggregate(node.cost);
    if (open_agents <= 0) return makespan;
    // The open agents must still cover h between them; the best they can do is share it
    // evenly on top of their current clocks.
    const std::size_t count = std::min(node.cost.size(), node.closed.size());
    double open_sum = 0.0;
    for (std::size_t i = 0; i < count; ++i) {
        if (node.closed[i] == 0) open_sum += node.cost[i];
    }
    return std::max(makespan, (h + open_sum) / static_cast<double>(open_agents));
}

}  // namespace vornik
