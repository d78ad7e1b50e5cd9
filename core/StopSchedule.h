#ifndef VORNIK_CORE_STOPSCHEDULE_H
#define VORNIK_CORE_STOPSCHEDULE_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/InstanceModel.h"
#include "core/RouteRules.h"
#include "core/RouteWalker.h"

namespace vornik {

/// The schedules of routes on one instance model: when each agent reaches each stop,
/// waits, starts service and leaves, on the rules of core/RouteRules.h walked by
/// WalkStops. Built once per instance (it sorts and merges the windows of the vertices
/// that have several), then walks any number of routes. Reads `model`, which must
/// outlive it.
///
/// A schedule is shown whatever the route breaks: a stop whose windows have all closed
/// keeps its late arrival and no waiting, and the walk goes on from there; limits,
/// capacities, types and where the route starts and closes are not checked here.
class StopSchedule {
public:
    StopSchedule(const InstanceModel& model, bool return_to_end);

    /// Walks `path` (`count` vertices, the start and the closing vertex included) for
    /// agent index `a`: legs at the agent's type's costs, except onto the same vertex and,
    /// when agents do not return, onto the agent's own start or end. Writes one entry per
    /// stop reached to `stops` and the sum of the demands of the stops between the first
    /// and the last to `load` (Dimensions() entries). The walk ends early only at a leg
    /// the model gives no cost for (broken kArc, failed_at its stop). Throws
    /// std::invalid_argument naming the position of a vertex outside the model, or an
    /// agent index outside it.
    StopsWalk Walk(std::size_t a, const std::int64_t* path, std::size_t count, StopTimes* stops,
                   double* load) const;

    /// Load dimensions: the most amounts any vertex or agent has.
    [[nodiscard]] std::size_t Dimensions() const { return dimensions_; }

private:
    const InstanceModel& model_;  // owned by the caller
    RouteWalker walker_;
    std::size_t dimensions_ = 0;
    /// Merged windows of vertex v at several_[offset_[v]] .. [offset_[v + 1]]; none for a
    /// vertex with at most one window, whose Window() is read as given.
    std::vector<TimeWindow> several_;
    std::vector<std::size_t> offset_;
};

}  // namespace vornik

#endif  // VORNIK_CORE_STOPSCHEDULE_H
