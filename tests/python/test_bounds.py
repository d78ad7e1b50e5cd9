"""The lower bound in zelk.Solution against the brute-force optimum on small instances
of every kind (windows, route limits, two types with assignment rules, open routes,
both objectives)."""

from __future__ import annotations

import itertools
import math
import random
import sys
from pathlib import Path
from typing import Any

import pytest
import zelk

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "benchmarks"))
import fleet_bound
from checks import random_instance, route_duration
from zelk.bounds import lower_bound
from zelk.schema import prepare_instance


def brute_force(instance: dict[str, Any], objective: str) -> float | None:
    """The optimum by trying every split of every order of the targets among the agents
    (agent k takes the k-th segment); None when nothing is feasible."""
    nodes, agents = instance["nodes"], instance["agents"]
    vertex_of = {node["id"]: v for v, node in enumerate(nodes)}
    ends = {vertex_of[a[key]] for a in agents for key in ("start_node", "end_node")}
    targets = [v for v in range(len(nodes)) if v not in ends]
    allowed = {
        item["node"]: set(item["types"])
        for c in instance["constraints"] if c["kind"] == "assignment" for item in c["items"]
    }  # fmt: skip
    best = None
    for order in itertools.permutations(targets):
        for cuts in itertools.combinations_with_replacement(range(len(order) + 1), len(agents) - 1):
            bounds = (0, *cuts, len(order))
            costs = []
            for k, agent in enumerate(agents):
                segment = order[bounds[k] : bounds[k + 1]]
                if any(agent["type"] not in allowed.get(nodes[v]["id"], {agent["type"]}) for v in segment):
                    break
                path = [vertex_of[agent["start_node"]], *segment, vertex_of[agent["end_node"]]]
                cost = route_duration(instance, agent, path)
                if math.isnan(cost):
                    break
                costs.append(cost)
            else:
                value = max(costs) if objective == "min_max" else sum(costs)
                best = value if best is None else min(best, value)
    return best


KINDS = [
    # (two types, windows, limits, return_to_end, objective)
    (False, False, False, True, "min_max"),
    (False, False, False, True, "min_sum"),
    (True, False, False, True, "min_sum"),
    (True, True, False, True, "min_max"),
    (False, True, True, False, "min_sum"),
    (True, True, True, False, "min_max"),
]


@pytest.mark.parametrize(("seed", "kind"), list(enumerate(KINDS)))
def test_lower_bound_never_exceeds_the_brute_force_optimum(seed: int, kind: tuple) -> None:
    """On seeded small instances of each kind the bound is positive and at most the
    optimum; a Solution called "optimal" has the optimum's value."""
    two_types, windows, limits, returns, objective = kind
    rng = random.Random(seed)
    feasible = 0
    for _ in range(12):
        instance = random_instance(
            rng, rng.randint(3, 6), rng.randint(1, 3), two_types=two_types, windows=windows,
            limits=limits, return_to_end=returns, objective=objective, time_limit=0.5,
        )  # fmt: skip
        if limits:
            for agent in instance["agents"]:
                agent["max_length"] = rng.choice([150, 250, 400])
        optimum = brute_force(instance, objective)
        bound = lower_bound(prepare_instance(instance), objective)
        if optimum is None:
            continue
        feasible += 1
        assert bound is not None and 0 < bound <= optimum + 1e-9, (bound, optimum)
        if objective == "min_max":  # the benchmarks' bound, with waiting and service
            assert bound <= fleet_bound.minmax_bound(instance) <= optimum + 1e-9
        solution = zelk.solve(instance, improve=False)
        assert solution.lower_bound == bound
        if solution.status == "optimal":
            assert solution.objective_value == pytest.approx(optimum)
    assert feasible >= 4
