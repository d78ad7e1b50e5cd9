#ifndef VORNIK_IMPROVE_POPULATION_POPULATIONWALK_H
#define VORNIK_IMPROVE_POPULATION_POPULATIONWALK_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "improve/AnnealingWalk.h"
#include "improve/EngineParams.h"
#include "improve/EngineSolution.h"
#include "improve/LocalSearch.h"
#include "improve/RuinRecreate.h"
#include "improve/SearchWalk.h"
#include "improve/TourSearch.h"
#include "improve/WalkHub.h"
#include "improve/population/Population.h"

namespace vornik {

/// One thread's genetic search, the alternative to AnnealingWalk: a population of locally
/// optimal solutions; each step picks two parents by binary tournament on a fitness biased
/// towards diversity, recombines their tours by order crossover, cuts the child tour into
/// routes (SplitTour), inserts what the cut left out, and descends with the engine's local
/// search. After `population_restart` steps without a new best of its own, the walk starts
/// a fresh population around that best. Every child counts as one step of the iteration
/// limit; the walk keeps its own best and offers each new one to the hub, like the
/// annealing.
class PopulationWalk : public SearchWalk {
public:
    PopulationWalk(const EngineModel* model, const EngineParams& params, const WalkPlan& plan,
                   WalkHub* hub, std::size_t index, std::mt19937_64 rng,
                   const EngineSolution& start, const EngineSolution* best);
    // model, params, the plan's weights and hub outlive it.

    void Run() override;

    const std::unique_ptr<EngineSolution>& Best() const override { return best_; }
    std::int64_t Iterations() const override { return iteration_; }

private:
    /// Routes cut from `tour`, the rest inserted, then a descent (around what is new
    /// to both parents, when given and population_focus is set).
    EngineSolution FromTour(const std::vector<std::uint32_t>& tour,
                            const Individual* first = nullptr, const Individual* second = nullptr);
    std::vector<std::uint32_t> Crossover(const std::vector<std::uint32_t>& first,
                                         const std::vector<std::uint32_t>& second);
    std::vector<std::uint32_t> RandomTour();
    std::vector<std::uint32_t> Shaken(const EngineSolution& from);
    /// Offers `child` as a best and adds it to the population; true when it is a new best.
    /// A new best first gets the tour search on each route that changed since the last.
    bool Keep(EngineSolution child);
    /// A fresh population: `from` and children of random tours (this share) or of
    /// `from`'s tour with stretches moved.
    void Seed(const EngineSolution& from, double random_share);

    const EngineModel* model_;
    const EngineParams& params_;
    WalkPlan plan_;
    WalkHub* hub_;
    std::size_t index_;
    std::mt19937_64 rng_;
    RuinRecreate ruin_recreate_;
    LocalSearch local_search_;
    TourSearch tour_search_;
    /// Each route as the tour search last left it, so that unchanged routes are skipped.
    std::vector<std::vector<std::uint32_t>> searched_tours_;
    /// The routes the deep tour search takes: EngineParams::population_tour_visits or more.
    std::function<bool(const EngineRoute&)> long_route_;
    EngineSolution start_;
    Population population_;
    std::unique_ptr<EngineSolution> best_;
    std::int64_t iteration_ = 0;
};

}  // namespace vornik

#endif  // VORNIK_IMPROVE_POPULATION_POPULATIONWALK_H
