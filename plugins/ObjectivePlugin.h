#ifndef VORNIK_PLUGINS_OBJECTIVEPLUGIN_H
#define VORNIK_PLUGINS_OBJECTIVEPLUGIN_H

#include <cstdint>
#include <vector>

#include "core/SearchRecords.h"
#include "plugins/PluginBase.h"

namespace vornik {

/// Combines per-agent costs into a node's g and its priority f.
class ObjectivePlugin : public PluginBase {
public:
    virtual void Init(const std::vector<std::uint64_t>& end_vertices) = 0;
    /// g of a list of per-agent costs; 0 for an empty list.
    virtual double Aggregate(const std::vector<double>& costs) const = 0;
    /// f of `node` with `open_agents` open agents and heuristic value `h`.
    virtual double Estimate(const SearchNode& node, std::int64_t open_agents, double h) const = 0;
};

}  // namespace vornik

#endif  // VORNIK_PLUGINS_OBJECTIVEPLUGIN_H
