#ifndef VORNIK_IMPROVE_WALKHUB_H
#define VORNIK_IMPROVE_WALKHUB_H

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "improve/EngineSolution.h"
#include "improve/ImprovementEngine.h"

namespace vornik {

/// What the walks of one engine run share, one walk per thread: the budget and its clock,
/// the stop request, the best solution of the run (each new one reported once, in order),
/// and the meeting between cooling epochs at which every walk takes the best of all.
///
/// With one walk it adds nothing: the clock is the caller's, the stop request is polled
/// as before, and meeting returns at once.
class WalkHub {
public:
    static constexpr std::size_t kNoWalk = static_cast<std::size_t>(-1);

    WalkHub(const EngineModel* model, const EngineSettings* settings, std::size_t walks);

    std::size_t Walks() const { return walks_; }
    const EngineSettings& Settings() const { return *settings_; }

    /// Starts the budget's clock of walk `walk` on the calling thread; called first thing
    /// on each walk's thread.
    void StartClock(std::size_t walk);
    /// Seconds on the budget's clock. Under a processor-time budget with several walks,
    /// the time of the caller before the walks began plus every walk's thread time since.
    double Now(std::size_t walk);
    /// True when walk `walk` must end: its iteration bound, the run's time, a stop request
    /// (polled about every 10 ms of wall time) or Stop().
    bool OutOfBudget(std::size_t walk, std::int64_t iteration);
    /// Ends every walk (a walk failed).
    void Stop() { stop_.store(true); }
    bool Interrupted() const { return interrupted_.load(); }

    /// Takes `candidate` as the run's best when its routes are feasible and it is better
    /// than the best so far (fewest required targets unserved first), and reports it.
    /// Thread-safe.
    void Offer(const EngineSolution& candidate, EnginePhase phase, std::size_t walk);
    bool HaveBest() const { return have_best_; }
    const EngineSolution& Best() const { return *best_; }
    EnginePhase BestPhase() const { return best_phase_; }

    /// Walk `walk` keeps its own best in `best` (empty while it has none); read by Meet.
    void Register(std::size_t walk, const std::unique_ptr<EngineSolution>* best);
    /// The end of an epoch: waits until every walk still going has ended the same epoch,
    /// then returns a copy of the best of the walks' bests (the lowest walk among equals),
    /// or null when no walk has a plan yet. The copy stays as it is until the
    /// caller meets again.
    const EngineSolution* Meet();
    /// Walk ended: the others no longer wait for it.
    void Leave();

private:
    void Release();
    static double ThreadSeconds();

    const EngineModel* model_;
    const EngineSettings* settings_;
    std::size_t walks_;
    bool summed_clock_;

    double base_time_ = 0.0;
    std::vector<double> thread_start_;
    std::unique_ptr<std::atomic<double>[]> used_;

    std::atomic<bool> stop_{false};
    std::atomic<bool> interrupted_{false};
    std::mutex poll_mutex_;
    double last_poll_ = -1.0;  // wall seconds

    std::mutex best_mutex_;
    std::unique_ptr<EngineSolution> best_;
    bool have_best_ = false;
    EnginePhase best_phase_ = EnginePhase::kGiven;

    std::vector<const std::unique_ptr<EngineSolution>*> walk_bests_;
    std::mutex meet_mutex_;
    std::condition_variable met_;
    std::size_t active_;
    std::size_t arrived_ = 0;
    std::uint64_t generation_ = 0;
    std::unique_ptr<EngineSolution> chosen_;
};

}  // namespace vornik

#endif  // VORNIK_IMPROVE_WALKHUB_H
