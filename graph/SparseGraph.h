#ifndef VORNIK_GRAPH_SPARSEGRAPH_H
#define VORNIK_GRAPH_SPARSEGRAPH_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "graph/PlannerGraph.h"

namespace vornik {

/// Adjacency-list graph that keeps every arc twice: in its tail's outgoing list and in
/// its head's incoming list, each copy with its own cost vector. Beside the lists it
/// keeps, while the graph has at most kDenseIndexLimit vertices, a dense index of the
/// first outgoing occurrence of every arc, so that FindArcCost answers in O(1) without
/// copying. Owned by the Solver.
class SparseGraph final : public PlannerGraph {
public:
    bool HasVertex(std::uint64_t v) const override;
    bool HasArc(std::uint64_t u, std::uint64_t v) const override;
    std::vector<std::uint64_t> GetOutNeighbors(std::uint64_t v) const override;
    std::vector<std::uint64_t> GetInNeighbors(std::uint64_t v) const override;
    CostVector GetArcCost(std::uint64_t u, std::uint64_t v) const override;
    std::vector<CostVector> GetOutArcCosts(std::uint64_t v) const override;
    std::vector<CostVector> GetInArcCosts(std::uint64_t v) const override;
    std::uint64_t NumVertex() const override;
    std::uint64_t NumArcEntries() const override;
    std::uint64_t NumEdge() const override;
    std::uint64_t CostDim() const override;
    std::vector<std::uint64_t> AllVertices() const override;
    void AddVertex(std::uint64_t v) override;
    void AddEdge(std::uint64_t u, std::uint64_t v, const CostVector& costs) override;
    void AddArc(std::uint64_t u, std::uint64_t v, const CostVector& costs) override;
    void CreateFromEdges(const std::vector<std::uint64_t>& sources,
                         const std::vector<std::uint64_t>& targets,
                         const std::vector<CostVector>& costs) override;
    void CreateFromArcs(const std::vector<std::uint64_t>& sources,
                        const std::vector<std::uint64_t>& targets,
                        const std::vector<CostVector>& costs) override;
    void ChangeCostDim(std::uint64_t dim, double fill) override;
    bool SetArcCost(std::uint64_t u, std::uint64_t v, const CostVector& costs) override;
    std::string ToString() const override;
    const double* FindArcCost(std::uint64_t u, std::uint64_t v) const override;

private:
    /// Largest vertex count for which the dense first-arc index is kept; beyond it
    /// FindArcCost scans the outgoing list, so a huge AddVertex never allocates n^2.
    static constexpr std::uint64_t kDenseIndexLimit = 1024;
    /// Dense-index entry of a pair without an arc.
    static constexpr std::uint32_t kNoArc = 0xFFFFFFFFu;

    /// Position of the first v in u's outgoing list, or -1 when there is none.
    std::int64_t FindOutPosition(std::uint64_t u, std::uint64_t v) const;
    /// Stride the dense index needs for n vertices; 0 when n is too large to index.
    static std::uint64_t IndexStride(std::uint64_t n);
    /// Dense index of the current outgoing lists laid out with the given stride (empty
    /// for stride 0). Allocates before anything changes, so callers stay consistent
    /// when it throws.
    std::vector<std::uint32_t> BuildIndex(std::uint64_t stride) const;
    /// Throws (after the message line) unless all cost vectors share one length; returns
    /// that length, or the current cost dimension when there are no vectors.
    std::uint64_t CommonCostDim(const char* operation, const std::vector<CostVector>& costs,
                                std::size_t count) const;
    /// Shared body of the two bulk builds.
    void CreateFrom(const char* operation, const std::vector<std::uint64_t>& sources,
                    const std::vector<std::uint64_t>& targets, const std::vector<CostVector>& costs,
                    bool both_directions);

    std::vector<std::vector<std::uint64_t>> out_;  ///< heads, in insertion order
    std::vector<std::vector<CostVector>> out_costs_;
    std::vector<std::vector<std::uint64_t>> in_;  ///< tails, in insertion order
    std::vector<std::vector<CostVector>> in_costs_;
    std::uint64_t arc_entries_ = 0;  ///< one per outgoing entry and one per incoming entry
    std::uint64_t cost_dim_ = 0;
    /// first_out_[u * stride_ + v] = position of the first v in u's outgoing list, or
    /// kNoArc. stride_ >= n while the index is kept; stride_ == 0 when it is not.
    std::vector<std::uint32_t> first_out_;
    std::uint64_t stride_ = 0;
};

}  // namespace vornik

#endif  // VORNIK_GRAPH_SPARSEGRAPH_H
