// The frontier index numbers state keys in order of first appearance; a std::map from
// the key bytes is the oracle.

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <vector>

#include "search/StateKeyIndex.h"

namespace vornik {
namespace {

class StateKeyIndexTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(StateKeyIndexTest, NumbersKeysLikeAnOrderedMap) {
    const std::size_t width = GetParam();
    StateKeyIndex index;
    index.Reset(width);
    std::map<std::vector<std::uint8_t>, std::int64_t> oracle;
    std::mt19937_64 rng(width + 3);
    std::vector<std::uint8_t> key(width);
    for (int step = 0; step < 30000; ++step) {
        // Small vertex numbers, so keys repeat often and probe runs collide.
        for (auto& byte : key) byte = static_cast<std::uint8_t>(rng() % 7);
        const auto found = oracle.find(key);
        const std::int64_t expected = found == oracle.end() ? -1 : found->second;
        ASSERT_EQ(index.Find(key.data()), expected);
        if (expected < 0) {
            const std::int64_t added = index.Insert(key.data());
            ASSERT_EQ(added, static_cast<std::int64_t>(oracle.size()));
            oracle.emplace(key, added);
        }
    }
    EXPECT_EQ(index.Size(), oracle.size());
    for (const auto& [bytes, number] : oracle) EXPECT_EQ(index.Find(bytes.data()), number);
}

// Widths around the eight-byte word of the hash, and none at all (no agents: one key).
INSTANTIATE_TEST_SUITE_P(Widths, StateKeyIndexTest, ::testing::Values(0, 1, 3, 7, 8, 9, 17));

TEST(StateKeyIndexResetTest, ResetForgetsKeysAndChangesWidth) {
    StateKeyIndex index;
    index.Reset(2);
    const std::uint8_t a[2] = {1, 2};
    EXPECT_EQ(index.Insert(a), 0);
    index.Reset(3);
    const std::uint8_t b[3] = {1, 2, 0};
    EXPECT_EQ(index.Find(b), -1);
    EXPECT_EQ(index.Width(), 3u);
    EXPECT_EQ(index.Insert(b), 0);
}

}  // namespace
}  // namespace vornik
