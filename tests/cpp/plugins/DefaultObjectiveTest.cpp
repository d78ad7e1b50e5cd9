#include <gtest/gtest.h>

#include <vector>

#include "plugins/DefaultObjective.h"
#include "plugins/MinSumObjective.h"

namespace vornik {
namespace {

SearchNode MakeNode(const std::vector<double>& costs, const std::vector<std::uint8_t>& closed) {
    SearchNode node;
    node.cost = costs;
    node.closed = closed;
    node.current_vertex.assign(costs.size(), 0);
    return node;
}

TEST(DefaultObjectiveTest, AggregateIsLargestElement) {
    const DefaultObjective objective;
    EXPECT_EQ(objective.Aggregate({}), 0.0);
    EXPECT_EQ(objective.Aggregate({4.0, 1.0, 7.5}), 7.5);
    // The largest element, not a maximum clamped at 0.
    EXPECT_EQ(objective.Aggregate({-3.0, -1.0}), -1.0);
}

TEST(DefaultObjectiveTest, EstimateSharesRemainingWorkAmongOpenAgents) {
    const DefaultObjective objective;
    const SearchNode both_open = MakeNode({4.0, 1.0}, {0, 0});
    // max(4, (5 + 4 + 1) / 2) = 5
    EXPECT_EQ(objective.Estimate(both_open, 2, 5.0), 5.0);
    // No open agents: just the makespan 4.
    EXPECT_EQ(objective.Estimate(both_open, 0, 5.0), 4.0);
    EXPECT_EQ(objective.Estimate(both_open, -1, 5.0), 4.0);
    // max(4, (1 + 4 + 1) / 2) = 4: the makespan bounds.
    EXPECT_EQ(objective.Estimate(both_open, 2, 1.0), 4.0);
    // Agent 0 closed: only agent 1's clock counts, max(4, (8 + 1) / 1) = 9.
    EXPECT_EQ(objective.Estimate(MakeNode({4.0, 1.0}, {1, 0}), 1, 8.0), 9.0);
}

// Estimate goes through the virtual Aggregate, so a subclass changes both.
class ConstantAggregate final : public DefaultObjective {
public:
    double Aggregate(const std::vector<double>& /*costs*/) const override { return 100.0; }
};

TEST(DefaultObjectiveTest, EstimateUsesOverriddenAggregate) {
    const ConstantAggregate objective;
    const SearchNode node = MakeNode({4.0, 1.0}, {0, 0});
    EXPECT_EQ(objective.Estimate(node, 0, 5.0), 100.0);
    EXPECT_EQ(objective.Estimate(node, 2, 5.0), 100.0);
}

TEST(MinSumObjectiveTest, AggregateIsSumAndEstimateAddsH) {
    const MinSumObjective objective;
    EXPECT_EQ(objective.Aggregate({}), 0.0);
    EXPECT_EQ(objective.Aggregate({4.0, 1.0, 0.5}), 5.5);
    const SearchNode node = MakeNode({4.0, 1.0}, {0, 1});
    // 4 + 1 + 5 = 10 whatever the open count says.
    for (std::int64_t m : {-1, 0, 1, 2, 7}) EXPECT_EQ(objective.Estimate(node, m, 5.0), 10.0);
}

TEST(ObjectiveNamesTest, Names) {
    EXPECT_EQ(DefaultObjective().GetName(), "DefaultObjective");
    EXPECT_EQ(MinSumObjective().GetName(), "MinSumObjective");
    DefaultObjective objective;
    objective.Init({3, 4});
    EXPECT_EQ(objective.EndVertices(), (std::vector<std::uint64_t>{3, 4}));
}

}  // namespace
}  // namespace vornik
