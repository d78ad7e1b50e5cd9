#include "plugins/DefaultConstraintChecker.h"

#include <algorithm>
#include <cassert>

namespace vornik {

std::string DefaultConstraintChecker::GetName() const { return "DefaultConstraintChecker"; }

void DefaultConstraintChecker::Init(const PlannerGraph* graph, const std::vector<NodeEntry>& nodes,
                                    const std::vector<AgentEntry>& agents) {
    graph_ = graph;
    nodes_ = nodes;
    agents_ = agents;
    num_agents_ = agents_.size();
    // The dead-end test asks "is some unvisited vertex reserved for type 0?" once per
    // closing move; keeping those vertices as a bit set turns it into four word tests.
    type0_only_ = VisitedSet{};
    const std::uint64_t limit = std::min<std::uint64_t>(nodes_.size(), kMaxVertices);
    for (std::uint64_t i = 0; i < limit; ++i) {
        const std::vector<std::int64_t>& allowed = nodes_[i].allowed_types;
        if (allowed.size() == 1 && allowed[0] == 0) type0_only_.Set(i);
    }
}

bool DefaultConstraintChecker::ViolatesAssignment(std::uint64_t agent, std::uint64_t vertex) const {
    if (agent >= agents_.size() || vertex >= nodes_.size()) return true;
    const std::int64_t type = agents_[agent].type;
    // The lists hold a handful of types at most; a linear scan beats anything smarter.
    for (const std::int64_t allowed : nodes_[vertex].allowed_types) {
        if (allowed == type) return false;
    }
    return true;
}

ArrivalCheck DefaultConstraintChecker::CheckArrival(const SearchNode& /*state*/,
                                                    std::uint64_t /*agent*/,
                                                    std::uint64_t /*vertex*/) const {
    return ArrivalCheck{true, 0.0, false};
}

bool DefaultConstraintChecker::CheckAgent(const SearchNode& /*state*/,
                                          std::uint64_t /*agent*/) const {
    return true;
}

bool DefaultConstraintChecker::IsDeadEnd(const SearchNode& state) const {
    // An open type-0 agent can still serve every type-0 vertex, so nothing is lost yet.
    for (std::uint64_t a = 0; a < num_agents_; ++a) {
        assert(a < state.closed.size() && "the search node has one closed byte per agent");
        if (agents_[a].type == 0 && state.closed[a] == 0) return false;
    }
    if (graph_ == nullptr) return false;
    const std::uint64_t limit =
        std::min<std::uint64_t>({graph_->NumVertex(), nodes_.size(), kMaxVertices});
    // Word by word: reserved for type 0, not yet visited, and below the vertex count.
    for (std::uint64_t w = 0; w < 4 && w * 64 < limit; ++w) {
        const std::uint64_t bits = limit - w * 64;
        const std::uint64_t mask = bits >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << bits) - 1;
        if ((type0_only_.words[w] & ~state.visited.words[w] & mask) != 0) return true;
    }
    return false;
}

}  // namespace vornik
