#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "bindings/ArrayIntake.h"
#include "bindings/Bindings.h"
#include "bindings/SolveEntry.h"
#include "core/InstanceModel.h"
#include "core/ProblemArrays.h"
#include "core/StopSchedule.h"

namespace py = pybind11;

namespace vornik {

namespace {

using IndexArray = py::array_t<std::int64_t, py::array::c_style | py::array::forcecast>;

// `given` as whole numbers: an array of fractions is refused, not truncated.
IndexArray ReadIndices(const py::object& given, const char* name) {
    const auto refuse = [&]() {
        PyErr_Clear();
        return py::value_error(std::string(name) + " is not an array of whole numbers");
    };
    const py::array raw = py::array::ensure(given);
    if (!raw) throw refuse();
    const char kind = raw.dtype().kind();
    if (kind != 'i' && kind != 'u' && raw.size() != 0) throw refuse();
    auto array = IndexArray::ensure(raw);
    if (!array) throw refuse();
    if (array.ndim() != 1) throw py::value_error(std::string(name) + " must be one-dimensional");
    return array;
}

// The model of the instance in `arrays`, read as the improvement path reads it. Node ids
// that no node has are the caller's fault here, not an internal lookup's.
InstanceModel ModelOf(const ProblemArrays& input, const CostTables& tables) {
    try {
        return InstanceModel(ProblemFromArrays(input, true), tables);
    } catch (const std::out_of_range& error) {
        throw py::value_error(error.what());
    }
}

py::dict Schedules(const py::dict& arrays, std::vector<std::string> type_names,
                   const py::object& paths, const py::object& offsets, const py::object& agents,
                   bool return_to_end, std::size_t dimensions, bool scalar_loads,
                   const py::object& cost_matrices, const py::object& distances) {
    ArrayReader reader(arrays);
    const ProblemArrays input = ReadArrays(reader, std::move(type_names), dimensions, scalar_loads);
    const CostInputs costs = ReadCostInputs(cost_matrices, distances);
    if (!costs.matrices.empty())
        throw py::type_error("_schedules reads cost matrices as arrays only");
    const InstanceModel model = ModelOf(input, costs.tables);
    const StopSchedule schedule(model, return_to_end);

    const IndexArray flat = ReadIndices(paths, "paths");
    const IndexArray starts = ReadIndices(offsets, "offsets");
    const IndexArray who = ReadIndices(agents, "agents");
    const auto routes = static_cast<std::size_t>(who.shape(0));
    const auto total = static_cast<std::size_t>(flat.shape(0));
    const std::int64_t* offset = starts.data();
    // Offsets that rise from 0 to the length of paths keep every route inside it.
    bool rising = static_cast<std::size_t>(starts.shape(0)) == routes + 1 && offset[0] == 0 &&
                  offset[routes] == static_cast<std::int64_t>(total);
    for (std::size_t r = 0; rising && r < routes; ++r) rising = offset[r] <= offset[r + 1];
    if (!rising) {
        throw py::value_error("offsets must rise from 0 to " + std::to_string(total) +
                              " with one entry per route and one more");
    }

    py::array_t<double> times({total, std::size_t{4}});
    py::array_t<double> cost(routes);
    py::array_t<double> load({routes, schedule.Dimensions()});
    std::vector<StopTimes> stops;
    for (std::size_t r = 0; r < routes; ++r) {
        const std::string where = "paths[" + std::to_string(r) + "]";
        const std::int64_t a = who.data()[r];
        if (a < 0) {
            throw py::value_error("agents[" + std::to_string(r) + "]: " + std::to_string(a) +
                                  " is not an agent index");
        }
        const std::int64_t* path = flat.data() + offset[r];
        const auto count = static_cast<std::size_t>(offset[r + 1] - offset[r]);
        stops.assign(count, StopTimes{});
        StopsWalk walk;
        try {
            walk = schedule.Walk(static_cast<std::size_t>(a), path, count, stops.data(),
                                 load.mutable_data() + r * schedule.Dimensions());
        } catch (const std::invalid_argument& error) {
            throw py::value_error(where + ": " + error.what());
        }
        if (walk.broken == WalkBreak::kArc) {
            const std::size_t k = walk.failed_at;
            throw py::value_error(
                where + ": the agent's type gives no cost from node " +
                std::to_string(model.NodeId(static_cast<std::size_t>(path[k - 1]))) + " to node " +
                std::to_string(model.NodeId(static_cast<std::size_t>(path[k]))));
        }
        // Raw pointers: an empty route or no load dimensions has no entry to index.
        double* row = times.mutable_data() + 4 * offset[r];
        for (const StopTimes& stop : stops) {
            *row++ = stop.arrival;
            *row++ = stop.waiting;
            *row++ = stop.start;
            *row++ = stop.departure;
        }
        cost.mutable_data()[r] = walk.clock;
    }
    py::dict result;
    result["stops"] = times;
    result["cost"] = cost;
    result["load"] = load;
    return result;
}

}  // namespace

void BindSchedule(py::module_& m) {
    m.def("_schedules", &Schedules,
          "The schedules of routes on an instance given as arrays (a zelk.Instance's\n"
          "core_arrays(), read in place as solve_arrays reads them; cost_matrices and\n"
          "distances likewise), the instance's model built once for all of them. Route r\n"
          "is paths[offsets[r]:offsets[r + 1]] (vertices, start and closing vertex\n"
          "included) driven by agent index agents[r]. Returns {stops: (len(paths), 4)\n"
          "arrival, waiting, start, departure per stop; cost: the clock after each route's\n"
          "last stop; load: (routes, dimensions) demands of the stops between its first and\n"
          "last}. A stop whose windows have all closed keeps its late arrival and no\n"
          "waiting. ValueError naming the route for a vertex or agent outside the instance\n"
          "or a leg it gives no cost for.",
          py::arg("arrays"), py::arg("type_names"), py::arg("paths"), py::arg("offsets"),
          py::arg("agents"), py::kw_only(), py::arg("return_to_end") = true,
          py::arg("dimensions") = 0, py::arg("scalar_loads") = false,
          py::arg("cost_matrices") = py::none(), py::arg("distances") = py::none());
}

}  // namespace vornik
