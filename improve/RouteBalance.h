#ifndef VORNIK_IMPROVE_ROUTEBALANCE_H
#define VORNIK_IMPROVE_ROUTEBALANCE_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "improve/EngineParams.h"
#include "improve/EngineSolution.h"
#include "improve/TourSearch.h"

namespace vornik {

/// A string of one to three visits taken from route `from` (positions first .. last) and
/// put into route `to` after its position `after`, either way round, with both routes'
/// costs once it is made.
struct BalanceMove {
    std::size_t from = 0;
    std::size_t to = 0;
    std::size_t first = 1;
    std::size_t last = 0;
    std::size_t after = 0;
    bool reversed = false;
    double from_cost = 0.0;
    double to_cost = 0.0;
};

/// Evens out the routes of a min-max plan: repeatedly moves the string of the longest
/// route that lowers the longest route most into another route, next to one of the
/// string's nearest targets there, and lets the tour search descend on both routes.
///
/// A plan whose routes sum to less than the best's, but with one route above the best's
/// longest, is where the annealing under a route bound often stands: the targets are
/// shared well for the sum, but the longest-route score sees no gain until the boundary
/// targets of the longest route move over to its neighbours.
class RouteBalance {
public:
    // model outlives it.
    RouteBalance(const EngineModel* model, const EngineParams& params);

    /// The move of a string of the longest route that leaves the longest route of the plan
    /// lowest (among equals, the lowest sum of the two routes), when it is lower than the
    /// longest now by more than rounding; false when there is none.
    bool BestMove(const EngineSolution& solution, BalanceMove& move) const;

    /// Makes `move`, then (with `tours`) the tour search's descent on both routes from
    /// the places that changed.
    void Apply(EngineSolution& solution, const BalanceMove& move, TourSearch* tours) const;

    /// Up to `rounds` moves, each while one lowers the longest route; returns true when
    /// any was made. `tours` may be null.
    bool Run(EngineSolution& solution, std::size_t rounds, TourSearch* tours) const;

private:
    const EngineModel* model_;
    std::size_t granularity_;
};

}  // namespace vornik

#endif  // VORNIK_IMPROVE_ROUTEBALANCE_H
