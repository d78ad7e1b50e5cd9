#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "improve/EngineModel.h"
#include "improve/EngineSolution.h"
#include "improve/RandomInstances.h"
#include "improve/RuinRecreate.h"

namespace vornik {
namespace {

constexpr double kInf = EngineSolution::kInfeasible;

// What inserting `v` after position i of route a adds, by walking the route both ways.
double WalkedDelta(const EngineModel& model, const EngineSolution& solution, std::size_t a,
                   std::uint32_t v, std::size_t i) {
    std::vector<std::uint32_t> visits = solution.Route(a).visits;
    const double before = EngineSolution::WalkRoute(model, a, visits);
    visits.insert(visits.begin() + static_cast<std::ptrdiff_t>(i), v);
    const double after = EngineSolution::WalkRoute(model, a, visits);
    return before == kInf || after == kInf ? kInf : after - before;
}

// Without blinks, a target taken out and put back lands on the cheapest of the places next
// to its nearest neighbours (and in empty routes), or of all places when none of those
// fits: the same places however many neighbours share them, whichever way a route is
// priced (deferred without windows, walked with them).
TEST(RuinRecreateTest, RecreatePutsATargetOnItsCheapestNearbyPlace) {
    std::mt19937_64 rng(23);
    EngineParams params;
    params.exhaustive_targets = 4;  // the nearby places even on small instances
    ScoreWeights weights;           // min-sum
    weights.unassigned_penalty = 1e6;
    int nearby = 0;
    for (const Kind& kind : kKinds) {
        SCOPED_TRACE(kind.name);
        const EngineModel model(RandomProblem(rng, kind, 30, 3));
        const RuinRecreate recreate(&model, &weights, params);
        for (int round = 0; round < 30; ++round) {
            EngineSolution solution = RandomSolution(model, rng);
            const std::size_t a = rng() % model.NumAgents();
            const std::size_t k = solution.Route(a).visits.size();
            if (k == 0) continue;
            const std::size_t p = 1 + rng() % k;
            const std::uint32_t v = solution.Route(a).visits[p - 1];
            if (!model.Required(v) || !model.Servable(v)) continue;
            solution.RemoveVisits(a, p, p);

            double cheapest = kInf;
            const auto offer = [&](std::size_t r, std::size_t i) {
                if (solution.Route(r).cost == kInf || !model.CanServe(r, v)) return;
                cheapest = std::min(cheapest, WalkedDelta(model, solution, r, v, i));
            };
            for (const std::uint32_t w : model.Neighbours(v)) {
                const std::int64_t r = solution.RouteOf(w);
                if (r < 0) continue;
                offer(static_cast<std::size_t>(r), solution.PositionOf(w) - 1);
                offer(static_cast<std::size_t>(r), solution.PositionOf(w));
            }
            for (std::size_t r = 0; r < model.NumAgents(); ++r) {
                if (solution.Route(r).visits.empty()) offer(r, 0);
            }
            nearby += cheapest != kInf ? 1 : 0;
            if (cheapest == kInf) {
                for (std::size_t r = 0; r < model.NumAgents(); ++r) {
                    for (std::size_t i = 0; i <= solution.Route(r).visits.size(); ++i) offer(r, i);
                }
            }

            const EngineSolution before = solution;
            ASSERT_TRUE(recreate.Recreate(solution, 0.0, rng));
            if (cheapest == kInf) {
                EXPECT_EQ(solution.RouteOf(v), -1);
                continue;
            }
            ASSERT_GE(solution.RouteOf(v), 0);
            const auto r = static_cast<std::size_t>(solution.RouteOf(v));
            EXPECT_DOUBLE_EQ(WalkedDelta(model, before, r, v, solution.PositionOf(v) - 1),
                             cheapest);
            EXPECT_EQ(solution.Route(r).cost,
                      EngineSolution::WalkRoute(model, r, solution.Route(r).visits));
        }
    }
    EXPECT_GT(nearby, 60);
}

}  // namespace
}  // namespace vornik
