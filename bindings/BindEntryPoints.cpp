#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include "bindings/Bindings.h"
#include "bindings/StopOnSignal.h"
#include "search/JsonSolve.h"
#include "search/MemoryBudget.h"

namespace py = pybind11;

namespace vornik {

namespace {

// The result dictionary, keys in their documented order.
py::dict ToDict(const JsonSolveOutcome& outcome) {
    py::list routes;
    for (const RouteOutcome& route : outcome.routes) {
        py::dict entry;
        entry["agent_id"] = route.agent_id;
        entry["path"] = route.path;
        entry["cost"] = route.cost;
        routes.append(entry);
    }
    py::dict statistics;
    statistics["solve_time"] = outcome.solve_time;
    statistics["max_cost"] = outcome.max_cost;
    statistics["sum_cost"] = outcome.sum_cost;
    statistics["n_generated"] = outcome.n_generated;
    statistics["n_expanded"] = outcome.n_expanded;
    statistics["last_update_time"] = outcome.last_update_time;
    py::list anytime;
    for (const AnytimePoint& point : outcome.anytime) {
        py::dict entry;
        entry["time"] = point.time;
        entry["max_cost"] = point.max_cost;
        entry["sum_cost"] = point.sum_cost;
        anytime.append(entry);
    }
    py::dict result;
    result["status"] = outcome.success ? "success" : "failed";
    result["timeout"] = outcome.timeout;
    result["routes"] = routes;
    result["statistics"] = statistics;
    result["anytime"] = anytime;
    return result;
}

// The first exception an on_solution callable raises, kept until the search returns: a
// Python exception must not unwind the C++ search, so the search is asked to stop instead.
struct CallbackError {
    std::optional<py::error_already_set> error;
};

SolveHooks MakeHooks(std::optional<py::function> on_solution,
                     const std::shared_ptr<CallbackError>& failure,
                     std::optional<double> memory_limit_mb) {
    SolveHooks hooks;
    if (memory_limit_mb) hooks.memory_limit_bytes = MemoryLimitFromMb(*memory_limit_mb);
    hooks.should_stop = [failure, signal = StopOnPythonSignal()] {
        return failure->error.has_value() || signal();
    };
    if (on_solution) {
        hooks.on_solution = [failure, callable = std::move(*on_solution)](
                                double time, double max_cost, double sum_cost) {
            if (failure->error) return;
            try {
                callable(time, max_cost, sum_cost);
            } catch (py::error_already_set& error) {
                failure->error = std::move(error);
            }
        };
    }
    return hooks;
}

py::dict Solve(const std::string& text, double time_limit,
               std::optional<py::function> on_solution, std::optional<double> memory_limit_mb) {
    const auto failure = std::make_shared<CallbackError>();
    const JsonSolveOutcome outcome = SolveJsonText(
        text, time_limit, MakeHooks(std::move(on_solution), failure, memory_limit_mb));
    if (failure->error) throw *failure->error;
    RaiseIfInterrupted(outcome.interrupted);
    return ToDict(outcome);
}

}  // namespace

void BindEntryPoints(py::module_& m) {
    m.def(
        "solve_json_file",
        [](const std::string& input_path, double time_limit,
           std::optional<py::function> on_solution, std::optional<double> memory_limit_mb) {
            return Solve(ReadInstanceFile(input_path), time_limit, std::move(on_solution),
                         memory_limit_mb);
        },
        "Solve an MTSP instance from a JSON file path.\n"
        "Returns a dict with keys: status, routes, statistics, anytime, timeout.",
        py::arg("input_path"), py::arg("time_limit") = -1.0, py::kw_only(),
        py::arg("on_solution") = py::none(), py::arg("memory_limit_mb") = py::none());
    m.def(
        "solve_json_str",
        [](const std::string& json_str, double time_limit,
           std::optional<py::function> on_solution, std::optional<double> memory_limit_mb) {
            return Solve(json_str, time_limit, std::move(on_solution), memory_limit_mb);
        },
        "Solve an MTSP instance from a JSON string.\n"
        "Returns a dict with keys: status, routes, statistics, anytime, timeout.",
        py::arg("json_str"), py::arg("time_limit") = -1.0, py::kw_only(),
        py::arg("on_solution") = py::none(), py::arg("memory_limit_mb") = py::none());
}

}  // namespace vornik
