#include <gtest/gtest.h>

#include "improve/RandomInstances.h"
#include "improve/RelocateMove.h"

namespace vornik {
namespace {

TEST(RelocateMoveTest, PricesEqualWalkingTheMovedRoutes) {
    CheckRandomMoves(
        21, [](const EngineModel& model, const EngineSolution& solution, std::mt19937_64& rng) {
            RelocateMove move;
            move.from = rng() % solution.NumRoutes();
            const std::size_t k = solution.Route(move.from).visits.size();
            if (k == 0) return;
            move.first = 1 + rng() % k;
            move.length = 1 + rng() % std::min<std::size_t>(3, k - move.first + 1);
            move.reversed = rng() % 2 == 0;
            move.to = rng() % solution.NumRoutes();
            if (move.to == move.from) {
                // Before the string, or from its last position on.
                const std::size_t last = move.first + move.length - 1;
                const std::size_t before = move.first;   // gaps 0 .. first - 1
                const std::size_t after = k - last + 1;  // gaps last .. k
                const std::size_t pick = rng() % (before + after);
                move.gap = pick < before ? pick : last + (pick - before);
                ExpectMoveEqualsWalking(model, solution, move.AsWithinRoute());
            } else {
                move.gap = rng() % (solution.Route(move.to).visits.size() + 1);
            }
            ExpectMoveEqualsWalking(model, solution, move);
        });
}

}  // namespace
}  // namespace vornik
