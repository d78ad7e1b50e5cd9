#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "bindings/Bindings.h"
#include "bindings/StopOnSignal.h"
#include "search/JsonSolve.h"

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

py::dict Solve(const std::string& text, double time_limit) {
    const JsonSolveOutcome outcome =
        SolveJsonText(text, time_limit, SolveHooks{StopOnPythonSignal(), {}});
    RaiseIfInterrupted(outcome.interrupted);
    return ToDict(outcome);
}

}  // namespace

void BindEntryPoints(py::module_& m) {
    m.def(
        "solve_json_file",
        [](const std::string& input_path, double time_limit) {
            return Solve(ReadInstanceFile(input_path), time_limit);
        },
        "Solve an MTSP instance from a JSON file path.\n"
        "Returns a dict with keys: status, routes, statistics, anytime, timeout.",
        py::arg("input_path"), py::arg("time_limit") = -1.0);
    m.def(
        "solve_json_str",
        [](const std::string& json_str, double time_limit) {
            return Solve(json_str, time_limit);
        },
        "Solve an MTSP instance from a JSON string.\n"
        "Returns a dict with keys: status, routes, statistics, anytime, timeout.",
        py::arg("json_str"), py::arg("time_limit") = -1.0);
}

}  // namespace vornik
