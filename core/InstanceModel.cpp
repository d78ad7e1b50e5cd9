#include "core/InstanceModel.h"

#include <algorithm>
#include <sstream>
#include <stdexcept>

#include "core/AllowedTypes.h"
#include "core/CostMatrixCheck.h"
#include "core/Diagnostics.h"

namespace vornik {

namespace {

// Strict node-id lookup. The message keeps the standard library's "_Map_base::at" first,
// so callers matching on it still do, and adds what is missing.
std::uint32_t VertexOfAgentNode(
    const std::unordered_map<std::uint64_t, std::uint32_t>& vertex_by_id, std::uint64_t node_id,
    const Agent& agent, std::size_t index, const char* field) {
    const auto found = vertex_by_id.find(node_id);
    if (found == vertex_by_id.end()) {
        std::ostringstream message;
        message << "_Map_base::at: " << field << " " << node_id << " of agent " << agent.id
                << " (agent index " << index << ") is not the id of any node";
        throw std::out_of_range(message.str());
    }
    return found->second;
}

}  // namespace

InstanceModel::InstanceModel(const Problem& problem, bool warn) : n_(problem.nodes.size()) {
    // Vertices: a later node with the same id takes the id over.
    node_ids_.reserve(n_);
    positions_.reserve(n_);
    for (std::size_t v = 0; v < n_; ++v) {
        const Node& node = problem.nodes[v];
        vertex_by_id_[node.id] = static_cast<std::uint32_t>(v);
        node_ids_.push_back(node.id);
        positions_.push_back(node.position);
    }

    // Types are numbered densely by first appearance, so every index has a name.
    type_names_.resize(problem.type_index_of.size());
    for (const auto& [name, index] : problem.type_index_of) type_names_.at(index) = name;

    for (std::size_t a = 0; a < problem.agents_ordered.size(); ++a) {
        const vornik::Agent& agent = problem.agents_ordered[a];
        const auto type = problem.agent_type_of.find(agent.id);
        ModelAgent entry;
        entry.id = agent.id;
        entry.type =
            type == problem.agent_type_of.end() ? -1 : static_cast<std::int64_t>(type->second);
        entry.start = VertexOfAgentNode(vertex_by_id_, agent.start_node, agent, a, "start_node");
        entry.end = VertexOfAgentNode(vertex_by_id_, agent.end_node, agent, a, "end_node");
        entry.time_limit = agent.time_limit;
        entry.capacity_limit = agent.capacity_limit;
        agents_.push_back(entry);
    }

    allowed_.reserve(n_);
    for (std::size_t v = 0; v < n_; ++v) {
        allowed_.push_back(BuildAllowedTypes(problem, node_ids_[v], warn));
    }

    // A window of an id that no node has belongs to nothing; it is reported and dropped.
    windows_.assign(n_, TimeWindow{});
    for (const auto& [node_id, window] : problem.timewindow_constraint.window_by_node) {
        const auto found = vertex_by_id_.find(node_id);
        if (found == vertex_by_id_.end()) {
            if (warn) {
                WarnLine("[warning] time window node id " + std::to_string(node_id) +
                         " not found in nodes");
            }
            continue;
        }
        windows_[found->second] = TimeWindow{true, window.first, window.second};
        has_windows_ = true;
    }

    // Every matrix is checked before any is copied, so a fault is reported whatever
    // comes after it.
    for (const auto& [name, matrix] : problem.cost_matrices) {
        if (problem.type_index_of.find(name) == problem.type_index_of.end()) {
            throw std::out_of_range("_Map_base::at: cost matrix for agent type '" + name +
                                    "', which no agent has");
        }
        CheckCostMatrix(name, matrix, n_);
    }
    table_of_type_.assign(type_names_.size(), kNoTable);
    costs_.assign(problem.cost_matrices.size() * n_ * n_, kNoArc);
    given_columns_.assign(problem.cost_matrices.size() * n_, 0);
    std::size_t table = 0;
    for (const auto& [name, matrix] : problem.cost_matrices) {
        table_of_type_[problem.type_index_of.at(name)] = table;
        for (std::size_t u = 0; u < matrix.size(); ++u) {
            given_columns_[table * n_ + u] = static_cast<std::uint32_t>(matrix[u].size());
            std::copy(matrix[u].begin(), matrix[u].end(), costs_.begin() + (table * n_ + u) * n_);
        }
        ++table;
    }
}

std::int64_t InstanceModel::VertexOf(std::uint64_t id) const {
    const auto found = vertex_by_id_.find(id);
    return found == vertex_by_id_.end() ? -1 : static_cast<std::int64_t>(found->second);
}

}  // namespace vornik
