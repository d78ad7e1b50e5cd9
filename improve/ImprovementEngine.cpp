#include "improve/ImprovementEngine.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <thread>
#include <utility>

#include "improve/AnnealingWalk.h"
#include "improve/LocalSearch.h"
#include "improve/Precheck.h"
#include "improve/QuickStart.h"
#include "improve/RuinRecreate.h"
#include "improve/WalkHub.h"
#include "improve/population/PopulationWalk.h"

namespace vornik {

namespace {

// A cost no route can reach: the largest finite arc of any agent plus the latest window
// opening, doubled. Leaving a target out must always cost more than serving it.
double UnassignedPenalty(const EngineModel& model) {
    double largest = 1.0;
    // Agents of one type from one start see the same legs: each such kind once (a
    // thousand alike agents over 10,000 targets were a tenth of a short solve).
    std::vector<std::size_t> kinds;
    for (std::size_t a = 0; a < model.NumAgents(); ++a) {
        const bool seen = std::any_of(kinds.begin(), kinds.end(), [&](std::size_t b) {
            return model.SameType(a, b) && model.Agent(a).start == model.Agent(b).start;
        });
        if (seen) continue;
        kinds.push_back(a);
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

// "auto" takes whichever strategy measured better at 10 s: under min-sum the population
// on plain instances (TSPLIB files of 50 to 1,000 targets, benchmarks/strength_bench.py:
// ahead on the geometric mean), but the annealing once loads, windows, service or optional
// targets count (the real-fleet sets: the population 3.7 % behind on 500 customers under
// capacities, 2 % to 10 % behind on the mixed set); under min-max the annealing, whose ruin
// of the longest route the population's descent does not match (1 % to 6 % behind). With
// one agent the longest route is the whole plan, so min-max asks what min-sum asks, and
// there the population led too (10 s, one agent: lin318 0.67 %, rat783 0.85 %, pcb1173
// 0.37 % shorter).
SearchStrategy ChooseStrategy(const EngineModel& model, const EngineParams& params) {
    if (params.strategy != SearchStrategy::kAuto) return params.strategy;
    if (model.Objective() != ObjectiveType::MinSum && model.NumAgents() > 1) {
        return SearchStrategy::kAnneal;
    }
    bool plain = model.Dimensions() == 0 && !model.HasWindows();
    for (const std::uint32_t v : model.Targets()) {
        if (!plain) break;
        plain = model.Service(v) == 0.0 && model.Required(v);
    }
    return plain ? SearchStrategy::kPopulation : SearchStrategy::kAnneal;
}

}  // namespace

ImprovementEngine::ImprovementEngine(const EngineModel* model, EngineSettings settings)
    : model_(model), settings_(std::move(settings)) {}

EngineOutcome ImprovementEngine::Run(const std::vector<std::vector<std::uint32_t>>& start) {
    const EngineModel& model = *model_;
    const ObjectiveType objective = model.Objective();
    const EngineParams& params = settings_.params;
    const std::size_t walks = std::max<std::size_t>(1, settings_.threads);
    std::mt19937_64 rng(settings_.seed);
    EngineOutcome outcome;
    WalkHub hub(model_, &settings_, walks);
    hub.StartClock(0);

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

    hub.Offer(current, EnginePhase::kGiven, 0);
    {
        RuinRecreate ruin_recreate(model_, &weights, params);
        LocalSearch local_search(model_, &descent, params);
        // The first descent of a large instance can take longer than the budget: it stops
        // at the budget (not under an iteration limit, which repeats runs exactly) and
        // at the caller's request.
        const std::function<bool()> stop = [&] {
            return (settings_.iteration_limit < 0 && hub.Now(0) >= settings_.time_limit) ||
                   (settings_.should_stop && settings_.should_stop());
        };
        local_search.SetStop(stop);
        if (!current.Complete()) {
            // On large instances the insertion takes a while: a tour cut into routes is
            // the first solution, and the start if the budget ends before the insertion.
            std::optional<EngineSolution> quick;
            bool nothing_given = true;
            for (std::size_t a = 0; a < current.NumRoutes(); ++a)
                nothing_given = nothing_given && current.Route(a).visits.empty();
            if (nothing_given && QuickStartPays(model, params)) {
                quick.emplace(QuickStart(model_));
                hub.Offer(*quick, EnginePhase::kConstruct, 0);
            }
            // The constructed solution counts before its first descent, which takes a
            // while on large instances.
            if (!ruin_recreate.Recreate(current, 0.0, rng, quick ? stop : nullptr)) {
                current = std::move(*quick);
            }
            hub.Offer(current, EnginePhase::kConstruct, 0);
            local_search.Run(current, rng);
            hub.Offer(current, EnginePhase::kConstruct, 0);
        } else {
            local_search.Run(current, rng);
            hub.Offer(current, EnginePhase::kImprove, 0);
        }
    }

    // Temperatures scale with the average leg of the first solution.
    WalkPlan plan;
    plan.weights = &weights;
    plan.descent = &descent;
    const std::size_t legs = model.Targets().size() + model.NumAgents();
    const EngineScore start_score = current.Score();
    const double scale =
        std::max(1e-9, (std::isfinite(start_score.sum_cost) ? start_score.sum_cost : 1.0) /
                           static_cast<double>(std::max<std::size_t>(1, legs)));
    // Measured on the TSPLIB sets (3 s runs): starting at 0.3 legs got stuck 1-2 %
    // above what starting at 2 legs reached, under both objectives.
    plan.hot = params.start_temperature * scale;
    plan.cold = params.end_temperature * scale;
    const auto removed = [&](double most) {
        return std::min(most, std::max(1.0, params.removed_share *
                                                static_cast<double>(model.Targets().size())));
    };
    plan.average_removed = removed(params.max_removed);
    plan.capped_removed = removed(params.cap_max_removed);

    // Nothing to improve when no target can be served.
    bool nothing_to_do = true;
    for (const std::uint32_t v : model.Targets())
        nothing_to_do = nothing_to_do && !model.Servable(v);

    // The walks: the first goes on with the generator that built the start, the others
    // get generators of their own from the seed.
    std::vector<std::unique_ptr<SearchWalk>> runs;
    const SearchStrategy strategy = ChooseStrategy(model, params);
    if (!nothing_to_do) {
        for (std::size_t k = 0; k < walks; ++k) {
            std::mt19937_64 walk_rng =
                k == 0 ? rng : std::mt19937_64(settings_.seed + 0x9E3779B97F4A7C15ULL * k);
            const EngineSolution* best = hub.HaveBest() ? &hub.Best() : nullptr;
            if (strategy == SearchStrategy::kPopulation) {
                runs.push_back(std::make_unique<PopulationWalk>(
                    model_, params, plan, &hub, k, std::move(walk_rng), current, best));
            } else {
                runs.push_back(std::make_unique<AnnealingWalk>(model_, params, plan, &hub, k,
                                                               std::move(walk_rng), current, best));
            }
        }
        std::vector<std::exception_ptr> failures(walks);
        const auto walk = [&](std::size_t k) {
            try {
                if (k > 0) hub.StartClock(k);
                runs[k]->Run();
            } catch (...) {
                failures[k] = std::current_exception();
                hub.Stop();
            }
            hub.Leave();
        };
        std::vector<std::thread> threads;
        threads.reserve(walks - 1);
        for (std::size_t k = 1; k < walks; ++k) threads.emplace_back(walk, k);
        walk(0);
        for (std::thread& thread : threads) thread.join();
        for (const std::exception_ptr& failure : failures) {
            if (failure) std::rethrow_exception(failure);
        }
    }

    outcome.end_time = hub.Now(0);
    outcome.settled = nothing_to_do;
    outcome.interrupted = hub.Interrupted();
    // The answer is the best of the walks' bests, the lowest walk among equals, so that
    // it does not depend on which thread reported first.
    const EngineSolution* best = nullptr;
    for (const std::unique_ptr<SearchWalk>& run : runs) {
        outcome.iterations += run->Iterations();
        const std::unique_ptr<EngineSolution>& own = run->Best();
        if (own && (best == nullptr || Better(objective, own->Score(), best->Score()))) {
            best = own.get();
        }
    }
    if (best == nullptr && hub.HaveBest()) best = &hub.Best();
    if (best != nullptr) {
        outcome.found = true;
        outcome.phase = hub.BestPhase();
        outcome.complete = best->MissingRequired() == 0;
        outcome.score = best->Score();
        for (std::size_t a = 0; a < best->NumRoutes(); ++a) {
            const EngineRoute& route = best->Route(a);
            outcome.routes.push_back(route.visits);
            outcome.costs.push_back(route.cost);
            outcome.loads.emplace_back(route.Load(), route.Load() + model.Dimensions());
        }
        outcome.unserved = best->Unassigned();
        std::sort(outcome.unserved.begin(), outcome.unserved.end());
        // Required targets the pre-check cleared that still could not be fitted.
        for (const std::uint32_t v : outcome.unserved) {
            if (model.Required(v) && model.Servable(v)) {
                outcome.reasons.push_back(ExplainUnserved(*best, v));
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
