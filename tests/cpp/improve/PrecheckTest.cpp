#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/Problem.h"
#include "improve/EngineModel.h"
#include "improve/ImprovementEngine.h"

namespace vornik {
namespace {

// Depot 0 and targets 1 .. 3 on a line (cost |u - v| times 10), one van of capacity 5
// and route limit 100: every target fits alone.
Problem LineInstance() {
    Problem problem;
    for (std::uint64_t v = 0; v < 4; ++v) {
        Node node;
        node.id = v;
        node.demands = {v == 0 ? 0.0 : 1.0};
        problem.AddNode(node);
    }
    Agent van;
    van.type = "van";
    van.capacities = {5.0};
    van.time_limit = 100.0;
    problem.AddAgent(van, 0);
    CostMatrix matrix(4, std::vector<double>(4));
    for (int u = 0; u < 4; ++u) {
        for (int v = 0; v < 4; ++v) matrix[u][v] = 10.0 * std::abs(u - v);
    }
    problem.SetCostMatrix("van", matrix);
    return problem;
}

struct Case {
    const char* name;
    std::function<void(Problem&)> change;
    std::vector<std::pair<std::uint32_t, std::string>> reasons;  // (vertex, reason)
};

// Each reason on an instance made for it, and instances that only look unservable.
TEST(PrecheckTest, FindsEachReasonOnAnInstanceMadeForIt) {
    const Case cases[] = {
        {"fits", [](Problem&) {}, {}},
        {"type",
         [](Problem& p) { p.assignment_constraint.SetAssignment(1, {"bike"}); },
         {{1, "type"}}},
        {"arc",
         [](Problem& p) {
             for (auto& row : p.cost_matrices["van"]) row.pop_back();  // nothing reaches 3
         },
         {{3, "arc"}}},
        // Arrival at 2 is at 20 at the earliest: both windows have closed by then.
        {"window",
         [](Problem& p) {
             p.timewindow_constraint.AddTimewindow(2, 0, 5);
             p.timewindow_constraint.AddTimewindow(2, 8, 19);
         },
         {{2, "window"}}},
        {"late_window_fits",
         [](Problem& p) {
             p.timewindow_constraint.AddTimewindow(2, 0, 5);
             p.timewindow_constraint.AddTimewindow(2, 30, 40);
         },
         {}},
        {"capacity", [](Problem& p) { p.nodes[1].demands = {6.0}; }, {{1, "capacity"}}},
        // 30 + 41 (service) + 30 = 101 > 100.
        {"limit", [](Problem& p) { p.nodes[3].service = 41.0; }, {{3, "limit"}}},
        // The direct arc 0 -> 3 is dear, the way through 1 and 2 is not: 30 <= 35.
        {"detour_fits",
         [](Problem& p) {
             p.cost_matrices["van"][0][3] = 500.0;
             p.timewindow_constraint.SetTimewindow(3, 0, 35);
         },
         {}},
        // Two agents: the bike may not serve 1, the van cannot carry it; the van's
        // reason (capacity) comes later in the order of checks, so it is the one given.
        {"furthest_check_wins",
         [](Problem& p) {
             Agent bike;
             bike.id = 1;
             bike.type = "bike";
             p.AddAgent(bike, 1);
             p.SetCostMatrix("bike", p.cost_matrices["van"]);
             p.assignment_constraint.SetAssignment(1, {"van"});
             p.nodes[1].demands = {6.0};
         },
         {{1, "capacity"}}},
        {"all_at_once",
         [](Problem& p) {
             p.assignment_constraint.SetAssignment(1, {});
             p.nodes[2].demands = {9.0};
             p.timewindow_constraint.SetTimewindow(3, 0, 1);
         },
         {{1, "type"}, {2, "capacity"}, {3, "window"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Problem problem = LineInstance();
        c.change(problem);
        const EngineModel model(problem);
        std::vector<std::pair<std::uint32_t, std::string>> found;
        for (const TargetReason& reason : model.PrecheckReasons()) {
            found.emplace_back(reason.vertex, reason.reason);
            EXPECT_NE(reason.message.find("node " + std::to_string(reason.vertex)),
                      std::string::npos);
            EXPECT_FALSE(model.Servable(reason.vertex));
        }
        EXPECT_EQ(found, c.reasons);
    }
}

// Targets that fit alone but not together: the plan serves what fits, and the one left
// out is explained by what stopped its insertion.
TEST(PrecheckTest, RequiredTargetsThatDoNotFitTogetherAreExplained) {
    const struct {
        const char* name;
        std::function<void(Problem&)> change;
        const char* reason;
    } cases[] = {
        {"capacity",
         [](Problem& p) {
             for (auto& node : p.nodes) node.demands = {2.0};
             p.nodes[0].demands = {0.0};
         },
         "capacity"},
        // 1 must be served at 10 and then takes 5; 2 must be served by 21: from 1 the van
        // reaches 2 at 25, and from 2 (at 20) it reaches 1 at 30.
        {"window",
         [](Problem& p) {
             p.timewindow_constraint.SetTimewindow(1, 10, 10);
             p.nodes[1].service = 5;
             p.timewindow_constraint.SetTimewindow(2, 0, 21);
         },
         "window"},
        // Alone: 25, 40, 60 <= 60; all three: 60 + 5 (service at 1) = 65.
        {"limit",
         [](Problem& p) {
             p.agents_ordered[0].time_limit = 60.0;
             p.nodes[1].service = 5;
         },
         "limit"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Problem problem = LineInstance();
        c.change(problem);
        const EngineModel model(problem);
        ASSERT_TRUE(model.PrecheckReasons().empty());
        EngineSettings settings;
        settings.iteration_limit = 50;
        settings.clock = [] { return 0.0; };
        const EngineOutcome outcome = ImprovementEngine(&model, settings).Run({});
        ASSERT_TRUE(outcome.found);
        EXPECT_FALSE(outcome.complete);
        ASSERT_EQ(outcome.unserved.size(), 1u);
        ASSERT_EQ(outcome.reasons.size(), 1u);
        EXPECT_EQ(outcome.reasons[0].vertex, outcome.unserved[0]);
        EXPECT_EQ(outcome.reasons[0].reason, c.reason) << outcome.reasons[0].message;
    }
}

}  // namespace
}  // namespace vornik
