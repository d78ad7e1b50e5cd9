#ifndef VORNIK_TESTS_CPP_IMPROVE_RANDOMINSTANCES_H
#define VORNIK_TESTS_CPP_IMPROVE_RANDOMINSTANCES_H

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/Problem.h"
#include "improve/EngineModel.h"
#include "improve/EngineSolution.h"
#include "improve/MoveCosts.h"

namespace vornik {

struct Kind {
    const char* name;
    bool windows;
    bool limits;
    bool return_to_end;
    bool split_depot;    ///< the last agent ends at vertex 1
    bool fleet = false;  ///< service, loads in two dimensions, second windows, optional targets
};

// Random asymmetric integer costs, two agent types, windows (the depot's too) and limits.
inline Problem RandomProblem(std::mt19937_64& rng, const Kind& kind, std::size_t n, std::size_t m) {
    Problem problem;
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (std::size_t v = 0; v < n; ++v) {
        Node node;
        node.id = v;
        if (kind.fleet && v > 1) {
            node.service = static_cast<double>(rng() % 8);
            node.demands = {static_cast<double>(rng() % 5), 0.5 * static_cast<double>(rng() % 4)};
            node.required = unit(rng) < 0.7;
            node.penalty = 40.0 * unit(rng);
        }
        problem.AddNode(node);
    }
    std::uniform_int_distribution<int> cost(1, 50);
    for (std::size_t a = 0; a < m; ++a) {
        Agent agent;
        agent.id = a;
        agent.type = a % 2 == 0 ? "car" : "bike";
        agent.end_node = kind.split_depot && a + 1 == m ? 1 : 0;
        agent.time_limit = kind.limits ? 150.0 + 100.0 * unit(rng) : 0.0;
        // The second dimension is unlimited (0) for every other agent.
        if (kind.fleet)
            agent.capacities = {8.0 + static_cast<double>(rng() % 8), a % 2 == 0 ? 0.0 : 3.5};
        problem.AddAgent(agent, a);
    }
    for (const char* type : {"car", "bike"}) {
        CostMatrix matrix(n, std::vector<double>(n, 0.0));
        for (auto& row : matrix) {
            for (double& entry : row) entry = cost(rng);
        }
        problem.SetCostMatrix(type, matrix);
    }
    for (std::size_t v = 0; v < n; ++v) {
        if (v > 1 && unit(rng) < 0.2) problem.assignment_constraint.SetAssignment(v, {"car"});
        if (kind.windows && unit(rng) < 0.5) {
            const double open = 60.0 * unit(rng);
            problem.timewindow_constraint.SetTimewindow(v, open, open + 20.0 + 120.0 * unit(rng));
            if (kind.fleet && unit(rng) < 0.5) {
                const double later = open + 60.0 + 100.0 * unit(rng);
                problem.timewindow_constraint.AddTimewindow(v, later,
                                                            later + 10.0 + 40.0 * unit(rng));
            }
        }
    }
    problem.options.return_to_end = kind.return_to_end;
    return problem;
}

// Every target into a random route that may serve it, in random order.
inline EngineSolution RandomSolution(const EngineModel& model, std::mt19937_64& rng) {
    EngineSolution solution(&model);
    std::vector<std::vector<std::uint32_t>> visits(model.NumAgents());
    for (const std::uint32_t v : model.Targets()) {
        std::vector<std::size_t> able;
        for (std::size_t a = 0; a < model.NumAgents(); ++a) {
            if (model.CanServe(a, v)) able.push_back(a);
        }
        if (!able.empty()) visits[able[rng() % able.size()]].push_back(v);
    }
    solution.MutableUnassigned().clear();
    for (std::size_t a = 0; a < visits.size(); ++a) {
        std::shuffle(visits[a].begin(), visits[a].end(), rng);
        solution.SetVisits(a, visits[a]);
    }
    // Windowed moves are then estimated from run tables too.
    solution.KeepRunTables(true);
    return solution;
}

inline const Kind kKinds[] = {
    {"plain", false, false, true, false},
    {"windows", true, false, true, false},
    {"windows_limits_open", true, true, false, false},
    {"split_depot_windows", true, true, true, true},
    {"split_depot_open", false, false, false, true},
    {"fleet_windows_limits", true, true, true, false, true},
    {"fleet_open", false, false, false, false, true},
    {"fleet_windows_open", true, false, false, false, true},
};

// A move priced, then applied to a copy: the costs it announced are the changed routes'
// costs after it, and walking those routes from scratch agrees (the engine's walk is
// checked against the post-optimizers' in EngineSolutionTest). Its constant-time
// estimate, where it has one, agrees up to rounding; every target stays in exactly one
// route or the unassigned list, and the other routes do not change.
template <typename Move>
void ExpectMoveEqualsWalking(const EngineModel& model, const EngineSolution& solution,
                             const Move& move) {
    constexpr double kInf = EngineSolution::kInfeasible;
    const MoveCosts costs = move.Evaluate(solution);
    EngineSolution after = solution;
    move.Apply(after);
    for (const auto& [route, cost] :
         {std::pair{costs.first, costs.first_cost}, std::pair{costs.second, costs.second_cost}}) {
        if (route == MoveCosts::kNoRoute) continue;
        // A move may leave the second route unpriced once the first breaks a rule.
        if (route == costs.second && costs.first_cost == kInf) continue;
        const double walked = EngineSolution::WalkRoute(model, route, after.Route(route).visits);
        ASSERT_EQ(cost == kInf, walked == kInf) << "route " << route;
        if (walked != kInf) {
            EXPECT_DOUBLE_EQ(cost, walked);
            EXPECT_DOUBLE_EQ(after.Route(route).cost, walked);
        }
    }
    if constexpr (kHasEstimate<Move>) {
        if (move.Estimable(solution)) {
            const MoveCosts estimate = move.Estimate(solution);
            const auto agree = [](double estimated, double exact) {
                ASSERT_EQ(estimated == kInf, exact == kInf);
                if (exact != kInf) {
                    EXPECT_NEAR(estimated, exact, 1e-9 * exact);
                }
            };
            agree(estimate.first_cost, costs.first_cost);
            if (costs.second != MoveCosts::kNoRoute && costs.first_cost != kInf) {
                agree(estimate.second_cost, costs.second_cost);
            }
        }
    }
    std::vector<int> seen(model.NumVertices(), 0);
    for (std::size_t r = 0; r < after.NumRoutes(); ++r) {
        if (r != costs.first && r != costs.second) {
            EXPECT_EQ(after.Route(r).visits, solution.Route(r).visits);
        }
        for (const std::uint32_t v : after.Route(r).visits) ++seen[v];
    }
    for (const std::uint32_t v : after.Unassigned()) ++seen[v];
    for (const std::uint32_t v : model.Targets()) ASSERT_EQ(seen[v], 1) << "target " << v;
}

// Random moves of one kind on random solutions of every kind of instance.
template <typename MakeMove>
void CheckRandomMoves(std::uint64_t seed, MakeMove make_move) {
    std::mt19937_64 rng(seed);
    for (const Kind& kind : kKinds) {
        SCOPED_TRACE(kind.name);
        for (int round = 0; round < 20; ++round) {
            const EngineModel model(RandomProblem(rng, kind, 14, 3));
            const EngineSolution solution = RandomSolution(model, rng);
            for (int move = 0; move < 30; ++move) make_move(model, solution, rng);
        }
    }
}

}  // namespace vornik

#endif  // VORNIK_TESTS_CPP_IMPROVE_RANDOMINSTANCES_H
