#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/AllowedTypes.h"

namespace vornik {
namespace {

// A problem whose agent types are numbered in the order of `types`.
Problem MakeProblemWithTypes(const std::vector<std::string>& types) {
    Problem problem;
    for (std::uint64_t i = 0; i < types.size(); ++i) {
        Agent agent;
        agent.id = i;
        agent.type = types[i];
        problem.AddAgent(agent, i);
    }
    return problem;
}

struct AllowedCase {
    const char* name;
    std::vector<std::string> listed;  // the node's assignment entry
    std::vector<std::int64_t> expected;
};

TEST(AllowedTypesTest, ListedNodesGetTheKnownTypesSortedOnceWithoutWarning) {
    // Types: truck = 0, drone = 1, boat = 2.
    const std::vector<AllowedCase> cases = {
        {"unknown name dropped", {"truck", "plane"}, {0}},
        {"duplicate kept once", {"drone", "drone"}, {1}},
        {"sorted ascending", {"boat", "truck", "drone"}, {0, 1, 2}},
        {"only unknown names admit nobody", {"plane"}, {}},
        {"empty list admits nobody", {}, {}},
    };
    for (const AllowedCase& c : cases) {
        SCOPED_TRACE(c.name);
        Problem problem = MakeProblemWithTypes({"truck", "drone", "boat"});
        problem.assignment_constraint.SetAssignment(7, c.listed);
        testing::internal::CaptureStderr();
        const std::vector<std::int64_t> allowed = BuildAllowedTypes(problem, 7);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(allowed, c.expected);
    }
}

TEST(AllowedTypesTest, UnlistedNodeAllowsEveryTypeAndWarnsOnce) {
    Problem problem = MakeProblemWithTypes({"a", "b", "c"});
    problem.assignment_constraint.SetAssignment(1, {"a"});
    testing::internal::CaptureStderr();
    const std::vector<std::int64_t> allowed = BuildAllowedTypes(problem, 18446744073709551615u);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "[warning] node 18446744073709551615 has no assignment constraint; allowing all "
              "types\n");
    EXPECT_EQ(allowed, (std::vector<std::int64_t>{0, 1, 2}));
}

TEST(AllowedTypesTest, UnlistedNodeWithoutAnyAgentTypeAdmitsNobody) {
    Problem problem;
    testing::internal::CaptureStderr();
    EXPECT_TRUE(BuildAllowedTypes(problem, 3).empty());
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "[warning] node 3 has no assignment constraint; allowing all types\n");
}

}  // namespace
}  // namespace vornik
