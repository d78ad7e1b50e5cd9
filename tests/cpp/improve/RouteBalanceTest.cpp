#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "improve/RandomInstances.h"
#include "improve/RouteBalance.h"

namespace vornik {
namespace {

std::vector<std::uint32_t> Served(const EngineSolution& solution) {
    std::vector<std::uint32_t> served(solution.Unassigned());
    for (std::size_t r = 0; r < solution.NumRoutes(); ++r) {
        const std::vector<std::uint32_t>& visits = solution.Route(r).visits;
        served.insert(served.end(), visits.begin(), visits.end());
    }
    std::sort(served.begin(), served.end());
    return served;
}

// The lowest longest route over every move of a string of 1 to 3 visits of the longest
// route (the first of equals) to every place of every other route next to a neighbour of
// either end of the string (or into an empty route), either way round, each route walked
// from scratch; the longest route itself when no move lowers it.
double BruteForceBest(const EngineModel& model, const EngineSolution& solution) {
    std::size_t from = 0;
    for (std::size_t r = 1; r < solution.NumRoutes(); ++r) {
        if (solution.Route(r).cost > solution.Route(from).cost) from = r;
    }
    const std::vector<std::uint32_t>& giver = solution.Route(from).visits;
    double best = solution.Route(from).cost;
    for (std::size_t s = 0; s < giver.size(); ++s) {
        for (std::size_t e = s; e < std::min(giver.size(), s + 3); ++e) {
            std::vector<std::uint32_t> left(giver);
            left.erase(left.begin() + static_cast<std::ptrdiff_t>(s),
                       left.begin() + static_cast<std::ptrdiff_t>(e + 1));
            const double left_cost = EngineSolution::WalkRoute(model, from, left);
            for (std::size_t to = 0; to < solution.NumRoutes(); ++to) {
                if (to == from) continue;
                double rest = 0.0;
                for (std::size_t r = 0; r < solution.NumRoutes(); ++r) {
                    if (r != from && r != to) rest = std::max(rest, solution.Route(r).cost);
                }
                const std::vector<std::uint32_t>& taker = solution.Route(to).visits;
                const auto near = [&](std::size_t p) {
                    if (p >= taker.size()) return false;
                    for (const std::uint32_t end : {giver[s], giver[e]}) {
                        const std::vector<std::uint32_t>& list = model.Neighbours(end);
                        if (std::find(list.begin(), list.end(), taker[p]) != list.end())
                            return true;
                    }
                    return false;
                };
                for (std::size_t at = 0; at <= taker.size(); ++at) {
                    if (!taker.empty() && !near(at) && !(at > 0 && near(at - 1))) continue;
                    for (const bool reversed : {false, true}) {
                        std::vector<std::uint32_t> string(
                            giver.begin() + static_cast<std::ptrdiff_t>(s),
                            giver.begin() + static_cast<std::ptrdiff_t>(e + 1));
                        if (reversed) std::reverse(string.begin(), string.end());
                        std::vector<std::uint32_t> grown(taker);
                        grown.insert(grown.begin() + static_cast<std::ptrdiff_t>(at),
                                     string.begin(), string.end());
                        const double taken = EngineSolution::WalkRoute(model, to, grown);
                        best = std::min(best, std::max({left_cost, taken, rest}));
                    }
                }
            }
        }
    }
    return best;
}

// Every kind of instance, small enough that each target's neighbour list holds every
// other target: the best move is the brute-force best, its announced costs are the two
// routes walked again, and a run of moves only lowers the longest route.
TEST(RouteBalanceTest, BestMoveIsTheBruteForceBestAndPricedExactly) {
    std::mt19937_64 rng(11);
    EngineParams params;
    params.granularity = EngineModel::kNeighbours;
    std::size_t moves = 0;
    std::size_t plans = 0;
    for (const Kind& kind : kKinds) {
        SCOPED_TRACE(kind.name);
        for (int round = 0; round < 25; ++round) {
            const EngineModel model(RandomProblem(rng, kind, 4 + rng() % 14, 2 + rng() % 3));
            const EngineSolution solution = RandomSolution(model, rng);
            const RouteBalance balance(&model, params);
            const double longest = solution.Score().max_cost;
            // The engine balances only plans that keep every rule.
            if (!solution.AllRoutesFeasible()) continue;
            const double oracle = BruteForceBest(model, solution);
            ++plans;
            BalanceMove move;
            if (!balance.BestMove(solution, move)) {
                EXPECT_FALSE(oracle < longest * (1 - 1e-9))
                    << "a lower longest route was missed: " << oracle << " < " << longest;
                continue;
            }
            ++moves;
            EngineSolution after = solution;
            balance.Apply(after, move, nullptr);
            EXPECT_DOUBLE_EQ(move.from_cost, EngineSolution::WalkRoute(
                                                 model, move.from, after.Route(move.from).visits));
            EXPECT_DOUBLE_EQ(move.to_cost, EngineSolution::WalkRoute(model, move.to,
                                                                     after.Route(move.to).visits));
            EXPECT_DOUBLE_EQ(after.Score().max_cost, oracle);
            EXPECT_EQ(Served(after), Served(solution));

            TourSearch tours(&model, params);
            EngineSolution run = solution;
            EXPECT_TRUE(balance.Run(run, 50, &tours));
            EXPECT_LE(run.Score().max_cost, after.Score().max_cost);
            EXPECT_EQ(Served(run), Served(solution));
            for (std::size_t r = 0; r < run.NumRoutes(); ++r) {
                EXPECT_DOUBLE_EQ(run.Route(r).cost,
                                 EngineSolution::WalkRoute(model, r, run.Route(r).visits));
            }
        }
    }
    EXPECT_GT(moves, 40u);
    EXPECT_GT(plans, moves);
}

}  // namespace
}  // namespace vornik
