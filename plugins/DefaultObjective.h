#ifndef VORNIK_PLUGINS_DEFAULTOBJECTIVE_H
#define VORNIK_PLUGINS_DEFAULTOBJECTIVE_H

#include <cstdint>
#include <string>
#include <vector>

#include "plugins/ObjectivePlugin.h"

namespace vornik {

/// Min-max objective: g is the largest route cost; f bounds the makespan by the larger
/// of g and the remaining work (h plus the open agents' clocks) shared evenly among the
/// open agents. Owned by the Solver.
class DefaultObjective : public ObjectivePlugin {
public:
    std::string GetName() const override { return "DefaultObjective"; }
    /// Keeps a copy of `end_vertices`; the objective does not read it.
    void Init(const std::vector<std::uint64_t>& end_vertices) override;
    /// The largest element; 0 for an empty list.
    double Aggregate(const std::vector<double>& costs) const override;
    /// max(Aggregate(cost), (h + sum of the open agents' costs) / open_agents), or just
    /// Aggregate(cost) when open_agents <= 0. Aggregate is called virtually.
    double Estimate(const SearchNode& node, std::int64_t open_agents, double h) const override;

    const std::vector<std::uint64_t>& EndVertices() const { return end_vertices_; }

private:
    std::vector<std::uint64_t> end_vertices_;
};

}  // namespace vornik

#endif  // VORNIK_PLUGINS_DEFAULTOBJECTIVE_H
