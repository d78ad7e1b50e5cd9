#ifndef VORNIK_IMPROVE_TOURSEARCH_H
#define VORNIK_IMPROVE_TOURSEARCH_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <random>
#include <utility>
#include <vector>

#include "improve/EngineParams.h"
#include "improve/EngineSolution.h"

namespace vornik {

/// How hard the tour search works. Quick: 2-opt and Or-opt, and a fixed number of kicks.
/// Deep: 3-opt as well, and kicks until a number of them in a row found nothing shorter.
/// On pcb1173 as one route, from a random order, the quick search stalls 1.3 % above the
/// optimum and the deep one reaches 0.3-0.5 % in twice the time (benchmarks/tour_bench).
enum class TourDepth { kQuick, kDeep };

/// Shortens one route's tour by itself, its targets fixed: an iterated local search of
/// 2-opt and Or-opt (strings of 1 to 3 visits moved, either way round) over each visit's
/// nearest targets in the same route, with a queue of visits still worth a look (a
/// "don't look" bit per visit), and kicks that swap two short neighbouring stretches
/// (a double bridge), kept when the tour after the descent is no longer.
///
/// On a route of a few hundred visits a kick and its descent cost microseconds, where a
/// ruin-and-recreate step of the whole solution costs a hundred times that; and the
/// search's own 2-opt and relocation leave large tours several percent above what they
/// can be.
///
/// Only where a route's cost is its travel plus fixed service: no windows, costs the
/// same both ways. Every result is priced again by the route's own walk and kept only
/// when it is cheaper, so the rules of the route hold whatever the arithmetic here.
class TourSearch {
public:
    // model outlives it.
    TourSearch(const EngineModel* model, const EngineParams& params,
               TourDepth depth = TourDepth::kQuick);

    /// False when the instance's routes do not cost their travel alone, both ways alike
    /// (sampled over neighbour pairs): Improve then does nothing.
    bool Applies() const { return applies_; }

    /// Descends on route a of `solution`, then tries `kicks` kicks (deep: until `kicks` in
    /// a row found no shorter tour); returns true when the route was replaced by a
    /// cheaper one.
    bool Improve(EngineSolution& solution, std::size_t a, std::size_t kicks, std::mt19937_64& rng);

    /// Improve on each route of `plan` that differs from what `searched` holds for it and
    /// that `wanted` accepts (every route, when it is empty), with `kicks_per_visit` times
    /// the route's visits; records each route it searched. True when a route got shorter.
    bool ImproveChanged(EngineSolution& plan, double kicks_per_visit,
                        std::vector<std::vector<std::uint32_t>>& searched, std::mt19937_64& rng,
                        const std::function<bool(const EngineRoute&)>& wanted = {});

    /// Descends on route a of `solution` from the visits in `around` only (those of them
    /// in the route), without kicks: the repair after a local change. Returns true when
    /// the route was replaced by a cheaper one.
    bool Repair(EngineSolution& solution, std::size_t a, const std::vector<std::uint32_t>& around);

    /// Ends Improve early, between kicks, once `stop` says so (asked every few kicks).
    void SetStop(std::function<bool()> stop) { stop_ = std::move(stop); }

    /// The travel of the best tour of the last Improve as its moves priced it, summed
    /// move by move (what tests hold against the route walked again).
    double TrackedLength() const { return best_length_; }

private:
    static constexpr std::uint32_t kEnd = static_cast<std::uint32_t>(-1);

    /// Leg from x to y, either of them the route's end (kEnd).
    double Leg(std::uint32_t x, std::uint32_t y) const;
    /// Loads route a; false when the search leaves it alone (too short, not costed both
    /// ways alike).
    bool Load(const EngineSolution& solution, std::size_t a);
    /// Puts the best tour into route a when it is cheaper by the route's own walk.
    bool Store(EngineSolution& solution, std::size_t a, double original);
    void Push(std::uint32_t v);
    void PushPosition(std::size_t p);
    void Descend();
    bool ImproveAround(std::uint32_t u);
    /// The 2-opt move that makes the visits at p and q neighbours, each keeping its
    /// successor (`after`) or its predecessor; `gain_start` is what the move gains at p.
    bool TryTwoOpt(std::size_t p, std::size_t q, bool after, double gain_start);
    /// Moves the string at positions s .. e between positions gap and gap + 1, reversed or
    /// not, when that gains; `removed` is what taking the string out saves.
    bool TryOrOpt(std::size_t s, std::size_t e, std::size_t gap, bool reversed, double removed);
    /// The sequential 3-opt moves that begin at the visit at p; makes the first that gains.
    bool TryThreeOpt(std::size_t p);
    /// Makes the 3-opt move that takes away the legs t[0]-t[1], t[2]-t[3], t[4]-t[5] and
    /// adds t[1]-t[2], t[3]-t[4], t[5]-t[0] (positions), when those are three legs and
    /// the new ones join the tour into one path; `gain` is what it saves.
    bool ApplyThreeOpt(const std::array<std::size_t, 6>& t, double gain);
    void Kick(std::mt19937_64& rng);
    void Reverse(std::size_t first, std::size_t last);
    void MoveString(std::size_t s, std::size_t e, std::size_t gap, bool reversed);
    void Renumber(std::size_t first, std::size_t last);

    const EngineModel* model_;
    std::size_t granularity_;
    TourDepth depth_;
    bool applies_ = true;
    std::function<bool()> stop_;

    std::size_t agent_ = 0;
    /// Positions 0 .. k + 1: the start, the visits, kEnd.
    std::vector<std::uint32_t> tour_;
    std::vector<std::uint32_t> best_tour_;
    std::vector<std::uint32_t> position_;  ///< by vertex, valid while stamp_ is current
    std::vector<std::uint32_t> stamp_;     ///< by vertex: == round_ while in the tour
    std::uint32_t round_ = 0;
    std::vector<std::uint32_t> queue_;
    std::size_t queue_head_ = 0;
    std::vector<std::uint8_t> queued_;  ///< by vertex
    std::vector<std::uint32_t> string_;
    /// Positions renumbered since the last kick began: where tour_ may differ from
    /// best_tour_.
    std::size_t dirty_first_ = 0;
    std::size_t dirty_last_ = 0;
    double length_ = 0.0;
    double best_length_ = 0.0;
    std::size_t moves_left_ = 0;
};

}  // namespace vornik

#endif  // VORNIK_IMPROVE_TOURSEARCH_H
