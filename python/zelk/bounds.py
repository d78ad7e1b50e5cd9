"""A lower bound on the objective of a JSON instance, from arc costs and windows alone.

Every target (a node that is no agent's start or end) is entered once, over some arc
into it, by an agent whose type may serve it, and costs are >= 0 (the zelk layer refuses
negative ones), so:

- the sum of the routes is at least the sum, over the targets, of the cheapest arc into
  each by a type that may serve it;
- the route that serves a target v lasts at least until service there can start, which
  is no earlier than the cheapest arc into v nor before v's window opens, and then
  leaves over at least the cheapest arc out of v unless the closing move is free;
- the longest route is at least each of those single-route bounds, and at least the
  sum bound divided by the number of agents.

Waiting elsewhere, service, route limits, penalties and the order of visits only add to
a solution's cost, so the bound never exceeds the optimum (a test checks it against
brute force). An optional target may stay unserved, so it adds nothing; a node with
several windows opens with its earliest.
"""

from __future__ import annotations

import heapq
from collections.abc import Sequence
from types import ModuleType
from typing import Any

from zelk.distances import PositionDistances
from zelk.schema import named_matrices

__all__ = ["lower_bound"]


def _entry_exit_minima(matrix: Sequence[Sequence[float]]) -> tuple[list[float], list[float]]:
    """Per vertex, the cheapest arc into it and out of it from or to another vertex."""
    n = len(matrix)
    if isinstance(matrix, PositionDistances) and n > 1:
        nearest = matrix.nearest_other()
        return nearest, nearest
    numpy: ModuleType | None
    try:
        import numpy
    except ImportError:
        numpy = None
    if numpy is not None and n > 1:
        array = numpy.array(matrix, dtype=float)
        numpy.fill_diagonal(array, numpy.inf)
        return array.min(axis=0).tolist(), array.min(axis=1).tolist()

    def cheapest_off_diagonal(values: Sequence[float], v: int) -> float:
        best = heapq.nsmallest(2, ((float(c), u) for u, c in enumerate(values)))
        for cost, u in best:
            if u != v:
                return cost
        return float("inf")

    entries = [cheapest_off_diagonal([matrix[u][v] for u in range(n)], v) for v in range(n)]
    exits = [cheapest_off_diagonal(matrix[v], v) for v in range(n)]
    return entries, exits


def lower_bound(instance: Any, objective: str) -> float | None:
    """A lower bound on the optimum of ``instance`` under ``objective`` ("min_max" or
    "min_sum"); None when some target can be served by no agent (nothing to bound).

    ``instance`` must be checked and complete (as :func:`zelk.schema.prepare_instance`
    returns it): one n x n matrix per agent type, costs >= 0; or a :class:`zelk.Instance`.
    """
    if hasattr(instance, "to_dict"):  # a zelk.Instance: its JSON form
        instance = instance.to_dict()
    nodes = instance["nodes"]
    agents = instance["agents"]
    vertex_of = {int(node["id"]): v for v, node in enumerate(nodes)}
    ends = {vertex_of[int(a[key])] for a in agents for key in ("start_node", "end_node")}
    agent_types = {str(a["type"]) for a in agents}
    costs = named_matrices(instance["costs"])
    minima = {t: _entry_exit_minima(costs[t]) for t in agent_types}
    allowed: dict[int, set[str]] = {}
    opens: dict[int, float] = {}
    for constraint in instance.get("constraints") or []:
        if constraint["kind"] == "assignment":
            for item in constraint["items"]:
                allowed[int(item["node"])] = {str(t) for t in item["types"]}
        elif constraint["kind"] == "timewindow":
            for item in constraint["items"]:
                node_id = int(item["node"])
                opens[node_id] = min(float(item["start"]), opens.get(node_id, float("inf")))
    returns = bool((instance.get("options") or {}).get("return_to_end", True))

    total = 0.0
    single = 0.0
    for v, node in enumerate(nodes):
        if v in ends or node.get("required", True) is False:
            continue
        node_id = int(node["id"])
        types = allowed.get(node_id, agent_types) & agent_types
        if not types:
            return None
        total += min(minima[t][0][v] for t in types)
        single = max(
            single,
            min(
                max(minima[t][0][v], opens.get(node_id, 0.0)) + (minima[t][1][v] if returns else 0.0)
                for t in types
            ),
        )
    if objective == "min_max":
        return max(single, total / len(agents))
    return max(single, total)
