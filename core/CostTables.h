#ifndef VORNIK_CORE_COSTTABLES_H
#define VORNIK_CORE_COSTTABLES_H

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/Problem.h"

namespace vornik {

/// How a travel cost follows from the straight-line distance d between two node
/// positions: d itself, d rounded to the nearest whole number (halves up), or d
/// rounded up.
enum class DistanceRule : std::uint8_t { kExact, kNearest, kUp };

/// The cost of travel from `p` to `q` under `rule`. The same expression in both
/// directions, so that the cost is symmetric to the last bit.
inline double PositionDistance(DistanceRule rule, const Position& p, const Position& q) {
    const double dx = p.x - q.x;
    const double dy = p.y - q.y;
    const double dz = p.z - q.z;
    const double d = std::sqrt(dx * dx + dy * dy + dz * dz);
    switch (rule) {
        case DistanceRule::kNearest:
            return std::floor(d + 0.5);
        case DistanceRule::kUp:
            return std::ceil(d);
        case DistanceRule::kExact:
            break;
    }
    return d;
}

/// Cost tables handed to the improvement path besides the Problem's own matrices, so that
/// large instances need no copy of them: dense arrays the caller owns, and agent types
/// whose costs are distances between node positions, computed when asked.
struct CostTables {
    /// A row-major n x n array of costs for one agent type, owned by the caller and
    /// alive for as long as anything built from these tables is.
    struct Array {
        std::string type;
        const double* data = nullptr;
        std::size_t rows = 0;
        std::size_t columns = 0;
    };
    std::vector<Array> arrays;
    /// Agent types that travel at the distance between node positions.
    std::vector<std::pair<std::string, DistanceRule>> computed;

    bool Empty() const { return arrays.empty() && computed.empty(); }
};

/// `rule` by its name: "exact", "nint" (nearest whole number) or "ceil"; throws
/// std::invalid_argument naming `what` for any other name.
DistanceRule DistanceRuleNamed(const std::string& name, const std::string& what);

/// Moves `tables` into `problem` as ordinary matrices (for the small instances that the
/// focal search also reads), leaving `tables` empty. Arrays are checked as matrices are.
void MaterializeCostTables(Problem& problem, CostTables& tables);

}  // namespace vornik

#endif  // VORNIK_CORE_COSTTABLES_H
