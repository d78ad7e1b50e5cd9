"""Peak resident memory of whole default solves, each in a child process.

Solves a seeded random min-max instance (``n`` nodes, ``m`` agents of one type, from
``benchmarks/instances.py``) with ``_zelk_core.solve_json_str`` under a processor-time
budget and prints, per run, the child's peak resident memory, the generated nodes, the
timeout flag and the best largest route cost. ``--module-dir`` picks the build whose
``_zelk_core`` is measured, so two builds can be compared side by side:

    python3 benchmarks/memory_limit.py --module-dir build --time 60 [--limit-mb 1000]
"""

from __future__ import annotations

import argparse
import json
import multiprocessing
import resource
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from instances import random_instance  # noqa: E402


def _child(module_dir: str, text: str, seconds: float, limit_mb: float | None, out) -> None:
    sys.path.insert(0, module_dir)
    import _zelk_core

    kwargs = {} if limit_mb is None else {"memory_limit_mb": limit_mb}
    started = time.process_time()
    result = _zelk_core.solve_json_str(text, seconds, **kwargs)
    out.send(
        {
            "cpu": time.process_time() - started,
            "peak_mb": resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024.0,
            "generated": result["statistics"]["n_generated"],
            "timeout": result["timeout"],
            "max_cost": result["statistics"]["max_cost"],
            "solutions": len(result["anytime"]),
        }
    )


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--module-dir", required=True)
    parser.add_argument("--time", type=float, default=60.0)
    parser.add_argument("--n", type=int, default=100)
    parser.add_argument("--m", type=int, default=10)
    parser.add_argument("--seed", type=int, default=14)
    parser.add_argument("--limit-mb", type=float, default=None)
    args = parser.parse_args()

    text = json.dumps(random_instance(args.n, args.m, args.seed))
    receive, send = multiprocessing.Pipe(duplex=False)
    child = multiprocessing.get_context("fork").Process(
        target=_child,
        args=(str(Path(args.module_dir).resolve()), text, args.time, args.limit_mb, send),
    )
    child.start()
    report = receive.recv()
    child.join()
    report.update(n=args.n, m=args.m, seed=args.seed, budget=args.time, limit_mb=args.limit_mb)
    print(json.dumps(report))


if __name__ == "__main__":
    main()
