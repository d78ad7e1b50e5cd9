#include "improve/EngineModel.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <unordered_map>

#include "core/AllowedTypes.h"
#include "core/CostMatrixCheck.h"
#include "improve/NeighbourLists.h"
#include "improve/Precheck.h"

namespace vornik {

namespace {

std::uint32_t VertexOf(const std::unordered_map<std::uint64_t, std::uint32_t>& vertex_by_id,
                       std::uint64_t node_id, const Agent& agent, const char* field) {
    const auto found = vertex_by_id.find(node_id);
    if (found == vertex_by_id.end()) {
        throw std::out_of_range("_Map_base::at: " + std::string(field) + " " +
                                std::to_string(node_id) + " of agent " + std::to_string(agent.id) +
                                " is not the id of any node");
    }
    return found->second;
}

// A node's windows sorted by opening, overlapping or touching ones merged, empty ones
// (closing before they open) dropped. A node whose windows are all empty keeps one
// window that nothing can meet.
std::vector<TimeWindow> MergeWindows(std::vector<std::pair<double, double>> given) {
    std::sort(given.begin(), given.end());
    std::vector<TimeWindow> merged;
    for (const auto& [start, end] : given) {
        if (!(start <= end)) continue;
        if (!merged.empty() && !(start > merged.back().end)) {
            merged.back().end = std::max(merged.back().end, end);
        } else {
            merged.push_back(TimeWindow{true, start, end});
        }
    }
    if (merged.empty()) {
        merged.push_back(TimeWindow{true, std::numeric_limits<double>::infinity(),
                                    -std::numeric_limits<double>::infinity()});
    }
    return merged;
}

// Amounts of one kind in `dims` dimensions: an empty list is zeros, anything else must
// have exactly `dims` finite entries >= 0.
void CheckAmounts(const std::vector<double>& amounts, std::size_t dims, const std::string& what) {
    if (!amounts.empty() && amounts.size() != dims) {
        throw std::invalid_argument(what + " has " + std::to_string(amounts.size()) +
                                    " entries but the instance has " + std::to_string(dims) +
                                    " load dimensions");
    }
    for (const double amount : amounts) {
        if (!(std::isfinite(amount) && amount >= 0.0)) {
            throw std::invalid_argument(what + " must hold finite numbers >= 0 (got " +
                                        std::to_string(amount) + ")");
        }
    }
}

// Coordinates up to this magnitude keep squared differences finite.
constexpr double kLargestCoordinate = 1e150;
// Above this many targets, neighbour lists of computed distances come from a grid.
constexpr std::size_t kGridTargets = 1000;

// A caller's array must be n x n, without NaN, and finite and >= 0 off the diagonal.
void CheckCostArray(const CostTables::Array& array, std::size_t n) {
    const std::string name = "cost_matrices['" + array.type + "']";
    if (array.rows != n || array.columns != n) {
        throw std::invalid_argument(
            name + " must be a " + std::to_string(n) + " x " + std::to_string(n) +
            " array, one row and column per node (got " + std::to_string(array.rows) + " x " +
            std::to_string(array.columns) + ")");
    }
    for (std::size_t r = 0; r < n; ++r) {
        for (std::size_t c = 0; c < n; ++c) {
            const double cost = array.data[r * n + c];
            // NaN is refused on the diagonal too, as CheckCostMatrix does for lists.
            if (r == c && std::isnan(cost)) {
                throw std::invalid_argument(name + ": entry [" + std::to_string(r) + "][" +
                                            std::to_string(c) + "] is NaN");
            }
            CheckTravelCost(array.type, r, c, cost);
        }
    }
}

}  // namespace

EngineModel::EngineModel(const Problem& problem, const CostTables& tables)
    : n_(problem.nodes.size()),
      return_to_end_(problem.options.return_to_end),
      objective_(problem.options.objective) {
    // A later node with the same id takes the id over, as in the Solver.
    std::unordered_map<std::uint64_t, std::uint32_t> vertex_by_id;
    for (std::size_t v = 0; v < n_; ++v) {
        vertex_by_id[problem.nodes[v].id] = static_cast<std::uint32_t>(v);
    }

    // One cost slot per type index in use; the agent's type is the one recorded under its
    // id (a later agent with the same id takes it over, as in the Solver).
    std::unordered_map<std::int64_t, std::size_t> slot_of_type;
    std::vector<std::int64_t> type_of_slot;
    for (const vornik::Agent& agent : problem.agents_ordered) {
        const auto found = problem.agent_type_of.find(agent.id);
        const std::int64_t type =
            found == problem.agent_type_of.end() ? -1 : static_cast<std::int64_t>(found->second);
        auto [slot, inserted] = slot_of_type.emplace(type, type_of_slot.size());
        if (inserted) type_of_slot.push_back(type);
        EngineAgent entry;
        entry.id = agent.id;
        entry.slot = slot->second;
        entry.start = VertexOf(vertex_by_id, agent.start_node, agent, "start_node");
        entry.end = VertexOf(vertex_by_id, agent.end_node, agent, "end_node");
        entry.limit = agent.time_limit;
        agents_.push_back(entry);
    }

    is_target_.assign(n_, 1);
    for (const EngineAgent& agent : agents_) {
        is_target_[agent.start] = 0;
        is_target_[agent.end] = 0;
    }
    for (std::size_t v = 0; v < n_; ++v) {
        if (is_target_[v] != 0) targets_.push_back(static_cast<std::uint32_t>(v));
    }

    // Cost tables: entries the instance does not give stay "no arc".
    constexpr std::size_t kNoTable = static_cast<std::size_t>(-1);
    table_of_slot_.assign(type_of_slot.size(), kNoTable);
    const auto slot_named = [&](const std::string& name, const char* what) {
        const auto type = problem.type_index_of.find(name);
        if (type == problem.type_index_of.end()) {
            throw std::out_of_range("_Map_base::at: " + std::string(what) + " for agent type '" +
                                    name + "', which no agent has");
        }
        const auto slot = slot_of_type.find(static_cast<std::int64_t>(type->second));
        // A type whose agents were all renamed has no slot.
        return slot == slot_of_type.end() ? kNoTable : slot->second;
    };
    // Where tables give a type's costs, its matrix is not read at all.
    const auto in_tables = [&](const std::string& name) {
        for (const CostTables::Array& array : tables.arrays) {
            if (array.type == name) return true;
        }
        for (const auto& computed : tables.computed) {
            if (computed.first == name) return true;
        }
        return false;
    };
    for (const auto& [name, matrix] : problem.cost_matrices) {
        const std::size_t slot = slot_named(name, "cost matrix");
        CheckCostMatrix(name, matrix, n_);
        if (slot == kNoTable || in_tables(name)) continue;
        std::vector<double>& table = owned_.emplace_back(n_ * n_, kNoArc);
        for (std::size_t r = 0; r < matrix.size(); ++r) {
            for (std::size_t c = 0; c < matrix[r].size(); ++c) {
                const double cost = matrix[r][c];
                // A negative or infinite cost would let clocks fall, or never end, along a
                // route: the engine's segments and the checker's walk would disagree.
                CheckTravelCost(name, r, c, cost);
                table[r * n_ + c] = cost;
            }
        }
        table_of_slot_[slot] = tables_.size();
        tables_.push_back(Table{table.data(), DistanceRule::kExact, false});
    }
    for (const CostTables::Array& array : tables.arrays) {
        const std::size_t slot = slot_named(array.type, "cost matrix");
        CheckCostArray(array, n_);
        if (slot == kNoTable) continue;
        table_of_slot_[slot] = tables_.size();
        tables_.push_back(Table{array.data, DistanceRule::kExact, false});
    }
    if (!tables.computed.empty()) {
        positions_.reserve(n_);
        for (const vornik::Node& node : problem.nodes) {
            for (const double coordinate : {node.position.x, node.position.y, node.position.z}) {
                // Beyond this, squared differences overflow and every cost is infinite.
                if (!(std::abs(coordinate) <= kLargestCoordinate)) {
                    throw std::invalid_argument(
                        "the coordinates of node " + std::to_string(node.id) +
                        " must be finite numbers of magnitude at most 1e150 when costs are "
                        "distances between nodes");
                }
            }
            positions_.push_back(node.position);
        }
    }
    for (const auto& [name, rule] : tables.computed) {
        const std::size_t slot = slot_named(name, "distances");
        if (slot == kNoTable) continue;
        table_of_slot_[slot] = tables_.size();
        tables_.push_back(Table{nullptr, rule, false});
    }
    for (std::size_t& table : table_of_slot_) {
        if (table != kNoTable) continue;
        if (no_arc_table_ == kNoTable) {
            no_arc_table_ = tables_.size();
            tables_.push_back(Table{nullptr, DistanceRule::kExact, true});
        }
        table = no_arc_table_;
    }

    allowed_.assign(type_of_slot.size() * n_, 0);
    for (std::size_t v = 0; v < n_; ++v) {
        if (is_target_[v] == 0) continue;
        for (const std::int64_t type : BuildAllowedTypes(problem, problem.nodes[v].id, false)) {
            const auto slot = slot_of_type.find(type);
            if (slot != slot_of_type.end()) allowed_[slot->second * n_ + v] = 1;
        }
    }

    windows_.assign(n_, TimeWindow{});
    for (const auto& [node_id, window] : problem.timewindow_constraint.window_by_node) {
        const auto found = vertex_by_id.find(node_id);
        if (found == vertex_by_id.end()) continue;  // reported by the Solver
        windows_[found->second] = TimeWindow{true, window.first, window.second};
        has_windows_ = true;
    }
    // Several windows: the vertex's window becomes their span, and the list is kept for
    // the walk. One window stays exactly as given, as the focal search reads it.
    std::vector<std::vector<TimeWindow>> lists(n_);
    for (const auto& [node_id, given] : problem.timewindow_constraint.windows_by_node) {
        const auto found = vertex_by_id.find(node_id);
        if (found == vertex_by_id.end() || given.size() < 2) continue;
        std::vector<TimeWindow> merged = MergeWindows(given);
        windows_[found->second] = TimeWindow{true, merged.front().start, merged.back().end};
        if (merged.size() > 1) lists[found->second] = std::move(merged);
    }
    window_offset_.assign(n_ + 1, 0);
    for (std::size_t v = 0; v < n_; ++v) {
        window_offset_[v] = several_.size();
        several_.insert(several_.end(), lists[v].begin(), lists[v].end());
        any_several_windows_ = any_several_windows_ || !lists[v].empty();
    }
    window_offset_[n_] = several_.size();

    // A route ends with a move onto the vertex that closes it, and that vertex's assignment
    // must admit the agent's type, as in the focal search and the checker: the end vertex,
    // or, on open routes, the start vertex when the end does not admit it or has a window
    // the start has not. An agent that can close nowhere leaves the instance without a
    // solution. Every start and end given stays a depot all the same.
    for (std::size_t a = 0; a < agents_.size(); ++a) {
        EngineAgent& agent = agents_[a];
        const std::int64_t type = type_of_slot[agent.slot];
        const auto admits = [&](std::uint32_t v) {
            const std::vector<std::int64_t> types =
                BuildAllowedTypes(problem, problem.nodes[v].id, false);
            return std::find(types.begin(), types.end(), type) != types.end();
        };
        // The closing leg of an open route is free, so either vertex is reached at the
        // same time, never before the start's window opened (the route left then): the
        // start never delays that arrival, and refuses it no sooner than the end does when
        // its window closes no earlier (a start with several windows may make it wait).
        const TimeWindow& at_start = windows_[agent.start];
        const TimeWindow& at_end = windows_[agent.end];
        const bool start_is_better =
            !return_to_end_ && admits(agent.start) && agent.start != agent.end &&
            lists[agent.start].empty() &&
            (!at_start.present || (at_end.present && at_start.end >= at_end.end));
        if (admits(agent.end) && !start_is_better) continue;
        if (!return_to_end_ && admits(agent.start)) {
            agent.end = agent.start;
        } else {
            routable_ = false;
        }
    }

    // Service, loads and optional targets.
    node_ids_.resize(n_);
    service_.assign(n_, 0.0);
    required_.assign(n_, 1);
    penalty_.assign(n_, 0.0);
    for (const vornik::Node& node : problem.nodes) dims_ = std::max(dims_, node.demands.size());
    for (const vornik::Agent& agent : problem.agents_ordered) {
        dims_ = std::max(dims_, agent.capacities.size());
    }
    demand_.assign(n_ * dims_, 0.0);
    for (std::size_t v = 0; v < n_; ++v) {
        const vornik::Node& node = problem.nodes[v];
        const std::string name = "node " + std::to_string(node.id);
        node_ids_[v] = node.id;
        CheckAmounts(node.demands, dims_, "demands of " + name);
        std::copy(node.demands.begin(), node.demands.end(), demand_.begin() + v * dims_);
        if (!(std::isfinite(node.service) && node.service >= 0.0)) {
            throw std::invalid_argument("service of " + name + " must be a finite number >= 0");
        }
        if (!(std::isfinite(node.penalty) && node.penalty >= 0.0)) {
            throw std::invalid_argument("penalty of " + name + " must be a finite number >= 0");
        }
        if (node.service != 0.0 && is_target_[v] == 0) {
            throw std::invalid_argument("service of " + name +
                                        " must be 0: an agent starts or ends there");
        }
        service_[v] = node.service;
        any_service_ = any_service_ || node.service != 0.0;
        if (is_target_[v] != 0 && !node.required) {
            required_[v] = 0;
            penalty_[v] = node.penalty;
            any_optional_ = true;
        }
    }
    capacity_.assign(agents_.size() * dims_, std::numeric_limits<double>::infinity());
    for (std::size_t a = 0; a < agents_.size(); ++a) {
        const vornik::Agent& agent = problem.agents_ordered[a];
        CheckAmounts(agent.capacities, dims_, "capacities of agent " + std::to_string(agent.id));
        for (std::size_t d = 0; d < agent.capacities.size(); ++d) {
            // 0 is no limit in that dimension, as 0 is for max_length.
            if (agent.capacities[d] > 0) capacity_[a * dims_ + d] = agent.capacities[d];
        }
    }

    // Neighbour lists by the cheapest round trip over the types in use. When every type
    // travels at distances between positions, the nearest lie close by in the plane and a
    // grid finds them without comparing every pair.
    std::vector<std::size_t> agent_of_table(tables_.size(), 0);
    for (std::size_t a = agents_.size(); a-- > 0;)
        agent_of_table[table_of_slot_[agents_[a].slot]] = a;
    bool computed_only = !positions_.empty();
    bool any_arc = false;
    for (const Table& table : tables_) {
        computed_only = computed_only && table.data == nullptr;
        any_arc = any_arc || !table.no_arc;
    }
    const NearnessKey round_trip = [&](std::uint32_t v, std::uint32_t w) {
        double best = kNoArc;
        for (std::size_t t = 0; t < tables_.size(); ++t) {
            const std::size_t a = agent_of_table[t];
            best = std::min(best, Cost(a, v, w) + Cost(a, w, v));
        }
        return best;
    };
    // Rounded distances stay within half a unit of the straight line.
    constexpr double kRoundingSlack = 2.0;
    neighbours_ =
        computed_only && any_arc && targets_.size() > kGridTargets
            ? NearestOnGrid(n_, targets_, kNeighbours, round_trip, positions_, kRoundingSlack)
            : NearestByKey(n_, targets_, kNeighbours, round_trip);

    // Targets that no route can serve are found once and left out of the search.
    servable_.assign(n_, 1);
    precheck_ = PrecheckTargets(*this);
    for (const TargetReason& reason : precheck_) servable_[reason.vertex] = 0;
}

}  // namespace vornik
