"""Benchmark sets with real-fleet fields: capacities (one or two dimensions), service
durations, several windows per target, optional targets with penalties, and instances
that are infeasible on purpose. Every set is seeded or read from a published file, so
a regeneration gives the same instances.

- ``fleet-solomon-minsum`` / ``-minmax``: Solomon C101, R101 and RC101 at 25, 50 and 100
  customers: the file's demands, service times, windows and vehicle count (25), capacity
  200, exact Euclidean travel.
- ``fleet-cvrp-minsum`` / ``-minmax``: 100, 200 and 500 customers, uniform or clustered
  in a 1000 x 1000 square, demands 1..10, the capacity chosen for about 8, 15 and 30
  routes, a quarter more vehicles than that.
- ``fleet-mixed-minsum`` / ``-minmax``: 50, 100 and 200 targets with everything at
  once: two load dimensions, service 5..15, two windows on a quarter of the targets (one
  on another quarter), a fifth of the targets optional with a penalty of one to three
  times their distance from the depot there and back.
- ``fleet-infeasible``: 200 uniform targets, capacity and a route limit, with one target
  beyond the route limit ("limit"), one whose window closes before any agent can
  arrive ("window"), one heavier than every vehicle ("capacity"), and all three at
  once; the expected reasons are stored under ``"expected_reasons"``.
"""

from __future__ import annotations

import math
import random
from collections.abc import Callable, Iterator
from pathlib import Path
from typing import Any

Instance = dict[str, Any]
Maker = Iterator[tuple[str, Callable[[], Instance]]]

VEHICLE = "vehicle"
SOLOMON_FILES = ["C101", "R101", "RC101"]
SOLOMON_SIZES = [25, 50, 100]
SOLOMON_CAPACITY = 200
# (customers, routes aimed at) of the generated CVRP set.
CVRP_CASES = [(100, 8), (200, 15), (500, 30)]
MIXED_SIZES = [50, 100, 200]
INFEASIBLE_TARGETS = 200


def _matrix(points: list[tuple[float, float]]) -> list[list[float]]:
    return [[math.dist(p, q) for q in points] for p in points]


def _instance(
    points: list[tuple[float, float]],
    agents: list[dict[str, Any]],
    objective: str,
    *,
    targets: dict[int, dict[str, Any]] | None = None,
    windows: list[dict[str, Any]] | None = None,
) -> Instance:
    """Depot 0; ``targets`` adds fields (demand, service, required, penalty) per vertex."""
    nodes = []
    for i, (x, y) in enumerate(points):
        node = {"id": i, "x": x, "y": y, "z": 0.0, "type": "DEPOT" if i == 0 else "TARGET"}
        node.update((targets or {}).get(i, {}))
        nodes.append(node)
    constraints: list[dict[str, Any]] = [
        {"kind": "assignment", "items": [{"node": i, "types": [VEHICLE]} for i in range(len(points))]}
    ]
    if windows:
        constraints.append({"kind": "timewindow", "items": windows})
    return {
        "nodes": nodes,
        "agents": [{"id": a, "type": VEHICLE, "start_node": 0, "end_node": 0, **agent}
                   for a, agent in enumerate(agents)],  # fmt: skip
        "costs": {VEHICLE: _matrix(points)},
        "constraints": constraints,
        "options": {"return_to_end": True, "objective": objective, "time_limit": 5.0},
    }


def solomon_fleet(data: Path, customers: int, name: str, objective: str) -> Instance:
    rows = []
    for raw in (data / "solomon" / str(customers) / f"{name}.txt").read_text().splitlines():
        fields = raw.split()
        if len(fields) == 7 and all(f.lstrip("-").isdigit() for f in fields):
            rows.append([float(f) for f in fields])
    points = [(r[1], r[2]) for r in rows]
    targets = {i: {"demand": r[3], "service": r[6]} for i, r in enumerate(rows) if i > 0}
    windows = [{"node": i, "start": r[4], "end": r[5]} for i, r in enumerate(rows)]
    agents = [{"capacity": SOLOMON_CAPACITY} for _ in range(25)]
    return _instance(points, agents, objective, targets=targets, windows=windows)


def _points(rng: random.Random, n: int, clustered: bool) -> list[tuple[float, float]]:
    """Depot in the middle; customers uniform, or around 8 seeds (spread 60)."""
    points = [(500.0, 500.0)]
    centres = [(rng.uniform(100, 900), rng.uniform(100, 900)) for _ in range(8)]
    for _ in range(n):
        if clustered:
            cx, cy = rng.choice(centres)
            x, y = rng.gauss(cx, 60), rng.gauss(cy, 60)
            points.append((min(max(x, 0.0), 1000.0), min(max(y, 0.0), 1000.0)))
        else:
            points.append((rng.uniform(0, 1000), rng.uniform(0, 1000)))
    return points


def cvrp(n: int, routes: int, clustered: bool, objective: str, seed: int) -> Instance:
    rng = random.Random(seed)
    points = _points(rng, n, clustered)
    demands = [rng.randint(1, 10) for _ in range(n)]
    capacity = math.ceil(sum(demands) / routes)
    targets = {i + 1: {"demand": d} for i, d in enumerate(demands)}
    agents = [{"capacity": capacity} for _ in range(math.ceil(1.25 * routes))]
    return _instance(points, agents, objective, targets=targets)


def mixed(n: int, objective: str, seed: int) -> Instance:
    rng = random.Random(seed)
    points = _points(rng, n, clustered=rng.random() < 0.5)
    dist = _matrix(points)
    m = max(3, n // 12)
    targets: dict[int, dict[str, Any]] = {}
    windows: list[dict[str, Any]] = []
    horizon = 4000.0
    for i in range(1, n + 1):
        fields: dict[str, Any] = {
            "demand": [rng.randint(1, 10), rng.randint(0, 3)],
            "service": float(rng.randint(5, 15)),
        }
        if rng.random() < 0.2:
            fields["required"] = False
            fields["penalty"] = round(rng.uniform(1, 3) * 2 * dist[0][i], 1)
        targets[i] = fields
        r = rng.random()
        reach = dist[0][i]
        if r < 0.25:
            first = rng.uniform(reach, 1500)
            later = first + rng.uniform(600, 1200)
            windows += [{"node": i, "start": first, "end": first + 250},
                        {"node": i, "start": later, "end": later + 250}]  # fmt: skip
        elif r < 0.5:
            start = rng.uniform(reach, 2500)
            windows.append({"node": i, "start": start, "end": start + 400})
    windows.append({"node": 0, "start": 0.0, "end": horizon})
    load = sum(f["demand"][0] for f in targets.values())
    agents = [{"capacity": [math.ceil(1.3 * load / m), 3 * n // m]} for _ in range(m)]
    return _instance(points, agents, objective, targets=targets, windows=windows)


def infeasible(kind: str, seed: int = 4242) -> Instance:
    """200 uniform targets, capacity 60 and a route limit of 3000 for 12 vehicles; one
    target (or three, for "all") made impossible to serve."""
    rng = random.Random(seed)
    points = _points(rng, INFEASIBLE_TARGETS, clustered=False)
    targets = {i: {"demand": rng.randint(1, 5)} for i in range(1, len(points))}
    agents = [{"capacity": 60, "max_length": 3000} for _ in range(12)]
    windows: list[dict[str, Any]] = []
    expected: dict[int, str] = {}
    if kind in ("limit", "all"):
        points[1] = (500.0, 500.0 + 1600.0)  # 3200 there and back
        expected[1] = "limit"
    if kind in ("window", "all"):
        points[2] = (900.0, 900.0)  # 565.7 from the depot; closes at 100
        windows.append({"node": 2, "start": 0, "end": 100})
        expected[2] = "window"
    if kind in ("capacity", "all"):
        targets[3]["demand"] = 61
        expected[3] = "capacity"
    instance = _instance(points, agents, "min_sum", targets=targets, windows=windows or None)
    instance["expected_reasons"] = expected
    return instance


def _solomon(data: Path, objective: str) -> Maker:
    for customers in SOLOMON_SIZES:
        for name in SOLOMON_FILES:
            yield (f"{name}-{customers}",
                   lambda c=customers, f=name: solomon_fleet(data, c, f, objective))  # fmt: skip


def _cvrp(objective: str) -> Maker:
    for n, routes in CVRP_CASES:
        for clustered in (False, True):
            shape = "clustered" if clustered else "uniform"
            seed = 9000 + n + (1 if clustered else 0)
            yield (f"cvrp{n}-{shape}",
                   lambda n=n, r=routes, c=clustered, s=seed: cvrp(n, r, c, objective, s))  # fmt: skip


def _mixed(objective: str) -> Maker:
    for n in MIXED_SIZES:
        yield f"mixed{n}", lambda n=n: mixed(n, objective, seed=5000 + n)


def _infeasible() -> Maker:
    for kind in ("limit", "window", "capacity", "all"):
        yield f"infeasible-{kind}", lambda k=kind: infeasible(k)


FLEET_SETS: dict[str, tuple[str, Callable[[Path], Maker]]] = {}
for _objective in ("min_sum", "min_max"):
    _suffix = _objective.replace("_", "")
    FLEET_SETS[f"fleet-solomon-{_suffix}"] = (
        f"Solomon C101/R101/RC101 at 25/50/100, capacity 200, service, {_objective}",
        lambda d, o=_objective: _solomon(d, o),
    )
    FLEET_SETS[f"fleet-cvrp-{_suffix}"] = (
        f"generated CVRP, 100/200/500 customers, uniform and clustered, {_objective}",
        lambda _d, o=_objective: _cvrp(o),
    )
    FLEET_SETS[f"fleet-mixed-{_suffix}"] = (
        "two load dimensions, service, two windows on a quarter of the targets, a fifth "
        f"optional, {_objective}",
        lambda _d, o=_objective: _mixed(o),
    )
FLEET_SETS["fleet-infeasible"] = (
    "200 targets, one (or three) impossible on purpose: limit, window, capacity, all",
    lambda _d: _infeasible(),
)
