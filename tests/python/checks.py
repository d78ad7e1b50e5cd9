"""Test oracles for solver output, on top of the package's independent checker.

Nothing here calls the solver; a wrong route, a wrong cost or a lost target shows up
as an AssertionError naming the agent and the rule broken.
"""

from __future__ import annotations

import json
import math
import os
import random
import subprocess
import sys
import textwrap
from typing import Any

import pytest

from zelk.check import NO_ARC, NO_ARC_PROBLEMS, route_duration
from zelk.check import check_solution as _problems

__all__ = ["NO_ARC", "check_solution", "dumps", "random_instance", "route_duration", "run_capped"]


def check_solution(
    instance: dict[str, Any], result: dict[str, Any], *, missing_arcs: bool = False
) -> None:
    """Asserts that a "success" result is a complete, feasible solution of ``instance``
    whose reported costs and statistics match the recomputed ones. With
    ``missing_arcs``, moves the instance gives no cost for are allowed (the specified
    search takes them at cost 9999)."""
    problems = _problems(instance, result)
    if missing_arcs:
        problems = [p for p in problems if not p.endswith(NO_ARC_PROBLEMS)]
    assert not problems, "\n".join(problems)


def random_instance(
    rng: random.Random,
    n: int,
    m: int,
    *,
    two_types: bool = False,
    windows: bool = False,
    limits: bool = False,
    return_to_end: bool = True,
    objective: str = "min_max",
    time_limit: float = 1.0,
) -> dict[str, Any]:
    """A random Euclidean instance: node 0 is the depot of every agent; ids = vertices.
    Every node lists its allowed types, so the solver prints no warning per node."""
    points = [(rng.uniform(0, 100), rng.uniform(0, 100)) for _ in range(n)]
    nodes = [
        {"id": i, "x": x, "y": y, "z": 0.0, "type": "DEPOT" if i == 0 else "TARGET"}
        for i, (x, y) in enumerate(points)
    ]
    types = ["car", "bike"] if two_types and m > 1 else ["car"]
    agents = []
    for a in range(m):
        agent = {"id": a, "type": types[a % len(types)], "start_node": 0, "end_node": 0}
        if limits:
            agent["max_length"] = 400
        agents.append(agent)
    dist = [[math.dist(p, q) for q in points] for p in points]
    costs = {t: [[d * (1.0 + 0.5 * k) for d in row] for row in dist] for k, t in enumerate(types)}
    items = []
    for i in range(n):
        if i > 0 and len(types) > 1 and rng.random() < 0.3:
            items.append({"node": i, "types": [rng.choice(types)]})
        else:
            items.append({"node": i, "types": list(types)})
    constraints: list[dict[str, Any]] = [{"kind": "assignment", "items": items}]
    if windows:
        window_items = []
        for i in range(1, n):
            if rng.random() < 0.4:
                open_at = rng.uniform(0, 150)
                window_items.append({"node": i, "start": open_at, "end": open_at + rng.uniform(100, 400)})
        constraints.append({"kind": "timewindow", "items": window_items})
    return {
        "nodes": nodes,
        "agents": agents,
        "costs": costs,
        "constraints": constraints,
        "options": {"return_to_end": return_to_end, "objective": objective, "time_limit": time_limit},
    }


def dumps(instance: dict[str, Any]) -> str:
    return json.dumps(instance)


def run_capped(code: str, *, extra_mb: int = 100, timeout: float = 60.0) -> Any:
    """Runs ``code`` in a child interpreter after ``import zelk``, with its address space
    capped at what it holds then plus ``extra_mb`` MB; a hang ends the test in
    subprocess.TimeoutExpired. Returns the CompletedProcess (text output)."""
    prelude = textwrap.dedent(
        f"""
        import resource, zelk
        with open("/proc/self/statm") as statm:
            held = int(statm.read().split()[0]) * resource.getpagesize()
        cap = held + {extra_mb} * 2**20
        resource.setrlimit(resource.RLIMIT_AS, (cap, cap))
        """
    )
    return subprocess.run(
        [sys.executable, "-c", prelude + textwrap.dedent(code)],
        capture_output=True,
        text=True,
        timeout=timeout,
    )


# The sanitizer runtime reserves terabytes of address space: a capped child cannot start.
needs_address_cap = pytest.mark.skipif(
    "libasan" in os.environ.get("LD_PRELOAD", ""),
    reason="an address-space cap cannot be combined with AddressSanitizer",
)
