#ifndef VORNIK_SEARCH_SOLVERRECORDS_H
#define VORNIK_SEARCH_SOLVERRECORDS_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>

#include "core/Problem.h"

namespace vornik {

/// Summary of the instance and of the last solution, as GetStatistics returns it.
struct SolverStatistics {
    std::int32_t solved = 0;  ///< 1 once a solution has been found
    std::int32_t num_nodes = -1;
    std::int32_t num_agents = -1;
    std::int32_t num_type1_agents = -1;
    std::int32_t num_type0_agents = -1;
    std::int32_t num_shared_nodes = -1;  ///< nodes whose allowed types are exactly [0, 1]
    std::int32_t num_type0_nodes = -1;   ///< nodes whose allowed types are exactly [0]
    double sum_cost = -1.0;
    double max_cost = -1.0;
    double last_update_time = -1.0;
    double gap_ratio = -1.0;  ///< incumbent / lower bound at the last weight update
};

/// What a caller hands one search: a stop request, polled every few dozen pops and
/// between post-optimizer moves (a yes ends the search as a time-out would), and a report
/// of every solution that improves on the earlier ones, with (search seconds, largest
/// route cost, sum of route costs). Either may be empty.
struct SearchHooks {
    std::function<bool()> should_stop;
    std::function<void(double, double, double)> on_solution;
};

/// What one search may spend: processor seconds, and bytes for the whole solve (the
/// tables included; the largest size_t for no limit).
struct SearchBudget {
    double time_limit = 60.0;
    std::size_t memory_limit = std::numeric_limits<std::size_t>::max();
};

/// One solution as the search saw it: processor seconds since the search started and a
/// full copy of the result at that moment.
struct AnytimeRecord {
    double time = 0.0;
    Result result;
};

}  // namespace vornik

#endif  // VORNIK_SEARCH_SOLVERRECORDS_H
