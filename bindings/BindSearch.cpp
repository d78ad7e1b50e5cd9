#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "bindings/Bindings.h"
#include "bindings/SolveCallbacks.h"
#include "search/MemoryBudget.h"
#include "search/Solver.h"

namespace py = pybind11;

namespace vornik {

void BindSearch(py::module_& m) {
    py::class_<Solver>(m, "Solver")
        .def(py::init<const Problem&, const Options&>(), py::arg("problem"), py::arg("options"))
        .def(
            "solve",
            [](Solver& solver, std::optional<py::function> on_solution, bool improve,
               std::uint64_t seed, std::optional<py::function> should_stop,
               const std::string& clock, std::int64_t iteration_limit,
               std::optional<double> memory_limit_mb, const py::object& engine_params,
               std::int64_t threads) {
                solver.SetMemoryLimit(memory_limit_mb ? MemoryLimitFromMb(*memory_limit_mb)
                                                      : DefaultMemoryLimitBytes());
                ImproveSettings settings;
                settings.seed = seed;
                settings.iteration_limit = iteration_limit;
                settings.wall_clock = ParseWallClock(clock);
                if (settings.wall_clock && !improve) {
                    throw py::value_error(
                        "clock=\"wall\" applies to the improvement path (improve=True)");
                }
                if (!engine_params.is_none() && !improve) {
                    throw py::value_error(
                        "engine_params applies to the improvement path (improve=True)");
                }
                settings.engine_params = EngineParamsFromPython(engine_params);
                settings.threads = ThreadsFromPython(threads, improve);
                const SolveCallbacks callbacks(std::move(on_solution), std::move(should_stop),
                                               improve);
                // The hooks serve this call only: the Solver keeps no callable of it.
                SearchHooks hooks;
                hooks.should_stop = callbacks.StopHook();
                hooks.on_solution = callbacks.SolutionHook();
                bool found = false;
                if (improve) {
                    py::gil_scoped_release release;
                    found = solver.SolveImproving(settings, hooks);
                } else {
                    found = solver.Solve(hooks);
                }
                callbacks.Finish();
                return found ? 1 : 0;
            },
            "Run the ZELK solver. Returns 1 on success, 0 on failure.\n"
            "improve=True runs the focal search briefly, then the improvement engine for\n"
            "the rest of the budget; see solve_json_str for seed, should_stop, clock,\n"
            "iteration_limit, engine_params and threads.",
            py::kw_only(), py::arg("on_solution") = py::none(), py::arg("improve") = false,
            py::arg("seed") = 0, py::arg("should_stop") = py::none(), py::arg("clock") = "process",
            py::arg("iteration_limit") = -1, py::arg("memory_limit_mb") = py::none(),
            py::arg("engine_params") = py::none(), py::arg("threads") = 1)
        .def("get_result", &Solver::GetResult)
        .def(
            "get_unserved",
            [](const Solver& solver) {
                const ImproveReport& report = solver.LastImproveReport();
                const auto id_of = [&](std::uint32_t v) { return solver.NodeIdOfVertex(v); };
                py::list unserved;
                for (const std::uint32_t v : report.unserved) unserved.append(id_of(v));
                py::list reasons;
                for (const TargetReason& reason : report.reasons) {
                    py::dict entry;
                    entry["node"] = id_of(reason.vertex);
                    entry["reason"] = reason.reason;
                    entry["message"] = reason.message;
                    reasons.append(entry);
                }
                py::dict result;
                result["unserved"] = unserved;
                result["penalty"] = report.penalty;
                result["reasons"] = reasons;
                result["loads"] = report.loads;
                return result;
            },
            "After solve(improve=True): {unserved: node ids no route serves, penalty: of the\n"
            "optional ones, reasons: [{node, reason, message}] per required one left out,\n"
            "loads: per agent, per load dimension}.")
        .def("get_result_process", [](const Solver& solver) {
            py::list records;
            for (const AnytimeRecord& record : solver.GetResultProcess()) {
                records.append(py::make_tuple(record.time, record.result));
            }
            return records;
        });
}

}  // namespace vornik
