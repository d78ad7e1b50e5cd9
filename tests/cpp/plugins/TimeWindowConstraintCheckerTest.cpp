#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <random>
#include <unordered_set>

#include "plugins/TimeWindowConstraintChecker.h"
#include "tests/cpp/plugins/CheckerTestSupport.h"

namespace vornik {
namespace {

using checker_testing::MakeAgent;
using checker_testing::MakeCompleteGraph;
using checker_testing::MakeNodes;
using checker_testing::MakeState;

// Symmetric costs given per unordered pair; pairs not listed cost `fallback`.
std::function<double(std::uint64_t, std::uint64_t, std::uint64_t)> PairCosts(
    std::map<std::pair<std::uint64_t, std::uint64_t>, double> costs, double fallback) {
    return [costs, fallback](std::uint64_t u, std::uint64_t v, std::uint64_t) {
        const auto it = costs.find({std::min(u, v), std::max(u, v)});
        return it == costs.end() ? fallback : it->second;
    };
}

struct WindowInstance {
    std::unique_ptr<SparseGraph> graph;
    std::vector<NodeEntry> nodes;
    std::vector<AgentEntry> agents;
    std::vector<std::uint64_t> starts;
    std::vector<std::uint64_t> ends;
    TimeWindowTable windows;
    bool return_to_end = true;

    TimeWindowConstraintChecker Build() const {
        TimeWindowConstraintChecker checker;
        checker.Init(graph.get(), nodes, agents);
        checker.SetEndVertices(ends);
        checker.SetTimeWindows(windows);
        checker.SetStartVertices(starts);
        checker.SetReturnToEnd(return_to_end);
        return checker;
    }
};

void ExpectArrival(const ArrivalCheck& got, bool feasible, double time, bool changed) {
    EXPECT_EQ(got.feasible, feasible);
    EXPECT_EQ(got.time, time);
    EXPECT_EQ(got.time_changed, changed);
}

struct WindowCase {
    const char* name;
    bool has_window;
    double start, end;
    double arrival;
    bool feasible;
    double time;
    bool changed;
};

TEST(TimeWindowConstraintCheckerTest, WindowStepRefusesLateArrivalsAndWaitsForOpening) {
    const WindowCase cases[] = {
        {"window end exactly met", true, 0.0, 10.0, 10.0, true, 0.0, false},
        {"one unit after the end", true, 0.0, 10.0, 11.0, false, 0.0, false},
        {"early arrival waits for the opening", true, 20.0, 30.0, 10.0, true, 20.0, true},
        {"arrival at the opening does not wait", true, 20.0, 30.0, 20.0, true, 0.0, false},
        {"no window", false, 0.0, 0.0, 10.0, true, 0.0, false},
    };
    for (const WindowCase& c : cases) {
        SCOPED_TRACE(c.name);
        // Agent 0 leaves its depot 0 for vertex 1; nothing else is left to visit, so
        // neither look-ahead rule has anything to say.
        WindowInstance setup;
        setup.graph = MakeCompleteGraph(2, 1, PairCosts({}, 10.0));
        setup.nodes = MakeNodes(2, {0});
        setup.agents = {MakeAgent(0)};
        setup.starts = {0};
        setup.ends = {0};
        if (c.has_window) setup.windows[1] = {c.start, c.end};
        const TimeWindowConstraintChecker checker = setup.Build();
        const SearchNode state = MakeState({0}, {c.arrival}, {0, 1}, 2);
        ExpectArrival(checker.CheckArrival(state, 0, 1), c.feasible, c.time, c.changed);
    }
}

struct DominanceCase {
    const char* name;
    double v_start, v_end;
    double u_to_i, i_to_v;
    bool i_visited;
    bool has_i_window;
    double i_start, i_end;
    bool feasible;
    double time;
    bool changed;
};

TEST(TimeWindowConstraintCheckerTest, DominanceRefusesMovesThatSkipAFreeDetour) {
    // Agent 0 leaves u = 0 at time 0 for v = 1 (10 away); i = 2 lies u_to_i from u and
    // i_to_v from v, in both directions. The arrival time at v is 0 + 10 = 10.
    const DominanceCase cases[] = {
        // T = 20; b = max(20, 3 + 4) = 20 <= T; c = 20 + 4 = 24 > 20: served i while waiting.
        {"detour while waiting", 20, 30, 3, 4, false, false, 0, 0, false, 0, false},
        // Same move once i is visited: nothing to detour through, so the wait stands.
        {"no unvisited detour", 20, 30, 3, 4, true, false, 0, 0, true, 20, true},
        // T = 10; b = max(5, 3 + 4) = 7 <= 10; c = 10 + 4 = 14 > 7.
        {"detour without delay", 5, 30, 3, 4, false, false, 0, 0, false, 0, false},
        // T = 10; b = 6 + 6 = 12 > 10: the detour would delay v, the move stands.
        {"detour that delays", 5, 30, 6, 6, false, false, 0, 0, true, 0, false},
        // a = 3; b = 20; c = 24 misses i's window [0, 22]: serving i later is impossible.
        {"detour is the only way to i", 20, 30, 3, 4, false, true, 0, 22, false, 0, false},
        // b = 3 + 40 = 43 misses v's window [20, 30]: the detour is no alternative.
        {"detour misses v's window", 20, 30, 3, 40, false, false, 0, 0, true, 20, true},
        // a = 3 misses i's window [0, 2], so the dominance rule skips i; but then nobody
        // can reach i in time (20 + 4 > 2) and the reachability rule refuses.
        {"detour misses i's window", 20, 30, 3, 4, false, true, 0, 2, false, 0, false},
    };
    for (const DominanceCase& c : cases) {
        SCOPED_TRACE(c.name);
        WindowInstance setup;
        setup.graph = MakeCompleteGraph(
            3, 1, PairCosts({{{0, 1}, 10.0}, {{0, 2}, c.u_to_i}, {{1, 2}, c.i_to_v}}, 0.0));
        setup.nodes = MakeNodes(3, {0});
        setup.agents = {MakeAgent(0)};
        setup.starts = {0};
        setup.ends = {0};
        setup.windows[1] = {c.v_start, c.v_end};
        if (c.has_i_window) setup.windows[2] = {c.i_start, c.i_end};
        const TimeWindowConstraintChecker checker = setup.Build();
        std::vector<std::uint64_t> visited = {0, 1};
        if (c.i_visited) visited.push_back(2);
        const SearchNode state = MakeState({0}, {10.0}, visited, 3);
        ExpectArrival(checker.CheckArrival(state, 0, 1), c.feasible, c.time, c.changed);
    }
}

struct ReachCase {
    const char* name;
    double j_end;       // window of j = 3 is [0, j_end]
    double v_start;     // window of v = 2 is [v_start, 40]
    double other_to_j;  // agent 1 at vertex 1 (time 2) to j
    bool other_closed;
    bool other_may_serve_j;
    bool feasible;
    double time;
    bool changed;
};

TEST(TimeWindowConstraintCheckerTest, ReachabilityRefusesMovesThatStrandAWindow) {
    // Agents 0 and 1 live at depots 0 and 1. Agent 0 moves 0 -> 2 (10 away), arriving at
    // time 10; agent 1 stands at 1 at time 2. j = 3 is unvisited; 2 -> 3 takes 5 and
    // every pair not listed takes 10, so no detour through j ever fits.
    const ReachCase cases[] = {
        // Agent 1: 2 + 4 = 6 > 5; agent 0 from v: 10 + 5 = 15 > 5.
        {"nobody in time", 5, 0, 4, false, true, false, 0, false},
        // Agent 1: 2 + 3 = 5, the window's end exactly.
        {"other agent just in time", 5, 0, 3, false, true, true, 0, false},
        {"closed agent does not count", 5, 0, 3, true, true, false, 0, false},
        {"agent of the wrong type does not count", 5, 0, 3, false, false, false, 0, false},
        // Agent 0 counted from v at 10: 10 + 5 = 15 (from u it would be 10 + 10 = 20).
        {"mover counted from its new vertex", 15, 0, 20, false, true, true, 0, false},
        // Waiting at v until 12 makes it 12 + 5 = 17 > 15.
        {"mover counted after waiting", 15, 12, 20, false, true, false, 0, false},
    };
    for (const ReachCase& c : cases) {
        SCOPED_TRACE(c.name);
        WindowInstance setup;
        setup.graph = MakeCompleteGraph(
            4, 2, PairCosts({{{0, 2}, 10.0}, {{2, 3}, 5.0}, {{1, 3}, c.other_to_j}}, 10.0));
        setup.nodes = MakeNodes(4, {0, 1});
        if (!c.other_may_serve_j) setup.nodes[3].allowed_types = {0};
        setup.agents = {MakeAgent(0), MakeAgent(1)};
        setup.starts = {0, 1};
        setup.ends = {0, 1};
        setup.windows[3] = {0.0, c.j_end};
        setup.windows[2] = {c.v_start, 40.0};
        const TimeWindowConstraintChecker checker = setup.Build();
        const std::uint8_t other_closed = c.other_closed ? 1 : 0;
        const SearchNode state = MakeState({0, 1}, {10.0, 2.0}, {0, 1, 2}, 4, {0, other_closed});
        ExpectArrival(checker.CheckArrival(state, 0, 2), c.feasible, c.time, c.changed);
    }
}

TEST(TimeWindowConstraintCheckerTest, UnvisitedVertexWithoutAnyAgentIsUnreachable) {
    WindowInstance setup;
    setup.graph = MakeCompleteGraph(2, 1, PairCosts({}, 1.0));
    setup.nodes = MakeNodes(2, {0});
    const TimeWindowConstraintChecker checker = setup.Build();
    const SearchNode state = MakeState({0}, {1.0}, {0}, 2);
    ExpectArrival(checker.CheckArrival(state, 0, 0), false, 0.0, false);
}

TEST(TimeWindowConstraintCheckerTest, CanServeKeepsOtherAgentsDepotsOffLimits) {
    WindowInstance setup;
    setup.graph = MakeCompleteGraph(5, 1, PairCosts({}, 1.0));
    setup.nodes = MakeNodes(5, {0});
    setup.agents = {MakeAgent(0), MakeAgent(0)};
    // Agent 0: 0 -> 2, agent 1: 1 -> 0 (its end is agent 0's start).
    setup.starts = {0, 1};
    setup.ends = {2, 0};
    struct Case {
        std::uint64_t agent, vertex;
        bool serve;
    };
    const Case cases[] = {
        {0, 0, false},  // own start, but agent 1's end
        {1, 0, false},  // own end, but agent 0's start: a start belongs to its agent alone
        {0, 1, false},  // agent 1's start
        {1, 1, true},   // own start
        {0, 2, true},   // own end
        {1, 2, false},  // agent 0's end
        {0, 4, true},  {1, 4, true},   // ordinary target
        {2, 4, false}, {0, 5, false},  // outside the tables
    };
    TimeWindowConstraintChecker checker = setup.Build();
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "agent " << c.agent << " vertex " << c.vertex);
        EXPECT_EQ(checker.CanServe(c.agent, c.vertex), c.serve);
    }
    // The type must be allowed even at the agent's own depots.
    setup.nodes[1].allowed_types = {1};
    setup.nodes[2].allowed_types = {1};
    checker = setup.Build();
    EXPECT_FALSE(checker.CanServe(1, 1));
    EXPECT_FALSE(checker.CanServe(0, 2));
    // Without depot lists every allowed vertex is open to everyone.
    setup.starts.clear();
    setup.ends.clear();
    checker = setup.Build();
    EXPECT_TRUE(checker.CanServe(0, 0));
    EXPECT_TRUE(checker.CanServe(1, 0));
    EXPECT_FALSE(checker.CanServe(0, 1));  // type not allowed
}

TEST(TimeWindowConstraintCheckerTest, TravelTimeIsFreeOntoOwnDepots) {
    // Type 1 pays 10 * u + v on every arc, type 0 pays 1.
    WindowInstance setup;
    setup.graph = MakeCompleteGraph(4, 2, [](std::uint64_t u, std::uint64_t v, std::uint64_t t) {
        return t == 0 ? 1.0 : 10.0 * static_cast<double>(u) + static_cast<double>(v);
    });
    setup.nodes = MakeNodes(4, {0, 1});
    setup.agents = {MakeAgent(1)};
    setup.starts = {0};
    setup.ends = {2};
    struct Case {
        const char* name;
        bool return_to_end;
        std::uint64_t from, to;
        double expected;
    };
    const Case cases[] = {
        {"ordinary arc", false, 1, 3, 13.0},
        {"ordinary arc, return to end", true, 3, 1, 31.0},
        {"own end, free closing move", false, 1, 2, 0.0},
        {"own end, charged closing move", true, 1, 2, 12.0},
        {"own start", false, 3, 0, 0.0},
        {"own start, return to end", true, 3, 0, 0.0},
        {"standing still", true, 3, 3, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        setup.return_to_end = c.return_to_end;
        const TimeWindowConstraintChecker checker = setup.Build();
        EXPECT_EQ(checker.TravelTime(c.from, c.to, 0), c.expected);
    }
    TimeWindowConstraintChecker no_graph;
    no_graph.Init(nullptr, setup.nodes, setup.agents);
    EXPECT_EQ(no_graph.TravelTime(1, 3, 0), 0.0);
    EXPECT_EQ(no_graph.GetName(), "TimeConstraintChecker");
}

// ---------------------------------------------------------------------------------
// The checker word for word, with the hash containers and copying graph reads the
// rules are stated in. The fast checker must agree with it bit for bit.
struct LiteralChecker {
    const PlannerGraph* graph = nullptr;
    std::vector<NodeEntry> nodes;
    std::vector<AgentEntry> agents;
    TimeWindowTable windows;
    std::vector<std::uint64_t> starts, ends;
    std::unordered_set<std::uint64_t> start_set, end_set;
    bool return_to_end = false;

    bool Pass(std::uint64_t x, double a, double& out) const {
        const auto it = windows.find(x);
        if (it == windows.end()) {
            out = a;
            return true;
        }
        if (a > it->second.second) return false;
        out = std::max(it->second.first, a);
        return true;
    }
    bool CanServe(std::uint64_t k, std::uint64_t v) const {
        const auto& allowed = nodes[v].allowed_types;
        if (allowed.empty() ||
            std::find(allowed.begin(), allowed.end(), agents[k].type) == allowed.end()) {
            return false;
        }
        if (!ends.empty() && end_set.count(v) != 0 && v != ends[k]) return false;
        if (!starts.empty() && start_set.count(v) != 0) return v == starts[k];
        return true;
    }
    double TravelTime(std::uint64_t u, std::uint64_t v, std::uint64_t k) const {
        if (graph == nullptr || u == v) return 0.0;
        if (!starts.empty() && v == starts[k]) return 0.0;
        if (!return_to_end && !ends.empty() && v == ends[k]) return 0.0;
        const CostVector costs = graph->GetArcCost(u, v);
        if (costs.empty()) return 0.0;
        return costs[static_cast<std::size_t>(agents[k].type)];
    }
    ArrivalCheck CheckArrival(const SearchNode& s, std::uint64_t k, std::uint64_t v) const {
        const ArrivalCheck refused{false, 0.0, false};
        const std::uint64_t u = s.current_vertex[k];
        const double t = s.cost[k];
        const std::uint64_t n = nodes.size();
        double big_t = 0.0;
        if (!Pass(v, t, big_t)) return refused;
        if (graph != nullptr) {
            const double base = t - TravelTime(u, v, k);
            for (std::uint64_t i = 0; i < n; ++i) {
                if (i == v || i == u || s.visited.Test(i) || !CanServe(k, i)) continue;
                if (!starts.empty() && i == starts[k]) continue;
                if (!return_to_end && !ends.empty() && i == ends[k]) continue;
                double a = 0.0, b = 0.0, c = 0.0;
                if (!Pass(i, base + TravelTime(u, i, k), a)) continue;
                if (!Pass(v, a + TravelTime(i, v, k), b)) continue;
                if (b > big_t) continue;
                if (!Pass(i, big_t + TravelTime(v, i, k), c)) return refused;
                if (c > b) return refused;
            }
            for (std::uint64_t j = 0; j < n; ++j) {
                if (s.visited.Test(j)) continue;
                if (agents.empty()) return refused;
                bool reached = false;
                for (std::uint64_t m = 0; m < agents.size() && !reached; ++m) {
                    if (!ends.empty() && s.closed[m] != 0) continue;
                    if (!CanServe(m, j)) continue;
                    const std::uint64_t pos = m == k ? v : s.current_vertex[m];
                    const double time = m == k ? big_t : s.cost[m];
                    const double r = time + TravelTime(pos, j, m);
                    const auto w = windows.find(j);
                    if (w != windows.end() && r > w->second.second) continue;
                    reached = true;
                }
                if (!reached) return refused;
            }
        }
        if (big_t == t) return ArrivalCheck{true, 0.0, false};
        return ArrivalCheck{true, big_t, true};
    }
};

TEST(TimeWindowConstraintCheckerTest, AgreesWithTheLiteralRulesOnRandomInstances) {
    std::mt19937_64 rng(20240611);
    auto uniform = [&rng](double lo, double hi) {
        return std::uniform_real_distribution<double>(lo, hi)(rng);
    };
    auto chance = [&rng](double p) { return std::bernoulli_distribution(p)(rng); };
    auto pick = [&rng](std::uint64_t n) {
        return std::uniform_int_distribution<std::uint64_t>(0, n - 1)(rng);
    };
    // Integer times make the ties of the "greater than" tests common; a few arbitrary
    // doubles check that the arithmetic runs in the same order.
    auto time_value = [&](double lo, double hi) {
        const double x = uniform(lo, hi);
        return chance(0.7) ? std::floor(x) : x;
    };

    int feasible = 0, waited = 0, refused = 0;
    for (int round = 0; round < 3000; ++round) {
        const std::uint64_t n = 1 + pick(9);
        const std::uint64_t dim = 1 + pick(3);
        const std::uint64_t num_agents = 1 + pick(4);
        WindowInstance setup;
        setup.graph = MakeCompleteGraph(n, dim, [&](std::uint64_t, std::uint64_t, std::uint64_t) {
            return time_value(0.0, 15.0);
        });
        setup.nodes = MakeNodes(n, {});
        for (NodeEntry& node : setup.nodes) {
            for (std::int64_t t = 0; t < static_cast<std::int64_t>(dim); ++t) {
                if (chance(0.8)) node.allowed_types.push_back(t);
            }
        }
        for (std::uint64_t k = 0; k < num_agents; ++k) {
            setup.agents.push_back(MakeAgent(static_cast<std::int64_t>(pick(dim))));
        }
        if (chance(0.8)) {
            for (std::uint64_t k = 0; k < num_agents; ++k) setup.starts.push_back(pick(n));
        }
        if (chance(0.8)) {
            for (std::uint64_t k = 0; k < num_agents; ++k) setup.ends.push_back(pick(n));
        }
        for (std::uint64_t v = 0; v < n; ++v) {
            if (chance(0.5)) {
                const double start = time_value(0.0, 30.0);
                setup.windows[v] = {start, start + time_value(0.0, 40.0)};
            }
        }
        setup.return_to_end = chance(0.5);
        const bool with_graph = chance(0.9);

        // The setters may come before or after Init, in any order.
        TimeWindowConstraintChecker fast;
        if (chance(0.5)) {
            fast.SetStartVertices(setup.starts);
            fast.SetReturnToEnd(setup.return_to_end);
            fast.SetTimeWindows(setup.windows);
            fast.SetEndVertices(setup.ends);
            fast.Init(with_graph ? setup.graph.get() : nullptr, setup.nodes, setup.agents);
        } else {
            fast.Init(with_graph ? setup.graph.get() : nullptr, setup.nodes, setup.agents);
            fast.SetEndVertices(setup.ends);
            fast.SetTimeWindows(setup.windows);
            fast.SetStartVertices(setup.starts);
            fast.SetReturnToEnd(setup.return_to_end);
        }
        LiteralChecker slow;
        slow.graph = with_graph ? setup.graph.get() : nullptr;
        slow.nodes = setup.nodes;
        slow.agents = setup.agents;
        slow.windows = setup.windows;
        slow.starts = setup.starts;
        slow.ends = setup.ends;
        slow.start_set.insert(setup.starts.begin(), setup.starts.end());
        slow.end_set.insert(setup.ends.begin(), setup.ends.end());
        slow.return_to_end = setup.return_to_end;

        for (std::uint64_t k = 0; k < num_agents; ++k) {
            for (std::uint64_t u = 0; u < n; ++u) {
                ASSERT_EQ(fast.CanServe(k, u), slow.CanServe(k, u)) << "round " << round;
                for (std::uint64_t v = 0; v < n; ++v) {
                    ASSERT_EQ(fast.TravelTime(u, v, k), slow.TravelTime(u, v, k))
                        << "round " << round;
                }
            }
        }
        for (int trial = 0; trial < 8; ++trial) {
            std::vector<std::uint64_t> positions;
            std::vector<double> costs;
            std::vector<std::uint8_t> closed;
            for (std::uint64_t k = 0; k < num_agents; ++k) {
                positions.push_back(pick(n));
                costs.push_back(time_value(0.0, 40.0));
                closed.push_back(chance(0.3) ? 1 : 0);
            }
            std::vector<std::uint64_t> visited;
            for (std::uint64_t v = 0; v < n; ++v) {
                if (chance(0.6)) visited.push_back(v);
            }
            const std::uint64_t agent = pick(num_agents);
            const std::uint64_t target = pick(n);
            // The search always marks the target visited; the rules must not rely on it.
            if (chance(0.8)) visited.push_back(target);
            closed[agent] = 0;
            const SearchNode state =
                MakeState(positions, costs, visited, static_cast<std::int32_t>(n), closed);
            const ArrivalCheck want = slow.CheckArrival(state, agent, target);
            const ArrivalCheck got = fast.CheckArrival(state, agent, target);
            ASSERT_EQ(got.feasible, want.feasible) << "round " << round << " trial " << trial;
            ASSERT_EQ(got.time, want.time) << "round " << round << " trial " << trial;
            ASSERT_EQ(got.time_changed, want.time_changed) << "round " << round;
            if (!want.feasible) {
                ++refused;
            } else if (want.time_changed) {
                ++waited;
            } else {
                ++feasible;
            }
        }
    }
    // Every outcome must have been exercised often for the agreement to mean much.
    EXPECT_GT(refused, 1000);
    EXPECT_GT(waited, 1000);
    EXPECT_GT(feasible, 1000);
}

}  // namespace
}  // namespace vornik
