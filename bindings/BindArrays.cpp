#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bindings/Bindings.h"
#include "bindings/SolveEntry.h"
#include "core/ProblemArrays.h"
#include "search/ProblemSolve.h"

namespace py = pybind11;

namespace vornik {

namespace {

// The arrays of one instance, each kept alive (and read in place when it already has
// the expected type and layout) for as long as the solve reads it.
class ArrayReader {
public:
    explicit ArrayReader(py::dict arrays) : arrays_(std::move(arrays)) {}

    // arrays[key] as a C-ordered array of T with `rows` rows of `columns` entries (a
    // column count of 0: one dimension); null when absent and not `needed`.
    template <typename T>
    const T* Read(const char* key, std::size_t rows, std::size_t columns, bool needed) {
        if (!arrays_.contains(key) || arrays_[key].is_none()) {
            if (needed) throw py::value_error(std::string("arrays['") + key + "'] is missing");
            return nullptr;
        }
        auto array =
            py::array_t<T, py::array::c_style | py::array::forcecast>::ensure(arrays_[key]);
        if (!array) {
            PyErr_Clear();
            throw py::value_error(std::string("arrays['") + key + "'] is not an array of numbers");
        }
        const bool shaped =
            columns == 0 ? array.ndim() == 1 && Dim(array, 0) == rows
                         : array.ndim() == 2 && Dim(array, 0) == rows && Dim(array, 1) == columns;
        if (!shaped) {
            throw py::value_error(std::string("arrays['") + key + "'] must have " +
                                  std::to_string(rows) + " rows" +
                                  (columns == 0 ? "" : " of " + std::to_string(columns)));
        }
        keep_.push_back(array);
        return array.data();
    }

    // The length of arrays[key] (its first dimension).
    std::size_t Length(const char* key) {
        if (!arrays_.contains(key) || arrays_[key].is_none()) return 0;
        return py::len(arrays_[key]);
    }

private:
    template <typename Array>
    static std::size_t Dim(const Array& array, int axis) {
        return static_cast<std::size_t>(array.shape(axis));
    }

    py::dict arrays_;
    std::vector<py::object> keep_;
};

ProblemArrays ReadArrays(ArrayReader& reader, std::vector<std::string> type_names,
                         std::size_t dimensions, bool scalar_loads) {
    ProblemArrays a;
    a.nodes = reader.Length("ids");
    a.agents = reader.Length("agent_ids");
    const std::size_t n = a.nodes;
    const std::size_t m = a.agents;
    a.ids = reader.Read<std::uint64_t>("ids", n, 0, true);
    a.positions = reader.Read<double>("positions", n, 3, true);
    a.depots = reader.Read<std::uint8_t>("depots", n, 0, false);
    a.dimensions = dimensions;
    a.scalar_loads = scalar_loads;
    if (dimensions > 0) {
        a.demands = reader.Read<double>("demands", n, dimensions, false);
        a.capacities = reader.Read<double>("capacities", m, dimensions, false);
    }
    a.service = reader.Read<double>("service", n, 0, false);
    a.required = reader.Read<std::uint8_t>("required", n, 0, false);
    a.penalty = reader.Read<double>("penalty", n, 0, false);
    a.window_rows = reader.Length("windows");
    a.windows = reader.Read<double>("windows", a.window_rows, 2, false);
    if (a.windows != nullptr) {
        a.window_offsets = reader.Read<std::int64_t>("window_offsets", n + 1, 0, true);
    }
    a.allowed_count = reader.Length("allowed");
    a.allowed = reader.Read<std::int32_t>("allowed", a.allowed_count, 0, false);
    if (a.allowed != nullptr) {
        a.allowed_offsets = reader.Read<std::int64_t>("allowed_offsets", n + 1, 0, true);
    }
    a.agent_ids = reader.Read<std::uint64_t>("agent_ids", m, 0, true);
    a.agent_types = reader.Read<std::int32_t>("agent_types", m, 0, true);
    a.start_nodes = reader.Read<std::uint64_t>("start_nodes", m, 0, true);
    a.end_nodes = reader.Read<std::uint64_t>("end_nodes", m, 0, true);
    a.max_length = reader.Read<double>("max_length", m, 0, false);
    a.type_names = std::move(type_names);
    return a;
}

}  // namespace

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
