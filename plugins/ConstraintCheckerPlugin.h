#ifndef VORNIK_PLUGINS_CONSTRAINTCHECKERPLUGIN_H
#define VORNIK_PLUGINS_CONSTRAINTCHECKERPLUGIN_H

#include <cstdint>
#include <vector>

#include "core/SearchRecords.h"
#include "graph/PlannerGraph.h"
#include "plugins/PluginBase.h"

namespace vornik {

/// Outcome of a checker's arrival test.
struct ArrivalCheck {
    bool feasible = true;       ///< false: the move must be discarded
    double time = 0.0;          ///< the agent's time after waiting; 0.0 unless time_changed
    bool time_changed = false;  ///< true when `time` differs from the time given
};

/// Decides whether an agent may make a move. For a move of agent a to vertex v out of
/// node P the search calls, in this order: ViolatesAssignment(a, v); then on the child C
/// (a copy of P with bit v set, and a's closed byte set when the move closes its route)
/// IsDeadEnd(C) if the move closes; then, after adding the arc cost to C.cost[a] but
/// while C.current_vertex[a] is still the vertex a leaves, CheckArrival(C, a, v) and
/// CheckAgent(C, a). Checkers rely on this half-built state.
class ConstraintCheckerPlugin : public PluginBase {
public:
    /// Keeps a non-owning pointer to `graph` (owned by the Solver) and copies both
    /// tables. Called by the Solver's Prepare before any other operation.
    virtual void Init(const PlannerGraph* graph, const std::vector<NodeEntry>& nodes,
                      const std::vector<AgentEntry>& agents) = 0;
    /// True when the agent may not serve the vertex.
    virtual bool ViolatesAssignment(std::uint64_t agent, std::uint64_t vertex) const = 0;
    virtual ArrivalCheck CheckArrival(const SearchNode& state, std::uint64_t agent,
                                      std::uint64_t vertex) const = 0;
    /// False discards the child.
    virtual bool CheckAgent(const SearchNode& state, std::uint64_t agent) const = 0;
    /// True when the search node can no longer be completed and must be discarded.
    virtual bool IsDeadEnd(const SearchNode& state) const = 0;
};

}  // namespace vornik

#endif  // VORNIK_PLUGINS_CONSTRAINTCHECKERPLUGIN_H
