"""The improvement path (improve=True): every answer checked, small instances against
brute force, repeatability, stopping, and instances the focal search alone gets wrong."""

from __future__ import annotations

import itertools
import json
import math
import random
import signal
import subprocess
import sys
import textwrap
from pathlib import Path
from typing import Any

import pytest

import zelk
from checks import check_solution, dumps, random_instance, route_duration

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"


def _solve(instance: dict[str, Any], **options: Any) -> dict[str, Any]:
    options.setdefault("iteration_limit", 300)
    return zelk.solve_json_str(dumps(instance), 10.0, improve=True, **options)


def _brute_force(instance: dict[str, Any]) -> tuple[float, float]:
    """Best (max, sum) under the instance's objective over every assignment and order,
    each route timed by the package's independent checker."""
    vertex_of = {node["id"]: v for v, node in enumerate(instance["nodes"])}
    agents = instance["agents"]
    depots = {vertex_of[a["start_node"]] for a in agents} | {vertex_of[a["end_node"]] for a in agents}
    targets = [v for v in range(len(instance["nodes"])) if v not in depots]
    allowed = {}
    for constraint in instance.get("constraints", []):
        if constraint["kind"] == "assignment":
            allowed = {item["node"]: item["types"] for item in constraint["items"]}
    min_max = instance["options"]["objective"] == "min_max"
    best = (math.inf, math.inf)
    # Every sequence of targets cut into len(agents) consecutive routes.
    for order in itertools.permutations(targets):
        for cuts in itertools.combinations_with_replacement(range(len(order) + 1), len(agents) - 1):
            bounds = (0, *cuts, len(order))
            costs = []
            for a, agent in enumerate(agents):
                route = order[bounds[a] : bounds[a + 1]]
                if any(agent["type"] not in allowed.get(instance["nodes"][v]["id"], [agent["type"]]) for v in route):
                    break
                path = [vertex_of[agent["start_node"]], *route, vertex_of[agent["end_node"]]]
                cost = route_duration(instance, agent, path)
                if math.isnan(cost):
                    break
                costs.append(cost)
            else:
                score = (max(costs), sum(costs)) if min_max else (sum(costs), max(costs))
                best = min(best, score)
    return best if min_max else (best[1], best[0])


def _small(seed: int, kind: dict[str, Any]) -> dict[str, Any]:
    rng = random.Random(seed)
    options = {k: v for k, v in kind.items() if k != "split_depot"}
    instance = random_instance(rng, 7, 3, **options)
    if kind.get("split_depot"):
        # The last agent ends at vertex 1 instead of the shared depot.
        instance["agents"][-1]["end_node"] = 1
    return instance


# Each row is one kind of instance; every kind is solved on several random instances.
KINDS = [
    {"objective": "min_max"},
    {"objective": "min_sum"},
    {"objective": "min_max", "windows": True},
    {"objective": "min_sum", "windows": True, "limits": True},
    {"objective": "min_max", "two_types": True},
    {"objective": "min_max", "return_to_end": False},
    {"objective": "min_sum", "return_to_end": False, "two_types": True},
    {"objective": "min_max", "split_depot": True, "windows": True},
]


@pytest.mark.parametrize("kind", KINDS, ids=lambda k: "-".join(f"{a}" for a in k.values()))
def test_improve_reaches_the_brute_force_optimum(kind: dict[str, Any]) -> None:
    """On five targets the engine finds the optimum, also with every number x1000."""
    for seed in range(3):
        instance = _small(seed, kind)
        expected = _brute_force(instance)
        result = _solve(instance)
        if math.isinf(expected[0]):
            assert result["status"] == "failed"
            continue
        check_solution(instance, result)
        stats = result["statistics"]
        key = "max_cost" if kind["objective"] == "min_max" else "sum_cost"
        index = 0 if kind["objective"] == "min_max" else 1
        assert stats[key] == pytest.approx(expected[index], abs=1e-6), seed
        # Scale does not change the answer: costs of 9999 and more are real costs here.
        scaled = json.loads(json.dumps(instance))
        scaled["costs"] = {t: [[c * 1000 for c in row] for row in m] for t, m in scaled["costs"].items()}
        for constraint in scaled["constraints"]:
            for item in constraint["items"] if constraint["kind"] == "timewindow" else []:
                item["start"] *= 1000
                item["end"] *= 1000
        for agent in scaled["agents"]:
            if "max_length" in agent:
                agent["max_length"] *= 1000
        scaled_result = _solve(scaled)
        check_solution(scaled, scaled_result)
        assert scaled_result["statistics"][key] == pytest.approx(1000 * expected[index], rel=1e-9)


@pytest.mark.parametrize("kind", KINDS, ids=lambda k: "-".join(f"{a}" for a in k.values()))
def test_every_improved_solution_passes_the_checker(kind: dict[str, Any]) -> None:
    """40-node instances of every kind: the answer is complete, feasible, correctly
    costed, and never worse than what the focal search alone returns."""
    rng = random.Random(7)
    options = {k: v for k, v in kind.items() if k != "split_depot"}
    instance = random_instance(rng, 40, 4, **options)
    if kind.get("split_depot"):
        instance["agents"][-1]["end_node"] = 1
    result = _solve(instance, iteration_limit=150)
    assert result["status"] == "success"
    check_solution(instance, result)
    plain = zelk.solve_json_str(dumps(instance), 0.5)
    if plain["status"] == "success" and not zelk.check_solution(instance, plain):
        key = "max_cost" if kind["objective"] == "min_max" else "sum_cost"
        assert result["statistics"][key] <= plain["statistics"][key] + 1e-9


def test_same_seed_and_iteration_bound_give_the_same_result() -> None:
    instance = random_instance(random.Random(3), 30, 3, windows=True)
    runs = [_solve(instance, seed=seed, iteration_limit=200) for seed in (5, 5, 6)]
    assert runs[0]["routes"] == runs[1]["routes"]
    assert [r["routes"] for r in runs[:1]] != [] and runs[0]["statistics"]["improve_iterations"] == 200


def test_on_solution_matches_the_anytime_list_on_every_entry_point() -> None:
    instance = random_instance(random.Random(4), 20, 3)
    for improve in (False, True):
        calls: list[tuple[float, float, float]] = []
        result = zelk.solve_json_str(
            dumps(instance), 0.3, improve=improve, on_solution=lambda *a: calls.append(a)
        )
        assert calls == [(p["time"], p["max_cost"], p["sum_cost"]) for p in result["anytime"]]
        if improve:
            assert {p["phase"] for p in result["anytime"]} <= {"search", "construct", "improve"}


def test_a_raising_callback_or_should_stop_ends_the_engine() -> None:
    instance = random_instance(random.Random(5), 30, 3)

    def explode(*_: float) -> None:
        raise ZeroDivisionError("from the callback")

    with pytest.raises(ZeroDivisionError):
        zelk.solve_json_str(dumps(instance), 60.0, improve=True, on_solution=explode)
    polls = []
    result = zelk.solve_json_str(
        dumps(instance), 60.0, improve=True, should_stop=lambda: polls.append(1) or len(polls) > 3
    )
    assert result["statistics"]["interrupted"] is True
    check_solution(instance, result)


def test_ctrl_c_stops_the_engine_with_keyboard_interrupt() -> None:
    """The specified entry points keep raising KeyboardInterrupt, on this path too."""
    script = textwrap.dedent(
        f"""
        import json, os, signal, sys, threading
        sys.path[:0] = {sys.path!r}
        import zelk
        from checks import random_instance, dumps
        import random
        text = dumps(random_instance(random.Random(1), 60, 4))
        threading.Timer(0.5, lambda: os.kill(os.getpid(), signal.SIGINT)).start()
        try:
            zelk.solve_json_str(text, 120.0, improve=True)
        except KeyboardInterrupt:
            print("interrupted")
        """
    )
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60)
    assert "interrupted" in run.stdout, run.stderr


@pytest.mark.parametrize(
    "change",
    [
        # More agents than targets: 25 vehicles for 10 customers.
        lambda i: i,
        # Open routes and one agent whose start differs from its end.
        lambda i: {**i, "options": {**i["options"], "return_to_end": False}},
    ],
)
def test_instances_the_focal_search_misses_are_solved(change) -> None:
    instance = change(zelk.load_instance(EXAMPLES / "c101_first10.txt", agents=25))
    instance["agents"][0]["end_node"] = instance["nodes"][1]["id"]
    instance["nodes"][1].pop("service")  # service applies at targets only
    result = _solve(instance, iteration_limit=100)
    assert result["status"] == "success"
    check_solution(instance, result)


def test_improve_lifts_the_node_limit() -> None:
    """257 nodes: refused by the focal search alone, solved with improve=True."""
    instance = random_instance(random.Random(6), 257, 5)
    with pytest.raises(ValueError, match="at most 256"):
        zelk.solve_json_str(dumps(instance), 1.0)
    result = _solve(instance, iteration_limit=20)
    check_solution(instance, result)


def test_the_engine_lets_other_threads_run_and_keeps_its_own_budget() -> None:
    """Threads solving side by side give the sequential answers; while the engine runs,
    the interpreter lock is free (with Python's forced hand-over switched off, a solve
    that held it would keep the main thread from ever stopping it); and budgets are per
    thread."""
    import threading
    import time

    texts = [dumps(random_instance(random.Random(seed), 80, 4)) for seed in (8, 9)]
    sequential = [zelk.solve_json_str(t, 60.0, improve=True, iteration_limit=400) for t in texts]
    results: list[dict[str, Any]] = [{}, {}]

    def run(k: int) -> None:
        results[k] = zelk.solve_json_str(texts[k], 60.0, improve=True, iteration_limit=400)

    threads = [threading.Thread(target=run, args=(k,)) for k in range(2)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert [r["routes"] for r in results] == [r["routes"] for r in sequential]

    stop = threading.Event()
    stopped: dict[str, Any] = {}
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1000.0)
    try:
        solver = threading.Thread(
            target=lambda: stopped.update(zelk.solve_json_str(texts[0], 60.0, improve=True, should_stop=stop.is_set))
        )
        began = time.perf_counter()
        solver.start()
        time.sleep(0.3)
        stop.set()
        solver.join()
    finally:
        sys.setswitchinterval(interval)
    assert stopped["statistics"]["interrupted"] is True
    assert time.perf_counter() - began < 30.0

    # Two 1 s solves side by side each use a full second of their own thread's
    # processor time, so together they cannot end before a second of wall time (on the
    # shared process clock they would end after half a second on two cores).
    began = time.perf_counter()
    threads = [threading.Thread(target=lambda t=t: zelk.solve_json_str(t, 1.0, improve=True)) for t in texts]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert time.perf_counter() - began >= 0.95


def test_many_agent_types_fit_in_little_memory_on_the_improvement_path() -> None:
    """256 nodes and 2,000 agents of distinct types (one with a matrix): the search's
    graph would hold a cost per type on every arc (3 GB); the engine alone needs MBs."""
    from checks import run_capped

    run = run_capped(
        """
        import json
        n, m = 256, 2000
        instance = {
            "nodes": [{"id": i, "x": i, "y": 0, "z": 0, "type": "TARGET"} for i in range(n)],
            "agents": [{"id": a, "type": f"t{a}", "start_node": 0, "end_node": 0} for a in range(m)],
            "costs": {"t0": [[abs(i - j) for j in range(n)] for i in range(n)]},
            "options": {"objective": "min_max"},
        }
        result = zelk.solve_json_str(json.dumps(instance), 0.5, improve=True, iteration_limit=5)
        print(result["status"], result["statistics"]["max_cost"])
        """,
        extra_mb=200,
    )
    assert run.stdout.split() == ["success", "510.0"], run.stderr[-2000:]


def test_a_target_nobody_may_serve_ends_the_solve_at_once() -> None:
    """No agent type may serve node 1: the answer is "failed" without spending the
    budget, and "timeout" is false because nothing ran out."""
    instance = random_instance(random.Random(2), 6, 2)
    instance["constraints"][0]["items"][1]["types"] = []
    result = zelk.solve_json_str(dumps(instance), 600.0, improve=True)
    assert (result["status"], result["timeout"]) == ("failed", False)


def test_solver_object_runs_the_improvement_path(line_problem) -> None:
    """Solver.solve(improve=True): the best route in get_result, one call per improving
    solution, and the search's records followed by the engine's best."""
    problem = line_problem(6)
    solver = zelk.Solver(problem, problem.options())
    calls: list[tuple[float, float, float]] = []
    assert solver.solve(improve=True, iteration_limit=50, on_solution=lambda *a: calls.append(a)) == 1
    result = solver.get_result()
    # Out along the line and back: 6 + 6.
    assert (dict(result.times), sorted(result.paths[0])) == ({0: 12.0}, [0, 0, 1, 2, 3, 4, 5, 6])
    assert calls and calls[-1][1:] == (12.0, 12.0)
    assert solver.get_result_process()[-1][1].times == result.times
