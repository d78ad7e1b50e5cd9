#include "improve/NeighbourLists.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace vornik {

namespace {

using Candidate = std::pair<double, std::uint32_t>;

void KeepNearest(std::vector<Candidate>& order, std::size_t keep,
                 std::vector<std::uint32_t>& list) {
    keep = std::min(keep, order.size());
    std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(keep),
                      order.end());
    list.reserve(keep);
    for (std::size_t k = 0; k < keep; ++k) list.push_back(order[k].second);
}

/// Candidates of one target that may still be among its `keep` nearest: taken without
/// order, and cut back to the `keep` smallest once twice as many have come, so that most
/// offers are one comparison with the bound and a taken one costs no reordering.
struct Nearest {
    std::vector<Candidate> kept;
    double bound = std::numeric_limits<double>::infinity();  ///< the keep-th key once known

    void Cut(std::size_t keep) {
        std::nth_element(kept.begin(), kept.begin() + static_cast<std::ptrdiff_t>(keep - 1),
                         kept.end());
        kept.resize(keep);
        bound = kept[keep - 1].first;  // no kept key is above it
    }
};

}  // namespace

std::vector<std::vector<std::uint32_t>> NearestInTables(std::size_t n,
                                                        const std::vector<std::uint32_t>& targets,
                                                        std::size_t keep,
                                                        const std::vector<const double*>& tables) {
    std::vector<std::vector<std::uint32_t>> lists(n);
    const std::size_t m = targets.size();
    if (keep == 0 || m < 2) return lists;
    std::vector<Nearest> nearest(m);
    // Targets that are one run of vertices (all but the depots at the front, mostly) are
    // read as runs of memory.
    const bool run =
        std::is_sorted(targets.begin(), targets.end()) && targets.back() - targets.front() + 1 == m;
    // Two tiles of 64 x 64 entries stay in the cache while both ways of a pair are read.
    constexpr std::size_t kTile = 64;
    std::vector<double> key(kTile * kTile);
    std::vector<double> there(kTile * kTile);  // row i of the tile: table[i][j]
    std::vector<double> back(kTile * kTile);   // row j of the tile: table[j][i]
    // Copies the entries of rows [r0, r1) at columns [c0, c1) into `out`, one row of the
    // tile after another: every read and write runs along memory.
    const auto copy = [&](const double* table, std::size_t r0, std::size_t r1, std::size_t c0,
                          std::size_t c1, std::vector<double>& out) {
        for (std::size_t r = r0; r < r1; ++r) {
            const double* row = table + static_cast<std::size_t>(targets[r]) * n;
            double* to = &out[(r - r0) * kTile];
            if (run) {
                std::copy(row + targets[c0], row + targets[c0] + (c1 - c0), to);
            } else {
                for (std::size_t c = c0; c < c1; ++c) to[c - c0] = row[targets[c]];
            }
        }
    };
    for (std::size_t i0 = 0; i0 < m; i0 += kTile) {
        const std::size_t i1 = std::min(m, i0 + kTile);
        for (std::size_t j0 = i0; j0 < m; j0 += kTile) {
            const std::size_t j1 = std::min(m, j0 + kTile);
            for (std::size_t t = 0; t < tables.size(); ++t) {
                copy(tables[t], i0, i1, j0, j1, there);
                copy(tables[t], j0, j1, i0, i1, back);
                for (std::size_t i = 0; i < i1 - i0; ++i) {
                    for (std::size_t j = 0; j < j1 - j0; ++j) {
                        const double round_trip = there[i * kTile + j] + back[j * kTile + i];
                        double& entry = key[i * kTile + j];
                        entry = t == 0 ? round_trip : std::min(entry, round_trip);
                    }
                }
            }
            // A key above a target's keep-th is refused by one comparison.
            const auto offer = [&](std::size_t t, double k, std::uint32_t w) {
                Nearest& near = nearest[t];
                if (k > near.bound) return;
                near.kept.emplace_back(k, w);
                if (near.kept.size() == 2 * keep) near.Cut(keep);
            };
            for (std::size_t i = i0; i < i1; ++i) {
                for (std::size_t j = std::max(j0, i + 1); j < j1; ++j) {
                    const double k = key[(i - i0) * kTile + (j - j0)];
                    offer(i, k, targets[j]);
                    offer(j, k, targets[i]);
                }
            }
        }
    }
    for (std::size_t i = 0; i < m; ++i) {
        std::vector<Candidate>& kept = nearest[i].kept;
        KeepNearest(kept, keep, lists[targets[i]]);
    }
    return lists;
}

std::vector<std::vector<std::uint32_t>> NearestByKey(std::size_t n,
                                                     const std::vector<std::uint32_t>& targets,
                                                     std::size_t keep, const NearnessKey& key) {
    std::vector<std::vector<std::uint32_t>> lists(n);
    std::vector<Candidate> order;
    for (const std::uint32_t v : targets) {
        order.clear();
        for (const std::uint32_t w : targets) {
            if (w != v) order.emplace_back(key(v, w), w);
        }
        KeepNearest(order, keep, lists[v]);
    }
    return lists;
}

std::vector<std::vector<std::uint32_t>> NearestOnGrid(std::size_t n,
                                                      const std::vector<std::uint32_t>& targets,
                                                      std::size_t keep, const NearnessKey& key,
                                                      const std::vector<Position>& positions,
                                                      double slack) {
    std::vector<std::vector<std::uint32_t>> lists(n);
    if (targets.size() < 2 || keep == 0) return NearestByKey(n, targets, keep, key);
    double x0 = positions[targets[0]].x, x1 = x0, y0 = positions[targets[0]].y, y1 = y0;
    for (const std::uint32_t v : targets) {
        x0 = std::min(x0, positions[v].x);
        x1 = std::max(x1, positions[v].x);
        y0 = std::min(y0, positions[v].y);
        y1 = std::max(y1, positions[v].y);
    }
    // About two targets per cell.
    const auto side = static_cast<std::size_t>(
        std::max(1.0, std::ceil(std::sqrt(static_cast<double>(targets.size()) / 2.0))));
    const double cell = std::max(
        {(x1 - x0) / static_cast<double>(side), (y1 - y0) / static_cast<double>(side), 1e-300});
    if (!std::isfinite(cell)) return NearestByKey(n, targets, keep, key);
    const auto cell_of = [&](double value, double origin) {
        const double index = std::floor((value - origin) / cell);
        return static_cast<std::ptrdiff_t>(std::clamp(index, 0.0, static_cast<double>(side - 1)));
    };
    const auto s = static_cast<std::ptrdiff_t>(side);
    // The targets by cell, each with its point: a cell's targets lie side by side in
    // memory, and the targets are visited cell by cell, so that neighbouring cells stay in
    // the cache (read through the vertex, the points were the search's cache misses).
    struct Member {
        std::uint32_t vertex;
        double x, y;
    };
    std::vector<std::size_t> first(side * side + 1, 0);
    std::vector<std::size_t> cell_of_target(targets.size());
    for (std::size_t k = 0; k < targets.size(); ++k) {
        const Position& p = positions[targets[k]];
        cell_of_target[k] = static_cast<std::size_t>(cell_of(p.y, y0) * s + cell_of(p.x, x0));
        ++first[cell_of_target[k] + 1];
    }
    for (std::size_t c = 0; c < side * side; ++c) first[c + 1] += first[c];
    std::vector<Member> members(targets.size());
    {
        std::vector<std::size_t> next(first.begin(), first.end() - 1);
        for (std::size_t k = 0; k < targets.size(); ++k) {
            const Position& p = positions[targets[k]];
            members[next[cell_of_target[k]]++] = Member{targets[k], p.x, p.y};
        }
    }

    std::vector<Candidate> order;
    std::vector<double> keys;
    for (const Member& self : members) {
        const std::uint32_t v = self.vertex;
        order.clear();
        const std::ptrdiff_t cx = cell_of(self.x, x0);
        const std::ptrdiff_t cy = cell_of(self.y, y0);
        // After ring r every target within r cells in x and in y has been seen, so every
        // target closer than r * cell in the plane (and so in space).
        double needed = std::numeric_limits<double>::infinity();
        // Once `keep` keys are known, a target farther than `needed` in the plane has a key
        // above the keep-th one seen, so above the final one: it is passed over without
        // its key, which is most of the outer rings' targets.
        double passed_over = std::numeric_limits<double>::infinity();
        for (std::ptrdiff_t r = 0;; ++r) {
            if (cx - r < 0 && cy - r < 0 && cx + r >= s && cy + r >= s) break;
            for (std::ptrdiff_t gy = cy - r; gy <= cy + r; ++gy) {
                if (gy < 0 || gy >= s) continue;
                const bool edge = gy == cy - r || gy == cy + r;
                for (std::ptrdiff_t gx = cx - r; gx <= cx + r; gx += edge ? 1 : 2 * r) {
                    if (gx >= 0 && gx < s) {
                        const auto c = static_cast<std::size_t>(gy * s + gx);
                        for (std::size_t k = first[c]; k < first[c + 1]; ++k) {
                            const Member& other = members[k];
                            const double dx = other.x - self.x;
                            const double dy = other.y - self.y;
                            if (other.vertex != v && dx * dx + dy * dy <= passed_over) {
                                order.emplace_back(key(v, other.vertex), other.vertex);
                            }
                        }
                    }
                    if (r == 0) break;
                }
            }
            if (order.size() >= keep) {
                // Any target whose key beats the keep-th seen so far lies within
                // (key + slack) / 2 of v.
                keys.resize(order.size());
                std::transform(order.begin(), order.end(), keys.begin(),
                               [](const Candidate& c) { return c.first; });
                std::nth_element(keys.begin(), keys.begin() + static_cast<std::ptrdiff_t>(keep - 1),
                                 keys.end());
                const double bound = keys[keep - 1];
                needed = (bound + slack) / 2.0 * (1.0 + 1e-9) + 1e-300;
                if (!std::isfinite(needed)) needed = std::numeric_limits<double>::infinity();
                passed_over = needed * needed * (1.0 + 1e-9);
            }
            // One ring more than the distance asks for: cells are found by rounding.
            if (static_cast<double>(r - 1) * cell >= needed) break;
        }
        KeepNearest(order, keep, lists[v]);
    }
    return lists;
}

}  // namespace vornik
