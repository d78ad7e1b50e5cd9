"""zelk.solve and zelk.Solution: schedules against hand-computed ones, the result
dictionary it extends, and the round trips through to_dict and from_dict."""

from __future__ import annotations

import json
import math
import random
import subprocess
import sys
import textwrap
import time
from pathlib import Path
from typing import Any

import pytest

import zelk
from checks import check_solution, random_instance
from zelk.solution import schedule


def waiting_instance(depot_window: tuple[float, float] | None = None) -> dict[str, Any]:
    """Depot 0 and targets 1, 2 for one agent; costs 0-1: 3, 1-2: 4, 0-2: 5. Node 2's
    window [6, 8] rules out 0 -> 1 -> 2 (node 2 reached at 12 + 4 = 16 at best), so the
    only route is 0 -> 2 -> 1 -> 0, which waits at both targets."""
    windows = [{"node": 1, "start": 12, "end": 20}, {"node": 2, "start": 6, "end": 8}]
    if depot_window is not None:
        windows.append({"node": 0, "start": depot_window[0], "end": depot_window[1]})
    return {
        "nodes": [{"id": 10 * i, "x": 0.0, "y": 0.0, "z": 0.0} for i in range(3)],
        "agents": [{"id": 7, "type": "van", "start_node": 0, "end_node": 0}],
        "costs": {"van": [[0, 3, 5], [3, 0, 4], [5, 4, 0]]},
        "constraints": [
            {"kind": "assignment", "items": [{"node": 10 * i, "types": ["van"]} for i in range(3)]},
            {"kind": "timewindow", "items": [dict(w, node=10 * w["node"]) for w in windows]},
        ],
        "options": {"time_limit": 5.0},
    }


# (node, arrival, waiting, start, departure) per stop, by hand.
SCHEDULES = [
    # 0 -> 2 at 5, waits 1 for 6; -> 1 at 6 + 4 = 10, waits 2 for 12; -> 0 at 12 + 3 = 15.
    (None, [(0, 0, 0, 0, 0), (20, 5, 1, 6, 6), (10, 10, 2, 12, 12), (0, 15, 0, 15, 15)]),
    # The depot opens at 2: the agent waits there, reaches 2 at 7 (no wait), 1 at 11.
    ((2, 100), [(0, 0, 2, 2, 2), (20, 7, 0, 7, 7), (10, 11, 1, 12, 12), (0, 15, 0, 15, 15)]),
]


@pytest.mark.parametrize(("depot_window", "expected"), SCHEDULES)
def test_solution_schedule_matches_hand_computed_waits(depot_window, expected) -> None:
    """The solved route's stops carry the hand-computed arrival, wait and departure,
    and the route's cost is the return time."""
    instance = waiting_instance(depot_window)
    solution = zelk.solve(instance, improve=False, time_limit=5)
    # Node 10 opens at 12 and is left over an arc of at least 3: no route serving it
    # ends before 15, so the bound proves the route optimal.
    assert solution.lower_bound == 15.0
    assert solution.status == "optimal" and solution.found
    (route,) = solution.routes
    assert (route.agent_id, route.agent_type) == (7, "van")
    assert route.nodes == (0, 20, 10, 0) and route.path == (0, 2, 1, 0)
    # The engine stops once its best meets the bound instead of using its 60 s budget.
    began = time.process_time()
    improved = zelk.solve(instance, time_limit=60)
    assert (improved.status, improved.timeout) == ("optimal", False)
    assert time.process_time() - began < 30
    assert [tuple(vars(s).values()) for s in route.stops] == expected
    assert route.cost == solution.objective_value == 15.0
    assert zelk.check_solution(instance, solution) == []


def test_open_route_schedule_ends_without_the_return_leg() -> None:
    """With return_to_end off the closing move is free: the last stop is reached when
    the previous one is left, and visits leave it out."""
    instance = waiting_instance()
    instance["options"]["return_to_end"] = False
    solution = zelk.solve(instance, improve=False)
    (route,) = solution.routes
    assert not route.returns
    assert route.stops[-1].arrival == route.stops[-2].departure == route.cost
    assert route.visits == route.nodes[:-1]


@pytest.mark.parametrize("seed", range(6))
def test_schedules_reproduce_every_route_cost(seed: int) -> None:
    """On random instances with windows and two agent types, the Python schedule of
    each route ends at the cost the core reports, and waits only for windows."""
    rng = random.Random(seed)
    instance = random_instance(
        rng, rng.randint(4, 8), rng.randint(1, 3), two_types=True, windows=True,
        return_to_end=bool(seed % 2), time_limit=0.5,
    )  # fmt: skip
    solution = zelk.solve(instance, improve=False)
    check_solution(instance, solution.to_dict())
    for route in solution.routes:
        if not route.path:
            continue
        assert math.isclose(route.stops[-1].departure, route.cost, abs_tol=1e-9)
        assert all(stop.waiting >= 0 for stop in route.stops)
        assert all(stop.start == stop.arrival + stop.waiting for stop in route.stops)


def test_to_dict_extends_the_specified_result_dictionary() -> None:
    """Every key solve_json_str returns is in to_dict with the same value (timings
    aside), first and in the same order; the Solution round-trips through JSON."""
    instance = waiting_instance()
    expected = zelk.solve_json_str(json.dumps(instance))
    solution = zelk.solve(instance, improve=False)
    data = solution.to_dict()
    assert list(data)[:5] == list(expected)
    assert list(data["statistics"])[:6] == list(expected["statistics"])
    timings = {"solve_time", "last_update_time"}
    for key in ("status", "timeout"):
        assert data[key] == expected[key]
    for route, want in zip(data["routes"], expected["routes"]):
        assert {k: route[k] for k in want} == want
    for key, value in expected["statistics"].items():
        if key not in timings:
            assert data["statistics"][key] == value
    assert [{k: e[k] for k in ("max_cost", "sum_cost")} for e in data["anytime"]] == [
        {k: e[k] for k in ("max_cost", "sum_cost")} for e in expected["anytime"]
    ]
    assert data["outcome"] == "optimal" and data["objective"] == "min_sum"
    assert zelk.Solution.from_dict(json.loads(solution.to_json())) == solution
    # A plain result dictionary needs its instance; then it gives the same routes.
    assert zelk.Solution.from_dict(expected, instance).routes == solution.routes
    with pytest.raises(ValueError, match="needs its instance"):
        zelk.Solution.from_dict(expected)


def test_no_solution_is_a_status_not_an_error() -> None:
    """An instance whose windows cannot all be kept gives "no_solution", empty routes,
    no objective value, and JSON without NaN or infinity."""
    instance = waiting_instance()
    # Node 2 closes at 4, before the agent can reach it (5 direct, 3 + 4 through node 1).
    instance["constraints"][1]["items"][1].update(start=1, end=4)
    solution = zelk.solve(instance, improve=False)
    assert solution.status == "no_solution" and not solution.found
    assert solution.objective_value is None
    assert json.loads(solution.to_json())["status"] == "failed"


def test_problem_and_dict_give_the_same_solution(tmp_path) -> None:
    """A Problem and the JSON instance built from the same arrays solve alike; a path
    solves like the dict it holds; the caller's Problem keeps its own options."""
    arrays = dict(
        positions=[[0, 0], [3, 4], [6, 8], [0, 5]],
        cost_matrices=[[0, 5, 10, 5], [5, 0, 5, 3], [10, 5, 0, 7], [5, 3, 7, 0]],
        agents=2,
        objective="min_max",
    )
    problem = zelk.io.problem_from_arrays(**arrays)
    instance = zelk.io.instance_from_arrays(**arrays)
    path = tmp_path / "instance.json"
    zelk.io.write_instance(instance, path)
    from_problem = zelk.solve(problem, improve=False, objective="min_sum")
    from_dict = zelk.solve(instance, improve=False, objective="min_sum")
    from_path = zelk.solve(path, improve=False, objective="min_sum")
    assert problem.options().objective == zelk.ObjectiveType.MinMax
    assert from_problem.objective == from_dict.objective == "min_sum"
    for a, b, c in zip(from_problem.routes, from_dict.routes, from_path.routes):
        assert a.nodes == b.nodes == c.nodes and a.cost == b.cost == c.cost
    assert from_problem.routes[0].stops == ()  # a Problem's matrices stay in the core


def test_numpy_tuples_and_int_keys_solve_like_plain_json() -> None:
    """A dict holding NumPy arrays and numbers, tuples and int keys solves as its JSON
    form does; the caller's dict is left as it was; what JSON cannot hold is refused."""
    np = pytest.importorskip("numpy")
    plain = waiting_instance()
    plain["costs"] = {"0": plain["costs"][next(iter(plain["costs"]))]}
    for agent in plain["agents"]:
        agent["type"] = "0"
    for constraint in plain.get("constraints", []):
        for item in constraint.get("items", []):
            if "types" in item:
                item["types"] = ["0"]
    odd = dict(plain)
    odd["costs"] = {0: np.array(plain["costs"]["0"], dtype=float)}
    odd["nodes"] = tuple({**node, "x": np.float64(node["x"])} for node in plain["nodes"])
    before = json.dumps(odd, default=lambda v: v.tolist())
    want = zelk.solve(plain, improve=False, objective="min_max")
    assert zelk.solve(odd, improve=False, objective="min_max").routes == want.routes
    assert json.dumps(odd, default=lambda v: v.tolist()) == before
    with pytest.raises(TypeError, match="set has no JSON form"):
        zelk.solve({**plain, "extra": {1, 2}}, improve=False)


def test_plot_solution_accepts_a_solution(tmp_path) -> None:
    """plot_solution draws a Solution as it draws the result dictionary."""
    pytest.importorskip("matplotlib")
    instance = waiting_instance()
    solution = zelk.solve(instance, improve=False)
    zelk.plot_solution(instance, solution, tmp_path / "routes.png")
    assert (tmp_path / "routes.png").stat().st_size > 0


def test_schedule_of_an_instance_without_every_cost_is_refused() -> None:
    """A matrix that leaves moves out is refused, as on every path through zelk.Instance:
    no schedule is made of a move the instance gives no cost for."""
    instance = waiting_instance()
    instance["costs"]["van"] = [[0, 3], [3, 0]]
    with pytest.raises(ValueError, match=r"costs\.van: the matrix of type 'van' has 2 rows"):
        schedule(instance, instance["agents"][0], [0, 2])


@pytest.mark.parametrize("improve", [True, False])
def test_on_solution_is_called_once_per_anytime_entry(improve: bool) -> None:
    """The callback sees exactly the anytime list's entries, in order, on both paths."""
    instance = random_instance(random.Random(3), 12, 2, windows=True, time_limit=0.3)
    calls: list[tuple[float, float, float]] = []
    solution = zelk.solve(
        instance, improve=improve, on_solution=lambda *a: calls.append(a), iteration_limit=2000
    )
    assert calls and calls == [(e.time, e.max_cost, e.sum_cost) for e in solution.anytime]
    assert (solution.anytime[-1].phase is not None) == improve
    check_solution(instance, solution.to_dict())


@pytest.mark.parametrize("improve", [True, False])
def test_wall_clock_budget_ends_as_a_time_limit(improve: bool) -> None:
    """clock="wall" stops at the budget through the stop check on the focal search and
    through the engine's own clock: a time-out, not an interruption."""
    instance = random_instance(random.Random(4), 30, 3, time_limit=60)
    solution = zelk.solve(instance, improve=improve, clock="wall", time_limit=0.3)
    assert solution.status in ("solved", "optimal") and solution.timeout
    assert not solution.statistics.interrupted


def test_should_stop_event_interrupts_at_once() -> None:
    """A set threading.Event given as should_stop ends the solve as "interrupted"."""
    import threading

    stop = threading.Event()
    stop.set()
    instance = random_instance(random.Random(4), 30, 3, time_limit=60)
    solution = zelk.solve(instance, should_stop=stop)
    assert solution.status == "interrupted" and solution.statistics.interrupted


def test_quiet_keeps_the_core_lines_off_both_streams(capfd) -> None:
    """quiet=True (the default) hides the core's "w = 1"; quiet=False lets it through."""
    # This instance makes the focal search announce its final weight.
    data = Path(__file__).parent.parent / "data"
    instance = zelk.load_instance(data / "four_targets_two_agents.json")
    zelk.solve(instance, improve=False)
    assert capfd.readouterr() == ("", "")
    zelk.solve(instance, improve=False, quiet=False)
    assert "w = 1" in capfd.readouterr().out


def test_memory_limit_reaches_the_core_only_when_given(monkeypatch) -> None:
    """memory_limit_mb is handed to the core as given, and left out when None, so the
    core's own default applies."""
    import zelk.solving

    seen: list[dict[str, Any]] = []
    real = zelk.solving._zelk_core.solve_arrays

    def spy(arrays: Any, types: Any, budget: float, **keywords: Any) -> dict[str, Any]:
        seen.append(dict(keywords))
        keywords.pop("memory_limit_mb", None)
        return real(arrays, types, budget, **keywords)

    monkeypatch.setattr(zelk.solving._zelk_core, "solve_arrays", spy)
    zelk.solve(waiting_instance(), improve=False)
    zelk.solve(waiting_instance(), improve=False, memory_limit_mb=512)
    assert "memory_limit_mb" not in seen[0] and seen[1]["memory_limit_mb"] == 512


def test_quiet_solve_in_a_thread_lets_python_output_through() -> None:
    """While a worker thread solves quietly, the main thread's prints still arrive and
    the core's lines do not."""
    instance = Path(__file__).parent.parent / "data/four_targets_two_agents.json"
    code = textwrap.dedent(
        f"""
        import threading, zelk
        found = threading.Event()
        worker = threading.Thread(target=lambda: zelk.solve(
            {str(instance)!r}, time_limit=1, on_solution=lambda *a: found.set()))
        worker.start()
        found.wait()
        print("main thread", flush=True)
        worker.join()
        print("done")
        """
    )
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    assert run.stdout == "main thread\ndone\n" and run.stderr == ""
