#include "search/ListArena.h"

#include <algorithm>
#include <cassert>

namespace vornik {

void* ListArena::Allocate(std::size_t bytes) {
    // Chunks are rounded up to the pointer alignment so that every chunk of a block is
    // aligned as the first one is, and a freed chunk can hold the free-list link.
    const std::size_t rounded =
        (std::max(bytes, sizeof(FreeChunk)) + kChunkAlign - 1) / kChunkAlign * kChunkAlign;
    if (chunk_bytes_ == 0) {
        chunk_bytes_ = rounded;
        block_bytes_ = std::max(kBlockBytes / chunk_bytes_, std::size_t{1}) * chunk_bytes_;
    }
    if (rounded != chunk_bytes_) return ::operator new(bytes);
    if (free_ != nullptr) {
        ++in_use_;
        FreeChunk* chunk = free_;
        free_ = chunk->next;
        return chunk;
    }
    if (next_ == end_) {
        // Ask the budget first; on any failure nothing has changed.
        if (budget_ != nullptr) budget_->Take(block_bytes_);
        try {
            std::unique_ptr<unsigned char[]> block(new unsigned char[block_bytes_]);
            blocks_.push_back(std::move(block));
        } catch (...) {
            if (budget_ != nullptr) budget_->Give(block_bytes_);
            throw;
        }
        next_ = blocks_.back().get();
        end_ = next_ + block_bytes_;
    }
    ++in_use_;
    void* chunk = next_;
    next_ += chunk_bytes_;
    return chunk;
}

void ListArena::Deallocate(void* chunk, std::size_t bytes) noexcept {
    const std::size_t rounded =
        (std::max(bytes, sizeof(FreeChunk)) + kChunkAlign - 1) / kChunkAlign * kChunkAlign;
    if (chunk == nullptr) return;
    if (rounded != chunk_bytes_) {
        ::operator delete(chunk);
        return;
    }
    assert(in_use_ > 0 && "every chunk given back was handed out");
    --in_use_;
    // The freed chunk becomes the head of the free list; the next Allocate reuses it.
    FreeChunk* head = ::new (chunk) FreeChunk{free_};
    free_ = head;
}

void ListArena::Release() noexcept {
    assert(in_use_ == 0 && "no list still holds a node");
    if (budget_ != nullptr) budget_->Give(ReservedBytes());
    blocks_.clear();
    blocks_.shrink_to_fit();
    free_ = nullptr;
    next_ = nullptr;
    end_ = nullptr;
    in_use_ = 0;
}

}  // namespace vornik
