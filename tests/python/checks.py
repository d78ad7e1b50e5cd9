"""Independent oracles for solver output: recompute everything from the instance.

Nothing here calls the solver; a wrong route, a wrong cost or a lost target shows up
as an AssertionError naming the agent and the rule broken.
"""

from __future__ import annotations

import json
import math
import random
from typing import Any

NO_ARC = 9999.0


def _vertex_of(instance: dict[str, Any]) -> dict[int, int]:
    # A later node with the same id takes the id over, as in the solver.
    return {int(node["id"]): v for v, node in enumerate(instance["nodes"])}


def _constraints(instance: dict[str, Any]) -> tuple[dict[int, list[str]], dict[int, tuple[float, float]]]:
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


def route_duration(instance: dict[str, Any], agent: dict[str, Any], path: list[int]) -> float:
    """Duration of ``path`` for ``agent``: travel, waiting at windows, the closing move
    free when ``return_to_end`` is off; NaN when a window or the agent's limit breaks."""
    vertex_of = _vertex_of(instance)
    _, windows = _constraints(instance)
    return_to_end = instance.get("options", {}).get("return_to_end", True)
    matrix = instance.get("costs", {}).get(agent["type"], [])
    start = vertex_of[int(agent["start_node"])]
    end = vertex_of[int(agent["end_node"])]
    limit = float(agent.get("max_length", 0))
    t = 0.0
    for u, v in zip(path, path[1:]):
        free_close = not return_to_end and v in (start, end)
        if u != v and not free_close:
            t += matrix[u][v] if u < len(matrix) and v < len(matrix[u]) else NO_ARC
        node_id = int(instance["nodes"][v]["id"])
        if node_id in windows:
            open_at, close_at = windows[node_id]
            if t > close_at + 1e-9:
                return math.nan
            t = max(t, open_at)
        if limit > 0 and t > limit + 1e-9:
            return math.nan
    return t


def check_solution(instance: dict[str, Any], result: dict[str, Any]) -> None:
    """Asserts that a "success" result is a complete, feasible solution of ``instance``
    whose reported costs and statistics match the recomputed ones."""
    assert result["status"] == "success", result
    vertex_of = _vertex_of(instance)
    allowed, _ = _constraints(instance)
    return_to_end = instance.get("options", {}).get("return_to_end", True)
    agents = instance["agents"]
    routes = result["routes"]
    assert [r["agent_id"] for r in routes] == [int(a["id"]) for a in agents]
    depots = set()
    for agent in agents:
        depots.add(vertex_of[int(agent["start_node"])])
        depots.add(vertex_of[int(agent["end_node"])])
    served = [0] * len(instance["nodes"])
    for agent, route in zip(agents, routes):
        path = route["path"]
        start = vertex_of[int(agent["start_node"])]
        end = vertex_of[int(agent["end_node"])]
        assert path and path[0] == start, (agent, path)
        assert path[-1] == end or (not return_to_end and path[-1] == start), (agent, path)
        for v in path[1:]:
            node_id = int(instance["nodes"][v]["id"])
            if node_id in allowed:
                assert agent["type"] in allowed[node_id], (agent, v)
            if v not in depots:
                served[v] += 1
        duration = route_duration(instance, agent, path)
        assert not math.isnan(duration), f"route breaks a window or the limit: {agent} {path}"
        assert math.isclose(route["cost"], duration, rel_tol=1e-9, abs_tol=1e-6), (
            agent,
            path,
            route["cost"],
            duration,
        )
    for v, count in enumerate(served):
        if v not in depots:
            assert count == 1, f"vertex {v} served {count} times"
    costs = [r["cost"] for r in routes]
    stats = result["statistics"]
    assert math.isclose(stats["max_cost"], max(costs, default=0.0), abs_tol=1e-9)
    assert math.isclose(stats["sum_cost"], sum(costs), abs_tol=1e-9)


def random_instance(
    rng: random.Random,
    n: int,
    m: int,
    *,
    two_types: bool = False,
    windows: bool = False,
    limits: bool = False,
    return_to_end: bool = True,
    objective: str = "min_max",
    time_limit: float = 1.0,
) -> dict[str, Any]:
    """A random Euclidean instance: node 0 is the depot of every agent; ids = vertices.
    Every node lists its allowed types, so the solver prints no warning per node."""
    points = [(rng.uniform(0, 100), rng.uniform(0, 100)) for _ in range(n)]
    nodes = [
        {"id": i, "x": x, "y": y, "z": 0.0, "type": "DEPOT" if i == 0 else "TARGET"}
        for i, (x, y) in enumerate(points)
    ]
    types = ["car", "bike"] if two_types and m > 1 else ["car"]
    agents = []
    for a in range(m):
        agent = {"id": a, "type": types[a % len(types)], "start_node": 0, "end_node": 0}
        if limits:
            agent["max_length"] = 400
        agents.append(agent)
    dist = [[math.dist(p, q) for q in points] for p in points]
    costs = {t: [[d * (1.0 + 0.5 * k) for d in row] for row in dist] for k, t in enumerate(types)}
    items = []
    for i in range(n):
        if i > 0 and len(types) > 1 and rng.random() < 0.3:
            items.append({"node": i, "types": [rng.choice(types)]})
        else:
            items.append({"node": i, "types": list(types)})
    constraints: list[dict[str, Any]] = [{"kind": "assignment", "items": items}]
    if windows:
        window_items = []
        for i in range(1, n):
            if rng.random() < 0.4:
                open_at = rng.uniform(0, 150)
                window_items.append({"node": i, "start": open_at, "end": open_at + rng.uniform(100, 400)})
        constraints.append({"kind": "timewindow", "items": window_items})
    return {
        "nodes": nodes,
        "agents": agents,
        "costs": costs,
        "constraints": constraints,
        "options": {"return_to_end": return_to_end, "objective": objective, "time_limit": time_limit},
    }


def dumps(instance: dict[str, Any]) -> str:
    return json.dumps(instance)
