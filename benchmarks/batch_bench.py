"""``zelk batch`` against solving the same instances one after another.

Generates seeded random instances (100 nodes, 3 agents by default), then in one run
1. solves them one after another with ``zelk.solve`` in this process, and
2. runs ``zelk batch`` on them (a local pool over every core, or ``--workers``),
and prints the wall time of each and their ratio, with the processor time each used.
Both use the same processor-time budget per instance, so the work is the same and the
ratio shows what the pool gains (ideally 1 / cores) and what it costs (starting the
workers, writing the results). The machine is shared: run it when it is quiet, and
read the processor times beside the wall times.

    PYTHONPATH=build:python python3 benchmarks/batch_bench.py [--instances 20]
        [--nodes 100] [--time-limit 5] [--workers N] [--order seq-first|batch-first]
"""

from __future__ import annotations

import argparse
import json
import os
import resource
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from instances import random_instance  # noqa: E402


def _children_cpu() -> float:
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def sequential(paths: list[Path], budget: float) -> tuple[float, float]:
    """Wall and processor seconds of solving ``paths`` one after another here."""
    import zelk

    wall, cpu = time.perf_counter(), time.process_time()
    for path in paths:
        solution = zelk.solve(path, time_limit=budget)
        assert solution.found, path
    return time.perf_counter() - wall, time.process_time() - cpu


def batch(paths: list[Path], budget: float, out: Path, workers: int | None) -> tuple[float, float]:
    """Wall and processor seconds (children included) of ``zelk batch`` on ``paths``."""
    command = [sys.executable, "-m", "zelk", "batch", *map(str, paths), "--out", str(out),
               "--time-limit", str(budget), "--quiet"]  # fmt: skip
    if workers is not None:
        command += ["--workers", str(workers)]
    cpu = _children_cpu()
    wall = time.perf_counter()
    subprocess.run(command, check=True)
    return time.perf_counter() - wall, _children_cpu() - cpu


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--instances", type=int, default=20)
    parser.add_argument("--nodes", type=int, default=100)
    parser.add_argument("--agents", type=int, default=3)
    parser.add_argument("--time-limit", type=float, default=5.0)
    parser.add_argument("--workers", type=int)
    parser.add_argument("--order", choices=("seq-first", "batch-first"), default="seq-first")
    args = parser.parse_args()

    with tempfile.TemporaryDirectory() as scratch:
        folder = Path(scratch)
        paths = []
        for seed in range(args.instances):
            path = folder / f"random_{args.nodes}_{seed}.json"
            path.write_text(json.dumps(random_instance(args.nodes, args.agents, seed)))
            paths.append(path)
        runs = {}
        order = ["seq", "batch"] if args.order == "seq-first" else ["batch", "seq"]
        for name in order:
            if name == "seq":
                runs[name] = sequential(paths, args.time_limit)
            else:
                runs[name] = batch(paths, args.time_limit, folder / "out", args.workers)
        solved = sum(1 for p in (folder / "out").glob("*.result.json"))

    (seq_wall, seq_cpu), (batch_wall, batch_cpu) = runs["seq"], runs["batch"]
    cores = len(os.sched_getaffinity(0))
    print(f"{args.instances} instances of {args.nodes} nodes, {args.agents} agents, "
          f"{args.time_limit:g} s processor time each; {cores} cores; "
          f"load average {os.getloadavg()[0]:.1f}")  # fmt: skip
    print(f"one after another: {seq_wall:7.1f} s wall, {seq_cpu:7.1f} s processor")
    print(f"zelk batch:        {batch_wall:7.1f} s wall, {batch_cpu:7.1f} s processor "
          f"({solved} results)")  # fmt: skip
    print(f"wall time ratio batch / sequential: {batch_wall / seq_wall:.3f}")


if __name__ == "__main__":
    main()
