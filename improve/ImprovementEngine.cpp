#include "improve/ImprovementEngine.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>
#include <utility>

#include "improve/LocalSearch.h"
#include "improve/Precheck.h"
#include "improve/RuinRecreate.h"

namespace vornik {

namespace {

double WallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A cost no route can reach: the largest finite arc of any agent plus the latest window
// opening, doubled. Leaving a target out must always cost more than serving it.
double UnassignedPenalty(const EngineModel& model) {
    double largest = 1.0;
    for (std::size_t a = 0; a < model.NumAgents(); ++a) {
        for (const std::uint32_t u : model.Targets()) {
            largest = std::max(largest, std::isfinite(model.Cost(a, model.Agent(a).start, u))
                                            ? model.Cost(a, model.Agent(a).start, u)
                                            : 0.0);
        }
    }
    double windows = 0.0;
    // Service and the optional targets' penalties can add up along a plan too.
    double service = 0.0;
    double penalties = 0.0;
    for (const std::uint32_t v : model.Targets()) {
        if (model.Window(v).present && std::isfinite(model.Window(v).start)) {
            windows = std::max(windows, model.Window(v).start);
        }
        service = std::max(service, model.Service(v));
        penalties += model.Penalty(v);
    }
    const double total =
        2.0 * (largest + windows + service) * static_cast<double>(model.NumVertices() + 1) +
        penalties;
    return std::min(total, 1e200);
}

}  // namespace

ImprovementEngine::ImprovementEngine(const EngineModel* model, EngineSettings settings)
    : model_(model), settings_(std::move(settings)) {}

bool ImprovementEngine::OutOfBudget(std::int64_t iteration) {
    if (settings_.iteration_limit >= 0) {
        if (iteration >= settings_.iteration_limit) return true;
    } else if (settings_.clock() >= settings_.time_limit) {
        return true;
    }
    if (settings_.should_stop) {
        const double now = WallSeconds();
        if (last_poll_ < 0 || now - last_poll_ >= 0.01) {
            last_poll_ = now;
            if (settings_.should_stop()) interrupted_ = true;
        }
    }
    return interrupted_;
}

EngineOutcome ImprovementEngine::Run(const std::vector<std::vector<std::uint32_t>>& start) {
    const EngineModel& model = *model_;
    const ObjectiveType objective = model.Objective();
    const EngineParams& params = settings_.params;
    std::mt19937_64 rng(settings_.seed);
    EngineOutcome outcome;

    ScoreWeights weights;
    weights.unassigned_penalty = UnassignedPenalty(model);
    if (objective == ObjectiveType::MinMax) {
        weights.max_weight = 1.0;
        // A small share of the sum keeps the routes below the longest one moving.
        weights.sum_weight =
            params.sum_share / static_cast<double>(std::max<std::size_t>(1, model.NumAgents()));
    }
    // Local search descends on the objective itself: under min-max the longest route
    // first, the sum only as a tie-breaker, so the longest route is never traded away.
    ScoreWeights descent = weights;
    if (objective == ObjectiveType::MinMax) descent.sum_weight = params.descent_sum_weight;
    RuinRecreate ruin_recreate(model_, &weights, params);
    LocalSearch local_search(model_, &descent, params);

    // The given routes, cleaned: only targets the agent may serve, each once; a route
    // that cannot be driven gives its targets back.
    EngineSolution current(model_);
    std::vector<std::uint8_t> taken(model.NumVertices(), 0);
    for (std::size_t a = 0; a < model.NumAgents() && a < start.size(); ++a) {
        std::vector<std::uint32_t> visits;
        for (const std::uint32_t v : start[a]) {
            if (v < model.NumVertices() && model.IsTarget(v) && taken[v] == 0 &&
                model.CanServe(a, v)) {
                taken[v] = 1;
                visits.push_back(v);
            }
        }
        if (EngineSolution::WalkRoute(model, a, visits) == EngineSolution::kInfeasible) continue;
        auto& pool = current.MutableUnassigned();
        for (const std::uint32_t v : visits) pool.erase(std::find(pool.begin(), pool.end(), v));
        current.SetVisits(a, std::move(visits));
    }

    // The best plan: every route feasible, as few required targets unserved as
    // possible, then the objective plus penalties. Only plans that serve every required
    // target are reported as they come.
    EngineSolution best(model_);
    bool have_best = false;
    bool best_complete = false;
    const auto offer = [&](const EngineSolution& candidate, EnginePhase phase) {
        if (!candidate.AllRoutesFeasible()) return;
        if (have_best && !Better(objective, candidate.Score(), best.Score())) return;
        best = candidate;
        have_best = true;
        best_complete = best.MissingRequired() == 0;
        outcome.phase = phase;
        if (best_complete && settings_.on_best) settings_.on_best(best, phase, settings_.clock());
    };
    offer(current, EnginePhase::kGiven);
    if (!current.Complete()) {
        // The constructed solution counts before its first descent, which takes a while on
        // large instances.
        ruin_recreate.Recreate(current, 0.0, rng);
        offer(current, EnginePhase::kConstruct);
        local_search.Run(current, rng);
        offer(current, EnginePhase::kConstruct);
    } else {
        local_search.Run(current, rng);
        offer(current, EnginePhase::kImprove);
    }

    // Simulated annealing over ruin and recreate. Temperatures scale with the average
    // leg of the current solution and cool geometrically over the budget (over the
    // iteration limit when one is set, so that runs repeat exactly).
    double current_score = weights.Of(current);
    const std::size_t legs = model.Targets().size() + model.NumAgents();
    const EngineScore start_score = current.Score();
    const double scale =
        std::max(1e-9, (std::isfinite(start_score.sum_cost) ? start_score.sum_cost : 1.0) /
                           static_cast<double>(std::max<std::size_t>(1, legs)));
    // Measured on the TSPLIB sets (3 s runs): starting at 0.3 legs got stuck 1-2 %
    // above what starting at 2 legs reached, under both objectives.
    const double hot = params.start_temperature * scale;
    const double cold = params.end_temperature * scale;
    const double average_removed =
        std::min(params.max_removed,
                 std::max(1.0, params.removed_share * static_cast<double>(model.Targets().size())));
    std::uniform_real_distribution<double> unit(0.0, 1.0);

    std::vector<std::uint32_t> focus;
    std::int64_t iteration = 0;
    // Nothing to improve when no target can be served.
    bool nothing_to_do = true;
    for (const std::uint32_t v : model.Targets())
        nothing_to_do = nothing_to_do && !model.Servable(v);
    while (!nothing_to_do && !OutOfBudget(iteration)) {
        const double progress =
            settings_.iteration_limit > 0
                ? static_cast<double>(iteration) / static_cast<double>(settings_.iteration_limit)
                : (settings_.time_limit > 0 ? settings_.clock() / settings_.time_limit : 1.0);
        const double temperature = hot * std::pow(cold / hot, std::min(1.0, progress));
        ++iteration;

        EngineSolution candidate = current;
        ruin_recreate.Ruin(candidate, average_removed, params.longest_bias, rng);
        // Local search looks only around what moved: the removed targets and their
        // nearest neighbours.
        focus = candidate.Unassigned();
        for (std::size_t k = 0, removed = focus.size(); k < removed; ++k) {
            const std::vector<std::uint32_t>& near = model.Neighbours(focus[k]);
            focus.insert(focus.end(), near.begin(),
                         near.begin() + static_cast<std::ptrdiff_t>(
                                            std::min(params.focus_neighbours, near.size())));
        }
        ruin_recreate.Recreate(candidate, params.blink, rng);
        double candidate_score = weights.Of(candidate);
        // Polish only candidates that may become the best: local search costs about as
        // much as many ruin-and-recreate steps.
        const double best_score = best_complete ? weights.Of(best) : current_score;
        if (candidate_score < best_score + params.polish_window * temperature) {
            if (local_search.Run(candidate, rng, &focus) > 0)
                candidate_score = weights.Of(candidate);
        }
        offer(candidate, EnginePhase::kImprove);
        if (candidate_score < current_score - temperature * std::log(unit(rng))) {
            current = std::move(candidate);
            current_score = candidate_score;
        }
    }

    outcome.iterations = iteration;
    outcome.settled = nothing_to_do;
    outcome.interrupted = interrupted_;
    if (have_best) {
        outcome.found = true;
        outcome.complete = best_complete;
        outcome.score = best.Score();
        for (std::size_t a = 0; a < best.NumRoutes(); ++a) {
            const EngineRoute& route = best.Route(a);
            outcome.routes.push_back(route.visits);
            outcome.costs.push_back(route.cost);
            outcome.loads.emplace_back(route.Load(), route.Load() + model.Dimensions());
        }
        outcome.unserved = best.Unassigned();
        std::sort(outcome.unserved.begin(), outcome.unserved.end());
        // Required targets the pre-check cleared that still could not be fitted.
        for (const std::uint32_t v : outcome.unserved) {
            if (model.Required(v) && model.Servable(v)) {
                outcome.reasons.push_back(ExplainUnserved(best, v));
            }
        }
    }
    outcome.reasons.insert(outcome.reasons.end(), model.PrecheckReasons().begin(),
                           model.PrecheckReasons().end());
    std::sort(outcome.reasons.begin(), outcome.reasons.end(),
              [](const TargetReason& x, const TargetReason& y) { return x.vertex < y.vertex; });
    return outcome;
}

}  // namespace vornik
