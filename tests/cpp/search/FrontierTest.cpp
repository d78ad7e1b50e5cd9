#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <stdexcept>
#include <vector>

#include "search/Frontier.h"

namespace vornik {
namespace {

SearchNode Node(double g, std::vector<double> cost, std::vector<std::uint64_t> visited) {
    SearchNode node;
    node.g = g;
    node.cost = std::move(cost);
    node.current_vertex.assign(node.cost.size(), 0);
    node.closed.assign(node.cost.size(), 0);
    for (const std::uint64_t v : visited) node.visited.Set(v);
    node.num_vertices = 256;
    return node;
}

// The rule as written, over whole node copies: A dominates B when A.g <= B.g, each of
// A's agent costs is at most B's, and B's visited bits are all set in A.
bool Dominates(const SearchNode& a, const SearchNode& b) {
    if (!(a.g <= b.g)) return false;
    for (std::size_t i = 0; i < a.cost.size(); ++i) {
        if (!(a.cost[i] <= b.cost[i])) return false;
    }
    for (std::uint64_t v = 0; v < 256; ++v) {
        if (b.visited.Test(v) && !a.visited.Test(v)) return false;
    }
    return true;
}

class LiteralFrontier {
public:
    bool IsDominated(const SearchNode& node) const {
        for (const SearchNode& stored : nodes_) {
            if (Dominates(stored, node)) return true;
        }
        return false;
    }
    std::size_t Insert(const SearchNode& node) {
        std::size_t removed = 0;
        for (std::size_t k = nodes_.size(); k-- > 0;) {
            if (Dominates(node, nodes_[k])) {
                nodes_.erase(nodes_.begin() + static_cast<std::ptrdiff_t>(k));
                ++removed;
            }
        }
        nodes_.push_back(node);
        return removed;
    }
    std::size_t Size() const { return nodes_.size(); }

private:
    std::vector<SearchNode> nodes_;
};

TEST(FrontierTest, EmptyFrontierDominatesNothing) {
    const Frontier frontier;
    EXPECT_FALSE(frontier.IsDominated(Node(0.0, {0.0}, {})));
    EXPECT_EQ(frontier.Size(), 0u);
}

TEST(FrontierTest, EqualNodeIsDominatedAndReplacesTheStoredOne) {
    Frontier frontier;
    const SearchNode node = Node(5.0, {2.0, 3.0}, {0, 4, 200});
    EXPECT_EQ(frontier.Insert(node), 0u);
    EXPECT_TRUE(frontier.IsDominated(node));
    EXPECT_EQ(frontier.Insert(node), 1u);
    EXPECT_EQ(frontier.Size(), 1u);
}

TEST(FrontierTest, TradeOffsAreKeptSideBySide) {
    struct Case {
        const char* name;
        SearchNode newcomer;
    };
    const SearchNode stored = Node(5.0, {2.0, 3.0}, {0, 4});
    const Case cases[] = {
        // Better g but agent 1 is later: neither dominates.
        {"smaller g, one larger cost", Node(4.0, {2.0, 3.5}, {0, 4})},
        // Vertex 7 is served only by the newcomer, however cheap the stored node is.
        {"visited a vertex the stored node did not", Node(9.0, {9.0, 9.0}, {0, 4, 7})},
        {"visited a high vertex the stored node did not", Node(9.0, {9.0, 9.0}, {0, 4, 255})},
        {"larger g, smaller costs", Node(6.0, {1.0, 1.0}, {0, 4})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Frontier frontier;
        frontier.Insert(stored);
        EXPECT_FALSE(frontier.IsDominated(c.newcomer));
        EXPECT_EQ(frontier.Insert(c.newcomer), 0u);
        EXPECT_EQ(frontier.Size(), 2u);
    }
}

TEST(FrontierTest, InsertRemovesEveryDominatedNode) {
    Frontier frontier;
    frontier.Insert(Node(3.0, {1.0, 2.0}, {1}));
    frontier.Insert(Node(4.0, {2.0, 1.0}, {2}));
    frontier.Insert(Node(1.0, {5.0, 5.0}, {1, 2, 3}));
    // Dominates the first two (g 2 <= 3, 4; costs (1, 1) <= both; visited {1, 2} covers
    // {1} and {2}) but not the third, which visited 3 and has a smaller g.
    EXPECT_EQ(frontier.Insert(Node(2.0, {1.0, 1.0}, {1, 2})), 2u);
    EXPECT_EQ(frontier.Size(), 2u);
    EXPECT_TRUE(frontier.IsDominated(Node(3.0, {1.0, 2.0}, {1})));
}

TEST(FrontierTest, AgentCountMismatchIsRefused) {
    Frontier frontier;
    frontier.Insert(Node(1.0, {1.0, 1.0}, {}));
    EXPECT_THROW(frontier.IsDominated(Node(1.0, {1.0}, {})), std::invalid_argument);
    EXPECT_THROW(frontier.Insert(Node(0.0, {0.0, 0.0, 0.0}, {})), std::invalid_argument);
    EXPECT_EQ(frontier.Size(), 1u);
}

TEST(FrontierTest, CopiesAndMovesKeepTheStoredNodes) {
    Frontier frontier;
    frontier.Insert(Node(1.0, {1.0}, {3}));
    Frontier copy = frontier;
    Frontier moved = std::move(frontier);
    EXPECT_TRUE(copy.IsDominated(Node(2.0, {2.0}, {3})));
    EXPECT_TRUE(moved.IsDominated(Node(2.0, {2.0}, {3})));
}

// The compact frontier against the literal one on random sequences drawn from small
// value ranges, so that ties, equal nodes and chains of removals are common.
TEST(FrontierTest, AgreesWithTheLiteralRuleOnRandomSequences) {
    std::mt19937_64 rng(20240611);
    std::uniform_int_distribution<int> small(0, 3);
    std::uniform_int_distribution<int> bit(0, 5);
    // Visited candidates spread over all four words of the set.
    const std::uint64_t vertices[] = {0, 1, 63, 64, 130, 255};
    for (int sequence = 0; sequence < 300; ++sequence) {
        SCOPED_TRACE(sequence);
        const std::size_t agents = 1 + static_cast<std::size_t>(sequence % 3);
        Frontier compact;
        LiteralFrontier literal;
        for (int step = 0; step < 60; ++step) {
            std::vector<double> cost(agents);
            for (double& c : cost) c = small(rng);
            std::vector<std::uint64_t> visited;
            for (const std::uint64_t v : vertices) {
                if (bit(rng) < 3) visited.push_back(v);
            }
            const SearchNode node = Node(small(rng), cost, visited);
            ASSERT_EQ(compact.IsDominated(node), literal.IsDominated(node)) << "step " << step;
            // Query-only steps leave the frontiers as they are.
            if (step % 3 == 2) continue;
            ASSERT_EQ(compact.Insert(node), literal.Insert(node)) << "step " << step;
            ASSERT_EQ(compact.Size(), literal.Size());
        }
    }
}

}  // namespace
}  // namespace vornik
