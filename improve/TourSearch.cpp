#include "improve/TourSearch.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <utility>

namespace vornik {

namespace {

constexpr double kImprovement = 1e-9;
// Longest stretch a kick moves: kicks stay local, so that the descent after one repairs
// a small part of the tour rather than the whole of it.
constexpr std::size_t kKickStretch = 30;
// Visits below which kicks are not worth it (the descent alone is exhaustive enough).
constexpr std::size_t kKickVisits = 8;
// Near targets of t4 that a 3-opt move tries as t5 (t3 comes from all of t2's).
constexpr std::size_t kThreeOptBreadth = 8;
// Neighbour pairs per target sampled when looking for costs that differ both ways.
constexpr std::size_t kSymmetrySample = 5;

bool SameBothWays(double x, double y) {
    if (x == y) return true;
    return std::abs(x - y) <= 1e-9 * std::max(std::abs(x), std::abs(y));
}

}  // namespace

TourSearch::TourSearch(const EngineModel* model, const EngineParams& params, TourDepth depth)
    : model_(model),
      granularity_(params.granularity),
      depth_(depth),
      position_(model->NumVertices(), 0),
      stamp_(model->NumVertices(), 0),
      queued_(model->NumVertices(), 0) {
    // Windows make a route's cost depend on more than its legs, and a reversal changes
    // the travel of costs that differ both ways.
    applies_ = !model->HasWindows();
    std::vector<std::size_t> seen_slots;
    for (std::size_t a = 0; applies_ && a < model->NumAgents(); ++a) {
        const std::size_t slot = model->Agent(a).slot;
        if (std::find(seen_slots.begin(), seen_slots.end(), slot) != seen_slots.end()) continue;
        seen_slots.push_back(slot);
        for (const std::uint32_t u : model->Targets()) {
            const std::vector<std::uint32_t>& near = model->Neighbours(u);
            for (std::size_t k = 0; k < std::min(kSymmetrySample, near.size()); ++k) {
                if (!SameBothWays(model->Cost(a, u, near[k]), model->Cost(a, near[k], u))) {
                    applies_ = false;
                    break;
                }
            }
            if (!applies_) break;
        }
    }
}

double TourSearch::Leg(std::uint32_t x, std::uint32_t y) const {
    if (y == kEnd) return model_->ClosingCost(agent_, x);
    if (x == kEnd) return model_->ClosingCost(agent_, y);
    return model_->Cost(agent_, x, y);
}

bool TourSearch::Load(const EngineSolution& solution, std::size_t a) {
    if (!applies_) return false;
    const EngineRoute& route = solution.Route(a);
    const std::vector<std::uint32_t>& visits = route.visits;
    if (visits.size() < 3 || !std::isfinite(route.cost)) return false;
    agent_ = a;
    tour_.clear();
    tour_.push_back(model_->Agent(a).start);
    tour_.insert(tour_.end(), visits.begin(), visits.end());
    tour_.push_back(kEnd);
    if (++round_ == 0) {
        std::fill(stamp_.begin(), stamp_.end(), 0);
        round_ = 1;
    }
    for (const std::uint32_t v : visits) stamp_[v] = round_;
    Renumber(1, visits.size());
    length_ = 0.0;
    for (std::size_t p = 0; p + 1 < tour_.size(); ++p) length_ += Leg(tour_[p], tour_[p + 1]);
    queue_.clear();
    queue_head_ = 0;
    const std::uint32_t start = tour_[0];
    for (const std::uint32_t v : visits) {
        if (!SameBothWays(model_->Cost(a, start, v), model_->Cost(a, v, start))) return false;
    }
    return true;
}

void TourSearch::Renumber(std::size_t first, std::size_t last) {
    dirty_first_ = std::min(dirty_first_, first);
    dirty_last_ = std::max(dirty_last_, last);
    for (std::size_t p = first; p <= last; ++p) position_[tour_[p]] = static_cast<std::uint32_t>(p);
}

void TourSearch::Push(std::uint32_t v) {
    if (queued_[v] != 0) return;
    queued_[v] = 1;
    queue_.push_back(v);
}

void TourSearch::PushPosition(std::size_t p) {
    if (p > 0 && p + 1 < tour_.size()) Push(tour_[p]);
}

void TourSearch::Reverse(std::size_t first, std::size_t last) {
    std::reverse(tour_.begin() + static_cast<std::ptrdiff_t>(first),
                 tour_.begin() + static_cast<std::ptrdiff_t>(last) + 1);
    Renumber(first, last);
}

void TourSearch::MoveString(std::size_t s, std::size_t e, std::size_t gap, bool reversed) {
    const auto at = [&](std::size_t p) { return tour_.begin() + static_cast<std::ptrdiff_t>(p); };
    string_.assign(at(s), at(e + 1));
    if (reversed) std::reverse(string_.begin(), string_.end());
    const std::size_t length = e - s + 1;
    if (gap > e) {
        // The stretch after the string moves forward over it; the string goes behind.
        std::copy(at(e + 1), at(gap + 1), at(s));
        std::copy(string_.begin(), string_.end(), at(gap + 1 - length));
        Renumber(s, gap);
    } else {
        std::copy_backward(at(gap + 1), at(s), at(e + 1));
        std::copy(string_.begin(), string_.end(), at(gap + 1));
        Renumber(gap + 1, e);
    }
}

bool TourSearch::TryTwoOpt(std::size_t p, std::size_t q, bool after, double gain_start) {
    const std::uint32_t u = tour_[p];
    const std::uint32_t v = tour_[q];
    if (q == p + 1 || p == q + 1) return false;
    // u and v become neighbours: either each keeps its predecessor and the stretch after
    // the first of them up to the second is reversed, or each keeps its successor.
    const std::uint32_t x = after ? tour_[p + 1] : tour_[p - 1];
    const std::uint32_t y = after ? tour_[q + 1] : tour_[q - 1];
    const double gain = gain_start + Leg(v, y) - Leg(x, y);
    if (!(gain > kImprovement) || !std::isfinite(gain)) return false;
    const std::size_t lo = std::min(p, q);
    const std::size_t hi = std::max(p, q);
    if (after) {
        Reverse(lo + 1, hi);
    } else {
        Reverse(lo, hi - 1);
    }
    length_ -= gain;
    Push(u);
    Push(v);
    if (x != kEnd && x != tour_[0]) Push(x);
    if (y != kEnd && y != tour_[0]) Push(y);
    return true;
}

bool TourSearch::TryOrOpt(std::size_t s, std::size_t e, std::size_t gap, bool reversed,
                          double removed) {
    if (gap + 1 >= s && gap <= e) return false;  // next to the string: no move
    const std::uint32_t before = tour_[s - 1];
    const std::uint32_t after = tour_[e + 1];
    const std::uint32_t first = tour_[s];
    const std::uint32_t last = tour_[e];
    const std::uint32_t x = tour_[gap];
    const std::uint32_t y = tour_[gap + 1];
    const double added = reversed ? Leg(x, last) + Leg(first, y) : Leg(x, first) + Leg(last, y);
    const double gain = removed - (added - Leg(x, y));
    if (!(gain > kImprovement) || !std::isfinite(gain)) return false;
    MoveString(s, e, gap, reversed);
    length_ -= gain;
    for (const std::uint32_t w : {before, after, first, last, x, y}) {
        if (w != kEnd && w != tour_[0] && stamp_[w] == round_) Push(w);
    }
    return true;
}

bool TourSearch::ImproveAround(std::uint32_t u) {
    const std::size_t k = tour_.size() - 2;
    const std::size_t p = position_[u];
    const double to_next = Leg(u, tour_[p + 1]);
    const double from_previous = Leg(tour_[p - 1], u);
    // What taking out each string of 1 to 3 visits that begins (forward) or ends
    // (backward) at u saves; -inf where there is no such string.
    constexpr double kNone = -std::numeric_limits<double>::infinity();
    double forward[4] = {kNone, kNone, kNone, kNone};
    double backward[4] = {kNone, kNone, kNone, kNone};
    double largest = std::max(to_next, from_previous);
    for (std::size_t length = 1; length <= 3; ++length) {
        if (p + length - 1 <= k) {
            const std::size_t e = p + length - 1;
            forward[length] =
                from_previous + Leg(tour_[e], tour_[e + 1]) - Leg(tour_[p - 1], tour_[e + 1]);
            largest = std::max(largest, forward[length]);
        }
        if (length > 1 && p >= length) {
            const std::size_t s = p + 1 - length;
            backward[length] =
                Leg(tour_[s - 1], tour_[s]) + to_next - Leg(tour_[s - 1], tour_[p + 1]);
            largest = std::max(largest, backward[length]);
        }
    }
    const std::vector<std::uint32_t>& near = model_->Neighbours(u);
    const std::size_t count = std::min(granularity_, near.size());
    for (std::size_t n = 0; n < count; ++n) {
        const std::uint32_t v = near[n];
        if (stamp_[v] != round_) continue;
        const double uv = Leg(u, v);
        // Moves that bring u or its strings next to v are tried only when v is nearer to u
        // than what the move takes away at u (the usual cut of neighbour-list searches: an
        // improving move nearly always passes it at one of its ends).
        if (!(uv < largest)) continue;
        const std::size_t q = position_[v];
        if (uv < to_next && TryTwoOpt(p, q, true, to_next - uv)) return true;
        if (uv < from_previous && TryTwoOpt(p, q, false, from_previous - uv)) return true;
        for (std::size_t length = 1; length <= 3; ++length) {
            // The string that begins at u goes after or before v, either way round (u beside
            // v first).
            const std::size_t e = p + length - 1;
            if (uv < forward[length] && (q < p || q > e)) {
                if (TryOrOpt(p, e, q, false, forward[length])) return true;
                if (length > 1 && TryOrOpt(p, e, q - 1, true, forward[length])) return true;
                if (TryOrOpt(p, e, q - 1, false, forward[length])) return true;
                if (length > 1 && TryOrOpt(p, e, q, true, forward[length])) return true;
            }
            // The string that ends at u goes before or after v, either way round.
            if (length > 1 && uv < backward[length]) {
                const std::size_t s = p + 1 - length;
                if (q < s || q > p) {
                    if (TryOrOpt(s, p, q - 1, false, backward[length])) return true;
                    if (TryOrOpt(s, p, q, true, backward[length])) return true;
                    if (TryOrOpt(s, p, q, false, backward[length])) return true;
                    if (TryOrOpt(s, p, q - 1, true, backward[length])) return true;
                }
            }
        }
    }
    return depth_ == TourDepth::kDeep && TryThreeOpt(p);
}

bool TourSearch::TryThreeOpt(std::size_t p) {
    // The sequential search of neighbour-list 3-opt: u = t1 loses the leg to t2 (either
    // tour neighbour), t2 gains one to a near t3, t3 loses the leg to t4 (either tour
    // neighbour), t4 gains one to a near t5, t5 loses the leg to t6, and t6 closes to t1;
    // every partial sum must still gain. The moves that only 2-opt and Or-opt make are
    // found before this; these reconnect three stretches, which moves strings of any
    // length, reversed or not.
    const std::size_t end = tour_.size() - 1;
    const std::uint32_t t1 = tour_[p];
    for (const std::size_t p2 : {p + 1, p - 1}) {
        if (p2 == 0 || p2 == end) continue;
        const std::uint32_t t2 = tour_[p2];
        const double g1 = Leg(t1, t2);
        const std::vector<std::uint32_t>& near2 = model_->Neighbours(t2);
        const std::size_t count2 = std::min(granularity_, near2.size());
        for (std::size_t a = 0; a < count2; ++a) {
            const std::uint32_t t3 = near2[a];
            if (stamp_[t3] != round_ || t3 == t1) continue;
            const double g2 = g1 - Leg(t2, t3);
            if (!(g2 > kImprovement)) break;  // neighbours come nearest first
            const std::size_t p3 = position_[t3];
            for (const std::size_t p4 : {p3 + 1, p3 - 1}) {
                if (p4 == 0 || p4 == end || p4 == p || p4 == p2) continue;
                const std::uint32_t t4 = tour_[p4];
                const double g3 = g2 + Leg(t3, t4);
                const std::vector<std::uint32_t>& near4 = model_->Neighbours(t4);
                const std::size_t count4 = std::min(kThreeOptBreadth, near4.size());
                for (std::size_t b = 0; b < count4; ++b) {
                    const std::uint32_t t5 = near4[b];
                    if (stamp_[t5] != round_ || t5 == t3) continue;
                    const double g4 = g3 - Leg(t4, t5);
                    if (!(g4 > kImprovement)) break;
                    const std::size_t p5 = position_[t5];
                    for (const std::size_t p6 : {p5 + 1, p5 - 1}) {
                        if (p6 > end) continue;
                        const std::uint32_t t6 = tour_[p6];
                        const double gain = g4 + Leg(t5, t6) - Leg(t6, t1);
                        if (!(gain > kImprovement) || !std::isfinite(gain)) continue;
                        if (ApplyThreeOpt({p, p2, p3, p4, p5, p6}, gain)) return true;
                    }
                }
            }
        }
    }
    return false;
}

bool TourSearch::ApplyThreeOpt(const std::array<std::size_t, 6>& t, double gain) {
    // The removed legs, each named by its lower position, must be three different legs.
    std::array<std::size_t, 3> cut = {std::min(t[0], t[1]), std::min(t[2], t[3]),
                                      std::min(t[4], t[5])};
    for (std::size_t k = 0; k < 3; ++k) {
        if (std::max(t[2 * k], t[2 * k + 1]) != cut[k] + 1) return false;
    }
    std::sort(cut.begin(), cut.end());
    if (cut[0] == cut[1] || cut[1] == cut[2]) return false;
    const std::size_t i = cut[0];
    const std::size_t j = cut[1];
    const std::size_t l = cut[2];
    // The new legs as position pairs, lower first, in a fixed order to compare.
    using Leg2 = std::pair<std::size_t, std::size_t>;
    const auto pair = [](std::size_t x, std::size_t y) {
        return Leg2(std::min(x, y), std::max(x, y));
    };
    std::array<Leg2, 3> added = {pair(t[1], t[2]), pair(t[3], t[4]), pair(t[5], t[0])};
    std::sort(added.begin(), added.end());
    // The four ways of joining A = [0, i], B = [i + 1, j], C = [j + 1, l], D = [l + 1, end]
    // again that replace all three legs with A first and D last.
    const std::array<std::array<Leg2, 3>, 4> ways = {{
        {pair(i, j + 1), pair(l, i + 1), pair(j, l + 1)},  // A C B D
        {pair(i, j + 1), pair(l, j), pair(i + 1, l + 1)},  // A C B' D
        {pair(i, l), pair(j + 1, i + 1), pair(j, l + 1)},  // A C' B D
        {pair(i, j), pair(i + 1, l), pair(j + 1, l + 1)},  // A B' C' D
    }};
    std::size_t way = ways.size();
    for (std::size_t w = 0; w < ways.size(); ++w) {
        std::array<Leg2, 3> legs = ways[w];
        std::sort(legs.begin(), legs.end());
        if (legs == added) way = w;
    }
    if (way == ways.size()) return false;  // the legs would close a loop apart
    std::array<std::uint32_t, 6> touched{};
    for (std::size_t k = 0; k < 6; ++k) touched[k] = tour_[t[k]];
    const auto at = [&](std::size_t q) { return tour_.begin() + static_cast<std::ptrdiff_t>(q); };
    if (way == 1 || way == 3) std::reverse(at(i + 1), at(j + 1));
    if (way == 2 || way == 3) std::reverse(at(j + 1), at(l + 1));
    if (way != 3) std::rotate(at(i + 1), at(j + 1), at(l + 1));
    Renumber(i + 1, l);
    length_ -= gain;
    for (const std::uint32_t w : touched) {
        if (w != kEnd && w != tour_[0] && stamp_[w] == round_) Push(w);
    }
    return true;
}

void TourSearch::Descend() {
    // A cap on moves, so that rounding can never make a descent cycle.
    moves_left_ = 100 * tour_.size() + 1000;
    while (queue_head_ < queue_.size()) {
        const std::uint32_t u = queue_[queue_head_++];
        queued_[u] = 0;
        if (moves_left_ == 0) continue;  // drains the queue
        if (ImproveAround(u)) --moves_left_;
        if (queue_head_ > 4096 && 2 * queue_head_ > queue_.size()) {
            queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(queue_head_));
            queue_head_ = 0;
        }
    }
    queue_.clear();
    queue_head_ = 0;
}

void TourSearch::Kick(std::mt19937_64& rng) {
    // Two neighbouring stretches B and C change places: A B C D becomes A C B D.
    const std::size_t k = tour_.size() - 2;
    const std::size_t span = std::min(kKickStretch, k / 3);
    std::uniform_int_distribution<std::size_t> stretch(1, span);
    const std::size_t first = stretch(rng);
    const std::size_t second = stretch(rng);
    std::uniform_int_distribution<std::size_t> where(0, k - first - second);
    const std::size_t i = where(rng);
    const std::size_t j = i + first;
    const std::size_t l = j + second;
    const double change = Leg(tour_[i], tour_[j + 1]) + Leg(tour_[l], tour_[i + 1]) +
                          Leg(tour_[j], tour_[l + 1]) - Leg(tour_[i], tour_[i + 1]) -
                          Leg(tour_[j], tour_[j + 1]) - Leg(tour_[l], tour_[l + 1]);
    if (!std::isfinite(change)) return;
    for (const std::size_t p : {i, i + 1, j, j + 1, l, l + 1}) PushPosition(p);
    std::rotate(tour_.begin() + static_cast<std::ptrdiff_t>(i + 1),
                tour_.begin() + static_cast<std::ptrdiff_t>(j + 1),
                tour_.begin() + static_cast<std::ptrdiff_t>(l + 1));
    Renumber(i + 1, l);
    length_ += change;
}

bool TourSearch::Store(EngineSolution& solution, std::size_t a, double original) {
    if (!(best_length_ < original - kImprovement)) return false;
    const EngineRoute& route = solution.Route(a);
    std::vector<std::uint32_t> previous = route.visits;
    const double previous_cost = route.cost;
    solution.SetVisits(a, std::vector<std::uint32_t>(best_tour_.begin() + 1, best_tour_.end() - 1));
    if (solution.Route(a).cost < previous_cost - kImprovement) return true;
    solution.SetVisits(a, std::move(previous));
    return false;
}

bool TourSearch::ImproveChanged(EngineSolution& plan, double kicks_per_visit,
                                std::vector<std::vector<std::uint32_t>>& searched,
                                std::mt19937_64& rng,
                                const std::function<bool(const EngineRoute&)>& wanted) {
    searched.resize(plan.NumRoutes());
    bool changed = false;
    for (std::size_t r = 0; r < plan.NumRoutes(); ++r) {
        const EngineRoute& route = plan.Route(r);
        if (route.visits == searched[r] || (wanted && !wanted(route))) continue;
        const double kicks = kicks_per_visit * static_cast<double>(route.visits.size());
        changed = Improve(plan, r, static_cast<std::size_t>(kicks), rng) || changed;
        searched[r] = plan.Route(r).visits;
    }
    return changed;
}

bool TourSearch::Repair(EngineSolution& solution, std::size_t a,
                        const std::vector<std::uint32_t>& around) {
    if (!Load(solution, a)) return false;
    const double original = length_;
    for (const std::uint32_t v : around) {
        if (stamp_[v] == round_) Push(v);
    }
    Descend();
    best_tour_ = tour_;
    best_length_ = length_;
    return Store(solution, a, original);
}

bool TourSearch::Improve(EngineSolution& solution, std::size_t a, std::size_t kicks,
                         std::mt19937_64& rng) {
    if (!Load(solution, a)) return false;
    const std::size_t k = solution.Route(a).visits.size();
    const double original = length_;
    for (std::size_t p = 1; p <= k; ++p) Push(tour_[p]);
    Descend();
    best_tour_ = tour_;
    best_length_ = length_;
    if (k >= kKickVisits) {
        for (std::size_t kick = 0, tried = 0; kick < kicks; ++kick, ++tried) {
            if (stop_ && tried % 64 == 63 && stop_()) break;
            dirty_first_ = tour_.size();
            dirty_last_ = 0;
            Kick(rng);
            Descend();
            if (dirty_first_ > dirty_last_) continue;  // the kick did not move anything
            // Only the stretch that the kick and its descent renumbered differs between
            // the two tours: copied either way, a kick costs what it moved, not the tour.
            const auto first = static_cast<std::ptrdiff_t>(dirty_first_);
            const auto end = static_cast<std::ptrdiff_t>(dirty_last_) + 1;
            if (length_ <= best_length_) {
                // Deep: a shorter tour earns a full count of kicks again.
                if (depth_ == TourDepth::kDeep && length_ < best_length_ - kImprovement) {
                    kick = 0;
                }
                // Equal tours are taken too: they let the search drift across plateaus.
                std::copy(tour_.begin() + first, tour_.begin() + end, best_tour_.begin() + first);
                best_length_ = length_;
            } else {
                const std::size_t last = dirty_last_;
                std::copy(best_tour_.begin() + first, best_tour_.begin() + end,
                          tour_.begin() + first);
                Renumber(dirty_first_, last);
                length_ = best_length_;
            }
        }
    }
    return Store(solution, a, original);
}

}  // namespace vornik
