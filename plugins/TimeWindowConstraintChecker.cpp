#include "plugins/TimeWindowConstraintChecker.h"

#include <algorithm>

namespace vornik {

namespace {

constexpr ArrivalCheck kRefused{false, 0.0, false};

// Calls `visit(i)` for every set bit i of `bits`, ascending; stops early and returns
// false as soon as `visit` does.
template <typename Visit>
inline bool ForEachBit(const VisitedSet& bits, Visit&& visit) {
    for (std::uint64_t w = 0; w < 4; ++w) {
        std::uint64_t word = bits.words[w];
        while (word != 0) {
            const std::uint64_t i = w * 64 + static_cast<std::uint64_t>(__builtin_ctzll(word));
            word &= word - 1;
            if (!visit(i)) return false;
        }
    }
    return true;
}

}  // namespace

std::string TimeWindowConstraintChecker::GetName() const { return "TimeConstraintChecker"; }

void TimeWindowConstraintChecker::Init(const PlannerGraph* graph,
                                       const std::vector<NodeEntry>& nodes,
                                       const std::vector<AgentEntry>& agents) {
    inner_.Init(graph, nodes, agents);
    graph_ = graph;
    nodes_ = nodes;
    agents_ = agents;
    num_agents_ = agents_.size();
    // The rules read up to four arc costs per vertex and move: the Solver's own graph is
    // read inline, any other through its interface.
    dense_ = dynamic_cast<const DenseGraph*>(graph);
    Rebuild();
}

void TimeWindowConstraintChecker::SetEndVertices(const std::vector<std::uint64_t>& end_vertices) {
    end_vertices_ = end_vertices;
    Rebuild();
}

void TimeWindowConstraintChecker::SetStartVertices(
    const std::vector<std::uint64_t>& start_vertices) {
    start_vertices_ = start_vertices;
    Rebuild();
}

void TimeWindowConstraintChecker::SetTimeWindows(const TimeWindowTable& windows) {
    windows_ = windows;
    Rebuild();
}

void TimeWindowConstraintChecker::SetReturnToEnd(bool return_to_end) {
    return_to_end_ = return_to_end;
    Rebuild();
}

void TimeWindowConstraintChecker::Rebuild() {
    num_nodes_ = nodes_.size();
    const std::uint64_t n = num_nodes_;

    // Windows of vertices outside the node table stay in the hash map only; WindowOf
    // falls back to it for them.
    dense_windows_.assign(n, Window{});
    for (const auto& entry : windows_) {
        if (entry.first < n) {
            dense_windows_[entry.first] = Window{true, entry.second.first, entry.second.second};
        }
    }

    std::vector<std::uint8_t> is_start(n, 0);
    std::vector<std::uint8_t> is_end(n, 0);
    for (const std::uint64_t s : start_vertices_) {
        if (s < n) is_start[s] = 1;
    }
    for (const std::uint64_t e : end_vertices_) {
        if (e < n) is_end[e] = 1;
    }

    const std::uint64_t cost_dim = graph_ != nullptr ? graph_->CostDim() : 0;
    travel_.assign(num_agents_, AgentTravel{});
    can_serve_.assign(num_agents_ * n, 0);
    detour_vertices_.assign(num_agents_, VisitedSet{});
    for (std::uint64_t k = 0; k < num_agents_; ++k) {
        const std::int64_t type = agents_[k].type;
        // A start or end list shorter than the agent table gives the agents beyond it
        // no start or end vertex of their own.
        const bool has_start = !start_vertices_.empty() && k < start_vertices_.size();
        const bool has_end = !end_vertices_.empty() && k < end_vertices_.size();
        const std::uint64_t own_start = has_start ? start_vertices_[k] : 0;
        const std::uint64_t own_end = has_end ? end_vertices_[k] : 0;

        AgentTravel& travel = travel_[k];
        travel.has_cost = type >= 0 && static_cast<std::uint64_t>(type) < cost_dim;
        travel.type = travel.has_cost ? static_cast<std::uint64_t>(type) : 0;
        // The search charges a move onto the agent's own start vertex itself, so it
        // never counts as travel here, whatever the return-to-end option says.
        travel.free_to_start = has_start;
        travel.start_vertex = own_start;
        travel.free_to_end = !return_to_end_ && has_end;
        travel.end_vertex = own_end;

        for (std::uint64_t v = 0; v < n; ++v) {
            const std::vector<std::int64_t>& allowed = nodes_[v].allowed_types;
            bool serve = std::find(allowed.begin(), allowed.end(), type) != allowed.end();
            // Other agents' end vertices are off limits.
            if (serve && !end_vertices_.empty() && is_end[v] && !(has_end && v == own_end)) {
                serve = false;
            }
            // A start vertex belongs to its agent alone.
            if (serve && !start_vertices_.empty() && is_start[v]) {
                serve = has_start && v == own_start;
            }
            can_serve_[k * n + v] = serve ? 1 : 0;
            // The dominance rule considers detours through vertices the agent could
            // serve on the way, which excludes its own start and its free end vertex.
            if (serve && v < kMaxVertices && !(has_start && v == own_start) &&
                !(travel.free_to_end && v == own_end)) {
                detour_vertices_[k].Set(v);
            }
        }
    }
}

TimeWindowConstraintChecker::Window TimeWindowConstraintChecker::WindowOf(
    std::uint64_t vertex) const {
    if (vertex < dense_windows_.size()) return dense_windows_[vertex];
    const auto entry = windows_.find(vertex);
    if (entry == windows_.end()) return Window{};
    return Window{true, entry->second.first, entry->second.second};
}

inline double TimeWindowConstraintChecker::Travel(std::uint64_t from, std::uint64_t to,
                                                  const AgentTravel& agent) const {
    if (graph_ == nullptr || from == to) return 0.0;
    if (agent.free_to_start && to == agent.start_vertex) return 0.0;
    if (agent.free_to_end && to == agent.end_vertex) return 0.0;
    // No arc means nothing is known about the trip; it is counted as free, and so is
    // an agent whose type has no cost component in the graph.
    if (!agent.has_cost) return 0.0;
    // Every pair of distinct vertices of the Solver's graph is an arc.
    if (dense_ != nullptr) {
        return dense_->HasVertex(from) && dense_->HasVertex(to)
                   ? dense_->ArcCosts(from, to)[agent.type]
                   : 0.0;
    }
    const double* costs = graph_->FindArcCost(from, to);
    return costs == nullptr ? 0.0 : costs[agent.type];
}

bool TimeWindowConstraintChecker::CanServe(std::uint64_t agent, std::uint64_t vertex) const {
    if (agent >= num_agents_ || vertex >= num_nodes_) return false;
    return can_serve_[agent * num_nodes_ + vertex] != 0;
}

double TimeWindowConstraintChecker::TravelTime(std::uint64_t from, std::uint64_t to,
                                               std::uint64_t agent) const {
    if (agent >= travel_.size()) return 0.0;
    return Travel(from, to, travel_[agent]);
}

bool TimeWindowConstraintChecker::ViolatesAssignment(std::uint64_t agent,
                                                     std::uint64_t vertex) const {
    return inner_.ViolatesAssignment(agent, vertex);
}

bool TimeWindowConstraintChecker::CheckAgent(const SearchNode& /*state*/,
                                             std::uint64_t /*agent*/) const {
    return true;
}

bool TimeWindowConstraintChecker::IsDeadEnd(const SearchNode& state) const {
    return inner_.IsDeadEnd(state);
}

bool TimeWindowConstraintChecker::Reachable(const SearchNode& state, std::uint64_t agent,
                                            std::uint64_t vertex, double service_time,
                                            std::uint64_t target) const {
    const Window& window = dense_windows_[target];
    // Agents whose route is closed can serve nothing more; closing needs end vertices.
    const bool skip_closed = !end_vertices_.empty();
    for (std::uint64_t m = 0; m < num_agents_; ++m) {
        if (skip_closed && state.closed[m] != 0) continue;
        if (can_serve_[m * num_nodes_ + target] == 0) continue;
        // Without a window any agent that may go there will do; no need for the time.
        if (!window.present) return true;
        // The moving agent is counted from where it is about to start service.
        const bool mover = m == agent;
        const std::uint64_t from = mover ? vertex : state.current_vertex[m];
        const double time = mover ? service_time : state.cost[m];
        double arrival = time + Travel(from, target, travel_[m]);
        if (ArriveWithinWindow(window, arrival)) return true;
    }
    return false;
}

ArrivalCheck TimeWindowConstraintChecker::CheckArrival(const SearchNode& state, std::uint64_t agent,
                                                       std::uint64_t vertex) const {
    // An agent the tables do not know cannot make a move.
    if (agent >= num_agents_ || state.cost.size() < num_agents_ ||
        state.current_vertex.size() < num_agents_ || state.closed.size() < num_agents_) {
        return kRefused;
    }
    const std::uint64_t from = state.current_vertex[agent];
    const double arrival = state.cost[agent];
    const Window target_window = WindowOf(vertex);

    double service = arrival;
    if (!ArriveWithinWindow(target_window, service)) return kRefused;

    if (graph_ != nullptr) {
        const AgentTravel& me = travel_[agent];
        const double departure = arrival - Travel(from, vertex, me);

        // Dominance: if the agent could have left `from` at the same time, served an
        // unvisited vertex i and still begun service at `vertex` no later, then going
        // straight to `vertex` is only worth it when serving i afterwards is no later
        // than serving it on the way. Otherwise the detour child dominates this one.
        VisitedSet detours = detour_vertices_[agent];
        for (int w = 0; w < 4; ++w) detours.words[w] &= ~state.visited.words[w];
        detours.Reset(from);
        if (vertex < kMaxVertices) detours.Reset(vertex);
        const bool undominated = ForEachBit(detours, [&](std::uint64_t i) {
            const Window& detour_window = dense_windows_[i];
            double via = departure + Travel(from, i, me);
            if (!ArriveWithinWindow(detour_window, via)) return true;
            double then = via + Travel(i, vertex, me);
            if (!ArriveWithinWindow(target_window, then)) return true;
            if (then > service) return true;
            double after = service + Travel(vertex, i, me);
            if (!ArriveWithinWindow(detour_window, after)) return false;
            return !(after > then);
        });
        if (!undominated) return kRefused;

        // Reachability: every vertex still unvisited must remain reachable within its
        // window by some open agent that may serve it.
        if (num_nodes_ > 0) {
            VisitedSet unvisited;
            const std::uint64_t limit = std::min<std::uint64_t>(num_nodes_, kMaxVertices);
            for (std::uint64_t w = 0; w < 4 && w * 64 < limit; ++w) {
                const std::uint64_t bits = limit - w * 64;
                const std::uint64_t mask =
                    bits >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << bits) - 1;
                unvisited.words[w] = ~state.visited.words[w] & mask;
            }
            const bool all_reachable = ForEachBit(unvisited, [&](std::uint64_t j) {
                return Reachable(state, agent, vertex, service, j);
            });
            if (!all_reachable) return kRefused;
        }
    }

    if (service == arrival) return ArrivalCheck{true, 0.0, false};
    return ArrivalCheck{true, service, true};
}

}  // namespace vornik
