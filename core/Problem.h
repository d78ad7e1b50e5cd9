#ifndef VORNIK_CORE_PROBLEM_H
#define VORNIK_CORE_PROBLEM_H

#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace vornik {

/// Role of a node. Descriptive only: the search never consults it.
enum class NodeType : std::int32_t { DEPOT = 0, TARGET = 1 };

/// What the search minimises.
enum class ObjectiveType : std::int32_t {
    MinMax = 0,  ///< the largest route cost among the agents
    MinSum = 1,  ///< the sum of the route costs
};

struct Position {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

/// One place of the instance. `id` is the caller's number; the node's position in
/// `Problem::nodes` is its vertex.
struct Node {
    std::uint64_t id = 0;
    Position position;
    NodeType type = NodeType::TARGET;
    double demand = 0.0;  ///< carried, not enforced
    /// The improvement path's fields. demands: one amount per load dimension (empty: none).
    std::vector<double> demands;
    double service = 0.0;  ///< time spent at the node; departure = start of service + service
    bool required = true;  ///< false: the node may stay unserved at the cost of `penalty`
    double penalty = 0.0;  ///< cost of leaving an optional node unserved
};

/// One vehicle or robot. `type` names its cost matrix and is matched against
/// assignment constraints; start and end are node ids.
struct Agent {
    std::uint64_t id = 0;
    std::string type;
    std::uint64_t start_node = 0;
    std::uint64_t end_node = 0;
    double capacity_limit = 0.0;  ///< carried, not enforced
    double time_limit = 0.0;      ///< longest route cost; 0 or less means unlimited
    /// The improvement path's capacity: one per load dimension, 0 meaning no limit in it.
    std::vector<double> capacities;
};

struct Options {
    bool return_to_end = true;  ///< whether the closing move of a route is charged
    ObjectiveType objective = ObjectiveType::MinSum;
    double time_limit = 60.0;  ///< processor seconds one search may use
};

/// Which agent types may serve which node (by node id). No entry: every type; an
/// empty list: nobody.
struct AssignmentConstraint {
    std::unordered_map<std::uint64_t, std::vector<std::string>> types_by_node;

    /// Replaces the list of `node`; lists are never merged.
    void SetAssignment(std::uint64_t node, std::vector<std::string> types);
};

/// Earliest and latest time at a node (by node id). Early arrivals wait.
struct TimeWindowConstraint {
    /// The one window the focal search honours: the last one set or added.
    std::unordered_map<std::uint64_t, std::pair<double, double>> window_by_node;
    /// Every window of a node that got more than one through AddTimewindow; the
    /// improvement engine reads these where present, window_by_node elsewhere.
    std::unordered_map<std::uint64_t, std::vector<std::pair<double, double>>> windows_by_node;

    /// Replaces the windows of `node` by this one. Neither bound is checked.
    void SetTimewindow(std::uint64_t node, double start, double end);
    /// Adds a window to those of `node` (the improvement engine sorts and merges them).
    void AddTimewindow(std::uint64_t node, double start, double end);
};

/// Rows of travel costs indexed by vertex: entry [i][j] is the cost from i to j.
using CostMatrix = std::vector<std::vector<double>>;

/// A whole routing instance, filled object by object or by the JSON reader. A Solver
/// reads it once, at construction, and never looks back.
struct Problem {
    std::vector<Node> nodes;
    std::unordered_map<std::string, CostMatrix> cost_matrices;
    AssignmentConstraint assignment_constraint;
    TimeWindowConstraint timewindow_constraint;
    Options options;
    std::vector<Agent> agents_ordered;
    std::unordered_map<std::string, std::uint64_t> type_index_of;
    std::unordered_map<std::uint64_t, std::uint64_t> agent_type_of;

    /// Appends a copy of `node`; ids are not checked.
    void AddNode(const Node& node);
    /// Numbers the agent's type on first appearance, records the type under `id`
    /// (replacing an earlier entry) and appends a copy of the agent.
    void AddAgent(const Agent& agent, std::uint64_t id);
    /// Stores `matrix` under `agent_type`, replacing any earlier matrix of that name.
    void SetCostMatrix(const std::string& agent_type, CostMatrix matrix);
    void SetAssignmentConstraint(const AssignmentConstraint& constraint);
    void SetTimewindowConstraint(const TimeWindowConstraint& constraint);
};

/// Outcome of a search: routes and route costs keyed by agent index, and counters.
struct Result {
    std::unordered_map<std::int64_t, std::vector<std::int64_t>> paths;
    std::unordered_map<std::int64_t, double> times;
    std::int64_t n_generated = 0;
    std::int64_t n_expanded = 0;
    double search_time = 0.0;  ///< processor seconds of the last search
    bool timeout = false;
    double last_update_time = 0.0;  ///< search time at which the reported solution was found
};

}  // namespace vornik

#endif  // VORNIK_CORE_PROBLEM_H
