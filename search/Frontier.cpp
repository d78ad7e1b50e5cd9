#include "search/Frontier.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace vornik {

namespace {

// True when every cost in `a` is at most the matching cost in `b`.
bool CostsNoGreater(const double* a, const double* b, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        if (!(a[i] <= b[i])) return false;
    }
    return true;
}

}  // namespace

void Frontier::CheckAgentCount(const SearchNode& node) const {
    // Dominance compares costs agent by agent; nodes of different agent counts cannot be
    // compared without reading past one of the lists.
    if (agents_fixed_ && node.cost.size() != num_agents_) {
        throw std::invalid_argument("frontier holds nodes of " + std::to_string(num_agents_) +
                                    " agents, got a node of " +
                                    std::to_string(node.cost.size()));
    }
}

bool Frontier::IsDominated(const SearchNode& node) const {
    if (entries_.empty()) return false;
    CheckAgentCount(node);
    const double* node_costs = node.cost.data();
    for (std::size_t k = 0; k < entries_.size(); ++k) {
        const Entry& stored = entries_[k];
        // g is one compare and the visited subset four word operations; most stored
        // nodes fail one of them before the cost loop is reached, and g alone turns
        // away most (a node expanded later in the search usually costs more), so it
        // goes first.
        if (!(stored.g <= node.g) || !node.visited.IsSubsetOf(stored.visited)) continue;
        if (CostsNoGreater(costs_.data() + k * num_agents_, node_costs, num_agents_)) {
            return true;
        }
    }
    return false;
}

std::size_t Frontier::Insert(const SearchNode& node) {
    CheckAgentCount(node);
    if (!agents_fixed_) {
        num_agents_ = node.cost.size();
        agents_fixed_ = true;
    }
    const double* node_costs = node.cost.data();
    std::size_t removed = 0;
    // Scanning from the back lets the last entry fill each hole: it has been tested
    // already, so no entry is skipped or tested twice.
    for (std::size_t k = entries_.size(); k-- > 0;) {
        const Entry& stored = entries_[k];
        if (!(node.g <= stored.g) || !stored.visited.IsSubsetOf(node.visited)) continue;
        double* stored_costs = costs_.data() + k * num_agents_;
        if (!CostsNoGreater(node_costs, stored_costs, num_agents_)) continue;
        const std::size_t last = entries_.size() - 1;
        if (k != last) {
            entries_[k] = entries_[last];
            const double* last_costs = costs_.data() + last * num_agents_;
            std::copy(last_costs, last_costs + num_agents_, stored_costs);
        }
        entries_.pop_back();
        costs_.resize(last * num_agents_);
        ++removed;
    }
    // Grow both lists together by a known amount, so that the Solver can account for
    // the bytes before they are allocated (InsertGrowthBytes).
    if (entries_.size() == entries_.capacity()) {
        const std::size_t capacity = NextCapacity();
        entries_.reserve(capacity);
        costs_.reserve(capacity * num_agents_);
    }
    entries_.push_back(Entry{node.g, node.visited});
    costs_.insert(costs_.end(), node.cost.begin(), node.cost.end());
    return removed;
}

std::size_t Frontier::NextCapacity() const {
    // Most frontiers hold one node or a few; large ones double.
    const std::size_t capacity = entries_.capacity();
    return capacity < 4 ? capacity + 1 : 2 * capacity;
}

std::size_t Frontier::CapacityBytes() const {
    return entries_.capacity() * sizeof(Entry) + costs_.capacity() * sizeof(double);
}

std::size_t Frontier::InsertGrowthBytes(std::size_t num_agents) const {
    if (entries_.size() < entries_.capacity()) return 0;
    const std::size_t extra = NextCapacity() - entries_.capacity();
    const std::size_t agents = agents_fixed_ ? num_agents_ : num_agents;
    return extra * sizeof(Entry) + (NextCapacity() * agents - costs_.capacity()) * sizeof(double);
}

}  // namespace vornik
