#ifndef VORNIK_CORE_COSTMATRIXCHECK_H
#define VORNIK_CORE_COSTMATRIXCHECK_H

#include <cstddef>
#include <string>

#include "core/Problem.h"

namespace vornik {

/// Refuses a cost matrix that cannot describe `num_nodes` vertices: more rows or a row
/// with more entries than there are nodes, or a NaN entry (std::invalid_argument naming
/// the type and the entry). Missing rows and entries are allowed: they are no arcs.
void CheckCostMatrix(const std::string& agent_type, const CostMatrix& matrix,
                     std::size_t num_nodes);

}  // namespace vornik

#endif  // VORNIK_CORE_COSTMATRIXCHECK_H
