"""solve_json_str and solve_json_file: the result dictionary, its errors, and solutions
checked by an independent oracle."""

from __future__ import annotations

import json
import math
import os
import random
import signal
import subprocess
import sys
import textwrap
import time
from pathlib import Path
from typing import Any

import pytest

import zelk
from checks import check_solution, random_instance, run_capped


def line_instance(xs: list[float], agents: int, **options: Any) -> dict[str, Any]:
    """Nodes on a line (node 0 the depot of every agent), costs |xi - xj|."""
    return {
        "nodes": [{"id": i, "x": float(x), "y": 0.0, "z": 0.0} for i, x in enumerate(xs)],
        "agents": [{"id": a, "type": "t", "start_node": 0, "end_node": 0} for a in range(agents)],
        "costs": {"t": [[float(abs(a - b)) for b in xs] for a in xs]},
        "constraints": [{"kind": "assignment", "items": [{"node": i, "types": ["t"]} for i in range(len(xs))]}],
        "options": {"time_limit": 5.0, **options},
    }


def crossed_depots() -> dict[str, Any]:
    """Agent 0 runs 0 -> 1, agent 1 runs 1 -> 0, closing moves free: neither may step on
    the other's depot, so no route can ever close."""
    instance = line_instance([0, 1], 2, return_to_end=False)
    instance["agents"][0]["end_node"] = 1
    instance["agents"][1]["start_node"] = 1
    return instance


def test_result_dictionary_has_its_keys_in_order() -> None:
    """Keys of the result, its routes, statistics and anytime entries come in order."""
    result = zelk.solve_json_str(json.dumps(line_instance([0, 1, 2], 1)))
    assert list(result) == ["status", "timeout", "routes", "statistics", "anytime"]
    assert list(result["routes"][0]) == ["agent_id", "path", "cost"]
    assert list(result["statistics"]) == [
        "solve_time",
        "max_cost",
        "sum_cost",
        "n_generated",
        "n_expanded",
        "last_update_time",
    ]
    assert list(result["anytime"][0]) == ["time", "max_cost", "sum_cost"]


def test_min_max_line_reaches_the_hand_computed_optimum() -> None:
    """Depot at 0, targets at 1, 2, 3 and -2, -4, two agents: the left tour is
    2 + 2 + 4 = 8 whoever takes the right side (1 + 1 + 1 + 3 = 6), so the max is 8."""
    instance = line_instance([0, 1, 2, 3, -2, -4], 2, objective="min_max")
    result = zelk.solve_json_str(json.dumps(instance))
    check_solution(instance, result)
    assert result["statistics"]["max_cost"] == pytest.approx(8.0)
    assert result["statistics"]["sum_cost"] == pytest.approx(14.0)


def test_unsolvable_instance_reports_failed_with_empty_routes() -> None:
    """A search without solution is no error: every route empty, costs 0."""
    result = zelk.solve_json_str(json.dumps(crossed_depots()))
    assert result["status"] == "failed"
    assert [r["path"] for r in result["routes"]] == [[], []]
    assert [r["cost"] for r in result["routes"]] == [0.0, 0.0]
    assert result["statistics"]["max_cost"] == 0.0
    assert result["statistics"]["sum_cost"] == 0.0
    assert result["anytime"] == []


def test_agents_with_equal_ids_get_a_route_each() -> None:
    """Two agents with id 5 give two route dictionaries with agent_id 5."""
    instance = line_instance([0, 1, -1], 2)
    for agent in instance["agents"]:
        agent["id"] = 5
    result = zelk.solve_json_str(json.dumps(instance))
    assert [r["agent_id"] for r in result["routes"]] == [5, 5]
    check_solution(instance, result)


@pytest.mark.parametrize(
    ("objective", "score"),
    [
        # min-sum ranks solutions by their sum, min-max by their longest route
        ("min_sum", "sum_cost"),
        ("min_max", "max_cost"),
    ],
)
def test_anytime_list_only_holds_strict_improvements(objective: str, score: str) -> None:
    """Each anytime entry beats every earlier one by more than 1e-9 on the objective."""
    instance = random_instance(random.Random(7), 14, 3, objective=objective, time_limit=2.0)
    result = zelk.solve_json_str(json.dumps(instance))
    values = [entry[score] for entry in result["anytime"]]
    assert values, "at least one solution"
    assert all(b < a - 1e-9 for a, b in zip(values, values[1:]))
    if objective == "min_max":
        # Each solution must beat the incumbent's longest route, so the last one listed
        # is the one reported. (Under min-sum the incumbent is still the longest route,
        # and a later solution may have a larger sum than an earlier one.)
        assert values[-1] == pytest.approx(result["statistics"][score])
    times = [entry["time"] for entry in result["anytime"]]
    assert times == sorted(times)


def test_empty_instance_reports_failed() -> None:
    """No nodes and no agents: the search succeeds at once but holds no path."""
    result = zelk.solve_json_str('{"nodes": [], "agents": []}')
    assert result["status"] == "failed"
    assert result["routes"] == []


@pytest.mark.parametrize(
    ("text", "fragment"),
    [
        # empty input
        ("", "attempting to parse an empty input; check that your input string or stream contains the expected JSON"),
        # content after the value
        ('{"nodes": [], "agents": []} x', "parse_error"),
        # comments are not JSON
        ('{"nodes": [], /* c */ "agents": []}', "parse_error"),
        # a required key
        ('{"agents": []}', "[json.exception.out_of_range.403] key 'nodes' not found"),
        # a number where a string belongs
        ('{"nodes": [], "agents": [{"id": 0, "type": 3, "start_node": 0, "end_node": 0}]}',
         "[json.exception.type_error.302] type must be string, but is number"),
        # options that are not an object
        ('{"nodes": [], "agents": [], "options": 3}', "[json.exception.type_error.306]"),
    ],
)
def test_text_and_format_faults_raise_runtime_error(text: str, fragment: str) -> None:
    """Parse and format errors surface as RuntimeError with the JSON library's text."""
    with pytest.raises(RuntimeError) as raised:
        zelk.solve_json_str(text)
    assert fragment in str(raised.value)


@pytest.mark.parametrize(
    ("spoil", "fragment"),
    [
        # a start node id that no node has
        (lambda i: i["agents"][0].update(start_node=9), "_Map_base::at"),
        # an end node id that no node has
        (lambda i: i["agents"][0].update(end_node=9), "_Map_base::at"),
        # a cost matrix for a type that no agent has
        (lambda i: i["costs"].update(ghost=[[0.0]]), "_Map_base::at"),
    ],
)
def test_unknown_references_raise_index_error(spoil: Any, fragment: str) -> None:
    """Dangling node ids and type names are out-of-range errors (IndexError)."""
    instance = line_instance([0, 1], 1)
    spoil(instance)
    with pytest.raises(IndexError, match=fragment):
        zelk.solve_json_str(json.dumps(instance))


@pytest.mark.parametrize("improve", [False, True])
def test_matrices_given_beside_the_text_read_as_the_texts_own(improve: bool) -> None:
    """cost_matrices= gives the same routes as the same matrices in the text's "costs";
    one of the same name replaces the text's, and a faulty one fails as in the text."""
    instance = random_instance(random.Random(4), 9, 2, two_types=True)
    options = {"improve": True, "iteration_limit": 50} if improve else {}
    want = zelk.solve_json_str(json.dumps(instance), 2.0, **options)
    bare = json.dumps({k: v for k, v in instance.items() if k != "costs"})
    got = zelk.solve_json_str(bare, 2.0, cost_matrices=instance["costs"], **options)
    assert [r["path"] for r in got["routes"]] == [r["path"] for r in want["routes"]]
    assert got["statistics"]["sum_cost"] == want["statistics"]["sum_cost"]
    # The text's doubled matrices give way to the given ones.
    doubled = {t: [[2 * c for c in row] for row in m] for t, m in instance["costs"].items()}
    text = json.dumps({**instance, "costs": doubled})
    got = zelk.solve_json_str(text, 2.0, cost_matrices=instance["costs"], **options)
    assert got["statistics"]["sum_cost"] == want["statistics"]["sum_cost"]
    name = next(iter(instance["costs"]))
    short = {name: instance["costs"][name] + [[0.0] * 9]}
    with pytest.raises(ValueError) as from_text:
        zelk.solve_json_str(json.dumps({**instance, "costs": short}), 2.0, **options)
    with pytest.raises(ValueError) as beside:
        zelk.solve_json_str(text, 2.0, cost_matrices=short, **options)
    assert str(beside.value) == str(from_text.value)


def test_file_entry_point_reads_the_file(tmp_path: Path) -> None:
    """solve_json_file gives what solve_json_str gives for the file's text."""
    instance = line_instance([0, 2, 5], 1, objective="min_sum")
    path = tmp_path / "line.json"
    path.write_text(json.dumps(instance))
    from_file = zelk.solve_json_file(str(path))
    from_text = zelk.solve_json_str(json.dumps(instance))
    assert from_file["routes"] == from_text["routes"]
    assert from_file["routes"][0]["cost"] == pytest.approx(10.0)  # 0 -> 2 -> 5 -> 0


@pytest.mark.parametrize("name", ["missing.json", ""])
def test_missing_file_raises_cannot_open(tmp_path: Path, name: str) -> None:
    """A path that cannot be opened names itself in the RuntimeError."""
    path = str(tmp_path / name) if name else str(tmp_path)
    with pytest.raises(RuntimeError) as raised:
        zelk.solve_json_file(path)
    assert str(raised.value) == "Cannot open file: " + path


def test_empty_file_is_a_parse_error(tmp_path: Path) -> None:
    path = tmp_path / "empty.json"
    path.write_text("")
    with pytest.raises(RuntimeError, match="attempting to parse an empty input"):
        zelk.solve_json_file(str(path))


def test_files_that_are_not_regular_are_refused_at_once(tmp_path: Path) -> None:
    """A device that never ends, a FIFO without a writer and a folder give "Cannot open
    file: <path>" at once, with little memory and no hang; a NUL in the path is a
    ValueError, never the file named by the part before it."""
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    real = tmp_path / "line.json"
    real.write_text(json.dumps(line_instance([0, 1], 1)))
    child = run_capped(
        f"""
        for path in ["/dev/zero", {str(fifo)!r}, {str(tmp_path)!r}, {str(real)!r} + "\\0junk"]:
            try:
                print("SOLVED", zelk.solve_json_file(path)["status"])
            except (RuntimeError, ValueError) as error:
                print(type(error).__name__, error)
        """,
        timeout=60,
    )
    assert child.returncode == 0, child.stderr[-2000:]
    assert child.stdout.splitlines() == [
        "RuntimeError Cannot open file: /dev/zero",
        f"RuntimeError Cannot open file: {fifo}",
        f"RuntimeError Cannot open file: {tmp_path}",
        "ValueError input_path must not contain a NUL character",
    ]


def test_invalid_utf8_is_a_runtime_error_showing_the_byte(tmp_path: Path) -> None:
    """The parser quotes the bad byte; the message shows it escaped, not a decode error."""
    path = tmp_path / "latin.json"
    path.write_bytes(b'{"nodes": [], "agents": [], "name": "caf\xe9"}')
    with pytest.raises(RuntimeError, match="ill-formed UTF-8 byte") as raised:
        zelk.solve_json_file(str(path))
    assert "last read: '\"caf\\xe9" in str(raised.value)


@pytest.mark.parametrize(
    "call",
    [
        # A 2 MB instance text with time_limit given as a string.
        lambda: zelk.solve_json_str("x" * 2_000_000, "fast"),
        lambda: zelk.solve_json_file("x" * 2_000_000, [1.0] * 500_000),
    ],
)
def test_argument_errors_show_only_a_prefix_of_long_arguments(call: Any) -> None:
    with pytest.raises(TypeError, match="incompatible function arguments") as raised:
        call()
    # The signatures the message lists grow with the keywords; the argument itself is
    # cut to a short prefix.
    assert "x" * 300 not in str(raised.value) and "1.0, " * 100 not in str(raised.value)
    assert len(str(raised.value)) < 4000
    assert "characters in all" in str(raised.value)


# An agent leaves its depot when the depot's window opens; the line is 0 --1-- 1.
# (depot window, target window, status, cost)
START_WINDOWS = [
    # Leaves at 10, reaches the target at 11 (window [0, 15]) and is back at 12.
    ((10, 100), (0, 15), "success", 12.0),
    # Leaving at 10, the target (window [0, 5]) is reached at 11: too late for it.
    ((10, 100), (0, 5), "failed", 0.0),
    # The depot's window closes at 11.5, before the agent is back at 12.
    ((10, 11.5), (0, 15), "failed", 0.0),
]


@pytest.mark.parametrize(("depot", "target", "status", "cost"), START_WINDOWS)
def test_agents_wait_at_the_start_for_its_window(
    depot: tuple[float, float], target: tuple[float, float], status: str, cost: float
) -> None:
    instance = line_instance([0, 1], 1)
    instance["constraints"].append(
        {
            "kind": "timewindow",
            "items": [
                {"node": 0, "start": depot[0], "end": depot[1]},
                {"node": 1, "start": target[0], "end": target[1]},
            ],
        }
    )
    result = zelk.solve_json_str(json.dumps(instance))
    assert result["status"] == status
    if status == "success":
        assert result["routes"][0]["cost"] == pytest.approx(cost)
        check_solution(instance, result)


@pytest.mark.parametrize(
    "call",
    [
        # time_limit given as a string
        lambda: zelk.solve_json_str("{}", "fast"),
        # the text given as bytes-like number
        lambda: zelk.solve_json_str(42),
        lambda: zelk.solve_json_file(None),
    ],
)
def test_wrong_argument_types_raise_type_error(call: Any) -> None:
    with pytest.raises(TypeError):
        call()


def test_keyword_arguments_are_accepted() -> None:
    text = json.dumps(line_instance([0, 1], 1))
    assert zelk.solve_json_str(json_str=text, time_limit=1.0)["status"] == "success"


def test_time_limit_argument_overrides_and_non_positive_values_do_not() -> None:
    """A positive time_limit replaces the instance's; 0 and -5 leave it in force. A large
    instance with a 0.2 s budget times out quickly, yet still reports its first solution."""
    instance = random_instance(random.Random(3), 120, 5, time_limit=0.2)
    text = json.dumps(instance)
    for limit in (-1, 0, -5):
        started = time.process_time()
        result = zelk.solve_json_str(text, limit)
        assert time.process_time() - started < 30
        assert result["timeout"] is True
        assert result["status"] == "success"
        check_solution(instance, result)
    instance["options"]["time_limit"] = 600.0
    started = time.process_time()
    result = zelk.solve_json_str(json.dumps(instance), 0.2)
    assert time.process_time() - started < 30
    assert result["timeout"] is True


CASES = [
    # (seed, nodes, agents, two types, windows, limits, return_to_end, objective)
    (1, 8, 1, False, False, False, True, "min_sum"),
    (2, 12, 2, False, False, False, True, "min_max"),
    (3, 12, 3, True, False, False, False, "min_max"),
    (4, 15, 2, True, True, False, True, "min_sum"),
    (5, 15, 3, False, True, True, False, "min_max"),
    (6, 20, 4, True, False, True, True, "min_max"),
    (7, 25, 3, False, True, False, True, "min_sum"),
    (8, 30, 5, True, True, True, False, "min_max"),
    (9, 40, 4, False, False, False, True, "min_max"),
    (10, 10, 2, True, True, True, True, "min_sum"),
]


@pytest.mark.parametrize(("seed", "n", "m", "two_types", "windows", "limits", "rte", "objective"), CASES)
def test_random_solutions_pass_the_independent_checker(
    seed: int, n: int, m: int, two_types: bool, windows: bool, limits: bool, rte: bool, objective: str
) -> None:
    """Every solution covers each target once, respects types, windows and limits, and
    reports the costs the checker recomputes from the instance."""
    instance = random_instance(
        random.Random(seed),
        n,
        m,
        two_types=two_types,
        windows=windows,
        limits=limits,
        return_to_end=rte,
        objective=objective,
        time_limit=1.0,
    )
    result = zelk.solve_json_str(json.dumps(instance))
    if result["status"] == "failed":
        assert windows or limits, "only windows or limits can make these instances infeasible"
        return
    check_solution(instance, result)


def run_python(code: str, timeout: float = 120) -> subprocess.CompletedProcess[str]:
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=timeout
    )


def test_more_than_256_nodes_raises_and_the_interpreter_survives() -> None:
    """An instance beyond the visited set's 256 bits is refused with ValueError."""
    proc = run_python(
        """
        import json, zelk
        nodes = [{"id": i, "x": 0.0, "y": 0.0, "z": 0.0} for i in range(257)]
        agents = [{"id": 0, "type": "t", "start_node": 0, "end_node": 0}]
        try:
            zelk.solve_json_str(json.dumps({"nodes": nodes, "agents": agents}))
        except ValueError as error:
            print("caught:", error)
        print("alive")
        """
    )
    assert proc.returncode == 0, proc.stderr
    assert "caught: instance has 257 nodes; at most 256 are supported" in proc.stdout
    assert "alive" in proc.stdout


@pytest.mark.timing
def test_ctrl_c_interrupts_a_long_solve_promptly() -> None:
    """SIGINT during a 60 s solve ends it within a second or so with KeyboardInterrupt,
    which the program can catch."""
    code = """
        import json, random, sys, time
        sys.path.insert(0, {tests!r})
        import zelk
        from checks import random_instance
        text = json.dumps(random_instance(random.Random(11), 200, 5, time_limit=60.0))
        print("solving", flush=True)
        started = time.monotonic()
        try:
            zelk.solve_json_str(text)
        except KeyboardInterrupt:
            print("interrupted after %.3f" % (time.monotonic() - started), flush=True)
        """.format(tests=str(Path(__file__).parent))
    proc = subprocess.Popen(
        [sys.executable, "-c", textwrap.dedent(code)], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True
    )
    assert proc.stdout is not None
    assert proc.stdout.readline().strip() == "solving"
    time.sleep(1.5)
    sent = time.monotonic()
    proc.send_signal(signal.SIGINT)
    out, err = proc.communicate(timeout=60)
    ended = time.monotonic() - sent
    assert proc.returncode == 0, err
    assert "interrupted after" in out
    assert ended < 3.0, f"took {ended:.2f} s to stop"
    assert math.isfinite(ended)


@pytest.mark.timing
def test_one_second_budget_holds_on_the_largest_instance() -> None:
    """A 256-node, single-agent solve with a 1 s budget returns within 10% (plus parsing
    and building): improving its one long route would take about two seconds more, so the
    post-optimizer must stop when the budget is spent. Processor time, as the budget."""
    instance = random_instance(random.Random(21), 256, 1, time_limit=1.0)
    text = json.dumps(instance)
    started = time.process_time()
    result = zelk.solve_json_str(text)
    spent = time.process_time() - started
    assert result["status"] == "success"
    check_solution(instance, result)
    assert spent < 1.1 + 0.2, f"returned after {spent:.2f} s of processor time"
