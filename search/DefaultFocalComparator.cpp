#include "search/DefaultFocalComparator.h"

namespace vornik {

std::string DefaultFocalComparator::GetName() const { return "DefaultFocalComparator"; }

bool DefaultFocalComparator::Compare(const FocalKey& a, const FocalKey& b) const {
    // Deeper nodes first: within the focal bound, the search prefers to finish routes.
    if (a.num_visited != b.num_visited) return a.num_visited > b.num_visited;
    if (a.f != b.f) return a.f < b.f;
    return a.sum_cost < b.sum_cost;
}

}  // namespace vornik
