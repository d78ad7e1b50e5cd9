#ifndef VORNIK_PLUGINS_COMPOSITECONSTRAINTCHECKER_H
#define VORNIK_PLUGINS_COMPOSITECONSTRAINTCHECKER_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "plugins/ConstraintCheckerPlugin.h"

namespace vornik {

/// Runs several checkers as one, in the order they were added: a move is refused as
/// soon as one child refuses it. Owns its children and destroys them in list order.
class CompositeConstraintChecker final : public ConstraintCheckerPlugin {
public:
    CompositeConstraintChecker() = default;
    CompositeConstraintChecker(const CompositeConstraintChecker&) = delete;
    CompositeConstraintChecker& operator=(const CompositeConstraintChecker&) = delete;
    ~CompositeConstraintChecker() override;

    std::string GetName() const override;
    /// Appends `checker` to the list and takes ownership. Throws std::invalid_argument
    /// for a null checker.
    void AddChecker(std::unique_ptr<ConstraintCheckerPlugin> checker);
    /// The children in list order, for configuring them after Init.
    const std::vector<std::unique_ptr<ConstraintCheckerPlugin>>& Children() const {
        return children_;
    }

    /// Initialises every child, in list order.
    void Init(const PlannerGraph* graph, const std::vector<NodeEntry>& nodes,
              const std::vector<AgentEntry>& agents) override;
    /// True at the first child that says true; false for an empty list.
    bool ViolatesAssignment(std::uint64_t agent, std::uint64_t vertex) const override;
    /// Asks the children in order; each sees `state` with `cost[agent]` replaced by the
    /// last waiting-adjusted time an earlier child reported. The first refusal is
    /// returned as it stands. Otherwise {true, final time, true} when some child
    /// changed the time, {true, 0.0, false} when none did. `state` is not modified.
    ArrivalCheck CheckArrival(const SearchNode& state, std::uint64_t agent,
                              std::uint64_t vertex) const override;
    /// False at the first child that says false; true for an empty list.
    bool CheckAgent(const SearchNode& state, std::uint64_t agent) const override;
    /// True at the first child that says true; false for an empty list.
    bool IsDeadEnd(const SearchNode& state) const override;

private:
    std::vector<std::unique_ptr<ConstraintCheckerPlugin>> children_;
    // Working copy handed to the children once a time has changed; its lists keep
    // their capacity between calls, so copying into it does not allocate.
    mutable SearchNode scratch_;
};

}  // namespace vornik

#endif  // VORNIK_PLUGINS_COMPOSITECONSTRAINTCHECKER_H
