#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/Problem.h"
#include "improve/EngineModel.h"
#include "improve/ImprovementEngine.h"
#include "improve/RandomInstances.h"

namespace vornik {
namespace {

struct Answer {
    EngineOutcome outcome;
    std::vector<EngineScore> reported;
};

Answer Solve(const EngineModel& model, SearchStrategy strategy, EngineParams params = {}) {
    Answer run;
    EngineSettings settings;
    settings.seed = 3;
    settings.iteration_limit = 150;
    settings.params = params;
    settings.params.strategy = strategy;
    settings.clock = [] { return 0.0; };
    settings.on_best = [&](const EngineSolution& best, EnginePhase, double) {
        run.reported.push_back(best.Score());
    };
    run.outcome = ImprovementEngine(&model, settings).Run({});
    return run;
}

// Descents that cross plans breaking windows and capacities hand back only plans within
// them: every route of the answer walks feasibly at the cost reported, every target is
// served once or listed unserved, reports improve strictly, and the same seed and bound
// repeat the answer. Capacities are halved so that descents do cross. (Some of these
// instances have no plan at all: an agent that may not close its route.)
TEST(InfeasibleSearchTest, AnswersKeepTheRulesAndRepeat) {
    std::mt19937_64 rng(29);
    int found = 0;
    for (const Kind& kind : kKinds) {
        if (!kind.windows && !kind.fleet) continue;
        for (const SearchStrategy strategy :
             {SearchStrategy::kAnneal, SearchStrategy::kPopulation}) {
            SCOPED_TRACE(std::string(kind.name) + " " + StrategyName(strategy));
            Problem problem = RandomProblem(rng, kind, 24, 4);
            for (Agent& agent : problem.agents_ordered) {
                for (double& capacity : agent.capacities) capacity *= 0.5;
            }
            problem.options.objective =
                rng() % 2 == 0 ? ObjectiveType::MinSum : ObjectiveType::MinMax;
            const EngineModel model(problem);
            EngineParams params;
            params.infeasible_search = 1;
            params.take_up = static_cast<double>(rng() % 3);  // none, as many again, twice
            const Answer first = Solve(model, strategy, params);
            EXPECT_EQ(Solve(model, strategy, params).outcome.routes, first.outcome.routes);
            if (!first.outcome.found) continue;
            ++found;
            std::vector<int> seen(model.NumVertices(), 0);
            for (std::size_t a = 0; a < first.outcome.routes.size(); ++a) {
                const double walked = EngineSolution::WalkRoute(model, a, first.outcome.routes[a]);
                ASSERT_NE(walked, EngineSolution::kInfeasible) << "route " << a;
                EXPECT_DOUBLE_EQ(walked, first.outcome.costs[a]);
                for (const std::uint32_t v : first.outcome.routes[a]) ++seen[v];
            }
            for (const std::uint32_t v : first.outcome.unserved) ++seen[v];
            for (const std::uint32_t v : model.Targets()) EXPECT_EQ(seen[v], 1) << "target " << v;
            for (std::size_t k = 1; k < first.reported.size(); ++k) {
                EXPECT_TRUE(Better(model.Objective(), first.reported[k], first.reported[k - 1]));
            }
        }
    }
    EXPECT_GE(found, 8);
}

// Under auto, capacities without windows cross infeasible space below
// `infeasible_targets` targets and keep the rules from there on: the answers repeat those
// of the switch set by hand (and the two differ, or the comparison would prove nothing).
TEST(InfeasibleSearchTest, AutoStaysWithinTheRulesFromTheGivenSize) {
    std::mt19937_64 rng(31);
    Problem problem = RandomProblem(rng, kKinds[6], 40, 4);
    ASSERT_STREQ(kKinds[6].name, "fleet_open");
    for (Agent& agent : problem.agents_ordered) {
        for (double& capacity : agent.capacities) capacity *= 0.5;
    }
    problem.options.objective = ObjectiveType::MinSum;
    const EngineModel model(problem);
    const auto routes = [&](std::size_t setting, std::size_t size) {
        EngineParams params;
        params.infeasible_search = setting;
        params.infeasible_targets = size;
        return Solve(model, SearchStrategy::kAnneal, params).outcome.routes;
    };
    const std::size_t targets = model.Targets().size();
    const auto off = routes(0, 0);
    const auto on = routes(1, 0);
    EXPECT_NE(off, on);
    EXPECT_EQ(routes(2, 0), on);
    EXPECT_EQ(routes(2, targets + 1), on);
    EXPECT_EQ(routes(2, targets), off);
}

}  // namespace
}  // namespace vornik
