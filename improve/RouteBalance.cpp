#include "improve/RouteBalance.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vornik {

namespace {

constexpr double kImprovement = 1e-9;
constexpr std::size_t kLongestString = 3;

}  // namespace

RouteBalance::RouteBalance(const EngineModel* model, const EngineParams& params)
    : model_(model), granularity_(params.granularity) {}

bool RouteBalance::BestMove(const EngineSolution& solution, BalanceMove& move) const {
    const std::size_t m = solution.NumRoutes();
    if (m < 2) return false;
    // The three longest routes: the longest of the others, whichever route takes the
    // string, is the first of them that is neither the giver nor the taker.
    std::vector<std::size_t> order(m);
    for (std::size_t a = 0; a < m; ++a) order[a] = a;
    const std::size_t top = std::min<std::size_t>(3, m);
    std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(top), order.end(),
                      [&](std::size_t x, std::size_t y) {
                          const double cx = solution.Route(x).cost;
                          const double cy = solution.Route(y).cost;
                          return cx > cy || (cx == cy && x < y);
                      });
    const std::size_t from = order[0];
    const EngineRoute& giver = solution.Route(from);
    const double longest = giver.cost;
    if (!std::isfinite(longest)) return false;
    const auto others = [&](std::size_t to) {
        for (std::size_t r = 1; r < top; ++r) {
            if (order[r] != to) return solution.Route(order[r]).cost;
        }
        return 0.0;
    };
    const double threshold = longest - kImprovement * std::max(1.0, std::abs(longest));
    double best_max = threshold;
    double best_pair = std::numeric_limits<double>::infinity();
    bool found = false;
    const std::size_t k = giver.visits.size();
    std::uint32_t string[kLongestString];
    for (std::size_t first = 1; first <= k; ++first) {
        for (std::size_t last = first; last <= std::min(k, first + kLongestString - 1); ++last) {
            const double left = solution.RemovalCost(from, first - 1, last + 1);
            if (!(left < best_max)) continue;
            const std::size_t length = last - first + 1;
            for (std::size_t s = 0; s < length; ++s) string[s] = giver.visits[first - 1 + s];
            const auto try_at = [&](std::size_t to, std::size_t after) {
                const double rest = others(to);
                if (!(rest < best_max)) return;
                for (int way = 0; way < (length > 1 ? 2 : 1); ++way) {
                    if (way == 1) std::reverse(string, string + length);
                    const double taken =
                        solution.Splice(to, after, string, string + length, after + 1);
                    if (way == 1) std::reverse(string, string + length);
                    const double worst = std::max({left, taken, rest});
                    const double pair = left + taken;
                    if (worst < best_max || (found && worst == best_max && pair < best_pair)) {
                        best_max = worst;
                        best_pair = pair;
                        found = true;
                        move = {from, to, first, last, after, way == 1, left, taken};
                    }
                }
            };
            // Next to the nearest targets of either end of the string, or into an empty
            // route (which no neighbour is in).
            for (const std::uint32_t end : {string[0], string[length - 1]}) {
                const std::vector<std::uint32_t>& near = model_->Neighbours(end);
                const std::size_t count = std::min(granularity_, near.size());
                for (std::size_t n = 0; n < count; ++n) {
                    const std::int64_t owner = solution.RouteOf(near[n]);
                    if (owner < 0 || static_cast<std::size_t>(owner) == from) continue;
                    const std::size_t q = solution.PositionOf(near[n]);
                    try_at(static_cast<std::size_t>(owner), q - 1);
                    try_at(static_cast<std::size_t>(owner), q);
                }
            }
            for (std::size_t to = 0; to < m; ++to) {
                if (to != from && solution.Route(to).visits.empty()) try_at(to, 0);
            }
        }
    }
    return found;
}

void RouteBalance::Apply(EngineSolution& solution, const BalanceMove& move,
                         TourSearch* tours) const {
    const std::vector<std::uint32_t>& visits = solution.Route(move.from).visits;
    std::vector<std::uint32_t> string(visits.begin() + static_cast<std::ptrdiff_t>(move.first - 1),
                                      visits.begin() + static_cast<std::ptrdiff_t>(move.last));
    if (move.reversed) std::reverse(string.begin(), string.end());
    std::vector<std::uint32_t> taker =
        solution.Spliced(move.to, move.after, string.begin(), string.end(), move.after + 1);
    std::vector<std::uint32_t> around(string);
    if (move.first > 1) around.push_back(visits[move.first - 2]);
    if (move.last < visits.size()) around.push_back(visits[move.last]);
    const std::vector<std::uint32_t>& into = solution.Route(move.to).visits;
    if (move.after > 0) around.push_back(into[move.after - 1]);
    if (move.after < into.size()) around.push_back(into[move.after]);
    std::vector<std::uint32_t> giver(visits);
    giver.erase(giver.begin() + static_cast<std::ptrdiff_t>(move.first - 1),
                giver.begin() + static_cast<std::ptrdiff_t>(move.last));
    solution.SetVisits(move.from, std::move(giver));
    solution.SetVisits(move.to, std::move(taker));
    // A descent from the ends of the string and the places it left and joined: a full
    // descent of both routes gave the same plans in about twice the steps.
    if (tours != nullptr) {
        tours->Repair(solution, move.from, around);
        tours->Repair(solution, move.to, around);
    }
}

bool RouteBalance::Run(EngineSolution& solution, std::size_t rounds, TourSearch* tours) const {
    bool moved = false;
    BalanceMove move;
    for (std::size_t round = 0; round < rounds && BestMove(solution, move); ++round) {
        Apply(solution, move, tours);
        moved = true;
    }
    return moved;
}

}  // namespace vornik
