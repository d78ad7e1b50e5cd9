#include "improve/RuinRecreate.h"

#include <algorithm>
#include <cmath>

namespace vornik {

namespace {

// A target is on the border when one of its nearest few is another route's; a seed is
// drawn this many times at most to find one.
constexpr std::size_t kBorderNeighbours = 5;
constexpr std::size_t kBorderDraws = 50;

}  // namespace

double ScoreWeights::Of(const EngineSolution& solution) const {
    const EngineScore score = solution.Score();
    // Penalties of optional targets count at full weight under both objectives: the
    // objective is the routes' one plus the penalties.
    double excess = 0.0;
    if (over_weight > 0) {
        for (std::size_t a = 0; a < solution.NumRoutes(); ++a) {
            excess += Excess(solution.Route(a).cost);
        }
    }
    return max_weight * score.max_cost + sum_weight * score.sum_cost + excess +
           unassigned_penalty * static_cast<double>(score.missing) + score.penalty;
}

RuinRecreate::RuinRecreate(const EngineModel* model, const ScoreWeights* weights,
                           const EngineParams& params)
    : model_(model),
      weights_(weights),
      exhaustive_targets_(params.exhaustive_targets),
      max_string_(params.max_string) {
    const auto twins = [&](std::size_t a, std::size_t b) {
        const EngineAgent& x = model_->Agent(a);
        const EngineAgent& y = model_->Agent(b);
        if (x.slot != y.slot || x.start != y.start || x.end != y.end || x.limit != y.limit) {
            return false;
        }
        for (std::size_t d = 0; d < model_->Dimensions(); ++d) {
            if (model_->Capacity(a, d) != model_->Capacity(b, d)) return false;
        }
        return true;
    };
    // Agents of one kind usually come in a block, so the last new kind is tried first.
    std::vector<std::size_t> kinds;
    twin_.resize(model_->NumAgents());
    for (std::size_t a = 0; a < twin_.size(); ++a) {
        twin_[a] = a;
        for (auto kind = kinds.rbegin(); kind != kinds.rend(); ++kind) {
            if (twins(*kind, a)) {
                twin_[a] = *kind;
                break;
            }
        }
        if (twin_[a] == a) kinds.push_back(a);
    }
}

void RuinRecreate::Ruin(EngineSolution& solution, double average_removed, double longest_bias,
                        std::mt19937_64& rng, double boundary_bias) const {
    const std::size_t num_routes = solution.NumRoutes();
    std::vector<std::uint32_t> routed;
    std::size_t longest = 0;
    std::size_t used_routes = 0;
    for (std::size_t a = 0; a < num_routes; ++a) {
        const EngineRoute& route = solution.Route(a);
        if (!route.visits.empty()) ++used_routes;
        if (route.cost > solution.Route(longest).cost) longest = a;
        routed.insert(routed.end(), route.visits.begin(), route.visits.end());
    }
    if (routed.empty()) return;
    std::uniform_real_distribution<double> unit(0.0, 1.0);

    // String lengths follow the routes' average size; the number of routes touched
    // follows from how many targets should go in all.
    const double average_size = static_cast<double>(routed.size()) /
                                static_cast<double>(std::max<std::size_t>(1, used_routes));
    const double max_length = std::max(1.0, std::min(max_string_, average_size));
    const double max_strings = std::max(1.0, 4.0 * average_removed / (1.0 + max_length) - 1.0);
    const auto strings = static_cast<std::size_t>(std::floor(unit(rng) * max_strings)) + 1;

    const std::vector<std::uint32_t>* pool = &routed;
    std::uint32_t seed = routed[rng() % routed.size()];
    const EngineRoute& longest_route = solution.Route(longest);
    if (model_->Objective() == ObjectiveType::MinMax && !longest_route.visits.empty() &&
        unit(rng) < longest_bias) {
        pool = &longest_route.visits;
        seed = longest_route.visits[rng() % longest_route.visits.size()];
    }
    // A seed on the border between routes: when each route's tour is already good, a
    // ruin inside one route only redraws that tour, and the plan gains only where
    // targets change hands.
    if (boundary_bias > 0 && used_routes > 1 && unit(rng) < boundary_bias) {
        const auto on_border = [&](std::uint32_t v) {
            const std::int64_t own = solution.RouteOf(v);
            const std::vector<std::uint32_t>& near = model_->Neighbours(v);
            for (std::size_t k = 0; k < std::min<std::size_t>(kBorderNeighbours, near.size());
                 ++k) {
                const std::int64_t other = solution.RouteOf(near[k]);
                if (other >= 0 && other != own) return true;
            }
            return false;
        };
        for (std::size_t draw = 0; draw < kBorderDraws && !on_border(seed); ++draw) {
            seed = (*pool)[rng() % pool->size()];
        }
    }

    // Walk outwards from the seed; each route met for the first time loses one string
    // around the target by which it was met.
    std::vector<std::uint8_t> ruined(num_routes, 0);
    std::size_t done = 0;
    const auto visit = [&](std::uint32_t v) {
        const std::int64_t route = solution.RouteOf(v);
        if (route < 0 || ruined[static_cast<std::size_t>(route)] != 0) return;
        const std::size_t size = solution.Route(static_cast<std::size_t>(route)).visits.size();
        const double cap = std::min(static_cast<double>(size), max_length);
        const auto length = static_cast<std::size_t>(std::floor(unit(rng) * cap)) + 1;
        RemoveString(solution, static_cast<std::size_t>(route), v, length, rng);
        ruined[static_cast<std::size_t>(route)] = 1;
        ++done;
    };
    visit(seed);
    for (const std::uint32_t w : model_->Neighbours(seed)) {
        if (done >= strings) break;
        visit(w);
    }
}

void RuinRecreate::RemoveString(EngineSolution& solution, std::size_t route, std::uint32_t around,
                                std::size_t length, std::mt19937_64& rng) const {
    const std::size_t size = solution.Route(route).visits.size();
    const std::size_t position = solution.PositionOf(around);
    // A string of `length` consecutive visits that contains `around`, placed at random.
    const std::size_t lowest = position >= length ? position - length + 1 : 1;
    const std::size_t highest = std::min(position, size - length + 1);
    const std::size_t first = lowest + rng() % (highest - lowest + 1);
    solution.RemoveVisits(route, first, first + length - 1);
}

bool RuinRecreate::Recreate(EngineSolution& solution, double blink, std::mt19937_64& rng,
                            const std::function<bool()>& stop) const {
    std::vector<std::uint32_t> pending = solution.Unassigned();
    if (pending.empty()) return true;
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    // Order: random, by closing window, or far targets first (they have fewest good
    // places, so they choose before the easy ones fill the routes).
    const double pick = unit(rng);
    std::shuffle(pending.begin(), pending.end(), rng);
    if (pick < 0.3 && model_->HasWindows()) {
        std::stable_sort(pending.begin(), pending.end(), [&](std::uint32_t x, std::uint32_t y) {
            return model_->Window(x).end < model_->Window(y).end;
        });
    } else if (pick < 0.5 && solution.NumRoutes() > 0) {
        const std::uint32_t depot = model_->Agent(0).start;
        std::stable_sort(pending.begin(), pending.end(), [&](std::uint32_t x, std::uint32_t y) {
            return model_->Cost(0, depot, x) > model_->Cost(0, depot, y);
        });
    }

    const std::size_t num_routes = solution.NumRoutes();
    const bool min_max = weights_->max_weight > 0;
    double largest = 0.0;
    for (std::size_t a = 0; a < num_routes; ++a) {
        largest = std::max(largest, solution.Route(a).cost);
    }
    // On large instances only the places next to a target's nearest neighbours (and the
    // empty routes) are tried, so an insertion costs the same whatever the size; every
    // place is tried when none of those fits.
    const bool granular = model_->Targets().size() > exhaustive_targets_;
    const bool deferred = solution.DefersInsertions();
    // A place is named by the target it follows (or, first in a route, by the route).
    // Neighbours side by side in one route share places: each is priced once per target,
    // and skipped only when every one of its `times` meetings blinks, as if priced each time.
    // The marks live across calls (a stamp is never reused), so a step does not allocate
    // and clear arrays the size of the instance.
    scratch_.tried.resize(twin_.size(), 0);
    if (granular) {
        scratch_.target_mark.resize(model_->NumVertices(), 0);
        scratch_.target_place.resize(model_->NumVertices(), 0);
        scratch_.start_mark.resize(std::max(scratch_.start_mark.size(), num_routes), 0);
        scratch_.start_place.resize(scratch_.start_mark.size(), 0);
    }
    std::vector<std::size_t>& tried = scratch_.tried;
    std::size_t& stamp = scratch_.stamp;
    std::vector<Place>& places = scratch_.places;
    std::vector<std::size_t>& target_mark = scratch_.target_mark;
    std::vector<std::size_t>& target_place = scratch_.target_place;
    std::vector<std::size_t>& start_mark = scratch_.start_mark;
    std::vector<std::size_t>& start_place = scratch_.start_place;
    // Blinks come at gaps drawn once per blink, not one number per place.
    std::geometric_distribution<long> gap(blink > 0 ? blink : 0.5);
    long until_blink = blink > 0 ? gap(rng) : -1;
    for (const std::uint32_t v : pending) {
        if (stop && stop()) {
            if (deferred) solution.FinishInsertions();
            return false;
        }
        if (!model_->Servable(v)) continue;
        double best_delta = EngineSolution::kInfeasible;
        std::size_t best_route = 0;
        std::size_t best_position = 0;
        const auto consider = [&](std::size_t a, std::size_t i, int times = 1) {
            if (until_blink == 0) {
                until_blink = gap(rng);
                if (times == 1 || unit(rng) < std::pow(blink, times - 1)) return;
            } else if (until_blink > 0) {
                --until_blink;
            }
            const EngineRoute& route = solution.Route(a);
            const double cost = deferred ? solution.DeferredInsertionCost(a, v, i)
                                         : solution.InsertionCost(a, v, i);
            if (cost == EngineSolution::kInfeasible) return;
            double delta = weights_->sum_weight * (cost - route.cost);
            if (min_max) delta += weights_->max_weight * (std::max(cost, largest) - largest);
            delta += weights_->Excess(cost) - weights_->Excess(route.cost);
            if (delta < best_delta) {
                best_delta = delta;
                best_route = a;
                best_position = i;
            }
        };
        const auto usable = [&](std::size_t a) {
            return model_->CanServe(a, v) && solution.Route(a).cost != EngineSolution::kInfeasible;
        };
        if (granular) {
            ++stamp;
            places.clear();
            const auto meet = [&](std::size_t a, std::size_t i, std::size_t& mark,
                                  std::size_t& place) {
                if (mark == stamp) {
                    ++places[place].times;
                    return;
                }
                mark = stamp;
                place = places.size();
                places.push_back(Place{a, i, 1});
            };
            for (const std::uint32_t w : model_->Neighbours(v)) {
                const std::int64_t route = solution.RouteOf(w);
                if (route < 0 || !usable(static_cast<std::size_t>(route))) continue;
                const auto a = static_cast<std::size_t>(route);
                const std::size_t position = solution.PositionOf(w);
                if (position == 1) {
                    meet(a, 0, start_mark[a], start_place[a]);
                } else {
                    const std::uint32_t u = solution.Route(a).visits[position - 2];
                    meet(a, position - 1, target_mark[u], target_place[u]);
                }
                meet(a, position, target_mark[w], target_place[w]);
            }
            for (const Place& place : places) consider(place.route, place.position, place.times);
            for (std::size_t a = 0; a < num_routes; ++a) {
                if (!solution.Route(a).visits.empty() || !usable(a)) continue;
                // Without blinks an empty twin of a route already tried cannot do better
                // (the first of equal places wins), so it is not priced again.
                if (blink <= 0 && a < twin_.size()) {
                    if (tried[twin_[a]] == stamp) continue;
                    tried[twin_[a]] = stamp;
                }
                consider(a, 0);
            }
        }
        if (!granular || best_delta == EngineSolution::kInfeasible) {
            for (std::size_t a = 0; a < num_routes; ++a) {
                if (!usable(a)) continue;
                for (std::size_t i = 0; i <= solution.Route(a).visits.size(); ++i) consider(a, i);
            }
        }
        if (best_delta == EngineSolution::kInfeasible) continue;
        // An optional target goes in only where serving it costs less than leaving it out.
        if (!model_->Required(v) && !(best_delta < model_->Penalty(v))) continue;
        if (deferred) {
            solution.InsertDeferred(best_route, v, best_position);
        } else {
            solution.Insert(best_route, v, best_position);
        }
        largest = std::max(largest, solution.Route(best_route).cost);
    }
    if (deferred) solution.FinishInsertions();
    return true;
}

}  // namespace vornik
