"""The memory limit: searches that stop growing at it, instances refused before they are
built, and running out of memory without losing the solution found. Anything that could
exhaust memory runs in a child process whose address space is capped."""

from __future__ import annotations

import json
import math
import random
import subprocess
import sys
import textwrap
from typing import Any

import _zelk_core
import pytest

import zelk
from checks import needs_address_cap
from checks import check_solution, random_instance

LIMIT_LINE = "[warning] memory limit reached: the search ended early and keeps its best solution"
OUT_OF_MEMORY_LINE = "[warning] out of memory: the search ended early and keeps its best solution"

# The sanitizer runtime reserves terabytes of address space: a capped child cannot start.

# Caps the child's address space at what it maps now plus `extra_mb`, then solves the
# instance on standard input and prints the outcome (or the exception) as one JSON line.
CHILD = """
import json, math, resource, sys
import _zelk_core

def mapped_bytes():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmSize:"):
                return int(line.split()[1]) * 1024
    raise RuntimeError("no VmSize")

text = sys.stdin.read()
resource.setrlimit(resource.RLIMIT_AS, (mapped_bytes() + {extra_mb} * 2**20, resource.RLIM_INFINITY))
try:
    result = _zelk_core.solve_json_str(text, {time_limit}, **{kwargs})
    outcome = {{"result": result}}
except Exception as error:
    outcome = {{"error": type(error).__name__, "message": str(error)}}
print("OUTCOME " + json.dumps(outcome), flush=True)
"""


def run_capped(
    instance: dict[str, Any], *, extra_mb: int, time_limit: float, **kwargs: Any
) -> tuple[dict[str, Any], str]:
    """Solves ``instance`` in a child under an address-space cap; returns its outcome
    and standard error."""
    code = CHILD.format(extra_mb=extra_mb, time_limit=time_limit, kwargs=repr(kwargs))
    proc = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        input=json.dumps(instance),
        capture_output=True,
        text=True,
        timeout=300,
    )
    lines = [line for line in proc.stdout.splitlines() if line.startswith("OUTCOME ")]
    assert proc.returncode == 0 and lines, f"child failed ({proc.returncode}): {proc.stderr[-2000:]}"
    return json.loads(lines[-1][len("OUTCOME ") :]), proc.stderr


def many_types(n: int, types: int) -> dict[str, Any]:
    """``types`` agents of distinct types on ``n`` nodes, without cost matrices."""
    return {
        "nodes": [{"id": i, "x": float(i), "y": 0.0, "z": 0.0} for i in range(n)],
        "agents": [
            {"id": a, "type": f"type{a}", "start_node": 0, "end_node": 0} for a in range(types)
        ],
    }


@needs_address_cap
def test_memory_limit_ends_a_long_search_with_its_solution() -> None:
    """A 60 s search under a 150 MB limit stops at the limit, as at a time-out, with a
    checked solution and the limit's line; it never reaches the 700 MB cap."""
    instance = random_instance(random.Random(14), 100, 10, time_limit=60.0)
    outcome, err = run_capped(instance, extra_mb=700, time_limit=60.0, memory_limit_mb=150)
    assert "result" in outcome, outcome
    result = outcome["result"]
    assert result["status"] == "success" and result["timeout"] is True
    assert LIMIT_LINE in err.splitlines()
    assert OUT_OF_MEMORY_LINE not in err
    check_solution(instance, result)


@needs_address_cap
def test_running_out_of_memory_after_a_solution_keeps_it() -> None:
    """With the limit set far above a 300 MB cap, the search runs until allocation fails,
    then returns the solution it had, as at a time-out."""
    instance = random_instance(random.Random(15), 100, 10, time_limit=60.0)
    outcome, err = run_capped(instance, extra_mb=300, time_limit=60.0, memory_limit_mb=1e6)
    assert "result" in outcome, outcome
    result = outcome["result"]
    assert result["status"] == "success" and result["timeout"] is True
    assert OUT_OF_MEMORY_LINE in err.splitlines()
    check_solution(instance, result)


@needs_address_cap
def test_running_out_of_memory_before_any_solution_is_a_memory_error() -> None:
    """Tables that cannot be built under the cap raise MemoryError naming the size."""
    outcome, _ = run_capped(many_types(256, 300), extra_mb=150, time_limit=5.0, memory_limit_mb=1e6)
    assert outcome.get("error") == "MemoryError", outcome
    assert "256 nodes, 300 agents, 300 agent types" in outcome["message"]


@needs_address_cap
@pytest.mark.parametrize(
    ("types", "kwargs", "limit_text"),
    [
        (2000, {"memory_limit_mb": 1000}, "memory limit of 1000 MB"),  # about 2.4 GB of tables
        (20000, {}, "memory limit of"),  # about 24 GB: refused under the default limit
    ],
)
def test_instances_that_cannot_fit_are_refused_before_building(
    types: int, kwargs: dict[str, Any], limit_text: str
) -> None:
    """256 nodes and thousands of agent types are refused with ValueError naming the
    numbers, inside a 200 MB cap that building them would break."""
    outcome, _ = run_capped(many_types(256, types), extra_mb=200, time_limit=5.0, **kwargs)
    assert outcome.get("error") == "ValueError", outcome
    assert f"256 nodes, {types} agents, {types} agent types" in outcome["message"]
    assert limit_text in outcome["message"]


@pytest.mark.parametrize("bad", [0, -5.0, math.nan, math.inf])
def test_memory_limit_must_be_a_positive_number(bad: float) -> None:
    """Zero, negative and non-finite limits are refused by every entry point."""
    text = json.dumps(random_instance(random.Random(1), 6, 2))
    with pytest.raises(ValueError, match="memory_limit_mb"):
        _zelk_core.solve_json_str(text, memory_limit_mb=bad)
    problem = zelk.Problem()
    solver = zelk.Solver(problem, zelk.Options())
    with pytest.raises(ValueError, match="memory_limit_mb"):
        solver.solve(memory_limit_mb=bad)


def test_a_limit_that_is_not_reached_changes_nothing(tmp_path: Any) -> None:
    """Searches that run to the end give the same routes and counters with the default
    limit and with an explicit, larger one, through each entry point."""
    for seed in range(3):
        instance = random_instance(random.Random(seed), 8, 2, time_limit=30.0)
        text = json.dumps(instance)
        default = _zelk_core.solve_json_str(text)
        path = tmp_path / f"instance{seed}.json"
        path.write_text(text)
        larger = _zelk_core.solve_json_file(str(path), memory_limit_mb=8192)
        assert default["timeout"] is False and larger["timeout"] is False
        assert default["routes"] == larger["routes"]
        for key in ("n_generated", "n_expanded", "max_cost", "sum_cost"):
            assert default["statistics"][key] == larger["statistics"][key]


def test_solver_solve_refuses_a_limit_below_its_tables() -> None:
    """Solver.solve checks its limit against the instance's tables before searching."""
    problem = zelk.Problem()
    for vertex in range(3):
        node = zelk.Node()
        node.id = vertex
        problem.add_node(node)
    agent = zelk.Agent()
    agent.type = "t"
    problem.add_agent(agent, 0)
    problem.set_cost_matrix("t", [[1.0] * 3 for _ in range(3)])
    solver = zelk.Solver(problem, zelk.Options())
    with pytest.raises(ValueError, match=r"3 nodes, 1 agents, 1 agent types.*memory limit of 1 MB"):
        solver.solve(memory_limit_mb=0.5)
    assert solver.solve(memory_limit_mb=64) == 1
