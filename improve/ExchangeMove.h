#ifndef VORNIK_IMPROVE_EXCHANGEMOVE_H
#define VORNIK_IMPROVE_EXCHANGEMOVE_H

#include <cstddef>

#include "improve/EngineSolution.h"
#include "improve/MoveCosts.h"

namespace vornik {

/// Exchanges the string of `length_a` visits from position `first_a` of route `a` with
/// the string of `length_b` visits from position `first_b` of route `b` (a != b): a swap
/// when both are single targets, a cross-exchange otherwise.
struct ExchangeMove {
    std::size_t a = 0;
    std::size_t first_a = 1;
    std::size_t length_a = 1;
    std::size_t b = 1;
    std::size_t first_b = 1;
    std::size_t length_b = 1;

    /// Both routes' costs, exact: each incoming string is walked, the rest joined in
    /// closed form.
    MoveCosts Evaluate(const EngineSolution& solution) const;
    void Apply(EngineSolution& solution) const;
};

}  // namespace vornik

#endif  // VORNIK_IMPROVE_EXCHANGEMOVE_H
