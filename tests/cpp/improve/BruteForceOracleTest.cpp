#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "core/Problem.h"
#include "improve/EngineModel.h"
#include "improve/ImprovementEngine.h"

namespace vornik {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// A small instance as plain arrays, so that the walk below owes nothing to the engine.
struct Small {
    std::size_t n = 7;                                   // vertex 0 is the depot of both agents
    std::vector<std::vector<std::vector<double>>> cost;  // per agent
    std::vector<double> service, penalty;
    std::vector<bool> required;
    std::vector<std::vector<double>> demand;                      // per vertex, 2 dimensions
    std::vector<std::vector<double>> capacity;                    // per agent, 0 = no limit
    std::vector<std::vector<std::pair<double, double>>> windows;  // per vertex, sorted, disjoint
    std::vector<double> limit;                                    // per agent, 0 = none
    bool return_to_end = true;
    ObjectiveType objective = ObjectiveType::MinSum;
};

Small RandomSmall(std::mt19937_64& rng) {
    Small s;
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const auto pick = [&](int lo, int hi) { return lo + static_cast<int>(rng() % (hi - lo + 1)); };
    s.cost.assign(2, std::vector<std::vector<double>>(s.n, std::vector<double>(s.n, 0.0)));
    for (auto& matrix : s.cost) {
        for (std::size_t u = 0; u < s.n; ++u) {
            for (std::size_t v = 0; v < s.n; ++v) matrix[u][v] = u == v ? 0 : pick(1, 30);
        }
    }
    s.service.assign(s.n, 0.0);
    s.penalty.assign(s.n, 0.0);
    s.required.assign(s.n, true);
    s.demand.assign(s.n, {0.0, 0.0});
    s.windows.assign(s.n, {});
    for (std::size_t v = 1; v < s.n; ++v) {
        s.service[v] = pick(0, 5);
        s.demand[v] = {static_cast<double>(pick(0, 4)), 0.5 * pick(0, 3)};
        if (unit(rng) < 0.35) {
            s.required[v] = false;
            s.penalty[v] = pick(5, 60);
        }
        if (unit(rng) < 0.5) {
            const double open = pick(0, 40);
            s.windows[v].push_back({open, open + pick(5, 30)});
            if (unit(rng) < 0.6) {  // a second window after a gap
                const double later = s.windows[v][0].second + pick(5, 40);
                s.windows[v].push_back({later, later + pick(5, 30)});
            }
        }
    }
    s.capacity = {{static_cast<double>(pick(5, 10)), 0.0}, {static_cast<double>(pick(4, 9)), 2.5}};
    s.limit = {unit(rng) < 0.5 ? static_cast<double>(pick(60, 120)) : 0.0, 0.0};
    s.return_to_end = unit(rng) < 0.7;
    return s;
}

Problem ToProblem(const Small& s) {
    Problem problem;
    for (std::size_t v = 0; v < s.n; ++v) {
        Node node;
        node.id = v;
        node.type = v == 0 ? NodeType::DEPOT : NodeType::TARGET;
        node.service = s.service[v];
        node.demands = s.demand[v];
        node.required = s.required[v];
        node.penalty = s.penalty[v];
        problem.AddNode(node);
        // Windows given out of order, so that the model's sorting is exercised too.
        for (auto w = s.windows[v].rbegin(); w != s.windows[v].rend(); ++w) {
            problem.timewindow_constraint.AddTimewindow(v, w->first, w->second);
        }
    }
    for (std::size_t a = 0; a < 2; ++a) {
        Agent agent;
        agent.id = a;
        agent.type = a == 0 ? "van" : "truck";
        agent.capacities = s.capacity[a];
        agent.time_limit = s.limit[a];
        problem.AddAgent(agent, a);
        problem.SetCostMatrix(agent.type, s.cost[a]);
    }
    problem.options.return_to_end = s.return_to_end;
    problem.options.objective = s.objective;
    return problem;
}

// The route of agent a through `visits`, walked: its cost or +infinity.
double Walk(const Small& s, std::size_t a, const std::vector<std::uint32_t>& visits) {
    double t = 0.0;
    double load[2] = {0.0, 0.0};
    std::uint32_t u = 0;
    for (const std::uint32_t v : visits) {
        t += s.cost[a][u][v];
        if (!s.windows[v].empty()) {
            bool open = false;
            for (const auto& [start, end] : s.windows[v]) {
                if (t <= end) {
                    t = std::max(t, start);
                    open = true;
                    break;
                }
            }
            if (!open) return kInf;
        }
        t += s.service[v];
        for (int d = 0; d < 2; ++d) load[d] += s.demand[v][d];
        u = v;
    }
    for (int d = 0; d < 2; ++d) {
        if (s.capacity[a][d] > 0 && load[d] > s.capacity[a][d] + 1e-9) return kInf;
    }
    if (s.return_to_end) t += s.cost[a][u][0];
    return s.limit[a] > 0 && t > s.limit[a] ? kInf : t;
}

struct Optimum {
    std::size_t missing = 0;
    double value = kInf;
};

// Every split of the targets into unserved / agent 0 / agent 1, each route in its best
// order. Routes do not interact, so the best order per route is best for either objective.
Optimum BruteForce(const Small& s) {
    const std::size_t targets = s.n - 1;
    std::vector<std::vector<double>> best(2, std::vector<double>(1u << targets, kInf));
    for (std::size_t a = 0; a < 2; ++a) {
        for (std::uint32_t mask = 0; mask < (1u << targets); ++mask) {
            std::vector<std::uint32_t> order;
            for (std::uint32_t t = 0; t < targets; ++t) {
                if ((mask >> t) & 1u) order.push_back(t + 1);
            }
            do {
                best[a][mask] = std::min(best[a][mask], Walk(s, a, order));
            } while (std::next_permutation(order.begin(), order.end()));
        }
    }
    Optimum optimum{targets + 1, kInf};
    std::size_t combos = 1;
    for (std::size_t t = 0; t < targets; ++t) combos *= 3;
    for (std::size_t code = 0; code < combos; ++code) {
        std::uint32_t mask[2] = {0, 0};
        std::size_t missing = 0;
        double penalty = 0.0;
        std::size_t rest = code;
        for (std::uint32_t t = 0; t < targets; ++t, rest /= 3) {
            if (rest % 3 < 2) {
                mask[rest % 3] |= 1u << t;
            } else if (s.required[t + 1]) {
                ++missing;
            } else {
                penalty += s.penalty[t + 1];
            }
        }
        const double c0 = best[0][mask[0]];
        const double c1 = best[1][mask[1]];
        if (c0 == kInf || c1 == kInf) continue;
        const double value =
            (s.objective == ObjectiveType::MinSum ? c0 + c1 : std::max(c0, c1)) + penalty;
        if (missing < optimum.missing || (missing == optimum.missing && value < optimum.value)) {
            optimum = {missing, value};
        }
    }
    return optimum;
}

// With service, loads in two dimensions, second windows and optional targets, the engine
// serves as many required targets as the optimum does, never reports a plan below the
// optimum (that would be a rule it breaks), and reaches the optimum on almost every
// instance; its routes pass the walk above. Some of these tightly windowed instances
// hold a local optimum that short runs do not leave (seen on 1 of 40 at 6 x 2000 steps).
// Both strategies start from nothing, so the population's cut and crossover are reached.
// The annealing runs also with its route bound under min-max on every instance (by
// default only from 150 targets per agent on): led by the summed cost, it balances two
// routes above the bound only where that shortens them both, and misses the optimum of
// a few of these instances (3 of the 20 min-max ones, one by 11 %).
struct Variant {
    const char* name;
    SearchStrategy strategy;
    std::size_t cap_targets;
    int misses;    // instances allowed to end above the optimum
    double slack;  // how far above it
};
class BruteForceOracleTest : public ::testing::TestWithParam<Variant> {};

TEST_P(BruteForceOracleTest, EngineReachesTheOptimumOfSmallFleetInstances) {
    std::mt19937_64 rng(2026);
    constexpr int kRounds = 40;
    int reached = 0;
    for (int round = 0; round < kRounds; ++round) {
        Small s = RandomSmall(rng);
        s.objective = round % 2 == 0 ? ObjectiveType::MinSum : ObjectiveType::MinMax;
        SCOPED_TRACE("round " + std::to_string(round));
        const Optimum optimum = BruteForce(s);
        const Problem problem = ToProblem(s);
        const EngineModel model(problem);
        // The best of three short runs: one run can stall in a local optimum of these
        // tightly constrained instances, which says nothing about the rules.
        EngineOutcome outcome;
        for (std::uint64_t seed = 0; seed < 3; ++seed) {
            EngineSettings settings;
            settings.seed = seed;
            settings.iteration_limit = 600;
            settings.params.strategy = GetParam().strategy;
            settings.params.cap_targets = GetParam().cap_targets;
            settings.params.cap_from_epoch = 0;
            settings.clock = [] { return 0.0; };
            EngineOutcome run = ImprovementEngine(&model, settings).Run({});
            if (seed == 0 || Better(s.objective, run.score, outcome.score)) outcome = run;
        }
        ASSERT_TRUE(outcome.found);
        EXPECT_EQ(outcome.score.missing, optimum.missing);
        double objective = 0.0;
        std::vector<int> served(s.n, 0);
        for (std::size_t a = 0; a < 2; ++a) {
            const double walked = Walk(s, a, outcome.routes[a]);
            ASSERT_NE(walked, kInf);
            EXPECT_NEAR(walked, outcome.costs[a], 1e-9);
            objective = s.objective == ObjectiveType::MinSum ? objective + walked
                                                             : std::max(objective, walked);
            for (const std::uint32_t v : outcome.routes[a]) ++served[v];
        }
        for (const std::uint32_t v : outcome.unserved) ++served[v];
        for (std::size_t v = 1; v < s.n; ++v) EXPECT_EQ(served[v], 1) << "vertex " << v;
        const double value = objective + outcome.score.penalty;
        EXPECT_GE(value, optimum.value - 1e-6);
        EXPECT_LE(value, optimum.value * GetParam().slack + 1e-6);
        if (value <= optimum.value + 1e-6) ++reached;
        EXPECT_EQ(outcome.reasons.size(), optimum.missing);
    }
    EXPECT_GE(reached, kRounds - GetParam().misses);
}

INSTANTIATE_TEST_SUITE_P(Strategies, BruteForceOracleTest,
                         ::testing::Values(Variant{"anneal", SearchStrategy::kAnneal, 100, 2, 1.1},
                                           Variant{"population", SearchStrategy::kPopulation, 100,
                                                   2, 1.1},
                                           Variant{"bounded", SearchStrategy::kAnneal, 0, 4, 1.15}),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace vornik
