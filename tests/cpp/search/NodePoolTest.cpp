#include <gtest/gtest.h>

#include <random>

#include "search/NodePool.h"

namespace vornik {
namespace {

// A node as the search stores it: open_agents counts the clear closed flags, and every
// node of one pool shares num_vertices.
SearchNode RandomNode(std::mt19937& rng, std::size_t agents, std::int32_t num_vertices) {
    SearchNode node;
    std::uniform_real_distribution<double> real(-1e6, 1e6);
    for (std::size_t a = 0; a < agents; ++a) {
        node.current_vertex.push_back(static_cast<NodeVertex>(rng() % 256));
        node.cost.push_back(real(rng));
        node.closed.push_back(static_cast<std::uint8_t>(rng() % 2));
    }
    for (auto& word : node.visited.words) word = (std::uint64_t{rng()} << 32) | rng();
    node.num_vertices = num_vertices;
    node.h = real(rng);
    node.g = real(rng);
    node.f = real(rng);
    node.open_agents = 0;
    for (std::uint8_t flag : node.closed) node.open_agents += flag == 0 ? 1 : 0;
    node.last_agent = agents == 0 ? 0 : static_cast<std::int64_t>(rng() % agents);
    return node;
}

void ExpectSameNode(const SearchNode& a, const SearchNode& b) {
    EXPECT_EQ(a.current_vertex, b.current_vertex);
    EXPECT_EQ(a.cost, b.cost);
    EXPECT_EQ(a.closed, b.closed);
    EXPECT_TRUE(a.visited == b.visited);
    EXPECT_EQ(a.num_vertices, b.num_vertices);
    EXPECT_EQ(a.f, b.f);
    EXPECT_EQ(a.open_agents, b.open_agents);
    EXPECT_EQ(a.last_agent, b.last_agent);
}

TEST(NodePoolTest, StoredNodesReadBackUnchangedAcrossBlocks) {
    for (std::size_t agents : {0u, 1u, 5u, 17u}) {
        SCOPED_TRACE("agents " + std::to_string(agents));
        std::mt19937 rng(static_cast<unsigned>(agents) + 1);
        NodePool pool;
        pool.Reset(agents);
        pool.Grow(3000);  // three blocks
        std::vector<SearchNode> stored;
        std::vector<std::int64_t> parents;
        for (std::int64_t id = 0; id < 3000; id += 7) {
            stored.push_back(RandomNode(rng, agents, 200));
            parents.push_back(id == 0 ? -1 : static_cast<std::int64_t>(rng() % id));
            pool.Store(id, stored.back(), parents.back());
        }
        SearchNode out;
        std::size_t k = 0;
        for (std::int64_t id = 0; id < 3000; id += 7, ++k) {
            pool.Load(id, out);
            EXPECT_EQ(out.id, id);
            ExpectSameNode(out, stored[k]);
            EXPECT_EQ(out.h, 0.0);  // not kept: nothing reads it back
            EXPECT_EQ(out.g, 0.0);  // not kept: the Solver aggregates the costs again
            EXPECT_EQ(pool.Parent(id), parents[k]);
            EXPECT_EQ(pool.F(id), stored[k].f);
            EXPECT_EQ(pool.LastAgent(id), stored[k].last_agent);
            for (std::size_t a = 0; a < agents; ++a) {
                EXPECT_EQ(pool.Vertex(id, a), stored[k].current_vertex[a]);
                EXPECT_EQ(pool.Cost(id, a), stored[k].cost[a]);
            }
        }
    }
}

TEST(NodePoolTest, UnfilledSlotsReadAsNeverFilled) {
    NodePool pool;
    pool.Reset(3);
    pool.Grow(1);
    SearchNode out;
    pool.Load(5, out);
    EXPECT_EQ(out.num_vertices, -1);
    EXPECT_EQ(out.cost.size(), 3u);
}

TEST(NodePoolTest, SlotIsCompact) {
    // 32 (visited) + 8 (f) + 5 * 8 (costs) + 8 (parent and last agent ids) + 5
    // (vertices) + 1 (five closed bits) = 94, rounded up to 96 for alignment.
    NodePool pool;
    pool.Reset(5);
    EXPECT_EQ(pool.SlotBytes(), 96u);
    EXPECT_EQ(NodePool::SlotBytesFor(5), 96u);
}

TEST(NodePoolTest, GrowthStopsAtTheBudgetAndChangesNothing) {
    NodePool pool;
    pool.Reset(2);  // 32 + 8 + 16 + 8 + 2 + 1 = 67 -> 68-byte slots, 69,632-byte blocks
    MemoryBudget budget;
    budget.SetLimit(2 * 69632 + 100);
    pool.SetBudget(&budget);
    pool.Grow(2048);
    EXPECT_EQ(budget.Used(), 2u * 69632u);
    EXPECT_THROW(pool.Grow(3072), MemoryLimitReached);
    EXPECT_EQ(pool.Capacity(), 2048u);
    EXPECT_EQ(budget.Used(), 2u * 69632u);
    pool.Reset(2);  // gives the blocks back
    EXPECT_EQ(budget.Used(), 0u);
}

}  // namespace
}  // namespace vornik
