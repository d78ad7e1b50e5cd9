#include "plugins/MinSumObjective.h"

namespace vornik {

void MinSumObjective::Init(const std::vector<std::uint64_t>& /*end_vertices*/) {}

double MinSumObjective::Aggregate(const std::vector<double>& costs) const {
    double sum = 0.0;
    for (const double c : costs) sum += c;
    return sum;
}

double MinSumObjective::Estimate(const SearchNode& node, std::int64_t /*open_agents*/,
                                 double h) const {
    // Every remaining edge is paid by some agent on top of what all agents have spent.
    return Aggregate(node.cost) + h;
}

}  // namespace vornik
