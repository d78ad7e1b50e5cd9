#include "search/Solver.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>
#include <stdexcept>

#include "core/Diagnostics.h"
#include "core/InstanceModel.h"
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

Solver::Solver(const Problem& problem, const Options& options)
    : Solver(problem, options, DefaultMemoryLimitBytes()) {}

namespace {

// The visited set has 256 bits: larger instances are refused before anything is built.
void CheckVertexCount(std::uint64_t n) {
    if (n > kMaxVertices) {
        throw std::invalid_argument("instance has " + std::to_string(n) + " nodes; at most " +
                                    std::to_string(kMaxVertices) + " are supported");
    }
}

OutOfMemoryError TablesOutOfMemory(const MemoryEstimate& estimate) {
    return OutOfMemoryError("out of memory while building the tables of an instance of " +
                            DescribeSize(estimate) + " (estimated at " +
                            Megabytes(estimate.table_bytes) +
                            "); set memory_limit_mb below "
                            "the memory available");
}

}  // namespace

Solver::Solver(const Problem& problem, const Options& options, std::size_t memory_limit_bytes) try {
    CheckVertexCount(problem.nodes.size());
    // Refuse what cannot fit before the tables are built.
    estimate_ = EstimateMemory(problem);
    CheckFits(estimate_, memory_limit_bytes);
    memory_limit_ = memory_limit_bytes;
    // The model reports nodes without an assignment and windows of unknown node ids as it
    // reads them.
    model_ = std::make_shared<const InstanceModel>(problem, true);
    Build(options);
} catch (const std::bad_alloc&) {
    // The members are gone by now, and with them what they held.
    throw TablesOutOfMemory(EstimateMemory(problem));
}

Solver::Solver(std::shared_ptr<const InstanceModel> model, const Options& options,
               std::size_t memory_limit_bytes) try {
    CheckVertexCount(model->NumVertices());
    estimate_ = EstimateMemory(*model);
    CheckFits(estimate_, memory_limit_bytes);
    memory_limit_ = memory_limit_bytes;
    model_ = model;
    Build(options);
} catch (const std::bad_alloc&) {
    throw TablesOutOfMemory(EstimateMemory(*model));
}

void Solver::Build(const Options& options) {
    // 1. Default plug-ins, the focal comparator first.
    focal_comparator_ = std::make_unique<DefaultFocalComparator>();
    heuristic_ = std::make_unique<DefaultHeuristic>();
    post_optimizer_ = std::make_unique<DefaultPostOptimizer>();
    checker_ = std::make_unique<DefaultConstraintChecker>();
    expansion_ = std::make_unique<DefaultExpansion>();
    objective_ = std::make_unique<DefaultObjective>();
    options_ = options;
    objective_type_ = options.objective;

    // 2.-9. The search's tables from the instance model.
    {
        FocalTables tables = BuildFocalTables(*model_);
        num_agent_types_ = model_->NumTypes();
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
    time_limit_ = options.time_limit;
    return_to_end_ = options.return_to_end;
    Prepare();
}

Solver::~Solver() = default;

std::uint64_t Solver::NodeIdOfVertex(std::uint32_t v) const {
    if (v >= model_->NumVertices()) {
        throw std::out_of_range("vertex " + std::to_string(v) + " is not a vertex of the instance");
    }
    return model_->NodeId(v);
}

bool Solver::Prepare() {
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

void Solver::ConfigurePostOptimizer() {
    post_optimizer_->SetReturnToEnd(return_to_end_);
    post_optimizer_->SetStartVertices(start_vertices_);
    post_optimizer_->SetEndVertices(end_vertices_);
    post_optimizer_->SetTimeWindows(time_windows_);
}

void Solver::SetPostOptimizer(std::unique_ptr<PostOptimizerPlugin> post_optimizer) {
    if (post_optimizer == nullptr) throw std::invalid_argument("post_optimizer must not be null");
    post_optimizer_ = std::move(post_optimizer);
    ConfigurePostOptimizer();
}

bool Solver::BuildEdgeList() {
    edge_list_ = vornik::BuildEdgeList(*graph_, num_agent_types_, time_windows_);
    return true;
}

bool Solver::FindUnreachablePoints() {
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

void Solver::SetNodes(const std::vector<NodeEntry>& nodes) {
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

void Solver::SetAgents(const std::vector<AgentEntry>& agents) { agents_ = agents; }

void Solver::SetGraph(const PlannerGraph* graph) { graph_ = graph; }

bool Solver::SolveInstance(const PlannerGraph* graph, const std::vector<NodeEntry>& nodes,
                           const std::vector<AgentEntry>& agents,
                           const std::vector<std::uint64_t>& starts,
                           const std::vector<std::uint64_t>& goals, double time_limit,
                           const std::string& name) {
    if (graph == nullptr) throw std::invalid_argument("SolveInstance needs a graph");
    if (starts.size() != goals.size() || agents.size() < starts.size()) {
        throw std::invalid_argument(
            "SolveInstance needs one start, one goal and one agent "
            "entry per agent");
    }
    for (const std::vector<std::uint64_t>* list : {&starts, &goals}) {
        for (std::uint64_t v : *list) {
            if (v >= graph->NumVertex() || v >= nodes.size()) {
                throw std::out_of_range("SolveInstance: start or goal vertex " + std::to_string(v) +
                                        " is not a vertex");
            }
        }
    }
    for (const AgentEntry& agent : agents) {
        if (agent.type >= static_cast<std::int64_t>(graph->CostDim())) {
            throw std::out_of_range("SolveInstance: agent type " + std::to_string(agent.type) +
                                    " has no cost component in the graph");
        }
    }
    instance_name_ = name;
    SetGraph(graph);
    SetNodes(nodes);
    SetAgents(agents);
    num_agent_types_ = graph_->CostDim();
    start_vertices_ = starts;
    start_vertex_set_.insert(starts.begin(), starts.end());
    num_agents_ = static_cast<std::int32_t>(starts.size());
    end_vertices_ = goals;
    end_vertex_set_.insert(goals.begin(), goals.end());
    return_to_end_ = false;
    Prepare();
    time_limit_ = time_limit;
    return Solve();
}

Result Solver::GetResult() {
    result_.last_update_time = last_solution_time_;
    return result_;
}

SolverStatistics Solver::GetStatistics() const { return statistics_; }

std::vector<AnytimeRecord> Solver::GetResultProcess() const { return anytime_records_; }

void Solver::UpdateStatistics() {
    if (solution_found_ == 0) return;
    statistics_.solved = 1;
    statistics_.num_nodes = static_cast<std::int32_t>(nodes_.size());
    statistics_.num_agents = num_agents_;
    statistics_.num_type0_agents = 0;
    statistics_.num_type1_agents = 0;
    for (const AgentEntry& agent : agents_) {
        if (agent.type == 0) ++statistics_.num_type0_agents;
        if (agent.type == 1) ++statistics_.num_type1_agents;
    }
    statistics_.num_type0_nodes = 0;
    statistics_.num_shared_nodes = 0;
    for (const NodeEntry& entry : nodes_) {
        if (entry.allowed_types == std::vector<std::int64_t>{0}) ++statistics_.num_type0_nodes;
        if (entry.allowed_types == std::vector<std::int64_t>{0, 1}) {
            ++statistics_.num_shared_nodes;
        }
    }
    // Keys 0 .. K-1 of the route costs; a missing key counts (and is entered) as 0.0.
    const auto count = static_cast<std::int64_t>(result_.times.size());
    double sum = 0.0;
    for (std::int64_t k = 0; k < count; ++k) sum += result_.times[k];
    statistics_.sum_cost = sum;
    statistics_.max_cost = best_max_cost_;
    statistics_.last_update_time = last_solution_time_;
}

}  // namespace vornik
