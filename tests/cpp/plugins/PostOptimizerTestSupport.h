#ifndef VORNIK_TESTS_PLUGINS_POSTOPTIMIZERTESTSUPPORT_H
#define VORNIK_TESTS_PLUGINS_POSTOPTIMIZERTESTSUPPORT_H

// Random instances with complete solutions for the post-optimizer tests and benchmark.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <random>
#include <vector>

#include "core/Problem.h"
#include "core/SearchRecords.h"
#include "graph/SparseGraph.h"
#include "plugins/PostOptimizerPlugin.h"

namespace vornik {
namespace testing_support {

struct PostOptCase {
    std::unique_ptr<SparseGraph> graph;
    std::vector<NodeEntry> nodes;
    std::vector<AgentEntry> agents;
    std::vector<std::uint64_t> starts;
    std::vector<std::uint64_t> ends;
    TimeWindowTable windows;
    bool return_to_end = true;
    Result result;
};

struct CaseShape {
    std::size_t vertices = 20;
    std::size_t min_agents = 2;
    std::size_t max_agents = 5;
    std::int64_t num_types = 1;
    bool windows = false;
    bool limits = false;
    bool restrict_types = false;
    bool return_to_end = true;
    bool shared_depot = true;
    bool drop_some_paths = false;
    bool metric = true;  ///< false: independent random arc costs (asymmetric, no triangle rule)
};

/// Complete directed graph on vertices 0 .. n-1 whose arc u -> v costs cost[t][u * n + v]
/// for type t.
inline std::unique_ptr<SparseGraph> MakeMatrixGraph(std::size_t n,
                                                    const std::vector<std::vector<double>>& cost) {
    auto graph = std::make_unique<SparseGraph>();
    for (std::uint64_t v = 0; v < n; ++v) graph->AddVertex(v);
    for (std::uint64_t u = 0; u < n; ++u) {
        for (std::uint64_t v = 0; v < n; ++v) {
            if (u == v) continue;
            CostVector costs;
            for (const auto& matrix : cost) costs.push_back(matrix[u * n + v]);
            graph->AddArc(u, v, costs);
        }
    }
    return graph;
}

/// Euclidean points in a 100 x 100 square (or random arc costs up to 100 when not
/// `metric`); type t travels at speed 1 / (1 + 0.25 t).
/// Depots: vertex 0 for every agent, or vertices 2a and 2a+1 (start and end of agent a,
/// the same vertex for every third agent). The targets are dealt to random agents and
/// shuffled, so every target is served exactly once.
inline PostOptCase MakeRandomCase(std::mt19937_64& rng, const CaseShape& shape) {
    PostOptCase c;
    std::uniform_real_distribution<double> coord(0.0, 100.0);
    std::uniform_int_distribution<std::size_t> agent_count(shape.min_agents, shape.max_agents);
    const std::size_t num_agents = agent_count(rng);
    const std::size_t n = std::max(shape.vertices, shape.shared_depot ? 2 : 2 * num_agents + 1);
    const auto types = static_cast<std::size_t>(shape.num_types);

    std::vector<double> xs(n);
    std::vector<double> ys(n);
    for (std::size_t v = 0; v < n; ++v) {
        xs[v] = coord(rng);
        ys[v] = coord(rng);
    }
    std::vector<std::vector<double>> cost(types, std::vector<double>(n * n, 0.0));
    for (std::size_t t = 0; t < types; ++t) {
        for (std::size_t u = 0; u < n; ++u) {
            for (std::size_t v = 0; v < n; ++v) {
                const double slowness = 1.0 + 0.25 * static_cast<double>(t);
                const double distance =
                    shape.metric ? std::hypot(xs[u] - xs[v], ys[u] - ys[v]) : coord(rng);
                cost[t][u * n + v] = distance * slowness;
            }
        }
    }
    c.graph = MakeMatrixGraph(n, cost);
    c.return_to_end = shape.return_to_end;

    c.agents.resize(num_agents);
    for (std::size_t a = 0; a < num_agents; ++a) {
        c.agents[a].id = 10 + a;
        c.agents[a].type = static_cast<std::int64_t>(rng() % types);
        c.agents[a].time_limit = shape.limits && rng() % 2 == 0 ? 150.0 + coord(rng) * 6.0 : 0.0;
        if (shape.shared_depot) {
            c.starts.push_back(0);
            c.ends.push_back(0);
        } else {
            c.starts.push_back(2 * a);
            c.ends.push_back(a % 3 == 2 ? 2 * a : 2 * a + 1);
        }
    }
    const std::size_t first_target = shape.shared_depot ? 1 : 2 * num_agents;

    c.nodes.resize(n);
    for (std::size_t v = 0; v < n; ++v) {
        c.nodes[v].id = 100 + v;
        for (std::size_t t = 0; t < types; ++t) {
            // Depots admit every type; a restricted target drops each type with chance 1/3
            // but keeps at least one.
            if (!shape.restrict_types || v < first_target || rng() % 3 != 0) {
                c.nodes[v].allowed_types.push_back(static_cast<std::int64_t>(t));
            }
        }
        if (c.nodes[v].allowed_types.empty()) {
            c.nodes[v].allowed_types.push_back(static_cast<std::int64_t>(rng() % types));
        }
    }

    if (shape.windows) {
        std::uniform_real_distribution<double> open(0.0, 250.0);
        std::uniform_real_distribution<double> width(60.0, 500.0);
        for (std::size_t v = first_target; v < n; ++v) {
            if (rng() % 3 != 0) continue;
            const double start = open(rng);
            c.windows[v] = {start, start + width(rng)};
        }
    }

    std::vector<std::vector<std::uint64_t>> served(num_agents);
    for (std::size_t v = first_target; v < n; ++v) {
        // Prefer an agent whose type may serve v; now and then any agent, so that some
        // routes cannot be driven.
        std::vector<std::size_t> able;
        for (std::size_t a = 0; a < num_agents; ++a) {
            const auto& allowed = c.nodes[v].allowed_types;
            if (std::find(allowed.begin(), allowed.end(), c.agents[a].type) != allowed.end()) {
                able.push_back(a);
            }
        }
        const std::size_t a =
            !able.empty() && rng() % 10 != 0 ? able[rng() % able.size()] : rng() % num_agents;
        served[a].push_back(v);
    }
    for (std::size_t a = 0; a < num_agents; ++a) {
        if (shape.drop_some_paths && rng() % 8 == 0 && served[a].empty()) continue;
        std::vector<std::int64_t> route{static_cast<std::int64_t>(c.starts[a])};
        for (const std::uint64_t v : served[a]) route.push_back(static_cast<std::int64_t>(v));
        route.push_back(static_cast<std::int64_t>(c.ends[a]));
        c.result.paths[static_cast<std::int64_t>(a)] = route;
        // The search reports its own clock; any value will do for a route that stays put.
        c.result.times[static_cast<std::int64_t>(a)] = 1000.0 + static_cast<double>(a);
    }
    c.result.n_generated = 77;
    c.result.n_expanded = 55;
    c.result.timeout = true;
    c.result.last_update_time = 1.5;
    return c;
}

/// A hand-made instance: `n` vertices, `dim` agent types with the same costs, every arc
/// `fill` unless set; every vertex admits every type.
struct HandCase {
    std::size_t n;
    std::size_t dim;
    std::vector<double> cost;
    std::vector<NodeEntry> nodes;
    std::vector<AgentEntry> agents;

    HandCase(std::size_t vertices, std::size_t types, double fill)
        : n(vertices), dim(types), cost(vertices * vertices, fill), nodes(vertices) {
        for (auto& node : nodes) {
            for (std::size_t t = 0; t < dim; ++t) {
                node.allowed_types.push_back(static_cast<std::int64_t>(t));
            }
        }
    }
    /// Both directions of u - v cost c.
    void Both(std::uint64_t u, std::uint64_t v, double c) {
        cost[u * n + v] = c;
        cost[v * n + u] = c;
    }
    void One(std::uint64_t u, std::uint64_t v, double c) { cost[u * n + v] = c; }
    void AddAgent(std::int64_t type, double time_limit = 0.0) {
        AgentEntry agent;
        agent.id = agents.size();
        agent.type = type;
        agent.time_limit = time_limit;
        agents.push_back(agent);
    }
    std::unique_ptr<SparseGraph> Graph() const {
        return MakeMatrixGraph(n, std::vector<std::vector<double>>(dim, cost));
    }
};

inline std::vector<std::int64_t> Path(std::initializer_list<std::int64_t> vertices) {
    return std::vector<std::int64_t>(vertices);
}

/// Hands `optimizer` the case's configuration, in the Solver's order.
inline void Configure(PostOptimizerPlugin& optimizer, const PostOptCase& c) {
    optimizer.SetReturnToEnd(c.return_to_end);
    optimizer.SetStartVertices(c.starts);
    optimizer.SetEndVertices(c.ends);
    optimizer.SetTimeWindows(c.windows);
}

inline std::vector<std::uint64_t> RouteOf(const Result& result, std::size_t a) {
    const auto p = result.paths.find(static_cast<std::int64_t>(a));
    if (p == result.paths.end()) return {};
    return std::vector<std::uint64_t>(p->second.begin(), p->second.end());
}

}  // namespace testing_support
}  // namespace vornik

#endif  // VORNIK_TESTS_PLUGINS_POSTOPTIMIZERTESTSUPPORT_H
