#ifndef VORNIK_SEARCH_FRONTIER_H
#define VORNIK_SEARCH_FRONTIER_H

#include <cstddef>
#include <vector>

#include "core/SearchRecords.h"

namespace vornik {

/// Closed list of one combination of agent positions: the Pareto set of the expanded
/// search nodes under dominance. Node A dominates node B when A.g <= B.g,
/// A.cost[i] <= B.cost[i] for every agent i, and every vertex B visited A visited too;
/// equal nodes dominate each other. The Solver owns one per position combination.
///
/// Only what dominance reads is stored (g, the visited set and the agents' costs, the
/// costs in one flat array), not whole nodes. All nodes given to one frontier must have
/// the same number of agents, fixed by the first Insert.
class Frontier {
public:
    Frontier() = default;
    Frontier(const Frontier&) = default;
    Frontier(Frontier&&) noexcept = default;
    Frontier& operator=(const Frontier&) = default;
    Frontier& operator=(Frontier&&) noexcept = default;
    virtual ~Frontier() = default;

    /// True when a stored node dominates `node`; false for an empty frontier.
    /// Throws std::invalid_argument when `node` has another agent count than the
    /// stored nodes.
    virtual bool IsDominated(const SearchNode& node) const;
    /// Removes every stored node that `node` dominates, stores `node` and returns the
    /// number removed. The order of the survivors carries no meaning. Throws
    /// std::invalid_argument (and changes nothing) on an agent-count mismatch.
    virtual std::size_t Insert(const SearchNode& node);

    /// Number of stored nodes.
    std::size_t Size() const { return entries_.size(); }
    /// Heap bytes the stored nodes take (the lists' capacity).
    std::size_t CapacityBytes() const;
    /// Heap bytes the next Insert of a node with `num_agents` agents may add: the growth
    /// of the lists when they are full, 0 otherwise. Insert grows them by exactly this.
    std::size_t InsertGrowthBytes(std::size_t num_agents) const;

private:
    struct Entry {
        double g = 0.0;
        VisitedSet visited;
    };

    void CheckAgentCount(const SearchNode& node) const;
    /// Capacity (in entries) the lists take when a full frontier grows.
    std::size_t NextCapacity() const;

    std::vector<Entry> entries_;
    /// Costs of entry k at [k * num_agents_, (k + 1) * num_agents_).
    std::vector<double> costs_;
    std::size_t num_agents_ = 0;
    bool agents_fixed_ = false;  ///< set by the first Insert
};

}  // namespace vornik

#endif  // VORNIK_SEARCH_FRONTIER_H
