"""Large instances: matrices as arrays read in place, distances computed from coordinates,
and the node limit."""

from __future__ import annotations

import json
import math
import random
import subprocess
import sys
import textwrap
from pathlib import Path

import numpy as np
import pytest
import zelk
from checks import needs_address_cap, random_instance
from zelk.distances import PositionDistances
from zelk.formats import NODE_LIMIT



def _outcome(solution: zelk.Solution) -> tuple:
    return solution.objective_value, [route.path for route in solution.routes]


# 40 nodes reach the focal search too (the arrays become matrices); 300 go to the engine
# alone, which reads the arrays in place.
@pytest.mark.parametrize("n", [40, 300])
@pytest.mark.parametrize("layout", ["C", "F", "float32"])
def test_arrays_and_lists_solve_alike(n: int, layout: str) -> None:
    instance = random_instance(random.Random(n), n, 3, two_types=True, windows=True)
    # Whole numbers: float32 holds them exactly, so every layout is the same matrix.
    lists = {t: [[float(round(c)) for c in row] for row in m] for t, m in instance["costs"].items()}
    arrays = {t: np.asarray(m, dtype=np.float32 if layout == "float32" else float, order="F" if layout == "F" else "C")
              for t, m in lists.items()}  # fmt: skip
    runs = []
    for costs in (lists, arrays):
        solution = zelk.solve({**instance, "costs": costs}, time_limit=30, iteration_limit=300, seed=3)
        assert zelk.check_solution({**instance, "costs": lists}, solution) == []
        runs.append(_outcome(solution))
    assert runs[0] == runs[1]


@pytest.mark.parametrize("n", [30, 400])
@pytest.mark.filterwarnings("ignore::zelk.schema.InstanceWarning")
def test_types_without_matrices_travel_at_euclidean_distances(n: int) -> None:
    rng = random.Random(n)
    instance = random_instance(rng, n, 4, two_types=True)
    for node in instance["nodes"]:
        node["z"] = rng.uniform(0, 20)
    del instance["costs"]["bike"]  # bike: Euclidean in 3-D; car keeps its matrix
    solution = zelk.solve(instance, time_limit=30, iteration_limit=200, seed=1)
    assert solution.status == "solved"
    assert zelk.check_solution(instance, solution) == []
    points = [(node["x"], node["y"], node["z"]) for node in instance["nodes"]]
    for route in solution.routes:
        if route.agent_type == "bike":
            legs = zip(route.path, route.path[1:])
            assert route.cost == pytest.approx(sum(math.dist(points[u], points[v]) for u, v in legs), rel=1e-12)


@pytest.mark.parametrize("objective", ["min_max", "min_sum"])
@pytest.mark.filterwarnings("ignore::zelk.schema.InstanceWarning")
def test_quick_start_on_large_instances(objective: str) -> None:
    """From `quick_start_targets` on, a tour cut into routes is the first solution: the
    plan of a run with an iteration bound is the same with it or without it, and a budget
    that ends during the insertion still gets a complete plan the checker accepts."""
    rng = random.Random(3)
    instance = {
        "nodes": [{"id": i, "x": rng.uniform(0, 100), "y": rng.uniform(0, 100)} for i in range(700)],
        "agents": [{"id": a, "type": "t", "start_node": 0, "end_node": 0} for a in range(4)],
        "options": {"objective": objective},
    }
    runs = [zelk.solve(instance, time_limit=60, iteration_limit=30, seed=2,
                       engine_params={"quick_start_targets": k}) for k in (0, 600)]  # fmt: skip
    assert _outcome(runs[0]) == _outcome(runs[1])
    assert len(runs[1].anytime) > len(runs[0].anytime)  # the quick start's record
    early = zelk.solve(instance, time_limit=1e-3, clock="process", seed=2)
    assert not early.unserved and zelk.check_solution(instance, early) == []


def test_position_distances_read_like_their_list() -> None:
    rng = random.Random(5)
    points = [(rng.uniform(-50, 50), rng.uniform(-50, 50)) for _ in range(25)] + [(3.0, 4.0)] * 2
    for rule, rounding in (("exact", lambda d: d), ("nint", lambda d: math.floor(d + 0.5)), ("ceil", math.ceil)):
        matrix = PositionDistances(points, rule)
        expected = [[0.0 if i == j else float(rounding(math.dist(p, q))) for j, q in enumerate(points)]
                    for i, p in enumerate(points)]  # fmt: skip
        assert np.allclose(matrix.tolist(), expected, rtol=1e-15, atol=0)
        assert np.array_equal(np.asarray(matrix), matrix.tolist())
        assert matrix[-1][0] == matrix[len(points) - 1][0] and matrix[2][1:3] == matrix.tolist()[2][1:3]
    with pytest.raises(IndexError):
        PositionDistances(points)[len(points)]
    # The lower bound's nearest distances, taken in blocks of rows above 512 points.
    for matrix in (PositionDistances(points), PositionDistances(points * 30, "nint")):
        full = np.asarray(matrix) + np.diag(np.full(len(matrix), np.inf))
        assert matrix.nearest_other() == full.min(axis=1).tolist()


def _child(code: str, timeout: float = 120) -> subprocess.CompletedProcess[str]:
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, check=False,
                          text=True, timeout=timeout)  # fmt: skip


@needs_address_cap
def test_a_numpy_matrix_is_not_copied_into_lists() -> None:
    # 3,000 x 3,000 doubles are 72 MB; as a list of lists they would be 290 MB, and a copy
    # in the core another 72 MB. The cap allows the array, the solve and little else.
    result = _child(
        """
        import json, random, resource, numpy as np, zelk
        rng = random.Random(1)
        n = 3000
        xy = np.array([(rng.uniform(0, 1000), rng.uniform(0, 1000)) for _ in range(n)])
        costs = np.sqrt(((xy[:, None, :] - xy[None, :, :]) ** 2).sum(axis=2))
        nodes = [{"id": v, "x": float(x), "y": float(y)} for v, (x, y) in enumerate(xy)]
        instance = {"nodes": nodes, "costs": {"t": costs},
                    "agents": [{"id": a, "type": "t", "start_node": 0, "end_node": 0} for a in range(5)]}
        with open("/proc/self/statm") as statm:
            held = int(statm.read().split()[0]) * resource.getpagesize()
        resource.setrlimit(resource.RLIMIT_AS, (held + 60 * 2**20,) * 2)
        solution = zelk.solve(instance, time_limit=1.0, clock="process")
        print(json.dumps([solution.status, len(solution.unserved)]))
        """
    )
    assert result.returncode == 0, result.stderr[-2000:]
    assert json.loads(result.stdout.splitlines()[-1]) == ["solved", 0]


@needs_address_cap
def test_node_limit_boundary(tmp_path: Path) -> None:
    # One node more than the limit is refused before anything of its size is built, from a
    # dict and from files of every kind; the limit itself solves, by coordinates alone.
    over = NODE_LIMIT + 1
    tsp = tmp_path / "over.tsp"
    tsp.write_text(f"DIMENSION: {over}\nEDGE_WEIGHT_TYPE: EUC_2D\nNODE_COORD_SECTION\n"
                   + "".join(f"{v + 1} {v % 97} {v // 97}\n" for v in range(over)) + "EOF\n")  # fmt: skip
    big = tmp_path / "over.json"
    big.write_text(json.dumps({"nodes": [{"id": v, "x": v, "y": 0} for v in range(over)],
                               "agents": [{"id": 0, "type": "t", "start_node": 0, "end_node": 0}]}))  # fmt: skip
    result = _child(
        f"""
        import json, random, resource, zelk
        resource.setrlimit(resource.RLIMIT_AS, (1500 * 2**20,) * 2)
        def refusal(call):
            try:
                call()
            except ValueError as error:
                return str(error)
            return "accepted"
        rng = random.Random(2)
        def instance(n):
            return {{"nodes": [{{"id": v, "x": rng.uniform(0, 1e4), "y": rng.uniform(0, 1e4)}} for v in range(n)],
                     "agents": [{{"id": a, "type": "t", "start_node": 0, "end_node": 0}} for a in range(4)]}}
        refusals = [refusal(lambda: zelk.solve(instance({over}), time_limit=0.1)),
                    refusal(lambda: zelk.load_instance({str(tsp)!r})),
                    refusal(lambda: zelk.solve({str(big)!r}, time_limit=0.1))]
        solution = zelk.solve(instance({NODE_LIMIT}), time_limit=0.2, clock="process")
        print(json.dumps([refusals, solution.status, len(solution.unserved)]))
        """
    )
    assert result.returncode == 0, result.stderr[-2000:]
    refusals, status, unserved = json.loads(result.stdout.splitlines()[-1])
    assert all(f"{over}" in message and f"{NODE_LIMIT}" in message.replace(",", "") for message in refusals), refusals
    assert (status, unserved) == ("solved", 0)
