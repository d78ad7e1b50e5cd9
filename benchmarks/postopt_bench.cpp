// Times Optimize of the post-optimizers two ways on random complete solutions of 50, 100
// and 256 vertices (3 to 10 agents, Euclidean costs, one depot): the literal versions
// (the oracle of the tests: copied candidate routes, full evaluation, copying arc-cost
// lookups) and the engine's. Checks that both return the same routes and the same
// doubles bit for bit, and prints the time per Optimize call and the ratio.
//
//   postopt_bench [cases_per_size]   (default 3)

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "plugins/CompositePostOptimizer.h"
#include "plugins/DefaultPostOptimizer.h"
#include "plugins/LiteralPostOptimizers.h"
#include "plugins/PostOptimizerTestSupport.h"
#include "plugins/RouteMergingPostOptimizer.h"

namespace {

using vornik::PostOptimizerPlugin;
using vornik::Result;
using vornik::testing_support::PostOptCase;
using Clock = std::chrono::steady_clock;
using Factory = std::function<std::unique_ptr<PostOptimizerPlugin>()>;

bool SameOutcome(const Result& x, const Result& y) {
    if (x.paths != y.paths || x.times.size() != y.times.size()) return false;
    for (const auto& [key, time] : x.times) {
        const auto other = y.times.find(key);
        if (other == y.times.end() || std::memcmp(&time, &other->second, sizeof time) != 0) {
            return false;
        }
    }
    return true;
}

// Seconds of one Optimize call on a fresh copy of the case's result.
double TimeOnce(const Factory& make, const PostOptCase& c, Result& out) {
    auto optimizer = make();
    vornik::testing_support::Configure(*optimizer, c);
    out = c.result;
    const auto start = Clock::now();
    optimizer->Optimize(c.graph.get(), c.nodes, c.agents, out);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int cases = argc > 1 ? std::atoi(argv[1]) : 3;
    struct Pair {
        const char* name;
        Factory literal;
        Factory fast;
    };
    const std::vector<Pair> pairs = {
        {"DefaultPostOptimizer",
         [] { return std::make_unique<vornik::literal::LiteralDefaultPostOptimizer>(); },
         [] { return std::make_unique<vornik::DefaultPostOptimizer>(); }},
        {"RouteMergingPostOptimizer",
         [] { return std::make_unique<vornik::literal::LiteralRouteMergingPostOptimizer>(); },
         [] { return std::make_unique<vornik::RouteMergingPostOptimizer>(); }},
        // The Solver's chain: merging then starts from routes already improved.
        {"Composite (both, in order)",
         [] {
             auto chain = std::make_unique<vornik::CompositePostOptimizer>();
             chain->AddOptimizer(std::make_unique<vornik::literal::LiteralDefaultPostOptimizer>());
             chain->AddOptimizer(
                 std::make_unique<vornik::literal::LiteralRouteMergingPostOptimizer>());
             return chain;
         },
         [] {
             auto chain = std::make_unique<vornik::CompositePostOptimizer>();
             chain->AddOptimizer(std::make_unique<vornik::DefaultPostOptimizer>());
             chain->AddOptimizer(std::make_unique<vornik::RouteMergingPostOptimizer>());
             return chain;
         }},
    };
    std::printf("%-26s %8s %6s %14s %14s %9s\n", "optimizer", "vertices", "cases", "literal ms",
                "fast ms", "ratio");
    bool all_same = true;
    for (const std::size_t vertices : {50, 100, 256}) {
        std::mt19937_64 rng(4242 + vertices);
        std::vector<PostOptCase> instances;
        for (int i = 0; i < cases; ++i) {
            vornik::testing_support::CaseShape shape;
            shape.vertices = vertices;
            shape.min_agents = 3;
            shape.max_agents = 10;
            shape.shared_depot = true;
            shape.return_to_end = true;
            instances.push_back(vornik::testing_support::MakeRandomCase(rng, shape));
        }
        for (const Pair& pair : pairs) {
            double literal_seconds = 0.0;
            double fast_seconds = 0.0;
            for (const PostOptCase& c : instances) {
                Result slow_out;
                Result fast_out;
                literal_seconds += TimeOnce(pair.literal, c, slow_out);
                fast_seconds += TimeOnce(pair.fast, c, fast_out);
                if (!SameOutcome(slow_out, fast_out)) {
                    all_same = false;
                    std::printf("MISMATCH: %s on %zu vertices\n", pair.name, vertices);
                }
            }
            std::printf("%-26s %8zu %6d %14.3f %14.3f %8.1fx\n", pair.name, vertices, cases,
                        1e3 * literal_seconds / cases, 1e3 * fast_seconds / cases,
                        literal_seconds / fast_seconds);
        }
    }
    return all_same ? 0 : 1;
}
