#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "RandomInstances.h"
#include "improve/QuickStart.h"
#include "improve/population/TourSplit.h"

namespace vornik {
namespace {

// Targets on a line at 1, 2, ... n from a depot at 0, listed in scrambled order: the
// tour walks them outwards one by one, and three agents under min-max share them in
// three consecutive stretches of the line.
TEST(QuickStartTest, WalksALineInOrder) {
    const std::vector<std::size_t> at = {0, 7, 3, 9, 1, 5, 2, 8, 4, 6};
    Problem problem;
    for (std::size_t v = 0; v < at.size(); ++v) {
        Node node;
        node.id = v;
        problem.AddNode(node);
    }
    for (std::size_t a = 0; a < 3; ++a) {
        Agent agent;
        agent.id = a;
        agent.type = "car";
        problem.AddAgent(agent, a);
    }
    CostMatrix matrix(at.size(), std::vector<double>(at.size()));
    for (std::size_t u = 0; u < at.size(); ++u) {
        for (std::size_t v = 0; v < at.size(); ++v) {
            matrix[u][v] = std::abs(static_cast<double>(at[u]) - static_cast<double>(at[v]));
        }
    }
    problem.SetCostMatrix("car", matrix);
    problem.options.objective = ObjectiveType::MinMax;
    const EngineModel model(problem);

    std::vector<std::size_t> walked;
    for (const std::uint32_t v : NearestNeighbourTour(model)) walked.push_back(at[v]);
    EXPECT_EQ(walked, (std::vector<std::size_t>{1, 2, 3, 4, 5, 6, 7, 8, 9}));

    const EngineSolution solution = QuickStart(&model);
    EXPECT_TRUE(solution.Complete());
    // Round trips of the three stretches: the last one reaches 9 and so costs 18.
    EXPECT_DOUBLE_EQ(solution.Score().max_cost, 18.0);
}

// On random instances of every kind without windows: the tour takes every servable
// target once; the quick start's routes are drivable, and every target is in exactly
// one route or unassigned. Filling agents in order leaves each route unable to take the
// tour's next target.
TEST(QuickStartTest, GivesDrivableRoutesOnEveryKind) {
    std::mt19937_64 rng(7);
    for (int round = 0; round < 120; ++round) {
        const Kind& kind = kKinds[round % std::size(kKinds)];
        if (kind.windows) continue;
        const std::size_t m = 2 + rng() % 3;
        Problem problem = RandomProblem(rng, kind, 12, m);
        problem.options.objective = round % 2 == 0 ? ObjectiveType::MinSum : ObjectiveType::MinMax;
        const EngineModel model(problem);
        SCOPED_TRACE(std::string(kind.name) + " round " + std::to_string(round));

        std::vector<std::uint32_t> tour = NearestNeighbourTour(model);
        std::vector<std::uint32_t> servable;
        for (const std::uint32_t v : model.Targets())
            if (model.Servable(v)) servable.push_back(v);
        std::vector<std::uint32_t> sorted = tour;
        std::sort(sorted.begin(), sorted.end());
        ASSERT_EQ(sorted, servable);

        const EngineSolution solution = QuickStart(&model);
        std::vector<int> seen(model.NumVertices(), 0);
        for (std::size_t a = 0; a < m; ++a) {
            ASSERT_NE(EngineSolution::WalkRoute(model, a, solution.Route(a).visits),
                      EngineSolution::kInfeasible);
            for (const std::uint32_t v : solution.Route(a).visits) ++seen[v];
        }
        for (const std::uint32_t v : solution.Unassigned()) ++seen[v];
        for (const std::uint32_t v : model.Targets()) EXPECT_EQ(seen[v], 1) << "target " << v;

        const TourSplit fill = FillTour(model, tour);
        std::size_t next = 0;
        for (std::size_t a = 0; a < m; ++a) {
            next += fill.routes[a].size();
            if (next == tour.size()) break;
            std::vector<std::uint32_t> longer = fill.routes[a];
            longer.push_back(tour[next]);
            EXPECT_EQ(EngineSolution::WalkRoute(model, a, longer), EngineSolution::kInfeasible)
                << "agent " << a << " could take " << tour[next];
        }
    }
}

}  // namespace
}  // namespace vornik
