#include "improve/population/Population.h"

#include <algorithm>
#include <numeric>
#include <utility>

namespace vornik {

Individual::Individual(EngineSolution plan, double value)
    : solution(std::move(plan)), score(value) {
    const EngineModel& model = solution.Model();
    next.assign(model.NumVertices(), kOut);
    previous.assign(model.NumVertices(), kOut);
    for (std::size_t a = 0; a < solution.NumRoutes(); ++a) {
        const std::vector<std::uint32_t>& visits = solution.Route(a).visits;
        for (std::size_t p = 0; p < visits.size(); ++p) {
            previous[visits[p]] = p == 0 ? kDepot : visits[p - 1];
            next[visits[p]] = p + 1 == visits.size() ? kDepot : visits[p + 1];
        }
        tour.insert(tour.end(), visits.begin(), visits.end());
    }
}

double BrokenPairsDistance(const EngineModel& model, const Individual& a, const Individual& b) {
    const std::vector<std::uint32_t>& targets = model.Targets();
    if (targets.empty()) return 0.0;
    std::size_t broken = 0;
    for (const std::uint32_t v : targets) {
        // The pair (v, next) and, at a route's start, (depot, v).
        if (a.next[v] != b.next[v] && a.next[v] != b.previous[v]) ++broken;
        if (a.previous[v] == Individual::kDepot && b.previous[v] != Individual::kDepot &&
            b.next[v] != Individual::kDepot) {
            ++broken;
        }
    }
    return static_cast<double>(broken) / static_cast<double>(targets.size());
}

Population::Population(const EngineModel* model, PopulationShape shape)
    : model_(model), shape_(shape) {}

void Population::Add(std::unique_ptr<Individual> individual) {
    individual->id = next_id_++;
    individual->near.clear();
    for (const std::unique_ptr<Individual>& other : members_) {
        const double distance = BrokenPairsDistance(*model_, *individual, *other);
        const auto by_distance = [](const std::pair<double, std::uint64_t>& x,
                                    const std::pair<double, std::uint64_t>& y) { return x < y; };
        other->near.insert(std::upper_bound(other->near.begin(), other->near.end(),
                                            std::make_pair(distance, individual->id), by_distance),
                           {distance, individual->id});
        individual->near.emplace_back(distance, other->id);
    }
    std::sort(individual->near.begin(), individual->near.end());
    members_.push_back(std::move(individual));
    if (members_.size() > shape_.size + shape_.offspring) {
        while (members_.size() > shape_.size) RemoveWorst();
    }
}

double Population::MeanNearest(const Individual& individual) const {
    const std::size_t count = std::min(shape_.closest, individual.near.size());
    if (count == 0) return 0.0;
    double total = 0.0;
    for (std::size_t k = 0; k < count; ++k) total += individual.near[k].first;
    return total / static_cast<double>(count);
}

void Population::UpdateFitness() {
    const std::size_t size = members_.size();
    if (size == 1) {
        members_[0]->biased_fitness = 0.0;
        return;
    }
    std::vector<std::size_t> order(size);
    std::iota(order.begin(), order.end(), 0);
    // Ties keep the order of arrival, so that runs repeat.
    std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
        return members_[x]->score < members_[y]->score;
    });
    std::vector<double> diversity(size);
    for (std::size_t k = 0; k < size; ++k) diversity[k] = MeanNearest(*members_[k]);
    std::vector<std::size_t> by_diversity(size);
    std::iota(by_diversity.begin(), by_diversity.end(), 0);
    std::stable_sort(by_diversity.begin(), by_diversity.end(),
                     [&](std::size_t x, std::size_t y) { return diversity[x] > diversity[y]; });
    std::vector<double> diversity_rank(size);
    const double last = static_cast<double>(size - 1);
    for (std::size_t r = 0; r < size; ++r) diversity_rank[by_diversity[r]] = r / last;
    const double weight =
        1.0 - static_cast<double>(std::min(shape_.elite, size)) / static_cast<double>(size);
    for (std::size_t r = 0; r < size; ++r) {
        const std::size_t k = order[r];
        members_[k]->biased_fitness = r / last + weight * diversity_rank[k];
    }
}

void Population::RemoveWorst() {
    UpdateFitness();
    const auto clone = [](const Individual& member) {
        return !member.near.empty() && member.near.front().first <= 1e-12;
    };
    std::size_t worst = 0;
    bool worst_clone = clone(*members_[0]);
    for (std::size_t k = 1; k < members_.size(); ++k) {
        const bool is_clone = clone(*members_[k]);
        if ((is_clone && !worst_clone) ||
            (is_clone == worst_clone &&
             members_[k]->biased_fitness > members_[worst]->biased_fitness)) {
            worst = k;
            worst_clone = is_clone;
        }
    }
    const std::uint64_t gone = members_[worst]->id;
    members_.erase(members_.begin() + static_cast<std::ptrdiff_t>(worst));
    for (const std::unique_ptr<Individual>& member : members_) {
        auto& near = member->near;
        near.erase(std::remove_if(near.begin(), near.end(),
                                  [gone](const std::pair<double, std::uint64_t>& entry) {
                                      return entry.second == gone;
                                  }),
                   near.end());
    }
}

const Individual& Population::Pick(std::mt19937_64& rng) {
    UpdateFitness();
    const std::size_t x = rng() % members_.size();
    const std::size_t y = rng() % members_.size();
    return members_[x]->biased_fitness <= members_[y]->biased_fitness ? *members_[x] : *members_[y];
}

}  // namespace vornik
