#include <gtest/gtest.h>

#include "improve/RandomInstances.h"
#include "improve/TwoOptMove.h"

namespace vornik {
namespace {

TEST(TwoOptMoveTest, ReversalPricesEqualWalking) {
    CheckRandomMoves(
        23, [](const EngineModel& model, const EngineSolution& solution, std::mt19937_64& rng) {
            TwoOptMove move;
            move.route = rng() % solution.NumRoutes();
            const std::size_t k = solution.Route(move.route).visits.size();
            if (k < 2) return;
            move.first = 1 + rng() % (k - 1);
            move.last = move.first + 1 + rng() % (k - move.first);
            ExpectMoveEqualsWalking(model, solution, move);
        });
}

}  // namespace
}  // namespace vornik
