"""The independent solution checker: it accepts valid results and names each fault."""

import copy
import functools
import itertools
import json
import math
import random
from collections.abc import Callable
from typing import Any

import pytest
from checks import random_instance

import zelk
from zelk.check import route_duration

# A line: depot 0 at x=0, targets 1..3 at x=1..3; agent 0 of type "a", agent 1 of type
# "b"; costs |i - j|; node 3 only for type "b" and open in [0, 10].
INSTANCE: dict[str, Any] = {
    "nodes": [
        {"id": i, "x": i, "y": 0, "z": 0, "type": "DEPOT" if i == 0 else "TARGET"} for i in range(4)
    ],
    "agents": [
        {"id": 0, "type": "a", "start_node": 0, "end_node": 0},
        {"id": 1, "type": "b", "start_node": 0, "end_node": 0},
    ],
    "costs": {t: [[abs(i - j) for j in range(4)] for i in range(4)] for t in ("a", "b")},
    "constraints": [
        {"kind": "assignment", "items": [{"node": 3, "types": ["b"]}]},
        {"kind": "timewindow", "items": [{"node": 3, "start": 0, "end": 10}]},
    ],
}

# Agent 0: 0-1-2-0 = 1 + 1 + 2 = 4; agent 1: 0-3-0 = 3 + 3 = 6.
RESULT: dict[str, Any] = {
    "status": "success",
    "timeout": False,
    "routes": [
        {"agent_id": 0, "path": [0, 1, 2, 0], "cost": 4.0},
        {"agent_id": 1, "path": [0, 3, 0], "cost": 6.0},
    ],
    "statistics": {"max_cost": 6.0, "sum_cost": 10.0},
    "anytime": [],
}


def test_a_valid_result_has_no_problems() -> None:
    assert zelk.check_solution(INSTANCE, RESULT) == []


def _set(path: list[Any], value: Any) -> Callable[[dict[str, Any]], None]:
    def apply(result: dict[str, Any]) -> None:
        target = result
        for key in path[:-1]:
            target = target[key]
        target[path[-1]] = value

    return apply


def _tighten_window(instance: dict[str, Any]) -> None:
    # Node 3 is reached at time 3; a window closing at 2 breaks.
    instance["constraints"][1]["items"][0]["end"] = 2


def _limit_agent(instance: dict[str, Any]) -> None:
    instance["agents"][1]["max_length"] = 5  # the route takes 6


@pytest.mark.parametrize(
    ("change_result", "change_instance", "expected"),
    [
        # A wrong cost on an otherwise valid route.
        (
            _set(["routes", 0, "cost"], 5.0),
            None,
            "agent 0: reported cost 5.0 but the route takes 4",
        ),
        # Target 2 dropped: it is served 0 times (and the cost no longer matches).
        (_set(["routes", 0, "path"], [0, 1, 0]), None, "node 2 (vertex 2) is served 0 times"),
        # Target 1 served twice.
        (_set(["routes", 1, "path"], [0, 1, 3, 0]), None, "node 1 (vertex 1) is served 2 times"),
        # A route not starting at the depot.
        (_set(["routes", 0, "path"], [1, 2, 0]), None, "does not start at its start vertex 0"),
        # A route not coming back while return_to_end is on.
        (_set(["routes", 0, "path"], [0, 1, 2]), None, "ends at vertex 2, not at its end vertex 0"),
        # Node 3 is for type "b" only.
        (_set(["routes", 0, "path"], [0, 3, 0]), None, "node 3 does not allow agent type 'a'"),
        # A vertex that does not exist.
        (_set(["routes", 1, "path"], [0, 7, 0]), None, "outside the instance: [7]"),
        # Statistics that disagree with the routes.
        (
            _set(["statistics", "max_cost"], 4.0),
            None,
            "statistics max_cost is 4.0, the routes give 6.0",
        ),
        (_set(["statistics", "sum_cost"], 11.0), None, "statistics sum_cost is 11.0"),
        # Routes reported for other agents.
        (_set(["routes", 1, "agent_id"], 5), None, "routes are for agents [0, 5]"),
        # No solution at all.
        (_set(["status"], "failed"), None, "status is 'failed'"),
        # The instance's rules: a window and a route limit.
        (None, _tighten_window, "agent 1: route reaches node 3 at 3, after its window closes at 2"),
        (None, _limit_agent, "agent 1: route exceeds its max_length 5"),
    ],
)
def test_each_fault_is_named(change_result, change_instance, expected: str) -> None:
    instance = copy.deepcopy(INSTANCE)
    result = copy.deepcopy(RESULT)
    if change_result:
        change_result(result)
    if change_instance:
        change_instance(instance)
    problems = zelk.check_solution(instance, result)
    assert any(expected in p for p in problems), problems


def test_waiting_for_a_window_counts_in_the_duration() -> None:
    instance = copy.deepcopy(INSTANCE)
    instance["constraints"][1]["items"][0]["start"] = 7
    # Reach node 3 at 3, wait until 7, back at 10.
    assert route_duration(instance, instance["agents"][1], [0, 3, 0]) == 10.0


def test_open_routes_get_the_closing_move_free() -> None:
    instance = copy.deepcopy(INSTANCE)
    instance["options"] = {"return_to_end": False}
    result = copy.deepcopy(RESULT)
    # Without the way back: agent 0 costs 2, agent 1 costs 3.
    result["routes"][0].update(path=[0, 1, 2, 0], cost=2.0)
    result["routes"][1].update(path=[0, 3, 0], cost=3.0)
    result["statistics"] = {"max_cost": 3.0, "sum_cost": 5.0}
    assert zelk.check_solution(instance, result) == []


@pytest.mark.parametrize("seed", range(3))
def test_solver_results_pass_and_the_test_wrapper_asserts(seed: int) -> None:
    import checks

    instance = random_instance(
        random.Random(seed), 7, 2, windows=True, two_types=True, time_limit=0.5
    )
    result = zelk.solve_json_str(json.dumps(instance))
    if result["status"] != "success":  # windows may make an instance infeasible
        pytest.skip("infeasible draw")
    assert zelk.check_solution(instance, result) == []
    checks.check_solution(instance, result)
    result["routes"][0]["cost"] += 1.0
    with pytest.raises(AssertionError, match="reported cost"):
        checks.check_solution(instance, result)


def _feasible(instance: dict[str, Any]) -> bool:
    """Brute force: some split of the targets among the agents, and some order of each
    agent's share, keeps the types, windows and limits the checker walks."""
    agents = instance["agents"]
    allowed = {i["node"]: i["types"] for i in instance["constraints"][0]["items"]}
    targets = range(1, len(instance["nodes"]))

    @functools.cache
    def drivable(a: int, share: tuple[int, ...]) -> bool:
        if any(agents[a]["type"] not in allowed[t] for t in share):
            return False
        return any(
            not math.isnan(route_duration(instance, agents[a], [0, *order, 0]))
            for order in itertools.permutations(share)
        )

    return any(
        all(drivable(a, tuple(t for t, b in zip(targets, split) if b == a)) for a in range(len(agents)))
        for split in itertools.product(range(len(agents)), repeat=len(targets))
    )


def test_solver_and_checker_agree_on_windows_at_the_depot() -> None:
    """With a window on the depot, every solution passes the checker (the agent waits at
    the start for the window to open), and every "failed" instance has no solution."""
    disagreements = []
    for seed in range(150):
        rng = random.Random(seed)
        instance = random_instance(
            rng,
            rng.randint(3, 6),
            rng.randint(1, 2),
            windows=True,
            two_types=rng.random() < 0.5,
            return_to_end=rng.random() < 0.7,
            objective=rng.choice(["min_max", "min_sum"]),
            time_limit=1.0,
        )
        opening = rng.uniform(0, 120)
        instance["constraints"][1]["items"].append(
            {"node": 0, "start": opening, "end": opening + rng.uniform(0, 600)}
        )
        result = zelk.solve_json_str(json.dumps(instance))
        if result["status"] == "success":
            problems = zelk.check_solution(instance, result)
        else:
            problems = ["failed, yet brute force finds a solution"] if _feasible(instance) else []
        disagreements += [f"seed {seed}: {p}" for p in problems]
    assert not disagreements, "\n".join(disagreements)


def _with_costs(b_matrix: Any, cost: float) -> tuple[dict[str, Any], dict[str, Any]]:
    """INSTANCE with type "b"'s matrix replaced (None: removed), and RESULT with agent 1's
    route cost and the totals set to ``cost`` (what a solver counting 9999 reports)."""
    instance = copy.deepcopy(INSTANCE)
    instance["constraints"] = instance["constraints"][:1]  # no window on node 3
    if b_matrix is None:
        del instance["costs"]["b"]
    else:
        instance["costs"]["b"] = b_matrix
    result = copy.deepcopy(RESULT)
    result["routes"][1]["cost"] = cost
    result["statistics"] = {"max_cost": cost, "sum_cost": 4.0 + cost}
    return instance, result


def _far(i: int, j: int) -> float:
    return 9999.0 if (i, j) == (0, 3) else float(abs(i - j))


@pytest.mark.parametrize(
    ("b_matrix", "cost", "phase", "problem", "focal"),
    [
        # No matrix for type "b": both moves count 9999 and are reported.
        (None, 2 * 9999.0, None, ["agent 1: route moves from node 0 to node 3, but type 'b' has no cost matrix",
                                  "agent 1: route moves from node 3 to node 0, but type 'b' has no cost matrix"], None),
        # Rows of three entries: vertex 3 is in no column.
        ([[abs(i - j) for j in range(3)] for i in range(4)], 9999.0 + 3, None,
         "agent 1: route moves from node 0 to node 3, an arc the cost matrix of type 'b' does not give", None),
        # A given 9999 is "no arc" to the focal search that reported the result ...
        ([[_far(i, j) for j in range(4)] for i in range(4)], 9999.0 + 3, None,
         "agent 1: route moves from node 0 to node 3 at cost 9999, which the focal search reads as no arc", None),
        # ... and a real cost to the improvement engine.
        ([[_far(i, j) for j in range(4)] for i in range(4)], 9999.0 + 3, "improve", None, None),
        # The caller may say which: another solver's routes have no phase either.
        ([[_far(i, j) for j in range(4)] for i in range(4)], 9999.0 + 3, None, None, False),
        ([[_far(i, j) for j in range(4)] for i in range(4)], 9999.0 + 3, "improve",
         "agent 1: route moves from node 0 to node 3 at cost 9999, which the focal search reads as no arc", True),
    ],
)  # fmt: skip
def test_moves_over_arcs_the_instance_does_not_give(b_matrix, cost, phase, problem, focal) -> None:
    """A move without a given cost is a problem, named with both node ids, while the
    rest of the route is still checked against the 9999 the solver counts."""
    instance, result = _with_costs(b_matrix, cost)
    if phase is not None:
        result["statistics"]["best_phase"] = phase
    problems = zelk.check_solution(instance, result, focal_search=focal)
    assert problems == ([problem] if isinstance(problem, str) else problem or [])


def test_agents_sharing_an_id_are_checked_as_the_core_solved_them() -> None:
    """The core gives agents with one id the last one's type; the checker agrees, so a
    result of the specified entry point passes it (the zelk layer refuses such files)."""
    instance = copy.deepcopy(INSTANCE)
    instance["agents"][1]["id"] = 0
    instance["costs"]["b"] = [[2 * abs(i - j) for j in range(4)] for i in range(4)]
    result = zelk.solve_json_str(json.dumps(instance), 2.0)
    assert result["status"] == "success"
    assert zelk.check_solution(instance, result) == []
    # Both routes are priced with type "b"'s doubled costs.
    assert result["statistics"]["sum_cost"] == pytest.approx(12.0)
    solution = zelk.Solution.from_dict(result, instance)
    assert [route.agent_type for route in solution.routes] == ["b", "b"]
