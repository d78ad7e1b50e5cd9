"""The improvement path's result for fleet instances: what is left out, why, and at
what cost, consistent with the routes; and the pre-check alone."""

from __future__ import annotations

import itertools
import json
import random
from typing import Any

import _zelk_core
import pytest


def _fleet_instance(seed: int) -> dict[str, Any]:
    """Eight targets on a plane, two dimensions of load, service, second windows on
    some targets, optional ones, and one target no van can carry."""
    rng = random.Random(seed)
    n = 9
    points = [(rng.uniform(0, 50), rng.uniform(0, 50)) for _ in range(n)]
    nodes: list[dict[str, Any]] = []
    for i, (x, y) in enumerate(points):
        node: dict[str, Any] = {"id": 10 + i, "x": x, "y": y, "z": 0}
        if i > 0:
            node.update(
                demand=[rng.randint(1, 4), rng.choice([0, 0.5, 1.5])],
                service=rng.randint(0, 5),
            )
            if rng.random() < 0.3:
                node.update(required=False, penalty=rng.uniform(1, 40))
        nodes.append(node)
    nodes[-1]["demand"] = [50, 0]  # more than any van carries
    nodes[-1]["required"] = True
    windows = []
    for i in range(1, n - 1):
        if rng.random() < 0.4:
            start = rng.uniform(0, 60)
            windows += [
                {"node": 10 + i, "start": start, "end": start + 15},
                {"node": 10 + i, "start": start + 80, "end": start + 120},
            ]
    agents = [
        {
            "id": a,
            "type": "van",
            "start_node": 10,
            "end_node": 10,
            "capacity": [9, 2.5],
            "max_length": 400.5,
        }
        for a in range(2)
    ]
    cost = [
        [round(((p[0] - q[0]) ** 2 + (p[1] - q[1]) ** 2) ** 0.5, 2) for q in points] for p in points
    ]
    return {
        "nodes": nodes,
        "agents": agents,
        "costs": {"van": cost},
        "constraints": [{"kind": "timewindow", "items": windows}],
        "options": {"objective": rng.choice(["min_sum", "min_max"])},
    }


@pytest.mark.parametrize("seed", range(4))
def test_result_accounts_for_every_target(seed: int) -> None:
    instance = _fleet_instance(seed)
    result = _zelk_core.solve_json_str(
        json.dumps(instance), improve=True, seed=seed, iteration_limit=200
    )
    nodes = {node["id"]: node for node in instance["nodes"]}
    served = [nodes[instance["nodes"][v]["id"]] for r in result["routes"] for v in r["path"][1:-1]]
    served_ids = [node["id"] for node in served]
    targets = sorted(nid for nid in nodes if nid != 10)
    assert sorted(served_ids + result["unserved"]) == targets
    for route in result["routes"]:
        visited = [instance["nodes"][v] for v in route["path"][1:-1]]
        load = [sum(node["demand"][d] for node in visited) for d in range(2)]
        assert route["load"] == pytest.approx(load)
        assert all(x <= c + 1e-9 for x, c in zip(load, [9, 2.5]))
    optional = [nid for nid in result["unserved"] if not nodes[nid].get("required", True)]
    assert result["penalty"] == pytest.approx(sum(nodes[nid]["penalty"] for nid in optional))
    costs = [r["cost"] for r in result["routes"]]
    routes_value = sum(costs) if instance["options"]["objective"] == "min_sum" else max(costs)
    assert result["objective_value"] == pytest.approx(routes_value + result["penalty"])
    required_left = [nid for nid in result["unserved"] if nodes[nid].get("required", True)]
    assert [r["node"] for r in result["reasons"]] == required_left
    assert {"node": 18, "reason": "capacity"}.items() <= result["reasons"][-1].items()
    assert result["status"] == "infeasible"
    # Node 18 is never served, yet every new best plan has its anytime record, strictly
    # better than the one before under (required targets left out, routes + penalties),
    # and the last is the plan returned; no plan serves every required target.
    anytime = result["anytime"]
    assert anytime and result["statistics"]["first_solution_time"] == -1
    keys = [(p["unserved_required"], p["objective_value"]) for p in anytime]
    assert all(a[0] > b[0] or (a[0] == b[0] and a[1] > b[1] + 1e-9) for a, b in itertools.pairwise(keys))
    for point in anytime:
        value = point["sum_cost" if instance["options"]["objective"] == "min_sum" else "max_cost"]
        assert point["objective_value"] == pytest.approx(value + point["penalty"])
    assert keys[-1] == (len(required_left), pytest.approx(result["objective_value"]))
    assert anytime[-1]["penalty"] == pytest.approx(result["penalty"])


def test_precheck_names_each_fault_and_fields_are_checked() -> None:
    instance = _fleet_instance(0)
    instance["constraints"].append({"kind": "assignment", "items": [{"node": 11, "types": []}]})
    reasons = _zelk_core.precheck_json_str(json.dumps(instance))
    assert [(r["node"], r["reason"]) for r in reasons] == [
        (11, "type"),
        (18, "capacity"),
    ]
    instance["nodes"][2]["service"] = -1
    with pytest.raises(ValueError, match=r"nodes\[2\]\.service must be a finite number >= 0"):
        _zelk_core.precheck_json_str(json.dumps(instance))


def test_plain_instance_keeps_status_and_has_no_loads() -> None:
    instance = _fleet_instance(1)
    for node in instance["nodes"]:
        for key in ("demand", "service", "required", "penalty"):
            node.pop(key, None)
    for agent in instance["agents"]:
        agent.pop("capacity")
    instance["constraints"] = []
    result = _zelk_core.solve_json_str(json.dumps(instance), improve=True, iteration_limit=50)
    assert result["status"] == "success"
    assert (result["unserved"], result["reasons"], result["penalty"]) == ([], [], 0.0)
    assert all(route["load"] == [] for route in result["routes"])


def test_solver_reports_what_capacity_left_out() -> None:
    # Four targets of demand 2 and one van of capacity 5: two are served, two are not.
    problem = _zelk_core.Problem()
    for v in range(5):
        node = _zelk_core.Node()
        node.id = 100 + v
        node.demands = [0.0 if v == 0 else 2.0]
        problem.add_node(node)
    van = _zelk_core.Agent()
    van.type, van.start_node, van.end_node, van.capacities = "van", 100, 100, [5.0]
    problem.add_agent(van, 0)
    problem.set_cost_matrix("van", [[float(abs(i - j)) for j in range(5)] for i in range(5)])
    solver = _zelk_core.Solver(problem, problem.options())
    assert solver.solve(improve=True, iteration_limit=50) == 1
    report = solver.get_unserved()
    assert report["loads"] == [[4.0]]
    assert len(report["unserved"]) == 2
    assert [r["node"] for r in report["reasons"]] == report["unserved"]
    assert {r["reason"] for r in report["reasons"]} == {"capacity"}
