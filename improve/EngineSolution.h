#ifndef VORNIK_IMPROVE_ENGINESOLUTION_H
#define VORNIK_IMPROVE_ENGINESOLUTION_H

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "core/RouteRules.h"
#include "improve/EngineModel.h"
#include "improve/WarpSegment.h"

namespace vornik {

/// One agent's route: the targets it serves, in order, plus what a walk over it leaves
/// behind for pricing changes in constant time. Positions count the whole sequence
/// [start, visits..., end]: position 0 is the start, 1 .. k the visits, k + 1 the end.
struct EngineRoute {
    std::vector<std::uint32_t> visits;
    /// clock[i]: the clock on leaving position i (after waiting there); +infinity from
    /// the first position the route cannot reach in time.
    std::vector<double> clock;
    /// leg[p]: the cost of the leg into position p (1 .. k + 1).
    std::vector<double> leg;
    /// suffix[i]: the clock arithmetic of positions i .. k + 1.
    std::vector<TimeSegment> suffix;
    double cost = 0.0;  ///< +infinity when the route breaks a window, an arc or the limit
    /// Only without windows: backward[p], the travel of walking positions p .. 1 the
    /// wrong way round (arcs v_p -> v_(p-1) for p >= 2), finite arcs only, and
    /// backward_gaps[p], how many of those arcs are missing. A reversed stretch is then
    /// priced by two subtractions.
    std::vector<double> backward;
    std::vector<std::uint32_t> backward_gaps;
    std::vector<double> back_leg;  ///< back_leg[p]: the arc v_p -> v_(p-1), p >= 2
    /// With windows: to_barrier[p] is the distance from p to the first position at or
    /// after it whose vertex has several windows (past the end when none has), and
    /// suffix[p] covers only the positions before that one. Several windows make a
    /// vertex's clock a step function, which no three-number segment can carry, so the
    /// walk steps across such vertices one by one and takes the closed form in between.
    std::vector<std::uint32_t> to_barrier;
    /// load_prefix[p * D + d]: the load of positions 1 .. p in dimension d (D dimensions).
    std::vector<double> load_prefix;
    /// With windows, once EngineSolution::PrepareRuns built it: from_barrier[p], the
    /// distance back from p to the last position at or before it whose vertex has several
    /// windows (p + 1 when none has); back_leg then holds the reversed legs too.
    std::vector<std::uint32_t> from_barrier;
    /// With windows, once EngineSolution::PrepareRuns built them: the
    /// time segments of stretches of the visits, walked forward (run_forward) and
    /// reversed (run_backward), as disjoint sparse tables over positions 1 .. k, so that
    /// any stretch without a vertex of several windows is one Join of two entries. Entry
    /// h * k + (p - 1) of level h covers position p up to (or from) the middle of its
    /// block of 2^(h + 1) positions. runs_fresh: the tables match the visits.
    std::vector<TimeSegment> run_forward;
    std::vector<TimeSegment> run_backward;
    bool runs_fresh = false;
    /// While the solution prices with penalties (EngineSolution::SetPenalties), the walk
    /// that lets the agent be late: warp_clock[p], the clock on leaving position p (after
    /// travelling back to a closing), +infinity past a missing arc; warp_total[p], the
    /// time warp of positions 0 .. p; and, like suffix and to_barrier, warp_suffix[p]
    /// covering positions p up to before the next vertex of several windows, which is
    /// warp_barrier[p] positions on.
    std::vector<double> warp_clock;
    std::vector<double> warp_total;
    std::vector<WarpSegment> warp_suffix;
    std::vector<std::uint32_t> warp_barrier;
    bool warp_fresh = false;

    /// When the route last changed, by EngineSolution::Changes.
    std::uint64_t changed_at = 0;

    /// The route's load, one entry per dimension (none when the instance has none).
    const double* Load() const { return load_prefix.data() + visits.size() * Dimensions(); }
    std::size_t Dimensions() const { return load_prefix.size() / (visits.size() + 1); }
};

/// A stretch of one route's visits, positions first .. last, walked forward or reversed.
/// Empty when first > last.
struct RouteRun {
    std::size_t first = 1;
    std::size_t last = 0;
    bool reversed = false;
};

/// The largest route cost and the sum of route costs of a solution, how many required
/// targets it leaves unserved, and the penalties of the optional targets it leaves out.
struct EngineScore {
    double max_cost = 0.0;
    double sum_cost = 0.0;
    std::size_t missing = 0;
    double penalty = 0.0;
};

/// True when `a` is better than `b`: fewer required targets unserved, or as many and an
/// objective plus penalties lower by more than 1e-9: the sum under min-sum; the largest
/// route, then the sum, under min-max.
bool Better(ObjectiveType objective, const EngineScore& a, const EngineScore& b);

/// A set of routes, one per agent, and the targets that none of them serves.
class EngineSolution {
public:
    static constexpr double kInfeasible = std::numeric_limits<double>::infinity();

    explicit EngineSolution(const EngineModel* model);  // model outlives the solution

    const EngineModel& Model() const { return *model_; }
    std::size_t NumRoutes() const { return routes_.size(); }
    const EngineRoute& Route(std::size_t a) const { return routes_[a]; }
    const std::vector<std::uint32_t>& Unassigned() const { return unassigned_; }
    /// Agent whose route serves `v`, or -1; position of `v` in that route (1 .. k).
    std::int64_t RouteOf(std::uint32_t v) const { return route_of_[v]; }
    std::size_t PositionOf(std::uint32_t v) const { return position_of_[v]; }

    /// Vertex at position i of route a (0: start, k + 1: end).
    std::uint32_t At(std::size_t a, std::size_t i) const {
        const EngineRoute& route = routes_[a];
        if (i == 0) return model_->Agent(a).start;
        if (i > route.visits.size()) return model_->Agent(a).end;
        return route.visits[i - 1];
    }

    /// Replaces route a's visits and refreshes its caches; the caller keeps every target
    /// in exactly one route or in the unassigned list.
    void SetVisits(std::size_t a, std::vector<std::uint32_t> visits);
    std::vector<std::uint32_t>& MutableUnassigned() { return unassigned_; }
    /// Removes the visits at positions first .. last (1-based, inclusive) of route a, adds
    /// them to the unassigned list, and refreshes the route.
    void RemoveVisits(std::size_t a, std::size_t first, std::size_t last);
    /// Inserts `v` after position i (0 .. k) of route a and refreshes the route; `v` must
    /// not be in any route (it is taken off the unassigned list if it is there).
    void Insert(std::size_t a, std::uint32_t v, std::size_t i);

    /// Cost of route a with the vertices [begin, end) in place of positions i + 1 .. j - 1
    /// (0 <= i < j <= k + 1), or kInfeasible (also when the agent may not serve one of
    /// the new vertices). Walks only the new vertices.
    template <typename Iter>
    double Splice(std::size_t a, std::size_t i, Iter begin, Iter end, std::size_t j) const;
    /// Route a's visits with [begin, end) in place of positions i + 1 .. j - 1: the route
    /// that Splice with the same arguments prices.
    template <typename Iter>
    std::vector<std::uint32_t> Spliced(std::size_t a, std::size_t i, Iter begin, Iter end,
                                       std::size_t j) const {
        const std::vector<std::uint32_t>& visits = routes_[a].visits;
        std::vector<std::uint32_t> spliced(visits.begin(),
                                           visits.begin() + static_cast<std::ptrdiff_t>(i));
        spliced.insert(spliced.end(), begin, end);
        if (j <= visits.size()) {
            spliced.insert(spliced.end(), visits.begin() + static_cast<std::ptrdiff_t>(j - 1),
                           visits.end());
        }
        return spliced;
    }
    /// From now on Splice and everything built on it (and PricedCost) price routes with
    /// these penalties for lateness and excess load instead of calling such routes
    /// infeasible; missing arcs, agent types and limits still make a route infeasible.
    /// Route costs (Route(a).cost, Score) keep the rules. Null ends it. The weights
    /// outlive their use; a copy of the solution prices as the original does.
    void SetPenalties(const PenaltyWeights* penalties);
    const PenaltyWeights* Penalties() const { return penalties_; }
    /// Route a's cost as Splice prices it: with penalties while they are set, else its cost.
    double PricedCost(std::size_t a) const {
        return penalties_ == nullptr ? routes_[a].cost : PenalizedCost(a);
    }
    /// While penalties are set: route a's time warp and its load above capacity, summed
    /// over dimensions.
    double TimeWarp(std::size_t a) const;
    double ExcessLoad(std::size_t a) const;

    /// Insertions in bulk, as a recreate makes them. Without windows or penalties a
    /// route's cost is its travel and service, so an insertion is priced from the route's
    /// cost and three arcs, and FinishInsertions rebuilds the caches of each route once,
    /// however many targets went in: rebuilding them at every insertion was a third of a
    /// large min-max solve. Until then only Route(a).visits, Route(a).cost, RouteOf,
    /// PositionOf, Unassigned and the two calls below may be used.
    bool DefersInsertions() const { return penalties_ == nullptr && !model_->HasWindows(); }
    /// Cost of route a with `v` inserted after position i; only where DefersInsertions().
    /// Equal to InsertionCost up to rounding.
    double DeferredInsertionCost(std::size_t a, std::uint32_t v, std::size_t i) const;
    /// Inserts `v` after position i of route a, leaving its caches for FinishInsertions.
    void InsertDeferred(std::size_t a, std::uint32_t v, std::size_t i);
    /// Brings the caches of every route with deferred insertions up to date.
    void FinishInsertions();

    /// Cost of route a with `v` inserted after position i.
    double InsertionCost(std::size_t a, std::uint32_t v, std::size_t i) const {
        return Splice(a, i, &v, &v + 1, i + 1);
    }
    /// Cost of route a with positions i + 1 .. j - 1 removed.
    double RemovalCost(std::size_t a, std::size_t i, std::size_t j) const {
        const std::uint32_t* none = nullptr;
        return Splice(a, i, none, none, j);
    }
    /// With windows, brings route a's run tables up to date, in O(k log k) for k visits
    /// (a change to the route leaves them stale); without windows it does nothing. Worth
    /// it before many moves inside a long route are priced, not while recreating.
    void PrepareRuns(std::size_t a) {
        if (model_->HasWindows() && !routes_[a].runs_fresh) BuildRunTables(a);
    }
    /// True when moves inside route a are priced in constant time by SpliceRuns: without
    /// windows the cost of a route is its travel, priced from prefix sums when route a is
    /// feasible; with windows, while its run tables are up to date.
    bool PricesRunsInConstantTime(std::size_t a) const {
        if (penalties_ != nullptr) return false;
        if (model_->HasWindows()) return routes_[a].runs_fresh;
        return routes_[a].clock.back() != kInfeasible;
    }
    /// Cost of route a with `runs` (stretches of its own visits) in place of positions
    /// i + 1 .. j - 1, in time proportional to the number of runs (with windows, plus the
    /// vertices of several windows inside them, which are stepped across one by one);
    /// only where PricesRunsInConstantTime(a). Sums taken in another order than a walk's
    /// leave a rounding error of the order of 1e-16 times the route's cost, so callers
    /// confirm a move with Splice before applying it.
    double SpliceRuns(std::size_t a, std::size_t i, const RouteRun* runs, std::size_t count,
                      std::size_t j) const;
    /// True when JoinTails(a, ., b, .) is exact up to rounding: agents of one type, and
    /// both routes priced in constant time.
    bool JoinsTailsInConstantTime(std::size_t a, std::size_t b) const {
        return PricesRunsInConstantTime(a) && PricesRunsInConstantTime(b) && model_->SameType(a, b);
    }
    /// Cost of route a's positions 0 .. i followed by route b's visits from position j
    /// on and a's end, in constant time; only where JoinsTailsInConstantTime(a, b). Like
    /// SpliceRuns, an estimate that callers confirm with Tail before applying a move.
    double JoinTails(std::size_t a, std::size_t i, std::size_t b, std::size_t j) const;
    /// Appends the vertices of `runs` to `out`, in walking order.
    void AppendRuns(std::size_t a, const RouteRun* runs, std::size_t count,
                    std::vector<std::uint32_t>& out) const;

    /// Cost of route a's prefix 0 .. i followed by the vertices [begin, end) and the end.
    template <typename Iter>
    double Tail(std::size_t a, std::size_t i, Iter begin, Iter end) const;

    /// How many route changes the solution has seen: a route whose changed_at is at most
    /// a value read earlier is as it was then.
    std::uint64_t Changes() const { return changes_; }

    EngineScore Score() const;
    bool Complete() const { return unassigned_.empty(); }
    /// Required targets that no route serves.
    std::size_t MissingRequired() const;
    bool AllRoutesFeasible() const;

    /// Cost of `visits` for agent a walked vertex by vertex, without caches: the
    /// reference the constant-time evaluation is held against.
    static double WalkRoute(const EngineModel& model, std::size_t a,
                            const std::vector<std::uint32_t>& visits);
    /// The same with lateness and excess load priced by `penalties`: the reference for
    /// Splice while penalties are set.
    static double WalkPenalized(const EngineModel& model, std::size_t a,
                                const std::vector<std::uint32_t>& visits,
                                const PenaltyWeights& penalties);

private:
    /// Finishing clock of route a entered at its position j at clock `t` (before waiting
    /// there), or kInfeasible: closed-form segments between vertices with several
    /// windows, those stepped across one by one.
    double Continue(std::size_t a, std::size_t j, double t) const {
        if (model_->AnySeveralWindows()) return ContinueAcrossBarriers(a, j, t);
        const TimeSegment& rest = routes_[a].suffix[j];
        if (!rest.Admits(t) || t == kInfeasible) return kInfeasible;
        return rest.Exit(t);
    }
    /// Continue where some vertex has several windows.
    double ContinueAcrossBarriers(std::size_t a, std::size_t j, double t) const;
    /// With windows: the clock on leaving the last vertex of `run` (of route a) entered at
    /// clock `t` (before waiting at its first vertex), or kInfeasible; from the run tables.
    double PassRun(std::size_t a, const RouteRun& run, double t) const;
    /// The time segment of positions x .. y (x <= y, none of them with several windows)
    /// of route a, walked forward or reversed: one Join of two table entries.
    TimeSegment RunSegment(const EngineRoute& route, std::size_t x, std::size_t y,
                           bool reversed) const;
    void BuildRunTables(std::size_t a);
    /// Fills route a's warp_ fields.
    void BuildWarp(std::size_t a);
    /// PricedCost while penalties are set.
    double PenalizedCost(std::size_t a) const;
    /// Splice while penalties are set.
    template <typename Iter>
    double PenalizedSplice(std::size_t a, std::size_t i, Iter begin, Iter end, std::size_t j) const;
    /// Like Continue with lateness allowed: the finishing clock of route a entered at its
    /// position j at clock `t`, adding the time warp to `warp`; kInfeasible past a
    /// missing arc.
    double ContinueWarping(std::size_t a, std::size_t j, double t, double& warp) const;
    /// Route a's load above its capacities, summed over dimensions, with the vertices
    /// [begin, end) in place of positions i + 1 .. j - 1.
    template <typename Iter>
    double Excess(std::size_t a, std::size_t i, Iter begin, Iter end, std::size_t j) const;
    /// Clock plus penalties, or kInfeasible past the agent's limit.
    double Penalized(std::size_t a, double t, double warp, double excess) const;
    /// True when route a with the vertices [begin, end) in place of positions
    /// i + 1 .. j - 1 stays within its capacity in every dimension.
    template <typename Iter>
    bool LoadFits(std::size_t a, std::size_t i, Iter begin, Iter end, std::size_t j) const;

    void TakeOffUnassigned(std::uint32_t v);
    /// Brings route a's caches up to date after a change that left its first
    /// `first` - 1 visits and its last `kept` positions (the end's included; 0 for none)
    /// as they were.
    void Refresh(std::size_t a, std::size_t first, std::size_t kept);

    const EngineModel* model_;  // owned by the caller of the engine
    std::vector<EngineRoute> routes_;
    std::vector<std::uint32_t> unassigned_;
    std::vector<std::int64_t> route_of_;
    std::vector<std::size_t> position_of_;
    const PenaltyWeights* penalties_ = nullptr;
    std::uint64_t changes_ = 0;
    /// Per route while insertions are deferred: the first position whose caches are stale
    /// (0: none), how many positions at the end (the end's included) the caches still
    /// hold as they were, and the route's load per dimension.
    std::vector<std::size_t> stale_from_;
    std::vector<std::size_t> stale_kept_;
    std::vector<double> deferred_load_;
    std::vector<std::size_t> deferred_routes_;
};

template <typename Iter>
double EngineSolution::Splice(std::size_t a, std::size_t i, Iter begin, Iter end,
                              std::size_t j) const {
    if (penalties_ != nullptr) return PenalizedSplice(a, i, begin, end, j);
    const EngineRoute& route = routes_[a];
    double t = route.clock[i];
    if (t == kInfeasible) return kInfeasible;
    std::uint32_t u = At(a, i);
    // Without windows every arrival is on time and leaves the clock as it is.
    const bool windows = model_->HasWindows();
    const bool service = model_->AnyService();
    for (Iter it = begin; it != end; ++it) {
        const std::uint32_t w = *it;
        if (!model_->CanServe(a, w)) return kInfeasible;
        t += model_->Cost(a, u, w);
        if ((windows && !model_->Arrive(w, t)) || t == kInfeasible) return kInfeasible;
        if (service) t += model_->Service(w);
        u = w;
    }
    t += j == route.visits.size() + 1 ? model_->ClosingCost(a, u) : model_->Cost(a, u, At(a, j));
    const double cost = Continue(a, j, t);
    if (cost == kInfeasible || !LoadFits(a, i, begin, end, j)) return kInfeasible;
    return WithinLimit(cost, model_->Agent(a).limit) ? cost : kInfeasible;
}

template <typename Iter>
bool EngineSolution::LoadFits(std::size_t a, std::size_t i, Iter begin, Iter end,
                              std::size_t j) const {
    const std::size_t dims = model_->Dimensions();
    if (dims == 0) return true;
    const EngineRoute& route = routes_[a];
    const double* prefix = route.load_prefix.data();
    const std::size_t k = route.visits.size();
    for (std::size_t d = 0; d < dims; ++d) {
        // Positions 1 .. i and j .. k stay; the new vertices come between.
        double load = prefix[i * dims + d] + (prefix[k * dims + d] - prefix[(j - 1) * dims + d]);
        for (Iter it = begin; it != end; ++it) load += model_->Demand(*it, d);
        if (!WithinCapacity(load, model_->Capacity(a, d))) return false;
    }
    return true;
}

template <typename Iter>
double EngineSolution::PenalizedSplice(std::size_t a, std::size_t i, Iter begin, Iter end,
                                       std::size_t j) const {
    const EngineRoute& route = routes_[a];
    assert(route.warp_fresh && "penalties set, warp walk built");
    double t = route.warp_clock[i];
    if (t == kInfeasible) return kInfeasible;
    double warp = route.warp_total[i];
    std::uint32_t u = At(a, i);
    for (Iter it = begin; it != end; ++it) {
        const std::uint32_t w = *it;
        if (!model_->CanServe(a, w)) return kInfeasible;
        t += model_->Cost(a, u, w);
        if (t == kInfeasible) return kInfeasible;
        model_->ArriveWarping(w, t, warp);
        t += model_->Service(w);
        u = w;
    }
    t += j == route.visits.size() + 1 ? model_->ClosingCost(a, u) : model_->Cost(a, u, At(a, j));
    if (t == kInfeasible) return kInfeasible;
    t = ContinueWarping(a, j, t, warp);
    return Penalized(a, t, warp, Excess(a, i, begin, end, j));
}

template <typename Iter>
double EngineSolution::Excess(std::size_t a, std::size_t i, Iter begin, Iter end,
                              std::size_t j) const {
    const std::size_t dims = model_->Dimensions();
    const EngineRoute& route = routes_[a];
    const double* prefix = route.load_prefix.data();
    const std::size_t k = route.visits.size();
    double excess = 0.0;
    for (std::size_t d = 0; d < dims; ++d) {
        double load = prefix[i * dims + d] + (prefix[k * dims + d] - prefix[(j - 1) * dims + d]);
        for (Iter it = begin; it != end; ++it) load += model_->Demand(*it, d);
        // The same tolerance as the rule, so that a load that fits has no excess.
        if (!WithinCapacity(load, model_->Capacity(a, d))) excess += load - model_->Capacity(a, d);
    }
    return excess;
}

template <typename Iter>
double EngineSolution::Tail(std::size_t a, std::size_t i, Iter begin, Iter end) const {
    // Dropping every position after i is a splice up to the end vertex.
    return Splice(a, i, begin, end, routes_[a].visits.size() + 1);
}

}  // namespace vornik

#endif  // VORNIK_IMPROVE_ENGINESOLUTION_H
