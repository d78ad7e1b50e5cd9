#include "core/ProblemArrays.h"

#include <cmath>
#include <stdexcept>

namespace vornik {

namespace {

// Offsets must rise from 0 to the length of the array they index: anything else would
// read outside it.
void CheckOffsets(const std::int64_t* offsets, std::size_t nodes, std::size_t length,
                  const char* name) {
    if (offsets == nullptr) return;
    if (offsets[0] != 0 || offsets[nodes] != static_cast<std::int64_t>(length)) {
        throw std::invalid_argument(std::string(name) + " must run from 0 to " +
                                    std::to_string(length));
    }
    for (std::size_t v = 0; v < nodes; ++v) {
        if (offsets[v + 1] < offsets[v]) {
            throw std::invalid_argument(std::string(name) + " must not decrease (at node " +
                                        std::to_string(v) + ")");
        }
    }
}

std::vector<double> Amounts(const double* row, std::size_t dimensions, bool scalar) {
    if (row == nullptr || dimensions == 0) return {};
    // A single number 0 is no load at all, as the JSON reader has it.
    if (scalar && dimensions == 1 && row[0] == 0.0) return {};
    return std::vector<double>(row, row + dimensions);
}

const std::string& TypeName(const ProblemArrays& arrays, std::int32_t index, const char* what) {
    if (index < 0 || static_cast<std::size_t>(index) >= arrays.type_names.size()) {
        throw std::invalid_argument(std::string(what) + " holds the type index " +
                                    std::to_string(index) + ", outside the " +
                                    std::to_string(arrays.type_names.size()) + " types");
    }
    return arrays.type_names[static_cast<std::size_t>(index)];
}

void AddNodes(const ProblemArrays& a, bool fleet_fields, Problem& problem) {
    problem.nodes.reserve(a.nodes);
    for (std::size_t v = 0; v < a.nodes; ++v) {
        Node node;
        node.id = a.ids[v];
        node.position =
            Position{a.positions[3 * v], a.positions[3 * v + 1], a.positions[3 * v + 2]};
        if (a.depots != nullptr && a.depots[v] != 0) node.type = NodeType::DEPOT;
        const double* demand = a.demands == nullptr ? nullptr : a.demands + v * a.dimensions;
        // The single amount the focal search carries: the first dimension stands for all.
        if (demand != nullptr && a.dimensions > 0) node.demand = demand[0];
        if (fleet_fields) {
            node.demands = Amounts(demand, a.dimensions, a.scalar_loads);
            if (!a.scalar_loads) node.demand = 0.0;
            if (a.service != nullptr) node.service = a.service[v];
            if (a.required != nullptr) node.required = a.required[v] != 0;
            if (a.penalty != nullptr) node.penalty = a.penalty[v];
        }
        problem.AddNode(node);
    }
}

void AddAgents(const ProblemArrays& a, bool fleet_fields, Problem& problem) {
    problem.agents_ordered.reserve(a.agents);
    for (std::size_t k = 0; k < a.agents; ++k) {
        Agent agent;
        agent.id = a.agent_ids[k];
        agent.type = TypeName(a, a.agent_types[k], "agent_types");
        agent.start_node = a.start_nodes[k];
        agent.end_node = a.end_nodes[k];
        const double* capacity =
            a.capacities == nullptr ? nullptr : a.capacities + k * a.dimensions;
        if (capacity != nullptr && a.dimensions > 0) agent.capacity_limit = capacity[0];
        const double limit = a.max_length == nullptr ? 0.0 : a.max_length[k];
        if (fleet_fields) {
            agent.capacities = Amounts(capacity, a.dimensions, a.scalar_loads);
            agent.time_limit = limit;
        } else {
            // The focal search reads whole numbers here.
            agent.capacity_limit = std::trunc(agent.capacity_limit);
            agent.time_limit = std::trunc(limit);
        }
        problem.AddAgent(agent, agent.id);
    }
}

void AddConstraints(const ProblemArrays& a, bool fleet_fields, Problem& problem) {
    if (a.allowed_offsets != nullptr) {
        auto& lists = problem.assignment_constraint.types_by_node;
        lists.reserve(a.nodes);
        for (std::size_t v = 0; v < a.nodes; ++v) {
            std::vector<std::string> names;
            for (auto i = a.allowed_offsets[v]; i < a.allowed_offsets[v + 1]; ++i) {
                names.push_back(TypeName(a, a.allowed[i], "allowed"));
            }
            problem.assignment_constraint.SetAssignment(a.ids[v], std::move(names));
        }
    }
    if (a.window_offsets == nullptr) return;
    TimeWindowConstraint& windows = problem.timewindow_constraint;
    for (std::size_t v = 0; v < a.nodes; ++v) {
        for (auto w = a.window_offsets[v]; w < a.window_offsets[v + 1]; ++w) {
            const double start = a.windows[2 * w];
            const double end = a.windows[2 * w + 1];
            if (fleet_fields) {
                windows.AddTimewindow(a.ids[v], start, end);
            } else {
                windows.SetTimewindow(a.ids[v], start, end);
            }
        }
    }
}

}  // namespace

Problem ProblemFromArrays(const ProblemArrays& arrays, bool fleet_fields) {
    CheckOffsets(arrays.window_offsets, arrays.nodes, arrays.window_rows, "window_offsets");
    CheckOffsets(arrays.allowed_offsets, arrays.nodes, arrays.allowed_count, "allowed_offsets");
    Problem problem;
    AddNodes(arrays, fleet_fields, problem);
    AddAgents(arrays, fleet_fields, problem);
    AddConstraints(arrays, fleet_fields, problem);
    problem.options = arrays.options;
    return problem;
}

}  // namespace vornik
