#ifndef VORNIK_SEARCH_MEMORYBUDGET_H
#define VORNIK_SEARCH_MEMORYBUDGET_H

#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>

#include "core/InstanceModel.h"
#include "core/Problem.h"

namespace vornik {

/// The line written to the standard error stream when the memory limit ends a search.
inline constexpr const char* kMemoryLimitLine =
    "[warning] memory limit reached: the search ended early and keeps its best solution";
/// The line written when the system ran out of memory after a solution was found.
inline constexpr const char* kOutOfMemoryLine =
    "[warning] out of memory: the search ended early and keeps its best solution";

/// Thrown by MemoryBudget::Take when the search's structures would pass their limit.
/// The search catches it and ends as at a time-out; it never leaves Solver::Solve.
class MemoryLimitReached : public std::runtime_error {
public:
    MemoryLimitReached() : std::runtime_error("the search's memory limit was reached") {}
};

/// Running out of memory before any solution existed. A std::bad_alloc (so Python sees
/// MemoryError) whose message names the instance's size and what the solve held.
class OutOfMemoryError : public std::bad_alloc {
public:
    explicit OutOfMemoryError(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

/// Bytes held by the search's growing structures (node pool, list arenas, frontiers,
/// state-key index) against a limit. A structure asks with Take before it allocates, so
/// the structures together never pass the limit. Owned by the Solver.
class MemoryBudget {
public:
    static constexpr std::size_t kUnlimited = std::numeric_limits<std::size_t>::max();

    void SetLimit(std::size_t bytes) { limit_ = bytes; }
    [[nodiscard]] std::size_t Limit() const { return limit_; }
    [[nodiscard]] std::size_t Used() const { return used_; }
    /// Records `bytes` more; throws MemoryLimitReached, recording nothing, when the
    /// total would pass the limit.
    void Take(std::size_t bytes) {
        if (bytes > limit_ || used_ > limit_ - bytes) throw MemoryLimitReached();
        used_ += bytes;
    }
    /// Records `bytes` given back (never below zero).
    void Give(std::size_t bytes) noexcept { used_ = bytes > used_ ? 0 : used_ - bytes; }
    void Clear() noexcept { used_ = 0; }

private:
    std::size_t limit_ = kUnlimited;
    std::size_t used_ = 0;
};

/// The memory limit of a solve when the caller names none: the smaller of 4 GiB and half
/// of the machine's physical memory.
[[nodiscard]] std::size_t DefaultMemoryLimitBytes();

/// Converts a limit given in megabytes (2^20 bytes) as Python passes it; throws
/// std::invalid_argument naming `memory_limit_mb` unless it is a finite number > 0.
[[nodiscard]] std::size_t MemoryLimitFromMb(double memory_limit_mb);

/// What an instance will need before its search starts (the Solver's graph and the
/// plug-ins' tables), and what each stored search node adds.
struct MemoryEstimate {
    std::uint64_t nodes = 0;
    std::uint64_t agents = 0;
    std::uint64_t agent_types = 0;
    std::size_t table_bytes = 0;     ///< graph, construction scratch and plug-in tables
    std::size_t bytes_per_node = 0;  ///< pool slot, list entries and frontier share
};

/// The smallest search worth starting: this many stored nodes must fit besides the tables.
inline constexpr std::size_t kMinSearchNodes = 1024;

/// Estimates the memory of solving `problem` from its sizes alone, without allocating.
[[nodiscard]] MemoryEstimate EstimateMemory(const Problem& problem);
/// The same for an instance already read into a model.
[[nodiscard]] MemoryEstimate EstimateMemory(const InstanceModel& model);
/// The same from the counts: vertices, agents, agent types, and types with a matrix.
[[nodiscard]] MemoryEstimate EstimateMemory(std::size_t nodes, std::size_t agents,
                                            std::size_t agent_types, std::size_t matrices);

/// True when the tables and the smallest search of `estimate` fit in `limit_bytes`.
[[nodiscard]] bool Fits(const MemoryEstimate& estimate, std::size_t limit_bytes);
/// Throws std::invalid_argument, naming the numbers, unless Fits.
void CheckFits(const MemoryEstimate& estimate, std::size_t limit_bytes);

/// "256 nodes, 2000 agents, 2000 agent types": the instance's size for messages.
[[nodiscard]] std::string DescribeSize(const MemoryEstimate& estimate);

/// Bytes as whole megabytes (2^20), rounded up, for messages.
[[nodiscard]] std::string Megabytes(std::size_t bytes);

}  // namespace vornik

#endif  // VORNIK_SEARCH_MEMORYBUDGET_H
