// Whole solves on seeded random Euclidean instances: n = 20, 50, 100, 200 vertices, 2, 3
// and 5 agents, each once plain (one agent type, one depot, no windows) and once mixed
// (two agent types on two depots, assignment restrictions, time windows on about a third
// of the targets). Every instance runs in a fresh child process so that its peak resident
// memory is its own.
//
//   solve_bench [--time S] [--index K] [--polls N] [--no-postopt]
//
//   --time S      processor-second budget of each search (default 2)
//   --index K     run only instance K, in this process (for profilers)
//   --polls N     also stop at the N-th time the search polls its stop callback (it polls
//                 every few dozen pops), so that runs repeat exactly whatever the
//                 machine's speed: the mode for before/after checks
//   --no-postopt  replace the post-optimizer by one that changes nothing, so that the
//                 search alone is measured and compared
//
// Per instance it prints the generated and expanded nodes, generated nodes per processor
// second, the peak resident memory, the bytes per stored search node (pool slot plus the
// parents entry), the bytes per OPEN entry and per FOCAL entry (with its f index), the
// heap bytes per frontier entry (measured by freeing the frontiers), the processor time of the
// first solution, the final largest and summed route costs, a digest of the anytime
// records (routes, costs, counters) for comparing two builds, and B/gen: the heap bytes
// the search holds when it ends (pool, lists, frontiers, records) per generated node.

#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/Problem.h"
#include "plugins/PostOptimizerPlugin.h"
#include "search/Solver.h"

namespace {

using vornik::Problem;

struct Spec {
    int n = 20;
    int agents = 2;
    bool mixed = false;  // two types, two depots, restrictions and windows
};

std::vector<Spec> AllSpecs() {
    std::vector<Spec> specs;
    for (int n : {20, 50, 100, 200}) {
        for (int agents : {2, 3, 5}) {
            for (bool mixed : {false, true}) specs.push_back(Spec{n, agents, mixed});
        }
    }
    // Many agents: the per-agent part of every stored node dominates.
    specs.push_back(Spec{100, 10, false});
    specs.push_back(Spec{200, 10, false});
    return specs;
}

Problem MakeInstance(const Spec& spec, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    Problem problem;
    std::vector<double> x(static_cast<std::size_t>(spec.n));
    std::vector<double> y(static_cast<std::size_t>(spec.n));
    for (int i = 0; i < spec.n; ++i) {
        x[static_cast<std::size_t>(i)] = 1000.0 * unit(rng);
        y[static_cast<std::size_t>(i)] = 1000.0 * unit(rng);
        vornik::Node node;
        node.id = static_cast<std::uint64_t>(i);
        node.position.x = x[static_cast<std::size_t>(i)];
        node.position.y = y[static_cast<std::size_t>(i)];
        node.type = i < (spec.mixed ? 2 : 1) ? vornik::NodeType::DEPOT : vornik::NodeType::TARGET;
        problem.AddNode(node);
    }
    vornik::CostMatrix fast(static_cast<std::size_t>(spec.n),
                            std::vector<double>(static_cast<std::size_t>(spec.n), 0.0));
    for (std::size_t i = 0; i < fast.size(); ++i) {
        for (std::size_t j = 0; j < fast.size(); ++j) {
            fast[i][j] = std::hypot(x[i] - x[j], y[i] - y[j]);
        }
    }
    for (int a = 0; a < spec.agents; ++a) {
        vornik::Agent agent;
        agent.id = static_cast<std::uint64_t>(a);
        agent.type = spec.mixed && a % 2 == 1 ? "slow" : "fast";
        const std::uint64_t depot = spec.mixed ? static_cast<std::uint64_t>(a % 2) : 0;
        agent.start_node = depot;
        agent.end_node = depot;
        problem.AddAgent(agent, agent.id);
    }
    problem.SetCostMatrix("fast", fast);
    // Every node names its types, as instances normally do (a node without a list is
    // reported and opened to all types).
    vornik::AssignmentConstraint allowed;
    for (int i = 0; i < spec.n; ++i) {
        allowed.SetAssignment(static_cast<std::uint64_t>(i),
                              spec.mixed ? std::vector<std::string>{"fast", "slow"}
                                         : std::vector<std::string>{"fast"});
    }
    if (spec.mixed) {
        vornik::CostMatrix slow = fast;
        for (auto& row : slow) {
            for (double& cost : row) cost *= 1.3;
        }
        problem.SetCostMatrix("slow", slow);
        vornik::TimeWindowConstraint windows;
        // A route serves about n / agents targets of some 300 length units each, so
        // windows opening within the first half of that horizon and lasting at least
        // half of it leave most instances feasible.
        const double horizon = 300.0 * spec.n / spec.agents + 2000.0;
        for (int i = 2; i < spec.n; ++i) {
            const double draw = unit(rng);
            if (draw < 0.2) {
                allowed.SetAssignment(static_cast<std::uint64_t>(i), {"fast"});
            } else if (draw < 0.3) {
                allowed.SetAssignment(static_cast<std::uint64_t>(i), {"slow"});
            }
            if (unit(rng) < 0.3) {
                const double open = 0.5 * horizon * unit(rng);
                windows.SetTimewindow(static_cast<std::uint64_t>(i), open,
                                      open + horizon * (0.5 + unit(rng)));
            }
        }
        problem.SetTimewindowConstraint(windows);
    }
    problem.SetAssignmentConstraint(allowed);
    problem.options.objective = vornik::ObjectiveType::MinMax;
    problem.options.return_to_end = true;
    return problem;
}

// Post-optimizer that keeps every solution as the search found it.
class KeepSolution final : public vornik::PostOptimizerPlugin {
public:
    std::string GetName() const override { return "KeepSolution"; }
    void Optimize(const vornik::PlannerGraph*, const std::vector<vornik::NodeEntry>&,
                  const std::vector<vornik::AgentEntry>&, vornik::Result&) override {}
    void SetReturnToEnd(bool) override {}
    void SetStartVertices(const std::vector<std::uint64_t>&) override {}
    void SetEndVertices(const std::vector<std::uint64_t>&) override {}
    void SetTimeWindows(const vornik::TimeWindowTable&) override {}
    void SetStopCheck(std::function<bool()>) override {}
};

// Reaches into the Solver's lists to measure them.
class BenchSolver : public vornik::Solver {
public:
    using Solver::Solver;
    void KeepSolutions() { post_optimizer_ = std::make_unique<KeepSolution>(); }
    std::size_t SlotBytes() const { return pool_.SlotBytes(); }
    std::int64_t Stored() const { return node_count_; }
    std::size_t FrontierEntries() const {
        std::size_t total = 0;
        for (std::size_t k = 0; k < frontiers_.Size(); ++k) total += frontiers_[k].Size();
        return total;
    }
    // Bytes one entry takes: its tree node (FOCAL's with its node in the f index).
    std::size_t OpenEntryBytes() const { return open_arena_.ChunkBytes(); }
    std::size_t FocalEntryBytes() const {
        return focal_arena_.ChunkBytes() + focal_index_arena_.ChunkBytes();
    }
    void FreeFrontiers() {
        frontiers_.SetBudget(nullptr);
        frontiers_.Clear();
        frontier_by_key_ = vornik::StateKeyIndex();
    }
};

// Bytes the program holds from the heap, small chunks and mapped blocks alike.
std::size_t HeapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

std::uint64_t Mix(std::uint64_t hash, std::uint64_t value) {
    for (int byte = 0; byte < 8; ++byte) {
        hash ^= (value >> (8 * byte)) & 0xFF;
        hash *= 1099511628211ULL;
    }
    return hash;
}

std::uint64_t Bits(double value) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// Digest of a result's routes and route costs in agent order.
std::uint64_t MixResult(std::uint64_t hash, const vornik::Result& result, int agents) {
    for (int a = 0; a < agents; ++a) {
        const auto path = result.paths.find(a);
        if (path != result.paths.end()) {
            hash = Mix(hash, path->second.size());
            for (std::int64_t v : path->second) hash = Mix(hash, static_cast<std::uint64_t>(v));
        }
        const auto time = result.times.find(a);
        if (time != result.times.end()) hash = Mix(hash, Bits(time->second));
    }
    return hash;
}

double ThisPeakRssMb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// Runs instance `index` in this process and prints one line on `out`.
void RunOne(int index, double time_limit, std::int64_t max_polls, bool keep, int out) {
    const Spec spec = AllSpecs()[static_cast<std::size_t>(index)];
    Problem problem = MakeInstance(spec, 1000 + static_cast<std::uint64_t>(index));
    problem.options.time_limit = time_limit;
    BenchSolver solver(problem, problem.options);
    if (keep) solver.KeepSolutions();
    std::int64_t polls = 0;
    if (max_polls > 0) {
        // Polls come after a fixed number of pops: stopping at the N-th repeats exactly.
        solver.SetShouldStop([&polls, max_polls] { return ++polls >= max_polls; });
    }
    const double base_mb = ThisPeakRssMb();
    const std::size_t heap_before = HeapInUse();
    const bool solved = solver.Solve();
    const double peak_mb = ThisPeakRssMb();
    // Everything the search still holds when it ends (pool, lists, frontiers, anytime
    // records), per generated node.
    const double held_bytes = static_cast<double>(HeapInUse()) - static_cast<double>(heap_before);
    const vornik::Result result = solver.GetResult();
    const std::vector<vornik::AnytimeRecord> records = solver.GetResultProcess();

    const std::size_t frontier_entries = solver.FrontierEntries();
    const std::size_t before = HeapInUse();
    solver.FreeFrontiers();
    const double frontier_bytes = static_cast<double>(before - HeapInUse());
    const auto per = [](double bytes, std::size_t count) {
        return count == 0 ? 0.0 : bytes / static_cast<double>(count);
    };

    double largest = 0.0;
    double sum = 0.0;
    for (const auto& entry : result.times) {
        largest = std::max(largest, entry.second);
        sum += entry.second;
    }
    std::uint64_t digest = 1469598103934665603ULL;
    digest = Mix(digest, static_cast<std::uint64_t>(result.n_generated));
    digest = Mix(digest, static_cast<std::uint64_t>(result.n_expanded));
    for (const vornik::AnytimeRecord& record : records) {
        digest = MixResult(digest, record.result, spec.agents);
    }
    const double seconds = result.search_time;
    char first[32] = "-";
    if (!records.empty()) std::snprintf(first, sizeof first, "%.3f", records.front().time);
    // The slot holds the node's parent id as well.
    const std::size_t node_bytes = solver.SlotBytes();
    dprintf(out,
            "%3d %4d %2d %-5s %10lld %9lld %10.0f %7.1f %7.1f %4zu %6.1f %6.1f %6.1f %7s "
            "%10.1f %10.1f %3zu %016llx %7.1f\n",
            index, spec.n, spec.agents, spec.mixed ? "mixed" : "plain",
            static_cast<long long>(result.n_generated), static_cast<long long>(result.n_expanded),
            seconds > 0.0 ? static_cast<double>(result.n_generated) / seconds : 0.0, peak_mb,
            peak_mb - base_mb, node_bytes, static_cast<double>(solver.OpenEntryBytes()),
            static_cast<double>(solver.FocalEntryBytes()), per(frontier_bytes, frontier_entries),
            first, solved ? largest : -1.0, solved ? sum : -1.0, records.size(),
            static_cast<unsigned long long>(digest),
            result.n_generated > 0 ? held_bytes / static_cast<double>(result.n_generated) : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
    double time_limit = 2.0;
    int only = -1;
    std::int64_t max_polls = 0;
    bool keep = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--time" && i + 1 < argc) {
            time_limit = std::atof(argv[++i]);
        } else if (arg == "--index" && i + 1 < argc) {
            only = std::atoi(argv[++i]);
        } else if (arg == "--polls" && i + 1 < argc) {
            max_polls = std::atoll(argv[++i]);
        } else if (arg == "--no-postopt") {
            keep = true;
        } else {
            std::fprintf(stderr,
                         "usage: solve_bench [--time S] [--index K] [--polls N] [--no-postopt]\n");
            return 2;
        }
    }
    const int count = static_cast<int>(AllSpecs().size());
    if (only >= count) {
        std::fprintf(stderr, "--index must be below %d\n", count);
        return 2;
    }
    std::printf(
        "# time limit %.2f s processor time%s%s\n"
        "# slot+par = pool slot + parents entry; open/focal = bytes per entry (focal with its "
        "f index); front = heap bytes per frontier entry; B/gen = heap bytes held at the end "
        "per generated node\n"
        "#idx    n  A var         gen       exp      gen/s  peakMB  srchMB slot+par   open "
        " focal  front  first1        max        sum rec digest            B/gen\n",
        time_limit, max_polls > 0 ? (", stop at poll " + std::to_string(max_polls)).c_str() : "",
        keep ? ", no post-optimization" : "");
    std::fflush(stdout);
    // The search's progress lines ("w = 1") would interleave with the table: keep the
    // table on a duplicate of standard output and send the original to /dev/null.
    const int out = dup(STDOUT_FILENO);
    std::FILE* sink = std::freopen("/dev/null", "w", stdout);
    if (sink == nullptr || out < 0) return 1;
    if (only >= 0) {
        RunOne(only, time_limit, max_polls, keep, out);
        return 0;
    }
    for (int index = 0; index < count; ++index) {
        const pid_t child = fork();
        if (child == 0) {
            RunOne(index, time_limit, max_polls, keep, out);
            _exit(0);
        }
        int status = 0;
        waitpid(child, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            dprintf(out, "%3d failed (status %d)\n", index, status);
        }
    }
    return 0;
}
