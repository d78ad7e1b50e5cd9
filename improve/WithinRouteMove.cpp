#include "improve/WithinRouteMove.h"

#include <cstdint>
#include <vector>

namespace vornik {

namespace {

// The new stretch, rebuilt per call into one buffer per thread: no allocation once warm.
const std::vector<std::uint32_t>& Stretch(const EngineSolution& solution,
                                          const WithinRouteMove& move) {
    thread_local std::vector<std::uint32_t> stretch;
    stretch.clear();
    solution.AppendRuns(move.route, move.runs, move.count, stretch);
    return stretch;
}

}  // namespace

MoveCosts WithinRouteMove::Estimate(const EngineSolution& solution) const {
    MoveCosts costs;
    costs.first = route;
    costs.first_cost = solution.SpliceRuns(route, i, runs, count, j);
    return costs;
}

MoveCosts WithinRouteMove::Evaluate(const EngineSolution& solution) const {
    const std::vector<std::uint32_t>& stretch = Stretch(solution, *this);
    MoveCosts costs;
    costs.first = route;
    costs.first_cost = solution.Splice(route, i, stretch.begin(), stretch.end(), j);
    return costs;
}

void WithinRouteMove::Apply(EngineSolution& solution) const {
    const std::vector<std::uint32_t>& stretch = Stretch(solution, *this);
    solution.SetVisits(route, solution.Spliced(route, i, stretch.begin(), stretch.end(), j));
}

}  // namespace vornik
