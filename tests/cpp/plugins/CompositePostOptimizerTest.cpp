#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "plugins/CompositePostOptimizer.h"

namespace vornik {
namespace {

/// Appends its tag to route 0 and logs every call into a shared journal.
class RecordingOptimizer final : public PostOptimizerPlugin {
public:
    RecordingOptimizer(std::int64_t tag, std::vector<std::string>* journal)
        : tag_(tag), journal_(journal) {}
    std::string GetName() const override { return "RecordingOptimizer"; }
    void Optimize(const PlannerGraph*, const std::vector<NodeEntry>&,
                  const std::vector<AgentEntry>& agents, Result& result) override {
        journal_->push_back(std::to_string(tag_) + " optimize sees " +
                            std::to_string(result.paths[0].size()) + " with " +
                            std::to_string(agents.size()) + " agents");
        result.paths[0].push_back(tag_);
    }
    void SetReturnToEnd(bool flag) override {
        journal_->push_back(std::to_string(tag_) + " return " + (flag ? "true" : "false"));
    }
    void SetStartVertices(const std::vector<std::uint64_t>& s) override {
        journal_->push_back(std::to_string(tag_) + " starts " + std::to_string(s.size()));
    }
    void SetEndVertices(const std::vector<std::uint64_t>& e) override {
        journal_->push_back(std::to_string(tag_) + " ends " + std::to_string(e.size()));
    }
    void SetTimeWindows(const TimeWindowTable& w) override {
        journal_->push_back(std::to_string(tag_) + " windows " + std::to_string(w.size()));
    }
    void SetStopCheck(std::function<bool()> expired) override {
        journal_->push_back(std::to_string(tag_) + " stop check " + (expired ? "set" : "empty"));
    }

private:
    std::int64_t tag_;
    std::vector<std::string>* journal_;
};

TEST(CompositePostOptimizerTest, RunsAndConfiguresChildrenInInsertionOrder) {
    std::vector<std::string> journal;
    CompositePostOptimizer composite;
    EXPECT_EQ(composite.GetName(), "CompositePostOptimizer");
    composite.AddOptimizer(std::make_unique<RecordingOptimizer>(1, &journal));
    composite.AddOptimizer(nullptr);
    composite.AddOptimizer(std::make_unique<RecordingOptimizer>(2, &journal));
    EXPECT_EQ(composite.NumOptimizers(), 2u);

    composite.SetReturnToEnd(true);
    composite.SetStartVertices({0, 1, 2});
    composite.SetEndVertices({4});
    composite.SetTimeWindows({{1, {0.0, 1.0}}, {2, {0.0, 1.0}}});
    Result result;
    result.paths[0] = {7};
    composite.Optimize(nullptr, {}, std::vector<AgentEntry>(3), result);

    const std::vector<std::string> expected = {
        "1 return true",
        "2 return true",
        "1 starts 3",
        "2 starts 3",
        "1 ends 1",
        "2 ends 1",
        "1 windows 2",
        "2 windows 2",
        // The second child sees the route the first one left.
        "1 optimize sees 1 with 3 agents",
        "2 optimize sees 2 with 3 agents",
    };
    EXPECT_EQ(journal, expected);
    EXPECT_EQ(result.paths[0], (std::vector<std::int64_t>{7, 1, 2}));
}

TEST(CompositePostOptimizerTest, FiredStopCheckSkipsTheRemainingChildren) {
    // The first child spends the budget; the second is not run any more.
    std::vector<std::string> journal;
    bool expired = false;
    CompositePostOptimizer composite;
    composite.AddOptimizer(std::make_unique<RecordingOptimizer>(1, &journal));
    composite.AddOptimizer(std::make_unique<RecordingOptimizer>(2, &journal));
    composite.SetStopCheck([&expired, &journal] {
        expired = journal.size() >= 3;  // two "stop check set" lines and one optimize
        return expired;
    });
    Result result;
    result.paths[0] = {7};
    composite.Optimize(nullptr, {}, {}, result);
    const std::vector<std::string> expected = {"1 stop check set", "2 stop check set",
                                               "1 optimize sees 1 with 0 agents"};
    EXPECT_EQ(journal, expected);
    EXPECT_EQ(result.paths[0], (std::vector<std::int64_t>{7, 1}));
}

TEST(CompositePostOptimizerTest, WithoutChildrenNothingChanges) {
    CompositePostOptimizer composite;
    Result result;
    result.paths[3] = {1, 2};
    result.times[3] = 4.0;
    composite.SetReturnToEnd(false);
    composite.Optimize(nullptr, {}, {}, result);
    EXPECT_EQ(result.paths.size(), 1u);
    EXPECT_EQ(result.times.at(3), 4.0);
}

}  // namespace
}  // namespace vornik
