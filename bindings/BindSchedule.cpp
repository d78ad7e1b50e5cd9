#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bindings/Bindings.h"
#include "search/RouteSchedule.h"

namespace py = pybind11;

namespace vornik {

namespace {

py::dict ScheduleDict(const RouteSchedule& schedule) {
    py::list stops;
    for (const StopTimes& times : schedule.stops) {
        py::dict stop;
        stop["arrival"] = times.arrival;
        stop["waiting"] = times.waiting;
        stop["start"] = times.start;
        stop["departure"] = times.departure;
        stops.append(stop);
    }
    py::dict result;
    result["feasible"] = schedule.feasible;
    result["cost"] = schedule.cost;
    result["broken"] = schedule.broken.empty() ? py::object(py::none()) : py::str(schedule.broken);
    result["failed_at"] = schedule.failed_at;
    result["stops"] = stops;
    result["load"] = schedule.load;
    return result;
}

}  // namespace

void BindSchedule(py::module_& m) {
    m.def(
        "_walk_route",
        [](const std::string& json_str, std::size_t agent, const std::vector<std::int64_t>& path,
           std::optional<std::map<std::string, CostMatrix>> cost_matrices) {
            CostMatrices matrices;
            if (cost_matrices) {
                for (auto& [type, matrix] : *cost_matrices) {
                    matrices.emplace_back(type, std::move(matrix));
                }
            }
            return ScheduleDict(ScheduleJsonText(json_str, agent, path, std::move(matrices)));
        },
        "The stops of agent index `agent` driving `path` (vertices, start and closing\n"
        "vertex included) in the instance, on the improvement path's rules: {feasible,\n"
        "cost, broken, failed_at, stops: [{arrival, waiting, start, departure}], load}.\n"
        "broken names the first rule the route breaks (\"ends\", \"type\", \"arc\",\n"
        "\"window\", \"limit\", \"capacity\") or is None.",
        py::arg("json_str"), py::arg("agent"), py::arg("path"), py::kw_only(),
        py::arg("cost_matrices") = py::none());
}

}  // namespace vornik
