#ifndef VORNIK_SEARCH_STATEKEYINDEX_H
#define VORNIK_SEARCH_STATEKEYINDEX_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "search/MemoryBudget.h"

namespace vornik {

/// Numbers the distinct state keys of a search (the agents' vertices, one byte per
/// agent) in order of first appearance: the Solver's map from a key to its frontier.
///
/// Keys of one width live back to back in one array and an open-addressing table of
/// indices finds them, so a lookup hashes a few words and compares a few bytes, and a
/// new key allocates nothing beyond the arrays' amortised growth.
class StateKeyIndex {
public:
    /// Forgets every key; keys from now on are `width` bytes long.
    void Reset(std::size_t width);
    /// Index of the key at `key` (Width() bytes), or -1 when it was never inserted.
    [[nodiscard]] std::int64_t Find(const std::uint8_t* key) const;
    /// Adds a key that Find does not know and returns its index (the previous Size()).
    /// Throws MemoryLimitReached, adding nothing, when the arrays must grow and the
    /// budget says no.
    std::int64_t Insert(const std::uint8_t* key);
    /// Growth of the arrays is taken from `budget` (which must outlive the index) before
    /// it is allocated; nullptr (the default) means no limit.
    void SetBudget(MemoryBudget* budget) { budget_ = budget; }
    /// Heap bytes the arrays hold.
    [[nodiscard]] std::size_t CapacityBytes() const {
        return keys_.capacity() + slots_.capacity() * sizeof(std::int64_t);
    }

    [[nodiscard]] std::size_t Size() const { return count_; }
    [[nodiscard]] std::size_t Width() const { return width_; }

private:
    [[nodiscard]] std::uint64_t Hash(const std::uint8_t* key) const;
    [[nodiscard]] bool Equal(std::size_t index, const std::uint8_t* key) const;
    void Grow();

    std::size_t width_ = 0;
    std::size_t count_ = 0;
    std::vector<std::uint8_t> keys_;   // key k at [k * width_, (k + 1) * width_)
    std::vector<std::int64_t> slots_;  // power-of-two size; -1 marks an empty slot
    MemoryBudget* budget_ = nullptr;   // owned by the Solver
};

}  // namespace vornik

#endif  // VORNIK_SEARCH_STATEKEYINDEX_H
