"""Reading and writing instances, and building a :class:`~zelk.Problem` from arrays.

Readers turn files into JSON instance dicts (the format :func:`zelk.solve_json_str`
reads): :func:`read_instance` recognises the format, :func:`read_tsplib` and
:func:`read_solomon` read one format each. The parsers behind them live in
:mod:`zelk.formats` and are re-exported here.

:func:`write_instance` and :func:`dumps_instance` write an instance dict as JSON
(NumPy arrays and numbers included) after checking its shape.

:func:`problem_from_arrays` builds a :class:`~zelk.Problem` from node positions, one
cost matrix per agent type and a list of agents, given as Python lists or NumPy arrays;
a NumPy matrix goes to the core in one call, without a Python loop over its entries.
:func:`instance_from_arrays` takes the same arguments and gives the JSON instance dict.

NumPy is optional: it is used when installed, and plain lists work without it.
"""

from __future__ import annotations

import json
import math
from collections.abc import Mapping, Sequence
from dataclasses import dataclass
from pathlib import Path
from types import ModuleType
from typing import Any

from _zelk_core import (
    Agent,
    AssignmentConstraint,
    Node,
    NodeType,
    ObjectiveType,
    Problem,
    TimeWindowConstraint,
)

from zelk.formats import (
    AGENT_TYPE,
    FormatError,
    detect_format,
    load_instance,
    objective_name,
    parse_solomon,
    parse_tsplib,
    solomon_to_instance,
    tsplib_matrix,
    tsplib_to_instance,
)

__all__ = [
    "AGENT_TYPE",
    "FormatError",
    "detect_format",
    "dumps_instance",
    "instance_from_arrays",
    "load_instance",
    "parse_solomon",
    "parse_tsplib",
    "problem_from_arrays",
    "read_instance",
    "read_solomon",
    "read_tsplib",
    "solomon_to_instance",
    "tsplib_matrix",
    "tsplib_to_instance",
    "write_instance",
]

#: The same reader as :func:`zelk.load_instance`, under the name this module uses.
read_instance = load_instance


def read_tsplib(
    path: str | Path,
    *,
    agents: int = 1,
    depot: int | None = None,
    distances: str = "nint",
    max_nodes: int | None = None,
) -> dict[str, Any]:
    """Reads a TSPLIB file as a JSON instance dict.

    Parameters
    ----------
    path
        A ``TYPE: TSP`` or ``ATSP`` file.
    agents
        Number of agents, all of type ``"agent"``, starting and ending at ``depot``.
    depot
        Node id of the depot; default: the file's DEPOT_SECTION, else its first node.
    distances
        ``"nint"`` for TSPLIB's rounded distances, ``"exact"`` for real ones.
    max_nodes
        The most nodes accepted (default :data:`zelk.formats.NODE_LIMIT`); a larger
        ``DIMENSION`` is refused before anything of its size is allocated.

    Raises
    ------
    FormatError
        When the file does not follow the format (a ValueError), claims more nodes than
        ``max_nodes`` or than its size could hold, or holds a number that is not finite
        or beyond :data:`zelk.formats.NUMBER_LIMIT`; the message names the file and
        the line.
    OSError
        When the file cannot be opened or is not a regular file (see
        :func:`zelk.formats.read_file`).
    """
    return load_instance(
        path, fmt="tsplib", agents=agents, depot=depot, distances=distances, max_nodes=max_nodes
    )


def read_solomon(
    path: str | Path,
    *,
    agents: int | None = None,
    depot: int | None = None,
    distances: str = "exact",
    max_nodes: int | None = None,
) -> dict[str, Any]:
    """Reads a Solomon time-window file as a JSON instance dict.

    Every node gets its ``[ready, due]`` window and the service time of a customer is
    added to every move out of it.

    Parameters
    ----------
    path
        A Solomon file (CRLF line endings are fine).
    agents
        Number of agents; default: the file's vehicle number.
    depot
        Node id of the depot; default: the first node.
    distances
        ``"exact"`` (default) or ``"nint"`` rounded distances.
    max_nodes
        The most nodes, and the largest vehicle number, accepted (default
        :data:`zelk.formats.NODE_LIMIT`).

    Raises
    ------
    FormatError, OSError
        As :func:`read_tsplib`.
    """
    return load_instance(
        path, fmt="solomon", agents=agents, depot=depot, distances=distances, max_nodes=max_nodes
    )


# --------------------------------------------------------------------------- writing


def _json_default(value: Any) -> Any:
    # NumPy arrays and scalars know how to become Python values; anything else is a
    # value the instance format has no place for.
    if hasattr(value, "tolist"):
        return value.tolist()
    raise TypeError(f"{type(value).__name__} {value!r} has no JSON form in an instance")


def _check_instance(instance: Mapping[str, Any]) -> None:
    for key in ("nodes", "agents"):
        if key not in instance:
            raise ValueError(f"an instance needs {key!r}")
        if not isinstance(instance[key], Sequence) or isinstance(instance[key], str):
            # ValueError like every other fault of an instance's content.
            raise ValueError(  # noqa: TRY004
                f"{key!r} must be a list, not {type(instance[key]).__name__}"
            )
    n = len(instance["nodes"])
    costs = instance.get("costs", {})
    named = costs.items() if isinstance(costs, Mapping) else enumerate(costs)
    for name, matrix in named:
        rows = len(matrix)
        if rows > n or any(len(row) > n for row in matrix):
            raise ValueError(
                f"cost matrix {name!r} is larger than the {n} nodes "
                f"({rows} rows, longest {max((len(r) for r in matrix), default=0)})"
            )


def _layout(value: Any, indent: int, level: int, width: int) -> str:
    # A value whose compact text fits on the line stays on one line; a longer list or
    # object puts each item on a line of its own. A node, an agent or a matrix row so
    # reads as one line.
    text = json.dumps(value, allow_nan=False, default=_json_default)
    if len(text) + indent * level <= width or not isinstance(value, (list, dict)) or not value:
        return text
    pad = " " * (indent * (level + 1))
    if isinstance(value, dict):
        items = [
            f"{pad}{json.dumps(str(k))}: {_layout(v, indent, level + 1, width)}"
            for k, v in value.items()
        ]
        opening, closing = "{", "}"
    else:
        items = [f"{pad}{_layout(v, indent, level + 1, width)}" for v in value]
        opening, closing = "[", "]"
    return opening + "\n" + ",\n".join(items) + "\n" + " " * (indent * level) + closing


def dumps_instance(instance: Mapping[str, Any], *, indent: int | None = None) -> str:
    """The JSON text of ``instance``, as :func:`zelk.solve_json_str` reads it.

    NumPy arrays and numbers in the dict are written as JSON arrays and numbers. With
    ``indent``, whatever fits in 100 columns stays on one line (a node, an agent, a
    matrix row) and longer lists and objects get one item per line.

    Raises
    ------
    ValueError
        When ``nodes`` or ``agents`` is missing, a cost matrix has more rows or columns
        than there are nodes, or a number is NaN or infinite (JSON has no such numbers;
        leave an entry out, or give it 9999, for "no arc").
    """
    _check_instance(instance)
    # Through json first: it turns NumPy values into plain ones for the layout.
    try:
        text = json.dumps(instance, allow_nan=False, default=_json_default)
    except ValueError as error:
        raise ValueError(
            f"the instance holds NaN or infinity, which JSON cannot: {error}"
        ) from None
    if indent is None:
        return text
    return _layout(json.loads(text), indent, 0, 100)


def write_instance(
    instance: Mapping[str, Any], path: str | Path, *, indent: int | None = None
) -> None:
    """Writes ``instance`` to ``path`` as a JSON instance file (see :func:`dumps_instance`
    for what is checked); :func:`zelk.solve_json_file` and ``zelk solve`` read it back."""
    text = dumps_instance(instance, indent=indent)
    Path(path).write_text(text + "\n", encoding="utf-8")


# --------------------------------------------------------------------------- arrays


def _numpy() -> ModuleType | None:
    try:
        import numpy
    except ImportError:
        return None
    return numpy


def _matrix(value: Any, name: str, shape: tuple[int | None, ...], wanted: str = "") -> Any:
    """``value`` as a 2-D array (with NumPy) or list of float rows, of ``shape`` where an
    entry is not None; raises ValueError naming ``name`` and the shape."""
    np = _numpy()
    if np is not None:
        try:
            array = np.asarray(value, dtype=float)
        except (TypeError, ValueError) as error:
            raise ValueError(f"{name} is not a rectangular array of numbers: {error}") from None
        got = array.shape
    else:
        array = [[float(x) for x in row] for row in value]
        widths = {len(row) for row in array}
        if len(widths) > 1:
            raise ValueError(f"{name} is not a rectangular array: rows of lengths {sorted(widths)}")
        got = (len(array), widths.pop() if widths else 0)
    if len(got) != len(shape) or any(w is not None and g != w for g, w in zip(got, shape)):
        wanted = wanted or "(" + ", ".join("n" if w is None else str(w) for w in shape) + ")"
        raise ValueError(f"{name} must have shape {wanted}, got {tuple(got)}")
    return array


def _check_costs(name: str, matrix: Any) -> None:
    """Refuses what the JSON layer refuses in a matrix: a cost that is negative or not
    finite (the walk of a route would no longer add up)."""
    np = _numpy()
    if np is not None and hasattr(matrix, "shape"):
        bad = ~np.isfinite(matrix) | (matrix < 0)
        if not bad.any():
            return
        i, j = (int(k) for k in np.argwhere(bad)[0])
        cost = float(matrix[i, j])
    else:
        found = next(
            ((i, j, c) for i, row in enumerate(matrix) for j, c in enumerate(row)
             if not (math.isfinite(c) and c >= 0)),
            None,
        )  # fmt: skip
        if found is None:
            return
        i, j, cost = found
    raise ValueError(
        f"cost matrix {name!r}[{i}][{j}]: {cost:g} is not a finite cost >= 0; travel costs "
        "must be finite and >= 0"
    )


def _rows(matrix: Any) -> list[list[float]]:
    return matrix.tolist() if hasattr(matrix, "tolist") else matrix


@dataclass
class _Arrays:
    """The checked arguments of :func:`problem_from_arrays`, in node order."""

    ids: list[int]
    coords: list[list[float]]
    node_types: list[str]
    demands: list[float]
    matrices: dict[str, Any]  # type name -> (n, n) array or list of rows
    agents: list[dict[str, Any]]  # JSON agent objects
    allowed: dict[int, list[str]]
    windows: dict[int, tuple[float, float]]
    objective: str  # "min_max" or "min_sum"
    return_to_end: bool
    time_limit: float


def _whole(value: Any, key: str, k: int) -> int:
    # The JSON format keeps capacity and max_length as whole numbers; refusing a
    # fraction here keeps a Problem and its JSON instance the same instance.
    number = float(value)
    if not number.is_integer() or abs(number) >= 2**31:
        raise ValueError(f"agent {k}: {key} must be a whole number below 2**31 (got {value!r})")
    return int(number)


def _objective(value: str | ObjectiveType) -> str:
    if isinstance(value, ObjectiveType):
        return "min_max" if value == ObjectiveType.MinMax else "min_sum"
    return objective_name(value)


def _check_arrays(
    positions: Any,
    cost_matrices: Any,
    agents: int | Sequence[Mapping[str, Any]],
    *,
    ids: Sequence[int] | None,
    depots: Sequence[int] | None,
    demands: Sequence[float] | None,
    allowed_types: Mapping[int, Sequence[str]] | None,
    time_windows: Any,
    objective: str | ObjectiveType,
    return_to_end: bool,
    time_limit: float,
) -> _Arrays:
    # The matrices fix n when there are no positions; a lone matrix is one agent type.
    if isinstance(cost_matrices, Mapping):
        raw_matrices = dict(cost_matrices)
    else:
        raw_matrices = {AGENT_TYPE: cost_matrices}
    if not raw_matrices:
        raise ValueError("cost_matrices names no agent type")
    if positions is not None:
        coords = _rows(_matrix(positions, "positions", (None, None), "(n, 2) or (n, 3)"))
        n = len(coords)
        if coords and len(coords[0]) not in (2, 3):
            raise ValueError(
                f"positions must have shape (n, 2) or (n, 3), got ({n}, {len(coords[0])})"
            )
        coords = [list(p) + [0.0] * (3 - len(p)) for p in coords]
    else:
        first = next(iter(raw_matrices.values()))
        n = len(first)
        coords = [[0.0, 0.0, 0.0] for _ in range(n)]
    matrices = {
        str(name): _matrix(m, f"cost matrix {name!r}", (n, n)) for name, m in raw_matrices.items()
    }
    for name, matrix in matrices.items():
        _check_costs(name, matrix)

    node_ids = list(range(n)) if ids is None else [int(i) for i in ids]
    if len(node_ids) != n:
        raise ValueError(f"ids has {len(node_ids)} entries for {n} nodes")
    if len(set(node_ids)) != n:
        raise ValueError("ids repeat")
    known = set(node_ids)
    demand = [0.0] * n if demands is None else [float(d) for d in demands]
    if len(demand) != n:
        raise ValueError(f"demands has {len(demand)} entries for {n} nodes")
    depot_ids = None if depots is None else [int(d) for d in depots]
    for d in depot_ids or []:
        if d not in known:
            raise ValueError(f"depot {d} is not a node id")

    types = list(matrices)
    default_type = types[0] if len(types) == 1 else None
    default_depot = depot_ids[0] if depot_ids else (node_ids[0] if node_ids else 0)
    if isinstance(agents, int):
        if agents < 1:
            raise ValueError(f"agents must be at least 1 (got {agents})")
        agents = [{} for _ in range(agents)]
    agent_list: list[dict[str, Any]] = []
    for k, spec in enumerate(agents):
        agent_type = spec.get("type", default_type)
        if agent_type is None:
            raise ValueError(f"agent {k} needs a 'type': there are several cost matrices {types}")
        if agent_type not in matrices:
            raise ValueError(f"agent {k} has type {agent_type!r}, which has no cost matrix")
        agent = {
            "id": int(spec.get("id", k)),
            "type": str(agent_type),
            "start_node": int(spec.get("start_node", default_depot)),
            "end_node": int(spec.get("end_node", spec.get("start_node", default_depot))),
            "capacity": _whole(spec.get("capacity", 0), "capacity", k),
            "max_length": _whole(spec.get("max_length", 0), "max_length", k),
        }
        for key in ("capacity", "max_length"):
            if spec.get(key, 0) < 0:
                raise ValueError(f"agent {k}: {key} must be >= 0 (got {spec[key]!r})")
        for key in ("start_node", "end_node"):
            if agent[key] not in known:
                raise ValueError(f"agent {agent['id']}: {key} {agent[key]} is not a node id")
        agent_list.append(agent)
    if not agent_list:
        raise ValueError("an instance needs at least one agent")
    unused = [t for t in types if t not in {a["type"] for a in agent_list}]
    if unused:
        raise ValueError(f"cost matrices {unused} belong to no agent's type")

    if depot_ids is None:
        depot_ids = [a[key] for a in agent_list for key in ("start_node", "end_node")]
    node_types = ["DEPOT" if i in set(depot_ids) else "TARGET" for i in node_ids]

    # Every node names its allowed types, so the solver has none to warn about.
    allowed = {i: list(types) for i in node_ids}
    for node, names in (allowed_types or {}).items():
        if int(node) not in known:
            raise ValueError(f"allowed_types names node {node}, which is not a node id")
        allowed[int(node)] = [str(t) for t in names]
        unknown_types = [t for t in allowed[int(node)] if t not in matrices]
        if unknown_types:
            raise ValueError(
                f"allowed_types of node {node}: {unknown_types} are not the type of any agent "
                f"(the types: {types})"
            )

    windows: dict[int, tuple[float, float]] = {}
    if isinstance(time_windows, Mapping):
        for node, (start, end) in time_windows.items():
            if int(node) not in known:
                raise ValueError(f"time_windows names node {node}, which is not a node id")
            windows[int(node)] = (float(start), float(end))
    elif time_windows is not None:
        rows = _rows(_matrix(time_windows, "time_windows", (n, 2)))
        windows = {i: (float(s), float(e)) for i, (s, e) in zip(node_ids, rows)}
    for node, (start, end) in windows.items():
        if not (math.isfinite(start) and math.isfinite(end)) or end < start:
            raise ValueError(
                f"node {node}: time window [{start:g}, {end:g}] is not a finite interval"
            )

    return _Arrays(
        ids=node_ids,
        coords=coords,
        node_types=node_types,
        demands=demand,
        matrices=matrices,
        agents=agent_list,
        allowed=allowed,
        windows=windows,
        objective=_objective(objective),
        return_to_end=bool(return_to_end),
        time_limit=float(time_limit),
    )


def problem_from_arrays(
    positions: Any,
    cost_matrices: Any,
    agents: int | Sequence[Mapping[str, Any]],
    *,
    ids: Sequence[int] | None = None,
    depots: Sequence[int] | None = None,
    demands: Sequence[float] | None = None,
    allowed_types: Mapping[int, Sequence[str]] | None = None,
    time_windows: Any = None,
    objective: str | ObjectiveType = "min_sum",
    return_to_end: bool = True,
    time_limit: float = 60.0,
) -> Problem:
    """A :class:`~zelk.Problem` from positions, cost matrices and agents given as lists or
    NumPy arrays.

    Each NumPy matrix is handed to :meth:`Problem.set_cost_matrix` whole and copied in
    the core; nodes, agents and constraints are added one object each.

    Parameters
    ----------
    positions
        Node coordinates, shape ``(n, 2)`` or ``(n, 3)``, in node order (the order gives
        the vertices that matrices and routes use). ``None`` puts every node at the
        origin and takes ``n`` from the matrices.
    cost_matrices
        Mapping from agent type name to its ``(n, n)`` matrix of travel costs (entry
        ``[i, j]`` from vertex ``i`` to vertex ``j``), or one ``(n, n)`` matrix for a
        single type named ``"agent"``.
    agents
        A count of agents (ids 0, 1, ...; all of the only type; start and end at the
        first depot), or one mapping per agent with the keys of the JSON agent object:
        ``"type"`` (may be left out when there is one matrix), ``"start_node"`` and
        ``"end_node"`` (node ids; default the first depot, end defaults to start),
        ``"id"`` (default its position), ``"capacity"``, ``"max_length"`` (route limit,
        0 for none).
    ids
        Node ids in node order; default ``0 .. n-1``.
    depots
        Node ids marked as depots; default every agent's start and end node. The first
        is the default start of agents.
    demands
        Node demands, length ``n``; default 0.
    allowed_types
        Mapping from node id to the agent type names allowed to serve it; nodes left
        out allow every type.
    time_windows
        Mapping from node id to ``(earliest, latest)``, or an ``(n, 2)`` array with one
        window per node in node order.
    objective
        ``"min_max"`` (longest route), ``"min_sum"`` (sum of routes) or an
        :class:`~zelk.ObjectiveType`.
    return_to_end
        Whether the closing move back to the end node is charged.
    time_limit
        Search budget in processor seconds.

    Returns
    -------
    Problem
        Ready for ``zelk.Solver(problem, problem.options())``.

    Raises
    ------
    ValueError
        When a shape does not fit (naming it), a node id is unknown or repeats, an agent
        type has no matrix or a matrix no agent, or a window is not a finite interval.

    Examples
    --------
    >>> import numpy as np, zelk
    >>> xy = np.array([[0, 0], [3, 4], [-3, 4], [0, -5]], dtype=float)
    >>> distances = np.linalg.norm(xy[:, None] - xy[None, :], axis=-1)
    >>> problem = zelk.io.problem_from_arrays(xy, distances, agents=2, objective="min_max")
    >>> solver = zelk.Solver(problem, problem.options())
    """
    data = _check_arrays(
        positions,
        cost_matrices,
        agents,
        ids=ids,
        depots=depots,
        demands=demands,
        allowed_types=allowed_types,
        time_windows=time_windows,
        objective=objective,
        return_to_end=return_to_end,
        time_limit=time_limit,
    )
    problem = Problem()
    for node_id, (x, y, z), kind, demand in zip(
        data.ids, data.coords, data.node_types, data.demands
    ):
        node = Node()
        node.id = node_id
        node.position.x, node.position.y, node.position.z = x, y, z
        node.type = NodeType.DEPOT if kind == "DEPOT" else NodeType.TARGET
        node.demand = demand
        problem.add_node(node)
    for spec in data.agents:
        agent = Agent()
        agent.id = spec["id"]
        agent.type = spec["type"]
        agent.start_node = spec["start_node"]
        agent.end_node = spec["end_node"]
        agent.capacity_limit = float(spec["capacity"])
        agent.time_limit = float(spec["max_length"])
        problem.add_agent(agent, agent.id)
    for name, matrix in data.matrices.items():
        problem.set_cost_matrix(name, matrix)
    assignment = AssignmentConstraint()
    for node_id, names in data.allowed.items():
        assignment.set_assignment(node_id, names)
    problem.set_assignment_constraint(assignment)
    windows = TimeWindowConstraint()
    for node_id, (start, end) in data.windows.items():
        windows.set_timewindow(node_id, start, end)
    problem.set_timewindow_constraint(windows)
    options = problem.options()
    options.objective = (
        ObjectiveType.MinMax if data.objective == "min_max" else ObjectiveType.MinSum
    )
    options.return_to_end = data.return_to_end
    options.time_limit = data.time_limit
    return problem


def instance_from_arrays(
    positions: Any,
    cost_matrices: Any,
    agents: int | Sequence[Mapping[str, Any]],
    *,
    ids: Sequence[int] | None = None,
    depots: Sequence[int] | None = None,
    demands: Sequence[float] | None = None,
    allowed_types: Mapping[int, Sequence[str]] | None = None,
    time_windows: Any = None,
    objective: str | ObjectiveType = "min_sum",
    return_to_end: bool = True,
    time_limit: float = 60.0,
    name: str = "",
) -> dict[str, Any]:
    """The JSON instance dict of the same arguments as :func:`problem_from_arrays`.

    Solving it with :func:`zelk.solve_json_str` (after :func:`dumps_instance`) searches
    the same instance as a Solver built from :func:`problem_from_arrays`, and
    :func:`zelk.check_solution` can check the result against it.

    Parameters
    ----------
    positions, cost_matrices, agents, ids, depots, demands, allowed_types, \
time_windows, objective, return_to_end, time_limit
        As for :func:`problem_from_arrays`.
    name
        Stored under ``"name"`` (the command line prints it).

    Raises
    ------
    ValueError
        As :func:`problem_from_arrays`.
    """
    data = _check_arrays(
        positions,
        cost_matrices,
        agents,
        ids=ids,
        depots=depots,
        demands=demands,
        allowed_types=allowed_types,
        time_windows=time_windows,
        objective=objective,
        return_to_end=return_to_end,
        time_limit=time_limit,
    )
    constraints: list[dict[str, Any]] = [
        {
            "kind": "assignment",
            "items": [{"node": i, "types": names} for i, names in data.allowed.items()],
        }
    ]
    if data.windows:
        constraints.append(
            {
                "kind": "timewindow",
                "items": [{"node": i, "start": s, "end": e} for i, (s, e) in data.windows.items()],
            }
        )
    return {
        "name": name,
        "nodes": [
            {"id": i, "x": x, "y": y, "z": z, "type": kind, "demand": demand}
            for i, (x, y, z), kind, demand in zip(
                data.ids, data.coords, data.node_types, data.demands
            )
        ],
        "agents": data.agents,
        "costs": {t: _rows(m) for t, m in data.matrices.items()},
        "constraints": constraints,
        "options": {
            "objective": data.objective,
            "return_to_end": data.return_to_end,
            "time_limit": data.time_limit,
        },
    }
