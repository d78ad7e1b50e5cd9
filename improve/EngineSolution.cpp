#include "improve/EngineSolution.h"

#include <algorithm>
#include <cassert>
#include <iterator>

#include "core/RouteWalker.h"

namespace vornik {

bool Better(ObjectiveType objective, const EngineScore& a, const EngineScore& b) {
    constexpr double kTolerance = 1e-9;
    if (a.missing != b.missing) return a.missing < b.missing;
    if (objective == ObjectiveType::MinSum) {
        return a.sum_cost + a.penalty < b.sum_cost + b.penalty - kTolerance;
    }
    if (a.max_cost + a.penalty < b.max_cost + b.penalty - kTolerance) return true;
    if (a.max_cost + a.penalty > b.max_cost + b.penalty + kTolerance) return false;
    return a.sum_cost < b.sum_cost - kTolerance;
}

namespace {

// Resizes `values` (one entry per position) to `size`, keeping its last `kept` entries
// last: the positions at the end of a route that a change left alone.
template <typename T>
void KeepTail(std::vector<T>& values, std::size_t size, std::size_t kept) {
    const std::size_t old_size = values.size();
    if (size > old_size) {
        values.resize(size);
        std::move_backward(values.begin() + static_cast<std::ptrdiff_t>(old_size - kept),
                           values.begin() + static_cast<std::ptrdiff_t>(old_size), values.end());
    } else if (size < old_size) {
        std::move(values.end() - static_cast<std::ptrdiff_t>(kept), values.end(),
                  values.begin() + static_cast<std::ptrdiff_t>(size - kept));
        values.resize(size);
    }
}

}  // namespace

EngineSolution::EngineSolution(const EngineModel* model) : model_(model) {
    routes_.resize(model_->NumAgents());
    route_of_.assign(model_->NumVertices(), -1);
    position_of_.assign(model_->NumVertices(), 0);
    unassigned_ = model_->Targets();
    stale_from_.assign(routes_.size(), 0);
    stale_kept_.assign(routes_.size(), 0);
    deferred_load_.assign(routes_.size() * model_->Dimensions(), 0.0);
    for (std::size_t a = 0; a < routes_.size(); ++a) Refresh(a, 1, 0);
}

void EngineSolution::SetVisits(std::size_t a, std::vector<std::uint32_t> visits) {
    std::vector<std::uint32_t>& old = routes_[a].visits;
    // Only the stretch between the common head and the common tail changed.
    const std::size_t shorter = std::min(old.size(), visits.size());
    std::size_t head = 0;
    while (head < shorter && old[head] == visits[head]) ++head;
    std::size_t tail = 0;
    while (tail < shorter - head &&
           old[old.size() - 1 - tail] == visits[visits.size() - 1 - tail]) {
        ++tail;
    }
    // Targets that another route has taken over meanwhile keep their new route.
    for (std::size_t p = head; p + tail < old.size(); ++p) {
        if (route_of_[old[p]] == static_cast<std::int64_t>(a)) route_of_[old[p]] = -1;
    }
    old = std::move(visits);
    Refresh(a, head + 1, tail + 1);
}

void EngineSolution::RemoveVisits(std::size_t a, std::size_t first, std::size_t last) {
    std::vector<std::uint32_t>& visits = routes_[a].visits;
    assert(first >= 1 && first <= last && last <= visits.size() && "positions of visits");
    for (std::size_t p = first; p <= last; ++p) {
        route_of_[visits[p - 1]] = -1;
        unassigned_.push_back(visits[p - 1]);
    }
    const std::size_t kept = visits.size() - last + 1;
    visits.erase(visits.begin() + static_cast<std::ptrdiff_t>(first - 1),
                 visits.begin() + static_cast<std::ptrdiff_t>(last));
    Refresh(a, first, kept);
}

void EngineSolution::TakeOffUnassigned(std::uint32_t v) {
    const auto found = std::find(unassigned_.begin(), unassigned_.end(), v);
    if (found != unassigned_.end()) {
        *found = unassigned_.back();
        unassigned_.pop_back();
    }
}

void EngineSolution::Insert(std::size_t a, std::uint32_t v, std::size_t i) {
    TakeOffUnassigned(v);
    std::vector<std::uint32_t>& visits = routes_[a].visits;
    const std::size_t kept = visits.size() - i + 1;
    visits.insert(visits.begin() + static_cast<std::ptrdiff_t>(i), v);
    Refresh(a, i + 1, kept);
}

double EngineSolution::DeferredInsertionCost(std::size_t a, std::uint32_t v, std::size_t i) const {
    assert(DefersInsertions());
    const EngineRoute& route = routes_[a];
    if (route.cost == kInfeasible || !model_->CanServe(a, v)) return kInfeasible;
    const std::size_t k = route.visits.size();
    const std::uint32_t u = At(a, i);
    // The arc from x into position i + 1; finite from u, whose route is feasible.
    const auto into_next = [&](std::uint32_t x) {
        return i == k ? model_->ClosingCost(a, x) : model_->Cost(a, x, route.visits[i]);
    };
    const double cost =
        route.cost + (model_->Cost(a, u, v) + model_->Service(v) + into_next(v) - into_next(u));
    if (cost == kInfeasible || !WithinLimit(cost, model_->Agent(a).limit)) return kInfeasible;
    const std::size_t dims = model_->Dimensions();
    const double* load = stale_from_[a] == 0 ? route.Load() : deferred_load_.data() + a * dims;
    for (std::size_t d = 0; d < dims; ++d) {
        if (!WithinCapacity(load[d] + model_->Demand(v, d), model_->Capacity(a, d))) {
            return kInfeasible;
        }
    }
    return cost;
}

void EngineSolution::InsertDeferred(std::size_t a, std::uint32_t v, std::size_t i) {
    const double cost = DeferredInsertionCost(a, v, i);
    EngineRoute& route = routes_[a];
    const std::size_t k = route.visits.size();
    const std::size_t dims = model_->Dimensions();
    // The caches hold the route as it was before its first deferred insertion: positions
    // from the lowest insertion on are new, and the tail behind the last one is as it was.
    if (stale_from_[a] == 0) {
        deferred_routes_.push_back(a);
        stale_from_[a] = i + 1;
        stale_kept_[a] = k + 1 - i;
        std::copy(route.Load(), route.Load() + dims, deferred_load_.begin() + a * dims);
    } else {
        stale_from_[a] = std::min(stale_from_[a], i + 1);
        stale_kept_[a] = std::min(stale_kept_[a], k + 1 - i);
    }
    for (std::size_t d = 0; d < dims; ++d) deferred_load_[a * dims + d] += model_->Demand(v, d);
    TakeOffUnassigned(v);
    route.visits.insert(route.visits.begin() + static_cast<std::ptrdiff_t>(i), v);
    route_of_[v] = static_cast<std::int64_t>(a);
    for (std::size_t p = i + 1; p <= k + 1; ++p) position_of_[route.visits[p - 1]] = p;
    route.cost = cost;
}

void EngineSolution::FinishInsertions() {
    for (const std::size_t a : deferred_routes_) {
        const std::size_t first = stale_from_[a];
        stale_from_[a] = 0;
        Refresh(a, first, stale_kept_[a]);
    }
    deferred_routes_.clear();
}

void EngineSolution::Refresh(std::size_t a, std::size_t first, std::size_t kept) {
    assert(stale_from_[a] == 0 && "deferred insertions finished before the route changes");
    EngineRoute& route = routes_[a];
    route.changed_at = ++changes_;
    const std::size_t k = route.visits.size();
    const std::size_t old_k = route.clock.empty() ? k : route.clock.size() - 2;
    // New vertices stand at positions first .. last_new; the last `kept` positions (the
    // end's included) are the old route's last ones, moved by k - old_k. A leg or a
    // suffix of those is unchanged, apart from the leg into the first of them.
    const std::size_t last_new = k + 1 - kept;
    KeepTail(route.leg, k + 2, kept);
    KeepTail(route.suffix, k + 2, kept);
    for (std::size_t p = first; p <= std::min(k == old_k ? last_new : k, k); ++p) {
        route_of_[route.visits[p - 1]] = static_cast<std::int64_t>(a);
        position_of_[route.visits[p - 1]] = p;
    }
    // Legs into the new positions and into the first kept one.
    for (std::size_t p = first; p <= std::min(last_new + 1, k + 1); ++p) {
        const std::uint32_t u = At(a, p - 1);
        route.leg[p] = p == k + 1 ? model_->ClosingCost(a, u) : model_->Cost(a, u, At(a, p));
    }
    // Forward: the clock on leaving each position, from 0 at the start.
    route.clock.resize(k + 2);
    if (first == 1) {
        double t = 0.0;
        const bool ok = model_->Arrive(At(a, 0), t);
        route.clock[0] = ok ? t : kInfeasible;
    }
    if (model_->HasWindows()) {
        for (std::size_t p = first; p <= k + 1; ++p) {
            double t = route.clock[p - 1];
            if (t != kInfeasible) {
                t += route.leg[p];
                if (t == kInfeasible || !model_->Arrive(At(a, p), t)) {
                    t = kInfeasible;
                } else {
                    t += model_->Service(At(a, p));
                }
            }
            route.clock[p] = t;
        }
    } else {
        // Costs are not negative, so a missing leg keeps the clock at +infinity.
        // Without service one addition per position, not two, on the chain.
        if (model_->AnyService()) {
            for (std::size_t p = first; p <= k + 1; ++p)
                route.clock[p] = route.clock[p - 1] + route.leg[p] + model_->Service(At(a, p));
        } else {
            for (std::size_t p = first; p <= k + 1; ++p)
                route.clock[p] = route.clock[p - 1] + route.leg[p];
        }
    }
    // Backward: the clock arithmetic of every suffix that starts at a new position or
    // before one.
    KeepTail(route.to_barrier, k + 2, kept);
    // A vertex with several windows is a barrier: the segment before it stops there.
    const auto vertex_segment = [&](std::size_t p) {
        const std::uint32_t v = At(a, p);
        route.to_barrier[p] = model_->HasSeveralWindows(v) ? 0 : 1;
        return TimeSegment::Vertex(model_->Window(v), model_->Service(v));
    };
    if (last_new == k + 1) route.suffix[k + 1] = vertex_segment(k + 1);
    if (model_->HasWindows()) {
        for (std::size_t p = std::min(last_new, k) + 1; p-- > 0;) {
            const TimeSegment here = vertex_segment(p);
            if (route.to_barrier[p] == 0 || route.to_barrier[p + 1] == 0) {
                route.suffix[p] = here;
            } else {
                route.suffix[p] = TimeSegment::Join(here, route.leg[p + 1], route.suffix[p + 1]);
                route.to_barrier[p] = route.to_barrier[p + 1] + 1;
            }
        }
    } else {
        // Without windows a segment is its travel and service: the same Join, without
        // the windows.
        for (std::size_t p = std::min(last_new, k) + 1; p-- > 0;) {
            const double leg = route.leg[p + 1];
            TimeSegment& segment = route.suffix[p];
            segment.feasible = leg != kInfeasible && route.suffix[p + 1].feasible;
            segment.duration = leg != kInfeasible
                                   ? leg + model_->Service(At(a, p)) + route.suffix[p + 1].duration
                                   : 0.0;
        }
    }
    if (model_->HasWindows()) {
        // Reversed legs and run tables wait for PrepareRuns.
        route.runs_fresh = false;
    } else {
        // Reversed legs, kept like the legs.
        KeepTail(route.back_leg, k + 2, kept);
        for (std::size_t p = std::max<std::size_t>(first, 2); p <= std::min(last_new + 1, k); ++p) {
            route.back_leg[p] = model_->Cost(a, route.visits[p - 1], route.visits[p - 2]);
        }
        // Prefix sums of the reversed legs from the first change.
        route.backward.resize(k + 1);
        route.backward_gaps.resize(k + 1);
        route.backward[0] = 0.0;
        route.backward_gaps[0] = 0;
        for (std::size_t p = first; p <= k; ++p) {
            const bool missing = p >= 2 && route.back_leg[p] == kInfeasible;
            // Walked backwards, each step also serves the vertex it arrives at.
            route.backward[p] =
                p == 1 ? 0.0
                       : route.backward[p - 1] + ((missing ? 0.0 : route.back_leg[p]) +
                                                  model_->Service(route.visits[p - 2]));
            route.backward_gaps[p] = p == 1 ? 0 : route.backward_gaps[p - 1] + (missing ? 1 : 0);
        }
    }
    // Loads: prefix sums from the first new position on.
    const std::size_t dims = model_->Dimensions();
    bool load_fits = true;
    if (dims > 0) {
        route.load_prefix.resize((k + 1) * dims);
        for (std::size_t d = 0; d < dims; ++d) route.load_prefix[d] = 0.0;
        for (std::size_t p = first; p <= k; ++p) {
            for (std::size_t d = 0; d < dims; ++d) {
                route.load_prefix[p * dims + d] =
                    route.load_prefix[(p - 1) * dims + d] + model_->Demand(route.visits[p - 1], d);
            }
        }
        for (std::size_t d = 0; d < dims; ++d) {
            load_fits = load_fits &&
                        WithinCapacity(route.load_prefix[k * dims + d], model_->Capacity(a, d));
        }
    }
    const double cost = route.clock[k + 1];
    route.cost = load_fits && WithinLimit(cost, model_->Agent(a).limit) ? cost : kInfeasible;
    route.warp_fresh = false;
    if (penalties_ != nullptr) BuildWarp(a);
}

void EngineSolution::SetPenalties(const PenaltyWeights* penalties) {
    penalties_ = penalties;
    if (penalties_ == nullptr) return;
    for (std::size_t a = 0; a < routes_.size(); ++a) {
        if (!routes_[a].warp_fresh) BuildWarp(a);
    }
}

void EngineSolution::BuildWarp(std::size_t a) {
    EngineRoute& route = routes_[a];
    const std::size_t k = route.visits.size();
    route.warp_clock.resize(k + 2);
    route.warp_total.resize(k + 2);
    double t = 0.0;
    double warp = 0.0;
    model_->ArriveWarping(At(a, 0), t, warp);
    route.warp_clock[0] = t;
    route.warp_total[0] = warp;
    for (std::size_t p = 1; p <= k + 1; ++p) {
        if (t != kInfeasible) {
            t += route.leg[p];
            if (t != kInfeasible) {
                model_->ArriveWarping(At(a, p), t, warp);
                t += model_->Service(At(a, p));
            }
        }
        route.warp_clock[p] = t;
        route.warp_total[p] = warp;
    }
    // Suffixes, stopped before each vertex of several windows as in Refresh.
    route.warp_suffix.resize(k + 2);
    route.warp_barrier.resize(k + 2);
    for (std::size_t p = k + 1; p >= 1; --p) {
        const std::uint32_t v = At(a, p);
        const WarpSegment here = WarpSegment::Vertex(model_->Window(v), model_->Service(v));
        if (model_->HasSeveralWindows(v)) {
            route.warp_barrier[p] = 0;
            route.warp_suffix[p] = here;
        } else if (p == k + 1 || route.warp_barrier[p + 1] == 0) {
            route.warp_barrier[p] = 1;
            route.warp_suffix[p] = here;
        } else {
            route.warp_barrier[p] = route.warp_barrier[p + 1] + 1;
            route.warp_suffix[p] =
                WarpSegment::Join(here, route.leg[p + 1], route.warp_suffix[p + 1]);
        }
    }
    route.warp_fresh = true;
}

double EngineSolution::ContinueWarping(std::size_t a, std::size_t j, double t, double& warp) const {
    const EngineRoute& route = routes_[a];
    const std::size_t k = route.visits.size();
    while (true) {
        if (t == kInfeasible) return kInfeasible;
        if (route.warp_barrier[j] > 0) {
            const WarpSegment& stretch = route.warp_suffix[j];
            if (stretch.duration == kInfeasible) return kInfeasible;
            warp += stretch.WarpFrom(t);
            t = stretch.Exit(t);
            j += route.warp_barrier[j];
            if (j > k + 1) return t;
            t += route.leg[j];
            continue;
        }
        const std::uint32_t v = At(a, j);
        model_->ArriveWarping(v, t, warp);
        t += model_->Service(v);
        if (j == k + 1) return t;
        t += route.leg[j + 1];
        ++j;
    }
}

double EngineSolution::Penalized(std::size_t a, double t, double warp, double excess) const {
    if (t == kInfeasible || !WithinLimit(t, model_->Agent(a).limit)) return kInfeasible;
    return t + penalties_->time_warp * warp + penalties_->excess_load * excess;
}

double EngineSolution::PenalizedCost(std::size_t a) const {
    const EngineRoute& route = routes_[a];
    const std::size_t k = route.visits.size();
    return Penalized(a, route.warp_clock[k + 1], route.warp_total[k + 1], ExcessLoad(a));
}

double EngineSolution::TimeWarp(std::size_t a) const {
    assert(routes_[a].warp_fresh && "penalties set, warp walk built");
    return routes_[a].warp_total.back();
}

double EngineSolution::ExcessLoad(std::size_t a) const {
    const std::size_t k = routes_[a].visits.size();
    const std::uint32_t* none = nullptr;
    return Excess(a, k, none, none, k + 1);
}

double EngineSolution::ContinueAcrossBarriers(std::size_t a, std::size_t j, double t) const {
    const EngineRoute& route = routes_[a];
    const std::size_t k = route.visits.size();
    while (true) {
        if (t == kInfeasible) return kInfeasible;
        if (route.to_barrier[j] > 0) {
            const TimeSegment& stretch = route.suffix[j];
            if (!stretch.Admits(t)) return kInfeasible;
            t = stretch.Exit(t);
            j += route.to_barrier[j];
            if (j > k + 1) return t;
            t += route.leg[j];
            continue;
        }
        const std::uint32_t v = At(a, j);
        if (!model_->Arrive(v, t)) return kInfeasible;
        t += model_->Service(v);
        if (j == k + 1) return t;
        t += route.leg[j + 1];
        ++j;
    }
}

namespace {

// Index of the highest set bit of x > 0.
std::size_t HighestBit(std::size_t x) {
    std::size_t bit = 0;
    while (x >>= 1) ++bit;
    return bit;
}

}  // namespace

void EngineSolution::BuildRunTables(std::size_t a) {
    EngineRoute& route = routes_[a];
    const std::size_t k = route.visits.size();
    // Reversed legs, and distances back to the last vertex of several windows.
    route.back_leg.resize(k + 2);
    for (std::size_t p = 2; p <= k; ++p) {
        route.back_leg[p] = model_->Cost(a, route.visits[p - 1], route.visits[p - 2]);
    }
    route.from_barrier.resize(k + 2);
    for (std::size_t p = 0; p <= k + 1; ++p) {
        const bool barrier = model_->HasSeveralWindows(At(a, p));
        route.from_barrier[p] = barrier ? 0 : (p == 0 ? 1 : route.from_barrier[p - 1] + 1);
    }
    const std::size_t levels = k < 2 ? 0 : HighestBit(k - 1) + 1;
    route.run_forward.resize(levels * k);
    route.run_backward.resize(levels * k);
    // Index x stands for position x + 1: the leg from index x to x + 1 is leg[x + 2], the
    // reversed one back_leg[x + 2].
    const auto vertex = [&](std::size_t x) {
        const std::uint32_t v = route.visits[x];
        return TimeSegment::Vertex(model_->Window(v), model_->Service(v));
    };
    for (std::size_t h = 0; h < levels; ++h) {
        TimeSegment* forward = route.run_forward.data() + h * k;
        TimeSegment* backward = route.run_backward.data() + h * k;
        const std::size_t half = std::size_t{1} << h;
        for (std::size_t block = 0; block + half < k; block += 2 * half) {
            const std::size_t mid = block + half;
            // Left half: from x up to mid - 1, walked either way.
            forward[mid - 1] = backward[mid - 1] = vertex(mid - 1);
            for (std::size_t x = mid - 1; x-- > block;) {
                const TimeSegment here = vertex(x);
                forward[x] = TimeSegment::Join(here, route.leg[x + 2], forward[x + 1]);
                backward[x] = TimeSegment::Join(backward[x + 1], route.back_leg[x + 2], here);
            }
            // Right half: from mid up to x.
            forward[mid] = backward[mid] = vertex(mid);
            for (std::size_t x = mid + 1; x < std::min(block + 2 * half, k); ++x) {
                const TimeSegment here = vertex(x);
                forward[x] = TimeSegment::Join(forward[x - 1], route.leg[x + 1], here);
                backward[x] = TimeSegment::Join(here, route.back_leg[x + 1], backward[x - 1]);
            }
        }
    }
    route.runs_fresh = true;
}

TimeSegment EngineSolution::RunSegment(const EngineRoute& route, std::size_t x, std::size_t y,
                                       bool reversed) const {
    const std::size_t lo = x - 1;
    const std::size_t hi = y - 1;
    if (lo == hi) {
        const std::uint32_t v = route.visits[lo];
        return TimeSegment::Vertex(model_->Window(v), model_->Service(v));
    }
    // lo and hi lie in the two halves of one block at the level of their highest
    // differing bit; mid is the first index of the upper half.
    const std::size_t h = HighestBit(lo ^ hi);
    const std::size_t mid = (hi >> h) << h;
    const std::size_t k = route.visits.size();
    if (!reversed) {
        return TimeSegment::Join(route.run_forward[h * k + lo], route.leg[mid + 1],
                                 route.run_forward[h * k + hi]);
    }
    return TimeSegment::Join(route.run_backward[h * k + hi], route.back_leg[mid + 1],
                             route.run_backward[h * k + lo]);
}

double EngineSolution::PassRun(std::size_t a, const RouteRun& run, double t) const {
    const EngineRoute& route = routes_[a];
    // Closed-form stretches between the vertices of several windows, those stepped.
    std::size_t p = run.reversed ? run.last : run.first;
    while (true) {
        if (t == kInfeasible) return kInfeasible;
        std::size_t stop = p;
        const std::size_t gap = run.reversed ? route.from_barrier[p] : route.to_barrier[p];
        if (gap == 0) {
            const std::uint32_t v = route.visits[p - 1];
            if (!model_->Arrive(v, t)) return kInfeasible;
            t += model_->Service(v);
        } else {
            stop =
                run.reversed ? std::max(run.first, p + 1 - gap) : std::min(run.last, p + gap - 1);
            const TimeSegment stretch =
                run.reversed ? RunSegment(route, stop, p, true) : RunSegment(route, p, stop, false);
            if (!stretch.Admits(t)) return kInfeasible;
            t = stretch.Exit(t);
        }
        if (stop == (run.reversed ? run.first : run.last)) return t;
        if (run.reversed) {
            t += route.back_leg[stop];
            p = stop - 1;
        } else {
            t += route.leg[stop + 1];
            p = stop + 1;
        }
    }
}

double EngineSolution::SpliceRuns(std::size_t a, std::size_t i, const RouteRun* runs,
                                  std::size_t count, std::size_t j) const {
    assert(PricesRunsInConstantTime(a) && "runs are priced from prefix sums or run tables");
    const EngineRoute& route = routes_[a];
    const std::size_t k = route.visits.size();
    double t = route.clock[i];
    std::uint32_t u = At(a, i);
    // The runs keep the route's targets, so its load stays what it is.
    const std::uint32_t* none = nullptr;
    if (model_->HasWindows()) {
        for (const RouteRun* run = runs; run != runs + count; ++run) {
            if (run->first > run->last) continue;
            if (t == kInfeasible) return kInfeasible;
            t += model_->Cost(a, u, route.visits[(run->reversed ? run->last : run->first) - 1]);
            t = PassRun(a, *run, t);
            u = route.visits[(run->reversed ? run->first : run->last) - 1];
        }
        if (t == kInfeasible) return kInfeasible;
        t += j == k + 1 ? model_->ClosingCost(a, u) : model_->Cost(a, u, At(a, j));
        const double cost = Continue(a, j, t);
        if (cost == kInfeasible || !LoadFits(a, i, none, none, i + 1)) return kInfeasible;
        return WithinLimit(cost, model_->Agent(a).limit) ? cost : kInfeasible;
    }
    for (const RouteRun* run = runs; run != runs + count; ++run) {
        if (run->first > run->last) continue;
        const std::uint32_t head = route.visits[(run->reversed ? run->last : run->first) - 1];
        const std::uint32_t tail = route.visits[(run->reversed ? run->first : run->last) - 1];
        t += model_->Cost(a, u, head);
        if (model_->AnyService()) t += model_->Service(head);
        if (run->reversed) {
            if (route.backward_gaps[run->last] != route.backward_gaps[run->first]) {
                return kInfeasible;
            }
            t += route.backward[run->last] - route.backward[run->first];
        } else {
            t += route.clock[run->last] - route.clock[run->first];
        }
        u = tail;
    }
    t += j == k + 1 ? model_->ClosingCost(a, u)
                    : model_->Cost(a, u, At(a, j)) + model_->Service(At(a, j)) +
                          (route.clock[k + 1] - route.clock[j]);
    if (t == kInfeasible) return kInfeasible;
    if (!LoadFits(a, i, none, none, i + 1)) return kInfeasible;
    return WithinLimit(t, model_->Agent(a).limit) ? t : kInfeasible;
}

double EngineSolution::JoinTails(std::size_t a, std::size_t i, std::size_t b, std::size_t j) const {
    assert(JoinsTailsInConstantTime(a, b) && "tails are joined from prefix sums or run tables");
    const EngineRoute& other = routes_[b];
    const std::size_t k = other.visits.size();
    double t = routes_[a].clock[i];
    if (model_->HasWindows()) {
        if (t == kInfeasible) return kInfeasible;
        std::uint32_t u = At(a, i);
        if (j <= k) {
            // Both agents are of one type: b's legs between its visits are a's too.
            t += model_->Cost(a, u, other.visits[j - 1]);
            t = PassRun(b, RouteRun{j, k, false}, t);
            u = other.visits[k - 1];
        }
        if (t == kInfeasible) return kInfeasible;
        t = Continue(a, routes_[a].visits.size() + 1, t + model_->ClosingCost(a, u));
    } else if (j > k) {
        t += model_->ClosingCost(a, At(a, i));
    } else {
        // Both agents are of one type: b's own travel between its visits is a's too.
        t += model_->Cost(a, At(a, i), other.visits[j - 1]) + model_->Service(other.visits[j - 1]) +
             (other.clock[k] - other.clock[j]) + model_->ClosingCost(a, other.visits[k - 1]);
    }
    if (t == kInfeasible) return kInfeasible;
    // a's load up to i and b's from j on.
    const std::size_t dims = model_->Dimensions();
    const double* head = routes_[a].load_prefix.data();
    const double* tail = other.load_prefix.data();
    for (std::size_t d = 0; d < dims; ++d) {
        const double load = head[i * dims + d] + (tail[k * dims + d] - tail[(j - 1) * dims + d]);
        if (!WithinCapacity(load, model_->Capacity(a, d))) return kInfeasible;
    }
    return WithinLimit(t, model_->Agent(a).limit) ? t : kInfeasible;
}

void EngineSolution::AppendRuns(std::size_t a, const RouteRun* runs, std::size_t count,
                                std::vector<std::uint32_t>& out) const {
    const std::vector<std::uint32_t>& visits = routes_[a].visits;
    for (const RouteRun* run = runs; run != runs + count; ++run) {
        if (run->first > run->last) continue;
        const auto lo = visits.begin() + static_cast<std::ptrdiff_t>(run->first - 1);
        const auto hi = visits.begin() + static_cast<std::ptrdiff_t>(run->last);
        if (run->reversed) {
            out.insert(out.end(), std::make_reverse_iterator(hi), std::make_reverse_iterator(lo));
        } else {
            out.insert(out.end(), lo, hi);
        }
    }
}

EngineScore EngineSolution::Score() const {
    EngineScore score;
    for (const EngineRoute& route : routes_) {
        score.max_cost = std::max(score.max_cost, route.cost);
        score.sum_cost += route.cost;
    }
    for (const std::uint32_t v : unassigned_) {
        if (model_->Required(v)) {
            ++score.missing;
        } else {
            score.penalty += model_->Penalty(v);
        }
    }
    return score;
}

std::size_t EngineSolution::MissingRequired() const {
    return static_cast<std::size_t>(
        std::count_if(unassigned_.begin(), unassigned_.end(),
                      [this](std::uint32_t v) { return model_->Required(v); }));
}

bool EngineSolution::AllRoutesFeasible() const {
    return std::all_of(routes_.begin(), routes_.end(),
                       [](const EngineRoute& route) { return route.cost != kInfeasible; });
}

namespace {

// Agent a's route [start, visits..., end] walked by the engine's rules through the one
// walker: legs at the agent's costs (the closing one free on open routes), the windows of
// each stop, service; `arrive(v, t)` is the arrival rule (waiting, or waiting and warping).
// Null when a visit is not a target agent a may serve.
template <typename Arrive>
bool WalkEngineRoute(const EngineModel& model, std::size_t a,
                     const std::vector<std::uint32_t>& visits, Arrive&& arrive, StopsWalk& walk) {
    for (const std::uint32_t v : visits) {
        if (!model.IsTarget(v) || !model.CanServe(a, v)) return false;
    }
    const EngineAgent& agent = model.Agent(a);
    const std::size_t count = visits.size() + 2;
    const auto stop = [&](std::size_t k) {
        return k == 0 ? agent.start : k + 1 == count ? agent.end : visits[k - 1];
    };
    walk = WalkStops(
        count,
        [&](std::size_t k) {
            return k + 1 == count ? model.ClosingCost(a, stop(k - 1))
                                  : model.Cost(a, stop(k - 1), stop(k));
        },
        [&](std::size_t k, double& t) { return arrive(stop(k), t); },
        [&](std::size_t k) { return model.Service(stop(k)); }, agent.limit,
        [](std::size_t, const StopTimes&) {});
    return true;
}

}  // namespace

double EngineSolution::WalkRoute(const EngineModel& model, std::size_t a,
                                 const std::vector<std::uint32_t>& visits) {
    StopsWalk walk;
    const auto arrive = [&](std::uint32_t v, double& t) { return model.Arrive(v, t); };
    if (!WalkEngineRoute(model, a, visits, arrive, walk) || walk.broken != WalkBreak::kNone) {
        return kInfeasible;
    }
    std::vector<double> load(model.Dimensions(), 0.0);
    for (const std::uint32_t v : visits) {
        for (std::size_t d = 0; d < load.size(); ++d) load[d] += model.Demand(v, d);
    }
    for (std::size_t d = 0; d < load.size(); ++d) {
        if (!WithinCapacity(load[d], model.Capacity(a, d))) return kInfeasible;
    }
    return walk.clock;
}

double EngineSolution::WalkPenalized(const EngineModel& model, std::size_t a,
                                     const std::vector<std::uint32_t>& visits,
                                     const PenaltyWeights& penalties) {
    StopsWalk walk;
    double warp = 0.0;
    const auto arrive = [&](std::uint32_t v, double& t) {
        model.ArriveWarping(v, t, warp);
        return true;
    };
    if (!WalkEngineRoute(model, a, visits, arrive, walk) || walk.broken != WalkBreak::kNone) {
        return kInfeasible;
    }
    std::vector<double> load(model.Dimensions(), 0.0);
    for (const std::uint32_t v : visits) {
        for (std::size_t d = 0; d < load.size(); ++d) load[d] += model.Demand(v, d);
    }
    double excess = 0.0;
    for (std::size_t d = 0; d < load.size(); ++d) {
        if (!WithinCapacity(load[d], model.Capacity(a, d)))
            excess += load[d] - model.Capacity(a, d);
    }
    return walk.clock + penalties.time_warp * warp + penalties.excess_load * excess;
}

}  // namespace vornik
