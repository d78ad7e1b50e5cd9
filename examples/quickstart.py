"""Build a small routing instance object by object, solve it and print the routes.

Run after ``pip install .``:  python3 examples/quickstart.py
"""

import math

import zelk

# (id, x, y, node type): one depot and five targets in the plane.
SITES = [
    (0, 0.0, 0.0, zelk.NodeType.DEPOT),
    (1, 4.0, 0.0, zelk.NodeType.TARGET),
    (2, 4.0, 3.0, zelk.NodeType.TARGET),
    (3, 0.0, 5.0, zelk.NodeType.TARGET),
    (4, -3.0, 4.0, zelk.NodeType.TARGET),
    (5, -2.0, -2.0, zelk.NodeType.TARGET),
]

# (agent id, agent type, speed): travel time is distance / speed.
FLEET = [(0, "truck", 1.0), (1, "drone", 2.0)]


def build_problem() -> zelk.Problem:
    """Two agents of two types serve five targets from one depot."""
    problem = zelk.Problem()
    for node_id, x, y, node_type in SITES:
        node = zelk.Node()
        node.id = node_id
        node.position.x = x
        node.position.y = y
        node.type = node_type
        node.demand = 0.0 if node_type == zelk.NodeType.DEPOT else 1.0
        problem.add_node(node)

    for agent_id, agent_type, speed in FLEET:
        agent = zelk.Agent()
        agent.id = agent_id
        agent.type = agent_type
        agent.start_node = 0
        agent.end_node = 0
        agent.capacity_limit = 3.0
        problem.add_agent(agent, agent.id)
        # One cost matrix per agent type, indexed by the order in which nodes were added.
        problem.set_cost_matrix(
            agent_type,
            [
                [math.dist((xi, yi), (xj, yj)) / speed for _, xj, yj, _ in SITES]
                for _, xi, yi, _ in SITES
            ],
        )

    # Only the truck may serve target 3; target 2 must be reached between t=2 and t=20.
    # Every node names its allowed types (a node without an entry is open to all types,
    # with a warning).
    assignment = zelk.AssignmentConstraint()
    for node_id, *_ in SITES:
        assignment.set_assignment(node=node_id, types=["truck", "drone"])
    assignment.set_assignment(node=3, types=["truck"])
    problem.set_assignment_constraint(assignment)
    windows = zelk.TimeWindowConstraint()
    windows.set_timewindow(node=2, start=2.0, end=20.0)
    problem.set_timewindow_constraint(windows)

    options = problem.options()
    options.objective = zelk.ObjectiveType.MinMax
    options.return_to_end = True
    options.time_limit = 5.0
    return problem


def describe(problem: zelk.Problem) -> str:
    """A short text summary of an instance."""
    nodes = problem.nodes()
    agents = problem.agents_ordered()
    options = problem.options()
    depots = [n.id for n in nodes if n.type == zelk.NodeType.DEPOT]
    lines = [
        f"zelk {zelk.__version__}",
        f"{len(nodes)} nodes (depots {depots}), {len(agents)} agents",
    ]
    lines += [f"  agent {a.id}: {a.type}, {a.start_node} -> {a.end_node}" for a in agents]
    lines.append(
        f"objective {options.objective.name}, return_to_end {options.return_to_end}, "
        f"time limit {options.time_limit} s"
    )
    return "\n".join(lines)


def main() -> None:
    problem = build_problem()
    print(describe(problem))
    solver = zelk.Solver(problem, problem.options())
    if not solver.solve():
        print("no solution found")
        return
    result = solver.get_result()
    agents = problem.agents_ordered()
    for index, agent in enumerate(agents):
        route = " -> ".join(str(problem.nodes()[v].id) for v in result.paths[index])
        print(f"  {agent.type:>5} {agent.id}: {route}  (cost {result.times[index]:.2f})")
    print(
        f"longest route {max(result.times.values()):.2f}, "
        f"found after {result.last_update_time:.3f} s of search"
    )


if __name__ == "__main__":
    main()
