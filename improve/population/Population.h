#ifndef VORNIK_IMPROVE_POPULATION_POPULATION_H
#define VORNIK_IMPROVE_POPULATION_POPULATION_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "improve/EngineSolution.h"

namespace vornik {

/// A solution in the population with what selection needs: its score and, for the
/// broken-pairs distance, each target's neighbours in its route.
struct Individual {
    explicit Individual(EngineSolution plan, double score);

    EngineSolution solution;
    double score;
    /// The routes' visits, agent by agent: the tour that crossover recombines.
    std::vector<std::uint32_t> tour;
    /// next[v] / previous[v]: the vertex after / before target v in its route, kDepot at a
    /// route's ends and kOut for a target no route serves.
    std::vector<std::uint32_t> next;
    std::vector<std::uint32_t> previous;
    /// Broken-pairs distances to the other individuals, nearest first, with their ids.
    std::vector<std::pair<double, std::uint64_t>> near;
    std::uint64_t id = 0;
    double biased_fitness = 0.0;

    static constexpr std::uint32_t kDepot = static_cast<std::uint32_t>(-1);
    static constexpr std::uint32_t kOut = static_cast<std::uint32_t>(-2);
};

/// Share of targets whose neighbours in `a` are not neighbours in `b` (a pair counts
/// whichever way round it is walked), in [0, 1].
double BrokenPairsDistance(const EngineModel& model, const Individual& a, const Individual& b);

/// How many to keep, how many to breed before thinning, and how diversity weighs.
struct PopulationShape {
    std::size_t size = 25;       ///< individuals kept after thinning
    std::size_t offspring = 40;  ///< individuals added before the population is thinned
    std::size_t elite = 4;       ///< best individuals that diversity cannot push out
    std::size_t closest = 5;     ///< neighbours whose distance measures an individual's diversity
};

/// Individuals ranked by a fitness biased towards diversity: the rank of the score plus,
/// weighted by the share of non-elite individuals, the rank of the mean distance to the
/// closest others. When it outgrows size + offspring, it is thinned back to size,
/// removing clones first, then the worst biased fitness.
class Population {
public:
    Population(const EngineModel* model, PopulationShape shape);

    std::size_t Size() const { return members_.size(); }
    void Add(std::unique_ptr<Individual> individual);
    /// Binary tournament on biased fitness.
    const Individual& Pick(std::mt19937_64& rng);
    void Clear() { members_.clear(); }

private:
    void UpdateFitness();
    void RemoveWorst();
    double MeanNearest(const Individual& individual) const;

    const EngineModel* model_;
    PopulationShape shape_;
    std::vector<std::unique_ptr<Individual>> members_;
    std::uint64_t next_id_ = 0;
};

}  // namespace vornik

#endif  // VORNIK_IMPROVE_POPULATION_POPULATION_H
