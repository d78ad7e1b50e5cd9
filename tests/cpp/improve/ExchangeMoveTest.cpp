#include <gtest/gtest.h>

#include "improve/ExchangeMove.h"
#include "improve/RandomInstances.h"

namespace vornik {
namespace {

TEST(ExchangeMoveTest, PricesEqualWalkingBothRoutes) {
    CheckRandomMoves(
        22, [](const EngineModel& model, const EngineSolution& solution, std::mt19937_64& rng) {
            ExchangeMove move;
            move.a = rng() % solution.NumRoutes();
            move.b = (move.a + 1 + rng() % (solution.NumRoutes() - 1)) % solution.NumRoutes();
            const std::size_t ka = solution.Route(move.a).visits.size();
            const std::size_t kb = solution.Route(move.b).visits.size();
            if (ka == 0 || kb == 0) return;
            move.first_a = 1 + rng() % ka;
            move.length_a = 1 + rng() % std::min<std::size_t>(3, ka - move.first_a + 1);
            move.first_b = 1 + rng() % kb;
            move.length_b = 1 + rng() % std::min<std::size_t>(3, kb - move.first_b + 1);
            ExpectMoveEqualsWalking(model, solution, move);
        });
}

}  // namespace
}  // namespace vornik
