#include "search/NodePool.h"

#include <cassert>
#include <cstring>
#include <limits>

namespace vornik {

namespace {

template <typename T>
void Put(unsigned char* at, T value) {
    std::memcpy(at, &value, sizeof(T));
}

template <typename T>
T Get(const unsigned char* at) {
    T value;
    std::memcpy(&value, at, sizeof(T));
    return value;
}

}  // namespace

void NodePool::Reset(std::size_t num_agents) {
    blocks_.clear();
    capacity_ = 0;
    num_agents_ = num_agents;
    counters_at_ = kCostsAt + 8 * num_agents;
    vertices_at_ = counters_at_ + 12;
    closed_at_ = vertices_at_ + num_agents;
    // Round the slot up to 8 bytes so that the doubles of every slot stay aligned.
    stride_ = (closed_at_ + num_agents + 7) / 8 * 8;
}

void NodePool::Grow(std::uint64_t capacity) {
    while (capacity_ < capacity) {
        const std::size_t bytes = stride_ * kSlotsPerBlock;
        blocks_.emplace_back(new unsigned char[bytes]);
        unsigned char* block = blocks_.back().get();
        std::memset(block, 0, bytes);
        for (std::uint64_t i = 0; i < kSlotsPerBlock; ++i) {
            Put<std::int32_t>(block + i * stride_ + counters_at_, -1);  // never filled
        }
        capacity_ += kSlotsPerBlock;
    }
}

unsigned char* NodePool::Slot(std::int64_t id) {
    assert(id >= 0 && static_cast<std::uint64_t>(id) < capacity_ && "slot exists");
    const auto index = static_cast<std::uint64_t>(id);
    return blocks_[index / kSlotsPerBlock].get() + (index % kSlotsPerBlock) * stride_;
}

const unsigned char* NodePool::Slot(std::int64_t id) const {
    assert(id >= 0 && static_cast<std::uint64_t>(id) < capacity_ && "slot exists");
    const auto index = static_cast<std::uint64_t>(id);
    return blocks_[index / kSlotsPerBlock].get() + (index % kSlotsPerBlock) * stride_;
}

void NodePool::Store(std::int64_t id, const SearchNode& node) {
    assert(node.cost.size() == num_agents_ && node.current_vertex.size() == num_agents_ &&
           node.closed.size() == num_agents_ && "one entry per agent");
    // The counters are bounded by the agent count, which the Solver keeps below 2^31.
    assert(node.open_agents <= std::numeric_limits<std::int32_t>::max());
    unsigned char* slot = Slot(id);
    std::memcpy(slot + kVisitedAt, node.visited.words, sizeof(node.visited.words));
    Put(slot + kHAt, node.h);
    Put(slot + kGAt, node.g);
    Put(slot + kFAt, node.f);
    if (num_agents_ > 0) {
        std::memcpy(slot + kCostsAt, node.cost.data(), 8 * num_agents_);
        std::memcpy(slot + vertices_at_, node.current_vertex.data(), num_agents_);
        std::memcpy(slot + closed_at_, node.closed.data(), num_agents_);
    }
    Put(slot + counters_at_, node.num_vertices);
    Put(slot + counters_at_ + 4, static_cast<std::int32_t>(node.open_agents));
    Put(slot + counters_at_ + 8, static_cast<std::int32_t>(node.last_agent));
}

void NodePool::Load(std::int64_t id, SearchNode& out) const {
    const unsigned char* slot = Slot(id);
    out.id = id;
    std::memcpy(out.visited.words, slot + kVisitedAt, sizeof(out.visited.words));
    out.h = Get<double>(slot + kHAt);
    out.g = Get<double>(slot + kGAt);
    out.f = Get<double>(slot + kFAt);
    out.cost.resize(num_agents_);
    out.current_vertex.resize(num_agents_);
    out.closed.resize(num_agents_);
    if (num_agents_ > 0) {
        std::memcpy(out.cost.data(), slot + kCostsAt, 8 * num_agents_);
        std::memcpy(out.current_vertex.data(), slot + vertices_at_, num_agents_);
        std::memcpy(out.closed.data(), slot + closed_at_, num_agents_);
    }
    out.num_vertices = Get<std::int32_t>(slot + counters_at_);
    out.open_agents = Get<std::int32_t>(slot + counters_at_ + 4);
    out.last_agent = Get<std::int32_t>(slot + counters_at_ + 8);
}

double NodePool::F(std::int64_t id) const { return Get<double>(Slot(id) + kFAt); }

std::int64_t NodePool::LastAgent(std::int64_t id) const {
    return Get<std::int32_t>(Slot(id) + counters_at_ + 8);
}

std::uint64_t NodePool::Vertex(std::int64_t id, std::size_t agent) const {
    return Slot(id)[vertices_at_ + agent];
}

double NodePool::Cost(std::int64_t id, std::size_t agent) const {
    return Get<double>(Slot(id) + kCostsAt + 8 * agent);
}

}  // namespace vornik
