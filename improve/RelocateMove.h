#ifndef VORNIK_IMPROVE_RELOCATEMOVE_H
#define VORNIK_IMPROVE_RELOCATEMOVE_H

#include <cstddef>

#include "improve/EngineSolution.h"
#include "improve/MoveCosts.h"
#include "improve/WithinRouteMove.h"

namespace vornik {

/// Moves the string of `length` visits at positions first .. of route `from` (reversed
/// when asked) to just after position `gap` of route `to`. In one route, `gap` counts
/// positions before the move: before the string (gap < first) or at or after its last
/// position.
struct RelocateMove {
    std::size_t from = 0;
    std::size_t first = 1;
    std::size_t length = 1;
    bool reversed = false;
    std::size_t to = 0;
    std::size_t gap = 0;

    /// In one route: the same move as the runs it rearranges.
    WithinRouteMove AsWithinRoute() const;
    /// Both routes' costs, exact: the string is walked, the rest joined in closed form.
    MoveCosts Evaluate(const EngineSolution& solution) const;
    void Apply(EngineSolution& solution) const;
};

}  // namespace vornik

#endif  // VORNIK_IMPROVE_RELOCATEMOVE_H
