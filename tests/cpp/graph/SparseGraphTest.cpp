#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "graph/SparseGraph.h"

namespace vornik {
namespace {

using Vertices = std::vector<std::uint64_t>;

// Runs `action`, expects a runtime_error with text `what`, and returns what it printed on
// standard output.
std::string ExpectFailure(const std::function<void()>& action, const std::string& what) {
    testing::internal::CaptureStdout();
    try {
        action();
        testing::internal::GetCapturedStdout();
        ADD_FAILURE() << "no exception, expected: " << what;
        return "";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()), what);
    }
    return testing::internal::GetCapturedStdout();
}

// FindArcCost must say exactly what GetArcCost says: no arc (nullptr / empty) or the
// first arc's CostDim() costs. Heads from `max_head` on are known to have no arcs and
// are not checked (keeps large graphs quick).
void ExpectFindAgreesWithGet(const SparseGraph& graph,
                             std::uint64_t max_head = std::numeric_limits<std::uint64_t>::max()) {
    const std::uint64_t n = graph.NumVertex();
    for (std::uint64_t u = 0; u < n; ++u) {
        for (std::uint64_t v = 0; v <= std::min(n, max_head); ++v) {
            SCOPED_TRACE(std::to_string(u) + " -> " + std::to_string(v));
            const CostVector copy = graph.GetArcCost(u, v);
            const double* found = graph.FindArcCost(u, v);
            ASSERT_EQ(found == nullptr, copy.empty());
            if (found == nullptr) continue;
            ASSERT_EQ(copy.size(), graph.CostDim());
            for (std::size_t t = 0; t < copy.size(); ++t) EXPECT_EQ(found[t], copy[t]);
        }
    }
    EXPECT_EQ(graph.FindArcCost(n, 0), nullptr);
}

TEST(SparseGraphTest, NewGraphIsEmpty) {
    SparseGraph graph;
    EXPECT_EQ(graph.NumVertex(), 0u);
    EXPECT_EQ(graph.NumArcEntries(), 0u);
    EXPECT_EQ(graph.NumEdge(), 0u);
    EXPECT_EQ(graph.CostDim(), 0u);
    EXPECT_TRUE(graph.AllVertices().empty());
    EXPECT_FALSE(graph.HasVertex(0));
    EXPECT_EQ(graph.FindArcCost(0, 0), nullptr);
    EXPECT_EQ(graph.ToString(),
              "=== SparseGraph Begin ===\n |V| = 0 outgoing edges \n incoming edges \n"
              "=== SparseGraph End ===");
}

TEST(SparseGraphTest, AddArcCreatesVerticesAndBothCopies) {
    SparseGraph graph;
    graph.AddArc(3, 5, {1, 2});
    EXPECT_EQ(graph.NumVertex(), 6u);  // vertices 0..5 all exist
    EXPECT_EQ(graph.AllVertices(), (Vertices{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(graph.CostDim(), 2u);
    EXPECT_EQ(graph.NumArcEntries(), 2u);
    EXPECT_EQ(graph.NumEdge(), 1u);
    EXPECT_EQ(graph.GetOutNeighbors(3), Vertices{5});
    EXPECT_EQ(graph.GetInNeighbors(5), Vertices{3});
    EXPECT_TRUE(graph.HasArc(3, 5));
    EXPECT_FALSE(graph.HasArc(5, 3));

    // Re-adding updates both copies in place and counts nothing.
    graph.AddArc(3, 5, {7, 8});
    EXPECT_EQ(graph.NumArcEntries(), 2u);
    EXPECT_EQ(graph.GetArcCost(3, 5), (CostVector{7, 8}));
    EXPECT_EQ(graph.GetOutArcCosts(3), (std::vector<CostVector>{{7, 8}}));
    EXPECT_EQ(graph.GetInArcCosts(5), (std::vector<CostVector>{{7, 8}}));
    ExpectFindAgreesWithGet(graph);
}

TEST(SparseGraphTest, LoopIsAnOrdinaryArc) {
    SparseGraph graph;
    graph.AddArc(1, 1, {4});
    EXPECT_EQ(graph.NumArcEntries(), 2u);
    EXPECT_EQ(graph.GetOutNeighbors(1), Vertices{1});
    EXPECT_EQ(graph.GetInNeighbors(1), Vertices{1});
    ExpectFindAgreesWithGet(graph);
}

TEST(SparseGraphTest, AddArcDimensionMismatchReportsAndKeepsNewVertices) {
    SparseGraph graph;
    graph.AddArc(0, 1, {1, 2});
    const std::string printed = ExpectFailure(
        [&] {
            graph.AddArc(4, 0, {1, 2, 3});
        },
        "[ERROR] SparseGraph::AddArc cdim does not match");
    EXPECT_EQ(printed, "[ERROR] SparseGraph::AddArc cdim does not match: 2 != 3\n");
    EXPECT_EQ(graph.NumVertex(), 5u);
    EXPECT_FALSE(graph.HasArc(4, 0));
    EXPECT_EQ(graph.NumArcEntries(), 2u);
}

TEST(SparseGraphTest, AddEdgeAddsBothArcs) {
    SparseGraph graph;
    graph.AddEdge(0, 1, {3});
    EXPECT_EQ(graph.NumArcEntries(), 4u);
    EXPECT_EQ(graph.NumEdge(), 2u);
    EXPECT_TRUE(graph.HasArc(0, 1));
    EXPECT_TRUE(graph.HasArc(1, 0));
}

TEST(SparseGraphTest, ReadsOfMissingThingsAreEmpty) {
    SparseGraph graph;
    graph.AddArc(0, 1, {1});
    EXPECT_TRUE(graph.GetArcCost(1, 0).empty());
    EXPECT_TRUE(graph.GetOutNeighbors(2).empty());
    EXPECT_TRUE(graph.GetInNeighbors(2).empty());
    EXPECT_TRUE(graph.GetOutArcCosts(2).empty());
    EXPECT_TRUE(graph.GetInArcCosts(2).empty());
    EXPECT_EQ(graph.FindArcCost(1, 0), nullptr);
    EXPECT_EQ(graph.FindArcCost(0, 9), nullptr);
    // A missing tail has no arcs instead of reading past the lists.
    EXPECT_FALSE(graph.HasArc(9, 0));
    EXPECT_TRUE(graph.GetArcCost(9, 0).empty());
}

struct SetArcCostFailure {
    const char* name;
    std::uint64_t u;
    std::uint64_t v;
    CostVector costs;
    const char* message;
};

class SparseGraphSetArcCostTest : public testing::TestWithParam<SetArcCostFailure> {};

TEST_P(SparseGraphSetArcCostTest, ReportsAndChangesNothing) {
    const SetArcCostFailure& c = GetParam();
    SparseGraph graph;
    graph.AddArc(0, 1, {1, 2});
    graph.AddVertex(2);
    const std::string printed =
        ExpectFailure([&] { graph.SetArcCost(c.u, c.v, c.costs); }, c.message);
    EXPECT_EQ(printed, std::string(c.message) + "\n");
    EXPECT_EQ(graph.GetArcCost(0, 1), (CostVector{1, 2}));
    EXPECT_EQ(graph.GetInArcCosts(1), (std::vector<CostVector>{{1, 2}}));
}

const char kDimMessage[] =
    "[ERROR] SparseGraph::SetArcCost new edge cost dimension does not match! Maybe call "
    "ChangeCostDim() at first.";
const char kVertexMessage[] = "[ERROR] SparseGraph::SetArcCost vertex does not exist!";
const char kArcMessage[] = "[ERROR] SparseGraph::SetArcCost arc does not exist!";

INSTANTIATE_TEST_SUITE_P(
    Failures, SparseGraphSetArcCostTest,
    testing::Values(SetArcCostFailure{"MissingArc", 1, 2, {5, 6}, kArcMessage},
                    SetArcCostFailure{"ReverseOfExistingArc", 1, 0, {5, 6}, kArcMessage},
                    SetArcCostFailure{"MissingHead", 0, 7, {5, 6}, kVertexMessage},
                    SetArcCostFailure{"MissingTail", 7, 0, {5, 6}, kVertexMessage},
                    // The dimension is checked before anything else, whatever the vertices.
                    SetArcCostFailure{"WrongLengthOnArc", 0, 1, {5}, kDimMessage},
                    SetArcCostFailure{"WrongLengthOnMissingVertex", 9, 9, {5, 6, 7}, kDimMessage}),
    [](const testing::TestParamInfo<SetArcCostFailure>& param_info) {
        return param_info.param.name;
    });

TEST(SparseGraphTest, SetArcCostChangesBothCopiesOfTheFirstArc) {
    SparseGraph graph;
    graph.AddEdge(0, 1, {1, 2});
    EXPECT_TRUE(graph.SetArcCost(0, 1, {5, 6}));
    EXPECT_EQ(graph.GetArcCost(0, 1), (CostVector{5, 6}));
    EXPECT_EQ(graph.GetInArcCosts(1), (std::vector<CostVector>{{5, 6}}));
    EXPECT_EQ(graph.GetArcCost(1, 0), (CostVector{1, 2}));
    ExpectFindAgreesWithGet(graph);
}

TEST(SparseGraphTest, ChangeCostDimPadsAndCuts) {
    SparseGraph graph;
    graph.AddEdge(0, 1, {1, 2});
    graph.ChangeCostDim(3, 9999.0);
    EXPECT_EQ(graph.CostDim(), 3u);
    EXPECT_EQ(graph.GetArcCost(0, 1), (CostVector{1, 2, 9999.0}));
    EXPECT_EQ(graph.GetInArcCosts(0), (std::vector<CostVector>{{1, 2, 9999.0}}));
    ExpectFindAgreesWithGet(graph);
    graph.ChangeCostDim(1, 5.0);
    EXPECT_EQ(graph.GetArcCost(1, 0), (CostVector{1}));
    EXPECT_EQ(graph.GetOutArcCosts(0), (std::vector<CostVector>{{1}}));
    ExpectFindAgreesWithGet(graph);
}

TEST(SparseGraphTest, ChangeCostDimOnEmptyGraphFixesTheDimension) {
    SparseGraph graph;
    graph.ChangeCostDim(2, 9999.0);
    EXPECT_EQ(graph.CostDim(), 2u);
    ExpectFailure([&] { graph.AddArc(0, 1, {1}); },
                  "[ERROR] SparseGraph::AddArc cdim does not match");
}

TEST(SparseGraphTest, ToStringMatchesTheLayout) {
    SparseGraph graph;
    graph.AddArc(0, 1, {5});
    EXPECT_EQ(graph.ToString(),
              "=== SparseGraph Begin ===\n"
              " |V| = 2 outgoing edges \n"
              " -- 0:[1([5.000000]),]\n"
              " -- 1:[]\n"
              " incoming edges \n"
              " -- 0:[]\n"
              " -- 1:[0([5.000000]),]\n"
              "=== SparseGraph End ===");
    SparseGraph two;
    two.AddArc(1, 0, {0.5, -2.25});
    two.AddArc(1, 1, {1e20, std::numeric_limits<double>::max()});
    const std::string text = two.ToString();
    EXPECT_NE(text.find(" -- 1:[0([0.500000,-2.250000]),1([100000000000000000000.000000,179769"),
              std::string::npos);
}

TEST(SparseGraphTest, CreateFromArcsWithEmptyListsHasOneVertex) {
    SparseGraph graph;
    graph.AddArc(3, 4, {1, 2});
    graph.CreateFromArcs({}, {}, {});
    EXPECT_EQ(graph.NumVertex(), 1u);
    EXPECT_TRUE(graph.GetOutNeighbors(0).empty());
    EXPECT_EQ(graph.NumArcEntries(), 0u);
    EXPECT_EQ(graph.FindArcCost(0, 0), nullptr);
}

TEST(SparseGraphTest, CreateFromArcsKeepsParallelArcsAndCountsEntries) {
    SparseGraph graph;
    graph.CreateFromArcs({2, 0, 2}, {0, 1, 0}, {{1, 1}, {2, 2}, {3, 3}});
    EXPECT_EQ(graph.NumVertex(), 3u);
    EXPECT_EQ(graph.GetOutNeighbors(2), (Vertices{0, 0}));
    EXPECT_EQ(graph.GetInNeighbors(0), (Vertices{2, 2}));
    EXPECT_EQ(graph.GetArcCost(2, 0), (CostVector{1, 1}));  // the first of the two
    EXPECT_EQ(graph.NumArcEntries(), 6u);                   // 3 arcs, 2 entries each
    EXPECT_EQ(graph.NumEdge(), 3u);
    EXPECT_EQ(graph.CostDim(), 2u);
    ExpectFindAgreesWithGet(graph);
    // SetArcCost and AddArc reach the first copy.
    graph.SetArcCost(2, 0, {9, 9});
    EXPECT_EQ(graph.GetOutArcCosts(2), (std::vector<CostVector>{{9, 9}, {3, 3}}));
    graph.AddArc(2, 1, {4, 4});
    EXPECT_EQ(graph.NumArcEntries(), 8u);
    ExpectFindAgreesWithGet(graph);
}

TEST(SparseGraphTest, CreateFromEdgesEntersBothDirectionsInOrder) {
    SparseGraph graph;
    graph.CreateFromEdges({0, 1}, {1, 2}, {{1}, {2}});
    EXPECT_EQ(graph.NumVertex(), 3u);
    EXPECT_EQ(graph.GetOutNeighbors(1), (Vertices{0, 2}));
    EXPECT_EQ(graph.GetInNeighbors(1), (Vertices{0, 2}));
    EXPECT_EQ(graph.GetArcCost(2, 1), (CostVector{2}));
    EXPECT_EQ(graph.NumArcEntries(), 8u);  // 2 edges, 4 entries each
    EXPECT_EQ(graph.NumEdge(), 4u);
    EXPECT_EQ(graph.CostDim(), 1u);
    ExpectFindAgreesWithGet(graph);
}

TEST(SparseGraphTest, BulkBuildRejectsBadListsAndKeepsTheGraph) {
    SparseGraph graph;
    graph.AddArc(0, 1, {1});
    const std::string printed = ExpectFailure(
        [&] {
            graph.CreateFromArcs({0, 1}, {1, 0}, {{1}, {1, 2}});
        },
        "[ERROR] SparseGraph::CreateFromArcs cdim does not match");
    EXPECT_EQ(printed, "[ERROR] SparseGraph::CreateFromArcs cdim does not match: 1 != 2\n");
    ExpectFailure(
        [&] {
            graph.CreateFromEdges({0, 1}, {1}, {{1}, {1}});
        },
        "[ERROR] SparseGraph::CreateFromEdges targets or costs are shorter than "
        "sources");
    ExpectFailure([&] { graph.CreateFromArcs({0}, {~std::uint64_t{0}}, {{1}}); },
                  "[ERROR] SparseGraph::CreateFromArcs vertex is too large");
    EXPECT_EQ(graph.NumVertex(), 2u);
    EXPECT_EQ(graph.GetArcCost(0, 1), CostVector{1});
    EXPECT_EQ(graph.NumArcEntries(), 2u);
}

TEST(SparseGraphTest, AddVertexOfLargestValueIsRefused) {
    SparseGraph graph;
    graph.AddArc(0, 1, {1});
    ExpectFailure([&] { graph.AddVertex(~std::uint64_t{0}); },
                  "[ERROR] SparseGraph::AddVertex vertex is too large");
    EXPECT_EQ(graph.NumVertex(), 2u);
    EXPECT_TRUE(graph.HasArc(0, 1));
}

TEST(SparseGraphTest, ArcWithoutCostsReadsAsNoArcForFindArcCost) {
    // The first arc fixes nothing (dimension 0); the second fixes 2. The first arc's
    // empty vector must never be handed out as two costs.
    SparseGraph graph;
    graph.AddArc(0, 1, {});
    graph.AddArc(1, 0, {1, 2});
    EXPECT_TRUE(graph.HasArc(0, 1));
    EXPECT_TRUE(graph.GetArcCost(0, 1).empty());
    ExpectFindAgreesWithGet(graph);
}

// Random arc-by-arc builds crossing the dense-index bound: the index must follow every
// growth step, every update and the switch to scanning.
TEST(SparseGraphTest, FindArcCostFollowsRandomBuildsAcrossTheIndexBound) {
    std::mt19937_64 rng(7);
    for (const std::uint64_t limit : {40u, 300u, 1500u}) {
        SCOPED_TRACE(limit);
        SparseGraph graph;
        graph.ChangeCostDim(2, 9999.0);
        std::uniform_int_distribution<std::uint64_t> vertex(0, limit - 1);
        std::uniform_real_distribution<double> cost(0.0, 100.0);
        for (int step = 0; step < 400; ++step) {
            const std::uint64_t u = vertex(rng);
            const std::uint64_t v = vertex(rng) % 40;  // dense heads: many updates
            graph.AddArc(u, v, {cost(rng), cost(rng)});
            if (step % 50 == 0) graph.SetArcCost(u, v, {-1.0, static_cast<double>(step)});
            if (step % 97 == 0) graph.AddVertex(vertex(rng));
        }
        ASSERT_EQ(graph.NumArcEntries() % 2, 0u);
        ExpectFindAgreesWithGet(graph, 41);
    }
}

TEST(SparseGraphTest, FindArcCostBeyondTheIndexBoundScans) {
    SparseGraph graph;
    graph.AddArc(0, 1, {1});
    graph.AddVertex(5000);  // far beyond any dense index
    EXPECT_EQ(graph.NumVertex(), 5001u);
    graph.AddArc(4999, 5000, {2});
    graph.AddArc(5000, 0, {3});
    ASSERT_NE(graph.FindArcCost(0, 1), nullptr);
    EXPECT_EQ(*graph.FindArcCost(0, 1), 1.0);
    EXPECT_EQ(*graph.FindArcCost(4999, 5000), 2.0);
    EXPECT_EQ(*graph.FindArcCost(5000, 0), 3.0);
    EXPECT_EQ(graph.FindArcCost(5000, 4999), nullptr);
    // Shrinking through a bulk build brings the index back.
    graph.CreateFromArcs({0, 1}, {1, 0}, {{4}, {5}});
    ExpectFindAgreesWithGet(graph);
}

TEST(SparseGraphTest, CompleteGraphAsTheSolverBuildsIt) {
    // Dimension first, then vertices, then every ordered pair: cost u * 10 + v per type.
    const std::uint64_t n = 20;
    SparseGraph graph;
    graph.ChangeCostDim(2, 9999.0);
    for (std::uint64_t i = 0; i < n; ++i) graph.AddVertex(i);
    for (std::uint64_t u = 0; u < n; ++u) {
        for (std::uint64_t v = 0; v < n; ++v) {
            if (u != v) graph.AddArc(u, v, {u * 10.0 + v, 9999.0});
        }
    }
    EXPECT_EQ(graph.NumEdge(), n * (n - 1));
    EXPECT_EQ(graph.FindArcCost(7, 3)[0], 73.0);
    EXPECT_EQ(graph.FindArcCost(3, 3), nullptr);
    ExpectFindAgreesWithGet(graph);
}

}  // namespace
}  // namespace vornik
