#include "improve/WalkHub.h"

#include <chrono>
#include <ctime>

namespace vornik {

namespace {

double WallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

double WalkHub::ThreadSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

WalkHub::WalkHub(const EngineModel* model, const EngineSettings* settings, std::size_t walks)
    : model_(model),
      settings_(settings),
      walks_(walks),
      summed_clock_(walks > 1 && settings->clock_per_thread),
      thread_start_(walks, 0.0),
      used_(new std::atomic<double>[walks]),
      walk_bests_(walks, nullptr),
      active_(walks) {
    for (std::size_t k = 0; k < walks; ++k) used_[k].store(0.0);
    // The caller's clock reads its own thread: read it here, on that thread, once.
    if (summed_clock_) base_time_ = settings_->clock();
}

void WalkHub::StartClock(std::size_t walk) {
    if (summed_clock_) thread_start_[walk] = ThreadSeconds();
}

double WalkHub::Now(std::size_t walk) {
    if (!summed_clock_) return settings_->clock();
    used_[walk].store(ThreadSeconds() - thread_start_[walk]);
    double total = base_time_;
    for (std::size_t k = 0; k < walks_; ++k) total += used_[k].load();
    return total;
}

bool WalkHub::OutOfBudget(std::size_t walk, std::int64_t iteration) {
    if (stop_.load(std::memory_order_relaxed)) return true;
    if (settings_->iteration_limit >= 0) {
        if (iteration >= settings_->iteration_limit) return true;
    } else if (Now(walk) >= settings_->time_limit) {
        stop_.store(true);
        return true;
    }
    if (settings_->should_stop) {
        // One walk polls at a time: the caller's check need not be thread-safe.
        const std::unique_lock<std::mutex> lock(poll_mutex_, std::try_to_lock);
        if (lock.owns_lock()) {
            const double now = WallSeconds();
            if (last_poll_ < 0 || now - last_poll_ >= 0.01) {
                last_poll_ = now;
                if (settings_->should_stop()) {
                    interrupted_.store(true);
                    stop_.store(true);
                }
            }
        }
    }
    return stop_.load();
}

void WalkHub::Offer(const EngineSolution& candidate, EnginePhase phase, std::size_t walk) {
    // A plan may leave targets out, required ones included: it is reported all the same,
    // and the score puts any plan that serves more required targets first.
    if (!candidate.AllRoutesFeasible()) return;
    const std::lock_guard<std::mutex> lock(best_mutex_);
    if (have_best_ && !Better(model_->Objective(), candidate.Score(), best_->Score())) return;
    if (best_) {
        *best_ = candidate;
    } else {
        best_ = std::make_unique<EngineSolution>(candidate);
    }
    have_best_ = true;
    best_phase_ = phase;
    // Under the lock, so that reports come in order and each beats the one before.
    if (settings_->on_best) {
        settings_->on_best(*best_, phase, Now(walk));
    }
}

void WalkHub::Register(std::size_t walk, const std::unique_ptr<EngineSolution>* best) {
    walk_bests_[walk] = best;
}

void WalkHub::Release() {
    std::size_t chosen = kNoWalk;
    for (std::size_t k = 0; k < walks_; ++k) {
        const std::unique_ptr<EngineSolution>* best = walk_bests_[k];
        if (best == nullptr || !*best) continue;
        if (chosen == kNoWalk ||
            Better(model_->Objective(), (*best)->Score(), (*walk_bests_[chosen])->Score())) {
            chosen = k;
        }
    }
    // A copy: the walks go on changing their own bests as soon as they are released.
    chosen_.reset(chosen == kNoWalk ? nullptr : new EngineSolution(**walk_bests_[chosen]));
    arrived_ = 0;
    ++generation_;
    met_.notify_all();
}

const EngineSolution* WalkHub::Meet() {
    std::unique_lock<std::mutex> lock(meet_mutex_);
    const std::uint64_t generation = generation_;
    if (++arrived_ == active_) {
        Release();
    } else {
        met_.wait(lock, [&] { return generation_ != generation; });
    }
    return chosen_.get();
}

void WalkHub::Leave() {
    const std::lock_guard<std::mutex> lock(meet_mutex_);
    --active_;
    if (arrived_ > 0 && arrived_ == active_) Release();
}

}  // namespace vornik
