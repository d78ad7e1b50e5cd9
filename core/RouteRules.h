#ifndef VORNIK_CORE_ROUTERULES_H
#define VORNIK_CORE_ROUTERULES_H

#include <algorithm>
#include <limits>
#include <utility>
#include <vector>

namespace vornik {

/// The rules every route obeys, whoever builds it: the post-optimizers' route walk and
/// the improvement engine's segment arithmetic both call these, so that a route has one
/// feasibility and one cost.
///
/// A route is driven on one clock that starts at 0 at the first vertex. Each leg adds its
/// travel cost; at a vertex with a window the agent waits until the window opens and must
/// not arrive after it closes (the first vertex included: an agent whose depot window
/// opens at 5 leaves at 5). A vertex with several windows is entered in the first one
/// that has not closed yet. Service starts when the agent may start and adds its
/// duration before the agent leaves. The route's cost is the clock after its last vertex,
/// and an agent's limit (when > 0) bounds the clock. A route's load in each dimension,
/// the sum of its targets' demands, must not exceed the agent's capacity there.

/// Earliest and latest time at a vertex; absent windows admit every time.
struct TimeWindow {
    bool present = false;
    double start = 0.0;
    double end = 0.0;
};

/// Arrival at a vertex with window `window` at clock `t`: false when the window has
/// closed, otherwise waits for it to open.
inline bool ArriveWithinWindow(const TimeWindow& window, double& t) {
    if (!window.present) return true;
    if (t > window.end) return false;
    t = std::max(t, window.start);
    return true;
}

/// Arrival at a vertex with the sorted, disjoint windows [first, last) at clock `t`:
/// waits for the first window that has not closed, false when all have.
inline bool ArriveWithinWindows(const TimeWindow* first, const TimeWindow* last, double& t) {
    for (const TimeWindow* window = first; window != last; ++window) {
        if (!(t > window->end)) {
            t = std::max(t, window->start);
            return true;
        }
    }
    return false;
}

/// The windows given to one vertex as ArriveWithinWindows reads them: sorted by opening,
/// overlapping or touching ones merged, empty ones (closing before they open) dropped. A
/// vertex whose windows are all empty keeps one window that no arrival meets.
inline std::vector<TimeWindow> MergedWindows(std::vector<std::pair<double, double>> given) {
    std::sort(given.begin(), given.end());
    std::vector<TimeWindow> merged;
    for (const auto& [start, end] : given) {
        if (!(start <= end)) continue;
        if (!merged.empty() && !(start > merged.back().end)) {
            merged.back().end = std::max(merged.back().end, end);
        } else {
            merged.push_back(TimeWindow{true, start, end});
        }
    }
    if (merged.empty()) {
        merged.push_back(TimeWindow{true, std::numeric_limits<double>::infinity(),
                                    -std::numeric_limits<double>::infinity()});
    }
    return merged;
}

/// A load within a capacity (+infinity for no limit). The tolerance absorbs the rounding
/// of sums taken in different orders, so that a load priced from prefix sums and the
/// same load summed afresh agree.
inline bool WithinCapacity(double load, double capacity) {
    return load <= capacity + 1e-9 * std::max(1.0, capacity);
}

/// An agent's limit bounds its clock; 0 or less means unlimited.
inline bool HasLimit(double limit) { return limit > 0; }
inline bool WithinLimit(double t, double limit) { return !(HasLimit(limit) && t > limit); }

/// The leg onto the agent's own start or end vertex that closes its route costs nothing
/// when the agent does not return.
inline bool ClosingLegIsFree(bool return_to_end) { return !return_to_end; }

/// What a stretch of consecutive vertices does to the clock, in closed form: entered at
/// clock t (before waiting at its first vertex), it is left at max(t + duration, earliest)
/// and can be entered only while t <= latest. Built from ArriveWithinWindow, so that
/// concatenating two stretches gives exactly what walking them vertex by vertex gives.
struct TimeSegment {
    double duration = 0.0;                                       ///< travel inside the stretch
    double earliest = -std::numeric_limits<double>::infinity();  ///< earliest exit clock
    double latest = std::numeric_limits<double>::infinity();     ///< latest entry clock
    bool feasible = true;  ///< false when no entry clock gets through

    /// The stretch of one vertex with window `window` and `service`: entered at t, the
    /// service starts at max(t, start) and ends `service` later.
    static TimeSegment Vertex(const TimeWindow& window, double service = 0.0) {
        TimeSegment segment;
        segment.duration = service;
        if (window.present) {
            segment.earliest = window.start + service;
            segment.latest = window.end;
        }
        return segment;
    }

    /// Exit clock when entered at `t`; only meaningful when Admits(t).
    double Exit(double t) const { return std::max(t + duration, earliest); }
    bool Admits(double t) const { return feasible && !(t > latest); }

    /// `first`, a leg of `travel`, then `second`. Entering at t, the leg starts at
    /// max(t + d1, e1) and reaches `second` at that + travel, so the exit is
    /// max(t + d1 + travel + d2, e1 + travel + d2, e2), and entry needs t <= l1 and
    /// t + d1 + travel <= l2 and e1 + travel <= l2.
    static TimeSegment Join(const TimeSegment& first, double travel, const TimeSegment& second) {
        TimeSegment joined;
        if (!(travel < std::numeric_limits<double>::infinity())) {
            joined.feasible = false;  // no arc
            return joined;
        }
        joined.duration = first.duration + travel + second.duration;
        joined.earliest = std::max(first.earliest + travel + second.duration, second.earliest);
        joined.latest = std::min(first.latest, second.latest - travel - first.duration);
        joined.feasible =
            first.feasible && second.feasible && !(first.earliest + travel > second.latest);
        return joined;
    }
};

}  // namespace vornik

#endif  // VORNIK_CORE_ROUTERULES_H
