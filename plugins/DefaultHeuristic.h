#ifndef VORNIK_PLUGINS_DEFAULTHEURISTIC_H
#define VORNIK_PLUGINS_DEFAULTHEURISTIC_H

#include <cstdint>
#include <string>
#include <vector>

#include "plugins/HeuristicPlugin.h"

namespace vornik {

/// Spanning-forest bound: the cost of connecting every unvisited vertex to the current
/// vertices of the open agents, grown greedily over the Solver's cost-sorted edge list.
/// Owned by the Solver; configured by Prepare (Init, SetEndVertices, SetEdges), then only
/// queried.
///
/// The value is the one of the following scan. C = visited plus every agent's current
/// vertex; B = visited minus the open agents' current vertices. Until every vertex
/// 0 .. num_vertices-1 is in C: take the first record of the list (in stored order) with
/// cost < 9999.0, exactly one endpoint in C and no endpoint in B, add its cost and put
/// its other endpoint into C; when no record qualifies, the node cannot be completed.
/// Evaluate reproduces that scan's sum bit for bit in O(V^2) without rescanning.
class DefaultHeuristic final : public HeuristicPlugin {
public:
    /// Returned by Evaluate when the unvisited vertices cannot all be connected: the
    /// largest finite double divided by 16.
    static constexpr double kUnreachable = 1.1235582092889473e307;
    /// Records costing this much or more are never used.
    static constexpr double kBlockedCost = kFocalNoArcCost;

    std::string GetName() const override { return "DefaultHeuristic"; }
    /// Keeps only the number of agents (the length of `agents`).
    void Init(const PlannerGraph* graph, const std::vector<NodeEntry>& nodes,
              const std::vector<AgentEntry>& agents) override;
    /// Replaces the edge list (normally cost-sorted; the bound follows the stored order
    /// whatever it is). Records with an endpoint of 256 or more are ignored.
    void SetEdges(const std::vector<EdgeRecord>& edges);
    /// Kept for derived uses; the bound does not read it.
    void SetEndVertices(const std::vector<std::uint64_t>& end_vertices);
    /// h of `node`, 0 when every vertex is visited, kUnreachable when some unvisited
    /// vertex cannot be connected. No allocation.
    double Evaluate(const SearchNode& node) const override;

    const std::vector<EdgeRecord>& Edges() const { return edges_; }
    const std::vector<std::uint64_t>& EndVertices() const { return end_vertices_; }

private:
    /// Ranks are the order of each pair's first usable record; at most 256 * 255 / 2 =
    /// 32640 pairs exist, so a 16-bit signed rank holds them all with room for the
    /// "no record" mark. Eight ranks make one 128-bit lane block, so one instruction
    /// takes eight minima.
    using Rank = std::int16_t;
    using RankBlock = Rank __attribute__((vector_size(16)));
    static constexpr Rank kNoRank = 0x7FFF;
    static constexpr std::uint32_t kBlockRanks = 8;

    std::uint64_t num_agents_ = 0;
    std::vector<EdgeRecord> edges_;
    std::vector<std::uint64_t> end_vertices_;
    /// Vertices 0 .. span_-1 are the only ones any usable record touches.
    std::uint32_t span_ = 0;
    /// Blocks per row: span_ rounded up to whole blocks, and to an even count.
    std::uint32_t row_blocks_ = 0;
    /// Row a (blocks a * row_blocks_ .. from RankRows(), plus one spare block): entry b is the rank
    /// of the first usable record joining a and b (either orientation), kNoRank when there is none
    /// or b >= span_.
    std::vector<RankBlock> rank_;
    /// Row 0 of rank_: its first or second block, whichever starts on 32 bytes.
    RankBlock* RankRows();
    const RankBlock* RankRows() const;
    /// Cost and endpoints of the record of each rank.
    std::vector<double> rank_cost_;
    std::vector<std::uint8_t> rank_u_;
    std::vector<std::uint8_t> rank_v_;
};

}  // namespace vornik

#endif  // VORNIK_PLUGINS_DEFAULTHEURISTIC_H
