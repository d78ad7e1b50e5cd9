#include "search/Frontier.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

namespace vornik {

namespace {

// True when every cost in `a` is at most the matching cost in `b`.
bool CostsNoGreater(const double* a, const double* b, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        if (!(a[i] <= b[i])) return false;
    }
    return true;
}

// The visited set kept in entry words 1..4 (as bit patterns in doubles).
VisitedSet VisitedOf(const double* entry) {
    VisitedSet visited;
    std::memcpy(visited.words, entry + 1, sizeof(visited.words));
    return visited;
}

}  // namespace

void Frontier::CheckAgentCount(const SearchNode& node) const {
    // Dominance compares costs agent by agent; nodes of different agent counts cannot be
    // compared without reading past one of the lists.
    if (stride_ != 0 && node.cost.size() != stride_ - kCostsAt) {
        throw std::invalid_argument("frontier holds nodes of " +
                                    std::to_string(stride_ - kCostsAt) + " agents, got a node of " +
                                    std::to_string(node.cost.size()));
    }
}

bool Frontier::IsDominated(const SearchNode& node) const {
    if (data_.empty()) return false;
    CheckAgentCount(node);
    const double* node_costs = node.cost.data();
    const std::size_t agents = stride_ - kCostsAt;
    for (const double* entry = data_.data(); entry != data_.data() + data_.size();
         entry += stride_) {
        // g is one compare and the visited subset four word operations; most stored
        // nodes fail one of them before the cost loop is reached, and g alone turns
        // away most (a node expanded later in the search usually costs more), so it
        // goes first.
        if (!(entry[0] <= node.g) || !node.visited.IsSubsetOf(VisitedOf(entry))) continue;
        if (CostsNoGreater(entry + kCostsAt, node_costs, agents)) return true;
    }
    return false;
}

std::size_t Frontier::Insert(const SearchNode& node) {
    CheckAgentCount(node);
    if (stride_ == 0) {
        if (node.cost.size() > std::numeric_limits<std::uint32_t>::max() - kCostsAt) {
            throw std::invalid_argument("too many agents for a frontier");
        }
        stride_ = static_cast<std::uint32_t>(kCostsAt + node.cost.size());
    }
    const std::size_t agents = stride_ - kCostsAt;
    const double* node_costs = node.cost.data();
    std::size_t removed = 0;
    // Scanning from the back lets the last entry fill each hole: it has been tested
    // already, so no entry is skipped or tested twice.
    for (std::size_t k = Size(); k-- > 0;) {
        double* stored = data_.data() + k * stride_;
        if (!(node.g <= stored[0]) || !VisitedOf(stored).IsSubsetOf(node.visited)) continue;
        if (!CostsNoGreater(node_costs, stored + kCostsAt, agents)) continue;
        const std::size_t last = Size() - 1;
        if (k != last) {
            const double* last_entry = data_.data() + last * stride_;
            std::copy(last_entry, last_entry + stride_, stored);
        }
        data_.resize(last * stride_);
        ++removed;
    }
    // Grow by a known amount, so that the Solver can account for the bytes before they
    // are allocated (InsertGrowthBytes).
    if (data_.size() + stride_ > data_.capacity()) data_.reserve(NextCapacity() * stride_);
    const std::size_t at = data_.size();
    data_.resize(at + stride_);
    double* entry = data_.data() + at;
    entry[0] = node.g;
    std::memcpy(entry + 1, node.visited.words, sizeof(node.visited.words));
    if (agents > 0) std::memcpy(entry + kCostsAt, node.cost.data(), agents * sizeof(double));
    return removed;
}

std::size_t Frontier::NextCapacity() const {
    // Most frontiers hold one node or a few; large ones double.
    const std::size_t capacity = stride_ == 0 ? 0 : data_.capacity() / stride_;
    return capacity < 4 ? capacity + 1 : 2 * capacity;
}

std::size_t Frontier::HeapBytes(std::size_t bytes) {
    // What the allocator takes for a block: an 8-byte header, 16-byte granules, 32 bytes
    // at least. Most frontiers are one small block, where this is a tenth of the total.
    return bytes == 0 ? 0 : std::max<std::size_t>(32, (bytes + 8 + 15) / 16 * 16);
}

std::size_t Frontier::InsertGrowthBytes(std::size_t num_agents) const {
    const std::size_t stride = stride_ != 0 ? stride_ : kCostsAt + num_agents;
    if (data_.size() + stride <= data_.capacity()) return 0;
    const std::size_t capacity = stride_ == 0 ? 0 : data_.capacity() / stride_;
    const std::size_t next = capacity < 4 ? capacity + 1 : 2 * capacity;
    return HeapBytes(next * stride * sizeof(double));
}

}  // namespace vornik
