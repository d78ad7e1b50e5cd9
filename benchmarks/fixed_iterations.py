"""Processor time of improvement-path solves bounded by an iteration count instead of a
budget, with a digest of the routes: two builds run on the same instances show whether a
change alters results (same seed and bound, same routes) and what it costs per iteration.

    python3 benchmarks/fixed_iterations.py 30000 benchmarks/cache/fleet-mixed-minsum/mixed200.json
    PYTHONPATH=/path/to/other/build python3 benchmarks/fixed_iterations.py 30000 ...
"""

from __future__ import annotations

import hashlib
import json
import sys
import time
from pathlib import Path

import _zelk_core


def main() -> None:
    iterations = int(sys.argv[1])
    for name in sys.argv[2:]:
        text = Path(name).read_text()
        start = time.process_time()
        result = _zelk_core.solve_json_str(
            text, 1e6, improve=True, seed=0, iteration_limit=iterations
        )
        cpu = time.process_time() - start
        paths = json.dumps([route["path"] for route in result["routes"]])
        digest = hashlib.md5(paths.encode()).hexdigest()[:10]
        print(
            f"{Path(name).name} cpu={cpu:.2f} objective={result['objective_value']:.2f} "
            f"routes={digest} iterations={result['statistics']['improve_iterations']}",
            flush=True,
        )


if __name__ == "__main__":
    main()
