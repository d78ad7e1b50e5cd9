#include "search/ImprovingSolve.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <stdexcept>
#include <thread>
#include <utility>

#include "improve/EngineModel.h"
#include "improve/EngineSolution.h"
#include "improve/ImprovementEngine.h"
#include "improve/SmallExactSearch.h"
#include "search/Solver.h"

namespace vornik {

namespace {

// The focal search gets this share of the budget to find its first solution; most
// instances need milliseconds, and the engine builds its own start when it fails.
constexpr double kSearchShare = 0.05;
constexpr double kSearchShareCap = 1.0;  // seconds
// Steps of the exhaustive search on tiny instances: a few hundred milliseconds at most.
constexpr std::size_t kSmallExactSteps = 2000000;

/// Seconds since `origin` on the budget's clock. A thread's own processor clock keeps
/// solves in other threads out of its budget.
class BudgetClock {
public:
    BudgetClock(bool wall, double origin)
        : wall_(wall), start_(origin < 0 ? BudgetNow(wall) : origin) {}
    double Elapsed() const { return BudgetNow(wall_) - start_; }

private:
    bool wall_;
    double start_;
};

const char* PhaseName(EnginePhase phase) {
    return phase == EnginePhase::kConstruct ? "construct" : "improve";
}

}  // namespace

double BudgetNow(bool wall_clock) {
    if (wall_clock) {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

ImproveReport SolveImproving(const Problem& problem, Solver* solver, double time_limit,
                             const ImproveHooks& hooks, const ImproveSettings& settings,
                             const CostTables& tables) {
    // The Solver, when there is one, read the same problem: its model serves both, and it
    // holds matrices only.
    if (solver != nullptr && !tables.Empty()) {
        throw std::invalid_argument(
            "SolveImproving takes cost tables only without a Solver: the Solver's instance "
            "model holds its costs");
    }
    std::shared_ptr<const InstanceModel> instance =
        solver != nullptr ? solver->Model()
                          : std::make_shared<const InstanceModel>(problem, tables);
    return SolveImproving(std::move(instance), problem.options, solver, time_limit, hooks,
                          settings);
}

ImproveReport SolveImproving(std::shared_ptr<const InstanceModel> instance, const Options& options,
                             Solver* solver, double time_limit, const ImproveHooks& hooks,
                             const ImproveSettings& settings) {
    settings.engine_params.Validate();
    const BudgetClock clock(settings.wall_clock, settings.started);
    const EngineModel model(std::move(instance), options, settings.near_table_bytes);
    const ObjectiveType objective = options.objective;
    ImproveReport report;
    bool user_stop = false;
    const auto stop_requested = [&] {
        if (!user_stop && hooks.should_stop && hooks.should_stop()) user_stop = true;
        return user_stop;
    };

    // Anytime points: kept only when better than every earlier one, lexicographically:
    // fewer required targets unserved, or as many and an objective value (the sum under
    // min-sum, the largest route under min-max, plus the penalties) lower by more than
    // 1e-9. Plans that leave a required target out count too, so that a solve that never
    // serves them all still shows its progress; only complete ones are solutions.
    const auto add_point = [&](double max_cost, double sum_cost, std::size_t missing,
                               double penalty, const char* phase, double time) {
        const double value = (objective == ObjectiveType::MinSum ? sum_cost : max_cost) + penalty;
        if (!report.anytime.empty()) {
            const ImprovePoint& last = report.anytime.back();
            const bool better =
                missing < last.unserved_required ||
                (missing == last.unserved_required && value < last.objective_value - 1e-9);
            if (!better) return;
        }
        report.anytime.push_back(
            ImprovePoint{time, max_cost, sum_cost, phase, missing, penalty, value});
        report.best_phase = phase;
        if (missing > 0) return;
        if (report.first_solution_time < 0) report.first_solution_time = time;
        if (hooks.on_solution) hooks.on_solution(time, max_cost, sum_cost);
    };

    // Phase 1: the focal search, until its first solution or its share of the budget. It
    // knows no loads, service, second windows or optional targets: where the instance has
    // any, its answer would be neither a fair start nor a true anytime point, so the
    // engine starts alone.
    std::vector<std::vector<std::uint32_t>> start(model.NumAgents());
    if (solver != nullptr && !model.UsesFleetRules()) {
        const double share = std::min(kSearchShareCap, kSearchShare * std::max(0.0, time_limit));
        bool found = false;
        SearchHooks search_hooks;
        search_hooks.on_solution = [&](double, double max_cost, double sum_cost) {
            found = true;
            add_point(max_cost, sum_cost, 0, 0.0, "search", clock.Elapsed());
        };
        search_hooks.should_stop = [&] {
            return stop_requested() || found || clock.Elapsed() > share;
        };
        solver->Solve(search_hooks);
        report.result = solver->GetResult();
        report.found = !report.result.paths.empty();
        for (const auto& [agent, path] : report.result.paths) {
            if (agent < 0 || static_cast<std::size_t>(agent) >= start.size()) continue;
            for (const std::int64_t v : path) {
                if (v >= 0)
                    start[static_cast<std::size_t>(agent)].push_back(static_cast<std::uint32_t>(v));
            }
        }
        solver->ReleaseSearchMemory();
    }

    // Some agent cannot close its route: no solution exists, whatever the engine tries.
    if (!model.Routable()) {
        report.found = false;
        report.result.paths.clear();
        report.result.times.clear();
        report.interrupted = user_stop;
        report.result.search_time = clock.Elapsed();
        return report;
    }

    // Without a start, a tiny instance is settled by trying every split: insertion alone
    // misses solutions in which no target fits a route by itself. The split follows the
    // engine's walk, so every rule counts, but it knows no plan that leaves a target out:
    // instances with optional targets or targets the pre-check rules out go to the engine.
    if (!report.found && model.Targets().size() <= kSmallExactTargets && !user_stop &&
        !model.AnyOptional() && model.PrecheckReasons().empty()) {
        const SmallExactOutcome exact = SmallExactSearch(model, kSmallExactSteps);
        if (exact.found) {
            start = exact.routes;
            double max_cost = 0.0;
            double sum_cost = 0.0;
            for (std::size_t a = 0; a < start.size(); ++a) {
                const double cost = EngineSolution::WalkRoute(model, a, start[a]);
                max_cost = std::max(max_cost, cost);
                sum_cost += cost;
            }
            add_point(max_cost, sum_cost, 0, 0.0, PhaseName(EnginePhase::kConstruct),
                      clock.Elapsed());
        }
    }

    // Phase 2: the engine on the search's solution (or on nothing) for the rest.
    EngineSettings engine_settings;
    std::size_t engine_threads = 1;
    engine_settings.seed = settings.seed;
    engine_settings.params = settings.engine_params;
    engine_settings.iteration_limit = settings.iteration_limit;
    engine_settings.time_limit = time_limit;
    engine_settings.clock = [&clock] { return clock.Elapsed(); };
    engine_settings.should_stop = stop_requested;
    engine_settings.threads = settings.threads > 0
                                  ? settings.threads
                                  : std::max<std::size_t>(1, std::thread::hardware_concurrency());
    engine_settings.clock_per_thread = !settings.wall_clock;
    engine_threads = engine_settings.threads;
    // Called from the engine's threads one at a time, with the time on the budget's clock
    // (which, under a processor-time budget with threads, only the engine can read).
    engine_settings.on_best = [&](const EngineSolution& best, EnginePhase phase, double time) {
        if (phase == EnginePhase::kGiven) return;  // the search reported it already
        const EngineScore score = best.Score();
        add_point(score.max_cost, score.sum_cost, score.missing, score.penalty, PhaseName(phase),
                  engine_threads > 1 ? time : clock.Elapsed());
    };
    if (user_stop) engine_settings.iteration_limit = 0;
    ImprovementEngine engine(&model, std::move(engine_settings));
    const EngineOutcome outcome = engine.Run(start);

    report.iterations = outcome.iterations;
    report.interrupted = user_stop;
    report.reasons = outcome.reasons;
    if (outcome.found) {
        report.unserved = outcome.unserved;
        report.penalty = outcome.score.penalty;
        report.loads = outcome.loads;
        report.found = true;
        report.result.paths.clear();
        report.result.times.clear();
        for (std::size_t a = 0; a < outcome.routes.size(); ++a) {
            std::vector<std::int64_t> path;
            path.reserve(outcome.routes[a].size() + 2);
            path.push_back(model.Agent(a).start);
            path.insert(path.end(), outcome.routes[a].begin(), outcome.routes[a].end());
            path.push_back(model.Agent(a).end);
            report.result.paths[static_cast<std::int64_t>(a)] = std::move(path);
            report.result.times[static_cast<std::int64_t>(a)] = outcome.costs[a];
        }
    }
    report.result.timeout = !user_stop && !outcome.settled;
    report.result.search_time = engine_threads > 1 ? outcome.end_time : clock.Elapsed();
    report.result.last_update_time = report.anytime.empty() ? 0.0 : report.anytime.back().time;
    return report;
}

}  // namespace vornik
