#include "plugins/CompositePostOptimizer.h"

#include <utility>

namespace vornik {

void CompositePostOptimizer::AddOptimizer(std::unique_ptr<PostOptimizerPlugin> child) {
    // Null children would have to be skipped on every call; refusing them here is simpler.
    if (child != nullptr) children_.push_back(std::move(child));
}

void CompositePostOptimizer::Optimize(const PlannerGraph* graph,
                                      const std::vector<NodeEntry>& nodes,
                                      const std::vector<AgentEntry>& agents, Result& result) {
    // The first child always runs: even when stopped at once it writes back the
    // evaluated costs. Later children are skipped once the stop check fires.
    for (std::size_t i = 0; i < children_.size(); ++i) {
        if (i > 0 && expired_ && expired_()) return;
        children_[i]->Optimize(graph, nodes, agents, result);
    }
}

void CompositePostOptimizer::SetReturnToEnd(bool return_to_end) {
    for (const auto& child : children_) child->SetReturnToEnd(return_to_end);
}

void CompositePostOptimizer::SetStartVertices(const std::vector<std::uint64_t>& start_vertices) {
    for (const auto& child : children_) child->SetStartVertices(start_vertices);
}

void CompositePostOptimizer::SetEndVertices(const std::vector<std::uint64_t>& end_vertices) {
    for (const auto& child : children_) child->SetEndVertices(end_vertices);
}

void CompositePostOptimizer::SetTimeWindows(const TimeWindowTable& time_windows) {
    for (const auto& child : children_) child->SetTimeWindows(time_windows);
}

void CompositePostOptimizer::SetStopCheck(std::function<bool()> expired) {
    for (const auto& child : children_) child->SetStopCheck(expired);
    expired_ = std::move(expired);
}

}  // namespace vornik
