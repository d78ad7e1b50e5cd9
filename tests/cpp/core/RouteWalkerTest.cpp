#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/RouteWalker.h"
#include "tests/cpp/core/RandomProblems.h"

namespace vornik {
namespace {

// The walk written out from the Problem itself, position by position, without the model.
RouteWalk ReferenceWalk(const Problem& problem, std::size_t a,
                        const std::vector<std::uint32_t>& route, bool return_to_end) {
    if (route.empty()) return {true, 0.0, 0};
    const Agent& agent = problem.agents_ordered[a];
    const std::size_t type = problem.agent_type_of.at(agent.id);
    std::string type_name;
    for (const auto& [name, index] : problem.type_index_of) {
        if (index == type) type_name = name;
    }
    const auto start = static_cast<std::uint32_t>(LastVertexOf(problem, agent.start_node));
    const auto end = static_cast<std::uint32_t>(LastVertexOf(problem, agent.end_node));
    const std::uint32_t last = route.back();
    if (route.front() != start || !(last == end || (!return_to_end && last == start))) {
        return {false, 0.0, 0};
    }
    const auto matrix = problem.cost_matrices.find(type_name);
    double t = 0.0;
    for (std::size_t k = 0; k < route.size(); ++k) {
        const std::uint32_t v = route[k];
        const std::uint64_t id = problem.nodes[v].id;
        if (k > 0) {
            const auto& by_node = problem.assignment_constraint.types_by_node;
            const auto listed = by_node.find(id);
            if (listed != by_node.end() && std::find(listed->second.begin(), listed->second.end(),
                                                     type_name) == listed->second.end()) {
                return {false, 0.0, k};
            }
            const std::uint32_t u = route[k - 1];
            const bool free_close = !return_to_end && (v == start || v == end);
            if (u != v && !free_close) {
                const bool given = matrix != problem.cost_matrices.end() &&
                                   u < matrix->second.size() && v < matrix->second[u].size();
                if (!given || std::isinf(matrix->second[u][v])) return {false, 0.0, k};
                t += matrix->second[u][v];
            }
        }
        const auto& windows = problem.timewindow_constraint.window_by_node;
        const auto window = windows.find(id);
        if (window != windows.end() && LastVertexOf(problem, id) == static_cast<std::int64_t>(v)) {
            if (t > window->second.second) return {false, 0.0, k};
            t = std::max(t, window->second.first);
        }
        if (k > 0 && agent.time_limit > 0 && t > agent.time_limit) return {false, 0.0, k};
    }
    return {true, t, 0};
}

TEST(RouteWalkerTest, WalksRandomRoutesAsTheReferenceWalkDoes) {
    std::mt19937_64 rng(2222);
    int driven = 0;
    for (int round = 0; round < 400; ++round) {
        const Problem problem = RandomProblem(rng);
        const InstanceModel model(problem);
        const std::size_t n = model.NumVertices();
        for (int trial = 0; trial < 10; ++trial) {
            const std::size_t a = rng() % model.NumAgents();
            const bool return_to_end = rng() % 2 == 0;
            // Mostly routes that start and close where they should, sometimes not.
            std::vector<std::uint32_t> route;
            if (rng() % 8 != 0) {
                route.push_back(rng() % 10 == 0 ? rng() % n : model.Agent(a).start);
                for (std::size_t k = rng() % 5; k > 0; --k) route.push_back(rng() % n);
                route.push_back(rng() % 2 == 0 ? model.Agent(a).end : model.Agent(a).start);
            }
            SCOPED_TRACE("round " + std::to_string(round) + ", trial " + std::to_string(trial));
            const RouteWalk expected = ReferenceWalk(problem, a, route, return_to_end);
            const RouteWalk walked = WalkRoute(model, a, route, return_to_end);
            ASSERT_EQ(walked.ok, expected.ok);
            EXPECT_EQ(walked.failed_at, expected.failed_at);
            EXPECT_EQ(std::memcmp(&walked.cost, &expected.cost, sizeof walked.cost), 0);
            driven += walked.ok && route.size() > 2 ? 1 : 0;
        }
    }
    // The property means little unless many routes with targets get through.
    EXPECT_GT(driven, 200);
}

TEST(RouteWalkerTest, HandComputedRouteWaitsAndClosesForFreeOnOpenRoutes) {
    // Line 0 - 1 - 2 at x = 0, 3, 7; vertex 2 opens at 10; limit 12.
    Problem problem;
    for (double x : {0.0, 3.0, 7.0}) {
        Node node;
        node.id = static_cast<std::uint64_t>(x);
        node.position.x = x;
        problem.AddNode(node);
    }
    Agent agent;
    agent.type = "car";
    agent.time_limit = 12.0;
    problem.AddAgent(agent, 0);
    CostMatrix matrix(3, std::vector<double>(3));
    for (std::size_t i = 0; i < 3; ++i) {
        for (std::size_t j = 0; j < 3; ++j) {
            matrix[i][j] = std::abs(problem.nodes[i].position.x - problem.nodes[j].position.x);
        }
    }
    problem.SetCostMatrix("car", matrix);
    problem.timewindow_constraint.SetTimewindow(7, 10.0, 20.0);
    const InstanceModel model(problem);
    // 0 -> 1 -> 2: 3 + 4 = 7, wait until 10; the way back adds 7: 17 > 12.
    const RouteWalk closed = WalkRoute(model, 0, {0, 1, 2, 0}, true);
    EXPECT_FALSE(closed.ok);
    EXPECT_EQ(closed.failed_at, 3u);
    // Open: the closing leg is free, so the route ends at 10.
    const RouteWalk open = WalkRoute(model, 0, {0, 1, 2, 0}, false);
    EXPECT_TRUE(open.ok);
    EXPECT_EQ(open.cost, 10.0);
}

}  // namespace
}  // namespace vornik
