#include <gtest/gtest.h>

#include "improve/RandomInstances.h"
#include "improve/TwoOptStarMove.h"

namespace vornik {
namespace {

TEST(TwoOptStarMoveTest, TailExchangePricesEqualWalking) {
    CheckRandomMoves(
        24, [](const EngineModel& model, const EngineSolution& solution, std::mt19937_64& rng) {
            TwoOptStarMove move;
            move.a = rng() % solution.NumRoutes();
            // Agents 0 and 2 share a type: estimable without windows.
            move.b = (move.a + 1 + rng() % (solution.NumRoutes() - 1)) % solution.NumRoutes();
            move.i = rng() % (solution.Route(move.a).visits.size() + 1);
            move.j = 1 + rng() % (solution.Route(move.b).visits.size() + 1);
            ExpectMoveEqualsWalking(model, solution, move);
        });
}

}  // namespace
}  // namespace vornik
