#ifndef VORNIK_CORE_COSTMATRIXCHECK_H
#define VORNIK_CORE_COSTMATRIXCHECK_H

#include <cmath>
#include <cstddef>
#include <string>

#include "core/CostTables.h"
#include "core/Problem.h"

namespace vornik {

/// Refuses a cost matrix that cannot describe `num_nodes` vertices: more rows or a row
/// with more entries than there are nodes, or a NaN entry (std::invalid_argument naming
/// the type and the entry). Missing rows and entries are allowed: they are no arcs.
void CheckCostMatrix(const std::string& agent_type, const CostMatrix& matrix,
                     std::size_t num_nodes);

/// Refuses a cost off the diagonal that is negative or not finite (std::invalid_argument
/// naming the type, the entry and the rule): such a cost lets a route's clock fall, or
/// never end. The JSON layer, the arrays and the improvement engine all refuse them; the
/// focal search, given a Problem directly, reads them as they are.
void CheckTravelCosts(const std::string& agent_type, const CostMatrix& matrix);

/// Throws what CheckTravelCost throws for a cost that breaks its rule.
[[noreturn]] void RefuseTravelCost(const std::string& agent_type, std::size_t row,
                                   std::size_t column, double cost);

/// The same rule for one entry, row `row` and column `column` of the type's costs. Inline:
/// it runs once per entry of every matrix (9 million on 3,000 nodes), and only a refusal
/// leaves the loop.
inline void CheckTravelCost(const std::string& agent_type, std::size_t row, std::size_t column,
                            double cost) {
    if (row == column || (std::isfinite(cost) && cost >= 0)) return;
    RefuseTravelCost(agent_type, row, column, cost);
}

/// Refuses a caller's array of costs that is not `num_nodes` x `num_nodes`, holds NaN, or
/// breaks CheckTravelCost off the diagonal (std::invalid_argument naming the entry).
void CheckCostArray(const CostTables::Array& array, std::size_t num_nodes);

}  // namespace vornik

#endif  // VORNIK_CORE_COSTMATRIXCHECK_H
