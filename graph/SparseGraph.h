#ifndef VORNIK_GRAPH_SPARSEGRAPH_H
#define VORNIK_GRAPH_SPARSEGRAPH_H

#include <cstdint>
#include <string>
#include <vector>

#include "graph/PlannerGraph.h"

namespace vornik {

/// Adjacency-list graph that keeps every arc twice: in its tail's outgoing list and in
/// its head's incoming list, each copy with its own cost vector. Beside the lists it
/// keeps a dense n x n index of the first outgoing occurrence of every arc, so that
/// FindArcCost answers in O(1) without copying. Owned by the Solver.
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
    // Implementation-defined members (lists, counters, the dense first-arc index).
};

}  // namespace vornik

#endif  // VORNIK_GRAPH_SPARSEGRAPH_H
