// Feeds arbitrary bytes to the JSON instance path: parse, read, build a Solver and
// search for a hundredth of a second. The documented failures are the JSON library's
// exceptions (text and format faults), std::out_of_range (unknown node ids or agent
// types) and std::invalid_argument (instances the Solver cannot represent). Anything
// else escaping, and every sanitizer report, is a finding.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

#include "search/JsonSolve.h"

namespace {

// Small enough that a run of a few thousand inputs stays within a minute, large enough
// that valid instances get through construction, a few expansions and a solution.
constexpr double kSearchBudget = 0.01;

[[noreturn]] void Finding(const char* what, const char* detail) {
    std::fprintf(stderr, "undocumented failure: %s: %s\n", what, detail);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        const vornik::JsonSolveOutcome outcome = vornik::SolveJsonText(text, kSearchBudget);
        // A reported success must name a route for every agent it claims to have solved.
        if (outcome.success && outcome.routes.empty()) {
            Finding("success", "no routes in a successful outcome");
        }
        // The same instance on the improvement path, for a few engine steps.
        vornik::SolveSettings settings;
        settings.improve = true;
        settings.improve_settings.iteration_limit = 20;
        const vornik::JsonSolveOutcome improved =
            vornik::SolveJsonText(text, kSearchBudget, {}, settings);
        if (improved.success && improved.routes.empty()) {
            Finding("success", "no routes in a successful improved outcome");
        }
    } catch (const nlohmann::json::exception&) {
        // Parse and format faults: RuntimeError in Python.
    } catch (const std::out_of_range&) {
        // Unknown start or end node ids, cost matrices of unknown types: IndexError.
    } catch (const std::invalid_argument&) {
        // Too many nodes, oversized matrices, NaN costs: ValueError.
    } catch (const std::exception& error) {
        Finding("std::exception", error.what());
    } catch (...) {
        Finding("exception", "not derived from std::exception");
    }
    return 0;
}
