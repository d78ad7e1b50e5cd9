#include "core/AllowedTypes.h"

#include <algorithm>
#include <string>

#include "core/Diagnostics.h"

namespace vornik {

std::vector<std::int64_t> BuildAllowedTypes(const Problem& problem, std::uint64_t node_id,
                                            bool warn) {
    std::vector<std::int64_t> allowed;
    const auto& by_node = problem.assignment_constraint.types_by_node;
    const auto entry = by_node.find(node_id);
    if (entry != by_node.end()) {
        // Names the instance never gave an agent cannot be served by anyone; they are
        // dropped, so a list of unknown names ends up admitting nobody.
        for (const std::string& name : entry->second) {
            const auto type = problem.type_index_of.find(name);
            if (type != problem.type_index_of.end()) {
                allowed.push_back(static_cast<std::int64_t>(type->second));
            }
        }
    } else {
        if (warn) {
            WarnLine("[warning] node " + std::to_string(node_id) +
                     " has no assignment constraint; allowing all types");
        }
        allowed.reserve(problem.type_index_of.size());
        for (const auto& type : problem.type_index_of) {
            allowed.push_back(static_cast<std::int64_t>(type.second));
        }
    }
    // The checkers scan these lists linearly and compare them with [0] and [0, 1], so
    // they are kept in one canonical form whatever order the names came in.
    std::sort(allowed.begin(), allowed.end());
    allowed.erase(std::unique(allowed.begin(), allowed.end()), allowed.end());
    return allowed;
}

}  // namespace vornik
