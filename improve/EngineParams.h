#ifndef VORNIK_IMPROVE_ENGINEPARAMS_H
#define VORNIK_IMPROVE_ENGINEPARAMS_H

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace vornik {

/// How the engine searches after its first solution: ruin and recreate under simulated
/// annealing, a population with crossover, or whichever measured better for the
/// instance's objective and size.
enum class SearchStrategy { kAnneal, kPopulation, kAuto };

/// Every tuning constant of the improvement engine, in one record so that benchmarks can
/// tune them and users can repeat a tuned run. The defaults are the values the engine was
/// measured with; changing none of them changes nothing.
struct EngineParams {
    /// engine_params["strategy"]: "anneal", "population" or "auto".
    SearchStrategy strategy = SearchStrategy::kAuto;

    // Simulated annealing. Temperatures are in average legs of the first solution (its
    // summed cost over targets + agents).
    double start_temperature = 2.0;
    double end_temperature = 0.01;
    /// Candidates within this many temperatures of the best get a local search.
    double polish_window = 2.0;
    /// Length of the first cooling epoch in steps per target; 0 cools once over the whole
    /// budget. With epochs, each epoch cools from the start to the end temperature and the
    /// next one, `epoch_growth` times longer, starts again from the best solution. The
    /// schedule does not depend on the budget, so a longer run repeats a shorter one and
    /// then goes on: it never ends worse. Measured at 10 s of processor time on rat99,
    /// kroA200, lin318, rat783 and pr1002 (one seed, two runs), 60 ended 0.35 % below one
    /// cooling over the budget on the geometric mean (30: 0.12 %, 100: 0.29 %), and at 2 s
    /// 0.24 % below.
    double first_epoch = 60.0;
    double epoch_growth = 2.0;
    /// Epochs after the first start at this share of the start temperature: they begin
    /// from the best solution, which a full reheat would mostly scramble.
    double restart_temperature = 1.0;

    // The score under min-max: the largest route plus `sum_share` / agents of the summed
    // cost while rebuilding (so shorter routes still improve), and `descent_sum_weight`
    // of it during local search (a tie-breaker only).
    double sum_share = 0.1;
    double descent_sum_weight = 1e-6;

    // Ruin and recreate.
    double removed_share = 0.25;  ///< targets removed per step, as a share of all ...
    double max_removed = 10.0;    ///< ... but at most this many on average
    double longest_bias = 0.5;    ///< under min-max, chance the ruin starts in the longest route
    double max_string = 10.0;     ///< longest string one route loses
    double blink = 0.01;          ///< chance an insertion place is skipped
    std::size_t exhaustive_targets = 200;  ///< above this, insertion looks near neighbours only
    /// Under the route bound below, chance the ruin starts at a target with a near
    /// neighbour in another route. There each route's tour is soon as good as the tour
    /// search makes it, and a ruin inside one route only redraws that tour: what is left
    /// is which route serves the targets between them. At 60 s against 0, seeds 0 to 3:
    /// pcb1173 with 5 agents 1.0035 of LKH-3 on the mean against 1.0061 (better on three
    /// seeds of four), with 3 agents 1.0085 against 1.0096 (two of four); rat783 with 5
    /// agents better on two seeds of three, with 3 agents 0.1 % worse. Over the eight large
    /// cases of benchmarks/strength_bench.py, within the noise between runs. 1 was far worse
    /// on pcb1173 with 3 agents (1.018 and 1.021), 0.25 between the two.
    double boundary_bias = 0.5;
    /// From this many targets on (0: never), a first solution is cut from a nearest-
    /// neighbour tour before the insertion runs, and stands in for it when the budget ends
    /// first: the insertion takes 0.1 s from about 1,000 targets on and 0.2 s at 10,000.
    std::size_t quick_start_targets = 500;

    // Local search.
    std::size_t granularity = 12;      ///< neighbours of each target tried (at most 40)
    std::size_t longest_string = 3;    ///< longest string an exchange moves
    std::size_t focus_neighbours = 4;  ///< after a ruin, neighbours of each removed target searched

    // The population (strategy "population").
    std::size_t population_size = 25;       ///< individuals kept after thinning
    std::size_t offspring = 40;             ///< children bred before the population is thinned
    std::size_t elite = 4;                  ///< best individuals diversity cannot push out
    std::size_t diversity_neighbours = 5;   ///< closest others that measure diversity
    std::size_t population_restart = 5000;  ///< children without a new best before a fresh start
    /// Share of a fresh population built from random tours; the others are tours of the
    /// best so far with stretches moved. Measured at 10 s under min-sum (kroA200 to
    /// pr1002): 1 gained up to 0.5 % up to 439 targets and lost 0.7 % on pr1002; 0 was
    /// 0.06 % better on the geometric mean.
    double random_individuals = 0.0;
    /// The same share for the populations of restarts.
    double restart_random_individuals = 0.0;
    /// 1: a child's descent looks only around the neighbour pairs that neither parent
    /// has; 0: over every target. Focused descents breed 7 to 10 times as many children;
    /// at 10 s under min-sum 0.18 % better on the geometric mean.
    std::size_t population_focus = 1;

    // Local search through infeasible space. 1: on instances with windows or capacities,
    // descents may pass through plans that are late at windows or load above capacities,
    // both priced by weights that adapt, and a plan that ends so is repaired (a descent
    // under ten and a hundred times the weights) or else given up for the plan the
    // descent started from. 0: every plan a descent passes through keeps the rules.
    // 2 (auto): 1 under min-sum with capacities and without windows below
    // `infeasible_targets` targets, else 0. Measured on the real-fleet sets
    // (benchmarks/infeasible_bench.py, one seed): on generated CVRP
    // 0.6 % better at 10 s and 0.1 % at 60 s (500 customers: 0.3 % worse at 60 s); on
    // Solomon the same values in a third of the steps or fewer; with windows, service and
    // optional targets together about 1 % worse at 10 s; under min-max no gain.
    std::size_t infeasible_search = 2;
    /// Share of descents that should end without lateness (and, apart, without excess
    /// load): below it the weight grows by a fifth, above it shrinks by 15 %, every 100
    /// descents.
    double feasible_share = 0.4;
    /// A focused descent through infeasible space also searches around the targets of the
    /// routes it makes late or overloaded, at most this many times its focus on top (the
    /// move that mends such a route is seldom next to the one that broke it). On 500
    /// targets no bound made descents nearly global and cut the steps per second fivefold.
    double take_up = 1.0;
    /// Under auto (`infeasible_search` 2), instances with at least this many targets
    /// search within the rules only; 0: no such size. On generated CVRP with 500
    /// customers (seeds 0, 1, 2) staying within the rules was 0.5 % better at 10 s and
    /// 0.4 % at 60 s (better on two seeds of three at each budget), while at 200 crossing
    /// won (one seed: 1.4 % at 10 s, 0.5 % at 60 s); where between the two is unmeasured.
    std::size_t infeasible_targets = 400;

    // The tour search (improve/TourSearch.h) of each route of a new best solution.
    /// Kicks per visit of the route; 0 leaves tours to the local search alone.
    double tour_kicks = 1.0;
    /// The same for each route of the population's new bests (strategy "population"), with
    /// the deep tour search: 3-opt too, and kicks until this many per visit in a row found
    /// nothing shorter. Under min-sum with routes free to stay empty, the best plans of
    /// large instances are one or a few long tours, which the population's descent left
    /// 2 % to 3 % above what the tour search reaches. Measured at 10 s on nine TSPLIB
    /// cases of 51 to 1,002 nodes (one seed), against none: 30 gave 0.9935 on the
    /// geometric mean (pr1002 with 10 agents 2.7 % better, rat783 2.4 %, lin318 0.5 %, the
    /// mTSPLib files the same), 10 gave 0.9946, 1 gave 0.9960.
    double population_tour_kicks = 30.0;
    /// Routes with fewer visits than this are left to the population's descent, which
    /// already ends at their best tours (the mTSPLib files and kroA200 gave the same
    /// values with and without the deep search); it also keeps small solves as cheap as
    /// before.
    std::size_t population_tour_visits = 100;
    /// Kicks per visit for every route of the plan each cooling epoch starts from (the best
    /// so far), where the walk has stalled long enough for a deeper tour search to pay;
    /// 0 turns it off.
    double restart_kicks = 0.0;

    /// Under min-max with at least `cap_targets` targets per agent, the annealing (after
    /// `cap_from_epoch` cooling epochs) scores plans by their summed cost, each route's
    /// cost above a bound counting `cap_weight` times more on top, the bound `cap_share`
    /// below the walk's best longest route (and following it down). Any plan within the
    /// bound has a shorter longest route than the best, and below it the walk shortens
    /// routes as a min-sum search does: with few
    /// agents every route ends near the longest, and the longest-route score sees no gain
    /// until all of them are shorter at once (rat783 with 3 agents stalled at 1.1 % above
    /// LKH-3's value from 5 s on). Measured on lin318, rat783 and pcb1173 with 3, 5 and 10
    /// agents (benchmarks/strength_bench.py, one seed): at 10 s better on every case from
    /// 106 targets per agent on, 3 % to 4 % worse at 64 and 78, where the summed cost pulls
    /// targets off the short routes; at 60 s better from 157 on (rat783 with 3 agents
    /// 1.0110 -> 1.0017 of LKH-3, pcb1173 with 3 agents 1.0110 -> 1.0071), 0.3 % and
    /// 0.5 % worse at 106 and 117. 0 for `cap_share` turns it off.
    double cap_share = 0.005;
    double cap_weight = 2.0;
    std::size_t cap_targets = 150;
    /// Under that bound, `polish_window` in place of its own. Each cooling epoch there
    /// starts from the best plan and heats far above it, and with 2 the walk polished no
    /// candidate until it had cooled to a fifth or a tenth of its start. At 60 s against
    /// 2 (pcb1173, seeds 0 to 8): with 5 agents 1.0015 of LKH-3 on the mean against
    /// 1.0050, with 3 agents 1.0069 against 1.0066, runs above 1.01 one of 18 against
    /// three; rat783 (seeds 0 to 4) with 3 agents 0.9967 against 0.9999, with 5 0.9920
    /// against 0.9899.
    double cap_polish_window = 4.0;
    /// Cooling epochs that run under the longest-route score before that bound takes
    /// over (0: the bound from the first step; without epochs, `first_epoch` 0, it starts
    /// at once). The first epoch decides which region each agent serves. Under the bound
    /// every route soon ends above it, where only the summed cost counts, and that split
    /// came out at random: pcb1173 with 3 agents ended above 1.01 of LKH-3's value at 60 s
    /// on seeds 6 and 11 of 18, seed 6 having left its first epoch 2.3 % above it. The
    /// longest-route score shares the regions out evenly first. At 60 s against 0 (seeds
    /// 0 to 8, and 11): pcb1173 with 3 agents 1.0054 of LKH-3 on the geometric mean
    /// against 1.0069 (seed 6 1.0066 against 1.0154, seed 11 1.0007 against 1.0149), with
    /// 5 agents 1.0019 against 1.0015, rat783 with 3 agents 0.9985 against 0.9973, with 5
    /// 0.9902 against 0.9911; 0.99894 over the 36 runs against 0.99919, none above 1.01.
    std::size_t cap_from_epoch = 1;
    /// Kicks per visit of the tour search under that bound, in place of `tour_kicks`:
    /// there a new best's routes are long, and the walk's own moves leave their tours
    /// further from what they can be. Measured at 60 s against 1 (seeds 0 to 2): pcb1173
    /// with 3 agents 0.8 % better on every seed, with 5 agents 0.3 % better (two seeds of
    /// three), rat783 with 5 agents 0.1 % better, rat783 with 3 agents 0.4 % worse on
    /// every seed; 0.2 % better over the twelve runs.
    double cap_tour_kicks = 3.0;
    /// Under that bound, `max_removed` in place of its own: a ruin there takes strings from
    /// more of the routes near its seed (three or more on two ruins of three, where 10
    /// allows it on one of four), so targets between routes change hands in one step. At
    /// 60 s against 10 (seeds 0 to 2): pcb1173 with 3 agents 1.0091 -> 1.0041 of LKH-3 on
    /// the mean and better on every seed, rat783 with 3 agents 0.1 % better and with 5 the
    /// same, pcb1173 with 5 agents 0.2 % worse. 30 and 45 did worse than 10 on pcb1173 with
    /// 3 agents (mean of seeds 0 and 1).
    double cap_max_removed = 20.0;
    /// Under that bound, a polished candidate whose routes sum to less than the best's
    /// gets up to this many moves of a string from its longest route to another route,
    /// each lowering the longest route (improve/RouteBalance.h); 0 (the default) turns
    /// them off. Measured with 30 at 10 s on rat783 and pcb1173 with 3 and 5 agents,
    /// seeds 0 to 2 (ten runs): 0.9954 of the walk without them on the geometric mean,
    /// from 1.6 % better to 1.6 % worse (pcb1173 with 3 agents, seed 2); but at 60 s
    /// (seed 0) worse on rat783 with 3 and 5 agents and pcb1173 with 3 (1.0013, 1.0076,
    /// 1.0049 of the walk without them), and on the min-max cases without the bound (up
    /// to 117 targets per agent) 0.2 % worse at 10 s.
    std::size_t balance_rounds = 0;

    /// Throws std::invalid_argument naming the field (as engine_params["name"]) when a
    /// value is out of its range.
    void Validate() const;
};

/// Sets the field called `name` from `value`; throws std::invalid_argument for a name the
/// record does not have or a value out of range (integer fields take whole numbers).
void SetEngineParam(EngineParams& params, const std::string& name, double value);

/// Sets the text field called `name` (only "strategy") from `value`; throws
/// std::invalid_argument for another name or an unknown value.
void SetEngineParamText(EngineParams& params, const std::string& name, const std::string& value);

/// "anneal", "population" or "auto".
const char* StrategyName(SearchStrategy strategy);

/// Every numeric field with its value, in declaration order (the strategy is not one).
std::vector<std::pair<std::string, double>> EngineParamValues(const EngineParams& params);

}  // namespace vornik

#endif  // VORNIK_IMPROVE_ENGINEPARAMS_H
