#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "graph/SparseGraph.h"
#include "search/EdgeList.h"

namespace vornik {
namespace {

constexpr double kMaxDouble = std::numeric_limits<double>::max();

// Complete graph on n vertices with `dim` cost components, every component `fill`.
SparseGraph MakeComplete(std::uint64_t n, std::uint64_t dim, double fill) {
    SparseGraph graph;
    graph.ChangeCostDim(dim, fill);
    for (std::uint64_t v = 0; v < n; ++v) graph.AddVertex(v);
    for (std::uint64_t j = 0; j < n; ++j) {
        for (std::uint64_t i = 0; i < n; ++i) {
            if (i != j) graph.AddArc(j, i, CostVector(dim, fill));
        }
    }
    return graph;
}

// Runs BuildEdgeList with the debug variable set to `debug` (or unset for nullptr) and
// returns what it printed on the standard output stream.
std::string BuildCapturing(const PlannerGraph& graph, std::uint64_t types,
                           const TimeWindowTable& windows, const char* debug,
                           std::vector<EdgeRecord>* edges) {
    if (debug != nullptr) {
        setenv("MTSP_DEBUG_TW_EDGES", debug, 1);
    } else {
        unsetenv("MTSP_DEBUG_TW_EDGES");
    }
    testing::internal::CaptureStdout();
    *edges = BuildEdgeList(graph, types, windows);
    std::string out = testing::internal::GetCapturedStdout();
    unsetenv("MTSP_DEBUG_TW_EDGES");
    return out;
}

struct WindowCase {
    const char* name;
    std::pair<double, double> window_a;  // vertex 0
    std::pair<double, double> window_b;  // vertex 1
    double expected;
};

class EdgeListWindowTest : public testing::TestWithParam<WindowCase> {};

TEST_P(EdgeListWindowTest, EdgeCostCountsUnavoidableWaiting) {
    const WindowCase& c = GetParam();
    const SparseGraph graph = MakeComplete(2, 1, 5.0);
    const TimeWindowTable windows{{0, c.window_a}, {1, c.window_b}};
    std::vector<EdgeRecord> edges;
    EXPECT_EQ(BuildCapturing(graph, 1, windows, nullptr, &edges), "");
    ASSERT_EQ(edges.size(), 1u);
    EXPECT_EQ(edges[0].u, 1u);
    EXPECT_EQ(edges[0].v, 0u);
    EXPECT_DOUBLE_EQ(edges[0].cost, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Windows, EdgeListWindowTest,
    testing::Values(
        // 0 -> 1: 5 + (50 - (10 + 5)) = 40; 1 -> 0: 50 + 5 > 10, skipped. min = 40.
        WindowCase{"WaitBeforeLaterWindow", {0, 10}, {50, 60}, 40.0},
        // 0 -> 1: 30 + 5 > 20, skipped; 1 -> 0: 5 + max(0, 30 - (20 + 5)) = 10.
        WindowCase{"ReverseDirectionOnly", {30, 40}, {0, 20}, 10.0},
        // Overlapping windows: no wait either way, the travel time alone.
        WindowCase{"OverlapNoWait", {0, 100}, {10, 20}, 5.0}),
    [](const testing::TestParamInfo<WindowCase>& param_info) { return param_info.param.name; });

TEST(EdgeListTest, ArcLowerBoundWithoutWindowIsCheapestUsableType) {
    SparseGraph graph = MakeComplete(3, 3, 9999.0);
    graph.SetArcCost(0, 1, {9999.0, 7.0, 4.0});
    graph.SetArcCost(1, 0, {2.0, 10000.0, 9999.0});
    const TimeWindowTable none;
    EXPECT_EQ(ArcLowerBound(graph, 3, none, 0, 1), 4.0);
    // Only types 0 and 1 exist for this caller: min(9999 skipped, 7) = 7.
    EXPECT_EQ(ArcLowerBound(graph, 2, none, 0, 1), 7.0);
    EXPECT_EQ(ArcLowerBound(graph, 3, none, 1, 0), 2.0);
    EXPECT_EQ(ArcLowerBound(graph, 0, none, 0, 1), kMaxDouble);
    EXPECT_EQ(ArcLowerBound(graph, 3, none, 0, 2), kMaxDouble);
    // More types asked for than the graph carries: only its components are read.
    EXPECT_EQ(ArcLowerBound(graph, 9, none, 0, 1), 4.0);
}

TEST(EdgeListTest, MissingArcBlocksEveryType) {
    SparseGraph graph;
    graph.ChangeCostDim(1, 9999.0);
    graph.AddVertex(0);
    graph.AddVertex(1);
    graph.AddArc(0, 1, {3.0});
    EXPECT_EQ(ArcLowerBound(graph, 1, {}, 1, 0), kMaxDouble);
    std::vector<EdgeRecord> edges;
    BuildCapturing(graph, 1, {}, nullptr, &edges);
    ASSERT_EQ(edges.size(), 1u);
    EXPECT_EQ(edges[0].cost, 3.0);
}

TEST(EdgeListTest, TargetWithoutWindowNeverBlocksOrWaits) {
    const SparseGraph graph = MakeComplete(2, 1, 5.0);
    // Vertex 0 closes at 1 and vertex 1 has no window: 0 -> 1 still costs 5, no wait.
    const TimeWindowTable windows{{0, {0.0, 1.0}}};
    EXPECT_EQ(ArcLowerBound(graph, 1, windows, 0, 1), 5.0);
}

TEST(EdgeListTest, NoWindowsTakesCheapestDirectionAndCountsFullyBlockedPairs) {
    SparseGraph graph = MakeComplete(4, 2, 9999.0);
    graph.SetArcCost(1, 0, {6.0, 9999.0});
    graph.SetArcCost(0, 1, {9999.0, 3.0});  // cheaper direction, second type
    graph.SetArcCost(2, 0, {2.0, 2.0});
    graph.SetArcCost(3, 2, {1.0, 9999.0});
    graph.SetArcCost(1, 3, {8.0, 9999.0});
    // Pairs (2,1) and (3,0) stay at 9999 in every direction and type: 2 of 6 blocked.
    std::vector<EdgeRecord> edges;
    const std::string out = BuildCapturing(graph, 2, {}, nullptr, &edges);
    EXPECT_EQ(out, "[TW-MST] blocked edges: 2 / 6 (set MTSP_DEBUG_TW_EDGES=1 for details)\n");
    ASSERT_EQ(edges.size(), 4u);
    const double expected_cost[] = {1.0, 2.0, 3.0, 8.0};
    const std::uint64_t expected_u[] = {3, 2, 1, 3};
    const std::uint64_t expected_v[] = {2, 0, 0, 1};
    for (std::size_t i = 0; i < edges.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(edges[i].cost, expected_cost[i]);
        EXPECT_EQ(edges[i].u, expected_u[i]);
        EXPECT_EQ(edges[i].v, expected_v[i]);
    }
}

TEST(EdgeListTest, EqualCostsKeepPairOrder) {
    const SparseGraph graph = MakeComplete(4, 1, 1.0);
    std::vector<EdgeRecord> edges;
    BuildCapturing(graph, 1, {}, nullptr, &edges);
    const std::uint64_t expected[][2] = {{1, 0}, {2, 0}, {2, 1}, {3, 0}, {3, 1}, {3, 2}};
    ASSERT_EQ(edges.size(), 6u);
    for (std::size_t i = 0; i < edges.size(); ++i) {
        EXPECT_EQ(edges[i].u, expected[i][0]);
        EXPECT_EQ(edges[i].v, expected[i][1]);
    }
}

TEST(EdgeListTest, AllPairsBlockedPrintsSummaryOnly) {
    const SparseGraph graph = MakeComplete(3, 1, 9999.0);
    std::vector<EdgeRecord> edges;
    EXPECT_EQ(BuildCapturing(graph, 1, {}, nullptr, &edges),
              "[TW-MST] blocked edges: 3 / 3 (set MTSP_DEBUG_TW_EDGES=1 for details)\n");
    EXPECT_TRUE(edges.empty());
}

TEST(EdgeListTest, DebugVariableListsBlockedPairsInPairOrder) {
    // Every window closes at 2: a 5-unit trip arrives too late (0 + 5 > 2) in both
    // directions, so (1,0) and (2,1) are blocked; 0 <-> 2 takes 1 and stays open.
    SparseGraph graph = MakeComplete(3, 1, 5.0);
    graph.SetArcCost(0, 2, {1.0});
    graph.SetArcCost(2, 0, {1.0});
    const TimeWindowTable windows{{0, {0.0, 2.0}}, {1, {0.0, 2.0}}, {2, {0.0, 2.0}}};
    const std::string expected =
        "edge: 1->0 cost: 1.79769e+308\n"
        "edge: 2->1 cost: 1.79769e+308\n"
        "[TW-MST] blocked edges: 2 / 3 (set MTSP_DEBUG_TW_EDGES=1 for details)\n";
    // Any value switches the listing on, the empty string included.
    for (const char* value : {"1", "", "no"}) {
        SCOPED_TRACE(value);
        std::vector<EdgeRecord> edges;
        EXPECT_EQ(BuildCapturing(graph, 1, windows, value, &edges), expected);
        ASSERT_EQ(edges.size(), 1u);
        EXPECT_EQ(edges[0].u, 2u);
        EXPECT_EQ(edges[0].v, 0u);
    }
}

TEST(EdgeListTest, FewerThanTwoVerticesGiveEmptyListAndNoOutput) {
    for (std::uint64_t n : {0u, 1u}) {
        const SparseGraph graph = MakeComplete(n, 1, 9999.0);
        std::vector<EdgeRecord> edges;
        EXPECT_EQ(BuildCapturing(graph, 1, {}, "1", &edges), "");
        EXPECT_TRUE(edges.empty());
    }
}

}  // namespace
}  // namespace vornik
