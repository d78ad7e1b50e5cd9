#include "improve/population/TourSplit.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "improve/EngineSolution.h"

namespace vornik {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr std::int64_t kEmpty = -1;
constexpr std::int64_t kUnreached = -2;

// One agent's route grown a target at a time from a fixed first target, by the same
// rules as EngineSolution::WalkRoute, so that every stretch of the tour is priced in
// constant time per target.
class StretchWalk {
public:
    StretchWalk(const EngineModel& model, std::size_t agent)
        : model_(model), agent_(agent), load_(model.Dimensions(), 0.0) {
        const EngineAgent& info = model.Agent(agent);
        at_ = info.start;
        alive_ = model.Arrive(info.start, clock_);
    }

    bool Alive() const { return alive_; }

    /// Appends `v`; returns the cost of the route closed right after it, or kInf. Once
    /// the route cannot go on (a window closed, a load or the limit exceeded, a target
    /// the agent may not serve), Alive() turns false: a longer route breaks the rule too.
    double Append(std::uint32_t v) {
        if (!alive_ || !model_.CanServe(agent_, v)) return Kill();
        clock_ += model_.Cost(agent_, at_, v);
        if (clock_ == kInf || !model_.Arrive(v, clock_)) return Kill();
        clock_ += model_.Service(v);
        for (std::size_t d = 0; d < load_.size(); ++d) {
            load_[d] += model_.Demand(v, d);
            if (!WithinCapacity(load_[d], model_.Capacity(agent_, d))) return Kill();
        }
        const double limit = model_.Agent(agent_).limit;
        if (!WithinLimit(clock_, limit)) return Kill();
        at_ = v;
        double closed = clock_ + model_.ClosingCost(agent_, v);
        if (closed == kInf || !model_.Arrive(model_.Agent(agent_).end, closed)) return kInf;
        return WithinLimit(closed, limit) ? closed : kInf;
    }

private:
    double Kill() {
        alive_ = false;
        return kInf;
    }

    const EngineModel& model_;
    std::size_t agent_;
    std::uint32_t at_ = 0;
    double clock_ = 0.0;
    bool alive_ = true;
    std::vector<double> load_;
};

class Splitter {
public:
    Splitter(const EngineModel& model, const std::vector<std::uint32_t>& tour)
        : model_(model), tour_(tour), n_(tour.size()), m_(model.NumAgents()) {
        for (std::size_t a = 0; a < m_; ++a) {
            empty_.push_back(EngineSolution::WalkRoute(model, a, {}));
        }
    }

    TourSplit Fill() const { return Greedy(kInf); }

    TourSplit Run() {
        if (model_.Objective() == ObjectiveType::MinMax) return MinMax();
        return MinSum();
    }

private:
    // True when a stretch costs its first leg, the travel along it, its service and its
    // closing leg, the same for every agent: then the best cut is found in linear time.
    bool Plain() const {
        if (model_.HasWindows() || model_.Dimensions() > 0) return false;
        const EngineAgent& first = model_.Agent(0);
        for (std::size_t a = 0; a < m_; ++a) {
            const EngineAgent& agent = model_.Agent(a);
            if (!model_.SameType(a, 0) || agent.start != first.start || agent.end != first.end ||
                agent.limit > 0) {
                return false;
            }
        }
        for (std::size_t i = 0; i < n_; ++i) {
            if (!model_.CanServe(0, tour_[i]) || model_.Cost(0, first.start, tour_[i]) == kInf ||
                model_.ClosingCost(0, tour_[i]) == kInf ||
                (i > 0 && model_.Cost(0, tour_[i - 1], tour_[i]) == kInf)) {
                return false;
            }
        }
        return true;
    }

    // Routes from the choices of the shortest path: choice[k][i] is where agent k - 1's
    // stretch ending before position i starts, or kEmpty.
    TourSplit Trace(const std::vector<std::vector<std::int64_t>>& choice) const {
        TourSplit split;
        split.routes.assign(m_, {});
        std::size_t i = n_;
        for (std::size_t k = m_; k > 0; --k) {
            const std::int64_t j = choice[k][i];
            if (j == kEmpty) continue;
            const auto from = static_cast<std::size_t>(j);
            split.routes[k - 1].assign(tour_.begin() + static_cast<std::ptrdiff_t>(from),
                                       tour_.begin() + static_cast<std::ptrdiff_t>(i));
            i = from;
        }
        return split;
    }

    TourSplit MinSum() const {
        std::vector<double> before(n_ + 1, kInf);
        std::vector<double> after(n_ + 1, kInf);
        std::vector<std::vector<std::int64_t>> choice(
            m_ + 1, std::vector<std::int64_t>(n_ + 1, kUnreached));
        before[0] = 0.0;
        const bool plain = Plain();
        std::vector<double> path(n_ + 1,
                                 0.0);  // travel from tour[0] to tour[i]; service of tour[0 .. i)
        std::vector<double> served(n_ + 1, 0.0);
        if (plain) {
            for (std::size_t i = 1; i < n_; ++i) {
                path[i] = path[i - 1] + model_.Cost(0, tour_[i - 1], tour_[i]);
            }
            for (std::size_t i = 0; i < n_; ++i)
                served[i + 1] = served[i] + model_.Service(tour_[i]);
        }
        for (std::size_t k = 1; k <= m_; ++k) {
            const std::size_t a = k - 1;
            for (std::size_t i = 0; i <= n_; ++i) {
                after[i] = before[i] + empty_[a];
                choice[k][i] = before[i] < kInf && empty_[a] < kInf ? kEmpty : kUnreached;
            }
            if (plain) {
                // Stretch j .. i - 1 costs first leg + path[i-1] - path[j] + service + closing:
                // the best start is a running minimum.
                const std::uint32_t start = model_.Agent(a).start;
                double best = kInf;
                std::int64_t best_j = kUnreached;
                for (std::size_t i = 1; i <= n_; ++i) {
                    const std::size_t j = i - 1;
                    if (before[j] < kInf) {
                        const double open =
                            before[j] + model_.Cost(a, start, tour_[j]) - path[j] - served[j];
                        if (open < best) {
                            best = open;
                            best_j = static_cast<std::int64_t>(j);
                        }
                    }
                    if (best_j == kUnreached) continue;
                    const double cost =
                        best + path[i - 1] + served[i] + model_.ClosingCost(a, tour_[i - 1]);
                    if (cost < after[i]) {
                        after[i] = cost;
                        choice[k][i] = best_j;
                    }
                }
            } else {
                for (std::size_t j = 0; j < n_; ++j) {
                    if (before[j] == kInf) continue;
                    StretchWalk walk(model_, a);
                    for (std::size_t i = j + 1; i <= n_ && walk.Alive(); ++i) {
                        const double cost = walk.Append(tour_[i - 1]);
                        if (cost < kInf && before[j] + cost < after[i]) {
                            after[i] = before[j] + cost;
                            choice[k][i] = static_cast<std::int64_t>(j);
                        }
                    }
                }
            }
            std::swap(before, after);
        }
        if (before[n_] == kInf) return Greedy(kInf);
        return Trace(choice);
    }

    // Fills the agents' routes in order, each as far as it stays feasible and within
    // `bound`; the rest of the tour is left out.
    TourSplit Greedy(double bound) const {
        TourSplit split;
        split.routes.assign(m_, {});
        std::size_t j = 0;
        for (std::size_t a = 0; a < m_ && j < n_; ++a) {
            StretchWalk walk(model_, a);
            std::size_t i = j;
            while (i < n_) {
                const double cost = walk.Append(tour_[i]);
                if (cost == kInf || cost > bound) break;
                ++i;
            }
            split.routes[a].assign(tour_.begin() + static_cast<std::ptrdiff_t>(j),
                                   tour_.begin() + static_cast<std::ptrdiff_t>(i));
            j = i;
        }
        split.left_out.assign(tour_.begin() + static_cast<std::ptrdiff_t>(j), tour_.end());
        return split;
    }

    TourSplit MinMax() const {
        TourSplit loose = Greedy(kInf);
        if (!loose.left_out.empty()) return loose;
        double high = 0.0;
        for (std::size_t a = 0; a < m_; ++a) {
            high = std::max(high, EngineSolution::WalkRoute(model_, a, loose.routes[a]));
        }
        double low = 0.0;
        for (std::size_t a = 0; a < m_; ++a) {
            if (empty_[a] < kInf) low = std::max(low, empty_[a]);
        }
        TourSplit best = std::move(loose);
        for (int step = 0; step < 60 && high - low > 1e-9 * std::max(1.0, high); ++step) {
            const double middle = 0.5 * (low + high);
            TourSplit trial = Greedy(middle);
            if (trial.left_out.empty()) {
                high = middle;
                best = std::move(trial);
            } else {
                low = middle;
            }
        }
        return best;
    }

    const EngineModel& model_;
    const std::vector<std::uint32_t>& tour_;
    std::size_t n_;
    std::size_t m_;
    std::vector<double> empty_;  // cost of each agent's empty route
};

}  // namespace

TourSplit SplitTour(const EngineModel& model, const std::vector<std::uint32_t>& tour) {
    if (model.NumAgents() == 0) return TourSplit{{}, tour};
    return Splitter(model, tour).Run();
}

TourSplit FillTour(const EngineModel& model, const std::vector<std::uint32_t>& tour) {
    if (model.NumAgents() == 0) return TourSplit{{}, tour};
    return Splitter(model, tour).Fill();
}

}  // namespace vornik
