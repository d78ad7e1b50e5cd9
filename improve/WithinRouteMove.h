#ifndef VORNIK_IMPROVE_WITHINROUTEMOVE_H
#define VORNIK_IMPROVE_WITHINROUTEMOVE_H

#include <cstddef>

#include "improve/EngineSolution.h"
#include "improve/MoveCosts.h"

namespace vornik {

/// Route `route` with up to two runs of its own visits (each maybe reversed) in place of
/// positions i + 1 .. j - 1: the shape of every move inside one route (relocation of a
/// string, 2-opt). Its targets stay, so its load does.
struct WithinRouteMove {
    std::size_t route = 0;
    std::size_t i = 0;
    RouteRun runs[2];
    std::size_t count = 0;
    std::size_t j = 1;

    /// True when Estimate prices the move in time proportional to its runs (no windows).
    bool Estimable(const EngineSolution& solution) const {
        return solution.PricesRunsInConstantTime(route);
    }
    /// From prefix sums: exact up to rounding, so a move that looks better is confirmed
    /// with Evaluate before it is applied. Only where Estimable.
    MoveCosts Estimate(const EngineSolution& solution) const;
    /// Walks the new stretch and joins the rest of the route in closed form.
    MoveCosts Evaluate(const EngineSolution& solution) const;
    void Apply(EngineSolution& solution) const;
};

}  // namespace vornik

#endif  // VORNIK_IMPROVE_WITHINROUTEMOVE_H
