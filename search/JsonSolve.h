#ifndef VORNIK_SEARCH_JSONSOLVE_H
#define VORNIK_SEARCH_JSONSOLVE_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/CostTables.h"
#include "core/Problem.h"
#include "search/ImprovingSolve.h"

namespace vornik {

/// One agent's route in the order of the instance's agents.
struct RouteOutcome {
    std::uint64_t agent_id = 0;
    std::vector<std::int64_t> path;  ///< vertices; empty when the search found nothing
    double cost = 0.0;
    std::vector<double> load;  ///< improvement path: per load dimension
};

/// Why a required target stays unserved, by node id.
struct ReasonOutcome {
    std::uint64_t node = 0;
    std::string reason;  ///< "type", "arc", "window", "capacity" or "limit"
    std::string message;
};

/// A strictly improving solution of the search, in the order found.
struct AnytimePoint {
    double time = 0.0;  ///< processor seconds since the search started
    double max_cost = 0.0;
    double sum_cost = 0.0;
    std::string phase;  ///< improvement path only: "search", "construct" or "improve"
    // Improvement path only: see ImprovePoint.
    std::size_t unserved_required = 0;
    double penalty = 0.0;
    double objective_value = 0.0;
};

/// Everything a whole-instance solve reports.
struct JsonSolveOutcome {
    bool success = false;  ///< the result holds at least one path
    bool timeout = false;
    std::vector<RouteOutcome> routes;
    double solve_time = 0.0;  ///< wall-clock seconds of construction and search
    double max_cost = 0.0;
    double sum_cost = 0.0;
    std::int64_t n_generated = 0;
    std::int64_t n_expanded = 0;
    double last_update_time = 0.0;
    std::vector<AnytimePoint> anytime;
    bool interrupted = false;  ///< the caller's stop callback ended the search
    // Improvement path only.
    bool improved = false;  ///< the solve ran on the improvement path
    std::int64_t improve_iterations = 0;
    std::string best_phase;
    double first_solution_time = -1.0;
    std::vector<std::uint64_t> unserved;  ///< node ids no route serves, in vertex order
    double penalty = 0.0;                 ///< penalties of the optional ones among them
    double objective_value = 0.0;         ///< the routes' objective plus `penalty`
    std::vector<ReasonOutcome> reasons;   ///< one per required target unserved
    bool infeasible = false;              ///< some required target is unserved
};

/// Which path a whole-instance solve takes: the focal search alone (the default), or the
/// improvement path with its settings.
struct SolveSettings {
    bool improve = false;
    ImproveSettings improve_settings;
};

/// Optional hooks of a solve: a stop request polled during the search, and a report of
/// every solution (search seconds, largest route cost, sum of route costs).
struct SolveHooks {
    std::function<bool()> should_stop;
    std::function<void(double, double, double)> on_solution;
    /// Memory limit of the whole solve in bytes; 0 means DefaultMemoryLimitBytes().
    std::size_t memory_limit_bytes = 0;
};

/// Cost matrices by agent type, set after the instance text is read as if its "costs"
/// held them (a matrix of the same name replaces the text's). Large matrices travel this
/// way to skip being written and parsed as text.
using CostMatrices = std::vector<std::pair<std::string, CostMatrix>>;

/// Parses instance text strictly, adds `cost_matrices` and then `tables` to it (each
/// replacing a matrix of the same type), builds a Solver (a `time_limit` > 0 replaces the
/// instance's own) and solves. Where the focal search takes part, the tables become
/// matrices; on the improvement engine alone they are read in place. On the improvement
/// path the budget's clock starts when this function does, parsing included. On the improvement
/// path an instance above the focal search's node limit skips the search and goes to the engine
/// alone. Errors propagate: the JSON library's exceptions for text and format faults,
/// std::out_of_range for unknown node ids or types, std::invalid_argument for instances
/// the Solver cannot represent or that cannot fit in the memory limit, OutOfMemoryError
/// (a std::bad_alloc) when memory ran out before any solution was found.
[[nodiscard]] JsonSolveOutcome SolveJsonText(const std::string& json_text, double time_limit,
                                             const SolveHooks& hooks = {},
                                             const SolveSettings& settings = {},
                                             CostMatrices cost_matrices = {},
                                             CostTables tables = {});

/// The pre-check of the improvement engine on instance text (read with the improvement
/// path's fields, `cost_matrices` added as in SolveJsonText): the targets no plan can
/// serve and why. Throws like SolveJsonText does while reading and building.
[[nodiscard]] std::vector<ReasonOutcome> PrecheckJsonText(const std::string& json_text,
                                                          CostMatrices cost_matrices = {},
                                                          const CostTables& tables = {});

/// The whole content of the file at `path`, byte for byte, up to the size the file had
/// when opened. Throws std::runtime_error "Cannot open file: <path>" when it cannot be
/// opened or read, or is not a regular file (a folder, a device, a FIFO: refused without
/// reading or waiting), and std::invalid_argument when `path` holds a NUL character.
[[nodiscard]] std::string ReadInstanceFile(const std::string& path);

}  // namespace vornik

#endif  // VORNIK_SEARCH_JSONSOLVE_H
