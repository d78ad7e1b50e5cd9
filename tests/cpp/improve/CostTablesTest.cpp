#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/CostTables.h"
#include "core/Problem.h"
#include "improve/EngineModel.h"
#include "improve/NeighbourLists.h"

namespace vornik {
namespace {

// Points of several shapes: spread, on a coarse integer lattice (many equal distances),
// in a few tight clusters with repeats, on one line, and spread in 3-D.
std::vector<Position> Points(std::mt19937_64& rng, int shape, std::size_t n) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<Position> points(n);
    for (std::size_t v = 0; v < n; ++v) {
        Position& p = points[v];
        switch (shape) {
            case 0:
                p = {1000 * unit(rng), 1000 * unit(rng), 0};
                break;
            case 1:
                p = {static_cast<double>(rng() % 40), static_cast<double>(rng() % 40), 0};
                break;
            case 2:
                p = {100.0 * static_cast<double>(rng() % 4) + static_cast<double>(rng() % 3),
                     50.0 * static_cast<double>(rng() % 3), 0};
                break;
            case 3:
                p = {5 * unit(rng), 0, 0};
                break;
            default:
                p = {100 * unit(rng), 100 * unit(rng), 300 * unit(rng)};
                break;
        }
    }
    return points;
}

TEST(NeighbourLists, GridFindsWhatComparingEveryPairFinds) {
    std::mt19937_64 rng(7);
    for (int shape = 0; shape < 5; ++shape) {
        for (const DistanceRule rule :
             {DistanceRule::kExact, DistanceRule::kNearest, DistanceRule::kUp}) {
            const std::size_t n = 500;
            const std::vector<Position> points = Points(rng, shape, n);
            std::vector<std::uint32_t> targets;
            for (std::uint32_t v = 0; v < n; ++v) {
                if (v % 7 != 3) targets.push_back(v);  // some vertices are depots
            }
            const NearnessKey key = [&](std::uint32_t v, std::uint32_t w) {
                return 2.0 * PositionDistance(rule, points[v], points[w]);
            };
            const auto grid = NearestOnGrid(n, targets, 40, key, points, 2.0);
            const auto brute = NearestByKey(n, targets, 40, key);
            ASSERT_EQ(grid, brute) << "shape " << shape << " rule " << static_cast<int>(rule);
        }
    }
}

TEST(NeighbourLists, TablesTileByTileFindWhatComparingEveryPairFinds) {
    // Asymmetric tables with ties (small whole costs), missing entries, one or two
    // tables, targets in one run or with gaps, sizes off the tile and lists longer than there
    // are targets.
    std::mt19937_64 rng(11);
    for (const std::size_t n : {std::size_t{2}, std::size_t{70}, std::size_t{200}}) {
        for (const std::size_t count : {std::size_t{1}, std::size_t{2}}) {
            std::vector<std::vector<double>> tables(count, std::vector<double>(n * n));
            for (auto& table : tables) {
                for (double& entry : table) {
                    const auto draw = rng() % 40;
                    entry = draw == 0 ? std::numeric_limits<double>::infinity()
                                      : static_cast<double>(draw % 9);
                }
            }
            // Every vertex but the first (one run of memory), or gaps.
            std::vector<std::uint32_t> targets;
            for (std::uint32_t v = 0; v < n; ++v) {
                if (count == 1 ? v > 0 || n == 2 : v % 5 != 1) targets.push_back(v);
            }
            std::vector<const double*> data;
            for (const auto& table : tables) data.push_back(table.data());
            const NearnessKey key = [&](std::uint32_t v, std::uint32_t w) {
                double best = std::numeric_limits<double>::infinity();
                for (const auto& table : tables)
                    best = std::min(best, table[v * n + w] + table[w * n + v]);
                return best;
            };
            for (const std::size_t keep : {std::size_t{1}, std::size_t{40}, n}) {
                ASSERT_EQ(NearestInTables(n, targets, keep, data),
                          NearestByKey(n, targets, keep, key))
                    << n << " nodes, " << count << " tables, keep " << keep;
            }
        }
    }
}

// Distances of integer points rounded in integers only: k with (2k-1)^2 <= 4 d^2 < (2k+1)^2
// for the nearest whole number, k^2 >= d^2 > (k-1)^2 for rounding up.
// (A floating-point root only gives the place to start.)
double IntegerNearest(std::int64_t squared) {
    auto k = static_cast<std::int64_t>(std::sqrt(static_cast<double>(squared)));
    while ((2 * k + 1) * (2 * k + 1) <= 4 * squared) ++k;
    while (k > 0 && (2 * k - 1) * (2 * k - 1) > 4 * squared) --k;
    return static_cast<double>(k);
}
double IntegerUp(std::int64_t squared) {
    auto k = static_cast<std::int64_t>(std::sqrt(static_cast<double>(squared)));
    while (k * k < squared) ++k;
    while (k > 0 && (k - 1) * (k - 1) >= squared) --k;
    return static_cast<double>(k);
}

Problem Plain(const std::vector<Position>& points, const std::vector<std::string>& types) {
    Problem problem;
    for (std::size_t v = 0; v < points.size(); ++v) {
        Node node;
        node.id = 100 + v;
        node.position = points[v];
        problem.AddNode(node);
    }
    for (std::size_t a = 0; a < types.size(); ++a) {
        Agent agent;
        agent.id = a;
        agent.type = types[a];
        agent.start_node = 100;
        agent.end_node = 100;
        problem.AddAgent(agent, a);
    }
    return problem;
}

TEST(EngineModelTables, ComputedDistancesMatchIntegerArithmeticAndArraysMatchMatrices) {
    std::mt19937_64 rng(11);
    const std::size_t n = 1100;  // above the size where neighbours come from the grid
    std::vector<Position> points(n);
    for (Position& p : points) {
        p = {static_cast<double>(rng() % 3000), static_cast<double>(rng() % 3000), 0.0};
    }
    const Problem problem = Plain(points, {"near", "up", "array"});
    // The array type's costs: the rounded-up distances plus a little, as a caller's array.
    std::vector<double> array(n * n);
    for (std::size_t u = 0; u < n; ++u) {
        for (std::size_t v = 0; v < n; ++v) {
            array[u * n + v] = PositionDistance(DistanceRule::kUp, points[u], points[v]) + 0.25;
        }
    }
    CostTables tables;
    tables.computed = {{"near", DistanceRule::kNearest}, {"up", DistanceRule::kUp}};
    tables.arrays.push_back(CostTables::Array{"array", array.data(), n, n});
    const EngineModel model(problem, tables);
    std::uniform_int_distribution<std::uint32_t> vertex(0, n - 1);
    for (int k = 0; k < 5000; ++k) {
        const std::uint32_t u = vertex(rng);
        const std::uint32_t v = vertex(rng);
        const auto dx = static_cast<std::int64_t>(points[u].x - points[v].x);
        const auto dy = static_cast<std::int64_t>(points[u].y - points[v].y);
        const std::int64_t squared = dx * dx + dy * dy;
        ASSERT_EQ(model.Cost(0, u, v), u == v ? 0.0 : IntegerNearest(squared));
        ASSERT_EQ(model.Cost(1, u, v), u == v ? 0.0 : IntegerUp(squared));
        ASSERT_EQ(model.Cost(2, u, v), u == v ? 0.0 : IntegerUp(squared) + 0.25);
    }

    // The same costs given as matrices: the same neighbour lists, whether every pair is
    // compared (an array among the tables) or the grid finds them (distances only).
    for (const bool with_array : {true, false}) {
        CostTables given = tables;
        if (!with_array) given.arrays.clear();
        const EngineModel from_tables(problem, given);
        Problem with_matrices = Plain(points, {"near", "up", "array"});
        MaterializeCostTables(with_matrices, given);
        const EngineModel reference(with_matrices);
        for (const std::uint32_t v : from_tables.Targets()) {
            ASSERT_EQ(from_tables.Neighbours(v), reference.Neighbours(v)) << "vertex " << v;
        }
    }
}

TEST(EngineModelTables, RenumberedTablesReadEveryCostAsGiven) {
    // Mid-sized dense tables are read through a renumbered copy: every entry of a matrix
    // with no symmetry and no order must come back as given, also from a copy of the model.
    std::mt19937_64 rng(5);
    for (const std::size_t n : {499, 640}) {
        std::vector<Position> points(n);
        for (Position& p : points) p = {static_cast<double>(rng() % 500), 0.0, 0.0};
        const Problem problem = Plain(points, {"t", "u"});
        std::vector<double> t(n * n);
        std::vector<double> u(n * n);
        for (std::size_t k = 0; k < n * n; ++k) {
            t[k] = static_cast<double>(rng() % 100000) / 8.0;
            u[k] = static_cast<double>(rng() % 7);
        }
        CostTables tables;
        tables.arrays.push_back(CostTables::Array{"t", t.data(), n, n});
        tables.arrays.push_back(CostTables::Array{"u", u.data(), n, n});
        auto model = std::make_unique<EngineModel>(problem, tables);
        const auto reads_as_given = [&](const EngineModel& reader) {
            for (std::uint32_t x = 0; x < n; ++x) {
                for (std::uint32_t y = 0; y < n; ++y) {
                    const std::size_t k = std::size_t{x} * n + y;
                    ASSERT_EQ(reader.Cost(0, x, y), x == y ? 0.0 : t[k]) << x << " " << y;
                    ASSERT_EQ(reader.Cost(1, x, y), x == y ? 0.0 : u[k]) << x << " " << y;
                }
            }
        };
        reads_as_given(*model);
        const EngineModel copy = *model;
        model.reset();
        reads_as_given(copy);
        // With room for one copy, or none, the tables left as they are read alike.
        const auto instance = std::make_shared<const InstanceModel>(problem, tables);
        for (const std::size_t room : {n * n * sizeof(double), std::size_t{0}}) {
            reads_as_given(EngineModel(instance, problem.options, room));
        }
    }
}

TEST(EngineModelTables, RefusesArraysThatAreNotCosts) {
    const std::vector<Position> points(4);
    const Problem problem = Plain(points, {"t"});
    struct Case {
        std::size_t rows, columns;
        std::size_t bad;  // entry made bad, or npos
        double value;
    };
    const double nan = std::nan("");
    const double inf = std::numeric_limits<double>::infinity();
    for (const Case& c : {Case{4, 3, SIZE_MAX, 0}, Case{3, 3, SIZE_MAX, 0}, Case{4, 4, 1, -1.0},
                          Case{4, 4, 6, inf}, Case{4, 4, 0, nan}}) {
        std::vector<double> data(c.rows * c.columns, 1.0);
        if (c.bad != SIZE_MAX) data[c.bad] = c.value;
        CostTables tables;
        tables.arrays.push_back(CostTables::Array{"t", data.data(), c.rows, c.columns});
        EXPECT_THROW(EngineModel(problem, tables), std::invalid_argument);
    }
    CostTables unknown;
    unknown.computed = {{"nobody", DistanceRule::kExact}};
    EXPECT_THROW(EngineModel(problem, unknown), std::out_of_range);
    Problem far = Plain({{0, 0, 0}, {1e200, 0, 0}}, {"t"});
    CostTables computed;
    computed.computed = {{"t", DistanceRule::kExact}};
    EXPECT_THROW(EngineModel(far, computed), std::invalid_argument);
}

}  // namespace
}  // namespace vornik
