#ifndef VORNIK_SEARCH_FOCALCOMPARATORPLUGIN_H
#define VORNIK_SEARCH_FOCALCOMPARATORPLUGIN_H

#include <cstdint>

#include "plugins/PluginBase.h"

namespace vornik {

/// Entry of the FOCAL list.
struct FocalKey {
    std::int64_t id = 0;
    std::int64_t num_visited = 0;  ///< set bits among the node's first num_vertices bits
    std::int64_t open_agents = 0;
    double f = 0.0;
    double sum_cost = 0.0;  ///< 0.0 for keys admitted by Refocus
};

/// Orders FOCAL. Must be a strict weak order; keys it finds equivalent are kept once.
class FocalComparatorPlugin : public PluginBase {
public:
    /// True when `a` goes before `b`.
    virtual bool Compare(const FocalKey& a, const FocalKey& b) const = 0;
};

}  // namespace vornik

#endif  // VORNIK_SEARCH_FOCALCOMPARATORPLUGIN_H
