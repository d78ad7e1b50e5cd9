#include "graph/DenseGraph.h"

#include <sstream>
#include <stdexcept>

namespace vornik {

namespace {

[[noreturn]] void FixedShape(const char* operation) {
    throw std::logic_error(std::string("DenseGraph::") + operation +
                           ": the graph is complete and its shape is fixed");
}

}  // namespace

DenseGraph::DenseGraph(std::uint64_t n, std::uint64_t dim, std::vector<double> costs)
    : n_(n), dim_(dim), costs_(std::move(costs)) {
    if (costs_.size() != n * n * dim) {
        throw std::invalid_argument("DenseGraph needs " + std::to_string(n * n * dim) +
                                    " costs for " + std::to_string(n) + " vertices and " +
                                    std::to_string(dim) + " types (got " +
                                    std::to_string(costs_.size()) + ")");
    }
}

bool DenseGraph::HasArc(std::uint64_t u, std::uint64_t v) const { return FindArcCost(u, v); }

std::vector<std::uint64_t> DenseGraph::GetOutNeighbors(std::uint64_t v) const {
    std::vector<std::uint64_t> others;
    if (v >= n_) return others;
    others.reserve(n_ - 1);
    for (std::uint64_t u = 0; u < n_; ++u) {
        if (u != v) others.push_back(u);
    }
    return others;
}

std::vector<std::uint64_t> DenseGraph::GetInNeighbors(std::uint64_t v) const {
    return GetOutNeighbors(v);
}

CostVector DenseGraph::GetArcCost(std::uint64_t u, std::uint64_t v) const {
    const double* costs = FindArcCost(u, v);
    return costs == nullptr ? CostVector{} : CostVector(costs, costs + dim_);
}

std::vector<CostVector> DenseGraph::GetOutArcCosts(std::uint64_t v) const {
    std::vector<CostVector> all;
    for (const std::uint64_t u : GetOutNeighbors(v)) all.push_back(GetArcCost(v, u));
    return all;
}

std::vector<CostVector> DenseGraph::GetInArcCosts(std::uint64_t v) const {
    std::vector<CostVector> all;
    for (const std::uint64_t u : GetInNeighbors(v)) all.push_back(GetArcCost(u, v));
    return all;
}

std::uint64_t DenseGraph::NumArcEntries() const { return 2 * NumEdge(); }

std::uint64_t DenseGraph::NumEdge() const { return n_ == 0 ? 0 : n_ * (n_ - 1); }

std::vector<std::uint64_t> DenseGraph::AllVertices() const {
    std::vector<std::uint64_t> all(n_);
    for (std::uint64_t v = 0; v < n_; ++v) all[v] = v;
    return all;
}

void DenseGraph::AddVertex(std::uint64_t /*v*/) { FixedShape("AddVertex"); }

void DenseGraph::AddEdge(std::uint64_t /*u*/, std::uint64_t /*v*/, const CostVector& /*costs*/) {
    FixedShape("AddEdge");
}

void DenseGraph::AddArc(std::uint64_t /*u*/, std::uint64_t /*v*/, const CostVector& /*costs*/) {
    FixedShape("AddArc");
}

void DenseGraph::CreateFromEdges(const std::vector<std::uint64_t>& /*sources*/,
                                 const std::vector<std::uint64_t>& /*targets*/,
                                 const std::vector<CostVector>& /*costs*/) {
    FixedShape("CreateFromEdges");
}

void DenseGraph::CreateFromArcs(const std::vector<std::uint64_t>& /*sources*/,
                                const std::vector<std::uint64_t>& /*targets*/,
                                const std::vector<CostVector>& /*costs*/) {
    FixedShape("CreateFromArcs");
}

void DenseGraph::ChangeCostDim(std::uint64_t /*dim*/, double /*fill*/) {
    FixedShape("ChangeCostDim");
}

bool DenseGraph::SetArcCost(std::uint64_t u, std::uint64_t v, const CostVector& costs) {
    if (FindArcCost(u, v) == nullptr) {
        throw std::invalid_argument("DenseGraph::SetArcCost: " + std::to_string(u) + " -> " +
                                    std::to_string(v) + " is not an arc");
    }
    if (costs.size() != dim_) {
        throw std::invalid_argument("DenseGraph::SetArcCost: " + std::to_string(costs.size()) +
                                    " costs for a graph of " + std::to_string(dim_) + " types");
    }
    std::copy(costs.begin(), costs.end(), costs_.begin() + (u * n_ + v) * dim_);
    return true;
}

std::string DenseGraph::ToString() const {
    std::ostringstream out;
    out << "=== DenseGraph Begin ===\n |V| = " << n_ << " cost dim = " << dim_ << "\n";
    for (std::uint64_t u = 0; u < n_; ++u) {
        out << u << ":";
        for (std::uint64_t v = 0; v < n_; ++v) {
            if (u == v) continue;
            out << " " << v << "(";
            for (std::uint64_t t = 0; t < dim_; ++t)
                out << (t == 0 ? "" : ",") << ArcCosts(u, v)[t];
            out << ")";
        }
        out << "\n";
    }
    out << "=== DenseGraph End ===";
    return out.str();
}

}  // namespace vornik
