#ifndef VORNIK_PLUGINS_HEURISTICPLUGIN_H
#define VORNIK_PLUGINS_HEURISTICPLUGIN_H

#include <vector>

#include "core/SearchRecords.h"
#include "graph/PlannerGraph.h"
#include "plugins/PluginBase.h"

namespace vornik {

/// Estimates the cost still needed to finish a partial solution. Called for the root
/// and for every child that passed the checkers and the dominance test and still has
/// an open agent; must not allocate per call.
class HeuristicPlugin : public PluginBase {
public:
    /// `graph` is owned by the Solver and outlives the plug-in's use of it.
    virtual void Init(const PlannerGraph* graph, const std::vector<NodeEntry>& nodes,
                      const std::vector<AgentEntry>& agents) = 0;
    /// h >= 0; a very large value when the node cannot be completed.
    virtual double Evaluate(const SearchNode& node) const = 0;
};

}  // namespace vornik

#endif  // VORNIK_PLUGINS_HEURISTICPLUGIN_H
