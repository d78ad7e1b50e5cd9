// Per-call times of the search's and the post-optimizers' hot paths on random instances
// of n = 50, 100 and 256 vertices (Euclidean costs, two agent types at speeds 1 and
// 1 / 1.25, time windows on some targets, 4 agents on separate depots):
//
//   evaluate      DefaultHeuristic::Evaluate on mid-search nodes
//   tw_check      TimeWindowConstraintChecker::CheckArrival for every vertex a node's
//                 moving agent could go to, as one expansion asks it
//   composite     the same moves through the Solver's chain (default checker, then the
//                 time-window checker) in a CompositeConstraintChecker
//   expansion     one expansion of the Solver (GenerateSuccessors with everything it
//                 calls: checkers, dominance, heuristic, list inserts), measured as the
//                 processor time of Solver::Solve stopped at a fixed poll of its stop
//                 callback, divided by the expanded nodes, on the same instance
//   eval_route    RouteEvaluator::EvaluateRoute of a complete route
//   two_opt       one RouteEvaluator::ImproveTwoOpt call on a complete route (both on
//                 a solution of the same shape without windows, which it can drive)
//
// Mid-search nodes are prefixes of a complete random solution (each agent has driven a
// random part of its route), so the checker sees the states the search meets. Every
// figure is the best of 5 rounds (the machine is shared); a checksum keeps the calls
// from being optimised away.
//
//   hotpath_bench [--polls N]   (default 200)

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/Problem.h"
#include "plugins/CompositeConstraintChecker.h"
#include "plugins/DefaultConstraintChecker.h"
#include "plugins/DefaultHeuristic.h"
#include "plugins/PostOptimizerTestSupport.h"
#include "plugins/RouteEvaluator.h"
#include "plugins/TimeWindowConstraintChecker.h"
#include "search/EdgeList.h"
#include "search/Solver.h"

namespace {

using vornik::SearchNode;
using vornik::testing_support::PostOptCase;
using Clock = std::chrono::steady_clock;

constexpr int kRounds = 5;

// Best per-call seconds of `calls` calls of `body` over kRounds rounds.
double BestPerCall(std::size_t calls, const std::function<void()>& body) {
    double best = 0.0;
    for (int round = 0; round < kRounds; ++round) {
        const auto start = Clock::now();
        body();
        const double took = std::chrono::duration<double>(Clock::now() - start).count();
        const double per_call = took / static_cast<double>(calls);
        if (round == 0 || per_call < best) best = per_call;
    }
    return best;
}

PostOptCase MakeCase(std::size_t n, bool windows, std::mt19937_64& rng) {
    vornik::testing_support::CaseShape shape;
    shape.vertices = n;
    shape.min_agents = 4;
    shape.max_agents = 4;
    shape.num_types = 2;
    shape.windows = windows;
    shape.restrict_types = true;
    shape.shared_depot = false;
    shape.return_to_end = true;
    return vornik::testing_support::MakeRandomCase(rng, shape);
}

// A node in which every agent has driven a random prefix of its route in `c`.
SearchNode MidSearchNode(const PostOptCase& c, std::mt19937_64& rng) {
    const std::size_t agents = c.agents.size();
    SearchNode node;
    node.num_vertices = static_cast<std::int32_t>(c.nodes.size());
    node.open_agents = static_cast<std::int64_t>(agents);
    for (std::size_t a = 0; a < agents; ++a) {
        const auto path = c.result.paths.find(static_cast<std::int64_t>(a));
        const std::vector<std::int64_t> route =
            path != c.result.paths.end() ? path->second : std::vector<std::int64_t>{};
        std::size_t driven = 0;
        if (route.size() > 2) {
            driven = std::uniform_int_distribution<std::size_t>(0, route.size() - 2)(rng);
        }
        double clock = 0.0;
        std::uint64_t at = c.starts[a];
        node.visited.Set(at);
        for (std::size_t k = 1; k <= driven; ++k) {
            const auto v = static_cast<std::uint64_t>(route[k]);
            const double* costs = c.graph->FindArcCost(at, v);
            if (costs != nullptr) clock += costs[static_cast<std::size_t>(c.agents[a].type)];
            const auto window = c.windows.find(v);
            if (window != c.windows.end()) clock = std::max(clock, window->second.first);
            node.visited.Set(v);
            at = v;
        }
        node.current_vertex.push_back(static_cast<vornik::NodeVertex>(at));
        node.cost.push_back(clock);
        node.closed.push_back(0);
    }
    return node;
}

// The children one expansion of `node` for agent `agent` would check: the agent moved
// to every unvisited vertex, its clock advanced by the arc.
struct Move {
    SearchNode child;
    std::uint64_t agent = 0;
    std::uint64_t vertex = 0;
};

std::vector<Move> MovesOf(const PostOptCase& c, const SearchNode& node, std::uint64_t agent) {
    std::vector<Move> moves;
    const std::uint64_t from = node.current_vertex[agent];
    for (std::uint64_t v = 0; v < c.nodes.size(); ++v) {
        if (node.visited.Test(v)) continue;
        const double* costs = c.graph->FindArcCost(from, v);
        if (costs == nullptr) continue;
        Move move{node, agent, v};
        move.child.visited.Set(v);
        move.child.cost[agent] += costs[static_cast<std::size_t>(c.agents[agent].type)];
        moves.push_back(std::move(move));
    }
    return moves;
}

template <typename Checker>
void Configure(Checker& checker, const PostOptCase& c) {
    checker.SetEndVertices(c.ends);
    checker.SetTimeWindows(c.windows);
    checker.SetStartVertices(c.starts);
    checker.SetReturnToEnd(c.return_to_end);
}

// A Problem with the same shape for the whole-solve figure (the Solver builds its own
// graph from the matrices).
vornik::Problem ProblemOf(const PostOptCase& c) {
    vornik::Problem problem;
    const std::size_t n = c.nodes.size();
    for (std::size_t i = 0; i < n; ++i) {
        vornik::Node node;
        node.id = i;
        node.position.x = static_cast<double>(c.nodes[i].x);
        node.position.y = static_cast<double>(c.nodes[i].y);
        const bool depot = std::find(c.starts.begin(), c.starts.end(), i) != c.starts.end() ||
                           std::find(c.ends.begin(), c.ends.end(), i) != c.ends.end();
        node.type = depot ? vornik::NodeType::DEPOT : vornik::NodeType::TARGET;
        problem.AddNode(node);
    }
    const char* names[] = {"fast", "slow"};
    vornik::AssignmentConstraint allowed;
    for (std::size_t i = 0; i < n; ++i) {
        std::vector<std::string> types;
        for (const std::int64_t t : c.nodes[i].allowed_types) {
            types.emplace_back(names[t]);
        }
        allowed.SetAssignment(i, types);
    }
    for (std::int64_t t = 0; t < 2; ++t) {
        vornik::CostMatrix matrix(n, std::vector<double>(n, 0.0));
        for (std::size_t u = 0; u < n; ++u) {
            for (std::size_t v = 0; v < n; ++v) {
                const double* costs = u == v ? nullptr : c.graph->FindArcCost(u, v);
                if (costs != nullptr) matrix[u][v] = costs[t];
            }
        }
        problem.SetCostMatrix(names[t], matrix);
    }
    for (std::size_t a = 0; a < c.agents.size(); ++a) {
        vornik::Agent agent;
        agent.id = a;
        agent.type = names[c.agents[a].type];
        agent.start_node = c.starts[a];
        agent.end_node = c.ends[a];
        problem.AddAgent(agent, agent.id);
    }
    problem.SetAssignmentConstraint(allowed);
    vornik::TimeWindowConstraint windows;
    for (const auto& [v, window] : c.windows) {
        windows.SetTimewindow(v, window.first, window.second);
    }
    problem.SetTimewindowConstraint(windows);
    problem.options.objective = vornik::ObjectiveType::MinMax;
    problem.options.return_to_end = c.return_to_end;
    return problem;
}

}  // namespace

int main(int argc, char** argv) {
    std::int64_t max_polls = 200;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--polls" && i + 1 < argc) {
            max_polls = std::atoll(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: hotpath_bench [--polls N]\n");
            return 2;
        }
    }
    // The search's progress lines ("w = 1") would interleave with the table: keep the
    // table on a duplicate of standard output and send the original to /dev/null.
    const int out = dup(STDOUT_FILENO);
    std::FILE* sink = std::freopen("/dev/null", "w", stdout);
    // The post-optimizer's warnings about the search's routes, likewise.
    std::FILE* quiet = std::freopen("/dev/null", "w", stderr);
    if (sink == nullptr || quiet == nullptr || out < 0) return 1;
    dprintf(out, "%5s %12s %12s %12s %14s %13s %12s\n", "n", "evaluate_us", "tw_check_us",
            "composite_us", "expansion_us", "eval_route_us", "two_opt_us");
    double checksum = 0.0;
    for (const std::size_t n : {50u, 100u, 256u}) {
        std::mt19937_64 rng(777 + n);
        const PostOptCase c = MakeCase(n, true, rng);
        // Windows tight enough to prune the search leave the random routes undrivable;
        // the route figures use the same shape without windows.
        const PostOptCase plain = MakeCase(n, false, rng);
        const std::size_t agents = c.agents.size();

        std::vector<SearchNode> nodes;
        for (int i = 0; i < 40; ++i) nodes.push_back(MidSearchNode(c, rng));

        // Heuristic, with the Solver's edge list for these windows.
        vornik::DefaultHeuristic heuristic;
        heuristic.Init(c.graph.get(), c.nodes, c.agents);
        heuristic.SetEndVertices(c.ends);
        heuristic.SetEdges(vornik::BuildEdgeList(*c.graph, 2, c.windows));
        const int evaluate_repeats = n <= 100 ? 200 : 50;
        const double evaluate = BestPerCall(nodes.size() * evaluate_repeats, [&] {
            for (int r = 0; r < evaluate_repeats; ++r) {
                for (const SearchNode& node : nodes) checksum += heuristic.Evaluate(node);
            }
        });

        // Checkers on the moves of one agent per node (round robin).
        std::vector<Move> moves;
        for (std::size_t i = 0; i < nodes.size(); ++i) {
            std::vector<Move> more = MovesOf(c, nodes[i], i % agents);
            for (Move& move : more) moves.push_back(std::move(move));
        }
        vornik::TimeWindowConstraintChecker windows;
        windows.Init(c.graph.get(), c.nodes, c.agents);
        Configure(windows, c);
        vornik::CompositeConstraintChecker chain;
        chain.AddChecker(std::make_unique<vornik::DefaultConstraintChecker>());
        chain.AddChecker(std::make_unique<vornik::TimeWindowConstraintChecker>());
        chain.Init(c.graph.get(), c.nodes, c.agents);
        Configure(dynamic_cast<vornik::TimeWindowConstraintChecker&>(*chain.Children()[1]), c);
        const int check_repeats = n <= 100 ? 20 : 5;
        const double tw_check = BestPerCall(moves.size() * check_repeats, [&] {
            for (int r = 0; r < check_repeats; ++r) {
                for (const Move& m : moves) {
                    const vornik::ArrivalCheck a = windows.CheckArrival(m.child, m.agent, m.vertex);
                    checksum += a.feasible ? 1.0 + a.time : 0.0;
                }
            }
        });
        const double composite = BestPerCall(moves.size() * check_repeats, [&] {
            for (int r = 0; r < check_repeats; ++r) {
                for (const Move& m : moves) {
                    const vornik::ArrivalCheck a = chain.CheckArrival(m.child, m.agent, m.vertex);
                    checksum += a.feasible ? 1.0 + a.time : 0.0;
                }
            }
        });

        // One expansion of the real search, from processor time and the node counts.
        double expansion = 0.0;
        {
            const vornik::Problem problem = ProblemOf(c);
            vornik::Options options = problem.options;
            options.time_limit = 1000.0;
            double best = 0.0;
            for (int round = 0; round < 3; ++round) {
                vornik::Solver solver(problem, options);
                std::int64_t polls = 0;
                solver.SetShouldStop([&polls, max_polls] { return ++polls >= max_polls; });
                const std::clock_t start = std::clock();
                solver.Solve();
                const std::clock_t stop = std::clock();
                const vornik::Result result = solver.GetResult();
                const double seconds = static_cast<double>(stop - start) / CLOCKS_PER_SEC;
                const double per =
                    result.n_expanded > 0 ? seconds / static_cast<double>(result.n_expanded) : 0.0;
                if (round == 0 || per < best) best = per;
            }
            expansion = best;
        }

        // Route evaluation and one 2-opt call on every route of the solution.
        vornik::RouteEvaluator evaluator;
        evaluator.SetReturnToEnd(plain.return_to_end);
        evaluator.SetStartVertices(plain.starts);
        evaluator.SetEndVertices(plain.ends);
        evaluator.SetTimeWindows(plain.windows);
        evaluator.Bind(plain.graph.get(), plain.nodes, plain.agents);
        std::vector<std::pair<std::vector<std::uint64_t>, std::uint64_t>> routes;
        for (const auto& [agent, path] : plain.result.paths) {
            std::vector<std::uint64_t> route(path.begin(), path.end());
            routes.emplace_back(route, static_cast<std::uint64_t>(agent));
        }
        const int route_repeats = 200;
        const double eval_route = BestPerCall(routes.size() * route_repeats, [&] {
            for (int r = 0; r < route_repeats; ++r) {
                for (const auto& [route, agent] : routes) {
                    checksum += evaluator.EvaluateRoute(route, agent).cost;
                }
            }
        });
        const double two_opt = BestPerCall(routes.size(), [&] {
            for (const auto& [route, agent] : routes) {
                std::vector<std::uint64_t> copy = route;
                double cost = evaluator.EvaluateRoute(copy, agent).cost;
                evaluator.ImproveTwoOpt(copy, agent, cost);
                checksum += cost;
            }
        });

        dprintf(out, "%5zu %12.3f %12.3f %12.3f %14.2f %13.3f %12.1f\n", n, evaluate * 1e6,
                tw_check * 1e6, composite * 1e6, expansion * 1e6, eval_route * 1e6, two_opt * 1e6);
    }
    dprintf(out, "(checksum %.6g)\n", checksum);
    return 0;
}
