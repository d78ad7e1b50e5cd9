#include <pybind11/pybind11.h>

#include <cstdint>
#include <stdexcept>
#include <string>

#include "bindings/Bindings.h"
#include "improve/EngineParams.h"

namespace py = pybind11;

namespace vornik {

EngineParams EngineParamsFromPython(const py::object& given) {
    EngineParams params;
    if (given.is_none()) return params;
    if (!py::isinstance<py::dict>(given)) {
        throw py::type_error("engine_params must be a dict of names to numbers or strings (got " +
                             std::string(py::str(py::type::handle_of(given).attr("__name__"))) +
                             ")");
    }
    for (const auto& [key, value] : given.cast<py::dict>()) {
        if (!py::isinstance<py::str>(key)) {
            throw std::invalid_argument("engine_params keys must be strings (got " +
                                        std::string(py::repr(key)) + ")");
        }
        const auto name = key.cast<std::string>();
        if (py::isinstance<py::str>(value)) {
            SetEngineParamText(params, name, value.cast<std::string>());
            continue;
        }
        // bool is an int in Python, but True is no tuning value.
        if (py::isinstance<py::bool_>(value) ||
            !(py::isinstance<py::int_>(value) || py::isinstance<py::float_>(value))) {
            throw std::invalid_argument("engine_params[\"" + name + "\"] must be a number (got " +
                                        std::string(py::repr(value)) + ")");
        }
        SetEngineParam(params, name, value.cast<double>());
    }
    params.Validate();
    return params;
}

std::size_t ThreadsFromPython(std::int64_t threads, bool improve) {
    if (threads < 0 || threads > 1024) {
        throw std::invalid_argument("threads must be between 0 (one per core) and 1024 (got " +
                                    std::to_string(threads) + ")");
    }
    if (threads != 1 && !improve) {
        throw std::invalid_argument(
            "threads applies to the improvement path (improve=True); the focal search runs "
            "in one thread");
    }
    return static_cast<std::size_t>(threads);
}

void BindEngineParams(py::module_& m) {
    m.def(
        "engine_param_defaults",
        [] {
            py::dict values;
            values["strategy"] = StrategyName(EngineParams{}.strategy);
            for (const auto& [name, value] : EngineParamValues(EngineParams{})) {
                values[py::str(name)] = value;
            }
            return values;
        },
        "The improvement engine's tuning constants and their defaults, as engine_params=\n"
        "takes them.");
}

}  // namespace vornik
