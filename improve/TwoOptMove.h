#ifndef VORNIK_IMPROVE_TWOOPTMOVE_H
#define VORNIK_IMPROVE_TWOOPTMOVE_H

#include <cstddef>

#include "improve/WithinRouteMove.h"

namespace vornik {

/// Reverses positions first .. last of route `route` (2-opt inside a route).
struct TwoOptMove {
    std::size_t route = 0;
    std::size_t first = 1;
    std::size_t last = 1;

    /// The reversal as a move of one reversed run; price and apply it through that.
    WithinRouteMove AsWithinRoute() const {
        WithinRouteMove move;
        move.route = route;
        move.i = first - 1;
        move.runs[0] = RouteRun{first, last, true};
        move.count = 1;
        move.j = last + 1;
        return move;
    }
    bool Estimable(const EngineSolution& solution) const {
        return AsWithinRoute().Estimable(solution);
    }
    MoveCosts Estimate(const EngineSolution& solution) const {
        return AsWithinRoute().Estimate(solution);
    }
    MoveCosts Evaluate(const EngineSolution& solution) const {
        return AsWithinRoute().Evaluate(solution);
    }
    void Apply(EngineSolution& solution) const { AsWithinRoute().Apply(solution); }
};

}  // namespace vornik

#endif  // VORNIK_IMPROVE_TWOOPTMOVE_H
