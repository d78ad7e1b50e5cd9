"""Ctrl-C during zelk.solve and zelk solve: the solve stops with its best solution; a
second Ctrl-C aborts; the specified entry points keep raising KeyboardInterrupt.
Each case runs in a child process that receives a real SIGINT."""

from __future__ import annotations

import json
import os
import random
import signal
import subprocess
import sys
import textwrap
import time
from pathlib import Path

import pytest

import zelk
from checks import random_instance

# Long enough that a solve the signal failed to stop would fail the test by its timeout.
BUDGET = 60.0
# Generous, for a loaded machine; the latency measured is far below it (see the report
# the test prints with -s).
PATIENCE = 10.0


@pytest.fixture(scope="module")
def instance_file(tmp_path_factory: pytest.TempPathFactory) -> Path:
    """40 targets, 3 agents: neither the focal search nor the engine ends early."""
    instance = random_instance(random.Random(5), 41, 3, windows=True, time_limit=BUDGET)
    path = tmp_path_factory.mktemp("interrupt") / "forty.json"
    path.write_text(json.dumps(instance))
    return path


# The child announces its first solution on a descriptor of its own (the solve keeps
# descriptors 1 and 2 quiet), then waits in whatever the case's code does.
PRELUDE = """
import json, os, sys, threading, time, zelk
signal_fd = os.dup(1)
def announce(*_):
    os.write(signal_fd, b"found\\n")
instance = json.load(open(sys.argv[1]))
"""

CASES = {
    "main thread, engine": "s = zelk.solve(instance, on_solution=announce)",
    "main thread, focal search alone": (
        "s = zelk.solve(instance, improve=False, on_solution=announce)"
    ),
    "worker thread": """
box = {}
def work():
    box["s"] = zelk.solve(instance, on_solution=announce)
with zelk.stop_on_interrupt():
    worker = threading.Thread(target=work)
    worker.start()
    worker.join()
s = box["s"]
""",
}


def _run_child(code: str, path: Path) -> tuple[subprocess.CompletedProcess, float]:
    """Runs ``code`` with the instance path and sends SIGINT after its first solution;
    returns the finished process and the seconds from the signal to its end."""
    child = subprocess.Popen(
        [sys.executable, "-c", textwrap.dedent(code), str(path)],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
    )
    assert child.stdout is not None
    assert child.stdout.readline() == "found\n"
    time.sleep(0.3)
    sent = time.monotonic()
    child.send_signal(signal.SIGINT)
    try:
        out, err = child.communicate(timeout=PATIENCE + 30)
    finally:
        child.kill()
    return subprocess.CompletedProcess(child.args, child.returncode, out, err), (
        time.monotonic() - sent
    )


@pytest.mark.parametrize("case", sorted(CASES))
def test_ctrl_c_returns_the_best_solution_so_far(case: str, instance_file: Path) -> None:
    """The first Ctrl-C ends the solve with status "interrupted" and a complete,
    valid solution, long before its budget."""
    code = PRELUDE + CASES[case] + "\nprint(s.to_json())\n"
    run, elapsed = _run_child(code, instance_file)
    assert run.returncode == 0, run.stderr
    data = json.loads(run.stdout.splitlines()[-1])
    assert data["outcome"] == "interrupted" and data["status"] == "success"
    assert data["statistics"]["interrupted"] is True
    instance = json.loads(instance_file.read_text())
    assert zelk.check_solution(instance, data) == []
    assert elapsed < PATIENCE, f"{case}: {elapsed:.2f} s from Ctrl-C to the result"
    print(f"{case}: {elapsed:.2f} s from Ctrl-C to the printed result")


def test_second_ctrl_c_raises_keyboard_interrupt(instance_file: Path) -> None:
    """Two presses: the solve ends with KeyboardInterrupt, as a user asking to abort
    expects. The child presses twice itself, so both arrive while it solves."""
    code = PRELUDE + textwrap.dedent(
        """
        import signal
        def press_twice(*_):
            os.kill(os.getpid(), signal.SIGINT)
            os.kill(os.getpid(), signal.SIGINT)
        try:
            zelk.solve(instance, on_solution=press_twice)
        except KeyboardInterrupt:
            print("aborted")
        """
    )
    run = subprocess.run(
        [sys.executable, "-c", code, str(instance_file)],
        capture_output=True, text=True, timeout=PATIENCE + 30,
    )  # fmt: skip
    assert run.stdout.strip() == "aborted", run.stderr


def test_specified_entry_point_still_raises_keyboard_interrupt(instance_file: Path) -> None:
    """solve_json_file keeps its behaviour: Ctrl-C raises KeyboardInterrupt."""
    code = PRELUDE + textwrap.dedent(
        """
        try:
            zelk.solve_json_file(sys.argv[1], on_solution=announce)
        except KeyboardInterrupt:
            print("raised")
        """
    )
    run, _ = _run_child(code, instance_file)
    assert run.stdout.strip().splitlines()[-1] == "raised", run.stderr


def test_cli_prints_the_best_solution_and_exits_130(instance_file: Path, tmp_path: Path) -> None:
    """zelk solve: Ctrl-C prints the routes found so far with the closing line, writes
    --out, and exits 130."""
    out = tmp_path / "out.json"
    code = (
        "import os, sys, zelk.solving as s\n"
        "fd = os.dup(1)\n"
        "real = s.solve\n"
        "def solve(*a, **k):\n"
        "    k['on_solution'] = lambda *_: os.write(fd, b'found\\n')\n"
        "    return real(*a, **k)\n"
        "import zelk.cli as cli\n"
        "cli.solve = solve\n"
        f"sys.exit(cli.main(['solve', sys.argv[1], '--out', {str(out)!r}]))\n"
    )
    run, _ = _run_child(code, instance_file)
    assert run.returncode == 130, run.stderr
    assert run.stdout.splitlines()[-1] == "interrupted: best solution so far"
    data = json.loads(out.read_text())
    assert data["outcome"] == "interrupted"
    assert zelk.check_solution(json.loads(instance_file.read_text()), data) == []


def test_stop_on_interrupt_restores_the_handler() -> None:
    """The block puts Python's own SIGINT handler back, also after a solve."""
    before = signal.getsignal(signal.SIGINT)
    with zelk.stop_on_interrupt():
        assert signal.getsignal(signal.SIGINT) is not before
    assert signal.getsignal(signal.SIGINT) is before
    zelk.solve(random_instance(random.Random(1), 5, 1), improve=False)
    assert signal.getsignal(signal.SIGINT) is before
