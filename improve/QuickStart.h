#ifndef VORNIK_IMPROVE_QUICKSTART_H
#define VORNIK_IMPROVE_QUICKSTART_H

#include <cstdint>
#include <vector>

#include "improve/EngineParams.h"
#include "improve/EngineSolution.h"

namespace vornik {

/// True when a large instance gets a quick first solution: `quick_start_targets` targets
/// or more, and no time windows (a tour by nearness ignores them, and most of it would
/// not fit).
bool QuickStartPays(const EngineModel& model, const EngineParams& params);

/// Every servable target once, each followed by the nearest one not yet taken: from
/// the target nearest the first agent's start, through the neighbour lists, with a scan
/// of every target only when all of a target's neighbours are taken.
std::vector<std::uint32_t> NearestNeighbourTour(const EngineModel& model);

/// A first solution in near-linear time: the nearest-neighbour tour cut into routes
/// (under min-max so that the longest route is shortest, under min-sum by filling the
/// agents in order). Targets no cut could place stay unassigned.
EngineSolution QuickStart(const EngineModel* model);

}  // namespace vornik

#endif  // VORNIK_IMPROVE_QUICKSTART_H
