#include <gtest/gtest.h>

#include "plugins/PostOptimizerTestSupport.h"
#include "plugins/RouteMergingPostOptimizer.h"

namespace vornik {
namespace {

using testing_support::HandCase;
using testing_support::Path;

Result Merge(const HandCase& h, const std::vector<std::uint64_t>& starts,
             const std::vector<std::uint64_t>& ends, Result result, bool return_to_end = true) {
    const auto graph = h.Graph();
    RouteMergingPostOptimizer optimizer;
    optimizer.SetReturnToEnd(return_to_end);
    optimizer.SetStartVertices(starts);
    optimizer.SetEndVertices(ends);
    optimizer.SetTimeWindows({});
    ::testing::internal::CaptureStderr();
    optimizer.Optimize(graph.get(), h.nodes, h.agents, result);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");  // this optimizer never reports
    return result;
}

TEST(RouteMergingPostOptimizerTest, AllRoutesFreeLeavesTheResultUntouched) {
    HandCase h(3, 1, 5.0);
    h.AddAgent(0);
    h.AddAgent(0);
    Result result;
    result.paths[0] = Path({0, 0});
    result.paths[1] = Path({1, 1});
    result.times[0] = 7.0;  // stale values stay, since nothing is written back
    const Result out = Merge(h, {0, 1}, {0, 1}, result);
    EXPECT_EQ(out.times.at(0), 7.0);
    EXPECT_EQ(out.times.count(1), 0u);
    EXPECT_EQ(out.paths, result.paths);
}

TEST(RouteMergingPostOptimizerTest, CheapestRouteIsDissolvedAndRoutesAtTheBoundAreNot) {
    // Costs 10 (0,3,0), 40 (1,4,1) and 40 (2,5,2 = 30 + 10). Vertex 3 fits into agent 1's
    // route: 1,3,4,1 = 2 + 2 + 20 = 24 <= 40. Agent 1's vertex 4 would fit into agent 2's
    // route (2,4,5,2 = 1 + 1 + 10 = 12), but routes at the largest cost are never dissolved,
    // even after they became cheaper.
    HandCase h(6, 1, 100.0);
    h.Both(0, 3, 5);
    h.Both(1, 4, 20);
    h.One(2, 5, 30);
    h.One(5, 2, 10);
    h.Both(1, 3, 2);
    h.Both(3, 4, 2);
    h.One(2, 4, 1);
    h.One(4, 5, 1);
    h.AddAgent(0);
    h.AddAgent(0);
    h.AddAgent(0);
    Result result;
    result.paths[0] = Path({0, 3, 0});
    result.paths[1] = Path({1, 4, 1});
    result.paths[2] = Path({2, 5, 2});
    const Result out = Merge(h, {0, 1, 2}, {0, 1, 2}, result);
    EXPECT_EQ(out.paths.at(0), Path({0, 0}));
    EXPECT_EQ(out.times.at(0), 0.0);
    EXPECT_EQ(out.paths.at(1), Path({1, 3, 4, 1}));
    EXPECT_DOUBLE_EQ(out.times.at(1), 24.0);
    EXPECT_EQ(out.paths.at(2), Path({2, 5, 2}));
    EXPECT_DOUBLE_EQ(out.times.at(2), 40.0);
}

// Agent 0 drives 0,3,4,0 = 3 + 4 + 3 = 10; agent 2 drives 2,5,2 = 40 (the bound).
// Agent 1's route 1,1 can take either 3 (1,3,1 = 38) or 4 (1,4,1 = 38) but not both
// (1,3,4,1 = 19 + 4 + 19 = 42); agent 2's route can take nothing.
HandCase NoRoomCase(double cost_1_4) {
    HandCase h(6, 1, 100.0);
    h.Both(0, 3, 3);
    h.Both(3, 4, 4);
    h.Both(4, 0, 3);
    h.Both(2, 5, 20);
    h.Both(1, 3, 19);
    h.Both(1, 4, cost_1_4);
    h.AddAgent(0);
    h.AddAgent(0);
    h.AddAgent(0);
    return h;
}

TEST(RouteMergingPostOptimizerTest, RouteStaysWholeWhenAVertexCannotBePlaced) {
    struct Row {
        const char* name;
        double cost_1_4;
    };
    const Row rows[] = {
        // 4 fits nowhere (1,4,1 = 200): the feasibility pass stops before any move.
        {"second vertex fits nowhere", 100},
        // Each vertex fits alone, so the feasibility pass succeeds; after 3 has gone to
        // agent 1, 4 no longer fits and the move of 3 is undone.
        {"room used up by the first vertex", 19},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const HandCase h = NoRoomCase(row.cost_1_4);
        Result result;
        result.paths[0] = Path({0, 3, 4, 0});
        result.paths[1] = Path({1, 1});
        result.paths[2] = Path({2, 5, 2});
        const Result out = Merge(h, {0, 1, 2}, {0, 1, 2}, result);
        EXPECT_EQ(out.paths.at(0), Path({0, 3, 4, 0}));
        EXPECT_DOUBLE_EQ(out.times.at(0), 10.0);
        EXPECT_EQ(out.paths.at(1), Path({1, 1}));
        EXPECT_EQ(out.times.at(1), 0.0);
        EXPECT_EQ(out.paths.at(2), Path({2, 5, 2}));
    }
}

TEST(RouteMergingPostOptimizerTest, DissolvedRouteCostsItsRemainingMove) {
    // Agent 0 starts at 0 and ends at 6: 0,3,6 = 4 + 4 = 8; what remains after 3 leaves
    // is the move 0 -> 6 (6 when it is charged, 0 when the closing move is free). Agent
    // 1 drives 1,7,1 = 40 and takes 3 as 1,3,7,1 = 5 + 5 + 20 = 30.
    for (const bool return_to_end : {true, false}) {
        SCOPED_TRACE(return_to_end ? "charged closing move" : "free closing move");
        HandCase h(8, 1, 100.0);
        h.Both(0, 3, 4);
        h.Both(3, 6, 4);
        h.Both(0, 6, 6);
        h.Both(1, 7, 20);
        h.Both(1, 3, 5);
        h.Both(3, 7, 5);
        h.AddAgent(0);
        h.AddAgent(0);
        Result result;
        result.paths[0] = Path({0, 3, 6});
        result.paths[1] = Path({1, 7, 1});
        const Result out = Merge(h, {0, 1}, {6, 1}, result, return_to_end);
        EXPECT_EQ(out.paths.at(0), Path({0, 6}));
        EXPECT_EQ(out.times.at(0), return_to_end ? 6.0 : 0.0);
        EXPECT_EQ(out.paths.at(1), Path({1, 3, 7, 1}));
    }
}

TEST(RouteMergingPostOptimizerTest, RouteWhoseRemainderCannotBeDrivenIsKept) {
    // Same layout, but the direct move 0 -> 6 costs 50 and agent 0 has limit 45: its
    // route 0,3,6 (8) is fine, the remainder 0,6 would not be, so 3 stays.
    HandCase h(8, 1, 100.0);
    h.Both(0, 3, 4);
    h.Both(3, 6, 4);
    h.Both(0, 6, 50);
    h.Both(1, 7, 20);
    h.Both(1, 3, 5);
    h.Both(3, 7, 5);
    h.AddAgent(0, 45.0);
    h.AddAgent(0);
    Result result;
    result.paths[0] = Path({0, 3, 6});
    result.paths[1] = Path({1, 7, 1});
    const Result out = Merge(h, {0, 1}, {6, 1}, result);
    EXPECT_EQ(out.paths.at(0), Path({0, 3, 6}));
    EXPECT_DOUBLE_EQ(out.times.at(0), 8.0);
    EXPECT_EQ(out.paths.at(1), Path({1, 7, 1}));
}

TEST(RouteMergingPostOptimizerTest, NearTieGoesToTheSmallerIncrease) {
    // Agent 0: 0,4,0 = 4. Agent 1: 1,5,1 = 25; with 4 it costs 2.5 + 15 + 12.5 = 30
    // (growth 5). Agent 2: 2,6,2 = 29; with 4 it costs 0.5 + (15 + 5e-10) + 14.5 =
    // 30 + 5e-10 (growth 1). Within 1e-9 of each other, the smaller growth wins even
    // though agent 1's place was found first. Agent 3 (40) sets the bound.
    HandCase h(8, 1, 100.0);
    h.Both(0, 4, 2);
    h.Both(1, 5, 12.5);
    h.Both(1, 4, 2.5);
    h.Both(4, 5, 15);
    h.Both(2, 6, 14.5);
    h.Both(2, 4, 0.5);
    // Only 4 -> 6 is cheap, so 2,6,4,2 is no rival to 2,4,6,2.
    h.One(4, 6, 15 + 5e-10);
    h.Both(3, 7, 20);
    for (int a = 0; a < 4; ++a) h.AddAgent(0);
    Result result;
    result.paths[0] = Path({0, 4, 0});
    result.paths[1] = Path({1, 5, 1});
    result.paths[2] = Path({2, 6, 2});
    result.paths[3] = Path({3, 7, 3});
    const Result out = Merge(h, {0, 1, 2, 3}, {0, 1, 2, 3}, result);
    EXPECT_EQ(out.paths.at(0), Path({0, 0}));
    EXPECT_EQ(out.paths.at(1), Path({1, 5, 1}));
    EXPECT_EQ(out.paths.at(2), Path({2, 4, 6, 2}));
    EXPECT_NEAR(out.times.at(2), 30.0, 1e-9);
    EXPECT_GT(out.times.at(2), 30.0);
}

TEST(RouteMergingPostOptimizerTest, TwoVertexRouteIsLeftAlone) {
    // Agent 0 drives 0,6 = 5 > 0: nothing to dissolve and nothing for 2-opt.
    HandCase h(8, 1, 100.0);
    h.Both(0, 6, 5);
    h.Both(1, 7, 20);
    h.AddAgent(0);
    h.AddAgent(0);
    Result result;
    result.paths[0] = Path({0, 6});
    result.paths[1] = Path({1, 7, 1});
    const Result out = Merge(h, {0, 1}, {6, 1}, result);
    EXPECT_EQ(out.paths.at(0), Path({0, 6}));
    EXPECT_EQ(out.times.at(0), 5.0);
    EXPECT_EQ(out.times.at(1), 40.0);
}

TEST(RouteMergingPostOptimizerTest, UndrivableRouteKeepsItsIncomingCost) {
    // Agent 1's route passes agent 0's start: it takes part with cost 0 internally but
    // is written back with the cost it came with. Other keys stay.
    HandCase h(5, 1, 1.0);
    h.AddAgent(0);
    h.AddAgent(0);
    Result result;
    result.paths[0] = Path({0, 2, 0});
    result.paths[1] = Path({1, 0, 3, 1});
    result.paths[9] = Path({4});
    result.times[1] = 77.0;
    const Result out = Merge(h, {0, 1}, {0, 1}, result);
    EXPECT_EQ(out.paths.at(1), Path({1, 0, 3, 1}));
    EXPECT_EQ(out.times.at(1), 77.0);
    EXPECT_EQ(out.times.at(0), 2.0);
    EXPECT_EQ(out.paths.at(9), Path({4}));
}

}  // namespace
}  // namespace vornik

namespace vornik {
namespace {

TEST(RouteMergingPostOptimizerTest, NoDissolvingWhenTheDirectMoveWouldExceedTheBound) {
    // Agent 0 runs from 0 to 1 over 3: 2 + 2 = 4, but the direct move 0 -> 1 costs 50
    // (costs break the triangle rule). Agent 1's route 2,4,2 costs 20 + 20 = 40, the
    // bound, and vertex 3 would fit into it (2,3,4,2 = 1 + 1 + 20 = 22). Dissolving would
    // leave agent 0 with 0,1 at cost 50 > 40, so the route stays as it is.
    testing_support::HandCase h(5, 1, 100.0);
    h.Both(0, 3, 2);
    h.Both(3, 1, 2);
    h.Both(0, 1, 50);
    h.Both(2, 4, 20);
    h.Both(2, 3, 1);
    h.Both(3, 4, 1);
    h.AddAgent(0);
    h.AddAgent(0);
    Result result;
    result.paths[0] = testing_support::Path({0, 3, 1});
    result.paths[1] = testing_support::Path({2, 4, 2});
    const Result out = Merge(h, {0, 2}, {1, 2}, result);
    EXPECT_EQ(out.paths.at(0), testing_support::Path({0, 3, 1}));
    EXPECT_DOUBLE_EQ(out.times.at(0), 4.0);
    EXPECT_EQ(out.paths.at(1), testing_support::Path({2, 4, 2}));
    EXPECT_DOUBLE_EQ(out.times.at(1), 40.0);
}

}  // namespace
}  // namespace vornik
