#include "plugins/TimeLimitConstraintChecker.h"

#include <cassert>

#include "core/RouteRules.h"

namespace vornik {

std::string TimeLimitConstraintChecker::GetName() const { return "TimeLimitConstraintChecker"; }

void TimeLimitConstraintChecker::Init(const PlannerGraph* graph,
                                      const std::vector<NodeEntry>& nodes,
                                      const std::vector<AgentEntry>& agents) {
    inner_.Init(graph, nodes, agents);
    agents_ = agents;
}

bool TimeLimitConstraintChecker::ViolatesAssignment(std::uint64_t agent,
                                                    std::uint64_t vertex) const {
    return inner_.ViolatesAssignment(agent, vertex);
}

ArrivalCheck TimeLimitConstraintChecker::CheckArrival(const SearchNode& /*state*/,
                                                      std::uint64_t /*agent*/,
                                                      std::uint64_t /*vertex*/) const {
    return ArrivalCheck{true, 0.0, false};
}

bool TimeLimitConstraintChecker::CheckAgent(const SearchNode& state, std::uint64_t agent) const {
    if (agent >= agents_.size()) return true;
    const double limit = agents_[agent].time_limit;
    // Without a limit the clock is not even read: a bare state may have none.
    if (!HasLimit(limit)) return true;
    assert(agent < state.cost.size() && "the search node has one cost per agent");
    return WithinLimit(state.cost[agent], limit);
}

bool TimeLimitConstraintChecker::IsDeadEnd(const SearchNode& state) const {
    return inner_.IsDeadEnd(state);
}

}  // namespace vornik
