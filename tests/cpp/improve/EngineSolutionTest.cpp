#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "core/Problem.h"
#include "graph/SparseGraph.h"
#include "improve/EngineModel.h"
#include "improve/EngineSolution.h"
#include "improve/LocalSearch.h"
#include "improve/RandomInstances.h"
#include "plugins/RouteEvaluator.h"

namespace vornik {
namespace {

TEST(EngineSolutionTest, SpliceEqualsWalkingTheChangedRoute) {
    std::mt19937_64 rng(11);
    for (const Kind& kind : kKinds) {
        SCOPED_TRACE(kind.name);
        for (int round = 0; round < 30; ++round) {
            const EngineModel model(RandomProblem(rng, kind, 12, 3));
            const EngineSolution solution = RandomSolution(model, rng);
            for (int move = 0; move < 40; ++move) {
                const std::size_t a = rng() % model.NumAgents();
                const std::vector<std::uint32_t>& visits = solution.Route(a).visits;
                const std::size_t k = visits.size();
                const std::size_t i = rng() % (k + 1);
                const std::size_t j = i + 1 + rng() % (k + 1 - i);
                // Up to three targets from anywhere in place of positions i+1 .. j-1.
                std::vector<std::uint32_t> middle;
                for (std::size_t c = rng() % 4; c > 0; --c) {
                    middle.push_back(model.Targets()[rng() % model.Targets().size()]);
                }
                std::vector<std::uint32_t> changed(visits.begin(), visits.begin() + i);
                changed.insert(changed.end(), middle.begin(), middle.end());
                changed.insert(changed.end(), visits.begin() + (j - 1), visits.end());
                const double fast = solution.Splice(a, i, middle.begin(), middle.end(), j);
                const double slow = EngineSolution::WalkRoute(model, a, changed);
                if (slow == EngineSolution::kInfeasible) {
                    EXPECT_EQ(fast, EngineSolution::kInfeasible);
                } else {
                    EXPECT_DOUBLE_EQ(fast, slow);
                }
            }
        }
    }
}

// Moves inside a route are priced from prefix sums of its travel in both directions
// (without windows) or from its run tables (with windows: closed-form stretches, vertices
// of several windows stepped across), and 2-opt* between agents of one type from the two
// routes' clocks or tables; walking the changed route is the oracle, missing arcs, service,
// loads and second windows included. Short legs keep long windowed routes feasible often
// enough for the comparison to mean something: the test counts the finite prices.
TEST(EngineSolutionTest, RunsPricedInConstantTimeEqualWalking) {
    std::mt19937_64 rng(5);
    for (const Kind& kind : kKinds) {
        SCOPED_TRACE(kind.name);
        std::size_t compared = 0;
        std::size_t finite = 0;
        for (int round = 0; round < 30; ++round) {
            // Agents 0 and 2 are of one type; 40 nodes make routes deep enough for four
            // or five table levels.
            Problem problem = RandomProblem(rng, kind, 40, 3);
            for (Agent& agent : problem.agents_ordered) {
                for (double& capacity : agent.capacities) capacity *= 4.0;
            }
            for (auto& [type, matrix] : problem.cost_matrices) {
                for (auto& row : matrix) {
                    for (double& entry : row) entry = 1.0 + static_cast<double>(rng() % 8);
                    if (rng() % 4 == 0) row.pop_back();  // arcs into vertex 39 are missing
                }
            }
            const EngineModel model(problem);
            EngineSolution solution = RandomSolution(model, rng);
            // Tables rebuilt after changes: partial refreshes beneath them are under test too.
            for (int change = 0; change < 3; ++change) {
                const std::size_t a = rng() % model.NumAgents();
                std::vector<std::uint32_t> visits = solution.Route(a).visits;
                if (visits.size() < 2) continue;
                std::reverse(visits.begin() + static_cast<std::ptrdiff_t>(rng() % visits.size()),
                             visits.end());
                solution.SetVisits(a, visits);
                solution.PrepareRuns(a);
            }
            for (int move = 0; move < 40; ++move) {
                const std::size_t a = rng() % model.NumAgents();
                const std::size_t k = solution.Route(a).visits.size();
                if (!solution.PricesRunsInConstantTime(a) || k < 2) continue;
                // Positions i+1 .. j-1 cut into up to three runs, each maybe reversed,
                // in shuffled order.
                const std::size_t i = rng() % k;
                const std::size_t j = i + 2 + rng() % (k - i);
                std::vector<std::size_t> cuts{i + 1, j};
                for (int c = 0; c < 2; ++c) cuts.push_back(i + 1 + rng() % (j - i - 1));
                std::sort(cuts.begin(), cuts.end());
                std::vector<RouteRun> runs;
                for (std::size_t c = 0; c + 1 < cuts.size(); ++c) {
                    runs.push_back(RouteRun{cuts[c], cuts[c + 1] - 1, rng() % 2 == 0});
                }
                std::shuffle(runs.begin(), runs.end(), rng);
                std::vector<std::uint32_t> middle;
                solution.AppendRuns(a, runs.data(), runs.size(), middle);
                const double fast = solution.SpliceRuns(a, i, runs.data(), runs.size(), j);
                const double walked = EngineSolution::WalkRoute(
                    model, a, solution.Spliced(a, i, middle.begin(), middle.end(), j));
                ++compared;
                if (walked == EngineSolution::kInfeasible) {
                    EXPECT_EQ(fast, EngineSolution::kInfeasible);
                } else {
                    ++finite;
                    EXPECT_NEAR(fast, walked, 1e-9 * walked);
                    EXPECT_DOUBLE_EQ(walked,
                                     solution.Splice(a, i, middle.begin(), middle.end(), j));
                }
            }
            // Route a's head, then route b's tail, priced from the two routes' clocks.
            for (const auto& [a, b] : {std::pair<std::size_t, std::size_t>{0, 2}, {2, 0}}) {
                if (!solution.JoinsTailsInConstantTime(a, b)) continue;
                const std::vector<std::uint32_t>& tail = solution.Route(b).visits;
                const std::size_t i = rng() % (solution.Route(a).visits.size() + 1);
                const std::size_t j = 1 + rng() % (tail.size() + 1);
                const auto from = tail.begin() + static_cast<std::ptrdiff_t>(j - 1);
                const double walked = solution.Tail(a, i, from, tail.end());
                const double fast = solution.JoinTails(a, i, b, j);
                ++compared;
                if (walked == EngineSolution::kInfeasible) {
                    EXPECT_EQ(fast, EngineSolution::kInfeasible);
                } else {
                    ++finite;
                    EXPECT_NEAR(fast, walked, 1e-9 * walked);
                }
            }
        }
        EXPECT_GT(finite * 5, compared) << finite << " of " << compared << " prices finite";
    }
}

// With penalties set, lateness and excess load are priced, not refused: splices priced
// from the prefix walk and closed-form suffixes (vertices of several windows stepped
// across) equal walking the changed route with lateness allowed, and so do the routes'
// own priced costs after changes made while penalties are set. Tight windows and
// capacities make most routes late or overloaded; the test counts those.
TEST(EngineSolutionTest, PenalizedSpliceEqualsWalkingWithLatenessAndExcess) {
    std::mt19937_64 rng(17);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (const Kind& kind : kKinds) {
        SCOPED_TRACE(kind.name);
        std::size_t broken = 0;
        std::size_t routes = 0;
        for (int round = 0; round < 30; ++round) {
            Problem problem = RandomProblem(rng, kind, 16, 3);
            for (Agent& agent : problem.agents_ordered) {
                for (double& capacity : agent.capacities) capacity *= 0.5;
            }
            const EngineModel model(problem);
            EngineSolution solution = RandomSolution(model, rng);
            const PenaltyWeights penalties{0.5 + 3.0 * unit(rng), 0.5 + 3.0 * unit(rng)};
            solution.SetPenalties(&penalties);
            for (int change = 0; change < 3; ++change) {
                const std::size_t a = rng() % model.NumAgents();
                std::vector<std::uint32_t> visits = solution.Route(a).visits;
                if (visits.size() < 2) continue;
                std::reverse(visits.begin() + static_cast<std::ptrdiff_t>(rng() % visits.size()),
                             visits.end());
                solution.SetVisits(a, visits);
            }
            const auto expect_equal = [&](double fast, double walked) {
                ASSERT_EQ(fast == EngineSolution::kInfeasible,
                          walked == EngineSolution::kInfeasible);
                if (walked != EngineSolution::kInfeasible) {
                    EXPECT_NEAR(fast, walked, 1e-9 * std::max(1.0, walked));
                }
            };
            for (std::size_t a = 0; a < model.NumAgents(); ++a) {
                const EngineRoute& route = solution.Route(a);
                ++routes;
                expect_equal(solution.PricedCost(a),
                             EngineSolution::WalkPenalized(model, a, route.visits, penalties));
                if (route.cost == EngineSolution::kInfeasible &&
                    solution.PricedCost(a) != EngineSolution::kInfeasible) {
                    ++broken;
                    EXPECT_GT(solution.TimeWarp(a) + solution.ExcessLoad(a), 0.0);
                } else if (route.cost != EngineSolution::kInfeasible) {
                    EXPECT_DOUBLE_EQ(solution.PricedCost(a), route.cost);
                }
            }
            for (int move = 0; move < 40; ++move) {
                const std::size_t a = rng() % model.NumAgents();
                const std::vector<std::uint32_t>& visits = solution.Route(a).visits;
                const std::size_t k = visits.size();
                const std::size_t i = rng() % (k + 1);
                const std::size_t j = i + 1 + rng() % (k + 1 - i);
                std::vector<std::uint32_t> middle;
                for (std::size_t c = rng() % 4; c > 0; --c) {
                    middle.push_back(model.Targets()[rng() % model.Targets().size()]);
                }
                expect_equal(solution.Splice(a, i, middle.begin(), middle.end(), j),
                             EngineSolution::WalkPenalized(
                                 model, a, solution.Spliced(a, i, middle.begin(), middle.end(), j),
                                 penalties));
            }
        }
        // Kinds without windows or capacities have nothing to break.
        if (kind.windows || kind.fleet) {
            EXPECT_GT(broken * 4, routes) << broken << " of " << routes << " routes broken";
        }
    }
}

// A segment of many vertices, joined in any grouping, answers like walking them with
// lateness allowed, for entry clocks before, inside and after every window.
TEST(EngineSolutionTest, WarpSegmentsJoinLikeWalking) {
    std::mt19937_64 rng(23);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int round = 0; round < 500; ++round) {
        const std::size_t n = 1 + rng() % 6;
        std::vector<TimeWindow> windows(n);
        std::vector<double> service(n);
        std::vector<double> travel(n);
        for (std::size_t v = 0; v < n; ++v) {
            if (unit(rng) < 0.7) {
                const double open = 50.0 * unit(rng);
                windows[v] = TimeWindow{true, open, open + 20.0 * unit(rng)};
            }
            service[v] = unit(rng) < 0.5 ? 0.0 : 5.0 * unit(rng);
            travel[v] = 15.0 * unit(rng);  // the leg out of v
        }
        // Right to left, or split in the middle, to vary the grouping.
        const auto build = [&](std::size_t first, std::size_t last, auto& self) -> WarpSegment {
            if (first == last) return WarpSegment::Vertex(windows[first], service[first]);
            const std::size_t mid = first + rng() % (last - first);
            return WarpSegment::Join(self(first, mid, self), travel[mid],
                                     self(mid + 1, last, self));
        };
        const WarpSegment segment = build(0, n - 1, build);
        for (int entry = 0; entry < 10; ++entry) {
            const double t0 = -10.0 + 90.0 * unit(rng);
            double t = t0;
            double warp = 0.0;
            for (std::size_t v = 0; v < n; ++v) {
                if (v > 0) t += travel[v - 1];
                ArriveWarping(windows[v], t, warp);
                t += service[v];
            }
            EXPECT_NEAR(segment.Exit(t0), t, 1e-9);
            EXPECT_NEAR(segment.WarpFrom(t0), warp, 1e-9);
        }
    }
}

TEST(EngineSolutionTest, RouteCostsAgreeWithThePostOptimizersWalk) {
    std::mt19937_64 rng(12);
    for (const Kind& kind : kKinds) {
        if (kind.fleet) continue;  // the post-optimizers know no service, loads or second windows
        SCOPED_TRACE(kind.name);
        const std::size_t n = 10;
        Problem problem = RandomProblem(rng, kind, n, 3);
        // The post-optimizers never move an agent onto a vertex that is another agent's
        // end, its own start included; the agent with its own depot starts there too.
        if (kind.split_depot) problem.agents_ordered.back().start_node = 1;
        const EngineModel model(problem);
        // The same instance as the Solver hands it to the post-optimizers.
        auto graph = std::make_unique<SparseGraph>();
        graph->ChangeCostDim(2, 9999.0);
        for (std::uint64_t v = 0; v < n; ++v) graph->AddVertex(v);
        for (std::uint64_t u = 0; u < n; ++u) {
            for (std::uint64_t v = 0; v < n; ++v) {
                if (u == v) continue;
                graph->AddArc(u, v,
                              {problem.cost_matrices.at("car")[u][v],
                               problem.cost_matrices.at("bike")[u][v]});
            }
        }
        std::vector<NodeEntry> nodes(n);
        for (std::uint64_t v = 0; v < n; ++v) {
            nodes[v].id = v;
            const auto listed = problem.assignment_constraint.types_by_node.find(v);
            nodes[v].allowed_types = listed == problem.assignment_constraint.types_by_node.end()
                                         ? std::vector<std::int64_t>{0, 1}
                                         : std::vector<std::int64_t>{0};
        }
        std::vector<AgentEntry> agents;
        std::vector<std::uint64_t> starts;
        std::vector<std::uint64_t> ends;
        for (std::size_t a = 0; a < model.NumAgents(); ++a) {
            const Agent& agent = problem.agents_ordered[a];
            agents.push_back(
                AgentEntry{agent.id, static_cast<std::int64_t>(a % 2), 0.0, agent.time_limit});
            starts.push_back(model.Agent(a).start);
            ends.push_back(model.Agent(a).end);
        }
        TimeWindowTable windows;
        for (const auto& [v, window] : problem.timewindow_constraint.window_by_node) {
            windows[v] = window;
        }
        RouteEvaluator evaluator;
        evaluator.SetReturnToEnd(kind.return_to_end);
        evaluator.SetStartVertices(starts);
        evaluator.SetEndVertices(ends);
        evaluator.SetTimeWindows(windows);
        evaluator.Bind(graph.get(), nodes, agents);
        for (int round = 0; round < 200; ++round) {
            const EngineSolution solution = RandomSolution(model, rng);
            for (std::size_t a = 0; a < model.NumAgents(); ++a) {
                std::vector<std::uint64_t> path{model.Agent(a).start};
                for (const std::uint32_t v : solution.Route(a).visits) path.push_back(v);
                path.push_back(model.Agent(a).end);
                const RouteEvaluation walked = evaluator.EvaluateRoute(path, a);
                const double cost = solution.Route(a).cost;
                ASSERT_EQ(walked.ok, cost != EngineSolution::kInfeasible)
                    << "agent " << a << " route " << ::testing::PrintToString(path);
                if (walked.ok) {
                    EXPECT_DOUBLE_EQ(walked.cost, cost);
                }
            }
        }
    }
}

// The engine's rules read literally from the Problem (vertex = node id here): every
// window given, service, loads against capacities (0 is no limit), the closing leg free
// on open routes, the limit on the final clock.
double ReferenceWalk(const Problem& problem, const EngineModel& model, std::size_t a,
                     const std::vector<std::uint32_t>& visits) {
    constexpr double kInf = EngineSolution::kInfeasible;
    const Agent& agent = problem.agents_ordered[a];
    const CostMatrix& matrix = problem.cost_matrices.at(agent.type);
    const auto arrive = [&](std::uint32_t v, double& t) {
        const auto& tw = problem.timewindow_constraint;
        std::vector<std::pair<double, double>> windows;
        const auto several = tw.windows_by_node.find(v);
        if (several != tw.windows_by_node.end() && several->second.size() >= 2) {
            windows = several->second;
        } else if (tw.window_by_node.count(v) != 0) {
            windows = {tw.window_by_node.at(v)};
        } else {
            return true;
        }
        // Inside a window: no wait; otherwise wait for the earliest opening still ahead.
        double opening = kInf;
        for (const auto& [open, close] : windows) {
            if (open > close || close < t) continue;
            if (open <= t) return true;
            opening = std::min(opening, open);
        }
        if (opening == kInf) return false;
        t = opening;
        return true;
    };
    const std::uint32_t start = model.Agent(a).start;
    const std::uint32_t end = model.Agent(a).end;
    double t = 0.0;
    if (!arrive(start, t)) return kInf;
    std::vector<double> load(agent.capacities.size(), 0.0);
    std::uint32_t u = start;
    for (const std::uint32_t v : visits) {
        t += u == v ? 0.0 : matrix[u][v];
        if (!arrive(v, t)) return kInf;
        t += problem.nodes[v].service;
        const std::vector<double>& demands = problem.nodes[v].demands;
        for (std::size_t d = 0; d < demands.size(); ++d) load[d] += demands[d];
        u = v;
    }
    if (problem.options.return_to_end && u != end) t += matrix[u][end];
    if (!arrive(end, t)) return kInf;
    for (std::size_t d = 0; d < load.size(); ++d) {
        const double capacity = agent.capacities[d];
        if (capacity > 0 && load[d] > capacity + 1e-9 * std::max(1.0, capacity)) return kInf;
    }
    return agent.time_limit > 0 && t > agent.time_limit ? kInf : t;
}

// The walker behind WalkRoute, and the cached route costs, against the literal walk.
TEST(EngineSolutionTest, WalkedAndCachedCostsEqualTheReferenceWalk) {
    std::mt19937_64 rng(31);
    std::size_t feasible = 0;
    std::size_t routes = 0;
    for (const Kind& kind : kKinds) {
        SCOPED_TRACE(kind.name);
        const Problem problem = RandomProblem(rng, kind, 12, 3);
        const EngineModel model(problem);
        for (int round = 0; round < 100; ++round) {
            const EngineSolution solution = RandomSolution(model, rng);
            for (std::size_t a = 0; a < model.NumAgents(); ++a) {
                const std::vector<std::uint32_t>& visits = solution.Route(a).visits;
                const double expected = ReferenceWalk(problem, model, a, visits);
                EXPECT_EQ(EngineSolution::WalkRoute(model, a, visits), expected)
                    << "agent " << a << " route " << ::testing::PrintToString(visits);
                EXPECT_EQ(solution.Route(a).cost, expected);
                feasible += expected != EngineSolution::kInfeasible ? 1 : 0;
                ++routes;
            }
        }
    }
    // Both outcomes must be common for the comparison to mean much.
    EXPECT_GT(feasible, routes / 10);
    EXPECT_LT(feasible, routes);
}

// A change refreshes only the positions it touched; rebuilding the routes from nothing is
// the oracle for every cache, after every kind of change.
TEST(EngineSolutionTest, PartialRefreshEqualsRebuilding) {
    std::mt19937_64 rng(17);
    for (const Kind& kind : kKinds) {
        SCOPED_TRACE(kind.name);
        const EngineModel model(RandomProblem(rng, kind, 16, 2));
        EngineSolution solution = RandomSolution(model, rng);
        int deferred = 0;
        for (int change = 0; change < 300; ++change) {
            const std::size_t a = rng() % model.NumAgents();
            const std::size_t k = solution.Route(a).visits.size();
            const int what = static_cast<int>(rng() % 4);
            if (what == 0 && !solution.Unassigned().empty()) {
                const std::uint32_t v = solution.Unassigned()[rng() % solution.Unassigned().size()];
                solution.Insert(a, v, rng() % (k + 1));
            } else if (what == 3 && solution.DefersInsertions()) {
                // A recreate's batch: several targets into two routes, each priced like a
                // walk of the route it makes, caches rebuilt once at the end.
                for (int n = 0; n < 6 && !solution.Unassigned().empty(); ++n) {
                    const std::uint32_t v =
                        solution.Unassigned()[rng() % solution.Unassigned().size()];
                    const std::size_t r = n % 2 == 0 ? a : rng() % model.NumAgents();
                    const std::size_t i = rng() % (solution.Route(r).visits.size() + 1);
                    std::vector<std::uint32_t> walked = solution.Route(r).visits;
                    // Inserts above may have given a route a target its agent may not
                    // serve, which only a walk notices: such routes take no part.
                    if (EngineSolution::WalkRoute(model, r, walked) == EngineSolution::kInfeasible)
                        continue;
                    walked.insert(walked.begin() + static_cast<std::ptrdiff_t>(i), v);
                    const double want = EngineSolution::WalkRoute(model, r, walked);
                    const double got = solution.DeferredInsertionCost(r, v, i);
                    if (want == EngineSolution::kInfeasible) {
                        ASSERT_EQ(got, want);
                    } else {
                        ASSERT_NEAR(got, want, 1e-9 * (1.0 + want));
                    }
                    if (got == EngineSolution::kInfeasible) continue;
                    solution.InsertDeferred(r, v, i);
                    ++deferred;
                    ASSERT_EQ(solution.RouteOf(v), static_cast<std::int64_t>(r));
                    ASSERT_EQ(solution.Route(r).visits, walked);
                }
                solution.FinishInsertions();
            } else if (what == 1 && k > 0) {
                const std::size_t first = 1 + rng() % k;
                solution.RemoveVisits(a, first, first + rng() % (k - first + 1));
            } else if (k > 1) {  // reverse or rotate a stretch
                std::vector<std::uint32_t> visits = solution.Route(a).visits;
                const std::size_t lo = rng() % k;
                const std::size_t hi = lo + 1 + rng() % (k - lo);
                if (rng() % 2 == 0) {
                    std::reverse(visits.begin() + lo, visits.begin() + hi);
                } else {
                    std::rotate(visits.begin() + lo, visits.begin() + lo + 1, visits.begin() + hi);
                }
                solution.SetVisits(a, visits);
            }
            EngineSolution rebuilt(&model);
            for (std::size_t r = 0; r < model.NumAgents(); ++r) {
                rebuilt.SetVisits(r, solution.Route(r).visits);
            }
            for (std::size_t r = 0; r < model.NumAgents(); ++r) {
                ASSERT_EQ(solution.Route(r).cost, rebuilt.Route(r).cost) << r;
            }
            const EngineRoute& got = solution.Route(a);
            const EngineRoute& want = rebuilt.Route(a);
            ASSERT_EQ(got.cost, want.cost);
            ASSERT_EQ(got.clock, want.clock);
            ASSERT_EQ(got.backward, want.backward);
            ASSERT_EQ(got.backward_gaps, want.backward_gaps);
            ASSERT_EQ(got.load_prefix, want.load_prefix);
            if (model.HasWindows()) {
                ASSERT_EQ(got.to_barrier, want.to_barrier);
            }
            for (std::size_t p = 0; p < want.suffix.size(); ++p) {
                ASSERT_EQ(got.suffix[p].duration, want.suffix[p].duration) << p;
                ASSERT_EQ(got.suffix[p].earliest, want.suffix[p].earliest) << p;
                ASSERT_EQ(got.suffix[p].latest, want.suffix[p].latest) << p;
                ASSERT_EQ(got.suffix[p].feasible, want.suffix[p].feasible) << p;
            }
            for (const std::uint32_t v : model.Targets()) {
                ASSERT_EQ(solution.RouteOf(v), rebuilt.RouteOf(v)) << v;
                if (solution.RouteOf(v) >= 0) {
                    ASSERT_EQ(solution.PositionOf(v), rebuilt.PositionOf(v)) << v;
                }
            }
        }
        if (!model.HasWindows()) {
            EXPECT_GT(deferred, 30);
        }
    }
}

TEST(EngineSolutionTest, LocalSearchKeepsEveryTargetAndExactCachesAndNeverWorsens) {
    std::mt19937_64 rng(13);
    // The third column: routes above a bound (the median route) cost 5 times more.
    for (const auto& [objective, infeasible, capped] :
         {std::tuple{ObjectiveType::MinMax, 0, false}, std::tuple{ObjectiveType::MinSum, 0, false},
          std::tuple{ObjectiveType::MinMax, 1, false}, std::tuple{ObjectiveType::MinSum, 1, false},
          std::tuple{ObjectiveType::MinMax, 0, true}, std::tuple{ObjectiveType::MinSum, 1, true}}) {
        for (const Kind& kind : kKinds) {
            SCOPED_TRACE(std::string(kind.name) + (infeasible == 1 ? ", infeasible space" : "") +
                         (capped ? ", capped" : ""));
            Problem problem = RandomProblem(rng, kind, 60, 6);
            problem.options.objective = objective;
            const EngineModel model(problem);
            ScoreWeights weights;
            weights.max_weight = objective == ObjectiveType::MinMax && !capped ? 1.0 : 0.0;
            weights.sum_weight = objective == ObjectiveType::MinMax && !capped ? 1e-6 : 1.0;
            weights.unassigned_penalty = 1e9;
            // Start from an all-feasible solution: targets whose route breaks go unserved.
            EngineSolution solution = RandomSolution(model, rng);
            std::vector<double> costs;
            for (std::size_t a = 0; a < solution.NumRoutes(); ++a) {
                if (solution.Route(a).cost == EngineSolution::kInfeasible) {
                    solution.RemoveVisits(a, 1, solution.Route(a).visits.size());
                }
                costs.push_back(solution.Route(a).cost);
            }
            if (capped) {
                std::sort(costs.begin(), costs.end());
                weights.cap = costs[costs.size() / 2];
                weights.over_weight = 5.0;
            }
            const double before = weights.Of(solution);
            std::vector<bool> feasible;
            for (std::size_t a = 0; a < solution.NumRoutes(); ++a) {
                feasible.push_back(solution.Route(a).cost != EngineSolution::kInfeasible);
            }
            // Through infeasible space too: feasible routes end feasible, never worse.
            EngineParams params;
            params.infeasible_search = static_cast<std::size_t>(infeasible);
            LocalSearch search(&model, &weights, params);
            search.Run(solution, rng);
            EXPECT_LE(weights.Of(solution), before + 1e-9);
            for (std::size_t a = 0; a < solution.NumRoutes(); ++a) {
                if (feasible[a]) {
                    EXPECT_NE(solution.Route(a).cost, EngineSolution::kInfeasible);
                }
            }
            EXPECT_EQ(solution.Penalties(), nullptr);
            std::vector<int> seen(model.NumVertices(), 0);
            for (std::size_t a = 0; a < solution.NumRoutes(); ++a) {
                const EngineRoute& route = solution.Route(a);
                EXPECT_DOUBLE_EQ(route.cost, EngineSolution::WalkRoute(model, a, route.visits));
                for (std::size_t p = 1; p <= route.visits.size(); ++p) {
                    ++seen[route.visits[p - 1]];
                    EXPECT_EQ(solution.RouteOf(route.visits[p - 1]), static_cast<std::int64_t>(a));
                    EXPECT_EQ(solution.PositionOf(route.visits[p - 1]), p);
                }
            }
            for (const std::uint32_t v : solution.Unassigned()) ++seen[v];
            for (const std::uint32_t v : model.Targets()) EXPECT_EQ(seen[v], 1) << "target " << v;
            // A local optimum: a fresh descent, which tries every target, finds nothing
            // (later passes skip targets whose routes did not change, which must not
            // hide a move that pays).
            if (infeasible == 0) {
                EXPECT_EQ(search.Run(solution, rng), 0u);
            }
        }
    }
}

}  // namespace
}  // namespace vornik
