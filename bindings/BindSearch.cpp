#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "bindings/Bindings.h"
#include "bindings/StopOnSignal.h"
#include "search/Solver.h"

namespace py = pybind11;

namespace vornik {

void BindSearch(py::module_& m) {
    py::class_<Solver>(m, "Solver")
        .def(py::init<const Problem&, const Options&>(), py::arg("problem"),
             py::arg("options"))
        .def(
            "solve",
            [](Solver& solver) {
                solver.SetShouldStop(StopOnPythonSignal());
                const bool found = solver.Solve();
                RaiseIfInterrupted(solver.Interrupted());
                return found ? 1 : 0;
            },
            "Run the ZELK solver. Returns 1 on success, 0 on failure.")
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
