"""An independent check of a solve's result against its instance.

Nothing here calls the solver or shares its reading of the instance: every route is
walked again from the instance's own cost matrices, time windows, service durations,
demands, capacities, agent limits and allowed types, so a wrong route, a wrong cost, a
wrong schedule or load, or a lost target shows up as a problem that names the agent
and the rule broken.
"""

from __future__ import annotations

import itertools
import math
from collections.abc import Mapping, Sequence
from dataclasses import dataclass
from typing import Any

__all__ = [
    "NO_ARC",
    "NO_ARC_PROBLEMS",
    "REASONS",
    "check_solution",
    "impossible_targets",
    "route_duration",
]

#: The cost of a move for which the agent's type has no matrix entry.
NO_ARC = 9999.0

#: The phrases that end a problem about a move the instance gives no cost for.
NO_ARC_PROBLEMS = ("has no cost matrix", "does not give", "reads as no arc")

#: Why a required target may stay unserved.
REASONS = ("type", "arc", "window", "capacity", "limit")

# Costs are compared with the same slack as the solver's own tolerance, plus a relative
# part for long routes.
_ABS_TOL = 1e-6
_REL_TOL = 1e-9


def _close(a: Any, b: float) -> bool:
    return isinstance(a, (int, float)) and math.isclose(a, b, rel_tol=_REL_TOL, abs_tol=_ABS_TOL)


def _amounts(value: Any) -> tuple[float, ...]:
    # A number is one dimension; absent is zeros of any length.
    if value is None or isinstance(value, bool):
        return ()
    if isinstance(value, (list, tuple)):
        return tuple(float(x) for x in value)
    return (float(value),)


@dataclass
class _Model:
    """The instance as this checker reads it, independently of the solver."""

    instance: Mapping[str, Any]
    vertex_of: dict[int, int]
    allowed: dict[int, list[str]]
    windows: dict[int, list[tuple[float, float]]]
    return_to_end: bool
    points: list[tuple[float, float, float]]
    euclidean: bool  # a type without a matrix travels at the Euclidean distance

    @classmethod
    def read(cls, instance: Mapping[str, Any], euclidean: bool) -> _Model:
        nodes = instance["nodes"]
        # A later node with the same id takes the id over, as in the solver.
        vertex_of = {int(node["id"]): v for v, node in enumerate(nodes)}
        allowed: dict[int, list[str]] = {}
        items: dict[int, list[tuple[float, float]]] = {}
        for constraint in instance.get("constraints") or []:
            if constraint["kind"] == "assignment":
                for item in constraint.get("items", []):
                    allowed[int(item["node"])] = list(item["types"])
            elif constraint["kind"] == "timewindow":
                for item in constraint.get("items", []):
                    window = (float(item["start"]), float(item["end"]))
                    items.setdefault(int(item["node"]), []).append(window)
        windows = {node: _union(spans) for node, spans in items.items()}
        points = [
            (float(n.get("x", 0)), float(n.get("y", 0)), float(n.get("z", 0))) for n in nodes
        ]
        return_to_end = (instance.get("options") or {}).get("return_to_end", True)
        return cls(instance, vertex_of, allowed, windows, return_to_end, points, euclidean)

    def matrix(self, agent_type: str) -> Sequence[Sequence[float]] | None:
        costs = self.instance.get("costs") or {}
        if isinstance(costs, list):
            # An array of matrices is stored under the decimal text of each index.
            costs = {str(k): m for k, m in enumerate(costs)}
        return costs.get(agent_type)

    def travel(self, agent_type: str, u: int, v: int) -> float:
        matrix = self.matrix(agent_type)
        if matrix is None:
            if self.euclidean:
                return math.dist(self.points[u], self.points[v])
            return NO_ARC
        return float(matrix[u][v]) if u < len(matrix) and v < len(matrix[u]) else NO_ARC

    def node(self, v: int) -> Mapping[str, Any]:
        return self.instance["nodes"][v]


def _union(spans: list[tuple[float, float]]) -> list[tuple[float, float]]:
    """Windows sorted, overlapping ones joined: the times at which service may start."""
    out: list[tuple[float, float]] = []
    for start, end in sorted(spans):
        if out and start <= out[-1][1]:
            out[-1] = (out[-1][0], max(out[-1][1], end))
        else:
            out.append((start, end))
    return out


def _arc_problems(
    model: _Model, agent: Mapping[str, Any], path: Sequence[int], no_arc_at: float | None
) -> list[str]:
    """The moves of ``path`` the instance gives no cost for (the walk counts them at
    9999, as the solver does, and goes on)."""
    nodes = model.instance["nodes"]
    ends = (model.vertex_of[int(agent["start_node"])], model.vertex_of[int(agent["end_node"])])
    agent_type = str(agent["type"])
    matrix = model.matrix(agent_type)
    problems = []
    for u, v in itertools.pairwise(path):
        if u == v or (not model.return_to_end and v in ends):
            continue
        move = f"moves from node {nodes[u]['id']} to node {nodes[v]['id']}"
        if matrix is None:
            if not model.euclidean:
                problems.append(f"{move}, but type {agent_type!r} has no cost matrix")
        elif u >= len(matrix) or v >= len(matrix[u]):
            problems.append(f"{move}, an arc the cost matrix of type {agent_type!r} does not give")
        elif no_arc_at is not None and float(matrix[u][v]) >= no_arc_at:
            problems.append(
                f"{move} at cost {float(matrix[u][v]):g}, which the focal search reads as no arc"
            )
    return problems


@dataclass
class _Walk:
    cost: float
    stops: list[tuple[float, float, float, float]]  # arrival, waiting, start, departure
    load: tuple[float, ...]
    broken: str | None


def _walk(model: _Model, agent: Mapping[str, Any], path: Sequence[int]) -> _Walk:
    """Drives ``path``: the clock starts at 0 at the first vertex; each move adds its
    travel (the closing move free when agents do not return); at a node with windows
    service starts at the arrival or when the next window opens, and not after the last
    one closes; a target's service adds to the clock before the agent leaves."""
    start = model.vertex_of[int(agent["start_node"])]
    end = model.vertex_of[int(agent["end_node"])]
    limit = float(agent.get("max_length", 0) or 0)
    capacity = _amounts(agent.get("capacity"))
    depots = {start, end}
    clock = 0.0
    stops: list[tuple[float, float, float, float]] = []
    load: list[float] = []
    broken: str | None = None
    for k, v in enumerate(path):
        arrival = clock
        if k > 0:
            u = path[k - 1]
            free_close = not model.return_to_end and v in depots
            if u != v and not free_close:
                arrival += model.travel(str(agent["type"]), u, v)
        node = model.node(v)
        node_id = int(node["id"])
        begin = arrival
        spans = model.windows.get(node_id)
        if spans is not None:
            opening = next((s for s, e in spans if arrival <= e + 1e-9), None)
            if opening is None:
                which = "window" if len(spans) == 1 else "last window"
                broken = broken or (
                    f"reaches node {node_id} at {arrival:g}, after its {which} closes "
                    f"at {spans[-1][1]:g}"
                )
            else:
                begin = max(arrival, opening)
        service = float(node.get("service", 0) or 0) if 0 < k < len(path) - 1 else 0.0
        departure = begin + service
        stops.append((arrival, begin - arrival, begin, departure))
        clock = departure
        if k > 0 and limit > 0 and clock > limit + 1e-9 and broken is None:
            broken = f"exceeds its max_length {limit:g} at node {node_id} ({clock:g})"
        if 0 < k < len(path) - 1:
            demand = _amounts(node.get("demand"))
            load += [0.0] * (len(demand) - len(load))
            for d, amount in enumerate(demand):
                load[d] += amount
    for d, amount in enumerate(load):
        cap = capacity[d] if d < len(capacity) else 0.0
        if cap > 0 and amount > cap + 1e-9 and broken is None:
            broken = f"loads {amount:g} in dimension {d}, above its capacity {cap:g}"
    return _Walk(clock, stops, tuple(load), broken)


def route_duration(
    instance: Mapping[str, Any],
    agent: Mapping[str, Any],
    path: Sequence[int],
    *,
    euclidean: bool = False,
) -> float:
    """Duration of ``path`` for ``agent``: travel, waiting at windows (at the start too:
    the clock starts at 0 and waits there for the start's window to open) and service at
    targets, the closing move free when ``return_to_end`` is off; NaN when a window, the
    agent's limit or its capacity breaks. ``euclidean``: a type without a cost matrix
    travels at the Euclidean distance (as :func:`zelk.solve` reads it) instead of 9999."""
    walk = _walk(_Model.read(instance, euclidean), agent, path)
    return math.nan if walk.broken else walk.cost


def _from_focal_search(result: Mapping[str, Any]) -> bool:
    # The improvement engine names the phase that found the best solution; the focal
    # search alone does not.
    return not result.get("statistics", {}).get("best_phase")


def _objective(instance: Mapping[str, Any], result: Mapping[str, Any]) -> str:
    if result.get("objective") in ("min_max", "min_sum"):
        return str(result["objective"])  # a Solution's own, which a call may have set
    objective = (instance.get("options") or {}).get("objective")
    return "min_max" if objective in ("min_max", "MIN_MAX") else "min_sum"


def check_solution(
    instance: Any,
    result: Any,
    *,
    focal_search: bool | None = None,
    euclidean: bool | None = None,
) -> list[str]:
    """The problems of ``result`` as a solution of ``instance``; empty when it is valid.

    A valid result has "status" "success" (or "infeasible" with the unserved required
    targets listed with their reasons), one route per agent in the instance's agent
    order, each starting at its agent's start node and ending at its end node (or back
    at the start when ``return_to_end`` is off), only nodes that allow the agent's type,
    every window, ``max_length`` and capacity (per dimension) kept, every target served
    exactly once or listed in "unserved", only moves the instance gives a cost for, and
    every reported figure equal to the recomputed one: each route's "cost", "nodes",
    "load" and schedule ("stops": arrival, waiting, start, departure), the statistics
    "max_cost" and "sum_cost", "penalty" (of the unserved optional targets) and
    "objective_value" (the longest route or the sum of routes, plus the penalty).

    For a result of the focal search alone (no "best_phase" in its statistics), which
    reads a cost of 9999 or more as "no arc", a move at such a cost is a problem too; for
    the improvement engine's it is a real cost. ``focal_search`` says which of the two
    the result comes from where its statistics cannot (say, another solver's routes put
    in this shape): False for any solver that reads every given cost as real.

    An agent type without a cost matrix travels at the Euclidean distance between node
    coordinates in a :class:`zelk.Solution` (:func:`zelk.solve` reads the instance so)
    and at 9999 in a result dictionary of the core's entry points, which read it so;
    ``euclidean`` overrides that choice.

    Parameters
    ----------
    instance
        The instance as a JSON-format dict (as :func:`zelk.formats.load_instance` gives)
        or a :class:`zelk.Instance`.
    result
        The dict returned by :func:`zelk.solve_json_str` or :func:`zelk.solve_json_file`,
        or a :class:`zelk.Solution` (or its :meth:`~zelk.Solution.to_dict`).
    """
    if hasattr(instance, "to_dict"):  # a zelk.Instance: its JSON form
        instance = instance.to_dict()
    if hasattr(result, "to_dict"):
        result = result.to_dict()
    status = result.get("status")
    if status not in ("success", "infeasible"):
        return [f'status is {status!r}, not "success": no solution to check']
    if euclidean is None:
        euclidean = "outcome" in result  # a Solution's dictionary
    model = _Model.read(instance, euclidean)
    problems: list[str] = []
    nodes = instance["nodes"]
    agents = instance["agents"]
    routes = result.get("routes", [])
    if [r.get("agent_id") for r in routes] != [int(a["id"]) for a in agents]:
        problems.append(
            f"routes are for agents {[r.get('agent_id') for r in routes]}, "
            f"the instance has agents {[int(a['id']) for a in agents]}"
        )
    depots: set[int] = set()
    for agent in agents:
        depots.add(model.vertex_of[int(agent["start_node"])])
        depots.add(model.vertex_of[int(agent["end_node"])])
    served = [0] * len(nodes)
    if focal_search is None:
        focal_search = _from_focal_search(result)
    no_arc_at = NO_ARC if focal_search else None
    # Agents that share an id share one type, the last one's, as in the solver.
    type_of = {int(agent["id"]): agent["type"] for agent in agents}
    costs: list[float] = []
    for agent, route in zip(agents, routes):
        agent = {**agent, "type": type_of[int(agent["id"])]}
        found = _check_route(model, agent, route, depots, served, no_arc_at)
        problems += found[0]
        costs.append(found[1])
    problems += _check_unserved(model, result, depots, served)
    if any(math.isnan(cost) for cost in costs):
        return problems  # a broken route has no cost to add up
    stats = result.get("statistics", {})
    for key, expected in (("max_cost", max(costs, default=0.0)), ("sum_cost", sum(costs))):
        if not _close(stats.get(key), expected):
            problems.append(f"statistics {key} is {stats.get(key)}, the routes give {expected}")
    penalty = sum(
        float(nodes[v].get("penalty", 0) or 0)
        for v, count in enumerate(served)
        if v not in depots and count == 0 and nodes[v].get("required", True) is False
    )
    if "penalty" in result and not _close(result["penalty"], penalty):
        problems.append(f"penalty is {result['penalty']}, the unserved targets give {penalty:g}")
    objective = _objective(instance, result)
    value = (max(costs, default=0.0) if objective == "min_max" else sum(costs)) + penalty
    if result.get("objective_value") is not None and not _close(result["objective_value"], value):
        problems.append(
            f"objective_value is {result['objective_value']}, the routes and penalties give "
            f"{value:g} ({objective})"
        )
    return problems


def _check_route(
    model: _Model,
    agent: Mapping[str, Any],
    route: Mapping[str, Any],
    depots: set[int],
    served: list[int],
    no_arc_at: float | None,
) -> tuple[list[str], float]:
    """The problems of one route, and its recomputed cost (NaN when it breaks a rule)."""
    nodes = model.instance["nodes"]
    who = f"agent {agent['id']}"
    path = list(route.get("path", []))
    bad = [v for v in path if not (isinstance(v, int) and 0 <= v < len(nodes))]
    if bad:
        return [f"{who}: path holds vertices outside the instance: {bad}"], math.nan
    start = model.vertex_of[int(agent["start_node"])]
    end = model.vertex_of[int(agent["end_node"])]
    if not path or path[0] != start:
        return [f"{who}: path {path} does not start at its start vertex {start}"], math.nan
    problems = []
    if not (path[-1] == end or (not model.return_to_end and path[-1] == start)):
        problems.append(f"{who}: path ends at vertex {path[-1]}, not at its end vertex {end}")
    ids = [int(nodes[v]["id"]) for v in path]
    if "nodes" in route and list(route["nodes"]) != ids:
        problems.append(f"{who}: nodes {list(route['nodes'])} are not the path's node ids {ids}")
    for v in path[1:]:
        node_id = int(nodes[v]["id"])
        if node_id in model.allowed and agent["type"] not in model.allowed[node_id]:
            problems.append(f"{who}: node {node_id} does not allow agent type {agent['type']!r}")
        if v not in depots:
            served[v] += 1
    problems += [f"{who}: route {p}" for p in _arc_problems(model, agent, path, no_arc_at)]
    walk = _walk(model, agent, path)
    if walk.broken is not None:
        return [*problems, f"{who}: route {walk.broken}"], math.nan
    if not _close(route.get("cost", math.nan), walk.cost):
        problems.append(f"{who}: reported cost {route.get('cost')} but the route takes {walk.cost}")
    if "load" in route:
        load = [float(x) for x in route["load"]]
        # An instance whose demands are all zero has no load dimension in the solve's
        # reading and one in a scalar reading: dimensions missing on either side are 0.
        width = max(len(load), len(walk.load))
        padded = list(walk.load) + [0.0] * (width - len(walk.load))
        if not all(map(_close, load + [0.0] * (width - len(load)), padded)):
            problems.append(f"{who}: reported load {load} but the route loads {list(walk.load)}")
    stops = route.get("stops") or []
    if stops:
        problems += _check_stops(who, stops, ids, walk)
    return problems, walk.cost


def _check_stops(
    who: str, stops: Sequence[Mapping[str, Any]], ids: list[int], walk: _Walk
) -> list[str]:
    if len(stops) != len(ids):
        return [f"{who}: {len(stops)} stops for a path of {len(ids)} vertices"]
    for k, (stop, node_id, times) in enumerate(zip(stops, ids, walk.stops)):
        if stop.get("node") != node_id:
            return [f"{who}: stop {k} is at node {stop.get('node')}, the path at {node_id}"]
        for key, expected in zip(("arrival", "waiting", "start", "departure"), times):
            if not _close(stop.get(key), expected):
                got = stop.get(key)
                return [f"{who}: stop {k} (node {node_id}) {key} is {got}, the route gives {expected:g}"]
    return []


def _check_unserved(
    model: _Model, result: Mapping[str, Any], depots: set[int], served: list[int]
) -> list[str]:
    """Every target served once, or listed as unserved (a required one with a reason);
    the status "infeasible" exactly when a required target is unserved."""
    nodes = model.instance["nodes"]
    problems = []
    listed = result.get("unserved")
    missing: list[int] = []
    required_missing: list[int] = []
    for v, count in enumerate(served):
        if v in depots:
            continue
        node_id = int(nodes[v]["id"])
        if count > 1 or (count == 0 and listed is None):
            problems.append(f"node {node_id} (vertex {v}) is served {count} times")
        elif count == 0:
            missing.append(node_id)
            if nodes[v].get("required", True) is not False:
                required_missing.append(node_id)
    if listed is None:
        return problems
    if list(listed) != missing:
        problems.append(f"unserved is {list(listed)}, the routes leave out {missing}")
    infeasible = result.get("status") == "infeasible"
    if infeasible != bool(required_missing):
        problems.append(
            f"status is {result.get('status')!r} with required targets {required_missing} "
            "unserved"
        )
    reasons = {}
    for item in result.get("reasons") or []:
        reasons[item.get("node")] = item
        if item.get("reason") not in REASONS or not item.get("message"):
            problems.append(f"reason {item} is not one of {', '.join(REASONS)} with a message")
    if sorted(reasons) != sorted(required_missing):
        problems.append(
            f"reasons are given for nodes {sorted(reasons)}, the unserved required targets "
            f"are {sorted(required_missing)}"
        )
    return problems


def impossible_targets(
    instance: Mapping[str, Any], *, euclidean: bool = True
) -> dict[int, set[str]]:
    """Per required target that no plan can serve on its own, every reason that rules it
    out for each agent allowed to serve it, taken one at a time: "type" (no agent's type
    is allowed there), "window" (its last window closes before any allowed agent can
    arrive), "capacity" (its demand exceeds every allowed agent's capacity in some
    dimension), "limit" (start -> target -> end exceeds every allowed agent's limit).
    Moves the instance gives no cost for are not judged here. A target ruled out only by
    a mix (one agent too late, the other too small) is not listed."""
    model = _Model.read(instance, euclidean)
    nodes, agents = instance["nodes"], instance["agents"]
    depots = {model.vertex_of[int(a[k])] for a in agents for k in ("start_node", "end_node")}
    found: dict[int, set[str]] = {}
    for v, node in enumerate(nodes):
        if v in depots or node.get("required", True) is False:
            continue
        node_id = int(node["id"])
        allowed = [a for a in agents
                   if node_id not in model.allowed or a["type"] in model.allowed[node_id]]  # fmt: skip
        if not allowed:
            found[node_id] = {"type"}
            continue
        late, heavy, long = [], [], []
        for agent in allowed:
            path = [model.vertex_of[int(agent["start_node"])], v,
                    model.vertex_of[int(agent["end_node"])]]  # fmt: skip
            walk = _walk(model, agent, path)
            demand = _amounts(node.get("demand"))
            capacity = _amounts(agent.get("capacity"))
            heavy.append(any(
                d < len(capacity) and capacity[d] > 0 and amount > capacity[d] + 1e-9
                for d, amount in enumerate(demand)))  # fmt: skip
            spans = model.windows.get(node_id) or []
            late.append(bool(spans) and walk.stops[1][0] > spans[-1][1] + 1e-9)
            limit = float(agent.get("max_length", 0) or 0)
            on_time = walk.broken is None or "max_length" in walk.broken
            long.append(on_time and limit > 0 and walk.cost > limit + 1e-9)
        reasons = {why for why, flags in (("window", late), ("capacity", heavy),
                                          ("limit", long)) if all(flags)}  # fmt: skip
        if reasons:
            found[node_id] = reasons
    return found
