"""The object API: Solver(problem, options), solve, get_result, get_result_process."""

from __future__ import annotations

import json
import random
from typing import Any

import pytest

import zelk
from checks import check_solution, random_instance


def problem_from_instance(instance: dict[str, Any]) -> zelk.Problem:
    """Builds the same instance object by object that the JSON reader builds."""
    problem = zelk.Problem()
    for entry in instance["nodes"]:
        node = zelk.Node()
        node.id = entry["id"]
        node.position.x = entry["x"]
        node.position.y = entry["y"]
        node.type = zelk.NodeType.DEPOT if entry.get("type") == "DEPOT" else zelk.NodeType.TARGET
        problem.add_node(node)
    for entry in instance["agents"]:
        agent = zelk.Agent()
        agent.id = entry["id"]
        agent.type = entry["type"]
        agent.start_node = entry["start_node"]
        agent.end_node = entry["end_node"]
        agent.time_limit = float(entry.get("max_length", 0))
        problem.add_agent(agent, agent.id)
    for name, matrix in instance["costs"].items():
        problem.set_cost_matrix(name, matrix)
    assignment = zelk.AssignmentConstraint()
    windows = zelk.TimeWindowConstraint()
    for constraint in instance.get("constraints", []):
        for item in constraint.get("items", []):
            if constraint["kind"] == "assignment":
                assignment.set_assignment(item["node"], item["types"])
            else:
                windows.set_timewindow(item["node"], item["start"], item["end"])
    problem.set_assignment_constraint(assignment)
    problem.set_timewindow_constraint(windows)
    options = instance["options"]
    problem.options().return_to_end = options["return_to_end"]
    problem.options().objective = (
        zelk.ObjectiveType.MinMax if options["objective"] == "min_max" else zelk.ObjectiveType.MinSum
    )
    problem.options().time_limit = options["time_limit"]
    return problem


def as_dict(instance: dict[str, Any], result: zelk.Result) -> dict[str, Any]:
    """The object API's Result in the shape of the JSON entry points' routes."""
    routes = [
        {"agent_id": agent["id"], "path": result.paths.get(k, []), "cost": result.times.get(k, 0.0)}
        for k, agent in enumerate(instance["agents"])
    ]
    costs = [r["cost"] for r in routes]
    return {
        "status": "success" if result.paths else "failed",
        "routes": routes,
        "statistics": {"max_cost": max(costs, default=0.0), "sum_cost": sum(costs)},
    }


@pytest.mark.parametrize("seed", [1, 2, 3])
def test_object_and_json_api_give_the_same_routes(seed: int) -> None:
    """The same instance solved through both doors yields the same routes and costs."""
    instance = random_instance(random.Random(seed), 9, 2, two_types=seed == 2, objective="min_max")
    problem = problem_from_instance(instance)
    solver = zelk.Solver(problem, problem.options())
    assert solver.solve() == 1
    result = solver.get_result()
    from_json = zelk.solve_json_str(json.dumps(instance))
    assert [r["path"] for r in from_json["routes"]] == [result.paths[k] for k in range(2)]
    assert [r["cost"] for r in from_json["routes"]] == [result.times[k] for k in range(2)]
    check_solution(instance, as_dict(instance, result))


def test_result_maps_are_fresh_dicts() -> None:
    """paths and times are new dicts on every read; changing one leaves the Result."""
    instance = random_instance(random.Random(4), 6, 1, objective="min_sum")
    problem = problem_from_instance(instance)
    solver = zelk.Solver(problem=problem, options=problem.options())
    solver.solve()
    result = solver.get_result()
    paths = result.paths
    paths[0].append(99)
    paths[7] = []
    assert 99 not in result.paths[0]
    assert set(result.paths) == {0}
    assert result.paths is not result.paths
    assert isinstance(result.times[0], float)
    assert result.n_generated >= result.n_expanded > 0
    assert result.timeout is False


def test_solver_without_solution_returns_zero_and_empty_paths() -> None:
    """Crossed depots with free closing moves: nothing to report."""
    problem = zelk.Problem()
    for i in range(2):
        node = zelk.Node()
        node.id = i
        problem.add_node(node)
    for a, (start, end) in enumerate([(0, 1), (1, 0)]):
        agent = zelk.Agent()
        agent.id = a
        agent.type = "t"
        agent.start_node = start
        agent.end_node = end
        problem.add_agent(agent, a)
    problem.set_cost_matrix("t", [[0.0, 1.0], [1.0, 0.0]])
    options = zelk.Options()
    options.return_to_end = False
    solver = zelk.Solver(problem, options)
    assert solver.solve() == 0
    assert solver.get_result().paths == {}
    assert solver.get_result_process() == []


def test_solver_uses_the_options_argument_not_the_problems() -> None:
    """With return_to_end off in the argument the closing move is free, whatever the
    Problem's own options say: 0 -> 3 costs 3 instead of 3 + 3."""
    instance = {
        "nodes": [{"id": i, "x": float(i), "y": 0.0} for i in (0, 3)],
        "agents": [{"id": 0, "type": "t", "start_node": 0, "end_node": 0}],
        "costs": {"t": [[0.0, 3.0], [3.0, 0.0]]},
        "options": {"return_to_end": True, "objective": "min_sum", "time_limit": 5.0},
    }
    problem = problem_from_instance(instance)
    options = zelk.Options()
    options.return_to_end = False
    solver = zelk.Solver(problem, options)
    solver.solve()
    assert solver.get_result().times[0] == pytest.approx(3.0)
    charged = zelk.Solver(problem, problem.options())
    charged.solve()
    assert charged.get_result().times[0] == pytest.approx(6.0)


def test_changing_the_problem_later_does_not_reach_the_solver() -> None:
    instance = random_instance(random.Random(5), 5, 1, objective="min_sum")
    problem = problem_from_instance(instance)
    solver = zelk.Solver(problem, problem.options())
    problem.set_cost_matrix("car", [[1000.0] * 5 for _ in range(5)])
    extra = zelk.Node()
    extra.id = 99
    problem.add_node(extra)
    solver.solve()
    check_solution(instance, as_dict(instance, solver.get_result()))


def test_result_process_holds_pairs_of_time_and_result() -> None:
    """Two records per solution (found, then post-optimized), stamped in order."""
    instance = random_instance(random.Random(6), 12, 3, objective="min_max")
    problem = problem_from_instance(instance)
    solver = zelk.Solver(problem, problem.options())
    solver.solve()
    process = solver.get_result_process()
    assert process and len(process) % 2 == 0
    assert all(isinstance(t, float) and isinstance(r, zelk.Result) for t, r in process)
    times = [t for t, _ in process]
    assert times == sorted(times)
    assert process[-1][1].times == solver.get_result().times
    assert solver.get_result().last_update_time == pytest.approx(process[-1][0])


def test_solve_twice_repeats_the_search() -> None:
    instance = random_instance(random.Random(8), 10, 2, objective="min_max")
    problem = problem_from_instance(instance)
    solver = zelk.Solver(problem, problem.options())
    solver.solve()
    first = solver.get_result()
    solver.solve()
    second = solver.get_result()
    assert first.paths == second.paths
    assert first.times == second.times
    assert first.n_generated == second.n_generated


@pytest.mark.parametrize(
    "build",
    [
        # the problem given as something else
        lambda: zelk.Solver("problem", zelk.Options()),
        # options missing
        lambda: zelk.Solver(zelk.Problem()),
    ],
)
def test_solver_arguments_are_type_checked(build: Any) -> None:
    with pytest.raises(TypeError):
        build()


def test_unknown_start_node_raises_index_error() -> None:
    problem = zelk.Problem()
    node = zelk.Node()
    problem.add_node(node)
    agent = zelk.Agent()
    agent.start_node = 5
    problem.add_agent(agent, 0)
    with pytest.raises(IndexError, match="_Map_base::at"):
        zelk.Solver(problem, problem.options())


def test_solve_docstring() -> None:
    assert "Run the ZELK solver. Returns 1 on success, 0 on failure." in zelk.Solver.solve.__doc__
