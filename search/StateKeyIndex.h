#ifndef VORNIK_SEARCH_STATEKEYINDEX_H
#define VORNIK_SEARCH_STATEKEYINDEX_H

#include <cstddef>
#include <cstdint>
#include <vector>

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
    std::int64_t Insert(const std::uint8_t* key);

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
};

}  // namespace vornik

#endif  // VORNIK_SEARCH_STATEKEYINDEX_H
