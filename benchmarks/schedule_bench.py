"""Processor time to assemble a Solution (schedules of every route) from a result, on
random instances by coordinates and by NumPy matrix, 10 routes through every node.

    python3 benchmarks/schedule_bench.py [--sizes 300 1000 3000 10000] [--repeat 5]

Per size and cost kind: "cold" is the first assembly on a fresh zelk.Instance (what a
solve pays once), "warm" a second one on the same Instance; the median of ``--repeat``
runs of each, in milliseconds of processor time.
"""

from __future__ import annotations

import argparse
import statistics
import time
import warnings

import numpy as np
import zelk
from zelk.solution import from_result

ROUTES = 10


def instance(n: int, kind: str, seed: int = 1) -> zelk.Instance:
    rng = np.random.default_rng(seed)
    xy = rng.uniform(0, 1000, size=(n, 2))
    # Windows on a third of the nodes (a second one on some), service on the targets.
    starts = rng.uniform(0, 5000, size=n)
    rows, offsets = [], [0]
    for v in range(n):
        if v and v % 3 == 0:
            rows.append((starts[v], starts[v] + 500))
            if v % 9 == 0:
                rows.append((starts[v] + 2000, starts[v] + 3000))
        offsets.append(len(rows))
    service = np.where(np.arange(n) == 0, 0.0, rng.uniform(0, 10, size=n))
    costs = None
    if kind == "matrix":
        costs = {"agent": np.sqrt(((xy[:, None, :] - xy[None, :, :]) ** 2).sum(axis=2))}
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return zelk.Instance.from_arrays(
            xy, agents=ROUTES, costs=costs, windows=np.array(rows), window_offsets=np.array(offsets),
            service=service,
        )


def result(n: int) -> dict:
    order = np.random.default_rng(2).permutation(np.arange(1, n)).tolist()
    chunks = [order[k::ROUTES] for k in range(ROUTES)]
    return {
        "status": "success",
        "routes": [{"agent_id": a, "path": [0, *chunk, 0], "cost": 0.0} for a, chunk in enumerate(chunks)],
        "statistics": {},
        "anytime": [],
    }


def timed(call) -> float:
    start = time.process_time()
    call()
    return (time.process_time() - start) * 1000


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--sizes", type=int, nargs="+", default=[300, 1000, 3000, 10000])
    parser.add_argument("--kinds", nargs="+", default=["coordinates", "matrix"])
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args()
    print(f"{'nodes':>6} {'costs':>11} {'cold ms':>9} {'warm ms':>9}")
    for n in args.sizes:
        for kind in args.kinds:
            if kind == "matrix" and n > 3000:
                continue  # 800 MB
            data = result(n)
            cold, warm = [], []
            for _ in range(args.repeat):
                typed = instance(n, kind)
                cold.append(timed(lambda: from_result(data, typed)))
                warm.append(timed(lambda: from_result(data, typed)))
            print(f"{n:>6} {kind:>11} {statistics.median(cold):>9.2f} {statistics.median(warm):>9.2f}", flush=True)


if __name__ == "__main__":
    main()
