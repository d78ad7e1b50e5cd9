#include "search/JsonSolve.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "core/InstanceReader.h"
#include "search/Solver.h"

namespace vornik {

JsonSolveOutcome SolveJsonText(const std::string& json_text, double time_limit,
                               const SolveHooks& hooks) {
    Problem problem = ParseInstance(json_text);
    if (time_limit > 0) problem.options.time_limit = time_limit;
    const ObjectiveType objective = problem.options.objective;

    // "solve_time" covers construction and search, not the parsing above.
    const auto t0 = std::chrono::steady_clock::now();
    Solver solver(problem, problem.options,
                  hooks.memory_limit_bytes > 0 ? hooks.memory_limit_bytes
                                               : DefaultMemoryLimitBytes());
    solver.SetShouldStop(hooks.should_stop);
    solver.SetOnSolution(hooks.on_solution);
    solver.Solve();
    // Only the result is read from here on: the search's memory goes back first.
    solver.ReleaseSearchMemory();
    const auto t1 = std::chrono::steady_clock::now();

    const Result result = solver.GetResult();
    const std::vector<AnytimeRecord> records = solver.GetResultProcess();

    JsonSolveOutcome outcome;
    outcome.solve_time =
        static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(t1 - t0).count()) /
        1e9;
    outcome.success = !result.paths.empty();
    outcome.timeout = result.timeout;
    outcome.interrupted = solver.Interrupted();
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
            outcome.anytime.push_back(AnytimePoint{record.time, largest, sum});
            best = score;
        }
    }
    return outcome;
}

std::string ReadInstanceFile(const std::string& path) {
    // A folder opens as a stream on Linux but has no content to read.
    std::error_code ignored;
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open() || std::filesystem::is_directory(path, ignored)) throw std::runtime_error("Cannot open file: " + path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace vornik
