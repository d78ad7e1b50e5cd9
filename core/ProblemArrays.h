#ifndef VORNIK_CORE_PROBLEMARRAYS_H
#define VORNIK_CORE_PROBLEMARRAYS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/Problem.h"

namespace vornik {

/// A whole instance as flat arrays in vertex order, owned by the caller: what a typed
/// instance on the Python side holds, read without a node object or a line of text per
/// node. Optional arrays are null when absent. Sizes are the caller's promise; the
/// checks below cover what a Problem cannot represent.
struct ProblemArrays {
    std::size_t nodes = 0;
    const std::uint64_t* ids = nullptr;    ///< n node ids
    const double* positions = nullptr;     ///< n x 3 (x, y, z)
    const std::uint8_t* depots = nullptr;  ///< n: 1 for a node typed "DEPOT"
    std::size_t dimensions = 0;            ///< load dimensions of demands and capacities
    const double* demands = nullptr;       ///< n x dimensions
    /// Loads given as single numbers: a zero amount is then no load in any dimension,
    /// as the JSON reader takes a scalar 0.
    bool scalar_loads = false;
    const double* service = nullptr;         ///< n
    const std::uint8_t* required = nullptr;  ///< n: 0 for an optional target
    const double* penalty = nullptr;         ///< n
    /// Windows of node v: rows window_offsets[v] .. window_offsets[v + 1] - 1 of
    /// `windows` (start, end), in the order given.
    const std::int64_t* window_offsets = nullptr;  ///< n + 1
    const double* windows = nullptr;               ///< window_rows x 2
    std::size_t window_rows = 0;
    /// Agent types allowed at node v: allowed[allowed_offsets[v] .. allowed_offsets[v + 1]]
    /// (indices into type_names). Null: every node allows every type.
    const std::int64_t* allowed_offsets = nullptr;  ///< n + 1
    const std::int32_t* allowed = nullptr;
    std::size_t allowed_count = 0;
    std::vector<std::string> type_names;

    std::size_t agents = 0;
    const std::uint64_t* agent_ids = nullptr;    ///< m
    const std::int32_t* agent_types = nullptr;   ///< m, indices into type_names
    const std::uint64_t* start_nodes = nullptr;  ///< m node ids
    const std::uint64_t* end_nodes = nullptr;    ///< m node ids
    const double* capacities = nullptr;          ///< m x dimensions
    const double* max_length = nullptr;          ///< m; 0 or less: no limit

    Options options;
};

/// The Problem the JSON reader would build from the same instance: nodes and agents in
/// order, one assignment list per node and every window of a node in its order. With
/// `fleet_fields` (the improvement path) loads, service, optional targets and several
/// windows per node are kept; without, the focal search's reading (one window per node,
/// the last; whole-number limits). Throws std::invalid_argument naming the field for an
/// offset that leaves its array or a type index out of range.
[[nodiscard]] Problem ProblemFromArrays(const ProblemArrays& arrays, bool fleet_fields);

}  // namespace vornik

#endif  // VORNIK_CORE_PROBLEMARRAYS_H
