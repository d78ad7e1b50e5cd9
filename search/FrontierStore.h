#ifndef VORNIK_SEARCH_FRONTIERSTORE_H
#define VORNIK_SEARCH_FRONTIERSTORE_H

#include <cstddef>
#include <memory>
#include <vector>

#include "search/Frontier.h"
#include "search/MemoryBudget.h"

namespace vornik {

/// The Solver's frontiers, numbered in order of creation, in chunks of kChunk that never
/// move. A single growing list would copy every frontier at each doubling and hold the
/// old and the new list at once; here adding a frontier costs at most one new chunk,
/// which the budget hears of first. Owned by the Solver.
class FrontierStore {
public:
    static constexpr std::size_t kChunk = 1024;

    /// Chunks are taken from `budget` (which must outlive the store) before they are
    /// allocated; nullptr (the default) means no limit.
    void SetBudget(MemoryBudget* budget) { budget_ = budget; }
    /// Drops every frontier and gives their chunks back.
    void Clear() {
        if (budget_ != nullptr) budget_->Give(chunks_.size() * kChunk * sizeof(Frontier));
        chunks_.clear();
        chunks_.shrink_to_fit();
        size_ = 0;
    }
    /// Adds an empty frontier at index Size(). Throws MemoryLimitReached, adding nothing,
    /// when a chunk is needed and the budget says no.
    void Add() {
        if (size_ == chunks_.size() * kChunk) {
            const std::size_t bytes = kChunk * sizeof(Frontier);
            if (budget_ != nullptr) budget_->Take(bytes);
            try {
                chunks_.push_back(std::make_unique<Frontier[]>(kChunk));
            } catch (...) {
                if (budget_ != nullptr) budget_->Give(bytes);
                throw;
            }
        }
        ++size_;
    }
    [[nodiscard]] std::size_t Size() const { return size_; }
    Frontier& operator[](std::size_t index) { return chunks_[index / kChunk][index % kChunk]; }
    const Frontier& operator[](std::size_t index) const {
        return chunks_[index / kChunk][index % kChunk];
    }

private:
    std::vector<std::unique_ptr<Frontier[]>> chunks_;
    std::size_t size_ = 0;
    MemoryBudget* budget_ = nullptr;  // owned by the Solver
};

}  // namespace vornik

#endif  // VORNIK_SEARCH_FRONTIERSTORE_H
