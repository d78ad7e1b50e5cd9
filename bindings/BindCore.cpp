#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "bindings/Bindings.h"
#include "core/Problem.h"

namespace py = pybind11;

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
        .def_readwrite("demand", &Node::demand);

    py::class_<Agent>(m, "Agent")
        .def(py::init<>())
        .def_readwrite("id", &Agent::id)
        .def_readwrite("type", &Agent::type)
        .def_readwrite("start_node", &Agent::start_node)
        .def_readwrite("end_node", &Agent::end_node)
        .def_readwrite("capacity_limit", &Agent::capacity_limit)
        .def_readwrite("time_limit", &Agent::time_limit);

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
             py::arg("start"), py::arg("end"));

    py::class_<Problem>(m, "Problem")
        .def(py::init<>())
        .def("add_node", &Problem::AddNode, py::arg("node"))
        .def("add_agent", &Problem::AddAgent, py::arg("agent"), py::arg("id"))
        .def("set_cost_matrix", &Problem::SetCostMatrix, py::arg("agent_type"), py::arg("matrix"))
        .def("set_assignment_constraint", &Problem::SetAssignmentConstraint,
             py::arg("constraint"))
        .def("set_timewindow_constraint", &Problem::SetTimewindowConstraint,
             py::arg("constraint"))
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
