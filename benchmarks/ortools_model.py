"""The routing model of OR-Tools for a benchmark instance, under a few standard settings,
and the child-side run that solves it on a processor-time budget.

OR-Tools works on integers. Legs enter the model's dimension scaled by ``SCALE`` and
rounded up, so a plan that is feasible in integers is feasible in floating point too
(every leg is at least as long as the real one); its routes are re-costed with the
checker's rules before they count.

The settings (``SETTINGS``) differ in what the arcs cost, how much the longest route
weighs, and the first-solution strategy; ``CANDIDATES`` lists the ones tried per set and
``CHOSEN`` the one the comparison uses (see the "OR-Tools settings" part of RESULTS.md
for the measurements behind the choice).

Fleet fields: each load dimension is a capacity dimension (capacity 0 is none); a
target's service duration is added to the moves out of it in the time dimension (so a
node's cumul is its start of service); several windows are the range from the first
opening to the last closing with the gaps removed; an optional target is a disjunction
whose penalty is its own, in the objective's units. Min-sum of durations charges each
route's span (waiting and service included) with the arc cost as a tie-breaker
("fleet-sum-*"); min-max the global span. A required target that no plan can serve is
dropped at a prohibitive price; such a plan is reported with it as unserved.
"""

from __future__ import annotations

import math
import resource
import time
from dataclasses import dataclass
from pathlib import Path
from typing import Any

try:
    from zelk.check import NO_ARC, route_duration
except ImportError:  # a package without its checker: the test suite's copy
    from checks import NO_ARC, route_duration  # type: ignore[no-redef]

SCALE = 1000
UNBOUNDED = 10**12


@dataclass(frozen=True)
class Setting:
    # "unit": an arc costs its leg rounded to an integer (a tie-breaker under min-max);
    # "scaled": SCALE times the leg, rounded.
    arc: str
    # Coefficient of the global span (the longest route) on the dimension, which holds
    # SCALE times each leg; 0 leaves it out (min-sum).
    span: int
    first: str
    meta: str = "GUIDED_LOCAL_SEARCH"
    # Coefficient of every route's span (its duration, waiting and service included) on
    # the dimension; the min-sum of durations.
    route_span: int = 0

    def describe(self) -> str:
        arc = (
            "arc cost = leg rounded to an integer"
            if self.arc == "unit"
            else f"arc cost = {SCALE} x leg"
        )
        span = (
            f"global span cost {self.span} on the {SCALE} x leg dimension"
            if self.span
            else "no span cost"
        )
        return f"{arc}; {span}; {self.first} then {self.meta}"


SETTINGS: dict[str, Setting] = {
    # The model that did best on the mTSPLib min-max set in a trial outside the project.
    "span-pci": Setting("unit", 1, "PARALLEL_CHEAPEST_INSERTION"),
    "span-pca": Setting("unit", 1, "PATH_CHEAPEST_ARC"),
    # The comparison's earlier model: the longest route weighs a hundred times the sum.
    "span100-pca": Setting("scaled", 100, "PATH_CHEAPEST_ARC"),
    "sum-pca": Setting("scaled", 0, "PATH_CHEAPEST_ARC"),
    "sum-pci": Setting("scaled", 0, "PARALLEL_CHEAPEST_INSERTION"),
    "sum-savings": Setting("scaled", 0, "SAVINGS"),
    "fleet-sum-pci": Setting("unit", 0, "PARALLEL_CHEAPEST_INSERTION", route_span=1),
    "fleet-sum-pca": Setting("unit", 0, "PATH_CHEAPEST_ARC", route_span=1),
}

_MIN_MAX = ["span-pci", "span-pca", "span100-pca"]
_MIN_SUM = ["sum-pca", "sum-pci", "sum-savings"]
CANDIDATES: dict[str, list[str]] = {
    "mtsp-minmax": _MIN_MAX,
    "mtsp-minsum": _MIN_SUM,
    "tsplib-large-minmax": _MIN_MAX,
    "tsplib-large-minsum": _MIN_SUM,
    "random": _MIN_MAX,
    "typed": _MIN_MAX,
    "solomon-tw": _MIN_MAX,
    "solomon-limit": _MIN_MAX,
    "fleet-solomon-minsum": ["fleet-sum-pci", "fleet-sum-pca"],
    "fleet-cvrp-minsum": ["fleet-sum-pci", "fleet-sum-pca"],
    "fleet-mixed-minsum": ["fleet-sum-pci", "fleet-sum-pca"],
    "fleet-solomon-minmax": ["span-pci", "span-pca"],
    "fleet-cvrp-minmax": ["span-pci", "span-pca"],
    "fleet-mixed-minmax": ["span-pci", "span-pca"],
    "fleet-infeasible": ["fleet-sum-pci"],
}
# The setting the comparison uses per set: the best of its candidates measured at 10 s
# (the "OR-Tools settings" table of RESULTS.md). Ties keep the first candidate.
CHOSEN: dict[str, str] = {
    "mtsp-minmax": "span-pca",
    "mtsp-minsum": "sum-pca",
    "tsplib-large-minmax": "span-pca",
    "tsplib-large-minsum": "sum-pci",
    "random": "span-pca",
    "typed": "span100-pca",
    "solomon-tw": "span-pci",
    "solomon-limit": "span-pci",
    # Not measured against each other: the first candidate of each.
    "fleet-solomon-minsum": "fleet-sum-pci",
    "fleet-cvrp-minsum": "fleet-sum-pci",
    "fleet-mixed-minsum": "fleet-sum-pci",
    "fleet-solomon-minmax": "span-pci",
    "fleet-cvrp-minmax": "span-pci",
    "fleet-mixed-minmax": "span-pci",
    "fleet-infeasible": "fleet-sum-pci",
}


def base_set(set_name: str) -> str:
    """The set whose settings apply: a rounded-distance variant takes its base's."""
    return set_name.removesuffix("-nint")


def objective_of(instance: dict[str, Any]) -> str:
    objective = instance.get("options", {}).get("objective", "min_sum")
    return "min_max" if objective in ("min_max", "MIN_MAX") else "min_sum"


def score(objective: str, max_cost: float, sum_cost: float) -> float:
    return max_cost if objective == "min_max" else sum_cost


def peak_rss_mb() -> float:
    """This process's peak resident memory since it started its program. Linux carries
    ru_maxrss over an exec from the image it replaced (the parent's, for a spawned
    child), so the high-water mark of the process's own memory map comes first."""
    try:
        for line in Path("/proc/self/status").read_text().splitlines():
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024.0
    except (OSError, ValueError, IndexError):
        pass
    # ru_maxrss is in KiB on Linux.
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024.0


def build_model(instance: dict[str, Any], setting: Setting) -> tuple[Any, Any, int]:
    """Routing model of ``instance``: per-type arc costs, a dimension for durations
    (windows as cumul ranges with waiting as slack, route limits as the vehicle
    capacity), allowed vehicles per node, min-max as a global span cost. Returns the
    index manager, the model and the number of targets a complete plan serves."""
    from ortools.constraint_solver import pywrapcp

    nodes = instance["nodes"]
    agents = instance["agents"]
    n, m = len(nodes), len(agents)
    vertex_of = {int(node["id"]): v for v, node in enumerate(nodes)}
    allowed: dict[int, set[str]] = {}
    spans: dict[int, list[tuple[float, float]]] = {}
    for constraint in instance.get("constraints", []):
        for item in constraint.get("items", []):
            if constraint["kind"] == "assignment":
                allowed[vertex_of[int(item["node"])]] = set(item["types"])
            elif constraint["kind"] == "timewindow":
                spans.setdefault(vertex_of[int(item["node"])], []).append(
                    (float(item["start"]), float(item["end"]))
                )
    gaps = {v: _gaps(w) for v, w in spans.items()}
    windows = {v: (min(s for s, _ in w), max(e for _, e in w)) for v, w in spans.items()}
    starts = [vertex_of[int(a["start_node"])] for a in agents]
    ends = [vertex_of[int(a["end_node"])] for a in agents]
    manager = pywrapcp.RoutingIndexManager(n, m, starts, ends)
    routing = pywrapcp.RoutingModel(manager)

    def matrix_of(agent_type: str) -> list[list[float]]:
        matrix = instance.get("costs", {}).get(agent_type, [])
        return [
            [
                matrix[i][j] if i < len(matrix) and j < len(matrix[i]) else NO_ARC
                for j in range(n)
            ]
            for i in range(n)
        ]

    arc_scale = 1 if setting.arc == "unit" else SCALE
    limits = [float(a.get("max_length", 0)) for a in agents]
    starts_ends = set(starts) | set(ends)
    service = [
        0.0 if v in starts_ends else float(node.get("service", 0) or 0)
        for v, node in enumerate(nodes)
    ]
    needs_dimension = bool(
        setting.span or setting.route_span or windows or any(x > 0 for x in limits)
        or any(service)
    )
    arc_index, time_index = {}, {}
    for agent_type in dict.fromkeys(a["type"] for a in agents):
        matrix = matrix_of(agent_type)
        arc_index[agent_type] = routing.RegisterTransitMatrix(
            [
                [0 if i == j else round(c * arc_scale) for j, c in enumerate(row)]
                for i, row in enumerate(matrix)
            ]
        )
        if needs_dimension:
            time_index[agent_type] = routing.RegisterTransitMatrix(
                [
                    [0 if i == j else math.ceil((service[i] + c) * SCALE) for j, c in enumerate(row)]
                    for i, row in enumerate(matrix)
                ]
            )
        del matrix
    for v, agent in enumerate(agents):
        routing.SetArcCostEvaluatorOfVehicle(arc_index[agent["type"]], v)

    horizon = max((end for _, end in windows.values()), default=0.0)
    if needs_dimension:
        slack = math.floor(horizon * SCALE) if windows else 0
        capacities = [math.floor(x * SCALE) if x > 0 else UNBOUNDED for x in limits]
        routing.AddDimensionWithVehicleTransitAndCapacity(
            [time_index[a["type"]] for a in agents], slack, capacities, True, "Time"
        )
        dimension = routing.GetDimensionOrDie("Time")
        for v, (open_at, close_at) in windows.items():
            low, high = math.ceil(open_at * SCALE), math.floor(close_at * SCALE)
            if v in starts or v in ends:
                for k in range(m):
                    # The start is fixed at 0; the window bounds the return.
                    if ends[k] == v:
                        dimension.CumulVar(routing.End(k)).SetRange(low, high)
            else:
                cumul = dimension.CumulVar(manager.NodeToIndex(v))
                cumul.SetRange(low, high)
                for gap_low, gap_high in gaps[v]:
                    cumul.RemoveInterval(gap_low, gap_high)
        if objective_of(instance) == "min_max":
            dimension.SetGlobalSpanCostCoefficient(max(1, setting.span))
        elif setting.route_span:
            dimension.SetSpanCostCoefficientForAllVehicles(setting.route_span)
        elif windows:
            # Min-sum of durations: waiting counts, so charge each route's span.
            dimension.SetSpanCostCoefficientForAllVehicles(1)
    _add_loads(routing, manager, instance, vertex_of)

    depots = set(starts) | set(ends)
    capacities = any(_amounts(a.get("capacity")) for a in agents)
    optional = {v for v, node in enumerate(nodes) if node.get("required", True) is False}
    if windows or any(x > 0 for x in limits) or capacities or optional:
        # Under tight windows or limits the first-solution heuristics often find no
        # complete plan; the usual remedy is to let nodes be dropped at a prohibitive
        # price, which the search then drives to zero. A plan that still drops a required
        # node is not a solution. An optional target is dropped at its own penalty, in
        # the units of the objective (SCALE per unit of time on the dimension).
        penalty = int(SCALE * 1000 * max(1.0, horizon, *limits))
        for v in range(n):
            if v in optional:
                price = round(float(nodes[v].get("penalty", 0) or 0) * SCALE)
                routing.AddDisjunction([manager.NodeToIndex(v)], price)
            elif v not in depots:
                routing.AddDisjunction([manager.NodeToIndex(v)], penalty)
    for v in range(n):
        if v in depots or v not in allowed:
            continue
        vehicles = [k for k, a in enumerate(agents) if a["type"] in allowed[v]]
        if not vehicles:
            raise ValueError(f"vertex {v} has no allowed agent")
        if len(vehicles) < m:
            index = manager.NodeToIndex(v)
            try:
                routing.SetAllowedVehiclesForIndex(vehicles, index)
            except TypeError:
                # Some wheels cannot convert a Python list to the span this call takes;
                # restricting the node's vehicle variable is the same constraint.
                routing.VehicleVar(index).SetValues(vehicles)
    return manager, routing, n - len(depots)


def _gaps(windows: list[tuple[float, float]]) -> list[tuple[int, int]]:
    """The scaled times between merged windows at which service may not start."""
    merged: list[list[float]] = []
    for start, end in sorted(windows):
        if merged and start <= merged[-1][1]:
            merged[-1][1] = max(merged[-1][1], end)
        else:
            merged.append([start, end])
    gaps = []
    for (_, end), (start, _) in zip(merged, merged[1:]):
        low, high = math.floor(end * SCALE) + 1, math.ceil(start * SCALE) - 1
        if low <= high:
            gaps.append((low, high))
    return gaps


def _amounts(value: Any) -> list[float]:
    if value is None or isinstance(value, bool):
        return []
    return [float(x) for x in value] if isinstance(value, list) else [float(value)]


def _add_loads(routing: Any, manager: Any, instance: dict[str, Any], vertex_of: Any) -> None:
    """One capacity dimension per load dimension (demands are whole numbers in the
    benchmark sets; a capacity of 0 is none)."""
    nodes, agents = instance["nodes"], instance["agents"]
    ends = {vertex_of[int(a[k])] for a in agents for k in ("start_node", "end_node")}
    demands = [[] if v in ends else _amounts(node.get("demand")) for v, node in enumerate(nodes)]
    caps = [_amounts(a.get("capacity")) for a in agents]
    for d in range(max(map(len, demands + caps), default=0)):
        column = [round(row[d]) if d < len(row) else 0 for row in demands]
        limits = [round(c[d]) if d < len(c) and c[d] > 0 else UNBOUNDED for c in caps]
        if not any(column) or all(x == UNBOUNDED for x in limits):
            continue
        index = routing.RegisterUnaryTransitVector(column)
        routing.AddDimensionWithVehicleCapacity(index, 0, limits, True, f"Load{d}")


def routes_of(manager: Any, routing: Any, value_of: Any) -> list[list[int]]:
    routes = []
    for k in range(routing.vehicles()):
        index = routing.Start(k)
        path = [manager.IndexToNode(index)]
        while not routing.IsEnd(index):
            index = value_of(routing.NextVar(index))
            path.append(manager.IndexToNode(index))
        routes.append(path)
    return routes


def true_costs(instance: dict[str, Any], routes: list[list[int]]) -> list[float]:
    return [
        route_duration(instance, agent, path)
        for agent, path in zip(instance["agents"], routes)
    ]


def run(instance: dict[str, Any], budget: float, setting_name: str) -> dict[str, Any]:
    """Solves ``instance`` for ``budget`` processor seconds (model building excluded)
    and returns the record the comparison stores."""
    import ortools
    from ortools.constraint_solver import pywrapcp, routing_enums_pb2

    setting = SETTINGS[setting_name]
    rss_before = peak_rss_mb()
    build0 = time.process_time()
    manager, routing, targets = build_model(instance, setting)
    build_cpu = time.process_time() - build0
    objective = objective_of(instance)
    anytime: list[list[Any]] = []
    best = [math.inf]
    best_internal = [math.inf]
    cpu0 = [0.0]
    callbacks = [0]

    def on_solution() -> None:
        callbacks[0] += 1
        # Re-costing walks every route in Python: do it only when the model's own
        # objective improved.
        internal = routing.CostVar().Max()
        if internal >= best_internal[0]:
            return
        best_internal[0] = internal
        routes = routes_of(manager, routing, lambda var: var.Value())
        left, penalty = unserved(instance, routes)
        if any(instance["nodes"][v].get("required", True) is not False for v in left):
            return  # a plan that still drops a required node
        costs = true_costs(instance, routes)
        if any(math.isnan(c) for c in costs):
            return
        max_cost, sum_cost = max(costs, default=0.0), sum(costs)
        value = score(objective, max_cost, sum_cost) + penalty
        if value < best[0] - 1e-9:
            best[0] = value
            anytime.append([time.process_time() - cpu0[0], max_cost, sum_cost])

    routing.AddAtSolutionCallback(on_solution)
    # The budget is processor time, as for zelk; the wall-clock limit only guards a
    # machine so loaded that the processor-time limit would take very long.
    solver = routing.solver()
    polls = [0]

    def out_of_time() -> bool:
        # Called at every search step; reading the clock every 64th call keeps the
        # Python round trip cheap.
        polls[0] += 1
        return not polls[0] & 63 and time.process_time() - cpu0[0] > budget

    routing.AddSearchMonitor(solver.CustomLimit(out_of_time))
    params = pywrapcp.DefaultRoutingSearchParameters()
    params.first_solution_strategy = getattr(
        routing_enums_pb2.FirstSolutionStrategy, setting.first
    )
    params.local_search_metaheuristic = getattr(
        routing_enums_pb2.LocalSearchMetaheuristic, setting.meta
    )
    params.time_limit.FromMilliseconds(int(1000 * (budget * 20 + 30)))
    cpu0[0] = time.process_time()
    wall0 = time.perf_counter()
    assignment = routing.SolveWithParameters(params)
    cpu = time.process_time() - cpu0[0]
    wall = time.perf_counter() - wall0
    record: dict[str, Any] = {
        "anytime": anytime,
        "solutions_seen": callbacks[0],
        "solve_time_cpu": cpu,
        "solve_time_wall": wall,
        "build_time_cpu": build_cpu,
        "rss_before_mb": rss_before,
        "version": ortools.__version__,
        "setting": setting_name,
    }
    if assignment is None:
        record["result"] = {"status": "failed", "routes": [], "statistics": {}}
        return record
    routes = routes_of(manager, routing, assignment.Value)
    record["result"] = result_of(instance, routes)
    return record


def unserved(instance: dict[str, Any], routes: list[list[int]]) -> tuple[list[int], float]:
    """The target vertices no route visits, and the penalties of the optional ones."""
    nodes = instance["nodes"]
    vertex_of = {int(node["id"]): v for v, node in enumerate(nodes)}
    ends = {vertex_of[int(a[k])] for a in instance["agents"] for k in ("start_node", "end_node")}
    visited = {v for path in routes for v in path}
    left = [v for v in range(len(nodes)) if v not in ends and v not in visited]
    penalty = sum(
        float(nodes[v].get("penalty", 0) or 0)
        for v in left
        if nodes[v].get("required", True) is False
    )
    return left, penalty


def result_of(instance: dict[str, Any], routes: list[list[int]]) -> dict[str, Any]:
    """The result dictionary of a peer's routes (vertices per agent, in agent order), its
    costs walked by the checker's rules: "infeasible" when a required target is left
    out (the peers name no reason, which the checker counts as a fault)."""
    costs = true_costs(instance, routes)
    left, penalty = unserved(instance, routes)
    nodes = instance["nodes"]
    required_left = any(nodes[v].get("required", True) is not False for v in left)
    max_cost, sum_cost = max(costs, default=0.0), sum(costs)
    return {
        "status": "infeasible" if required_left else "success",
        "routes": [
            {"agent_id": int(agent["id"]), "path": path, "cost": cost}
            for agent, path, cost in zip(instance["agents"], routes, costs)
        ],
        "statistics": {"max_cost": max_cost, "sum_cost": sum_cost},
        "unserved": [int(nodes[v]["id"]) for v in left],
        "penalty": penalty,
        "objective_value": score(objective_of(instance), max_cost, sum_cost) + penalty,
    }
