#include "plugins/DefaultPostOptimizer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "core/Diagnostics.h"

namespace vornik {
namespace {

constexpr double kLargest = std::numeric_limits<double>::max();

// Agent indices and type indices appear in messages as signed decimals, so that the
// "no type" index reads -1.
std::string Signed(std::uint64_t value) { return std::to_string(static_cast<std::int64_t>(value)); }

// Group bookkeeping that cannot go wrong when groups are built from the agent table;
// reaching one means a programming error, so the line is printed and the call aborted.
[[noreturn]] void ConsistencyStop(const std::string& line) {
    WarnLine(line);
    throw std::logic_error(line);
}

}  // namespace

void DefaultPostOptimizer::Optimize(const PlannerGraph* graph, const std::vector<NodeEntry>& nodes,
                                    const std::vector<AgentEntry>& agents, Result& result) {
    groups_.clear();
    group_order_.clear();
    evaluator_.Bind(graph, nodes, agents);
    const std::size_t n = agents.size();
    routes_.assign(n, AgentRoute{});

    for (std::size_t a = 0; a < n; ++a) {
        std::vector<std::uint64_t> route;
        const auto path = result.paths.find(static_cast<std::int64_t>(a));
        if (path != result.paths.end()) route.assign(path->second.begin(), path->second.end());
        const auto type = static_cast<std::uint64_t>(agents[a].type);
        const double c = RouteCost(route, a);
        const auto found = groups_.find(type);
        if (found != groups_.end()) {
            AgentGroup& group = found->second;
            if (group.count == 0) {
                ConsistencyStop("group " + Signed(type) + " size is 0 after initialize ?");
            }
            group.members.push_back(a);
            if (c > routes_[group.max_agent].cost) {
                group.max_agent = a;
            } else if (routes_[group.min_agent].cost > c) {
                group.min_agent = a;
            }
            group.count += 1;
        } else {
            groups_.emplace(type, AgentGroup{1, type, a, a, {a}});
            group_order_.push_back(type);
        }
        routes_[a] = AgentRoute{a, c, std::move(route)};
    }

    OptimizeInGroups();
    OptimizeBetweenGroups();

    // A route the agent cannot drive was never changed by a move (every move checks the
    // new routes); it keeps the cost the caller gave it rather than being reported free.
    std::unordered_map<std::int64_t, std::vector<std::int64_t>> paths;
    std::unordered_map<std::int64_t, double> times;
    for (std::size_t a = 0; a < n; ++a) {
        const auto key = static_cast<std::int64_t>(a);
        const AgentRoute& record = routes_[a];
        double cost = record.cost;
        if (!evaluator_.EvaluateRoute(record.route, a).ok) {
            const auto incoming = result.times.find(key);
            cost = incoming != result.times.end() ? incoming->second : 0.0;
        }
        paths[key].assign(record.route.begin(), record.route.end());
        times[key] = cost;
    }
    result.paths = std::move(paths);
    result.times = std::move(times);
}

double DefaultPostOptimizer::RouteCost(const std::vector<std::uint64_t>& route,
                                       std::uint64_t agent) const {
    const RouteEvaluation evaluation = evaluator_.EvaluateRoute(route, agent);
    if (!evaluation.ok) {
        WarnLine("[post-opt] invalid path for agent " + Signed(agent) + ", skip optimize");
        return 0.0;
    }
    return evaluation.cost;
}

void DefaultPostOptimizer::OptimizeInGroups() {
    const std::vector<AgentEntry>& agents = evaluator_.Agents();
    for (const std::uint64_t type : group_order_) {
        const auto found = groups_.find(type);
        if (found == groups_.end()) {
            ConsistencyStop("Error: no group with type " + Signed(type) + " to InGroup optimize !");
        }
        for (const std::uint64_t a : found->second.members) {
            if (evaluator_.Expired()) return;
            AgentRoute& record = routes_[a];
            const double c = RouteCost(record.route, a);
            if (std::fabs(c) <= kLargest) {
                record.cost = c;
                evaluator_.ImproveTwoOpt(record.route, a, record.cost);
            }
            const double limit = agents[a].time_limit;
            if (!(std::fabs(record.cost) <= kLargest) || (limit > 0 && record.cost > limit)) {
                WarnLine("[post-opt] path invalid or over capacity, skip agent " + Signed(a));
            }
        }
        UpdateGroupExtremes(type);
        // One relocation per group and call: from its most expensive route to its cheapest.
        const RelocationMove move = FindBestRelocation(type, type);
        if (move.gain > 0) {
            const AgentGroup& group = groups_.at(type);
            ApplyRelocation(routes_[group.max_agent], routes_[group.min_agent], move);
            UpdateGroupExtremes(type);
        }
    }
}

void DefaultPostOptimizer::OptimizeBetweenGroups() {
    // Terminates: every accepted move lowers the globally most expensive route (or the
    // number of routes at that cost) and lifts no route to it.
    while (!group_order_.empty() && !evaluator_.Expired()) {
        double hi = -1.0;
        double lo = kLargest;
        const std::uint64_t* source = nullptr;
        const std::uint64_t* target = nullptr;
        // Both choices look at each group's most expensive route; ties go to the group
        // earlier in the order.
        for (const std::uint64_t& type : group_order_) {
            const double m = routes_[groups_.at(type).max_agent].cost;
            if (m > hi) {
                hi = m;
                source = &type;
            }
            if (m < lo) {
                lo = m;
                target = &type;
            }
        }
        // Without a source (only with negative costs) or a target there is no move.
        if (source == nullptr || target == nullptr || *source == *target) return;
        const RelocationMove move = FindBestRelocation(*source, *target);
        if (!(move.gain > 0)) return;
        ApplyRelocation(routes_[groups_.at(*source).max_agent],
                        routes_[groups_.at(*target).min_agent], move);
        UpdateGroupExtremes(*source);
        UpdateGroupExtremes(*target);
    }
}

void DefaultPostOptimizer::UpdateGroupExtremes(std::uint64_t type) {
    const auto found = groups_.find(type);
    if (found == groups_.end()) ConsistencyStop("Error: no group with type " + Signed(type));
    AgentGroup& group = found->second;
    double hi = -1.0;
    double lo = kLargest;
    for (const std::uint64_t a : group.members) {
        const double cost = routes_[a].cost;
        if (cost > hi) {
            hi = cost;
            group.max_agent = a;
        }
        if (cost < lo) {
            lo = cost;
            group.min_agent = a;
        }
    }
}

DefaultPostOptimizer::RelocationMove DefaultPostOptimizer::FindBestRelocation(
    std::uint64_t source_type, std::uint64_t target_type) {
    RelocationMove best;
    const std::uint64_t a = groups_.at(source_type).max_agent;
    const std::uint64_t b = groups_.at(target_type).min_agent;
    if (a == b) return best;
    const std::vector<std::uint64_t>& from = routes_[a].route;
    const std::vector<std::uint64_t>& to = routes_[b].route;
    if (from.size() <= 2 || to.size() <= 1) return best;

    const std::vector<NodeEntry>& nodes = evaluator_.Nodes();
    const double cost_a = routes_[a].cost;
    evaluator_.Trace(from, a, source_trace_);
    evaluator_.Trace(to, b, target_trace_);
    // gain = cost_a - max(ca, cb) never exceeds cost_a - t for a partial clock t of either
    // route, so a candidate whose clock reaches that point cannot beat the best gain.
    const auto cannot_gain = [&](double t) { return !(cost_a - t > best.gain); };
    for (std::size_t i = 1; i + 2 <= from.size(); ++i) {
        const std::uint64_t v = from[i];
        if (source_type != target_type) {
            const auto wanted = static_cast<std::int64_t>(target_type);
            if (v >= nodes.size()) continue;
            const std::vector<std::int64_t>& allowed = nodes[v].allowed_types;
            if (std::find(allowed.begin(), allowed.end(), wanted) == allowed.end()) continue;
        }
        // The shortened source route does not depend on the insertion position.
        const RouteEvaluation shortened =
            evaluator_.EvaluateRemoval(from, source_trace_, a, i, cannot_gain);
        if (!shortened.ok) continue;
        const double ca = shortened.cost;
        for (std::size_t j = 1; j < to.size(); ++j) {
            // gain <= cost_a - ca whatever cb is; the best gain only grows along j.
            if (!(cost_a - ca > best.gain)) break;
            const RouteEvaluation extended =
                evaluator_.EvaluateInsertion(to, target_trace_, b, v, j, cannot_gain);
            if (!extended.ok) continue;
            const double gain = cost_a - std::max(ca, extended.cost);
            if (gain > best.gain) best = RelocationMove{i, j, source_type, target_type, gain};
        }
    }
    return best;
}

void DefaultPostOptimizer::ApplyRelocation(AgentRoute& first, AgentRoute& second,
                                           const RelocationMove& move) {
    if (first.route.size() <= 1 || second.route.size() <= 1) return;
    const std::uint64_t i = move.from_position;
    const std::uint64_t j = move.to_position;
    if (i < 1 || i + 2 > first.route.size() || j < 1 || j + 1 > second.route.size()) {
        WarnLine("Invalid indices.");
        return;
    }
    std::vector<std::uint64_t> from = first.route;
    std::vector<std::uint64_t> to = second.route;
    const std::uint64_t v = from[i];
    from.erase(from.begin() + static_cast<std::ptrdiff_t>(i));
    to.insert(to.begin() + static_cast<std::ptrdiff_t>(j), v);
    const RouteEvaluation from_eval = evaluator_.EvaluateRoute(from, first.agent);
    const RouteEvaluation to_eval = evaluator_.EvaluateRoute(to, second.agent);
    if (!from_eval.ok || !to_eval.ok) return;
    first.route = std::move(from);
    first.cost = from_eval.cost;
    second.route = std::move(to);
    second.cost = to_eval.cost;
}

}  // namespace vornik
