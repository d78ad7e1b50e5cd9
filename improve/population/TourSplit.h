#ifndef VORNIK_IMPROVE_POPULATION_TOURSPLIT_H
#define VORNIK_IMPROVE_POPULATION_TOURSPLIT_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "improve/EngineModel.h"

namespace vornik {

/// Routes cut from a giant tour: consecutive stretches of the tour, one per agent in agent
/// order (a stretch may be empty), and the tour's targets that no stretch could take.
struct TourSplit {
    std::vector<std::vector<std::uint32_t>> routes;
    std::vector<std::uint32_t> left_out;
};

/// Cuts `tour` into at most one stretch per agent, agents taken in order, so that every
/// route is feasible by the engine's rules. Under min-sum it minimises the summed cost
/// (a shortest path over the cut points, linear per agent when the agents are alike and
/// nothing but travel and service counts); under min-max the longest route (bisection on
/// the bound, each bound checked by filling the routes greedily, which is exact whenever a
/// longer stretch never costs less). When no cut serves the whole tour, routes are filled
/// greedily and what does not fit is left out, for the caller to insert elsewhere.
TourSplit SplitTour(const EngineModel& model, const std::vector<std::uint32_t>& tour);

/// Fills the agents' routes in agent order, each with the longest stretch of the tour
/// that keeps it feasible: linear in the tour, where SplitTour under min-sum may take
/// time and memory in the tour's length times the number of agents.
TourSplit FillTour(const EngineModel& model, const std::vector<std::uint32_t>& tour);

}  // namespace vornik

#endif  // VORNIK_IMPROVE_POPULATION_TOURSPLIT_H
