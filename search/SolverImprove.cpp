#include <utility>

#include "search/ImprovingSolve.h"
#include "search/Solver.h"

namespace vornik {

bool Solver::SolveImproving(const ImproveSettings& settings, ImproveReport* report) {
    return SolveImproving(settings, hooks_, report);
}

bool Solver::SolveImproving(const ImproveSettings& settings, const SearchHooks& hooks,
                            ImproveReport* report) {
    // The caller's hooks serve the whole solve; the search runs with hooks of its own.
    ImproveReport outcome =
        vornik::SolveImproving(model_, options_, this, time_limit_, hooks, settings);

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
