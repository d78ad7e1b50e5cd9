"""The benchmark instance generator (benchmarks/instances.py) on the published data, the
OR-Tools model of the comparison (benchmarks/ortools_model.py), whose routes must pass the
checker, and the comparison's report."""

from __future__ import annotations

import math
import random
import sys
from pathlib import Path

import pytest
from checks import random_instance

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "benchmarks"))

import instances

# The shared data sits at /work/shared/data on a developer's machine and beside the
# clone (../shared/data) in CI.
DATA = next(
    (
        p
        for p in (ROOT.parent / "shared" / "data", Path("/work/shared/data"))
        if (p / "tsplib").is_dir()
    ),
    None,
)
needs_data = pytest.mark.skipif(
    DATA is None, reason="shared benchmark data not present"
)


def _allowed(instance: dict) -> dict[int, list[str]]:
    items = [
        i
        for c in instance["constraints"]
        if c["kind"] == "assignment"
        for i in c["items"]
    ]
    return {item["node"]: item["types"] for item in items}


@needs_data
@pytest.mark.parametrize("objective", ["min_max", "min_sum"])
def test_tsplib_instance_eil51(objective: str) -> None:
    instance = instances.tsplib_instance(DATA, "eil51", 3, objective)
    nodes = instance["nodes"]
    assert len(nodes) == 51
    # File node 1 (37, 52) is the depot, vertex 0; ids are vertices.
    assert [n["id"] for n in nodes] == list(range(51))
    assert (nodes[0]["x"], nodes[0]["y"], nodes[0]["type"]) == (37.0, 52.0, "DEPOT")
    assert all(n["type"] == "TARGET" for n in nodes[1:])
    assert [(a["start_node"], a["end_node"]) for a in instance["agents"]] == [
        (0, 0)
    ] * 3
    assert instance["options"]["objective"] == objective
    matrix = instance["costs"]["salesman"]
    # Nodes 1 (37, 52) and 2 (49, 49): sqrt(12^2 + 3^2) = sqrt(153) = 12.3693..., not the
    # rounded TSPLIB 12.
    assert matrix[0][1] == pytest.approx(math.sqrt(153.0), abs=1e-12)
    assert matrix[1][0] == matrix[0][1]
    assert matrix[0][0] == 0.0
    # Every node, the depot too, lists its allowed type.
    assert _allowed(instance) == {v: ["salesman"] for v in range(51)}
    # TSPLIB's own convention rounds to the nearest integer; it is a set of its own.
    rounded = instances.tsplib_instance(DATA, "eil51", 3, objective, "nint")
    assert rounded["costs"]["salesman"][0][1] == 12.0
    assert instances.variant("mtsp-minmax", "nint") == "mtsp-minmax-nint"
    assert instances.variant("mtsp-minmax-nint", "exact") == "mtsp-minmax"
    assert instances.variant("random", "nint") == "random"


@needs_data
def test_solomon_instance_folds_service_into_travel() -> None:
    instance = instances.solomon_instance(DATA, 25, "R101", 8, limits=True)
    assert len(instance["nodes"]) == 26
    times = instance["costs"]["vehicle"]
    # Depot (35, 35), customer 1 (41, 49), service 10: dist = sqrt(6^2 + 14^2) = sqrt(232).
    assert times[0][1] == pytest.approx(math.sqrt(232.0))
    assert times[1][0] == pytest.approx(10.0 + math.sqrt(232.0))
    windows = {
        i["node"]: (i["start"], i["end"])
        for c in instance["constraints"]
        if c["kind"] == "timewindow"
        for i in c["items"]
    }
    assert windows[0] == (0.0, 230.0) and windows[1] == (161.0, 171.0)
    # Every other agent is limited to int(0.8 * 230) = 184; the rest to the horizon.
    assert [a["max_length"] for a in instance["agents"][:2]] == [230, 184]
    assert set(_allowed(instance)) == set(range(26))


def test_typed_instance_lists_every_node() -> None:
    instance = instances.typed_instance(30, 4, seed=5)
    allowed = _allowed(instance)
    assert set(allowed) == set(range(30))
    assert allowed[0] == ["truck", "drone"]
    assert all(types and set(types) <= {"truck", "drone"} for types in allowed.values())
    # Drones fly the same arc 1.5 times faster.
    truck, drone = instance["costs"]["truck"], instance["costs"]["drone"]
    assert drone[3][7] == pytest.approx(truck[3][7] / 1.5)


def test_random_instances_are_reproducible() -> None:
    assert instances.random_instance(20, 2, seed=9) == instances.random_instance(
        20, 2, seed=9
    )
    assert instances.random_instance(20, 2, seed=9) != instances.random_instance(
        20, 2, seed=10
    )


@pytest.mark.parametrize(
    ("objective", "features", "setting"),
    [
        ("min_max", {}, "span-pci"),
        ("min_max", {}, "span100-pca"),
        ("min_sum", {}, "sum-savings"),
        ("min_max", {"two_types": True, "windows": True, "limits": True}, "span-pca"),
        ("min_sum", {"two_types": True, "windows": True}, "sum-pci"),
    ],
)
def test_ortools_model_solution_passes_checker(
    objective: str, features: dict, setting: str
) -> None:
    pytest.importorskip("ortools")
    import compare
    import ortools_model

    instance = random_instance(
        random.Random(11), 10, 3, objective=objective, **features
    )
    record = ortools_model.run(instance, 0.3, setting)
    result = record["result"]
    assert result["status"] == "success"
    assert compare.problems_of(instance, result) == []
    # The anytime list ends at the returned solution's objective (re-costed in floating point).
    last = record["anytime"][-1]
    expected = result["statistics"][
        "max_cost" if objective == "min_max" else "sum_cost"
    ]
    assert compare.score(objective, last[1], last[2]) == pytest.approx(expected)


@pytest.mark.parametrize("solver", ["ortools", "pyvrp"])
def test_peer_models_honour_every_fleet_field(solver: str) -> None:
    """Two load dimensions, service, two windows, optional targets: the peers' plans
    pass the checker, which re-walks every rule and re-adds the penalties."""
    pytest.importorskip(solver)
    import compare
    import fleet_instances

    instance = fleet_instances.mixed(24, "min_sum", seed=3)
    if solver == "pyvrp":
        import pyvrp_model

        record = pyvrp_model.run(instance, 0.5)
    else:
        import ortools_model

        record = ortools_model.run(instance, 0.5, "fleet-sum-pci")
    result = record["result"]
    assert result["status"] == "success"
    assert compare.problems_of(instance, result, focal_search=False) == []


def _row(set_name: str, name: str, solver: str, objective: float | None) -> dict:
    return {
        "set": set_name,
        "name": name,
        "solver": solver,
        "budget": 10.0,
        "nodes": 10,
        "agents": 2,
        "objective": objective,
        "max_cost": objective,
        "sum_cost": objective,
        "check": "ok" if objective is not None else "no solution",
        "anytime": [[0.01, objective, objective]] if objective is not None else [],
        "peak_rss_mb": 40.0,
    }


def test_report_replaces_only_its_own_section(
    tmp_path: Path, monkeypatch: pytest.MonkeyPatch
) -> None:
    import compare
    import report

    monkeypatch.setattr(compare, "CACHE", tmp_path / "cache")
    monkeypatch.setattr(report, "PLOTS", tmp_path / "plots")
    results_md = tmp_path / "RESULTS.md"
    monkeypatch.setattr(report, "RESULTS_MD", results_md)
    other = "# Benchmark results\n\n## Search\nkept as written\n\n"
    results_md.write_text(
        other + f"{report.BEGIN}\nold table\n{report.END}\n\n## Later\nalso kept\n"
    )
    runs = {}
    # Ratios 110/100 = 1.1 and 90/100 = 0.9: geometric mean sqrt(0.99) = 0.99499 -> "0.995";
    # the third instance has no zelk solution and counts in no mean, but as a loss.
    ortools = "ortools:" + report.CHOSEN["random"]
    for name, zelk_value in (("a", 110.0), ("b", 90.0), ("c", None)):
        runs[compare.run_key("random", name, "improve", 10.0)] = _row(
            "random", name, "improve", zelk_value
        )
        runs[compare.run_key("random", name, ortools, 10.0)] = _row(
            "random", name, ortools, 100.0
        )
    report.write_report({"runs": runs})
    text = results_md.read_text()
    assert text.startswith(other + report.BEGIN)
    assert text.endswith(f"{report.END}\n\n## Later\nalso kept\n")
    assert "old table" not in text
    lines = text.splitlines()
    summary = next(line for line in lines if line.startswith("| random | 10 s |"))
    assert summary == "| random | 10 s | 3 | 0.995 | 1 / 0 / 1 | – | 1 / – / 0 |"
    target = next(line for line in lines if "random, 10 s: geometric mean" in line)
    assert target.startswith("- **MISS**")
    assert target.endswith("above 1.0: a (1.1000), c (no solution)")
    memory = next(line for line in lines if "peak RSS of every improve" in line)
    assert memory.startswith("- **PASS**")
