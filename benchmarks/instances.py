"""Benchmark instance sets for the solver comparison, generated from the published
TSPLIB and Solomon files and from fixed random seeds.

Every instance is a plain solver JSON document (nodes, agents, costs, constraints,
options). Node ids equal vertices (0-based); the depot is vertex 0, which is node 1 of a
TSPLIB file and customer 0 of a Solomon file. Every node, the depot included, is listed
in an assignment item with its allowed agent types, so the solver never warns about a
node without one.

Run as a script to write the sets into ``benchmarks/cache/`` (one JSON file per
instance plus ``index.json``):

    python3 benchmarks/instances.py [--data DIR] [--out DIR] [--sets a,b]
"""

from __future__ import annotations

import argparse
import json
import math
import random
from collections.abc import Callable, Iterator
from pathlib import Path
from typing import Any

DEFAULT_DATA = Path("/work/shared/data")
DEFAULT_CACHE = Path(__file__).resolve().parent / "cache"

MTSPLIB_FILES = ["eil51", "berlin52", "eil76", "rat99"]
MTSPLIB_AGENTS = [2, 3, 5, 7]
LARGE_FILES = ["kroA100", "ch150", "kroA200"]
LARGE_AGENTS = [3, 5, 10]
# Above the focal search's 256 nodes: only the improvement path takes them.
HUGE_FILES = ["lin318", "pr439", "rat783", "pr1002"]
HUGE_AGENTS = [5, 10, 20]
# How the TSPLIB sets measure a leg: "exact" is the real Euclidean distance (what the
# published mTSP values use); "nint" rounds it to the nearest integer, as TSPLIB's own
# EUC_2D convention does. A rounded variant is a set of its own, named with this suffix.
DISTANCES = ("exact", "nint")
NINT_SUFFIX = "-nint"
RANDOM_SIZES = [20, 50, 100, 200, 256]
RANDOM_AGENTS = [2, 3, 5, 10]
TYPED_CASES = [(50, 4), (100, 4), (100, 6), (150, 6)]
# Vehicles per Solomon file: the fewest for which a complete plan was found under the
# windows alone (capacity is not modelled) and, second, under the windows and the route
# limits of the limit set (half the agents may use only 80 % of the horizon).
SOLOMON_AGENTS = {
    (25, "C101"): (3, 3),
    (25, "R101"): (8, 8),
    (25, "RC101"): (4, 5),
    (50, "C101"): (5, 5),
    (50, "R101"): (12, 13),
    (50, "RC101"): (10, 11),
}
# Instance time budget written into "options"; the runner overrides it per solve.
DEFAULT_TIME_LIMIT = 5.0

Instance = dict[str, Any]
Entry = dict[str, Any]


# ---------------------------------------------------------------- readers


def read_tsplib(path: Path) -> list[tuple[float, float]]:
    """Coordinates of a TSPLIB EUC_2D file in node order (node 1 first)."""
    coords: dict[int, tuple[float, float]] = {}
    dimension = None
    in_coords = False
    for raw in path.read_text().splitlines():
        line = raw.strip()
        if not line:
            continue
        if not in_coords:
            key, _, value = line.partition(":")
            if key.strip() == "DIMENSION":
                dimension = int(value)
            elif line.startswith("NODE_COORD_SECTION"):
                in_coords = True
            continue
        if line == "EOF":
            break
        fields = line.split()
        coords[int(fields[0])] = (float(fields[1]), float(fields[2]))
    if dimension is None or sorted(coords) != list(range(1, dimension + 1)):
        raise ValueError(f"{path}: expected node ids 1..DIMENSION")
    return [coords[i] for i in range(1, dimension + 1)]


def read_solomon(path: Path) -> list[dict[str, float]]:
    """Rows of a Solomon file: x, y, ready, due, service; row 0 is the depot."""
    rows = []
    for raw in path.read_text().splitlines():
        fields = raw.split()
        if len(fields) == 7 and all(f.lstrip("-").isdigit() for f in fields):
            _, x, y, _demand, ready, due, service = (float(f) for f in fields)
            rows.append(
                {"x": x, "y": y, "ready": ready, "due": due, "service": service}
            )
    if not rows:
        raise ValueError(f"{path}: no customer rows")
    return rows


# ---------------------------------------------------------------- builders


def euclidean_matrix(
    points: list[tuple[float, float]], distances: str = "exact"
) -> list[list[float]]:
    """Real (unrounded) Euclidean distances, or with ``distances="nint"`` TSPLIB's
    rounding to the nearest integer (halves up)."""
    if distances == "nint":
        return [[float(math.floor(math.dist(p, q) + 0.5)) for q in points] for p in points]
    if distances != "exact":
        raise ValueError(f"distances must be one of {DISTANCES}, not {distances!r}")
    return [[math.dist(p, q) for q in points] for p in points]


def build_instance(
    points: list[tuple[float, float]],
    agent_types: list[str],
    costs: dict[str, list[list[float]]],
    *,
    objective: str,
    allowed: dict[int, list[str]] | None = None,
    windows: dict[int, tuple[float, float]] | None = None,
    max_length: list[int] | None = None,
) -> Instance:
    """One instance: vertex 0 is every agent's depot; ``allowed`` overrides the default
    (all types) per vertex; ``max_length`` gives each agent's route limit (0 = none)."""
    types = list(dict.fromkeys(agent_types))
    nodes = [
        {"id": i, "x": x, "y": y, "z": 0.0, "type": "DEPOT" if i == 0 else "TARGET"}
        for i, (x, y) in enumerate(points)
    ]
    agents = []
    for a, agent_type in enumerate(agent_types):
        agent: dict[str, Any] = {
            "id": a,
            "type": agent_type,
            "start_node": 0,
            "end_node": 0,
        }
        if max_length is not None and max_length[a] > 0:
            agent["max_length"] = int(max_length[a])
        agents.append(agent)
    allowed = allowed or {}
    items = [
        {"node": i, "types": list(allowed.get(i, types))} for i in range(len(points))
    ]
    constraints: list[dict[str, Any]] = [{"kind": "assignment", "items": items}]
    if windows:
        constraints.append(
            {
                "kind": "timewindow",
                "items": [
                    {"node": i, "start": s, "end": e}
                    for i, (s, e) in sorted(windows.items())
                ],
            }
        )
    return {
        "nodes": nodes,
        "agents": agents,
        "costs": costs,
        "constraints": constraints,
        "options": {
            "return_to_end": True,
            "objective": objective,
            "time_limit": DEFAULT_TIME_LIMIT,
        },
    }


def tsplib_instance(
    data: Path, name: str, m: int, objective: str, distances: str = "exact"
) -> Instance:
    points = read_tsplib(data / "tsplib" / f"{name}.tsp")
    return build_instance(
        points,
        ["salesman"] * m,
        {"salesman": euclidean_matrix(points, distances)},
        objective=objective,
    )


def random_points(rng: random.Random, n: int) -> list[tuple[float, float]]:
    return [(rng.uniform(0.0, 1000.0), rng.uniform(0.0, 1000.0)) for _ in range(n)]


def random_instance(n: int, m: int, seed: int) -> Instance:
    """``n`` nodes (the depot included) uniform in a 1000 x 1000 square, min-max."""
    points = random_points(random.Random(seed), n)
    return build_instance(
        points,
        ["salesman"] * m,
        {"salesman": euclidean_matrix(points)},
        objective="min_max",
    )


def typed_instance(n: int, m: int, seed: int) -> Instance:
    """Two agent types, alternating: "truck" drives the distance, "drone" flies it 1.5
    times faster but may serve only light nodes; a quarter of the nodes take trucks only
    and a tenth drones only; min-max."""
    rng = random.Random(seed)
    points = random_points(rng, n)
    dist = euclidean_matrix(points)
    costs = {"truck": dist, "drone": [[d / 1.5 for d in row] for row in dist]}
    allowed: dict[int, list[str]] = {}
    for i in range(1, n):
        r = rng.random()
        if r < 0.25:
            allowed[i] = ["truck"]
        elif r < 0.35:
            allowed[i] = ["drone"]
    agent_types = ["truck" if a % 2 == 0 else "drone" for a in range(m)]
    return build_instance(
        points, agent_types, costs, objective="min_max", allowed=allowed
    )


def solomon_instance(
    data: Path, customers: int, name: str, m: int, limits: bool
) -> Instance:
    """Time windows [ready, due] (depot: the horizon); service time folded into travel,
    t(i, j) = service(i) + dist(i, j); min-max. With ``limits``, every other agent's
    route may last at most 80 % of the horizon."""
    rows = read_solomon(data / "solomon" / str(customers) / f"{name}.txt")
    points = [(r["x"], r["y"]) for r in rows]
    dist = euclidean_matrix(points)
    times = [
        [0.0 if i == j else rows[i]["service"] + dist[i][j] for j in range(len(rows))]
        for i in range(len(rows))
    ]
    windows = {i: (r["ready"], r["due"]) for i, r in enumerate(rows)}
    horizon = rows[0]["due"]
    max_length = None
    if limits:
        max_length = [
            int(0.8 * horizon) if a % 2 == 1 else int(horizon) for a in range(m)
        ]
    return build_instance(
        points,
        ["vehicle"] * m,
        {"vehicle": times},
        objective="min_max",
        windows=windows,
        max_length=max_length,
    )


# ---------------------------------------------------------------- sets


def _tsplib(
    data: Path, files: list[tuple[list[str], list[int]]], objective: str, distances: str
) -> Iterator[tuple[str, Callable[[], Instance]]]:
    for names, agent_counts in files:
        for name in names:
            for m in agent_counts:
                yield (
                    f"{name}-m{m}",
                    lambda name=name, m=m: tsplib_instance(
                        data, name, m, objective, distances
                    ),
                )


def _mtsp(
    data: Path, objective: str, distances: str = "exact"
) -> Iterator[tuple[str, Callable[[], Instance]]]:
    files = [(MTSPLIB_FILES, MTSPLIB_AGENTS), (LARGE_FILES, LARGE_AGENTS)]
    return _tsplib(data, files, objective, distances)


def _huge(
    data: Path, objective: str, distances: str = "exact"
) -> Iterator[tuple[str, Callable[[], Instance]]]:
    return _tsplib(data, [(HUGE_FILES, HUGE_AGENTS)], objective, distances)


def _random(_: Path) -> Iterator[tuple[str, Callable[[], Instance]]]:
    for n in RANDOM_SIZES:
        for m in RANDOM_AGENTS:
            yield (
                f"rand{n}-m{m}",
                lambda n=n, m=m: random_instance(n, m, seed=1000 * n + m),
            )


def _typed(_: Path) -> Iterator[tuple[str, Callable[[], Instance]]]:
    for n, m in TYPED_CASES:
        yield (
            f"typed{n}-m{m}",
            lambda n=n, m=m: typed_instance(n, m, seed=7000 + 10 * n + m),
        )


def _solomon(data: Path, limits: bool) -> Iterator[tuple[str, Callable[[], Instance]]]:
    for (customers, name), agents in SOLOMON_AGENTS.items():
        m = agents[1] if limits else agents[0]
        yield (
            f"{name}-{customers}-m{m}",
            lambda c=customers, name=name, m=m: solomon_instance(
                data, c, name, m, limits
            ),
        )


SETS: dict[
    str, tuple[str, Callable[[Path], Iterator[tuple[str, Callable[[], Instance]]]]]
] = {
    "mtsp-minmax": ("TSPLIB min-max mTSP, depot node 1", lambda d: _mtsp(d, "min_max")),
    "mtsp-minsum": ("TSPLIB min-sum mTSP, depot node 1", lambda d: _mtsp(d, "min_sum")),
    "tsplib-large-minmax": (
        "TSPLIB files of 318-1002 nodes, 5/10/20 agents, min-max, depot node 1",
        lambda d: _huge(d, "min_max"),
    ),
    "tsplib-large-minsum": (
        "TSPLIB files of 318-1002 nodes, 5/10/20 agents, min-sum, depot node 1",
        lambda d: _huge(d, "min_sum"),
    ),
    "random": ("random Euclidean min-max, 1000 x 1000 square", _random),
    "typed": (
        "two agent types (truck/drone matrices) with assignment constraints, min-max",
        _typed,
    ),
    "solomon-tw": (
        "Solomon C101/R101/RC101, time windows, min-max",
        lambda d: _solomon(d, False),
    ),
    "solomon-limit": (
        "Solomon time windows plus per-agent max_length, min-max",
        lambda d: _solomon(d, True),
    ),
}


# The sets with capacities, service, several windows and optional targets.
from fleet_instances import FLEET_SETS  # noqa: E402

SETS.update(FLEET_SETS)

# The sets built from TSPLIB files, which have a rounded-distance variant.
TSPLIB_SETS = {
    "mtsp-minmax": lambda d: _mtsp(d, "min_max", "nint"),
    "mtsp-minsum": lambda d: _mtsp(d, "min_sum", "nint"),
    "tsplib-large-minmax": lambda d: _huge(d, "min_max", "nint"),
    "tsplib-large-minsum": lambda d: _huge(d, "min_sum", "nint"),
}
for _name, _make in TSPLIB_SETS.items():
    SETS[_name + NINT_SUFFIX] = (
        SETS[_name][0] + ", distances rounded to integers (TSPLIB EUC_2D)",
        _make,
    )


def variant(set_name: str, distances: str) -> str:
    """The name of ``set_name`` under the given distances: the rounded variant of a
    TSPLIB set, and every other set (or an exact request) as it is."""
    if distances not in DISTANCES:
        raise ValueError(f"distances must be one of {DISTANCES}, not {distances!r}")
    base = set_name.removesuffix(NINT_SUFFIX)
    if base not in TSPLIB_SETS:
        return set_name
    return base + NINT_SUFFIX if distances == "nint" else base


def generate(data: Path, out: Path, sets: list[str] | None = None) -> list[Entry]:
    """Writes the chosen sets (all by default) under ``out`` and returns their index
    entries: set, name, file (relative to ``out``), objective, nodes, agents."""
    entries: list[Entry] = []
    for set_name in sets or list(SETS):
        _, make_set = SETS[set_name]
        folder = out / set_name
        folder.mkdir(parents=True, exist_ok=True)
        for stale in folder.glob("*.json"):
            stale.unlink()
        for name, make in make_set(data):
            instance = make()
            path = folder / f"{name}.json"
            path.write_text(json.dumps(instance))
            entries.append(
                {
                    "set": set_name,
                    "name": name,
                    "file": str(path.relative_to(out)),
                    "objective": instance["options"]["objective"],
                    "nodes": len(instance["nodes"]),
                    "agents": len(instance["agents"]),
                }
            )
    return entries


def load_index(out: Path = DEFAULT_CACHE) -> list[Entry]:
    return json.loads((out / "index.json").read_text())


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--data", type=Path, default=DEFAULT_DATA)
    parser.add_argument("--out", type=Path, default=DEFAULT_CACHE)
    parser.add_argument(
        "--sets", default=",".join(SETS), help="comma-separated: " + ", ".join(SETS)
    )
    args = parser.parse_args()
    chosen = [s for s in args.sets.split(",") if s]
    unknown = [s for s in chosen if s not in SETS]
    if unknown:
        parser.error(f"unknown sets: {unknown}")
    entries = generate(args.data, args.out, chosen)
    index_path = args.out / "index.json"
    # Keep entries of sets not regenerated this time.
    if index_path.exists():
        kept = [e for e in json.loads(index_path.read_text()) if e["set"] not in chosen]
        entries = kept + entries
    index_path.write_text(json.dumps(entries, indent=1))
    for set_name in chosen:
        count = sum(1 for e in entries if e["set"] == set_name)
        print(f"{set_name}: {count} instances")
    print(f"index: {index_path}")


if __name__ == "__main__":
    main()
