#include "plugins/DefaultHeuristic.h"

#include <algorithm>

#include "plugins/RankKernels.h"

namespace vornik {
namespace {

// Lane masks by byte: lane i of entry b is all ones when bit i of b is set.
template <typename Block, typename Rank>
struct ByteLaneMasks {
    Block masks[256];
    explicit ByteLaneMasks(Rank ones) {
        for (unsigned byte = 0; byte < 256; ++byte) {
            for (unsigned lane = 0; lane < sizeof(Block) / sizeof(Rank); ++lane) {
                masks[byte][lane] = ((byte >> lane) & 1U) != 0 ? ones : Rank{0};
            }
        }
    }
};

}  // namespace

DefaultHeuristic::RankBlock* DefaultHeuristic::RankRows() {
    return const_cast<RankBlock*>(static_cast<const DefaultHeuristic*>(this)->RankRows());
}

const DefaultHeuristic::RankBlock* DefaultHeuristic::RankRows() const {
    // The two-block step loads 32 bytes at a time; a row pair split across two cache
    // lines costs it more than it saves. The heap gives 16-byte alignment, so the rows
    // start one block in when the array itself is not on a 32-byte boundary (the
    // answer is worked out each time, so a copied heuristic is right too).
    const RankBlock* base = rank_.data();
    if (base != nullptr && reinterpret_cast<std::uintptr_t>(base) % 32 != 0) ++base;
    return base;
}

void DefaultHeuristic::Init(const PlannerGraph* /*graph*/, const std::vector<NodeEntry>& /*nodes*/,
                            const std::vector<AgentEntry>& agents) {
    num_agents_ = agents.size();
}

void DefaultHeuristic::SetEndVertices(const std::vector<std::uint64_t>& end_vertices) {
    end_vertices_ = end_vertices;
}

void DefaultHeuristic::SetEdges(const std::vector<EdgeRecord>& edges) {
    edges_ = edges;

    // A record can ever be taken only when its cost is below the threshold (a NaN cost
    // is not "9999.0 or more", so it counts as usable) and its endpoints are two
    // distinct vertices of the 256-vertex set; a loop never has exactly one endpoint
    // connected.
    const auto usable = [](const EdgeRecord& e) {
        return !(e.cost >= kBlockedCost) && e.u < kMaxVertices && e.v < kMaxVertices && e.u != e.v;
    };
    std::uint64_t span = 0;
    for (const EdgeRecord& e : edges_) {
        if (usable(e)) span = std::max(span, std::max(e.u, e.v) + 1);
    }
    span_ = static_cast<std::uint32_t>(span);
    row_blocks_ = (span_ + kBlockRanks - 1) / kBlockRanks;
    // Whole pairs of blocks, for the two-block step (the extra block is "no record").
    row_blocks_ += row_blocks_ % 2;
    RankBlock none_block;
    for (std::uint32_t lane = 0; lane < kBlockRanks; ++lane) none_block[lane] = kNoRank;
    // One spare block lets the rows start on a 32-byte boundary (see RankRows).
    rank_.assign(static_cast<std::size_t>(span_) * row_blocks_ + 1, none_block);
    // Lanes of a vector-extension block are read and written by subscript only: clang
    // refuses to bind a reference to one.
    const auto at = [this](std::uint64_t a, std::uint64_t b) -> Rank {
        return RankRows()[a * row_blocks_ + b / kBlockRanks][b % kBlockRanks];
    };
    const auto set = [this](std::uint64_t a, std::uint64_t b, Rank rank) {
        RankRows()[a * row_blocks_ + b / kBlockRanks][b % kBlockRanks] = rank;
    };
    const std::size_t max_ranks = std::min<std::size_t>(edges_.size(), span * span / 2);
    rank_cost_.clear();
    rank_u_.clear();
    rank_v_.clear();
    rank_cost_.reserve(max_ranks);
    rank_u_.reserve(max_ranks);
    rank_v_.reserve(max_ranks);
    // The scan always takes the earliest qualifying record, so among duplicates of a
    // pair only the first can ever be taken, and only the relative order of these
    // first records matters: number them in list order.
    for (const EdgeRecord& e : edges_) {
        if (!usable(e)) continue;
        if (at(e.u, e.v) != kNoRank) continue;
        const Rank rank = static_cast<Rank>(rank_cost_.size());
        set(e.u, e.v, rank);
        set(e.v, e.u, rank);
        rank_cost_.push_back(e.cost);
        rank_u_.push_back(static_cast<std::uint8_t>(e.u));
        rank_v_.push_back(static_cast<std::uint8_t>(e.v));
    }
}

double DefaultHeuristic::Evaluate(const SearchNode& node) const {
    // Why this equals the literal scan: B is a subset of C and fixed, C only grows. A
    // record qualifies exactly when one endpoint is "active" (in C, not in B) and the
    // other is outside C; the vertex it brings in is outside B, so it becomes active.
    // The scan therefore grows a Prim tree from the active set over the outside
    // vertices, always taking the qualifying record that comes first in the list.
    // Keeping for every outside vertex the best rank of a record to the active set picks
    // the very same records in the same order, so the costs are summed in the same order.
    const std::int64_t n = std::min<std::int64_t>(node.num_vertices, kMaxVertices);
    if (n <= 0) return 0.0;

    const std::size_t agents = std::min(
        {static_cast<std::size_t>(num_agents_), node.current_vertex.size(), node.closed.size()});
    VisitedSet connected = node.visited;
    VisitedSet blocked = node.visited;
    for (std::size_t i = 0; i < agents; ++i) {
        connected.Set(node.current_vertex[i]);
        if (node.closed[i] == 0) blocked.Reset(node.current_vertex[i]);
    }

    std::int64_t remaining = n - connected.CountBelow(n);
    if (remaining == 0) return 0.0;
    // A vertex no usable record touches can never be connected.
    for (std::int64_t v = span_; v < n; ++v) {
        if (!connected.Test(static_cast<std::uint64_t>(v))) return kUnreachable;
    }

    // Lane j of the blocks: key = best rank of a record joining outside vertex j to the
    // active set; mask = all ones for connected vertices, so their keys never drop below
    // the "no record" mark. Padding lanes need no mask: their rank entries are kNoRank.
    static const ByteLaneMasks<RankBlock, Rank> kLaneMasks(kNoRank);
    using Relax = Rank (*)(RankBlock*, const RankBlock*, const RankBlock*, std::uint32_t, Rank);
    static const Relax relax =
        __builtin_cpu_supports("avx2") ? &RelaxAndMinWide : &RelaxAndMin<RankBlock, Rank>;
    alignas(32) RankBlock key[kMaxVertices / kBlockRanks];
    alignas(32) RankBlock mask[kMaxVertices / kBlockRanks];
    const RankBlock* rows = RankRows();
    for (std::uint32_t b = 0; b < row_blocks_; ++b) {
        const auto byte = static_cast<unsigned>((connected.words[b / 8] >> (b % 8 * 8)) & 0xFF);
        mask[b] = kLaneMasks.masks[byte];
        key[b] = kLaneMasks.masks[0xFF];
    }
    Rank best = kNoRank;
    for (std::uint32_t w = 0; w < 4; ++w) {
        std::uint64_t bits = connected.words[w] & ~blocked.words[w];
        while (bits != 0) {
            const std::uint32_t a = w * 64 + static_cast<std::uint32_t>(__builtin_ctzll(bits));
            bits &= bits - 1;
            if (a >= span_) break;
            best = relax(key, &rows[static_cast<std::size_t>(a) * row_blocks_], mask, row_blocks_,
                         kNoRank);
        }
    }

    double sum = 0.0;
    for (;;) {
        // Ranks are unique, so the smallest key names exactly one record; its endpoint
        // outside C is the vertex it brings in.
        if (best == kNoRank) return kUnreachable;
        const auto r = static_cast<std::size_t>(best);
        sum += rank_cost_[r];
        const std::uint32_t v = connected.Test(rank_u_[r]) ? rank_v_[r] : rank_u_[r];
        connected.Set(v);
        // Vertices beyond num_vertices may be drawn in (and paid for) but do not count
        // towards completion.
        if (static_cast<std::int64_t>(v) < n && --remaining == 0) return sum;
        mask[v / kBlockRanks][v % kBlockRanks] = kNoRank;
        key[v / kBlockRanks][v % kBlockRanks] = kNoRank;
        best = relax(key, &rows[static_cast<std::size_t>(v) * row_blocks_], mask, row_blocks_,
                     kNoRank);
    }
}

}  // namespace vornik
