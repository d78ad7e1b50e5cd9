#ifndef VORNIK_PLUGINS_POSTOPTIMIZERPLUGIN_H
#define VORNIK_PLUGINS_POSTOPTIMIZERPLUGIN_H

#include <cstdint>
#include <functional>
#include <vector>

#include "core/Problem.h"
#include "core/SearchRecords.h"
#include "graph/PlannerGraph.h"
#include "plugins/PluginBase.h"

namespace vornik {

/// Improves a complete solution in place by local search; never adds or drops a
/// target. Configured by the Solver's Prepare through the four setters, then called
/// once per new incumbent solution.
class PostOptimizerPlugin : public PluginBase {
public:
    /// Rewrites `result.paths` and `result.times`; every other field is left alone.
    /// `graph` is owned by the Solver.
    virtual void Optimize(const PlannerGraph* graph, const std::vector<NodeEntry>& nodes,
                          const std::vector<AgentEntry>& agents, Result& result) = 0;
    virtual void SetReturnToEnd(bool return_to_end) = 0;
    virtual void SetStartVertices(const std::vector<std::uint64_t>& start_vertices) = 0;
    virtual void SetEndVertices(const std::vector<std::uint64_t>& end_vertices) = 0;
    virtual void SetTimeWindows(const TimeWindowTable& time_windows) = 0;
    /// Installs a check polled between moves (empty: never). Once it answers true,
    /// Optimize stops after its current move and still writes back a complete,
    /// consistent solution; until then results do not depend on it.
    virtual void SetStopCheck(std::function<bool()> expired) = 0;
};

}  // namespace vornik

#endif  // VORNIK_PLUGINS_POSTOPTIMIZERPLUGIN_H
