#ifndef VORNIK_SEARCH_EDGELIST_H
#define VORNIK_SEARCH_EDGELIST_H

#include <cstdint>
#include <vector>

#include "core/SearchRecords.h"
#include "graph/PlannerGraph.h"

namespace vornik {

/// Lower bound of travelling from vertex `a` to vertex `b` with any of the first
/// `num_agent_types` agent types, counting the waiting that the time windows of `a` and
/// `b` make unavoidable. A component of 9999.0 or more means "no arc for that type"; a
/// missing arc blocks every type. Returns the largest finite double when no type can
/// make the trip (also when there are no agent types).
double ArcLowerBound(const PlannerGraph& graph, std::uint64_t num_agent_types,
                     const TimeWindowTable& windows, std::uint64_t a, std::uint64_t b);

/// The edge list of the spanning-forest bound: one record per unordered vertex pair
/// (u the larger vertex, v the smaller) whose cheaper direction is not blocked, sorted
/// by ascending cost (equal costs keep the pair order (1,0), (2,0), (2,1), (3,0), ...).
/// Blocked pairs are counted and summarised in one "[TW-MST] blocked edges: " line on
/// the standard output stream; when the environment variable MTSP_DEBUG_TW_EDGES is set
/// (to anything), each blocked pair is also listed there, in pair order.
std::vector<EdgeRecord> BuildEdgeList(const PlannerGraph& graph, std::uint64_t num_agent_types,
                                      const TimeWindowTable& windows);

}  // namespace vornik

#endif  // VORNIK_SEARCH_EDGELIST_H
