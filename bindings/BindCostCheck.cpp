#include <pybind11/pybind11.h>

#include "bindings/Bindings.h"
#include "core/CostMatrixCheck.h"
#include "core/Problem.h"

namespace py = pybind11;

namespace vornik {

void BindCostCheck(py::module_& m) {
    m.def(
        "check_costs",
        [](const Problem& problem) {
            for (const auto& [agent_type, matrix] : problem.cost_matrices) {
                CheckTravelCosts(agent_type, matrix);
            }
        },
        "Raises ValueError naming the first cost of the problem's matrices, off the\n"
        "diagonal, that is negative or not finite: the JSON entry points refuse such\n"
        "costs, while a Solver given the Problem reads them as they are.",
        py::arg("problem"));
}

}  // namespace vornik
