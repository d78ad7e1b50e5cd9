#include "search/MemoryBudget.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <sstream>

#include "search/NodePool.h"

namespace vornik {

namespace {

constexpr std::size_t kFourGiB = std::size_t{4} << 30;

// a * b, saturating instead of wrapping, so that absurd sizes still compare as huge.
std::size_t Times(std::size_t a, std::size_t b) {
    if (a != 0 && b > std::numeric_limits<std::size_t>::max() / a) {
        return std::numeric_limits<std::size_t>::max();
    }
    return a * b;
}

std::size_t Plus(std::size_t a, std::size_t b) {
    return b > std::numeric_limits<std::size_t>::max() - a ? std::numeric_limits<std::size_t>::max()
                                                           : a + b;
}

}  // namespace

std::size_t DefaultMemoryLimitBytes() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || page_size <= 0) return kFourGiB;
    const std::size_t physical =
        Times(static_cast<std::size_t>(pages), static_cast<std::size_t>(page_size));
    return std::min(kFourGiB, physical / 2);
}

std::size_t MemoryLimitFromMb(double memory_limit_mb) {
    if (!std::isfinite(memory_limit_mb) || !(memory_limit_mb > 0.0)) {
        std::ostringstream message;
        message << "memory_limit_mb must be a positive number of megabytes (got " << memory_limit_mb
                << ")";
        throw std::invalid_argument(message.str());
    }
    const double bytes = memory_limit_mb * 1048576.0;
    // Anything beyond the address space is as good as no limit.
    if (bytes >= 9.0e18) return MemoryBudget::kUnlimited;
    return std::max<std::size_t>(1, static_cast<std::size_t>(bytes));
}

MemoryEstimate EstimateMemory(const Problem& problem) {
    return EstimateMemory(problem.nodes.size(), problem.agents_ordered.size(),
                          problem.type_index_of.size(), problem.cost_matrices.size());
}

MemoryEstimate EstimateMemory(const InstanceModel& model) {
    return EstimateMemory(model.NumVertices(), model.NumAgents(), model.NumTypes(),
                          model.NumMatrixTables());
}

MemoryEstimate EstimateMemory(std::size_t nodes, std::size_t agents, std::size_t agent_types,
                              std::size_t matrices) {
    MemoryEstimate estimate;
    estimate.nodes = nodes;
    estimate.agents = agents;
    estimate.agent_types = agent_types;
    const std::size_t n = nodes;
    const std::size_t types = agent_types;

    // The search's graph keeps one cost per type for every ordered pair, in one block,
    // and the instance model an n x n table for every type that has a matrix.
    const std::size_t arcs = Times(n, n == 0 ? 0 : n - 1);
    std::size_t tables = Times(Times(Times(n, n), types), 8);
    tables = Plus(tables, Times(Times(Times(n, n), matrices), 8));
    // The edge list of the bound, twice (the heuristic keeps a copy), and the per-agent,
    // per-vertex tables of the checkers and the route evaluator.
    tables = Plus(tables, Times(arcs, 24));
    tables = Plus(tables, Times(Times(agents, n), 8));
    // The bound's rank rows (two bytes per pair, padded), the node and agent tables with
    // their maps, the type-name maps, and a little for everything of fixed size.
    tables = Plus(tables, Plus(Times(Times(n, n), 2), Times(n, 32)));
    tables = Plus(tables, Plus(Times(n, 256), Plus(Times(agents, 512), Times(types, 256))));
    tables = Plus(tables, 256 << 10);
    // What the count above misses (list growth slack, allocator rounding) stayed below a
    // tenth in measurements; a fifth more keeps the estimate above what building takes.
    estimate.table_bytes = Plus(tables, tables / 5);

    // A stored node: its pool slot; an OPEN entry (48) and a FOCAL entry with its index
    // (at most 112); its frontier entry (g and the visited set, one cost per agent) and
    // the frontier's own record and state key when it is the first at its positions.
    std::size_t per_node = NodePool::SlotBytesFor(agents);
    per_node = Plus(per_node, 48 + 112);
    per_node = Plus(per_node, Plus(40, Times(8, agents)));
    per_node = Plus(per_node, Plus(72 + 48 + 16, agents));
    estimate.bytes_per_node = per_node;
    return estimate;
}

std::string Megabytes(std::size_t bytes) {
    return std::to_string(bytes / 1048576 + (bytes % 1048576 != 0 ? 1 : 0)) + " MB";
}

std::string DescribeSize(const MemoryEstimate& estimate) {
    return std::to_string(estimate.nodes) + " nodes, " + std::to_string(estimate.agents) +
           " agents, " + std::to_string(estimate.agent_types) + " agent types";
}

bool Fits(const MemoryEstimate& estimate, std::size_t limit_bytes) {
    const std::size_t search = Times(kMinSearchNodes, estimate.bytes_per_node);
    return Plus(estimate.table_bytes, search) <= limit_bytes;
}

void CheckFits(const MemoryEstimate& estimate, std::size_t limit_bytes) {
    if (Fits(estimate, limit_bytes)) return;
    const std::size_t search = Times(kMinSearchNodes, estimate.bytes_per_node);
    std::ostringstream message;
    message << "the instance (" << DescribeSize(estimate) << ") needs about "
            << Megabytes(estimate.table_bytes) << " for its tables and " << estimate.bytes_per_node
            << " bytes per search node (" << Megabytes(search) << " for the first "
            << kMinSearchNodes << " nodes), more than the memory limit of "
            << Megabytes(limit_bytes) << "; raise memory_limit_mb or use fewer nodes or agent "
            << "types";
    throw std::invalid_argument(message.str());
}

}  // namespace vornik
