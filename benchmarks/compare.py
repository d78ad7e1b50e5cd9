"""Side-by-side benchmark: zelk's improvement engine (``improve=True``), its focal
search and the routing solver of OR-Tools, on the instance sets of
``instances.py``, under the same processor-time budget.

Each solve runs in a fresh subprocess, one at a time (so peak memory is that solve's
own and the solves do not compete for the cores); its routes pass the independent
checker ``zelk.check`` before they count, and the raw records are merged into
``benchmarks/cache/results.json``. The "Comparison" section of ``benchmarks/RESULTS.md``
(between its markers) and the plots in ``benchmarks/plots/`` are regenerated from all
stored records by ``report.py``.

    python3 benchmarks/compare.py --budgets 1,10 --sets mtsp-minmax,random
    python3 benchmarks/compare.py --sets mtsp-minmax --distances nint
    python3 benchmarks/compare.py --solvers ortools:all --budgets 10 --names eil51-m5
    python3 benchmarks/compare.py --report-only
    python3 benchmarks/compare.py --quick        # a few minutes: table on stdout only

Solvers (``--solvers``, comma-separated): ``improve`` (the improvement engine, seed 0),
``search`` (the focal search alone; instances of at most 256 nodes), ``ortools`` (the
setting chosen for the set, ``ortools_model.CHOSEN``), ``ortools:NAME`` (one setting of
``ortools_model.SETTINGS``), ``ortools:all`` (every setting tried for the set) and
``pyvrp`` (PyVRP's genetic search, min-sum sets only; its model is described in
``pyvrp_model.py``: the sum of route durations, waiting and service included, plus the
penalties of optional targets left out, on the same processor-time budget).

The real-fleet sets (``fleet-*``, see ``fleet_instances.py``) are compared apart:

    python3 benchmarks/compare.py --store benchmarks/cache/fleet.json \
        --sets fleet-cvrp-minsum --solvers improve,pyvrp,ortools --budgets 10
    python3 benchmarks/fleet_report.py benchmarks/cache/fleet.json

``--distances nint`` runs the TSPLIB sets with distances rounded to integers (sets named
``...-nint``); the default, ``exact``, is the real Euclidean distance, which is what the
published mTSP values use. Other sets are the same under both.

``--quick`` solves QUICK_PER_SET instances of every set (the smallest, a middle and the
largest) at 1 s (unless ``--budgets`` says otherwise), keeps its records apart in
``benchmarks/cache/quick.json`` and prints the comparison in markdown on the standard
output; with ``--write`` it stores them with the others and rewrites RESULTS.md instead.

zelk must be importable (PYTHONPATH=<build dir>:python) and OR-Tools installed for its
columns (``pip install ortools``, or the package's ``bench`` extra).
"""

from __future__ import annotations

import argparse
import datetime
import json
import math
import os
import platform
import subprocess
import sys
import tempfile
import time
from pathlib import Path
from collections.abc import Iterable
from typing import Any

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent
CACHE = HERE / "cache"
RESULTS_JSON = CACHE / "results.json"
QUICK_JSON = CACHE / "quick.json"
QUICK_PER_SET = 3
# The focal search alone takes at most this many nodes.
SEARCH_MAX_NODES = 256
# The sets a plain run covers: the rounded-distance variants only on request.
DEFAULT_SETS = [
    "mtsp-minmax",
    "mtsp-minsum",
    "random",
    "typed",
    "solomon-tw",
    "solomon-limit",
    "tsplib-large-minmax",
    "tsplib-large-minsum",
]

sys.path.insert(0, str(HERE))
sys.path.insert(0, str(ROOT / "tests" / "python"))
import instances as instance_sets
import ortools_model
from ortools_model import objective_of, peak_rss_mb, score

try:
    from zelk.check import check_solution as problems_of
except ImportError:  # a package without its checker: the test suite's copy
    from checks import check_solution

    def problems_of(  # type: ignore[misc]
        instance: dict[str, Any], result: dict[str, Any], **_options: Any
    ) -> list[str]:
        try:
            check_solution(instance, result)
        except AssertionError as err:
            return [str(err)]
        return []


# Statistics of a zelk result worth keeping with the record.
ZELK_STATISTICS = (
    "n_generated",
    "n_expanded",
    "solve_time",
    "first_solution_time",
    "improve_iterations",
    "best_phase",
    "interrupted",
)


# ------------------------------------------------------------------ zelk (child side)


def run_zelk(text: str, budget: float, improve: bool) -> dict[str, Any]:
    """One solve of the instance ``text`` through the JSON entry point: the improvement
    engine with seed 0 on the processor-time clock, or the focal search alone."""
    import _zelk_core
    import zelk

    rss_before = peak_rss_mb()
    options: dict[str, Any] = {"improve": True, "seed": 0} if improve else {}
    try:
        result = _zelk_core.solve_json_str(text, budget, **options)
    except TypeError as err:
        if improve and "improve" in str(err):
            return {"error": "this build has no improvement engine"}
        raise
    stats = result["statistics"]
    anytime = [
        [a["time"], a["max_cost"], a["sum_cost"], a.get("phase")]
        for a in result["anytime"]
    ]
    return {
        "result": result,
        "anytime": anytime,
        "statistics": {k: stats[k] for k in ZELK_STATISTICS if k in stats},
        "rss_before_mb": rss_before,
        "version": getattr(zelk, "__version__", "?"),
    }


def child_main(solver: str, instance_path: str, budget: float, out_path: str) -> None:
    cpu0 = time.process_time()
    try:
        if solver in ("improve", "search"):
            # The text goes to the solver as it is: no Python copy of the instance
            # counts in the solve's memory.
            record = run_zelk(Path(instance_path).read_text(), budget, solver == "improve")
        elif solver == "pyvrp":
            import pyvrp_model

            record = pyvrp_model.run(json.loads(Path(instance_path).read_text()), budget)
        else:
            instance = json.loads(Path(instance_path).read_text())
            record = ortools_model.run(instance, budget, solver.split(":", 1)[1])
    except Exception as err:  # noqa: BLE001 - the record says what went wrong
        record = {"error": f"{type(err).__name__}: {err}"[:300]}
    record["process_cpu"] = time.process_time() - cpu0
    record["peak_rss_mb"] = peak_rss_mb()
    record["rss_source"] = "VmHWM"
    Path(out_path).write_text(json.dumps(record))


# ------------------------------------------------------------------ parent side


def solve_in_child(solver: str, instance_file: Path, budget: float) -> dict[str, Any]:
    with tempfile.TemporaryDirectory() as tmp:
        out = Path(tmp) / "record.json"
        command = [
            sys.executable,
            str(Path(__file__).resolve()),
            "--child",
            solver,
            str(instance_file),
            str(budget),
            str(out),
        ]
        # The child runs elsewhere: relative entries of the module path are the parent's.
        env = dict(os.environ)
        if env.get("PYTHONPATH"):
            env["PYTHONPATH"] = os.pathsep.join(
                str(Path(p).resolve()) for p in env["PYTHONPATH"].split(os.pathsep) if p
            )
        wall0 = time.perf_counter()
        try:
            # The child's cwd is a scratch folder: nothing the solver might write lands
            # in the tree.
            proc = subprocess.run(
                command,
                cwd=tmp,
                capture_output=True,
                text=True,
                timeout=budget * 40 + 180,
                check=False,
                env=env,
            )
        except subprocess.TimeoutExpired:
            return {"error": "killed after the wall-clock guard"}
        wall = time.perf_counter() - wall0
        if proc.returncode != 0 or not out.exists():
            tail = (proc.stderr or proc.stdout).strip().splitlines()[-3:]
            return {"error": f"exit {proc.returncode}: {' | '.join(tail)}"}
        record = json.loads(out.read_text())
        record["child_wall"] = wall
        return record


def evaluate(instance: dict[str, Any], record: dict[str, Any], solver: str) -> dict[str, Any]:
    """Checks the solution of `solver` and derives the figures that count; a failing or
    missing solution is kept as such, without an objective (its memory and times stay).
    Only the focal search reads a cost of 9999 or more as no arc."""
    objective = objective_of(instance)
    row: dict[str, Any] = {
        "objective": None,
        "max_cost": None,
        "sum_cost": None,
        "check": "ok",
    }
    for key in (
        "peak_rss_mb",
        "rss_before_mb",
        "statistics",
        "solve_time_cpu",
        "solve_time_wall",
        "build_time_cpu",
        "solutions_seen",
        "process_cpu",
        "child_wall",
        "rss_source",
        "version",
        "setting",
    ):
        if key in record:
            row[key] = record[key]
    if "error" in record:
        row["check"] = record["error"]
        return row
    result = record["result"]
    if result["status"] not in ("success", "infeasible"):
        row["check"] = "no solution"
        return row
    problems = problems_of(instance, result, focal_search=solver == "search")
    if problems:
        row["check"] = f"checker: {problems[0][:160]}"
        return row
    stats = result["statistics"]
    row["max_cost"], row["sum_cost"] = stats["max_cost"], stats["sum_cost"]
    row["objective"] = result.get("objective_value")
    if row["objective"] is None:
        row["objective"] = score(objective, stats["max_cost"], stats["sum_cost"])
    if result["status"] == "infeasible":
        row["unserved"] = result.get("unserved", [])
        row["reasons"] = {str(r["node"]): r["reason"] for r in result.get("reasons", [])}
    anytime = record.get("anytime", [])
    first = record.get("statistics", {}).get("first_solution_time")
    row["t_first"] = first if first is not None else (anytime[0][0] if anytime else None)
    row["t_last"] = anytime[-1][0] if anytime else None
    row["anytime"] = anytime
    return row


def load_results(store: Path = RESULTS_JSON) -> dict[str, Any]:
    if store.exists():
        return json.loads(store.read_text())
    return {"runs": {}}


def save_results(
    results: dict[str, Any], store: Path = RESULTS_JSON, keys: Iterable[str] = ()
) -> None:
    """Writes the records `keys` of `results` (and its other entries) into the store,
    under a lock and over what the store holds then: two benchmark processes (say
    OR-Tools on one core, zelk on the other) keep each other's records."""
    import fcntl

    store.parent.mkdir(parents=True, exist_ok=True)
    with open(store.with_suffix(".lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        merged = load_results(store)
        for key in keys:
            merged["runs"][key] = results["runs"][key]
        for key, value in results.items():
            if key != "runs":
                merged[key] = value
        tmp = store.with_suffix(".tmp")
        tmp.write_text(json.dumps(merged))
        tmp.replace(store)
    results["runs"] = merged["runs"]


def quick_pick(entries: list[dict[str, Any]]) -> list[dict[str, Any]]:
    """The first, a middle and the last instance of every set, in index order (the
    sets are listed from small to large)."""
    by_set: dict[str, list[dict[str, Any]]] = {}
    for e in entries:
        by_set.setdefault(e["set"], []).append(e)
    picked: list[dict[str, Any]] = []
    for members in by_set.values():
        if len(members) <= QUICK_PER_SET:
            picked.extend(members)
            continue
        last = len(members) - 1
        spots = sorted({round(i * last / (QUICK_PER_SET - 1)) for i in range(QUICK_PER_SET)})
        picked.extend(members[i] for i in spots)
    return picked


def run_key(set_name: str, name: str, solver: str, budget: float) -> str:
    return f"{set_name}/{name}/{solver}/{budget:g}"


def solver_labels(requested: list[str], set_name: str) -> list[str]:
    """The solver labels of a request for one set: ``ortools`` is the set's chosen
    setting, ``ortools:all`` every setting tried for it."""
    base = ortools_model.base_set(set_name)
    labels: list[str] = []
    for solver in requested:
        if solver == "ortools":
            labels.append(f"ortools:{ortools_model.CHOSEN[base]}")
        elif solver == "ortools:all":
            labels.extend(f"ortools:{s}" for s in ortools_model.CANDIDATES[base])
        elif solver.startswith("ortools:"):
            if solver.split(":", 1)[1] not in ortools_model.SETTINGS:
                raise SystemExit(f"unknown OR-Tools setting {solver!r}")
            labels.append(solver)
        elif solver in ("improve", "search", "pyvrp"):
            labels.append(solver)
        else:
            raise SystemExit(f"unknown solver {solver!r}")
    return list(dict.fromkeys(labels))


def ensure_instances(sets: list[str]) -> list[dict[str, Any]]:
    """The index, with the sets asked for generated when they are missing."""
    index_path = CACHE / "index.json"
    index = json.loads(index_path.read_text()) if index_path.exists() else []
    missing = [s for s in sets if not any(e["set"] == s for e in index)]
    if missing:
        print(f"generating {', '.join(missing)}", file=sys.stderr, flush=True)
        index += instance_sets.generate(instance_sets.DEFAULT_DATA, CACHE, missing)
        CACHE.mkdir(parents=True, exist_ok=True)
        index_path.write_text(json.dumps(index, indent=1))
    return index


def run(
    budgets: list[float],
    sets: list[str],
    names: list[str] | None,
    solvers: list[str],
    resume: bool,
    quick: bool = False,
    store: Path = RESULTS_JSON,
) -> None:
    index = ensure_instances(sets)
    results = load_results(store)
    chosen = [
        e for e in index if e["set"] in sets and (not names or e["name"] in names)
    ]
    if quick:
        chosen = quick_pick(chosen)
    jobs = [
        (budget, entry, label)
        for budget in budgets
        for entry in chosen
        for label in solver_labels(solvers, entry["set"])
        if not (label == "search" and entry["nodes"] > SEARCH_MAX_NODES)
        and not (label == "pyvrp" and entry["objective"] in ("min_max", "MIN_MAX"))
    ]
    written: list[str] = []
    for done, (budget, entry, label) in enumerate(jobs, 1):
        key = run_key(entry["set"], entry["name"], label, budget)
        if resume and key in results["runs"]:
            continue
        path = CACHE / entry["file"]
        record = solve_in_child(label, path, budget)
        row = evaluate(json.loads(path.read_text()), record, label)
        row.update(
            {
                "set": entry["set"],
                "name": entry["name"],
                "solver": label,
                "budget": budget,
                "nodes": entry["nodes"],
                "agents": entry["agents"],
                "date": time.time(),
            }
        )
        results["runs"][key] = row
        written.append(key)
        shown = f"{row['objective']:.2f}" if row["objective"] is not None else row["check"]
        print(
            f"[{done}/{len(jobs)}] {budget:g}s {entry['set']}/{entry['name']} {label}:"
            f" {shown} ({row.get('peak_rss_mb') or 0:.0f} MB)",
            file=sys.stderr,
            flush=True,
        )
        save_results(results, store, written)
    results["machine"] = machine_info()
    save_results(results, store, written)


def machine_info() -> dict[str, Any]:
    cpu = platform.processor() or "?"
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    try:
        load = os.getloadavg()
    except OSError:
        load = (math.nan,) * 3
    return {
        "nproc": os.cpu_count(),
        "cpu": cpu,
        "python": platform.python_version(),
        "date": datetime.datetime.now().strftime("%Y-%m-%d %H:%M"),
        "load": [round(x, 1) for x in load],
    }


def main() -> None:
    if len(sys.argv) > 1 and sys.argv[1] == "--child":
        child_main(sys.argv[2], sys.argv[3], float(sys.argv[4]), sys.argv[5])
        return
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument(
        "--budgets",
        default=None,
        help="processor seconds per solve, comma-separated (default 1,10; 1 with --quick)",
    )
    parser.add_argument(
        "--sets", default=",".join(DEFAULT_SETS), help="comma-separated set names"
    )
    parser.add_argument(
        "--distances",
        choices=instance_sets.DISTANCES,
        default="exact",
        help="legs of the TSPLIB sets: real Euclidean (default) or rounded to integers",
    )
    parser.add_argument(
        "--names", default="", help="only these instance names (comma-separated)"
    )
    parser.add_argument("--solvers", default="improve,search,ortools")
    parser.add_argument(
        "--resume", action="store_true", help="skip solves already stored"
    )
    parser.add_argument(
        "--report-only",
        action="store_true",
        help="rewrite RESULTS.md from stored records",
    )
    parser.add_argument(
        "--quick",
        action="store_true",
        help=f"{QUICK_PER_SET} instances per set, 1 s; print the table instead of writing RESULTS.md",
    )
    parser.add_argument(
        "--write",
        action="store_true",
        help="with --quick: store the records with the others and rewrite RESULTS.md",
    )
    parser.add_argument(
        "--store", type=Path, default=None,
        help="keep the records in this file instead, and leave RESULTS.md alone",
    )  # fmt: skip
    args = parser.parse_args()
    # A quick run keeps its records apart (fresh each time unless resumed), so that it
    # neither mixes into nor is mixed with the full comparison.
    store = QUICK_JSON if args.quick and not args.write else RESULTS_JSON
    if args.store is not None:
        store = args.store.resolve()
    if not args.report_only:
        sets = [
            instance_sets.variant(s, args.distances) for s in args.sets.split(",") if s
        ]
        unknown = [s for s in sets if s not in instance_sets.SETS]
        if unknown:
            parser.error(f"unknown sets: {unknown}")
        if store == QUICK_JSON and not args.resume and QUICK_JSON.exists():
            QUICK_JSON.unlink()
        budgets_text = args.budgets or ("1" if args.quick else "1,10")
        budgets = [float(b) for b in budgets_text.split(",") if b]
        names = [s for s in args.names.split(",") if s] or None
        solvers = [s for s in args.solvers.split(",") if s]
        run(budgets, sets, names, solvers, args.resume, args.quick, store)
    if args.store is not None:
        return
    import report

    if store == QUICK_JSON:
        print(report.render(load_results(QUICK_JSON), []))
        return
    report.write_report(load_results())


if __name__ == "__main__":
    main()
