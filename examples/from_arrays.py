"""Build an instance from NumPy arrays: positions, a travel-time matrix, time windows and
route limits; solve it through both APIs and check the answer.

Run after ``pip install .`` (and ``pip install numpy``):  python3 examples/from_arrays.py
The same instance as a JSON file:  zelk solve examples/windows_and_limits.json --check
(written by ``python3 examples/from_arrays.py --write examples/windows_and_limits.json``).
"""

import argparse

import numpy as np
import zelk
import zelk.io


def arrays() -> dict:
    """Sixteen sites around a depot; three vans, two of them with a route limit."""
    rng = np.random.default_rng(7)
    xy = np.vstack([[0.0, 0.0], rng.uniform(-10.0, 10.0, size=(15, 2)).round(1)])
    # Travel time = distance, to one decimal; the whole matrix in one NumPy expression.
    minutes = np.linalg.norm(xy[:, None, :] - xy[None, :, :], axis=-1).round(1)
    return {
        "positions": xy,
        "cost_matrices": {"van": minutes},
        "agents": [
            {"type": "van", "start_node": 0, "max_length": 0},  # no limit
            {"type": "van", "start_node": 0, "max_length": 28},
            {"type": "van", "start_node": 0, "max_length": 28},
        ],
        # (earliest, latest) by node id; an early van waits.
        "time_windows": {3: (10.0, 25.0), 7: (0.0, 15.0), 11: (20.0, 40.0), 14: (5.0, 30.0)},
        "objective": "min_max",
        "time_limit": 5.0,
    }


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--write", metavar="FILE.json", help="write the JSON instance")
    args = parser.parse_args()
    data = arrays()

    # Object API: a Problem straight from the arrays.
    problem = zelk.io.problem_from_arrays(**data)
    solver = zelk.Solver(problem, problem.options())
    if not solver.solve():
        print("no solution found")
        return
    result = solver.get_result()
    for k, agent in enumerate(problem.agents_ordered()):
        print(f"van {agent.id}: {result.paths[k]}  ({result.times[k]:.1f} min)")

    # JSON API: the same instance as a dict, solved and checked independently.
    instance = zelk.io.instance_from_arrays(**data, name="windows_and_limits")
    answer = zelk.solve_json_str(zelk.io.dumps_instance(instance))
    problems = zelk.check_solution(instance, answer)
    print(f"JSON API: longest route {answer['statistics']['max_cost']:.1f} min,",
          "valid" if not problems else problems)  # fmt: skip
    if args.write:
        zelk.io.write_instance(instance, args.write, indent=2)
        print(f"instance written to {args.write}")
    try:
        zelk.plot_solution(instance, answer, "from_arrays.png")
        print("routes drawn in from_arrays.png")
    except ImportError:
        print("(pip install 'zelk[plot]' to draw the routes)")


if __name__ == "__main__":
    main()
