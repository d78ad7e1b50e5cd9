#include <gtest/gtest.h>

#include <limits>

#include "plugins/DefaultPostOptimizer.h"
#include "plugins/PostOptimizerTestSupport.h"

namespace vornik {
namespace {

using testing_support::HandCase;
using testing_support::Path;

void Configure(DefaultPostOptimizer& optimizer, std::vector<std::uint64_t> depots,
               bool return_to_end = true, const TimeWindowTable& windows = {}) {
    optimizer.SetReturnToEnd(return_to_end);
    optimizer.SetStartVertices(depots);
    optimizer.SetEndVertices(depots);
    optimizer.SetTimeWindows(windows);
}

// Agent 0 drives 0,3,4,0 = 9 + 10 + 11 = 30, agent 1 drives 1,5,1 = 5 + 5 = 10.
// Moving 4 leaves 0,3,0 = 18 and makes 1,4,5,1 = 5 + c(4,5) + 5.
HandCase RelocationCase(double cost_4_5, std::size_t types) {
    HandCase h(6, types, 100.0);
    h.Both(0, 3, 9);
    h.Both(3, 4, 10);
    h.Both(4, 0, 11);
    h.Both(1, 5, 5);
    h.Both(1, 4, 5);
    h.Both(4, 5, cost_4_5);
    return h;
}

TEST(DefaultPostOptimizerTest, RelocatesOnlyWhenTheLargerCostFalls) {
    struct Row {
        const char* name;
        double cost_4_5;
        std::vector<std::int64_t> route0, route1;
        double time0, time1;
    };
    const Row rows[] = {
        // 30 - max(18, 16) = 12 > 0; both insertion places give 16, the first one wins.
        {"gain 12", 6, Path({0, 3, 0}), Path({1, 4, 5, 1}), 18, 16},
        // 30 - max(18, 31) = -1: nothing moves.
        {"gain -1", 21, Path({0, 3, 4, 0}), Path({1, 5, 1}), 30, 10},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        HandCase h = RelocationCase(row.cost_4_5, 1);
        h.AddAgent(0);
        h.AddAgent(0);
        const auto graph = h.Graph();
        Result result;
        result.paths[0] = Path({0, 3, 4, 0});
        result.paths[1] = Path({1, 5, 1});
        DefaultPostOptimizer optimizer;
        Configure(optimizer, {0, 1});
        optimizer.Optimize(graph.get(), h.nodes, h.agents, result);
        EXPECT_EQ(result.paths.at(0), row.route0);
        EXPECT_EQ(result.paths.at(1), row.route1);
        EXPECT_DOUBLE_EQ(result.times.at(0), row.time0);
        EXPECT_DOUBLE_EQ(result.times.at(1), row.time1);
    }
}

TEST(DefaultPostOptimizerTest, BetweenGroupsRespectsAllowedTypes) {
    for (const bool allowed : {false, true}) {
        SCOPED_TRACE(allowed ? "vertex 4 admits type 1" : "vertex 4 admits type 0 only");
        HandCase h = RelocationCase(6, 2);
        h.AddAgent(0);
        h.AddAgent(1);
        if (!allowed) h.nodes[4].allowed_types = {0};
        const auto graph = h.Graph();
        Result result;
        result.paths[0] = Path({0, 3, 4, 0});
        result.paths[1] = Path({1, 5, 1});
        DefaultPostOptimizer optimizer;
        Configure(optimizer, {0, 1});
        optimizer.Optimize(graph.get(), h.nodes, h.agents, result);
        EXPECT_EQ(result.paths.at(1), allowed ? Path({1, 4, 5, 1}) : Path({1, 5, 1}));
        EXPECT_DOUBLE_EQ(result.times.at(0), allowed ? 18.0 : 30.0);
    }
}

TEST(DefaultPostOptimizerTest, TiedCheapestGroupsPreferTheEarlierOne) {
    // Groups 0, 1, 2 (one agent each) with routes 50, 20, 20. Moving 4 out of agent 0's
    // route (0,3,0 = 20) into either cheap route costs 10 + 10 + 10 = 30: gain 20 for
    // both, and the earlier group (type 1) receives it.
    HandCase h(7, 3, 100.0);
    h.Both(0, 3, 10);
    h.Both(3, 4, 20);
    h.Both(4, 0, 20);
    h.Both(1, 5, 10);
    h.Both(2, 6, 10);
    h.Both(1, 4, 10);
    h.Both(4, 5, 10);
    h.Both(2, 4, 10);
    h.Both(4, 6, 10);
    h.AddAgent(0);
    h.AddAgent(1);
    h.AddAgent(2);
    const auto graph = h.Graph();
    Result result;
    result.paths[0] = Path({0, 3, 4, 0});
    result.paths[1] = Path({1, 5, 1});
    result.paths[2] = Path({2, 6, 2});
    DefaultPostOptimizer optimizer;
    Configure(optimizer, {0, 1, 2});
    optimizer.Optimize(graph.get(), h.nodes, h.agents, result);
    EXPECT_EQ(result.paths.at(0), Path({0, 3, 0}));
    EXPECT_EQ(result.paths.at(1), Path({1, 4, 5, 1}));
    EXPECT_EQ(result.paths.at(2), Path({2, 6, 2}));
    EXPECT_DOUBLE_EQ(result.times.at(1), 30.0);
}

TEST(DefaultPostOptimizerTest, SingleAgentGetsTwoOptAndAbsentRouteStaysEmpty) {
    // Points 0..3 on a line: 0,2,1,3,0 = 2 + 1 + 2 + 3 = 8 becomes 0,1,2,3,0 = 6.
    HandCase h(4, 2, 0.0);
    for (int u = 0; u < 4; ++u) {
        for (int v = 0; v < 4; ++v) h.One(u, v, std::abs(u - v));
    }
    h.AddAgent(0);
    h.AddAgent(1);  // its own group, without a route
    const auto graph = h.Graph();
    Result result;
    result.paths[0] = Path({0, 2, 1, 3, 0});
    result.n_generated = 11;
    result.n_expanded = 7;
    result.timeout = true;
    result.last_update_time = 2.5;
    result.search_time = 3.5;
    DefaultPostOptimizer optimizer;
    Configure(optimizer, {0, 0});
    optimizer.Optimize(graph.get(), h.nodes, h.agents, result);
    EXPECT_EQ(result.paths.at(0), Path({0, 1, 2, 3, 0}));
    EXPECT_DOUBLE_EQ(result.times.at(0), 6.0);
    EXPECT_TRUE(result.paths.at(1).empty());
    EXPECT_EQ(result.times.at(1), 0.0);
    EXPECT_EQ(result.n_generated, 11);
    EXPECT_EQ(result.n_expanded, 7);
    EXPECT_TRUE(result.timeout);
    EXPECT_EQ(result.last_update_time, 2.5);
    EXPECT_EQ(result.search_time, 3.5);
}

TEST(DefaultPostOptimizerTest, UndrivableRouteIsReportedAndKeepsItsIncomingCost) {
    // Agent 1's route passes agent 0's start vertex 0: the agent cannot drive it. It is
    // reported when the groups are built and again in the in-group phase, never changed,
    // and keeps the cost the search gave it instead of being reported as free.
    HandCase h(6, 1, 1.0);
    h.AddAgent(0);
    h.AddAgent(0);
    const auto graph = h.Graph();
    Result result;
    result.paths[0] = Path({0, 3, 4, 0});
    result.paths[1] = Path({1, 0, 5, 1});
    result.times[0] = 99.0;
    result.times[1] = 123.0;
    DefaultPostOptimizer optimizer;
    Configure(optimizer, {0, 1});
    ::testing::internal::CaptureStderr();
    optimizer.Optimize(graph.get(), h.nodes, h.agents, result);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err,
              "[post-opt] invalid path for agent 1, skip optimize\n"
              "[post-opt] invalid path for agent 1, skip optimize\n");
    EXPECT_EQ(result.paths.at(1), Path({1, 0, 5, 1}));
    EXPECT_EQ(result.times.at(1), 123.0);
    EXPECT_EQ(result.times.at(0), 3.0);  // 1 + 1 + 1, recomputed
}

TEST(DefaultPostOptimizerTest, ReportsInfiniteOrOverLimitRoutes) {
    struct Row {
        const char* name;
        double limit;
        TimeWindowTable windows;
        std::vector<std::int64_t> route;
        double arc;
    };
    const double inf = std::numeric_limits<double>::infinity();
    const Row rows[] = {
        // An infinite arc gives an infinite (but drivable) route.
        {"infinite cost", 0.0, {}, Path({0, 1, 0}), inf},
        // The limit is not tested at the first vertex: waiting there until 50 passes.
        {"over the limit at the first vertex", 10.0, {{0, {50.0, 60.0}}}, Path({0}), 1.0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        HandCase h(2, 1, row.arc);
        h.AddAgent(0, row.limit);
        const auto graph = h.Graph();
        Result result;
        result.paths[0] = row.route;
        DefaultPostOptimizer optimizer;
        Configure(optimizer, {0}, false, row.windows);
        ::testing::internal::CaptureStderr();
        optimizer.Optimize(graph.get(), h.nodes, h.agents, result);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                  "[post-opt] path invalid or over capacity, skip agent 0\n");
        EXPECT_EQ(result.paths.at(0), row.route);
    }
}

TEST(DefaultPostOptimizerTest, NegativeCostsWithoutSourceGroupEndTheBetweenGroupPhase) {
    // Every arc costs -5, so both routes cost -10 and no group's most expensive route
    // exceeds -1: there is no source group, and the phase ends without a move.
    HandCase h(4, 2, -5.0);
    h.AddAgent(0);
    h.AddAgent(1);
    const auto graph = h.Graph();
    Result result;
    result.paths[0] = Path({0, 2, 0});
    result.paths[1] = Path({1, 3, 1});
    DefaultPostOptimizer optimizer;
    Configure(optimizer, {0, 1});
    ASSERT_NO_THROW(optimizer.Optimize(graph.get(), h.nodes, h.agents, result));
    EXPECT_EQ(result.paths.at(0), Path({0, 2, 0}));
    EXPECT_EQ(result.paths.at(1), Path({1, 3, 1}));
    EXPECT_EQ(result.times.at(0), -10.0);
    EXPECT_EQ(result.times.at(1), -10.0);
}

TEST(DefaultPostOptimizerTest, NameAndKeysBeyondTheAgentTableDropped) {
    HandCase h(2, 1, 1.0);
    h.AddAgent(0);
    const auto graph = h.Graph();
    Result result;
    result.paths[0] = Path({0, 1, 0});
    result.paths[5] = Path({1});
    DefaultPostOptimizer optimizer;
    EXPECT_EQ(optimizer.GetName(), "DefaultPostOptimizer");
    Configure(optimizer, {0});
    optimizer.Optimize(graph.get(), h.nodes, h.agents, result);
    EXPECT_EQ(result.paths.size(), 1u);
    EXPECT_EQ(result.times.at(0), 2.0);
}

}  // namespace
}  // namespace vornik
