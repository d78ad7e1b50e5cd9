"""PyVRP's model of a benchmark instance, and the child-side run that solves it on a
processor-time budget.

The model minimises what zelk's min-sum minimises: the sum of the routes' durations
(travel, waiting at windows, service) plus the penalties of the optional targets left
out. Every agent is a vehicle type of its own (one vehicle, its start and end depot, its
capacities, its route limit as the shift duration) that must leave at time 0
(``start_late=0``), so that waiting for a first window counts in the duration as it
does in zelk's clock; distance costs nothing (``unit_distance_cost=0``) and every unit
of duration costs one (``unit_duration_cost=1``). A target is a client with its demand
per dimension (a capacity of 0, no limit in zelk, is the total demand here), service
duration and window; a target with several windows is one client per window in a
mutually exclusive group, which is required unless the target is optional; an optional
target is a client that is not required, whose prize is its penalty (PyVRP adds the
prizes of the clients it leaves out to the cost; an optional target with several
windows gives each of its clients the prize, so leaving it out costs one penalty more
than serving it, as in zelk, on top of a constant). PyVRP has no min-max objective.

PyVRP works on integers: times are scaled by ``SCALE`` and rounded up, so a plan
feasible in integers is feasible in floating point too; the routes are re-costed with
the checker's rules before they count. The budget is processor time: a stopping
criterion reads ``time.process_time``, as the OR-Tools run does.
"""

from __future__ import annotations

import math
import time
from typing import Any

from ortools_model import peak_rss_mb, result_of

SCALE = 1000


class ProcessTime:
    """Stops PyVRP's search once it has used ``budget`` seconds of processor time."""

    def __init__(self, budget: float) -> None:
        self.budget = budget
        self.start = time.process_time()

    def __call__(self, best_cost: float) -> bool:
        return time.process_time() - self.start > self.budget


def _amounts(value: Any) -> list[float]:
    if value is None or isinstance(value, bool):
        return []
    return [float(x) for x in value] if isinstance(value, list) else [float(value)]


def build_data(instance: dict[str, Any]) -> tuple[Any, list[int]]:
    """PyVRP's ProblemData for ``instance`` (a location per vertex) and, per client,
    its vertex."""
    import numpy as np
    from pyvrp import Client, ClientGroup, Depot, Location, ProblemData, VehicleType

    nodes, agents = instance["nodes"], instance["agents"]
    if len({a["type"] for a in agents}) != 1:
        raise ValueError("the PyVRP model takes one agent type")
    matrix = instance["costs"][agents[0]["type"]]
    vertex_of = {int(node["id"]): v for v, node in enumerate(nodes)}
    depot_vertices = list(dict.fromkeys(
        vertex_of[int(a[k])] for a in agents for k in ("start_node", "end_node")))  # fmt: skip
    windows: dict[int, list[tuple[float, float]]] = {}
    for constraint in instance.get("constraints", []):
        if constraint["kind"] == "timewindow":
            for item in constraint["items"]:
                v = vertex_of[int(item["node"])]
                windows.setdefault(v, []).append((float(item["start"]), float(item["end"])))
    dims = max((len(_amounts(x.get(k))) for x in nodes + agents for k in ("demand", "capacity")),
               default=0)  # fmt: skip
    demand = [(_amounts(node.get("demand")) + [0.0] * dims)[:dims] for node in nodes]
    total = [sum(row[d] for row in demand) for d in range(dims)]

    def up(x: float) -> int:
        return math.ceil(x * SCALE - 1e-9)

    depots = []
    for v in depot_vertices:
        spans = windows.get(v, [(0.0, math.inf)])
        late = max(e for _, e in spans)
        depots.append(Depot(location=v, tw_early=up(min(s for s, _ in spans)),
                            tw_late=math.floor(late * SCALE) if late < math.inf else 2**62))  # fmt: skip
    client_vertex: list[int] = []
    clients, groups = [], []
    for v, node in enumerate(nodes):
        if v in depot_vertices:
            continue
        required = node.get("required", True) is not False
        prize = round(float(node.get("penalty", 0) or 0) * SCALE) if not required else 0
        spans = _merge(windows.get(v, [(0.0, math.inf)]))
        group = None
        if len(spans) > 1:
            group = len(groups)
            members = list(range(len(clients), len(clients) + len(spans)))
            groups.append(ClientGroup(members, required=required))
        for start, end in spans:
            clients.append(Client(
                location=v,
                delivery=[round(x) for x in demand[v]],
                service_duration=up(float(node.get("service", 0) or 0)),
                tw_early=up(start),
                tw_late=math.floor(end * SCALE) if end < math.inf else 2**62,
                prize=prize, required=required and group is None, group=group,
            ))  # fmt: skip
            client_vertex.append(v)
    vehicle_types = []
    for agent in agents:
        caps = (_amounts(agent.get("capacity")) + [0.0] * dims)[:dims]
        caps = [round(c) if c > 0 else round(total[d]) + 1 for d, c in enumerate(caps)]
        limit = float(agent.get("max_length", 0) or 0)
        vehicle_types.append(VehicleType(
            num_available=1, capacity=caps,
            start_depot=depot_vertices.index(vertex_of[int(agent["start_node"])]),
            end_depot=depot_vertices.index(vertex_of[int(agent["end_node"])]),
            shift_duration=math.floor(limit * SCALE) if limit > 0 else 2**62,
            unit_distance_cost=0, unit_duration_cost=1, start_late=0,
        ))  # fmt: skip
    times = np.array([[up(float(cost)) if u != w else 0 for w, cost in enumerate(row)]
                      for u, row in enumerate(matrix)], dtype=np.int64)  # fmt: skip
    places = [Location(float(node["x"]), float(node["y"])) for node in nodes]
    data = ProblemData(locations=places, clients=clients, depots=depots,
                       vehicle_types=vehicle_types,
                       distance_matrices=[np.zeros_like(times)], duration_matrices=[times],
                       groups=groups)  # fmt: skip
    return data, client_vertex


def _merge(spans: list[tuple[float, float]]) -> list[tuple[float, float]]:
    out: list[tuple[float, float]] = []
    for start, end in sorted(spans):
        if out and start <= out[-1][1]:
            out[-1] = (out[-1][0], max(out[-1][1], end))
        else:
            out.append((start, end))
    return out


def run(instance: dict[str, Any], budget: float) -> dict[str, Any]:
    """Solves ``instance`` for ``budget`` processor seconds (building the data
    excluded) and returns the record the comparison stores."""
    from importlib.metadata import version

    import pyvrp

    if (instance.get("options") or {}).get("objective") in ("min_max", "MIN_MAX"):
        return {"error": "PyVRP has no min-max objective"}
    rss_before = peak_rss_mb()
    build0 = time.process_time()
    data, client_vertex = build_data(instance)
    build_cpu = time.process_time() - build0
    cpu0, wall0 = time.process_time(), time.perf_counter()
    outcome = pyvrp.solve(data, stop=ProcessTime(budget), seed=0, display=False)
    record: dict[str, Any] = {
        "solve_time_cpu": time.process_time() - cpu0,
        "solve_time_wall": time.perf_counter() - wall0,
        "build_time_cpu": build_cpu,
        "rss_before_mb": rss_before,
        "version": version("pyvrp"),
        "setting": "duration cost, start at 0",
    }
    best = outcome.best
    if not best.is_feasible():
        record["result"] = {"status": "failed", "routes": [], "statistics": {}}
        return record
    vertex_of = {int(node["id"]): v for v, node in enumerate(instance["nodes"])}
    routes = [[vertex_of[int(a["start_node"])], vertex_of[int(a["end_node"])]]
              for a in instance["agents"]]  # fmt: skip
    for route in best.routes():
        visits = [client_vertex[_index(a)] for a in route if _is_client(a)]
        routes[route.vehicle_type()][1:-1] = visits
    record["result"] = result_of(instance, routes)
    return record


def _is_client(activity: Any) -> bool:
    flag = activity.is_client
    return bool(flag() if callable(flag) else flag)


def _index(activity: Any) -> int:
    """The client's index among the clients."""
    idx = activity.idx
    return int(idx() if callable(idx) else idx)
