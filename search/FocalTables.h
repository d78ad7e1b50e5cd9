#ifndef VORNIK_SEARCH_FOCALTABLES_H
#define VORNIK_SEARCH_FOCALTABLES_H

#include <cstdint>
#include <memory>
#include <vector>

#include "core/InstanceModel.h"
#include "core/SearchRecords.h"
#include "graph/DenseGraph.h"

namespace vornik {

/// The focal search's tables, read from the instance model in one pass: the node and
/// agent tables its plug-ins take, every agent's start and end vertex, the windows by
/// vertex, and the graph whose arcs carry one cost per agent type.
struct FocalTables {
    std::vector<NodeEntry> nodes;
    std::vector<AgentEntry> agents;
    std::vector<std::uint64_t> start_vertices;
    std::vector<std::uint64_t> end_vertices;
    TimeWindowTable time_windows;
    std::unique_ptr<DenseGraph> graph;
};

/// Builds the tables of `model`. This is where the focal search's reading of costs
/// (kFocalNoArcCost for a cost the instance does not give) is applied, and the only place.
FocalTables BuildFocalTables(const InstanceModel& model);

}  // namespace vornik

#endif  // VORNIK_SEARCH_FOCALTABLES_H
