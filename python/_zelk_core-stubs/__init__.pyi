"""Type stubs for the compiled module _zelk_core (ZELK MTSP Solver core bindings)."""

from collections.abc import Callable, Sequence
from typing import (
    Any,
    ClassVar,
    SupportsFloat,
    SupportsIndex,
    SupportsInt,
    TypeAlias,
    overload,
)

import numpy.typing as npt

#: Called after each solution the search finds (post-optimised): processor seconds since
#: the search started, the largest route cost and the sum of the route costs.
_OnSolution: TypeAlias = Callable[[float, float, float], object]
#: Polled during a solve (about every 10 ms in the engine, every 64 pops in the search);
#: True stops it as the budget would, keeping the best solution.
_ShouldStop: TypeAlias = Callable[[], bool]

class ObjectiveType:
    MinMax: ClassVar[ObjectiveType]
    MinSum: ClassVar[ObjectiveType]
    __members__: ClassVar[dict[str, ObjectiveType]]
    def __init__(self, value: SupportsInt | SupportsIndex) -> None: ...
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...
    def __int__(self) -> int: ...
    def __index__(self) -> int: ...
    def __getstate__(self) -> int: ...
    def __setstate__(self, state: SupportsInt | SupportsIndex) -> None: ...
    @property
    def name(self) -> str: ...
    @property
    def value(self) -> int: ...

class NodeType:
    DEPOT: ClassVar[NodeType]
    TARGET: ClassVar[NodeType]
    __members__: ClassVar[dict[str, NodeType]]
    def __init__(self, value: SupportsInt | SupportsIndex) -> None: ...
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...
    def __int__(self) -> int: ...
    def __index__(self) -> int: ...
    def __getstate__(self) -> int: ...
    def __setstate__(self, state: SupportsInt | SupportsIndex) -> None: ...
    @property
    def name(self) -> str: ...
    @property
    def value(self) -> int: ...

class Position:
    x: float
    y: float
    z: float
    def __init__(self) -> None: ...

class Node:
    id: int
    # Reading gives a view of the node's own position.
    position: Position
    type: NodeType
    demand: float
    # Read by the improvement path only: demand per load dimension, service time,
    # whether the node must be served, and the cost of leaving it out.
    demands: list[float]
    service: float
    required: bool
    penalty: float
    def __init__(self) -> None: ...

class Agent:
    id: int
    type: str
    start_node: int
    end_node: int
    capacity_limit: float
    time_limit: float
    # Read by the improvement path only: capacity per load dimension, 0 for no limit.
    capacities: list[float]
    def __init__(self) -> None: ...

class Options:
    return_to_end: bool
    objective: ObjectiveType
    time_limit: float
    def __init__(self) -> None: ...

class AssignmentConstraint:
    def __init__(self) -> None: ...
    def set_assignment(self, node: int, types: list[str]) -> None: ...

class TimeWindowConstraint:
    def __init__(self) -> None: ...
    def set_timewindow(self, node: int, start: float, end: float) -> None: ...
    def add_timewindow(self, node: int, start: float, end: float) -> None:
        """Adds one more window to the node (the improvement path honours all of them)."""

class Problem:
    def __init__(self) -> None: ...
    def add_node(self, node: Node) -> None: ...
    def add_agent(self, agent: Agent, id: int) -> None: ...
    @overload
    def set_cost_matrix(
        self, agent_type: str, matrix: Sequence[Sequence[SupportsFloat | SupportsIndex]]
    ) -> None: ...
    @overload
    def set_cost_matrix(self, agent_type: str, matrix: npt.NDArray[Any]) -> None:
        """A 2-D NumPy array of numbers, copied row by row as doubles; any other number
        of dimensions raises ValueError."""
    def set_assignment_constraint(self, constraint: AssignmentConstraint) -> None: ...
    def set_timewindow_constraint(self, constraint: TimeWindowConstraint) -> None: ...
    def options(self) -> Options:
        """A view of this Problem's own options; it keeps the Problem alive."""
    def nodes(self) -> list[Node]:
        """Copies of the stored nodes, in the order added."""
    def agents_ordered(self) -> list[Agent]:
        """Copies of the stored agents, in the order added."""

class Result:
    @property
    def n_generated(self) -> int: ...
    @property
    def n_expanded(self) -> int: ...
    @property
    def timeout(self) -> bool: ...
    @property
    def last_update_time(self) -> float: ...
    @property
    def paths(self) -> dict[int, list[int]]: ...
    @property
    def times(self) -> dict[int, float]: ...

class Solver:
    def __init__(self, problem: Problem, options: Options) -> None: ...
    def solve(
        self,
        *,
        on_solution: _OnSolution | None = None,
        improve: bool = False,
        seed: int = 0,
        should_stop: _ShouldStop | None = None,
        clock: str = "process",
        iteration_limit: int = -1,
        memory_limit_mb: float | None = None,
        engine_params: dict[str, float | str] | None = None,
        threads: int = 1,
    ) -> int:
        """Run the ZELK solver. Returns 1 on success, 0 on failure."""
    def get_unserved(self) -> dict[str, Any]:
        """After solve(improve=True): unserved node ids, penalty, reasons, loads."""
    def get_result(self) -> Result: ...
    def get_result_process(self) -> list[tuple[float, Result]]: ...

def solve_json_file(
    input_path: str,
    time_limit: float = -1.0,
    *,
    on_solution: _OnSolution | None = None,
    improve: bool = False,
    seed: int = 0,
    should_stop: _ShouldStop | None = None,
    clock: str = "process",
    iteration_limit: int = -1,
    memory_limit_mb: float | None = None,
    engine_params: dict[str, float | str] | None = None,
    threads: int = 1,
) -> dict[str, Any]:
    """Solve an MTSP instance from a JSON file path.
    Returns a dict with keys: status, routes, statistics, anytime, timeout."""

def precheck_json_str(
    json_str: str,
    *,
    cost_matrices: dict[str, Any] | None = None,
    distances: dict[str, str] | None = None,
) -> list[dict[str, Any]]:
    """The targets no plan can serve: [{node, reason, message}], reason one of
    "type", "arc", "window", "capacity", "limit"."""

def _schedules(
    arrays: dict[str, Any],
    type_names: list[str],
    paths: Any,
    offsets: Any,
    agents: Any,
    *,
    return_to_end: bool = True,
    dimensions: int = 0,
    scalar_loads: bool = False,
    cost_matrices: dict[str, Any] | None = None,
    distances: dict[str, str] | None = None,
) -> dict[str, Any]:
    """The schedules of routes ``paths[offsets[r]:offsets[r + 1]]`` driven by agent
    indices ``agents[r]`` on an instance given as arrays, its model built once:
    {stops: (len(paths), 4) arrival, waiting, start, departure; cost: per route;
    load: (routes, dimensions)}."""

def solve_json_str(
    json_str: str,
    time_limit: float = -1.0,
    *,
    on_solution: _OnSolution | None = None,
    improve: bool = False,
    seed: int = 0,
    should_stop: _ShouldStop | None = None,
    clock: str = "process",
    iteration_limit: int = -1,
    memory_limit_mb: float | None = None,
    cost_matrices: dict[str, Any] | None = None,
    engine_params: dict[str, float | str] | None = None,
    threads: int = 1,
    distances: dict[str, str] | None = None,
) -> dict[str, Any]:
    """Solve an MTSP instance from a JSON string.
    Returns a dict with keys: status, routes, statistics, anytime, timeout."""

def engine_param_defaults() -> dict[str, float | str]:
    """The improvement engine's tuning constants and their defaults, as engine_params=
    takes them."""

def check_costs(problem: Problem) -> None:
    """Raises ValueError naming the first cost of the problem's matrices, off the
    diagonal, that is negative or not finite."""

def solve_arrays(
    arrays: dict[str, Any],
    type_names: list[str],
    time_limit: float,
    *,
    objective: str = "min_sum",
    return_to_end: bool = True,
    dimensions: int = 0,
    scalar_loads: bool = False,
    cost_matrices: dict[str, Any] | None = None,
    distances: dict[str, str] | None = None,
    on_solution: _OnSolution | None = None,
    improve: bool = False,
    seed: int = 0,
    should_stop: _ShouldStop | None = None,
    clock: str = "process",
    iteration_limit: int = -1,
    memory_limit_mb: float | None = None,
    engine_params: dict[str, float | str] | None = None,
    threads: int = 1,
) -> dict[str, Any]:
    """Solve an instance given as arrays (a zelk.Instance's core_arrays()), read in
    place; the keywords and the result are those of solve_json_str."""
