"""Solve an instance with zelk.solve and print every agent's schedule.

    python3 examples/solve_schedule.py [INSTANCE] [SECONDS]

INSTANCE defaults to the three vans of windows_and_limits.json (any JSON, TSPLIB or
Solomon file works), SECONDS to 5 of processor time. Ctrl-C stops the solve early and
prints the best solution found so far.
"""

import sys
from pathlib import Path

import zelk

here = Path(__file__).resolve().parent
path = sys.argv[1] if len(sys.argv) > 1 else here / "windows_and_limits.json"
seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 5.0

solution = zelk.solve(path, time_limit=seconds)
print(f"{solution.status}: {solution.objective} = {solution.objective_value}")
if solution.lower_bound is not None:
    print(f"no solution can be better than {solution.lower_bound:.2f}")
for route in solution.routes:
    print(f"\nagent {route.agent_id} ({route.agent_type}), cost {route.cost:.2f}")
    for stop in route.stops:
        wait = f", waits {stop.waiting:.2f}" if stop.waiting > 0 else ""
        times = f"arrives {stop.arrival:7.2f}{wait}, leaves {stop.departure:7.2f}"
        print(f"  node {stop.node:>3}: {times}")
first = solution.statistics.first_solution_time
print(f"\nfirst solution after {first:.3f} s, best after "
      f"{solution.statistics.last_update_time:.3f} s of processor time "
      f"(found by the {solution.statistics.best_phase} phase)")
