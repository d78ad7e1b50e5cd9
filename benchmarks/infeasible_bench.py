"""Local search through infeasible space against the feasible-only one, side by side on
the real-fleet sets: each instance is solved with ``infeasible_search`` 0 and 1 in
alternation (one solve at a time, each in a fresh child process, the same seed and
processor-time budget), every answer re-walked by ``zelk.check``, and the ratio
of each variant to the first (on / off by default) printed per instance and seed with
the geometric mean per set.

    PYTHONPATH=build/py:python python3 benchmarks/infeasible_bench.py \
        --sets fleet-cvrp-minsum --names cvrp100-uniform,cvrp200-clustered --budgets 10

    python3 benchmarks/infeasible_bench.py --sets fleet-cvrp-minsum --names cvrp500-uniform \
        --budgets 60 --seeds 0,1,2 --variants on,off,on+feasible_share=0.6

``--params`` adds engine parameters to every variant (``key=value,...``); ``--out`` appends
the records as JSON lines.
"""

from __future__ import annotations

import argparse
import json
import math
import subprocess
import sys
import tempfile
import time
from pathlib import Path
from typing import Any

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
import fleet_instances
import instances as instance_sets

VARIANTS = {"off": 0, "on": 1}


def child(instance_path: str, budget: float, params_json: str, seed: int = 0) -> None:
    import _zelk_core

    text = Path(instance_path).read_text()
    start = time.process_time()
    result = _zelk_core.solve_json_str(
        text, budget, improve=True, seed=seed, engine_params=json.loads(params_json)
    )
    cpu = time.process_time() - start
    from zelk.check import check_solution

    problems = check_solution(json.loads(text), result)
    print(json.dumps({
        "objective": result.get("objective_value"),
        "status": result["status"],
        "problems": problems[:2],
        "cpu": cpu,
        "iterations": result["statistics"].get("improve_iterations"),
    }))  # fmt: skip


def solve(
    instance_file: Path, budget: float, params: dict[str, Any], seed: int = 0
) -> dict[str, Any]:
    proc = subprocess.run(
        [sys.executable, __file__, "--child", str(instance_file), str(budget), json.dumps(params),
         str(seed)],
        capture_output=True, text=True, check=False, timeout=budget * 40 + 180,
    )  # fmt: skip
    if proc.returncode != 0:
        return {"error": (proc.stderr or proc.stdout).strip().splitlines()[-1:]}
    return json.loads(proc.stdout.strip().splitlines()[-1])


def parse_variant(text: str) -> dict[str, Any]:
    """``off``, ``on``, or either followed by ``+key=value`` engine parameters."""
    base, *pairs = text.split("+")
    params: dict[str, Any] = {"infeasible_search": VARIANTS[base]}
    for pair in pairs:
        key, value = pair.split("=", 1)
        params[key] = float(value)
    return params


def main() -> None:
    if len(sys.argv) > 1 and sys.argv[1] == "--child":
        child(sys.argv[2], float(sys.argv[3]), sys.argv[4], int(sys.argv[5]))
        return
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sets", required=True)
    parser.add_argument("--names", default="")
    parser.add_argument("--budgets", default="10")
    parser.add_argument("--seeds", default="0")
    parser.add_argument("--params", default="")
    parser.add_argument("--out", type=Path, default=None)
    parser.add_argument(
        "--variants", default="off,on",
        help="comma-separated: off, on, or either with +key=value engine parameters "
             "(on+feasible_share=0.6); ratios are against the first",
    )  # fmt: skip
    args = parser.parse_args()
    names = {n for n in args.names.split(",") if n}
    extra: dict[str, Any] = {}
    for item in filter(None, args.params.split(",")):
        key, value = item.split("=", 1)
        extra[key] = float(value)
    variants = args.variants.split(",")
    seeds = [int(s) for s in args.seeds.split(",")]
    with tempfile.TemporaryDirectory() as tmp:
        for set_name in args.sets.split(","):
            _, makers = fleet_instances.FLEET_SETS[set_name]
            for budget in (float(b) for b in args.budgets.split(",")):
                logs: dict[str, list[float]] = {v: [] for v in variants[1:]}
                for name, make in makers(instance_sets.DEFAULT_DATA):
                    if names and name not in names:
                        continue
                    path = Path(tmp) / f"{name}.json"
                    path.write_text(json.dumps(make()))
                    for seed in seeds:
                        row: dict[str, Any] = {
                            "set": set_name, "name": name, "budget": budget, "seed": seed
                        }  # fmt: skip
                        for variant in variants:
                            row[variant] = solve(
                                path, budget, {**extra, **parse_variant(variant)}, seed
                            )
                        checked = all(
                            "error" not in row[v] and not row[v]["problems"] for v in variants
                        )
                        first = row[variants[0]].get("objective")
                        ratios = {}
                        for v in variants[1:]:
                            value = row[v].get("objective")
                            if checked and first and value:
                                ratios[v] = value / first
                                logs[v].append(math.log(ratios[v]))
                        print(f"{set_name} {budget:g}s {name} seed {seed}: "
                              f"{[row[v].get('objective') for v in variants]} "
                              f"ratios {[round(r, 4) for r in ratios.values()]} "
                              f"checked {checked} iterations "
                              f"{[row[v].get('iterations') for v in variants]}", flush=True)  # fmt: skip
                        if args.out is not None:
                            with args.out.open("a") as out:
                                out.write(json.dumps(row) + "\n")
                for v, values in logs.items():
                    if values:
                        print(f"{set_name} {budget:g}s geometric mean {v} / {variants[0]} "
                              f"{math.exp(sum(values) / len(values)):.4f} over {len(values)}", flush=True)  # fmt: skip


if __name__ == "__main__":
    main()
