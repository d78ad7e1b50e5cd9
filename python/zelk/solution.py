"""The outcome of :func:`zelk.solve`: a :class:`Solution` with routes, schedules and
statistics.

Every record here is a frozen dataclass, so a Solution can be shared between threads,
kept in a set or compared. :meth:`Solution.to_dict` gives the result dictionary of
:func:`zelk.solve_json_str` (every key it has, with the same meaning and values) plus
the keys only the Solution knows; :meth:`Solution.from_dict` reads either back.

Schedules come from the core's route walker where it serves (see ``_Walker``), else from
the walk here, which follows the same rules as the solver: a
route's clock starts at 0 at its start node; each move adds its cost from the agent
type's matrix (the closing move of an open route is free); at a node with time windows
service starts no earlier than the first window still open at the arrival, so an early
arrival (or one between two windows) waits; the agent departs when the target's
``service`` duration has passed.
"""

from __future__ import annotations

import json
from collections.abc import Mapping, Sequence
from dataclasses import dataclass, field
from typing import Any, Literal

from zelk.distances import PositionDistances
from zelk.fleet import depot_ids, dimensions, merged_windows, quantity
from zelk.schema import named_matrices

__all__ = ["AnytimeEntry", "Reason", "Route", "Solution", "Statistics", "Stop", "schedule"]

#: The cost of a move for which the agent's type has no matrix entry.
NO_ARC = 9999.0

Status = Literal["solved", "no_solution", "interrupted", "optimal", "infeasible", "error"]
STATUSES = ("solved", "no_solution", "interrupted", "optimal", "infeasible", "error")


@dataclass(frozen=True)
class Stop:
    """One visit of a route: times on the agent's clock, which starts at 0."""

    node: int  #: node id
    arrival: float  #: when the agent reaches the node
    waiting: float  #: time spent waiting for the node's window to open
    start: float  #: start of service: arrival + waiting
    departure: float  #: when the agent leaves: start + the node's service duration

    def to_dict(self) -> dict[str, Any]:
        return {
            "node": self.node,
            "arrival": self.arrival,
            "waiting": self.waiting,
            "start": self.start,
            "departure": self.departure,
        }


@dataclass(frozen=True)
class Route:
    """One agent's route."""

    agent_id: int
    agent_type: str
    path: tuple[int, ...]  #: vertices (positions in the instance's node list)
    nodes: tuple[int, ...]  #: the same stops as node ids
    cost: float  #: the route's duration, waiting included
    #: False when the closing move to the end node is free (``return_to_end`` off):
    #: the agent's work ends at the last node before it.
    returns: bool = True
    #: One stop per entry of ``path``; empty when the schedule is unknown (a solve of a
    #: :class:`~zelk.Problem`, whose matrices Python cannot read back).
    stops: tuple[Stop, ...] = ()
    #: What the route carries, per dimension; empty when the instance has no demands.
    load: tuple[float, ...] = ()

    @property
    def visits(self) -> tuple[int, ...]:
        """The node ids the agent travels through, without the free closing move of an
        open route."""
        if not self.returns and len(self.nodes) > 1:
            return self.nodes[:-1]
        return self.nodes


@dataclass(frozen=True)
class Reason:
    """Why a required target stayed unserved."""

    node: int  #: node id
    #: "type" (no agent type may serve it), "arc" (no arc from an allowed agent's start
    #: or to its end), "window" (it closes before the earliest arrival), "capacity" (the
    #: demand exceeds every allowed agent's capacity), "limit" (start -> node -> end
    #: exceeds the route limit); for a target that passes these alone, the constraint
    #: that stopped the last attempt to fit it among the others.
    reason: str
    message: str  #: in words

    def to_dict(self) -> dict[str, Any]:
        return {"node": self.node, "reason": self.reason, "message": self.message}


@dataclass(frozen=True)
class AnytimeEntry:
    """An improving solution found during the solve."""

    time: float  #: processor seconds since the solve started
    max_cost: float
    sum_cost: float
    phase: str | None = None  #: "search", "construct" or "improve"; None if not reported
    #: Improvement path: required targets the plan leaves out (a plan with any is not a
    #: solution, but the list shows it while nothing better is known), the penalties of
    #: the optional ones it leaves out, and the objective plus those penalties. Each entry
    #: leaves fewer required targets out than the one before, or as many at a lower
    #: objective_value.
    unserved_required: int = 0
    penalty: float = 0.0
    objective_value: float | None = None


@dataclass(frozen=True)
class Statistics:
    """Counters and times of a solve."""

    solve_time: float  #: wall-clock seconds of the solve
    max_cost: float
    sum_cost: float
    n_generated: int
    n_expanded: int
    last_update_time: float  #: processor seconds at which the best solution was found
    first_solution_time: float | None = None  #: processor seconds to the first solution
    best_phase: str | None = None  #: the phase that found the best solution
    improve_iterations: int = 0
    interrupted: bool = False  #: stopped early by Ctrl-C or a stop check
    #: Any further statistics the core reported, by their keys.
    extra: Mapping[str, Any] = field(default_factory=dict)

    @property
    def best_solution_time(self) -> float:
        """Processor seconds to the best solution (``last_update_time``)."""
        return self.last_update_time


_SPEC_STATISTICS = ("solve_time", "max_cost", "sum_cost", "n_generated", "n_expanded",
                    "last_update_time")  # fmt: skip
_OWN_STATISTICS = ("first_solution_time", "best_phase", "improve_iterations", "interrupted")


@dataclass(frozen=True)
class Solution:
    """What :func:`zelk.solve` found.

    ``status`` is ``"solved"`` (a solution, found within the budget or when the search
    ended), ``"no_solution"``, ``"interrupted"`` (stopped by Ctrl-C or a stop check;
    the routes are the best found so far, possibly none), ``"optimal"`` (proven: the
    value meets ``lower_bound``), ``"infeasible"`` (required targets could not all be
    served: the routes are the best plan for the others, ``unserved`` and ``reasons``
    name them) or ``"error"`` (the solve failed, in :func:`zelk.solve_many`: ``error``
    says why, and there are no routes). ``objective`` is ``"min_max"`` or ``"min_sum"``
    and ``objective_value`` the cost under it, plus ``penalty``.
    ``lower_bound`` is a bound on the optimum from arc costs and windows
    (:func:`zelk.bounds.lower_bound`), None for a solve of a :class:`~zelk.Problem`,
    whose matrices Python cannot read back, and above 1,000 nodes, where computing it
    would take much of the budget.
    """

    status: Status
    objective: str
    objective_value: float | None  #: None when there is no solution
    max_cost: float | None  #: None when there is no solution
    sum_cost: float | None  #: None when there is no solution
    timeout: bool  #: the budget ended the solve
    routes: tuple[Route, ...]
    anytime: tuple[AnytimeEntry, ...]
    statistics: Statistics
    lower_bound: float | None = None
    error: str | None = None  #: why the solve failed (status "error"); else None
    #: Node ids of the targets left unserved (optional ones and required ones that
    #: could not be fitted), in vertex order.
    unserved: tuple[int, ...] = ()
    penalty: float = 0.0  #: the penalties of the unserved optional targets
    reasons: tuple[Reason, ...] = ()  #: one per unserved required target

    def __repr__(self) -> str:
        value = "-" if self.objective_value is None else f"{self.objective_value:.6g}"
        used = sum(1 for route in self.routes if len(route.path) > 2)
        return (
            f"Solution(status={self.status!r}, {self.objective}={value}, "
            f"routes={used}/{len(self.routes)}, unserved={len(self.unserved)})"
        )

    @property
    def found(self) -> bool:
        """Whether the Solution holds a solution (any route with a path)."""
        return any(route.path for route in self.routes)

    # ----------------------------------------------------------------- dictionaries

    def to_dict(self) -> dict[str, Any]:
        """The result dictionary of :func:`zelk.solve_json_str`, extended.

        The keys ``status`` ("success"/"failed"), ``timeout``, ``routes`` (``agent_id``,
        ``path``, ``cost``), ``statistics`` and ``anytime`` come first, with the
        own meaning; then route keys ``agent_type``, ``nodes``, ``returns`` and
        ``stops``, statistics ``first_solution_time``, ``best_phase``,
        ``improve_iterations``, ``interrupted`` (and whatever else the core reported),
        anytime ``phase`` where known, and the top-level ``outcome`` (the Solution's
        ``status``), ``objective``, ``objective_value`` and ``lower_bound``; and
        ``error`` when the solve failed.
        """
        stats = self.statistics
        statistics: dict[str, Any] = {key: getattr(stats, key) for key in _SPEC_STATISTICS}
        statistics.update({key: getattr(stats, key) for key in _OWN_STATISTICS})
        statistics.update({k: v for k, v in stats.extra.items() if k not in statistics})
        anytime = []
        for entry in self.anytime:
            item: dict[str, Any] = {
                "time": entry.time,
                "max_cost": entry.max_cost,
                "sum_cost": entry.sum_cost,
            }
            if entry.phase is not None:
                item["phase"] = entry.phase
            if entry.objective_value is not None:
                item["unserved_required"] = entry.unserved_required
                item["penalty"] = entry.penalty
                item["objective_value"] = entry.objective_value
            anytime.append(item)
        data: dict[str, Any] = {
            "status": self._result_status(),
            "timeout": self.timeout,
            "routes": [
                {
                    "agent_id": route.agent_id,
                    "path": list(route.path),
                    "cost": route.cost,
                    "agent_type": route.agent_type,
                    "nodes": list(route.nodes),
                    "returns": route.returns,
                    "stops": [stop.to_dict() for stop in route.stops],
                    "load": list(route.load),
                }
                for route in self.routes
            ],
            "statistics": statistics,
            "anytime": anytime,
            "outcome": self.status,
            "objective": self.objective,
            "objective_value": self.objective_value,
            "lower_bound": self.lower_bound,
            "unserved": list(self.unserved),
            "penalty": self.penalty,
            "reasons": [reason.to_dict() for reason in self.reasons],
        }
        if self.error is not None:
            data["error"] = self.error
        return data

    def _result_status(self) -> str:
        if self.status == "infeasible":
            return "infeasible"
        return "success" if self.found else "failed"

    def to_json(self, *, indent: int | None = None) -> str:
        """:meth:`to_dict` as JSON text."""
        return json.dumps(self.to_dict(), indent=indent, allow_nan=False)

    @classmethod
    def from_dict(
        cls, data: Mapping[str, Any], instance: Mapping[str, Any] | None = None
    ) -> Solution:
        """A Solution from :meth:`to_dict`'s dictionary, or from the result dictionary of
        :func:`zelk.solve_json_str` together with its ``instance`` (needed then for node
        ids, agent types and schedules).

        Raises
        ------
        ValueError
            When ``data`` is neither, or names agents the instance does not have.
        """
        if "outcome" in data:
            return _from_full_dict(data)
        if instance is None:
            raise ValueError(
                "a result dictionary of solve_json_str needs its instance: "
                "Solution.from_dict(result, instance)"
            )
        return from_result(data, instance)


# --------------------------------------------------------------------------- building


def objective_of(instance: Mapping[str, Any]) -> str:
    """``"min_max"`` or ``"min_sum"``, as the core reads the instance's options."""
    options = instance.get("options") or {}
    return "min_max" if options.get("objective") in ("min_max", "MIN_MAX") else "min_sum"


def _matrix(instance: Mapping[str, Any], agent_type: str) -> Sequence[Sequence[float]]:
    # Not `or []`: a NumPy matrix has no truth value.
    matrix = named_matrices(instance.get("costs")).get(agent_type)
    return [] if matrix is None else matrix


def schedule(
    instance: Mapping[str, Any], agent: Mapping[str, Any], path: Sequence[int]
) -> tuple[Stop, ...]:
    """The stops of ``agent`` travelling ``path`` (vertices) in ``instance``: arrival,
    waiting, start of service and departure at each, on the agent's clock.

    A move the instance gives no cost for counts as 9999, as in the solver. Windows that
    all close before the arrival are not checked here (:func:`zelk.check_solution` does
    that); the stop keeps its late arrival and no waiting.
    """
    return _schedule(instance, _ScheduleContext.of(instance), agent, path)


@dataclass(frozen=True)
class _ScheduleContext:
    """What every route's schedule reads from the instance, read once per solution: a
    solution of 2,000 agents would otherwise read every agent 2,000 times."""

    ids: dict[int, int]
    windows: dict[int, list[tuple[float, float]]]
    depots: set[int]
    matrices: dict[str, Any]

    @staticmethod
    def of(instance: Mapping[str, Any]) -> _ScheduleContext:
        ids = {int(node["id"]): v for v, node in enumerate(instance["nodes"])}
        matrices = named_matrices(instance.get("costs"))
        return _ScheduleContext(ids, merged_windows(instance), depot_ids(instance), matrices)


def _schedule(
    instance: Mapping[str, Any],
    context: _ScheduleContext,
    agent: Mapping[str, Any],
    path: Sequence[int],
) -> tuple[Stop, ...]:
    nodes = instance["nodes"]
    ids, windows, depots = context.ids, context.windows, context.depots
    # Not `or []`: a NumPy matrix has no truth value.
    matrix = context.matrices.get(str(agent["type"]))
    matrix = [] if matrix is None else matrix
    options = instance.get("options") or {}
    returns = bool(options.get("return_to_end", True))
    ends = {ids.get(int(agent["start_node"])), ids.get(int(agent["end_node"]))}
    # Distances computed from positions are read without building a row per leg.
    entry = matrix.entry if isinstance(matrix, PositionDistances) else None
    stops: list[Stop] = []
    clock = 0.0
    for k, v in enumerate(path):
        arrival = clock
        if k > 0:
            u = path[k - 1]
            # The closing move of an agent that does not return is free.
            if u != v and not (not returns and v in ends):
                if entry is not None:
                    arrival += entry(u, v)
                else:
                    row = matrix[u] if u < len(matrix) else []
                    arrival += float(row[v]) if v < len(row) else NO_ARC
        node_id = int(nodes[v]["id"])
        start = arrival
        # Service starts in the first window that has not closed yet.
        spans = windows.get(node_id)
        opening = next((s for s, e in spans if arrival <= e), None) if spans else None
        if opening is not None:
            start = max(arrival, opening)
        service = 0.0 if node_id in depots else float(nodes[v].get("service", 0) or 0)
        stops.append(Stop(node_id, arrival, start - arrival, start, start + service))
        clock = start + service
    return tuple(stops)


#: Table entries the walker may build per Solution (about 5 ms of processor time).
_WALKER_ENTRIES = 100_000


class _Walker:
    """Schedules from the core's route walker, on the instance's JSON text made once per
    Solution (matrices passed beside it, one type at a time). None from :meth:`stops`
    where the walker cannot give today's schedule, and the Python walk gives it: a type
    whose distances are computed from positions (the walker reads matrices only), an
    agent id given twice (the walker's agent indices would shift), or a move the
    instance has no cost for (the walker ends the route there; the schedule counts
    9999 and goes on). And a Solution too large for it: the walker reads the instance
    text and builds its tables (n x n per agent type) anew for every route, about
    5e-8 s per entry (50 ms for 10 routes on 300 nodes, where the Python walk, linear in
    the route, takes 0.6 ms): above ``_WALKER_ENTRIES`` entries per Solution the Python
    walk gives the schedule."""

    def __init__(self, instance: Mapping[str, Any], routes: int) -> None:
        import _zelk_core

        self._walk = _zelk_core._walk_route
        self._matrices = named_matrices(instance.get("costs"))
        agents = instance["agents"]
        n, types = len(instance["nodes"]), len({str(agent["type"]) for agent in agents})
        self._usable = (
            len({int(agent["id"]) for agent in agents}) == len(agents)
            and n * n * types * routes <= _WALKER_ENTRIES
        )
        self._instance = instance
        self._text: str | None = None

    def stops(
        self, a: int, agent_type: str, path: Sequence[int], node_ids: Sequence[int]
    ) -> tuple[Stop, ...] | None:
        matrix = self._matrices.get(agent_type)
        if not self._usable or matrix is None or isinstance(matrix, PositionDistances):
            return None
        if self._text is None:
            # The costs go beside the text: a NumPy matrix is no JSON, and only the
            # route's own type need be read.
            plain = {key: value for key, value in self._instance.items() if key != "costs"}
            # The core's reader wants every coordinate; a dict read by hand may leave z out.
            plain["nodes"] = [node if "z" in node else {**node, "z": 0.0} for node in plain["nodes"]]
            self._text = json.dumps(plain, default=_plain_json)
        try:
            walked = self._walk(self._text, a, list(path), cost_matrices={agent_type: matrix})
        except (RuntimeError, ValueError):
            # A dict the core's reader refuses (not checked by zelk): the Python walk
            # reads what it can, as it always has.
            self._usable = False
            return None
        if walked["broken"] == "arc" or len(walked["stops"]) != len(path):
            return None
        return tuple(
            Stop(node, t["arrival"], t["waiting"], t["start"], t["departure"])
            for node, t in zip(node_ids, walked["stops"])
        )


def _plain_json(value: Any) -> Any:
    # NumPy numbers and arrays that reach the instance's text.
    if hasattr(value, "tolist"):
        return value.tolist()
    raise TypeError(f"{type(value).__name__} is not JSON")


def route_load(instance: Mapping[str, Any], path: Sequence[int]) -> tuple[float, ...]:
    """The sum of the demands of the targets on ``path``, per dimension; empty when the
    instance has no demands."""
    nodes = instance["nodes"]
    load = [0.0] * dimensions(instance)
    for v in path[1:-1]:
        for d, amount in enumerate(quantity(nodes[v].get("demand"))):
            load[d] += amount
    return tuple(load) if any(quantity(n.get("demand")) for n in nodes) else ()


def _anytime(entries: Sequence[Mapping[str, Any]]) -> tuple[AnytimeEntry, ...]:
    return tuple(
        AnytimeEntry(
            float(e["time"]),
            float(e["max_cost"]),
            float(e["sum_cost"]),
            e.get("phase"),
            int(e.get("unserved_required", 0)),
            float(e.get("penalty", 0.0)),
            None if e.get("objective_value") is None else float(e["objective_value"]),
        )
        for e in entries
    )


def _statistics(
    stats: Mapping[str, Any], anytime: tuple[AnytimeEntry, ...], interrupted: bool | None
) -> Statistics:
    first = stats.get("first_solution_time")
    if first is None and anytime:
        first = anytime[0].time
    best_phase = stats.get("best_phase")
    if best_phase is None and anytime and anytime[-1].phase is not None:
        best_phase = anytime[-1].phase
    known = set(_SPEC_STATISTICS) | set(_OWN_STATISTICS)
    return Statistics(
        solve_time=float(stats.get("solve_time", 0.0)),
        max_cost=float(stats.get("max_cost", 0.0)),
        sum_cost=float(stats.get("sum_cost", 0.0)),
        n_generated=int(stats.get("n_generated", 0)),
        n_expanded=int(stats.get("n_expanded", 0)),
        last_update_time=float(stats.get("last_update_time", 0.0)),
        first_solution_time=None if first is None else float(first),
        best_phase=best_phase,
        improve_iterations=int(stats.get("improve_iterations", 0)),
        interrupted=bool(stats.get("interrupted", False)) if interrupted is None else interrupted,
        extra={k: v for k, v in stats.items() if k not in known},
    )


def _status(found: bool, interrupted: bool, infeasible: bool = False) -> Status:
    if interrupted:
        return "interrupted"
    if infeasible:
        return "infeasible"
    return "solved" if found else "no_solution"


def from_result(
    result: Mapping[str, Any],
    instance: Any,
    *,
    interrupted: bool | None = None,
    timeout: bool | None = None,
    objective: str | None = None,
) -> Solution:
    """The Solution of a result dictionary of :func:`zelk.solve_json_str` on
    ``instance`` (a dict or a :class:`~zelk.Instance`). ``interrupted`` and ``timeout``
    override what the result says (a stop check that ended the solve at a wall-clock
    budget is a time-out, not an interrupt); ``objective`` the instance's objective.
    """
    if hasattr(instance, "to_dict"):  # a zelk.Instance: its JSON form
        instance = instance.to_dict()
    agents = instance["agents"]
    routes_in = result.get("routes", [])
    if len(routes_in) != len(agents):
        raise ValueError(
            f"the result has {len(routes_in)} routes, the instance {len(agents)} agents"
        )
    nodes = instance["nodes"]
    returns = bool((instance.get("options") or {}).get("return_to_end", True))
    # Agents that share an id share one type, the last one's, as in the solver.
    type_of = {int(agent["id"]): agent["type"] for agent in agents}
    context = _ScheduleContext.of(instance)
    walker = _Walker(instance, sum(1 for route in routes_in if route.get("path")))
    routes = []
    for a, (agent, route) in enumerate(zip(agents, routes_in)):
        agent = {**agent, "type": type_of[int(agent["id"])]}
        path = tuple(int(v) for v in route["path"])
        if any(not 0 <= v < len(nodes) for v in path):
            raise ValueError(f"agent {route['agent_id']}: path {list(path)} leaves the instance")
        node_ids = tuple(int(nodes[v]["id"]) for v in path)
        stops: tuple[Stop, ...] = ()
        if path:
            walked = walker.stops(a, str(agent["type"]), path, node_ids)
            stops = _schedule(instance, context, agent, path) if walked is None else walked
        routes.append(
            Route(
                agent_id=int(route["agent_id"]),
                agent_type=str(agent["type"]),
                path=path,
                nodes=node_ids,
                cost=float(route["cost"]),
                returns=returns,
                stops=stops,
                load=tuple(map(float, route["load"])) if "load" in route
                else route_load(instance, path),
            )
        )
    objective = objective_of(instance) if objective is None else objective
    return _assemble(result, tuple(routes), objective, interrupted, timeout)


def _assemble(
    result: Mapping[str, Any],
    routes: tuple[Route, ...],
    objective: str,
    interrupted: bool | None,
    timeout: bool | None,
) -> Solution:
    anytime = _anytime(result.get("anytime", []))
    statistics = _statistics(result.get("statistics", {}), anytime, interrupted)
    infeasible = result.get("status") == "infeasible"
    found = result.get("status") == "success" or infeasible
    max_cost = statistics.max_cost
    sum_cost = statistics.sum_cost
    penalty = float(result.get("penalty") or 0.0)
    value = result.get("objective_value")
    if value is None and found:
        value = (max_cost if objective == "min_max" else sum_cost) + penalty
    return Solution(
        status=_status(found, statistics.interrupted, infeasible),
        objective=objective,
        objective_value=None if value is None or not found else float(value),
        unserved=tuple(int(node) for node in result.get("unserved") or ()),
        penalty=penalty,
        reasons=tuple(
            Reason(int(r["node"]), str(r["reason"]), str(r["message"]))
            for r in result.get("reasons") or ()
        ),
        # No route, no cost: 0.0 would read as a perfect solution.
        max_cost=max_cost if found else None,
        sum_cost=sum_cost if found else None,
        timeout=bool(result.get("timeout", False)) if timeout is None else timeout,
        routes=routes,
        anytime=anytime,
        statistics=statistics,
    )


def _malformed(where: str, what: str) -> ValueError:
    # ValueError, as for every other fault of the dictionary, with the place named.
    return ValueError(f"{where}: {what}")


def _whole(value: Any, where: str) -> int:
    # A whole number as JSON writes it: '7', 7.5 or True is not a vertex or an id.
    if isinstance(value, bool) or not isinstance(value, int):
        raise _malformed(where, f"{value!r} is not a whole number")
    return value


def _real(value: Any, where: str) -> float:
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise _malformed(where, f"{value!r} is not a number")
    return float(value)


def _list(value: Any, where: str) -> list[Any]:
    if not isinstance(value, list):
        raise _malformed(where, f"{type(value).__name__} is not a list")
    return value


def _checked_route(r: Any, where: str) -> Route:
    if not isinstance(r, Mapping):
        raise _malformed(where, f"{type(r).__name__} is not an object")
    for key in ("agent_id", "agent_type", "path", "nodes", "cost"):
        if key not in r:
            raise ValueError(f"{where}: no {key!r}")
    if not isinstance(r["agent_type"], str):
        raise _malformed(f"{where}.agent_type", f"{r['agent_type']!r} is not a string")
    returns = r.get("returns", True)
    if not isinstance(returns, bool):
        raise _malformed(f"{where}.returns", f"{returns!r} is not true or false")
    stops = []
    for k, stop in enumerate(_list(r.get("stops", []), f"{where}.stops")):
        at = f"{where}.stops[{k}]"
        if not isinstance(stop, Mapping) or set(stop) != set(Stop.__dataclass_fields__):
            raise ValueError(f"{at}: not a stop ({', '.join(Stop.__dataclass_fields__)})")
        stops.append(Stop(_whole(stop["node"], f"{at}.node"),
                          *(_real(stop[key], f"{at}.{key}")
                            for key in ("arrival", "waiting", "start", "departure"))))  # fmt: skip
    return Route(
        agent_id=_whole(r["agent_id"], f"{where}.agent_id"),
        agent_type=r["agent_type"],
        path=tuple(
            _whole(v, f"{where}.path[{k}]") for k, v in enumerate(_list(r["path"], f"{where}.path"))
        ),
        nodes=tuple(
            _whole(v, f"{where}.nodes[{k}]")
            for k, v in enumerate(_list(r["nodes"], f"{where}.nodes"))
        ),
        cost=_real(r["cost"], f"{where}.cost"),
        returns=returns,
        stops=tuple(stops),
        load=tuple(
            _real(x, f"{where}.load[{k}]") for k, x in enumerate(_list(r.get("load", []), f"{where}.load"))
        ),
    )


def _from_full_dict(data: Mapping[str, Any]) -> Solution:
    status = data["outcome"]
    if status not in STATUSES:
        raise ValueError(f"outcome must be one of {', '.join(STATUSES)} (got {status!r})")
    routes = tuple(
        _checked_route(r, f"routes[{k}]")
        for k, r in enumerate(_list(data.get("routes"), "routes"))
    )
    for key in ("objective_value", "lower_bound"):
        if data.get(key) is not None:
            _real(data[key], key)
    # The outcome, not the result status, says whether the solve was interrupted.
    found = "success" if any(r.path for r in routes) else "failed"
    result = {**data, "status": "infeasible" if status == "infeasible" else found}
    solution = _assemble(result, routes, str(data["objective"]), None, None)
    bound = data.get("lower_bound")
    value = data.get("objective_value", solution.objective_value)
    return Solution(
        status=status,
        objective=solution.objective,
        objective_value=None if value is None else float(value),
        max_cost=solution.max_cost,
        sum_cost=solution.sum_cost,
        timeout=solution.timeout,
        routes=routes,
        anytime=solution.anytime,
        statistics=solution.statistics,
        lower_bound=None if bound is None else float(bound),
        error=None if data.get("error") is None else str(data["error"]),
        unserved=solution.unserved,
        penalty=solution.penalty,
        reasons=solution.reasons,
    )
