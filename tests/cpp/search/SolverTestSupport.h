#ifndef VORNIK_TESTS_SEARCH_SOLVERTESTSUPPORT_H
#define VORNIK_TESTS_SEARCH_SOLVERTESTSUPPORT_H

// Instance builders, an independent solution checker and a brute-force optimum for the
// Solver tests. The checker recomputes everything from the Problem itself, never from
// the Solver's tables.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "core/Problem.h"
#include "search/Solver.h"

namespace vornik {
namespace testing_support {

/// Exposes the Solver's protected state to the tests.
class TestSolver : public Solver {
public:
    using Solver::checker_;
    using Solver::focal_bound_;
    using Solver::focal_list_;
    using Solver::incumbent_;
    using Solver::InsertFocal;
    using Solver::objective_;
    using Solver::open_list_;
    using Solver::pool_;
    using Solver::pool_capacity_;
    using Solver::pool_growth_step_;
    using Solver::ResetSearchState;
    using Solver::Solver;
    using Solver::time_windows_;
    using Solver::unreachable_points_;
    using Solver::weights_;
};

inline Node MakeNode(std::uint64_t id, double x, double y = 0.0) {
    Node node;
    node.id = id;
    node.position.x = x;
    node.position.y = y;
    return node;
}

inline Agent MakeAgent(std::uint64_t id, const std::string& type, std::uint64_t start,
                       std::uint64_t end, double time_limit = 0.0) {
    Agent agent;
    agent.id = id;
    agent.type = type;
    agent.start_node = start;
    agent.end_node = end;
    agent.time_limit = time_limit;
    return agent;
}

/// Euclidean matrix of the nodes' positions.
inline CostMatrix EuclideanMatrix(const std::vector<Node>& nodes) {
    CostMatrix matrix(nodes.size(), std::vector<double>(nodes.size(), 0.0));
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        for (std::size_t j = 0; j < nodes.size(); ++j) {
            matrix[i][j] = std::hypot(nodes[i].position.x - nodes[j].position.x,
                                      nodes[i].position.y - nodes[j].position.y);
        }
    }
    return matrix;
}

/// Nodes 0 .. n-1 at the given x coordinates (ids = vertices), one agent type "t" with
/// the Euclidean matrix, `agents` agents starting and ending at node 0, every node open
/// to "t".
inline Problem MakeLineProblem(const std::vector<double>& xs, int agents, bool return_to_end,
                               ObjectiveType objective) {
    Problem problem;
    for (std::size_t i = 0; i < xs.size(); ++i) problem.AddNode(MakeNode(i, xs[i]));
    for (int a = 0; a < agents; ++a) problem.AddAgent(MakeAgent(a, "t", 0, 0), a);
    problem.SetCostMatrix("t", EuclideanMatrix(problem.nodes));
    AssignmentConstraint allowed;
    for (std::size_t i = 0; i < xs.size(); ++i) allowed.SetAssignment(i, {"t"});
    problem.SetAssignmentConstraint(allowed);
    problem.options.return_to_end = return_to_end;
    problem.options.objective = objective;
    problem.options.time_limit = 10.0;
    return problem;
}

/// Cost of one move for an agent of `type` under the closing-move rule.
inline double MoveCost(const Problem& problem, const std::string& type, std::size_t from,
                       std::size_t to) {
    const auto found = problem.cost_matrices.find(type);
    if (found == problem.cost_matrices.end()) return 9999.0;
    const CostMatrix& matrix = found->second;
    if (from >= matrix.size() || to >= matrix[from].size()) return 9999.0;
    return matrix[from][to];
}

inline std::size_t VertexOfId(const Problem& problem, std::uint64_t id) {
    std::size_t vertex = problem.nodes.size();
    for (std::size_t v = 0; v < problem.nodes.size(); ++v) {
        if (problem.nodes[v].id == id) vertex = v;  // the last node with the id wins
    }
    return vertex;
}

inline bool TypeAllowed(const Problem& problem, std::size_t vertex, const std::string& type) {
    const auto& by_node = problem.assignment_constraint.types_by_node;
    const auto found = by_node.find(problem.nodes[vertex].id);
    if (found == by_node.end()) return true;
    return std::find(found->second.begin(), found->second.end(), type) != found->second.end();
}

/// Duration of a route under the instance's rules (travel by the agent type's matrix,
/// waiting at windows, closing move free when return_to_end is off), or NaN when the
/// route breaks a window or the agent's limit.
inline double RouteDuration(const Problem& problem, std::size_t agent_index,
                            const std::vector<std::int64_t>& route) {
    const Agent& agent = problem.agents_ordered[agent_index];
    const std::size_t start = VertexOfId(problem, agent.start_node);
    const std::size_t end = VertexOfId(problem, agent.end_node);
    double t = 0.0;
    for (std::size_t i = 1; i < route.size(); ++i) {
        const auto u = static_cast<std::size_t>(route[i - 1]);
        const auto v = static_cast<std::size_t>(route[i]);
        const bool free_close = !problem.options.return_to_end && (v == start || v == end);
        if (u != v && !free_close) t += MoveCost(problem, agent.type, u, v);
        const auto& windows = problem.timewindow_constraint.window_by_node;
        const auto window = windows.find(problem.nodes[v].id);
        if (window != windows.end()) {
            if (t > window->second.second + 1e-9) return std::nan("");
            t = std::max(t, window->second.first);
        }
        if (agent.time_limit > 0.0 && t > agent.time_limit + 1e-9) return std::nan("");
    }
    return t;
}

/// Checks a complete solution against the Problem: one route per agent from its start
/// to its end (or back to its start when closing moves are free), every other vertex
/// served exactly once, allowed types, windows, limits, and costs recomputed.
inline void ExpectValidSolution(const Problem& problem, const Result& result) {
    const std::size_t n = problem.nodes.size();
    std::vector<int> served(n, 0);
    std::vector<bool> depot(n, false);
    for (const Agent& agent : problem.agents_ordered) {
        depot[VertexOfId(problem, agent.start_node)] = true;
        depot[VertexOfId(problem, agent.end_node)] = true;
    }
    ASSERT_EQ(result.paths.size(), problem.agents_ordered.size());
    for (std::size_t a = 0; a < problem.agents_ordered.size(); ++a) {
        SCOPED_TRACE("agent " + std::to_string(a));
        const Agent& agent = problem.agents_ordered[a];
        const auto& route = result.paths.at(static_cast<std::int64_t>(a));
        ASSERT_FALSE(route.empty());
        const std::size_t start = VertexOfId(problem, agent.start_node);
        const std::size_t end = VertexOfId(problem, agent.end_node);
        EXPECT_EQ(static_cast<std::size_t>(route.front()), start);
        const auto last = static_cast<std::size_t>(route.back());
        EXPECT_TRUE(last == end || (!problem.options.return_to_end && last == start));
        for (std::size_t i = 1; i < route.size(); ++i) {
            const auto v = static_cast<std::size_t>(route[i]);
            ASSERT_LT(v, n);
            EXPECT_TRUE(TypeAllowed(problem, v, agent.type)) << "vertex " << v;
            if (!depot[v]) served[v] += 1;
        }
        const double duration = RouteDuration(problem, a, route);
        ASSERT_FALSE(std::isnan(duration)) << "route breaks a window or the limit";
        EXPECT_NEAR(result.times.at(static_cast<std::int64_t>(a)), duration, 1e-6);
    }
    for (std::size_t v = 0; v < n; ++v) {
        if (!depot[v]) {
            EXPECT_EQ(served[v], 1) << "vertex " << v;
        }
    }
}

inline double MaxCost(const Result& result) {
    double largest = 0.0;
    for (const auto& entry : result.times) largest = std::max(largest, entry.second);
    return largest;
}

inline double SumCost(const Result& result) {
    double sum = 0.0;
    for (const auto& entry : result.times) sum += entry.second;
    return sum;
}

/// Optimum by enumeration over every assignment of targets to agents and every order
/// (tiny instances only): the smallest max (MinMax) or sum (MinSum) of route durations.
inline double BruteForceOptimum(const Problem& problem) {
    const std::size_t n = problem.nodes.size();
    const std::size_t m = problem.agents_ordered.size();
    std::vector<bool> depot(n, false);
    for (const Agent& agent : problem.agents_ordered) {
        depot[VertexOfId(problem, agent.start_node)] = true;
        depot[VertexOfId(problem, agent.end_node)] = true;
    }
    std::vector<std::int64_t> targets;
    for (std::size_t v = 0; v < n; ++v) {
        if (!depot[v]) targets.push_back(static_cast<std::int64_t>(v));
    }
    const bool min_max = problem.options.objective == ObjectiveType::MinMax;
    double best = std::numeric_limits<double>::infinity();
    // Every permutation of the targets, cut into m consecutive (possibly empty) pieces.
    std::sort(targets.begin(), targets.end());
    std::vector<std::size_t> cuts(m + 1, 0);
    std::function<void(std::size_t, std::size_t)> cut = [&](std::size_t agent, std::size_t from) {
        if (agent + 1 == m) {
            cuts[agent] = from;
            cuts[m] = targets.size();
            double total = 0.0;
            for (std::size_t k = 0; k < m; ++k) {
                const Agent& a = problem.agents_ordered[k];
                std::vector<std::int64_t> route{
                    static_cast<std::int64_t>(VertexOfId(problem, a.start_node))};
                for (std::size_t i = cuts[k]; i < cuts[k + 1]; ++i) {
                    if (!TypeAllowed(problem, static_cast<std::size_t>(targets[i]), a.type)) {
                        return;
                    }
                    route.push_back(targets[i]);
                }
                route.push_back(static_cast<std::int64_t>(VertexOfId(problem, a.end_node)));
                const double d = RouteDuration(problem, k, route);
                if (std::isnan(d)) return;
                total = min_max ? std::max(total, d) : total + d;
            }
            best = std::min(best, total);
            return;
        }
        cuts[agent] = from;
        for (std::size_t next = from; next <= targets.size(); ++next) {
            cuts[agent + 1] = next;
            cut(agent + 1, next);
        }
    };
    do {
        if (m > 0) cut(0, 0);
    } while (std::next_permutation(targets.begin(), targets.end()));
    return best;
}

}  // namespace testing_support
}  // namespace vornik

#endif  // VORNIK_TESTS_SEARCH_SOLVERTESTSUPPORT_H
