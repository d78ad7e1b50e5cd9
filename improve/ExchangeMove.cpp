#include "improve/ExchangeMove.h"

#include <cstdint>
#include <vector>

namespace vornik {

namespace {

std::vector<std::uint32_t>::const_iterator At(const EngineSolution& solution, std::size_t route,
                                              std::size_t position) {
    return solution.Route(route).visits.begin() + static_cast<std::ptrdiff_t>(position - 1);
}

}  // namespace

MoveCosts ExchangeMove::Evaluate(const EngineSolution& solution) const {
    const auto ua = At(solution, a, first_a);
    const auto vb = At(solution, b, first_b);
    MoveCosts costs;
    costs.first = a;
    costs.first_cost = solution.Splice(
        a, first_a - 1, vb, vb + static_cast<std::ptrdiff_t>(length_b), first_a + length_a);
    costs.second = b;
    costs.second_cost = solution.Splice(
        b, first_b - 1, ua, ua + static_cast<std::ptrdiff_t>(length_a), first_b + length_b);
    return costs;
}

void ExchangeMove::Apply(EngineSolution& solution) const {
    const auto ua = At(solution, a, first_a);
    const auto vb = At(solution, b, first_b);
    std::vector<std::uint32_t> new_a = solution.Spliced(
        a, first_a - 1, vb, vb + static_cast<std::ptrdiff_t>(length_b), first_a + length_a);
    std::vector<std::uint32_t> new_b = solution.Spliced(
        b, first_b - 1, ua, ua + static_cast<std::ptrdiff_t>(length_a), first_b + length_b);
    solution.SetVisits(b, std::move(new_b));
    solution.SetVisits(a, std::move(new_a));
}

}  // namespace vornik
