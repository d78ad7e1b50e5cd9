#ifndef VORNIK_BINDINGS_BINDINGS_H
#define VORNIK_BINDINGS_BINDINGS_H

#include <pybind11/pybind11.h>

#include <cstddef>
#include <cstdint>

#include "improve/EngineParams.h"

namespace vornik {

/// Registers the translation of exceptions whose message is not valid UTF-8 (their
/// undecodable bytes shown as \xNN escapes), so they reach Python as the documented type.
void BindErrorTranslator(pybind11::module_& m);

/// Registers the enumerations and the instance and outcome records, in the order
/// ObjectiveType, NodeType, Position, Node, Agent, Options, AssignmentConstraint,
/// TimeWindowConstraint, Problem, Result.
void BindCore(pybind11::module_& m);

/// Registers the Solver. Needs the records of BindCore.
void BindSearch(pybind11::module_& m);

/// Registers solve_json_file and solve_json_str. Needs the records of BindCore.
void BindEntryPoints(pybind11::module_& m);

/// Registers solve_arrays, the solve of an instance given as arrays. After BindEntryPoints.
void BindArrays(pybind11::module_& m);

/// Registers engine_param_defaults().
void BindEngineParams(pybind11::module_& m);

/// Registers check_costs(problem), the travel-cost rule of the JSON layer for a Problem.
void BindCostCheck(pybind11::module_& m);

/// Registers _schedules, the schedules of a solution's routes on an instance given as
/// arrays; private to zelk.Solution.
void BindSchedule(pybind11::module_& m);
/// Rewraps every function of the module and every method of its classes (constructors
/// included) so that an argument error shows only a short prefix of the arguments; runs
/// last, after every name is registered. Names, docstrings and results are unchanged.
void ShortenArgumentErrors(pybind11::module_& m);

/// The engine_params keyword: None (the defaults) or a dict of field names to numbers.
/// Unknown names, values out of range and non-numbers raise ValueError naming the key.
EngineParams EngineParamsFromPython(const pybind11::object& given);

/// The threads keyword: 0 (one per core) to 1024, and 1 unless `improve`; ValueError
/// otherwise.
std::size_t ThreadsFromPython(std::int64_t threads, bool improve);

}  // namespace vornik

#endif  // VORNIK_BINDINGS_BINDINGS_H
