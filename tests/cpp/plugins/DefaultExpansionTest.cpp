#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "plugins/DefaultExpansion.h"

namespace vornik {
namespace {

SearchNode MakeNode(const std::vector<double>& costs, const std::vector<std::uint8_t>& closed) {
    SearchNode node;
    node.cost = costs;
    node.closed = closed;
    node.current_vertex.assign(costs.size(), 0);
    return node;
}

struct SelectCase {
    const char* name;
    std::size_t configured;  // length of the end-vertex list given to Init
    std::vector<double> costs;
    std::vector<std::uint8_t> closed;
    std::int64_t expected;
};

class DefaultExpansionTest : public testing::TestWithParam<SelectCase> {};

TEST_P(DefaultExpansionTest, SelectsCheapestOpenAgent) {
    const SelectCase& c = GetParam();
    DefaultExpansion expansion;
    expansion.Init(std::vector<std::uint64_t>(c.configured, 0));
    EXPECT_EQ(expansion.SelectAgent(MakeNode(c.costs, c.closed)), c.expected);
}

constexpr double kMax = std::numeric_limits<double>::max();

INSTANTIATE_TEST_SUITE_P(
    Cases, DefaultExpansionTest,
    testing::Values(
        // 2.0 at index 1 and 2: the lower index wins the tie.
        SelectCase{"TieGoesToLowerIndex", 3, {3.0, 2.0, 2.0}, {0, 0, 0}, 1},
        SelectCase{"AllClosed", 3, {3.0, 2.0, 2.0}, {1, 1, 1}, -1},
        SelectCase{"ClosedCheapestSkipped", 3, {3.0, 1.0, 2.0}, {0, 1, 0}, 2},
        SelectCase{"NoAgentsConfigured", 0, {1.0}, {0}, -1},
        // Only the first agent is configured, so the cheaper second one is not seen.
        SelectCase{"ReadsOnlyConfiguredAgents", 1, {3.0, 1.0}, {0, 0}, 0},
        // A cost not below the start value can never be selected.
        SelectCase{"LargestDoubleNeverSelected", 2, {kMax, kMax}, {0, 0}, -1}),
    [](const testing::TestParamInfo<SelectCase>& param_info) { return param_info.param.name; });

TEST(DefaultExpansionNameTest, Name) {
    EXPECT_EQ(DefaultExpansion().GetName(), "DefaultExpansion");
}

}  // namespace
}  // namespace vornik
