#ifndef VORNIK_SEARCH_LISTARENA_H
#define VORNIK_SEARCH_LISTARENA_H

#include <cstddef>
#include <memory>
#include <new>
#include <type_traits>
#include <vector>

#include "search/MemoryBudget.h"

namespace vornik {

/// Fixed-size chunks for the tree nodes of one search list (OPEN, FOCAL or FOCAL's f
/// index). A list node taken from the general heap costs an allocation and a free per
/// entry plus the heap's own header and rounding; the arena carves nodes out of large
/// blocks and recycles freed nodes through a free list, so inserting and erasing entries
/// costs a few pointer moves and each entry takes exactly the node's size.
///
/// The chunk size is fixed by the first Allocate; requests of any other size go to the
/// general heap. Blocks are kept until Release. Owned by the Solver next to its list;
/// must outlive every container that uses it.
class ListArena {
public:
    /// Alignment of every chunk; nodes that need more go to the general heap.
    static constexpr std::size_t kChunkAlign = alignof(void*);

    ListArena() = default;
    ListArena(const ListArena&) = delete;
    ListArena& operator=(const ListArena&) = delete;

    /// Blocks are taken from `budget` (which must outlive the arena) before they are
    /// allocated; nullptr (the default) means no limit.
    void SetBudget(MemoryBudget* budget) { budget_ = budget; }
    /// Returns `bytes` of storage aligned for any list node. Throws MemoryLimitReached
    /// when a new block is needed and the budget says no.
    [[nodiscard]] void* Allocate(std::size_t bytes);
    /// Gives back storage from Allocate(bytes).
    void Deallocate(void* chunk, std::size_t bytes) noexcept;
    /// Frees every block. Only valid when no chunk is in use.
    void Release() noexcept;

    /// Size of one chunk (0 before the first Allocate).
    [[nodiscard]] std::size_t ChunkBytes() const { return chunk_bytes_; }
    /// Chunks handed out and not given back.
    [[nodiscard]] std::size_t InUse() const { return in_use_; }
    /// Bytes held in blocks.
    [[nodiscard]] std::size_t ReservedBytes() const { return blocks_.size() * block_bytes_; }

private:
    struct FreeChunk {
        FreeChunk* next;
    };
    static constexpr std::size_t kBlockBytes = std::size_t{1} << 16;

    std::size_t chunk_bytes_ = 0;
    std::size_t block_bytes_ = 0;
    std::size_t in_use_ = 0;
    FreeChunk* free_ = nullptr;
    unsigned char* next_ = nullptr;  // first never-used chunk of the newest block
    unsigned char* end_ = nullptr;
    std::vector<std::unique_ptr<unsigned char[]>> blocks_;
    MemoryBudget* budget_ = nullptr;  // owned by the Solver
};

/// Standard allocator that takes single nodes from a ListArena (and anything else from
/// the general heap). Copies share the arena; it travels with the container on moves
/// and swaps, so a list rebuilt by assignment keeps drawing from the same arena.
template <typename T>
class ArenaAllocator {
public:
    using value_type = T;
    using propagate_on_container_copy_assignment = std::true_type;
    using propagate_on_container_move_assignment = std::true_type;
    using propagate_on_container_swap = std::true_type;

    ArenaAllocator() = default;
    explicit ArenaAllocator(ListArena* arena) : arena_(arena) {}
    template <typename U>
    ArenaAllocator(const ArenaAllocator<U>& other) : arena_(other.Arena()) {}  // NOLINT

    [[nodiscard]] T* allocate(std::size_t n) {
        if (n == 1 && arena_ != nullptr && alignof(T) <= ListArena::kChunkAlign) {
            return static_cast<T*>(arena_->Allocate(sizeof(T)));
        }
        return static_cast<T*>(::operator new(n * sizeof(T)));
    }
    void deallocate(T* p, std::size_t n) noexcept {
        if (n == 1 && arena_ != nullptr && alignof(T) <= ListArena::kChunkAlign) {
            arena_->Deallocate(p, sizeof(T));
        } else {
            ::operator delete(p);
        }
    }
    [[nodiscard]] ListArena* Arena() const { return arena_; }

private:
    ListArena* arena_ = nullptr;  // owned by the Solver
};

template <typename T, typename U>
bool operator==(const ArenaAllocator<T>& a, const ArenaAllocator<U>& b) {
    return a.Arena() == b.Arena();
}
template <typename T, typename U>
bool operator!=(const ArenaAllocator<T>& a, const ArenaAllocator<U>& b) {
    return a.Arena() != b.Arena();
}

}  // namespace vornik

#endif  // VORNIK_SEARCH_LISTARENA_H
