#ifndef VORNIK_IMPROVE_TWOOPTSTARMOVE_H
#define VORNIK_IMPROVE_TWOOPTSTARMOVE_H

#include <cstddef>

#include "improve/EngineSolution.h"
#include "improve/MoveCosts.h"

namespace vornik {

/// 2-opt* between routes a and b (a != b): a keeps positions 0 .. i and takes b's visits
/// from position j on; b keeps positions 0 .. j - 1 and takes a's from i + 1 on.
struct TwoOptStarMove {
    std::size_t a = 0;
    std::size_t i = 0;
    std::size_t b = 1;
    std::size_t j = 1;

    /// True when Estimate prices both routes in constant time: no windows, agents of one
    /// type.
    bool Estimable(const EngineSolution& solution) const {
        return solution.JoinsTailsInConstantTime(a, b);
    }
    /// From the two routes' clocks and loads: exact up to rounding, so a move that looks
    /// better is confirmed with Evaluate. Only where Estimable.
    MoveCosts Estimate(const EngineSolution& solution) const;
    /// Walks each incoming tail. Route b is not priced when route a already breaks a rule.
    MoveCosts Evaluate(const EngineSolution& solution) const;
    void Apply(EngineSolution& solution) const;
};

}  // namespace vornik

#endif  // VORNIK_IMPROVE_TWOOPTSTARMOVE_H
