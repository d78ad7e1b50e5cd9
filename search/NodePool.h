#ifndef VORNIK_SEARCH_NODEPOOL_H
#define VORNIK_SEARCH_NODEPOOL_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/SearchRecords.h"
#include "search/MemoryBudget.h"

namespace vornik {

/// Every search node the Solver generates, packed by id for the whole search, with the
/// id of the node it was generated from.
///
/// A SearchNode value holds three heap lists; storing millions of them that way would
/// cost several allocations and well over 200 bytes each. The pool instead lays each
/// node out in one fixed-size slot inside blocks that never move, so growing the pool
/// copies nothing. A slot keeps only what the search reads back: the visited set, f,
/// the per-agent costs, the parent and last-agent ids, one byte per agent for its vertex
/// and one bit per agent for its closed flag. What follows from those is not stored: a
/// node's open_agents is the number of agents whose flag is clear, its num_vertices is
/// the search's (the same for every node of a search), g is the objective's aggregate of
/// the costs (the Solver computes it again after Load), and h, which nothing reads after
/// the node's f was computed, reads back as 0.0, as g does.
class NodePool {
public:
    /// Drops every node and fixes the number of agents of the slots to come.
    void Reset(std::size_t num_agents);
    /// Blocks are taken from `budget` (which must outlive the pool) before they are
    /// allocated; nullptr (the default) means no limit.
    void SetBudget(MemoryBudget* budget) { budget_ = budget; }
    /// Makes slots 0 .. capacity-1 exist; new slots read back with num_vertices -1.
    /// Throws MemoryLimitReached, growing nothing more, when the budget says no.
    void Grow(std::uint64_t capacity);
    [[nodiscard]] std::uint64_t Capacity() const { return capacity_; }
    /// Bytes one slot takes (the node's own storage and its parent id).
    [[nodiscard]] std::size_t SlotBytes() const { return stride_; }
    /// Bytes one slot takes for `num_agents` agents.
    [[nodiscard]] static std::size_t SlotBytesFor(std::size_t num_agents);
    /// Bytes held in blocks.
    [[nodiscard]] std::size_t ReservedBytes() const { return blocks_.size() * BlockBytes(); }

    /// Writes `node` into slot `id` (id < Capacity()) with its parent's id (-1 for a
    /// root). Its lists must have one entry per agent, its open_agents must be the count
    /// of clear closed flags, and every node stored since Reset must have the same
    /// num_vertices.
    void Store(std::int64_t id, const SearchNode& node, std::int64_t parent);
    /// Reads slot `id` into `out`, reusing out's list capacity; out.id becomes id.
    void Load(std::int64_t id, SearchNode& out) const;

    [[nodiscard]] double F(std::int64_t id) const;
    [[nodiscard]] std::int64_t Parent(std::int64_t id) const;
    [[nodiscard]] std::int64_t LastAgent(std::int64_t id) const;
    [[nodiscard]] std::uint64_t Vertex(std::int64_t id, std::size_t agent) const;
    [[nodiscard]] double Cost(std::int64_t id, std::size_t agent) const;

    /// Largest id a slot can hold (ids are kept in 32 bits).
    static constexpr std::int64_t kMaxId = 0xFFFFFFFE;

private:
    // Slot layout, byte offsets from the slot's start.
    static constexpr std::size_t kVisitedAt = 0;
    static constexpr std::size_t kFAt = 32;
    static constexpr std::size_t kCostsAt = 40;
    static constexpr std::uint64_t kSlotsPerBlock = 1024;
    static constexpr std::uint32_t kNoParent = 0xFFFFFFFF;

    unsigned char* Slot(std::int64_t id);
    const unsigned char* Slot(std::int64_t id) const;
    [[nodiscard]] std::size_t BlockBytes() const { return stride_ * kSlotsPerBlock; }

    std::size_t num_agents_ = 0;
    std::size_t ids_at_ = kCostsAt;  // parent (uint32), last agent (int32; -1: never filled)
    std::size_t vertices_at_ = kCostsAt + 8;
    std::size_t closed_at_ = kCostsAt + 8;
    std::size_t stride_ = kCostsAt + 8;
    std::int32_t num_vertices_ = -1;  // of the nodes stored since Reset
    std::uint64_t capacity_ = 0;
    std::vector<std::unique_ptr<unsigned char[]>> blocks_;
    MemoryBudget* budget_ = nullptr;  // owned by the Solver
};

}  // namespace vornik

#endif  // VORNIK_SEARCH_NODEPOOL_H
