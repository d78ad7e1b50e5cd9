#include "core/StopSchedule.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>

namespace vornik {

StopSchedule::StopSchedule(const InstanceModel& model, bool return_to_end)
    : model_(model), walker_(return_to_end) {
    const std::size_t n = model.NumVertices();
    offset_.assign(n + 1, 0);
    for (std::size_t v = 0; v < n; ++v) {
        offset_[v] = several_.size();
        const ListView<std::pair<double, double>> given = model.WindowList(v);
        if (given.size() >= 2) {
            const std::vector<TimeWindow> merged =
                MergedWindows(std::vector<std::pair<double, double>>(given.begin(), given.end()));
            several_.insert(several_.end(), merged.begin(), merged.end());
        }
        dimensions_ = std::max(dimensions_, model.Demands(v).size());
    }
    offset_[n] = several_.size();
    for (std::size_t a = 0; a < model.NumAgents(); ++a) {
        dimensions_ = std::max(dimensions_, model.Capacities(a).size());
    }
}

StopsWalk StopSchedule::Walk(std::size_t a, const std::int64_t* path, std::size_t count,
                             StopTimes* stops, double* load) const {
    if (a >= model_.NumAgents()) {
        throw std::invalid_argument("agent index " + std::to_string(a) + " is outside the " +
                                    std::to_string(model_.NumAgents()) + " agents");
    }
    const std::size_t n = model_.NumVertices();
    for (std::size_t k = 0; k < count; ++k) {
        if (path[k] < 0 || static_cast<std::size_t>(path[k]) >= n) {
            throw std::invalid_argument("position " + std::to_string(k) + " holds " +
                                        std::to_string(path[k]) + ", not a vertex (" +
                                        std::to_string(n) + " nodes)");
        }
    }
    const auto stop = [&](std::size_t k) { return static_cast<std::uint32_t>(path[k]); };
    const ModelAgent& agent = model_.Agent(a);
    const WalkAgent ends{true, agent.start, true, agent.end, agent.time_limit};
    // An agent without a type has no costs: every leg it is charged is no arc.
    const auto travel = [&](std::size_t k) {
        const std::uint32_t u = stop(k - 1);
        const std::uint32_t v = stop(k);
        if (!walker_.Charges(ends, u, v)) return 0.0;
        if (agent.type < 0) return InstanceModel::kNoArc;
        return model_.Cost(static_cast<std::size_t>(agent.type), u, v);
    };
    const auto arrive = [&](std::size_t k, double& t) {
        const std::uint32_t v = stop(k);
        if (offset_[v] == offset_[v + 1]) return ArriveWithinWindow(model_.Window(v), t);
        return ArriveWithinWindows(several_.data() + offset_[v], several_.data() + offset_[v + 1],
                                   t);
    };
    const auto service = [&](std::size_t k) { return model_.Service(stop(k)); };
    // Only the schedule is asked for: the limit is left to those who judge the route.
    const StopsWalk walk = WalkStops(
        count, travel, arrive, service, 0.0,
        [&](std::size_t k, const StopTimes& times) { stops[k] = times; }, true);

    // A route carries what its stops between the start and the closing vertex demand.
    std::fill(load, load + dimensions_, 0.0);
    for (std::size_t k = 1; k + 1 < count; ++k) {
        const ListView<double> demands = model_.Demands(stop(k));
        for (std::size_t d = 0; d < demands.size(); ++d) load[d] += demands[d];
    }
    return walk;
}

}  // namespace vornik
