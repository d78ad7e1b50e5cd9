#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

#include "search/Solver.h"

namespace vornik {

namespace {

constexpr std::int64_t kLastId = std::numeric_limits<std::int64_t>::max();

}  // namespace

std::int64_t Solver::NewNode() {
    const std::int64_t id = node_count_;
    if (probe_ != nullptr) probe_->BeforeNewNode(id);
    // The pool keeps ids in 32 bits: a search that large is out of room as well.
    if (id > NodePool::kMaxId) throw MemoryLimitReached();
    if (pool_capacity_ < static_cast<std::uint64_t>(id) + 1) {
        // Capacity runs 1024, 3072, 7168, 11264, ...: the step doubles up to its maximum.
        // The pool grows first, so that a refusal leaves the counters as they were.
        const std::uint64_t capacity = pool_capacity_ + pool_growth_step_;
        pool_.Grow(capacity);
        pool_capacity_ = capacity;
        if (pool_growth_step_ < pool_max_growth_step_) pool_growth_step_ *= 2;
    }
    node_count_ += 1;
    return id;
}

void Solver::InsertFocal(const FocalKey& key) {
    // A key equivalent to one already present leaves FOCAL unchanged.
    const PackedFocalKey packed{key.f, key.sum_cost, static_cast<std::uint32_t>(key.id),
                                static_cast<std::int32_t>(key.num_visited),
                                static_cast<std::int32_t>(key.open_agents)};
    const auto [it, inserted] = focal_list_.insert(packed);
    if (!inserted) return;
    try {
        focal_by_f_.insert(it);
    } catch (...) {
        focal_list_.erase(it);  // both lists or neither
        throw;
    }
}

void Solver::EraseFocal(FocalList::iterator it) {
    auto range = focal_by_f_.equal_range(ByFocalF::Of(it));
    for (auto entry = range.first; entry != range.second; ++entry) {
        if (*entry == it) {
            focal_by_f_.erase(entry);
            break;
        }
    }
    focal_list_.erase(it);
}

void Solver::Refocus(double old_bound, double new_bound) {
    if (old_bound < new_bound) {
        // Admit the OPEN entries the wider bound now covers.
        for (auto it = open_list_.upper_bound({old_bound, kLastId});
             it != open_list_.end() && it->first <= new_bound; ++it) {
            pool_.Load(it->second, refocus_scratch_);
            InsertFocal(FocalKey{it->second, CountVisited(refocus_scratch_),
                                 refocus_scratch_.open_agents, it->first, 0.0});
        }
    } else if (!std::isnan(new_bound)) {
        // Drop every key above the narrower bound: a suffix of FOCAL's f index.
        auto it = focal_by_f_.upper_bound(OpenEntry{new_bound, kLastId});
        while (it != focal_by_f_.end()) {
            focal_list_.erase(*it);
            it = focal_by_f_.erase(it);
        }
    }
    focal_bound_ = new_bound;
}

void Solver::SetIncumbent(double cost) {
    for (auto it = focal_by_f_.upper_bound(OpenEntry{cost, kLastId}); it != focal_by_f_.end();) {
        focal_list_.erase(*it);
        it = focal_by_f_.erase(it);
    }
    // OPEN keeps entries up to 0.2 above the incumbent; the search drops them on sight.
    open_list_.erase(open_list_.upper_bound({cost + 0.2, kLastId}), open_list_.end());
    incumbent_ = cost;
}

std::int64_t Solver::FindFrontier(const SearchNode& node) const {
    // The key is the agents' vertex bytes themselves: equal exactly when all agents
    // stand on the same vertices. Every node of a search has one entry per agent.
    if (node.current_vertex.size() != frontier_by_key_.Width()) {
        throw std::invalid_argument("search node has " +
                                    std::to_string(node.current_vertex.size()) +
                                    " agent positions; the search has " +
                                    std::to_string(frontier_by_key_.Width()) + " agents");
    }
    return frontier_by_key_.Find(node.current_vertex.data());
}

bool Solver::IsDominated(const SearchNode& node) {
    const std::int64_t found = FindFrontier(node);
    if (found >= 0) return frontiers_[static_cast<std::size_t>(found)].IsDominated(node);
    // A new state key: its frontier is added first, so that a refusal by the budget
    // leaves the key unknown (at worst with an empty frontier to spare, which the next
    // new key takes).
    frontiers_.Add();
    frontier_by_key_.Insert(node.current_vertex.data());
    num_frontiers_ += 1;
    return false;
}

void Solver::AddToFrontier(const SearchNode& node) {
    const std::int64_t found = FindFrontier(node);
    // The search asks IsDominated for the same node first, which creates the frontier.
    if (found < 0) throw std::out_of_range("no frontier for the node's state key");
    Frontier& frontier = frontiers_[static_cast<std::size_t>(found)];
    // Take what the insert may allocate (a new block while the old one is held), then
    // keep only what it added.
    const std::size_t taken = frontier.InsertGrowthBytes(node.cost.size());
    const std::size_t before = frontier.CapacityBytes();
    budget_.Take(taken);
    frontier.Insert(node);
    budget_.Give(taken + before - frontier.CapacityBytes());
}

void Solver::ResetFrontiers() { num_frontiers_ = 0; }

}  // namespace vornik
