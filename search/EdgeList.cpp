#include "search/EdgeList.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <sstream>
#include <string>

#include "core/Diagnostics.h"

namespace vornik {
namespace {

constexpr double kBlocked = std::numeric_limits<double>::max();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

}  // namespace

double ArcLowerBound(const PlannerGraph& graph, std::uint64_t num_agent_types,
                     const TimeWindowTable& windows, std::uint64_t a, std::uint64_t b) {
    // A vertex without a window may be left at any time from 0 on.
    double earliest_a = 0.0;
    double latest_a = kInfinity;
    const auto window_a = windows.find(a);
    if (window_a != windows.end()) {
        earliest_a = window_a->second.first;
        latest_a = window_a->second.second;
    }
    const auto window_b = windows.find(b);
    const bool b_has_window = window_b != windows.end();

    const double* costs = graph.FindArcCost(a, b);
    if (costs == nullptr) return kBlocked;
    // The graph holds CostDim() components per arc; never read past them.
    const std::uint64_t types = std::min(num_agent_types, graph.CostDim());

    double best = kBlocked;
    for (std::uint64_t t = 0; t < types; ++t) {
        const double c = costs[t];
        if (c >= kFocalNoArcCost) continue;
        double wait = 0.0;
        if (b_has_window) {
            const double earliest_b = window_b->second.first;
            const double latest_b = window_b->second.second;
            // Even leaving a as early as possible arrives after b closes.
            if (earliest_a + c > latest_b) continue;
            // Leaving a as late as possible still arrives before b opens: that gap is
            // waiting no schedule can avoid.
            if (std::isfinite(latest_a)) wait = std::max(0.0, earliest_b - (latest_a + c));
        }
        best = std::min(best, c + wait);
    }
    return best;
}

std::vector<EdgeRecord> BuildEdgeList(const PlannerGraph& graph, std::uint64_t num_agent_types,
                                      const TimeWindowTable& windows) {
    const std::uint64_t n = graph.NumVertex();
    const bool list_blocked = std::getenv("MTSP_DEBUG_TW_EDGES") != nullptr;
    std::vector<EdgeRecord> edges;
    if (n >= 2) edges.reserve(n * (n - 1) / 2);
    std::uint64_t blocked = 0;

    for (std::uint64_t i = 1; i < n; ++i) {
        for (std::uint64_t k = 0; k < i; ++k) {
            const double forward = ArcLowerBound(graph, num_agent_types, windows, k, i);
            const double backward = ArcLowerBound(graph, num_agent_types, windows, i, k);
            const double cost = std::min(forward, backward);
            if (cost != kBlocked) {
                edges.push_back(EdgeRecord{i, k, cost});
                continue;
            }
            ++blocked;
            if (list_blocked) {
                // Default stream formatting prints the sentinel as 1.79769e+308.
                std::ostringstream line;
                line << "edge: " << i << "->" << k << " cost: " << cost;
                InfoLine(line.str());
            }
        }
    }
    if (blocked > 0) {
        InfoLine("[TW-MST] blocked edges: " + std::to_string(blocked) + " / " +
                 std::to_string(n * (n - 1) / 2) + " (set MTSP_DEBUG_TW_EDGES=1 for details)");
    }

    // Only the cost order matters to the bound; a stable sort keeps equal costs in pair
    // order so that repeated runs expand the same nodes.
    std::stable_sort(edges.begin(), edges.end(),
                     [](const EdgeRecord& x, const EdgeRecord& y) { return x.cost < y.cost; });
    return edges;
}

}  // namespace vornik
