#ifndef VORNIK_SEARCH_FRONTIER_H
#define VORNIK_SEARCH_FRONTIER_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/SearchRecords.h"

namespace vornik {

/// Closed list of one combination of agent positions: the Pareto set of the expanded
/// search nodes under dominance. Node A dominates node B when A.g <= B.g,
/// A.cost[i] <= B.cost[i] for every agent i, and every vertex B visited A visited too;
/// equal nodes dominate each other. The Solver owns one per position combination.
///
/// Only what dominance reads is stored (g, the visited set and the agents' costs), one
/// entry after another in a single list of doubles, so that a frontier is one small
/// object and one heap block. All nodes given to one frontier must have the same number
/// of agents, fixed by the first Insert.
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
    std::size_t Size() const { return stride_ == 0 ? 0 : data_.size() / stride_; }
    /// Heap bytes the stored nodes take (the list's capacity and the allocator's header).
    std::size_t CapacityBytes() const { return HeapBytes(data_.capacity() * sizeof(double)); }
    /// Heap bytes the next Insert of a node with `num_agents` agents may allocate while
    /// the current block is still held: the whole new block when the list is full, 0
    /// otherwise. Insert never allocates more.
    std::size_t InsertGrowthBytes(std::size_t num_agents) const;

private:
    // Entry layout, in doubles: g, the four visited words (their bits), the costs.
    static constexpr std::size_t kCostsAt = 5;

    void CheckAgentCount(const SearchNode& node) const;
    static std::size_t HeapBytes(std::size_t bytes);
    /// Capacity (in entries) the list takes when a full frontier grows.
    std::size_t NextCapacity() const;

    std::vector<double> data_;
    std::uint32_t stride_ = 0;  ///< doubles per entry; 0 until the first Insert
};

}  // namespace vornik

#endif  // VORNIK_SEARCH_FRONTIER_H
