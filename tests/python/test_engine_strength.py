"""The engine's tuning record, budgets that keep paying, and threads: every answer checked,
runs repeated exactly, and longer or wider runs never worse than shorter ones."""

from __future__ import annotations

import itertools
import random
import subprocess
import sys
import textwrap
import time
from typing import Any

import pytest
import zelk
from checks import check_solution, dumps, random_instance


def _solve(instance: dict[str, Any], **options: Any) -> dict[str, Any]:
    options.setdefault("iteration_limit", 200)
    return zelk.solve_json_str(dumps(instance), 30.0, improve=True, **options)


# One row per key: a value the engine must refuse, and a word the message must hold.
REFUSED = [
    ({"no_such_knob": 1.0}, "no_such_knob"),
    ({"granularity": 0}, "granularity"),
    ({"granularity": 41}, "granularity"),
    ({"longest_string": 2.5}, "whole number"),
    ({"blink": 1.0}, "blink"),
    ({"removed_share": float("nan")}, "removed_share"),
    ({"start_temperature": 0.01, "end_temperature": 1.0}, "end_temperature"),
    ({"polish_window": True}, "number"),
    ({"max_removed": "ten"}, "number"),
    ({"strategy": "genetic"}, "strategy"),
    ({"strategy": 1}, "strategy"),
]


@pytest.mark.parametrize(("params", "word"), REFUSED)
def test_engine_params_out_of_range_are_refused_by_name(params: dict[str, Any], word: str) -> None:
    instance = random_instance(random.Random(1), 8, 2)
    with pytest.raises(ValueError, match=word):
        _solve(instance, engine_params=params)
    with pytest.raises(ValueError, match=word):
        zelk.solve(instance, iteration_limit=5, engine_params=params)
    with pytest.raises(ValueError, match="improve"):
        zelk.solve_json_str(dumps(instance), 1.0, engine_params={})


def test_engine_params_defaults_repeat_the_default_run_and_changes_take_effect() -> None:
    instance = random_instance(random.Random(2), 60, 4, windows=True)
    defaults = zelk.engine_param_defaults()
    assert defaults["granularity"] == 12 and defaults["start_temperature"] == 2.0
    plain = _solve(instance, seed=4)
    assert _solve(instance, seed=4, engine_params=defaults)["routes"] == plain["routes"]
    # Each of these changes what the engine does within 200 steps on this instance.
    for change in ({"granularity": 2}, {"blink": 0.5}, {"start_temperature": 40.0}):
        assert _solve(instance, seed=4, engine_params=change)["routes"] != plain["routes"]


def test_the_route_bounds_ruin_size_applies_under_the_bound_only() -> None:
    instance = random_instance(random.Random(5), 60, 3, objective="min_max")
    bounded = {"cap_targets": 0, "cap_from_epoch": 0}
    for bound, differ in (({"cap_share": 0.0}, False), (bounded, True)):
        trails = [_trail(_solve(instance, seed=2, engine_params={**bound, "cap_max_removed": most}))
                  for most in (1, 60)]  # fmt: skip
        assert (trails[0] != trails[1]) == differ, bound


def test_the_route_bound_starts_after_its_epochs() -> None:
    """Until the bound's epochs end the walk is the one without the bound, step for step."""
    instance = random_instance(random.Random(8), 60, 3, objective="min_max")
    epochs = {"first_epoch": 1.0, "epoch_growth": 1.0, "cap_targets": 0}  # epochs of 60 steps
    for limit, start, same in ((60, 1, True), (119, 2, True), (60, 0, False), (400, 1, False)):
        unbounded, bounded = (
            _trail(_solve(instance, seed=3, iteration_limit=limit, engine_params=epochs | change))
            for change in ({"cap_share": 0.0}, {"cap_from_epoch": start})
        )
        assert (unbounded == bounded) == same, (limit, start)


def test_random_engine_params_give_checked_solutions() -> None:
    """Any setting in range changes how well the engine does, never what it may return."""
    rng = random.Random(3)
    defaults = zelk.engine_param_defaults()
    for trial in range(12):
        params = {
            "start_temperature": rng.uniform(0.5, 20),
            "end_temperature": rng.uniform(0, 0.5),
            "removed_share": rng.uniform(0, 1),
            "max_removed": rng.uniform(1, 60),
            "max_string": rng.uniform(1, 30),
            "blink": rng.uniform(0, 0.9),
            "granularity": rng.randint(1, 40),
            "longest_string": rng.randint(1, 8),
            "focus_neighbours": rng.randint(0, 40),
            "exhaustive_targets": rng.choice([0, 5, 200]),
            "sum_share": rng.uniform(0, 2),
            # Not drawn from rng, which the instances below come from.
            "infeasible_search": trial % 2,
            "feasible_share": 0.08 * trial,
            "tour_kicks": (0.5, 20, 0)[trial // 3 % 3],
            "population_tour_kicks": (30, 0.5, 0)[trial % 3],
            "population_tour_visits": (0, 20)[trial // 2 % 2],
            # The route bound of min-max on half the trials, whatever the size.
            "cap_targets": (0, 100)[trial % 2],
            "cap_share": 0.002 * (trial % 4),
            "cap_weight": 0.5 * trial,
            "cap_tour_kicks": (3, 0, 0.5)[trial % 3],
            "cap_polish_window": (4, 0, 1)[trial // 2 % 3],
            # Short epochs where the bound applies, so that it starts after 0 to 2 of them.
            "first_epoch": (0.5, 60.0)[trial % 2],
            "cap_from_epoch": (1, 0, 2)[trial // 2 % 3],
            "boundary_bias": (0, 0.5, 1)[trial // 2 % 3],
            "cap_max_removed": (20, 1, 60)[trial % 3],
            # Moves that even out the routes, under the bound (trials 2, 6, 10).
            "balance_rounds": (1, 30)[trial // 4 % 2],
        }
        assert set(params) <= set(defaults)
        kind = [{"objective": "min_max"}, {"objective": "min_sum", "windows": True},
                {"objective": "min_max", "limits": True, "two_types": True}][trial % 3]  # fmt: skip
        instance = random_instance(rng, rng.randint(5, 45), rng.randint(1, 5), **kind)
        # The population (with its deep tour search) on every other pair of trials.
        strategy = {"strategy": ("auto", "population")[trial // 2 % 2]}
        result = _solve(instance, seed=trial, iteration_limit=60, engine_params={**params, **strategy})
        assert result["status"] == "success"
        check_solution(instance, result)


def _trail(result: dict[str, Any]) -> list[tuple[float, float]]:
    return [(p["max_cost"], p["sum_cost"]) for p in result["anytime"]]


KINDS = [
    {"objective": "min_max"},
    {"objective": "min_sum", "windows": True},
    {"objective": "min_max", "limits": True, "two_types": True},
    {"objective": "min_sum", "return_to_end": False},
]
EPOCHS = {"first_epoch": 2.0, "epoch_growth": 1.5}
# Under min-max, the route bound and the moves that even out the routes, whatever the size;
# and a deep tour search at each restart.
BOUNDED = {**EPOCHS, "cap_targets": 0, "balance_rounds": 30, "restart_kicks": 20}


@pytest.mark.parametrize("kind", KINDS, ids=lambda k: "-".join(map(str, k.values())))
def test_a_longer_iteration_bound_repeats_the_shorter_run_and_goes_on(kind: dict[str, Any]) -> None:
    """The cooling schedule does not depend on the budget: the shorter run's anytime
    trail is the start of the longer one's, so 6x the steps never ends worse (with the
    default epochs and with short ones that restart several times within the bound)."""
    rng = random.Random(11)
    for trial, params in enumerate((EPOCHS, None, EPOCHS, BOUNDED)):
        instance = random_instance(rng, rng.randint(20, 60), rng.randint(2, 5), **kind)
        short = _solve(instance, seed=trial, iteration_limit=150, engine_params=params)
        long = _solve(instance, seed=trial, iteration_limit=900, engine_params=params)
        check_solution(instance, long)
        assert _trail(long)[: len(_trail(short))] == _trail(short)
        key = "max_cost" if kind["objective"] == "min_max" else "sum_cost"
        assert long["statistics"][key] <= short["statistics"][key]


@pytest.mark.parametrize("kind", KINDS, ids=lambda k: "-".join(map(str, k.values())))
def test_threads_repeat_with_a_seed_and_an_iteration_bound(kind: dict[str, Any]) -> None:
    """Every answer checked; the same seed and bound repeat a run whatever the threads'
    timing; the anytime list strictly improves in order."""
    rng = random.Random(12)
    key = "max_cost" if kind["objective"] == "min_max" else "sum_cost"
    for threads, params in ((2, EPOCHS), (3, {"first_epoch": 1.0}), (2, BOUNDED)):
        instance = random_instance(rng, 50, 4, **kind)
        runs = [_solve(instance, seed=s, threads=threads, engine_params=params) for s in (1, 1, 2)]
        for run in runs:
            check_solution(instance, run)
            points = run["anytime"]
            assert all(b[key] < a[key] and b["time"] >= a["time"] for a, b in itertools.pairwise(points))
            assert run["statistics"]["improve_iterations"] == 200 * threads
        assert runs[0]["routes"] == runs[1]["routes"]
        # More threads with the same bound per thread walk further: never worse.
        wider = _solve(instance, seed=1, threads=threads + 2, engine_params=params)
        assert wider["statistics"][key] <= runs[0]["statistics"][key] + 1e-9


# A small population, thinned and restarted many times within the bound.
POPULATION = {"strategy": "population", "population_size": 4, "offspring": 5, "population_restart": 30}


@pytest.mark.parametrize("kind", KINDS, ids=lambda k: "-".join(map(str, k.values())))
def test_the_population_is_checked_repeats_and_a_longer_bound_goes_on(kind: dict[str, Any]) -> None:
    """The population's answers pass the checker; a seed and a bound repeat a run (with
    threads too); 6x the bound repeats the shorter run's trail (in one thread) and never
    ends worse."""
    rng = random.Random(21)
    key = "max_cost" if kind["objective"] == "min_max" else "sum_cost"
    for trial, threads in enumerate((1, 2, 1)):
        instance = random_instance(rng, rng.randint(9, 45), rng.randint(1, 4), **kind)
        runs = [_solve(instance, seed=trial, iteration_limit=limit, threads=threads,
                       engine_params=POPULATION) for limit in (60, 60, 360)]  # fmt: skip
        for run in runs:
            check_solution(instance, run)
        assert runs[0]["routes"] == runs[1]["routes"]
        # With threads, the order in which walks report depends on timing.
        if threads == 1:
            assert _trail(runs[2])[: len(_trail(runs[0]))] == _trail(runs[0])
        assert runs[2]["statistics"][key] <= runs[0]["statistics"][key]


@pytest.mark.parametrize(
    ("kind", "agents", "chosen"),
    [({"objective": "min_sum"}, 3, "population"),
     ({"objective": "min_sum", "return_to_end": False}, 3, "population"),
     ({"objective": "min_sum", "windows": True}, 3, "anneal"),
     ({"objective": "min_max"}, 3, "anneal"),
     ({"objective": "min_max"}, 1, "population"),
     ({"objective": "min_max", "windows": True}, 1, "anneal")],
)  # fmt: skip
def test_auto_runs_the_strategy_measured_better_for_the_instance(
    kind: dict[str, Any], agents: int, chosen: str
) -> None:
    """The population under min-sum, or with one agent, on plain instances; the annealing
    with windows (any fleet field) and under min-max with several agents. The other
    strategy walks differently in 200 steps."""
    instance = random_instance(random.Random(5), 150, agents, **kind)
    trails = {}
    for name in ("auto", "anneal", "population"):
        result = _solve(instance, seed=2, iteration_limit=200, engine_params={"strategy": name})
        trails[name] = [(a["max_cost"], a["sum_cost"]) for a in result["anytime"]]
    other = "anneal" if chosen == "population" else "population"
    assert trails["auto"] == trails[chosen] != trails[other]


def test_one_thread_is_the_default_and_bad_thread_counts_are_refused() -> None:
    instance = random_instance(random.Random(13), 30, 3)
    assert _solve(instance, seed=3, threads=1)["routes"] == _solve(instance, seed=3)["routes"]
    # Another seed walks elsewhere, with threads too (150 targets: far from converged).
    large = random_instance(random.Random(13), 150, 5)
    trails = [_trail(_solve(large, seed=s, threads=2, engine_params=EPOCHS)) for s in (1, 2)]
    assert trails[0] != trails[1]
    for bad in (-1, 1025):
        with pytest.raises(ValueError, match="threads"):
            _solve(instance, threads=bad)
    with pytest.raises(ValueError, match="improve"):
        zelk.solve_json_str(dumps(instance), 1.0, threads=2)
    with pytest.raises(ValueError, match="threads"):
        zelk.solve(instance, threads=2, improve=False)


def test_threads_stop_together_on_a_raising_callback_a_stop_request_and_ctrl_c() -> None:
    """In a child process, so that a thread left running or a wait that never ends fails
    the test instead of hanging it; each solve has a 120 s budget it must not use."""
    script = textwrap.dedent(
        f"""
        import os, random, signal, sys, threading, time
        sys.path[:0] = {sys.path!r}
        import zelk
        from checks import check_solution, dumps, random_instance
        instance = random_instance(random.Random(1), 80, 4)
        text = dumps(instance)
        def explode(*_):
            raise ZeroDivisionError("from the callback")
        try:
            zelk.solve_json_str(text, 120.0, improve=True, threads=3, on_solution=explode)
        except ZeroDivisionError:
            print("raised")
        polls = []
        result = zelk.solve_json_str(text, 120.0, improve=True, threads=3, clock="wall",
                                     should_stop=lambda: polls.append(1) or len(polls) > 20)
        check_solution(instance, result)
        print("stopped", result["statistics"]["interrupted"])
        threading.Timer(0.5, lambda: os.kill(os.getpid(), signal.SIGINT)).start()
        try:
            zelk.solve_json_str(text, 120.0, improve=True, threads=3)
        except KeyboardInterrupt:
            print("interrupted")
        solution = zelk.solve(instance, time_limit=120.0, threads=2,
                              should_stop=lambda: time.sleep(0.001) or len(polls) > 40 or polls.append(1))
        print("solve", solution.status)
        polls.clear()
        result = zelk.solve_json_str(text, 120.0, improve=True, threads=2, clock="wall",
                                     engine_params={{"strategy": "population"}},
                                     should_stop=lambda: polls.append(1) or len(polls) > 20)
        check_solution(instance, result)
        print("population stopped", result["statistics"]["interrupted"])
        """
    )
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=90, check=False)
    assert run.stdout.split("\n")[:5] == [
        "raised", "stopped True", "interrupted", "solve interrupted", "population stopped True"
    ], run.stderr


def test_threads_keep_a_processor_time_budget_over_all_threads() -> None:
    """Under clock="process" the budget counts every thread: three threads for 1 s use
    about 1 s of the process's processor time, not 3 s."""
    instance = random_instance(random.Random(14), 120, 5)
    began = time.process_time()
    result = zelk.solve_json_str(dumps(instance), 1.0, improve=True, threads=3)
    used = time.process_time() - began
    check_solution(instance, result)
    assert used < 2.0, f"3 threads used {used:.2f} s of processor time on a 1 s budget"
