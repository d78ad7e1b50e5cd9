#include "graph/SparseGraph.h"

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <stdexcept>

#include "core/Diagnostics.h"

namespace vornik {

namespace {

// Graph misuse is reported twice: the line on standard output for a reader of the log,
// the exception for the caller.
[[noreturn]] void Fail(const std::string& line, const std::string& what) {
    InfoLine(line);
    throw std::runtime_error(what);
}

[[noreturn]] void Fail(const std::string& message) { Fail(message, message); }

std::int64_t FindIn(const std::vector<std::uint64_t>& list, std::uint64_t x) {
    const auto it = std::find(list.begin(), list.end(), x);
    return it == list.end() ? -1 : static_cast<std::int64_t>(it - list.begin());
}

void AppendCosts(std::string& out, const CostVector& costs) {
    // "%f" of the largest double has 316 characters; 512 holds any double.
    char buffer[512];
    out += '[';
    for (std::size_t i = 0; i < costs.size(); ++i) {
        if (i > 0) out += ',';
        std::snprintf(buffer, sizeof(buffer), "%f", costs[i]);
        out += buffer;
    }
    out += ']';
}

void AppendLists(std::string& out, const std::vector<std::vector<std::uint64_t>>& lists,
                 const std::vector<std::vector<CostVector>>& costs) {
    for (std::size_t i = 0; i < lists.size(); ++i) {
        out += " -- " + std::to_string(i) + ":[";
        for (std::size_t k = 0; k < lists[i].size(); ++k) {
            out += std::to_string(lists[i][k]) + "(";
            AppendCosts(out, costs[i][k]);
            out += "),";
        }
        out += "]\n";
    }
}

}  // namespace

bool SparseGraph::HasVertex(std::uint64_t v) const { return v < out_.size(); }

bool SparseGraph::HasArc(std::uint64_t u, std::uint64_t v) const {
    // Callers pass existing tails; a missing one simply has no arcs.
    return u < out_.size() && FindOutPosition(u, v) >= 0;
}

std::vector<std::uint64_t> SparseGraph::GetOutNeighbors(std::uint64_t v) const {
    return HasVertex(v) ? out_[v] : std::vector<std::uint64_t>{};
}

std::vector<std::uint64_t> SparseGraph::GetInNeighbors(std::uint64_t v) const {
    return HasVertex(v) ? in_[v] : std::vector<std::uint64_t>{};
}

CostVector SparseGraph::GetArcCost(std::uint64_t u, std::uint64_t v) const {
    if (u >= out_.size()) return {};
    const std::int64_t pos = FindOutPosition(u, v);
    return pos < 0 ? CostVector{} : out_costs_[u][static_cast<std::size_t>(pos)];
}

std::vector<CostVector> SparseGraph::GetOutArcCosts(std::uint64_t v) const {
    return HasVertex(v) ? out_costs_[v] : std::vector<CostVector>{};
}

std::vector<CostVector> SparseGraph::GetInArcCosts(std::uint64_t v) const {
    return HasVertex(v) ? in_costs_[v] : std::vector<CostVector>{};
}

std::uint64_t SparseGraph::NumVertex() const { return out_.size(); }

std::uint64_t SparseGraph::NumArcEntries() const { return arc_entries_; }

std::uint64_t SparseGraph::NumEdge() const {
    if (arc_entries_ % 2 != 0) {
        Fail("[ERROR] SparseGraph::NumEdge is not an integer but a fraction");
    }
    return arc_entries_ / 2;
}

std::uint64_t SparseGraph::CostDim() const { return cost_dim_; }

std::vector<std::uint64_t> SparseGraph::AllVertices() const {
    std::vector<std::uint64_t> all(out_.size());
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
    return all;
}

void SparseGraph::AddVertex(std::uint64_t v) {
    if (HasVertex(v)) return;
    // v + 1 must be a representable list length (v = 2^64 - 1 would wrap to 0 and wipe
    // the graph).
    if (v >= out_costs_.max_size()) Fail("[ERROR] SparseGraph::AddVertex vertex is too large");
    const std::uint64_t n = v + 1;
    // Everything that may throw happens before the first change: the new index, then
    // room in all four lists. The resizes below only create empty lists.
    const std::uint64_t stride = IndexStride(n);
    const bool reindex = stride != stride_;
    std::vector<std::uint32_t> index;
    if (reindex) index = BuildIndex(stride);
    out_.reserve(n);
    out_costs_.reserve(n);
    in_.reserve(n);
    in_costs_.reserve(n);
    out_.resize(n);
    out_costs_.resize(n);
    in_.resize(n);
    in_costs_.resize(n);
    if (reindex) {
        first_out_.swap(index);
        stride_ = stride;
    }
}

void SparseGraph::AddEdge(std::uint64_t u, std::uint64_t v, const CostVector& costs) {
    AddArc(u, v, costs);
    AddArc(v, u, costs);
}

void SparseGraph::AddArc(std::uint64_t u, std::uint64_t v, const CostVector& costs) {
    if (!HasVertex(u)) AddVertex(u);
    if (!HasVertex(v)) AddVertex(v);
    const std::uint64_t d = costs.size();
    if (cost_dim_ == 0) {
        cost_dim_ = d;
    } else if (cost_dim_ != d) {
        Fail("[ERROR] SparseGraph::AddArc cdim does not match: " + std::to_string(cost_dim_) +
                 " != " + std::to_string(d),
             "[ERROR] SparseGraph::AddArc cdim does not match");
    }
    // An existing arc keeps its place and gets the new costs in both copies; only a
    // new list entry counts.
    const std::int64_t out_pos = FindOutPosition(u, v);
    if (out_pos >= 0) {
        out_costs_[u][static_cast<std::size_t>(out_pos)] = costs;
    } else {
        if (stride_ > 0) first_out_[u * stride_ + v] = static_cast<std::uint32_t>(out_[u].size());
        out_[u].push_back(v);
        out_costs_[u].push_back(costs);
        ++arc_entries_;
    }
    const std::int64_t in_pos = FindIn(in_[v], u);
    if (in_pos >= 0) {
        in_costs_[v][static_cast<std::size_t>(in_pos)] = costs;
    } else {
        in_[v].push_back(u);
        in_costs_[v].push_back(costs);
        ++arc_entries_;
    }
}

void SparseGraph::CreateFromEdges(const std::vector<std::uint64_t>& sources,
                                  const std::vector<std::uint64_t>& targets,
                                  const std::vector<CostVector>& costs) {
    CreateFrom("CreateFromEdges", sources, targets, costs, true);
}

void SparseGraph::CreateFromArcs(const std::vector<std::uint64_t>& sources,
                                 const std::vector<std::uint64_t>& targets,
                                 const std::vector<CostVector>& costs) {
    CreateFrom("CreateFromArcs", sources, targets, costs, false);
}

void SparseGraph::ChangeCostDim(std::uint64_t dim, double fill) {
    for (auto* lists : {&out_costs_, &in_costs_}) {
        for (auto& list : *lists) {
            for (auto& costs : list) costs.resize(dim, fill);
        }
    }
    cost_dim_ = dim;
}

bool SparseGraph::SetArcCost(std::uint64_t u, std::uint64_t v, const CostVector& costs) {
    if (costs.size() != cost_dim_) {
        Fail(
            "[ERROR] SparseGraph::SetArcCost new edge cost dimension does not match! Maybe "
            "call ChangeCostDim() at first.");
    }
    if (!HasVertex(u) || !HasVertex(v))
        Fail("[ERROR] SparseGraph::SetArcCost vertex does not exist!");
    // Both copies are located before either is written, so a failure changes nothing.
    const std::int64_t out_pos = FindOutPosition(u, v);
    if (out_pos < 0) Fail("[ERROR] SparseGraph::SetArcCost arc does not exist!");
    const std::int64_t in_pos = FindIn(in_[v], u);
    if (in_pos < 0) Fail("[ERROR] SparseGraph::SetArcCost arc does not exist!");
    out_costs_[u][static_cast<std::size_t>(out_pos)] = costs;
    in_costs_[v][static_cast<std::size_t>(in_pos)] = costs;
    return true;
}

std::string SparseGraph::ToString() const {
    std::string out =
        "=== SparseGraph Begin ===\n |V| = " + std::to_string(out_.size()) + " outgoing edges \n";
    AppendLists(out, out_, out_costs_);
    out += " incoming edges \n";
    AppendLists(out, in_, in_costs_);
    out += "=== SparseGraph End ===";
    return out;
}

const double* SparseGraph::FindArcCost(std::uint64_t u, std::uint64_t v) const {
    if (u >= out_.size()) return nullptr;
    const std::int64_t pos = FindOutPosition(u, v);
    if (pos < 0) return nullptr;
    const CostVector& costs = out_costs_[u][static_cast<std::size_t>(pos)];
    // An arc added with an empty cost vector while the dimension was still 0 keeps that
    // empty vector when a later arc fixes the dimension. GetArcCost then returns an empty
    // vector, which readers take as "no arc"; answering nullptr says the same and never
    // hands out fewer than CostDim() costs.
    if (costs.empty() || costs.size() < cost_dim_) return nullptr;
    return costs.data();
}

std::int64_t SparseGraph::FindOutPosition(std::uint64_t u, std::uint64_t v) const {
    assert(u < out_.size() && "callers test the tail first");
    if (stride_ > 0) {
        // Every head in the lists is an existing vertex, so v >= n has no arc.
        if (v >= out_.size()) return -1;
        const std::uint32_t pos = first_out_[u * stride_ + v];
        return pos == kNoArc ? -1 : static_cast<std::int64_t>(pos);
    }
    return FindIn(out_[u], v);
}

std::uint64_t SparseGraph::IndexStride(std::uint64_t n) {
    if (n == 0 || n > kDenseIndexLimit) return 0;
    // Grow the stride geometrically so that adding vertices one by one rebuilds the
    // index only O(log n) times.
    std::uint64_t stride = 16;
    while (stride < n) stride *= 2;
    return std::min(stride, kDenseIndexLimit);
}

std::vector<std::uint32_t> SparseGraph::BuildIndex(std::uint64_t stride) const {
    std::vector<std::uint32_t> index;
    if (stride == 0) return index;
    index.assign(stride * stride, kNoArc);
    for (std::uint64_t u = 0; u < out_.size(); ++u) {
        const auto& list = out_[u];
        // Walk backwards so that the first occurrence of a parallel arc is written last.
        for (std::size_t k = list.size(); k-- > 0;) {
            assert(k < kNoArc && "an indexed list holds fewer than 2^32 - 1 entries");
            index[u * stride + list[k]] = static_cast<std::uint32_t>(k);
        }
    }
    return index;
}

std::uint64_t SparseGraph::CommonCostDim(const char* operation,
                                         const std::vector<CostVector>& costs,
                                         std::size_t count) const {
    if (count == 0) return cost_dim_;
    const std::uint64_t dim = costs[0].size();
    for (std::size_t i = 1; i < count; ++i) {
        if (costs[i].size() != dim) {
            const std::string head =
                std::string("[ERROR] SparseGraph::") + operation + " cdim does not match";
            Fail(head + ": " + std::to_string(dim) + " != " + std::to_string(costs[i].size()),
                 head);
        }
    }
    return dim;
}

void SparseGraph::CreateFrom(const char* operation, const std::vector<std::uint64_t>& sources,
                             const std::vector<std::uint64_t>& targets,
                             const std::vector<CostVector>& costs, bool both_directions) {
    const std::size_t count = sources.size();
    const std::string prefix = std::string("[ERROR] SparseGraph::") + operation;
    // The three lists are read in parallel up to the length of sources; shorter partner
    // lists would be read past their end.
    if (targets.size() < count || costs.size() < count) {
        Fail(prefix + " targets or costs are shorter than sources");
    }
    const std::uint64_t dim = CommonCostDim(operation, costs, count);
    // Vertices are compared unsigned: every one of them must get its lists.
    std::uint64_t max_vertex = 0;
    for (std::size_t i = 0; i < count; ++i) {
        max_vertex = std::max({max_vertex, sources[i], targets[i]});
    }
    if (max_vertex >= out_costs_.max_size()) Fail(prefix + " vertex is too large");
    const std::uint64_t n = max_vertex + 1;

    // Build aside and swap in, so a failed allocation leaves the old graph intact.
    std::vector<std::vector<std::uint64_t>> out(n), in(n);
    std::vector<std::vector<CostVector>> out_costs(n), in_costs(n);
    auto enter = [&](std::uint64_t tail, std::uint64_t head, const CostVector& c) {
        out[tail].push_back(head);
        out_costs[tail].push_back(c);
        in[head].push_back(tail);
        in_costs[head].push_back(c);
    };
    for (std::size_t i = 0; i < count; ++i) {
        enter(sources[i], targets[i], costs[i]);
        if (both_directions) enter(targets[i], sources[i], costs[i]);
    }
    SparseGraph built;
    built.out_.swap(out);
    built.out_costs_.swap(out_costs);
    built.in_.swap(in);
    built.in_costs_.swap(in_costs);
    built.stride_ = IndexStride(n);
    built.first_out_ = built.BuildIndex(built.stride_);
    // Counter and dimension tell the truth about what was entered: one count per list
    // entry, the common length of the cost vectors.
    built.arc_entries_ = static_cast<std::uint64_t>(count) * (both_directions ? 4 : 2);
    built.cost_dim_ = dim;
    *this = std::move(built);
}

}  // namespace vornik
