#ifndef VORNIK_SEARCH_FOCALSEARCH_H
#define VORNIK_SEARCH_FOCALSEARCH_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "core/Problem.h"
#include "core/SearchRecords.h"
#include "graph/SimpleTimer.h"
#include "search/FocalIntake.h"
#include "search/Frontier.h"
#include "search/FrontierStore.h"
#include "search/ListArena.h"
#include "search/MemoryBudget.h"
#include "search/NodePool.h"
#include "search/SearchProbe.h"
#include "search/SolverRecords.h"
#include "search/StateKeyIndex.h"

namespace vornik {

/// The anytime focal search over its instance, the second part of the Solver: the node
/// pool, OPEN and FOCAL with their arenas, the frontiers, the weights and bounds, and the
/// result, statistics and anytime records of the last search. Every search starts from a
/// clean state and repeats the one before it; the hooks and the budget of a search are
/// its arguments, never kept.
class FocalSearch : public FocalIntake {
public:
    /// Copy of the result, with last_update_time set to the time of its last solution.
    Result GetResult();
    SolverStatistics GetStatistics() const;
    std::vector<AnytimeRecord> GetResultProcess() const;
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

    /// True when a caller's stop request ended the last search.
    [[nodiscard]] bool Interrupted() const { return interrupted_; }
    /// Sets the memory limit of the searches to come (bytes for the whole solve, the
    /// tables included). Throws std::invalid_argument, naming the numbers, when the
    /// tables and the smallest search do not fit in it.
    void SetMemoryLimit(std::size_t bytes);
    [[nodiscard]] std::size_t MemoryLimit() const { return memory_limit_; }
    /// True when the last search was ended by the memory limit or by running out of memory.
    [[nodiscard]] bool MemoryEnded() const { return memory_ended_; }
    /// Installs a probe the search calls before it stores each node (null: none). For
    /// tests that make a search fail where the system would.
    void SetProbe(std::unique_ptr<SearchProbe> probe) { probe_ = std::move(probe); }
    /// Gives back the memory of the search (pool, lists, frontiers), keeping the result,
    /// the anytime records and the statistics. For callers that only read the result
    /// afterwards.
    void ReleaseSearchMemory();

protected:
    /// A part of the Solver, never destroyed on its own.
    ~FocalSearch() = default;

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
    /// One search from a clean state under `hooks` and `budget`, its memory failures
    /// handled as Solve documents; true when it found a solution.
    bool Run(const SearchHooks& hooks, const SearchBudget& budget);
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

    Result result_;
    SolverStatistics statistics_;
    double last_solution_time_ = 0.0;
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
    std::unique_ptr<SearchProbe> probe_;
    // Score of the best anytime record so far, for reporting only improving ones.
    double reported_best_ = 0.0;
    bool reported_any_ = false;
    bool interrupted_ = false;
    // Scratch buffers reused across expansions so that no candidate allocates.
    SearchNode parent_scratch_;
    SearchNode child_scratch_;
    SearchNode refocus_scratch_;
};

}  // namespace vornik

#endif  // VORNIK_SEARCH_FOCALSEARCH_H
