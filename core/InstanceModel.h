#ifndef VORNIK_CORE_INSTANCEMODEL_H
#define VORNIK_CORE_INSTANCEMODEL_H

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/Problem.h"
#include "core/RouteRules.h"

namespace vornik {

/// One agent by vertices: where its route starts and ends, its type and its limit.
struct ModelAgent {
    std::uint64_t id = 0;
    std::int64_t type = -1;  ///< type index (Problem::type_index_of); -1 when none is recorded
    std::uint32_t start = 0;
    std::uint32_t end = 0;
    double time_limit = 0.0;  ///< bounds the route's clock when > 0
    double capacity_limit = 0.0;
};

/// An instance read once from a Problem, indexed by vertex (a node's position in
/// Problem::nodes) and by type index, with dense tables for everything a route needs:
/// node ids, the allowed types of every vertex, the one window per vertex that the focal
/// search honours, each agent's start, end, type and limit, and one n x n cost table per
/// agent type. A cost the instance does not give (no matrix for the type, a short row,
/// missing rows) is kNoArc; every given cost is kept as given. Read-only once built.
///
/// Not limited to the focal search's 256 vertices, but every table is dense: n^2 doubles
/// per type.
class InstanceModel {
public:
    static constexpr double kNoArc = std::numeric_limits<double>::infinity();

    /// Throws as the Solver's construction always has: std::out_of_range
    /// ("_Map_base::at: ...") for a start or end id that no node has or a cost matrix
    /// whose type no agent has, std::invalid_argument for a matrix larger than the node
    /// count or a NaN cost. With `warn`, the lines for nodes without an assignment and for
    /// windows of unknown node ids go to the standard error stream, in that order.
    explicit InstanceModel(const Problem& problem, bool warn = false);

    [[nodiscard]] std::size_t NumVertices() const { return n_; }
    [[nodiscard]] std::uint64_t NodeId(std::size_t v) const { return node_ids_[v]; }
    [[nodiscard]] const Position& NodePosition(std::size_t v) const { return positions_[v]; }
    /// The vertex of node `id` (the last node with that id), or -1 when no node has it.
    [[nodiscard]] std::int64_t VertexOf(std::uint64_t id) const;

    /// Number of agent types, the type indices being 0 .. NumTypes() - 1.
    [[nodiscard]] std::size_t NumTypes() const { return type_names_.size(); }
    [[nodiscard]] const std::string& TypeName(std::size_t t) const { return type_names_[t]; }

    [[nodiscard]] std::size_t NumAgents() const { return agents_.size(); }
    [[nodiscard]] const ModelAgent& Agent(std::size_t a) const { return agents_[a]; }

    /// Type indices that may serve `v`: ascending, no duplicates; empty admits nobody.
    [[nodiscard]] const std::vector<std::int64_t>& AllowedTypes(std::size_t v) const {
        return allowed_[v];
    }

    /// The window of `v` (absent when it has none).
    [[nodiscard]] const TimeWindow& Window(std::size_t v) const { return windows_[v]; }
    [[nodiscard]] bool HasWindows() const { return has_windows_; }

    /// Travel cost of type `t` from `u` to `v`, kNoArc when the instance does not give it.
    [[nodiscard]] double Cost(std::size_t t, std::size_t u, std::size_t v) const {
        const std::size_t table = table_of_type_[t];
        return table == kNoTable ? kNoArc : costs_[(table * n_ + u) * n_ + v];
    }
    /// True when the instance gives the cost of type `t` from `u` to `v`, whatever its value.
    [[nodiscard]] bool Given(std::size_t t, std::size_t u, std::size_t v) const {
        const std::size_t table = table_of_type_[t];
        return table != kNoTable && v < given_columns_[table * n_ + u];
    }

private:
    std::size_t n_ = 0;
    std::vector<std::uint64_t> node_ids_;
    std::vector<Position> positions_;
    std::unordered_map<std::uint64_t, std::uint32_t> vertex_by_id_;
    std::vector<std::string> type_names_;
    std::vector<ModelAgent> agents_;
    std::vector<std::vector<std::int64_t>> allowed_;
    std::vector<TimeWindow> windows_;
    bool has_windows_ = false;
    /// Only the types with a matrix have a table, so that many types without one cost
    /// nothing: table_of_type_[t] is kNoTable or the position of t's table.
    static constexpr std::size_t kNoTable = static_cast<std::size_t>(-1);
    std::vector<std::size_t> table_of_type_;
    std::vector<double> costs_;  ///< (table * n + from) * n + to
    /// Entries given in row `from` of a table's matrix, at table * n + from: the given
    /// costs of a row are its first ones, as a matrix's rows may be short.
    std::vector<std::uint32_t> given_columns_;
};

}  // namespace vornik

#endif  // VORNIK_CORE_INSTANCEMODEL_H
