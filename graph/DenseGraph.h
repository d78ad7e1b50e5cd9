#ifndef VORNIK_GRAPH_DENSEGRAPH_H
#define VORNIK_GRAPH_DENSEGRAPH_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "graph/PlannerGraph.h"

namespace vornik {

/// The complete graph on vertices 0 .. n-1 without loops, its arc costs in one dense
/// block: the CostDim() costs of arc u -> v at (u * n + v) * CostDim(). The Solver builds
/// one per instance and reads it in its hot loops through the inline ArcCosts, without a
/// virtual call or a hash. Its shape is fixed: only SetArcCost changes it; the operations
/// that would add vertices or arcs or change the cost dimension throw std::logic_error.
class DenseGraph final : public PlannerGraph {
public:
    /// `costs` holds n * n * dim entries laid out as above; the diagonal is never read.
    /// Throws std::invalid_argument when its size does not match.
    DenseGraph(std::uint64_t n, std::uint64_t dim, std::vector<double> costs);

    /// The costs of arc u -> v (u != v, both below NumVertex()).
    [[nodiscard]] const double* ArcCosts(std::uint64_t u, std::uint64_t v) const {
        return costs_.data() + (u * n_ + v) * dim_;
    }

    bool HasVertex(std::uint64_t v) const override { return v < n_; }
    bool HasArc(std::uint64_t u, std::uint64_t v) const override;
    std::vector<std::uint64_t> GetOutNeighbors(std::uint64_t v) const override;
    std::vector<std::uint64_t> GetInNeighbors(std::uint64_t v) const override;
    CostVector GetArcCost(std::uint64_t u, std::uint64_t v) const override;
    std::vector<CostVector> GetOutArcCosts(std::uint64_t v) const override;
    std::vector<CostVector> GetInArcCosts(std::uint64_t v) const override;
    std::uint64_t NumVertex() const override { return n_; }
    /// Two per arc, one for each end, as a graph with adjacency lists counts them.
    std::uint64_t NumArcEntries() const override;
    std::uint64_t NumEdge() const override;
    std::uint64_t CostDim() const override { return dim_; }
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
    /// Replaces the costs of an existing arc; throws std::invalid_argument for a loop, a
    /// missing vertex or a cost vector of another length.
    bool SetArcCost(std::uint64_t u, std::uint64_t v, const CostVector& costs) override;
    std::string ToString() const override;
    /// ArcCosts for an arc of the graph, nullptr for a loop or a missing vertex.
    const double* FindArcCost(std::uint64_t u, std::uint64_t v) const override {
        return u < n_ && v < n_ && u != v ? ArcCosts(u, v) : nullptr;
    }

private:
    std::uint64_t n_ = 0;
    std::uint64_t dim_ = 0;
    std::vector<double> costs_;
};

}  // namespace vornik

#endif  // VORNIK_GRAPH_DENSEGRAPH_H
