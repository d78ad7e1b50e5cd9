#ifndef VORNIK_IMPROVE_PRECHECK_H
#define VORNIK_IMPROVE_PRECHECK_H

#include <cstdint>
#include <vector>

#include "improve/EngineModel.h"

namespace vornik {

class EngineSolution;

/// Targets that no solution can serve, each with the first rule that rules out its last
/// allowed agent, checked in this order: "type" (no agent may serve it), "arc" (no path
/// from an allowed agent's start to it and on to that agent's end), "window" (its windows
/// close before the earliest arrival), "capacity" (its demand exceeds every allowed
/// agent's capacity in some dimension), "limit" (start -> target -> end cannot fit the
/// route limit or the end's window). Arrivals are bounded by shortest paths, so a target
/// listed here is unservable whatever the other targets do. In vertex order.
std::vector<TargetReason> PrecheckTargets(const EngineModel& model);

/// Why the required target `v`, which passed the pre-check, is not in `solution`: the
/// constraint that stopped most attempts to insert it into the solution's routes
/// ("capacity", "window", "limit" or "arc").
TargetReason ExplainUnserved(const EngineSolution& solution, std::uint32_t v);

}  // namespace vornik

#endif  // VORNIK_IMPROVE_PRECHECK_H
