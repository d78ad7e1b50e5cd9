"""Processor time to assemble a Solution (schedules of every route) from a result, on
random instances by coordinates and by NumPy matrix (windows on a third of the nodes,
some with two, service at every target), 10 routes through every node.

    python3 benchmarks/schedule_bench.py [--sizes 300 1000 3000 10000] [--repeat 5]
        [--against OLD_SOLUTION_PY]

Per size and cost kind: "cold" is the first assembly on a fresh zelk.Instance (what a
solve pays once), "warm" a second one on the same Instance; the median of ``--repeat``
runs of each, in milliseconds of processor time. ``--against`` loads another version of
zelk/solution.py (say ``git show REV:python/zelk/solution.py > old.py``) and times its
``from_result`` in the same runs, interleaved, with the ratio new / old.
"""

from __future__ import annotations

import argparse
import importlib.util
import statistics
import sys
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


def load(path: str):
    import _zelk_core

    if not hasattr(_zelk_core, "_walk_route"):
        # Versions that walked small solutions through the per-route binding look it up
        # first; from 300 nodes and 10 routes on they never call it.
        def gone(*args, **kwargs):
            raise RuntimeError("_walk_route is gone")

        _zelk_core._walk_route = gone
    spec = importlib.util.spec_from_file_location("zelk._other_solution", path)
    assert spec is not None and spec.loader is not None
    module = importlib.util.module_from_spec(spec)
    sys.modules[spec.name] = module  # its dataclasses look their module up
    spec.loader.exec_module(module)
    return module.from_result


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--sizes", type=int, nargs="+", default=[300, 1000, 3000, 10000])
    parser.add_argument("--kinds", nargs="+", default=["coordinates", "matrix"])
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--against", help="another solution.py to time alongside")
    args = parser.parse_args()
    versions = {"new": from_result}
    if args.against:
        versions = {"old": load(args.against), **versions}
    print(f"{'nodes':>6} {'costs':>11}" + "".join(f" {v + ' cold':>9} {v + ' warm':>9}" for v in versions)
          + ("  new/old cold  new/old warm" if args.against else ""))  # fmt: skip
    for n in args.sizes:
        for kind in args.kinds:
            if kind == "matrix" and n > 3000:
                continue  # 800 MB
            data = result(n)
            cold: dict[str, list[float]] = {v: [] for v in versions}
            warm: dict[str, list[float]] = {v: [] for v in versions}
            for _ in range(args.repeat):
                for name, assemble in versions.items():
                    typed = instance(n, kind)
                    cold[name].append(timed(lambda: assemble(data, typed)))
                    warm[name].append(timed(lambda: assemble(data, typed)))
            med = {v: (statistics.median(cold[v]), statistics.median(warm[v])) for v in versions}
            line = f"{n:>6} {kind:>11}" + "".join(f" {c:>9.2f} {w:>9.2f}" for c, w in med.values())
            if args.against:
                line += f"  {med['new'][0] / med['old'][0]:>12.2f}  {med['new'][1] / med['old'][1]:>12.2f}"
            print(line, flush=True)


if __name__ == "__main__":
    main()
