#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include "bindings/Bindings.h"
#include "bindings/StopOnSignal.h"
#include "search/MemoryBudget.h"
#include "search/Solver.h"

namespace py = pybind11;

namespace vornik {

namespace {

// The first exception an on_solution callable raises, kept until the search returns: a
// Python exception must not unwind the C++ search, so the search is asked to stop instead.
struct CallbackError {
    std::optional<py::error_already_set> error;
};

std::function<void(double, double, double)> GuardCallback(
    std::optional<py::function> on_solution, const std::shared_ptr<CallbackError>& failure) {
    if (!on_solution) return {};
    return [failure, callable = std::move(*on_solution)](double time, double max_cost,
                                                         double sum_cost) {
        if (failure->error) return;
        try {
            callable(time, max_cost, sum_cost);
        } catch (py::error_already_set& error) {
            failure->error = std::move(error);
        }
    };
}

}  // namespace

void BindSearch(py::module_& m) {
    py::class_<Solver>(m, "Solver")
        .def(py::init<const Problem&, const Options&>(), py::arg("problem"),
             py::arg("options"))
        .def(
            "solve",
            [](Solver& solver, std::optional<py::function> on_solution,
               std::optional<double> memory_limit_mb) {
                solver.SetMemoryLimit(memory_limit_mb ? MemoryLimitFromMb(*memory_limit_mb)
                                                      : DefaultMemoryLimitBytes());
                const auto failure = std::make_shared<CallbackError>();
                solver.SetShouldStop([failure, signal = StopOnPythonSignal()] {
                    return failure->error.has_value() || signal();
                });
                solver.SetOnSolution(GuardCallback(std::move(on_solution), failure));
                // The Solver outlives this call; it must not keep the callable alive.
                struct ClearOnExit {
                    Solver& solver;
                    ~ClearOnExit() {
                        solver.SetOnSolution({});
                        solver.SetShouldStop(StopOnPythonSignal());
                    }
                } clear_on_exit{solver};
                const bool found = solver.Solve();
                if (failure->error) throw *failure->error;
                RaiseIfInterrupted(solver.Interrupted());
                return found ? 1 : 0;
            },
            "Run the ZELK solver. Returns 1 on success, 0 on failure.", py::kw_only(),
            py::arg("on_solution") = py::none(), py::arg("memory_limit_mb") = py::none())
        .def("get_result", &Solver::GetResult)
        .def("get_result_process", [](const Solver& solver) {
            py::list records;
            for (const AnytimeRecord& record : solver.GetResultProcess()) {
                records.append(py::make_tuple(record.time, record.result));
            }
            return records;
        });
}

}  // namespace vornik
