#ifndef VORNIK_PLUGINS_TIMEWINDOWCONSTRAINTCHECKER_H
#define VORNIK_PLUGINS_TIMEWINDOWCONSTRAINTCHECKER_H

#include <cstdint>
#include <string>
#include <vector>

#include "core/RouteRules.h"
#include "graph/DenseGraph.h"
#include "plugins/ConstraintCheckerPlugin.h"
#include "plugins/DefaultConstraintChecker.h"

namespace vornik {

/// Enforces the time windows of vertices. An agent arriving after a window's end is
/// refused, one arriving early waits for the window to open, and two look-ahead rules
/// refuse moves after which the node is dominated (the agent could have served another
/// vertex on the way without delaying this one) or hopeless (some unvisited vertex can
/// no longer be reached in its window by any agent). Assignment and dead-end questions
/// go to an inner DefaultConstraintChecker. Answers GetName with "TimeConstraintChecker".
///
/// Configured by the Solver's Prepare right after Init; the setters may come in any
/// order and each replaces its part of the configuration. All look-ups during the
/// search go through dense per-vertex and per-agent tables rebuilt by Init and by
/// every setter, so the per-move operations never allocate. Arc costs are read from the
/// graph, which must outlive the checker.
class TimeWindowConstraintChecker final : public ConstraintCheckerPlugin {
public:
    std::string GetName() const override;
    /// Initialises the inner checker, keeps `graph` (owned by the Solver) and copies
    /// both tables.
    void Init(const PlannerGraph* graph, const std::vector<NodeEntry>& nodes,
              const std::vector<AgentEntry>& agents) override;
    /// End vertex of every agent, agent k at position k.
    void SetEndVertices(const std::vector<std::uint64_t>& end_vertices);
    /// Start vertex of every agent, agent k at position k.
    void SetStartVertices(const std::vector<std::uint64_t>& start_vertices);
    /// Vertex -> (earliest, latest); a vertex without an entry has no window.
    void SetTimeWindows(const TimeWindowTable& windows);
    /// Whether the closing move onto an agent's end vertex is charged.
    void SetReturnToEnd(bool return_to_end);

    /// The inner default checker's answer.
    bool ViolatesAssignment(std::uint64_t agent, std::uint64_t vertex) const override;
    /// Called on the half-built child: `state.cost[agent]` is the arrival time at
    /// `vertex`, `state.current_vertex[agent]` the vertex being left. Infeasible:
    /// {false, 0.0, false}. Feasible without waiting: {true, 0.0, false}; with
    /// waiting: {true, opening time, true}.
    ArrivalCheck CheckArrival(const SearchNode& state, std::uint64_t agent,
                              std::uint64_t vertex) const override;
    /// Always true.
    bool CheckAgent(const SearchNode& state, std::uint64_t agent) const override;
    /// The inner default checker's answer.
    bool IsDeadEnd(const SearchNode& state) const override;

    /// May agent k visit vertex v at all: its type is allowed there, v is nobody
    /// else's end vertex, and v is nobody else's start vertex. False for an agent or
    /// vertex outside the tables.
    bool CanServe(std::uint64_t agent, std::uint64_t vertex) const;
    /// Travel time of agent k from u to v: 0.0 without a graph, for u == v, onto k's
    /// own start vertex, onto k's own end vertex when the closing move is free, and
    /// when the graph has no arc u -> v (or k's type has no cost component);
    /// otherwise the arc's cost for k's type.
    double TravelTime(std::uint64_t from, std::uint64_t to, std::uint64_t agent) const;

private:
    using Window = TimeWindow;
    // What TravelTime needs to know about one agent, precomputed.
    struct AgentTravel {
        std::uint64_t type = 0;      // valid only when has_cost
        bool has_cost = false;       // type indexes a cost component of the graph
        bool free_to_start = false;  // moves onto start_vertex cost nothing
        std::uint64_t start_vertex = 0;
        bool free_to_end = false;  // moves onto end_vertex cost nothing
        std::uint64_t end_vertex = 0;
    };

    void Rebuild();
    Window WindowOf(std::uint64_t vertex) const;
    double Travel(std::uint64_t from, std::uint64_t to, const AgentTravel& agent) const;
    bool Reachable(const SearchNode& state, std::uint64_t agent, std::uint64_t vertex,
                   double service_time, std::uint64_t target) const;

    DefaultConstraintChecker inner_;
    TimeWindowTable windows_;
    const PlannerGraph* graph_ = nullptr;  // owned by the Solver
    const DenseGraph* dense_ = nullptr;    // graph_ when it is the Solver's own kind
    std::vector<NodeEntry> nodes_;
    std::vector<AgentEntry> agents_;
    std::vector<std::uint64_t> end_vertices_;
    std::vector<std::uint64_t> start_vertices_;
    bool return_to_end_ = false;
    std::uint64_t num_agents_ = 0;

    // Dense tables derived from the above by Rebuild.
    std::uint64_t num_nodes_ = 0;
    std::vector<Window> dense_windows_;        // one per node-table entry
    std::vector<std::uint8_t> can_serve_;      // agent-major, num_agents_ x num_nodes_
    std::vector<VisitedSet> detour_vertices_;  // per agent: vertices the dominance rule tries
    std::vector<AgentTravel> travel_;          // per agent
};

}  // namespace vornik

#endif  // VORNIK_PLUGINS_TIMEWINDOWCONSTRAINTCHECKER_H
