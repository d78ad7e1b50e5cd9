#ifndef VORNIK_SEARCH_SOLVER_H
#define VORNIK_SEARCH_SOLVER_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/InstanceModel.h"
#include "core/Problem.h"
#include "core/SearchRecords.h"
#include "graph/PlannerGraph.h"
#include "search/FocalSearch.h"
#include "search/ImprovingSolve.h"
#include "search/SolverRecords.h"

namespace vornik {

/// The planner: reads a Problem into the instance model, and from it the focal search's
/// instance (FocalIntake: tables, graph, plug-ins); runs the anytime focal search
/// (FocalSearch) with the hooks and budget of each call, and the improvement path on the
/// same model. The Solver itself is the solve pipeline over those parts; their public
/// operations (the tables' setters, Prepare, the search's steps and accessors) are its.
///
/// Construction reads the Problem once and keeps no copy of it: the improvement path
/// reads the instance model, which the Solver shares. Solve may be called again; every
/// call starts from a clean search state and repeats the same search.
/// Owns its graph, plug-ins, node pool, lists, frontiers, result and anytime records.
class Solver : public FocalSearch {
public:
    /// Builds the tables, the graph and the plug-ins, then runs Prepare. Throws
    /// std::invalid_argument for instances it cannot represent (more than 256 nodes, a
    /// cost matrix larger than the node count, a NaN cost) and std::out_of_range
    /// ("_Map_base::at: ...") for a start or end node id that no node has, or a cost
    /// matrix whose type no agent has. The memory limit is DefaultMemoryLimitBytes().
    Solver(const Problem& problem, const Options& options);
    /// The same with a memory limit for the whole solve, in bytes. Before allocating
    /// anything it estimates what the instance's tables and the smallest search need and
    /// throws std::invalid_argument, naming the numbers, when that passes the limit; a
    /// std::bad_alloc while building becomes an OutOfMemoryError naming the instance's size.
    Solver(const Problem& problem, const Options& options, std::size_t memory_limit_bytes);
    /// The same from an instance model that others (the improvement engine) read too.
    /// Prints nothing: warnings about the instance are the model's builder's to print.
    Solver(std::shared_ptr<const InstanceModel> model, const Options& options,
           std::size_t memory_limit_bytes);
    ~Solver();

    Solver(const Solver&) = delete;
    Solver& operator=(const Solver&) = delete;

    /// Solves an instance given as tables (closing moves free), recording the routes in
    /// the path record file under `name`.
    bool SolveInstance(const PlannerGraph* graph, const std::vector<NodeEntry>& nodes,
                       const std::vector<AgentEntry>& agents,
                       const std::vector<std::uint64_t>& starts,
                       const std::vector<std::uint64_t>& goals, double time_limit,
                       const std::string& name);
    /// Runs the anytime focal search; true when it found at least one solution.
    ///
    /// The search's structures (pool, lists, frontiers) stop growing where they would
    /// pass the memory limit less the tables' estimate: the search then ends as at a
    /// time-out, keeping its best solution, and writes kMemoryLimitLine to the standard
    /// error stream. A std::bad_alloc after a solution exists ends it the same way (with
    /// kOutOfMemoryLine); before any solution it becomes an OutOfMemoryError naming the
    /// instance's size. Either way the search's structures are freed first.
    bool Solve();
    /// The same search with `hooks` instead of those set with SetShouldStop and
    /// SetOnSolution, and `budget` instead of the time and memory limits the Solver was
    /// given; all are used during this call only.
    bool Solve(const SearchHooks& hooks);
    bool Solve(const SearchHooks& hooks, const SearchBudget& budget);

    /// The stop request of the searches that Solve() runs (see SearchHooks): once it
    /// answers true the answer is latched and Interrupted() reports it. Empty by default.
    void SetShouldStop(std::function<bool()> should_stop) {
        hooks_.should_stop = std::move(should_stop);
    }
    /// Called once per anytime record that improves on every earlier one by more than
    /// 1e-9 (by the sum under min-sum, the largest route under min-max), with (search
    /// seconds, largest route cost, sum of route costs): the same solutions, in the same
    /// order, as the "anytime" list of the JSON entry points. Empty by default.
    void SetOnSolution(std::function<void(double, double, double)> on_solution) {
        hooks_.on_solution = std::move(on_solution);
    }

    /// Runs the improvement path on the instance this Solver was built from: the focal
    /// search until its first solution, then the improvement engine for the rest of the
    /// budget. Afterwards GetResult holds the best solution and GetResultProcess the
    /// search's records followed by one record of the engine's best, when it improved. The
    /// stop and solution hooks set above are used. True when a solution was found.
    bool SolveImproving(const ImproveSettings& settings, ImproveReport* report = nullptr);
    /// The same with `hooks` instead of those set above, for this call only.
    bool SolveImproving(const ImproveSettings& settings, const SearchHooks& hooks,
                        ImproveReport* report = nullptr);
    /// What the last SolveImproving left unserved and why (unserved, penalty, reasons,
    /// loads of its report); empty before the first.
    [[nodiscard]] const ImproveReport& LastImproveReport() const { return last_improve_; }
    /// Node id of a vertex (a position in the instance's nodes) of this Solver's instance.
    [[nodiscard]] std::uint64_t NodeIdOfVertex(std::uint32_t v) const;
    /// The instance model this Solver was built from.
    [[nodiscard]] const std::shared_ptr<const InstanceModel>& Model() const { return model_; }

protected:
    /// Construction after the model exists: the focal search's instance from it.
    void Build(const Options& options);

    // The instance, for the improvement path, and the options it was built with.
    std::shared_ptr<const InstanceModel> model_;
    Options options_;
    // The budget of the searches Solve() runs.
    double time_limit_ = 60.0;
    // The hooks Solve() and SolveImproving() use.
    SearchHooks hooks_;
    std::string instance_name_;
    ImproveReport last_improve_;  // only its plan's gaps: unserved, penalty, reasons, loads
};

}  // namespace vornik

#endif  // VORNIK_SEARCH_SOLVER_H
