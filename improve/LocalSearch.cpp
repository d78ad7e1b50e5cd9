#include "improve/LocalSearch.h"

#include <algorithm>
#include <iterator>

#include "improve/ExchangeMove.h"
#include "improve/RelocateMove.h"
#include "improve/TwoOptMove.h"
#include "improve/TwoOptStarMove.h"

namespace vornik {

namespace {

constexpr double kImprovement = 1e-9;

// With windows, a route of at least this many visits gets run tables before moves inside
// it are priced; a shorter one is walked, which costs less than building them (measured
// on the fleet sets: tables on every route made min-sum descents 10-20 % slower).
constexpr std::size_t kRunTableVisits = 16;

void PrepareRuns(EngineSolution& solution, std::size_t a) {
    if (solution.Route(a).visits.size() >= kRunTableVisits) solution.PrepareRuns(a);
}

bool Finite(double cost) { return cost != EngineSolution::kInfeasible; }

// EngineParams::infeasible_search: 0 never, 1 wherever a window or a capacity can be
// broken, 2 where that measured better (min-sum with capacities, without windows, below
// EngineParams::infeasible_targets targets when that is set).
bool CrossesInfeasibleSpace(const EngineModel& model, const EngineParams& params) {
    if (params.infeasible_search == 1) return model.HasWindows() || model.Dimensions() > 0;
    if (params.infeasible_search == 2) {
        return model.Objective() == ObjectiveType::MinSum && model.Dimensions() > 0 &&
               !model.HasWindows() &&
               (params.infeasible_targets == 0 ||
                model.Targets().size() < params.infeasible_targets);
    }
    return false;
}

}  // namespace

LocalSearch::LocalSearch(const EngineModel* model, const ScoreWeights* weights,
                         const EngineParams& params)
    : model_(model),
      weights_(weights),
      granularity_(params.granularity),
      longest_string_(params.longest_string),
      infeasible_search_(CrossesInfeasibleSpace(*model, params)),
      feasible_share_(params.feasible_share),
      take_up_(params.take_up) {
    // Lateness starts at the price of travel; excess load at the longest leg from a depot
    // per largest demand, so that one unit over capacity costs about one detour.
    double longest_leg = 0.0;
    double largest_demand = 0.0;
    for (const std::uint32_t v : model->Targets()) {
        for (std::size_t d = 0; d < model->Dimensions(); ++d) {
            largest_demand = std::max(largest_demand, model->Demand(v, d));
        }
    }
    if (largest_demand > 0) {
        // One agent per type and start stands for all: their legs are the same (a
        // thousand agents on 10,000 targets made this a tenth of a second).
        std::vector<std::size_t> starts;
        for (std::size_t a = 0; a < model->NumAgents(); ++a) {
            const bool seen = std::any_of(starts.begin(), starts.end(), [&](std::size_t b) {
                return model->SameType(a, b) && model->Agent(a).start == model->Agent(b).start;
            });
            if (!seen) starts.push_back(a);
        }
        for (const std::uint32_t v : model->Targets()) {
            for (const std::size_t a : starts) {
                const double leg = model->Cost(a, model->Agent(a).start, v);
                if (Finite(leg)) longest_leg = std::max(longest_leg, leg);
            }
        }
    }
    penalties_.time_warp = 1.0;
    penalties_.excess_load =
        largest_demand > 0 ? std::clamp(longest_leg / largest_demand, 0.1, 1000.0) : 1.0;
    initial_ = penalties_;
}

namespace {
constexpr std::size_t kAdaptEvery = 100;
// Repairs price breaking a rule at these multiples of the current weights, as hybrid
// genetic search does (ten times), and once more at a hundred.
constexpr double kRepairBoosts[] = {10.0, 100.0};
}  // namespace

void LocalSearch::Adapt(bool no_warp, bool no_excess) {
    ++descents_;
    without_warp_ += no_warp ? 1 : 0;
    without_excess_ += no_excess ? 1 : 0;
    if (descents_ < kAdaptEvery) return;
    const auto move = [&](double& weight, double initial, std::size_t feasible) {
        const double share = static_cast<double>(feasible) / static_cast<double>(descents_);
        if (share < feasible_share_ - 0.05) weight *= 1.2;
        if (share > feasible_share_ + 0.05) weight *= 0.85;
        weight = std::clamp(weight, 1e-3 * initial, 1e3 * initial);
    };
    move(penalties_.time_warp, initial_.time_warp, without_warp_);
    move(penalties_.excess_load, initial_.excess_load, without_excess_);
    descents_ = without_warp_ = without_excess_ = 0;
}

void LocalSearch::RefreshLargest(const EngineSolution& solution) {
    Ranked before[3];
    std::copy(std::begin(largest_), std::end(largest_), std::begin(before));
    for (Ranked& entry : largest_) entry = Ranked{};
    bool emptiness = false;
    for (std::size_t r = 0; r < solution.NumRoutes(); ++r) {
        Ranked entry{solution.PricedCost(r), r};
        for (Ranked& slot : largest_) {
            if (slot.route == kNone || entry.cost > slot.cost) std::swap(slot, entry);
            if (entry.route == kNone) break;
        }
        const std::uint8_t empty = solution.Route(r).visits.empty() ? 1 : 0;
        if (r < empty_.size() && empty_[r] != empty) {
            empty_[r] = empty;
            emptiness = true;
        }
    }
    // Under min-max every move's price reads the longest routes.
    bool longest = false;
    if (weights_->max_weight > 0) {
        for (std::size_t k = 0; k < 3; ++k) {
            longest = longest || before[k].route != largest_[k].route ||
                      !(before[k].cost == largest_[k].cost);
        }
    }
    if (emptiness || longest) shared_at_ = solution.Changes();
}

bool LocalSearch::Settled(const EngineSolution& solution, std::uint32_t u) const {
    if (tested_in_[u] != descent_) return false;
    const std::uint64_t at = tested_at_[u];
    if (shared_at_ > at) return false;
    const auto changed = [&](std::int64_t route) {
        return route >= 0 && solution.Route(static_cast<std::size_t>(route)).changed_at > at;
    };
    if (changed(solution.RouteOf(u))) return false;
    const std::vector<std::uint32_t>& near = model_->Neighbours(u);
    for (std::size_t k = 0; k < std::min(granularity_, near.size()); ++k) {
        if (changed(solution.RouteOf(near[k]))) return false;
    }
    return true;
}

double LocalSearch::Delta(const EngineSolution& solution, std::size_t a, double cost_a,
                          std::size_t b, double cost_b) const {
    if (!Finite(cost_a) || (b != kNone && !Finite(cost_b))) return EngineSolution::kInfeasible;
    // Each route's present cost read once: this runs for every move tried.
    const ScoreWeights& weights = *weights_;
    const double was_a = solution.PricedCost(a);
    const double was_b = b != kNone ? solution.PricedCost(b) : 0.0;
    double delta = weights.sum_weight * (cost_a - was_a);
    if (b != kNone) delta += weights.sum_weight * (cost_b - was_b);
    if (weights.over_weight > 0) {
        delta += weights.Excess(cost_a) - weights.Excess(was_a);
        if (b != kNone) delta += weights.Excess(cost_b) - weights.Excess(was_b);
    }
    if (weights.max_weight > 0) {
        double others = 0.0;
        for (const Ranked& entry : largest_) {
            if (entry.route != kNone && entry.route != a && entry.route != b) {
                others = entry.cost;
                break;
            }
        }
        double new_max = std::max(others, cost_a);
        if (b != kNone) new_max = std::max(new_max, cost_b);
        delta += weights.max_weight * (new_max - largest_[0].cost);
    }
    return delta;
}

void LocalSearch::Apply(EngineSolution& solution, std::size_t a,
                        std::vector<std::uint32_t> visits_a, std::size_t b,
                        std::vector<std::uint32_t> visits_b) {
    // Clear b first when it receives targets of a, so that no target is in two routes
    // between the two calls.
    if (b != kNone) solution.SetVisits(b, std::move(visits_b));
    solution.SetVisits(a, std::move(visits_a));
    RefreshLargest(solution);
}

namespace {
// Targets between two questions to the stop check: its clock costs about a microsecond.
constexpr std::size_t kTargetsPerStopCheck = 64;
}  // namespace

std::size_t LocalSearch::Run(EngineSolution& solution, std::mt19937_64& rng,
                             const std::vector<std::uint32_t>* focus) {
    stopped_ = false;
    if (!infeasible_search_) return Descend(solution, rng, focus);
    // Only the routes the descent changes are kept, as they were, for going back.
    touched_.clear();
    touched_stamp_.resize(solution.NumRoutes(), 0);
    if (++route_stamp_ == 0) {
        std::fill(touched_stamp_.begin(), touched_stamp_.end(), 0);
        route_stamp_ = 1;
    }
    start_unassigned_ = solution.Unassigned();
    solution.SetPenalties(&penalties_);
    std::size_t applied = Descend(solution, rng, focus);
    const auto within = [&](bool warp) {
        for (const Touched& route : touched_) {
            const std::size_t a = route.route;
            if ((warp ? solution.TimeWarp(a) : solution.ExcessLoad(a)) > 0) return false;
        }
        return true;
    };
    Adapt(within(true), within(false));
    for (const double boost : kRepairBoosts) {
        if (stopped_ || (within(true) && within(false))) break;
        repair_ = PenaltyWeights{boost * penalties_.time_warp, boost * penalties_.excess_load};
        solution.SetPenalties(&repair_);
        applied += Descend(solution, rng, focus);
    }
    solution.SetPenalties(nullptr);
    // A route that kept the rules before the descent must keep them after it.
    bool kept = true;
    for (const Touched& route : touched_) {
        kept = kept && (Finite(solution.Route(route.route).cost) || !route.feasible);
    }
    if (!kept) {
        solution.MutableUnassigned() = start_unassigned_;
        for (Touched& route : touched_) solution.SetVisits(route.route, std::move(route.visits));
        if (!stopped_) applied += Descend(solution, rng, focus);
    }
    touched_.clear();
    return applied;
}

void LocalSearch::Touch(const EngineSolution& solution, std::size_t a) {
    if (solution.Penalties() == nullptr || a == kNone || touched_stamp_[a] == route_stamp_) return;
    touched_stamp_[a] = route_stamp_;
    touched_.push_back(Touched{a, solution.Route(a).visits, Finite(solution.Route(a).cost)});
}

std::size_t LocalSearch::Descend(EngineSolution& solution, std::mt19937_64& rng,
                                 const std::vector<std::uint32_t>* focus) {
    std::vector<std::uint32_t> order = focus != nullptr ? *focus : model_->Targets();
    std::shuffle(order.begin(), order.end(), rng);
    tested_in_.resize(model_->NumVertices(), 0);
    tested_at_.resize(model_->NumVertices(), 0);
    if (++descent_ == 0) {
        std::fill(tested_in_.begin(), tested_in_.end(), 0);
        descent_ = 1;
    }
    empty_.resize(solution.NumRoutes());
    for (std::size_t r = 0; r < solution.NumRoutes(); ++r) {
        empty_[r] = solution.Route(r).visits.empty() ? 1 : 0;
    }
    RefreshLargest(solution);
    shared_at_ = 0;
    // Through infeasible space, a focused descent also takes up the targets of every
    // route it makes late or overloaded: the move that mends such a route is seldom
    // next to the one that broke it.
    const bool widen = focus != nullptr && solution.Penalties() != nullptr;
    if (widen) {
        listed_.resize(model_->NumVertices(), 0);
        if (++stamp_ == 0) {
            std::fill(listed_.begin(), listed_.end(), 0);
            stamp_ = 1;
        }
        for (const std::uint32_t v : order) listed_[v] = stamp_;
    }
    // Bounded (EngineParams::take_up): unbounded, descents become nearly global.
    const auto widest =
        static_cast<std::size_t>(static_cast<double>(order.size()) * (1.0 + take_up_));
    const auto take_up = [&](std::int64_t route) {
        if (!widen || route < 0 || order.size() >= widest) return;
        const auto r = static_cast<std::size_t>(route);
        if (solution.TimeWarp(r) <= 0 && solution.ExcessLoad(r) <= 0) return;
        for (const std::uint32_t v : solution.Route(r).visits) {
            if (listed_[v] != stamp_ && order.size() < widest) {
                listed_[v] = stamp_;
                order.push_back(v);
            }
        }
    };
    std::size_t applied = 0;
    bool improved = true;
    for (int pass = 0; improved && pass < 100; ++pass) {
        improved = false;
        std::size_t visited = 0;
        for (std::size_t next = 0; next < order.size(); ++next) {
            const std::uint32_t u = order[next];
            if (stop_ && ++visited % kTargetsPerStopCheck == 0 && stop_()) {
                stopped_ = true;
                return applied;
            }
            if (solution.RouteOf(u) < 0) {
                if (!model_->Required(u) && TryInsertOptional(solution, u)) {
                    improved = true;
                    ++applied;
                }
                continue;
            }
            if (Settled(solution, u)) continue;
            const std::size_t applied_before = applied;
            do {
                const std::vector<std::uint32_t>& near = model_->Neighbours(u);
                const std::size_t count = std::min(granularity_, near.size());
                for (std::size_t k = 0; k < count; ++k) {
                    const std::uint32_t v = near[k];
                    if (solution.RouteOf(v) < 0) continue;
                    if (TryRelocate(solution, u, v) || TrySwap(solution, u, v) ||
                        TryTwoOpt(solution, u, v) || TryTwoOptStar(solution, u, v)) {
                        improved = true;
                        ++applied;
                        take_up(solution.RouteOf(u));
                        take_up(solution.RouteOf(v));
                        if (solution.RouteOf(u) < 0) break;
                    }
                }
                if (solution.RouteOf(u) < 0) break;
                if (!model_->Required(u) && TryDropOptional(solution, u)) {
                    improved = true;
                    ++applied;
                    break;
                }
                // A target may also open an empty route, which no neighbour list reaches.
                const auto a = static_cast<std::size_t>(solution.RouteOf(u));
                if (solution.Route(a).visits.size() < 2) break;
                const std::size_t pu = solution.PositionOf(u);
                const double removed = solution.RemovalCost(a, pu - 1, pu + 1);
                for (std::size_t r = 0; r < solution.NumRoutes(); ++r) {
                    if (r == a || !solution.Route(r).visits.empty() || !model_->CanServe(r, u)) {
                        continue;
                    }
                    const double delta =
                        Delta(solution, a, removed, r, solution.InsertionCost(r, u, 0));
                    if (delta < -kImprovement) {
                        std::vector<std::uint32_t> visits_a = solution.Route(a).visits;
                        visits_a.erase(visits_a.begin() + static_cast<std::ptrdiff_t>(pu - 1));
                        Touch(solution, a);
                        Touch(solution, r);
                        Apply(solution, a, std::move(visits_a), r, {u});
                        improved = true;
                        ++applied;
                        break;
                    }
                }
            } while (false);
            if (applied == applied_before) {
                tested_in_[u] = descent_;
                tested_at_[u] = solution.Changes();
            }
        }
    }
    return applied;
}

bool LocalSearch::TryDropOptional(EngineSolution& solution, std::uint32_t u) {
    const auto a = static_cast<std::size_t>(solution.RouteOf(u));
    const std::size_t pu = solution.PositionOf(u);
    const double removed = solution.RemovalCost(a, pu - 1, pu + 1);
    // Leaving u out saves its share of the route and costs its penalty.
    if (!(Delta(solution, a, removed, kNone, 0.0) + model_->Penalty(u) < -kImprovement)) {
        return false;
    }
    Touch(solution, a);
    solution.RemoveVisits(a, pu, pu);
    RefreshLargest(solution);
    return true;
}

bool LocalSearch::TryInsertOptional(EngineSolution& solution, std::uint32_t u) {
    if (!model_->Servable(u)) return false;
    // Places next to u's nearest served neighbours, and empty routes.
    double best = -model_->Penalty(u) - kImprovement;
    std::size_t best_route = kNone;
    std::size_t best_position = 0;
    const auto consider = [&](std::size_t r, std::size_t i) {
        if (!model_->CanServe(r, u)) return;
        const double delta =
            Delta(solution, r, solution.InsertionCost(r, u, i), kNone, 0.0) - model_->Penalty(u);
        if (delta < best) {
            best = delta;
            best_route = r;
            best_position = i;
        }
    };
    const std::vector<std::uint32_t>& near = model_->Neighbours(u);
    for (std::size_t k = 0; k < std::min(granularity_, near.size()); ++k) {
        const std::int64_t r = solution.RouteOf(near[k]);
        if (r < 0) continue;
        const std::size_t position = solution.PositionOf(near[k]);
        consider(static_cast<std::size_t>(r), position - 1);
        consider(static_cast<std::size_t>(r), position);
    }
    for (std::size_t r = 0; r < solution.NumRoutes(); ++r) {
        if (solution.Route(r).visits.empty()) consider(r, 0);
    }
    if (best_route == kNone) return false;
    Touch(solution, best_route);
    solution.Insert(best_route, u, best_position);
    RefreshLargest(solution);
    return true;
}

bool LocalSearch::Improves(const EngineSolution& solution, const MoveCosts& costs) const {
    return Delta(solution, costs.first, costs.first_cost, costs.second, costs.second_cost) <
           -kImprovement;
}

template <typename Move>
bool LocalSearch::TryMove(EngineSolution& solution, const Move& move) {
    // Where a move has a cheap estimate, a move that does not look better is dropped on
    // it, and one that does is priced exactly, so that rounding never applies a move
    // that is not better.
    if constexpr (kHasEstimate<Move>) {
        if (move.Estimable(solution) && !Improves(solution, move.Estimate(solution))) return false;
    }
    const MoveCosts costs = move.Evaluate(solution);
    if (!Improves(solution, costs)) return false;
    Touch(solution, costs.first);
    Touch(solution, costs.second);
    move.Apply(solution);
    RefreshLargest(solution);
    return true;
}

bool LocalSearch::TryRelocate(EngineSolution& solution, std::uint32_t u, std::uint32_t v) {
    const auto a = static_cast<std::size_t>(solution.RouteOf(u));
    const auto b = static_cast<std::size_t>(solution.RouteOf(v));
    const std::size_t size = solution.Route(a).visits.size();
    const std::size_t pu = solution.PositionOf(u);
    const std::size_t pv = solution.PositionOf(v);
    if (a == b) PrepareRuns(solution, a);
    for (std::size_t length = 1; length <= longest_string_ && pu + length - 1 <= size; ++length) {
        // The string u .. and whether v lies inside it.
        if (a == b && pv >= pu && pv < pu + length) break;
        for (int reversed = 0; reversed < (length > 1 ? 2 : 1); ++reversed) {
            // Either after v or before v.
            for (int side = 0; side < 2; ++side) {
                const RelocateMove move{a, pu, length, reversed == 1, b, side == 0 ? pv : pv - 1};
                if (a == b ? TryMove(solution, move.AsWithinRoute()) : TryMove(solution, move)) {
                    return true;
                }
            }
        }
    }
    return false;
}

bool LocalSearch::TrySwap(EngineSolution& solution, std::uint32_t u, std::uint32_t v) {
    const auto a = static_cast<std::size_t>(solution.RouteOf(u));
    const auto b = static_cast<std::size_t>(solution.RouteOf(v));
    if (a == b) return false;
    const std::size_t size_a = solution.Route(a).visits.size();
    const std::size_t size_b = solution.Route(b).visits.size();
    const std::size_t pu = solution.PositionOf(u);
    const std::size_t pv = solution.PositionOf(v);
    for (std::size_t la = 1; la <= longest_string_ && pu + la - 1 <= size_a; ++la) {
        for (std::size_t lb = 1; lb <= longest_string_ && pv + lb - 1 <= size_b; ++lb) {
            if (TryMove(solution, ExchangeMove{a, pu, la, b, pv, lb})) return true;
        }
    }
    return false;
}

bool LocalSearch::TryTwoOpt(EngineSolution& solution, std::uint32_t u, std::uint32_t v) {
    const auto a = static_cast<std::size_t>(solution.RouteOf(u));
    if (solution.RouteOf(v) != static_cast<std::int64_t>(a)) return false;
    const std::size_t first = std::min(solution.PositionOf(u), solution.PositionOf(v));
    const std::size_t last = std::max(solution.PositionOf(u), solution.PositionOf(v));
    if (last - first < 2) return false;
    PrepareRuns(solution, a);
    // Two reversals make the pair adjacent: of positions first + 1 .. last (the vertex at
    // `first` then precedes the one that was at `last`), or of first .. last - 1 (the
    // vertex that was at `first` then precedes the one at `last`).
    for (std::size_t shift = 0; shift < 2; ++shift) {
        if (TryMove(solution, TwoOptMove{a, first + 1 - shift, last - shift})) return true;
    }
    return false;
}

bool LocalSearch::TryTwoOptStar(EngineSolution& solution, std::uint32_t u, std::uint32_t v) {
    const auto a = static_cast<std::size_t>(solution.RouteOf(u));
    const auto b = static_cast<std::size_t>(solution.RouteOf(v));
    if (a == b) return false;
    PrepareRuns(solution, a);
    PrepareRuns(solution, b);
    // Route a keeps its head up to u and takes b's tail from v on; b takes a's tail.
    return TryMove(solution, TwoOptStarMove{a, solution.PositionOf(u), b, solution.PositionOf(v)});
}

}  // namespace vornik
