#include "search/NodePool.h"

#include <gtest/gtest.h>

#include <random>

namespace vornik {
namespace {

SearchNode RandomNode(std::mt19937& rng, std::size_t agents) {
    SearchNode node;
    std::uniform_real_distribution<double> real(-1e6, 1e6);
    for (std::size_t a = 0; a < agents; ++a) {
        node.current_vertex.push_back(static_cast<NodeVertex>(rng() % 256));
        node.cost.push_back(real(rng));
        node.closed.push_back(static_cast<std::uint8_t>(rng() % 2));
    }
    for (auto& word : node.visited.words) word = (std::uint64_t{rng()} << 32) | rng();
    node.num_vertices = static_cast<std::int32_t>(rng() % 257);
    node.h = real(rng);
    node.g = real(rng);
    node.f = real(rng);
    node.open_agents = static_cast<std::int64_t>(rng() % (agents + 1));
    node.last_agent = agents == 0 ? 0 : static_cast<std::int64_t>(rng() % agents);
    return node;
}

void ExpectSameNode(const SearchNode& a, const SearchNode& b) {
    EXPECT_EQ(a.current_vertex, b.current_vertex);
    EXPECT_EQ(a.cost, b.cost);
    EXPECT_EQ(a.closed, b.closed);
    EXPECT_TRUE(a.visited == b.visited);
    EXPECT_EQ(a.num_vertices, b.num_vertices);
    EXPECT_EQ(a.h, b.h);
    EXPECT_EQ(a.g, b.g);
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
        for (std::int64_t id = 0; id < 3000; id += 7) {
            stored.push_back(RandomNode(rng, agents));
            pool.Store(id, stored.back());
        }
        SearchNode out;
        std::size_t k = 0;
        for (std::int64_t id = 0; id < 3000; id += 7, ++k) {
            pool.Load(id, out);
            EXPECT_EQ(out.id, id);
            ExpectSameNode(out, stored[k]);
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
    // 32 (visited) + 24 (h, g, f) + 5 * 8 (costs) + 12 (counters) + 5 + 5 (vertices,
    // closed flags) = 118, rounded up to 120 for alignment.
    NodePool pool;
    pool.Reset(5);
    EXPECT_EQ(pool.SlotBytes(), 120u);
}

}  // namespace
}  // namespace vornik
