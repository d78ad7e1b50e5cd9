#include "improve/AnnealingWalk.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <utility>
#include <vector>

namespace vornik {

AnnealingWalk::AnnealingWalk(const EngineModel* model, const EngineParams& params,
                             const WalkPlan& plan, WalkHub* hub, std::size_t index,
                             std::mt19937_64 rng, const EngineSolution& start,
                             const EngineSolution* best)
    : model_(model),
      params_(params),
      plan_(plan),
      weights_(*plan.weights),
      descent_(*plan.descent),
      bounded_(params.cap_share > 0 && plan.weights->max_weight > 0 &&
               model->Targets().size() >= params.cap_targets * model->NumAgents()),
      polish_window_(params.polish_window),
      hub_(hub),
      index_(index),
      rng_(std::move(rng)),
      ruin_recreate_(model, &weights_, params),
      local_search_(model, &descent_, params),
      tour_search_(model, params),
      balance_(model, params),
      current_(start) {
    if (best != nullptr) best_ = std::make_unique<EngineSolution>(*best);
    hub_->Register(index_, &best_);
    if (bounded_ && (params.cap_from_epoch == 0 || params.first_epoch <= 0)) StartBound();
    // A long tour search must not outlast the budget (never cut under an iteration
    // bound, so that such runs repeat).
    tour_search_.SetStop([this] {
        const EngineSettings& settings = hub_->Settings();
        return settings.iteration_limit < 0 && hub_->Now(index_) >= settings.time_limit;
    });
}

bool AnnealingWalk::SearchTours(EngineSolution& plan, double kicks_per_visit, bool above_cap_only,
                                std::vector<std::vector<std::uint32_t>>& searched) {
    if (kicks_per_visit <= 0 || !tour_search_.Applies() || !plan.AllRoutesFeasible()) {
        return false;
    }
    const double cap = weights_.cap;
    std::function<bool(const EngineRoute&)> wanted;
    if (above_cap_only) wanted = [cap](const EngineRoute& route) { return route.cost >= cap; };
    return tour_search_.ImproveChanged(plan, kicks_per_visit, searched, rng_, wanted);
}

bool AnnealingWalk::PolishTours(EngineSolution& candidate) {
    // Only a new best: tour searches of every candidate near the best (measured on
    // lin318, rat783 and pcb1173 with 3 agents) took too many steps from the walk.
    if (best_ && !Better(model_->Objective(), candidate.Score(), best_->Score())) return false;
    // Under a bound, only routes above it decide the longest route: the others' tours
    // change the sum alone, and searching them costs as much.
    const double kicks_per_visit = capped_ ? params_.cap_tour_kicks : params_.tour_kicks;
    return SearchTours(candidate, kicks_per_visit, capped_, searched_tours_);
}

void AnnealingWalk::DeepenTours() {
    if (SearchTours(current_, params_.restart_kicks, false, deepened_tours_) && Offer(current_)) {
        FollowBest(*best_);
    }
}

bool AnnealingWalk::Balance(EngineSolution& candidate) {
    if (!capped_ || params_.balance_rounds == 0 || !best_ || best_->MissingRequired() != 0 ||
        candidate.MissingRequired() != 0 || !candidate.AllRoutesFeasible()) {
        return false;
    }
    const EngineScore before = candidate.Score();
    if (!(before.sum_cost < best_->Score().sum_cost)) return false;
    EngineSolution balanced = candidate;
    TourSearch* tours = params_.tour_kicks > 0 ? &tour_search_ : nullptr;
    if (!balance_.Run(balanced, params_.balance_rounds, tours)) return false;
    if (!(balanced.Score().max_cost < before.max_cost)) return false;
    candidate = std::move(balanced);
    return true;
}

void AnnealingWalk::StartBound() {
    capped_ = true;
    polish_window_ = params_.cap_polish_window;
    weights_.sum_weight = 1.0;
    weights_.max_weight = 0.0;
    weights_.over_weight = params_.cap_weight;
    descent_ = weights_;
    if (best_) FollowBest(*best_);
}

void AnnealingWalk::FollowBest(const EngineSolution& best) {
    if (!capped_ || best.MissingRequired() != 0 || !best.AllRoutesFeasible()) return;
    const double cap = std::min(weights_.cap, (1.0 - params_.cap_share) * best.Score().max_cost);
    weights_.cap = cap;
    descent_.cap = cap;
}

bool AnnealingWalk::Offer(const EngineSolution& candidate) {
    if (!candidate.AllRoutesFeasible()) return false;
    if (best_ && !Better(model_->Objective(), candidate.Score(), best_->Score())) return false;
    if (best_) {
        *best_ = candidate;
    } else {
        best_ = std::make_unique<EngineSolution>(candidate);
    }
    hub_->Offer(*best_, EnginePhase::kImprove, index_);
    return true;
}

double AnnealingWalk::Progress(std::int64_t epoch_start, double epoch_length) {
    if (params_.first_epoch > 0) {
        return static_cast<double>(iteration_ - epoch_start) / epoch_length;
    }
    // One cooling over the whole budget: over the iteration limit when one is set, so
    // that runs repeat exactly.
    const EngineSettings& settings = hub_->Settings();
    if (settings.iteration_limit > 0) {
        return static_cast<double>(iteration_) / static_cast<double>(settings.iteration_limit);
    }
    return settings.time_limit > 0 ? hub_->Now(index_) / settings.time_limit : 1.0;
}

void AnnealingWalk::Run() {
    const WalkPlan& plan = plan_;
    const ScoreWeights& weights = weights_;
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    double current_score = weights.Of(current_);
    std::int64_t epoch_start = 0;
    double epoch_length =
        std::max(1.0, params_.first_epoch * static_cast<double>(model_->Targets().size()));
    std::vector<std::uint32_t> focus;
    double hot = plan.hot;
    std::size_t epochs = 0;
    // One candidate for the whole walk: assigning the current solution to it reuses its
    // buffers, where a fresh copy allocated every route's anew at every step.
    EngineSolution candidate = current_;

    while (!hub_->OutOfBudget(index_, iteration_)) {
        if (params_.first_epoch > 0 &&
            static_cast<double>(iteration_ - epoch_start) >= epoch_length) {
            ++epochs;
            if (bounded_ && !capped_ && epochs >= params_.cap_from_epoch) StartBound();
            // The next, longer epoch starts warm again from the best of all walks.
            if (const EngineSolution* restart = hub_->Meet()) {
                current_ = *restart;
                FollowBest(*restart);
                DeepenTours();
                current_score = weights.Of(current_);
            }
            epoch_start = iteration_;
            epoch_length *= params_.epoch_growth;
            hot = std::max(plan.cold, params_.restart_temperature * plan.hot);
        }
        const double progress = Progress(epoch_start, epoch_length);
        const double temperature = hot * std::pow(plan.cold / hot, std::min(1.0, progress));
        ++iteration_;

        candidate = current_;
        ruin_recreate_.Ruin(candidate, capped_ ? plan.capped_removed : plan.average_removed,
                            params_.longest_bias, rng_, capped_ ? params_.boundary_bias : 0.0);
        // Local search looks only around what moved: the removed targets and their
        // nearest neighbours.
        focus = candidate.Unassigned();
        for (std::size_t k = 0, removed = focus.size(); k < removed; ++k) {
            const std::vector<std::uint32_t>& near = model_->Neighbours(focus[k]);
            focus.insert(focus.end(), near.begin(),
                         near.begin() + static_cast<std::ptrdiff_t>(
                                            std::min(params_.focus_neighbours, near.size())));
        }
        ruin_recreate_.Recreate(candidate, params_.blink, rng_);
        double candidate_score = weights.Of(candidate);
        // Polish only candidates that may become the best: local search costs about as
        // much as many ruin-and-recreate steps.
        const double best_score =
            best_ && best_->MissingRequired() == 0 ? weights.Of(*best_) : current_score;
        bool polished = false;
        if (candidate_score < best_score + polish_window_ * temperature) {
            polished = true;
            if (local_search_.Run(candidate, rng_, &focus) > 0) {
                candidate_score = weights.Of(candidate);
            }
        }
        // The balanced plan replaces the candidate for the walk too: offering it to the
        // best alone (the walk going on from the unbalanced one) ended 0.7 % worse over
        // rat783 and pcb1173 with 3 and 5 agents at 10 s.
        if (polished && Balance(candidate)) {
            candidate_score = weights.Of(candidate);
        }
        if (PolishTours(candidate)) candidate_score = weights.Of(candidate);
        if (Offer(candidate) && capped_) {
            // A lower bound: the scores change.
            FollowBest(*best_);
            candidate_score = weights.Of(candidate);
            current_score = weights.Of(current_);
        }
        if (candidate_score < current_score - temperature * std::log(unit(rng_))) {
            std::swap(current_, candidate);
            current_score = candidate_score;
        }
    }
}

}  // namespace vornik
