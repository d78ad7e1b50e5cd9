#include "improve/Precheck.h"

#include <algorithm>
#include <map>
#include <string>
#include <tuple>
#include <utility>

#include "core/RouteWalker.h"
#include "improve/EngineSolution.h"

namespace vornik {

namespace {

constexpr double kInfinity = EngineModel::kNoArc;
// Insertion places tried per route when explaining why a target stayed out.
constexpr std::size_t kSampledPlaces = 32;

// Shortest travel from `source` to every vertex (or from every vertex to `source` when
// `reverse`) over agent a's arcs: a lower bound on any route's clock between them, since
// waiting and service only add to it. Dense Dijkstra, O(n^2).
std::vector<double> ShortestTravel(const EngineModel& model, std::size_t a, std::uint32_t source,
                                   bool reverse) {
    const std::size_t n = model.NumVertices();
    std::vector<double> distance(n, kInfinity);
    std::vector<std::uint8_t> done(n, 0);
    distance[source] = 0.0;
    for (std::size_t round = 0; round < n; ++round) {
        std::size_t u = n;
        for (std::size_t v = 0; v < n; ++v) {
            if (done[v] == 0 && distance[v] < kInfinity && (u == n || distance[v] < distance[u])) {
                u = v;
            }
        }
        if (u == n) break;
        done[u] = 1;
        for (std::size_t v = 0; v < n; ++v) {
            const auto uu = static_cast<std::uint32_t>(u);
            const auto vv = static_cast<std::uint32_t>(v);
            const double arc = reverse ? model.Cost(a, vv, uu) : model.Cost(a, uu, vv);
            distance[v] = std::min(distance[v], distance[u] + arc);
        }
    }
    return distance;
}

// Shortest-travel tables, computed on first use per (cost slot, vertex, direction): most
// targets pass every check on their direct arcs, which bound the shortest paths from above.
class TravelBounds {
public:
    explicit TravelBounds(const EngineModel& model) : model_(model) {}

    double From(std::size_t a, std::uint32_t v) {
        const std::uint32_t start = model_.Agent(a).start;
        if (model_.Cost(a, start, v) == 0.0) return 0.0;
        return Table(a, start, false)[v];
    }
    double To(std::size_t a, std::uint32_t v) {
        if (ClosingLegIsFree(model_.ReturnToEnd())) return 0.0;
        const std::uint32_t end = model_.Agent(a).end;
        if (model_.Cost(a, v, end) == 0.0) return 0.0;
        return Table(a, end, true)[v];
    }

private:
    const std::vector<double>& Table(std::size_t a, std::uint32_t vertex, bool reverse) {
        const auto key = std::make_tuple(model_.Agent(a).slot, vertex, reverse);
        auto found = tables_.find(key);
        if (found == tables_.end()) {
            found = tables_.emplace(key, ShortestTravel(model_, a, vertex, reverse)).first;
        }
        return found->second;
    }

    const EngineModel& model_;
    std::map<std::tuple<std::size_t, std::uint32_t, bool>, std::vector<double>> tables_;
};

// The checks in the order the reasons are reported; an agent passes a target while it
// passes every check up to the current one.
enum Stage : int { kType = 0, kArc, kWindow, kCapacity, kLimit, kPasses };

double DepartureFromStart(const EngineModel& model, std::size_t a) {
    double t = 0.0;
    return model.Arrive(model.Agent(a).start, t) ? t : kInfinity;
}

bool ExceedsCapacity(const EngineModel& model, std::size_t a, std::uint32_t v,
                     const double* load = nullptr) {
    for (std::size_t d = 0; d < model.Dimensions(); ++d) {
        const double total = (load != nullptr ? load[d] : 0.0) + model.Demand(v, d);
        if (!WithinCapacity(total, model.Capacity(a, d))) return true;
    }
    return false;
}

// The last check agent a passes for target v, with lower bounds on its clock.
Stage StageReached(const EngineModel& model, TravelBounds& bounds, std::size_t a, std::uint32_t v) {
    if (!model.CanServe(a, v)) return kType;
    // Direct arcs first: when they pass, the shortest paths (never longer) pass too.
    const double start = DepartureFromStart(model, a);
    const EngineAgent& agent = model.Agent(a);
    for (int exact = 0; exact < 2; ++exact) {
        const double from = exact == 0 ? model.Cost(a, agent.start, v) : bounds.From(a, v);
        const double to = exact == 0 ? model.ClosingCost(a, v) : bounds.To(a, v);
        Stage stage = kPasses;
        double t = start + from;
        if (!(from < kInfinity && to < kInfinity)) {
            stage = kArc;
        } else if (!(start < kInfinity) || !model.Arrive(v, t)) {
            stage = kWindow;
        } else if (ExceedsCapacity(model, a, v)) {
            stage = kCapacity;
        } else {
            t += model.Service(v) + to;
            if (!model.Arrive(agent.end, t) || !WithinLimit(t, agent.limit)) stage = kLimit;
        }
        if (stage == kPasses) return kPasses;
        if (exact == 1) return stage;
    }
    return kPasses;
}

std::string NodeName(const EngineModel& model, std::uint32_t v) {
    return "node " + std::to_string(model.NodeId(v));
}

TargetReason Reason(const EngineModel& model, std::uint32_t v, Stage stage) {
    const std::string name = NodeName(model, v);
    switch (stage) {
        case kType:
            return {v, "type", "no agent type may serve " + name};
        case kArc:
            return {v, "arc",
                    "no allowed agent has a path from its start to " + name + " and on to its end"};
        case kWindow:
            return {v, "window",
                    "the time windows of " + name + " close before any allowed agent can arrive"};
        case kCapacity:
            return {v, "capacity",
                    "the demand of " + name + " exceeds the capacity of every allowed agent"};
        default:
            return {v, "limit",
                    "start -> " + name + " -> end does not fit any allowed agent's route limit " +
                        "or end window"};
    }
}

// Agent a's route with v inserted after position i, walked: the first rule it breaks,
// or kPasses.
Stage WalkInsertion(const EngineSolution& solution, std::size_t a, std::uint32_t v, std::size_t i) {
    const EngineModel& model = solution.Model();
    const EngineAgent& agent = model.Agent(a);
    const std::vector<std::uint32_t>& visits = solution.Route(a).visits;
    // Stops: the start, the visits with v at position i + 1, the end.
    const std::size_t count = visits.size() + 3;
    const auto stop = [&](std::size_t k) {
        if (k == 0) return agent.start;
        if (k + 1 == count) return agent.end;
        if (k == i + 1) return v;
        return visits[k <= i ? k - 1 : k - 2];
    };
    const StopsWalk walk = WalkStops(
        count,
        [&](std::size_t k) {
            return k + 1 == count ? model.ClosingCost(a, stop(k - 1))
                                  : model.Cost(a, stop(k - 1), stop(k));
        },
        [&](std::size_t k, double& t) { return model.Arrive(stop(k), t); },
        [&](std::size_t k) { return model.Service(stop(k)); }, agent.limit,
        [](std::size_t, const StopTimes&) {});
    switch (walk.broken) {
        case WalkBreak::kArc:
            return kArc;
        case WalkBreak::kWindow:
            return kWindow;
        case WalkBreak::kLimit:
            return kLimit;
        case WalkBreak::kNone:
            break;
    }
    return kPasses;
}

}  // namespace

std::vector<TargetReason> PrecheckTargets(const EngineModel& model) {
    std::vector<TargetReason> reasons;
    TravelBounds bounds(model);
    for (const std::uint32_t v : model.Targets()) {
        Stage furthest = kType;
        for (std::size_t a = 0; a < model.NumAgents() && furthest != kPasses; ++a) {
            furthest = std::max(furthest, StageReached(model, bounds, a, v));
        }
        if (furthest != kPasses) reasons.push_back(Reason(model, v, furthest));
    }
    return reasons;
}

TargetReason ExplainUnserved(const EngineSolution& solution, std::uint32_t v) {
    const EngineModel& model = solution.Model();
    // Failed attempts by rule, over every place in every route that may serve v.
    std::size_t failures[kPasses + 1] = {};
    for (std::size_t a = 0; a < solution.NumRoutes(); ++a) {
        if (!model.CanServe(a, v)) continue;
        const EngineRoute& route = solution.Route(a);
        if (ExceedsCapacity(model, a, v, route.Load())) {
            failures[kCapacity] += std::min(route.visits.size() + 1, kSampledPlaces);
            continue;
        }
        // Each attempt walks the route, so long routes are sampled at evenly spaced places:
        // the count is a vote among rules, not a proof.
        const std::size_t places = route.visits.size() + 1;
        const std::size_t stride = std::max<std::size_t>(1, places / kSampledPlaces);
        for (std::size_t i = 0; i < places; i += stride) {
            ++failures[WalkInsertion(solution, a, v, i)];
        }
    }
    // Ties go to the rule a planner can most easily act on: capacity, windows, limit.
    Stage chosen = kLimit;
    for (const Stage stage : {kCapacity, kWindow, kLimit, kArc}) {
        if (failures[stage] > failures[chosen]) chosen = stage;
    }
    if (failures[chosen] == 0) {
        return {v, "limit",
                NodeName(model, v) + " could not be fitted beside the targets the plan serves"};
    }
    TargetReason reason = Reason(model, v, chosen);
    const char* rule = chosen == kCapacity ? "the load it would add exceeds the route's capacity"
                       : chosen == kWindow ? "a time window would be missed"
                       : chosen == kArc    ? "an arc is missing"
                                           : "the route limit would be exceeded";
    reason.message = NodeName(model, v) + " could not be fitted into any route: " + rule +
                     " wherever it is inserted";
    return reason;
}

}  // namespace vornik
