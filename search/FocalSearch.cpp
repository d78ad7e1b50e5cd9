#include "search/FocalSearch.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

#include "core/Diagnostics.h"
#include "core/RouteWalker.h"

namespace vornik {

namespace {

// How many pops pass between two polls of the caller's stop callback: often enough to
// answer Ctrl-C within milliseconds, rarely enough to cost nothing.
constexpr std::uint64_t kStopPollInterval = 64;

}  // namespace

void FocalSearch::ResetSearchState() {
    // Everything is freed first, so the budget starts from what the empty structures hold.
    budget_.SetLimit(MemoryBudget::kUnlimited);
    ReleaseSearchMemory();
    frontier_by_key_.Reset(start_vertices_.size());
    budget_.Clear();
    budget_.Take(frontier_by_key_.CapacityBytes());
    budget_.SetLimit(SearchLimit(memory_limit_));
    pool_growth_step_ = 1024;
    pool_max_growth_step_ = 4096;
    ResetFrontiers();
    weights_.assign(1, 100.0);
    focal_bound_ = 0.0;
    incumbent_ = -1.0;
    solution_found_ = 0;
    best_max_cost_ = -1.0;
    last_solution_time_ = 0.0;
    result_ = Result{};
    statistics_ = SolverStatistics{};
    anytime_records_.clear();
    reported_any_ = false;
    interrupted_ = false;
    memory_ended_ = false;
}

void FocalSearch::ReleaseSearchMemory() {
    pool_.Reset(start_vertices_.size());
    pool_capacity_ = 0;
    node_count_ = 0;
    open_list_.clear();
    focal_by_f_.clear();
    focal_list_ = FocalList(FocalOrder{focal_comparator_.get()},
                            ArenaAllocator<PackedFocalKey>(&focal_arena_));
    // The lists are empty, so their arenas can give their blocks back.
    open_arena_.Release();
    focal_arena_.Release();
    focal_index_arena_.Release();
    frontier_by_key_ = StateKeyIndex();
    frontiers_.Clear();
    budget_.Clear();
    // Every structure asks the budget before it grows.
    pool_.SetBudget(&budget_);
    open_arena_.SetBudget(&budget_);
    focal_arena_.SetBudget(&budget_);
    focal_index_arena_.SetBudget(&budget_);
    frontier_by_key_.SetBudget(&budget_);
    frontiers_.SetBudget(&budget_);
}

std::size_t FocalSearch::SearchLimit(std::size_t memory_limit) const {
    if (memory_limit == MemoryBudget::kUnlimited) return MemoryBudget::kUnlimited;
    // The constructor and SetMemoryLimit made sure that the tables leave room; a budget
    // given to one search that leaves none ends that search at once.
    return memory_limit > estimate_.table_bytes ? memory_limit - estimate_.table_bytes : 0;
}

void FocalSearch::SetMemoryLimit(std::size_t bytes) {
    CheckFits(estimate_, bytes);
    memory_limit_ = bytes;
}

bool FocalSearch::Run(const SearchHooks& hooks, const SearchBudget& budget) {
    // Every call starts from a clean state, so a second Solve repeats the first.
    ResetSearchState();
    budget_.SetLimit(SearchLimit(budget.memory_limit));
    timer_.Start();

    const std::uint64_t c = graph_->NumVertex();
    if (c > kMaxVertices) {
        throw std::invalid_argument("graph has " + std::to_string(c) + " vertices; at most " +
                                    std::to_string(kMaxVertices) + " are supported");
    }
    try {
        Search(c, hooks, budget.time_limit);
    } catch (const MemoryLimitReached&) {
        EndOnMemory(kMemoryLimitLine);
    } catch (const std::bad_alloc&) {
        // A solution exists once its first anytime record does.
        if (anytime_records_.empty()) {
            const std::size_t held = budget_.Used();
            const std::int64_t generated = result_.n_generated;
            ReleaseSearchMemory();
            throw OutOfMemoryError(
                "out of memory before any solution was found, solving an instance of " +
                DescribeSize(estimate_) + " (its tables need about " +
                Megabytes(estimate_.table_bytes) + "; the search held " + Megabytes(held) + " in " +
                std::to_string(generated) +
                " generated nodes); set memory_limit_mb "
                "below the memory available");
        }
        EndOnMemory(kOutOfMemoryLine);
    }

    result_.search_time = Elapsed();
    return !anytime_records_.empty();
}

void FocalSearch::EndOnMemory(const char* line) {
    result_.timeout = true;
    memory_ended_ = true;
    // Freeing the structures first gives the lines below room even after a bad_alloc.
    ReleaseSearchMemory();
    if (!anytime_records_.empty()) {
        // The last record is a whole solution even when the failure came while the next
        // one was being extracted or improved.
        const Result& last = anytime_records_.back().result;
        result_.paths = last.paths;
        result_.times = last.times;
        last_solution_time_ = anytime_records_.back().time;
        double largest = 0.0;
        for (const auto& entry : result_.times) largest = std::max(largest, entry.second);
        best_max_cost_ = largest;
        UpdateStatistics();
    }
    WarnLine(line);
}

void FocalSearch::Search(std::uint64_t c, const SearchHooks& hooks, double time_limit) {
    // Root: every agent on its start vertex, nothing served.
    SearchNode root;
    root.current_vertex.assign(start_vertices_.begin(), start_vertices_.end());
    // An agent leaves its start when the start's window opens, not before: the route
    // evaluator of the post-optimizers counts that wait, so the search's clocks do too.
    root.cost.assign(start_vertices_.size(), 0.0);
    double start_waits = 0.0;
    for (std::size_t k = 0; k < start_vertices_.size(); ++k) {
        const auto window = time_windows_.find(start_vertices_[k]);
        if (window != time_windows_.end()) root.cost[k] = std::max(0.0, window->second.first);
        start_waits += root.cost[k];
    }
    root.closed.assign(start_vertices_.size(), 0);
    for (std::uint64_t v = c; v < kMaxVertices; ++v) root.visited.Set(v);
    for (std::uint64_t v : unreachable_points_) {
        if (v < kMaxVertices) root.visited.Set(v);
    }
    root.num_vertices = static_cast<std::int32_t>(c);
    root.id = NewNode();
    root.open_agents = num_agents_;
    root.last_agent = 0;
    root.g = objective_->Aggregate(root.cost);
    root.h = heuristic_->Evaluate(root);
    root.f = objective_->Estimate(root, num_agents_, root.h);
    pool_.Store(root.id, root, -1);
    result_.n_generated += 1;
    focal_bound_ = weights_[0] * root.f;
    open_list_.emplace(root.f, root.id);
    if (SumCost(root) != start_waits) {
        WarnLine("Initial length is not 0 !");
        throw std::logic_error("Initial length is not 0 !");
    }
    InsertFocal(FocalKey{root.id, CountVisited(root), num_agents_, root.f, SumCost(root)});

    std::uint64_t pops = 0;
    SearchNode& parent = parent_scratch_;
    for (std::int32_t i = 0; i < max_iterations_ && !result_.timeout; ++i) {
        while (!focal_list_.empty()) {
            if (Elapsed() > time_limit) {
                result_.timeout = true;
                break;
            }
            // A caller's stop request ends the search as a time-out would.
            if (interrupted_ || (++pops % kStopPollInterval == 0 && StopRequested(hooks))) {
                result_.timeout = true;
                break;
            }
            const auto first = focal_list_.begin();
            pool_.Load(first->id, parent);
            // The pool keeps no g: it is the aggregate of the costs, as when it was made.
            parent.g = objective_->Aggregate(parent.cost);
            EraseFocal(first);
            open_list_.erase({parent.f, parent.id});

            if (IsDominated(parent) || (incumbent_ != -1.0 && parent.f >= incumbent_)) continue;
            if (!open_list_.empty()) {
                const double bound = weights_[i] * open_list_.begin()->first;
                if (bound != focal_bound_) Refocus(focal_bound_, bound);
            }
            AddToFrontier(parent);
            if (IsGoal(parent)) {
                HandleSolution(parent, hooks, time_limit);
                break;
            }
            result_.n_expanded += 1;
            const std::int64_t agent = expansion_->SelectAgent(parent);
            if (agent == -1) {
                WarnLine("can't find next expanded agent");
                break;
            }
            GenerateSuccessors(parent, static_cast<std::uint64_t>(agent));
            if (!open_list_.empty()) {
                const double bound = weights_[i] * open_list_.begin()->first;
                if (bound != focal_bound_) Refocus(focal_bound_, bound);
            }
        }
        if (result_.timeout || open_list_.empty()) break;

        // Next weight: four fifths of the way from 1 toward the proven ratio, or 1 once
        // that ratio is below 1.005 (always so without an incumbent, whose r is negative).
        const double lowest = open_list_.begin()->first;
        const double ratio = incumbent_ / lowest;
        const double step = (ratio - 1.0) / 5.0;
        if (step < 0.001) {
            weights_.push_back(1.0);
            InfoLine("w = 1");
        } else {
            weights_.push_back(ratio - step);
            statistics_.gap_ratio = incumbent_ / lowest;
        }
    }
}

bool FocalSearch::StopRequested(const SearchHooks& hooks) {
    if (!interrupted_ && hooks.should_stop && hooks.should_stop()) {
        interrupted_ = true;
    }
    return interrupted_;
}

void FocalSearch::HandleSolution(const SearchNode& goal, const SearchHooks& hooks,
                                 double time_limit) {
    solution_found_ = 1;
    ExtractSolution(goal.id);
    const double found_at = Elapsed();
    Record(found_at, hooks);
    last_solution_time_ = found_at;

    // Improving a large solution can take seconds: the optimizers stop between moves once
    // this search's budget is spent or the caller asks to stop. The check is set before
    // every use, so it never outlives the hooks it reads.
    post_optimizer_->SetStopCheck(
        [this, &hooks, time_limit] { return Elapsed() > time_limit || StopRequested(hooks); });
    post_optimizer_->Optimize(graph_, nodes_, agents_, result_);
    const double improved_at = Elapsed();
    Record(improved_at, hooks);
    last_solution_time_ = improved_at;

    // The incumbent is the largest route cost whichever objective is in use.
    double largest = 0.0;
    for (const auto& entry : result_.times) largest = std::max(largest, entry.second);
    best_max_cost_ = largest;
    UpdateStatistics();
    SetIncumbent(largest);
}

void FocalSearch::Record(double time, const SearchHooks& hooks) {
    anytime_records_.push_back(AnytimeRecord{time, result_});
    double largest = 0.0;
    double sum = 0.0;
    for (const auto& entry : result_.times) {
        largest = std::max(largest, entry.second);
        sum += entry.second;
    }
    const double score = objective_type_ == ObjectiveType::MinSum ? sum : largest;
    if (reported_any_ && !(score < reported_best_ - 1e-9)) return;
    reported_any_ = true;
    reported_best_ = score;
    if (hooks.on_solution) hooks.on_solution(time, largest, sum);
}

void FocalSearch::GenerateSuccessors(const SearchNode& parent, std::uint64_t agent) {
    const std::uint64_t start = start_vertices_[agent];
    const std::uint64_t end = end_vertices_[agent];
    const auto type = static_cast<std::size_t>(agents_[agent].type);
    const RouteWalker walker(return_to_end_);
    const WalkAgent ends{true, start, true, end, agents_[agent].time_limit};
    SearchNode& child = child_scratch_;
    const std::uint64_t n = nodes_.size();
    for (std::uint64_t v = 0; v < n; ++v) {
        // Candidates: unserved vertices, and the agent's own start and end.
        if (parent.visited.Test(v) && v != start && v != end) continue;
        if (checker_->ViolatesAssignment(agent, v)) continue;
        // Position rule: other agents' depots are never targets where they would close a
        // route; with free closing moves, neither are other agents' starts.
        if (return_to_end_) {
            if (!(v == end || (v != start && !is_end_vertex_[v]))) continue;
        } else {
            if (!((v == start || !is_start_vertex_[v]) && (v == end || !is_end_vertex_[v]))) {
                continue;
            }
        }

        child = parent;
        child.visited.Set(v);
        child.last_agent = static_cast<std::int64_t>(agent);
        const bool closes = walker.ClosesOn(ends, v);
        if (closes) {
            if (child.closed[agent] == 0) {
                child.closed[agent] = 1;
                child.open_agents -= 1;
            }
            // Every route closed while vertices remain: this branch can never finish.
            if (child.open_agents == 0 && !child.visited.AllSetBelow(child.num_vertices)) {
                continue;
            }
            if (checker_->IsDeadEnd(child)) continue;
        }

        const std::uint64_t from = child.current_vertex[agent];
        // The arrival itself (waiting, the limit) is the checkers' to judge.
        if (walker.Charges(ends, from, v)) {
            // The Solver's own graph is read inline; a caller's through its interface.
            const double* costs = graph_ == owned_graph_.get() ? owned_graph_->FindArcCost(from, v)
                                                               : graph_->FindArcCost(from, v);
            if (costs == nullptr) continue;  // no arc: the move does not exist
            child.cost[agent] += costs[type];
        }
        const ArrivalCheck arrival = checker_->CheckArrival(child, agent, v);
        if (!arrival.feasible) continue;
        if (arrival.time_changed) child.cost[agent] = arrival.time;
        if (!checker_->CheckAgent(child, agent)) continue;
        child.current_vertex[agent] = static_cast<NodeVertex>(v);
        if (IsDominated(child)) continue;

        child.g = objective_->Aggregate(child.cost);
        if (child.open_agents <= 0) {
            child.h = 0.0;
            child.f = child.g;
        } else {
            child.h = heuristic_->Evaluate(child);
            child.f = objective_->Estimate(child, child.open_agents, child.h);
        }
        if (incumbent_ != -1.0 && child.f >= incumbent_) continue;

        child.id = NewNode();
        pool_.Store(child.id, child, parent.id);
        result_.n_generated += 1;
        open_list_.emplace(child.f, child.id);
        if (child.f <= focal_bound_) {
            InsertFocal(FocalKey{child.id, CountVisited(child), child.open_agents, child.f,
                                 SumCost(child)});
        }
    }
}

void FocalSearch::ExtractSolution(std::int64_t goal_id) {
    // Walk back to the root collecting (agent, vertex) moves, latest first.
    std::vector<std::pair<std::int64_t, std::uint64_t>> moves;
    for (std::int64_t id = goal_id; id >= 1; id = pool_.Parent(id)) {
        const std::int64_t agent = pool_.LastAgent(id);
        moves.emplace_back(agent, pool_.Vertex(id, static_cast<std::size_t>(agent)));
    }
    const std::size_t count = start_vertices_.size();
    std::vector<std::vector<std::int64_t>> routes(count);
    for (std::size_t k = 0; k < count; ++k) {
        routes[k].push_back(static_cast<std::int64_t>(start_vertices_[k]));
        result_.times[static_cast<std::int64_t>(k)] = pool_.Cost(goal_id, k);
    }
    for (auto move = moves.rbegin(); move != moves.rend(); ++move) {
        routes[static_cast<std::size_t>(move->first)].push_back(
            static_cast<std::int64_t>(move->second));
    }
    for (std::size_t k = 0; k < count; ++k) {
        result_.paths[static_cast<std::int64_t>(k)] = std::move(routes[k]);
    }
}

bool FocalSearch::IsGoal(const SearchNode& node) const {
    return node.visited.AllSetBelow(node.num_vertices) && node.open_agents == 0;
}

double FocalSearch::SumCost(const SearchNode& node) const {
    double sum = 0.0;
    for (std::int32_t a = 0; a < num_agents_ && static_cast<std::size_t>(a) < node.cost.size();
         ++a) {
        sum += node.cost[static_cast<std::size_t>(a)];
    }
    return sum;
}

std::int64_t FocalSearch::CountVisited(const SearchNode& node) const {
    return node.visited.CountBelow(node.num_vertices);
}

namespace {

constexpr std::int64_t kLastId = std::numeric_limits<std::int64_t>::max();

}  // namespace

std::int64_t FocalSearch::NewNode() {
    const std::int64_t id = node_count_;
    if (probe_ != nullptr) probe_->BeforeNewNode(id);
    // The pool keeps ids in 32 bits: a search that large is out of room as well.
    if (id > NodePool::kMaxId) throw MemoryLimitReached();
    if (pool_capacity_ < static_cast<std::uint64_t>(id) + 1) {
        // Capacity runs 1024, 3072, 7168, 11264, ...: the step doubles up to its maximum.
        // The pool grows first, so that a refusal leaves the counters as they were.
        const std::uint64_t capacity = pool_capacity_ + pool_growth_step_;
        pool_.Grow(capacity);
        pool_capacity_ = capacity;
        if (pool_growth_step_ < pool_max_growth_step_) pool_growth_step_ *= 2;
    }
    node_count_ += 1;
    return id;
}

void FocalSearch::InsertFocal(const FocalKey& key) {
    // A key equivalent to one already present leaves FOCAL unchanged.
    const PackedFocalKey packed{key.f, key.sum_cost, static_cast<std::uint32_t>(key.id),
                                static_cast<std::int32_t>(key.num_visited),
                                static_cast<std::int32_t>(key.open_agents)};
    const auto [it, inserted] = focal_list_.insert(packed);
    if (!inserted) return;
    try {
        focal_by_f_.insert(it);
    } catch (...) {
        focal_list_.erase(it);  // both lists or neither
        throw;
    }
}

void FocalSearch::EraseFocal(FocalList::iterator it) {
    auto range = focal_by_f_.equal_range(ByFocalF::Of(it));
    for (auto entry = range.first; entry != range.second; ++entry) {
        if (*entry == it) {
            focal_by_f_.erase(entry);
            break;
        }
    }
    focal_list_.erase(it);
}

void FocalSearch::Refocus(double old_bound, double new_bound) {
    if (old_bound < new_bound) {
        // Admit the OPEN entries the wider bound now covers.
        for (auto it = open_list_.upper_bound({old_bound, kLastId});
             it != open_list_.end() && it->first <= new_bound; ++it) {
            pool_.Load(it->second, refocus_scratch_);
            InsertFocal(FocalKey{it->second, CountVisited(refocus_scratch_),
                                 refocus_scratch_.open_agents, it->first, 0.0});
        }
    } else if (!std::isnan(new_bound)) {
        // Drop every key above the narrower bound: a suffix of FOCAL's f index.
        auto it = focal_by_f_.upper_bound(OpenEntry{new_bound, kLastId});
        while (it != focal_by_f_.end()) {
            focal_list_.erase(*it);
            it = focal_by_f_.erase(it);
        }
    }
    focal_bound_ = new_bound;
}

void FocalSearch::SetIncumbent(double cost) {
    for (auto it = focal_by_f_.upper_bound(OpenEntry{cost, kLastId}); it != focal_by_f_.end();) {
        focal_list_.erase(*it);
        it = focal_by_f_.erase(it);
    }
    // OPEN keeps entries up to 0.2 above the incumbent; the search drops them on sight.
    open_list_.erase(open_list_.upper_bound({cost + 0.2, kLastId}), open_list_.end());
    incumbent_ = cost;
}

std::int64_t FocalSearch::FindFrontier(const SearchNode& node) const {
    // The key is the agents' vertex bytes themselves: equal exactly when all agents
    // stand on the same vertices. Every node of a search has one entry per agent.
    if (node.current_vertex.size() != frontier_by_key_.Width()) {
        throw std::invalid_argument("search node has " +
                                    std::to_string(node.current_vertex.size()) +
                                    " agent positions; the search has " +
                                    std::to_string(frontier_by_key_.Width()) + " agents");
    }
    return frontier_by_key_.Find(node.current_vertex.data());
}

bool FocalSearch::IsDominated(const SearchNode& node) {
    const std::int64_t found = FindFrontier(node);
    if (found >= 0) return frontiers_[static_cast<std::size_t>(found)].IsDominated(node);
    // A new state key: its frontier is added first, so that a refusal by the budget
    // leaves the key unknown (at worst with an empty frontier to spare, which the next
    // new key takes).
    frontiers_.Add();
    frontier_by_key_.Insert(node.current_vertex.data());
    num_frontiers_ += 1;
    return false;
}

void FocalSearch::AddToFrontier(const SearchNode& node) {
    const std::int64_t found = FindFrontier(node);
    // The search asks IsDominated for the same node first, which creates the frontier.
    if (found < 0) throw std::out_of_range("no frontier for the node's state key");
    Frontier& frontier = frontiers_[static_cast<std::size_t>(found)];
    // Take what the insert may allocate (a new block while the old one is held), then
    // keep only what it added.
    const std::size_t taken = frontier.InsertGrowthBytes(node.cost.size());
    const std::size_t before = frontier.CapacityBytes();
    budget_.Take(taken);
    frontier.Insert(node);
    budget_.Give(taken + before - frontier.CapacityBytes());
}

void FocalSearch::ResetFrontiers() { num_frontiers_ = 0; }

Result FocalSearch::GetResult() {
    result_.last_update_time = last_solution_time_;
    return result_;
}

SolverStatistics FocalSearch::GetStatistics() const { return statistics_; }

std::vector<AnytimeRecord> FocalSearch::GetResultProcess() const { return anytime_records_; }

void FocalSearch::UpdateStatistics() {
    if (solution_found_ == 0) return;
    statistics_.solved = 1;
    statistics_.num_nodes = static_cast<std::int32_t>(nodes_.size());
    statistics_.num_agents = num_agents_;
    statistics_.num_type0_agents = 0;
    statistics_.num_type1_agents = 0;
    for (const AgentEntry& agent : agents_) {
        if (agent.type == 0) ++statistics_.num_type0_agents;
        if (agent.type == 1) ++statistics_.num_type1_agents;
    }
    statistics_.num_type0_nodes = 0;
    statistics_.num_shared_nodes = 0;
    for (const NodeEntry& entry : nodes_) {
        if (entry.allowed_types == std::vector<std::int64_t>{0}) ++statistics_.num_type0_nodes;
        if (entry.allowed_types == std::vector<std::int64_t>{0, 1}) {
            ++statistics_.num_shared_nodes;
        }
    }
    // Keys 0 .. K-1 of the route costs; a missing key counts (and is entered) as 0.0.
    const auto count = static_cast<std::int64_t>(result_.times.size());
    double sum = 0.0;
    for (std::int64_t k = 0; k < count; ++k) sum += result_.times[k];
    statistics_.sum_cost = sum;
    statistics_.max_cost = best_max_cost_;
    statistics_.last_update_time = last_solution_time_;
}

}  // namespace vornik
