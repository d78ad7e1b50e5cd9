#ifndef VORNIK_PLUGINS_MINSUMOBJECTIVE_H
#define VORNIK_PLUGINS_MINSUMOBJECTIVE_H

#include <cstdint>
#include <string>
#include <vector>

#include "plugins/ObjectivePlugin.h"

namespace vornik {

/// Min-sum objective: g is the sum of the route costs and f adds the heuristic to it.
/// Stateless; owned by the Solver.
class MinSumObjective : public ObjectivePlugin {
public:
    std::string GetName() const override { return "MinSumObjective"; }
    /// Accepted and ignored.
    void Init(const std::vector<std::uint64_t>& end_vertices) override;
    /// The sum of the elements in list order; 0 for an empty list.
    double Aggregate(const std::vector<double>& costs) const override;
    /// Aggregate(cost) + h (Aggregate called virtually); `open_agents` is not used.
    double Estimate(const SearchNode& node, std::int64_t open_agents, double h) const override;
};

}  // namespace vornik

#endif  // VORNIK_PLUGINS_MINSUMOBJECTIVE_H
