"""Fleet fields (loads in several dimensions, service, several windows, optional
targets): the checker on a hand-computed plan and on tampered copies, the Solution's
schedule against the checker's own walk, the schema's and the focal search's refusals,
and VRPLIB files in and out."""

from __future__ import annotations

import copy
import functools
import itertools
import json
import math
import random
import subprocess
import sys
from pathlib import Path
from typing import Any

import _zelk_core
import pytest
import zelk
from zelk.check import route_duration
from zelk.solution import from_result

# A line: depot 0 at 0, targets at 3, 5, 8 and 2 (node 4: optional, penalty 7); costs
# |xi - xj|. Node 2 opens in [0, 4] and [10, 12], node 3 in [6, 20].
XS = [0, 3, 5, 8, 2]
FLEET: dict[str, Any] = {
    "nodes": [
        {"id": 0, "x": 0, "y": 0, "type": "DEPOT"},
        {"id": 1, "x": 3, "y": 0, "demand": [4, 1], "service": 2},
        {"id": 2, "x": 5, "y": 0, "demand": [3, 1], "service": 1},
        {"id": 3, "x": 8, "y": 0, "demand": [5, 0]},
        {"id": 4, "x": 2, "y": 0, "demand": [1, 1], "service": 1, "required": False,
         "penalty": 7},
    ],
    "agents": [
        {"id": 0, "type": "v", "start_node": 0, "end_node": 0, "capacity": [10, 2]},
        {"id": 1, "type": "v", "start_node": 0, "end_node": 0, "capacity": [5, 0]},
    ],
    "costs": {"v": [[abs(a - b) for b in XS] for a in XS]},
    "constraints": [
        {"kind": "timewindow", "items": [
            {"node": 2, "start": 10, "end": 12}, {"node": 2, "start": 0, "end": 4},
            {"node": 3, "start": 6, "end": 20}]},
    ],
    "options": {"objective": "min_sum"},
}  # fmt: skip

# Agent 0: 0 -> 1 at 3, serves 2, leaves 5; -> 2 at 7: [0, 4] has closed, waits 3 for
# [10, 12], serves 1, leaves 11; -> 0 at 16. Load [4 + 3, 1 + 1] = [7, 2].
# Agent 1: 0 -> 3 at 8 (open), back at 16; load [5, 0]. Node 4 stays out: penalty 7.
# min-sum: 16 + 16 + 7 = 39.
PLAN: dict[str, Any] = {
    "status": "success",
    "timeout": False,
    "routes": [
        {"agent_id": 0, "path": [0, 1, 2, 0], "cost": 16.0, "nodes": [0, 1, 2, 0],
         "load": [7, 2], "stops": [
             {"node": 0, "arrival": 0, "waiting": 0, "start": 0, "departure": 0},
             {"node": 1, "arrival": 3, "waiting": 0, "start": 3, "departure": 5},
             {"node": 2, "arrival": 7, "waiting": 3, "start": 10, "departure": 11},
             {"node": 0, "arrival": 16, "waiting": 0, "start": 16, "departure": 16}]},
        {"agent_id": 1, "path": [0, 3, 0], "cost": 16.0, "nodes": [0, 3, 0], "load": [5, 0]},
    ],
    "statistics": {"max_cost": 16.0, "sum_cost": 32.0, "best_phase": "improve"},
    "anytime": [],
    "unserved": [4],
    "penalty": 7.0,
    "objective_value": 39.0,
    "reasons": [],
}  # fmt: skip


def _edit(target: dict[str, Any], path: str, value: Any) -> None:
    keys = [int(k) if k.isdigit() else k for k in path.split(".")]
    for key in keys[:-1]:
        target = target[key]
    target[keys[-1]] = value


def test_the_hand_computed_plan_is_valid_and_solution_recomputes_it() -> None:
    assert zelk.check_solution(FLEET, PLAN) == []
    # The Solution's own schedule and loads, from the bare routes, are the hand-computed
    # ones; min-max counts the longest route plus the penalty: 16 + 7.
    bare = {**PLAN, "routes": [{k: r[k] for k in ("agent_id", "path", "cost")}
                               for r in PLAN["routes"]]}  # fmt: skip
    solution = from_result(bare, FLEET)
    assert solution.to_dict()["routes"][0]["stops"] == PLAN["routes"][0]["stops"]
    assert [r.load for r in solution.routes] == [(7, 2), (5, 0)]
    assert (solution.unserved, solution.penalty, solution.objective_value) == ((4,), 7.0, 39.0)
    max_plan = {**PLAN, "objective_value": 23.0}
    assert zelk.check_solution({**FLEET, "options": {"objective": "min_max"}}, max_plan) == []


@pytest.mark.parametrize(
    ("result_edit", "instance_edit", "expected"),
    [
        (("objective_value", 32.0), None, "objective_value is 32.0"),
        (("penalty", 0.0), None, "penalty is 0.0"),
        (("unserved", []), None, "unserved is [], the routes leave out [4]"),
        (("routes.0.nodes", [0, 2, 1, 0]), None, "are not the path's node ids"),
        (("routes.0.stops.1.departure", 3), None, "stop 1 (node 1) departure is 3"),
        (("routes.0.stops.2.waiting", 0), None, "stop 2 (node 2) waiting is 0"),
        (("routes.0.load", [7, 1]), None, "reported load [7.0, 1.0]"),
        (("routes.0.cost", 13.0), None, "reported cost 13.0 but the route takes 16"),
        (("statistics.sum_cost", 29.0), None, "statistics sum_cost is 29.0"),
        (("status", "infeasible"), None, "status is 'infeasible' with required targets []"),
        (None, ("agents.1.capacity", [4, 0]), "loads 5 in dimension 0, above its capacity 4"),
        (None, ("agents.0.capacity", [10, 1]), "loads 2 in dimension 1, above its capacity 1"),
        (None, ("constraints.0.items.0.end", 6.5), "after its last window closes at 6.5"),
        (None, ("nodes.2.service", 3), "stop 2 (node 2) departure is 11"),
        (None, ("agents.0.max_length", 15.5), "exceeds its max_length 15.5"),
        (None, ("nodes.4.required", True), "reasons are given for nodes [], the unserved"),
    ],
)
def test_each_tampered_figure_or_broken_rule_is_named(
    result_edit: tuple[str, Any] | None, instance_edit: tuple[str, Any] | None, expected: str
) -> None:
    instance, result = copy.deepcopy(FLEET), copy.deepcopy(PLAN)
    if result_edit:
        _edit(result, *result_edit)
    if instance_edit:
        _edit(instance, *instance_edit)
    problems = zelk.check_solution(instance, result)
    assert any(expected in p for p in problems), problems


def test_an_infeasible_plan_with_its_reasons_is_valid() -> None:
    instance = copy.deepcopy(FLEET)
    instance["nodes"][4]["required"] = False
    instance["nodes"][3]["required"] = True
    result = copy.deepcopy(PLAN)
    result["routes"][1] = {"agent_id": 1, "path": [0, 0], "cost": 0.0}
    result.update(status="infeasible", unserved=[3, 4], objective_value=23.0,
                  statistics={"max_cost": 16.0, "sum_cost": 16.0})  # fmt: skip
    result["reasons"] = [{"node": 3, "reason": "capacity", "message": "too heavy"}]
    assert zelk.check_solution(instance, result) == []
    result["reasons"][0]["reason"] = "weather"
    assert any("not one of type, arc" in p for p in zelk.check_solution(instance, result))


def random_fleet_instance(rng: random.Random, n: int, m: int) -> dict[str, Any]:
    """Depot 0 and n - 1 targets with two-dimensional demands, service, one or two
    windows and some optional ones; capacities loose enough for most plans."""
    points = [(rng.uniform(0, 50), rng.uniform(0, 50)) for _ in range(n)]
    nodes: list[dict[str, Any]] = [{"id": 0, "x": points[0][0], "y": points[0][1]}]
    windows = []
    for i in range(1, n):
        node = {"id": i, "x": points[i][0], "y": points[i][1],
                "demand": [rng.randint(0, 4), rng.randint(0, 2)],
                "service": rng.choice([0, 0, 2.5, 5])}  # fmt: skip
        if rng.random() < 0.3:
            node.update(required=False, penalty=rng.uniform(0, 80))
        nodes.append(node)
        if rng.random() < 0.5:
            first = rng.uniform(0, 60)
            windows.append({"node": i, "start": first, "end": first + rng.uniform(5, 30)})
            if rng.random() < 0.5:  # sometimes overlapping the first: joined into one
                later = first + rng.uniform(0, 60)
                windows.append({"node": i, "start": later, "end": later + 40})
    agents = [
        {"id": a, "type": "t", "start_node": 0, "end_node": 0,
         "capacity": [rng.randint(6, 12), rng.choice([0, 3, 5])]}
        for a in range(m)
    ]  # fmt: skip
    return {
        "nodes": nodes,
        "agents": agents,
        "constraints": [{"kind": "timewindow", "items": windows}],
        "options": {"objective": rng.choice(["min_sum", "min_max"])},
    }


def test_solution_schedules_agree_with_the_checker_on_random_plans() -> None:
    """Two independent walks of the same routes: the Solution's stops, loads and costs
    (as zelk.solve reports them) never contradict the checker; only the rules a random
    plan may break (windows, capacity) are reported."""
    rng = random.Random(20)
    rule_breaks = ("window closes", "above its capacity")
    for _ in range(150):
        instance = zelk.schema.prepare_instance(random_fleet_instance(rng, rng.randint(2, 8), 2))
        targets = list(range(1, len(instance["nodes"])))
        rng.shuffle(targets)
        kept = [v for v in targets if instance["nodes"][v].get("required", True) or rng.random() < 0.5]
        cut = rng.randint(0, len(kept))
        paths = [[0, *kept[:cut], 0], [0, *kept[cut:], 0]]
        stub = {"status": "success", "routes": [
            {"agent_id": a, "path": p, "cost": 0.0} for a, p in enumerate(paths)]}  # fmt: skip
        routes = from_result(stub, instance).routes
        costs = [route.stops[-1].departure for route in routes]
        stub["routes"] = [{"agent_id": a, "path": p, "cost": c}
                          for a, (p, c) in enumerate(zip(paths, costs))]  # fmt: skip
        missing = sorted(set(targets) - set(kept))
        penalty = sum(instance["nodes"][v].get("penalty", 0) for v in missing)
        stub.update(statistics={"max_cost": max(costs), "sum_cost": sum(costs)},
                    unserved=missing, penalty=penalty, reasons=[])  # fmt: skip
        solution = from_result(stub, instance)
        problems = zelk.check_solution(instance, solution)
        assert all(any(b in p for b in rule_breaks) for p in problems), problems


# --------------------------------------------------------------------------- refusals

SCHEMA_FAULTS = [
    ("nodes.1.demand", [1, 2, 3], "nodes[2].demand: has 2 dimensions, nodes[1].demand has 3"),
    ("nodes.1.demand", -1, "nodes[1].demand: -1 is less than the minimum of 0"),
    ("nodes.1.service", -2, "nodes[1].service: -2 is less than the minimum of 0"),
    ("nodes.0.service", 5, "nodes[0].service: 5 at node 0, an agent's start or end node"),
    ("nodes.4.penalty", -1, "nodes[4].penalty: -1 is less than the minimum of 0"),
    ("nodes.4.required", "no", "nodes[4].required: 'no' is not of type 'boolean'"),
    ("agents.1.capacity", 5, "agents[1].capacity: a single number beside arrays of 2"),
    ("agents.1.capacity", [5, -1], "agents[1].capacity[1]: -1 is less than the minimum"),
    ("constraints", [{"kind": "sequence", "precedence": [{"before": 1, "after": 3}]}],
     "constraints[0].kind: 'sequence' constraints are not supported"),
]  # fmt: skip


@pytest.mark.parametrize(("path", "value", "expected"), SCHEMA_FAULTS)
def test_schema_names_each_fleet_fault(path: str, value: Any, expected: str) -> None:
    instance = copy.deepcopy(FLEET)
    _edit(instance, path, value)
    problems = zelk.schema.instance_problems(instance)
    assert any(expected in p for p in problems), problems
    with pytest.raises(ValueError, match="not supported|minimum|dimensions|boolean|beside|start"):
        zelk.solve(instance, time_limit=1)


def _plain_instance() -> dict[str, Any]:
    instance = copy.deepcopy(FLEET)
    for node in instance["nodes"]:
        for key in ("demand", "service", "required", "penalty"):
            node.pop(key, None)
    for agent in instance["agents"]:
        agent.pop("capacity")
    instance["constraints"] = []
    return instance


FOCAL_REFUSALS = [
    ("nodes.1.demand", 3, "agents[0].capacity: a capacity with non-zero demands"),
    ("nodes.1.service", 1.5, "nodes[1].service: a service duration"),
    ("nodes.2.required", False, "nodes[2].required: an optional target"),
    ("constraints", [{"kind": "timewindow", "items": [{"node": 1, "start": 0, "end": 4},
                                                      {"node": 1, "start": 9, "end": 12}]}],
     "timewindow items of node 1: a second time window"),
    ("agents.0.max_length", 10.5, "agents[0].max_length: a limit with decimals"),
]  # fmt: skip


@pytest.mark.parametrize(("path", "value", "expected"), FOCAL_REFUSALS)
def test_the_focal_search_refuses_each_field_it_would_ignore(
    path: str, value: Any, expected: str
) -> None:
    instance = _plain_instance()
    for agent in instance["agents"]:
        agent["capacity"] = 10
    _edit(instance, path, value)
    with pytest.raises(ValueError, match="the improvement path does") as caught:
        zelk.solve(instance, time_limit=1, improve=False)
    assert expected in str(caught.value)


def test_defaults_and_lone_fields_solve_as_before_on_the_focal_search() -> None:
    # A capacity without demands, demands without capacity, arrays of one dimension and a
    # repeated identical window change nothing the focal search would read otherwise.
    instance = _plain_instance()
    instance["agents"][0]["capacity"] = [4]
    instance["nodes"][2]["penalty"] = 3
    window = {"node": 3, "start": 0, "end": 100}
    instance["constraints"] = [{"kind": "timewindow", "items": [window, dict(window)]}]
    solution = zelk.solve(instance, time_limit=1, improve=False)
    assert solution.found and zelk.check_solution(instance, solution) == []


# --------------------------------------------------------------------------- VRPLIB

TINY_VRP = """NAME : tiny-n5-k2
TYPE : CVRP
DIMENSION : 5
EDGE_WEIGHT_TYPE : EUC_2D
CAPACITY : 10
NODE_COORD_SECTION
1 0 0
2 3 4
3 6 8
4 -3 4
5 0 5.6
DEMAND_SECTION
1 0
2 4
3 5
4 6
5 3
DEPOT_SECTION
1
-1
EOF
"""


def test_vrplib_instance_reads_with_rounded_distances_and_capacity(tmp_path: Path) -> None:
    path = tmp_path / "tiny.vrp"
    path.write_text(TINY_VRP)
    instance = zelk.load_instance(path)
    assert [n["id"] for n in instance["nodes"]] == [1, 2, 3, 4, 5]
    assert [n.get("demand", 0) for n in instance["nodes"]] == [0, 4, 5, 6, 3]
    assert [a["capacity"] for a in instance["agents"]] == [10, 10]  # k2 in the name
    matrix = instance["costs"][zelk.formats.AGENT_TYPE]
    # (0,0)-(6,8) = 10; (0,0)-(0,5.6) = 5.6, rounded to 6; exact keeps 5.6.
    assert (matrix[0][2], matrix[0][4]) == (10.0, 6.0)
    exact = zelk.load_instance(path, distances="exact")
    assert exact["costs"][zelk.formats.AGENT_TYPE][0][4] == pytest.approx(5.6)
    assert instance["options"]["objective"] == "min_sum"


def test_vrptw_sections_become_windows_and_service(tmp_path: Path) -> None:
    text = TINY_VRP.replace("TYPE : CVRP", "TYPE : VRPTW").replace(
        "DEPOT_SECTION",
        "TIME_WINDOW_SECTION\n1 0 100\n2 5 9\n3 0 50\n4 0 50\n5 20 30\n"
        "SERVICE_TIME_SECTION\n1 0\n2 2\n3 2\n4 2\n5 1.5\nDEPOT_SECTION",
    )
    path = tmp_path / "tiny_tw.vrp"
    path.write_text(text)
    instance = zelk.load_instance(path, agents=3)
    assert len(instance["agents"]) == 3
    assert [n.get("service", 0) for n in instance["nodes"]] == [0, 2, 2, 2, 1.5]
    items = instance["constraints"][1]["items"]
    assert (items[1]["start"], items[1]["end"], items[4]["start"]) == (5, 9, 20)


def test_explicit_weights_and_vehicles_read_and_solve(tmp_path: Path) -> None:
    path = tmp_path / "explicit.vrp"
    path.write_text(
        "NAME : explicit\nTYPE : CVRP\nDIMENSION : 3\nVEHICLES : 3\nCAPACITY : 5\n"
        "EDGE_WEIGHT_TYPE : EXPLICIT\nEDGE_WEIGHT_FORMAT : LOWER_ROW\n"
        "EDGE_WEIGHT_SECTION\n4\n7 2\nDEMAND_SECTION\n1 0\n2 3\n3 4\n"
        "DEPOT_SECTION\n1\n-1\nEOF\n"
    )
    instance = zelk.load_instance(path)
    assert instance["costs"][zelk.formats.AGENT_TYPE] == [[0, 4, 7], [4, 0, 2], [7, 2, 0]]
    assert len(instance["agents"]) == 3
    # 3 + 4 > 5: one route each, 8 + 14, not 0-2-3-0 (13).
    solution = zelk.solve(instance, time_limit=1)
    assert zelk.check_solution(instance, solution) == []
    assert solution.objective_value == pytest.approx(22)


def test_sol_file_round_trips_through_vrplib(tmp_path: Path) -> None:
    vrplib = pytest.importorskip("vrplib")
    instance = copy.deepcopy(FLEET)
    solution = from_result(PLAN, instance)
    out = tmp_path / "plan.sol"
    zelk.vrplib_format.write_vrplib_solution(out, instance, solution)
    read = vrplib.read_solution(out)
    assert [list(r) for r in read["routes"]] == [[1, 2], [3]]
    assert read["cost"] == 39


def test_solution_dict_round_trip_keeps_fleet_fields_and_repr_is_one_line() -> None:
    result = {**PLAN, "status": "infeasible", "reasons": [
        {"node": 4, "reason": "window", "message": "closes at 1, reached at 2 at best"}]}
    solution = from_result(result, FLEET)
    again = zelk.Solution.from_dict(json.loads(solution.to_json()))
    assert again == solution
    assert again.reasons[0].reason == "window" and again.status == "infeasible"
    assert repr(solution) == (
        "Solution(status='infeasible', min_sum=39, routes=2/2, unserved=1)"
    )


# --------------------------------------------------------------------------- solving

# The engine that honours the fleet fields comes with the pre-check's binding.
needs_fleet_engine = pytest.mark.skipif(
    not hasattr(_zelk_core, "precheck_json_str"), reason="this core has no fleet fields"
)


def _brute_force(instance: dict[str, Any]) -> float:
    """The optimum over every plan (each target on some agent's route in any order, or
    left out when optional), each route walked by the checker; inf when every plan
    leaves a required target out or breaks a rule."""
    nodes, agents = instance["nodes"], instance["agents"]
    min_max = instance["options"]["objective"] == "min_max"
    targets = list(range(1, len(nodes)))

    @functools.cache
    def route(k: int, mine: frozenset[int]) -> float:
        walks = (route_duration(instance, agents[k], [0, *order, 0])
                 for order in itertools.permutations(sorted(mine)))  # fmt: skip
        return min((c for c in walks if not math.isnan(c)), default=math.inf)

    best = math.inf
    for choice in itertools.product(range(-1, len(agents)), repeat=len(targets)):
        if any(a < 0 and nodes[v].get("required", True) for v, a in zip(targets, choice)):
            continue
        penalty = sum(nodes[v].get("penalty", 0) for v, a in zip(targets, choice) if a < 0)
        costs = [route(k, frozenset(v for v, a in zip(targets, choice) if a == k))
                 for k in range(len(agents))]  # fmt: skip
        best = min(best, (max(costs) if min_max else sum(costs)) + penalty)
    return best


@needs_fleet_engine
@pytest.mark.parametrize("infeasible_search", [0, 1])
@pytest.mark.parametrize("seed", range(12))
def test_the_improvement_path_reaches_the_brute_force_optimum(
    seed: int, infeasible_search: int
) -> None:
    rng = random.Random(seed)
    instance = zelk.schema.prepare_instance(random_fleet_instance(rng, rng.randint(3, 7), 2))
    optimum = _brute_force(instance)
    solution = zelk.solve(instance, time_limit=5, iteration_limit=3000,
                          engine_params={"infeasible_search": infeasible_search})  # fmt: skip
    assert zelk.check_solution(instance, solution) == []
    if math.isinf(optimum):
        assert solution.status == "infeasible"
    else:
        assert solution.status in ("solved", "optimal")
        assert solution.objective_value == pytest.approx(optimum, rel=1e-9, abs=1e-6)


IMPOSSIBLE = [
    ("type", 1, lambda i: i["constraints"].append(
        {"kind": "assignment", "items": [{"node": 1, "types": []}]})),
    ("window", 2, lambda i: i["constraints"][0].update(
        items=[{"node": 2, "start": 0, "end": 4.5}])),  # reached at 5 at best
    ("capacity", 3, lambda i: i["nodes"][3].update(demand=[50, 0])),
    # 8 + 1 (service) + 8 > 16.5; the plan of the others takes 16.
    ("limit", 3, lambda i: [i["nodes"][3].update(service=1),
                            *(a.update(max_length=16.5) for a in i["agents"])]),
]  # fmt: skip


@needs_fleet_engine
@pytest.mark.parametrize(("reason", "node", "make"), IMPOSSIBLE)
def test_a_target_no_plan_can_serve_is_named_and_the_rest_is_planned(
    reason: str, node: int, make: Any, tmp_path: Path
) -> None:
    instance = copy.deepcopy(FLEET)
    make(instance)
    solution = zelk.solve(instance, time_limit=5, iteration_limit=500)
    assert solution.status == "infeasible"
    assert [(r.node, r.reason) for r in solution.reasons] == [(node, reason)]
    assert set(solution.unserved) <= {node, 4}
    assert zelk.check_solution(instance, solution) == []
    assert [(r["node"], r["reason"]) for r in zelk.fleet.precheck_reasons(instance)] == [
        (node, reason)
    ]
    path = tmp_path / "instance.json"
    path.write_text(json.dumps(instance))
    run = subprocess.run(
        [sys.executable, "-m", "zelk", "solve", str(path), "--quiet", "--time-limit", "2"],
        capture_output=True, text=True, timeout=120, check=False,
    )  # fmt: skip
    assert run.returncode == 3, run.stderr
    row = next(line for line in run.stdout.splitlines() if line.split()[:2] == [str(node), reason])
    assert len(row.split()) > 2  # the message follows
    # validate names it too, before any solving, and the instance itself stays valid.
    run = subprocess.run([sys.executable, "-m", "zelk", "validate", str(path)],
                         capture_output=True, text=True, timeout=120, check=False)  # fmt: skip
    assert run.returncode == 0, run.stderr
    assert "1 required targets no plan can serve" in run.stdout
    assert [line.split()[:2] for line in run.stdout.splitlines()].count([str(node), reason]) == 1


def test_a_solve_from_coordinates_alone_checks_with_the_distances_it_used() -> None:
    # Nodes on a 3-4-5 grid: each leg of the one route is a whole number.
    instance = {
        "nodes": [{"id": 0, "x": 0, "y": 0}, {"id": 1, "x": 3, "y": 4}, {"id": 2, "x": 6, "y": 0}],
        "agents": [{"id": 0, "type": "a", "start_node": 0, "end_node": 0}],
    }
    with pytest.warns(zelk.schema.InstanceWarning, match="Euclidean"):
        solution = zelk.solve(instance, time_limit=1)
    assert solution.objective_value == pytest.approx(16.0)  # 5 + 5 + 6
    assert zelk.check_solution(instance, solution) == []
    tampered = solution.to_dict()
    tampered["routes"][0]["cost"] = 15.0
    assert any("takes 16" in p for p in zelk.check_solution(instance, tampered))


@needs_fleet_engine
def test_the_pre_check_agrees_with_the_checkers_own_reading() -> None:
    """Every target the checker finds impossible on its own is reported with one of its
    reasons, and every reported target is one no allowed agent can serve alone."""
    rng = random.Random(7)
    for _ in range(150):
        raw = random_fleet_instance(rng, rng.randint(2, 9), 2)
        for agent in raw["agents"]:
            if rng.random() < 0.5:
                agent["max_length"] = rng.uniform(40, 160)
        instance = zelk.schema.prepare_instance(raw)
        expected = zelk.check.impossible_targets(instance)
        got = {r["node"]: r["reason"] for r in zelk.fleet.precheck_reasons(instance)}
        assert set(expected) <= set(got), (expected, got)
        for node, reason in got.items():
            assert reason in expected.get(node, zelk.check.REASONS), (node, reason, expected)
            for agent in instance["agents"]:
                alone = [0, node, 0]  # ids are vertices here, the depot 0
                assert math.isnan(route_duration(instance, agent, alone)) or reason == "type"
