#include "improve/population/PopulationWalk.h"

#include <algorithm>
#include <utility>

#include "improve/population/TourSplit.h"

namespace vornik {

namespace {

PopulationShape ShapeOf(const EngineParams& params) {
    PopulationShape shape;
    shape.size = params.population_size;
    shape.offspring = params.offspring;
    shape.elite = params.elite;
    shape.closest = params.diversity_neighbours;
    return shape;
}

}  // namespace

PopulationWalk::PopulationWalk(const EngineModel* model, const EngineParams& params,
                               const WalkPlan& plan, WalkHub* hub, std::size_t index,
                               std::mt19937_64 rng, const EngineSolution& start,
                               const EngineSolution* best)
    : model_(model),
      params_(params),
      plan_(plan),
      hub_(hub),
      index_(index),
      rng_(std::move(rng)),
      ruin_recreate_(model, plan.weights, params),
      local_search_(model, plan.descent, params),
      tour_search_(model, params, TourDepth::kDeep),
      start_(start),
      population_(model, ShapeOf(params)) {
    if (best != nullptr) best_ = std::make_unique<EngineSolution>(*best);
    hub_->Register(index_, &best_);
    // A descent from a random tour of a large instance can outlast the budget: it stops
    // with the time or a stop request, but never under an iteration limit, so that such
    // runs repeat exactly.
    local_search_.SetStop(
        [this] { return hub_->Settings().iteration_limit < 0 && hub_->OutOfBudget(index_, 0); });
    tour_search_.SetStop(
        [this] { return hub_->Settings().iteration_limit < 0 && hub_->OutOfBudget(index_, 0); });
    const std::size_t shortest = params_.population_tour_visits;
    long_route_ = [shortest](const EngineRoute& route) { return route.visits.size() >= shortest; };
}

std::vector<std::uint32_t> PopulationWalk::RandomTour() {
    std::vector<std::uint32_t> tour;
    for (const std::uint32_t v : model_->Targets()) {
        if (model_->Servable(v) && model_->Required(v)) tour.push_back(v);
    }
    std::shuffle(tour.begin(), tour.end(), rng_);
    return tour;
}

EngineSolution PopulationWalk::FromTour(const std::vector<std::uint32_t>& tour,
                                        const Individual* first, const Individual* second) {
    // Required targets that the tour lacks (its parents left them unserved) join at
    // random places: the cut may fit them where insertion into finished routes did not.
    std::vector<std::uint8_t> in_tour(model_->NumVertices(), 0);
    for (const std::uint32_t v : tour) in_tour[v] = 1;
    std::vector<std::uint32_t> full = tour;
    for (const std::uint32_t v : model_->Targets()) {
        if (in_tour[v] == 0 && model_->Required(v) && model_->Servable(v)) {
            full.insert(full.begin() + static_cast<std::ptrdiff_t>(rng_() % (full.size() + 1)), v);
        }
    }
    TourSplit split = SplitTour(*model_, full);
    EngineSolution child(model_);
    std::vector<std::uint8_t> routed(model_->NumVertices(), 0);
    for (std::size_t a = 0; a < split.routes.size(); ++a) {
        for (const std::uint32_t v : split.routes[a]) routed[v] = 1;
    }
    std::vector<std::uint32_t>& unassigned = child.MutableUnassigned();
    unassigned.erase(std::remove_if(unassigned.begin(), unassigned.end(),
                                    [&](std::uint32_t v) { return routed[v] != 0; }),
                     unassigned.end());
    for (std::size_t a = 0; a < split.routes.size(); ++a) {
        child.SetVisits(a, std::move(split.routes[a]));
    }
    // What the cut could not place (and optional targets neither parent served) goes in
    // by cheapest insertion, which knows every rule.
    if (!child.Unassigned().empty()) ruin_recreate_.Recreate(child, 0.0, rng_);
    if (first == nullptr || params_.population_focus == 0) {
        local_search_.Run(child, rng_);
        return child;
    }
    // The parents are local optima: the descent looks only around the pairs of
    // neighbours that neither parent has, which the crossover and the cut made.
    const auto known = [](const Individual& parent, std::uint32_t v, std::uint32_t w) {
        return parent.next[v] == w || parent.previous[v] == w;
    };
    std::vector<std::uint32_t> focus;
    std::vector<std::uint8_t> chosen(model_->NumVertices(), 0);
    for (std::size_t a = 0; a < child.NumRoutes(); ++a) {
        const std::vector<std::uint32_t>& visits = child.Route(a).visits;
        for (std::size_t p = 0; p < visits.size(); ++p) {
            const std::uint32_t v = visits[p];
            const std::uint32_t before = p == 0 ? Individual::kDepot : visits[p - 1];
            const std::uint32_t after = p + 1 == visits.size() ? Individual::kDepot : visits[p + 1];
            const bool old = (known(*first, v, before) || known(*second, v, before)) &&
                             (known(*first, v, after) || known(*second, v, after));
            if (old || chosen[v] != 0) continue;
            chosen[v] = 1;
            focus.push_back(v);
        }
    }
    for (std::size_t k = 0, changed = focus.size(); k < changed; ++k) {
        const std::vector<std::uint32_t>& near = model_->Neighbours(focus[k]);
        for (std::size_t i = 0; i < std::min(params_.focus_neighbours, near.size()); ++i) {
            if (chosen[near[i]] == 0) {
                chosen[near[i]] = 1;
                focus.push_back(near[i]);
            }
        }
    }
    local_search_.Run(child, rng_, &focus);
    return child;
}

std::vector<std::uint32_t> PopulationWalk::Crossover(const std::vector<std::uint32_t>& first,
                                                     const std::vector<std::uint32_t>& second) {
    const std::size_t n = first.size();
    if (n < 2) return first;
    // A stretch of the first parent keeps its place; the second parent's order, read on
    // from the stretch's end, fills the rest.
    const std::size_t begin = rng_() % n;
    std::size_t end = rng_() % n;
    while (end == begin && n > 1) end = rng_() % n;
    std::vector<std::uint8_t> taken(model_->NumVertices(), 0);
    std::vector<std::uint32_t> stretch;
    for (std::size_t k = begin;; k = (k + 1) % n) {
        stretch.push_back(first[k]);
        taken[first[k]] = 1;
        if (k == end) break;
    }
    std::vector<std::uint32_t> fill;
    const std::size_t m = second.size();
    // The second parent read from just after where the stretch's last target sits in it.
    std::size_t from = 0;
    for (std::size_t k = 0; k < m; ++k) {
        if (second[k] == first[end]) from = k + 1;
    }
    for (std::size_t k = 0; k < m; ++k) {
        const std::uint32_t v = second[(from + k) % m];
        if (taken[v] == 0) fill.push_back(v);
    }
    const std::size_t size = stretch.size() + fill.size();
    std::vector<std::uint32_t> child(size);
    const std::size_t at = begin % size;
    for (std::size_t k = 0; k < stretch.size(); ++k) child[(at + k) % size] = stretch[k];
    for (std::size_t k = 0; k < fill.size(); ++k) {
        child[(at + stretch.size() + k) % size] = fill[k];
    }
    return child;
}

bool PopulationWalk::Keep(EngineSolution child) {
    bool improved = false;
    if (child.AllRoutesFeasible() &&
        (!best_ || Better(model_->Objective(), child.Score(), best_->Score()))) {
        // Under min-sum with routes allowed to stay empty, large instances end in one or
        // a few long routes, where the descent's moves leave tours percents above what
        // the tour search reaches in a fraction of a second.
        if (params_.population_tour_kicks > 0 && tour_search_.Applies()) {
            tour_search_.ImproveChanged(child, params_.population_tour_kicks, searched_tours_, rng_,
                                        long_route_);
        }
        if (best_) {
            *best_ = child;
        } else {
            best_ = std::make_unique<EngineSolution>(child);
        }
        hub_->Offer(*best_, EnginePhase::kImprove, index_);
        improved = true;
    }
    if (child.AllRoutesFeasible()) {
        const double score = plan_.descent->Of(child);
        population_.Add(std::make_unique<Individual>(std::move(child), score));
    }
    return improved;
}

std::vector<std::uint32_t> PopulationWalk::Shaken(const EngineSolution& from) {
    // The routes' tour with stretches of up to ten targets moved elsewhere: a local
    // optimum's neighbour, which the descent brings back far sooner than a random tour.
    std::vector<std::uint32_t> tour;
    for (std::size_t a = 0; a < from.NumRoutes(); ++a) {
        tour.insert(tour.end(), from.Route(a).visits.begin(), from.Route(a).visits.end());
    }
    const std::size_t n = tour.size();
    if (n < 4) return tour;
    const std::size_t moves = std::max<std::size_t>(1, n / 10);
    for (std::size_t k = 0; k < moves; ++k) {
        const std::size_t length = 1 + rng_() % std::min<std::size_t>(10, n / 2);
        const std::size_t begin = rng_() % (n - length + 1);
        std::vector<std::uint32_t> stretch(
            tour.begin() + static_cast<std::ptrdiff_t>(begin),
            tour.begin() + static_cast<std::ptrdiff_t>(begin + length));
        tour.erase(tour.begin() + static_cast<std::ptrdiff_t>(begin),
                   tour.begin() + static_cast<std::ptrdiff_t>(begin + length));
        if (rng_() % 2 == 0) std::reverse(stretch.begin(), stretch.end());
        const std::size_t at = rng_() % (tour.size() + 1);
        tour.insert(tour.begin() + static_cast<std::ptrdiff_t>(at), stretch.begin(), stretch.end());
    }
    return tour;
}

void PopulationWalk::Seed(const EngineSolution& from, double random_share) {
    population_.Clear();
    Keep(from);
    const std::size_t wanted = std::max<std::size_t>(2, params_.population_size);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    while (population_.Size() < wanted && !hub_->OutOfBudget(index_, iteration_)) {
        ++iteration_;
        Keep(FromTour(unit(rng_) < random_share ? RandomTour() : Shaken(from)));
    }
}

void PopulationWalk::Run() {
    if (hub_->OutOfBudget(index_, iteration_)) return;
    Seed(start_, params_.random_individuals);
    std::int64_t last_gain = iteration_;
    while (!hub_->OutOfBudget(index_, iteration_)) {
        ++iteration_;
        if (population_.Size() == 0) {
            Keep(FromTour(RandomTour()));
            continue;
        }
        const Individual& first = population_.Pick(rng_);
        const Individual& second = population_.Pick(rng_);
        std::vector<std::uint32_t> tour = Crossover(first.tour, second.tour);
        if (Keep(FromTour(tour, &first, &second))) last_gain = iteration_;
        if (params_.population_restart > 0 &&
            iteration_ - last_gain >= static_cast<std::int64_t>(params_.population_restart)) {
            // A fresh population beside the best this walk has found, whose tours first
            // get another deep search from new kicks (the last one ended where many kicks
            // in a row found nothing, not at the best tour).
            if (best_ && params_.population_tour_kicks > 0) {
                EngineSolution deeper = *best_;
                std::vector<std::vector<std::uint32_t>> unsearched;
                if (tour_search_.ImproveChanged(deeper, params_.population_tour_kicks, unsearched,
                                                rng_, long_route_)) {
                    Keep(std::move(deeper));
                }
            }
            Seed(best_ ? *best_ : start_, params_.restart_random_individuals);
            last_gain = iteration_;
        }
    }
}

}  // namespace vornik
