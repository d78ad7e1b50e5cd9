#include <gtest/gtest.h>

#include "core/Problem.h"

namespace vornik {
namespace {

Agent MakeAgent(std::uint64_t id, const std::string& type) {
    Agent agent;
    agent.id = id;
    agent.type = type;
    return agent;
}

TEST(ProblemTest, TypeIndicesFollowFirstAppearance) {
    // Types named b, a, b in that order: b is seen first (index 0), a second (index 1).
    Problem problem;
    problem.AddAgent(MakeAgent(0, "b"), 0);
    problem.AddAgent(MakeAgent(1, "a"), 1);
    problem.AddAgent(MakeAgent(2, "b"), 2);
    EXPECT_EQ(problem.type_index_of.at("b"), 0u);
    EXPECT_EQ(problem.type_index_of.at("a"), 1u);
    EXPECT_EQ(problem.agent_type_of.at(1), 1u);
    EXPECT_EQ(problem.agents_ordered.size(), 3u);
}

TEST(ProblemTest, DuplicateAgentIdsKeepBothAgentsAndTheLaterType) {
    Problem problem;
    problem.AddAgent(MakeAgent(7, "truck"), 7);
    problem.AddAgent(MakeAgent(7, "drone"), 7);
    ASSERT_EQ(problem.agents_ordered.size(), 2u);
    EXPECT_EQ(problem.agent_type_of.at(7), problem.type_index_of.at("drone"));
}

TEST(ProblemTest, EmptyTypeNameIsAnOrdinaryType) {
    Problem problem;
    problem.AddAgent(MakeAgent(0, "x"), 0);
    problem.AddAgent(MakeAgent(1, ""), 1);
    EXPECT_EQ(problem.type_index_of.at(""), 1u);
}

TEST(ProblemTest, SetAssignmentReplacesInsteadOfMerging) {
    AssignmentConstraint constraint;
    constraint.SetAssignment(3, {"a", "b"});
    constraint.SetAssignment(3, {"c"});
    EXPECT_EQ(constraint.types_by_node.at(3), std::vector<std::string>{"c"});
}

TEST(ProblemTest, DefaultsMatchTheDocumentedValues) {
    const Problem problem;
    EXPECT_TRUE(problem.options.return_to_end);
    EXPECT_EQ(problem.options.objective, ObjectiveType::MinSum);
    EXPECT_DOUBLE_EQ(problem.options.time_limit, 60.0);
    const Node node;
    EXPECT_EQ(node.type, NodeType::TARGET);
    EXPECT_DOUBLE_EQ(node.demand, 0.0);
}

}  // namespace
}  // namespace vornik
