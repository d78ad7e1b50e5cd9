#include "improve/SmallExactSearch.h"

#include <algorithm>
#include <limits>

#include "core/RouteRules.h"

namespace vornik {

namespace {

class Search {
public:
    Search(const EngineModel& model, std::size_t max_steps)
        : model_(model),
          max_steps_(max_steps),
          used_(model.NumVertices(), 0),
          routes_(model.NumAgents()),
          costs_(model.NumAgents(), 0.0) {}

    SmallExactOutcome Run() {
        if (model_.NumAgents() > 0) Extend(0, StartClock(0), model_.Agent(0).start, 0);
        outcome_.complete = steps_ <= max_steps_;
        return outcome_;
    }

private:
    // The clock on leaving agent a's start: 0, or when the start's window opens.
    double StartClock(std::size_t a) const {
        double t = 0.0;
        return ArriveWithinWindow(model_.Window(model_.Agent(a).start), t)
                   ? t
                   : std::numeric_limits<double>::infinity();
    }

    // Agent a's route so far ends at `at` with clock `t`; `served` targets are taken.
    // Each split is reached once: agent a's whole route, then agent a + 1's.
    void Extend(std::size_t a, double t, std::uint32_t at, std::size_t served) {
        if (++steps_ > max_steps_ || t == std::numeric_limits<double>::infinity()) return;
        const EngineAgent& agent = model_.Agent(a);
        // Close the route here.
        double closed = t + model_.ClosingCost(a, at);
        if (closed != EngineModel::kNoArc && ArriveWithinWindow(model_.Window(agent.end), closed) &&
            WithinLimit(closed, agent.limit)) {
            costs_[a] = closed;
            if (a + 1 < model_.NumAgents()) {
                Extend(a + 1, StartClock(a + 1), model_.Agent(a + 1).start, served);
            } else if (served == model_.Targets().size()) {
                Offer();
            }
        }
        // Or take one more target.
        for (const std::uint32_t v : model_.Targets()) {
            if (used_[v] != 0 || !model_.CanServe(a, v)) continue;
            double next = t + model_.Cost(a, at, v);
            if (next == EngineModel::kNoArc || !ArriveWithinWindow(model_.Window(v), next) ||
                !WithinLimit(next, agent.limit)) {
                continue;
            }
            used_[v] = 1;
            routes_[a].push_back(v);
            Extend(a, next, v, served + 1);
            routes_[a].pop_back();
            used_[v] = 0;
        }
    }

    void Offer() {
        double value = 0.0;
        for (const double cost : costs_) {
            value =
                model_.Objective() == ObjectiveType::MinMax ? std::max(value, cost) : value + cost;
        }
        if (outcome_.found && !(value < best_)) return;
        best_ = value;
        outcome_.found = true;
        outcome_.routes = routes_;
    }

    const EngineModel& model_;
    std::size_t max_steps_;
    std::size_t steps_ = 0;
    std::vector<std::uint8_t> used_;
    std::vector<std::vector<std::uint32_t>> routes_;
    std::vector<double> costs_;
    double best_ = 0.0;
    SmallExactOutcome outcome_;
};

}  // namespace

SmallExactOutcome SmallExactSearch(const EngineModel& model, std::size_t max_steps) {
    return Search(model, max_steps).Run();
}

}  // namespace vornik
