#include "core/CostMatrixCheck.h"

#include <cmath>
#include <stdexcept>

namespace vornik {

void CheckCostMatrix(const std::string& agent_type, const CostMatrix& matrix,
                     std::size_t num_nodes) {
    const std::string name = "cost matrix of agent type '" + agent_type + "'";
    if (matrix.size() > num_nodes) {
        throw std::invalid_argument(name + " has " + std::to_string(matrix.size()) + " rows for " +
                                    std::to_string(num_nodes) + " nodes");
    }
    for (std::size_t r = 0; r < matrix.size(); ++r) {
        if (matrix[r].size() > num_nodes) {
            throw std::invalid_argument(name + ": row " + std::to_string(r) + " has " +
                                        std::to_string(matrix[r].size()) + " entries for " +
                                        std::to_string(num_nodes) + " nodes");
        }
        for (std::size_t c = 0; c < matrix[r].size(); ++c) {
            if (std::isnan(matrix[r][c])) {
                throw std::invalid_argument(name + ": entry [" + std::to_string(r) + "][" +
                                            std::to_string(c) + "] is NaN");
            }
        }
    }
}

void CheckTravelCosts(const std::string& agent_type, const CostMatrix& matrix) {
    for (std::size_t r = 0; r < matrix.size(); ++r) {
        for (std::size_t c = 0; c < matrix[r].size(); ++c) {
            const double cost = matrix[r][c];
            if (r != c && !(std::isfinite(cost) && cost >= 0)) {
                throw std::invalid_argument(
                    "cost_matrices['" + agent_type + "'][" + std::to_string(r) + "][" +
                    std::to_string(c) + "]: " + std::to_string(cost) +
                    " is not a finite cost >= 0; travel costs must be finite and >= 0");
            }
        }
    }
}

}  // namespace vornik
