#ifndef VORNIK_CORE_ALLOWEDTYPES_H
#define VORNIK_CORE_ALLOWEDTYPES_H

#include <cstdint>
#include <vector>

#include "core/Problem.h"

namespace vornik {

/// Agent-type indices that may serve the node with id `node_id`, ascending and without
/// duplicates. A node listed in the assignment constraint gets the indices of its type
/// names (unknown names are dropped silently; an empty list admits nobody). A node not
/// listed gets every type index of the problem, and (when `warn`) a warning line naming
/// the node goes to the standard error stream.
std::vector<std::int64_t> BuildAllowedTypes(const Problem& problem, std::uint64_t node_id,
                                            bool warn = true);

}  // namespace vornik

#endif  // VORNIK_CORE_ALLOWEDTYPES_H
