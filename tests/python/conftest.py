"""Shared fixtures: small instances built object by object."""

import multiprocessing
import os
from collections.abc import Callable

import pytest
from hypothesis import settings

# Under CI the property tests replay the same examples every run, so a result there is
# reproducible; elsewhere each run explores new ones.
settings.register_profile("ci", derandomize=True)
if os.environ.get("CI"):
    settings.load_profile("ci")

# How the batch tests' pools start their workers, when a run needs another way than the
# platform's (the sanitizer run: see tools/test_asan_python.sh).
if os.environ.get("ZELK_TEST_START_METHOD"):
    multiprocessing.set_start_method(os.environ["ZELK_TEST_START_METHOD"], force=True)

import zelk


def make_line_problem(n_targets: int, agent_type: str = "truck") -> zelk.Problem:
    """A depot (id 0) and ``n_targets`` targets (ids 1..n) on the x axis, 1 apart.

    One agent of ``agent_type`` starts and ends at the depot; the cost matrix is the
    distance along the line, ``|i - j|``.
    """
    problem = zelk.Problem()
    for vertex in range(n_targets + 1):
        node = zelk.Node()
        node.id = vertex
        node.position.x = float(vertex)
        node.type = zelk.NodeType.DEPOT if vertex == 0 else zelk.NodeType.TARGET
        problem.add_node(node)
    agent = zelk.Agent()
    agent.id = 0
    agent.type = agent_type
    problem.add_agent(agent, agent.id)
    size = n_targets + 1
    problem.set_cost_matrix(
        agent_type, [[float(abs(i - j)) for j in range(size)] for i in range(size)]
    )
    return problem


@pytest.fixture
def line_problem() -> Callable[..., zelk.Problem]:
    """Factory for :func:`make_line_problem`; each call builds a fresh Problem."""
    return make_line_problem
