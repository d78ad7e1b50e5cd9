"""The engine's strength, side by side on processor time: engine settings against each
other, min-sum against PyVRP, min-max against LKH-3's published values, and threads.

Every zelk answer is verified by zelk.check_solution; PyVRP works on integers: distances
scaled by 1000 and rounded, its route distances scaled back (off by at most 0.0005 a leg).
One solve runs at a time. Budgets are processor seconds of the solving threads (zelk's
clock="process"; for PyVRP, a stopping rule on time.process_time()).

    python3 benchmarks/strength_bench.py configs --budget 10 \\
        --config '{}' --config '{"first_epoch": 30}' [--cases rat99:5:min_max,...]
    python3 benchmarks/strength_bench.py pyvrp --budget 10 [--cases ...] [--config JSON]
    python3 benchmarks/strength_bench.py lkh --budget 60 [--cases lin318:3,...] [--config JSON]
    python3 benchmarks/strength_bench.py threads --budget 10 [--cases ...]
    python3 benchmarks/strength_bench.py longer --budget 10 --factor 6 [--cases ...]

Add --json FILE to append one record per solve.
"""

from __future__ import annotations

import argparse
import itertools
import json
import math
import sys
import time
from pathlib import Path
from typing import Any

sys.path.insert(0, str(Path(__file__).resolve().parent))

from instances import DEFAULT_DATA, read_tsplib, tsplib_instance

# LKH-3's published min-max values (real Euclidean distances, depot = first node).
LKH_MIN_MAX = {
    ("lin318", 3): 15701.26,
    ("lin318", 5): 11288.52,
    ("rat783", 3): 3064.01,
    ("rat783", 5): 1968.83,
    ("rat783", 10): 1317.36,
    ("pcb1173", 3): 19556.70,
    ("pcb1173", 5): 12357.02,
    ("pcb1173", 10): 7558.44,
}
TUNING_CASES = "rat99:5:min_max,kroA200:5:min_sum,lin318:5:min_max,rat783:10:min_max,pr1002:10:min_sum"
PYVRP_CASES = "eil51:3,berlin52:5,eil76:5,rat99:10,kroA200:5,lin318:10,pr439:20,rat783:10,pr1002:10"
THREAD_CASES = "rat99:5:min_max,kroA200:5:min_sum,lin318:5:min_max,pr439:20:min_sum"


def parse_cases(text: str, objective: str | None = None) -> list[tuple[str, int, str]]:
    cases = []
    for item in text.split(","):
        parts = item.strip().split(":")
        cases.append((parts[0], int(parts[1]), parts[2] if len(parts) > 2 else objective or "min_max"))
    return cases


def run_zelk(case: tuple[str, int, str], budget: float, seed: int = 0, **options: Any) -> dict[str, Any]:
    import zelk

    name, m, objective = case
    instance = tsplib_instance(DEFAULT_DATA, name, m, objective)
    first_within: list[float] = []
    target = LKH_MIN_MAX.get((name, m)) if objective == "min_max" else None

    def seen(t: float, max_cost: float, sum_cost: float) -> None:
        if target is not None and not first_within and max_cost <= 1.01 * target:
            first_within.append(t)

    options.setdefault("clock", "process")
    started = time.process_time()
    wall = time.perf_counter()
    solution = zelk.solve(instance, time_limit=budget, seed=seed, on_solution=seen, **options)
    record = {
        "solver": "zelk",
        "case": f"{name}-m{m}-{objective}",
        "budget": budget,
        "seed": seed,
        "options": options,
        "value": solution.objective_value,
        "cpu": time.process_time() - started,
        "wall": time.perf_counter() - wall,
        "iterations": solution.statistics.improve_iterations,
        "problems": zelk.check_solution(instance, solution.to_dict()),
    }
    if target is not None:
        record["first_within_1pct"] = first_within[0] if first_within else None
    return record


def run_pyvrp(case: tuple[str, int, str], budget: float, seed: int = 0) -> dict[str, Any]:
    """Min-sum with m vehicles, empty routes allowed, on distances x1000 rounded."""
    from pyvrp import Model
    from pyvrp.stop import MaxIterations  # noqa: F401 - the module must exist

    name, m, _ = case
    points = read_tsplib(DEFAULT_DATA / "tsplib" / f"{name}.tsp")
    model = Model()
    locations = [model.add_location(x=round(x * 1000), y=round(y * 1000)) for x, y in points]
    depot = model.add_depot(locations[0])
    model.add_vehicle_type(num_available=m, start_depot=depot, end_depot=depot)
    for location in locations[1:]:
        model.add_client(location)
    for u, p in zip(locations, points):
        for v, q in zip(locations, points):
            if u is not v:
                model.add_edge(u, v, distance=round(math.dist(p, q) * 1000))
    deadline = time.process_time() + budget

    def stop(_: float) -> bool:
        return time.process_time() >= deadline

    started = time.process_time()
    wall = time.perf_counter()
    result = model.solve(stop=stop, seed=seed, display=False)
    cpu = time.process_time() - started
    # PyVRP's own distance of each route, scaled back: each leg is off by at most 0.0005.
    value = sum(route.distance() for route in result.best.routes()) / 1000.0
    served = result.best.num_clients()
    feasible = result.best.is_feasible() and served == len(points) - 1
    return {
        "solver": "pyvrp",
        "case": f"{name}-m{m}-min_sum",
        "budget": budget,
        "seed": seed,
        "value": value if feasible else None,
        "cpu": cpu,
        "wall": time.perf_counter() - wall,
        "iterations": result.num_iterations,
        "problems": [] if feasible else ["infeasible or incomplete"],
    }


def geomean(values: list[float]) -> float:
    return math.exp(sum(math.log(v) for v in values) / len(values)) if values else float("nan")


def emit(record: dict[str, Any], out: Path | None) -> None:
    shown = {k: record[k] for k in ("solver", "case", "budget", "seed", "value", "cpu", "iterations")}
    if "first_within_1pct" in record:
        shown["first_within_1pct"] = record["first_within_1pct"]
    if record.get("options"):
        shown["options"] = record["options"]
    if record["problems"]:
        shown["problems"] = record["problems"][:3]
    print(json.dumps(shown), flush=True)
    if out is not None:
        with out.open("a", encoding="utf-8") as handle:
            handle.write(json.dumps(record) + "\n")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("mode", choices=["configs", "pyvrp", "lkh", "threads", "longer"])
    parser.add_argument("--budget", type=float, default=10.0)
    parser.add_argument("--cases")
    parser.add_argument("--seeds", default="0")
    parser.add_argument("--config", action="append", default=[], help="engine_params as JSON")
    parser.add_argument("--factor", type=float, default=6.0)
    parser.add_argument("--json", type=Path)
    args = parser.parse_args()
    seeds = [int(s) for s in args.seeds.split(",")]
    ratios: list[float] = []
    # The pyvrp and lkh modes run zelk with the first --config, if any.
    extra: dict[str, Any] = {"engine_params": json.loads(args.config[0])} if args.config else {}

    if args.mode == "configs":
        configs = [json.loads(c) for c in args.config] or [{}]
        totals: list[list[float]] = [[] for _ in configs]
        for case in parse_cases(args.cases or TUNING_CASES):
            for seed in seeds:
                values = []
                for config in configs:
                    record = run_zelk(case, args.budget, seed, engine_params=config)
                    emit(record, args.json)
                    values.append(record["value"])
                for k, value in enumerate(values):
                    totals[k].append(value / values[0])
        for config, column in zip(configs, totals):
            print(f"# {json.dumps(config)}: geometric mean against the first {geomean(column):.5f}")
    elif args.mode == "pyvrp":
        for case in parse_cases(args.cases or PYVRP_CASES, "min_sum"):
            for seed in seeds:
                ours = run_zelk(case, args.budget, seed, **extra)
                theirs = run_pyvrp(case, args.budget, seed)
                emit(ours, args.json)
                emit(theirs, args.json)
                if ours["value"] and theirs["value"]:
                    ratios.append(ours["value"] / theirs["value"])
                    print(f"# {ours['case']} zelk/pyvrp {ratios[-1]:.5f}", flush=True)
        print(f"# geometric mean zelk/pyvrp {geomean(ratios):.5f} over {len(ratios)}")
    elif args.mode == "lkh":
        cases = parse_cases(args.cases or ",".join(f"{n}:{m}" for n, m in LKH_MIN_MAX), "min_max")
        for case in cases:
            for seed in seeds:
                record = run_zelk(case, args.budget, seed, **extra)
                emit(record, args.json)
                ratios.append(record["value"] / LKH_MIN_MAX[(case[0], case[1])])
                print(f"# {record['case']} zelk/LKH-3 {ratios[-1]:.5f}", flush=True)
        print(f"# geometric mean zelk/LKH-3 {geomean(ratios):.5f} over {len(ratios)}")
    elif args.mode == "threads":
        # threads=2 on the wall clock for `budget` against one thread for twice that.
        for case in parse_cases(args.cases or THREAD_CASES):
            for seed in seeds:
                two = run_zelk(case, args.budget, seed, threads=2, clock="wall")
                one = run_zelk(case, 2 * args.budget, seed, clock="wall")
                emit(two, args.json)
                emit(one, args.json)
                ratios.append(two["value"] / one["value"])
                print(f"# {two['case']} 2 threads / 1 thread at twice the time {ratios[-1]:.5f}", flush=True)
        print(f"# geometric mean {geomean(ratios):.5f} over {len(ratios)}")
    else:
        # The same seed at `budget` and at `factor` times it: the longer never worse.
        for case in parse_cases(args.cases or TUNING_CASES):
            for seed in seeds:
                short = run_zelk(case, args.budget, seed)
                long = run_zelk(case, args.factor * args.budget, seed)
                emit(short, args.json)
                emit(long, args.json)
                ratios.append(long["value"] / short["value"])
                print(f"# {short['case']} longer/shorter {ratios[-1]:.5f}", flush=True)
        print(f"# worst longer/shorter {max(ratios):.5f}; geometric mean {geomean(ratios):.5f}")


if __name__ == "__main__":
    main()
