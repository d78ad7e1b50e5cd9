#ifndef VORNIK_CORE_ROUTEWALKER_H
#define VORNIK_CORE_ROUTEWALKER_H

#include <cstddef>
#include <cstdint>
#include <limits>
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

/// When an agent reaches one stop of its route and leaves it.
struct StopTimes {
    double arrival = 0.0;
    double waiting = 0.0;    ///< until the window opens
    double start = 0.0;      ///< start of service: arrival + waiting
    double departure = 0.0;  ///< start + service
};

/// The first rule a walked route breaks.
enum class WalkBreak : std::uint8_t {
    kNone = 0,
    kArc,     ///< a leg the instance does not give
    kWindow,  ///< every window of a stop closed before the agent arrived
    kLimit,   ///< the clock passed the agent's limit
};

/// Where a walk of stops ended: the clock after the last stop it reached, and the first
/// rule broken with the position of the stop that broke it (the last stop for the limit).
struct StopsWalk {
    WalkBreak broken = WalkBreak::kNone;
    std::size_t failed_at = 0;
    double clock = 0.0;
};

/// Walks `count` stops on one clock, the rules of core/RouteRules.h in order: the clock
/// starts at 0 on stop 0; each later stop k is reached over a leg of `travel(k)` (+inf for
/// no arc), then `arrive(k, t)` waits for the stop's window (false when all have closed)
/// and `service(k)` is added. `visit(k, times)` sees every stop reached. The limit bounds
/// the final clock: costs are never negative on the walks that use this, so a clock
/// within the limit at the end was within it everywhere. With `keep_going`, a closed
/// window is recorded and the walk goes on from the late arrival without waiting.
template <typename Travel, typename Arrive, typename Service, typename Visit>
StopsWalk WalkStops(std::size_t count, Travel&& travel, Arrive&& arrive, Service&& service,
                    double limit, Visit&& visit, bool keep_going = false) {
    StopsWalk walk;
    double t = 0.0;
    for (std::size_t k = 0; k < count; ++k) {
        if (k > 0) {
            t += travel(k);
            if (!(t < std::numeric_limits<double>::infinity())) {
                walk.broken = WalkBreak::kArc;
                walk.failed_at = k;
                walk.clock = t;
                return walk;
            }
        }
        StopTimes times;
        times.arrival = t;
        if (!arrive(k, t)) {
            if (walk.broken == WalkBreak::kNone) {
                walk.broken = WalkBreak::kWindow;
                walk.failed_at = k;
            }
            if (!keep_going) {
                walk.clock = t;
                return walk;
            }
            t = times.arrival;
        }
        times.start = t;
        times.waiting = t - times.arrival;
        t += service(k);
        times.departure = t;
        visit(k, times);
    }
    walk.clock = t;
    if (walk.broken == WalkBreak::kNone && count > 0 && !WithinLimit(t, limit)) {
        walk.broken = WalkBreak::kLimit;
        walk.failed_at = count - 1;
    }
    return walk;
}

/// Walks `route` (vertices of `model`) for agent `a`: it must start on the agent's start
/// and close where RouteWalker::ClosesOn allows, each vertex in between must admit the
/// agent's type, a leg the model does not give (kNoArc) cannot be driven, and the clock
/// starts at 0 on the first vertex, waiting for its window. The empty route costs 0.
RouteWalk WalkRoute(const InstanceModel& model, std::size_t a,
                    const std::vector<std::uint32_t>& route, bool return_to_end);

}  // namespace vornik

#endif  // VORNIK_CORE_ROUTEWALKER_H
