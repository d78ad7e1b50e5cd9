#ifndef VORNIK_SEARCH_ROUTESCHEDULE_H
#define VORNIK_SEARCH_ROUTESCHEDULE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/CostTables.h"
#include "core/RouteWalker.h"
#include "improve/EngineModel.h"
#include "search/JsonSolve.h"

namespace vornik {

/// One route walked stop by stop on the improvement path's rules (several windows per
/// vertex, service, loads), for schedules and checks outside the solver.
struct RouteSchedule {
    bool feasible = false;
    /// The clock after the last stop reached: the route's cost when feasible.
    double cost = 0.0;
    /// The first rule broken: "" (none), "ends" (the path does not start on the agent's
    /// start or close where it may), "type" (a stop its type may not serve, or a depot in
    /// the middle), "arc", "window", "limit" or "capacity".
    std::string broken;
    std::size_t failed_at = 0;  ///< position of the stop that broke it
    /// One entry per stop reached: a stop whose windows had all closed keeps its late
    /// arrival and no waiting, and the walk goes on from there; it ends at a missing arc.
    std::vector<StopTimes> stops;
    std::vector<double> load;  ///< per load dimension
};

/// Walks `path` (vertices, the start and the closing vertex included) for agent `a` of
/// `model`: legs at the agent's costs except onto the same vertex and, on open routes,
/// the closing leg onto its own start or end. Throws std::out_of_range for an agent index
/// or a vertex the model does not have.
RouteSchedule ScheduleRoute(const EngineModel& model, std::size_t a,
                            const std::vector<std::int64_t>& path);

/// The same on instance text, read as the improvement path reads it (costs added as in
/// SolveJsonText).
RouteSchedule ScheduleJsonText(const std::string& json_text, std::size_t a,
                               const std::vector<std::int64_t>& path,
                               CostMatrices cost_matrices = {}, const CostTables& tables = {});

}  // namespace vornik

#endif  // VORNIK_SEARCH_ROUTESCHEDULE_H
