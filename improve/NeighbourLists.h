#ifndef VORNIK_IMPROVE_NEIGHBOURLISTS_H
#define VORNIK_IMPROVE_NEIGHBOURLISTS_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "core/Problem.h"

namespace vornik {

/// The order of nearness between two targets of one vertex: smaller first, ties by vertex.
using NearnessKey = std::function<double(std::uint32_t, std::uint32_t)>;

/// For every target v (indexed by vertex, n entries), the other targets w in increasing
/// (key(v, w), w), at most `keep` of them; non-targets get empty lists. Compares every
/// pair: O(n^2) calls of `key`.
std::vector<std::vector<std::uint32_t>> NearestByKey(std::size_t n,
                                                     const std::vector<std::uint32_t>& targets,
                                                     std::size_t keep, const NearnessKey& key);

/// The same lists as NearestByKey, found through a grid over the positions' x and y, for
/// keys that grow with distance: key(v, w) >= 2 * |p_v - p_w| - slack for every pair (the
/// round trip of costs that stay within slack / 2 of the straight-line distance). Near
/// O(n * keep) calls of `key` for points spread in the plane.
std::vector<std::vector<std::uint32_t>> NearestOnGrid(std::size_t n,
                                                      const std::vector<std::uint32_t>& targets,
                                                      std::size_t keep, const NearnessKey& key,
                                                      const std::vector<Position>& positions,
                                                      double slack);

/// The same lists as NearestByKey for the key min over `tables` of
/// (table[v * n + w] + table[w * n + v]): round trips over dense n x n tables, missing
/// entries +infinity. The key is the same both ways, so each pair is priced once, and the
/// tables are read tile by tile: a matrix's column is not read across its rows, one cache
/// miss per entry.
std::vector<std::vector<std::uint32_t>> NearestInTables(std::size_t n,
                                                        const std::vector<std::uint32_t>& targets,
                                                        std::size_t keep,
                                                        const std::vector<const double*>& tables);

}  // namespace vornik

#endif  // VORNIK_IMPROVE_NEIGHBOURLISTS_H
