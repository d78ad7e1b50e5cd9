#include "search/ProblemSolve.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <stdexcept>

#include "core/InstanceModel.h"
#include "improve/EngineModel.h"
#include "search/MemoryBudget.h"
#include "search/Solver.h"

namespace vornik {

// The pipeline after an instance is read, whether from text (SolveJsonText) or arrays.
namespace {

constexpr double kWarmStartGraphBytes = 256.0 * 1024 * 1024;
// Nor with more agents than this: every expansion then makes a successor per agent, and
// in its short share of the budget the search takes hundreds of MB (265 MB in 0.1 s for
// 2,000 agents on 256 nodes) without reaching a solution the engine's own construction
// would not find at once.
constexpr std::size_t kWarmStartAgents = 100;

void FillRoutes(const Problem& problem, const Result& result, JsonSolveOutcome& outcome) {
    outcome.success = !result.paths.empty();
    outcome.timeout = result.timeout;
    for (std::size_t k = 0; k < problem.agents_ordered.size(); ++k) {
        RouteOutcome route;
        route.agent_id = problem.agents_ordered[k].id;
        const auto key = static_cast<std::int64_t>(k);
        if (const auto path = result.paths.find(key); path != result.paths.end()) {
            route.path = path->second;
        }
        if (const auto cost = result.times.find(key); cost != result.times.end()) {
            route.cost = cost->second;
        }
        outcome.sum_cost += route.cost;
        outcome.max_cost = std::max(outcome.max_cost, route.cost);
        outcome.routes.push_back(std::move(route));
    }
    outcome.n_generated = result.n_generated;
    outcome.n_expanded = result.n_expanded;
    outcome.last_update_time = result.last_update_time;
}

double SecondsSince(std::chrono::steady_clock::time_point t0) {
    const auto t1 = std::chrono::steady_clock::now();
    return static_cast<double>(
               std::chrono::duration_cast<std::chrono::nanoseconds>(t1 - t0).count()) /
           1e9;
}

// The memory limit a solve was given, or the default.
std::size_t MemoryLimitOf(const SolveHooks& hooks) {
    return hooks.memory_limit_bytes > 0 ? hooks.memory_limit_bytes : DefaultMemoryLimitBytes();
}

JsonSolveOutcome SolveImprovingProblem(Problem& problem, const SolveHooks& hooks,
                                       const ImproveSettings& settings, const CostTables& tables) {
    const auto t0 = std::chrono::steady_clock::now();
    ImproveHooks improve_hooks{hooks.should_stop, hooks.on_solution};
    ImproveReport report;
    // The focal search is only the engine's warm start here: it is skipped where it cannot
    // run (too many nodes) or where its complete graph, one cost per agent type on every
    // arc, would take more memory than the rest of the solve.
    const double n = static_cast<double>(problem.nodes.size());
    const double graph_bytes =
        n * n * (48.0 + 8.0 * static_cast<double>(problem.type_index_of.size()));
    // Nor does it run where its tables would not fit in the memory limit.
    const std::size_t memory_limit = MemoryLimitOf(hooks);
    // The instance model copies each matrix of the Problem into a dense table (arrays and
    // computed distances cost it nothing): the memory limit covers those too, before they
    // are built.
    std::size_t copied = 0;
    for (const auto& entry : problem.cost_matrices) {
        bool replaced = false;
        for (const CostTables::Array& array : tables.arrays)
            replaced = replaced || array.type == entry.first;
        for (const auto& computed : tables.computed)
            replaced = replaced || computed.first == entry.first;
        if (!replaced) ++copied;
    }
    const double engine_bytes = n * n * 8.0 * static_cast<double>(copied);
    if (engine_bytes > static_cast<double>(memory_limit)) {
        throw std::invalid_argument(
            "the improvement engine needs about " +
            Megabytes(static_cast<std::size_t>(engine_bytes)) + " for the cost tables of " +
            std::to_string(copied) + " agent types on " + std::to_string(problem.nodes.size()) +
            " nodes, more than the memory limit of " + Megabytes(memory_limit) +
            "; raise memory_limit_mb or use fewer agent types");
    }
    // The engine's renumbered copies of its tables come out of what the limit leaves.
    ImproveSettings engine_settings = settings;
    const double spare = static_cast<double>(memory_limit) - engine_bytes;
    engine_settings.near_table_bytes =
        spare <= 0.0 ? 0 : std::min(settings.near_table_bytes, static_cast<std::size_t>(spare));
    // Tables still apart from the Problem (above 256 nodes) are for the engine alone.
    const bool warm_start = tables.Empty() && problem.nodes.size() <= kMaxVertices &&
                            problem.agents_ordered.size() <= kWarmStartAgents &&
                            graph_bytes <= kWarmStartGraphBytes &&
                            Fits(EstimateMemory(problem), memory_limit);
    // One instance model for the search and the engine. It reports what the focal search
    // reports about an instance only when the search runs.
    auto model = std::make_shared<const InstanceModel>(problem, tables, warm_start);
    // The model holds the costs now: the Problem's rows go, so that the matrix is held once
    // while the engine runs.
    decltype(problem.cost_matrices)().swap(problem.cost_matrices);
    if (warm_start) {
        Solver solver(model, problem.options, memory_limit);
        report = SolveImproving(model, problem.options, &solver, problem.options.time_limit,
                                improve_hooks, engine_settings);
    } else {
        report = SolveImproving(model, problem.options, nullptr, problem.options.time_limit,
                                improve_hooks, engine_settings);
    }
    JsonSolveOutcome outcome;
    outcome.solve_time = SecondsSince(t0);
    FillRoutes(problem, report.result, outcome);
    outcome.interrupted = report.interrupted;
    outcome.improved = true;
    outcome.improve_iterations = report.iterations;
    outcome.best_phase = report.best_phase;
    outcome.first_solution_time = report.first_solution_time;
    for (const ImprovePoint& point : report.anytime) {
        outcome.anytime.push_back(AnytimePoint{point.time, point.max_cost, point.sum_cost,
                                               point.phase, point.unserved_required, point.penalty,
                                               point.objective_value});
    }
    // What the plan leaves out, by node id.
    for (std::size_t a = 0; a < report.loads.size() && a < outcome.routes.size(); ++a) {
        outcome.routes[a].load = report.loads[a];
    }
    for (const std::uint32_t v : report.unserved) outcome.unserved.push_back(problem.nodes[v].id);
    for (const TargetReason& reason : report.reasons) {
        outcome.reasons.push_back(
            ReasonOutcome{problem.nodes[reason.vertex].id, reason.reason, reason.message});
    }
    outcome.penalty = report.penalty;
    outcome.objective_value =
        (problem.options.objective == ObjectiveType::MinSum ? outcome.sum_cost : outcome.max_cost) +
        outcome.penalty;
    outcome.infeasible = !outcome.reasons.empty();
    return outcome;
}

}  // namespace

JsonSolveOutcome SolveProblem(Problem problem, double time_limit, const SolveHooks& hooks,
                              const SolveSettings& settings, CostTables tables) {
    ImproveSettings improve_settings = settings.improve_settings;
    if (settings.improve && improve_settings.started < 0) {
        improve_settings.started = BudgetNow(improve_settings.wall_clock);
    }
    if (time_limit > 0) problem.options.time_limit = time_limit;
    // The focal search reads matrices only; it runs on small instances, where they are cheap.
    if (!settings.improve || problem.nodes.size() <= kMaxVertices) {
        MaterializeCostTables(problem, tables);
    }
    if (settings.improve) return SolveImprovingProblem(problem, hooks, improve_settings, tables);
    const ObjectiveType objective = problem.options.objective;

    // "solve_time" covers construction and search, not the parsing above.
    const auto t0 = std::chrono::steady_clock::now();
    Solver solver(problem, problem.options, MemoryLimitOf(hooks));
    solver.Solve(SearchHooks{hooks.should_stop, hooks.on_solution});
    // Only the result is read from here on: the search's memory goes back first.
    solver.ReleaseSearchMemory();
    const auto t1 = std::chrono::steady_clock::now();

    const Result result = solver.GetResult();
    const std::vector<AnytimeRecord> records = solver.GetResultProcess();

    JsonSolveOutcome outcome;
    outcome.solve_time =
        static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(t1 - t0).count()) /
        1e9;
    FillRoutes(problem, result, outcome);
    outcome.interrupted = solver.Interrupted();

    // Keep only solutions better than every earlier one by more than 1e-9, by sum under
    // min-sum and by the largest route under min-max.
    double best = 1e18;
    for (const AnytimeRecord& record : records) {
        double sum = 0.0;
        double largest = 0.0;
        for (const auto& entry : record.result.times) {
            sum += entry.second;
            largest = std::max(largest, entry.second);
        }
        const double score = objective == ObjectiveType::MinSum ? sum : largest;
        if (score < best - 1e-9) {
            outcome.anytime.push_back(AnytimePoint{record.time, largest, sum, {}});
            best = score;
        }
    }
    return outcome;
}

}  // namespace vornik
