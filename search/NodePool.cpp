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

std::size_t NodePool::SlotBytesFor(std::size_t num_agents) {
    // Fixed part, costs, the two ids, vertices and closed bits, rounded up to 4 bytes so
    // that the ids stay aligned (doubles are copied in and out, never read in place).
    const std::size_t bytes = kCostsAt + 8 * num_agents + 8 + num_agents + (num_agents + 7) / 8;
    return (bytes + 3) / 4 * 4;
}

void NodePool::Reset(std::size_t num_agents) {
    if (budget_ != nullptr) budget_->Give(ReservedBytes());
    blocks_.clear();
    blocks_.shrink_to_fit();
    capacity_ = 0;
    num_vertices_ = -1;
    num_agents_ = num_agents;
    ids_at_ = kCostsAt + 8 * num_agents;
    vertices_at_ = ids_at_ + 8;
    closed_at_ = vertices_at_ + num_agents;
    stride_ = SlotBytesFor(num_agents);
}

void NodePool::Grow(std::uint64_t capacity) {
    while (capacity_ < capacity) {
        const std::size_t bytes = BlockBytes();
        if (budget_ != nullptr) budget_->Take(bytes);
        std::unique_ptr<unsigned char[]> block;
        try {
            block.reset(new unsigned char[bytes]);
        } catch (...) {
            if (budget_ != nullptr) budget_->Give(bytes);
            throw;
        }
        std::memset(block.get(), 0, bytes);
        for (std::uint64_t i = 0; i < kSlotsPerBlock; ++i) {
            Put<std::int32_t>(block.get() + i * stride_ + ids_at_ + 4, -1);  // never filled
        }
        blocks_.push_back(std::move(block));
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

void NodePool::Store(std::int64_t id, const SearchNode& node, std::int64_t parent) {
    assert(node.cost.size() == num_agents_ && node.current_vertex.size() == num_agents_ &&
           node.closed.size() == num_agents_ && "one entry per agent");
    assert(id <= kMaxId && parent <= kMaxId && "ids fit in 32 bits");
    // Agent indices are below the agent count, which the Solver keeps below 2^31.
    assert(node.last_agent >= 0 && node.last_agent <= std::numeric_limits<std::int32_t>::max());
    assert((num_vertices_ == -1 || node.num_vertices == num_vertices_) &&
           "one vertex count per search");
    num_vertices_ = node.num_vertices;
    unsigned char* slot = Slot(id);
    std::memcpy(slot + kVisitedAt, node.visited.words, sizeof(node.visited.words));
    Put(slot + kFAt, node.f);
    Put(slot + ids_at_, parent < 0 ? kNoParent : static_cast<std::uint32_t>(parent));
    Put(slot + ids_at_ + 4, static_cast<std::int32_t>(node.last_agent));
    if (num_agents_ == 0) return;
    std::memcpy(slot + kCostsAt, node.cost.data(), 8 * num_agents_);
    std::memcpy(slot + vertices_at_, node.current_vertex.data(), num_agents_);
    unsigned char* closed = slot + closed_at_;
    std::memset(closed, 0, (num_agents_ + 7) / 8);
    std::int64_t open = 0;
    for (std::size_t a = 0; a < num_agents_; ++a) {
        if (node.closed[a] != 0) {
            closed[a / 8] |= static_cast<unsigned char>(1U << (a % 8));
        } else {
            ++open;
        }
    }
    assert(open == node.open_agents && "open_agents counts the clear closed flags");
    (void)open;
}

void NodePool::Load(std::int64_t id, SearchNode& out) const {
    const unsigned char* slot = Slot(id);
    out.id = id;
    std::memcpy(out.visited.words, slot + kVisitedAt, sizeof(out.visited.words));
    out.h = 0.0;
    out.g = 0.0;
    out.f = Get<double>(slot + kFAt);
    out.last_agent = Get<std::int32_t>(slot + ids_at_ + 4);
    out.num_vertices = out.last_agent < 0 ? -1 : num_vertices_;
    if (out.last_agent < 0) out.last_agent = 0;
    out.cost.resize(num_agents_);
    out.current_vertex.resize(num_agents_);
    out.closed.resize(num_agents_);
    std::int64_t open = 0;
    if (num_agents_ > 0) {
        std::memcpy(out.cost.data(), slot + kCostsAt, 8 * num_agents_);
        std::memcpy(out.current_vertex.data(), slot + vertices_at_, num_agents_);
        const unsigned char* closed = slot + closed_at_;
        for (std::size_t a = 0; a < num_agents_; ++a) {
            const std::uint8_t flag = (closed[a / 8] >> (a % 8)) & 1U;
            out.closed[a] = flag;
            open += flag == 0 ? 1 : 0;
        }
    }
    out.open_agents = open;
}

double NodePool::F(std::int64_t id) const { return Get<double>(Slot(id) + kFAt); }

std::int64_t NodePool::Parent(std::int64_t id) const {
    const auto parent = Get<std::uint32_t>(Slot(id) + ids_at_);
    return parent == kNoParent ? -1 : static_cast<std::int64_t>(parent);
}

std::int64_t NodePool::LastAgent(std::int64_t id) const {
    const std::int32_t agent = Get<std::int32_t>(Slot(id) + ids_at_ + 4);
    return agent < 0 ? 0 : agent;
}

std::uint64_t NodePool::Vertex(std::int64_t id, std::size_t agent) const {
    return Slot(id)[vertices_at_ + agent];
}

double NodePool::Cost(std::int64_t id, std::size_t agent) const {
    return Get<double>(Slot(id) + kCostsAt + 8 * agent);
}

}  // namespace vornik
