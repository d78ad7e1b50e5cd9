#ifndef VORNIK_IMPROVE_ANNEALINGWALK_H
#define VORNIK_IMPROVE_ANNEALINGWALK_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "improve/EngineParams.h"
#include "improve/EngineSolution.h"
#include "improve/LocalSearch.h"
#include "improve/RouteBalance.h"
#include "improve/RuinRecreate.h"
#include "improve/SearchWalk.h"
#include "improve/TourSearch.h"
#include "improve/WalkHub.h"

namespace vornik {

/// How a walk scores and cools, the same for every walk of a run.
struct WalkPlan {
    const ScoreWeights* weights = nullptr;  ///< ruin and recreate, acceptance
    const ScoreWeights* descent = nullptr;  ///< local search
    double hot = 1.0;                       ///< start temperature, in cost units
    double cold = 0.01;                     ///< end temperature
    double average_removed = 1.0;           ///< targets a ruin removes on average
    double capped_removed = 1.0;            ///< the same under a route bound
};

/// One thread's search: ruin and recreate under simulated annealing, with local search
/// on candidates that may become the best. It keeps its own best (so that a run with an
/// iteration bound repeats whatever the threads' timing) and offers each new one to the
/// hub. Cooling runs over the budget, or over epochs of a length fixed in steps, each
/// starting again from the best the walks have met with.
class AnnealingWalk : public SearchWalk {
public:
    AnnealingWalk(const EngineModel* model, const EngineParams& params, const WalkPlan& plan,
                  WalkHub* hub, std::size_t index, std::mt19937_64 rng, const EngineSolution& start,
                  const EngineSolution* best);
    // model, params, the plan's weights and hub outlive it; `best` (may be null) is the
    // best solution so far, `start` where the walk begins.

    /// Walks until the hub says the budget is spent.
    void Run() override;

    const std::unique_ptr<EngineSolution>& Best() const override { return best_; }
    std::int64_t Iterations() const override { return iteration_; }

private:
    /// True when `candidate` became the walk's best.
    bool Offer(const EngineSolution& candidate);
    /// Runs the tour search with `kicks_per_visit` on every route of `plan` that changed
    /// since `searched` recorded it (and only on those at or above the route bound, when
    /// `above_cap_only`); true when a route got shorter.
    bool SearchTours(EngineSolution& plan, double kicks_per_visit, bool above_cap_only,
                     std::vector<std::vector<std::uint32_t>>& searched);
    /// SearchTours on `candidate` when it beats the walk's best.
    bool PolishTours(EngineSolution& candidate);
    /// Runs the tour search with EngineParams::restart_kicks on every route of the plan a
    /// cooling epoch starts from, and offers the result when it beats the walk's best.
    void DeepenTours();
    /// Under a route bound, evens out the routes of a candidate whose routes sum to less
    /// than the best's; true when its longest route fell.
    bool Balance(EngineSolution& candidate);
    double Progress(std::int64_t epoch_start, double epoch_length);

    /// Under a route bound (EngineParams::cap_share), lowers it to follow `best`.
    void FollowBest(const EngineSolution& best);
    /// Turns the route bound on: the walk's scores, polish window and ruins from now on.
    void StartBound();

    const EngineModel* model_;
    const EngineParams& params_;
    WalkPlan plan_;
    /// The walk's own scores (the plan's, or a route bound's that follows its best).
    ScoreWeights weights_;
    ScoreWeights descent_;
    /// The instance takes the route bound (EngineParams::cap_share); capped_ once it is on
    /// (EngineParams::cap_from_epoch).
    bool bounded_ = false;
    bool capped_ = false;
    /// params.polish_window, or params.cap_polish_window once the route bound is on.
    double polish_window_;
    WalkHub* hub_;
    std::size_t index_;
    std::mt19937_64 rng_;
    RuinRecreate ruin_recreate_;
    LocalSearch local_search_;
    TourSearch tour_search_;
    RouteBalance balance_;
    /// Each route as the tour search last left it: a route unchanged since is not
    /// searched again.
    std::vector<std::vector<std::uint32_t>> searched_tours_;
    /// The same for DeepenTours.
    std::vector<std::vector<std::uint32_t>> deepened_tours_;
    EngineSolution current_;
    std::unique_ptr<EngineSolution> best_;
    std::int64_t iteration_ = 0;
};

}  // namespace vornik

#endif  // VORNIK_IMPROVE_ANNEALINGWALK_H
