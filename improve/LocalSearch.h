#ifndef VORNIK_IMPROVE_LOCALSEARCH_H
#define VORNIK_IMPROVE_LOCALSEARCH_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <random>
#include <utility>
#include <vector>

#include "improve/EngineParams.h"
#include "improve/EngineSolution.h"
#include "improve/MoveCosts.h"
#include "improve/RuinRecreate.h"

namespace vornik {

/// Descends to a local optimum of the weighted score over granular neighbourhoods: for
/// every target u and each of its nearest targets v (EngineParams::granularity of them),
/// moves that make u and v adjacent — relocation of a string of 1 to
/// EngineParams::longest_string targets starting at u (also reversed), exchange of
/// strings of that many targets starting at u and v between two routes (swaps and
/// cross-exchange), 2-opt inside a route, and 2-opt* between routes; optional targets
/// are also dropped, or inserted next to their neighbours, when that pays for their
/// penalty. A move is applied as soon as it lowers the score by more than 1e-9.
///
/// Where EngineParams::infeasible_search says so (on instances with windows or
/// capacities), a descent prices lateness and excess load with weights instead of
/// refusing them (routes cost their clock plus the weighted time warp and excess), and
/// the weights follow how often descents end within the rules. A descent that ends
/// outside them is repaired with heavier weights; if that fails, the routes it changed go
/// back to where they were and it descends within the rules. Routes that kept the rules
/// when Run began keep them when it ends.
class LocalSearch {
public:
    // model and weights outlive it.
    LocalSearch(const EngineModel* model, const ScoreWeights* weights,
                const EngineParams& params = EngineParams{});

    /// Returns the number of moves applied. With `focus`, only moves around those targets
    /// are tried (after ruin and recreate, the rest of the solution is already a local
    /// optimum, and scanning it again costs most on large instances).
    std::size_t Run(EngineSolution& solution, std::mt19937_64& rng,
                    const std::vector<std::uint32_t>* focus = nullptr);
    /// Ends Run early, between two targets, once `stop` says so (asked every few
    /// targets): a first descent over thousands of targets must not outlast the budget.
    void SetStop(std::function<bool()> stop) { stop_ = std::move(stop); }

    /// The weights the next descent through infeasible space starts with.
    const PenaltyWeights& Penalties() const { return penalties_; }

private:
    /// One descent under the solution's current pricing; stops early when stop_ says so.
    std::size_t Descend(EngineSolution& solution, std::mt19937_64& rng,
                        const std::vector<std::uint32_t>* focus);
    /// Counts whether a descent ended without lateness and without excess load, and
    /// moves the weights towards the wanted share every kAdaptEvery descents.
    void Adapt(bool no_warp, bool no_excess);
    // Each tries the moves of its kind that bring u next to v; true when one was applied.
    bool TryRelocate(EngineSolution& solution, std::uint32_t u, std::uint32_t v);
    bool TrySwap(EngineSolution& solution, std::uint32_t u, std::uint32_t v);
    bool TryTwoOpt(EngineSolution& solution, std::uint32_t u, std::uint32_t v);
    bool TryTwoOptStar(EngineSolution& solution, std::uint32_t u, std::uint32_t v);
    bool TryDropOptional(EngineSolution& solution, std::uint32_t u);
    bool TryInsertOptional(EngineSolution& solution, std::uint32_t u);
    /// Applies `move` when it lowers the score.
    template <typename Move>
    bool TryMove(EngineSolution& solution, const Move& move);
    bool Improves(const EngineSolution& solution, const MoveCosts& costs) const;

    /// Score change when routes a and b (b may equal a; b = npos for one route) take
    /// the costs cost_a and cost_b.
    double Delta(const EngineSolution& solution, std::size_t a, double cost_a, std::size_t b,
                 double cost_b) const;
    void RefreshLargest(const EngineSolution& solution);
    void Apply(EngineSolution& solution, std::size_t a, std::vector<std::uint32_t> visits_a,
               std::size_t b, std::vector<std::uint32_t> visits_b);

    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

    const EngineModel* model_;
    const ScoreWeights* weights_;
    std::size_t granularity_;
    std::size_t longest_string_;
    // The three longest routes, longest first, so that "the longest route other than
    // these two" is read in constant time.
    struct Ranked {
        double cost = 0.0;
        std::size_t route = kNone;
    };
    Ranked largest_[3];
    std::function<bool()> stop_;
    bool stopped_ = false;

    bool infeasible_search_ = false;
    double feasible_share_ = 0.4;
    double take_up_ = 1.0;
    PenaltyWeights penalties_;
    PenaltyWeights initial_;
    PenaltyWeights repair_;  ///< the heavier weights of a repair
    std::size_t descents_ = 0;
    std::size_t without_warp_ = 0;
    std::size_t without_excess_ = 0;
    /// Through infeasible space: the routes a descent changed, as they were before, and
    /// whether they kept the rules then (touched_stamp_[a] == route_stamp_ once listed);
    /// the unassigned targets before.
    struct Touched {
        std::size_t route;
        std::vector<std::uint32_t> visits;
        bool feasible;
    };
    void Touch(const EngineSolution& solution, std::size_t a);
    std::vector<Touched> touched_;
    std::vector<std::uint32_t> touched_stamp_;
    std::uint32_t route_stamp_ = 0;
    std::vector<std::uint32_t> start_unassigned_;
    /// Within one descent (descent_): tested_in_[u] == descent_ when the moves around u
    /// last found nothing, at tested_at_[u] (EngineSolution::Changes). Until u's route, a
    /// neighbour's route or a state every move reads (the longest routes under min-max,
    /// which routes are empty: shared_at_) changes after that, they would find nothing
    /// again, and later passes skip u. empty_: which routes were empty.
    bool Settled(const EngineSolution& solution, std::uint32_t u) const;
    std::vector<std::uint32_t> tested_in_;
    std::vector<std::uint64_t> tested_at_;
    std::uint32_t descent_ = 0;
    std::uint64_t shared_at_ = 0;
    std::vector<std::uint8_t> empty_;
    /// listed_[v] == stamp_: v is in the current descent's order.
    std::vector<std::uint32_t> listed_;
    std::uint32_t stamp_ = 0;
};

}  // namespace vornik

#endif  // VORNIK_IMPROVE_LOCALSEARCH_H
