#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "plugins/CompositeConstraintChecker.h"
#include "plugins/DefaultConstraintChecker.h"
#include "plugins/TimeLimitConstraintChecker.h"
#include "plugins/TimeWindowConstraintChecker.h"
#include "tests/cpp/plugins/CheckerTestSupport.h"

namespace vornik {
namespace {

using checker_testing::MakeAgent;
using checker_testing::MakeCompleteGraph;
using checker_testing::MakeNodes;
using checker_testing::MakeState;

// A checker with scripted answers that records what it was shown.
class ProbeChecker final : public ConstraintCheckerPlugin {
public:
    ProbeChecker(std::string name, std::vector<std::string>* log)
        : name_(std::move(name)), log_(log) {}
    ~ProbeChecker() override { log_->push_back("~" + name_); }

    std::string GetName() const override { return name_; }
    void Init(const PlannerGraph*, const std::vector<NodeEntry>&,
              const std::vector<AgentEntry>&) override {
        log_->push_back("init " + name_);
    }
    bool ViolatesAssignment(std::uint64_t, std::uint64_t) const override {
        log_->push_back("violates " + name_);
        return violates;
    }
    ArrivalCheck CheckArrival(const SearchNode& state, std::uint64_t,
                              std::uint64_t) const override {
        log_->push_back("arrival " + name_);
        seen.push_back(state);
        return arrival;
    }
    bool CheckAgent(const SearchNode&, std::uint64_t) const override {
        log_->push_back("agent " + name_);
        return agent_ok;
    }
    bool IsDeadEnd(const SearchNode&) const override {
        log_->push_back("dead " + name_);
        return dead_end;
    }

    bool violates = false;
    ArrivalCheck arrival{true, 0.0, false};
    bool agent_ok = true;
    bool dead_end = false;
    mutable std::vector<SearchNode> seen;

private:
    std::string name_;
    std::vector<std::string>* log_;
};

void ExpectSameNode(const SearchNode& a, const SearchNode& b) {
    EXPECT_EQ(a.id, b.id);
    EXPECT_EQ(a.current_vertex, b.current_vertex);
    EXPECT_EQ(a.cost, b.cost);
    EXPECT_TRUE(a.visited == b.visited);
    EXPECT_EQ(a.num_vertices, b.num_vertices);
    EXPECT_EQ(a.h, b.h);
    EXPECT_EQ(a.g, b.g);
    EXPECT_EQ(a.f, b.f);
    EXPECT_EQ(a.open_agents, b.open_agents);
    EXPECT_EQ(a.last_agent, b.last_agent);
    EXPECT_EQ(a.closed, b.closed);
}

struct Chain {
    std::vector<std::string> log;
    CompositeConstraintChecker composite;
    std::vector<ProbeChecker*> probes;

    explicit Chain(int n) {
        for (int i = 0; i < n; ++i) {
            auto probe = std::make_unique<ProbeChecker>("p" + std::to_string(i), &log);
            probes.push_back(probe.get());
            composite.AddChecker(std::move(probe));
        }
    }
};

TEST(CompositeConstraintCheckerTest, EmptyCompositeAcceptsEverything) {
    CompositeConstraintChecker composite;
    const SearchNode state = MakeState({0}, {5.0}, {0}, 1);
    EXPECT_FALSE(composite.ViolatesAssignment(0, 0));
    const ArrivalCheck check = composite.CheckArrival(state, 0, 0);
    EXPECT_TRUE(check.feasible);
    EXPECT_FALSE(check.time_changed);
    EXPECT_EQ(check.time, 0.0);
    EXPECT_TRUE(composite.CheckAgent(state, 0));
    EXPECT_FALSE(composite.IsDeadEnd(state));
    EXPECT_EQ(composite.GetName(), "CompositeConstraintChecker");
    EXPECT_THROW(composite.AddChecker(nullptr), std::invalid_argument);
    EXPECT_TRUE(composite.Children().empty());
}

TEST(CompositeConstraintCheckerTest, EachChildSeesTheTimeTheChildrenBeforeItSet) {
    Chain chain(4);
    chain.probes[1]->arrival = {true, 20.0, true};
    chain.probes[2]->arrival = {true, 25.0, true};
    // Three agents; agent 1 moves, arriving at 12.
    SearchNode state = MakeState({3, 4, 5}, {7.0, 12.0, 9.0}, {1, 4}, 8, {0, 0, 1});
    state.id = 17;
    state.f = 3.5;
    const SearchNode original = state;
    const ArrivalCheck check = chain.composite.CheckArrival(state, 1, 4);
    EXPECT_TRUE(check.feasible);
    EXPECT_TRUE(check.time_changed);
    EXPECT_EQ(check.time, 25.0);
    ExpectSameNode(state, original);

    // p0 and p1 see the node as given, p2 sees 20 and p3 sees 25; all else unchanged.
    const double seen_cost[] = {12.0, 12.0, 20.0, 25.0};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(chain.probes[i]->seen.size(), 1u);
        SearchNode expected = original;
        expected.cost[1] = seen_cost[i];
        ExpectSameNode(chain.probes[i]->seen[0], expected);
    }

    // The working copy is reused: a later call on a smaller node must not leak the
    // earlier node's agents or times into what the children see.
    const SearchNode small = MakeState({2}, {4.0}, {2}, 3);
    EXPECT_EQ(chain.composite.CheckArrival(small, 0, 2).time, 25.0);
    SearchNode expected_small = small;
    expected_small.cost[0] = 25.0;
    ExpectSameNode(chain.probes[3]->seen[1], expected_small);
    ExpectSameNode(chain.probes[0]->seen[1], small);
}

TEST(CompositeConstraintCheckerTest, TimeSetBackToTheArrivalStillCountsAsChanged) {
    Chain chain(2);
    chain.probes[0]->arrival = {true, 30.0, true};
    chain.probes[1]->arrival = {true, 10.0, true};
    const ArrivalCheck check = chain.composite.CheckArrival(MakeState({0}, {10.0}, {0}, 1), 0, 0);
    EXPECT_TRUE(check.time_changed);
    EXPECT_EQ(check.time, 10.0);
}

TEST(CompositeConstraintCheckerTest, FirstRefusalIsReturnedAsItStands) {
    Chain chain(3);
    chain.probes[0]->arrival = {true, 40.0, true};
    chain.probes[1]->arrival = {false, 7.0, true};
    const ArrivalCheck check = chain.composite.CheckArrival(MakeState({0}, {10.0}, {0}, 1), 0, 0);
    EXPECT_FALSE(check.feasible);
    EXPECT_EQ(check.time, 7.0);
    EXPECT_TRUE(check.time_changed);
    EXPECT_TRUE(chain.probes[2]->seen.empty());
}

TEST(CompositeConstraintCheckerTest, QuestionsStopAtTheFirstDecidingChild) {
    Chain chain(3);
    const SearchNode state = MakeState({0}, {0.0}, {0}, 1);
    chain.probes[1]->violates = true;
    chain.probes[1]->agent_ok = false;
    chain.probes[1]->dead_end = true;
    EXPECT_TRUE(chain.composite.ViolatesAssignment(0, 0));
    EXPECT_FALSE(chain.composite.CheckAgent(state, 0));
    EXPECT_TRUE(chain.composite.IsDeadEnd(state));
    EXPECT_EQ(chain.log, (std::vector<std::string>{"violates p0", "violates p1", "agent p0",
                                                   "agent p1", "dead p0", "dead p1"}));
    chain.log.clear();
    chain.probes[1]->violates = false;
    EXPECT_FALSE(chain.composite.ViolatesAssignment(0, 0));
    EXPECT_EQ(chain.log.size(), 3u);
}

TEST(CompositeConstraintCheckerTest, InitAndDestructionFollowTheListOrder) {
    std::vector<std::string> log;
    auto composite = std::make_unique<CompositeConstraintChecker>();
    for (int i = 0; i < 3; ++i) {
        composite->AddChecker(std::make_unique<ProbeChecker>("p" + std::to_string(i), &log));
    }
    composite->Init(nullptr, {}, {});
    EXPECT_EQ(log, (std::vector<std::string>{"init p0", "init p1", "init p2"}));
    log.clear();
    composite.reset();
    EXPECT_EQ(log, (std::vector<std::string>{"~p0", "~p1", "~p2"}));
}

TEST(CompositeConstraintCheckerTest, WaitingCountsAgainstTheTimeLimit) {
    // Agent 0 leaves its depot 0 and reaches vertex 1 at 30; 1 opens at 50; limit 40.
    auto graph =
        MakeCompleteGraph(2, 1, [](std::uint64_t, std::uint64_t, std::uint64_t) { return 30.0; });
    CompositeConstraintChecker composite;
    composite.AddChecker(std::make_unique<DefaultConstraintChecker>());
    composite.AddChecker(std::make_unique<TimeWindowConstraintChecker>());
    composite.AddChecker(std::make_unique<TimeLimitConstraintChecker>());
    composite.Init(graph.get(), MakeNodes(2, {0}), {MakeAgent(0, 40.0)});
    for (const auto& child : composite.Children()) {
        if (auto* windows = dynamic_cast<TimeWindowConstraintChecker*>(child.get())) {
            windows->SetEndVertices({0});
            windows->SetTimeWindows({{1, {50.0, 60.0}}});
            windows->SetStartVertices({0});
            windows->SetReturnToEnd(true);
        }
    }
    SearchNode state = MakeState({0}, {30.0}, {0, 1}, 2);
    const ArrivalCheck check = composite.CheckArrival(state, 0, 1);
    EXPECT_TRUE(check.feasible);
    EXPECT_TRUE(check.time_changed);
    EXPECT_EQ(check.time, 50.0);
    // The search stores the waited time, then asks about the agent.
    state.cost[0] = check.time;
    EXPECT_FALSE(composite.CheckAgent(state, 0));
    state.cost[0] = 40.0;
    EXPECT_TRUE(composite.CheckAgent(state, 0));
}

}  // namespace
}  // namespace vornik
