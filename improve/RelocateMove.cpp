#include "improve/RelocateMove.h"

#include <cstdint>
#include <iterator>
#include <vector>

namespace vornik {

namespace {

// Calls `use(begin, end)` with the string in the order it is inserted.
template <typename Use>
auto WithString(const EngineSolution& solution, const RelocateMove& move, Use use) {
    const std::vector<std::uint32_t>& visits = solution.Route(move.from).visits;
    const auto lo = visits.begin() + static_cast<std::ptrdiff_t>(move.first - 1);
    const auto hi = lo + static_cast<std::ptrdiff_t>(move.length);
    if (move.reversed) return use(std::make_reverse_iterator(hi), std::make_reverse_iterator(lo));
    return use(lo, hi);
}

}  // namespace

WithinRouteMove RelocateMove::AsWithinRoute() const {
    // Only the stretch between the string and the gap changes places: it and the string
    // become the new positions i + 1 .. j - 1.
    const RouteRun string{first, first + length - 1, reversed};
    WithinRouteMove move;
    move.route = from;
    move.count = 2;
    if (gap >= first) {  // the gap lies after the string
        move.i = first - 1;
        move.j = gap + 1;
        move.runs[0] = RouteRun{first + length, gap, false};
        move.runs[1] = string;
    } else {
        move.i = gap;
        move.j = first + length;
        move.runs[0] = string;
        move.runs[1] = RouteRun{gap + 1, first - 1, false};
    }
    return move;
}

MoveCosts RelocateMove::Evaluate(const EngineSolution& solution) const {
    if (from == to) return AsWithinRoute().Evaluate(solution);
    MoveCosts costs;
    costs.first = from;
    costs.first_cost = solution.RemovalCost(from, first - 1, first + length);
    costs.second = to;
    costs.second_cost = WithString(solution, *this, [&](auto begin, auto end) {
        return solution.Splice(to, gap, begin, end, gap + 1);
    });
    return costs;
}

void RelocateMove::Apply(EngineSolution& solution) const {
    if (from == to) {
        AsWithinRoute().Apply(solution);
        return;
    }
    const std::uint32_t* none = nullptr;
    std::vector<std::uint32_t> rest = solution.Spliced(from, first - 1, none, none, first + length);
    std::vector<std::uint32_t> grown = WithString(solution, *this, [&](auto begin, auto end) {
        return solution.Spliced(to, gap, begin, end, gap + 1);
    });
    // The receiving route first, so that no target is in two routes in between.
    solution.SetVisits(to, std::move(grown));
    solution.SetVisits(from, std::move(rest));
}

}  // namespace vornik
