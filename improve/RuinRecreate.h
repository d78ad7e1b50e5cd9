#ifndef VORNIK_IMPROVE_RUINRECREATE_H
#define VORNIK_IMPROVE_RUINRECREATE_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <vector>

#include "improve/EngineParams.h"
#include "improve/EngineSolution.h"

namespace vornik {

/// How a partial solution is scored while routes are rebuilt: the objective itself, with
/// a share of the summed cost under min-max (so that routes below the longest one still
/// get shorter), a penalty for every required target left unserved (above any plan's
/// cost, so that serving one more always wins) and the penalties of optional targets
/// left out.
struct ScoreWeights {
    double sum_weight = 1.0;  ///< weight of the summed cost (1 under min-sum)
    double max_weight = 0.0;  ///< weight of the largest route (1 under min-max)
    double unassigned_penalty = 0.0;
    /// Each route's cost above `cap` counts `over_weight` times more (a route bound that
    /// the search may cross at a price).
    double cap = std::numeric_limits<double>::infinity();
    double over_weight = 0.0;

    double Of(const EngineSolution& solution) const;
    /// What a route of cost `cost` adds for being above the cap.
    double Excess(double cost) const { return cost > cap ? over_weight * (cost - cap) : 0.0; }
};

/// The diversification step: removes strings of neighbouring targets from a few nearby
/// routes (or random targets), then puts every unserved target back by cheapest
/// insertion with blinks. Random choices come from the generator handed in.
class RuinRecreate {
public:
    // model and weights outlive it.
    RuinRecreate(const EngineModel* model, const ScoreWeights* weights,
                 const EngineParams& params = EngineParams{});

    /// Removes about `average_removed` targets around a random seed target; with
    /// probability `longest_bias` the seed is taken from the longest route, and with
    /// probability `boundary_bias` it is one with a near neighbour in another route.
    void Ruin(EngineSolution& solution, double average_removed, double longest_bias,
              std::mt19937_64& rng, double boundary_bias = 0.0) const;
    /// Inserts every unassigned target where it raises the score least, in an order
    /// drawn at random among a few sortings; skips each position with probability
    /// `blink`. Targets that fit nowhere stay unassigned, and so do optional targets
    /// whose cheapest insertion costs no less than their penalty. Returns false, with
    /// the targets not yet tried left unassigned, when `stop` said so first.
    bool Recreate(EngineSolution& solution, double blink, std::mt19937_64& rng,
                  const std::function<bool()>& stop = {}) const;

private:
    void RemoveString(EngineSolution& solution, std::size_t route, std::uint32_t around,
                      std::size_t length, std::mt19937_64& rng) const;

    const EngineModel* model_;
    const ScoreWeights* weights_;
    /// Up to this many targets, every place of every route is tried for an insertion.
    std::size_t exhaustive_targets_;
    double max_string_;  ///< longest string one route loses
    /// For each agent, the first agent that is its twin: same cost table, start, end,
    /// limit and capacities, so that an empty route of either prices every insertion
    /// alike. A construction tries one empty route of each kind, not a thousand.
    std::vector<std::size_t> twin_;

    /// Where Recreate prices an insertion: a route and the position after which it goes,
    /// met `times` times among the target's neighbours.
    struct Place {
        std::size_t route;
        std::size_t position;
        int times;
    };
    /// Recreate's working arrays, kept between calls (one RuinRecreate per walk).
    struct Scratch {
        std::size_t stamp = 0;
        std::vector<std::size_t> tried;  ///< per twin of an empty route
        std::vector<std::size_t> target_mark, target_place;
        std::vector<std::size_t> start_mark, start_place;
        std::vector<Place> places;
    };
    mutable Scratch scratch_;
};

}  // namespace vornik

#endif  // VORNIK_IMPROVE_RUINRECREATE_H
