#ifndef VORNIK_IMPROVE_MOVECOSTS_H
#define VORNIK_IMPROVE_MOVECOSTS_H

#include <cstddef>
#include <type_traits>

#include "improve/EngineSolution.h"

namespace vornik {

/// Routes a move changes and the costs they would take: EngineSolution::kInfeasible where
/// the changed route breaks a rule. A move inside one route leaves `second` at kNoRoute.
struct MoveCosts {
    static constexpr std::size_t kNoRoute = static_cast<std::size_t>(-1);

    std::size_t first = 0;
    double first_cost = EngineSolution::kInfeasible;
    std::size_t second = kNoRoute;
    double second_cost = EngineSolution::kInfeasible;
};

/// True for moves with a constant-time Estimate, which say where it applies with
/// Estimable.
template <typename Move, typename = void>
constexpr bool kHasEstimate = false;
template <typename Move>
constexpr bool kHasEstimate<Move, std::void_t<decltype(&Move::Estimable)>> = true;

}  // namespace vornik

#endif  // VORNIK_IMPROVE_MOVECOSTS_H
