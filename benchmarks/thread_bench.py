"""Two solves in two threads of one process against the same two one after another.

The improvement engine releases the interpreter lock, so two threads should keep both
cores busy: the process's processor time about twice its wall time, and the pair done
in about half the time of the sequence. Each solve is bounded by an iteration count, so
the work is the same in both runs and the answers must be equal. Both threads solve the
same instance, so that neither waits for the other at the end.

    PYTHONPATH=build:python python3 benchmarks/thread_bench.py [--nodes 100]
        [--iterations 20000]
"""

from __future__ import annotations

import argparse
import json
import os
import sys
import threading
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from instances import random_instance  # noqa: E402


def main() -> None:
    import _zelk_core

    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--nodes", type=int, default=100)
    parser.add_argument("--agents", type=int, default=3)
    parser.add_argument("--iterations", type=int, default=20000)
    args = parser.parse_args()
    # The same instance twice: equal work, so the pair's wall time is not the longer of
    # two unequal solves.
    texts = [json.dumps(random_instance(args.nodes, args.agents, 1))] * 2

    def solve(text: str) -> float:
        # A budget far beyond the bound: the iteration count ends the solve.
        result = _zelk_core.solve_json_str(
            text, 3600.0, improve=True, seed=0, iteration_limit=args.iterations
        )
        return result["statistics"]["max_cost"]

    wall, cpu = time.perf_counter(), time.process_time()
    sequential = [solve(text) for text in texts]
    seq_wall, seq_cpu = time.perf_counter() - wall, time.process_time() - cpu

    parallel: list[float] = [0.0, 0.0]

    def run(k: int) -> None:
        parallel[k] = solve(texts[k])

    threads = [threading.Thread(target=run, args=(k,)) for k in range(2)]
    wall, cpu = time.perf_counter(), time.process_time()
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    par_wall, par_cpu = time.perf_counter() - wall, time.process_time() - cpu

    print(f"2 instances of {args.nodes} nodes, {args.agents} agents, {args.iterations} "
          f"iterations each; {len(os.sched_getaffinity(0))} cores; load average "
          f"{os.getloadavg()[0]:.1f}")  # fmt: skip
    print(f"one after another: {seq_wall:6.2f} s wall, {seq_cpu:6.2f} s processor")
    print(f"two threads:       {par_wall:6.2f} s wall, {par_cpu:6.2f} s processor "
          f"(processor / wall {par_cpu / par_wall:.2f})")  # fmt: skip
    print(f"wall time ratio threads / sequential: {par_wall / seq_wall:.3f}")
    print(f"same answers: {parallel == sequential} ({sequential})")


if __name__ == "__main__":
    main()
