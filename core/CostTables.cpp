#include "core/CostTables.h"

#include <stdexcept>

namespace vornik {

DistanceRule DistanceRuleNamed(const std::string& name, const std::string& what) {
    if (name == "exact") return DistanceRule::kExact;
    if (name == "nint") return DistanceRule::kNearest;
    if (name == "ceil") return DistanceRule::kUp;
    throw std::invalid_argument(what + " must be \"exact\", \"nint\" or \"ceil\" (got \"" +
                                name.substr(0, 40) + "\")");
}

void MaterializeCostTables(Problem& problem, CostTables& tables) {
    const std::size_t n = problem.nodes.size();
    for (const CostTables::Array& array : tables.arrays) {
        CostMatrix matrix(array.rows, std::vector<double>(array.columns));
        for (std::size_t r = 0; r < array.rows; ++r) {
            for (std::size_t c = 0; c < array.columns; ++c) {
                matrix[r][c] = array.data[r * array.columns + c];
            }
        }
        problem.SetCostMatrix(array.type, std::move(matrix));
    }
    for (const auto& [type, rule] : tables.computed) {
        CostMatrix matrix(n, std::vector<double>(n, 0.0));
        for (std::size_t r = 0; r < n; ++r) {
            for (std::size_t c = 0; c < n; ++c) {
                if (r != c) {
                    matrix[r][c] = PositionDistance(rule, problem.nodes[r].position,
                                                    problem.nodes[c].position);
                }
            }
        }
        problem.SetCostMatrix(type, std::move(matrix));
    }
    tables = CostTables{};
}

}  // namespace vornik
