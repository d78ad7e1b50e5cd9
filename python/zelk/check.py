"""An independent check of a solve's result against its instance.

Nothing here calls the solver: every route is walked again from the instance's own cost
matrices, time windows, agent limits and allowed types, so a wrong route, a wrong cost or
a lost target shows up as a problem that names the agent and the rule broken.
"""

from __future__ import annotations

import itertools
import math
from collections.abc import Mapping, Sequence
from typing import Any

__all__ = ["NO_ARC", "NO_ARC_PROBLEMS", "check_solution", "route_duration"]

#: The cost of a move for which the agent's type has no matrix entry.
NO_ARC = 9999.0

#: The phrases that end a problem about a move the instance gives no cost for.
NO_ARC_PROBLEMS = ("has no cost matrix", "does not give", "reads as no arc")

# Costs are compared with the same slack as the solver's own tolerance, plus a relative
# part for long routes.
_ABS_TOL = 1e-6
_REL_TOL = 1e-9


def _vertex_of(instance: Mapping[str, Any]) -> dict[int, int]:
    # A later node with the same id takes the id over, as in the solver.
    return {int(node["id"]): v for v, node in enumerate(instance["nodes"])}


def _constraints(
    instance: Mapping[str, Any],
) -> tuple[dict[int, list[str]], dict[int, tuple[float, float]]]:
    allowed: dict[int, list[str]] = {}
    windows: dict[int, tuple[float, float]] = {}
    for constraint in instance.get("constraints", []):
        if constraint["kind"] == "assignment":
            for item in constraint.get("items", []):
                allowed[int(item["node"])] = list(item["types"])
        elif constraint["kind"] == "timewindow":
            for item in constraint.get("items", []):
                windows[int(item["node"])] = (float(item["start"]), float(item["end"]))
    return allowed, windows


def _matrix(instance: Mapping[str, Any], agent_type: str) -> Sequence[Sequence[float]]:
    costs = instance.get("costs", {})
    if isinstance(costs, list):
        # An array of matrices is stored under the decimal text of each index.
        costs = {str(k): m for k, m in enumerate(costs)}
    return costs.get(agent_type, [])


def _arc(
    instance: Mapping[str, Any],
    matrix: Sequence[Sequence[float]],
    agent_type: str,
    u: int,
    v: int,
    no_arc_at: float | None,
) -> str | None:
    """Why the instance does not give the move u -> v (None when it does): no matrix for
    the type, no entry, or a cost the search reads as "no arc"."""
    nodes = instance["nodes"]
    move = f"moves from node {nodes[u]['id']} to node {nodes[v]['id']}"
    if not matrix:
        return f"{move}, but type {agent_type!r} has no cost matrix"
    if u >= len(matrix) or v >= len(matrix[u]):
        return f"{move}, an arc the cost matrix of type {agent_type!r} does not give"
    cost = float(matrix[u][v])
    if no_arc_at is not None and cost >= no_arc_at:
        return f"{move} at cost {cost:g}, which the focal search reads as no arc"
    return None


def _arc_problems(
    instance: Mapping[str, Any],
    agent: Mapping[str, Any],
    path: Sequence[int],
    no_arc_at: float | None,
) -> list[str]:
    """The moves of ``path`` the instance gives no cost for (the walk counts them at
    9999, as the solver does, and goes on)."""
    vertex_of = _vertex_of(instance)
    return_to_end = instance.get("options", {}).get("return_to_end", True)
    ends = (vertex_of[int(agent["start_node"])], vertex_of[int(agent["end_node"])])
    matrix = _matrix(instance, agent["type"])
    problems = []
    for u, v in itertools.pairwise(path):
        if u != v and (return_to_end or v not in ends):
            problem = _arc(instance, matrix, agent["type"], u, v, no_arc_at)
            if problem is not None:
                problems.append(problem)
    return problems


def _walk(
    instance: Mapping[str, Any], agent: Mapping[str, Any], path: Sequence[int]
) -> tuple[float, str | None]:
    """The duration of ``path`` and the first rule it breaks (None when feasible)."""
    vertex_of = _vertex_of(instance)
    _, windows = _constraints(instance)
    return_to_end = instance.get("options", {}).get("return_to_end", True)
    matrix = _matrix(instance, agent["type"])
    start = vertex_of[int(agent["start_node"])]
    end = vertex_of[int(agent["end_node"])]
    limit = float(agent.get("max_length", 0))
    t = 0.0
    for k, v in enumerate(path):
        if k > 0:
            u = path[k - 1]
            # With return_to_end off, the closing move back to the start or end is free.
            free_close = not return_to_end and v in (start, end)
            if u != v and not free_close:
                t += matrix[u][v] if u < len(matrix) and v < len(matrix[u]) else NO_ARC
        # Every vertex's window holds, the first one's included: the agent leaves its
        # start at time 0, or when the start's window opens, whichever is later.
        node_id = int(instance["nodes"][v]["id"])
        if node_id in windows:
            open_at, close_at = windows[node_id]
            if t > close_at + 1e-9:
                return math.nan, (
                    f"reaches node {node_id} at {t:g}, after its window closes at {close_at:g}"
                )
            t = max(t, open_at)
        if k > 0 and limit > 0 and t > limit + 1e-9:
            return math.nan, f"exceeds its max_length {limit:g} at node {node_id} ({t:g})"
    return t, None


def route_duration(
    instance: Mapping[str, Any], agent: Mapping[str, Any], path: Sequence[int]
) -> float:
    """Duration of ``path`` for ``agent``: travel and waiting at windows (at the start
    too: the clock starts at 0 and waits there for the start's window to open), the
    closing move free when ``return_to_end`` is off; NaN when a window or the agent's
    limit breaks."""
    return _walk(instance, agent, path)[0]


def _from_focal_search(result: Mapping[str, Any]) -> bool:
    # The improvement engine names the phase that found the best solution; the focal
    # search alone does not.
    return not result.get("statistics", {}).get("best_phase")


def check_solution(
    instance: Mapping[str, Any], result: Any, *, focal_search: bool | None = None
) -> list[str]:
    """The problems of ``result`` as a solution of ``instance``; empty when it is valid.

    A valid result has "status" "success", one route per agent in the instance's agent
    order, each starting at its agent's start node and ending at its end node (or back
    at the start when ``return_to_end`` is off), only nodes that allow the agent's type,
    every window and ``max_length`` kept, every target served exactly once, only moves
    the instance gives a cost for, and a "cost" per route and "max_cost"/"sum_cost"
    statistics equal to the recomputed durations. For a result of the focal search
    alone (no "best_phase" in its statistics), which reads a cost of 9999 or more as
    "no arc", a move at such a cost is a problem too; for the improvement engine's it
    is a real cost. ``focal_search`` says which of the two the result comes from where
    its statistics cannot (say, another solver's routes put in this shape): False for
    any solver that reads every given cost as real.

    Parameters
    ----------
    instance
        The instance as a JSON-format dict (as :func:`zelk.formats.load_instance` gives).
    result
        The dict returned by :func:`zelk.solve_json_str` or :func:`zelk.solve_json_file`,
        or a :class:`zelk.Solution`.
    """
    if hasattr(result, "to_dict"):
        result = result.to_dict()
    if result.get("status") != "success":
        return [f'status is {result.get("status")!r}, not "success": no solution to check']
    problems: list[str] = []
    nodes = instance["nodes"]
    vertex_of = _vertex_of(instance)
    allowed, _ = _constraints(instance)
    return_to_end = instance.get("options", {}).get("return_to_end", True)
    agents = instance["agents"]
    routes = result.get("routes", [])
    if [r.get("agent_id") for r in routes] != [int(a["id"]) for a in agents]:
        problems.append(
            f"routes are for agents {[r.get('agent_id') for r in routes]}, "
            f"the instance has agents {[int(a['id']) for a in agents]}"
        )
    depots: set[int] = set()
    for agent in agents:
        depots.add(vertex_of[int(agent["start_node"])])
        depots.add(vertex_of[int(agent["end_node"])])
    served = [0] * len(nodes)
    if focal_search is None:
        focal_search = _from_focal_search(result)
    no_arc_at = NO_ARC if focal_search else None
    # Agents that share an id share one type, the last one's, as in the solver.
    type_of = {int(agent["id"]): agent["type"] for agent in agents}
    for agent, route in zip(agents, routes):
        agent = {**agent, "type": type_of[int(agent["id"])]}
        who = f"agent {agent['id']}"
        path = list(route.get("path", []))
        bad = [v for v in path if not (isinstance(v, int) and 0 <= v < len(nodes))]
        if bad:
            problems.append(f"{who}: path holds vertices outside the instance: {bad}")
            continue
        start = vertex_of[int(agent["start_node"])]
        end = vertex_of[int(agent["end_node"])]
        if not path or path[0] != start:
            problems.append(f"{who}: path {path} does not start at its start vertex {start}")
            continue
        if not (path[-1] == end or (not return_to_end and path[-1] == start)):
            problems.append(f"{who}: path ends at vertex {path[-1]}, not at its end vertex {end}")
        for v in path[1:]:
            node_id = int(nodes[v]["id"])
            if node_id in allowed and agent["type"] not in allowed[node_id]:
                problems.append(
                    f"{who}: node {node_id} does not allow agent type {agent['type']!r}"
                )
            if v not in depots:
                served[v] += 1
        problems += [f"{who}: route {p}" for p in _arc_problems(instance, agent, path, no_arc_at)]
        duration, broken = _walk(instance, agent, path)
        if broken is not None:
            problems.append(f"{who}: route {broken}")
        elif not math.isclose(
            route.get("cost", math.nan), duration, rel_tol=_REL_TOL, abs_tol=_ABS_TOL
        ):
            problems.append(
                f"{who}: reported cost {route.get('cost')} but the route takes {duration}"
            )
    for v, count in enumerate(served):
        if v not in depots and count != 1:
            problems.append(f"node {nodes[v]['id']} (vertex {v}) is served {count} times")
    costs = [r.get("cost", 0.0) for r in routes]
    stats = result.get("statistics", {})
    for key, expected in (("max_cost", max(costs, default=0.0)), ("sum_cost", sum(costs))):
        if not math.isclose(stats.get(key, math.nan), expected, rel_tol=_REL_TOL, abs_tol=1e-9):
            problems.append(f"statistics {key} is {stats.get(key)}, the routes give {expected}")
    return problems
