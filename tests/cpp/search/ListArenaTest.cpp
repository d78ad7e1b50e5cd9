// The search lists draw their tree nodes from a ListArena. The arena must never change
// what a list holds or in which order: random operation sequences run on an arena-backed
// set and on a plain std::set must agree after every step, including the FOCAL rule that
// an equivalent key is kept only once.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "search/DefaultFocalComparator.h"
#include "search/ListArena.h"

namespace vornik {
namespace {

using Entry = std::pair<double, std::int64_t>;

TEST(ListArenaTest, ReusesFreedChunksAndReleasesBlocks) {
    ListArena arena;
    void* a = arena.Allocate(40);
    void* b = arena.Allocate(40);
    EXPECT_EQ(arena.ChunkBytes(), 40u);
    EXPECT_EQ(arena.InUse(), 2u);
    EXPECT_NE(a, b);
    arena.Deallocate(a, 40);
    // The last chunk given back is the next one handed out.
    EXPECT_EQ(arena.Allocate(40), a);
    // Another size is not a chunk of this arena and goes to the general heap.
    void* other = arena.Allocate(100);
    EXPECT_EQ(arena.InUse(), 2u);
    arena.Deallocate(other, 100);
    arena.Deallocate(a, 40);
    arena.Deallocate(b, 40);
    EXPECT_EQ(arena.InUse(), 0u);
    EXPECT_GT(arena.ReservedBytes(), 0u);
    arena.Release();
    EXPECT_EQ(arena.ReservedBytes(), 0u);
}

TEST(ListArenaTest, ChunksAreRoundedToPointerAlignment) {
    ListArena arena;
    void* a = arena.Allocate(3);  // 3 bytes cannot hold the free-list link: 8
    void* b = arena.Allocate(3);
    EXPECT_EQ(arena.ChunkBytes(), sizeof(void*));
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a) % alignof(void*), 0u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b) % alignof(void*), 0u);
    arena.Deallocate(a, 3);
    arena.Deallocate(b, 3);
}

// OPEN's operations: insert, erase one entry, erase everything above a bound; order and
// content must match std::set exactly.
TEST(ListArenaTest, OpenListMatchesPlainSetOnRandomOperations) {
    ListArena arena;
    std::set<Entry, std::less<Entry>, ArenaAllocator<Entry>> fast{std::less<Entry>{},
                                                                  ArenaAllocator<Entry>(&arena)};
    std::set<Entry> slow;
    std::mt19937_64 rng(7);
    std::int64_t next_id = 0;
    for (int step = 0; step < 20000; ++step) {
        const unsigned op = rng() % 10;
        if (op < 6) {
            // Few distinct f values, so ties on f are ordered by id.
            const Entry entry{static_cast<double>(rng() % 50) / 2.0, next_id++};
            EXPECT_EQ(fast.insert(entry).second, slow.insert(entry).second);
        } else if (op < 9 && !slow.empty()) {
            auto it = slow.begin();
            std::advance(it, static_cast<long>(rng() % slow.size()));
            const Entry victim = *it;
            slow.erase(it);
            EXPECT_EQ(fast.erase(victim), 1u);
        } else {
            const Entry bound{static_cast<double>(rng() % 50) / 2.0, INT64_MAX};
            slow.erase(slow.upper_bound(bound), slow.end());
            fast.erase(fast.upper_bound(bound), fast.end());
        }
        ASSERT_EQ(fast.size(), slow.size());
        if (step % 97 == 0) {
            ASSERT_TRUE(std::equal(fast.begin(), fast.end(), slow.begin()));
        }
    }
    EXPECT_EQ(arena.InUse(), fast.size());
    // Assignment from a list keeps drawing from the same arena.
    fast = {{1.0, 1}, {0.5, 2}};
    EXPECT_EQ(arena.InUse(), 2u);
}

struct FocalOrder {
    const FocalComparatorPlugin* comparator;
    bool operator()(const FocalKey& a, const FocalKey& b) const {
        return comparator->Compare(a, b);
    }
};

bool SameKey(const FocalKey& a, const FocalKey& b) {
    return a.id == b.id && a.num_visited == b.num_visited && a.open_agents == b.open_agents &&
           a.f == b.f && a.sum_cost == b.sum_cost;
}

// FOCAL keeps the first of equivalent keys; with the arena it must keep the very same one.
TEST(ListArenaTest, FocalListKeepsTheSameFirstOfEquivalentKeys) {
    DefaultFocalComparator comparator;
    ListArena arena;
    std::set<FocalKey, FocalOrder, ArenaAllocator<FocalKey>> fast{FocalOrder{&comparator},
                                                                  ArenaAllocator<FocalKey>(&arena)};
    std::set<FocalKey, FocalOrder> slow{FocalOrder{&comparator}};
    std::mt19937_64 rng(11);
    for (std::int64_t id = 0; id < 20000; ++id) {
        if (rng() % 4 == 0 && !slow.empty()) {
            // Pop the first key, as the search does.
            ASSERT_TRUE(SameKey(*fast.begin(), *slow.begin()));
            fast.erase(fast.begin());
            slow.erase(slow.begin());
            continue;
        }
        const FocalKey key{id, static_cast<std::int64_t>(rng() % 6),
                           static_cast<std::int64_t>(rng() % 3), static_cast<double>(rng() % 8),
                           static_cast<double>(rng() % 3)};
        const bool kept = slow.insert(key).second;
        ASSERT_EQ(fast.insert(key).second, kept);
        ASSERT_EQ(fast.size(), slow.size());
    }
    ASSERT_TRUE(std::equal(fast.begin(), fast.end(), slow.begin(), SameKey));
}

}  // namespace
}  // namespace vornik
