"""A Solution's schedules, from the core's route walker over the instance's arrays
(_schedules), held to zelk.check's independent walk on random instances of every kind;
and the walker's refusals of calls that name what the instance does not have."""

from __future__ import annotations

import random
import warnings
from typing import Any

import _zelk_core
import numpy as np
import pytest
import zelk
from test_instance import fleet_instance
from zelk import check
from zelk.schema import prepare_instance
from zelk.solution import from_result


def _random_paths(rng: random.Random, instance: dict[str, Any]) -> list[list[int]]:
    """Per agent: its start, targets in random order, and its end (now and then its
    start, or no route at all)."""
    nodes = instance["nodes"]
    vertex = {node["id"]: v for v, node in enumerate(nodes)}
    targets = [v for v in range(len(nodes)) if nodes[v].get("type") != "DEPOT"]
    paths = []
    for agent in instance["agents"]:
        close = vertex[agent["end_node"] if rng.random() < 0.8 else agent["start_node"]]
        middle = rng.sample(targets, rng.randint(0, len(targets)))
        paths.append([vertex[agent["start_node"]], *middle, close] if rng.random() < 0.9 else [])
    return paths


def test_schedules_equal_the_checkers_walk_on_random_instances() -> None:
    """Every stop (arrival, waiting, start, departure) and every load of every route of a
    Solution read from a result equals zelk.check's own walk, on random instances with
    windows (several at a node), service, loads, limits, open routes, starts apart from
    ends, optional targets, per-type matrices and types without one; from a dict and
    from a zelk.Instance alike. Random routes arrive early and late."""
    rng = random.Random(11)
    waited = late = 0
    for _ in range(150):
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            instance = prepare_instance(fleet_instance(rng), computed_distances=True)
        paths = _random_paths(rng, instance)
        agents = instance["agents"]
        result = {"status": "success", "routes": [
            {"agent_id": a["id"], "path": p, "cost": 0.0} for a, p in zip(agents, paths)]}  # fmt: skip
        given = zelk.Instance.from_prepared(instance) if rng.random() < 0.5 else instance
        model = check._Model.read(instance, euclidean=True)
        for route, agent, path in zip(from_result(result, given).routes, agents, paths):
            want = check._walk(model, agent, path) if path else check._Walk(0.0, [], (), None)
            got = [x for s in route.stops for x in (s.arrival, s.waiting, s.start, s.departure)]
            flat = [x for stop in want.stops for x in stop]
            assert got == pytest.approx(flat, rel=1e-9), (instance, path)
            # Dimensions nothing fills may be left out on either side.
            width = max(len(route.load), len(want.load))
            loads = [(*load, *[0.0] * (width - len(load))) for load in (route.load, want.load)]
            assert loads[0] == pytest.approx(loads[1], rel=1e-9), (instance, path)
            waited += any(s.waiting > 0 for s in route.stops)
            late += "closes" in (want.broken or "")
    assert waited and late


def _arrays(**changes: Any) -> tuple[dict[str, Any], list[str], dict[str, Any], dict[str, str]]:
    """A 3-node instance's core arrays, with `changes` to them."""
    typed = zelk.Instance.from_arrays(
        np.array([[0.0, 0.0], [3.0, 4.0], [6.0, 8.0]]), agents=2, costs={"agent": "exact"}
    )
    arrays, types, matrices, distances = typed.core_arrays()
    return {**arrays, **changes}, types, matrices, distances


@pytest.mark.parametrize(
    ("changes", "paths", "offsets", "agents", "costs", "message"),
    [
        ({}, [0, 7, 0], [0, 3], [0], True, r"paths\[0\]: position 1 holds 7, not a vertex"),
        ({}, [0, 1, 0, 0, -1], [0, 3, 5], [0, 1], True, r"paths\[1\]: position 1 holds -1"),
        ({}, [0, 1, 0], [0, 3], [2], True, r"paths\[0\]: agent index 2 is outside the 2 agents"),
        ({}, [0, 1, 0], [0, 3], [-1], True, r"agents\[0\]: -1 is not an agent index"),
        ({}, [0, 1, 0], [0, 4], [0], True, r"offsets must rise from 0 to 3"),
        ({}, [0, 1, 0], [0, 3, 2, 3], [0, 0, 0], True, r"offsets must rise"),
        ({}, [0, 1.5, 0], [0, 3], [0], True, r"paths is not an array of whole numbers"),
        ({"agent_types": np.array([0, 5], dtype=np.int32)}, [0, 0], [0, 2], [0], True,
         r"agent_types holds the type index 5, outside the 1 types"),
        ({"start_nodes": np.array([0, 9], dtype=np.uint64)}, [0, 0], [0, 2], [0], True,
         r"start_node 9 of agent 1 .* is not the id of any node"),
        ({}, [0, 1, 0], [0, 3], [0], False, r"paths\[0\]: the agent's type gives no cost from node 0 to node 1"),
    ],
)  # fmt: skip
def test_schedules_refuse_what_the_instance_does_not_have(
    changes: dict[str, Any], paths: list[int], offsets: list[int], agents: list[int],
    costs: bool, message: str,
) -> None:  # fmt: skip
    """Vertices, agents, types and node ids outside the instance, offsets that leave the
    paths, and a type without costs raise ValueError naming the route or the array,
    never reading outside them."""
    arrays, types, matrices, distances = _arrays(**changes)
    with pytest.raises(ValueError, match=message):
        _zelk_core._schedules(
            arrays, types, np.array(paths), np.array(offsets), np.array(agents),
            cost_matrices=matrices, distances=distances if costs else {},
        )  # fmt: skip
