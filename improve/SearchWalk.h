#ifndef VORNIK_IMPROVE_SEARCHWALK_H
#define VORNIK_IMPROVE_SEARCHWALK_H

#include <cstdint>
#include <memory>

#include "improve/EngineSolution.h"

namespace vornik {

/// One thread's search of an engine run (annealing or population): it walks until the
/// hub says the budget is spent, keeping its own best.
class SearchWalk {
public:
    virtual ~SearchWalk() = default;
    virtual void Run() = 0;
    virtual const std::unique_ptr<EngineSolution>& Best() const = 0;
    virtual std::int64_t Iterations() const = 0;
};

}  // namespace vornik

#endif  // VORNIK_IMPROVE_SEARCHWALK_H
