#ifndef VORNIK_CORE_INSTANCEMODEL_H
#define VORNIK_CORE_INSTANCEMODEL_H

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/CostTables.h"
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

/// A stretch of a flat list: entries [begin, end) of it.
template <typename T>
struct ListView {
    const T* begin_ = nullptr;
    const T* end_ = nullptr;
    const T* begin() const { return begin_; }
    const T* end() const { return end_; }
    std::size_t size() const { return static_cast<std::size_t>(end_ - begin_); }
    bool empty() const { return begin_ == end_; }
    const T& operator[](std::size_t k) const { return begin_[k]; }
};

/// An instance read once from a Problem, indexed by vertex (a node's position in
/// Problem::nodes) and by type index: node ids and positions, the allowed types of every
/// vertex, the one window per vertex that the focal search honours and the several
/// windows the improvement engine honours, service, demands, required flags and
/// penalties, each agent's start, end, type, limit and capacities, and one cost table
/// per agent type. The search's tables, the checkers, the post-optimizers and the
/// improvement engine all read costs from here; nobody keeps another dense copy.
///
/// A type's costs come from its matrix (copied once into a dense n x n table), from a
/// caller's array (read in place) or from the distances between node positions (computed
/// when asked). A cost the instance does not give (no costs for the type, a short row,
/// missing rows) is kNoArc; every given cost is kept as given. Read-only once built.
///
/// Not limited to the focal search's 256 vertices; a type with a matrix costs n^2
/// doubles, a type with an array or computed distances nothing.
class InstanceModel {
public:
    static constexpr double kNoArc = std::numeric_limits<double>::infinity();

    /// Throws as the Solver's construction always has: std::out_of_range
    /// ("_Map_base::at: ...") for a start or end id that no node has or a cost matrix
    /// whose type no agent has, std::invalid_argument for a matrix larger than the node
    /// count or a NaN cost. With `warn`, the lines for nodes without an assignment and for
    /// windows of unknown node ids go to the standard error stream, in that order.
    explicit InstanceModel(const Problem& problem, bool warn = false);
    /// The same with costs beside the Problem's matrices, replacing a matrix of the same
    /// type (whose entries are then checked but not copied). Arrays are read in place and
    /// must outlive the model; they are refused (std::invalid_argument) unless n x n,
    /// without NaN, finite and >= 0 off the diagonal. Computed types need finite
    /// coordinates of magnitude at most 1e150.
    InstanceModel(const Problem& problem, const CostTables& tables, bool warn = false);

    [[nodiscard]] std::size_t NumVertices() const { return n_; }
    [[nodiscard]] std::uint64_t NodeId(std::size_t v) const { return node_ids_[v]; }
    [[nodiscard]] const Position& NodePosition(std::size_t v) const { return positions_[v]; }
    [[nodiscard]] const std::vector<Position>& Positions() const { return positions_; }
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

    /// Every window given to `v` when it has more than one, as given (unsorted, not
    /// merged); empty otherwise, Window(v) being its only one.
    [[nodiscard]] ListView<std::pair<double, double>> WindowList(std::size_t v) const {
        return {window_list_.data() + window_list_offset_[v],
                window_list_.data() + window_list_offset_[v + 1]};
    }

    /// The fleet fields, as given (the improvement engine checks them).
    [[nodiscard]] double Service(std::size_t v) const { return service_[v]; }
    [[nodiscard]] bool Required(std::size_t v) const { return required_[v] != 0; }
    [[nodiscard]] double Penalty(std::size_t v) const { return penalty_[v]; }
    [[nodiscard]] ListView<double> Demands(std::size_t v) const {
        return {amounts_.data() + demand_offset_[v], amounts_.data() + demand_offset_[v + 1]};
    }
    [[nodiscard]] ListView<double> Capacities(std::size_t a) const {
        return {amounts_.data() + capacity_offset_[a], amounts_.data() + capacity_offset_[a + 1]};
    }

    /// How the costs of one type are held: a dense row-major n x n table (the model's own
    /// copy of a matrix, or a caller's array), or distances computed under `rule`.
    struct CostSource {
        const double* data = nullptr;  ///< null for computed distances
        DistanceRule rule = DistanceRule::kExact;
        bool from_matrix = false;  ///< data is the model's copy of a Problem matrix
    };
    /// The costs of type `t`, or null when the instance gives none.
    [[nodiscard]] const CostSource* Costs(std::size_t t) const {
        const std::size_t table = table_of_type_[t];
        return table == kNoTable ? nullptr : &sources_[table];
    }
    /// Number of types whose costs came from a matrix (each holds an n x n table).
    [[nodiscard]] std::size_t NumMatrixTables() const { return matrix_tables_; }
    /// True when some type's costs are distances computed from node positions.
    [[nodiscard]] bool AnyComputed() const { return any_computed_; }

    /// Travel cost of type `t` from `u` to `v`, kNoArc when the instance does not give it.
    [[nodiscard]] double Cost(std::size_t t, std::size_t u, std::size_t v) const {
        const std::size_t table = table_of_type_[t];
        if (table == kNoTable) return kNoArc;
        const CostSource& source = sources_[table];
        if (source.data != nullptr) return source.data[u * n_ + v];
        return u == v ? 0.0 : PositionDistance(source.rule, positions_[u], positions_[v]);
    }
    /// True when the instance gives the cost of type `t` from `u` to `v`, whatever its value.
    [[nodiscard]] bool Given(std::size_t t, std::size_t u, std::size_t v) const {
        const std::size_t table = table_of_type_[t];
        return table != kNoTable && v < given_columns_[table * n_ + u];
    }
    /// Entries given in row `u` of type `t`'s costs: its first ones (a matrix's rows may
    /// be short), 0 without costs.
    [[nodiscard]] std::size_t GivenColumns(std::size_t t, std::size_t u) const {
        const std::size_t table = table_of_type_[t];
        return table == kNoTable ? 0 : given_columns_[table * n_ + u];
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
    std::vector<std::pair<double, double>> window_list_;
    std::vector<std::size_t> window_list_offset_;  ///< n + 1 entries
    std::vector<double> service_;
    std::vector<std::uint8_t> required_;
    std::vector<double> penalty_;
    /// Demands of vertex v at demand_offset_[v] .. [v + 1], capacities of agent a at
    /// capacity_offset_[a] .. [a + 1].
    std::vector<double> amounts_;
    std::vector<std::size_t> demand_offset_;
    std::vector<std::size_t> capacity_offset_;
    /// Only the types with costs have a table, so that many types without any cost
    /// nothing: table_of_type_[t] is kNoTable or the position of t's table in sources_.
    static constexpr std::size_t kNoTable = static_cast<std::size_t>(-1);
    std::vector<std::size_t> table_of_type_;
    std::vector<CostSource> sources_;
    std::vector<double> matrix_costs_;  ///< (matrix table * n + from) * n + to
    std::size_t matrix_tables_ = 0;
    bool any_computed_ = false;
    /// Entries given in row `from` of a table, at table * n + from: the given costs of a
    /// row are its first ones, as a matrix's rows may be short.
    std::vector<std::uint32_t> given_columns_;
};

}  // namespace vornik

#endif  // VORNIK_CORE_INSTANCEMODEL_H
