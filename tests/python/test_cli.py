"""The zelk command line (run as a subprocess) and the on_solution progress hook."""

import io
import json
import math
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

import zelk
from zelk.cli import Progress

DATA = Path(__file__).resolve().parents[1] / "data"
TSP = DATA / "ten_nodes.tsp"
SOLOMON = DATA / "c101_first6.txt"
JSON_INSTANCE = DATA / "four_targets_two_agents.json"


def zelk_cli(*args: object, timeout: float = 120) -> subprocess.CompletedProcess[str]:
    return subprocess.run(
        [sys.executable, "-m", "zelk", *map(str, args)],
        capture_output=True,
        text=True,
        timeout=timeout,
    )


# --------------------------------------------------------------------------- solve


@pytest.mark.parametrize(
    ("instance", "extra"),
    [
        # The core prints "w = 1" on stdout for both of these.
        (JSON_INSTANCE, []),
        (TSP, ["--agents", "3"]),
        (SOLOMON, ["--agents", "2"]),
    ],
)
def test_json_output_is_clean_and_valid(instance: Path, extra: list[str]) -> None:
    run = zelk_cli("solve", instance, "--json", "--time-limit", "2", *extra)
    assert run.returncode == 0, run.stderr
    result = json.loads(run.stdout)  # nothing but the solution's dictionary on stdout
    assert list(result)[:5] == ["status", "timeout", "routes", "statistics", "anytime"]
    loaded = zelk.load_instance(instance, **({"agents": int(extra[1])} if extra else {}))
    assert zelk.check_solution(loaded, result) == []


def test_core_diagnostics_stay_off_both_streams() -> None:
    run = zelk_cli("solve", JSON_INSTANCE, "--json", "--no-improve")
    assert run.returncode == 0, run.stderr
    # This instance makes the search announce its final weight; the line is the core's
    # own and reaches neither the JSON nor the user's terminal.
    assert "w = 1" not in run.stderr + run.stdout
    assert run.stderr == "focal search finished\n"


def test_table_lists_node_ids_costs_and_totals() -> None:
    run = zelk_cli("solve", DATA / "upper_row_5.tsp", "--agents", "2", "--quiet", "--no-improve")
    assert run.returncode == 0, run.stderr
    lines = run.stdout.splitlines()
    assert lines[0] == "upper_row_5: 5 nodes, 2 agents, min-max"
    # Explicit weights d12=3 d13=4 d14=2 d15=7 d23=5 d24=8 d25=3 d34=6 d35=4 d45=5: the
    # min-max optimum splits {2,5} (1-2-5-1 = 3+3+7 = 13) and {3,4} (1-4-3-1 = 2+6+4 = 12).
    routes = {line.split(maxsplit=2)[2] for line in lines[2:4]}
    assert routes <= {"1 2 5 1", "1 5 2 1", "1 4 3 1", "1 3 4 1"} and len(routes) == 2
    assert "max 13.00  sum 25.00" in lines
    assert lines[-1] == "focal search finished"


def test_check_reports_a_valid_solution() -> None:
    run = zelk_cli("solve", TSP, "--agents", "2", "--check", "--time-limit", "2")
    assert run.returncode == 0, run.stderr
    assert "check: solution is valid" in run.stderr


def test_out_writes_the_result_dictionary(tmp_path: Path) -> None:
    out = tmp_path / "result.json"
    run = zelk_cli(
        "solve", SOLOMON, "--agents", "2", "--open", "--objective", "min-sum", "--out", out,
        "--time-limit", "1",
    )  # fmt: skip
    assert run.returncode == 0, run.stderr
    result = json.loads(out.read_text())
    instance = zelk.load_instance(SOLOMON, agents=2)
    zelk.formats.apply_options(instance, objective="min-sum", open_routes=True)
    assert zelk.check_solution(instance, result) == []


def test_no_solution_exits_1_and_targets_out_of_reach_exit_3_with_reasons(
    tmp_path: Path,
) -> None:
    # A route limit of 1 leaves no agent able to reach any target and come back.
    instance = json.loads(JSON_INSTANCE.read_text())
    for agent in instance["agents"]:
        agent["max_length"] = 1
    path = tmp_path / "unsolvable.json"
    path.write_text(json.dumps(instance))
    run = zelk_cli("solve", path, "--check", "--quiet", "--time-limit", "1", "--no-improve")
    assert run.returncode == 1, run.stderr
    assert "no solution found" in run.stdout
    assert "check: no solution to check" in run.stderr
    # The improvement path plans what it can (nothing here) and says why, per target.
    run = zelk_cli("solve", path, "--check", "--quiet", "--time-limit", "1")
    assert run.returncode == 3, run.stderr
    targets = [n["id"] for n in instance["nodes"] if n["id"] not in
               {a["start_node"] for a in instance["agents"]}]  # fmt: skip
    rows = [line.split()[:2] for line in run.stdout.splitlines()]
    assert all([str(node), "limit"] in rows for node in targets), run.stdout
    assert "check: solution is valid" in run.stderr


@pytest.mark.parametrize(
    ("args", "message"),
    [
        (["solve", DATA / "missing.tsp"], "No such file"),
        (["solve", JSON_INSTANCE, "--agents", "2"], "TSPLIB and Solomon files only"),
        (["solve", TSP, "--depot", "99"], "depot 99 is not a node id"),
        (["solve", TSP, "--agents", "0"], "agents must be at least 1"),
        (
            ["convert", DATA / "upper_row_5.tsp", "--format", "solomon", "-o", "/dev/null"],
            "no node line",
        ),
    ],
)
def test_bad_input_exits_2_with_a_message(args: list[object], message: str) -> None:
    run = zelk_cli(*args)
    assert run.returncode == 2
    assert "zelk: error:" in run.stderr and message in run.stderr
    assert "Traceback" not in run.stderr


@pytest.mark.parametrize(
    ("args", "message"),
    [
        # A coordinate that is not a number, in a file that is otherwise TSPLIB: the
        # message names the file and the node.
        (["solve", "{bad}"], "bad.tsp: line 7, node 2 y: 'x' is not a number"),
        (["convert", "{bad}", "-o", "{out}"], "bad.tsp: line 7, node 2 y: 'x' is not a number"),
        # Options the parser refuses: its usage text, then the one error line.
        (["solve", JSON_INSTANCE, "--bogus"], "unrecognized arguments: --bogus"),
        (["solve", JSON_INSTANCE, "--time-limit", "soon"], "'soon' is not a positive finite"),
        # A budget that is not a positive finite number is refused, not read as 60 s.
        *[(["solve", JSON_INSTANCE, "--time-limit", t], f"'{t}' is not a positive finite")
          for t in ("0", "-1", "nan", "inf")],
        (["solve", JSON_INSTANCE, "--seed", "-1"], "-1 is negative"),
        (["solve", JSON_INSTANCE, "--objective", "longest"], "must be min_max or min_sum"),
        (["frobnicate", JSON_INSTANCE], "invalid choice: 'frobnicate'"),
    ],
)
def test_malformed_input_and_unknown_options_exit_2_in_one_line(
    args: list[object], message: str, tmp_path: Path
) -> None:
    bad = tmp_path / "bad.tsp"
    bad.write_text(
        "NAME: bad\nTYPE: TSP\nDIMENSION: 3\nEDGE_WEIGHT_TYPE: EUC_2D\n"
        "NODE_COORD_SECTION\n1 0 0\n2 3 x\n3 1 1\nEOF\n"
    )
    out = tmp_path / "out.json"
    run = zelk_cli(*(str(a).format(bad=bad, out=out) for a in args))
    assert run.returncode == 2
    lines = run.stderr.splitlines()
    errors = [line for line in lines if line.startswith("zelk") and ": error: " in line]
    assert len(errors) == 1 and message in errors[0], run.stderr
    assert errors[0] == lines[-1]
    if "node" not in message:
        assert lines[0].startswith("usage: zelk")
    else:
        assert lines == errors  # bad input: nothing but the error line
    assert "Traceback" not in run.stderr
    assert run.stdout == "" and not out.exists()


# --------------------------------------------------------------------------- convert


@pytest.mark.parametrize(
    ("source", "options"),
    [
        (TSP, ["--agents", "3", "--depot", "5"]),
        (TSP, ["--agents", "2", "--distances", "exact", "--objective", "min-sum"]),
        (DATA / "upper_row_5.tsp", ["--agents", "2", "--open"]),
        (SOLOMON, ["--agents", "2"]),
    ],
)
def test_convert_round_trip_solves_and_checks(
    source: Path, options: list[str], tmp_path: Path
) -> None:
    out = tmp_path / "converted.json"
    run = zelk_cli("convert", source, "-o", out, *options)
    assert run.returncode == 0, run.stderr
    instance = json.loads(out.read_text())
    # A Solomon file's service and capacity are honoured on the improvement path only.
    fleet = zelk.fleet.focal_search_refusal(instance) is not None
    result = zelk.solve_json_file(str(out), 2.0, **({"improve": True} if fleet else {}))
    assert result["status"] == "success"
    assert zelk.check_solution(instance, result) == []
    if "--open" in options:
        assert instance["options"]["return_to_end"] is False
    if "--objective" in options:
        assert instance["options"]["objective"] == "min_sum"
    # Solving the original file directly gives the same instance.
    again = zelk_cli("solve", source, "--json", "--quiet", "--time-limit", "1", *options)
    assert again.returncode == 0, again.stderr
    assert zelk.check_solution(instance, json.loads(again.stdout)) == []


# --------------------------------------------------------------------------- plot


def test_plot_writes_a_png(tmp_path: Path) -> None:
    pytest.importorskip("matplotlib")
    instance = zelk.load_instance(TSP, agents=3)
    result = zelk.solve_json_str(json.dumps(instance), 1.0)
    target = tmp_path / "routes.png"
    zelk.plot_solution(instance, result, target)
    assert target.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    # The same through the command line, on an instance without coordinates.
    cli_target = tmp_path / "explicit.png"
    run = zelk_cli(
        "solve", DATA / "upper_row_5.tsp", "--agents", "2", "--plot", cli_target,
        "--time-limit", "1",
    )  # fmt: skip
    assert run.returncode == 0, run.stderr
    assert cli_target.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


# --------------------------------------------------------------------------- on_solution


def _score(objective: str, max_cost: float, sum_cost: float) -> float:
    return max_cost if objective == "min_max" else sum_cost


@pytest.mark.parametrize("objective", ["min_max", "min_sum"])
def test_on_solution_calls_match_the_anytime_list(objective: str) -> None:
    instance = zelk.load_instance(TSP, agents=3)
    instance["options"]["objective"] = objective
    calls: list[tuple[float, float, float]] = []
    result = zelk.solve_json_str(json.dumps(instance), 2.0, on_solution=lambda *a: calls.append(a))
    assert calls, "the search found solutions but reported none"
    times = [t for t, _, _ in calls]
    assert times == sorted(times)
    # Each call reports a solution after post-optimisation; the anytime list keeps the
    # strictly improving records, both before and after post-optimisation. So it never
    # misses an improvement a call reported, and holds nothing found after the last call.
    anytime = result["anytime"]
    assert anytime
    for t, max_cost, sum_cost in calls:
        known = [_score(objective, e["max_cost"], e["sum_cost"]) for e in anytime if e["time"] <= t]
        assert known and min(known) <= _score(objective, max_cost, sum_cost) + 1e-9
    assert all(e["time"] <= times[-1] for e in anytime)
    if objective == "min_max":
        # Post-optimisation never lengthens the longest route, so the best call is the
        # best anytime entry and the returned solution.
        best = min(m for _, m, _ in calls)
        assert math.isclose(anytime[-1]["max_cost"], best, abs_tol=1e-9)
        assert math.isclose(result["statistics"]["max_cost"], best, abs_tol=1e-9)


def test_solver_solve_reports_each_solution(line_problem) -> None:
    problem = line_problem(5)
    solver = zelk.Solver(problem, problem.options())
    calls: list[tuple[float, float, float]] = []
    assert solver.solve(on_solution=lambda *a: calls.append(a)) == 1
    records = solver.get_result_process()
    # One call per record that improves on every earlier one (by the sum: the line
    # problem is min-sum), with that record's time stamp and costs.
    expected, best = [], math.inf
    for stamp, snapshot in records:
        total = sum(snapshot.times.values())
        if total < best - 1e-9:
            best = total
            expected.append((stamp, max(snapshot.times.values()), total))
    assert len(calls) == len(expected) >= 1
    for (t, max_cost, sum_cost), (stamp, largest, total) in zip(calls, expected):
        assert (t, max_cost) == (stamp, largest)
        assert math.isclose(sum_cost, total)
    # Without a callable the Solver behaves as before, also on a second solve.
    assert solver.solve() == 1
    assert solver.solve(on_solution=None) == 1


@pytest.mark.parametrize(
    "call",
    [
        # on_solution is keyword-only.
        "zelk.solve_json_str(text, 1.0, print)",
        # It must be callable.
        "zelk.solve_json_str(text, on_solution=5)",
        "zelk.Solver(p, p.options()).solve(print)",
    ],
)
def test_on_solution_argument_is_checked(call: str, line_problem) -> None:
    text = JSON_INSTANCE.read_text()
    p = line_problem(2)
    with pytest.raises(TypeError):
        eval(call, {"zelk": zelk, "text": text, "p": p})


def test_an_exception_in_on_solution_reaches_the_caller() -> None:
    # A raising callable must stop the search and surface as itself, not crash the
    # interpreter or vanish; run apart so a crash cannot take the test session down.
    script = textwrap.dedent(
        f"""
        import zelk
        text = open({str(JSON_INSTANCE)!r}).read()
        calls = []
        def boom(t, m, s):
            calls.append(t)
            raise ValueError("stop here")
        try:
            zelk.solve_json_str(text, on_solution=boom)
        except ValueError as error:
            print("raised", error, len(calls))
        result = zelk.solve_json_str(text)  # the module still works afterwards
        print(result["status"])
        """
    )
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    lines = [line for line in run.stdout.splitlines() if line != "w = 1"]
    assert lines == ["raised stop here 1", "success"]


def test_progress_prints_only_improving_solutions() -> None:
    stream = io.StringIO()
    with Progress(stream, "min_max") as progress:
        progress.on_solution(0.1, 10.0, 30.0)
        progress.on_solution(0.2, 10.0, 20.0)  # same max: not an improvement under min-max
        progress.on_solution(0.3, 8.0, 24.0)
    lines = [line.split("\r\033[K")[-1] for line in stream.getvalue().split("\n")]
    improving = [line for line in lines if "max" in line and "searching" not in line]
    assert [line.split()[2:] for line in improving] == [
        ["max", "10.00", "sum", "30.00"],
        ["max", "8.00", "sum", "24.00"],
    ]


def test_the_readme_example_solves_and_checks_valid() -> None:
    # Its nodes give "demand": 0, which the solve reads as no load dimension and a
    # scalar reading as one: both readings must agree that nothing is carried.
    example = Path(__file__).resolve().parents[2] / "examples" / "windows_and_limits.json"
    run = zelk_cli("solve", example, "--time-limit", "1", "--schedule", "--check", "--quiet")
    assert run.returncode == 0, run.stdout + run.stderr
    assert "check: solution is valid" in run.stderr
