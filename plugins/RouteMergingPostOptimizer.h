#ifndef VORNIK_PLUGINS_ROUTEMERGINGPOSTOPTIMIZER_H
#define VORNIK_PLUGINS_ROUTEMERGINGPOSTOPTIMIZER_H

#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "plugins/EvaluatingPostOptimizer.h"
#include "plugins/RouteEvaluator.h"

namespace vornik {

/// Tries to empty cheap routes: from the cheapest route upwards, moves all interior
/// vertices of a route into other agents' routes, each at its cheapest feasible place,
/// so that no receiving route ends above the solution's largest route cost at the start
/// of the call (+1e-9). An emptied route keeps its first and last vertex. Finally every
/// route with a positive cost is shortened by 2-opt. Writes no messages. Owned by the
/// Solver's CompositePostOptimizer, where it runs after DefaultPostOptimizer.
class RouteMergingPostOptimizer final : public EvaluatingPostOptimizer {
public:
    /// Where a vertex fits best: the receiving agent, the position it is inserted
    /// before, and the receiving route's cost afterwards.
    struct InsertionChoice {
        bool found = false;
        std::int64_t agent = -1;
        std::uint64_t position = 0;
        double cost = std::numeric_limits<double>::max();
    };

    std::string GetName() const override { return "RouteMergingPostOptimizer"; }

    /// Rewrites `paths` and `times` for agent indices 0 .. agents.size()-1 and nothing
    /// else; leaves the result untouched when no route has a positive cost. A route the
    /// agent cannot drive keeps its incoming `times` value.
    void Optimize(const PlannerGraph* graph, const std::vector<NodeEntry>& nodes,
                  const std::vector<AgentEntry>& agents, Result& result) override;

private:
    /// Cheapest feasible place for `v` in a route other than agent `excluded`'s whose
    /// cost stays within `bound` + 1e-9; equal costs (within 1e-9) prefer the smaller
    /// increase of the receiving route, remaining ties the lowest agent and position.
    InsertionChoice FindBestInsertion(std::uint64_t v, std::uint64_t excluded, double bound);
    /// Moves every interior vertex of route `b` elsewhere, or changes nothing.
    void Dissolve(std::uint64_t b, double bound);
    const RouteTrace& TraceOf(std::uint64_t agent);

    // Working state of one Optimize call.
    std::vector<std::vector<std::uint64_t>> routes_;
    std::vector<double> costs_;
    std::vector<RouteTrace> traces_;  ///< of routes_[a], valid when fresh_[a]
    std::vector<std::uint8_t> fresh_;
};

}  // namespace vornik

#endif  // VORNIK_PLUGINS_ROUTEMERGINGPOSTOPTIMIZER_H
