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

void RefuseTravelCost(const std::string& agent_type, std::size_t row, std::size_t column,
                      double cost) {
    throw std::invalid_argument("cost_matrices['" + agent_type + "'][" + std::to_string(row) +
                                "][" + std::to_string(column) + "]: " + std::to_string(cost) +
                                " is not a finite cost >= 0; travel costs must be finite and "
                                ">= 0");
}

void CheckTravelCosts(const std::string& agent_type, const CostMatrix& matrix) {
    for (std::size_t r = 0; r < matrix.size(); ++r) {
        for (std::size_t c = 0; c < matrix[r].size(); ++c) {
            CheckTravelCost(agent_type, r, c, matrix[r][c]);
        }
    }
}

void CheckCostArray(const CostTables::Array& array, std::size_t num_nodes) {
    const std::size_t n = num_nodes;
    const std::string name = "cost_matrices['" + array.type + "']";
    if (array.rows != n || array.columns != n) {
        throw std::invalid_argument(
            name + " must be a " + std::to_string(n) + " x " + std::to_string(n) +
            " array, one row and column per node (got " + std::to_string(array.rows) + " x " +
            std::to_string(array.columns) + ")");
    }
    for (std::size_t r = 0; r < n; ++r) {
        for (std::size_t c = 0; c < n; ++c) {
            const double cost = array.data[r * n + c];
            // NaN is refused on the diagonal too, as CheckCostMatrix does for lists.
            if (r == c && std::isnan(cost)) {
                throw std::invalid_argument(name + ": entry [" + std::to_string(r) + "][" +
                                            std::to_string(c) + "] is NaN");
            }
            CheckTravelCost(array.type, r, c, cost);
        }
    }
}

}  // namespace vornik
