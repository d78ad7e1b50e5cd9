#include "search/FocalIntake.h"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <string>

#include "core/Diagnostics.h"
#include "plugins/CompositeConstraintChecker.h"
#include "plugins/CompositePostOptimizer.h"
#include "plugins/DefaultConstraintChecker.h"
#include "plugins/DefaultExpansion.h"
#include "plugins/DefaultHeuristic.h"
#include "plugins/DefaultObjective.h"
#include "plugins/DefaultPostOptimizer.h"
#include "plugins/MinSumObjective.h"
#include "plugins/RouteMergingPostOptimizer.h"
#include "plugins/TimeLimitConstraintChecker.h"
#include "plugins/TimeWindowConstraintChecker.h"
#include "search/DefaultFocalComparator.h"
#include "search/EdgeList.h"
#include "search/FocalTables.h"

namespace vornik {

void FocalIntake::Read(const InstanceModel& model, const Options& options) {
    // 1. Default plug-ins, the focal comparator first.
    focal_comparator_ = std::make_unique<DefaultFocalComparator>();
    heuristic_ = std::make_unique<DefaultHeuristic>();
    post_optimizer_ = std::make_unique<DefaultPostOptimizer>();
    checker_ = std::make_unique<DefaultConstraintChecker>();
    expansion_ = std::make_unique<DefaultExpansion>();
    objective_ = std::make_unique<DefaultObjective>();
    objective_type_ = options.objective;

    // 2.-9. The search's tables from the instance model.
    {
        FocalTables tables = BuildFocalTables(model);
        num_agent_types_ = model.NumTypes();
        nodes_ = std::move(tables.nodes);
        agents_ = std::move(tables.agents);
        start_vertices_ = std::move(tables.start_vertices);
        end_vertices_ = std::move(tables.end_vertices);
        time_windows_ = std::move(tables.time_windows);
        owned_graph_ = std::move(tables.graph);
    }
    if (agents_.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        throw std::invalid_argument("too many agents");
    }
    num_agents_ = static_cast<std::int32_t>(agents_.size());
    start_vertex_set_.insert(start_vertices_.begin(), start_vertices_.end());
    end_vertex_set_.insert(end_vertices_.begin(), end_vertices_.end());

    // 10. Objective.
    if (options.objective == ObjectiveType::MinSum) {
        objective_ = std::make_unique<MinSumObjective>();
    } else {
        objective_ = std::make_unique<DefaultObjective>();
    }

    // 11. Checkers: a composite only when windows or agent limits are in play.
    bool has_limits = false;
    for (const AgentEntry& agent : agents_) has_limits = has_limits || agent.time_limit > 0.0;
    const bool has_windows = !time_windows_.empty();
    if (has_limits || has_windows) {
        auto composite = std::make_unique<CompositeConstraintChecker>();
        composite->AddChecker(std::make_unique<DefaultConstraintChecker>());
        if (has_windows) composite->AddChecker(std::make_unique<TimeWindowConstraintChecker>());
        if (has_limits) composite->AddChecker(std::make_unique<TimeLimitConstraintChecker>());
        checker_ = std::move(composite);
    }

    // 12. Post-optimizers: in-group optimisation, then route merging.
    auto post = std::make_unique<CompositePostOptimizer>();
    post->AddOptimizer(std::make_unique<DefaultPostOptimizer>());
    post->AddOptimizer(std::make_unique<RouteMergingPostOptimizer>());
    post_optimizer_ = std::move(post);

    // 13.-14.
    graph_ = owned_graph_.get();
    return_to_end_ = options.return_to_end;
    Prepare();
}

bool FocalIntake::Prepare() {
    BuildEdgeList();
    FindUnreachablePoints();
    heuristic_->Init(graph_, nodes_, agents_);
    if (auto* heuristic = dynamic_cast<DefaultHeuristic*>(heuristic_.get())) {
        heuristic->SetEndVertices(end_vertices_);
        heuristic->SetEdges(edge_list_);
    }
    checker_->Init(graph_, nodes_, agents_);
    // The time-window checker needs the agents' start and end vertices and the windows,
    // whether it is the checker itself or one of a composite's children.
    auto configure = [this](ConstraintCheckerPlugin* checker) {
        if (auto* windows = dynamic_cast<TimeWindowConstraintChecker*>(checker)) {
            windows->SetEndVertices(end_vertices_);
            windows->SetTimeWindows(time_windows_);
            windows->SetStartVertices(start_vertices_);
            windows->SetReturnToEnd(return_to_end_);
        }
    };
    configure(checker_.get());
    if (auto* composite = dynamic_cast<CompositeConstraintChecker*>(checker_.get())) {
        for (const auto& child : composite->Children()) configure(child.get());
    }
    expansion_->Init(end_vertices_);
    objective_->Init(end_vertices_);
    ConfigurePostOptimizer();

    // Dense copies of the start and end sets for the search's position rule.
    is_start_vertex_.assign(nodes_.size(), 0);
    is_end_vertex_.assign(nodes_.size(), 0);
    for (std::uint64_t v : start_vertex_set_) {
        if (v < nodes_.size()) is_start_vertex_[v] = 1;
    }
    for (std::uint64_t v : end_vertex_set_) {
        if (v < nodes_.size()) is_end_vertex_[v] = 1;
    }
    return true;
}

void FocalIntake::ConfigurePostOptimizer() {
    post_optimizer_->SetReturnToEnd(return_to_end_);
    post_optimizer_->SetStartVertices(start_vertices_);
    post_optimizer_->SetEndVertices(end_vertices_);
    post_optimizer_->SetTimeWindows(time_windows_);
}

void FocalIntake::SetPostOptimizer(std::unique_ptr<PostOptimizerPlugin> post_optimizer) {
    if (post_optimizer == nullptr) throw std::invalid_argument("post_optimizer must not be null");
    post_optimizer_ = std::move(post_optimizer);
    ConfigurePostOptimizer();
}

bool FocalIntake::BuildEdgeList() {
    edge_list_ = vornik::BuildEdgeList(*graph_, num_agent_types_, time_windows_);
    return true;
}

bool FocalIntake::FindUnreachablePoints() {
    unreachable_points_.clear();
    const std::uint64_t n = nodes_.size();
    for (std::uint64_t v = 0; v < n; ++v) {
        if (start_vertex_set_.count(v) == 0 && end_vertex_set_.count(v) == 0) continue;
        // Only agent type 0 is consulted: a depot that type 0 cannot leave is reported.
        double cheapest = std::numeric_limits<double>::max();
        for (std::uint64_t u = 0; u < n; ++u) {
            if (u == v || graph_->CostDim() == 0) continue;
            const double* costs = graph_->FindArcCost(v, u);
            if (costs != nullptr) cheapest = std::min(cheapest, costs[0]);
        }
        if (cheapest == kFocalNoArcCost) {
            WarnLine("point: " + std::to_string(v) + " can't be reached");
            unreachable_points_.push_back(v);
        }
    }
    return true;
}

void FocalIntake::SetNodes(const std::vector<NodeEntry>& nodes) {
    nodes_ = nodes;
    const std::vector<std::int64_t> type0{0};
    const std::vector<std::int64_t> shared{0, 1};
    for (const NodeEntry& entry : nodes_) {
        if (entry.allowed_types != type0 && entry.allowed_types != shared) {
            // This entry point only knows nodes for type 0 or for types 0 and 1.
            WarnLine("Wrong Point type");
            throw std::invalid_argument("Wrong Point type");
        }
    }
}

void FocalIntake::SetAgents(const std::vector<AgentEntry>& agents) { agents_ = agents; }

void FocalIntake::SetGraph(const PlannerGraph* graph) { graph_ = graph; }

}  // namespace vornik
