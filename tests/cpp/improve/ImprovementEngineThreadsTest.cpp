#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "core/Problem.h"
#include "improve/EngineModel.h"
#include "improve/ImprovementEngine.h"

namespace vornik {
namespace {

// Random symmetric costs on one agent type; every vertex but 0 is a target.
Problem RandomProblem(std::uint64_t seed, std::size_t n, std::size_t m, ObjectiveType objective) {
    std::mt19937_64 rng(seed);
    std::uniform_int_distribution<int> cost(1, 100);
    Problem problem;
    for (std::size_t v = 0; v < n; ++v) {
        Node node;
        node.id = v;
        problem.AddNode(node);
    }
    for (std::size_t a = 0; a < m; ++a) {
        Agent agent;
        agent.id = a;
        agent.type = "car";
        problem.AddAgent(agent, a);
    }
    CostMatrix matrix(n, std::vector<double>(n, 0.0));
    for (std::size_t u = 0; u < n; ++u) {
        for (std::size_t v = u + 1; v < n; ++v) matrix[u][v] = matrix[v][u] = cost(rng);
    }
    problem.SetCostMatrix("car", matrix);
    problem.options.objective = objective;
    return problem;
}

struct Outcome {
    EngineOutcome outcome;
    std::vector<EngineScore> reported;  // every reported best, in order
};

Outcome Solve(const EngineModel& model, std::size_t threads, std::int64_t iterations,
              double first_epoch, bool stop_early = false) {
    Outcome run;
    EngineSettings settings;
    settings.seed = 7;
    settings.threads = threads;
    settings.iteration_limit = iterations;
    settings.params.first_epoch = first_epoch;
    settings.clock = [] { return 0.0; };
    int polls = 0;
    if (stop_early) settings.should_stop = [&polls] { return ++polls > 2; };
    settings.on_best = [&](const EngineSolution& best, EnginePhase, double) {
        run.reported.push_back(best.Score());
    };
    ImprovementEngine engine(&model, settings);
    run.outcome = engine.Run({});
    return run;
}

// Walks in threads meet between epochs and report through one hub: the same seed and
// bound give the same answer, reports strictly improve, the answer is the last report,
// and a stop request ends every walk (a walk left waiting at a meeting would hang here).
TEST(ImprovementEngineThreadsTest, WalksRepeatReportInOrderAndStopTogether) {
    for (const ObjectiveType objective : {ObjectiveType::MinMax, ObjectiveType::MinSum}) {
        const Problem problem = RandomProblem(3, 40, 4, objective);
        const EngineModel model(problem);
        for (const double first_epoch : {0.0, 0.5, 2.0}) {
            const Outcome a = Solve(model, 3, 400, first_epoch);
            const Outcome b = Solve(model, 3, 400, first_epoch);
            ASSERT_TRUE(a.outcome.found);
            EXPECT_EQ(a.outcome.routes, b.outcome.routes);
            EXPECT_EQ(a.outcome.iterations, 3 * 400);
            for (std::size_t k = 1; k < a.reported.size(); ++k) {
                EXPECT_TRUE(Better(objective, a.reported[k], a.reported[k - 1]));
            }
            EXPECT_FALSE(Better(objective, a.reported.back(), a.outcome.score));
            EXPECT_FALSE(Better(objective, a.outcome.score, a.reported.back()));
            const Outcome stopped = Solve(model, 4, 100000000, first_epoch, true);
            EXPECT_TRUE(stopped.outcome.interrupted);
            EXPECT_TRUE(stopped.outcome.found);
        }
    }
}

}  // namespace
}  // namespace vornik
