#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "plugins/DefaultHeuristic.h"
#include "plugins/LiteralHeuristic.h"

namespace vornik {
namespace {

constexpr double kFail = 1.1235582092889473e307;

std::uint64_t Bits(double x) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
}

struct AgentSpec {
    std::uint64_t vertex;
    bool closed;
};

// A node over `n` vertices with `visited` set and bits n .. 255 set, as the search
// builds its root.
SearchNode MakeNode(std::int32_t n, const std::vector<std::uint64_t>& visited,
                    const std::vector<AgentSpec>& agents) {
    SearchNode node;
    node.num_vertices = n;
    for (std::uint64_t v = static_cast<std::uint64_t>(std::max(n, 0)); v < kMaxVertices; ++v) {
        node.visited.Set(v);
    }
    for (std::uint64_t v : visited) node.visited.Set(v);
    for (const AgentSpec& a : agents) {
        node.current_vertex.push_back(static_cast<NodeVertex>(a.vertex));
        node.cost.push_back(0.0);
        node.closed.push_back(a.closed ? 1 : 0);
    }
    node.open_agents =
        std::count_if(agents.begin(), agents.end(), [](const AgentSpec& a) { return !a.closed; });
    return node;
}

DefaultHeuristic MakeHeuristic(std::size_t num_agents, const std::vector<EdgeRecord>& edges) {
    DefaultHeuristic heuristic;
    heuristic.Init(nullptr, {}, std::vector<AgentEntry>(num_agents));
    heuristic.SetEdges(edges);
    return heuristic;
}

struct ForestCase {
    const char* name;
    std::int32_t n;
    std::vector<std::uint64_t> visited;
    std::vector<AgentSpec> agents;
    std::vector<EdgeRecord> edges;
    double expected;
};

class DefaultHeuristicCaseTest : public testing::TestWithParam<ForestCase> {};

TEST_P(DefaultHeuristicCaseTest, MatchesHandComputedValueAndTheScan) {
    const ForestCase& c = GetParam();
    const SearchNode node = MakeNode(c.n, c.visited, c.agents);
    const DefaultHeuristic heuristic = MakeHeuristic(c.agents.size(), c.edges);
    EXPECT_EQ(Bits(heuristic.Evaluate(node)), Bits(c.expected));
    EXPECT_EQ(Bits(LiteralHeuristic(c.edges, c.agents.size(), node)), Bits(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DefaultHeuristicCaseTest,
    testing::Values(
        // Agents at 0 and 1 (visited), 2 and 3 unvisited. (3,2,1) has no endpoint in C at
        // first; (3,1,4) brings 3 in, then (3,2,1) brings 2: 4 + 1 = 5.
        ForestCase{"WorkedExample",
                   4,
                   {0, 1},
                   {{0, false}, {1, false}},
                   {{3, 2, 1.0}, {3, 1, 4.0}, {2, 0, 5.0}},
                   5.0},
        ForestCase{"AllVisitedIsZero", 3, {0, 1, 2}, {{0, false}}, {{1, 0, 2.0}}, 0.0},
        ForestCase{"NoVerticesIsZero", 0, {}, {{0, false}}, {}, 0.0},
        // Vertex 2 is reachable only through records of 9999 or more.
        ForestCase{"OnlyBlockedRecords",
                   3,
                   {0},
                   {{0, false}},
                   {{1, 0, 1.0}, {2, 0, 9999.0}, {2, 1, 1e300}},
                   kFail},
        ForestCase{"EmptyListWithUnvisited", 2, {0}, {{0, false}}, {}, kFail},
        // A closed agent's visited vertex is in B: (2,0,1) is skipped, (2,1,3) is taken.
        ForestCase{"ClosedAgentIsNoRoot",
                   3,
                   {0, 1},
                   {{0, true}, {1, false}},
                   {{2, 0, 1.0}, {2, 1, 3.0}},
                   3.0},
        // A closed agent on an unvisited vertex is connected but not blocked: it roots.
        ForestCase{"ClosedAgentOnUnvisitedVertex",
                   3,
                   {0},
                   {{0, true}, {2, true}},
                   {{1, 0, 1.0}, {2, 1, 3.0}},
                   3.0},
        // Both agents closed on visited vertices: nothing can root the forest.
        ForestCase{"AllClosedOnVisited", 3, {0, 1}, {{0, true}, {1, true}}, {{2, 0, 1.0}}, kFail},
        // The first record of a pair wins even when a later duplicate is cheaper.
        ForestCase{
            "DuplicatePairFirstWins", 2, {0}, {{0, false}}, {{1, 0, 7.0}, {0, 1, 2.0}}, 7.0}),
    [](const testing::TestParamInfo<ForestCase>& param_info) { return param_info.param.name; });

TEST(DefaultHeuristicTest, DrawsInUnvisitedVertexBeyondCount) {
    // Vertex 3 lies beyond num_vertices but its bit is clear: the scan draws it in
    // (paying 1) and then reaches 2 through it: 1 + 2 = 3, not the direct 5.
    SearchNode node = MakeNode(3, {0, 1}, {{0, false}});
    node.visited.Reset(3);
    const std::vector<EdgeRecord> edges{{3, 0, 1.0}, {2, 3, 2.0}, {2, 0, 5.0}};
    EXPECT_EQ(MakeHeuristic(1, edges).Evaluate(node), 3.0);
    EXPECT_EQ(LiteralHeuristic(edges, 1, node), 3.0);
}

TEST(DefaultHeuristicTest, FailureValueIsLargestDoubleOverSixteen) {
    EXPECT_EQ(Bits(DefaultHeuristic::kUnreachable), Bits(std::numeric_limits<double>::max() / 16));
}

TEST(DefaultHeuristicTest, NamesAndStoredTables) {
    DefaultHeuristic heuristic;
    EXPECT_EQ(heuristic.GetName(), "DefaultHeuristic");
    heuristic.SetEndVertices({4, 5});
    EXPECT_EQ(heuristic.EndVertices(), (std::vector<std::uint64_t>{4, 5}));
}

TEST(DefaultHeuristicTest, SetEdgesReplacesTheList) {
    DefaultHeuristic heuristic = MakeHeuristic(1, {{1, 0, 2.0}});
    const SearchNode node = MakeNode(2, {0}, {{0, false}});
    EXPECT_EQ(heuristic.Evaluate(node), 2.0);
    heuristic.SetEdges({{2, 1, 1.0}, {1, 0, 6.0}});
    EXPECT_EQ(heuristic.Evaluate(node), 6.0);
    heuristic.SetEdges({});
    EXPECT_EQ(heuristic.Evaluate(node), kFail);
}

TEST(DefaultHeuristicTest, ReadsOnlyTheAgentsGivenToInit) {
    // The node has two agents, the heuristic was told of one: the agent at 2 counts for
    // neither set, so 2 must be connected through 1 at cost 4 after 1 joins at cost 1.
    const std::vector<EdgeRecord> edges{{1, 0, 1.0}, {2, 1, 4.0}};
    const SearchNode node = MakeNode(3, {0}, {{0, false}, {2, false}});
    EXPECT_EQ(MakeHeuristic(1, edges).Evaluate(node), 5.0);
    EXPECT_EQ(MakeHeuristic(2, edges).Evaluate(node), 1.0);
}

// Random edge lists and nodes, compared bit for bit with the literal scan.
struct RandomSetup {
    std::uint32_t n_min;
    std::uint32_t n_max;
    int lists;
    int nodes_per_list;
};

std::vector<EdgeRecord> RandomEdges(std::mt19937_64& rng, std::uint32_t n, std::uint32_t span) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const int cost_style = static_cast<int>(rng() % 4);
    const double blocked_share = std::vector<double>{0.0, 0.1, 0.5, 0.95}[rng() % 4];
    const double density = std::vector<double>{1.0, 0.5, 0.1}[rng() % 3];
    const auto draw_cost = [&]() -> double {
        if (unit(rng) < blocked_share) {
            const double blocked[] = {9999.0, 12345.5, std::numeric_limits<double>::infinity()};
            return blocked[rng() % 3];
        }
        switch (cost_style) {
            case 0:
                return 1.0;  // every usable record ties
            case 1:
                return static_cast<double>(1 + rng() % 3);  // many ties
            case 2:
                return 0.1 * static_cast<double>(rng() % 50);  // inexact sums
            default:
                return unit(rng) * 9998.0;
        }
    };
    std::vector<EdgeRecord> edges;
    for (std::uint64_t i = 1; i < span; ++i) {
        for (std::uint64_t k = 0; k < i; ++k) {
            if (unit(rng) < density) edges.push_back({i, k, draw_cost()});
        }
    }
    // Duplicates of existing pairs (either orientation) and a few self-loops.
    const std::size_t extra = edges.empty() ? 0 : rng() % (edges.size() / 4 + 2);
    for (std::size_t e = 0; e < extra; ++e) {
        const EdgeRecord& src = edges[rng() % edges.size()];
        edges.push_back(rng() % 2 ? EdgeRecord{src.v, src.u, draw_cost()}
                                  : EdgeRecord{src.u, src.v, draw_cost()});
    }
    if (n > 0 && rng() % 4 == 0) {
        const std::uint64_t loop = rng() % n;
        edges.push_back({loop, loop, 0.5});
    }
    if (rng() % 3 == 0) {
        std::shuffle(edges.begin(), edges.end(), rng);
    } else {
        std::shuffle(edges.begin(), edges.end(), rng);
        std::stable_sort(edges.begin(), edges.end(),
                         [](const EdgeRecord& x, const EdgeRecord& y) { return x.cost < y.cost; });
    }
    return edges;
}

SearchNode RandomNode(std::mt19937_64& rng, std::uint32_t n, std::uint32_t span,
                      std::size_t agents) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double visit_share = std::vector<double>{0.0, 0.3, 0.5, 0.9, 1.0}[rng() % 5];
    const double close_share = std::vector<double>{0.0, 0.3, 1.0}[rng() % 3];
    SearchNode node;
    node.num_vertices = static_cast<std::int32_t>(n);
    for (std::uint64_t v = 0; v < kMaxVertices; ++v) {
        // Bits past the vertex count are normally set; sometimes leave them random.
        const bool past = v >= n;
        if ((past && rng() % 8 != 0) || (!past && unit(rng) < visit_share) ||
            (past && rng() % 2 == 0)) {
            node.visited.Set(v);
        }
    }
    // Agents often share a few vertices.
    const std::uint32_t pool = std::max<std::uint32_t>(1, rng() % 2 ? 2 : span);
    for (std::size_t i = 0; i < agents; ++i) {
        node.current_vertex.push_back(static_cast<NodeVertex>(rng() % std::min(pool, span)));
        node.cost.push_back(0.0);
        const bool closed = unit(rng) < close_share;
        node.closed.push_back(closed ? 1 : 0);
        node.open_agents += closed ? 0 : 1;
    }
    return node;
}

class DefaultHeuristicOracleTest : public testing::TestWithParam<RandomSetup> {};

TEST_P(DefaultHeuristicOracleTest, EqualsLiteralScanBitForBit) {
    const RandomSetup setup = GetParam();
    std::mt19937_64 rng(0x5eed0000u + setup.n_min * 1000 + setup.n_max);
    int finite = 0;
    int failed = 0;
    for (int list = 0; list < setup.lists; ++list) {
        const std::uint32_t n =
            setup.n_min + static_cast<std::uint32_t>(rng() % (setup.n_max - setup.n_min + 1));
        // Records may reach a few vertices past the vertex count.
        const std::uint32_t beyond = rng() % 3 == 0 ? static_cast<std::uint32_t>(rng() % 4) : 0;
        const std::uint32_t span = std::min<std::uint32_t>(256, n + beyond);
        const std::vector<EdgeRecord> edges = RandomEdges(rng, n, std::max(span, 1u));
        const std::size_t agents = 1 + rng() % 5;
        // Sometimes the heuristic knows fewer agents than the node carries.
        const std::size_t known = rng() % 5 == 0 ? agents - 1 : agents;
        const DefaultHeuristic heuristic = MakeHeuristic(known, edges);
        for (int k = 0; k < setup.nodes_per_list; ++k) {
            const SearchNode node = RandomNode(rng, n, std::max(span, 1u), agents);
            const double expected = LiteralHeuristic(edges, known, node);
            const double actual = heuristic.Evaluate(node);
            ASSERT_EQ(Bits(actual), Bits(expected))
                << "list " << list << " node " << k << " n " << n << " expected " << expected
                << " actual " << actual;
            (expected == kFail ? failed : finite) += 1;
        }
    }
    // The generator must exercise both outcomes, or the comparison proves little.
    EXPECT_GT(finite, 0);
    if (setup.lists * setup.nodes_per_list >= 100) {
        EXPECT_GT(failed, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, DefaultHeuristicOracleTest,
                         testing::Values(RandomSetup{1, 4, 300, 10}, RandomSetup{5, 20, 200, 10},
                                         RandomSetup{21, 64, 60, 8}, RandomSetup{65, 130, 12, 5},
                                         RandomSetup{250, 256, 4, 4}),
                         [](const testing::TestParamInfo<RandomSetup>& param_info) {
                             return "N" + std::to_string(param_info.param.n_min) + "To" +
                                    std::to_string(param_info.param.n_max);
                         });

}  // namespace
}  // namespace vornik
