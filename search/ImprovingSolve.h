#ifndef VORNIK_SEARCH_IMPROVINGSOLVE_H
#define VORNIK_SEARCH_IMPROVINGSOLVE_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/CostTables.h"
#include "core/InstanceModel.h"
#include "core/Problem.h"
#include "improve/EngineModel.h"
#include "improve/EngineParams.h"
#include "search/SolverRecords.h"

namespace vornik {

class Solver;

/// How a solve on the improvement path runs.
struct ImproveSettings {
    std::uint64_t seed = 0;
    /// Ends the engine after this many steps when >= 0, so that runs repeat exactly.
    std::int64_t iteration_limit = -1;
    /// Budget on wall-clock seconds instead of the solving thread's processor time.
    bool wall_clock = false;
    /// The engine's tuning constants.
    EngineParams engine_params;
    /// Engine walks side by side, one per thread, sharing the best solution; 0 = one per
    /// core. Under the processor-time budget, the budget is the time of all threads
    /// together; under the wall clock, it is wall time per solve. The iteration limit
    /// holds for each walk.
    std::size_t threads = 1;
    /// Memory the engine may spend on renumbered copies of its cost tables, which only
    /// speed it up (EngineModel); the JSON and array solves lower it to what the memory
    /// limit leaves.
    std::size_t near_table_bytes = EngineModel::kNearTableBytes;
    /// When the call began on the budget's clock (BudgetNow), so that the budget covers
    /// reading the instance too; < 0: when SolveImproving begins.
    double started = -1.0;
};

/// Now on the budget's clock, in seconds: the wall clock, or the calling thread's
/// processor time.
double BudgetNow(bool wall_clock);

/// A strictly improving plan of the improvement path: each has fewer required targets
/// unserved than the one before, or as many and an objective value (the routes' objective
/// plus the penalties of the optional targets left out) lower by more than 1e-9.
struct ImprovePoint {
    double time = 0.0;  ///< seconds on the budget's clock since the solve began
    double max_cost = 0.0;
    double sum_cost = 0.0;
    std::string phase;                  ///< "search", "construct" or "improve"
    std::size_t unserved_required = 0;  ///< required targets the plan leaves out
    double penalty = 0.0;               ///< of the optional targets it leaves out
    double objective_value = 0.0;       ///< largest or summed route cost, plus penalty
};

/// What the improvement path reports. `result` holds the best solution (paths are
/// [start, targets..., end]) and the search's counters.
struct ImproveReport {
    Result result;
    std::vector<ImprovePoint> anytime;
    bool found = false;
    bool interrupted = false;  ///< the caller's stop request ended the solve
    std::int64_t iterations = 0;
    std::string best_phase;
    /// Time of the first plan that serves every required target; -1 when none did.
    double first_solution_time = -1.0;
    // What the improvement engine's plan leaves out (empty when the engine did not run).
    std::vector<std::uint32_t> unserved;     ///< vertices no route serves, ascending
    double penalty = 0.0;                    ///< of the optional ones among them
    std::vector<TargetReason> reasons;       ///< one per required target unserved
    std::vector<std::vector<double>> loads;  ///< per agent index, per dimension
};

/// Hooks of an improving solve: a stop request, and a report of every anytime point that
/// serves every required target (time, largest route cost, sum of route costs), called
/// once per such point.
using ImproveHooks = SearchHooks;

/// Solves `problem` within `time_limit` seconds: the focal search of `solver` (built
/// from the same problem; null when the instance is too large for it) runs until its
/// first post-optimized solution or a small share of the budget, its search memory is
/// released, and the improvement engine works on the best solution for the rest.
/// Throws std::invalid_argument when the instance has negative costs and no Solver.
/// `tables` adds costs to the problem's as EngineModel reads them (they must outlive the
/// call); with a Solver its instance model serves the engine too, and `tables` must be
/// empty (std::invalid_argument otherwise).
ImproveReport SolveImproving(const Problem& problem, Solver* solver, double time_limit,
                             const ImproveHooks& hooks, const ImproveSettings& settings,
                             const CostTables& tables = {});
/// The same on an instance model under `options` (return_to_end and objective), shared
/// with `solver` when there is one, so that the costs are held once.
ImproveReport SolveImproving(std::shared_ptr<const InstanceModel> instance, const Options& options,
                             Solver* solver, double time_limit, const ImproveHooks& hooks,
                             const ImproveSettings& settings);

}  // namespace vornik

#endif  // VORNIK_SEARCH_IMPROVINGSOLVE_H
