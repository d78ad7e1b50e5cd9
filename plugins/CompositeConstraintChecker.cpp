#include "plugins/CompositeConstraintChecker.h"

#include <stdexcept>
#include <utility>

namespace vornik {

CompositeConstraintChecker::~CompositeConstraintChecker() {
    // Children go in list order, not in the reverse order a vector would use.
    for (auto& child : children_) child.reset();
}

std::string CompositeConstraintChecker::GetName() const { return "CompositeConstraintChecker"; }

void CompositeConstraintChecker::AddChecker(std::unique_ptr<ConstraintCheckerPlugin> checker) {
    if (checker == nullptr) {
        throw std::invalid_argument("checker must not be null");
    }
    children_.push_back(std::move(checker));
}

void CompositeConstraintChecker::Init(const PlannerGraph* graph,
                                      const std::vector<NodeEntry>& nodes,
                                      const std::vector<AgentEntry>& agents) {
    for (auto& child : children_) child->Init(graph, nodes, agents);
}

bool CompositeConstraintChecker::ViolatesAssignment(std::uint64_t agent,
                                                    std::uint64_t vertex) const {
    for (const auto& child : children_) {
        if (child->ViolatesAssignment(agent, vertex)) return true;
    }
    return false;
}

ArrivalCheck CompositeConstraintChecker::CheckArrival(const SearchNode& state, std::uint64_t agent,
                                                      std::uint64_t vertex) const {
    // Until a child changes the time, every child sees exactly `state`, so it is passed
    // as it is; the copy is made only at the first change.
    const SearchNode* view = &state;
    bool changed = false;
    for (const auto& child : children_) {
        const ArrivalCheck check = child->CheckArrival(*view, agent, vertex);
        if (!check.feasible) return check;
        if (check.time_changed) {
            if (!changed) {
                scratch_ = state;
                view = &scratch_;
                changed = true;
            }
            scratch_.cost.at(agent) = check.time;
        }
    }
    if (changed) return ArrivalCheck{true, scratch_.cost[agent], true};
    return ArrivalCheck{true, 0.0, false};
}

bool CompositeConstraintChecker::CheckAgent(const SearchNode& state, std::uint64_t agent) const {
    for (const auto& child : children_) {
        if (!child->CheckAgent(state, agent)) return false;
    }
    return true;
}

bool CompositeConstraintChecker::IsDeadEnd(const SearchNode& state) const {
    for (const auto& child : children_) {
        if (child->IsDeadEnd(state)) return true;
    }
    return false;
}

}  // namespace vornik
