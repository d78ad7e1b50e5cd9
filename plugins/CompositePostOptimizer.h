#ifndef VORNIK_PLUGINS_COMPOSITEPOSTOPTIMIZER_H
#define VORNIK_PLUGINS_COMPOSITEPOSTOPTIMIZER_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "plugins/PostOptimizerPlugin.h"

namespace vornik {

/// Runs several post-optimizers one after the other; each child starts from the routes
/// the previous one left in the Result. Owns its children. The Solver installs one
/// holding a DefaultPostOptimizer followed by a RouteMergingPostOptimizer.
class CompositePostOptimizer final : public PostOptimizerPlugin {
public:
    std::string GetName() const override { return "CompositePostOptimizer"; }

    /// Appends an owned child; a null child is ignored.
    void AddOptimizer(std::unique_ptr<PostOptimizerPlugin> child);
    std::size_t NumOptimizers() const { return children_.size(); }

    /// Calls every child's Optimize in insertion order with the same arguments.
    void Optimize(const PlannerGraph* graph, const std::vector<NodeEntry>& nodes,
                  const std::vector<AgentEntry>& agents, Result& result) override;
    /// The setters forward their argument to every child in insertion order.
    void SetReturnToEnd(bool return_to_end) override;
    void SetStartVertices(const std::vector<std::uint64_t>& start_vertices) override;
    void SetEndVertices(const std::vector<std::uint64_t>& end_vertices) override;
    void SetTimeWindows(const TimeWindowTable& time_windows) override;
    /// Forwards the check to every child; once it fires, the children after the one
    /// running are skipped.
    void SetStopCheck(std::function<bool()> expired) override;

private:
    std::vector<std::unique_ptr<PostOptimizerPlugin>> children_;  // owned
    std::function<bool()> expired_;
};

}  // namespace vornik

#endif  // VORNIK_PLUGINS_COMPOSITEPOSTOPTIMIZER_H
