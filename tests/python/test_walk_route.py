"""The C++ route walker seen from Python (_walk_route) against the independent checker's
walk and the Python schedule, on random fleet instances and random routes."""

from __future__ import annotations

import json
import math
import random
from typing import Any

import _zelk_core
import pytest
from test_fleet import random_fleet_instance as _random_fleet_instance
from zelk.check import route_duration
from zelk.solution import schedule


def random_fleet_instance(rng: random.Random, n: int, m: int) -> dict[str, Any]:
    """The fleet tests' random instance with the coordinates the core's reader needs."""
    instance = _random_fleet_instance(rng, n, m)
    for node in instance["nodes"]:
        node.setdefault("z", 0.0)
    return instance


def test_walk_route_agrees_with_the_checker_and_the_schedule_on_random_routes() -> None:
    """Same feasibility and cost as zelk.check's walk, and the same stops (late arrivals
    kept without waiting) as the Python schedule, including routes that break windows,
    limits and capacities."""
    rng = random.Random(7)
    outcomes = set()
    for _ in range(120):
        instance = random_fleet_instance(rng, rng.randint(2, 9), 2)
        points = [(node["x"], node["y"]) for node in instance["nodes"]]
        instance["costs"] = {"t": [[round(math.dist(p, q)) for q in points] for p in points]}
        instance["options"]["return_to_end"] = rng.random() < 0.7
        for agent in instance["agents"]:
            agent["max_length"] = rng.choice([0, 80, 200])
        text = json.dumps(instance)
        for _ in range(4):
            a = rng.randrange(len(instance["agents"]))
            agent = instance["agents"][a]
            targets = list(range(1, len(instance["nodes"])))
            path = [0, *rng.sample(targets, rng.randint(0, len(targets))), 0]
            walked = _zelk_core._walk_route(text, a, path)
            expected = route_duration(instance, agent, path)
            assert walked["feasible"] == (not math.isnan(expected)), (path, walked)
            if walked["feasible"]:
                assert walked["cost"] == pytest.approx(expected)
            outcomes.add(walked["broken"])
            stops = schedule(instance, agent, path)
            assert len(walked["stops"]) == len(stops)
            for got, want in zip(walked["stops"], stops, strict=True):
                assert (got["arrival"], got["waiting"], got["start"], got["departure"]) == (
                    pytest.approx((want.arrival, want.waiting, want.start, want.departure))
                )
    # Routes that pass and routes that break each rule a random route can break.
    assert {None, "window", "limit", "capacity"} <= outcomes


@pytest.mark.parametrize(
    ("agent", "path", "error"),
    [
        (2, [0, 1, 0], IndexError),  # no agent index 2
        (0, [0, 9, 0], IndexError),  # no vertex 9
        (0, [0, -1, 0], IndexError),  # a negative vertex
    ],
)
def test_walk_route_refuses_what_is_not_in_the_instance(
    agent: int, path: list[int], error: type[Exception]
) -> None:
    """Indices outside the instance raise instead of reading past its tables."""
    instance = random_fleet_instance(random.Random(1), 3, 2)
    instance["costs"] = {"t": [[1.0] * 3 for _ in range(3)]}
    with pytest.raises(error):
        _zelk_core._walk_route(json.dumps(instance), agent, path)


def test_walk_route_names_the_rule_a_route_breaks_first() -> None:
    """Hand-made routes: the wrong start, a depot in the middle, and a clean one."""
    instance = random_fleet_instance(random.Random(2), 4, 2)
    instance["constraints"] = []
    instance["costs"] = {"t": [[0 if u == v else 2 for v in range(4)] for u in range(4)]}
    for node in instance["nodes"][1:]:
        node["service"] = 1
        node["demand"] = [0, 0]
    text = json.dumps(instance)
    assert _zelk_core._walk_route(text, 0, [1, 2, 0])["broken"] == "ends"
    assert _zelk_core._walk_route(text, 0, [0, 0, 2, 0])["broken"] == "type"
    # 0 -> 1 at 2, leaves 3; -> 2 at 5, leaves 6; -> 0 at 8.
    clean = _zelk_core._walk_route(text, 0, [0, 1, 2, 0])
    assert clean["feasible"] and clean["cost"] == 8.0
    assert [s["departure"] for s in clean["stops"]] == [0.0, 3.0, 6.0, 8.0]
