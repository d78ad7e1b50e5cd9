#ifndef VORNIK_GRAPH_PLANNERGRAPH_H
#define VORNIK_GRAPH_PLANNERGRAPH_H

#include <cstdint>
#include <string>
#include <vector>

namespace vornik {

using CostVector = std::vector<double>;

/// Directed graph whose arcs carry one cost per agent type (entry t is the travel time
/// of an agent of type index t). Built by the Solver, read by the search, the checkers
/// and the post-optimizers. Operations returning lists return fresh copies.
class PlannerGraph {
public:
    virtual ~PlannerGraph() = default;

    virtual bool HasVertex(std::uint64_t v) const = 0;
    /// Requires u < NumVertex().
    virtual bool HasArc(std::uint64_t u, std::uint64_t v) const = 0;
    virtual std::vector<std::uint64_t> GetOutNeighbors(std::uint64_t v) const = 0;
    virtual std::vector<std::uint64_t> GetInNeighbors(std::uint64_t v) const = 0;
    /// Copy of the cost vector of the first arc u -> v; empty when there is none.
    /// Requires u < NumVertex().
    virtual CostVector GetArcCost(std::uint64_t u, std::uint64_t v) const = 0;
    virtual std::vector<CostVector> GetOutArcCosts(std::uint64_t v) const = 0;
    virtual std::vector<CostVector> GetInArcCosts(std::uint64_t v) const = 0;
    virtual std::uint64_t NumVertex() const = 0;
    virtual std::uint64_t NumArcEntries() const = 0;
    /// Half the arc-entry counter; throws std::runtime_error when it is odd.
    virtual std::uint64_t NumEdge() const = 0;
    virtual std::uint64_t CostDim() const = 0;
    virtual std::vector<std::uint64_t> AllVertices() const = 0;
    virtual void AddVertex(std::uint64_t v) = 0;
    virtual void AddEdge(std::uint64_t u, std::uint64_t v, const CostVector& costs) = 0;
    virtual void AddArc(std::uint64_t u, std::uint64_t v, const CostVector& costs) = 0;
    virtual void CreateFromEdges(const std::vector<std::uint64_t>& sources,
                                 const std::vector<std::uint64_t>& targets,
                                 const std::vector<CostVector>& costs) = 0;
    virtual void CreateFromArcs(const std::vector<std::uint64_t>& sources,
                                const std::vector<std::uint64_t>& targets,
                                const std::vector<CostVector>& costs) = 0;
    virtual void ChangeCostDim(std::uint64_t dim, double fill) = 0;
    virtual bool SetArcCost(std::uint64_t u, std::uint64_t v, const CostVector& costs) = 0;
    virtual std::string ToString() const = 0;

    /// Non-copying read for hot loops: the CostDim() costs of the first arc u -> v, or
    /// nullptr when there is no such arc (or either vertex is missing). O(1). The
    /// pointer stays valid until the graph is next modified.
    virtual const double* FindArcCost(std::uint64_t u, std::uint64_t v) const = 0;
};

}  // namespace vornik

#endif  // VORNIK_GRAPH_PLANNERGRAPH_H
