"""Property-based robustness: valid and nearly-valid instances, drawn at random, either
raise one of the documented exception kinds with a message or return a result that an
independent checker accepts. The interpreter never dies: the nastiest inputs run in a
subprocess.

Instances are built from a handful of drawn parameters and a seed rather than drawn
value by value, so 256-node instances cost no more to generate than 3-node ones.
"""

from __future__ import annotations

import json
import math
import random
import subprocess
import sys
import textwrap
from typing import Any

import pytest
from hypothesis import HealthCheck, event, given, settings
from hypothesis import strategies as st

import zelk
from checks import check_solution

# The exception kinds the module documents; anything else escaping is a fault.
DOCUMENTED = (RuntimeError, IndexError, ValueError, TypeError)
BUDGET = 0.05  # processor seconds per solve

# Spoilers turn a valid instance into a nearly-valid one; "none" keeps it valid.
SPOILERS = [
    "none",
    "duplicate_node_id",
    "missing_start",
    "missing_end",
    "unknown_matrix_type",
    "short_matrix",
    "long_matrix",
    "ragged_row",
    "negative_costs",
    "huge_costs",
    "infinite_cost",
    "window_unknown_node",
    "assignment_unknown_type",
    "empty_types",
    "inverted_window",
    "drop_nodes_key",
    "string_coordinate",
    "null_options",
    "real_ids",
    "negative_id",
    "no_agents",
    "no_nodes",
    "costs_array",
]


def build_instance(
    rng: random.Random,
    n: int,
    m: int,
    n_types: int,
    windows: bool,
    limits: bool,
    objective: str,
    return_to_end: bool,
    depots: int,
) -> dict[str, Any]:
    """A valid instance: ``depots`` depot nodes shared out among the agents, Euclidean
    costs scaled per type, some assignment restrictions, optional windows and limits."""
    points = [(rng.uniform(0, 100), rng.uniform(0, 100)) for _ in range(n)]
    depots = min(depots, n)
    nodes = [
        {"id": i, "x": x, "y": y, "z": 0.0, "type": "DEPOT" if i < depots else "TARGET",
         "demand": rng.randint(0, 3)}
        for i, (x, y) in enumerate(points)
    ]
    types = [f"type{k}" for k in range(n_types)]
    agents = []
    for a in range(m):
        start = rng.randrange(depots)
        end = start if rng.random() < 0.7 else rng.randrange(depots)
        agent: dict[str, Any] = {"id": a, "type": types[a % n_types], "start_node": start, "end_node": end}
        if limits:
            agent["max_length"] = rng.randint(50, 600)
        agents.append(agent)
    dist = [[math.dist(p, q) for q in points] for p in points]
    # A matrix for a type no agent has is refused, so only the types in use get one.
    used = {agent["type"] for agent in agents}
    costs = {
        t: [[d * (1.0 + 0.25 * k) for d in row] for row in dist]
        for k, t in enumerate(types)
        if t in used
    }
    items = [
        {"node": i, "types": rng.sample(types, rng.randint(1, n_types))}
        for i in range(n)
        if rng.random() < 0.3
    ]
    constraints: list[dict[str, Any]] = [{"kind": "assignment", "items": items}]
    if windows:
        window_items = []
        for i in range(depots, n):
            if rng.random() < 0.3:
                open_at = rng.uniform(0, 200)
                window_items.append({"node": i, "start": open_at, "end": open_at + rng.uniform(0, 400)})
        constraints.append({"kind": "timewindow", "items": window_items})
    return {
        "nodes": nodes,
        "agents": agents,
        "costs": costs,
        "constraints": constraints,
        "options": {"return_to_end": return_to_end, "objective": objective, "time_limit": 60},
    }


def spoil(instance: dict[str, Any], how: str, rng: random.Random) -> dict[str, Any]:
    """Applies one spoiler in place and returns the instance."""
    nodes, agents, costs = instance["nodes"], instance["agents"], instance["costs"]
    some_type = next(iter(costs)) if costs else "none"
    n = len(nodes)
    if how == "duplicate_node_id" and n > 1:
        # A later node with an id takes the id over (start, end and windows follow it);
        # windows on the duplicated id are dropped so that the checker's by-id windows
        # and the solver's by-vertex windows agree.
        v = rng.randrange(1, n)
        dup = rng.randrange(v)
        nodes[v]["id"] = nodes[dup]["id"]
        for constraint in instance["constraints"]:
            if constraint["kind"] == "timewindow":
                constraint["items"] = [i for i in constraint["items"] if i["node"] not in (v, dup)]
    elif how == "missing_start" and agents:
        rng.choice(agents)["start_node"] = n + 17
    elif how == "missing_end" and agents:
        rng.choice(agents)["end_node"] = n + 17
    elif how == "unknown_matrix_type":
        costs["nobody"] = [[1.0]]
    elif how == "short_matrix" and costs:
        costs[some_type] = [row[: rng.randint(0, n)] for row in costs[some_type][: rng.randint(0, n)]]
    elif how == "long_matrix" and costs:
        costs[some_type] = [row + [1.0] for row in costs[some_type]] + [[1.0] * (n + 1)]
    elif how == "ragged_row" and costs and n > 1:
        costs[some_type][rng.randrange(n)].pop()
    elif how == "negative_costs" and costs:
        for row in costs[some_type]:
            for j in range(len(row)):
                if rng.random() < 0.2:
                    row[j] = -row[j]
    elif how == "huge_costs" and costs:
        for row in costs[some_type]:
            for j in range(len(row)):
                if rng.random() < 0.2:
                    row[j] = rng.choice([1e300, 1.7976931348623157e308, 9999.0, 1e15])
    elif how == "infinite_cost" and costs and n > 1:
        costs[some_type][rng.randrange(n)][rng.randrange(n)] = math.inf  # dumps as Infinity
    elif how == "window_unknown_node":
        instance["constraints"].append(
            {"kind": "timewindow", "items": [{"node": n + 5, "start": 0, "end": 1}]}
        )
    elif how == "assignment_unknown_type" and n > 1:
        instance["constraints"].append(
            {"kind": "assignment", "items": [{"node": rng.randrange(n), "types": ["ghost"]}]}
        )
    elif how == "empty_types" and n > 1:
        instance["constraints"].append({"kind": "assignment", "items": [{"node": n - 1, "types": []}]})
    elif how == "inverted_window" and n > 1:
        instance["constraints"].append(
            {"kind": "timewindow", "items": [{"node": n - 1, "start": 50.0, "end": -50.0}]}
        )
    elif how == "drop_nodes_key":
        del instance["nodes"]
    elif how == "string_coordinate" and n:
        nodes[0]["x"] = "0"
    elif how == "null_options":
        instance["options"] = None
    elif how == "real_ids":
        for node in nodes:
            node["id"] = float(node["id"])
        for agent in agents:
            agent["start_node"] = float(agent["start_node"]) + 0.5  # truncates back
    elif how == "negative_id" and n:
        nodes[-1]["id"] = -1  # read modulo 2^64; references by -1 follow it
        for agent in agents:
            if agent["start_node"] == n - 1:
                agent["start_node"] = -1
            if agent["end_node"] == n - 1:
                agent["end_node"] = -1
        for constraint in instance["constraints"]:
            for item in constraint["items"]:
                if item["node"] == n - 1:
                    item["node"] = -1
    elif how == "no_agents":
        instance["agents"] = []
        instance["costs"] = {}
    elif how == "no_nodes":
        instance["nodes"] = []
    elif how == "costs_array":
        # Stored under the decimal text of the index; the instance keeps the object form
        # (for the checker) and as_text writes the array.
        renamed = {name: str(k) for k, name in enumerate(costs)}
        instance["costs"] = {renamed[name]: matrix for name, matrix in costs.items()}
        for agent in agents:
            agent["type"] = renamed[agent["type"]]
        for constraint in instance["constraints"]:
            if constraint["kind"] == "assignment":
                for item in constraint["items"]:
                    item["types"] = [renamed.get(t, t) for t in item["types"]]
    return instance


def as_text(instance: dict[str, Any], how: str) -> str:
    """The JSON text of a spoiled instance; math.inf becomes Infinity, a parse error."""
    if how == "costs_array":
        return json.dumps({**instance, "costs": list(instance["costs"].values())})
    return json.dumps(instance)


def assert_sound_outcome(instance: dict[str, Any], call: Any) -> None:
    """The call raises a documented kind with a message, or returns a well-formed result
    that the checker accepts when it claims success."""
    try:
        result = call()
    except DOCUMENTED as error:
        assert str(error), f"{type(error).__name__} without a message"
        event(f"raised {type(error).__name__}")
        return
    event(f"status {result['status']}{' timeout' if result['timeout'] else ''}")
    routes = result["routes"]
    assert len(routes) == len(instance["agents"])
    if result["status"] == "success":
        # The specified search takes a move no matrix gives at cost 9999; the checker
        # reports it, and everything else must hold.
        check_solution(instance, result, missing_arcs=True)
        assert result["anytime"], "a success without any recorded solution"
    else:
        assert result["status"] == "failed"
        assert all(r["path"] == [] and r["cost"] == 0.0 for r in routes)
        assert result["statistics"]["max_cost"] == 0.0


@st.composite
def instances(draw: st.DrawFn) -> tuple[dict[str, Any], str]:
    # Mostly small, now and then up to the 256-node limit (and once in a while past it).
    n = draw(st.one_of(st.integers(1, 12), st.integers(13, 60), st.sampled_from([255, 256, 257])))
    m = draw(st.integers(1, 4) if n > 60 else st.integers(1, 6))
    rng = random.Random(draw(st.integers(0, 2**32 - 1)))
    instance = build_instance(
        rng,
        n,
        m,
        n_types=draw(st.integers(1, 3)),
        windows=draw(st.booleans()),
        limits=draw(st.booleans()),
        objective=draw(st.sampled_from(["min_max", "MIN_MAX", "min_sum", "MinMax", ""])),
        return_to_end=draw(st.booleans()),
        depots=draw(st.integers(1, 3)),
    )
    how = draw(st.sampled_from(SPOILERS))
    return spoil(instance, how, rng), how


@settings(max_examples=120, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(instances())
def test_json_solves_raise_documented_errors_or_pass_the_checker(case: tuple[dict[str, Any], str]) -> None:
    instance, how = case
    text = as_text(instance, how)
    assert_sound_outcome(instance, lambda: zelk.solve_json_str(text, time_limit=BUDGET))


def _problem_from(instance: dict[str, Any], nan_at: tuple[int, int] | None) -> zelk.Problem:
    problem = zelk.Problem()
    for record in instance["nodes"]:
        node = zelk.Node()
        node.id = record["id"]
        node.position.x = record["x"]
        node.type = zelk.NodeType.DEPOT if record["type"] == "DEPOT" else zelk.NodeType.TARGET
        problem.add_node(node)
    for record in instance["agents"]:
        agent = zelk.Agent()
        agent.id = record["id"]
        agent.type = record["type"]
        agent.start_node = record["start_node"]
        agent.end_node = record["end_node"]
        agent.time_limit = float(record.get("max_length", 0))
        problem.add_agent(agent, agent.id)
    for name, matrix in instance["costs"].items():
        rows = [list(row) for row in matrix]
        if nan_at is not None:
            rows[nan_at[0] % len(rows)][nan_at[1] % len(rows)] = math.nan
        problem.set_cost_matrix(name, rows)
    return problem


@settings(max_examples=40, deadline=None)
@given(
    n=st.integers(1, 10),
    m=st.integers(1, 3),
    seed=st.integers(0, 2**32 - 1),
    nan_at=st.none() | st.tuples(st.integers(0, 9), st.integers(0, 9)),
    objective=st.sampled_from([zelk.ObjectiveType.MinMax, zelk.ObjectiveType.MinSum]),
    return_to_end=st.booleans(),
)
def test_object_api_refuses_nan_costs_and_solves_the_rest(
    n: int, m: int, seed: int, nan_at: tuple[int, int] | None, objective: Any, return_to_end: bool
) -> None:
    """NaN travel costs cannot be written in JSON, only through the object interface:
    building a Solver from them raises ValueError; without them the Solver runs."""
    rng = random.Random(seed)
    instance = build_instance(rng, n, m, 1, False, False, "min_max", return_to_end, 1)
    problem = _problem_from(instance, nan_at)
    options = zelk.Options()
    options.objective = objective
    options.return_to_end = return_to_end
    options.time_limit = BUDGET
    if nan_at is not None:
        with pytest.raises(ValueError, match="NaN"):
            zelk.Solver(problem, options)
        return
    solver = zelk.Solver(problem, options)
    found = solver.solve()
    result = solver.get_result()
    assert found == (1 if result.paths else 0)


# The nastiest inputs run in a child interpreter: each must end in a documented Python
# exception or a result, never a crash, a hang or an abort.
NASTY = {
    "deep_nesting": "'{\"nodes\": ' + '[' * 200000 + ']' * 200000 + '}'",
    "deep_object_nesting": "'{\"a\":' * 100000 + '1' + '}' * 100000",
    "257_nodes": "json.dumps({'nodes': [{'id': i, 'x': 0, 'y': 0, 'z': 0} for i in range(257)],"
    " 'agents': [{'id': 0, 'type': 't', 'start_node': 0, 'end_node': 0}]})",
    "many_agents": "json.dumps({'nodes': [{'id': i, 'x': 0, 'y': 0, 'z': 0} for i in range(4)],"
    " 'agents': [{'id': a, 'type': 't', 'start_node': 0, 'end_node': 0} for a in range(2000)],"
    " 'costs': {'t': [[1] * 4] * 4}})",
    "overflowing_numbers": "json.dumps({'nodes': [{'id': 0, 'x': 0, 'y': 0, 'z': 0},"
    " {'id': 1, 'x': 1e308, 'y': -1e308, 'z': 0}], 'agents': [{'id': 0, 'type': 't',"
    " 'start_node': 0, 'end_node': 0, 'max_length': 2147483647, 'capacity': -2147483648}],"
    " 'costs': {'t': [[1.7976931348623157e308] * 2] * 2},"
    " 'constraints': [{'kind': 'timewindow', 'items': [{'node': 1, 'start': -1e308, 'end': 1e308}]}]})"
    ".replace('1e308', '1e999')",
    "invalid_utf8": "b'{\"nodes\": [], \"agents\": [], \"x\": \"\\xff\\xfe\"}'.decode('latin-1')",
    "huge_ids": "json.dumps({'nodes': [{'id': 18446744073709551615, 'x': 0, 'y': 0, 'z': 0},"
    " {'id': 1, 'x': 0, 'y': 0, 'z': 0}], 'agents': [{'id': 18446744073709551615, 'type': 't',"
    " 'start_node': -1, 'end_node': 18446744073709551615}], 'costs': {'t': [[0, 1], [1, 0]]}})",
    "all_unreachable_256": "json.dumps({'nodes': [{'id': i, 'x': 0, 'y': 0, 'z': 0} for i in range(256)],"
    " 'agents': [{'id': a, 'type': 't', 'start_node': a, 'end_node': a} for a in range(10)]})",
}


@pytest.mark.parametrize("name", sorted(NASTY))
def test_nasty_inputs_do_not_kill_the_interpreter(name: str) -> None:
    code = textwrap.dedent(
        f"""
        import json, zelk
        text = {NASTY[name]}
        try:
            result = zelk.solve_json_str(text, time_limit=0.2)
            print("RESULT", result["status"])
        except (RuntimeError, IndexError, ValueError, TypeError) as error:
            assert str(error)
            print("RAISED", type(error).__name__)
        """
    )
    proc = subprocess.run(
        [sys.executable, "-c", code], capture_output=True, text=True, timeout=120
    )
    assert proc.returncode == 0, (proc.returncode, proc.stderr[-2000:])
    assert "RESULT" in proc.stdout or "RAISED" in proc.stdout, proc.stdout[-2000:]
