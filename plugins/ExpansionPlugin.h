#ifndef VORNIK_PLUGINS_EXPANSIONPLUGIN_H
#define VORNIK_PLUGINS_EXPANSIONPLUGIN_H

#include <cstdint>
#include <vector>

#include "core/SearchRecords.h"
#include "plugins/PluginBase.h"

namespace vornik {

/// Chooses the agent a search node is expanded for.
class ExpansionPlugin : public PluginBase {
public:
    virtual void Init(const std::vector<std::uint64_t>& end_vertices) = 0;
    /// Agent index to move next, or -1 when no agent can move.
    virtual std::int64_t SelectAgent(const SearchNode& node) const = 0;
};

}  // namespace vornik

#endif  // VORNIK_PLUGINS_EXPANSIONPLUGIN_H
