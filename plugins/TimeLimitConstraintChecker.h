#ifndef VORNIK_PLUGINS_TIMELIMITCONSTRAINTCHECKER_H
#define VORNIK_PLUGINS_TIMELIMITCONSTRAINTCHECKER_H

#include <cstdint>
#include <string>
#include <vector>

#include "plugins/ConstraintCheckerPlugin.h"
#include "plugins/DefaultConstraintChecker.h"

namespace vornik {

/// Enforces each agent's time limit (its longest allowed route cost, waiting included).
/// Assignment and dead-end questions go to an inner DefaultConstraintChecker.
class TimeLimitConstraintChecker final : public ConstraintCheckerPlugin {
public:
    std::string GetName() const override;
    /// Initialises the inner checker and copies the agent table.
    void Init(const PlannerGraph* graph, const std::vector<NodeEntry>& nodes,
              const std::vector<AgentEntry>& agents) override;
    /// The inner default checker's answer.
    bool ViolatesAssignment(std::uint64_t agent, std::uint64_t vertex) const override;
    /// Always feasible, `time` 0.0, `time_changed` false: the limit is tested by
    /// CheckAgent, after the search stored the waiting-adjusted time.
    ArrivalCheck CheckArrival(const SearchNode& state, std::uint64_t agent,
                              std::uint64_t vertex) const override;
    /// False exactly when the agent has a limit (> 0) and `state.cost[agent]` exceeds
    /// it; reaching the limit exactly is allowed. An agent outside the table has no
    /// limit.
    bool CheckAgent(const SearchNode& state, std::uint64_t agent) const override;
    /// The inner default checker's answer.
    bool IsDeadEnd(const SearchNode& state) const override;

private:
    DefaultConstraintChecker inner_;
    std::vector<AgentEntry> agents_;
};

}  // namespace vornik

#endif  // VORNIK_PLUGINS_TIMELIMITCONSTRAINTCHECKER_H
