#ifndef VORNIK_PLUGINS_DEFAULTCONSTRAINTCHECKER_H
#define VORNIK_PLUGINS_DEFAULTCONSTRAINTCHECKER_H

#include <cstdint>
#include <string>
#include <vector>

#include "plugins/ConstraintCheckerPlugin.h"

namespace vornik {

/// The standard checker: enforces the assignment constraints (which agent types may
/// serve which vertex) and discards search nodes in which a vertex reserved for agent
/// type 0 is still unvisited while no type-0 agent is open. Arrivals and agents are
/// always accepted. Owned by the Solver, a CompositeConstraintChecker, or a time
/// checker that holds one as a member.
class DefaultConstraintChecker final : public ConstraintCheckerPlugin {
public:
    std::string GetName() const override;
    /// Keeps `graph` (owned by the Solver) and copies both tables, replacing any
    /// earlier copy.
    void Init(const PlannerGraph* graph, const std::vector<NodeEntry>& nodes,
              const std::vector<AgentEntry>& agents) override;
    /// True when the agent's type is not in the vertex's allowed list (an empty list
    /// admits nobody, an agent of type -1 is refused everywhere). An agent or vertex
    /// outside the tables is refused as well.
    bool ViolatesAssignment(std::uint64_t agent, std::uint64_t vertex) const override;
    /// Always feasible, `time` 0.0, `time_changed` false.
    ArrivalCheck CheckArrival(const SearchNode& state, std::uint64_t agent,
                              std::uint64_t vertex) const override;
    /// Always true.
    bool CheckAgent(const SearchNode& state, std::uint64_t agent) const override;
    /// True when no type-0 agent is open in `state` and some unvisited vertex has the
    /// allowed list exactly [0]. Vertices are examined up to the graph's vertex count
    /// (none before Init), the node-table size and the 256 bits of the visited set.
    bool IsDeadEnd(const SearchNode& state) const override;

private:
    const PlannerGraph* graph_ = nullptr;  // owned by the Solver
    std::vector<NodeEntry> nodes_;
    std::vector<AgentEntry> agents_;
    std::uint64_t num_agents_ = 0;
    // Bit i set when node-table entry i allows exactly type 0 (first 256 entries).
    VisitedSet type0_only_;
};

}  // namespace vornik

#endif  // VORNIK_PLUGINS_DEFAULTCONSTRAINTCHECKER_H
