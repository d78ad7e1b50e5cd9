#ifndef VORNIK_PLUGINS_DEFAULTPOSTOPTIMIZER_H
#define VORNIK_PLUGINS_DEFAULTPOSTOPTIMIZER_H

#include <cstdint>
#include <limits>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "plugins/EvaluatingPostOptimizer.h"
#include "plugins/RouteEvaluator.h"

namespace vornik {

/// Improves a complete solution for the min-max goal: 2-opt on every route, one
/// single-vertex relocation inside each agent-type group (from its most expensive to its
/// cheapest route), then relocations between groups (from the group whose most expensive
/// route is the costliest to the group whose most expensive route is the cheapest) as
/// long as they lower the larger of the two route costs. Owned by the Solver's
/// CompositePostOptimizer.
class DefaultPostOptimizer final : public EvaluatingPostOptimizer {
public:
    std::string GetName() const override { return "DefaultPostOptimizer"; }

    /// Rewrites `paths` and `times` for agent indices 0 .. agents.size()-1. A route that
    /// cannot be driven is reported on stderr and left as it is, with its incoming
    /// `times` value. Throws std::logic_error if its group bookkeeping is inconsistent.
    void Optimize(const PlannerGraph* graph, const std::vector<NodeEntry>& nodes,
                  const std::vector<AgentEntry>& agents, Result& result) override;

private:
    static constexpr std::uint64_t kNoPosition = std::numeric_limits<std::uint64_t>::max();

    struct AgentRoute {
        std::uint64_t agent = 0;
        double cost = 0.0;  ///< as given by RouteCost
        std::vector<std::uint64_t> route;
    };
    /// The agents sharing one agent-type index.
    struct AgentGroup {
        std::uint64_t count = 0;
        std::uint64_t type = 0;
        std::uint64_t max_agent = 0;         ///< member with the highest route cost
        std::uint64_t min_agent = 0;         ///< member with the lowest route cost
        std::vector<std::uint64_t> members;  ///< increasing agent index
    };
    struct RelocationMove {
        std::uint64_t from_position = kNoPosition;
        std::uint64_t to_position = kNoPosition;
        std::uint64_t source_type = 0;
        std::uint64_t target_type = 0;
        double gain = 0.0;
    };

    /// Cost of `route` for `agent`; 0 with a message when the agent cannot drive it.
    double RouteCost(const std::vector<std::uint64_t>& route, std::uint64_t agent) const;
    void UpdateGroupExtremes(std::uint64_t type);
    RelocationMove FindBestRelocation(std::uint64_t source_type, std::uint64_t target_type);
    void ApplyRelocation(AgentRoute& first, AgentRoute& second, const RelocationMove& move);
    void OptimizeInGroups();
    void OptimizeBetweenGroups();

    // Working state of one Optimize call.
    std::vector<AgentRoute> routes_;
    std::unordered_map<std::uint64_t, AgentGroup> groups_;
    std::vector<std::uint64_t> group_order_;  ///< by the smallest agent index of each type
    RouteTrace source_trace_;                 ///< buffers reused by FindBestRelocation
    RouteTrace target_trace_;
};

}  // namespace vornik

#endif  // VORNIK_PLUGINS_DEFAULTPOSTOPTIMIZER_H
