#include "search/RouteSchedule.h"

#include <stdexcept>
#include <utility>

#include "core/InstanceReader.h"

namespace vornik {

RouteSchedule ScheduleRoute(const EngineModel& model, std::size_t a,
                            const std::vector<std::int64_t>& path) {
    if (a >= model.NumAgents()) {
        throw std::out_of_range("agent " + std::to_string(a) + " is not an agent index (" +
                                std::to_string(model.NumAgents()) + " agents)");
    }
    for (const std::int64_t v : path) {
        if (v < 0 || static_cast<std::size_t>(v) >= model.NumVertices()) {
            throw std::out_of_range("path holds " + std::to_string(v) +
                                    ", which is not a vertex (" +
                                    std::to_string(model.NumVertices()) + " nodes)");
        }
    }
    RouteSchedule schedule;
    schedule.load.assign(model.Dimensions(), 0.0);
    if (path.empty()) {
        schedule.feasible = true;
        return schedule;
    }
    const auto stop = [&](std::size_t k) { return static_cast<std::uint32_t>(path[k]); };
    // The agent's own start and end as the instance gives them: the closing leg onto
    // either is free on open routes.
    const ModelAgent& agent = model.Instance().Agent(a);
    const WalkAgent ends{true, agent.start, true, agent.end, agent.time_limit};
    const RouteWalker walker(model.ReturnToEnd());

    const StopsWalk walk = WalkStops(
        path.size(),
        [&](std::size_t k) {
            const std::uint32_t u = stop(k - 1);
            const std::uint32_t v = stop(k);
            return walker.Charges(ends, u, v) ? model.Cost(a, u, v) : 0.0;
        },
        [&](std::size_t k, double& t) { return model.Arrive(stop(k), t); },
        [&](std::size_t k) { return model.Service(stop(k)); }, agent.time_limit,
        [&](std::size_t, const StopTimes& times) { schedule.stops.push_back(times); }, true);
    schedule.cost = walk.clock;

    // Loads of the targets served; a depot carries nothing.
    for (std::size_t k = 0; k < path.size(); ++k) {
        if (!model.IsTarget(stop(k))) continue;
        for (std::size_t d = 0; d < schedule.load.size(); ++d) {
            schedule.load[d] += model.Demand(stop(k), d);
        }
    }

    // The first rule broken, in the order: where the route starts and closes, who may
    // serve each stop, the walk, the loads.
    const auto broke = [&](const char* rule, std::size_t at) {
        schedule.broken = rule;
        schedule.failed_at = at;
    };
    if (stop(0) != agent.start) {
        broke("ends", 0);
    } else if (!walker.ClosesOn(ends, stop(path.size() - 1))) {
        broke("ends", path.size() - 1);
    } else {
        for (std::size_t k = 1; k + 1 < path.size() && schedule.broken.empty(); ++k) {
            if (!model.IsTarget(stop(k)) || !model.CanServe(a, stop(k))) broke("type", k);
        }
    }
    if (schedule.broken.empty() && walk.broken != WalkBreak::kNone) {
        broke(walk.broken == WalkBreak::kArc      ? "arc"
              : walk.broken == WalkBreak::kWindow ? "window"
                                                  : "limit",
              walk.failed_at);
    }
    for (std::size_t d = 0; d < schedule.load.size() && schedule.broken.empty(); ++d) {
        if (!WithinCapacity(schedule.load[d], model.Capacity(a, d))) {
            broke("capacity", path.size() - 1);
        }
    }
    schedule.feasible = schedule.broken.empty();
    return schedule;
}

RouteSchedule ScheduleJsonText(const std::string& json_text, std::size_t a,
                               const std::vector<std::int64_t>& path, CostMatrices cost_matrices,
                               const CostTables& tables) {
    Problem problem = ParseInstance(json_text, true);
    for (auto& [agent_type, matrix] : cost_matrices) {
        problem.SetCostMatrix(agent_type, std::move(matrix));
    }
    const EngineModel model(problem, tables);
    return ScheduleRoute(model, a, path);
}

}  // namespace vornik
