#ifndef VORNIK_SEARCH_FOCALINTAKE_H
#define VORNIK_SEARCH_FOCALINTAKE_H

#include <cstdint>
#include <memory>
#include <unordered_set>
#include <vector>

#include "core/InstanceModel.h"
#include "core/Problem.h"
#include "core/SearchRecords.h"
#include "graph/DenseGraph.h"
#include "graph/PlannerGraph.h"
#include "plugins/ConstraintCheckerPlugin.h"
#include "plugins/ExpansionPlugin.h"
#include "plugins/HeuristicPlugin.h"
#include "plugins/ObjectivePlugin.h"
#include "plugins/PostOptimizerPlugin.h"
#include "search/FocalComparatorPlugin.h"

namespace vornik {

/// The focal search's instance, the first part of the Solver: the node and agent tables,
/// every agent's start and end vertex (as lists, sets and per-vertex flags), the windows
/// by vertex, the graph the search reads (its own dense one, or a caller's), the bound's
/// edge list, the depots that cannot be left, and one plug-in per role, wired to them.
/// Read from the instance model (Read), or given as tables (SetNodes, SetAgents,
/// SetGraph); Prepare then derives the rest and hands every plug-in its tables.
class FocalIntake {
public:
    FocalIntake() = default;
    FocalIntake(const FocalIntake&) = delete;
    FocalIntake& operator=(const FocalIntake&) = delete;

    /// Replaces the node table; every entry's allowed types must be [0] or [0, 1]
    /// (prints "Wrong Point type" and throws std::invalid_argument otherwise).
    void SetNodes(const std::vector<NodeEntry>& nodes);
    void SetAgents(const std::vector<AgentEntry>& agents);
    /// Points the search at `graph`, which the caller keeps alive while this Solver lives.
    void SetGraph(const PlannerGraph* graph);
    /// The edge list, the unreachable depots and every plug-in's tables, from the tables.
    bool Prepare();
    bool FindUnreachablePoints();
    bool BuildEdgeList();
    /// Replaces the post-optimizer (configured as Prepare configures the default one).
    void SetPostOptimizer(std::unique_ptr<PostOptimizerPlugin> post_optimizer);

protected:
    /// A part of the Solver, never destroyed on its own.
    ~FocalIntake() = default;
    /// Reads `model` under `options`: the default plug-ins, the tables, the objective, the
    /// checkers and the post-optimizers the instance calls for, then Prepare.
    void Read(const InstanceModel& model, const Options& options);
    /// Hands the post-optimizer the closing rule, the start and end vertices and windows.
    void ConfigurePostOptimizer();

    std::unique_ptr<FocalComparatorPlugin> focal_comparator_;
    std::unique_ptr<HeuristicPlugin> heuristic_;
    std::unique_ptr<PostOptimizerPlugin> post_optimizer_;
    std::unique_ptr<ConstraintCheckerPlugin> checker_;
    std::unique_ptr<ExpansionPlugin> expansion_;
    std::unique_ptr<ObjectivePlugin> objective_;
    const PlannerGraph* graph_ = nullptr;  // owned_graph_ or the caller's (SetGraph)
    std::vector<NodeEntry> nodes_;
    std::vector<AgentEntry> agents_;
    std::uint64_t num_agent_types_ = 0;
    std::unique_ptr<DenseGraph> owned_graph_;
    std::vector<EdgeRecord> edge_list_;
    std::vector<std::uint64_t> start_vertices_;
    std::unordered_set<std::uint64_t> start_vertex_set_;
    std::unordered_set<std::uint64_t> end_vertex_set_;
    std::int32_t num_agents_ = 0;
    std::vector<std::uint64_t> end_vertices_;
    std::vector<std::uint64_t> unreachable_points_;
    TimeWindowTable time_windows_;
    bool return_to_end_ = true;
    ObjectiveType objective_type_ = ObjectiveType::MinSum;
    // Per-vertex copies of the position-rule sets, read for every candidate vertex.
    std::vector<std::uint8_t> is_start_vertex_;
    std::vector<std::uint8_t> is_end_vertex_;
};

}  // namespace vornik

#endif  // VORNIK_SEARCH_FOCALINTAKE_H
