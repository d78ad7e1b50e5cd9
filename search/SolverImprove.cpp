#include <utility>

#include "search/ImprovingSolve.h"
#include "search/Solver.h"

namespace vornik {

bool Solver::SolveImproving(const ImproveSettings& settings, ImproveReport* report) {
    // SolveImproving drives this Solver's own search through the hooks, so the caller's
    // hooks are handed to it.
    ImproveHooks hooks;
    hooks.should_stop = should_stop_;
    hooks.on_solution = on_solution_;
    // SolveImproving replaces both hooks while the search runs; the caller's come back
    // afterwards, also when it throws.
    struct RestoreHooks {
        Solver* solver;
        std::function<bool()> stop;
        std::function<void(double, double, double)> report;
        ~RestoreHooks() {
            solver->should_stop_ = std::move(stop);
            solver->on_solution_ = std::move(report);
        }
    } restore{this, should_stop_, on_solution_};
    ImproveReport outcome = vornik::SolveImproving(*problem_, this, time_limit_, hooks, settings);

    // The engine's best solution follows the search's records as one full result.
    Result best = result_;
    best.paths = outcome.result.paths;
    best.times = outcome.result.times;
    best.timeout = outcome.result.timeout;
    best.search_time = outcome.result.search_time;
    // The Solver's records are solutions: a plan that leaves a required target out has
    // an anytime point but no record.
    if (!outcome.anytime.empty() && outcome.anytime.back().phase != "search" &&
        outcome.anytime.back().unserved_required == 0) {
        last_solution_time_ = outcome.anytime.back().time;
        anytime_records_.push_back(AnytimeRecord{last_solution_time_, best});
    }
    result_ = best;
    interrupted_ = outcome.interrupted;
    last_improve_ = ImproveReport{};
    last_improve_.unserved = outcome.unserved;
    last_improve_.penalty = outcome.penalty;
    last_improve_.reasons = outcome.reasons;
    last_improve_.loads = outcome.loads;
    if (report != nullptr) *report = std::move(outcome);
    return !result_.paths.empty();
}

}  // namespace vornik
