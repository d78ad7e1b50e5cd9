#include <gtest/gtest.h>

#include "plugins/TimeLimitConstraintChecker.h"
#include "tests/cpp/plugins/CheckerTestSupport.h"

namespace vornik {
namespace {

using checker_testing::MakeAgent;
using checker_testing::MakeNodes;
using checker_testing::MakeState;

TEST(TimeLimitConstraintCheckerTest, RefusesOnlyCostsBeyondAPositiveLimit) {
    struct Case {
        const char* name;
        double limit, cost;
        bool accepted;
    };
    const Case cases[] = {
        {"limit met exactly", 100.0, 100.0, true},
        {"half a unit over", 100.0, 100.5, false},
        {"zero limit is no limit", 0.0, 1e9, true},
        {"negative limit is no limit", -5.0, 1e9, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TimeLimitConstraintChecker checker;
        // Agent 0 is unlimited; the limit under test belongs to agent 1.
        checker.Init(nullptr, MakeNodes(2, {0}), {MakeAgent(0), MakeAgent(0, c.limit)});
        const SearchNode state = MakeState({0, 1}, {1e9, c.cost}, {0, 1}, 2);
        EXPECT_EQ(checker.CheckAgent(state, 1), c.accepted);
        EXPECT_TRUE(checker.CheckAgent(state, 0));
        // The arrival test never refuses; the limit is checked after waiting was stored.
        const ArrivalCheck check = checker.CheckArrival(state, 1, 0);
        EXPECT_TRUE(check.feasible);
        EXPECT_FALSE(check.time_changed);
        EXPECT_EQ(check.time, 0.0);
    }
}

TEST(TimeLimitConstraintCheckerTest, AssignmentQuestionsGoToTheDefaultRules) {
    TimeLimitConstraintChecker checker;
    std::vector<NodeEntry> nodes = MakeNodes(2, {0});
    nodes[1].allowed_types = {1};
    checker.Init(nullptr, nodes, {MakeAgent(0, 10.0)});
    EXPECT_FALSE(checker.ViolatesAssignment(0, 0));
    EXPECT_TRUE(checker.ViolatesAssignment(0, 1));
    EXPECT_EQ(checker.GetName(), "TimeLimitConstraintChecker");
}

}  // namespace
}  // namespace vornik
