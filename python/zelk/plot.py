"""Drawing a solution: nodes at their x/y positions, one colour per route.

matplotlib is an optional dependency (``pip install zelk[plot]``); it is imported only
when a plot is asked for, so ``import zelk`` never needs it.
"""

from __future__ import annotations

import math
from collections.abc import Mapping
from pathlib import Path
from typing import Any

__all__ = ["plot_solution"]


def _positions(instance: Mapping[str, Any]) -> list[tuple[float, float]]:
    points = [(float(node["x"]), float(node["y"])) for node in instance["nodes"]]
    if len(set(points)) <= 1 < len(points):
        # An instance given only as a matrix has no layout: spread the nodes on a
        # circle so the routes can still be told apart.
        n = len(points)
        return [(math.cos(2 * math.pi * k / n), math.sin(2 * math.pi * k / n)) for k in range(n)]
    return points


def plot_solution(instance: Mapping[str, Any], result: Mapping[str, Any], path: str | Path) -> None:
    """Writes a picture of ``result`` on ``instance`` to ``path`` (PNG, SVG, PDF, …,
    by the file's suffix).

    Targets are grey dots, start and end nodes black squares, and each agent's route a
    line of its own colour, labelled with the agent id and route cost.

    Raises
    ------
    ImportError
        When matplotlib is not installed.
    """
    try:
        from matplotlib.figure import Figure
    except ImportError as error:  # pragma: no cover - depends on the environment
        raise ImportError("plotting needs matplotlib: pip install 'zelk[plot]'") from error

    points = _positions(instance)
    vertex_of = {int(node["id"]): v for v, node in enumerate(instance["nodes"])}
    depots = {
        vertex_of[int(a[key])] for a in instance["agents"] for key in ("start_node", "end_node")
    }

    figure = Figure(figsize=(7.0, 7.0), dpi=100)
    axes = figure.add_subplot()
    targets = [p for v, p in enumerate(points) if v not in depots]
    if targets:
        axes.scatter(*zip(*targets), s=18, color="0.55", zorder=3)
    if depots:
        axes.scatter(
            *zip(*(points[v] for v in sorted(depots))), s=60, marker="s", color="black", zorder=4
        )
    for v, (x, y) in enumerate(points):
        axes.annotate(
            str(instance["nodes"][v]["id"]),
            (x, y),
            textcoords="offset points",
            xytext=(3, 3),
            fontsize=7,
            color="0.3",
        )

    colours = [
        "#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd",
        "#8c564b", "#e377c2", "#7f7f7f", "#bcbd22", "#17becf",
    ]  # fmt: skip
    for k, route in enumerate(result.get("routes", [])):
        route_path = [v for v in route.get("path", []) if 0 <= v < len(points)]
        if len(route_path) < 2:
            continue
        xs, ys = zip(*(points[v] for v in route_path))
        axes.plot(
            xs,
            ys,
            color=colours[k % len(colours)],
            linewidth=1.6,
            zorder=2,
            label=f"agent {route.get('agent_id')}: {route.get('cost', 0.0):.2f}",
        )
    stats = result.get("statistics", {})
    name = instance.get("name") or "instance"
    axes.set_title(
        f"{name}: max {stats.get('max_cost', 0.0):.2f}, sum {stats.get('sum_cost', 0.0):.2f}"
    )
    axes.set_aspect("equal", adjustable="datalim")
    if result.get("routes"):
        axes.legend(loc="best", fontsize=8)
    figure.tight_layout()
    figure.savefig(str(path))
