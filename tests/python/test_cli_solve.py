"""The zelk command on top of zelk.solve: open routes and schedules as printed, standard
input, validate, and the input and output faults refused before any solving."""

from __future__ import annotations

import json
import subprocess
import sys
from pathlib import Path

import pytest

from test_cli import JSON_INSTANCE, zelk_cli
from test_solution import waiting_instance


def _write(tmp_path: Path, instance: dict, name: str = "instance.json") -> Path:
    path = tmp_path / name
    path.write_text(json.dumps(instance))
    return path


@pytest.mark.parametrize(
    ("return_to_end", "route", "schedule"),
    [
        # Closed: 0 -> 20 -> 10 -> 0, waits 1 at node 20 and 2 at node 10, back at 15.
        (True, "7  15.00  0 20 10 0",
         ["0 0.00 0.00 0.00 0.00", "20 5.00 1.00 6.00 6.00",
          "10 10.00 2.00 12.00 12.00", "0 15.00 0.00 15.00 15.00"]),
        # Open: the free closing move is neither printed nor scheduled; the route ends
        # when node 10 is left at 12.
        (False, "7  12.00  0 20 10",
         ["0 0.00 0.00 0.00 0.00", "20 5.00 1.00 6.00 6.00",
          "10 10.00 2.00 12.00 12.00"]),
    ],
)  # fmt: skip
def test_routes_and_schedule_as_printed(
    tmp_path: Path, return_to_end: bool, route: str, schedule: list[str]
) -> None:
    """The table shows node ids (an open route without its return) and --schedule the
    hand-computed arrival, waiting and departure per stop."""
    instance = waiting_instance()
    instance["options"]["return_to_end"] = return_to_end
    run = zelk_cli("solve", _write(tmp_path, instance), "--schedule", "--no-improve")
    assert run.returncode == 0, run.stderr
    lines = run.stdout.splitlines()
    assert lines[2].strip() == route
    start = lines.index("agent 7 (van):")
    assert lines[start + 1].split() == ["node", "arrival", "waiting", "start", "departure"]
    rows = lines[start + 2 : start + 2 + len(schedule)]
    assert [row.split() for row in rows] == [row.split() for row in schedule]
    assert lines[start + 2 + len(schedule)] == ""
    # The lower bound meets the value (see test_solution): proven optimal.
    assert lines[-1] == "search complete: optimal"


def test_standard_input_solves_like_the_file() -> None:
    """`zelk solve -` reads the instance from standard input."""
    text = JSON_INSTANCE.read_text()
    piped = subprocess.run(
        [sys.executable, "-m", "zelk", "solve", "-", "--json", "--no-improve"],
        input=text, capture_output=True, text=True, timeout=60,
    )  # fmt: skip
    direct = zelk_cli("solve", JSON_INSTANCE, "--json", "--no-improve")
    assert piped.returncode == direct.returncode == 0, piped.stderr
    assert json.loads(piped.stdout)["routes"] == json.loads(direct.stdout)["routes"]
    validated = subprocess.run(
        [sys.executable, "-m", "zelk", "validate", "-"],
        input=text, capture_output=True, text=True, timeout=60,
    )  # fmt: skip
    assert validated.returncode == 0, validated.stderr
    assert validated.stdout.startswith("<stdin>: valid instance: 5 nodes")


def test_validate_lists_every_problem_or_says_valid(tmp_path: Path) -> None:
    """`zelk validate` exits 0 on a valid file and 2 with one line per problem, each
    naming file and place."""
    good = zelk_cli("validate", JSON_INSTANCE)
    assert good.returncode == 0, good.stderr
    assert good.stdout.startswith(f"{JSON_INSTANCE}: valid instance: 5 nodes, 2 agents")
    instance = waiting_instance()
    del instance["nodes"][1]["x"]
    instance["agents"].append(dict(instance["agents"][0]))
    instance["options"]["objective"] = "minmax"
    path = _write(tmp_path, instance, "bad.json")
    bad = zelk_cli("validate", path)
    assert bad.returncode == 2
    assert bad.stderr.splitlines() == [
        f"zelk: error: {path}: nodes[1]: 'x' is a required property",
        f"zelk: error: {path}: options.objective: 'minmax' is not one of 'min_max', "
        "'min_sum', 'MIN_MAX', 'MIN_SUM' (did you mean 'min_max'?)",
    ]
    # The schema's faults come first; with them mended, the duplicate agent shows.
    instance["nodes"][1]["x"] = 0.0
    instance["options"]["objective"] = "min_max"
    dup = zelk_cli("validate", _write(tmp_path, instance, "dup.json"))
    assert dup.returncode == 2 and "agents[1]: id 7 repeats the id of agents[0]" in dup.stderr


def _bad_utf8(tmp_path: Path) -> Path:
    path = tmp_path / "latin1.json"
    path.write_bytes(b'{"name": "caf\xe9", "nodes": []}')
    return path


@pytest.mark.parametrize(
    ("args", "message"),
    [
        # Output paths are refused before the solve starts.
        (["solve", JSON_INSTANCE, "--out", "/no/such/dir/out.json"],
         "--out /no/such/dir/out.json: no directory"),
        (["solve", JSON_INSTANCE, "--out", "{tmp}"], "is a directory"),
        # Input that is not a regular file, or not UTF-8.
        (["solve", "/dev/zero"], "Not a regular file: '/dev/zero'"),
        (["validate", "{tmp}"], "Is a directory"),
        (["solve", "{utf8}"], "latin1.json: not valid UTF-8: byte 0xe9 at offset 13"),
        (["solve", JSON_INSTANCE, "--memory-limit", "-5"],
         "memory_limit_mb must be a positive finite number"),
    ],
)  # fmt: skip
def test_faults_exit_2_before_solving(tmp_path: Path, args: list, message: str) -> None:
    """Each fault is one error line, exit 2, no traceback and nothing on stdout."""
    utf8 = _bad_utf8(tmp_path)
    run = zelk_cli(*(str(a).format(tmp=tmp_path, utf8=utf8) for a in args), timeout=30)
    assert run.returncode == 2
    assert run.stderr.splitlines() == [f"zelk: error: {run.stderr.split(': error: ')[1].strip()}"]
    assert message in run.stderr and run.stdout == ""


def test_closed_stdout_ends_quietly_with_exit_2() -> None:
    """With standard output closed the command says so in one line and exits 2."""
    run = subprocess.run(
        f"{sys.executable} -m zelk solve {JSON_INSTANCE} --no-improve >&-",
        shell=True, capture_output=True, text=True, timeout=60,
    )  # fmt: skip
    assert run.returncode == 2
    assert run.stderr == "zelk: error: standard output is closed\n"


def test_missing_matrix_warns_and_version_prints(tmp_path: Path) -> None:
    """The kinder defaults speak as warnings on stderr; --version names the package."""
    instance = waiting_instance()
    del instance["costs"]
    run = zelk_cli("solve", _write(tmp_path, instance), "--no-improve", "--check")
    assert run.returncode == 0, run.stderr
    assert "zelk: warning: " in run.stderr and "'van' has no cost matrix" in run.stderr
    assert "check: solution is valid" in run.stderr
    version = zelk_cli("--version")
    assert version.returncode == 0 and version.stdout.startswith("zelk ")


def test_progress_line_counts_against_the_budget() -> None:
    """The status line names the clock and the budget beside the time spent."""
    import io

    from zelk.cli import Progress

    stream = io.StringIO()
    with Progress(stream, "min_sum", 30.0) as progress:
        progress.on_solution(0.1, 10.0, 30.0)
    assert " / 30 s processor time   best max 10.00  sum 30.00" in stream.getvalue()
    wall = io.StringIO()
    with Progress(wall, "min_sum", 5.0, "wall"):
        pass
    assert " / 5 s wall clock" in wall.getvalue()


def test_schedule_example_runs() -> None:
    """examples/solve_schedule.py solves and prints a schedule per agent."""
    example = Path(__file__).resolve().parents[2] / "examples/solve_schedule.py"
    instance = Path(__file__).resolve().parents[2] / "examples/windows_and_limits.json"
    run = subprocess.run(
        [sys.executable, str(example), str(instance), "0.5"],
        capture_output=True, text=True, timeout=60,
    )  # fmt: skip
    assert run.returncode == 0, run.stderr
    assert run.stdout.count("\nagent ") == 3 and "node   0: arrives    0.00" in run.stdout
