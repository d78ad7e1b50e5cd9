#ifndef VORNIK_SEARCH_NODEPOOL_H
#define VORNIK_SEARCH_NODEPOOL_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/SearchRecords.h"

namespace vornik {

/// Every search node the Solver generates, packed by id for the whole search.
///
/// A SearchNode value holds three heap lists; storing millions of them that way would
/// cost several allocations and well over 200 bytes each. The pool instead lays each
/// node out in one fixed-size slot (visited set, h, g, f, the per-agent costs, the
/// counters, then one byte per agent for its vertex and one for its closed flag) inside
/// blocks that never move, so growing the pool copies nothing. Nodes are written once
/// and read back into caller-owned SearchNode buffers, which keep their capacity.
class NodePool {
public:
    /// Drops every node and fixes the number of agents of the slots to come.
    void Reset(std::size_t num_agents);
    /// Makes slots 0 .. capacity-1 exist; new slots read back with num_vertices -1.
    void Grow(std::uint64_t capacity);
    [[nodiscard]] std::uint64_t Capacity() const { return capacity_; }
    /// Bytes one slot takes (the node's own storage).
    [[nodiscard]] std::size_t SlotBytes() const { return stride_; }

    /// Writes `node` into slot `id` (id < Capacity()); its lists must have one entry per agent.
    void Store(std::int64_t id, const SearchNode& node);
    /// Reads slot `id` into `out`, reusing out's list capacity; out.id becomes id.
    void Load(std::int64_t id, SearchNode& out) const;

    [[nodiscard]] double F(std::int64_t id) const;
    [[nodiscard]] std::int64_t LastAgent(std::int64_t id) const;
    [[nodiscard]] std::uint64_t Vertex(std::int64_t id, std::size_t agent) const;
    [[nodiscard]] double Cost(std::int64_t id, std::size_t agent) const;

private:
    // Slot layout, byte offsets from the slot's start.
    static constexpr std::size_t kVisitedAt = 0;
    static constexpr std::size_t kHAt = 32;
    static constexpr std::size_t kGAt = 40;
    static constexpr std::size_t kFAt = 48;
    static constexpr std::size_t kCostsAt = 56;
    static constexpr std::uint64_t kSlotsPerBlock = 1024;

    unsigned char* Slot(std::int64_t id);
    const unsigned char* Slot(std::int64_t id) const;

    std::size_t num_agents_ = 0;
    std::size_t counters_at_ = kCostsAt;  // num_vertices, open_agents, last_agent (int32 each)
    std::size_t vertices_at_ = kCostsAt + 12;
    std::size_t closed_at_ = kCostsAt + 12;
    std::size_t stride_ = kCostsAt + 16;
    std::uint64_t capacity_ = 0;
    std::vector<std::unique_ptr<unsigned char[]>> blocks_;
};

}  // namespace vornik

#endif  // VORNIK_SEARCH_NODEPOOL_H
