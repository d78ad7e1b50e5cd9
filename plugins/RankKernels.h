#ifndef VORNIK_PLUGINS_RANKKERNELS_H
#define VORNIK_PLUGINS_RANKKERNELS_H

// The inner step of the default heuristic's spanning-forest growth, in a portable form
// and in a form for processors with 256-bit integer vectors. Kept in a header of their
// own so that the tests can hold the two against each other on any machine that has
// both.

#include <algorithm>
#include <cstdint>

namespace vornik {

// One step of the growth: lower every key by the new active vertex's row (masked
// entries stay at the "no record" mark) and return the smallest key.
template <typename Block, typename Rank>
inline Rank RelaxAndMin(Block* key, const Block* row, const Block* mask, std::uint32_t blocks,
                        Rank none) {
    Block best;
    for (std::uint32_t lane = 0; lane < sizeof(Block) / sizeof(Rank); ++lane) best[lane] = none;
    for (std::uint32_t b = 0; b < blocks; ++b) {
        const Block offered = row[b] | mask[b];
        const Block k = key[b] < offered ? key[b] : offered;
        key[b] = k;
        best = best < k ? best : k;
    }
    Rank smallest = none;
    for (std::uint32_t lane = 0; lane < sizeof(Block) / sizeof(Rank); ++lane) {
        smallest = std::min<Rank>(smallest, best[lane]);
    }
    return smallest;
}

// The same step over two blocks at a time, for processors with 256-bit integer
// vectors: half the instructions of the loop that is most of the search's time. Ranks
// are integers, so the minimum does not depend on how the lanes are grouped and the
// result is the one of RelaxAndMin. `blocks` must be even. Loads and stores go through
// memcpy: the arrays hold 16-byte blocks.
using NarrowBlock = std::int16_t __attribute__((vector_size(16)));
using WideBlock = std::int16_t __attribute__((vector_size(32)));

__attribute__((target("avx2"))) inline std::int16_t RelaxAndMinWide(NarrowBlock* key,
                                                                    const NarrowBlock* row,
                                                                    const NarrowBlock* mask,
                                                                    std::uint32_t blocks,
                                                                    std::int16_t none) {
    constexpr std::uint32_t kLanes = sizeof(WideBlock) / sizeof(std::int16_t);
    WideBlock best;
    for (std::uint32_t lane = 0; lane < kLanes; ++lane) best[lane] = none;
    for (std::uint32_t b = 0; b < blocks; b += 2) {
        WideBlock k;
        WideBlock r;
        WideBlock m;
        __builtin_memcpy(&k, key + b, sizeof k);
        __builtin_memcpy(&r, row + b, sizeof r);
        __builtin_memcpy(&m, mask + b, sizeof m);
        const WideBlock offered = r | m;
        k = k < offered ? k : offered;
        __builtin_memcpy(key + b, &k, sizeof k);
        best = best < k ? best : k;
    }
    std::int16_t smallest = none;
    for (std::uint32_t lane = 0; lane < kLanes; ++lane) {
        smallest = best[lane] < smallest ? best[lane] : smallest;
    }
    return smallest;
}

}  // namespace vornik

#endif  // VORNIK_PLUGINS_RANKKERNELS_H
