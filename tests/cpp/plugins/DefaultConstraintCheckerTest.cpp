#include <gtest/gtest.h>

#include "plugins/DefaultConstraintChecker.h"
#include "tests/cpp/plugins/CheckerTestSupport.h"

namespace vornik {
namespace {

using checker_testing::MakeAgent;
using checker_testing::MakeCompleteGraph;
using checker_testing::MakeNodes;
using checker_testing::MakeState;

double UnitCost(std::uint64_t, std::uint64_t, std::uint64_t) { return 1.0; }

TEST(DefaultConstraintCheckerTest, ViolatesAssignmentFollowsTheAllowedLists) {
    auto graph = MakeCompleteGraph(4, 2, UnitCost);
    std::vector<NodeEntry> nodes = MakeNodes(4, {0});
    nodes[1].allowed_types = {0, 1};
    nodes[2].allowed_types = {};
    nodes[3].allowed_types = {1};
    DefaultConstraintChecker checker;
    checker.Init(graph.get(), nodes, {MakeAgent(0), MakeAgent(1), MakeAgent(-1)});
    struct Case {
        std::uint64_t agent, vertex;
        bool violates;
    };
    const Case cases[] = {
        {0, 0, false},
        {1, 0, true},
        {0, 1, false},
        {1, 1, false},
        {0, 2, true},
        {1, 2, true},
        {0, 3, true},
        {1, 3, false},
        // An agent without a type is refused everywhere.
        {2, 0, true},
        {2, 1, true},
        {2, 3, true},
        // Outside the tables: refused rather than read out of bounds.
        {3, 0, true},
        {0, 4, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "agent " << c.agent << " vertex " << c.vertex);
        EXPECT_EQ(checker.ViolatesAssignment(c.agent, c.vertex), c.violates);
    }
    EXPECT_EQ(checker.GetName(), "DefaultConstraintChecker");
}

TEST(DefaultConstraintCheckerTest, ArrivalAndAgentAreAlwaysAccepted) {
    DefaultConstraintChecker checker;
    const SearchNode state = MakeState({0}, {12.5}, {0}, 1);
    const ArrivalCheck check = checker.CheckArrival(state, 0, 0);
    EXPECT_TRUE(check.feasible);
    EXPECT_EQ(check.time, 0.0);
    EXPECT_FALSE(check.time_changed);
    EXPECT_TRUE(checker.CheckAgent(state, 0));
}

struct DeadEndCase {
    const char* name;
    std::vector<std::int64_t> agent_types;
    std::vector<std::uint8_t> closed;
    std::vector<std::int64_t> allowed_at_2;  // vertex 2 stays unvisited
    bool dead_end;
};

TEST(DefaultConstraintCheckerTest, DeadEndWhenTypeZeroVertexIsLeftWithoutTypeZeroAgent) {
    const std::vector<DeadEndCase> cases = {
        {"open type-0 agent", {0, 1}, {0, 0}, {0}, false},
        {"open type-0 agent beside closed one", {0, 0}, {1, 0}, {0}, false},
        {"type-0 agents closed", {0, 1}, {1, 0}, {0}, true},
        {"no type-0 agent", {1}, {0}, {0}, true},
        {"shared vertex is no dead end", {0, 1}, {1, 0}, {0, 1}, false},
        {"type-1 vertex is never examined", {0}, {1}, {1}, false},
        {"empty agent table", {}, {}, {0}, true},
    };
    auto graph = MakeCompleteGraph(3, 2, UnitCost);
    for (const DeadEndCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<NodeEntry> nodes = MakeNodes(3, {0, 1});
        nodes[2].allowed_types = c.allowed_at_2;
        std::vector<AgentEntry> agents;
        std::vector<std::uint64_t> positions;
        std::vector<double> costs;
        for (const std::int64_t type : c.agent_types) {
            agents.push_back(MakeAgent(type));
            positions.push_back(0);
            costs.push_back(0.0);
        }
        DefaultConstraintChecker checker;
        checker.Init(graph.get(), nodes, agents);
        SearchNode state = MakeState(positions, costs, {0, 1}, 3, c.closed);
        EXPECT_EQ(checker.IsDeadEnd(state), c.dead_end);
        // Once vertex 2 is visited nothing is left to lose.
        state.visited.Set(2);
        EXPECT_FALSE(checker.IsDeadEnd(state));
    }
}

TEST(DefaultConstraintCheckerTest, DeadEndLooksAtEveryVertexUpToTheGraphSize) {
    // 200 vertices: the reserved vertex sits in the fourth word of the visited set.
    auto graph = MakeCompleteGraph(200, 1, UnitCost);
    std::vector<NodeEntry> nodes = MakeNodes(200, {0, 1});
    nodes[199].allowed_types = {0};
    DefaultConstraintChecker checker;
    checker.Init(graph.get(), nodes, {MakeAgent(1)});
    SearchNode state = MakeState({0}, {0.0}, {}, 200);
    for (std::uint64_t v = 0; v < 199; ++v) state.visited.Set(v);
    EXPECT_TRUE(checker.IsDeadEnd(state));
    state.visited.Set(199);
    EXPECT_FALSE(checker.IsDeadEnd(state));
    // Before Init there is no graph and nothing to examine.
    EXPECT_FALSE(DefaultConstraintChecker().IsDeadEnd(state));
}

}  // namespace
}  // namespace vornik
