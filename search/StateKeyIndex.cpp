#include "search/StateKeyIndex.h"

#include <algorithm>
#include <cstring>

namespace vornik {

namespace {

constexpr std::size_t kInitialSlots = 64;

std::uint64_t Mix(std::uint64_t x) {
    // The finaliser of a well-known 64-bit mixer: every input bit reaches every output bit.
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdULL;
    x ^= x >> 33;
    x *= 0xc4ceb9fe1a85ec53ULL;
    x ^= x >> 33;
    return x;
}

}  // namespace

void StateKeyIndex::Reset(std::size_t width) {
    if (budget_ != nullptr) budget_->Give(CapacityBytes());
    width_ = width;
    count_ = 0;
    keys_ = {};
    slots_ = {};
    if (budget_ != nullptr) budget_->Take(kInitialSlots * sizeof(std::int64_t));
    slots_.assign(kInitialSlots, -1);
}

std::uint64_t StateKeyIndex::Hash(const std::uint8_t* key) const {
    // Eight key bytes per word; the last word is zero-padded.
    std::uint64_t hash = width_;
    for (std::size_t at = 0; at < width_; at += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, key + at, width_ - at < 8 ? width_ - at : 8);
        hash = Mix(hash ^ word);
    }
    return hash;
}

bool StateKeyIndex::Equal(std::size_t index, const std::uint8_t* key) const {
    return width_ == 0 || std::memcmp(keys_.data() + index * width_, key, width_) == 0;
}

std::int64_t StateKeyIndex::Find(const std::uint8_t* key) const {
    if (slots_.empty()) return -1;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t slot = Hash(key) & mask;; slot = (slot + 1) & mask) {
        const std::int64_t index = slots_[slot];
        if (index < 0) return -1;
        if (Equal(static_cast<std::size_t>(index), key)) return index;
    }
}

std::int64_t StateKeyIndex::Insert(const std::uint8_t* key) {
    // At most half full, so probe runs stay short and an empty slot always exists.
    const bool grow_slots = slots_.empty() || 2 * (count_ + 1) > slots_.size();
    const bool grow_keys = keys_.size() + width_ > keys_.capacity();
    // Both arrays double. Each new array is allocated while the old one is still held:
    // the budget takes both first and gets the old ones back afterwards.
    const std::size_t key_capacity = std::max(keys_.size() + width_, 2 * keys_.capacity());
    const std::size_t slot_count = slots_.empty() ? kInitialSlots : 2 * slots_.size();
    std::size_t peak = 0;
    if (grow_slots) peak += slot_count * sizeof(std::int64_t);
    if (grow_keys) peak += key_capacity;
    const std::size_t before = CapacityBytes();
    if (budget_ != nullptr && peak > 0) budget_->Take(peak);
    if (grow_keys) keys_.reserve(key_capacity);
    if (grow_slots) Grow();
    if (budget_ != nullptr && peak > 0) budget_->Give(peak + before - CapacityBytes());
    const auto index = static_cast<std::int64_t>(count_);
    keys_.insert(keys_.end(), key, key + width_);
    ++count_;
    const std::size_t mask = slots_.size() - 1;
    std::size_t slot = Hash(key) & mask;
    while (slots_[slot] >= 0) slot = (slot + 1) & mask;
    slots_[slot] = index;
    return index;
}

void StateKeyIndex::Grow() {
    const std::size_t size = slots_.empty() ? kInitialSlots : 2 * slots_.size();
    slots_.assign(size, -1);
    const std::size_t mask = size - 1;
    for (std::size_t k = 0; k < count_; ++k) {
        std::size_t slot = Hash(keys_.data() + k * width_) & mask;
        while (slots_[slot] >= 0) slot = (slot + 1) & mask;
        slots_[slot] = static_cast<std::int64_t>(k);
    }
}

}  // namespace vornik
