#ifndef VORNIK_CORE_ROUTEWALKER_H
#define VORNIK_CORE_ROUTEWALKER_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/InstanceModel.h"
#include "core/RouteRules.h"

namespace vornik {

/// What an agent brings to a walk of its route: its own start and end vertex (either may
/// be unknown to a caller that was not told) and its limit.
struct WalkAgent {
    bool has_start = false;
    std::uint64_t start = 0;
    bool has_end = false;
    std::uint64_t end = 0;
    double limit = 0.0;  ///< bounds the clock when > 0
};

/// The rules of core/RouteRules.h put together leg by leg, for everyone who walks a
/// route: the focal search's successor rule, the post-optimizers' evaluator and
/// WalkRoute below. A leg that moves adds its travel to the clock unless it is the free
/// closing leg of an agent that does not return (onto its own start or end); the agent
/// then waits for the window of the vertex it reaches, and its limit bounds the clock.
class RouteWalker {
public:
    explicit RouteWalker(bool return_to_end = true) : return_to_end_(return_to_end) {}

    [[nodiscard]] bool ReturnToEnd() const { return return_to_end_; }

    /// True when the leg from `u` onto `v` adds its travel to the clock.
    [[nodiscard]] bool Charges(const WalkAgent& agent, std::uint64_t u, std::uint64_t v) const {
        if (u == v) return false;
        return !(ClosingLegIsFree(return_to_end_) &&
                 ((agent.has_start && v == agent.start) || (agent.has_end && v == agent.end)));
    }

    /// True when a route may close on `last`: the agent's end, or its start when it does
    /// not return.
    [[nodiscard]] bool ClosesOn(const WalkAgent& agent, std::uint64_t last) const {
        return (agent.has_end && last == agent.end) ||
               (ClosingLegIsFree(return_to_end_) && agent.has_start && last == agent.start);
    }

    /// Advances the clock `t` over the leg from `u` onto `v`, whose window is `window`.
    /// `add_travel(u, v, t)` adds the leg's travel to `t` and returns false when the leg
    /// cannot be driven; it is called only for a charged leg. The limit is checked when
    /// `check_limit`. False when the leg, the window or the limit rules the step out.
    template <typename AddTravel>
    bool Step(const WalkAgent& agent, std::uint64_t u, std::uint64_t v, AddTravel&& add_travel,
              const TimeWindow& window, bool check_limit, double& t) const {
        if (Charges(agent, u, v) && !add_travel(u, v, t)) return false;
        if (!ArriveWithinWindow(window, t)) return false;
        return !check_limit || WithinLimit(t, agent.limit);
    }

private:
    bool return_to_end_ = true;
};

/// The outcome of walking a whole route: its cost when `ok`, otherwise the position of
/// the first vertex that rules it out (0 for a route that does not start and close where
/// the agent must).
struct RouteWalk {
    bool ok = false;
    double cost = 0.0;
    std::size_t failed_at = 0;
};

/// Walks `route` (vertices of `model`) for agent `a`: it must start on the agent's start
/// and close where RouteWalker::ClosesOn allows, each vertex in between must admit the
/// agent's type, a leg the model does not give (kNoArc) cannot be driven, and the clock
/// starts at 0 on the first vertex, waiting for its window. The empty route costs 0.
RouteWalk WalkRoute(const InstanceModel& model, std::size_t a,
                    const std::vector<std::uint32_t>& route, bool return_to_end);

}  // namespace vornik

#endif  // VORNIK_CORE_ROUTEWALKER_H
