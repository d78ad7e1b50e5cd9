#include "plugins/RouteMergingPostOptimizer.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace vornik {

void RouteMergingPostOptimizer::Optimize(const PlannerGraph* graph,
                                         const std::vector<NodeEntry>& nodes,
                                         const std::vector<AgentEntry>& agents, Result& result) {
    evaluator_.Bind(graph, nodes, agents);
    const std::size_t n = agents.size();
    routes_.assign(n, {});
    costs_.assign(n, 0.0);
    traces_.resize(n);
    fresh_.assign(n, 0);

    for (std::size_t a = 0; a < n; ++a) {
        const auto path = result.paths.find(static_cast<std::int64_t>(a));
        if (path != result.paths.end()) routes_[a].assign(path->second.begin(), path->second.end());
        const RouteEvaluation evaluation = evaluator_.EvaluateRoute(routes_[a], a);
        if (evaluation.ok) costs_[a] = evaluation.cost;
    }
    double bound = 0.0;
    for (const double cost : costs_) bound = std::max(bound, cost);
    if (bound <= 0 || n == 0) return;

    // Cheapest first, ties by agent index. The order is fixed here; costs that change
    // below do not reorder it. (A NaN cost sorts last; such a route is never dissolved.)
    std::vector<std::pair<double, std::uint64_t>> order;
    order.reserve(n);
    for (std::size_t a = 0; a < n; ++a) order.emplace_back(costs_[a], a);
    std::sort(order.begin(), order.end(), [](const auto& x, const auto& y) {
        const bool x_nan = std::isnan(x.first);
        const bool y_nan = std::isnan(y.first);
        if (x_nan != y_nan) return y_nan;
        if (!x_nan && x.first != y.first) return x.first < y.first;
        return x.second < y.second;
    });
    for (const auto& [h, b] : order) {
        if (evaluator_.Expired()) break;
        // Routes at the largest cost are never dissolved, nor routes without interior.
        if (h > 0 && h < bound - 1e-9 && routes_[b].size() >= 3) Dissolve(b, bound);
    }

    for (std::size_t a = 0; a < n; ++a) {
        if (costs_[a] > 0) evaluator_.ImproveTwoOpt(routes_[a], a, costs_[a]);
    }

    for (std::size_t a = 0; a < n; ++a) {
        const auto key = static_cast<std::int64_t>(a);
        // A route the agent cannot drive was never changed (every change is evaluated);
        // it keeps the cost the caller gave it rather than being reported free.
        if (evaluator_.EvaluateRoute(routes_[a], a).ok) {
            result.times[key] = costs_[a];
        } else {
            const auto incoming = result.times.find(key);
            result.times[key] = incoming != result.times.end() ? incoming->second : 0.0;
        }
        result.paths[key].assign(routes_[a].begin(), routes_[a].end());
    }
}

void RouteMergingPostOptimizer::Dissolve(std::uint64_t b, double bound) {
    std::vector<std::uint64_t>& route = routes_[b];
    // The route keeps its first and last vertex; the agent must be able to drive that
    // remainder, and its cost is what the route costs afterwards (the closing move may
    // be charged). Where costs break the triangle rule the direct move can cost more
    // than the whole route did; it must not end above the solution's longest route.
    const RouteEvaluation remainder = evaluator_.EvaluateRoute({route.front(), route.back()}, b);
    if (!remainder.ok || remainder.cost > bound + 1e-9) return;
    const std::vector<std::uint64_t> interior(route.begin() + 1, route.end() - 1);
    for (const std::uint64_t v : interior) {
        if (!FindBestInsertion(v, b, bound).found) return;
    }

    // An earlier move can use up the room a later vertex needed; then every move made
    // for this route is undone, so that no vertex is lost and the route keeps its cost.
    struct Saved {
        std::uint64_t agent;
        std::vector<std::uint64_t> route;
        double cost;
    };
    std::vector<Saved> saved{{b, route, costs_[b]}};
    for (const std::uint64_t v : interior) {
        const InsertionChoice choice = FindBestInsertion(v, b, bound);
        if (!choice.found) {
            for (auto it = saved.rbegin(); it != saved.rend(); ++it) {
                routes_[it->agent] = std::move(it->route);
                costs_[it->agent] = it->cost;
                fresh_[it->agent] = 0;
            }
            return;
        }
        const auto receiver = static_cast<std::uint64_t>(choice.agent);
        const bool touched = std::any_of(saved.begin(), saved.end(),
                                         [&](const Saved& s) { return s.agent == receiver; });
        if (!touched) saved.push_back({receiver, routes_[receiver], costs_[receiver]});
        std::vector<std::uint64_t>& target = routes_[receiver];
        target.insert(target.begin() + static_cast<std::ptrdiff_t>(choice.position), v);
        // The choice's cost is the evaluated cost of exactly this route.
        costs_[receiver] = choice.cost;
        fresh_[receiver] = 0;
        route.erase(std::find(route.begin(), route.end(), v));
        fresh_[b] = 0;
    }
    costs_[b] = remainder.cost;
}

RouteMergingPostOptimizer::InsertionChoice RouteMergingPostOptimizer::FindBestInsertion(
    std::uint64_t v, std::uint64_t excluded, double bound) {
    InsertionChoice best;
    // Every acceptable candidate costs at most bound + 1e-9 and less than best.cost + 1e-9;
    // a candidate whose clock already passes either cannot be chosen.
    const auto cannot_win = [&](double t) { return t > bound + 1e-9 || t - best.cost >= 1e-9; };
    for (std::size_t i = 0; i < routes_.size(); ++i) {
        if (i == excluded || !evaluator_.CanServe(i, v) || routes_[i].size() < 2) continue;
        const std::vector<std::uint64_t>& route = routes_[i];
        const RouteTrace& trace = TraceOf(i);
        for (std::size_t j = 1; j < route.size(); ++j) {
            const RouteEvaluation candidate =
                evaluator_.EvaluateInsertion(route, trace, i, v, j, cannot_win);
            if (!candidate.ok) continue;
            const double c = candidate.cost;
            if (!(c <= bound + 1e-9)) continue;
            // Within 1e-9 of the best cost, the smaller increase of the receiving route wins.
            const bool better =
                c < best.cost ||
                (best.found && std::fabs(c - best.cost) < 1e-9 &&
                 (best.cost - costs_[static_cast<std::size_t>(best.agent)]) > (c - costs_[i]));
            if (better) best = InsertionChoice{true, static_cast<std::int64_t>(i), j, c};
        }
    }
    return best;
}

const RouteTrace& RouteMergingPostOptimizer::TraceOf(std::uint64_t agent) {
    if (fresh_[agent] == 0) {
        evaluator_.Trace(routes_[agent], agent, traces_[agent]);
        fresh_[agent] = 1;
    }
    return traces_[agent];
}

}  // namespace vornik
