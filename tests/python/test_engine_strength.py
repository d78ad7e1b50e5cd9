"""The engine's tuning record, budgets that keep paying, and threads: every answer checked,
runs repeated exactly, and longer or wider runs never worse than shorter ones."""

from __future__ import annotations

import random
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
        }
        assert set(params) <= set(defaults)
        kind = [{"objective": "min_max"}, {"objective": "min_sum", "windows": True},
                {"objective": "min_max", "limits": True, "two_types": True}][trial % 3]  # fmt: skip
        instance = random_instance(rng, rng.randint(5, 45), rng.randint(1, 5), **kind)
        result = _solve(instance, seed=trial, iteration_limit=60, engine_params=params)
        assert result["status"] == "success"
        check_solution(instance, result)
