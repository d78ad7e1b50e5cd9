#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <random>
#include <stdexcept>

#include "graph/SparseGraph.h"
#include "search/Solver.h"
#include "search/SolverTestSupport.h"

namespace vornik {
namespace {

using testing_support::BruteForceOptimum;
using testing_support::EuclideanMatrix;
using testing_support::ExpectValidSolution;
using testing_support::MakeAgent;
using testing_support::MakeLineProblem;
using testing_support::MakeNode;
using testing_support::MaxCost;
using testing_support::TestSolver;

struct SolveCase {
    const char* name;
    std::vector<double> xs;  // node positions on a line, node 0 is the depot
    int agents;
    bool return_to_end;
    ObjectiveType objective;
    double expected;  // optimal max (MinMax) or sum (MinSum) of route costs
};

class SolveOptimumTest : public ::testing::TestWithParam<SolveCase> {};

TEST_P(SolveOptimumTest, FindsTheHandComputedOptimum) {
    const SolveCase& c = GetParam();
    Problem problem = MakeLineProblem(c.xs, c.agents, c.return_to_end, c.objective);
    Solver solver(problem, problem.options);
    ASSERT_TRUE(solver.Solve());
    const Result result = solver.GetResult();
    ExpectValidSolution(problem, result);
    const double value =
        c.objective == ObjectiveType::MinMax ? MaxCost(result) : testing_support::SumCost(result);
    EXPECT_NEAR(value, c.expected, 1e-9);
    EXPECT_NEAR(value, BruteForceOptimum(problem), 1e-9);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, SolveOptimumTest,
    ::testing::Values(
        // One agent from 0 over 1, 2, 3 and back: 1 + 1 + 1 + 3 = 6.
        SolveCase{"tour", {0, 1, 2, 3}, 1, true, ObjectiveType::MinSum, 6.0},
        // Free return: 0 -> 1 -> 2 -> 3, then the closing move costs nothing: 3.
        SolveCase{"open_tour", {0, 1, 2, 3}, 1, false, ObjectiveType::MinSum, 3.0},
        // Two agents, one per side: 0 -> -1 -> -2 -> 0 is 1 + 1 + 2 = 4, likewise right.
        SolveCase{"split_sides", {0, -1, -2, 1, 2}, 2, true, ObjectiveType::MinMax, 4.0},
        // Unequal sides, free return: left 0 -> -3 = 3, right 0 -> 1 -> 2 = 2; max 3.
        SolveCase{"open_min_max", {0, -3, 1, 2}, 2, false, ObjectiveType::MinMax, 3.0}),
    [](const ::testing::TestParamInfo<SolveCase>& param_info) { return param_info.param.name; });

TEST(SolverTest, WindowForcesWaiting) {
    // Depot 0 at x = 0, target 1 at x = 2 with window [10, 20]: the agent arrives at 2,
    // waits until 10, and returns: 10 + 2 = 12.
    Problem problem = MakeLineProblem({0, 2}, 1, true, ObjectiveType::MinSum);
    TimeWindowConstraint windows;
    windows.SetTimewindow(1, 10.0, 20.0);
    problem.SetTimewindowConstraint(windows);
    Solver solver(problem, problem.options);
    ASSERT_TRUE(solver.Solve());
    const Result result = solver.GetResult();
    ExpectValidSolution(problem, result);
    EXPECT_DOUBLE_EQ(result.times.at(0), 12.0);
}

TEST(SolverTest, TimeLimitExcludesTheLongRoute) {
    // Targets at x = 5 and x = -5. Agent 0 may drive at most 10 (one round trip), so both
    // agents must each take one target: routes of 10 each.
    Problem problem = MakeLineProblem({0, 5, -5}, 2, true, ObjectiveType::MinSum);
    problem.agents_ordered[0].time_limit = 10.0;
    problem.agents_ordered[1].time_limit = 10.0;
    Solver solver(problem, problem.options);
    ASSERT_TRUE(solver.Solve());
    const Result result = solver.GetResult();
    ExpectValidSolution(problem, result);
    EXPECT_DOUBLE_EQ(result.times.at(0), 10.0);
    EXPECT_DOUBLE_EQ(result.times.at(1), 10.0);
}

TEST(SolverTest, TypeRestrictionsDecideWhoServes) {
    // Node 1 only for "car", node 2 only for "bike"; each agent takes its own.
    Problem problem;
    problem.AddNode(MakeNode(0, 0));
    problem.AddNode(MakeNode(1, 1));
    problem.AddNode(MakeNode(2, 2));
    problem.AddAgent(MakeAgent(0, "car", 0, 0), 0);
    problem.AddAgent(MakeAgent(1, "bike", 0, 0), 1);
    problem.SetCostMatrix("car", EuclideanMatrix(problem.nodes));
    problem.SetCostMatrix("bike", EuclideanMatrix(problem.nodes));
    AssignmentConstraint allowed;
    allowed.SetAssignment(0, {"car", "bike"});
    allowed.SetAssignment(1, {"car"});
    allowed.SetAssignment(2, {"bike"});
    problem.SetAssignmentConstraint(allowed);
    Solver solver(problem, problem.options);
    ASSERT_TRUE(solver.Solve());
    const Result result = solver.GetResult();
    ExpectValidSolution(problem, result);
    EXPECT_EQ(result.paths.at(0), (std::vector<std::int64_t>{0, 1, 0}));
    EXPECT_EQ(result.paths.at(1), (std::vector<std::int64_t>{0, 2, 0}));
}

TEST(SolverTest, CrossedDepotsWithFreeReturnHaveNoSolution) {
    // Agent 0 runs 0 -> 1, agent 1 runs 1 -> 0: neither may ever step on the other's
    // depot, so neither can close.
    Problem problem;
    problem.AddNode(MakeNode(0, 0));
    problem.AddNode(MakeNode(1, 1));
    problem.AddAgent(MakeAgent(0, "t", 0, 1), 0);
    problem.AddAgent(MakeAgent(1, "t", 1, 0), 1);
    problem.SetCostMatrix("t", EuclideanMatrix(problem.nodes));
    problem.options.return_to_end = false;
    testing::internal::CaptureStderr();
    Solver solver(problem, problem.options);
    EXPECT_FALSE(solver.Solve());
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(solver.GetResult().paths.empty());
}

TEST(SolverTest, EmptyInstanceIsSolvedAtTheRoot) {
    Problem problem;
    Solver solver(problem, problem.options);
    EXPECT_TRUE(solver.Solve());
    EXPECT_TRUE(solver.GetResult().paths.empty());
    EXPECT_EQ(solver.GetResult().n_generated, 1);
}

TEST(SolverTest, SecondSolveRepeatsTheFirst) {
    Problem problem = MakeLineProblem({0, 3, -1, 4, 7, -6}, 2, true, ObjectiveType::MinMax);
    Solver solver(problem, problem.options);
    ASSERT_TRUE(solver.Solve());
    const Result first = solver.GetResult();
    const auto first_process = solver.GetResultProcess();
    ASSERT_TRUE(solver.Solve());
    const Result second = solver.GetResult();
    EXPECT_EQ(first.paths, second.paths);
    EXPECT_EQ(first.times, second.times);
    EXPECT_EQ(first.n_generated, second.n_generated);
    EXPECT_EQ(first.n_expanded, second.n_expanded);
    EXPECT_EQ(first_process.size(), solver.GetResultProcess().size());
}

TEST(SolverTest, HooksGivenToOneSolveServeThatSolveOnly) {
    Problem problem = MakeLineProblem({0, 3, -1, 4, 7, -6}, 2, true, ObjectiveType::MinMax);
    Solver solver(problem, problem.options);
    int kept_reports = 0;
    solver.SetOnSolution([&](double, double, double) { ++kept_reports; });
    int given_reports = 0;
    {
        SearchHooks hooks;
        hooks.on_solution = [&](double, double, double) { ++given_reports; };
        ASSERT_TRUE(solver.Solve(hooks));
    }
    EXPECT_GT(given_reports, 0);
    EXPECT_EQ(kept_reports, 0);
    EXPECT_FALSE(solver.Interrupted());
    // The hooks set on the Solver serve the next plain Solve, as they always did.
    ASSERT_TRUE(solver.Solve());
    EXPECT_EQ(kept_reports, given_reports);
    // A stop request given to one call ends that call, as a time-out would.
    SearchHooks stop;
    stop.should_stop = [] { return true; };
    solver.Solve(stop);
    EXPECT_TRUE(solver.Interrupted());
    EXPECT_TRUE(solver.GetResult().timeout);
}

TEST(SolverTest, AnytimeRecordsComeInPairsAndTheLastMatchesTheResult) {
    Problem problem = MakeLineProblem({0, 3, -1, 4, 7, -6, 2}, 3, true, ObjectiveType::MinMax);
    Solver solver(problem, problem.options);
    ASSERT_TRUE(solver.Solve());
    const auto records = solver.GetResultProcess();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.size() % 2, 0u);
    EXPECT_EQ(records.back().result.times, solver.GetResult().times);
    for (std::size_t i = 1; i < records.size(); ++i) {
        EXPECT_LE(records[i - 1].time, records[i].time);
    }
    EXPECT_DOUBLE_EQ(solver.GetResult().last_update_time, records.back().time);
}

struct RejectCase {
    const char* name;
    std::function<void(Problem&)> spoil;
    bool out_of_range;  // else invalid_argument
    const char* message_part;
};

class SolverRejectTest : public ::testing::TestWithParam<RejectCase> {};

TEST_P(SolverRejectTest, RefusesInstancesItCannotRepresent) {
    Problem problem = MakeLineProblem({0, 1, 2}, 1, true, ObjectiveType::MinSum);
    GetParam().spoil(problem);
    try {
        Solver solver(problem, problem.options);
        FAIL() << "no exception";
    } catch (const std::out_of_range& error) {
        EXPECT_TRUE(GetParam().out_of_range) << error.what();
        EXPECT_EQ(std::string(error.what()).rfind("_Map_base::at", 0), 0u) << error.what();
        EXPECT_NE(std::string(error.what()).find(GetParam().message_part), std::string::npos)
            << error.what();
    } catch (const std::invalid_argument& error) {
        EXPECT_FALSE(GetParam().out_of_range) << error.what();
        EXPECT_NE(std::string(error.what()).find(GetParam().message_part), std::string::npos)
            << error.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Instances, SolverRejectTest,
    ::testing::Values(
        RejectCase{"unknown_start", [](Problem& p) { p.agents_ordered[0].start_node = 42; }, true,
                   "start_node 42"},
        RejectCase{"unknown_end", [](Problem& p) { p.agents_ordered[0].end_node = 7; }, true,
                   "end_node 7"},
        RejectCase{"matrix_of_unknown_type", [](Problem& p) { p.SetCostMatrix("ghost", {{0.0}}); },
                   true, "'ghost'"},
        RejectCase{"too_many_rows",
                   [](Problem& p) {
                       p.cost_matrices["t"].push_back({1.0, 2.0, 3.0});
                   },
                   false, "4 rows for 3 nodes"},
        RejectCase{"row_too_long", [](Problem& p) { p.cost_matrices["t"][1].push_back(5.0); },
                   false, "row 1 has 4 entries"},
        RejectCase{"nan_cost", [](Problem& p) { p.cost_matrices["t"][0][2] = std::nan(""); }, false,
                   "[0][2] is NaN"},
        RejectCase{"too_many_nodes",
                   [](Problem& p) {
                       for (std::uint64_t i = 3; i < 257; ++i) p.AddNode(MakeNode(i, 0));
                   },
                   false, "257 nodes; at most 256"}),
    [](const ::testing::TestParamInfo<RejectCase>& param_info) { return param_info.param.name; });

TEST(SolverTest, NoCostMatrixMakesEveryDepotUnreachable) {
    Problem problem;
    problem.AddNode(MakeNode(0, 0));
    problem.AddNode(MakeNode(1, 1));
    problem.AddNode(MakeNode(2, 2));
    problem.AddAgent(MakeAgent(0, "t", 0, 2), 0);
    testing::internal::CaptureStderr();
    TestSolver solver(problem, problem.options);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("point: 0 can't be reached\n"), std::string::npos);
    EXPECT_NE(err.find("point: 2 can't be reached\n"), std::string::npos);
    EXPECT_EQ(err.find("point: 1 "), std::string::npos);
    EXPECT_EQ(solver.unreachable_points_, (std::vector<std::uint64_t>{0, 2}));
}

TEST(SolverTest, CheckerAndObjectiveFollowTheInstance) {
    Problem problem = MakeLineProblem({0, 1}, 1, true, ObjectiveType::MinSum);
    EXPECT_EQ(TestSolver(problem, problem.options).checker_->GetName(), "DefaultConstraintChecker");
    EXPECT_EQ(TestSolver(problem, problem.options).objective_->GetName(), "MinSumObjective");
    problem.options.objective = ObjectiveType::MinMax;
    problem.agents_ordered[0].time_limit = 5.0;
    EXPECT_EQ(TestSolver(problem, problem.options).checker_->GetName(),
              "CompositeConstraintChecker");
    EXPECT_EQ(TestSolver(problem, problem.options).objective_->GetName(), "DefaultObjective");
}

TEST(SolverTest, WindowsOnUnknownNodesAreReportedAndIgnored) {
    Problem problem = MakeLineProblem({0, 1}, 1, true, ObjectiveType::MinSum);
    TimeWindowConstraint windows;
    windows.SetTimewindow(77, 0.0, 1.0);
    problem.SetTimewindowConstraint(windows);
    testing::internal::CaptureStderr();
    TestSolver solver(problem, problem.options);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "[warning] time window node id 77 not found in nodes\n");
    EXPECT_TRUE(solver.time_windows_.empty());
    EXPECT_EQ(solver.checker_->GetName(), "DefaultConstraintChecker");
}

TEST(SolverListsTest, PoolGrowsInTheDocumentedSteps) {
    Problem problem = MakeLineProblem({0, 1}, 1, true, ObjectiveType::MinSum);
    TestSolver solver(problem, problem.options);
    solver.ResetSearchState();
    std::vector<std::uint64_t> capacities;
    for (int i = 0; i < 11265; ++i) {
        const std::int64_t id = solver.NewNode();
        ASSERT_EQ(id, i);
        if (capacities.empty() || capacities.back() != solver.pool_capacity_) {
            capacities.push_back(solver.pool_capacity_);
        }
        if (i == 1024) {
            EXPECT_EQ(solver.pool_capacity_, 3072u);  // the 1025th call
        }
    }
    // 1024, +2048, +4096, then steps of 4096.
    EXPECT_EQ(capacities, (std::vector<std::uint64_t>{1024, 3072, 7168, 11264, 15360}));
    EXPECT_GE(solver.pool_.Capacity(), 15360u);
}

TEST(SolverListsTest, IncumbentKeepsOpenEntriesWithinTheSlack) {
    Problem problem = MakeLineProblem({0, 1}, 1, true, ObjectiveType::MinSum);
    TestSolver solver(problem, problem.options);
    solver.ResetSearchState();
    solver.open_list_ = {{9.0, 1}, {10.2, 2}, {10.3, 3}};
    solver.InsertFocal(FocalKey{1, 1, 1, 9.0, 0.0});
    solver.InsertFocal(FocalKey{2, 1, 1, 10.2, 0.0});
    solver.SetIncumbent(10.0);
    // 10.3 > 10.0 + 0.2 leaves OPEN; 10.2 stays in OPEN but not in FOCAL.
    EXPECT_EQ(solver.open_list_.size(), 2u);
    EXPECT_EQ(solver.open_list_.rbegin()->second, 2);
    ASSERT_EQ(solver.focal_list_.size(), 1u);
    EXPECT_EQ(solver.focal_list_.begin()->id, 1);
    EXPECT_DOUBLE_EQ(solver.incumbent_, 10.0);
}

TEST(SolverListsTest, EquivalentFocalKeysAreKeptOnce) {
    Problem problem = MakeLineProblem({0, 1}, 1, true, ObjectiveType::MinSum);
    TestSolver solver(problem, problem.options);
    solver.ResetSearchState();
    solver.InsertFocal(FocalKey{4, 3, 1, 7.0, 2.0});
    solver.InsertFocal(FocalKey{5, 3, 2, 7.0, 2.0});  // same visited, f and sum
    ASSERT_EQ(solver.focal_list_.size(), 1u);
    EXPECT_EQ(solver.focal_list_.begin()->id, 4);
}

TEST(SolverListsTest, RefocusAdmitsAndDropsByTheBound) {
    Problem problem = MakeLineProblem({0, 1, 2}, 1, true, ObjectiveType::MinSum);
    TestSolver solver(problem, problem.options);
    solver.ResetSearchState();
    SearchNode node;
    node.current_vertex = {0};
    node.cost = {0.0};
    node.closed = {0};
    node.num_vertices = 3;
    node.open_agents = 1;
    for (int i = 0; i < 3; ++i) {
        node.id = solver.NewNode();
        node.f = 1.0 + i;  // f = 1, 2, 3
        node.visited = VisitedSet{};
        for (int b = 0; b <= i; ++b) node.visited.Set(static_cast<std::uint64_t>(b));
        solver.pool_.Store(node.id, node, -1);
        solver.open_list_.emplace(node.f, node.id);
    }
    solver.Refocus(0.5, 2.0);  // admits f = 1 and f = 2
    EXPECT_EQ(solver.focal_list_.size(), 2u);
    EXPECT_DOUBLE_EQ(solver.focal_bound_, 2.0);
    solver.Refocus(2.0, 3.0);  // admits f = 3, which visited most and comes first
    ASSERT_EQ(solver.focal_list_.size(), 3u);
    EXPECT_EQ(solver.focal_list_.begin()->id, 2);
    EXPECT_EQ(solver.focal_list_.begin()->num_visited, 3);
    solver.Refocus(3.0, 1.5);  // drops f = 2 and f = 3
    ASSERT_EQ(solver.focal_list_.size(), 1u);
    EXPECT_EQ(solver.focal_list_.begin()->id, 0);
}

TEST(SolverRandomTest, EverySolutionPassesTheIndependentChecker) {
    std::mt19937 rng(20261207);
    std::uniform_real_distribution<double> coord(0.0, 100.0);
    for (int trial = 0; trial < 40; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        const int n = 3 + static_cast<int>(rng() % 9);
        const int m = 1 + static_cast<int>(rng() % 3);
        Problem problem;
        for (int i = 0; i < n; ++i) problem.AddNode(MakeNode(i, coord(rng), coord(rng)));
        const bool two_types = m > 1 && rng() % 2 == 0;
        for (int a = 0; a < m; ++a) {
            const std::string type = two_types && a % 2 == 1 ? "b" : "a";
            const int depot = static_cast<int>(rng() % 2);
            problem.AddAgent(MakeAgent(a, type, depot, depot), a);
        }
        problem.SetCostMatrix("a", EuclideanMatrix(problem.nodes));
        if (two_types) {
            CostMatrix slow = EuclideanMatrix(problem.nodes);
            for (auto& row : slow) {
                for (double& cost : row) cost *= 1.5;
            }
            problem.SetCostMatrix("b", slow);
        }
        AssignmentConstraint allowed;
        for (int i = 0; i < n; ++i) {
            if (two_types && i >= 2 && rng() % 3 == 0) {
                allowed.SetAssignment(i, {rng() % 2 == 0 ? "a" : "b"});
            } else {
                allowed.SetAssignment(i, {"a", "b"});
            }
        }
        problem.SetAssignmentConstraint(allowed);
        if (rng() % 3 == 0) {
            TimeWindowConstraint windows;
            for (int i = 2; i < n; ++i) {
                if (rng() % 2 == 0) {
                    const double open = coord(rng) * 2;
                    windows.SetTimewindow(i, open, open + 150.0 + coord(rng) * 3);
                }
            }
            problem.SetTimewindowConstraint(windows);
        }
        problem.options.return_to_end = rng() % 2 == 0;
        problem.options.objective = rng() % 2 == 0 ? ObjectiveType::MinMax : ObjectiveType::MinSum;
        problem.options.time_limit = 2.0;
        Solver solver(problem, problem.options);
        if (!solver.Solve()) continue;  // windows may make an instance infeasible
        const Result result = solver.GetResult();
        ExpectValidSolution(problem, result);
        for (const AnytimeRecord& record : solver.GetResultProcess()) {
            ExpectValidSolution(problem, record.result);
        }
        if (n <= 7 && m <= 2) {
            // No solution can beat the enumerated optimum.
            const double value = problem.options.objective == ObjectiveType::MinMax
                                     ? MaxCost(result)
                                     : testing_support::SumCost(result);
            EXPECT_GE(value, BruteForceOptimum(problem) - 1e-6);
        }
    }
}

}  // namespace
}  // namespace vornik

namespace vornik {
namespace {

using testing_support::TestSolver;

TEST(SolverTest, WeightScheduleMatchesTheLinesPrinted) {
    // Every weight after the first is either 1 (announced by "w = 1") or 0.8 r + 0.2 with
    // r the proven ratio, which is above 1.005.
    Problem problem = testing_support::MakeLineProblem({0, 3, -1, 4, 7, -6, 2, 9}, 2, true,
                                                       ObjectiveType::MinMax);
    TestSolver solver(problem, problem.options);
    testing::internal::CaptureStdout();
    ASSERT_TRUE(solver.Solve());
    const std::string out = testing::internal::GetCapturedStdout();
    ASSERT_FALSE(solver.weights_.empty());
    EXPECT_DOUBLE_EQ(solver.weights_[0], 100.0);
    std::size_t ones = 0;
    for (std::size_t i = 1; i < solver.weights_.size(); ++i) {
        if (solver.weights_[i] == 1.0) {
            ++ones;
        } else {
            EXPECT_GT(solver.weights_[i], 1.0 + 0.8 * 0.005);
        }
    }
    std::size_t lines = 0;
    for (std::size_t at = out.find("w = 1\n"); at != std::string::npos;
         at = out.find("w = 1\n", at + 1)) {
        ++lines;
    }
    EXPECT_EQ(lines, ones);
}

TEST(SolverTest, SolveInstanceSolvesTablesAndRecordsThePaths) {
    const auto previous = std::filesystem::current_path();
    const auto dir = std::filesystem::temp_directory_path() / "zelk_solve_instance_test";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);

    // Three vertices on a line, one agent from 0 back to 0 with a free closing move:
    // 0 -> 1 -> 2 costs 1 + 1 = 2.
    SparseGraph graph;
    graph.ChangeCostDim(1, 9999.0);
    for (std::uint64_t u = 0; u < 3; ++u) {
        for (std::uint64_t v = 0; v < 3; ++v) {
            if (u != v) graph.AddArc(u, v, {std::fabs(static_cast<double>(u) - v)});
        }
    }
    std::vector<NodeEntry> nodes(3);
    for (std::uint64_t v = 0; v < 3; ++v) {
        nodes[v].id = v;
        nodes[v].allowed_types = {0};
    }
    std::vector<AgentEntry> agents(1);
    agents[0].type = 0;
    Problem empty;
    Solver solver(empty, empty.options);
    testing::internal::CaptureStdout();
    const bool found = solver.SolveInstance(&graph, nodes, agents, {0}, {0}, 5.0, "line");
    const std::string out = testing::internal::GetCapturedStdout();
    std::filesystem::current_path(previous);
    EXPECT_TRUE(found);
    EXPECT_NE(out.find("Saved to paths/paths_astar/line_astar.json\n"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(dir / "paths/paths_astar/line_astar.json"));
    const Result result = solver.GetResult();
    EXPECT_DOUBLE_EQ(result.times.at(0), 2.0);
    std::filesystem::remove_all(dir);

    nodes[1].allowed_types = {1};
    testing::internal::CaptureStderr();
    EXPECT_THROW(solver.SolveInstance(&graph, nodes, agents, {0}, {0}, 5.0, "bad"),
                 std::invalid_argument);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Wrong Point type\n");
}

}  // namespace
}  // namespace vornik
