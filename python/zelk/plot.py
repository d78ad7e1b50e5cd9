"""Drawing a solution: the routes on the node positions, one colour per agent, and the
anytime curve (the best cost found so far over the search's processor time).

matplotlib is an optional dependency (``pip install zelk[plot]``); it is imported only
when a plot is asked for, so ``import zelk`` never needs it.
"""

from __future__ import annotations

import math
from collections.abc import Mapping
from pathlib import Path
from typing import Any

__all__ = ["plot_anytime", "plot_solution"]


def _positions(instance: Mapping[str, Any]) -> list[tuple[float, float]]:
    points = [(float(node["x"]), float(node["y"])) for node in instance["nodes"]]
    if len(set(points)) <= 1 < len(points):
        # An instance given only as a matrix has no layout: spread the nodes on a
        # circle so the routes can still be told apart.
        n = len(points)
        return [(math.cos(2 * math.pi * k / n), math.sin(2 * math.pi * k / n)) for k in range(n)]
    return points


_COLOURS = [
    "#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd",
    "#8c564b", "#e377c2", "#7f7f7f", "#bcbd22", "#17becf",
]  # fmt: skip


def _figure_class() -> Any:
    try:
        from matplotlib.figure import Figure
    except ImportError as error:  # pragma: no cover - depends on the environment
        raise ImportError("plotting needs matplotlib: pip install 'zelk[plot]'") from error
    return Figure


def _objective(instance: Mapping[str, Any] | None) -> str | None:
    if instance is None:
        return None
    objective = instance.get("options", {}).get("objective", "min_sum")
    return "min_max" if objective in ("min_max", "MIN_MAX") else "min_sum"


def _draw_routes(axes: Any, instance: Mapping[str, Any], result: Mapping[str, Any]) -> None:
    points = _positions(instance)
    vertex_of = {int(node["id"]): v for v, node in enumerate(instance["nodes"])}
    depots = {
        vertex_of[int(a[key])]
        for a in instance["agents"]
        for key in ("start_node", "end_node")
        if int(a[key]) in vertex_of
    }
    targets = [p for v, p in enumerate(points) if v not in depots]
    if targets:
        axes.scatter(*zip(*targets), s=18, color="0.55", zorder=3)
    if depots:
        axes.scatter(
            *zip(*(points[v] for v in sorted(depots))),
            s=70,
            marker="s",
            color="black",
            zorder=4,
            label="depot",
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
    for k, route in enumerate(result.get("routes", [])):
        route_path = [v for v in route.get("path", []) if 0 <= v < len(points)]
        if len(route_path) < 2:
            continue
        xs, ys = zip(*(points[v] for v in route_path))
        axes.plot(
            xs,
            ys,
            color=_COLOURS[k % len(_COLOURS)],
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
        # Below the map, where it hides no route.
        axes.legend(
            loc="upper center",
            bbox_to_anchor=(0.5, -0.06),
            ncol=min(4, len(result["routes"]) + 1),
            fontsize=8,
            frameon=False,
        )


def _draw_anytime(axes: Any, result: Mapping[str, Any], objective: str | None) -> None:
    # Plans that leave a required target out cost less than any solution: the curve
    # shows solutions only.
    entries = [e for e in result.get("anytime", []) if not e.get("unserved_required", 0)]
    axes.set_xlabel("processor time (s)")
    axes.set_ylabel("cost")
    axes.grid(True, color="0.9")
    if not entries:
        axes.set_title("best cost over time: no solution")
        return
    times = [float(e["time"]) for e in entries]
    # Hold the last value until the search stopped, so the flat tail (and a lone
    # solution) shows. solve_time is wall-clock, the stamps processor time; on one
    # thread the two run nearly together, and it only sets where the line ends.
    stats = result.get("statistics", {})
    end = max(times[-1], float(stats.get("solve_time", 0.0)))
    if end <= times[0]:
        end = times[0] + max(abs(times[0]) * 0.05, 1e-3)
    if times[0] > 0 and end / times[0] > 20:
        # Improvements come fast at first and slowly later: a log axis shows both.
        axes.set_xscale("log")
    for key, label, colour in (
        ("max_cost", "longest route", "#d62728"),
        ("sum_cost", "sum of routes", "#1f77b4"),
    ):
        values = [float(e[key]) for e in entries]
        main = objective is None or key == ("max_cost" if objective == "min_max" else "sum_cost")
        axes.step(
            times + [end],
            values + [values[-1]],
            where="post",
            color=colour,
            linewidth=2.0 if main else 1.0,
            linestyle="-" if main else "--",
            label=label + (" (objective)" if main and objective is not None else ""),
        )
        axes.scatter(times, values, s=14 if main else 8, color=colour, zorder=3)
    axes.set_title(f"best cost over time: {len(entries)} improving solutions")
    axes.legend(loc="best", fontsize=8)


def plot_solution(
    instance: Mapping[str, Any],
    result: Any,
    path: str | Path,
    *,
    anytime: bool = True,
) -> None:
    """Writes a picture of ``result`` on ``instance`` to ``path`` (PNG, SVG, PDF, …,
    by the file's suffix).

    Targets are grey dots, start and end nodes (depots) black squares, and each agent's
    route a line of its own colour, labelled with the agent id and route cost. Beside
    it, unless ``anytime`` is False, the anytime curve as :func:`plot_anytime` draws it.

    Parameters
    ----------
    instance
        The instance as a JSON-format dict (node positions ``x``/``y``; an instance
        whose nodes all share one position is drawn on a circle).
    result
        The dict returned by :func:`zelk.solve_json_str` or :func:`zelk.solve_json_file`,
        or a :class:`zelk.Solution`.
    path
        The file to write.
    anytime
        Add the panel with the best cost over time.

    Raises
    ------
    ImportError
        When matplotlib is not installed.
    """
    if hasattr(result, "to_dict"):
        result = result.to_dict()
    figure_class = _figure_class()
    if anytime:
        figure = figure_class(figsize=(12.0, 6.0), dpi=100)
        routes_axes, anytime_axes = figure.subplots(1, 2, width_ratios=(1.15, 1.0))
        _draw_routes(routes_axes, instance, result)
        _draw_anytime(anytime_axes, result, _objective(instance))
    else:
        figure = figure_class(figsize=(7.0, 7.0), dpi=100)
        _draw_routes(figure.add_subplot(), instance, result)
    figure.tight_layout()
    figure.savefig(str(path))


def plot_anytime(
    result: Any, path: str | Path, *, objective: str | None = None
) -> None:
    """Writes the anytime curve of ``result`` to ``path``: the longest route and the sum
    of routes of each improving solution, against the processor time at which the
    search found it, held as steps until the next one.

    Parameters
    ----------
    result
        The dict returned by :func:`zelk.solve_json_str` or :func:`zelk.solve_json_file`
        (its ``"anytime"`` list).
    path
        The file to write (PNG, SVG, PDF, … by the suffix).
    objective
        ``"min_max"`` or ``"min_sum"`` draws that cost bold and the other dashed;
        None draws both alike.

    Raises
    ------
    ImportError
        When matplotlib is not installed.
    """
    if objective is not None and objective not in ("min_max", "min_sum"):
        raise ValueError(f"objective must be 'min_max', 'min_sum' or None (got {objective!r})")
    if hasattr(result, "to_dict"):
        result = result.to_dict()
    figure = _figure_class()(figsize=(7.0, 4.5), dpi=100)
    _draw_anytime(figure.add_subplot(), result, objective)
    figure.tight_layout()
    figure.savefig(str(path))
