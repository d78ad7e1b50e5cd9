"""zelk: a multiple-travelling-salesman solver with a C++ core.

The package re-exports the compiled module ``_zelk_core``: the enumerations
:class:`ObjectiveType` and :class:`NodeType`, and the instance and outcome records
:class:`Position`, :class:`Node`, :class:`Agent`, :class:`Options`,
:class:`AssignmentConstraint`, :class:`TimeWindowConstraint`, :class:`Problem` and
:class:`Result`; the :class:`Solver`; and the one-call JSON entry points
:func:`solve_json_str` and :func:`solve_json_file`.

On top of these it adds :class:`Instance` (an instance as read-only NumPy arrays, built
from a dict, a file or arrays, checked once), :func:`solve`, the one call that solves an
instance (an Instance, a dict, a file or a Problem) with the improvement engine and returns a :class:`Solution` (routes
with node ids and per-stop schedules, statistics, the anytime list);
:func:`solve_many` (many instances over local processes or a Dask cluster, one
Solution each); :func:`stop_on_interrupt` (Ctrl-C stops solves in worker threads with their best
solution); :func:`load_instance` (JSON instances, TSPLIB files and Solomon
files as JSON instance dicts), :func:`check_solution` (an independent check of a
result), :func:`plot_solution` and :func:`plot_anytime` (need matplotlib), the module
:mod:`zelk.io` (instance readers and writer, and :func:`zelk.io.problem_from_arrays`
for building a Problem from lists or NumPy arrays), and the ``zelk`` command line
(``python -m zelk``).
"""

from importlib.metadata import PackageNotFoundError, version

from _zelk_core import (
    Agent,
    AssignmentConstraint,
    Node,
    NodeType,
    ObjectiveType,
    Options,
    Position,
    Problem,
    Result,
    Solver,
    TimeWindowConstraint,
    check_costs,
    engine_param_defaults,
    precheck_json_str,
    solve_arrays,
    solve_json_file,
    solve_json_str,
)

from zelk import io as io
from zelk.batch import solve_many
from zelk.check import check_solution
from zelk.formats import load_instance
from zelk.interrupt import stop_on_interrupt
from zelk.plot import plot_anytime, plot_solution
from zelk.solution import AnytimeEntry, Reason, Route, Solution, Statistics, Stop
from zelk.solving import solve


def __getattr__(name: str) -> object:
    # NumPy loads with the first Instance, not with zelk.
    if name == "Instance":
        from zelk.instance import Instance

        return Instance
    raise AttributeError(f"module 'zelk' has no attribute {name!r}")


try:
    __version__: str = version("zelk")
except PackageNotFoundError:  # running from a source tree that was never installed
    __version__ = "0+unknown"

# Every public name of _zelk_core, in the order the module creates them.
__all__ = [
    "ObjectiveType",
    "NodeType",
    "Position",
    "Node",
    "Agent",
    "Options",
    "AssignmentConstraint",
    "TimeWindowConstraint",
    "Problem",
    "Result",
    "Solver",
    "solve_json_file",
    "solve_json_str",
    "precheck_json_str",
    "engine_param_defaults",
    "check_costs",
    "solve_arrays",
    # The package's own helpers.
    "load_instance",
    "check_solution",
    "plot_solution",
    "plot_anytime",
    "solve",
    "Solution",
    "Route",
    "Stop",
    "AnytimeEntry",
    "Statistics",
    "stop_on_interrupt",
    "solve_many",
    "Reason",
    "Instance",
]
