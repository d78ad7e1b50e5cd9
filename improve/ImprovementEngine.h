#ifndef VORNIK_IMPROVE_IMPROVEMENTENGINE_H
#define VORNIK_IMPROVE_IMPROVEMENTENGINE_H

#include <cstdint>
#include <functional>
#include <vector>

#include "improve/EngineModel.h"
#include "improve/EngineParams.h"
#include "improve/EngineSolution.h"

namespace vornik {

/// Where the best solution of an engine run came from.
enum class EnginePhase { kGiven, kConstruct, kImprove };

/// What an engine run may use and whom it tells.
struct EngineSettings {
    std::uint64_t seed = 0;
    EngineParams params;
    /// Walks run side by side, one per thread, sharing the best solution; at least 1.
    /// The iteration limit holds for each walk.
    std::size_t threads = 1;
    /// `clock` reads the calling thread's processor time: with several threads the budget
    /// is then the processor time of all of them together (the caller's clock until the
    /// walks start, plus each walk thread's own time).
    bool clock_per_thread = false;
    /// Stops after this many ruin-and-recreate steps when >= 0 (for repeatable runs).
    std::int64_t iteration_limit = -1;
    /// Seconds on `clock` after which the run stops; <= 0 together with no iteration
    /// limit means the run only builds (and locally improves) a first solution.
    double time_limit = 0.0;
    /// Seconds on the budget's clock since the solve began. Required.
    std::function<double()> clock;
    /// Polled about every 10 ms of wall time; true stops the run as the budget would.
    std::function<bool()> should_stop;
    /// Called with every new best plan (under Better: it may leave required targets out)
    /// and the clock reading, from any of the walks' threads, one call at a time.
    std::function<void(const EngineSolution&, EnginePhase, double)> on_best;
};

/// The outcome: the best plan found (or none), what it leaves unserved and why, and
/// counters.
struct EngineOutcome {
    bool found = false;                              ///< a plan whose routes are all feasible
    bool complete = false;                           ///< ... and that serves every required target
    std::vector<std::vector<std::uint32_t>> routes;  ///< visits per agent
    std::vector<double> costs;                       ///< per agent
    std::vector<std::vector<double>> loads;          ///< per agent, one entry per dimension
    std::vector<std::uint32_t> unserved;             ///< targets no route serves, ascending
    /// One per required target left unserved (the pre-check's, then the insertion's),
    /// by vertex.
    std::vector<TargetReason> reasons;
    EngineScore score;
    EnginePhase phase = EnginePhase::kGiven;
    std::int64_t iterations = 0;
    bool interrupted = false;  ///< should_stop ended the run
    double end_time = 0.0;     ///< the budget's clock at the end
    /// The run ended before its budget because nothing could change the answer: no
    /// targets, or a target that no agent may serve.
    bool settled = false;
};

/// Improves a solution of an instance for the rest of a budget: a constructive start
/// fills what the given routes leave out, then ruin and recreate under simulated
/// annealing (with local search on promising candidates) follows the instance's
/// objective, always keeping the best plan: fewest required targets unserved, then the
/// objective plus the penalties of optional targets left out. Never returns a solution
/// worse than a feasible one it was given. With several threads, each runs its own walk
/// (AnnealingWalk) from the same start; they share the best plan through a WalkHub and,
/// with cooling epochs, all restart from the best of all at each epoch's end. Rethrows
/// the first exception a walk raised, after every walk ended.
class ImprovementEngine {
public:
    ImprovementEngine(const EngineModel* model, EngineSettings settings);  // model outlives it

    /// `start` holds visits per agent (may be empty or partial; vertices that are not
    /// targets, not allowed, or repeated are dropped).
    EngineOutcome Run(const std::vector<std::vector<std::uint32_t>>& start);

private:
    const EngineModel* model_;
    EngineSettings settings_;
};

}  // namespace vornik

#endif  // VORNIK_IMPROVE_IMPROVEMENTENGINE_H
