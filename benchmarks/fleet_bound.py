"""A lower bound on the min-max objective of a real-fleet instance, to tell whether a
solver at the same value as its peer can still improve.

Every required target is served by some route, and that route lasts at least as long as
the quickest route serving it alone: leave the start (waiting for its window), travel to
the target over the shortest path, wait for the first of its windows still open, serve
it, travel to the end over the shortest path, and wait for the end's window. Arrival
times only grow along a path and waiting never lets a later arrival start earlier, so
other visits on the way cannot shorten it. The best allowed agent gives the bound for the
target, and the largest over the targets bounds the longest route. Service and the
cheapest arc into each target, summed over the required ones and divided by the number
of agents, bound it too. An optional target either lengthens some route to its own
single-target time or adds its penalty, so it can only raise the bound.

    python3 benchmarks/fleet_bound.py benchmarks/cache/fleet-mixed-minmax/mixed100.json
"""

from __future__ import annotations

import json
import sys
from pathlib import Path
from typing import Any

import numpy

INF = float("inf")


def _shortest_paths(matrix: list[list[float]]) -> numpy.ndarray:
    """All-pairs shortest path costs (the instance's arcs need not obey the triangle
    inequality); missing arcs (None or negative-free gaps) are infinite."""
    dist = numpy.array(
        [[INF if c is None else float(c) for c in row] for row in matrix], dtype=float
    )
    numpy.fill_diagonal(dist, 0.0)
    for k in range(len(dist)):
        numpy.minimum(dist, dist[:, k : k + 1] + dist[k : k + 1, :], out=dist)
    return dist


def _arrive(t: float, windows: list[tuple[float, float]] | None) -> float:
    """Start of service on arriving at clock t: the first window not yet closed."""
    if not windows:
        return t
    for start, end in windows:
        if t <= end:
            return max(t, start)
    return INF


def single_target_times(instance: dict[str, Any]) -> dict[int, float]:
    """Per target node id, the quickest route that serves it alone under the best allowed
    agent (infinite when none can)."""
    nodes = instance["nodes"]
    vertex = {int(node["id"]): v for v, node in enumerate(nodes)}
    windows: dict[int, list[tuple[float, float]]] = {}
    allowed: dict[int, set[str]] = {}
    for constraint in instance.get("constraints") or []:
        for item in constraint.get("items", []):
            if constraint["kind"] == "timewindow":
                windows.setdefault(int(item["node"]), []).append(
                    (float(item["start"]), float(item["end"]))
                )
            elif constraint["kind"] == "assignment":
                allowed[int(item["node"])] = {str(t) for t in item["types"]}
    for node_id, spans in windows.items():
        windows[node_id] = sorted(spans)
    returns = bool((instance.get("options") or {}).get("return_to_end", True))
    agents = instance["agents"]
    depots = {int(a[key]) for a in agents for key in ("start_node", "end_node")}
    paths = {str(t): _shortest_paths(m) for t, m in instance["costs"].items()}
    times: dict[int, float] = {}
    for node in nodes:
        node_id = int(node["id"])
        if node_id in depots:
            continue
        v = vertex[node_id]
        best = INF
        for agent in agents:
            kind = str(agent["type"])
            if kind not in allowed.get(node_id, {kind}):
                continue
            dist = paths[kind]
            start, end = int(agent["start_node"]), int(agent["end_node"])
            t = _arrive(0.0, windows.get(start))
            t = _arrive(t + dist[vertex[start], v], windows.get(node_id))
            t += float(node.get("service", 0.0))
            t = _arrive(t + (dist[v, vertex[end]] if returns else 0.0), windows.get(end))
            limit = float(agent.get("max_length", 0.0) or 0.0)
            if limit > 0 and t > limit:
                t = INF
            best = min(best, t)
        times[node_id] = best
    return times


def minmax_bound(instance: dict[str, Any]) -> float:
    """A lower bound on the longest route plus the penalties of unserved optional
    targets; required targets no agent can serve alone are left out (they stay
    unserved whatever the solver does)."""
    times = single_target_times(instance)
    nodes = {int(node["id"]): node for node in instance["nodes"]}
    required = [nid for nid, t in times.items() if nodes[nid].get("required", True) and t < INF]
    single = max((times[nid] for nid in required), default=0.0)
    # Each required target costs a route its service and its cheapest way in.
    vertex = {nid: v for v, nid in enumerate(nodes)}
    cheapest_in = {
        kind: numpy.where(numpy.eye(len(p), dtype=bool), INF, _shortest_paths(p)).min(axis=0)
        for kind, p in instance["costs"].items()
    }
    total = sum(
        min(float(c[vertex[nid]]) for c in cheapest_in.values())
        + float(nodes[nid].get("service", 0.0))
        for nid in required
    )
    bound = max(single, total / len(instance["agents"]))
    for nid, t in times.items():
        if not nodes[nid].get("required", True):
            penalty = float(nodes[nid].get("penalty", 0.0))
            bound = max(bound, single + min(penalty, max(0.0, t - single)))
    return bound


def main() -> None:
    for name in sys.argv[1:]:
        print(f"{name}: {minmax_bound(json.loads(Path(name).read_text())):.2f}")


if __name__ == "__main__":
    main()
