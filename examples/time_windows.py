"""Serve the first ten customers of Solomon's C101 with time windows.

Run after ``pip install .``:  python3 examples/time_windows.py
The same from the command line:  zelk solve examples/c101_first10.txt --agents 2 --check

The data: M. M. Solomon, "Algorithms for the vehicle routing and scheduling problems
with time window constraints", Operations Research 35(2), 1987; cut to the depot and
its first ten customers. The instance keeps every window [ready, due] and adds each
customer's service time to the moves out of it; capacities are not modelled, and a
route's cost is its duration (travel, waiting and service).
"""

import json
from pathlib import Path

import zelk

HERE = Path(__file__).resolve().parent


def main() -> None:
    instance = zelk.load_instance(HERE / "c101_first10.txt", agents=2)
    instance["options"].update(objective="min_sum", time_limit=5.0)
    windows = {
        item["node"]: (item["start"], item["end"])
        for constraint in instance["constraints"]
        if constraint["kind"] == "timewindow"
        for item in constraint["items"]
    }
    result = zelk.solve_json_str(json.dumps(instance))
    if result["status"] != "success":
        print("no solution within the time limit")
        return
    costs = instance["costs"]["agent"]
    for route in result["routes"]:
        clock = 0.0
        stops = []
        for u, v in zip(route["path"], route["path"][1:]):
            clock = max(clock + costs[u][v], windows[instance["nodes"][v]["id"]][0])
            start, end = windows[instance["nodes"][v]["id"]]
            stops.append(f"{instance['nodes'][v]['id']}@{clock:.0f} [{start:.0f},{end:.0f}]")
        print(f"vehicle {route['agent_id']} ({route['cost']:.1f}): " + "  ".join(stops))
    print("valid" if not zelk.check_solution(instance, result) else "INVALID")


if __name__ == "__main__":
    main()
