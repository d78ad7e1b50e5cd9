#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "RandomInstances.h"
#include "improve/population/TourSplit.h"

namespace vornik {
namespace {

constexpr double kInf = EngineSolution::kInfeasible;

// The best value over every cut of `tour` into one stretch per agent, in agent order
// (stretches may be empty), walked from scratch; kInf when no cut is feasible.
double BestCut(const EngineModel& model, const std::vector<std::uint32_t>& tour, std::size_t a,
               std::size_t from) {
    const std::size_t m = model.NumAgents();
    double best = kInf;
    const std::size_t last = a + 1 == m ? tour.size() : from;
    for (std::size_t to = last; to <= tour.size(); ++to) {
        const double cost = EngineSolution::WalkRoute(
            model, a,
            std::vector<std::uint32_t>(tour.begin() + static_cast<std::ptrdiff_t>(from),
                                       tour.begin() + static_cast<std::ptrdiff_t>(to)));
        if (cost == kInf) continue;
        const double rest = a + 1 == m ? 0.0 : BestCut(model, tour, a + 1, to);
        if (rest == kInf) continue;
        best = std::min(
            best, model.Objective() == ObjectiveType::MinSum ? cost + rest : std::max(cost, rest));
    }
    return best;
}

// A Euclidean instance of one agent type at one depot, optionally with service and
// windows: every longer stretch costs at least as much, so filling routes greedily under
// a bound is exact and the min-max cut must reach the optimum too.
Problem EuclideanProblem(std::mt19937_64& rng, std::size_t n, std::size_t m, bool windows) {
    Problem problem;
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<std::pair<double, double>> at(n);
    for (std::size_t v = 0; v < n; ++v) {
        Node node;
        node.id = v;
        node.service = v > 0 && windows ? static_cast<double>(rng() % 5) : 0.0;
        problem.AddNode(node);
        at[v] = {100.0 * unit(rng), 100.0 * unit(rng)};
        if (windows && v > 0 && unit(rng) < 0.5) {
            const double open = 150.0 * unit(rng);
            problem.timewindow_constraint.SetTimewindow(v, open, open + 40.0 + 200.0 * unit(rng));
        }
    }
    for (std::size_t a = 0; a < m; ++a) {
        Agent agent;
        agent.id = a;
        agent.type = "car";
        problem.AddAgent(agent, a);
    }
    CostMatrix matrix(n, std::vector<double>(n, 0.0));
    for (std::size_t u = 0; u < n; ++u) {
        for (std::size_t v = 0; v < n; ++v) {
            matrix[u][v] = std::hypot(at[u].first - at[v].first, at[u].second - at[v].second);
        }
    }
    problem.SetCostMatrix("car", matrix);
    return problem;
}

// Every cut is feasible, keeps the tour's order and loses nothing; min-sum reaches the
// best cut on every kind of instance, min-max on metric ones (elsewhere never below
// it); a cut that leaves targets out only does so when no cut serves the whole tour.
TEST(TourSplitTest, CutsMatchTheBestCutFoundByTryingAll) {
    std::mt19937_64 rng(41);
    for (const ObjectiveType objective : {ObjectiveType::MinSum, ObjectiveType::MinMax}) {
        for (int round = 0; round < 200; ++round) {
            const Kind& kind = kKinds[round % std::size(kKinds)];
            const bool metric = round % 4 == 3;
            // Random instances hold two agent types, so at least two agents.
            const std::size_t m = (metric ? 1 : 2) + rng() % 2;
            Problem problem = metric ? EuclideanProblem(rng, 8, m, round % 8 == 7)
                                     : RandomProblem(rng, kind, 8, m);
            problem.options.objective = objective;
            const EngineModel model(problem);
            std::vector<std::uint32_t> tour = model.Targets();
            std::shuffle(tour.begin(), tour.end(), rng);
            SCOPED_TRACE(std::string(metric ? "metric" : kind.name) + " round " +
                         std::to_string(round));

            const TourSplit split = SplitTour(model, tour);
            ASSERT_EQ(split.routes.size(), m);
            std::vector<std::uint32_t> walked;
            double value = 0.0;
            for (std::size_t a = 0; a < m; ++a) {
                const double cost = EngineSolution::WalkRoute(model, a, split.routes[a]);
                ASSERT_NE(cost, kInf) << "agent " << a;
                value = objective == ObjectiveType::MinSum ? value + cost : std::max(value, cost);
                walked.insert(walked.end(), split.routes[a].begin(), split.routes[a].end());
            }
            walked.insert(walked.end(), split.left_out.begin(), split.left_out.end());
            ASSERT_EQ(walked, tour);

            const double best = BestCut(model, tour, 0, 0);
            if (best == kInf) {
                EXPECT_FALSE(split.left_out.empty());
                continue;
            }
            if (objective == ObjectiveType::MinSum || metric) {
                ASSERT_TRUE(split.left_out.empty());
                EXPECT_NEAR(value, best, 1e-6 * std::max(1.0, best));
            } else if (split.left_out.empty()) {
                EXPECT_GE(value, best - 1e-9);
            }
        }
    }
}

}  // namespace
}  // namespace vornik
