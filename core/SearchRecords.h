#ifndef VORNIK_CORE_SEARCHRECORDS_H
#define VORNIK_CORE_SEARCHRECORDS_H

#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

namespace vornik {

/// The search state's visited set holds 256 bits, so an instance has at most 256
/// vertices; the Solver refuses larger graphs.
constexpr std::uint64_t kMaxVertices = 256;

/// The focal search's own reading of travel costs, where its tables are built from the
/// instance model: a cost the instance does not give becomes this cost, a large but
/// finite one that the search adds up like any other. Where the search looks for arcs to
/// bound with (the edge list and the heuristic's records), a cost of this or more counts
/// as no arc, and a depot whose every way out costs exactly this is reported unreachable.
/// Every other reader of the instance takes a missing cost as no arc at all.
constexpr double kFocalNoArcCost = 9999.0;

/// Vertex as stored inside a search node. Every vertex is below kMaxVertices, so one
/// byte holds it; readers see the same values as with wider storage.
using NodeVertex = std::uint8_t;

/// 256-bit set of vertices: bit v is bit (v % 64) of word v / 64.
struct VisitedSet {
    std::uint64_t words[4] = {0, 0, 0, 0};

    bool Test(std::uint64_t v) const { return (words[v >> 6] >> (v & 63)) & 1U; }
    void Set(std::uint64_t v) { words[v >> 6] |= std::uint64_t{1} << (v & 63); }
    void Reset(std::uint64_t v) { words[v >> 6] &= ~(std::uint64_t{1} << (v & 63)); }
    /// True when every bit of this set is also set in `other`.
    bool IsSubsetOf(const VisitedSet& other) const {
        return (words[0] & ~other.words[0]) == 0 && (words[1] & ~other.words[1]) == 0 &&
               (words[2] & ~other.words[2]) == 0 && (words[3] & ~other.words[3]) == 0;
    }
    /// Number of set bits among bits 0 .. n-1 (n <= 256; 0 when n <= 0).
    std::int64_t CountBelow(std::int64_t n) const;
    /// True when bits 0 .. n-1 are all set (vacuously when n <= 0).
    bool AllSetBelow(std::int64_t n) const;
    bool operator==(const VisitedSet& other) const {
        return words[0] == other.words[0] && words[1] == other.words[1] &&
               words[2] == other.words[2] && words[3] == other.words[3];
    }
};

inline std::int64_t VisitedSet::CountBelow(std::int64_t n) const {
    std::int64_t count = 0;
    for (std::int64_t w = 0; w < 4 && n > 0; ++w, n -= 64) {
        const std::uint64_t mask = n >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1;
        count += __builtin_popcountll(words[w] & mask);
    }
    return count;
}

inline bool VisitedSet::AllSetBelow(std::int64_t n) const {
    for (std::int64_t w = 0; w < 4 && n > 0; ++w, n -= 64) {
        const std::uint64_t mask = n >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1;
        if ((words[w] & mask) != mask) return false;
    }
    return true;
}

/// One row of the node table, in vertex order.
struct NodeEntry {
    std::int64_t x = 0;  ///< coordinates truncated toward zero
    std::int64_t y = 0;
    std::int64_t z = 0;
    std::uint64_t id = 0;
    /// Agent-type indices allowed to serve the vertex: ascending, no duplicates; empty
    /// admits nobody.
    std::vector<std::int64_t> allowed_types;
};

/// One row of the agent table, in agent-index order.
struct AgentEntry {
    std::uint64_t id = 0;
    std::int64_t type = -1;  ///< agent-type index; -1 when the instance gives none
    double capacity_limit = 0.0;
    double time_limit = 0.0;  ///< in force when > 0
};

/// Joint state of all agents' partial routes. The per-agent lists have one entry per
/// agent. A plain value; the Solver stores it packed in its pool.
struct SearchNode {
    std::int64_t id = -1;                    ///< position in the Solver's pool
    std::vector<NodeVertex> current_vertex;  ///< vertex each agent stands on
    std::vector<double> cost;                ///< each agent's clock (travel + waiting)
    VisitedSet visited;                      ///< vertices already served
    std::int32_t num_vertices = -1;          ///< meaningful bits; -1 in an unfilled slot
    double h = 0.0;
    double g = 0.0;
    double f = 0.0;
    std::int64_t open_agents = 0;
    std::int64_t last_agent = 0;       ///< agent whose move made this node; 0 at the root
    std::vector<std::uint8_t> closed;  ///< non-zero once the agent's route is closed
};

/// Element of the time-window edge list: u > v, cost is the lower bound of travelling
/// between them in either direction.
struct EdgeRecord {
    std::uint64_t u = 0;
    std::uint64_t v = 0;
    double cost = 0.0;
};

/// Vertex -> (earliest, latest) time at that vertex.
using TimeWindowTable = std::unordered_map<std::uint64_t, std::pair<double, double>>;

}  // namespace vornik

#endif  // VORNIK_CORE_SEARCHRECORDS_H
