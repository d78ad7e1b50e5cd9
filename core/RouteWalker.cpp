#include "core/RouteWalker.h"

#include <algorithm>

namespace vornik {

RouteWalk WalkRoute(const InstanceModel& model, std::size_t a,
                    const std::vector<std::uint32_t>& route, bool return_to_end) {
    RouteWalk walk;
    if (route.empty()) {
        walk.ok = true;
        return walk;
    }
    const ModelAgent& agent = model.Agent(a);
    const WalkAgent ends{true, agent.start, true, agent.end, agent.time_limit};
    const RouteWalker walker(return_to_end);
    if (route.front() != agent.start || !walker.ClosesOn(ends, route.back())) return walk;

    // An agent without a type has no costs: every leg it would be charged is no arc.
    const auto add_travel = [&](std::uint64_t u, std::uint64_t v, double& t) {
        if (agent.type < 0) return false;
        const double travel = model.Cost(static_cast<std::size_t>(agent.type), u, v);
        if (!(travel < InstanceModel::kNoArc)) return false;
        t += travel;
        return true;
    };
    const auto admits = [&](std::uint32_t v) {
        const std::vector<std::int64_t>& allowed = model.AllowedTypes(v);
        return std::find(allowed.begin(), allowed.end(), agent.type) != allowed.end();
    };
    // The first vertex is entered at clock 0 and left when its window opens; the limit
    // bounds the clock from the first leg on.
    double t = 0.0;
    for (std::size_t k = 0; k < route.size(); ++k) {
        const std::uint32_t u = route[k > 0 ? k - 1 : 0];
        const std::uint32_t v = route[k];
        if ((k > 0 && !admits(v)) ||
            !walker.Step(ends, u, v, add_travel, model.Window(v), k > 0, t)) {
            walk.failed_at = k;
            return walk;
        }
    }
    walk.ok = true;
    walk.cost = t;
    return walk;
}

}  // namespace vornik
