#include "improve/TwoOptStarMove.h"

#include <cstdint>
#include <vector>

namespace vornik {

MoveCosts TwoOptStarMove::Estimate(const EngineSolution& solution) const {
    MoveCosts costs;
    costs.first = a;
    costs.first_cost = solution.JoinTails(a, i, b, j);
    costs.second = b;
    costs.second_cost = solution.JoinTails(b, j - 1, a, i + 1);
    return costs;
}

MoveCosts TwoOptStarMove::Evaluate(const EngineSolution& solution) const {
    const std::vector<std::uint32_t>& route_a = solution.Route(a).visits;
    const std::vector<std::uint32_t>& route_b = solution.Route(b).visits;
    MoveCosts costs;
    costs.first = a;
    costs.first_cost =
        solution.Tail(a, i, route_b.begin() + static_cast<std::ptrdiff_t>(j - 1), route_b.end());
    costs.second = b;
    if (costs.first_cost == EngineSolution::kInfeasible) return costs;
    costs.second_cost =
        solution.Tail(b, j - 1, route_a.begin() + static_cast<std::ptrdiff_t>(i), route_a.end());
    return costs;
}

void TwoOptStarMove::Apply(EngineSolution& solution) const {
    const std::vector<std::uint32_t>& route_a = solution.Route(a).visits;
    const std::vector<std::uint32_t>& route_b = solution.Route(b).visits;
    std::vector<std::uint32_t> new_a =
        solution.Spliced(a, i, route_b.begin() + static_cast<std::ptrdiff_t>(j - 1), route_b.end(),
                         route_a.size() + 1);
    std::vector<std::uint32_t> new_b =
        solution.Spliced(b, j - 1, route_a.begin() + static_cast<std::ptrdiff_t>(i), route_a.end(),
                         route_b.size() + 1);
    solution.SetVisits(b, std::move(new_b));
    solution.SetVisits(a, std::move(new_a));
}

}  // namespace vornik
