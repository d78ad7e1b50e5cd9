#include "improve/LocalSearch.h"

#include <algorithm>
#include <iterator>

namespace vornik {

namespace {

constexpr double kImprovement = 1e-9;

bool Finite(double cost) { return cost != EngineSolution::kInfeasible; }

}  // namespace

LocalSearch::LocalSearch(const EngineModel* model, const ScoreWeights* weights,
                         const EngineParams& params)
    : model_(model),
      weights_(weights),
      granularity_(params.granularity),
      longest_string_(params.longest_string) {}

void LocalSearch::RefreshLargest(const EngineSolution& solution) {
    for (Ranked& entry : largest_) entry = Ranked{};
    for (std::size_t r = 0; r < solution.NumRoutes(); ++r) {
        Ranked entry{solution.Route(r).cost, r};
        for (Ranked& slot : largest_) {
            if (slot.route == kNone || entry.cost > slot.cost) std::swap(slot, entry);
            if (entry.route == kNone) break;
        }
    }
}

double LocalSearch::Delta(const EngineSolution& solution, std::size_t a, double cost_a,
                          std::size_t b, double cost_b) const {
    if (!Finite(cost_a) || (b != kNone && !Finite(cost_b))) return EngineSolution::kInfeasible;
    double delta = weights_->sum_weight * (cost_a - solution.Route(a).cost);
    if (b != kNone) delta += weights_->sum_weight * (cost_b - solution.Route(b).cost);
    if (weights_->max_weight > 0) {
        double others = 0.0;
        for (const Ranked& entry : largest_) {
            if (entry.route != kNone && entry.route != a && entry.route != b) {
                others = entry.cost;
                break;
            }
        }
        double new_max = std::max(others, cost_a);
        if (b != kNone) new_max = std::max(new_max, cost_b);
        delta += weights_->max_weight * (new_max - largest_[0].cost);
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

std::size_t LocalSearch::Run(EngineSolution& solution, std::mt19937_64& rng,
                             const std::vector<std::uint32_t>* focus) {
    std::vector<std::uint32_t> order = focus != nullptr ? *focus : model_->Targets();
    std::shuffle(order.begin(), order.end(), rng);
    RefreshLargest(solution);
    std::size_t applied = 0;
    bool improved = true;
    for (int pass = 0; improved && pass < 100; ++pass) {
        improved = false;
        for (const std::uint32_t u : order) {
            if (solution.RouteOf(u) < 0) {
                if (!model_->Required(u) && TryInsertOptional(solution, u)) {
                    improved = true;
                    ++applied;
                }
                continue;
            }
            const std::vector<std::uint32_t>& near = model_->Neighbours(u);
            const std::size_t count = std::min(granularity_, near.size());
            for (std::size_t k = 0; k < count; ++k) {
                const std::uint32_t v = near[k];
                if (solution.RouteOf(v) < 0) continue;
                if (TryRelocate(solution, u, v) || TrySwap(solution, u, v) ||
                    TryTwoOpt(solution, u, v) || TryTwoOptStar(solution, u, v)) {
                    improved = true;
                    ++applied;
                    if (solution.RouteOf(u) < 0) break;
                }
            }
            if (solution.RouteOf(u) < 0) continue;
            if (!model_->Required(u) && TryDropOptional(solution, u)) {
                improved = true;
                ++applied;
                continue;
            }
            // A target may also open an empty route, which no neighbour list reaches.
            const auto a = static_cast<std::size_t>(solution.RouteOf(u));
            if (solution.Route(a).visits.size() < 2) continue;
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
                    Apply(solution, a, std::move(visits_a), r, {u});
                    improved = true;
                    ++applied;
                    break;
                }
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
    solution.Insert(best_route, u, best_position);
    RefreshLargest(solution);
    return true;
}

bool LocalSearch::TryRelocate(EngineSolution& solution, std::uint32_t u, std::uint32_t v) {
    const auto a = static_cast<std::size_t>(solution.RouteOf(u));
    const auto b = static_cast<std::size_t>(solution.RouteOf(v));
    const std::vector<std::uint32_t>& from = solution.Route(a).visits;
    const std::size_t pu = solution.PositionOf(u);
    const std::size_t pv = solution.PositionOf(v);
    for (std::size_t length = 1; length <= longest_string_ && pu + length - 1 <= from.size();
         ++length) {
        // The string u .. and whether v lies inside it.
        if (a == b && pv >= pu && pv < pu + length) break;
        scratch_a_.assign(from.begin() + static_cast<std::ptrdiff_t>(pu - 1),
                          from.begin() + static_cast<std::ptrdiff_t>(pu - 1 + length));
        for (int reversed = 0; reversed < (length > 1 ? 2 : 1); ++reversed) {
            if (reversed == 1) std::reverse(scratch_a_.begin(), scratch_a_.end());
            // Either after v or before v.
            for (int side = 0; side < 2; ++side) {
                const std::size_t gap = side == 0 ? pv : pv - 1;  // insert after position gap
                if (a != b) {
                    const double cost_a = solution.RemovalCost(a, pu - 1, pu + length);
                    const double cost_b =
                        solution.Splice(b, gap, scratch_a_.begin(), scratch_a_.end(), gap + 1);
                    if (Delta(solution, a, cost_a, b, cost_b) < -kImprovement) {
                        const std::uint32_t* none = nullptr;
                        Apply(solution, a, solution.Spliced(a, pu - 1, none, none, pu + length), b,
                              solution.Spliced(b, gap, scratch_a_.begin(), scratch_a_.end(),
                                               gap + 1));
                        return true;
                    }
                } else {
                    // Within one route only the stretch between the string and v changes
                    // places: it and the string are the new positions i + 1 .. j - 1.
                    const RouteRun string{pu, pu + length - 1, reversed == 1};
                    std::size_t i = 0;
                    std::size_t j = 0;
                    RouteRun runs[2];
                    if (pv > pu) {
                        i = pu - 1;
                        j = side == 0 ? pv + 1 : pv;
                        runs[0] = RouteRun{pu + length, j - 1, false};
                        runs[1] = string;
                    } else {
                        i = side == 0 ? pv : pv - 1;
                        j = pu + length;
                        runs[0] = string;
                        runs[1] = RouteRun{i + 1, pu - 1, false};
                    }
                    if (TryWithinRoute(solution, a, i, runs, 2, j)) return true;
                }
            }
        }
    }
    return false;
}

bool LocalSearch::TryWithinRoute(EngineSolution& solution, std::size_t a, std::size_t i,
                                 const RouteRun* runs, std::size_t count, std::size_t j) {
    // Without windows the runs are priced by prefix sums; a move that looks better is
    // then priced exactly, so that rounding never applies a move that is not.
    if (solution.PricesRunsInConstantTime(a) &&
        !(Delta(solution, a, solution.SpliceRuns(a, i, runs, count, j), kNone, 0.0) <
          -kImprovement)) {
        return false;
    }
    scratch_b_.clear();
    solution.AppendRuns(a, runs, count, scratch_b_);
    const double cost = solution.Splice(a, i, scratch_b_.begin(), scratch_b_.end(), j);
    if (!(Delta(solution, a, cost, kNone, 0.0) < -kImprovement)) return false;
    Apply(solution, a, solution.Spliced(a, i, scratch_b_.begin(), scratch_b_.end(), j), kNone, {});
    return true;
}

bool LocalSearch::TrySwap(EngineSolution& solution, std::uint32_t u, std::uint32_t v) {
    const auto a = static_cast<std::size_t>(solution.RouteOf(u));
    const auto b = static_cast<std::size_t>(solution.RouteOf(v));
    if (a == b) return false;
    const std::vector<std::uint32_t>& route_a = solution.Route(a).visits;
    const std::vector<std::uint32_t>& route_b = solution.Route(b).visits;
    const std::size_t pu = solution.PositionOf(u);
    const std::size_t pv = solution.PositionOf(v);
    for (std::size_t la = 1; la <= longest_string_ && pu + la - 1 <= route_a.size(); ++la) {
        for (std::size_t lb = 1; lb <= longest_string_ && pv + lb - 1 <= route_b.size(); ++lb) {
            const auto ua = route_a.begin() + static_cast<std::ptrdiff_t>(pu - 1);
            const auto vb = route_b.begin() + static_cast<std::ptrdiff_t>(pv - 1);
            const double cost_a =
                solution.Splice(a, pu - 1, vb, vb + static_cast<std::ptrdiff_t>(lb), pu + la);
            const double cost_b =
                solution.Splice(b, pv - 1, ua, ua + static_cast<std::ptrdiff_t>(la), pv + lb);
            if (Delta(solution, a, cost_a, b, cost_b) < -kImprovement) {
                Apply(
                    solution, a,
                    solution.Spliced(a, pu - 1, vb, vb + static_cast<std::ptrdiff_t>(lb), pu + la),
                    b,
                    solution.Spliced(b, pv - 1, ua, ua + static_cast<std::ptrdiff_t>(la), pv + lb));
                return true;
            }
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
    // Two reversals make the pair adjacent: of positions first + 1 .. last (the vertex at
    // `first` then precedes the one that was at `last`), or of first .. last - 1 (the
    // vertex that was at `first` then precedes the one at `last`).
    for (std::size_t shift = 0; shift < 2; ++shift) {
        const RouteRun reversal{first + 1 - shift, last - shift, true};
        if (TryWithinRoute(solution, a, reversal.first - 1, &reversal, 1, reversal.last + 1)) {
            return true;
        }
    }
    return false;
}

bool LocalSearch::TryTwoOptStar(EngineSolution& solution, std::uint32_t u, std::uint32_t v) {
    const auto a = static_cast<std::size_t>(solution.RouteOf(u));
    const auto b = static_cast<std::size_t>(solution.RouteOf(v));
    if (a == b) return false;
    const std::vector<std::uint32_t>& route_a = solution.Route(a).visits;
    const std::vector<std::uint32_t>& route_b = solution.Route(b).visits;
    const std::size_t pu = solution.PositionOf(u);
    const std::size_t pv = solution.PositionOf(v);
    // Route a keeps its head up to u and takes b's tail from v on; b takes a's tail.
    const auto tail_b = route_b.begin() + static_cast<std::ptrdiff_t>(pv - 1);
    const auto tail_a = route_a.begin() + static_cast<std::ptrdiff_t>(pu);
    // Without windows, between agents of one type, both routes are priced in constant
    // time first; a move that looks better is then priced exactly.
    if (solution.JoinsTailsInConstantTime(a, b) &&
        !(Delta(solution, a, solution.JoinTails(a, pu, b, pv), b,
                solution.JoinTails(b, pv - 1, a, pu + 1)) < -kImprovement)) {
        return false;
    }
    const double cost_a = solution.Tail(a, pu, tail_b, route_b.end());
    if (!Finite(cost_a)) return false;
    const double cost_b = solution.Tail(b, pv - 1, tail_a, route_a.end());
    if (Delta(solution, a, cost_a, b, cost_b) < -kImprovement) {
        Apply(solution, a, solution.Spliced(a, pu, tail_b, route_b.end(), route_a.size() + 1), b,
              solution.Spliced(b, pv - 1, tail_a, route_a.end(), route_b.size() + 1));
        return true;
    }
    return false;
}

}  // namespace vornik
