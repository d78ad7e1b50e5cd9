#include "core/InstanceModel.h"

#include <algorithm>
#include <cmath>
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

// Coordinates up to this magnitude keep squared differences finite.
constexpr double kLargestCoordinate = 1e150;

bool ReplacedByTables(const CostTables& tables, const std::string& name) {
    for (const CostTables::Array& array : tables.arrays) {
        if (array.type == name) return true;
    }
    for (const auto& computed : tables.computed) {
        if (computed.first == name) return true;
    }
    return false;
}

}  // namespace

InstanceModel::InstanceModel(const Problem& problem, bool warn)
    : InstanceModel(problem, CostTables{}, warn) {}

InstanceModel::InstanceModel(const Problem& problem, const CostTables& tables, bool warn)
    : n_(problem.nodes.size()) {
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

    // Several windows of one vertex, kept as given for the improvement engine.
    window_list_offset_.assign(n_ + 1, 0);
    {
        std::vector<const std::vector<std::pair<double, double>>*> lists(n_, nullptr);
        for (const auto& [node_id, given] : problem.timewindow_constraint.windows_by_node) {
            const auto found = vertex_by_id_.find(node_id);
            if (found != vertex_by_id_.end() && given.size() >= 2) lists[found->second] = &given;
        }
        for (std::size_t v = 0; v < n_; ++v) {
            window_list_offset_[v] = window_list_.size();
            if (lists[v] != nullptr) {
                window_list_.insert(window_list_.end(), lists[v]->begin(), lists[v]->end());
            }
        }
        window_list_offset_[n_] = window_list_.size();
    }

    // Fleet fields, one flat list of amounts for demands and capacities.
    service_.reserve(n_);
    required_.reserve(n_);
    penalty_.reserve(n_);
    demand_offset_.reserve(n_ + 1);
    for (const Node& node : problem.nodes) {
        service_.push_back(node.service);
        required_.push_back(node.required ? 1 : 0);
        penalty_.push_back(node.penalty);
        demand_offset_.push_back(amounts_.size());
        amounts_.insert(amounts_.end(), node.demands.begin(), node.demands.end());
    }
    demand_offset_.push_back(amounts_.size());
    capacity_offset_.reserve(problem.agents_ordered.size() + 1);
    for (const vornik::Agent& agent : problem.agents_ordered) {
        capacity_offset_.push_back(amounts_.size());
        amounts_.insert(amounts_.end(), agent.capacities.begin(), agent.capacities.end());
    }
    capacity_offset_.push_back(amounts_.size());

    // Every matrix is checked before any is copied, so a fault is reported whatever
    // comes after it. A matrix whose type the tables give is checked but not copied.
    for (const auto& [name, matrix] : problem.cost_matrices) {
        if (problem.type_index_of.find(name) == problem.type_index_of.end()) {
            throw std::out_of_range("_Map_base::at: cost matrix for agent type '" + name +
                                    "', which no agent has");
        }
        CheckCostMatrix(name, matrix, n_);
        if (!ReplacedByTables(tables, name)) ++matrix_tables_;
    }
    const auto type_named = [&](const std::string& name, const char* what) {
        const auto type = problem.type_index_of.find(name);
        if (type == problem.type_index_of.end()) {
            throw std::out_of_range("_Map_base::at: " + std::string(what) + " for agent type '" +
                                    name + "', which no agent has");
        }
        return type->second;
    };
    table_of_type_.assign(type_names_.size(), kNoTable);
    // Tables in the order matrices, arrays, computed types; a later one of the same type
    // takes the type over.
    const auto add_source = [&](std::size_t type, const CostSource& source) {
        table_of_type_[type] = sources_.size();
        sources_.push_back(source);
        given_columns_.resize(given_columns_.size() + n_, static_cast<std::uint32_t>(n_));
    };
    matrix_costs_.assign(matrix_tables_ * n_ * n_, kNoArc);
    std::size_t matrix_table = 0;
    for (const auto& [name, matrix] : problem.cost_matrices) {
        if (ReplacedByTables(tables, name)) continue;
        double* table = matrix_costs_.data() + matrix_table * n_ * n_;
        add_source(problem.type_index_of.at(name), CostSource{table, DistanceRule::kExact, true});
        std::uint32_t* given = given_columns_.data() + (sources_.size() - 1) * n_;
        std::fill(given, given + n_, 0U);
        for (std::size_t u = 0; u < matrix.size(); ++u) {
            given[u] = static_cast<std::uint32_t>(matrix[u].size());
            std::copy(matrix[u].begin(), matrix[u].end(), table + u * n_);
        }
        ++matrix_table;
    }
    for (const CostTables::Array& array : tables.arrays) {
        const std::size_t type = type_named(array.type, "cost matrix");
        CheckCostArray(array, n_);
        add_source(type, CostSource{array.data, DistanceRule::kExact, false});
    }
    if (!tables.computed.empty()) {
        for (const Node& node : problem.nodes) {
            for (const double coordinate : {node.position.x, node.position.y, node.position.z}) {
                // Beyond this, squared differences overflow and every cost is infinite.
                if (!(std::abs(coordinate) <= kLargestCoordinate)) {
                    throw std::invalid_argument(
                        "the coordinates of node " + std::to_string(node.id) +
                        " must be finite numbers of magnitude at most 1e150 when costs are "
                        "distances between nodes");
                }
            }
        }
    }
    for (const auto& [name, rule] : tables.computed) {
        add_source(type_named(name, "distances"), CostSource{nullptr, rule, false});
        any_computed_ = true;
    }
}

std::int64_t InstanceModel::VertexOf(std::uint64_t id) const {
    const auto found = vertex_by_id_.find(id);
    return found == vertex_by_id_.end() ? -1 : static_cast<std::int64_t>(found->second);
}

}  // namespace vornik
