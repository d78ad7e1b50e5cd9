"""Split a TSPLIB tour among three salesmen, watch the search improve, check the result.

Run after ``pip install .``:  python3 examples/tsplib_run.py [FILE.tsp] [AGENTS]
The same from the command line:  zelk solve examples/twenty_cities.tsp --agents 3 --check
"""

import json
import sys
from pathlib import Path

import zelk

HERE = Path(__file__).resolve().parent


def main() -> None:
    path = Path(sys.argv[1]) if len(sys.argv) > 1 else HERE / "twenty_cities.tsp"
    agents = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    # TSPLIB's rounded distances; all agents start and end at the first node.
    instance = zelk.load_instance(path, agents=agents)
    instance["options"]["time_limit"] = 5.0

    def report(seconds: float, max_cost: float, sum_cost: float) -> None:
        print(
            f"  solution at {seconds:.3f} s: "
            f"longest route {max_cost:.0f}, all routes {sum_cost:.0f}"
        )

    result = zelk.solve_json_str(json.dumps(instance), on_solution=report)
    ids = [node["id"] for node in instance["nodes"]]
    for route in result["routes"]:
        print(
            f"agent {route['agent_id']}: {' '.join(str(ids[v]) for v in route['path'])}"
            f"  ({route['cost']:.0f})"
        )
    problems = zelk.check_solution(instance, result)
    print("valid" if not problems else "\n".join(problems))
    try:
        zelk.plot_solution(instance, result, "tsplib_run.png")
        print("routes drawn in tsplib_run.png")
    except ImportError:
        print("(pip install 'zelk[plot]' to draw the routes)")


if __name__ == "__main__":
    main()
