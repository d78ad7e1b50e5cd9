#ifndef VORNIK_SEARCH_PROBLEMSOLVE_H
#define VORNIK_SEARCH_PROBLEMSOLVE_H

#include "core/CostTables.h"
#include "core/Problem.h"
#include "search/JsonSolve.h"

namespace vornik {

/// Solves a Problem that was built without instance text (from arrays) on the same
/// pipeline SolveJsonText runs after reading its text: a `time_limit` > 0 replaces the
/// Problem's own; the focal search alone, or the improvement path with `settings`; the
/// same outcome for the same Problem, tables, seed and iteration bound. The budget's
/// clock on the improvement path starts at settings.improve_settings.started when set
/// (the caller's intake counted), else here. Throws as SolveJsonText does after reading.
[[nodiscard]] JsonSolveOutcome SolveProblem(Problem problem, double time_limit,
                                            const SolveHooks& hooks = {},
                                            const SolveSettings& settings = {},
                                            CostTables tables = {});

}  // namespace vornik

#endif  // VORNIK_SEARCH_PROBLEMSOLVE_H
