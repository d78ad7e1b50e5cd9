#ifndef VORNIK_SEARCH_DEFAULTFOCALCOMPARATOR_H
#define VORNIK_SEARCH_DEFAULTFOCALCOMPARATOR_H

#include <string>

#include "search/FocalComparatorPlugin.h"

namespace vornik {

/// Standard FOCAL order: more visited vertices first, then smaller f, then smaller cost
/// sum. The id and open_agents take no part, so keys equal in those three fields are
/// equivalent. Stateless; owned by the Solver.
class DefaultFocalComparator final : public FocalComparatorPlugin {
public:
    /// "DefaultFocalComparator".
    std::string GetName() const override;
    /// True when `a` goes before `b` (a strict weak order for keys without NaN).
    bool Compare(const FocalKey& a, const FocalKey& b) const override;
};

}  // namespace vornik

#endif  // VORNIK_SEARCH_DEFAULTFOCALCOMPARATOR_H
