"""The outcome of :func:`zelk.solve`: a :class:`Solution` with routes, schedules and
statistics.

Every record here is a frozen dataclass, so a Solution can be shared between threads,
kept in a set or compared. :meth:`Solution.to_dict` gives the result dictionary of
:func:`zelk.solve_json_str` (every key it has, with the same meaning and values) plus
the keys only the Solution knows; :meth:`Solution.from_dict` reads either back.

Schedules come from the core's route walker, on the instance's arrays with its model
built once per Solution, following the solver's own rules: a route's clock starts at 0
at its start node; each move adds its cost for the agent's type (the closing move of an
open route is free); at a node with time windows service starts no earlier than the
first window still open at the arrival, so an early arrival (or one between two
windows) waits; the agent departs when the target's ``service`` duration has passed.
"""

from __future__ import annotations

import dataclasses
import itertools
import json
import warnings
from collections.abc import Mapping, Sequence
from dataclasses import dataclass, field
from typing import TYPE_CHECKING, Any, Literal

if TYPE_CHECKING:
    from zelk.instance import Instance

__all__ = ["AnytimeEntry", "Reason", "Route", "Solution", "Statistics", "Stop", "schedule"]

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


def _typed(instance: Any) -> Instance:
    """``instance`` as a :class:`~zelk.Instance`: a dict is checked and read as
    :meth:`~zelk.Instance.from_dict` reads it (its warnings were the solve's to give).

    Agents that share an id are the one refusal of that check that the JSON entry points
    accept (they give such agents the last one's type): a result of theirs reads back
    with the ids as given, so that the core's model types them as the solve did."""
    import numpy as np

    from zelk.instance import Instance, _frozen
    from zelk.schema import InstanceWarning

    if isinstance(instance, Instance):
        return instance
    agents = instance.get("agents") if isinstance(instance, Mapping) else None
    ids: list[int] = []
    if isinstance(agents, list) and all(isinstance(agent, Mapping) for agent in agents):
        ids = [agent.get("id") for agent in agents]
    # Ids the check would take otherwise (whole numbers that fit), one of them repeated.
    shared = all(type(i) is int and 0 <= i < 2**64 for i in ids) and len(set(ids)) < len(ids)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", InstanceWarning)
        if not shared:
            return Instance.from_dict(instance)
        assert agents is not None
        distinct = {**instance, "agents": [{**agent, "id": k} for k, agent in enumerate(agents)]}
        typed = Instance.from_dict(distinct)
    agent_ids = _frozen(np.asarray(ids, dtype=np.uint64), np.uint64)
    return dataclasses.replace(typed, agent_ids=agent_ids, _dict=None, _core=None)


def _walked(
    typed: Instance, paths: Sequence[Sequence[int]], agents: Sequence[int]
) -> tuple[list[tuple[Stop, ...]], list[tuple[float, ...]]]:
    """The stops and loads of agent index ``agents[r]`` driving ``paths[r]``, from the
    core's route walker on the instance's arrays: its model is built once for every
    route, and the arrays are read in place."""
    import _zelk_core
    import numpy as np  # not on import: zelk's list paths run without NumPy

    if not paths:
        return [], []
    arrays, types, matrices, distances = typed.core_arrays()
    offsets = np.zeros(len(paths) + 1, dtype=np.int64)
    np.cumsum([len(path) for path in paths], out=offsets[1:])
    flat = np.fromiter(itertools.chain.from_iterable(paths), dtype=np.int64, count=int(offsets[-1]))
    walked = _zelk_core._schedules(
        arrays, types, flat, offsets, np.asarray(agents, dtype=np.int64),
        return_to_end=typed.return_to_end, dimensions=typed.dimensions,
        scalar_loads=typed.scalar_loads, cost_matrices=matrices, distances=distances,
    )  # fmt: skip
    ids = typed.ids.tolist()
    times = walked["stops"].tolist()
    stops = []
    for r, path in enumerate(paths):
        first = int(offsets[r])
        stops.append(tuple(map(Stop, [ids[v] for v in path], *zip(*times[first : first + len(path)]))))
    return stops, [tuple(row) for row in walked["load"].tolist()]


def schedule(instance: Any, agent: Mapping[str, Any], path: Sequence[int]) -> tuple[Stop, ...]:
    """The stops of ``agent`` (one of the instance's agents, found by its id) travelling
    ``path`` (vertices) in ``instance`` (a dict or a :class:`~zelk.Instance`): arrival,
    waiting, start of service and departure at each, on the agent's clock.

    Windows that all close before the arrival are not checked here
    (:func:`zelk.check_solution` does that); the stop keeps its late arrival and no
    waiting.
    """
    typed = _typed(instance)
    a = typed.agent_ids.tolist().index(int(agent["id"]))
    return _walked(typed, [path], [a])[0][0]


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
    typed = _typed(instance)
    routes_in = result.get("routes", [])
    if len(routes_in) != typed.m:
        raise ValueError(f"the result has {len(routes_in)} routes, the instance {typed.m} agents")
    n, returns = typed.n, typed.return_to_end
    paths = [tuple(int(v) for v in route["path"]) for route in routes_in]
    for route, path in zip(routes_in, paths):
        if any(not 0 <= v < n for v in path):
            raise ValueError(f"agent {route['agent_id']}: path {list(path)} leaves the instance")
    # Every route's schedule and load from one walk of the core's model.
    stops, loads = _walked(typed, paths, range(len(paths)))
    ids = typed.ids.tolist()
    # Agents that share an id share one type, the last one's, as in the solver.
    agent_ids = typed.agent_ids.tolist()
    type_of = dict(zip(agent_ids, (typed.types[t] for t in typed.agent_types.tolist())))
    routes = []
    for a, (route, path) in enumerate(zip(routes_in, paths)):
        routes.append(
            Route(
                agent_id=int(route["agent_id"]),
                agent_type=type_of[agent_ids[a]],
                path=path,
                nodes=tuple(ids[v] for v in path),
                cost=float(route["cost"]),
                returns=returns,
                stops=stops[a],
                load=tuple(map(float, route["load"])) if "load" in route else loads[a],
            )
        )
    objective = typed.objective if objective is None else objective
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
