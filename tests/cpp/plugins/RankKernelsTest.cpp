#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "plugins/RankKernels.h"

namespace vornik {
namespace {

// The heuristic picks its inner step by processor: both forms must lower the keys the
// same way and report the same smallest key, on every even block count it can meet.
TEST(RankKernelsTest, WideStepAgreesWithThePortableStep) {
    if (!__builtin_cpu_supports("avx2")) GTEST_SKIP() << "no 256-bit integer vectors here";
    constexpr std::int16_t kNone = 32767;
    std::mt19937 rng(5);
    for (std::uint32_t blocks = 2; blocks <= 32; blocks += 2) {
        for (int round = 0; round < 200; ++round) {
            std::vector<NarrowBlock> key(blocks), row(blocks), mask(blocks);
            for (std::uint32_t b = 0; b < blocks; ++b) {
                for (int lane = 0; lane < 8; ++lane) {
                    // Ranks, "no record" marks and all-ones masks, as the heuristic has them.
                    key[b][lane] = rng() % 4 == 0 ? kNone : static_cast<std::int16_t>(rng() % 500);
                    row[b][lane] = rng() % 3 == 0 ? kNone : static_cast<std::int16_t>(rng() % 500);
                    mask[b][lane] = rng() % 4 == 0 ? kNone : 0;
                }
            }
            std::vector<NarrowBlock> narrow_key = key;
            std::vector<NarrowBlock> wide_key = key;
            const std::int16_t narrow = RelaxAndMin<NarrowBlock, std::int16_t>(
                narrow_key.data(), row.data(), mask.data(), blocks, kNone);
            const std::int16_t wide =
                RelaxAndMinWide(wide_key.data(), row.data(), mask.data(), blocks, kNone);
            ASSERT_EQ(narrow, wide) << blocks << " blocks, round " << round;
            for (std::uint32_t b = 0; b < blocks; ++b) {
                for (int lane = 0; lane < 8; ++lane) {
                    ASSERT_EQ(narrow_key[b][lane], wide_key[b][lane]);
                }
            }
        }
    }
}

}  // namespace
}  // namespace vornik
