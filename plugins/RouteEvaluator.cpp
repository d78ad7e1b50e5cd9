#include "plugins/RouteEvaluator.h"

#include <algorithm>

namespace vornik {

void RouteEvaluator::SetReturnToEnd(bool return_to_end) {
    walker_ = RouteWalker(return_to_end);
    RebuildTables();
}

void RouteEvaluator::SetStartVertices(const std::vector<std::uint64_t>& start_vertices) {
    start_vertices_ = start_vertices;
    start_set_ = std::unordered_set<std::uint64_t>(start_vertices_.begin(), start_vertices_.end());
    has_starts_ = !start_vertices_.empty();
    RebuildTables();
}

void RouteEvaluator::SetEndVertices(const std::vector<std::uint64_t>& end_vertices) {
    end_vertices_ = end_vertices;
    end_set_ = std::unordered_set<std::uint64_t>(end_vertices_.begin(), end_vertices_.end());
    RebuildTables();
}

void RouteEvaluator::SetTimeWindows(const TimeWindowTable& time_windows) {
    // Handing the evaluator its own table back must not clear it while copying.
    if (&time_windows != &time_windows_) time_windows_ = time_windows;
    has_time_windows_ = !time_windows_.empty();
    RebuildTables();
}

void RouteEvaluator::Bind(const PlannerGraph* graph, const std::vector<NodeEntry>& nodes,
                          const std::vector<AgentEntry>& agents) {
    graph_ = graph;
    dense_ = dynamic_cast<const DenseGraph*>(graph);
    nodes_ = nodes;
    agents_ = agents;
    // Clocks never fall along a route when no arc cost is negative (waiting only adds
    // and free closing moves add 0). NaN fails the test as well.
    monotone_ = graph_ != nullptr;
    if (graph_ != nullptr) {
        const std::uint64_t dim = graph_->CostDim();
        const std::vector<std::uint64_t> vertices = graph_->AllVertices();
        for (const std::uint64_t u : vertices) {
            for (const std::uint64_t v : vertices) {
                const double* costs = graph_->FindArcCost(u, v);
                if (costs == nullptr) continue;
                for (std::uint64_t d = 0; d < dim && monotone_; ++d) {
                    if (!(costs[d] >= 0.0)) monotone_ = false;
                }
            }
            if (!monotone_) break;
        }
    }
    RebuildTables();
}

void RouteEvaluator::RebuildTables() {
    const std::size_t num_nodes = nodes_.size();
    const std::size_t num_agents = agents_.size();
    const std::uint64_t dim = graph_ != nullptr ? graph_->CostDim() : 0;

    facts_.assign(num_agents, AgentFacts{});
    for (std::size_t a = 0; a < num_agents; ++a) {
        AgentFacts& facts = facts_[a];
        facts.ends.has_start = a < start_vertices_.size();
        facts.ends.start = facts.ends.has_start ? start_vertices_[a] : 0;
        facts.ends.has_end = a < end_vertices_.size();
        facts.ends.end = facts.ends.has_end ? end_vertices_[a] : 0;
        facts.ends.limit = agents_[a].time_limit;
        const std::int64_t type = agents_[a].type;
        facts.type_ok = type >= 0 && static_cast<std::uint64_t>(type) < dim;
        facts.type = facts.type_ok ? static_cast<std::size_t>(type) : 0;
    }

    can_serve_.assign(num_agents * num_nodes, 0);
    for (std::size_t a = 0; a < num_agents; ++a) {
        const AgentFacts& facts = facts_[a];
        for (std::size_t v = 0; v < num_nodes; ++v) {
            const std::vector<std::int64_t>& allowed = nodes_[v].allowed_types;
            bool ok = std::find(allowed.begin(), allowed.end(), agents_[a].type) != allowed.end();
            // A vertex that is some agent's start (end) belongs to that agent alone.
            if (ok && start_set_.count(v) != 0) ok = facts.ends.has_start && facts.ends.start == v;
            if (ok && end_set_.count(v) != 0) ok = facts.ends.has_end && facts.ends.end == v;
            can_serve_[a * num_nodes + v] = ok ? 1 : 0;
        }
    }

    windows_.assign(num_nodes, TimeWindow{});
    for (const auto& [vertex, window] : time_windows_) {
        if (vertex < num_nodes) windows_[vertex] = TimeWindow{true, window.first, window.second};
    }
}

bool RouteEvaluator::EndpointsOk(const AgentFacts& facts, std::uint64_t first,
                                 std::uint64_t last) const {
    if (has_starts_ && !(facts.ends.has_start && first == facts.ends.start)) return false;
    // An agent that does not return may also close its route where it started.
    return walker_.ClosesOn(facts.ends, last);
}

void RouteEvaluator::Trace(const std::vector<std::uint64_t>& route, std::uint64_t agent,
                           RouteTrace& trace) const {
    trace.clock.clear();
    trace.length = route.size();
    trace.fail_position = 0;
    trace.endpoints_ok = false;
    if (route.empty() || agent >= facts_.size()) return;
    const AgentFacts& facts = facts_[agent];
    if (!EndpointsOk(facts, route.front(), route.back())) return;
    trace.endpoints_ok = true;
    const std::size_t length = route.size();
    double t = 0.0;
    std::size_t k = 0;
    for (; k < length; ++k) {
        const std::uint64_t u = k > 0 ? route[k - 1] : route[0];
        if (!Advance(agent, facts, k, length, u, route[k], t)) break;
        trace.clock.push_back(t);
    }
    trace.fail_position = k;
}

RouteEvaluation RouteEvaluator::EvaluateRoute(const std::vector<std::uint64_t>& route,
                                              std::uint64_t agent) const {
    if (route.empty()) return {true, 0.0};
    if (agent >= facts_.size()) return {false, 0.0};
    const AgentFacts& facts = facts_[agent];
    if (!EndpointsOk(facts, route.front(), route.back())) return {false, 0.0};
    const std::size_t length = route.size();
    double t = 0.0;
    for (std::size_t k = 0; k < length; ++k) {
        const std::uint64_t u = k > 0 ? route[k - 1] : route[0];
        if (!Advance(agent, facts, k, length, u, route[k], t)) return {false, 0.0};
    }
    return {true, t};
}

void RouteEvaluator::ImproveTwoOpt(std::vector<std::uint64_t>& route, std::uint64_t agent,
                                   double& cost) {
    const std::size_t n = route.size();
    if (n < 4) return;
    // A reversal of i .. j leaves positions 0 .. i-1 and their clocks as they are, so each
    // candidate is walked from position i on, reading the reversed segment in place.
    // A candidate is abandoned once its clock shows it cannot undercut `cost` by 1e-9.
    const auto cannot_improve = [&cost](double t) { return !(cost > t + 1e-9); };
    bool improved = true;
    while (improved) {
        // Out of time: route and cost hold the last applied reversal.
        if (Expired()) return;
        improved = false;
        Trace(route, agent, scratch_);
        if (!scratch_.endpoints_ok) return;
        for (std::size_t i = 1; i + 3 <= n && !improved; ++i) {
            // A failure before i repeats in every candidate that starts changing at i or later.
            if (scratch_.fail_position < i) return;
            const double clock = scratch_.clock[i - 1];
            for (std::size_t j = i + 1; j + 2 <= n; ++j) {
                const RouteEvaluation candidate = Walk(
                    agent, n, i, clock,
                    [&](std::size_t k) { return k < i || k > j ? route[k] : route[i + j - k]; },
                    cannot_improve, SharedSuffix{&scratch_, j + 1, 0});
                if (candidate.ok && cost > candidate.cost + 1e-9) {
                    std::reverse(route.begin() + static_cast<std::ptrdiff_t>(i),
                                 route.begin() + static_cast<std::ptrdiff_t>(j) + 1);
                    cost = candidate.cost;
                    improved = true;
                    break;
                }
            }
        }
    }
}

}  // namespace vornik
