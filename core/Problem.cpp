#include "core/Problem.h"

namespace vornik {

void AssignmentConstraint::SetAssignment(std::uint64_t node, std::vector<std::string> types) {
    types_by_node[node] = std::move(types);
}

void TimeWindowConstraint::SetTimewindow(std::uint64_t node, double start, double end) {
    window_by_node[node] = {start, end};
    windows_by_node.erase(node);
}

void TimeWindowConstraint::AddTimewindow(std::uint64_t node, double start, double end) {
    const auto single = window_by_node.find(node);
    if (single != window_by_node.end()) {
        // The node's first window lives only in window_by_node until a second one comes.
        auto [list, inserted] = windows_by_node.try_emplace(node);
        if (inserted) list->second.push_back(single->second);
        list->second.emplace_back(start, end);
    }
    window_by_node[node] = {start, end};
}

void Problem::AddNode(const Node& node) { nodes.push_back(node); }

void Problem::AddAgent(const Agent& agent, std::uint64_t id) {
    // Type indices are dense and follow first appearance, so the first name seen is 0.
    auto found = type_index_of.find(agent.type);
    if (found == type_index_of.end()) {
        found = type_index_of.emplace(agent.type, type_index_of.size()).first;
    }
    agent_type_of[id] = found->second;
    agents_ordered.push_back(agent);
}

void Problem::SetCostMatrix(const std::string& agent_type, CostMatrix matrix) {
    cost_matrices[agent_type] = std::move(matrix);
}

void Problem::SetAssignmentConstraint(const AssignmentConstraint& constraint) {
    assignment_constraint = constraint;
}

void Problem::SetTimewindowConstraint(const TimeWindowConstraint& constraint) {
    timewindow_constraint = constraint;
}

}  // namespace vornik
