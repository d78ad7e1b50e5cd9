#include "improve/QuickStart.h"

#include <algorithm>
#include <limits>

#include "improve/population/TourSplit.h"

namespace vornik {

bool QuickStartPays(const EngineModel& model, const EngineParams& params) {
    return params.quick_start_targets > 0 && !model.HasWindows() && model.NumAgents() > 0 &&
           model.Targets().size() >= params.quick_start_targets;
}

std::vector<std::uint32_t> NearestNeighbourTour(const EngineModel& model) {
    constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
    std::vector<std::uint8_t> open(model.NumVertices(), 0);
    std::size_t left = 0;
    for (const std::uint32_t v : model.Targets()) {
        if (!model.Servable(v)) continue;
        open[v] = 1;
        ++left;
    }
    std::vector<std::uint32_t> tour;
    tour.reserve(left);
    std::uint32_t at = model.NumAgents() > 0 ? model.Agent(0).start : kNone;
    while (left > 0) {
        std::uint32_t next = kNone;
        if (at != kNone && model.IsTarget(at)) {
            for (const std::uint32_t w : model.Neighbours(at)) {
                if (open[w] != 0) {
                    next = w;
                    break;
                }
            }
        }
        if (next == kNone) {
            // Missing arcs cost +infinity: the first open target stands in until a
            // reachable one is found.
            double best = std::numeric_limits<double>::infinity();
            for (const std::uint32_t w : model.Targets()) {
                if (open[w] == 0) continue;
                const double cost = at == kNone ? 0.0 : model.Cost(0, at, w);
                if (next == kNone || cost < best) {
                    best = cost;
                    next = w;
                }
            }
        }
        open[next] = 0;
        --left;
        tour.push_back(next);
        at = next;
    }
    return tour;
}

EngineSolution QuickStart(const EngineModel* model) {
    const std::vector<std::uint32_t> tour = NearestNeighbourTour(*model);
    TourSplit split = model->Objective() == ObjectiveType::MinMax ? SplitTour(*model, tour)
                                                                  : FillTour(*model, tour);
    EngineSolution solution(model);
    std::vector<std::uint8_t> placed(model->NumVertices(), 0);
    for (const auto& route : split.routes) {
        for (const std::uint32_t v : route) placed[v] = 1;
    }
    auto& pool = solution.MutableUnassigned();
    pool.erase(
        std::remove_if(pool.begin(), pool.end(), [&](std::uint32_t v) { return placed[v] != 0; }),
        pool.end());
    for (std::size_t a = 0; a < split.routes.size(); ++a) {
        if (!split.routes[a].empty()) solution.SetVisits(a, std::move(split.routes[a]));
    }
    return solution;
}

}  // namespace vornik
