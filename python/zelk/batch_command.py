"""``zelk batch INPUTS... --out DIR``: solves every input file over local processes or a
Dask cluster (``--scheduler``), writing ``DIR/NAME.result.json`` per instance (the
Solution's dictionary) and ``DIR/summary.csv`` (instance, status, longest, sum, time).

A rerun resumes: an instance whose result file holds a solve (not an error, not an
interrupted one) of the same options and the same input file (size and modification
time, recorded under ``"batch"``) is skipped, and its row comes from that file; any
other is solved again, and ``--force`` solves everything again. Results are written
whole or not at all, so a batch killed midway leaves no half-written file behind; the
workers die with the batch, ``kill -9`` included.

Exit status: 0 every instance has a solution; 1 some instance has none, left required
targets unserved or failed (the summary and the error lines say which); 2 the command
line is wrong, ``--out`` cannot be written or the cluster cannot be reached within
``--scheduler-timeout``; 3 ``--check`` found problems (listed under ``"check"`` in the
result file); 130 interrupted by Ctrl-C or SIGTERM (finished results and the summary
are kept).
"""

from __future__ import annotations

import argparse
import contextlib
import csv
import io
import json
import math
import os
import signal
import sys
import threading
import time
from collections.abc import Iterator, Sequence
from pathlib import Path
from typing import Any, TextIO

from zelk.batch import solve_and_check_each
from zelk.formats import DISTANCE_MODES, INPUT_FORMATS
from zelk.solution import Solution

__all__ = ["add_parser", "result_names", "run"]

SUMMARY = "summary.csv"
RESULT_SUFFIX = ".result.json"
SUMMARY_COLUMNS = ("instance", "status", "longest", "sum", "time")
#: Statuses of a result file that a rerun solves again.
RETRY_STATUSES = ("error", "interrupted")
#: The key of a result file that records what the result was solved with.
RECORD_KEY = "batch"

EXIT_OK, EXIT_UNSOLVED, EXIT_USAGE, EXIT_CHECK_FAILED, EXIT_INTERRUPTED = 0, 1, 2, 3, 130


def add_parser(commands: Any) -> None:
    """Adds the ``batch`` command to the ``zelk`` command's subparsers."""
    batch = commands.add_parser(
        "batch", help="solve many instance files on local processes or a Dask cluster"
    )
    batch.add_argument("inputs", nargs="+", metavar="INPUT", help="JSON, TSPLIB or Solomon files")
    batch.add_argument("--out", required=True, metavar="DIR", help="folder for the results")
    batch.add_argument(
        "--workers", type=int, metavar="N", help="local worker processes (default: every core)"
    )
    batch.add_argument(
        "--scheduler", metavar="ADDRESS",
        help="submit to a running Dask scheduler (tcp://host:8786); the workers read the "
        "input files at their absolute paths",
    )  # fmt: skip
    batch.add_argument(
        "--scheduler-timeout", type=float, default=10.0, metavar="S",
        help="give up on --scheduler after S seconds without a connection (default 10)",
    )  # fmt: skip
    batch.add_argument(
        "--force", action="store_true",
        help="solve every input again, even where --out holds a result of the same options",
    )  # fmt: skip
    batch.add_argument(
        "--format", choices=INPUT_FORMATS,
        help="input format (default: recognised from each file's content)",
    )  # fmt: skip
    from zelk.cli import add_engine_options, add_solve_options

    add_solve_options(batch)
    add_engine_options(batch)
    batch.add_argument("--agents", type=int, metavar="M", help="TSPLIB/Solomon: number of agents")
    batch.add_argument(
        "--depot", type=int, metavar="ID", help="TSPLIB/Solomon: the depot's node id"
    )
    batch.add_argument(
        "--distances", choices=DISTANCE_MODES, help="TSPLIB/Solomon: rounded or real distances"
    )
    batch.add_argument("--quiet", action="store_true", help="no progress display")


def result_names(inputs: Sequence[str]) -> list[str]:
    """A distinct result name per input: the file's stem, or, where stems repeat, its
    path relative to the inputs' common folder with ``/`` written ``__``.

    Raises
    ------
    ValueError
        When two inputs would still share a name.
    """
    paths = [Path(name).absolute() for name in inputs]
    names = [path.stem for path in paths]
    if len(set(names)) < len(names):
        common = Path(os.path.commonpath([path.parent for path in paths]))
        names = ["__".join(path.relative_to(common).parts) for path in paths]
    seen: dict[str, str] = {}
    for name, given in zip(names, inputs):
        if name in seen:
            raise ValueError(f"{seen[name]} and {given} would share the result {name}")
        seen[name] = given
    return names


def _read_result(path: Path, record: dict[str, Any]) -> Solution | None:
    """The finished Solution in ``path``; None when there is none to keep: none at all,
    a failed or interrupted one, or one solved with other options or another version of
    its input than ``record`` says."""
    try:
        data = json.loads(path.read_text(encoding="utf-8"))
        solution = Solution.from_dict(data)
    except (OSError, ValueError, KeyError, TypeError):
        return None  # missing, half-written by an older tool, or not ours: solve again
    if data.get(RECORD_KEY) != record:
        return None
    return None if solution.status in RETRY_STATUSES else solution


def _record(options: dict[str, Any], load: dict[str, Any], path: str) -> dict[str, Any]:
    """What a result depends on besides the solver: the solve's options, how the file is
    read, and the file itself (its size and modification time)."""
    try:
        info = os.stat(path)
        source: dict[str, Any] = {"size": info.st_size, "mtime_ns": info.st_mtime_ns}
    except OSError:
        source = {}
    # Through JSON, so that the record compares equal to the one read back.
    return json.loads(json.dumps({"options": options, "load": load, "input": source}))


def _write_whole(path: Path, text: str) -> None:
    # A rename replaces the file at once: readers see the old one or the new one.
    partial = path.with_name(f".{path.name}.{os.getpid()}.partial")
    partial.write_text(text, encoding="utf-8")
    os.replace(partial, path)


def _number(value: float | None) -> str:
    return "" if value is None else f"{value:.6g}"


def summary_text(inputs: Sequence[str], results: dict[int, Solution]) -> str:
    """The summary CSV: one row per input in the order given; an instance not solved
    (the batch was interrupted) has status ``pending`` and empty numbers."""
    buffer = io.StringIO()
    writer = csv.writer(buffer, lineterminator="\n")
    writer.writerow(SUMMARY_COLUMNS)
    for index, name in enumerate(inputs):
        solution = results.get(index)
        if solution is None:
            writer.writerow((name, "pending", "", "", ""))
        elif not solution.found:
            failed = solution.status == "error"
            time_taken = "" if failed else _number(solution.statistics.solve_time)
            writer.writerow((name, solution.status, "", "", time_taken))
        else:
            writer.writerow(
                (name, solution.status, _number(solution.max_cost),
                 _number(solution.sum_cost), _number(solution.statistics.solve_time))
            )  # fmt: skip
    return buffer.getvalue()


class BatchProgress:
    """Instances done out of the total on stderr: a redrawn bar on a terminal, one line
    per instance elsewhere (a log keeps every line). Errors always get a line."""

    WIDTH = 24

    def __init__(self, stream: TextIO | None, total: int, done: int, quiet: bool) -> None:
        self._stream = stream
        self._total = total
        self._done = done
        self._failed = 0
        self._quiet = quiet
        self._tty = stream is not None and stream.isatty()
        self._start = time.monotonic()

    def _write(self, text: str) -> None:
        if self._stream is None:
            return
        with contextlib.suppress(OSError, ValueError):
            self._stream.write(text)
            self._stream.flush()

    def _bar(self) -> str:
        filled = self.WIDTH * self._done // max(1, self._total)
        elapsed = int(time.monotonic() - self._start)
        failed = f", {self._failed} failed" if self._failed else ""
        return (
            f"[{'#' * filled}{'-' * (self.WIDTH - filled)}] {self._done}/{self._total} "
            f"instances{failed}, {elapsed // 60}:{elapsed % 60:02d} elapsed"
        )

    def start(self) -> None:
        if self._tty and not self._quiet:
            self._write("\r\033[K" + self._bar())

    def update(self, name: str, solution: Solution) -> None:
        self._done += 1
        clear = "\r\033[K" if self._tty and not self._quiet else ""
        if solution.status == "error":
            self._failed += 1
            self._write(f"{clear}zelk batch: {name}: error: {solution.error}\n")
        elif not self._quiet and not self._tty:
            result = (f"max {solution.max_cost:.2f} sum {solution.sum_cost:.2f}"
                      if solution.found else "no solution")  # fmt: skip
            self._write(f"{self._bar()}  {name}: {solution.status}, {result}\n")
        if self._tty and not self._quiet:
            self._write("\r\033[K" + self._bar())

    def note(self, line: str) -> None:
        """A line of its own, always shown."""
        clear = "\r\033[K" if self._tty and not self._quiet else ""
        self._write(f"{clear}{line}\n")

    def close(self) -> None:
        if self._tty and not self._quiet:
            self._write("\r\033[K" + self._bar() + "\n")


def _connect(address: str, timeout: float) -> Any:
    """A Dask client of the scheduler at ``address``, or ValueError after ``timeout``
    seconds: a service that accepts the connection but never answers as a scheduler
    would otherwise keep the command waiting without a word."""
    try:
        from distributed import Client
    except ImportError:
        raise ValueError("--scheduler needs Dask: pip install 'zelk[cluster]'") from None
    outcome: dict[str, Any] = {}

    def connect() -> None:
        try:
            outcome["client"] = Client(address, timeout=f"{timeout}s")
        except Exception as error:  # noqa: BLE001 - every failure is "cannot reach"
            outcome["error"] = error

    # A daemon thread: one that never returns does not keep the process alive.
    thread = threading.Thread(target=connect, name="zelk-scheduler-connect", daemon=True)
    thread.start()
    thread.join(timeout)
    if "client" in outcome:
        return outcome["client"]
    error = outcome.get("error")
    reason = f"{type(error).__name__}: {error}" if error is not None else "no answer"
    raise ValueError(
        f"cannot reach the Dask scheduler at {address} within {timeout:g} s "
        f"(--scheduler-timeout): {reason}"
    )


@contextlib.contextmanager
def _executor(address: str | None, timeout: float = 10.0) -> Iterator[Any]:
    """None (the local pool) or the executor of a Dask client connected to ``address``."""
    if address is None:
        yield None
        return
    client = _connect(address, timeout)
    try:
        yield client.get_executor()
    finally:
        client.close()


def _solve_options(args: argparse.Namespace) -> dict[str, Any]:
    if not args.scheduler_timeout > 0 or not math.isfinite(args.scheduler_timeout):
        raise ValueError(f"--scheduler-timeout must be > 0 seconds (got {args.scheduler_timeout})")
    if args.workers is not None and args.workers < 1:
        raise ValueError(f"--workers must be >= 1 (got {args.workers})")
    if args.workers is not None and args.scheduler is not None:
        raise ValueError(
            "--workers is for local processes; the cluster's workers serve --scheduler"
        )
    from zelk.cli import engine_keywords

    options = {key: value for key, value in engine_keywords(args).items() if value is not None}
    if args.time_limit is not None:
        options["time_limit"] = args.time_limit
    if args.objective is not None:
        options["objective"] = args.objective
    return options


def run(args: argparse.Namespace) -> int:
    """Runs ``zelk batch`` with its parsed arguments; returns the exit status."""
    try:
        options = _solve_options(args)
        inputs = list(dict.fromkeys(args.inputs))  # a file named twice is solved once
        names = result_names(inputs)
        out = Path(args.out)
        out.mkdir(parents=True, exist_ok=True)
        # Refused now, not after hours of solving.
        if not os.access(out, os.W_OK | os.X_OK):
            raise ValueError(f"--out {out}: cannot be written")
    except (OSError, ValueError) as error:
        print(f"zelk: error: {error}", file=sys.stderr)
        return EXIT_USAGE
    load: dict[str, Any] = {key: getattr(args, key) for key in ("agents", "depot", "distances")
                            if getattr(args, key) is not None}  # fmt: skip
    if args.format is not None:
        load["fmt"] = args.format
    if args.open:
        load["open"] = True
    records = [_record(options, load, path) for path in inputs]
    results: dict[int, Solution] = {}
    for index, name in enumerate(names):
        kept = None if args.force else _read_result(out / (name + RESULT_SUFFIX), records[index])
        if kept is not None:
            results[index] = kept
    todo = [index for index in range(len(inputs)) if index not in results]
    if results:
        print(f"zelk batch: {len(results)} of {len(inputs)} instances already solved in "
              f"{out}; solving {len(todo)}", file=sys.stderr)  # fmt: skip
    progress = BatchProgress(sys.stderr, len(inputs), len(results), args.quiet)
    interrupted = False
    summary_written = False
    failed_checks = 0
    try:
        with _terminate_as_interrupt(), _executor(args.scheduler, args.scheduler_timeout) as executor:
            progress.start()
            solves = solve_and_check_each([inputs[i] for i in todo], executor=executor,
                                          workers=args.workers, load=load, check=args.check,
                                          **options)  # fmt: skip
            for position, solution, problems in solves:
                index = todo[position]
                target = out / (names[index] + RESULT_SUFFIX)
                data = solution.to_dict()
                data[RECORD_KEY] = records[index]
                if args.check and solution.found:
                    # Checked in the worker, on the Instance it read from the file.
                    data["check"] = ["the worker reported no check"] if problems is None else problems
                    if data["check"]:
                        failed_checks += 1
                        for problem in data["check"]:
                            progress.note(f"zelk batch: {inputs[index]}: check: {problem}")
                _write_whole(target, json.dumps(data, indent=2, allow_nan=False) + "\n")
                results[index] = solution
                progress.update(inputs[index], solution)
    except KeyboardInterrupt:
        interrupted = True
    except (OSError, ValueError) as error:
        progress.close()
        print(f"zelk: error: {error}", file=sys.stderr)
        return EXIT_USAGE
    finally:
        # Whatever ended the run, the summary says what was done.
        try:
            _write_whole(out / SUMMARY, summary_text(inputs, results))
            summary_written = True
        except OSError as error:
            print(f"zelk: error: cannot write the summary: {error}", file=sys.stderr)
    progress.close()
    if not summary_written:
        return EXIT_USAGE
    if interrupted:
        print(f"zelk batch: interrupted; {len(results)} of {len(inputs)} instances done",
              file=sys.stderr)  # fmt: skip
        return EXIT_INTERRUPTED
    if failed_checks:
        print(f"zelk batch: check: FAILED for {failed_checks} instances", file=sys.stderr)
        return EXIT_CHECK_FAILED
    # A plan that leaves required targets out is no solution of its instance.
    complete = all(
        results[i].found and results[i].status != "infeasible" for i in range(len(inputs))
    )
    return EXIT_OK if complete else EXIT_UNSOLVED


@contextlib.contextmanager
def _terminate_as_interrupt() -> Iterator[None]:
    """SIGTERM ends the batch as Ctrl-C does: finished results and the summary are
    kept, and the workers end with the parent."""
    if threading.current_thread() is not threading.main_thread():
        yield
        return

    def interrupt(signum: int, frame: Any) -> None:
        raise KeyboardInterrupt

    previous = signal.signal(signal.SIGTERM, interrupt)
    try:
        yield
    finally:
        signal.signal(signal.SIGTERM, previous)
