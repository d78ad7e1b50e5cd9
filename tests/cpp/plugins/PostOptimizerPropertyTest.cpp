// Properties of the post-optimizers on random instances with random complete solutions,
// and agreement of the fast optimizers with the literal ones, bit for bit.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>

#include "plugins/CompositePostOptimizer.h"
#include "plugins/DefaultPostOptimizer.h"
#include "plugins/LiteralPostOptimizers.h"
#include "plugins/PostOptimizerTestSupport.h"
#include "plugins/RouteMergingPostOptimizer.h"

namespace vornik {
namespace {

using testing_support::CaseShape;
using testing_support::PostOptCase;

enum class Which { Default, Merging, Both };

std::unique_ptr<PostOptimizerPlugin> MakeFast(Which which) {
    if (which == Which::Default) return std::make_unique<DefaultPostOptimizer>();
    if (which == Which::Merging) return std::make_unique<RouteMergingPostOptimizer>();
    auto composite = std::make_unique<CompositePostOptimizer>();
    composite->AddOptimizer(std::make_unique<DefaultPostOptimizer>());
    composite->AddOptimizer(std::make_unique<RouteMergingPostOptimizer>());
    return composite;
}

std::unique_ptr<PostOptimizerPlugin> MakeLiteral(Which which) {
    if (which == Which::Default) return std::make_unique<literal::LiteralDefaultPostOptimizer>();
    if (which == Which::Merging) {
        return std::make_unique<literal::LiteralRouteMergingPostOptimizer>();
    }
    auto composite = std::make_unique<CompositePostOptimizer>();
    composite->AddOptimizer(std::make_unique<literal::LiteralDefaultPostOptimizer>());
    composite->AddOptimizer(std::make_unique<literal::LiteralRouteMergingPostOptimizer>());
    return composite;
}

struct RunOutcome {
    Result result;
    std::string err;
};

RunOutcome Optimize(PostOptimizerPlugin& optimizer, const PostOptCase& c) {
    testing_support::Configure(optimizer, c);
    RunOutcome run{c.result, {}};
    ::testing::internal::CaptureStderr();
    try {
        optimizer.Optimize(c.graph.get(), c.nodes, c.agents, run.result);
    } catch (const std::logic_error& error) {
        ::testing::internal::GetCapturedStderr();
        ADD_FAILURE() << "consistency stop reached: " << error.what();
        return run;
    }
    run.err = ::testing::internal::GetCapturedStderr();
    return run;
}

bool SameBits(double x, double y) { return std::memcmp(&x, &y, sizeof x) == 0; }

CaseShape RandomShape(std::mt19937_64& rng, std::size_t max_vertices) {
    CaseShape shape;
    shape.vertices = 5 + rng() % (max_vertices - 4);
    shape.min_agents = 1;
    shape.max_agents = 3 + rng() % 6;
    shape.num_types = 1 + static_cast<std::int64_t>(rng() % 3);
    shape.windows = rng() % 3 == 0;
    shape.limits = rng() % 3 == 0;
    shape.restrict_types = rng() % 2 == 0;
    shape.return_to_end = rng() % 2 == 0;
    shape.shared_depot = rng() % 2 == 0;
    shape.drop_some_paths = rng() % 4 == 0;
    shape.metric = rng() % 4 != 0;
    return shape;
}

// The checks every outcome must pass, judged by the literal evaluator.
void CheckProperties(const PostOptCase& c, const Result& after, Which which) {
    literal::LiteralEvaluator eval;
    eval.return_to_end = c.return_to_end;
    eval.SetStarts(c.starts);
    eval.SetEnds(c.ends);
    eval.SetWindows(c.windows);
    eval.graph = c.graph.get();
    eval.nodes = c.nodes;
    eval.agents = c.agents;

    std::map<std::uint64_t, int> count_before;
    std::map<std::uint64_t, int> count_after;
    double max_before = 0.0;
    double max_after = 0.0;
    for (std::size_t a = 0; a < c.agents.size(); ++a) {
        const RouteEvaluation was = eval.Evaluate(testing_support::RouteOf(c.result, a), a);
        if (was.ok) max_before = std::max(max_before, was.cost);
    }
    if (which == Which::Merging && max_before <= 0) {
        // Nothing costs anything: the result is handed back untouched.
        EXPECT_EQ(after.paths, c.result.paths);
        EXPECT_EQ(after.times, c.result.times);
        return;
    }
    for (std::size_t a = 0; a < c.agents.size(); ++a) {
        const auto before = testing_support::RouteOf(c.result, a);
        const auto now = testing_support::RouteOf(after, a);
        for (const auto v : before) ++count_before[v];
        for (const auto v : now) ++count_after[v];
        ASSERT_EQ(before.empty(), now.empty()) << "agent " << a;
        if (!before.empty()) {
            EXPECT_EQ(before.front(), now.front()) << "agent " << a;
            EXPECT_EQ(before.back(), now.back()) << "agent " << a;
        }
        const RouteEvaluation was = eval.Evaluate(before, a);
        const RouteEvaluation is = eval.Evaluate(now, a);
        const auto key = static_cast<std::int64_t>(a);
        if (was.ok) {
            ASSERT_TRUE(is.ok) << "agent " << a << " lost a drivable route";
            EXPECT_TRUE(SameBits(after.times.at(key), is.cost)) << "agent " << a;
        }
        if (is.ok) {
            max_after = std::max(max_after, is.cost);
        } else {
            // A route that cannot be driven was left alone with its incoming cost.
            EXPECT_EQ(now, before) << "agent " << a;
            const auto incoming = c.result.times.find(key);
            const double expected = incoming == c.result.times.end() ? 0.0 : incoming->second;
            EXPECT_EQ(after.times.at(key), expected);
        }
        if (which == Which::Merging && now.size() > before.size()) {
            EXPECT_LE(is.cost, max_before + 1e-9) << "receiving agent " << a;
        }
    }
    EXPECT_EQ(count_before, count_after);
    // The in-group optimizer never raises the largest cost; route merging keeps every
    // route, receiving or dissolved, within the largest cost it started from.
    if (which == Which::Default) {
        EXPECT_LE(max_after, max_before);
    } else {
        EXPECT_LE(max_after, max_before + 1e-9);
    }
}

void CompareRuns(const RunOutcome& fast, const RunOutcome& slow) {
    EXPECT_EQ(fast.err, slow.err);
    ASSERT_EQ(fast.result.paths, slow.result.paths);
    ASSERT_EQ(fast.result.times.size(), slow.result.times.size());
    for (const auto& [key, time] : slow.result.times) {
        ASSERT_EQ(fast.result.times.count(key), 1u);
        EXPECT_TRUE(SameBits(fast.result.times.at(key), time))
            << "agent " << key << ": " << fast.result.times.at(key) << " vs " << time;
    }
}

class PostOptimizerPropertyTest : public ::testing::TestWithParam<Which> {};

TEST_P(PostOptimizerPropertyTest, RandomSolutionsKeepInvariantsAndMatchLiteralVersion) {
    std::mt19937_64 rng(20240601 + static_cast<int>(GetParam()));
    for (int round = 0; round < 100; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const CaseShape shape = RandomShape(rng, round % 10 == 0 ? 60 : 28);
        const PostOptCase c = testing_support::MakeRandomCase(rng, shape);
        auto fast = MakeFast(GetParam());
        auto slow = MakeLiteral(GetParam());
        const RunOutcome fast_run = Optimize(*fast, c);
        const RunOutcome slow_run = Optimize(*slow, c);
        CheckProperties(c, fast_run.result, GetParam());
        CompareRuns(fast_run, slow_run);
        EXPECT_EQ(fast_run.result.n_generated, 77);
        EXPECT_EQ(fast_run.result.n_expanded, 55);
        EXPECT_TRUE(fast_run.result.timeout);
        if (::testing::Test::HasFailure()) return;
    }
}

INSTANTIATE_TEST_SUITE_P(Optimizers, PostOptimizerPropertyTest,
                         ::testing::Values(Which::Default, Which::Merging, Which::Both),
                         [](const ::testing::TestParamInfo<Which>& param_info) {
                             switch (param_info.param) {
                                 case Which::Default:
                                     return std::string("Default");
                                 case Which::Merging:
                                     return std::string("Merging");
                                 default:
                                     return std::string("Composite");
                             }
                         });

// A stop check that fires after a random number of polls cuts the work short but still
// leaves a consistent solution; one that never fires changes nothing.
TEST_P(PostOptimizerPropertyTest, StoppedOptimizersLeaveConsistentSolutions) {
    std::mt19937_64 rng(777 + static_cast<int>(GetParam()));
    for (int round = 0; round < 60; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const CaseShape shape = RandomShape(rng, 40);
        const PostOptCase c = testing_support::MakeRandomCase(rng, shape);
        const int fire_after = static_cast<int>(rng() % 12);
        auto stopped = MakeFast(GetParam());
        int polls = 0;
        stopped->SetStopCheck([&polls, fire_after] { return polls++ >= fire_after; });
        const RunOutcome stopped_run = Optimize(*stopped, c);
        CheckProperties(c, stopped_run.result, GetParam());

        auto never = MakeFast(GetParam());
        never->SetStopCheck([] { return false; });
        auto unchecked = MakeFast(GetParam());
        CompareRuns(Optimize(*never, c), Optimize(*unchecked, c));
        if (::testing::Test::HasFailure()) return;
    }
}

// Calling the same optimizer twice in a row must not carry anything over.
TEST(PostOptimizerPropertyTest, RepeatedCallsStartAfresh) {
    std::mt19937_64 rng(99);
    CaseShape shape;
    shape.vertices = 25;
    shape.max_agents = 4;
    const PostOptCase first = testing_support::MakeRandomCase(rng, shape);
    const PostOptCase second = testing_support::MakeRandomCase(rng, shape);
    DefaultPostOptimizer reused;
    RouteMergingPostOptimizer reused_merging;
    Optimize(reused, first);
    Optimize(reused_merging, first);
    DefaultPostOptimizer fresh;
    RouteMergingPostOptimizer fresh_merging;
    CompareRuns(Optimize(reused, second), Optimize(fresh, second));
    CompareRuns(Optimize(reused_merging, second), Optimize(fresh_merging, second));
}

}  // namespace
}  // namespace vornik
