#ifndef VORNIK_IMPROVE_WARPSEGMENT_H
#define VORNIK_IMPROVE_WARPSEGMENT_H

#include <algorithm>
#include <limits>

#include "core/RouteRules.h"

namespace vornik {

/// Prices of breaking the route rules that a descent through infeasible space may break:
/// per unit of time warp and per unit of load above a capacity (summed over dimensions).
struct PenaltyWeights {
    double time_warp = 1.0;
    double excess_load = 1.0;
};

/// Arrival at a vertex with window `window` at clock `t` when lateness is allowed: an agent
/// that comes after the window closed travels back in time to its closing, and the
/// distance travelled back is added to `warp`. Waits for the opening as usual.
inline void ArriveWarping(const TimeWindow& window, double& t, double& warp) {
    if (!window.present) return;
    if (t > window.end) {
        warp += t - window.end;
        t = window.end;
    }
    t = std::max(t, window.start);
}

/// The same at a vertex with the sorted, disjoint windows [first, last): the first window
/// still open, else back to the closing of the last one.
inline void ArriveWarpingWithin(const TimeWindow* first, const TimeWindow* last, double& t,
                                double& warp) {
    for (const TimeWindow* window = first; window != last; ++window) {
        if (!(t > window->end)) {
            t = std::max(t, window->start);
            return;
        }
    }
    if (first != last) ArriveWarping(*(last - 1), t, warp);
}

/// What a stretch of consecutive vertices does to the clock when lateness is allowed, in
/// closed form: entered at clock t (before waiting at its first vertex), it is left at
/// clamp(t, earliest, latest) + duration - warp and adds warp + max(0, t - latest) of time
/// warp. Concatenating two stretches gives what walking them with ArriveWarping gives
/// (the classic duration and time-warp segments of vehicle routing).
struct WarpSegment {
    double duration = 0.0;  ///< travel, service and waiting inside the stretch
    double warp = 0.0;      ///< time warp inside the stretch, entered within [earliest, latest]
    double earliest = -std::numeric_limits<double>::infinity();
    double latest = std::numeric_limits<double>::infinity();

    static WarpSegment Vertex(const TimeWindow& window, double service = 0.0) {
        WarpSegment segment;
        segment.duration = service;
        if (window.present) {
            segment.earliest = window.start;
            segment.latest = window.end;
        }
        return segment;
    }

    double Exit(double t) const {
        return std::min(std::max(t, earliest), latest) + duration - warp;
    }
    double WarpFrom(double t) const { return warp + std::max(0.0, t - latest); }

    /// `first`, a leg of finite `travel`, then `second`. Entered at `first`'s earliest,
    /// `second` is reached `reach` later: it waits when that is before second.earliest and
    /// warps when after second.latest, and the entry interval shrinks by what it absorbs.
    /// A missing arc (infinite travel) gives a segment of infinite duration, which no
    /// entry clock gets through.
    static WarpSegment Join(const WarpSegment& first, double travel, const WarpSegment& second) {
        constexpr double kNoArc = std::numeric_limits<double>::infinity();
        if (!(travel < kNoArc && first.duration < kNoArc && second.duration < kNoArc)) {
            WarpSegment broken;
            broken.duration = kNoArc;
            return broken;
        }
        const double reach = first.duration - first.warp + travel;
        const double wait = std::max(0.0, second.earliest - reach - first.latest);
        const double warped = std::max(0.0, first.earliest + reach - second.latest);
        WarpSegment joined;
        joined.duration = first.duration + travel + second.duration + wait;
        joined.warp = first.warp + second.warp + warped;
        joined.earliest = std::max(second.earliest - reach, first.earliest) - wait;
        joined.latest = std::min(second.latest - reach, first.latest) + warped;
        return joined;
    }
};

}  // namespace vornik

#endif  // VORNIK_IMPROVE_WARPSEGMENT_H
