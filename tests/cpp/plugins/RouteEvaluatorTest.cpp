#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "plugins/LiteralPostOptimizers.h"
#include "plugins/PostOptimizerTestSupport.h"
#include "plugins/RouteEvaluator.h"

namespace vornik {
namespace {

using testing_support::MakeMatrixGraph;

// Ten vertices on a line at these x positions; one agent type, travel = distance.
// Agent 0 starts at 0, agent 1 at 5; both end at 9.
const double kX[10] = {0, 1, 2, 4, 10, 20, 25, 9, 50, 5};

struct LineFixture {
    std::unique_ptr<SparseGraph> graph;
    std::vector<NodeEntry> nodes;
    std::vector<AgentEntry> agents;

    explicit LineFixture(double limit = 0.0) {
        std::vector<double> cost(100);
        for (int u = 0; u < 10; ++u) {
            for (int v = 0; v < 10; ++v) cost[u * 10 + v] = std::fabs(kX[u] - kX[v]);
        }
        graph = MakeMatrixGraph(10, {cost});
        nodes.resize(10);
        for (auto& node : nodes) node.allowed_types = {0};
        agents.resize(2);
        agents[0].type = 0;
        agents[0].time_limit = limit;
        agents[1].type = 0;
    }
};

struct EvaluateCase {
    const char* name;
    bool return_to_end;
    double limit;
    TimeWindowTable windows;
    std::vector<std::uint64_t> route;
    bool ok;
    double cost;
};

TEST(RouteEvaluatorTest, WorkedExamples) {
    const EvaluateCase cases[] = {
        {"empty route", true, 0, {}, {}, true, 0},
        {"ends at own end", true, 0, {}, {0, 3, 9}, true, 5},  // 4 + 1
        {"back to start while returning", true, 0, {}, {0, 3, 0}, false, 0},
        {"back to start without return: closing free", false, 0, {}, {0, 3, 0}, true, 4},
        {"other agent's start", true, 0, {}, {0, 5, 9}, false, 0},
        {"own start in the middle", true, 0, {}, {0, 3, 0, 9}, false, 0},
        {"starts elsewhere", true, 0, {}, {1, 3, 9}, false, 0},
        {"single vertex while returning", true, 0, {}, {0}, false, 0},
        {"single vertex without return", false, 0, {}, {0}, true, 0},
        // Reached at 4, waits until 10, then 1 more: 11.
        {"window makes the agent wait", true, 0, {{3, {10, 20}}}, {0, 3, 9}, true, 11},
        {"window already closed", true, 0, {{6, {10, 20}}}, {0, 6, 9}, false, 0},
        // A window at the first vertex counts too: wait until 2, then 4 + 1.
        {"window at the first vertex", true, 0, {{0, {2, 3}}}, {0, 3, 9}, true, 7},
        {"no limit", true, 0, {}, {0, 7, 9}, true, 13},  // 9 + 4
        {"over the limit", true, 12, {}, {0, 7, 9}, false, 0},
        {"exactly at the limit", true, 13, {}, {0, 7, 9}, true, 13},
        {"repeated vertex costs nothing", true, 0, {}, {0, 3, 3, 9}, true, 5},
    };
    for (const EvaluateCase& c : cases) {
        SCOPED_TRACE(c.name);
        LineFixture f(c.limit);
        RouteEvaluator evaluator;
        evaluator.SetReturnToEnd(c.return_to_end);
        evaluator.SetStartVertices({0, 5});
        evaluator.SetEndVertices({9, 9});
        evaluator.SetTimeWindows(c.windows);
        evaluator.Bind(f.graph.get(), f.nodes, f.agents);
        const RouteEvaluation e = evaluator.EvaluateRoute(c.route, 0);
        EXPECT_EQ(e.ok, c.ok);
        EXPECT_DOUBLE_EQ(e.cost, c.cost);
    }
}

TEST(RouteEvaluatorTest, CanServeHonoursTypesStartsAndEnds) {
    LineFixture f;
    f.nodes[4].allowed_types = {};
    f.nodes[7].allowed_types = {1};
    RouteEvaluator evaluator;
    evaluator.SetStartVertices({0, 5});
    evaluator.SetEndVertices({9, 9});
    evaluator.Bind(f.graph.get(), f.nodes, f.agents);
    EXPECT_TRUE(evaluator.CanServe(0, 3));
    EXPECT_TRUE(evaluator.CanServe(0, 0));
    EXPECT_FALSE(evaluator.CanServe(0, 5));  // agent 1's start
    EXPECT_TRUE(evaluator.CanServe(1, 5));
    EXPECT_TRUE(evaluator.CanServe(1, 9));    // shared end
    EXPECT_FALSE(evaluator.CanServe(0, 4));   // empty list admits nobody
    EXPECT_FALSE(evaluator.CanServe(0, 7));   // type 0 not allowed
    EXPECT_FALSE(evaluator.CanServe(0, 10));  // beyond the node table
    EXPECT_FALSE(evaluator.CanServe(2, 3));   // beyond the agent table
}

TEST(RouteEvaluatorTest, TwoOptReversesTheCrossedSegment) {
    LineFixture f;
    RouteEvaluator evaluator;
    evaluator.SetReturnToEnd(true);
    evaluator.SetStartVertices({0, 5});
    evaluator.SetEndVertices({9, 9});
    evaluator.Bind(f.graph.get(), f.nodes, f.agents);
    // 0,2,1,3,9 costs 2 + 1 + 3 + 1 = 7; reversing positions 1..2 gives 1 + 1 + 2 + 1 = 5.
    std::vector<std::uint64_t> route{0, 2, 1, 3, 9};
    double cost = evaluator.EvaluateRoute(route, 0).cost;
    ASSERT_DOUBLE_EQ(cost, 7.0);
    evaluator.ImproveTwoOpt(route, 0, cost);
    EXPECT_EQ(route, (std::vector<std::uint64_t>{0, 1, 2, 3, 9}));
    EXPECT_DOUBLE_EQ(cost, 5.0);

    std::vector<std::uint64_t> three{0, 3, 9};
    double three_cost = 100.0;
    evaluator.ImproveTwoOpt(three, 0, three_cost);
    EXPECT_EQ(three, (std::vector<std::uint64_t>{0, 3, 9}));
    EXPECT_EQ(three_cost, 100.0);
}

TEST(RouteEvaluatorTest, SettingItsOwnWindowTableKeepsIt) {
    RouteEvaluator evaluator;
    evaluator.SetTimeWindows({{3, {1.0, 2.0}}});
    EXPECT_TRUE(evaluator.HasTimeWindows());
    evaluator.SetTimeWindows({});
    EXPECT_FALSE(evaluator.HasTimeWindows());
}

// The fast evaluation (dense tables, non-copying arc lookups, reused prefixes) must give
// the literal evaluation's verdict and the very same double on arbitrary routes,
// including ones that break every rule.
TEST(RouteEvaluatorTest, AgreesWithLiteralEvaluationOnRandomRoutes) {
    std::mt19937_64 rng(12345);
    for (int round = 0; round < 60; ++round) {
        testing_support::CaseShape shape;
        shape.vertices = 6 + rng() % 10;
        shape.num_types = 1 + static_cast<std::int64_t>(rng() % 3);
        shape.windows = rng() % 2 == 0;
        shape.limits = rng() % 2 == 0;
        shape.restrict_types = rng() % 2 == 0;
        shape.return_to_end = rng() % 2 == 0;
        shape.shared_depot = rng() % 2 == 0;
        testing_support::PostOptCase c = testing_support::MakeRandomCase(rng, shape);
        RouteEvaluator fast;
        literal::LiteralEvaluator slow;
        fast.SetReturnToEnd(c.return_to_end);
        fast.SetStartVertices(c.starts);
        fast.SetEndVertices(c.ends);
        fast.SetTimeWindows(c.windows);
        fast.Bind(c.graph.get(), c.nodes, c.agents);
        slow.return_to_end = c.return_to_end;
        slow.SetStarts(c.starts);
        slow.SetEnds(c.ends);
        slow.SetWindows(c.windows);
        slow.graph = c.graph.get();
        slow.nodes = c.nodes;
        slow.agents = c.agents;
        ASSERT_TRUE(fast.StopsEarly());  // Euclidean costs are non-negative

        const std::size_t n = c.nodes.size();
        for (int trial = 0; trial < 40; ++trial) {
            const std::uint64_t agent = rng() % c.agents.size();
            std::vector<std::uint64_t> route;
            // Mostly well-formed routes (own start .. own end), sometimes arbitrary ones.
            const bool framed = rng() % 4 != 0;
            const std::size_t length = 2 + rng() % 7;
            for (std::size_t k = 0; k < length; ++k) route.push_back(rng() % n);
            if (framed) {
                route.front() = c.starts[agent];
                route.back() = rng() % 5 == 0 ? c.starts[agent] : c.ends[agent];
            }
            const RouteEvaluation expected = slow.Evaluate(route, agent);
            const RouteEvaluation actual = fast.EvaluateRoute(route, agent);
            ASSERT_EQ(actual.ok, expected.ok);
            ASSERT_EQ(actual.cost, expected.cost);
            EXPECT_EQ(fast.CanServe(agent, route[1]), slow.CanServe(agent, route[1]));

            // Incremental removal and insertion against full evaluation of the copy.
            RouteTrace trace;
            fast.Trace(route, agent, trace);
            const auto never = [](double) { return false; };
            const double cap = 60.0 + static_cast<double>(rng() % 200);
            const auto above_cap = [cap](double t) { return t > cap; };
            for (std::size_t p = 1; p + 1 < route.size(); ++p) {
                std::vector<std::uint64_t> removed = route;
                removed.erase(removed.begin() + static_cast<std::ptrdiff_t>(p));
                const RouteEvaluation full = slow.Evaluate(removed, agent);
                const RouteEvaluation part = fast.EvaluateRemoval(route, trace, agent, p, never);
                ASSERT_EQ(part.ok, full.ok);
                ASSERT_EQ(part.cost, full.cost);
                // A stopped candidate is one whose full cost passes the cap (or is rejected).
                const RouteEvaluation capped =
                    fast.EvaluateRemoval(route, trace, agent, p, above_cap);
                if (capped.ok) {
                    ASSERT_EQ(capped.cost, full.cost);
                } else {
                    ASSERT_TRUE(!full.ok || full.cost > cap);
                }
            }
            const std::uint64_t v = rng() % n;
            for (std::size_t p = 1; p < route.size(); ++p) {
                std::vector<std::uint64_t> inserted = route;
                inserted.insert(inserted.begin() + static_cast<std::ptrdiff_t>(p), v);
                const RouteEvaluation full = slow.Evaluate(inserted, agent);
                const RouteEvaluation part =
                    fast.EvaluateInsertion(route, trace, agent, v, p, never);
                ASSERT_EQ(part.ok, full.ok);
                ASSERT_EQ(part.cost, full.cost);
            }

            // 2-opt against the literal 2-opt, same route and starting cost.
            if (expected.ok) {
                std::vector<std::uint64_t> fast_route = route;
                std::vector<std::uint64_t> slow_route = route;
                double fast_cost = expected.cost;
                double slow_cost = expected.cost;
                fast.ImproveTwoOpt(fast_route, agent, fast_cost);
                slow.TwoOpt(slow_route, agent, slow_cost);
                ASSERT_EQ(fast_route, slow_route);
                ASSERT_EQ(fast_cost, slow_cost);
            }
        }
    }
}

TEST(RouteEvaluatorTest, NegativeCostsDisableEarlyStops) {
    auto graph = MakeMatrixGraph(3, {{0, 1, -1, 1, 0, 1, 1, 1, 0}});
    std::vector<NodeEntry> nodes(3);
    for (auto& node : nodes) node.allowed_types = {0};
    std::vector<AgentEntry> agents(1);
    agents[0].type = 0;
    RouteEvaluator evaluator;
    evaluator.SetReturnToEnd(true);
    evaluator.SetStartVertices({0});
    evaluator.SetEndVertices({0});
    evaluator.Bind(graph.get(), nodes, agents);
    EXPECT_FALSE(evaluator.StopsEarly());
    // 0 -> 2 costs -1, 2 -> 0 costs 1: the clock falls on the way and ends at 0.
    const RouteEvaluation e = evaluator.EvaluateRoute({0, 2, 0}, 0);
    EXPECT_TRUE(e.ok);
    EXPECT_EQ(e.cost, 0.0);
}

}  // namespace
}  // namespace vornik
