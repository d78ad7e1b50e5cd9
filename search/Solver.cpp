#include "search/Solver.h"

#include <stdexcept>
#include <string>
#include <utility>

#include "search/PathRecordFile.h"

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
    options_ = options;
    time_limit_ = options.time_limit;
    Read(*model_, options);
}

Solver::~Solver() = default;

std::uint64_t Solver::NodeIdOfVertex(std::uint32_t v) const {
    if (v >= model_->NumVertices()) {
        throw std::out_of_range("vertex " + std::to_string(v) + " is not a vertex of the instance");
    }
    return model_->NodeId(v);
}

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

bool Solver::Solve() { return Solve(hooks_, SearchBudget{time_limit_, memory_limit_}); }

bool Solver::Solve(const SearchHooks& hooks) {
    return Solve(hooks, SearchBudget{time_limit_, memory_limit_});
}

bool Solver::Solve(const SearchHooks& hooks, const SearchBudget& budget) {
    if (!Run(hooks, budget)) return false;
    if (!instance_name_.empty()) {
        WritePathRecordFile(instance_name_, start_vertices_, end_vertices_, best_max_cost_,
                            num_agents_, result_);
    }
    return true;
}

}  // namespace vornik
