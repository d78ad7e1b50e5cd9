#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <string>
#include <utility>

#include "bindings/Bindings.h"
#include "core/Problem.h"

namespace py = pybind11;

namespace vornik {
namespace {

using DoubleArray = py::array_t<double, py::array::c_style | py::array::forcecast>;

// set_cost_matrix has two overloads, and each must take only its own kind of argument:
// pybind11 tries overloads in order, first without conversions, and the list caster
// would happily walk a NumPy array entry by entry, while the array caster imports NumPy
// just to look at a list. These two wrappers keep the paths apart.

/// A cost matrix given as rows of numbers (lists, tuples, ...), never a NumPy array.
struct RowsMatrix {
    CostMatrix rows;
};

/// A cost matrix given as a NumPy array, converted to a DoubleArray. Held as a plain
/// object: a default-constructed array_t would import NumPy.
struct ArrayMatrix {
    py::object array;
};

// An object can only be a NumPy array if NumPy was imported already, so the test looks
// in sys.modules and never imports NumPy itself: without NumPy, lists still work.
bool IsNumpyArray(py::handle obj) {
    PyObject* numpy = PyImport_GetModule(py::str("numpy").ptr());
    if (numpy == nullptr) {
        PyErr_Clear();
        return false;
    }
    const auto module = py::reinterpret_steal<py::object>(numpy);
    if (!py::hasattr(module, "ndarray")) {  // a None placeholder blocks the import
        return false;
    }
    return py::isinstance(obj, module.attr("ndarray"));
}

std::string ShapeText(const DoubleArray& array) {
    std::string text = "(";
    for (py::ssize_t axis = 0; axis < array.ndim(); ++axis) {
        text += std::to_string(array.shape(axis));
        if (axis + 1 < array.ndim() || array.ndim() == 1) {
            text += axis + 1 < array.ndim() ? ", " : ",";
        }
    }
    return text + ")";
}

void SetCostMatrixFromArray(Problem& problem, const std::string& agent_type,
                            const ArrayMatrix& matrix) {
    const auto array = py::reinterpret_borrow<DoubleArray>(matrix.array);
    if (array.ndim() != 2) {
        throw py::value_error("cost matrix for agent type '" + agent_type +
                              "' must be a 2-D array, got shape " + ShapeText(array));
    }
    const auto n_rows = static_cast<std::size_t>(array.shape(0));
    const auto n_cols = static_cast<std::size_t>(array.shape(1));
    // c_style guarantees one contiguous block of rows, whatever the caller's layout.
    const double* data = array.data();
    CostMatrix rows(n_rows);
    for (std::size_t i = 0; i < n_rows; ++i) {
        rows[i].assign(data + i * n_cols, data + (i + 1) * n_cols);
    }
    problem.SetCostMatrix(agent_type, std::move(rows));
}

}  // namespace
}  // namespace vornik

namespace pybind11::detail {

template <>
struct type_caster<vornik::RowsMatrix> {
    PYBIND11_TYPE_CASTER(vornik::RowsMatrix, make_caster<vornik::CostMatrix>::name);

    bool load(handle src, bool convert) {
        if (vornik::IsNumpyArray(src)) {
            return false;
        }
        make_caster<vornik::CostMatrix> rows;
        if (!rows.load(src, convert)) {
            return false;
        }
        value.rows = cast_op<vornik::CostMatrix&&>(std::move(rows));
        return true;
    }

    static handle cast(const vornik::RowsMatrix& src, return_value_policy policy, handle parent) {
        return make_caster<vornik::CostMatrix>::cast(src.rows, policy, parent);
    }
};

template <>
struct type_caster<vornik::ArrayMatrix> {
    PYBIND11_TYPE_CASTER(vornik::ArrayMatrix, make_caster<vornik::DoubleArray>::name);

    bool load(handle src, bool convert) {
        if (!vornik::IsNumpyArray(src)) {
            return false;
        }
        // Built only now: its default value is an array, which needs NumPy.
        make_caster<vornik::DoubleArray> array;
        if (!array.load(src, convert)) {
            return false;
        }
        value.array = cast_op<vornik::DoubleArray&&>(std::move(array));
        return true;
    }

    static handle cast(const vornik::ArrayMatrix& src, return_value_policy, handle) {
        return src.array.inc_ref();
    }
};

}  // namespace pybind11::detail

namespace vornik {

void BindCore(py::module_& m) {
    // Closed enumerations: no py::arithmetic(), so no ordering and no bit operations;
    // members stay class attributes (no export_values()).
    py::enum_<ObjectiveType>(m, "ObjectiveType")
        .value("MinMax", ObjectiveType::MinMax)
        .value("MinSum", ObjectiveType::MinSum);
    py::enum_<NodeType>(m, "NodeType")
        .value("DEPOT", NodeType::DEPOT)
        .value("TARGET", NodeType::TARGET);

    py::class_<Position>(m, "Position")
        .def(py::init<>())
        .def_readwrite("x", &Position::x)
        .def_readwrite("y", &Position::y)
        .def_readwrite("z", &Position::z);

    // def_readwrite hands out sub-objects with reference_internal: node.position is a
    // view into the node, and keeps the node alive.
    py::class_<Node>(m, "Node")
        .def(py::init<>())
        .def_readwrite("id", &Node::id)
        .def_readwrite("position", &Node::position)
        .def_readwrite("type", &Node::type)
        .def_readwrite("demand", &Node::demand)
        .def_readwrite("demands", &Node::demands)
        .def_readwrite("service", &Node::service)
        .def_readwrite("required", &Node::required)
        .def_readwrite("penalty", &Node::penalty);

    py::class_<Agent>(m, "Agent")
        .def(py::init<>())
        .def_readwrite("id", &Agent::id)
        .def_readwrite("type", &Agent::type)
        .def_readwrite("start_node", &Agent::start_node)
        .def_readwrite("end_node", &Agent::end_node)
        .def_readwrite("capacity_limit", &Agent::capacity_limit)
        .def_readwrite("time_limit", &Agent::time_limit)
        .def_readwrite("capacities", &Agent::capacities);

    py::class_<Options>(m, "Options")
        .def(py::init<>())
        .def_readwrite("return_to_end", &Options::return_to_end)
        .def_readwrite("objective", &Options::objective)
        .def_readwrite("time_limit", &Options::time_limit);

    py::class_<AssignmentConstraint>(m, "AssignmentConstraint")
        .def(py::init<>())
        .def("set_assignment", &AssignmentConstraint::SetAssignment, py::arg("node"),
             py::arg("types"));

    py::class_<TimeWindowConstraint>(m, "TimeWindowConstraint")
        .def(py::init<>())
        .def("set_timewindow", &TimeWindowConstraint::SetTimewindow, py::arg("node"),
             py::arg("start"), py::arg("end"))
        .def("add_timewindow", &TimeWindowConstraint::AddTimewindow, py::arg("node"),
             py::arg("start"), py::arg("end"));

    py::class_<Problem>(m, "Problem")
        .def(py::init<>())
        .def("add_node", &Problem::AddNode, py::arg("node"))
        .def("add_agent", &Problem::AddAgent, py::arg("agent"), py::arg("id"))
        // Lists of rows first, as always; a NumPy array is copied row by row in C++.
        .def(
            "set_cost_matrix",
            [](Problem& problem, const std::string& agent_type, RowsMatrix matrix) {
                problem.SetCostMatrix(agent_type, std::move(matrix.rows));
            },
            py::arg("agent_type"), py::arg("matrix"))
        .def("set_cost_matrix", &SetCostMatrixFromArray, py::arg("agent_type"), py::arg("matrix"))
        .def("set_assignment_constraint", &Problem::SetAssignmentConstraint, py::arg("constraint"))
        .def("set_timewindow_constraint", &Problem::SetTimewindowConstraint, py::arg("constraint"))
        // A view of the Problem's own options; reference_internal keeps the Problem
        // alive as long as the view.
        .def(
            "options", [](Problem& problem) -> Options& { return problem.options; },
            py::return_value_policy::reference_internal)
        // Copies, not views: a view into the vector would dangle after the next add.
        .def("nodes", [](const Problem& problem) { return problem.nodes; })
        .def("agents_ordered", [](const Problem& problem) { return problem.agents_ordered; });

    // No constructor: Results come from a Solver. The maps convert into fresh dicts on
    // every read, so changing one never reaches the Result.
    py::class_<Result>(m, "Result")
        .def_readonly("n_generated", &Result::n_generated)
        .def_readonly("n_expanded", &Result::n_expanded)
        .def_readonly("timeout", &Result::timeout)
        .def_readonly("last_update_time", &Result::last_update_time)
        .def_readonly("paths", &Result::paths)
        .def_readonly("times", &Result::times);
}

}  // namespace vornik
