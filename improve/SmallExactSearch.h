#ifndef VORNIK_IMPROVE_SMALLEXACTSEARCH_H
#define VORNIK_IMPROVE_SMALLEXACTSEARCH_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "improve/EngineModel.h"

namespace vornik {

/// Routes for a tiny instance found by trying every split of the targets into ordered
/// routes. Insertion builds routes one target at a time and cannot find a solution in
/// which no target fits a route on its own (windows that only a pair of targets meets);
/// on a handful of targets the search below settles whether any solution exists.
struct SmallExactOutcome {
    bool found = false;
    bool complete = false;  ///< every split was tried (not cut short by `max_steps`)
    std::vector<std::vector<std::uint32_t>> routes;  ///< targets per agent, in order
};

/// The largest number of targets SmallExactSearch is meant for.
constexpr std::size_t kSmallExactTargets = 8;

/// The best split of the model's targets into routes under its objective, by depth-first
/// search that drops a route as soon as a window closes or its limit passes on the way
/// (costs are >= 0, so a later stop only comes later). Gives up after `max_steps` steps.
SmallExactOutcome SmallExactSearch(const EngineModel& model, std::size_t max_steps);

}  // namespace vornik

#endif  // VORNIK_IMPROVE_SMALLEXACTSEARCH_H
