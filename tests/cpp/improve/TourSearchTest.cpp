#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <utility>
#include <vector>

#include "improve/RandomInstances.h"
#include "improve/TourSearch.h"

namespace vornik {
namespace {

// Points in the plane, costs their distances both ways; kinds as RandomProblem's, but
// without windows (the tour search leaves those alone): open routes, an agent that ends
// elsewhere, limits, service and loads.
Problem PlaneProblem(std::mt19937_64& rng, const Kind& kind, std::size_t n, std::size_t m) {
    Problem problem = RandomProblem(rng, kind, n, m);
    std::uniform_real_distribution<double> coordinate(0.0, 100.0);
    std::vector<std::pair<double, double>> points(n);
    for (auto& point : points) point = {coordinate(rng), coordinate(rng)};
    for (const char* type : {"car", "bike"}) {
        const double speed = type[0] == 'c' ? 1.0 : 1.5;
        CostMatrix matrix(n, std::vector<double>(n, 0.0));
        for (std::size_t u = 0; u < n; ++u) {
            for (std::size_t v = 0; v < n; ++v) {
                matrix[u][v] = std::hypot(points[u].first - points[v].first,
                                          points[u].second - points[v].second) /
                               speed;
            }
        }
        problem.SetCostMatrix(type, matrix);
    }
    if (kind.limits) {
        for (std::size_t a = 0; a < m; ++a) problem.agents_ordered[a].time_limit *= 10.0;
    }
    return problem;
}

double Travel(const EngineModel& model, std::size_t a, const std::vector<std::uint32_t>& visits) {
    double travel = 0.0;
    std::uint32_t at = model.Agent(a).start;
    for (const std::uint32_t v : visits) {
        travel += model.Cost(a, at, v);
        at = v;
    }
    return travel + model.ClosingCost(a, at);
}

TEST(TourSearchTest, ShortensRoutesKeepingTheirTargetsAndPricesEveryMoveExactly) {
    std::mt19937_64 rng(5);
    std::size_t shortened = 0;
    std::size_t repairs = 0;
    for (const Kind& kind : kKinds) {
        if (kind.windows) continue;
        SCOPED_TRACE(kind.name);
        for (int round = 0; round < 12; ++round) {
            const EngineModel model(PlaneProblem(rng, kind, 10 + rng() % 50, 2 + rng() % 2));
            TourSearch search(&model, EngineParams{},
                              round % 2 == 0 ? TourDepth::kQuick : TourDepth::kDeep);
            ASSERT_TRUE(search.Applies());
            EngineSolution solution = RandomSolution(model, rng);
            for (std::size_t a = 0; a < solution.NumRoutes(); ++a) {
                const EngineSolution before = solution;
                const std::size_t kicks = rng() % 3 == 0 ? 0 : 200;
                std::mt19937_64 twin_rng(rng());
                std::mt19937_64 walk_rng = twin_rng;
                const bool changed = search.Improve(solution, a, kicks, walk_rng);
                const std::vector<std::uint32_t>& visits = solution.Route(a).visits;
                const double walked = EngineSolution::WalkRoute(model, a, visits);
                EXPECT_DOUBLE_EQ(solution.Route(a).cost, walked);
                if (changed) {
                    ++shortened;
                    EXPECT_LT(walked, before.Route(a).cost);
                    // The moves' running total is the travel of the tour they left.
                    EXPECT_NEAR(search.TrackedLength(), Travel(model, a, visits), 1e-9 * walked);
                } else {
                    EXPECT_EQ(visits, before.Route(a).visits);
                }
                std::vector<std::uint32_t> had = before.Route(a).visits;
                std::vector<std::uint32_t> has = visits;
                std::sort(had.begin(), had.end());
                std::sort(has.begin(), has.end());
                EXPECT_EQ(has, had);
                for (std::size_t r = 0; r < solution.NumRoutes(); ++r) {
                    if (r != a) {
                        EXPECT_EQ(solution.Route(r).visits, before.Route(r).visits);
                    }
                }
                // The same generator repeats the search.
                EngineSolution again = before;
                search.Improve(again, a, kicks, twin_rng);
                EXPECT_EQ(again.Route(a).visits, visits);
                // A repair from a few visits keeps the same promises.
                EngineSolution repaired = before;
                const std::vector<std::uint32_t>& old_visits = before.Route(a).visits;
                const std::vector<std::uint32_t> around(
                    old_visits.begin(),
                    old_visits.begin() +
                        static_cast<std::ptrdiff_t>(std::min<std::size_t>(3, old_visits.size())));
                const bool fixed = search.Repair(repaired, a, around);
                repairs += fixed ? 1 : 0;
                const std::vector<std::uint32_t>& fixed_visits = repaired.Route(a).visits;
                EXPECT_DOUBLE_EQ(repaired.Route(a).cost,
                                 EngineSolution::WalkRoute(model, a, fixed_visits));
                EXPECT_EQ(fixed, repaired.Route(a).cost < before.Route(a).cost);
                std::vector<std::uint32_t> kept = fixed_visits;
                std::sort(kept.begin(), kept.end());
                EXPECT_EQ(kept, had);
            }
        }
    }
    EXPECT_GT(shortened, 50U);
    EXPECT_GT(repairs, 20U);
}

TEST(TourSearchTest, FindsTheBestTourOfSmallRoutes) {
    // Against every order of up to 7 visits: the descent with kicks reaches the optimum
    // on nearly all (it is a heuristic; a miss must stay rare).
    std::mt19937_64 rng(8);
    int optimal = 0;
    int trials = 0;
    for (int round = 0; round < 60; ++round) {
        const Kind& kind = kKinds[round % 2 == 0 ? 0 : 4];
        const EngineModel model(PlaneProblem(rng, kind, 2 + 4 + rng() % 4, 2));
        // Every target in the first agent's route (it may serve them all).
        std::vector<std::uint32_t> order = model.Targets();
        std::shuffle(order.begin(), order.end(), rng);
        EngineSolution solution(&model);
        solution.MutableUnassigned().clear();
        solution.SetVisits(0, order);
        std::sort(order.begin(), order.end());
        double best = EngineSolution::kInfeasible;
        do {
            best = std::min(best, EngineSolution::WalkRoute(model, 0, order));
        } while (std::next_permutation(order.begin(), order.end()));
        TourSearch search(&model, EngineParams{},
                          round % 3 == 0 ? TourDepth::kDeep : TourDepth::kQuick);
        search.Improve(solution, 0, 100, rng);
        ++trials;
        EXPECT_GE(solution.Route(0).cost, best - 1e-9);
        if (solution.Route(0).cost <= best + 1e-9) ++optimal;
    }
    EXPECT_GE(optimal, trials * 9 / 10);
}

TEST(TourSearchTest, DescentLeavesNoImprovingThreeOptMove) {
    // Up to 8 targets: every other target is on each neighbour list, so the deep
    // sequential search sees every 3-opt move whose legs lie between visits (by the gain criterion,
    // one of its starting points keeps every partial sum positive). After the descent
    // alone, none of them may still gain: all three legs replaced, A = [0, i],
    // B = [i + 1, j], C = [j + 1, l] joined again in each of the four ways.
    std::mt19937_64 rng(11);
    for (int round = 0; round < 200; ++round) {
        const Kind& kind = kKinds[round % 2 == 0 ? 0 : 4];
        const EngineModel model(PlaneProblem(rng, kind, 2 + 5 + rng() % 4, 2));
        std::vector<std::uint32_t> order = model.Targets();
        std::shuffle(order.begin(), order.end(), rng);
        EngineSolution solution(&model);
        solution.MutableUnassigned().clear();
        solution.SetVisits(0, order);
        TourSearch search(&model, EngineParams{}, TourDepth::kDeep);
        search.Improve(solution, 0, 0, rng);
        std::vector<std::uint32_t> tour = solution.Route(0).visits;
        const double length = Travel(model, 0, tour);
        const std::size_t k = tour.size();
        const auto reconnect = [&](std::size_t i, std::size_t j, std::size_t l, int way) {
            // Positions 0 .. k - 1 of the visits; the stretches B = (i, j], C = (j, l].
            std::vector<std::uint32_t> b(tour.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                         tour.begin() + static_cast<std::ptrdiff_t>(j) + 1);
            std::vector<std::uint32_t> c(tour.begin() + static_cast<std::ptrdiff_t>(j) + 1,
                                         tour.begin() + static_cast<std::ptrdiff_t>(l) + 1);
            if (way == 1 || way == 3) std::reverse(b.begin(), b.end());
            if (way == 2 || way == 3) std::reverse(c.begin(), c.end());
            if (way != 3) std::swap(b, c);
            std::vector<std::uint32_t> moved(tour.begin(),
                                             tour.begin() + static_cast<std::ptrdiff_t>(i) + 1);
            moved.insert(moved.end(), b.begin(), b.end());
            moved.insert(moved.end(), c.begin(), c.end());
            moved.insert(moved.end(), tour.begin() + static_cast<std::ptrdiff_t>(l) + 1,
                         tour.end());
            return moved;
        };
        for (std::size_t i = 0; i + 3 < k; ++i) {
            for (std::size_t j = i + 1; j + 2 < k; ++j) {
                for (std::size_t l = j + 1; l + 1 < k; ++l) {
                    for (int way = 0; way < 4; ++way) {
                        const std::vector<std::uint32_t> moved = reconnect(i, j, l, way);
                        EXPECT_GE(Travel(model, 0, moved), length - 1e-9 * length)
                            << "round " << round << " i " << i << " j " << j << " l " << l
                            << " way " << way;
                    }
                }
            }
        }
    }
}

TEST(TourSearchTest, LeavesRoutesAloneWhereTheirCostIsNotTheirTravel) {
    // Windows, and costs that differ both ways (RandomProblem's own).
    std::mt19937_64 rng(9);
    for (const Kind& kind : {kKinds[0], kKinds[1]}) {
        const EngineModel model(RandomProblem(rng, kind, 30, 2));
        TourSearch search(&model, EngineParams{});
        EXPECT_FALSE(search.Applies());
        EngineSolution solution = RandomSolution(model, rng);
        const std::vector<std::uint32_t> visits = solution.Route(0).visits;
        EXPECT_FALSE(search.Improve(solution, 0, 50, rng));
        EXPECT_EQ(solution.Route(0).visits, visits);
    }
}

}  // namespace
}  // namespace vornik
