#include "search/JsonSolve.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "core/InstanceReader.h"
#include "improve/EngineModel.h"
#include "search/MemoryBudget.h"
#include "search/ProblemSolve.h"

namespace vornik {

namespace {

Problem ReadWithMatrices(const std::string& json_text, bool fleet_fields,
                         CostMatrices& cost_matrices) {
    Problem problem = ParseInstance(json_text, fleet_fields);
    for (auto& [agent_type, matrix] : cost_matrices) {
        problem.SetCostMatrix(agent_type, std::move(matrix));
    }
    return problem;
}

}  // namespace

JsonSolveOutcome SolveJsonText(const std::string& json_text, double time_limit,
                               const SolveHooks& hooks, const SolveSettings& settings,
                               CostMatrices cost_matrices, CostTables tables) {
    // On the improvement path the budget covers reading the text too.
    SolveSettings timed = settings;
    if (timed.improve && timed.improve_settings.started < 0) {
        timed.improve_settings.started = BudgetNow(timed.improve_settings.wall_clock);
    }
    // Only the improvement path honours the fleet fields, so only it reads them.
    Problem problem = ReadWithMatrices(json_text, settings.improve, cost_matrices);
    return SolveProblem(std::move(problem), time_limit, hooks, timed, std::move(tables));
}

std::vector<ReasonOutcome> PrecheckJsonText(const std::string& json_text,
                                            CostMatrices cost_matrices, const CostTables& tables) {
    const Problem problem = ReadWithMatrices(json_text, true, cost_matrices);
    const EngineModel model(problem, tables);
    std::vector<ReasonOutcome> reasons;
    for (const TargetReason& reason : model.PrecheckReasons()) {
        reasons.push_back(
            ReasonOutcome{problem.nodes[reason.vertex].id, reason.reason, reason.message});
    }
    return reasons;
}

std::string ReadInstanceFile(const std::string& path) {
    // The C library would stop at an embedded NUL and open the file named by the part
    // before it.
    if (path.find('\0') != std::string::npos) {
        throw std::invalid_argument("input_path must not contain a NUL character");
    }
    // Only a regular file has a known end: a device such as /dev/zero never ends, a FIFO
    // without a writer blocks the open (O_NONBLOCK returns at once instead), and a folder
    // has no content. Any of them is a file that cannot be opened as an instance.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        if (fd >= 0) ::close(fd);
        throw std::runtime_error("Cannot open file: " + path);
    }
    // Read no more than the size the file had when opened: a file that grows meanwhile
    // cannot make the read unbounded.
    std::string text(static_cast<std::size_t>(info.st_size), '\0');
    std::size_t filled = 0;
    bool read_failed = false;
    while (filled < text.size()) {
        const ssize_t got = ::read(fd, text.data() + filled, text.size() - filled);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) read_failed = true;
        if (got <= 0) break;  // an error, or the file shrank
        filled += static_cast<std::size_t>(got);
    }
    ::close(fd);
    if (read_failed) throw std::runtime_error("Cannot open file: " + path);
    text.resize(filled);
    return text;
}

}  // namespace vornik
