#ifndef VORNIK_BINDINGS_SOLVEENTRY_H
#define VORNIK_BINDINGS_SOLVEENTRY_H

#include <pybind11/pybind11.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/CostTables.h"
#include "search/JsonSolve.h"

namespace vornik {

/// What the cost_matrices and distances keywords hold: lists of rows become matrices;
/// anything with the buffer protocol (NumPy arrays) is read in place, as doubles in C order
/// (a copy is made only of arrays of another type or layout, and kept in `keep`).
struct CostInputs {
    CostMatrices matrices;
    CostTables tables;
    std::vector<pybind11::object> keep;
};

/// Reads the cost_matrices and distances keywords; TypeError or ValueError naming the key.
CostInputs ReadCostInputs(const pybind11::object& cost_matrices, const pybind11::object& distances);

/// The solve proper, given the hooks and settings built from the keywords.
using SolveRun = std::function<JsonSolveOutcome(const SolveHooks&, const SolveSettings&)>;

/// Runs `run` with the keywords every solve entry point shares (callbacks, seed, clock,
/// iteration bound, memory limit, engine parameters, threads), without the interpreter
/// lock on the improvement path, and returns the result dictionary.
pybind11::dict SolveWith(const SolveRun& run, std::optional<pybind11::function> on_solution,
                         bool improve, std::uint64_t seed,
                         std::optional<pybind11::function> should_stop, const std::string& clock,
                         std::int64_t iteration_limit, std::optional<double> memory_limit_mb,
                         const pybind11::object& engine_params, std::int64_t threads);

}  // namespace vornik

#endif  // VORNIK_BINDINGS_SOLVEENTRY_H
