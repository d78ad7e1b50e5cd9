#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <map>
#include <optional>
#include <string>
#include <utility>

#include "bindings/Bindings.h"
#include "bindings/SolveCallbacks.h"
#include "bindings/SolveEntry.h"
#include "search/JsonSolve.h"
#include "search/MemoryBudget.h"

namespace py = pybind11;

namespace vornik {

namespace {

std::string ShortRepr(const py::handle& value) {
    std::string text = py::repr(value).cast<std::string>();
    return text.size() <= 60 ? text : text.substr(0, 60) + "...";
}

}  // namespace

CostInputs ReadCostInputs(const py::object& cost_matrices, const py::object& distances) {
    CostInputs inputs;
    if (!cost_matrices.is_none()) {
        if (!py::isinstance<py::dict>(cost_matrices)) {
            throw py::type_error("cost_matrices must be a dict of agent type to matrix (got " +
                                 ShortRepr(py::type::handle_of(cost_matrices).attr("__name__")) +
                                 ")");
        }
        for (const auto& [key, value] : cost_matrices.cast<py::dict>()) {
            if (!py::isinstance<py::str>(key)) {
                throw py::type_error("cost_matrices keys must be agent type names (got " +
                                     ShortRepr(key) + ")");
            }
            const std::string type = key.cast<std::string>();
            if (!py::isinstance<py::buffer>(value) || py::isinstance<py::bytes>(value)) {
                try {
                    inputs.matrices.emplace_back(type, value.cast<CostMatrix>());
                } catch (const py::cast_error&) {
                    throw py::type_error("cost_matrices['" + type.substr(0, 40) +
                                         "'] must be a list of rows of numbers or a 2-D array "
                                         "(got " +
                                         ShortRepr(value) + ")");
                }
                continue;
            }
            const auto array =
                py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(
                    py::reinterpret_borrow<py::object>(value));
            if (!array) {
                PyErr_Clear();
                throw py::value_error("cost_matrices['" + type + "'] is not an array of numbers");
            }
            if (array.ndim() != 2) {
                throw py::value_error("cost_matrices['" + type +
                                      "'] must be a 2-D array, one row per node (got " +
                                      std::to_string(array.ndim()) + " dimensions)");
            }
            inputs.tables.arrays.push_back(
                CostTables::Array{type, array.data(), static_cast<std::size_t>(array.shape(0)),
                                  static_cast<std::size_t>(array.shape(1))});
            inputs.keep.push_back(array);
        }
    }
    if (!distances.is_none()) {
        if (!py::isinstance<py::dict>(distances)) {
            throw py::type_error(
                "distances must be a dict of agent type to \"exact\", \"nint\" or \"ceil\"");
        }
        for (const auto& [key, value] : distances.cast<py::dict>()) {
            if (!py::isinstance<py::str>(key) || !py::isinstance<py::str>(value)) {
                throw py::type_error(
                    "distances must map agent type names to \"exact\", \"nint\" or \"ceil\" (got " +
                    ShortRepr(key) + ": " + ShortRepr(value) + ")");
            }
            const std::string type = key.cast<std::string>();
            inputs.tables.computed.emplace_back(
                type, DistanceRuleNamed(value.cast<std::string>(), "distances['" + type + "']"));
        }
    }
    return inputs;
}

namespace {

py::list ReasonsList(const std::vector<ReasonOutcome>& reasons) {
    py::list list;
    for (const ReasonOutcome& reason : reasons) {
        py::dict entry;
        entry["node"] = reason.node;
        entry["reason"] = reason.reason;
        entry["message"] = reason.message;
        list.append(entry);
    }
    return list;
}

// The result dictionary, keys in their documented order; the improvement path adds its
// own keys after them.
py::dict ToDict(const JsonSolveOutcome& outcome) {
    py::list routes;
    for (const RouteOutcome& route : outcome.routes) {
        py::dict entry;
        entry["agent_id"] = route.agent_id;
        entry["path"] = route.path;
        entry["cost"] = route.cost;
        if (outcome.improved) entry["load"] = route.load;
        routes.append(entry);
    }
    py::dict statistics;
    statistics["solve_time"] = outcome.solve_time;
    statistics["max_cost"] = outcome.max_cost;
    statistics["sum_cost"] = outcome.sum_cost;
    statistics["n_generated"] = outcome.n_generated;
    statistics["n_expanded"] = outcome.n_expanded;
    statistics["last_update_time"] = outcome.last_update_time;
    if (outcome.improved) {
        statistics["improve_iterations"] = outcome.improve_iterations;
        statistics["best_phase"] = outcome.best_phase;
        statistics["interrupted"] = outcome.interrupted;
        statistics["first_solution_time"] = outcome.first_solution_time;
    }
    py::list anytime;
    for (const AnytimePoint& point : outcome.anytime) {
        py::dict entry;
        entry["time"] = point.time;
        entry["max_cost"] = point.max_cost;
        entry["sum_cost"] = point.sum_cost;
        if (outcome.improved) {
            entry["phase"] = point.phase;
            entry["unserved_required"] = point.unserved_required;
            entry["penalty"] = point.penalty;
            entry["objective_value"] = point.objective_value;
        }
        anytime.append(entry);
    }
    py::dict result;
    result["status"] = outcome.infeasible ? "infeasible" : outcome.success ? "success" : "failed";
    result["timeout"] = outcome.timeout;
    result["routes"] = routes;
    result["statistics"] = statistics;
    result["anytime"] = anytime;
    if (outcome.improved) {
        result["unserved"] = outcome.unserved;
        result["penalty"] = outcome.penalty;
        // No plan at all has no objective.
        result["objective_value"] =
            outcome.success ? py::object(py::float_(outcome.objective_value)) : py::none();
        result["reasons"] = ReasonsList(outcome.reasons);
    }
    return result;
}

}  // namespace

py::dict SolveWith(const SolveRun& run, std::optional<py::function> on_solution, bool improve,
                   std::uint64_t seed, std::optional<py::function> should_stop,
                   const std::string& clock, std::int64_t iteration_limit,
                   std::optional<double> memory_limit_mb, const py::object& engine_params,
                   std::int64_t threads) {
    const std::size_t memory_limit_bytes =
        memory_limit_mb ? MemoryLimitFromMb(*memory_limit_mb) : DefaultMemoryLimitBytes();
    SolveSettings settings;
    settings.improve = improve;
    settings.improve_settings.seed = seed;
    settings.improve_settings.iteration_limit = iteration_limit;
    settings.improve_settings.wall_clock = ParseWallClock(clock);
    if (settings.improve_settings.wall_clock && !improve) {
        throw py::value_error(
            "clock=\"wall\" applies to the improvement path (improve=True); the focal "
            "search alone budgets processor time");
    }
    if (!engine_params.is_none() && !improve) {
        throw py::value_error("engine_params applies to the improvement path (improve=True)");
    }
    settings.improve_settings.engine_params = EngineParamsFromPython(engine_params);
    settings.improve_settings.threads = ThreadsFromPython(threads, improve);
    // The budget covers reading the instance too.
    if (improve) {
        settings.improve_settings.started = BudgetNow(settings.improve_settings.wall_clock);
    }
    // The improvement path lets other Python threads run; the focal search alone keeps
    // the interpreter lock for its whole duration.
    const SolveCallbacks callbacks(std::move(on_solution), std::move(should_stop), improve);
    SolveHooks hooks{callbacks.StopHook(), callbacks.SolutionHook(), memory_limit_bytes};
    JsonSolveOutcome outcome;
    if (improve) {
        py::gil_scoped_release release;
        outcome = run(hooks, settings);
    } else {
        outcome = run(hooks, settings);
    }
    hooks = SolveHooks{};
    callbacks.Finish();
    return ToDict(outcome);
}

namespace {

py::dict Solve(const std::function<std::string()>& read_text, double time_limit,
               std::optional<py::function> on_solution, bool improve, std::uint64_t seed,
               std::optional<py::function> should_stop, const std::string& clock,
               std::int64_t iteration_limit, std::optional<double> memory_limit_mb,
               const py::object& engine_params, std::int64_t threads,
               CostMatrices cost_matrices = {}, CostTables tables = {}) {
    std::optional<std::string> text;
    const SolveRun run = [&](const SolveHooks& hooks, const SolveSettings& settings) {
        // Read once the budget's clock runs, as it always was.
        if (!text) text = read_text();
        return SolveJsonText(*text, time_limit, hooks, settings, std::move(cost_matrices),
                             std::move(tables));
    };
    return SolveWith(run, std::move(on_solution), improve, seed, std::move(should_stop), clock,
                     iteration_limit, memory_limit_mb, engine_params, threads);
}

constexpr const char* kSolveDoc =
    "Returns a dict with keys: status, routes, statistics, anytime, timeout.\n"
    "improve=True runs the focal search briefly, then the improvement engine for the\n"
    "rest of the budget (seed: its random seed; iteration_limit >= 0: a fixed number of\n"
    "steps, for repeatable runs; clock: \"process\" for the solving thread's processor\n"
    "time, \"wall\" for wall-clock seconds; engine_params: a dict of the engine's tuning\n"
    "constants, see engine_param_defaults(); threads: engine walks side by side sharing the\n"
    "best solution, 0 = one per core; under clock=\"process\" the budget is the time of all\n"
    "threads together, under \"wall\" wall time per solve; iteration_limit holds per\n"
    "thread). should_stop() is polled during the solve;\n"
    "True stops it as the budget would, keeping the best solution.\n"
    "With improve=True the instance's fleet fields count (demand and capacity in one or\n"
    "more dimensions, service, several windows per node, required/penalty) and the dict\n"
    "also has unserved, penalty, objective_value, reasons and a load per route; status is\n"
    "\"infeasible\" when a required target is left unserved.";

}  // namespace

void BindEntryPoints(py::module_& m) {
    m.def(
        "solve_json_file",
        [](const std::string& input_path, double time_limit,
           std::optional<py::function> on_solution, bool improve, std::uint64_t seed,
           std::optional<py::function> should_stop, const std::string& clock,
           std::int64_t iteration_limit, std::optional<double> memory_limit_mb,
           const py::object& engine_params, std::int64_t threads) {
            return Solve([&] { return ReadInstanceFile(input_path); }, time_limit,
                         std::move(on_solution), improve, seed, std::move(should_stop), clock,
                         iteration_limit, memory_limit_mb, engine_params, threads);
        },
        (std::string("Solve an MTSP instance from a JSON file path.\n") + kSolveDoc).c_str(),
        py::arg("input_path"), py::arg("time_limit") = -1.0, py::kw_only(),
        py::arg("on_solution") = py::none(), py::arg("improve") = false, py::arg("seed") = 0,
        py::arg("should_stop") = py::none(), py::arg("clock") = "process",
        py::arg("iteration_limit") = -1, py::arg("memory_limit_mb") = py::none(),
        py::arg("engine_params") = py::none(), py::arg("threads") = 1);
    m.def(
        "solve_json_str",
        [](const std::string& json_str, double time_limit, std::optional<py::function> on_solution,
           bool improve, std::uint64_t seed, std::optional<py::function> should_stop,
           const std::string& clock, std::int64_t iteration_limit,
           std::optional<double> memory_limit_mb, const py::object& cost_matrices,
           const py::object& engine_params, std::int64_t threads, const py::object& distances) {
            CostInputs inputs = ReadCostInputs(cost_matrices, distances);
            return Solve([&] { return json_str; }, time_limit, std::move(on_solution), improve,
                         seed, std::move(should_stop), clock, iteration_limit, memory_limit_mb,
                         engine_params, threads, std::move(inputs.matrices),
                         std::move(inputs.tables));
        },
        (std::string("Solve an MTSP instance from a JSON string.\n") + kSolveDoc +
         "\ncost_matrices: {agent type: n x n list of costs or array}, read as if the text's\n"
         "\"costs\" held them (one of the same name replaces the text's); large matrices skip\n"
         "the text. Arrays (NumPy, or any buffer of numbers) are read in place, not copied.\n"
         "distances: {agent type: \"exact\" | \"nint\" | \"ceil\"}: the type travels at the\n"
         "distance between the nodes' (x, y, z), as is or rounded to the nearest whole number\n"
         "or up, computed when needed instead of kept in a table.")
            .c_str(),
        py::arg("json_str"), py::arg("time_limit") = -1.0, py::kw_only(),
        py::arg("on_solution") = py::none(), py::arg("improve") = false, py::arg("seed") = 0,
        py::arg("should_stop") = py::none(), py::arg("clock") = "process",
        py::arg("iteration_limit") = -1, py::arg("memory_limit_mb") = py::none(),
        py::arg("cost_matrices") = py::none(), py::arg("engine_params") = py::none(),
        py::arg("threads") = 1, py::arg("distances") = py::none());
    // After the JSON entry points, so that their names keep their places.
    m.def(
        "precheck_json_str",
        [](const std::string& json_str, const py::object& cost_matrices,
           const py::object& distances) {
            CostInputs inputs = ReadCostInputs(cost_matrices, distances);
            return ReasonsList(
                PrecheckJsonText(json_str, std::move(inputs.matrices), inputs.tables));
        },
        "The targets of an instance that no plan can serve, before solving: a list of\n"
        "{node, reason, message}, reason one of \"type\", \"arc\", \"window\", \"capacity\",\n"
        "\"limit\". The instance is read as solve_json_str(improve=True) reads it.",
        py::arg("json_str"), py::kw_only(), py::arg("cost_matrices") = py::none(),
        py::arg("distances") = py::none());
}

}  // namespace vornik
