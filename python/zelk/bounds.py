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

from typing import TYPE_CHECKING, Any

from zelk.distances import PositionDistances

if TYPE_CHECKING:
    import numpy as np

__all__ = ["lower_bound"]


def _entry_exit_minima(cost: Any) -> tuple[np.ndarray, np.ndarray]:
    """Per vertex, the cheapest arc into it and out of it from or to another vertex."""
    import numpy as np

    n = len(cost)
    if n < 2:
        return np.full(n, np.inf), np.full(n, np.inf)
    if isinstance(cost, PositionDistances):
        nearest = np.asarray(cost.nearest_other(), dtype=float)
        return nearest, nearest
    # The diagonal masked in a copy: the Instance's arrays are read-only and shared.
    off_diagonal = np.where(np.eye(n, dtype=bool), np.inf, np.asarray(cost, dtype=float))
    return off_diagonal.min(axis=0), off_diagonal.min(axis=1)


def lower_bound(instance: Any, objective: str) -> float | None:
    """A lower bound on the optimum of ``instance`` under ``objective`` ("min_max" or
    "min_sum"); None when some target can be served by no agent (nothing to bound).

    ``instance`` is a :class:`zelk.Instance`, or a dict checked and complete as
    :func:`zelk.schema.prepare_instance` returns it (one n x n matrix per agent type,
    costs >= 0), read into one.
    """
    import numpy as np

    from zelk.instance import Instance

    if not isinstance(instance, Instance):
        instance = Instance.from_prepared(instance)
    n = instance.n
    vertex_of = {node_id: v for v, node_id in enumerate(instance.ids.tolist())}
    ends = np.zeros(n, dtype=bool)
    for node_id in (*instance.start_nodes.tolist(), *instance.end_nodes.tolist()):
        ends[vertex_of[node_id]] = True
    targets = ~ends & instance.required
    used = sorted(set(instance.agent_types.tolist()))
    minima = {t: _entry_exit_minima(instance.cost_of(instance.types[t])) for t in used}
    # The earliest opening over a node's windows; 0 for a node without any.
    counts = np.diff(instance.window_offsets)
    opens = np.full(n, np.inf)
    np.minimum.at(opens, np.repeat(np.arange(n), counts), instance.windows[:, 0])
    opens[counts == 0] = 0.0
    offsets = instance.allowed_offsets.tolist()
    allowed = instance.allowed.tolist()
    used_set = set(used)
    exits = instance.return_to_end

    total = 0.0
    single = 0.0
    for v in np.flatnonzero(targets).tolist():
        types = set(allowed[offsets[v] : offsets[v + 1]]) & used_set
        if not types:
            return None
        total += min(float(minima[t][0][v]) for t in types)
        single = max(
            single,
            min(
                max(float(minima[t][0][v]), float(opens[v]))
                + (float(minima[t][1][v]) if exits else 0.0)
                for t in types
            ),
        )
    if objective == "min_max":
        return max(single, total / instance.m)
    return max(single, total)
