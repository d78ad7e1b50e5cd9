#ifndef VORNIK_TESTS_PLUGINS_LITERALPOSTOPTIMIZERS_H
#define VORNIK_TESTS_PLUGINS_LITERALPOSTOPTIMIZERS_H

// Slow, literal versions of the two post-optimizers, used as the oracle for the fast
// ones: every candidate is a copied route evaluated in full with copying arc-cost
// lookups and hash-set membership tests. They make the same decisions in the same
// order, so whole Optimize outcomes must agree bit for bit.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "core/Diagnostics.h"
#include "plugins/PostOptimizerPlugin.h"
#include "plugins/RouteEvaluator.h"

namespace vornik {
namespace literal {

constexpr double kLargest = std::numeric_limits<double>::max();

inline std::string Signed(std::uint64_t value) {
    return std::to_string(static_cast<std::int64_t>(value));
}

/// Configuration and shared route operations, written the plain way.
class LiteralEvaluator {
public:
    bool return_to_end = false;
    bool has_time_windows = false;
    TimeWindowTable time_windows;
    std::vector<std::uint64_t> starts;
    std::unordered_set<std::uint64_t> start_set;
    std::vector<std::uint64_t> ends;
    std::unordered_set<std::uint64_t> end_set;
    const PlannerGraph* graph = nullptr;
    std::vector<NodeEntry> nodes;
    std::vector<AgentEntry> agents;

    void SetStarts(const std::vector<std::uint64_t>& s) {
        starts = s;
        start_set = std::unordered_set<std::uint64_t>(s.begin(), s.end());
    }
    void SetEnds(const std::vector<std::uint64_t>& e) {
        ends = e;
        end_set = std::unordered_set<std::uint64_t>(e.begin(), e.end());
    }
    void SetWindows(const TimeWindowTable& w) {
        time_windows = w;
        has_time_windows = !w.empty();
    }
    bool HasStarts() const { return !starts.empty(); }
    bool HasEnds() const { return !ends.empty(); }
    bool IsStartOf(std::uint64_t a, std::uint64_t v) const {
        return a < starts.size() && starts[a] == v;
    }
    bool IsEndOf(std::uint64_t a, std::uint64_t v) const { return a < ends.size() && ends[a] == v; }

    bool CanServe(std::uint64_t a, std::uint64_t v) const {
        if (a >= agents.size() || v >= nodes.size()) return false;
        const auto& allowed = nodes[v].allowed_types;
        const std::int64_t type = agents[a].type;
        if (std::find(allowed.begin(), allowed.end(), type) == allowed.end()) return false;
        if (HasStarts() && start_set.count(v) != 0 && !IsStartOf(a, v)) return false;
        if (HasEnds() && end_set.count(v) != 0 && !IsEndOf(a, v)) return false;
        return true;
    }

    RouteEvaluation Evaluate(const std::vector<std::uint64_t>& route, std::uint64_t a) const {
        if (route.empty()) return {true, 0.0};
        if (a >= agents.size()) return {false, 0.0};
        if (HasStarts() && !IsStartOf(a, route.front())) return {false, 0.0};
        const std::uint64_t last = route.back();
        const bool closes_at_start = HasStarts() && !return_to_end && IsStartOf(a, last);
        if (HasEnds()) {
            if (!IsEndOf(a, last) && !closes_at_start) return {false, 0.0};
        } else if (!closes_at_start) {
            return {false, 0.0};
        }
        const double limit = agents[a].time_limit;
        const std::int64_t type = agents[a].type;
        double t = 0.0;
        const std::size_t n = route.size();
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint64_t v = route[i];
            if (HasStarts() && IsStartOf(a, v) && i != 0 && i != n - 1) return {false, 0.0};
            if (!CanServe(a, v)) return {false, 0.0};
            if (i > 0) {
                const std::uint64_t u = route[i - 1];
                double step = 0.0;
                if (v == u) {
                    step = 0.0;
                } else if (!return_to_end &&
                           ((HasStarts() && IsStartOf(a, v)) || (HasEnds() && IsEndOf(a, v)))) {
                    step = 0.0;
                } else {
                    const CostVector costs =
                        u < graph->NumVertex() ? graph->GetArcCost(u, v) : CostVector{};
                    if (!costs.empty()) {
                        if (type < 0 || static_cast<std::size_t>(type) >= costs.size()) {
                            return {false, 0.0};
                        }
                        step = costs[static_cast<std::size_t>(type)];
                    }
                }
                t += step;
            }
            if (has_time_windows) {
                const auto w = time_windows.find(v);
                if (w != time_windows.end()) {
                    if (t > w->second.second) return {false, 0.0};
                    t = std::max(t, w->second.first);
                }
            }
            if (i > 0 && limit > 0 && t > limit) return {false, 0.0};
        }
        return {true, t};
    }

    void TwoOpt(std::vector<std::uint64_t>& route, std::uint64_t a, double& cost) const {
        for (;;) {
            const std::size_t n = route.size();
            if (n < 4) return;
            bool improved = false;
            for (std::size_t i = 1; i + 3 <= n && !improved; ++i) {
                for (std::size_t j = i + 1; j + 2 <= n; ++j) {
                    std::vector<std::uint64_t> candidate = route;
                    std::reverse(candidate.begin() + static_cast<std::ptrdiff_t>(i),
                                 candidate.begin() + static_cast<std::ptrdiff_t>(j) + 1);
                    const RouteEvaluation e = Evaluate(candidate, a);
                    if (e.ok && cost > e.cost + 1e-9) {
                        route = candidate;
                        cost = e.cost;
                        improved = true;
                        break;
                    }
                }
            }
            if (!improved) return;
        }
    }
};

/// Base that keeps the literal configuration behind the plug-in setters.
class LiteralBase : public PostOptimizerPlugin {
public:
    void SetReturnToEnd(bool flag) override { eval_.return_to_end = flag; }
    void SetStartVertices(const std::vector<std::uint64_t>& s) override { eval_.SetStarts(s); }
    void SetEndVertices(const std::vector<std::uint64_t>& e) override { eval_.SetEnds(e); }
    void SetTimeWindows(const TimeWindowTable& w) override { eval_.SetWindows(w); }
    // The literal versions always run to the end.
    void SetStopCheck(std::function<bool()>) override {}

protected:
    void Bind(const PlannerGraph* graph, const std::vector<NodeEntry>& nodes,
              const std::vector<AgentEntry>& agents) {
        eval_.graph = graph;
        eval_.nodes = nodes;
        eval_.agents = agents;
    }
    static std::vector<std::uint64_t> Load(const Result& result, std::size_t a) {
        const auto p = result.paths.find(static_cast<std::int64_t>(a));
        if (p == result.paths.end()) return {};
        return std::vector<std::uint64_t>(p->second.begin(), p->second.end());
    }
    static double Incoming(const Result& result, std::size_t a) {
        const auto t = result.times.find(static_cast<std::int64_t>(a));
        return t == result.times.end() ? 0.0 : t->second;
    }
    LiteralEvaluator eval_;
};

class LiteralDefaultPostOptimizer final : public LiteralBase {
public:
    std::string GetName() const override { return "LiteralDefaultPostOptimizer"; }

    void Optimize(const PlannerGraph* graph, const std::vector<NodeEntry>& nodes,
                  const std::vector<AgentEntry>& agents, Result& result) override {
        groups_.clear();
        order_.clear();
        Bind(graph, nodes, agents);
        const std::size_t n = agents.size();
        routes_.assign(n, Record{});
        for (std::size_t a = 0; a < n; ++a) {
            std::vector<std::uint64_t> route = Load(result, a);
            const auto type = static_cast<std::uint64_t>(agents[a].type);
            const double c = RouteCost(route, a);
            auto it = groups_.find(type);
            if (it != groups_.end()) {
                if (it->second.count == 0) {
                    Stop("group " + Signed(type) + " size is 0 after initialize ?");
                }
                it->second.members.push_back(a);
                if (c > routes_[it->second.max_agent].cost) {
                    it->second.max_agent = a;
                } else if (routes_[it->second.min_agent].cost > c) {
                    it->second.min_agent = a;
                }
                it->second.count += 1;
            } else {
                groups_[type] = Group{1, a, a, {a}};
                order_.push_back(type);
            }
            routes_[a] = Record{a, c, route};
        }
        for (const std::uint64_t type : order_) {
            if (groups_.count(type) == 0) {
                Stop("Error: no group with type " + Signed(type) + " to InGroup optimize !");
            }
            for (const std::uint64_t a : groups_[type].members) {
                const double c = RouteCost(routes_[a].route, a);
                if (std::fabs(c) <= kLargest) {
                    routes_[a].cost = c;
                    eval_.TwoOpt(routes_[a].route, a, routes_[a].cost);
                }
                const double limit = agents[a].time_limit;
                const double cost = routes_[a].cost;
                if (!(std::fabs(cost) <= kLargest) || (limit > 0 && cost > limit)) {
                    WarnLine("[post-opt] path invalid or over capacity, skip agent " + Signed(a));
                }
            }
            Extremes(type);
            const Move move = Best(type, type);
            if (move.gain > 0) {
                Apply(routes_[groups_[type].max_agent], routes_[groups_[type].min_agent], move);
                Extremes(type);
            }
        }
        while (!order_.empty()) {
            double hi = -1.0;
            double lo = kLargest;
            bool has_e = false;
            bool has_d = false;
            std::uint64_t e = 0;
            std::uint64_t d = 0;
            for (const std::uint64_t type : order_) {
                const double m = routes_[groups_[type].max_agent].cost;
                if (m > hi) {
                    hi = m;
                    e = type;
                    has_e = true;
                }
                if (m < lo) {
                    lo = m;
                    d = type;
                    has_d = true;
                }
            }
            if (!has_e || !has_d || e == d) break;
            const Move move = Best(e, d);
            if (!(move.gain > 0)) break;
            Apply(routes_[groups_[e].max_agent], routes_[groups_[d].min_agent], move);
            Extremes(e);
            Extremes(d);
        }
        std::unordered_map<std::int64_t, std::vector<std::int64_t>> paths;
        std::unordered_map<std::int64_t, double> times;
        for (std::size_t a = 0; a < n; ++a) {
            const auto key = static_cast<std::int64_t>(a);
            paths[key].assign(routes_[a].route.begin(), routes_[a].route.end());
            const bool ok = eval_.Evaluate(routes_[a].route, a).ok;
            times[key] = ok ? routes_[a].cost : Incoming(result, a);
        }
        result.paths = paths;
        result.times = times;
    }

private:
    struct Record {
        std::uint64_t agent = 0;
        double cost = 0.0;
        std::vector<std::uint64_t> route;
    };
    struct Group {
        std::uint64_t count = 0;
        std::uint64_t max_agent = 0;
        std::uint64_t min_agent = 0;
        std::vector<std::uint64_t> members;
    };
    struct Move {
        std::uint64_t i = ~std::uint64_t{0};
        std::uint64_t j = ~std::uint64_t{0};
        double gain = 0.0;
    };

    [[noreturn]] static void Stop(const std::string& line) {
        WarnLine(line);
        throw std::logic_error(line);
    }
    double RouteCost(const std::vector<std::uint64_t>& route, std::uint64_t a) const {
        const RouteEvaluation e = eval_.Evaluate(route, a);
        if (!e.ok) {
            WarnLine("[post-opt] invalid path for agent " + Signed(a) + ", skip optimize");
            return 0.0;
        }
        return e.cost;
    }
    void Extremes(std::uint64_t type) {
        if (groups_.count(type) == 0) Stop("Error: no group with type " + Signed(type));
        Group& g = groups_[type];
        double hi = -1.0;
        double lo = kLargest;
        for (const std::uint64_t a : g.members) {
            if (routes_[a].cost > hi) {
                hi = routes_[a].cost;
                g.max_agent = a;
            }
            if (routes_[a].cost < lo) {
                lo = routes_[a].cost;
                g.min_agent = a;
            }
        }
    }
    Move Best(std::uint64_t s, std::uint64_t t) {
        Move best;
        const std::uint64_t a = groups_[s].max_agent;
        const std::uint64_t b = groups_[t].min_agent;
        if (a == b) return best;
        const auto& A = routes_[a].route;
        const auto& B = routes_[b].route;
        if (A.size() <= 1 || B.size() <= 1 || A.size() <= 2) return best;
        for (std::size_t i = 1; i + 2 <= A.size(); ++i) {
            const std::uint64_t v = A[i];
            if (s != t) {
                if (v >= eval_.nodes.size()) continue;
                const auto& allowed = eval_.nodes[v].allowed_types;
                if (std::find(allowed.begin(), allowed.end(), static_cast<std::int64_t>(t)) ==
                    allowed.end()) {
                    continue;
                }
            }
            for (std::size_t j = 1; j < B.size(); ++j) {
                std::vector<std::uint64_t> a2 = A;
                a2.erase(a2.begin() + static_cast<std::ptrdiff_t>(i));
                std::vector<std::uint64_t> b2 = B;
                b2.insert(b2.begin() + static_cast<std::ptrdiff_t>(j), v);
                const RouteEvaluation ea = eval_.Evaluate(a2, a);
                const RouteEvaluation eb = eval_.Evaluate(b2, b);
                if (ea.ok && eb.ok) {
                    const double gain = routes_[a].cost - std::max(ea.cost, eb.cost);
                    if (gain > best.gain) best = Move{i, j, gain};
                }
            }
        }
        return best;
    }
    void Apply(Record& first, Record& second, const Move& move) {
        if (first.route.size() <= 1 || second.route.size() <= 1) return;
        if (move.i < 1 || move.i + 2 > first.route.size() || move.j < 1 ||
            move.j + 1 > second.route.size()) {
            WarnLine("Invalid indices.");
            return;
        }
        std::vector<std::uint64_t> a2 = first.route;
        std::vector<std::uint64_t> b2 = second.route;
        const std::uint64_t v = a2[move.i];
        a2.erase(a2.begin() + static_cast<std::ptrdiff_t>(move.i));
        b2.insert(b2.begin() + static_cast<std::ptrdiff_t>(move.j), v);
        const RouteEvaluation ea = eval_.Evaluate(a2, first.agent);
        const RouteEvaluation eb = eval_.Evaluate(b2, second.agent);
        if (!ea.ok || !eb.ok) return;
        first.route = a2;
        first.cost = ea.cost;
        second.route = b2;
        second.cost = eb.cost;
    }

    std::vector<Record> routes_;
    std::unordered_map<std::uint64_t, Group> groups_;
    std::vector<std::uint64_t> order_;
};

class LiteralRouteMergingPostOptimizer final : public LiteralBase {
public:
    std::string GetName() const override { return "LiteralRouteMergingPostOptimizer"; }

    void Optimize(const PlannerGraph* graph, const std::vector<NodeEntry>& nodes,
                  const std::vector<AgentEntry>& agents, Result& result) override {
        Bind(graph, nodes, agents);
        const std::size_t n = agents.size();
        routes_.assign(n, {});
        costs_.assign(n, 0.0);
        for (std::size_t a = 0; a < n; ++a) {
            routes_[a] = Load(result, a);
            const RouteEvaluation e = eval_.Evaluate(routes_[a], a);
            if (e.ok) costs_[a] = e.cost;
        }
        double bound = 0.0;
        for (const double c : costs_) bound = std::max(bound, c);
        if (bound <= 0 || n == 0) return;
        std::vector<std::pair<double, std::uint64_t>> order;
        for (std::size_t a = 0; a < n; ++a) order.emplace_back(costs_[a], a);
        std::stable_sort(order.begin(), order.end(),
                         [](const auto& x, const auto& y) { return x.first < y.first; });
        for (const auto& [h, b] : order) {
            if (!(h > 0 && h < bound - 1e-9 && routes_[b].size() >= 3)) continue;
            const RouteEvaluation rest = eval_.Evaluate({routes_[b].front(), routes_[b].back()}, b);
            if (!rest.ok || rest.cost > bound + 1e-9) continue;
            const std::vector<std::uint64_t> interior(routes_[b].begin() + 1, routes_[b].end() - 1);
            bool feasible = true;
            for (const std::uint64_t v : interior) {
                feasible = feasible && Insertion(v, b, bound).found;
            }
            if (!feasible) continue;
            const auto saved_routes = routes_;
            const auto saved_costs = costs_;
            bool moved_all = true;
            for (const std::uint64_t v : interior) {
                const Choice choice = Insertion(v, b, bound);
                if (!choice.found) {
                    moved_all = false;
                    break;
                }
                auto& target = routes_[static_cast<std::size_t>(choice.agent)];
                target.insert(target.begin() + static_cast<std::ptrdiff_t>(choice.position), v);
                const auto receiver = static_cast<std::uint64_t>(choice.agent);
                const RouteEvaluation e = eval_.Evaluate(target, receiver);
                if (e.ok) costs_[static_cast<std::size_t>(choice.agent)] = e.cost;
                routes_[b].erase(std::find(routes_[b].begin(), routes_[b].end(), v));
            }
            if (!moved_all) {
                routes_ = saved_routes;
                costs_ = saved_costs;
                continue;
            }
            costs_[b] = rest.cost;
        }
        for (std::size_t a = 0; a < n; ++a) {
            if (costs_[a] > 0) eval_.TwoOpt(routes_[a], a, costs_[a]);
        }
        for (std::size_t a = 0; a < n; ++a) {
            const auto key = static_cast<std::int64_t>(a);
            const double incoming = Incoming(result, a);
            result.times[key] = eval_.Evaluate(routes_[a], a).ok ? costs_[a] : incoming;
            result.paths[key].assign(routes_[a].begin(), routes_[a].end());
        }
    }

private:
    struct Choice {
        bool found = false;
        std::int64_t agent = -1;
        std::uint64_t position = 0;
        double cost = kLargest;
    };
    Choice Insertion(std::uint64_t v, std::uint64_t b, double bound) const {
        Choice best;
        for (std::size_t i = 0; i < routes_.size(); ++i) {
            if (i == b || !eval_.CanServe(i, v) || routes_[i].size() < 2) continue;
            for (std::size_t j = 1; j < routes_[i].size(); ++j) {
                std::vector<std::uint64_t> candidate = routes_[i];
                candidate.insert(candidate.begin() + static_cast<std::ptrdiff_t>(j), v);
                const RouteEvaluation e = eval_.Evaluate(candidate, i);
                if (!e.ok || !(e.cost <= bound + 1e-9)) continue;
                const double c = e.cost;
                const bool better =
                    c < best.cost ||
                    (best.found && std::fabs(c - best.cost) < 1e-9 &&
                     (best.cost - costs_[static_cast<std::size_t>(best.agent)]) > (c - costs_[i]));
                if (better) best = Choice{true, static_cast<std::int64_t>(i), j, c};
            }
        }
        return best;
    }

    std::vector<std::vector<std::uint64_t>> routes_;
    std::vector<double> costs_;
};

}  // namespace literal
}  // namespace vornik

#endif  // VORNIK_TESTS_PLUGINS_LITERALPOSTOPTIMIZERS_H
