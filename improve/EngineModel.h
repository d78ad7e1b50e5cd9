#ifndef VORNIK_IMPROVE_ENGINEMODEL_H
#define VORNIK_IMPROVE_ENGINEMODEL_H

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "core/CostTables.h"
#include "core/InstanceModel.h"
#include "core/Problem.h"
#include "core/RouteRules.h"
#include "improve/WarpSegment.h"

namespace vornik {

/// One agent as the improvement engine sees it: positions, not ids.
struct EngineAgent {
    std::uint64_t id = 0;
    std::size_t slot = 0;  ///< index of the agent's cost matrix in the model
    std::uint32_t start = 0;
    std::uint32_t end = 0;
    double limit = 0.0;  ///< bounds the route's cost when > 0
};

/// Why a target stays unserved: "type", "arc", "window", "capacity" or "limit", and a
/// sentence for people.
struct TargetReason {
    std::uint32_t vertex = 0;
    std::string reason;
    std::string message;
};

/// The improvement engine's read-only view of an instance model.
///
/// Vertices are positions in Problem::nodes, as everywhere else. Every agent's start and
/// end vertex is a depot; every other vertex is a target that exactly one route serves.
/// Costs are read from the instance model's tables, never copied: an entry the instance
/// does not give is no arc (+infinity) and every given cost is a real one, whatever its
/// size, or distances computed from node positions. The engine's own tables hold what
/// only it needs: targets, merged windows, loads in dimensions, neighbour lists and the
/// pre-check's findings. Not limited to 256 vertices.
class EngineModel {
public:
    static constexpr double kNoArc = std::numeric_limits<double>::infinity();

    /// Throws like the Solver's construction: std::out_of_range ("_Map_base::at: ...")
    /// for a start or end id that no node has, std::invalid_argument for a NaN cost or a
    /// matrix larger than the node count, and std::invalid_argument for a negative or
    /// infinite cost off the diagonal, for demands or capacities of different lengths,
    /// negative amounts, or service at a depot.
    ///
    /// `tables` adds costs beside the Problem's matrices (replacing one of the same type):
    /// arrays are read in place, never copied, and must outlive the model; computed types
    /// cost nothing to keep, whatever the node count.
    explicit EngineModel(const Problem& problem, const CostTables& tables = {});
    /// The same, reading `instance` (shared with whoever else reads it, such as the focal
    /// search) under `options`' return_to_end and objective. `near_table_bytes` bounds the
    /// memory of the renumbered copies of dense tables (below): tables past it are read as
    /// they are, which costs time but no memory.
    EngineModel(std::shared_ptr<const InstanceModel> instance, const Options& options,
                std::size_t near_table_bytes = kNearTableBytes);

    /// Memory the renumbered copies may take unless told otherwise: one table of 2,800
    /// vertices, or several smaller ones.
    static constexpr std::size_t kNearTableBytes = std::size_t{64} << 20;

    /// The instance model the costs are read from.
    const InstanceModel& Instance() const { return *instance_; }

    std::size_t NumVertices() const { return n_; }
    std::size_t NumAgents() const { return agents_.size(); }
    const EngineAgent& Agent(std::size_t a) const { return agents_[a]; }
    const std::vector<std::uint32_t>& Targets() const { return targets_; }
    bool IsTarget(std::uint32_t v) const { return is_target_[v] != 0; }
    bool ReturnToEnd() const { return return_to_end_; }
    ObjectiveType Objective() const { return objective_; }
    /// The window of `v`; for a vertex with several windows, the span from the first
    /// opening to the last closing.
    const TimeWindow& Window(std::uint32_t v) const { return windows_[v]; }
    bool HasWindows() const { return has_windows_; }
    /// True when `v` has more than one window: its arrival is walked, never put in closed form.
    bool HasSeveralWindows(std::uint32_t v) const {
        return window_offset_[v + 1] - window_offset_[v] > 1;
    }
    bool AnySeveralWindows() const { return any_several_windows_; }
    /// Arrival at `v` at clock `t`: waits for its window (the first one still open), false
    /// when they have all closed. Leaves `t` at the start of service.
    bool Arrive(std::uint32_t v, double& t) const {
        if (!HasSeveralWindows(v)) return ArriveWithinWindow(windows_[v], t);
        return ArriveWithinWindows(several_.data() + window_offset_[v],
                                   several_.data() + window_offset_[v + 1], t);
    }
    /// The same when lateness is allowed: after the last closing, back to it, adding the
    /// distance to `warp`.
    void ArriveWarping(std::uint32_t v, double& t, double& warp) const {
        if (!HasSeveralWindows(v)) {
            vornik::ArriveWarping(windows_[v], t, warp);
            return;
        }
        ArriveWarpingWithin(several_.data() + window_offset_[v],
                            several_.data() + window_offset_[v + 1], t, warp);
    }
    double Service(std::uint32_t v) const { return service_[v]; }
    /// False when every service is 0: adding it then changes no clock (none is -0), and
    /// the walks leave it out of their chains of additions.
    bool AnyService() const { return any_service_; }
    /// Number of load dimensions; 0 when nothing has a demand or a capacity.
    std::size_t Dimensions() const { return dims_; }
    double Demand(std::uint32_t v, std::size_t d) const { return demand_[v * dims_ + d]; }
    /// Agent a's capacity in dimension d; +infinity for no limit.
    double Capacity(std::size_t a, std::size_t d) const { return capacity_[a * dims_ + d]; }
    bool Required(std::uint32_t v) const { return required_[v] != 0; }
    double Penalty(std::uint32_t v) const { return penalty_[v]; }
    bool AnyOptional() const { return any_optional_; }
    /// True when a rule only this engine knows is in play: loads, service, several
    /// windows at one vertex, or optional targets.
    bool UsesFleetRules() const {
        return dims_ > 0 || any_service_ || any_several_windows_ || any_optional_;
    }
    /// False for targets that the pre-check showed no route can serve; the search leaves
    /// them out.
    bool Servable(std::uint32_t v) const { return servable_[v] != 0; }
    /// The pre-check's findings, one per unservable target, in vertex order.
    const std::vector<TargetReason>& PrecheckReasons() const { return precheck_; }
    /// Node id of vertex v.
    std::uint64_t NodeId(std::uint32_t v) const { return node_ids_[v]; }
    /// False when some agent's route cannot close: neither the vertex it must end on nor
    /// (on open routes) its start admits its type. The instance then has no solution.
    bool Routable() const { return routable_; }

    /// True when agent `a`'s type may serve target `v`.
    bool CanServe(std::size_t a, std::uint32_t v) const {
        return allowed_[agents_[a].slot * n_ + v] != 0;
    }
    /// True when agents a and b are of one type: same costs, same targets they may serve.
    bool SameType(std::size_t a, std::size_t b) const { return agents_[a].slot == agents_[b].slot; }
    /// Travel cost of agent `a` from `u` to `v` (0 when u == v; kNoArc when not given).
    double Cost(std::size_t a, std::uint32_t u, std::uint32_t v) const {
        if (u == v) return 0.0;
        const Table& table = agent_tables_[a];
        if (table.near != nullptr) {
            return table.near[static_cast<std::size_t>(rank_[u]) * n_ + rank_[v]];
        }
        if (table.data != nullptr) return table.data[static_cast<std::size_t>(u) * n_ + v];
        return table.no_arc ? kNoArc : PositionDistance(table.rule, positions_[u], positions_[v]);
    }
    /// Cost of the leg onto the agent's end vertex that closes its route.
    double ClosingCost(std::size_t a, std::uint32_t u) const {
        return ClosingLegIsFree(return_to_end_) ? 0.0 : Cost(a, u, agents_[a].end);
    }
    /// Targets near `v` (by the smallest round-trip cost over the agent types), nearest
    /// first, at most kNeighbours of them.
    const std::vector<std::uint32_t>& Neighbours(std::uint32_t v) const { return neighbours_[v]; }

    static constexpr std::size_t kNeighbours = 40;

private:
    std::size_t n_ = 0;
    std::vector<EngineAgent> agents_;
    std::vector<std::uint32_t> targets_;
    std::vector<std::uint8_t> is_target_;
    /// One cost table per type with costs, a view of the instance model's: a row-major
    /// n x n array, or distances computed from positions. All types without costs share
    /// one table that has no arcs and no storage.
    struct Table {
        const double* data = nullptr;
        DistanceRule rule = DistanceRule::kExact;
        bool no_arc = false;
        /// The same costs with rows and columns in rank_ order, or null.
        const double* near = nullptr;
    };
    std::shared_ptr<const InstanceModel> instance_;  // shared with the focal search
    std::vector<Table> tables_;
    const Position* positions_ = nullptr;  // the instance model's, by vertex
    std::vector<std::size_t> table_of_slot_;
    /// tables_[table_of_slot_[agents_[a].slot]] by agent: one read instead of three
    /// chained ones before every cost.
    std::vector<Table> agent_tables_;
    /// Fills agent_tables_ from tables_.
    void BindAgentTables();
    /// Dense tables of 500 to 2,500 vertices are copied with the vertices
    /// renumbered so that near ones get near numbers (rank_[v]): the legs the search
    /// prices are between near vertices, and they then share cache lines instead of
    /// each costing a miss. The copies, one per table that has one, n x n each (shared,
    /// so that a copy of the model reads the same ones).
    std::vector<std::uint32_t> rank_;
    std::vector<std::shared_ptr<const std::vector<double>>> near_tables_;
    std::size_t no_arc_table_ = static_cast<std::size_t>(-1);
    std::vector<std::uint8_t> allowed_;  ///< slot * n + vertex
    std::vector<TimeWindow> windows_;
    /// Sorted, merged windows of the vertices that have several, at
    /// window_offset_[v] .. window_offset_[v + 1]; a vertex with at most one has none here.
    std::vector<TimeWindow> several_;
    std::vector<std::size_t> window_offset_;
    std::vector<double> service_;
    std::size_t dims_ = 0;
    std::vector<double> demand_;    ///< vertex * dims + d
    std::vector<double> capacity_;  ///< agent * dims + d, +infinity for no limit
    std::vector<std::uint8_t> required_;
    std::vector<double> penalty_;
    std::vector<std::uint8_t> servable_;
    std::vector<TargetReason> precheck_;
    std::vector<std::uint64_t> node_ids_;
    std::vector<std::vector<std::uint32_t>> neighbours_;
    bool return_to_end_ = true;
    bool has_windows_ = false;
    bool any_several_windows_ = false;
    bool any_optional_ = false;
    bool any_service_ = false;
    bool routable_ = true;
    ObjectiveType objective_ = ObjectiveType::MinSum;
};

}  // namespace vornik

#endif  // VORNIK_IMPROVE_ENGINEMODEL_H
