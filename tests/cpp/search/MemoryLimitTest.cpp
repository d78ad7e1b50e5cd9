#include <gtest/gtest.h>
#include <malloc.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <random>
#include <string>

#include "plugins/PostOptimizerPlugin.h"
#include "search/MemoryBudget.h"
#include "search/Solver.h"
#include "search/SolverTestSupport.h"

namespace vornik {
namespace {

using testing_support::EuclideanMatrix;
using testing_support::ExpectValidSolution;
using testing_support::MakeAgent;
using testing_support::MakeNode;

// Random Euclidean min-max instance with `m` agents on depot 0; searches on it find
// several solutions early and then run on for as long as they are let.
Problem RandomInstance(int n, int m, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> coord(0.0, 1000.0);
    Problem problem;
    for (int i = 0; i < n; ++i) problem.AddNode(MakeNode(i, coord(rng), coord(rng)));
    for (int a = 0; a < m; ++a) problem.AddAgent(MakeAgent(a, "a", 0, 0), a);
    problem.SetCostMatrix("a", EuclideanMatrix(problem.nodes));
    AssignmentConstraint allowed;
    for (int i = 0; i < n; ++i) allowed.SetAssignment(i, {"a"});
    problem.SetAssignmentConstraint(allowed);
    problem.options.objective = ObjectiveType::MinMax;
    problem.options.time_limit = 1000.0;
    return problem;
}

// `agents` agents of distinct types on a line of `n` nodes, without cost matrices.
Problem ManyTypes(int n, int agents) {
    Problem problem;
    for (int i = 0; i < n; ++i) problem.AddNode(MakeNode(i, i));
    for (int a = 0; a < agents; ++a) {
        problem.AddAgent(MakeAgent(a, "type" + std::to_string(a), 0, 0), a);
    }
    return problem;
}

// Stops the search at its `polls`-th poll, which comes after a fixed number of pops.
void StopAfterPolls(Solver& solver, int polls) {
    auto count = std::make_shared<int>(0);
    solver.SetShouldStop([count, polls] { return ++*count >= polls; });
}

std::size_t HeapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

TEST(MemoryLimitTest, LimitEndsTheSearchAsATimeoutAndKeepsItsSolutions) {
    const Problem problem = RandomInstance(30, 3, 7);
    // The same search without a limit that matters, stopped after many more pops.
    Solver free_solver(problem, problem.options);
    StopAfterPolls(free_solver, 600);
    ASSERT_TRUE(free_solver.Solve());
    const Result free_result = free_solver.GetResult();
    const auto free_records = free_solver.GetResultProcess();

    const MemoryEstimate estimate = EstimateMemory(problem);
    const std::size_t limit = estimate.table_bytes + (std::size_t{2} << 20);
    Solver solver(problem, problem.options, limit);
    StopAfterPolls(solver, 600);
    testing::internal::CaptureStderr();
    ASSERT_TRUE(solver.Solve());
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, std::string(kMemoryLimitLine) + "\n");
    EXPECT_TRUE(solver.MemoryEnded());
    EXPECT_FALSE(solver.Interrupted());

    const Result result = solver.GetResult();
    EXPECT_TRUE(result.timeout);
    ExpectValidSolution(problem, result);
    // Until the limit stopped it, the search was the unlimited one: its solutions are a
    // prefix of that search's, and it generated fewer nodes.
    const auto records = solver.GetResultProcess();
    ASSERT_FALSE(records.empty());
    ASSERT_LE(records.size(), free_records.size());
    for (std::size_t k = 0; k < records.size(); ++k) {
        EXPECT_EQ(records[k].result.paths, free_records[k].result.paths);
        EXPECT_EQ(records[k].result.times, free_records[k].result.times);
    }
    EXPECT_LT(result.n_generated, free_result.n_generated);
    EXPECT_EQ(result.paths, records.back().result.paths);
}

TEST(MemoryLimitTest, LimitBeforeAnySolutionEndsWithoutOne) {
    // Far too little room for a search of 60 nodes and 6 agents to reach a goal.
    const Problem problem = RandomInstance(60, 6, 3);
    const MemoryEstimate estimate = EstimateMemory(problem);
    Solver solver(problem, problem.options,
                  estimate.table_bytes + kMinSearchNodes * estimate.bytes_per_node);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(solver.Solve());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), std::string(kMemoryLimitLine) + "\n");
    EXPECT_TRUE(solver.GetResult().timeout);
    EXPECT_TRUE(solver.GetResult().paths.empty());
}

// Runs out of memory at the `fail_at`-th new node, as the system would.
class FailingProbe final : public SearchProbe {
public:
    explicit FailingProbe(std::int64_t fail_at) : fail_at_(fail_at) {}
    void BeforeNewNode(std::int64_t id) override {
        if (id == fail_at_) throw std::bad_alloc();
    }

private:
    std::int64_t fail_at_;
};

class FailingSolver : public Solver {
public:
    FailingSolver(const Problem& problem, std::int64_t fail_at) : Solver(problem, problem.options) {
        SetProbe(std::make_unique<FailingProbe>(fail_at));
    }
};

TEST(MemoryLimitTest, OutOfMemoryAfterASolutionKeepsIt) {
    const Problem problem = RandomInstance(30, 3, 7);
    // A short search that found a solution: the long one has found it too by the time it
    // generated that many nodes, and fails later.
    Solver reference(problem, problem.options);
    StopAfterPolls(reference, 100);
    ASSERT_TRUE(reference.Solve());
    FailingSolver solver(problem, reference.GetResult().n_generated + 5000);
    testing::internal::CaptureStderr();
    ASSERT_TRUE(solver.Solve());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), std::string(kOutOfMemoryLine) + "\n");
    const Result result = solver.GetResult();
    EXPECT_TRUE(result.timeout);
    ExpectValidSolution(problem, result);
    EXPECT_EQ(result.paths, solver.GetResultProcess().back().result.paths);
}

TEST(MemoryLimitTest, OutOfMemoryBeforeAnySolutionNamesTheInstance) {
    const Problem problem = RandomInstance(30, 3, 7);
    FailingSolver solver(problem, 50);
    try {
        solver.Solve();
        FAIL() << "expected OutOfMemoryError";
    } catch (const OutOfMemoryError& error) {
        const std::string message = error.what();
        EXPECT_NE(message.find("30 nodes, 3 agents, 1 agent types"), std::string::npos) << message;
        EXPECT_NE(message.find("50 generated nodes"), std::string::npos) << message;
    }
}

// Takes the routes away, then runs out of memory, while improving the first solution.
class FailingPostOptimizer final : public PostOptimizerPlugin {
public:
    std::string GetName() const override { return "FailingPostOptimizer"; }
    void Optimize(const PlannerGraph*, const std::vector<NodeEntry>&,
                  const std::vector<AgentEntry>&, Result& result) override {
        result.paths.clear();
        throw std::bad_alloc();
    }
    void SetReturnToEnd(bool) override {}
    void SetStartVertices(const std::vector<std::uint64_t>&) override {}
    void SetEndVertices(const std::vector<std::uint64_t>&) override {}
    void SetTimeWindows(const TimeWindowTable&) override {}
    void SetStopCheck(std::function<bool()>) override {}
};

class PostOptimizerFailingSolver : public Solver {
public:
    explicit PostOptimizerFailingSolver(const Problem& problem) : Solver(problem, problem.options) {
        SetPostOptimizer(std::make_unique<FailingPostOptimizer>());
    }
};

TEST(MemoryLimitTest, OutOfMemoryWhileImprovingKeepsTheSolutionAsFound) {
    const Problem problem = RandomInstance(30, 3, 7);
    PostOptimizerFailingSolver solver(problem);
    testing::internal::CaptureStderr();
    ASSERT_TRUE(solver.Solve());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), std::string(kOutOfMemoryLine) + "\n");
    // The solution as found is the one record, and the result.
    const auto records = solver.GetResultProcess();
    ASSERT_EQ(records.size(), 1u);
    const Result result = solver.GetResult();
    EXPECT_EQ(result.paths, records.back().result.paths);
    ExpectValidSolution(problem, result);
}

TEST(MemoryLimitTest, InstancesThatCannotFitAreRefusedBeforeBuilding) {
    // 256 nodes and 2000 agent types: 65,536 pairs with 2000 costs each, about 1 GB,
    // refused under a 1000 MB limit without allocating it.
    const Problem problem = ManyTypes(256, 2000);
    const MemoryEstimate estimate = EstimateMemory(problem);
    EXPECT_GT(estimate.table_bytes, std::size_t{1000} << 20);
    const std::size_t before = HeapInUse();
    try {
        Solver solver(problem, problem.options, std::size_t{1000} << 20);
        FAIL() << "expected std::invalid_argument";
    } catch (const std::invalid_argument& error) {
        const std::string message = error.what();
        EXPECT_NE(message.find("256 nodes, 2000 agents, 2000 agent types"), std::string::npos)
            << message;
        EXPECT_NE(message.find("memory limit of 1000 MB"), std::string::npos) << message;
    }
    EXPECT_LT(HeapInUse(), before + (std::size_t{16} << 20));
    // The Solver's own search limit is checked the same way.
    Problem small = RandomInstance(10, 2, 1);
    Solver solver(small, small.options);
    EXPECT_THROW(solver.SetMemoryLimit(1000), std::invalid_argument);
}

#if !defined(__SANITIZE_ADDRESS__)
TEST(MemoryLimitTest, EstimateBoundsWhatBuildingTakes) {
    struct Case {
        const char* name;
        Problem problem;
    };
    Problem windows = RandomInstance(120, 4, 5);
    TimeWindowConstraint constraint;
    for (int i = 1; i < 120; i += 3) constraint.SetTimewindow(i, 0.0, 1e6);
    windows.SetTimewindowConstraint(constraint);
    const Case cases[] = {
        {"one type", RandomInstance(200, 5, 2)},
        {"many types", ManyTypes(100, 300)},
        {"windows", windows},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const MemoryEstimate estimate = EstimateMemory(c.problem);
        const std::size_t before = HeapInUse();
        Solver solver(c.problem, c.problem.options);
        const std::size_t built = HeapInUse() - before;
        // An upper bound, and not a loose one.
        EXPECT_LE(built, estimate.table_bytes);
        EXPECT_GE(built, estimate.table_bytes / 2);
    }
}
#endif

TEST(MemoryLimitTest, LimitsInMegabytes) {
    EXPECT_EQ(MemoryLimitFromMb(1.5), std::size_t{1572864});
    for (double bad : {0.0, -1.0, std::nan(""), HUGE_VAL}) {
        EXPECT_THROW((void)MemoryLimitFromMb(bad), std::invalid_argument);
    }
    const std::size_t fallback = DefaultMemoryLimitBytes();
    EXPECT_GT(fallback, 0u);
    EXPECT_LE(fallback, std::size_t{4} << 30);
}

}  // namespace
}  // namespace vornik
