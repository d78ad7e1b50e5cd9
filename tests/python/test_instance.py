"""zelk.Instance: one instance from a dict, a file or arrays, and the core's array intake
held to the JSON text intake on random instances of every kind."""

from __future__ import annotations

import json
import random
import subprocess
import sys
import textwrap
import warnings
from pathlib import Path
from typing import Any

import _zelk_core
import numpy as np
import pytest
import zelk
from checks import needs_address_cap
from test_differential import random_instance
from zelk.fleet import scalar_fields
from zelk.schema import prepare_instance
from zelk.tables import core_costs, merge_equivalent_types


def fleet_instance(rng: random.Random) -> dict[str, Any]:
    """A random small instance with, now and then, every field the engine reads: loads in
    one or two dimensions, service, optional targets, second windows, types without a
    matrix (distances between coordinates), open routes."""
    instance = random_instance(rng)
    nodes, agents = instance["nodes"], instance["agents"]
    for node in nodes:
        node["x"], node["y"] = rng.uniform(0, 20), rng.uniform(0, 20)
    ends = {a[key] for a in agents for key in ("start_node", "end_node")}
    width = rng.choice([0, 1, 2])
    for node in nodes:
        if width and node["id"] not in ends:
            amounts = [rng.randint(0, 3) for _ in range(width)]
            node["demand"] = amounts[0] if width == 1 else amounts
        if node["id"] not in ends and rng.random() < 0.3:
            node["service"] = rng.randint(1, 5)
        if node["id"] not in ends and rng.random() < 0.2:
            node["required"], node["penalty"] = False, rng.randint(0, 50)
    for agent in agents:
        if width and rng.random() < 0.7:
            agent["capacity"] = rng.randint(2, 8) if width == 1 else [rng.randint(2, 8)] * 2
    costs = instance["costs"]
    if rng.random() < 0.3:
        del costs[rng.choice(sorted(costs))]
    elif len(costs) == 2 and rng.random() < 0.5:
        costs["b"] = costs["a"]  # one matrix: interchangeable where listed alike
    windows = [c for c in instance["constraints"] if c["kind"] == "timewindow"]
    if windows and rng.random() < 0.5:
        item = rng.choice(windows[0]["items"])
        windows[0]["items"].append({"node": item["node"], "start": item["end"] + 5, "end": item["end"] + 30})
    return instance


def json_path(instance: dict[str, Any], improve: bool, seed: int) -> dict[str, Any]:
    """The instance through the JSON text intake, as zelk.solve sent it before arrays."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        data = merge_equivalent_types(prepare_instance(instance, computed_distances=True))
    if not improve:
        data = scalar_fields(data)
    matrices, distances = core_costs(data)
    text = json.dumps({k: v for k, v in data.items() if k != "costs"})
    keywords: dict[str, Any] = {"improve": True, "seed": seed, "iteration_limit": 40} if improve else {}
    return _zelk_core.solve_json_str(text, 30, cost_matrices=matrices, distances=distances, **keywords)


def arrays_path(instance: zelk.Instance, improve: bool, seed: int) -> dict[str, Any]:
    arrays, types, matrices, distances = instance.core_arrays()
    keywords: dict[str, Any] = {"improve": True, "seed": seed, "iteration_limit": 40} if improve else {}
    return _zelk_core.solve_arrays(
        arrays, types, 30, objective=instance.objective, return_to_end=instance.return_to_end,
        dimensions=instance.dimensions, scalar_loads=instance.scalar_loads,
        cost_matrices=matrices, distances=distances, **keywords,
    )  # fmt: skip


def outcome(result: dict[str, Any]) -> tuple[Any, ...]:
    routes = [(r["agent_id"], r["path"], r["cost"], r.get("load")) for r in result["routes"]]
    return result["status"], routes, result.get("unserved"), result.get("objective_value")


@pytest.mark.parametrize("block", range(2))
def test_arrays_intake_solves_as_the_json_intake(block: int) -> None:
    """Same instance, seed and iteration bound: the same routes, costs, loads and unserved
    targets from arrays as from JSON text, on the improvement path and the focal search."""
    rng = random.Random(4243 * block + 5)
    compared = 0
    for case in range(150):
        instance = fleet_instance(rng)
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            typed = zelk.Instance.from_dict(instance)
        plain_fields = zelk.fleet.focal_search_refusal(typed.to_dict()) is None
        for improve in (True, False) if plain_fields else (True,):
            expected = json_path(instance, improve, seed=case)
            assert outcome(arrays_path(typed, improve, seed=case)) == outcome(expected), (
                f"case {case}, improve={improve}: {instance}"
            )
            compared += 1
    assert compared > 150


def coordinate_instance() -> tuple[dict[str, Any], np.ndarray]:
    rng = np.random.default_rng(3)
    points = rng.uniform(0, 100, size=(40, 2))
    nodes = [{"id": v, "x": x, "y": y} for v, (x, y) in enumerate(points.tolist())]
    agents = [{"id": k, "type": "car", "start_node": 0, "end_node": 0} for k in range(3)]
    return {"nodes": nodes, "agents": agents, "options": {"objective": "min_max"}}, points


def test_a_dict_a_file_and_arrays_solve_alike(tmp_path: Path) -> None:
    """One instance given three ways: the same Instance content and the same routes for
    the same seed and iteration bound; the Solution passes the checker either way."""
    data, points = coordinate_instance()
    path = tmp_path / "instance.json"
    path.write_text(json.dumps(data))
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        given = {
            "dict": zelk.Instance.from_dict(data),
            "file": zelk.Instance.from_file(path),
            "arrays": zelk.Instance.from_arrays(points, agents={"type": ["car"] * 3},
                                                objective="min_max"),  # fmt: skip
        }
    routes = {}
    for how, instance in given.items():
        assert instance.n == 40 and instance.m == 3 and instance.costs == {"car": "exact"}
        assert not instance.positions.flags.writeable
        solution = zelk.solve(instance, time_limit=30, iteration_limit=300, seed=2)
        assert zelk.check_solution(instance, solution) == [], how
        assert zelk.check_solution(data, solution) == [], how
        routes[how] = [route.path for route in solution.routes]
    assert routes["dict"] == routes["file"] == routes["arrays"]
    # An Instance travels to a worker process as it is.
    batch = zelk.solve_many([given["arrays"]], workers=1, time_limit=30, iteration_limit=300, seed=2)
    assert [route.path for route in batch[0].routes] == routes["arrays"]
    # A dict goes the same way inside zelk.solve.
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        direct = zelk.solve(data, time_limit=30, iteration_limit=300, seed=2)
    assert [route.path for route in direct.routes] == routes["dict"]


def test_to_dict_round_trips() -> None:
    """An Instance from arrays, written as a dict and read back, has the same arrays."""
    rng = np.random.default_rng(1)
    n = 12
    matrix = rng.uniform(1, 9, size=(n, n))
    np.fill_diagonal(matrix, 0)
    allowed = rng.random((n, 2)) < 0.8
    allowed[:, 0] = True
    first = zelk.Instance.from_arrays(
        rng.uniform(0, 9, size=(n, 3)), ids=np.arange(100, 100 + n),
        agents={"type": ["a", "b", "a"], "start_node": [100, 100, 101], "capacity": [[5, 6]] * 3,
                "max_length": [0, 80.5, 0]},
        costs={"a": matrix, "b": "nint"}, demands=rng.integers(0, 3, size=(n, 2)),
        service=np.r_[0, 0, rng.uniform(0, 2, n - 2)], required=np.arange(n) % 4 != 3,
        penalty=np.full(n, 7.0), windows=[[0, 50], [60, 90], [5, 9]], window_offsets=[0, 0, 0, 2] + [3] * (n - 3),
        allowed=allowed, objective="min-max", return_to_end=False, time_limit=2, name="mixed",
    )  # fmt: skip
    second = zelk.Instance.from_dict(first.to_dict())
    for field in ("ids", "positions", "demands", "capacities", "service", "required", "penalty",
                  "windows", "window_offsets", "allowed", "allowed_offsets", "agent_types",
                  "start_nodes", "end_nodes", "max_length"):  # fmt: skip
        assert np.array_equal(getattr(first, field), getattr(second, field)), field
    assert (second.types, second.objective, second.return_to_end, second.time_limit, second.name) == (
        ("a", "b"), "min_max", False, 2.0, "mixed")  # fmt: skip
    assert np.array_equal(second.costs["a"], matrix) and second.costs["b"] == "nint"


def test_plain_dicts_read_straight_into_arrays_as_the_full_reading_reads_them() -> None:
    """Nodes of only ids, coordinates and roles with plain agents take the short way in:
    the same Instance as checking, completing and reading the dict, the same warning."""
    from zelk.instance_plain import read_plain

    fields = ("ids", "positions", "depots", "allowed_offsets", "agent_ids", "agent_types",
              "start_nodes", "end_nodes", "max_length", "demands", "capacities", "service", "required")  # fmt: skip
    rng = random.Random(5)
    for case in range(40):
        n = rng.randint(2, 30)
        ids = rng.sample(range(3 * n), n)
        nodes: list[dict[str, Any]] = []
        for node_id in ids:
            node: dict[str, Any] = {"id": node_id, "x": rng.choice([rng.randint(-9, 9), rng.uniform(-9, 9)]),
                                    "y": rng.uniform(0, 5)}  # fmt: skip
            if rng.random() < 0.3:
                node["z"] = rng.randint(0, 3)
            if rng.random() < 0.3:
                node["type"] = rng.choice(["DEPOT", "TARGET"])
            nodes.append(node)
        agents = [{"id": k, "type": rng.choice("pq"), "start_node": rng.choice(ids), "end_node": rng.choice(ids)}
                  for k in rng.sample(range(9), rng.randint(1, 4))]  # fmt: skip
        data: dict[str, Any] = {"nodes": nodes, "agents": agents}
        if case % 2:
            data["options"] = {"objective": rng.choice(["min-max", "MIN_SUM", "min_max"]),
                               "return_to_end": rng.random() < 0.5, "time_limit": rng.choice([1, 2.5])}  # fmt: skip
            data["name"] = f"case {case}"
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            assert read_plain(data, source="x.json", stacklevel=1) is not None, data
        with warnings.catch_warnings(record=True) as short:
            warnings.simplefilter("always")
            fast = zelk.Instance.from_dict(data, source="x.json")
        with warnings.catch_warnings(record=True) as full:
            warnings.simplefilter("always")
            slow = zelk.Instance.from_prepared(prepare_instance(data, source="x.json", computed_distances=True))
        assert [str(w.message) for w in short] == [str(w.message) for w in full]
        for field in fields:
            assert np.array_equal(getattr(fast, field), getattr(slow, field)), (field, data)
        # The types a node allows are a set; the full reading lists them by name.
        bounds = fast.allowed_offsets.tolist()
        assert all(sorted(fast.allowed[a:b]) == sorted(slow.allowed[a:b]) for a, b in zip(bounds, bounds[1:]))
        assert (fast.types, fast.costs, fast.objective, fast.return_to_end, fast.time_limit, fast.name) == (
            slow.types, slow.costs, slow.objective, slow.return_to_end, slow.time_limit, slow.name)  # fmt: skip
        assert zelk.Instance.from_dict(fast.to_dict()).positions.tolist() == slow.positions.tolist()
    # Anything else goes the full way, which names the fault or reads what this cannot.
    others = [_node(1, "x", True), _node(1, "id", 1.0), _node(1, "x", 1e400), _node(1, "type", "HUB"),
              _node(1, "colour", "red"), _agent("type", 3), _agent("id", True), _set("options", {"objective": ["x"]}),
              _set("options", {"time_limit": True}), _set("options", {"seed": 1}), _set("name", 5),
              _set("nodes", [{"id": 0, "x": 0.0, "y": 0.0}]), _set("costs", {})]  # fmt: skip
    for change in others:
        data = _base()
        change(data)
        assert read_plain(data, source=None, stacklevel=1) is None, data


# Each fault once as a dict and once as arrays: both ways refuse it.
def _base() -> dict[str, Any]:
    nodes = [{"id": v, "x": float(v), "y": 0.0} for v in range(4)]
    agents = [{"id": 0, "type": "car", "start_node": 0, "end_node": 0}]
    return {"nodes": nodes, "agents": agents}


def _arrays() -> dict[str, Any]:
    return {"positions": np.column_stack([np.arange(4.0), np.zeros(4)]),
            "agents": {"type": ["car"], "start_node": [0]}}  # fmt: skip


def _set(key: str, value: Any) -> Any:
    def change(data: dict[str, Any]) -> None:
        data[key] = value
    return change


def _node(v: int, key: str, value: Any) -> Any:
    return lambda data: data["nodes"][v].__setitem__(key, value)


def _agent(key: str, value: Any) -> Any:
    return lambda data: data["agents"][0].__setitem__(key, value)


def _agent_array(key: str, value: Any) -> Any:
    return lambda data: data["agents"].__setitem__(key, value)


def _window(start: float, end: float) -> Any:
    return _set("constraints", [{"kind": "timewindow", "items": [{"node": 1, "start": start, "end": end}]}])


def _matrix(entry: float, size: int = 4) -> list[list[float]]:
    matrix = [[0.0 if i == j else 1.0 for j in range(size)] for i in range(size)]
    matrix[0][min(1, size - 1)] = entry
    return matrix


REFUSALS = {
    "repeated node id": (_node(2, "id", 1), _set("ids", [0, 1, 1, 3]), "repeats"),
    "position not finite": (_node(1, "x", float("nan")), _set("positions", [[0, 0], [np.nan, 0], [2, 0], [3, 0]]),
                            "finite"),  # fmt: skip
    "start node not an id": (_agent("start_node", -1), _agent_array("start_node", [-1.0]), "start_node"),
    "unknown start node": (_agent("start_node", 9), _agent_array("start_node", [9]), "not the id of a node"),
    "negative demand": (_node(1, "demand", -1), _set("demands", [0, -1, 0, 0]), "demand"),
    "negative service": (_node(1, "service", -1), _set("service", [0, -1, 0, 0]), "service"),
    "service at a depot": (_node(0, "service", 2), _set("service", [2, 0, 0, 0]), "service"),
    "negative penalty": (_node(1, "penalty", -3), _set("penalty", [0, -3, 0, 0]), "penalty"),
    "negative max_length": (_agent("max_length", -5), _agent_array("max_length", [-5]), "max_length"),
    "negative capacity": (_agent("capacity", -1), _agent_array("capacity", [-1]), "capacity"),
    "window closes first": (_window(9, 3), _set("windows", [[0, 99], [9, 3], [0, 99], [0, 99]]), "before it opens"),
    "window not finite": (_window(0, float("inf")), _set("windows", [[0, 99], [0, np.inf], [0, 99], [0, 99]]),
                          "finite"),  # fmt: skip
    "negative cost": (_set("costs", {"car": _matrix(-1)}), _set("costs", {"car": np.array(_matrix(-1))}), "negative"),
    "cost not finite": (_set("costs", {"car": _matrix(float("inf"))}),
                        _set("costs", {"car": np.array(_matrix(np.inf))}), "finite"),  # fmt: skip
    "matrix of another size": (_set("costs", {"car": _matrix(1, 3)}), _set("costs", {"car": np.array(_matrix(1, 3))}),
                               "shape|rows"),  # fmt: skip
    "matrix of no agent's type": (_set("costs", {"car": _matrix(1), "bus": _matrix(1)}),
                                  _set("costs", {"car": np.array(_matrix(1)), "bus": np.array(_matrix(1))}),
                                  "no agent has the type"),  # fmt: skip
    "time limit of 0": (_set("options", {"time_limit": 0}), _set("time_limit", 0), "time_limit"),
    "above the node limit": (_set("nodes", [{"id": v, "x": 0.0, "y": 0.0} for v in range(10001)]),
                             _set("positions", np.zeros((10001, 2))), "limit"),  # fmt: skip
    "unknown objective": (_set("options", {"objective": "fastest"}), _set("objective", "fastest"), "objective|fastest"),
}


@pytest.mark.parametrize("fault", sorted(REFUSALS))
def test_arrays_refuse_what_dicts_refuse(fault: str) -> None:
    as_dict, as_arrays, words = REFUSALS[fault]
    data, arrays = _base(), _arrays()
    as_dict(data)
    as_arrays(arrays)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        with pytest.raises(ValueError, match=words):
            zelk.Instance.from_dict(data)
        with pytest.raises(ValueError, match=words):
            zelk.Instance.from_arrays(arrays.pop("positions"), **arrays)


@needs_address_cap
def test_a_numpy_matrix_is_never_copied_into_lists() -> None:
    """3,000 nodes with a NumPy matrix (72 MB) solve from arrays well within a memory cap
    that one list-of-lists copy (over 250 MB of Python floats) would break."""
    script = textwrap.dedent(
        """
        import resource, numpy as np, zelk
        cap = 4 * 2**30  # a runaway copy fails here instead of taking the machine
        resource.setrlimit(resource.RLIMIT_AS, (cap, cap))
        rng = np.random.default_rng(0)
        points = rng.uniform(0, 1000, size=(3000, 2))
        matrix = np.sqrt(((points[:, None, :] - points[None, :, :]) ** 2).sum(axis=2))
        instance = zelk.Instance.from_arrays(points, agents=5, costs={"agent": matrix})
        assert np.shares_memory(instance.costs["agent"], matrix)
        solution = zelk.solve(instance, time_limit=0.5, clock="process")
        print(solution.status, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss // 1024)
        """
    )
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr[-2000:]
    status, peak_mb = run.stdout.split()
    assert status == "solved"
    assert int(peak_mb) < 450, peak_mb


def _corrupt(arrays: dict[str, Any], key: str, value: Any) -> dict[str, Any]:
    return {**arrays, key: np.asarray(value, dtype=arrays[key].dtype)}


@pytest.mark.parametrize(
    ("key", "value"),
    [
        ("window_offsets", [0, 5, 1, 1, 1]),  # past the end of the windows
        ("window_offsets", [0, 1, 0, 1, 1]),  # falling
        ("allowed", [0, 7, 0, 0]),  # a type index beyond the types
        ("allowed_offsets", [0, 1, 2, 3]),  # one entry short
        ("positions", np.zeros((3, 3))),  # a row short
        ("agent_types", [-1]),
    ],
)
def test_the_array_intake_refuses_arrays_that_would_read_out_of_bounds(key: str, value: Any) -> None:
    """The core's array intake is public: offsets and indices that would read outside
    their arrays are a ValueError, never a read out of bounds."""
    instance = zelk.Instance.from_arrays(
        np.arange(8.0).reshape(4, 2), agents={"type": ["car"], "start_node": [0]},
        costs={"car": "exact"}, windows=[[0, 9], [0, 9], [0, 9], [0, 9]],
    )  # fmt: skip
    arrays, types, matrices, distances = instance.core_arrays()
    with pytest.raises(ValueError, match=key.split("_")[0]):
        _zelk_core.solve_arrays(_corrupt(arrays, key, value), types, 1.0, distances=distances)
