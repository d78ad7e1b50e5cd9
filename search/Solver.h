#ifndef VORNIK_SEARCH_SOLVER_H
#define VORNIK_SEARCH_SOLVER_H

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "core/InstanceModel.h"
#include "core/Problem.h"
#include "core/SearchRecords.h"
#include "graph/DenseGraph.h"
#include "graph/PlannerGraph.h"
#include "graph/SimpleTimer.h"
#include "plugins/ConstraintCheckerPlugin.h"
#include "plugins/ExpansionPlugin.h"
#include "plugins/HeuristicPlugin.h"
#include "plugins/ObjectivePlugin.h"
#include "plugins/PostOptimizerPlugin.h"
#include "search/FocalComparatorPlugin.h"
#include "search/Frontier.h"
#include "search/FrontierStore.h"
#include "search/ImprovingSolve.h"
#include "search/ListArena.h"
#include "search/MemoryBudget.h"
#include "search/NodePool.h"
#include "search/SearchProbe.h"
#include "search/SolverRecords.h"
#include "search/StateKeyIndex.h"

namespace vornik {

/// The planner: reads a Problem into the instance model, builds the focal search's
/// tables and complete graph (one cost per agent type) from it, wires one plug-in per
/// role, and runs the anytime focal search.
///
/// Construction reads the Problem once and keeps no copy of it: the improvement path
/// reads the instance model, which the Solver shares. Solve may be called again; every
/// call starts from a clean search state and repeats the same search.
/// Owns its graph, plug-ins, node pool, lists, frontiers, result and anytime records.
class Solver {
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

    /// Replaces the node table; every entry's allowed types must be [0] or [0, 1]
    /// (prints "Wrong Point type" and throws std::invalid_argument otherwise).
    void SetNodes(const std::vector<NodeEntry>& nodes);
    void SetAgents(const std::vector<AgentEntry>& agents);
    /// Points the search at `graph`, which the caller keeps alive while this Solver lives.
    void SetGraph(const PlannerGraph* graph);
    /// Solves an instance given as tables (closing moves free), recording the routes in
    /// the path record file under `name`.
    bool SolveInstance(const PlannerGraph* graph, const std::vector<NodeEntry>& nodes,
                       const std::vector<AgentEntry>& agents,
                       const std::vector<std::uint64_t>& starts,
                       const std::vector<std::uint64_t>& goals, double time_limit,
                       const std::string& name);
    /// Copy of the result, with last_update_time set to the time of its last solution.
    Result GetResult();
    SolverStatistics GetStatistics() const;
    std::vector<AnytimeRecord> GetResultProcess() const;
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
    bool Prepare();
    bool FindUnreachablePoints();
    bool BuildEdgeList();
    std::int64_t NewNode();
    bool IsDominated(const SearchNode& node);
    void AddToFrontier(const SearchNode& node);
    void ExtractSolution(std::int64_t goal_id);
    bool IsGoal(const SearchNode& node) const;
    double SumCost(const SearchNode& node) const;
    void ResetFrontiers();
    std::int64_t CountVisited(const SearchNode& node) const;
    void Refocus(double old_bound, double new_bound);
    void UpdateStatistics();
    void SetIncumbent(double cost);

    /// The stop request of the searches that Solve() runs (see SearchHooks): once it
    /// answers true the answer is latched and Interrupted() reports it. Empty by default.
    void SetShouldStop(std::function<bool()> should_stop) {
        hooks_.should_stop = std::move(should_stop);
    }
    [[nodiscard]] bool Interrupted() const { return interrupted_; }
    /// Sets the memory limit of the searches to come (bytes for the whole solve, the
    /// tables included). Throws std::invalid_argument, naming the numbers, when the
    /// tables and the smallest search do not fit in it.
    void SetMemoryLimit(std::size_t bytes);
    [[nodiscard]] std::size_t MemoryLimit() const { return memory_limit_; }
    /// True when the last search was ended by the memory limit or by running out of memory.
    [[nodiscard]] bool MemoryEnded() const { return memory_ended_; }
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
    /// What the last SolveImproving left unserved and why (unserved, penalty, reasons,
    /// loads of its report); empty before the first.
    [[nodiscard]] const ImproveReport& LastImproveReport() const { return last_improve_; }
    /// Node id of a vertex (a position in the instance's nodes) of this Solver's instance.
    [[nodiscard]] std::uint64_t NodeIdOfVertex(std::uint32_t v) const;
    /// The instance model this Solver was built from.
    [[nodiscard]] const std::shared_ptr<const InstanceModel>& Model() const { return model_; }
    /// Replaces the post-optimizer (configured as Prepare configures the default one).
    void SetPostOptimizer(std::unique_ptr<PostOptimizerPlugin> post_optimizer);
    /// Installs a probe the search calls before it stores each node (null: none). For
    /// tests that make a search fail where the system would.
    void SetProbe(std::unique_ptr<SearchProbe> probe) { probe_ = std::move(probe); }
    /// Gives back the memory of the search (pool, lists, frontiers), keeping the result,
    /// the anytime records and the statistics. For callers that only read the result
    /// afterwards.
    void ReleaseSearchMemory();

protected:
    /// Construction after the model exists: the tables, the plug-ins, then Prepare.
    void Build(const Options& options);
    /// Hands the post-optimizer the closing rule, the start and end vertices and windows.
    void ConfigurePostOptimizer();

    /// FOCAL's entry: a FocalKey in 32 bytes. Node ids stay below 2^32 (the pool's
    /// limit), and visited and open-agent counts below 2^31.
    struct PackedFocalKey {
        double f = 0.0;
        double sum_cost = 0.0;
        std::uint32_t id = 0;
        std::int32_t num_visited = 0;
        std::int32_t open_agents = 0;

        [[nodiscard]] FocalKey Unpack() const {
            return FocalKey{id, num_visited, open_agents, f, sum_cost};
        }
    };
    struct FocalOrder {
        const FocalComparatorPlugin* comparator;  // owned by the Solver
        bool operator()(const PackedFocalKey& a, const PackedFocalKey& b) const {
            return comparator->Compare(a.Unpack(), b.Unpack());
        }
    };
    using OpenEntry = std::pair<double, std::int64_t>;
    // The lists take their tree nodes from arenas: no heap call per entry, and each
    // entry costs exactly its node's size.
    using OpenList = std::set<OpenEntry, std::less<OpenEntry>, ArenaAllocator<OpenEntry>>;
    using FocalList = std::set<PackedFocalKey, FocalOrder, ArenaAllocator<PackedFocalKey>>;
    /// Orders FOCAL's entries by (f, id), and finds them by such a pair.
    struct ByFocalF {
        using is_transparent = void;
        static OpenEntry Of(FocalList::const_iterator it) {
            return {it->f, static_cast<std::int64_t>(it->id)};
        }
        bool operator()(FocalList::const_iterator a, FocalList::const_iterator b) const {
            return Of(a) < Of(b);
        }
        bool operator()(const OpenEntry& a, FocalList::const_iterator b) const { return a < Of(b); }
        bool operator()(FocalList::const_iterator a, const OpenEntry& b) const { return Of(a) < b; }
    };
    using FocalIndex = std::multiset<FocalList::const_iterator, ByFocalF,
                                     ArenaAllocator<FocalList::const_iterator>>;

    /// Clears every piece of search state so that a new Solve repeats the first one.
    void ResetSearchState();
    /// Builds the root and runs the iterations (Solve's steps 2 to 4).
    void Search(std::uint64_t num_vertices, const SearchHooks& hooks, double time_limit);
    /// Ends a search that ran out of room: frees its structures, keeps the last complete
    /// solution and says why on the standard error stream.
    void EndOnMemory(const char* line);
    /// Bytes the search's structures may take: `memory_limit` less the tables' estimate.
    [[nodiscard]] std::size_t SearchLimit(std::size_t memory_limit) const;
    /// Moves agent `agent` of `parent` to every admissible vertex.
    void GenerateSuccessors(const SearchNode& parent, std::uint64_t agent);
    void InsertFocal(const FocalKey& key);
    void EraseFocal(FocalList::iterator it);
    [[nodiscard]] double Elapsed() const { return timer_.GetDuration(); }
    /// Polls the caller's stop callback and latches a yes in interrupted_.
    bool StopRequested(const SearchHooks& hooks);
    /// Index into frontiers_ of the state key of `node` (its agents' vertices, one byte
    /// each), or -1 when no frontier has that key yet.
    [[nodiscard]] std::int64_t FindFrontier(const SearchNode& node) const;
    void HandleSolution(const SearchNode& goal, const SearchHooks& hooks, double time_limit);
    /// Appends an anytime record and reports it when it improves on the earlier ones.
    void Record(double time, const SearchHooks& hooks);

    std::unique_ptr<FocalComparatorPlugin> focal_comparator_;
    std::unique_ptr<HeuristicPlugin> heuristic_;
    std::unique_ptr<PostOptimizerPlugin> post_optimizer_;
    std::unique_ptr<ConstraintCheckerPlugin> checker_;
    std::unique_ptr<ExpansionPlugin> expansion_;
    std::unique_ptr<ObjectivePlugin> objective_;
    const PlannerGraph* graph_ = nullptr;  // owned_graph_ or the caller's (SetGraph)
    std::vector<NodeEntry> nodes_;
    std::vector<AgentEntry> agents_;
    std::uint64_t num_agent_types_ = 0;
    std::unique_ptr<DenseGraph> owned_graph_;
    std::vector<EdgeRecord> edge_list_;
    Result result_;
    SolverStatistics statistics_;
    std::vector<std::uint64_t> start_vertices_;
    std::unordered_set<std::uint64_t> start_vertex_set_;
    std::unordered_set<std::uint64_t> end_vertex_set_;
    std::int32_t num_agents_ = 0;
    std::vector<std::uint64_t> end_vertices_;
    std::vector<std::uint64_t> unreachable_points_;
    TimeWindowTable time_windows_;
    double time_limit_ = 60.0;
    bool return_to_end_ = true;
    double last_solution_time_ = 0.0;
    ImproveReport last_improve_;  // only its plan's gaps: unserved, penalty, reasons, loads
    SimpleTimer timer_;
    std::uint64_t pool_capacity_ = 0;
    std::uint64_t pool_growth_step_ = 1024;
    std::uint64_t pool_max_growth_step_ = 4096;
    // What the instance needs besides the search, and the limit of the whole solve.
    MemoryEstimate estimate_;
    std::size_t memory_limit_ = MemoryBudget::kUnlimited;
    bool memory_ended_ = false;
    // Declared before the structures that take from it.
    MemoryBudget budget_;
    NodePool pool_;
    // Declared before the lists, so that they outlive them.
    ListArena open_arena_;
    ListArena focal_arena_;
    ListArena focal_index_arena_;
    OpenList open_list_{std::less<OpenEntry>{}, ArenaAllocator<OpenEntry>(&open_arena_)};
    FocalList focal_list_{FocalOrder{nullptr}, ArenaAllocator<PackedFocalKey>(&focal_arena_)};
    // FOCAL's entries by (f, id), so that "every key with f above the bound" is a suffix.
    FocalIndex focal_by_f_{ByFocalF{}, FocalIndex::allocator_type(&focal_index_arena_)};
    std::vector<double> weights_{100.0};
    double focal_bound_ = 0.0;
    double incumbent_ = -1.0;
    std::int32_t max_iterations_ = 100;
    std::int32_t solution_found_ = 0;
    double best_max_cost_ = -1.0;
    // State key -> index into frontiers_, numbered in order of first appearance.
    StateKeyIndex frontier_by_key_;
    std::int64_t num_frontiers_ = 0;
    FrontierStore frontiers_;
    std::vector<AnytimeRecord> anytime_records_;
    std::int64_t node_count_ = 0;  // parent ids live in the pool's slots
    std::string instance_name_;

    // Per-vertex copies of the position-rule sets, read for every candidate vertex.
    std::vector<std::uint8_t> is_start_vertex_;
    std::vector<std::uint8_t> is_end_vertex_;
    // The hooks Solve() and SolveImproving() use.
    SearchHooks hooks_;
    std::unique_ptr<SearchProbe> probe_;
    // Score of the best anytime record so far, for reporting only improving ones.
    double reported_best_ = 0.0;
    bool reported_any_ = false;
    ObjectiveType objective_type_ = ObjectiveType::MinSum;
    // The instance, for the improvement path, and the options it was built with.
    std::shared_ptr<const InstanceModel> model_;
    Options options_;
    bool interrupted_ = false;
    bool searched_ = false;  // a Solve ran, so the next one must start from clean state
    // Scratch buffers reused across expansions so that no candidate allocates.
    SearchNode parent_scratch_;
    SearchNode child_scratch_;
    SearchNode refocus_scratch_;
};

}  // namespace vornik

#endif  // VORNIK_SEARCH_SOLVER_H
