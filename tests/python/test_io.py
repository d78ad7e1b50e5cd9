"""zelk.io: NumPy cost matrices, Problems from arrays, the instance writer, and plots."""

import json
import math
import re
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

import zelk
import zelk.io

np = pytest.importorskip("numpy")

DATA = Path(__file__).resolve().parents[1] / "data"
EXAMPLES = Path(__file__).resolve().parents[2] / "examples"
PNG = b"\x89PNG\r\n\x1a\n"

# Five points; whole-number distances so every dtype below holds them exactly.
# (0,0) (3,4) (6,0) (3,-4) (0,8): |01|=5 |02|=6 |03|=5 |04|=8 |12|=5 |13|=8 |14|=5 ...
XY = [[0.0, 0.0], [3.0, 4.0], [6.0, 0.0], [3.0, -4.0], [0.0, 8.0]]
COSTS = [
    [0, 5, 6, 5, 8],
    [5, 0, 5, 8, 5],
    [6, 5, 0, 4, 10],
    [5, 8, 4, 0, 12],
    [8, 5, 10, 12, 0],
]


def _problem(matrix: object) -> zelk.Problem:
    """Two agents at vertex 0, min-max; the matrix passed as given."""
    problem = zelk.Problem()
    for v, (x, y) in enumerate(XY):
        node = zelk.Node()
        node.id = v
        node.position.x, node.position.y = x, y
        node.type = zelk.NodeType.DEPOT if v == 0 else zelk.NodeType.TARGET
        problem.add_node(node)
    for k in range(2):
        agent = zelk.Agent()
        agent.id = k
        agent.type = "car"
        problem.add_agent(agent, k)
    assignment = zelk.AssignmentConstraint()
    for v in range(len(XY)):
        assignment.set_assignment(v, ["car"])
    problem.set_assignment_constraint(assignment)
    problem.set_cost_matrix("car", matrix)
    problem.options().objective = zelk.ObjectiveType.MinMax
    problem.options().time_limit = 2.0
    return problem


def _solve(problem: zelk.Problem) -> tuple[dict[int, list[int]], dict[int, float]]:
    solver = zelk.Solver(problem, problem.options())
    assert solver.solve() == 1
    result = solver.get_result()
    return result.paths, result.times


def _as_result_dict(problem: zelk.Problem) -> dict:
    """The Solver's answer in the shape of solve_json_str's result, for check_solution."""
    paths, times = _solve(problem)
    routes = [
        {"agent_id": a.id, "path": paths.get(k, []), "cost": times.get(k, 0.0)}
        for k, a in enumerate(problem.agents_ordered())
    ]
    costs = [r["cost"] for r in routes]
    return {
        "status": "success",
        "routes": routes,
        "statistics": {"max_cost": max(costs), "sum_cost": sum(costs)},
    }


# --------------------------------------------------------------------------- set_cost_matrix


@pytest.mark.parametrize(
    "make",
    [
        lambda m: np.array(m, dtype=np.float64),
        lambda m: np.asfortranarray(np.array(m, dtype=np.float64)),  # column-major
        lambda m: np.array(m, dtype=np.float64).T.copy().T,  # a transposed view
        lambda m: np.array(m, dtype=np.int64),
        lambda m: np.array(m, dtype=np.float32),
        lambda m: np.pad(np.array(m, dtype=float), ((0, 0), (0, 3)))[:, :5],  # strided rows
    ],
    ids=["float64", "fortran", "transposed", "int64", "float32", "strided"],
)
def test_numpy_matrix_solves_like_the_list(make) -> None:
    """Every layout and dtype of the same matrix gives the very routes and costs of the
    list of lists: the copy keeps rows as rows, whatever the memory order."""
    assert _solve(_problem(make(COSTS))) == _solve(_problem(COSTS))


def test_asymmetric_numpy_matrix_keeps_its_orientation() -> None:
    # One agent, targets 1 and 2: going 0->1->2->0 costs 1+1+1 = 3, the other way
    # round 0->2->1->0 costs 10+10+10 = 30. A transposed copy would pick the reverse.
    costs = np.array([[0.0, 1.0, 10.0], [10.0, 0.0, 1.0], [1.0, 10.0, 0.0]])
    problem = zelk.io.problem_from_arrays(None, costs, agents=1)
    paths, times = _solve(problem)
    assert paths == {0: [0, 1, 2, 0]} and times == {0: 3.0}


@pytest.mark.parametrize(
    ("matrix", "shape"),
    [
        (np.zeros(5), "(5,)"),
        (np.zeros((2, 2, 2)), "(2, 2, 2)"),
        (np.array(1.0), "()"),
    ],
)
def test_numpy_matrix_of_wrong_dimension_raises_value_error(matrix, shape: str) -> None:
    problem = zelk.Problem()
    with pytest.raises(ValueError, match=r"2-D array, got shape " + re.escape(shape)):
        problem.set_cost_matrix(agent_type="car", matrix=matrix)


def test_matrix_arguments_that_are_not_numbers_stay_type_errors() -> None:
    problem = zelk.Problem()
    for bad in ([["x"]], np.array([["x"]]), "text", 5):
        with pytest.raises(TypeError):
            problem.set_cost_matrix("car", bad)


def test_lists_never_import_numpy_and_work_without_it() -> None:
    """The list overload stays first and self-sufficient: with NumPy blocked, lists of
    floats, ints and other numbers work and a bad list is still a TypeError; with NumPy
    installed, a list call does not import it. Run apart: NumPy cannot be unloaded."""
    script = textwrap.dedent(
        """
        import sys
        import zelk
        from fractions import Fraction
        problem = zelk.Problem()
        problem.set_cost_matrix("car", [[0, 1], [1, 0]])
        problem.set_cost_matrix("car", [[0.0, 0.5], [Fraction(1, 2), 0]])
        try:
            problem.set_cost_matrix("car", [["x"]])
        except TypeError:
            print("type error")
        print("numpy loaded" if "numpy" in sys.modules else "numpy not loaded")
        sys.modules["numpy"] = None  # from here on, importing NumPy fails
        problem.set_cost_matrix("car", [[0, 2], [2, 0]])
        try:
            problem.set_cost_matrix("car", [[None]])
        except TypeError:
            print("type error")
        print("ok")
        """
    )
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    assert run.stdout.split("\n")[:4] == ["type error", "numpy not loaded", "type error", "ok"]


# --------------------------------------------------------------------------- from arrays


def _arrays(**changes) -> dict:
    """A mixed fleet: a car (no limit) and a bike (limit 20) that may not serve node 4,
    a window on node 3."""
    arguments = {
        "positions": np.array(XY),
        "cost_matrices": {"car": np.array(COSTS, dtype=float), "bike": 2 * np.array(COSTS)},
        "agents": [
            {"type": "car", "start_node": 0},
            {"type": "bike", "start_node": 0, "max_length": 40},
        ],
        "allowed_types": {4: ["car"]},
        "time_windows": {3: (0.0, 30.0)},
        "objective": "min_max",
        "time_limit": 2.0,
    }
    arguments.update(changes)
    return arguments


def test_problem_from_arrays_matches_its_json_instance() -> None:
    """The Problem and the JSON instance of the same arrays are the same instance: the
    records read back as given, both APIs find routes of the same longest cost, and the
    independent checker accepts both answers."""
    problem = zelk.io.problem_from_arrays(**_arrays())
    instance = zelk.io.instance_from_arrays(**_arrays())
    nodes = problem.nodes()
    assert [(n.id, n.position.x, n.position.y, n.type) for n in nodes] == [
        (v, x, y, zelk.NodeType.DEPOT if v == 0 else zelk.NodeType.TARGET)
        for v, (x, y) in enumerate(XY)
    ]
    agents = [(a.id, a.type, a.start_node, a.end_node, a.time_limit)
              for a in problem.agents_ordered()]  # fmt: skip
    assert agents == [(0, "car", 0, 0, 0.0), (1, "bike", 0, 0, 40.0)]
    assert problem.options().objective == zelk.ObjectiveType.MinMax

    object_answer = _as_result_dict(problem)
    json_answer = zelk.solve_json_str(zelk.io.dumps_instance(instance))
    assert zelk.check_solution(instance, object_answer) == []
    assert zelk.check_solution(instance, json_answer) == []
    assert math.isclose(
        object_answer["statistics"]["max_cost"], json_answer["statistics"]["max_cost"]
    )
    # The rule on node 4 is honoured: only the car serves it.
    bike_path = json_answer["routes"][1]["path"]
    assert 4 not in bike_path


def test_arrays_without_numpy_build_the_same_instance(monkeypatch) -> None:
    """The pure-Python path (NumPy absent) checks and builds exactly what the NumPy
    path does, from plain lists."""
    with_numpy = zelk.io.instance_from_arrays(**_arrays())
    monkeypatch.setattr(zelk.io, "_numpy", lambda: None)
    plain = _arrays(
        positions=XY,
        cost_matrices={"car": COSTS, "bike": [[2 * c for c in row] for row in COSTS]},
    )
    assert zelk.io.instance_from_arrays(**plain) == with_numpy
    assert _solve(zelk.io.problem_from_arrays(**plain))[1]
    with pytest.raises(ValueError, match=r"shape \(n, n\)|lengths"):
        zelk.io.instance_from_arrays(**_arrays(positions=XY, cost_matrices=[[0.0, 1.0], [1.0]]))


def test_defaults_one_matrix_and_a_count_of_agents() -> None:
    # One matrix is the single type "agent"; a count of agents all start at node 0,
    # which becomes the only depot; every node allows the type.
    instance = zelk.io.instance_from_arrays(XY, COSTS, 3, ids=[10, 11, 12, 13, 14])
    assert [a["start_node"] for a in instance["agents"]] == [10, 10, 10]
    assert [n["type"] for n in instance["nodes"]] == ["DEPOT"] + ["TARGET"] * 4
    assert instance["constraints"][0]["items"][0] == {"node": 10, "types": ["agent"]}
    assert instance["costs"]["agent"] == [[float(c) for c in row] for row in COSTS]
    assert instance["options"] == {"objective": "min_sum", "return_to_end": True,
                                   "time_limit": 60.0}  # fmt: skip


@pytest.mark.parametrize(
    ("changes", "message"),
    [
        ({"cost_matrices": {"car": np.zeros((5, 4)), "bike": np.zeros((5, 5))}},
         r"cost matrix 'car' must have shape \(5, 5\), got \(5, 4\)"),
        ({"cost_matrices": {"car": np.zeros((4, 4)), "bike": np.zeros((5, 5))}},
         r"got \(4, 4\)"),
        ({"positions": np.zeros((5, 4))}, r"\(n, 2\) or \(n, 3\), got \(5, 4\)"),
        ({"positions": np.zeros(5)}, r"positions must have shape \(n, 2\) or \(n, 3\), got \(5,\)"),
        ({"time_windows": np.zeros((5, 3))}, r"time_windows must have shape \(5, 2\)"),
        ({"time_windows": {3: (9.0, 1.0)}}, "not a finite interval"),
        ({"time_windows": {3: (0.0, math.inf)}}, "not a finite interval"),
        ({"time_windows": {99: (0.0, 1.0)}}, "node 99"),
        ({"ids": [0, 1, 2, 3]}, "4 entries for 5 nodes"),
        ({"ids": [0, 1, 1, 3, 4]}, "repeat"),
        ({"agents": [{"type": "boat", "start_node": 0}]}, "'boat', which has no cost matrix"),
        ({"agents": [{"type": "car", "start_node": 0}]}, r"\['bike'\] belong to no agent"),
        ({"agents": [{"start_node": 0}]}, "needs a 'type'"),
        ({"agents": [{"type": "car", "start_node": 7}, {"type": "bike"}]}, "start_node 7"),
        ({"agents": [{"type": "car", "max_length": 2.5}, {"type": "bike"}]}, "whole number"),
        ({"agents": 0}, "at least 1"),
        ({"allowed_types": {42: ["car"]}}, "node 42"),
        ({"objective": "fastest"}, "objective"),
    ],
)  # fmt: skip
def test_bad_arrays_raise_value_error_naming_the_fault(changes: dict, message: str) -> None:
    for build in (zelk.io.problem_from_arrays, zelk.io.instance_from_arrays):
        with pytest.raises(ValueError, match=message):
            build(**_arrays(**changes))


# --------------------------------------------------------------------------- writer


@pytest.mark.parametrize("indent", [None, 2])
def test_written_instances_read_back_and_check(tmp_path: Path, indent: int | None) -> None:
    """A TSPLIB conversion and an instance holding NumPy arrays both go through the
    writer, the core's JSON reader and the checker unchanged."""
    tsplib = zelk.io.read_tsplib(DATA / "ten_nodes.tsp", agents=2)
    arrays = zelk.io.instance_from_arrays(**_arrays())
    arrays["costs"] = {name: np.array(m) for name, m in arrays["costs"].items()}  # raw NumPy
    for instance in (tsplib, arrays):
        path = tmp_path / "instance.json"
        zelk.io.write_instance(instance, path, indent=indent)
        text = path.read_text()
        plain = json.loads(text)
        assert plain == json.loads(json.dumps(instance, default=lambda a: a.tolist()))
        result = zelk.solve_json_str(text, 1.0)
        assert result["status"] == "success"
        assert zelk.check_solution(plain, result) == []
        assert zelk.solve_json_file(str(path), 1.0)["statistics"]["max_cost"] > 0


def test_indented_layout_puts_one_record_per_line() -> None:
    text = zelk.io.dumps_instance(zelk.io.instance_from_arrays(**_arrays()), indent=2)
    lines = text.splitlines()
    assert '    {"id": 0, "x": 0.0, "y": 0.0, "z": 0.0, "type": "DEPOT", "demand": 0.0},' in lines
    assert "      [0.0, 5.0, 6.0, 5.0, 8.0]," in lines  # a matrix row
    assert max(len(line) for line in lines) <= 100


@pytest.mark.parametrize(
    ("change", "message"),
    [
        (lambda i: i.pop("agents"), "needs 'agents'"),
        (lambda i: i.__setitem__("nodes", {"0": {}}), "'nodes' must be a list"),
        (lambda i: i["costs"]["car"].append([0.0] * 5), "larger than the 5 nodes"),
        (lambda i: i["costs"]["car"][0].__setitem__(1, math.nan), "NaN or infinity"),
        (lambda i: i["costs"]["car"][0].__setitem__(1, math.inf), "NaN or infinity"),
    ],
)
def test_writer_refuses_what_the_reader_could_not_take(change, message: str) -> None:
    instance = zelk.io.instance_from_arrays(**_arrays())
    change(instance)
    with pytest.raises(ValueError, match=message):
        zelk.io.dumps_instance(instance)


def test_readers_agree_with_load_instance() -> None:
    assert zelk.io.read_tsplib(DATA / "ten_nodes.tsp", agents=3) == zelk.load_instance(
        DATA / "ten_nodes.tsp", agents=3
    )
    assert zelk.io.read_solomon(DATA / "c101_first6.txt", agents=2) == zelk.load_instance(
        DATA / "c101_first6.txt", agents=2
    )
    assert zelk.io.read_instance is zelk.load_instance
    assert zelk.io.parse_tsplib is zelk.formats.parse_tsplib


# --------------------------------------------------------------------------- plots


def test_plots_write_pngs(tmp_path: Path) -> None:
    pytest.importorskip("matplotlib")
    instance = zelk.io.instance_from_arrays(**_arrays())
    result = zelk.solve_json_str(zelk.io.dumps_instance(instance), 1.0)
    assert result["anytime"]
    targets = {
        "both": lambda p: zelk.plot_solution(instance, result, p),
        "routes": lambda p: zelk.plot_solution(instance, result, p, anytime=False),
        "anytime": lambda p: zelk.plot_anytime(result, p, objective="min_max"),
        # A failed solve has no anytime entries: the panel says so instead of failing.
        "empty": lambda p: zelk.plot_anytime({"anytime": [], "statistics": {}}, p),
    }
    sizes = {}
    for name, draw in targets.items():
        path = tmp_path / f"{name}.png"
        draw(path)
        assert path.read_bytes()[:8] == PNG
        sizes[name] = path.stat().st_size
    assert sizes["both"] > sizes["routes"]  # the second panel is drawn
    with pytest.raises(ValueError, match="objective"):
        zelk.plot_anytime(result, tmp_path / "x.png", objective="minmax")


@pytest.mark.parametrize(
    "name", ["twenty_cities.tsp", "small_fleet.json", "c101_first10.txt", "windows_and_limits.json"]
)
def test_examples_solve_and_check(name: str) -> None:
    """Every sample instance in examples/ solves and passes the checker."""
    instance = zelk.load_instance(EXAMPLES / name, agents=None if name.endswith(".json") else 2)
    # A Solomon file's service and capacity are honoured on the improvement path only.
    fleet = zelk.fleet.focal_search_refusal(instance) is not None
    result = zelk.solve_json_str(json.dumps(instance), 1.0, **({"improve": True} if fleet else {}))
    assert result["status"] == "success"
    assert zelk.check_solution(instance, result) == []
