"""Summarises a store of the real-fleet comparison (``compare.py --store``) as markdown:
per set and budget, the geometric means of zelk / PyVRP and zelk / OR-Tools over the
instances where both have a checked solution, the worst single ratio, and how many
solutions each solver had checked; every instance's values; then, for the infeasible
set, the processor time of zelk's whole child process (interpreter start and reading
included) and whether it named each impossible target with its reason. Min-max sets also
get the lower bound of ``fleet_bound.py`` per instance and the geometric means of zelk /
bound and OR-Tools / bound: where both sit at 1.000, no solver can beat the other there.

    python3 benchmarks/fleet_report.py benchmarks/cache/fleet.json
"""

from __future__ import annotations

import functools
import json
import math
import sys
from pathlib import Path
from typing import Any

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))


def _ratios(rows: dict[str, dict[str, Any]], peer: str) -> list[float]:
    ratios = []
    for by_solver in rows.values():
        ours = by_solver.get("improve", {}).get("objective")
        theirs = next((r.get("objective") for s, r in by_solver.items() if s.startswith(peer)), None)
        if ours is not None and theirs:
            ratios.append(ours / theirs)
    return ratios


@functools.cache
def _bound(set_name: str, name: str) -> float | None:
    """The min-max lower bound of a stored instance (None for min-sum sets or when the
    instance file is gone)."""
    path = HERE / "cache" / set_name / f"{name}.json"
    if not set_name.endswith("minmax") or not path.exists():
        return None
    import fleet_bound

    return fleet_bound.minmax_bound(json.loads(path.read_text()))


def _bound_ratios(rows: dict[str, dict[str, Any]], set_name: str, solver: str) -> list[float]:
    ratios = []
    for name, by_solver in rows.items():
        value = next((r.get("objective") for s, r in by_solver.items() if s.startswith(solver)), None)
        bound = _bound(set_name, name)
        if value is not None and bound:
            ratios.append(value / bound)
    return ratios


def _geo(values: list[float]) -> str:
    if not values:
        return "-"
    return f"{math.exp(sum(map(math.log, values)) / len(values)):.3f}"


def render(store: dict[str, Any]) -> str:
    groups: dict[tuple[str, float], dict[str, dict[str, Any]]] = {}
    for row in store["runs"].values():
        key = (row["set"], row["budget"])
        groups.setdefault(key, {}).setdefault(row["name"], {})[row["solver"]] = row
    lines = [
        ("| set | budget (s) | instances | zelk / PyVRP (worst) | zelk / OR-Tools (worst) "
        "| checked: zelk, PyVRP, OR-Tools | min-max: zelk / bound, OR-Tools / bound |"),
        "|---|---|---|---|---|---|---|",
    ]
    infeasible = []
    for (set_name, budget), rows in sorted(groups.items()):
        if set_name == "fleet-infeasible":
            infeasible.append((budget, rows))
            continue
        cells = []
        for peer in ("pyvrp", "ortools"):
            ratios = _ratios(rows, peer)
            cells.append(f"{_geo(ratios)} ({max(ratios):.3f})" if ratios else "-")
        counts = []
        for solver in ("improve", "pyvrp", "ortools"):
            ran = [r for by in rows.values() for s, r in by.items() if s.startswith(solver)]
            ok = sum(1 for r in ran if r.get("objective") is not None)
            counts.append(f"{ok}/{len(ran)}" if ran else "-")
        bounds = "-"
        if set_name.endswith("minmax"):
            bounds = ", ".join(_geo(_bound_ratios(rows, set_name, s)) for s in ("improve", "ortools"))
        lines.append(f"| {set_name} | {budget:g} | {len(rows)} | {cells[0]} | {cells[1]} | "
                     f"{', '.join(counts)} | {bounds} |")  # fmt: skip
    # The targets are read over all instances of an objective at once, too.
    pooled: dict[tuple[str, float], dict[str, dict[str, Any]]] = {}
    for (set_name, budget), rows in groups.items():
        if set_name != "fleet-infeasible":
            objective = "min-max" if set_name.endswith("minmax") else "min-sum"
            for name, by_solver in rows.items():
                pooled.setdefault((objective, budget), {})[f"{set_name}/{name}"] = by_solver
    for (objective, budget), rows in sorted(pooled.items()):
        cells = []
        for peer in ("pyvrp", "ortools"):
            ratios = _ratios(rows, peer)
            cells.append(f"{_geo(ratios)} ({max(ratios):.3f}) over {len(ratios)}" if ratios else "-")
        lines.append(f"| all {objective} sets | {budget:g} | {len(rows)} | {cells[0]} | "
                     f"{cells[1]} | | |")  # fmt: skip
    lines += ["", "| set | budget (s) | instance | zelk | PyVRP | OR-Tools | min-max bound |",
              "|---|---|---|---|---|---|---|"]  # fmt: skip
    for (set_name, budget), rows in sorted(groups.items()):
        if set_name == "fleet-infeasible":
            continue
        for name, by_solver in sorted(rows.items()):
            cells = []
            for solver in ("improve", "pyvrp", "ortools"):
                row = next((r for s, r in by_solver.items() if s.startswith(solver)), None)
                if row is None:
                    cells.append("")
                elif row.get("objective") is None:
                    cells.append(f"({str(row.get('check'))[:40]})")
                else:
                    cells.append(f"{row['objective']:.2f}")
            bound = _bound(set_name, name)
            cells.append("" if bound is None else f"{bound:.2f}")
            lines.append(f"| {set_name} | {budget:g} | {name} | {' | '.join(cells)} |")
    if infeasible:
        import fleet_instances

        lines += ["", ("| infeasible case | budget (s) | zelk process, processor s | "
                  "unserved | only those, each reason named as built |"), "|---|---|---|---|---|"]  # fmt: skip
        for budget, rows in infeasible:
            for name, by_solver in sorted(rows.items()):
                row = by_solver.get("improve")
                if row is None:
                    continue
                kind = name.removeprefix("infeasible-")
                expected = fleet_instances.infeasible(kind)["expected_reasons"]
                reasons = row.get("reasons") or {}
                named = all(reasons.get(str(node)) == why for node, why in expected.items())
                # Every other target served: only the impossible ones are left out.
                named = named and sorted(row.get("unserved") or []) == sorted(expected)
                cpu = row.get("process_cpu")
                lines.append(
                    f"| {name} | {budget:g} | {'-' if cpu is None else f'{cpu:.2f}'} | "
                    f"{row.get('unserved', row.get('check'))} | {'yes' if named else 'NO'} |"
                )
    return "\n".join(lines)


def main() -> None:
    path = Path(sys.argv[1]) if len(sys.argv) > 1 else HERE / "cache" / "fleet.json"
    print(render(json.loads(path.read_text())))


if __name__ == "__main__":
    main()
