#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bindings/ArrayIntake.h"
#include "bindings/Bindings.h"
#include "bindings/SolveEntry.h"
#include "core/ProblemArrays.h"
#include "search/ProblemSolve.h"

namespace py = pybind11;

namespace vornik {

void BindArrays(py::module_& m) {
    m.def(
        "solve_arrays",
        [](const py::dict& arrays, std::vector<std::string> type_names, double time_limit,
           const std::string& objective, bool return_to_end, std::size_t dimensions,
           bool scalar_loads, const py::object& cost_matrices, const py::object& distances,
           std::optional<py::function> on_solution, bool improve, std::uint64_t seed,
           std::optional<py::function> should_stop, const std::string& clock,
           std::int64_t iteration_limit, std::optional<double> memory_limit_mb,
           const py::object& engine_params, std::int64_t threads) {
            ArrayReader reader(arrays);
            ProblemArrays input =
                ReadArrays(reader, std::move(type_names), dimensions, scalar_loads);
            input.options.objective =
                objective == "min_max" ? ObjectiveType::MinMax : ObjectiveType::MinSum;
            input.options.return_to_end = return_to_end;
            CostInputs costs = ReadCostInputs(cost_matrices, distances);
            if (!costs.matrices.empty()) {
                throw py::type_error("solve_arrays reads cost matrices as arrays only");
            }
            const SolveRun run = [&](const SolveHooks& hooks, const SolveSettings& settings) {
                // Only the improvement path honours the fleet fields, so only it reads them.
                Problem problem = ProblemFromArrays(input, settings.improve);
                return SolveProblem(std::move(problem), time_limit, hooks, settings,
                                    std::move(costs.tables));
            };
            return SolveWith(run, std::move(on_solution), improve, seed, std::move(should_stop),
                             clock, iteration_limit, memory_limit_mb, engine_params, threads);
        },
        "Solve an instance given as arrays (a zelk.Instance's core_arrays()), read in place:\n"
        "arrays maps ids, positions, depots, demands, capacities, service, required, penalty,\n"
        "windows with window_offsets, allowed with allowed_offsets (indices into type_names),\n"
        "agent_ids, agent_types, start_nodes, end_nodes and max_length to arrays in vertex\n"
        "and agent order; cost_matrices (2-D arrays) and distances as for solve_json_str.\n"
        "The other keywords and the result are those of solve_json_str.",
        py::arg("arrays"), py::arg("type_names"), py::arg("time_limit"), py::kw_only(),
        py::arg("objective") = "min_sum", py::arg("return_to_end") = true,
        py::arg("dimensions") = 0, py::arg("scalar_loads") = false,
        py::arg("cost_matrices") = py::none(), py::arg("distances") = py::none(),
        py::arg("on_solution") = py::none(), py::arg("improve") = false, py::arg("seed") = 0,
        py::arg("should_stop") = py::none(), py::arg("clock") = "process",
        py::arg("iteration_limit") = -1, py::arg("memory_limit_mb") = py::none(),
        py::arg("engine_params") = py::none(), py::arg("threads") = 1);
}

}  // namespace vornik
