"""VRPLIB files: CVRP and VRPTW instances in, solutions (``.sol``) out.

Instances are parsed by the ``vrplib`` package (``pip install 'zelk[vrplib]'``) and
turned into the JSON instance: the file's nodes in order (ids as the file numbers
them), ``DEMAND_SECTION`` as demands (one or several dimensions), ``CAPACITY`` for
every vehicle, ``TIME_WINDOW_SECTION`` as windows, ``SERVICE_TIME_SECTION`` (or a
single ``SERVICE_TIME``) as service durations, the first ``DEPOT_SECTION`` node as
every vehicle's start and end, and the travel costs from coordinates or from explicit
weights. The number of vehicles is the caller's, else ``VEHICLES``, else the ``-kN``
of names such as ``X-n101-k25``, else the fewest whose capacity holds the total demand,
plus one. The objective is the sum of the routes, as VRPLIB's published values are.

Euclidean distances (``EUC_2D``) are rounded to the nearest integer, as TSPLIB defines
them and CVRPLIB's published values use; ``distances="exact"`` keeps them unrounded.

A solution is written as VRPLIB writes one: ``Route #k:`` with the route's targets as
vertices (positions in the node list, the depot first being 0), then ``Cost``.
"""

from __future__ import annotations

import math
import re
from collections.abc import Mapping
from pathlib import Path
from typing import Any

from zelk.formats import AGENT_TYPE, NODE_LIMIT, FormatError, nint

__all__ = ["vrplib_to_instance", "write_vrplib_solution", "is_vrplib"]

_ROUTING_TYPES = ("CVRP", "VRPTW", "CVRPTW")


def is_vrplib(text: str) -> bool:
    """Whether ``text`` is a VRPLIB routing instance rather than a TSPLIB tour one."""
    kind = re.search(r"^\s*TYPE\s*:\s*(\S+)", text, re.MULTILINE)
    if kind is not None:
        return kind.group(1).upper() in _ROUTING_TYPES
    return re.search(r"^\s*DEMAND_SECTION", text, re.MULTILINE) is not None


def _vrplib() -> Any:
    try:
        import vrplib
    except ImportError:
        raise FormatError(
            "reading VRPLIB files needs the vrplib package: pip install 'zelk[vrplib]'"
        ) from None
    return vrplib


def _agents(data: Mapping[str, Any], demands: list[list[float]], capacity: list[float]) -> int:
    if "vehicles" in data:
        return int(data["vehicles"])
    named = re.search(r"-k(\d+)", str(data.get("name", "")))
    if named:
        return int(named.group(1))
    needed = 1
    for d, cap in enumerate(capacity):
        if cap > 0:
            total = sum(row[d] for row in demands if d < len(row))
            needed = max(needed, math.ceil(total / cap))
    return needed + 1


def vrplib_to_instance(
    text: str,
    *,
    agents: int | None = None,
    depot: int | None = None,
    distances: str = "nint",
    max_nodes: int | None = None,
) -> dict[str, Any]:
    """A JSON instance from VRPLIB text (see the module's description).

    Raises
    ------
    FormatError
        When the text is not a VRPLIB instance the package can read, or has more nodes
        than ``max_nodes`` (default :data:`zelk.formats.NODE_LIMIT`).
    """
    from zelk.formats import DISTANCE_MODES

    if distances not in DISTANCE_MODES:
        raise ValueError(f"distances must be one of {DISTANCE_MODES} (got {distances!r})")
    size = re.search(r"^\s*DIMENSION\s*:\s*(\d+)", text, re.MULTILINE)
    limit = NODE_LIMIT if max_nodes is None else max_nodes
    if size is not None and int(size.group(1)) > limit:
        raise FormatError(f"DIMENSION {size.group(1)} is above the limit of {limit} nodes")
    try:
        data = _vrplib().parse.parse_vrplib(text)
    except (ValueError, KeyError, IndexError, TypeError) as error:
        raise FormatError(f"not a VRPLIB instance vrplib can read: {error}") from None
    if "edge_weight" not in data:
        raise FormatError("the VRPLIB file gives neither coordinates nor edge weights")
    weights = [[float(w) for w in row] for row in data["edge_weight"]]
    n = len(weights)
    if n > limit:
        raise FormatError(f"{n} nodes is above the limit of {limit} nodes")
    if distances == "nint" and data.get("edge_weight_type") == "EUC_2D":
        weights = [[float(nint(w)) for w in row] for row in weights]
    ids = list(range(1, n + 1))
    depots = [int(v) + 1 for v in data.get("depot", [0])]  # vrplib counts from 0
    depot_id = depot if depot is not None else (depots[0] if depots else 1)
    if depot_id not in ids:
        raise ValueError(f"depot {depot_id} is not a node id of the instance")
    demands = [_row(value) for value in data.get("demand", [0] * n)]
    capacity = _row(data.get("capacity", 0))
    coords = data.get("node_coord")
    windows = data.get("time_window")
    service = data.get("service_time", 0)
    nodes = []
    for v, node_id in enumerate(ids):
        x, y = (float(coords[v][0]), float(coords[v][1])) if coords is not None else (0.0, 0.0)
        node: dict[str, Any] = {"id": node_id, "x": x, "y": y, "z": 0.0}
        node["type"] = "DEPOT" if node_id == depot_id else "TARGET"
        if node_id != depot_id:
            if any(demands[v]):
                node["demand"] = demands[v][0] if len(demands[v]) == 1 else demands[v]
            duration = float(service[v]) if hasattr(service, "__len__") else float(service)
            if duration:
                node["service"] = duration
        nodes.append(node)
    count = agents if agents is not None else _agents(data, demands, capacity)
    if count < 1:
        raise ValueError(f"agents must be at least 1 (got {count})")
    agent_capacity: Any = capacity[0] if len(capacity) == 1 else capacity
    constraints: list[dict[str, Any]] = [
        {"kind": "assignment", "items": [{"node": i, "types": [AGENT_TYPE]} for i in ids]}
    ]
    if windows is not None:
        items = [
            {"node": i, "start": float(w[0]), "end": float(w[1])} for i, w in zip(ids, windows)
        ]
        constraints.append({"kind": "timewindow", "items": items})
    return {
        "name": str(data.get("name", "")),
        "nodes": nodes,
        "agents": [
            {"id": a, "type": AGENT_TYPE, "start_node": depot_id, "end_node": depot_id}
            | ({"capacity": agent_capacity} if any(capacity) else {})
            for a in range(count)
        ],
        "costs": {AGENT_TYPE: weights},
        "constraints": constraints,
        "options": {"objective": "min_sum", "return_to_end": True},
    }


def _row(value: Any) -> list[float]:
    if hasattr(value, "tolist"):
        value = value.tolist()
    if isinstance(value, (list, tuple)):
        return [float(x) for x in value]
    return [float(value)]


def write_vrplib_solution(path: str | Path, instance: Mapping[str, Any], solution: Any) -> None:
    """Writes ``solution`` (a :class:`zelk.Solution`) as a VRPLIB ``.sol`` file: one line
    per route that serves a target, its targets as vertices, then the objective value as
    ``Cost``. ``vrplib.read_solution`` reads it back."""
    ends: set[int] = set()
    vertex_of = {int(node["id"]): v for v, node in enumerate(instance["nodes"])}
    for agent in instance["agents"]:
        ends.update((vertex_of[int(agent["start_node"])], vertex_of[int(agent["end_node"])]))
    routes = []
    for route in solution.routes:
        targets = [v for v in route.path if v not in ends]
        if targets:
            routes.append(targets)
    value = solution.objective_value
    data = None
    if value is not None:
        data = {"Cost": int(value) if float(value).is_integer() else value}
    _vrplib().write_solution(path, routes, data)
