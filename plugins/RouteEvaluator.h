#ifndef VORNIK_PLUGINS_ROUTEEVALUATOR_H
#define VORNIK_PLUGINS_ROUTEEVALUATOR_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <unordered_set>
#include <vector>

#include "core/RouteRules.h"
#include "core/RouteWalker.h"
#include "core/SearchRecords.h"
#include "graph/DenseGraph.h"
#include "graph/PlannerGraph.h"

namespace vornik {

/// Outcome of driving a route: whether the agent may drive it and how long it takes
/// (travel by the agent type's costs plus waiting at time windows). `cost` is 0 when
/// not ok.
struct RouteEvaluation {
    bool ok = true;
    double cost = 0.0;
};

/// What one walk over a route leaves behind for evaluating small changes of it:
/// `clock[k]` is the clock after position k, for every position before the first one
/// whose check fails (`fail_position`, the route length when none fails).
/// `endpoints_ok` is false when the first or last vertex already rules the route out.
struct RouteTrace {
    bool endpoints_ok = false;
    std::size_t length = 0;  ///< of the traced route
    std::size_t fail_position = 0;
    std::vector<double> clock;

    /// True when the traced route can be driven; clock.back() is then its cost.
    bool Complete() const { return endpoints_ok && length > 0 && fail_position == length; }
};

/// The configuration every post-optimizer keeps (return_to_end, time windows, start
/// and end vertices) and the route operations they share: CanServe, EvaluateRoute and
/// ImproveTwoOpt, plus cheap evaluation of one-vertex removals and insertions.
/// Each post-optimizer owns one as a member. Bind() hands it the graph and the tables
/// of one Optimize call; the queries read those until the next Bind().
class RouteEvaluator {
public:
    void SetReturnToEnd(bool return_to_end);
    /// Replaces the start vertex of every agent (indexed by agent index); an empty list
    /// means starts are not configured.
    void SetStartVertices(const std::vector<std::uint64_t>& start_vertices);
    /// Replaces the end vertex of every agent; an empty list means ends are not configured.
    void SetEndVertices(const std::vector<std::uint64_t>& end_vertices);
    /// Copies the table; windows are in force when it is non-empty.
    void SetTimeWindows(const TimeWindowTable& time_windows);
    /// The optimizer's stop check (empty: never); ImproveTwoOpt polls it once per pass.
    void SetStopCheck(std::function<bool()> expired) { expired_ = std::move(expired); }
    /// True once the stop check has fired: the optimizer should make no further move.
    bool Expired() const { return expired_ && expired_(); }

    bool ReturnToEnd() const { return walker_.ReturnToEnd(); }
    bool HasTimeWindows() const { return has_time_windows_; }

    /// Stores `graph` (owned by the Solver, valid for the Optimize call) and copies the
    /// tables. Also checks once whether every arc cost is >= 0, which lets candidate
    /// evaluation stop early (see StopsEarly()).
    void Bind(const PlannerGraph* graph, const std::vector<NodeEntry>& nodes,
              const std::vector<AgentEntry>& agents);

    const std::vector<NodeEntry>& Nodes() const { return nodes_; }
    const std::vector<AgentEntry>& Agents() const { return agents_; }

    /// True when agent `agent` may stand on `v`: its type is allowed there, and `v` is
    /// neither another agent's start nor another agent's end vertex (where configured).
    bool CanServe(std::uint64_t agent, std::uint64_t v) const {
        const std::size_t num_nodes = nodes_.size();
        if (agent >= agents_.size() || v >= num_nodes) return false;
        return can_serve_[agent * num_nodes + v] != 0;
    }

    /// Checks that `agent` can drive `route` and returns its duration. The empty route
    /// is ok with cost 0. Allocates nothing.
    RouteEvaluation EvaluateRoute(const std::vector<std::uint64_t>& route,
                                  std::uint64_t agent) const;

    /// First-improvement 2-opt on the interior of `route` (first and last vertex stay),
    /// restarting after every improvement; accepts a reversal only when it is ok and
    /// cheaper than `cost` by more than 1e-9, and keeps `cost` equal to the route's cost.
    void ImproveTwoOpt(std::vector<std::uint64_t>& route, std::uint64_t agent, double& cost);

    /// Walks `route` once for `agent` and fills `trace` (reusing its buffer).
    void Trace(const std::vector<std::uint64_t>& route, std::uint64_t agent,
               RouteTrace& trace) const;

    /// True when clocks never decrease along a route (all arc costs of the bound graph
    /// are >= 0), so a partial clock is a lower bound of the final cost.
    bool StopsEarly() const { return monotone_; }

    /// Evaluates `route` without position `position` (1 .. length-2), given the trace of
    /// `route`. `stop(t)` must return true only when no route costing t or more could be
    /// accepted by the caller; it is consulted only when StopsEarly(). A stopped or
    /// rejected candidate reports not ok; an ok one reports exactly the cost
    /// EvaluateRoute gives the changed route.
    template <typename Stop>
    RouteEvaluation EvaluateRemoval(const std::vector<std::uint64_t>& route,
                                    const RouteTrace& trace, std::uint64_t agent,
                                    std::size_t position, Stop stop) const {
        if (!trace.endpoints_ok || trace.fail_position < position) return {false, 0.0};
        // From `position` on, candidate position k holds the vertex of route position k+1.
        return Walk(
            agent, route.size() - 1, position, trace.clock[position - 1],
            [&](std::size_t k) { return k < position ? route[k] : route[k + 1]; }, stop,
            SharedSuffix{&trace, position, 1});
    }

    /// Evaluates `route` with `v` inserted before position `position` (1 .. length-1),
    /// given the trace of `route`. Same contract as EvaluateRemoval.
    template <typename Stop>
    RouteEvaluation EvaluateInsertion(const std::vector<std::uint64_t>& route,
                                      const RouteTrace& trace, std::uint64_t agent, std::uint64_t v,
                                      std::size_t position, Stop stop) const {
        if (!trace.endpoints_ok || trace.fail_position < position) return {false, 0.0};
        // After the inserted vertex, candidate position k holds route position k-1.
        return Walk(
            agent, route.size() + 1, position, trace.clock[position - 1],
            [&](std::size_t k) {
                return k < position ? route[k] : (k == position ? v : route[k - 1]);
            },
            stop, SharedSuffix{&trace, position + 1, -1});
    }

private:
    std::function<bool()> expired_;
    /// Per-agent facts read on every position of a walk, gathered once per Bind.
    struct AgentFacts {
        WalkAgent ends;        ///< start and end where configured, and the limit
        bool type_ok = false;  ///< 0 <= type < CostDim(): the type has a cost entry
        std::size_t type = 0;
    };

    void RebuildTables();
    bool EndpointsOk(const AgentFacts& facts, std::uint64_t first, std::uint64_t last) const;

    /// Checks position k (of a route of `length` vertices) holding `v` after `u`, and
    /// advances the clock `t` over it. False when the position rules the route out.
    bool Advance(std::uint64_t agent, const AgentFacts& facts, std::size_t k, std::size_t length,
                 std::uint64_t u, std::uint64_t v, double& t) const {
        // The agent's own start may only open or close its route.
        if (facts.ends.has_start && v == facts.ends.start && k != 0 && k + 1 != length) {
            return false;
        }
        if (!CanServe(agent, v)) return false;
        // A pair without an arc adds nothing; an arc the agent's type has no cost in
        // cannot be driven.
        const auto add_travel = [&](std::uint64_t from, std::uint64_t to, double& clock) {
            const double* costs =
                dense_ != nullptr ? dense_->FindArcCost(from, to) : graph_->FindArcCost(from, to);
            if (costs == nullptr) return true;
            if (!facts.type_ok) return false;
            clock += costs[facts.type];
            return true;
        };
        return walker_.Step(facts.ends, u, v, add_travel, windows_[v], k > 0, t);
    }

    /// A candidate's positions from `start` on hold the vertices of the traced route
    /// `base` at positions shifted by `shift`, up to the common last vertex.
    struct SharedSuffix {
        const RouteTrace* base;
        std::size_t start;
        std::ptrdiff_t shift;
    };

    /// Evaluates a route of `length` vertices given by `vertex_at`, whose positions
    /// before `first` (>= 1) equal a traced route with clock `clock` after first - 1.
    template <typename VertexAt, typename Stop>
    RouteEvaluation Walk(std::uint64_t agent, std::size_t length, std::size_t first, double clock,
                         VertexAt vertex_at, Stop stop, SharedSuffix suffix) const {
        const AgentFacts& facts = facts_[agent];
        // A partial clock bounds the final cost from below only when clocks never fall.
        if (monotone_ && stop(clock)) return {false, 0.0};
        // Each position maps the clock monotonically (add the step, wait for the window),
        // so a candidate that reaches a shared suffix vertex no earlier than the traced
        // route did ends no earlier than it; if even that route's cost cannot be accepted,
        // neither can the candidate's.
        const bool suffix_cut =
            monotone_ && suffix.base->Complete() && stop(suffix.base->clock.back());
        std::uint64_t u = vertex_at(first - 1);
        for (std::size_t k = first; k < length; ++k) {
            const std::uint64_t v = vertex_at(k);
            if (!Advance(agent, facts, k, length, u, v, clock)) return {false, 0.0};
            if (monotone_ && stop(clock)) return {false, 0.0};
            if (suffix_cut && k >= suffix.start &&
                clock >= suffix.base->clock[static_cast<std::size_t>(
                             static_cast<std::ptrdiff_t>(k) + suffix.shift)]) {
                return {false, 0.0};
            }
            u = v;
        }
        return {true, clock};
    }

    // Configuration, kept across Optimize calls.
    RouteWalker walker_{false};
    bool has_time_windows_ = false;
    TimeWindowTable time_windows_;
    std::vector<std::uint64_t> start_vertices_;
    std::unordered_set<std::uint64_t> start_set_;
    std::vector<std::uint64_t> end_vertices_;
    std::unordered_set<std::uint64_t> end_set_;
    bool has_starts_ = false;

    // State of the current Optimize call.
    const PlannerGraph* graph_ = nullptr;  // owned by the Solver
    const DenseGraph* dense_ = nullptr;    // graph_ when it is the Solver's own kind, read inline
    std::vector<NodeEntry> nodes_;
    std::vector<AgentEntry> agents_;
    bool monotone_ = false;

    // Dense lookups derived from configuration and tables, rebuilt whenever either
    // changes, so that the hot walk does no hashing.
    std::vector<AgentFacts> facts_;
    std::vector<std::uint8_t> can_serve_;  ///< agent * nodes_.size() + vertex
    std::vector<TimeWindow> windows_;      ///< by vertex, for vertices of the node table

    RouteTrace scratch_;  ///< reused by ImproveTwoOpt
};

}  // namespace vornik

#endif  // VORNIK_PLUGINS_ROUTEEVALUATOR_H
