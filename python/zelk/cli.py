"""The ``zelk`` command: solve, check or convert an instance file.

``zelk solve INSTANCE`` reads a JSON instance, a TSPLIB file or a Solomon file (``-``:
standard input), solves it with :func:`zelk.solve` (the improvement engine unless
``--no-improve``) and prints the routes, or the solution's dictionary with ``--json``;
``zelk validate INSTANCE`` only checks the file; ``zelk convert INSTANCE -o OUT.json``
writes any supported input as a JSON instance; ``zelk batch INPUTS... --out DIR`` solves
many files (see :mod:`zelk.batch_command`, which has its own exit statuses).

Exit status: 0 solved (and, with ``--check``, the solution is valid; ``validate``: the
file is valid); 1 the search found no solution; 2 the command line or the input is
wrong, or standard output is closed before anything was solved; 3 required targets
stayed unserved (the plan for the others is printed, then a table of the unserved
targets and why) or ``--check`` found problems; 130 interrupted: the first Ctrl-C (or a
SIGTERM) stops the search and the best solution so far is printed (and written with
``--out``) before the exit; a second Ctrl-C ends at once. The status says what happened
to the solve: a reader of standard output or error that went away afterwards (``| head``)
does not change it.
"""

from __future__ import annotations

import argparse
import contextlib
import ctypes
import json
import os
import signal
import sys
import threading
import time
import warnings
from collections.abc import Iterator, Sequence
from pathlib import Path
from typing import Any, Self, TextIO

from zelk.check import check_solution
from zelk.fleet import precheck_reasons
from zelk.formats import (
    DISTANCE_MODES,
    INPUT_FORMATS,
    apply_options,
    instance_from_bytes,
    load_instance,
    objective_name,
    positive_seconds,
)
from zelk.schema import InstanceError
from zelk.solution import Solution, objective_of
from zelk.solving import solve

__all__ = ["main", "stdout_to_stderr"]

EXIT_OK = 0
EXIT_NO_SOLUTION = 1
EXIT_USAGE = 2
EXIT_CHECK_FAILED = 3
EXIT_INFEASIBLE = 3
EXIT_INTERRUPTED = 130

#: What the closing line says, by how the solve ended.
CLOSING = {
    "interrupted": "interrupted: best solution so far",
    "interrupted_empty": "interrupted: no solution found yet",
    "optimal": "search complete: optimal",
    "complete": "focal search finished",
    "finished": "improvement finished before the time limit",
    "time_limit": "stopped at the time limit",
    "none": "no solution found",
    "infeasible": "infeasible: required targets left unserved",
}


def _flush_c_streams() -> None:
    # The core writes through the C library's streams; whatever it left in their
    # buffers must reach the descriptor it was meant for before that descriptor moves.
    try:
        ctypes.CDLL(None).fflush(None)
    except (OSError, AttributeError):  # pragma: no cover - no C library to call
        pass


@contextlib.contextmanager
def stdout_to_stderr() -> Iterator[None]:
    """Sends everything written to file descriptor 1 (the core's diagnostic lines
    included) to descriptor 2 while the block runs, so stdout carries only what the
    command prints afterwards."""
    sys.stdout.flush()
    _flush_c_streams()
    try:
        saved = os.dup(1)
    except OSError:  # stdout is closed: nothing to protect
        yield
        return
    try:
        os.dup2(2, 1)
        yield
    finally:
        sys.stdout.flush()
        _flush_c_streams()
        os.dup2(saved, 1)
        os.close(saved)


class Progress:
    """Processor time against the budget and each improving solution, on a terminal's
    stderr.

    An interval timer raises SIGALRM, whose handler runs whenever the solve polls for
    signals (the same poll that notices Ctrl-C) and redraws the status line.
    """

    def __init__(
        self, stream: TextIO, objective: str, budget: float | None = None, clock: str = "process"
    ) -> None:
        self._stream = stream
        self._min_sum = objective != "min_max"
        self._budget = budget
        self._wall = clock == "wall"
        self._start = self._now()
        self._best: tuple[float, float] | None = None
        self._old_handler: Any = None

    def _now(self) -> float:
        return time.monotonic() if self._wall else time.process_time()

    def __enter__(self) -> Self:
        self._start = self._now()
        try:
            self._old_handler = signal.signal(signal.SIGALRM, self._tick)
            # Restart interrupted system calls rather than fail them.
            signal.siginterrupt(signal.SIGALRM, False)
            signal.setitimer(signal.ITIMER_REAL, 0.25, 0.25)
        except (ValueError, OSError):  # not the main thread: no ticker, solutions only
            self._old_handler = None
        self._draw()
        return self

    def __exit__(self, *exc: object) -> None:
        if self._old_handler is not None:
            signal.setitimer(signal.ITIMER_REAL, 0.0, 0.0)
            signal.signal(signal.SIGALRM, self._old_handler)
        self._stream.write("\r\033[K")
        self._stream.flush()

    def _elapsed(self) -> float:
        return self._now() - self._start

    def _draw(self) -> None:
        unit = "s wall clock" if self._wall else "s processor time"
        budget = f" / {self._budget:g}" if self._budget is not None else ""
        line = f"  solving {self._elapsed():6.1f}{budget} {unit}"
        if self._best is not None:
            line += f"   best max {self._best[0]:.2f}  sum {self._best[1]:.2f}"
        self._stream.write("\r\033[K" + line)
        self._stream.flush()

    def _tick(self, signum: int, frame: object) -> None:
        self._draw()

    def on_solution(self, _time: float, max_cost: float, sum_cost: float) -> None:
        """The core's report of a solution; only improving ones get a line."""
        score = sum_cost if self._min_sum else max_cost
        if self._best is not None:
            best = self._best[1] if self._min_sum else self._best[0]
            if score >= best - 1e-9:
                return
        self._best = (max_cost, sum_cost)
        self._stream.write(
            f"\r\033[K  {self._elapsed():6.1f} s   max {max_cost:.2f}  sum {sum_cost:.2f}\n"
        )
        self._draw()


def closing_line(solution: Solution) -> str:
    """How the solve ended, in words."""
    if solution.status == "interrupted":
        return CLOSING["interrupted"] if solution.found else CLOSING["interrupted_empty"]
    if not solution.found:
        suffix = f" ({CLOSING['time_limit']})" if solution.timeout else ""
        return CLOSING["none"] + suffix
    if solution.status == "optimal":
        return CLOSING["optimal"]
    if solution.status == "infeasible":
        return CLOSING["infeasible"]
    if solution.timeout:
        return CLOSING["time_limit"]
    # Neither ending proves the answer optimal: the focal search ran out of work, or the
    # engine reached its iteration limit or stalled.
    return CLOSING["complete"] if solution.statistics.best_phase is None else CLOSING["finished"]


def _columns(rows: Sequence[tuple[str, ...]], right: int) -> list[str]:
    # The first `right` columns align right (numbers), the last one is free text.
    widths = [max(len(row[k]) for row in rows) for k in range(right)]
    return [
        "  ".join(cell.rjust(w) for cell, w in zip(row[:right], widths)) + "  " + row[right]
        if len(row) > right
        else "  ".join(cell.rjust(w) for cell, w in zip(row, widths))
        for row in rows
    ]


def format_table(instance: dict[str, Any], solution: Solution, *, schedule: bool = False) -> str:
    """The routes (node ids; an open route without its free closing move), totals, and
    with ``schedule`` the arrival, waiting and departure at every stop."""
    nodes = instance["nodes"]
    objective = "min-max" if solution.objective == "min_max" else "min-sum"
    name = instance.get("name") or "instance"
    lines = [f"{name}: {len(nodes)} nodes, {len(instance['agents'])} agents, {objective}"]
    if solution.found:
        rows = [("agent", "cost", "route (node ids)")]
        for route in solution.routes:
            path = " ".join(map(str, route.visits))
            rows.append((str(route.agent_id), f"{route.cost:.2f}", path or "-"))
        lines += [line.rstrip() for line in _columns(rows, 2)]
        lines.append(f"max {solution.max_cost:.2f}  sum {solution.sum_cost:.2f}")
        lines += _unserved_lines(solution)
        if schedule:
            lines += _schedule_lines(solution)
        stats = solution.statistics
        lines.append(
            # Seconds on the budget's clock: wall time, or processor time with --cpu-time.
            f"best found at {stats.last_update_time:.2f} s; "
            f"solve took {stats.solve_time:.2f} s"
        )
    lines.append(closing_line(solution))
    return "\n".join(lines)


def _unserved_lines(solution: Solution) -> list[str]:
    """The targets left unserved: the penalties of the optional ones, then a table of
    the required ones with the reason for each."""
    if not solution.unserved:
        return []
    value = solution.objective_value or 0.0
    listed = " ".join(map(str, solution.unserved))
    penalty = f"penalty {solution.penalty:.2f}; objective {value:.2f}"
    lines = [f"unserved {len(solution.unserved)}: {listed}  ({penalty})"]
    if solution.reasons:
        rows = [("node", "reason", "why")]
        rows += [(str(r.node), r.reason, r.message) for r in solution.reasons]
        lines += ["", "required targets left unserved"]
        lines += [line.rstrip() for line in _columns(rows, 2)]
    return lines


def _schedule_lines(solution: Solution) -> list[str]:
    lines = ["", "schedule"]
    for route in solution.routes:
        if not route.path:
            continue
        stops = route.stops if route.returns else route.stops[: max(1, len(route.stops) - 1)]
        rows: list[tuple[str, ...]] = [("node", "arrival", "waiting", "start", "departure")]
        for stop in stops:
            rows.append(
                (str(stop.node), f"{stop.arrival:.2f}", f"{stop.waiting:.2f}",
                 f"{stop.start:.2f}", f"{stop.departure:.2f}")
            )  # fmt: skip
        load = f", load {' '.join(f'{x:g}' for x in route.load)}" if route.load else ""
        lines.append(f"agent {route.agent_id} ({route.agent_type}){load}:")
        lines += ["  " + line for line in _columns(rows, 5)]
    lines.append("")
    return lines


def _objective_arg(text: str) -> str:
    try:
        return objective_name(text)
    except ValueError as error:
        raise argparse.ArgumentTypeError(str(error)) from None


def _whole_arg(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"{text!r} is not a whole number") from None
    if value < 0:
        raise argparse.ArgumentTypeError(f"{value} is negative; it must be >= 0")
    return value


def _positive_arg(text: str) -> float:
    try:
        return positive_seconds(float(text), "the value")
    except ValueError:
        raise argparse.ArgumentTypeError(f"{text!r} is not a positive finite number") from None


def add_solve_options(sub: argparse.ArgumentParser) -> None:
    """The options that change the instance read: objective, open routes, budget."""
    sub.add_argument(
        "--objective", type=_objective_arg, metavar="min-max|min-sum",
        help="longest route or sum of routes (min_max, MIN_MAX, ... also accepted) "
        "(default: the instance's; converted files: min-max)",
    )  # fmt: skip
    sub.add_argument(
        "--open", action="store_true", help="agents need not return to their end node"
    )
    sub.add_argument(
        "--time-limit", type=_positive_arg, metavar="S",
        help="budget in seconds of wall-clock time (see --cpu-time) "
        "(default: the instance's, else 60)",
    )  # fmt: skip


def add_engine_options(sub: argparse.ArgumentParser) -> None:
    """The options of how to solve, shared by ``zelk solve`` and ``zelk batch``."""
    sub.add_argument(
        "--no-improve", action="store_true",
        help="run the focal search alone, without the improvement engine",
    )  # fmt: skip
    sub.add_argument(
        "--seed", type=_whole_arg, default=0, metavar="N",
        help="the improvement engine's random seed",
    )  # fmt: skip
    clocks = sub.add_mutually_exclusive_group()
    clocks.add_argument(
        "--cpu-time", action="store_true",
        help="count the budget in processor time of the solve instead of wall-clock seconds",
    )  # fmt: skip
    clocks.add_argument(
        "--wall-clock", action="store_true", help="count the budget in wall-clock seconds (default)"
    )
    sub.add_argument(
        "--memory-limit", type=float, metavar="MB", help="the search's memory limit in MB"
    )
    sub.add_argument(
        "--threads", type=_whole_arg, default=1, metavar="N",
        help="improvement engine threads sharing the best solution (0: one per core); "
        "a processor-time budget counts all of them",
    )  # fmt: skip
    sub.add_argument(
        "--iteration-limit", type=_whole_arg, metavar="N",
        help="stop the improvement engine after N steps, so that a run repeats exactly",
    )  # fmt: skip
    sub.add_argument(
        "--stall", type=_positive_arg, metavar="S",
        help="stop early once S seconds pass without a better solution",
    )  # fmt: skip
    sub.add_argument(
        "--check", action="store_true", help="verify every solution independently"
    )


def engine_keywords(args: argparse.Namespace) -> dict[str, Any]:
    """The keywords of :func:`zelk.solve` that the engine options give."""
    return {
        "improve": not args.no_improve,
        "seed": args.seed,
        "clock": "process" if args.cpu_time else "wall",
        "memory_limit_mb": args.memory_limit,
        "iteration_limit": args.iteration_limit,
        "stall_time": args.stall,
        "threads": args.threads,
    }


def _parser() -> argparse.ArgumentParser:
    from zelk import __version__

    parser = argparse.ArgumentParser(
        prog="zelk",
        description="Multiple-travelling-salesman solver: solve, validate or convert instance "
        "files (JSON instances, TSPLIB .tsp files, VRPLIB .vrp files, Solomon time-window "
        "files).",
    )
    parser.add_argument("--version", action="version", version=f"zelk {__version__}")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")

    def add_input(sub: argparse.ArgumentParser, *, options: bool = True) -> None:
        sub.add_argument(
            "instance", metavar="INSTANCE",
            help="JSON, TSPLIB, VRPLIB or Solomon file; - reads stdin",
        )  # fmt: skip
        sub.add_argument(
            "--format",
            choices=INPUT_FORMATS,
            help="input format (default: recognised from the content)",
        )
        sub.add_argument(
            "--agents", type=int, metavar="M",
            help="TSPLIB/VRPLIB/Solomon: number of agents (default 1; VRPLIB and Solomon: the "
            "file's vehicle number)",
        )  # fmt: skip
        sub.add_argument(
            "--depot", type=int, metavar="ID",
            help="TSPLIB/Solomon: node id where every agent starts and ends "
            "(default: the first node)",
        )  # fmt: skip
        sub.add_argument(
            "--distances", choices=DISTANCE_MODES,
            help="TSPLIB/Solomon: rounded (nint) or real (exact) distances "
            "(default: nint for TSPLIB, exact for Solomon)",
        )  # fmt: skip
        if not options:
            return
        add_solve_options(sub)

    solve_cmd = commands.add_parser("solve", help="solve an instance and print the routes")
    add_input(solve_cmd)
    add_engine_options(solve_cmd)
    solve_cmd.add_argument(
        "--json", action="store_true", help="print the solution's dictionary as JSON"
    )
    solve_cmd.add_argument(
        "--schedule", action="store_true",
        help="print arrival, waiting, start of service and departure at every stop",
    )  # fmt: skip
    solve_cmd.add_argument(
        "--out", metavar="FILE",
        help="write the solution's dictionary as JSON to FILE (FILE.sol: VRPLIB routes)",
    )  # fmt: skip
    solve_cmd.add_argument("--plot", metavar="FILE.png", help="draw the routes (needs matplotlib)")
    solve_cmd.add_argument("--quiet", action="store_true", help="no progress display")

    validate = commands.add_parser(
        "validate", help="check an instance file against the instance schema, without solving"
    )
    add_input(validate, options=False)

    convert = commands.add_parser("convert", help="write an instance as a JSON instance")
    add_input(convert)
    convert.add_argument("-o", "--output", required=True, metavar="OUT.json", help="file to write")

    from zelk.batch_command import add_parser as add_batch

    add_batch(commands)
    return parser


# --------------------------------------------------------------------------- input


STDIN_LABEL = "<stdin>"
#: The most bytes read from standard input: room for a JSON instance of the node limit
#: with a full matrix in text, far below what an endless stream would fill.
STDIN_LIMIT = 1 << 30


def _read_bounded(stream: Any, limit: int) -> bytes | bytearray:
    """What ``stream`` holds, refused once it passes ``limit`` bytes (standard input
    may be ``/dev/zero``)."""
    if stream is None:
        return b""
    # One growing buffer: a list of chunks joined at the end would hold the text twice.
    data = bytearray()
    while True:
        chunk = stream.read(min(1 << 24, limit + 1 - len(data)))
        if not chunk:
            return data
        data += chunk
        if len(data) > limit:
            raise ValueError(
                f"{STDIN_LABEL}: more than {limit >> 20} MB on standard input; "
                "give a file instead"
            )


def _load_stdin(args: argparse.Namespace) -> dict[str, Any]:
    """The instance on standard input, read as :func:`zelk.load_instance` reads a file:
    JSON as strict UTF-8 (a bad byte is named with its offset), TSPLIB and Solomon
    text for its numbers."""
    data = _read_bounded(sys.stdin.buffer if sys.stdin is not None else None, STDIN_LIMIT)
    return instance_from_bytes(
        data,
        STDIN_LABEL,
        fmt=args.format,
        agents=args.agents,
        depot=args.depot,
        distances=args.distances,
        computed_distances=True,
    )


def _load(args: argparse.Namespace) -> dict[str, Any]:
    if args.instance == "-":
        instance = _load_stdin(args)
    else:
        instance = load_instance(
            args.instance,
            fmt=args.format,
            agents=args.agents,
            depot=args.depot,
            distances=args.distances,
            computed_distances=True,
        )
    if not hasattr(args, "objective"):
        return instance
    return apply_options(
        instance, objective=args.objective, open_routes=args.open, time_limit=args.time_limit
    )


def _check_output(path: str, what: str) -> None:
    """Refuses an output path that cannot be written, before any solving."""
    target = Path(path)
    parent = target.parent
    if target.is_dir():
        raise ValueError(f"{what} {path}: is a directory")
    if not parent.is_dir():
        raise ValueError(f"{what} {path}: no directory {str(parent)!r}")
    if not os.access(parent, os.W_OK) or (target.exists() and not os.access(target, os.W_OK)):
        raise ValueError(f"{what} {path}: cannot be written")


def _check_plot(path: str) -> None:
    try:
        from matplotlib.figure import Figure
    except ImportError:
        raise ValueError("--plot needs matplotlib: pip install 'zelk[plot]'") from None
    _check_output(path, "--plot")
    formats = Figure().canvas.get_supported_filetypes()
    suffix = Path(path).suffix.lstrip(".").lower()
    if suffix not in formats:
        raise ValueError(
            f"--plot {path}: unknown picture type {suffix!r} (one of {', '.join(sorted(formats))})"
        )


# --------------------------------------------------------------------------- commands


class _ClosedStdout(Exception):
    """Standard output is closed or its reader went away."""


def _print(text: str) -> None:
    if sys.stdout is None:
        raise _ClosedStdout
    try:
        sys.stdout.write(text + "\n")
        sys.stdout.flush()
    except (BrokenPipeError, ValueError, OSError):
        raise _ClosedStdout from None


def _solve(args: argparse.Namespace, instance: dict[str, Any]) -> int:
    if args.out:
        _check_output(args.out, "--out")
        if args.out.endswith(".sol"):
            from zelk.vrplib_format import _vrplib

            _vrplib()  # refused before solving when the package is missing
    if args.plot:
        _check_plot(args.plot)
    from zelk.instance import Instance

    # Loaded and checked once: the solve and the checker read this Instance.
    typed = Instance.from_prepared(instance)
    objective = objective_of(instance)
    limit = instance["options"].get("time_limit")
    budget = float(limit) if isinstance(limit, (int, float)) and limit > 0 else 60.0
    keywords = engine_keywords(args)
    progress_stream = _terminal_stderr() if not args.quiet else None
    with _terminate_as_interrupt():
        if progress_stream is not None:
            clock = keywords["clock"]
            with progress_stream, Progress(progress_stream, objective, budget, clock) as progress:
                solution = solve(typed, on_solution=progress.on_solution, **keywords)
        else:
            solution = solve(typed, **keywords)

    # What happened to the solve decides the status; the writes below cannot change it.
    lines: list[str] = []
    if solution.status == "interrupted":
        status = EXIT_INTERRUPTED
    elif solution.status == "infeasible":
        # The table names each unserved target; the plan is checked all the same.
        status = EXIT_INFEASIBLE
    elif not solution.found:
        status = EXIT_NO_SOLUTION
        if args.check:
            lines.append("check: no solution to check")
    else:
        status = EXIT_OK
    if args.check and solution.found and solution.status != "interrupted":
        problems = check_solution(typed, solution)
        lines += [f"check: {problem}" for problem in problems]
        if problems:
            lines.append(f"check: FAILED ({len(problems)} problems)")
            status = EXIT_CHECK_FAILED
        else:
            lines.append("check: solution is valid")

    # The file first: it is written even when standard output is gone.
    if args.out:
        _write_out(args.out, instance, solution)
    if args.plot and solution.found:
        from zelk.plot import plot_solution

        plot_solution(instance, solution, args.plot)
    if args.json:
        _emit(solution.to_json(indent=2), 1)
        _emit(closing_line(solution), 2)
    else:
        _emit(format_table(instance, solution, schedule=args.schedule), 1)
    for line in lines:
        _emit(line, 2)
    return status


def _emit(text: str, fd: int) -> None:
    """Writes a line to standard output (fd 1) or error (fd 2); a reader that went
    away is no failure of the solve, and later writes to that stream go nowhere."""
    stream = sys.stdout if fd == 1 else sys.stderr
    if stream is None:
        return
    try:
        stream.write(text + "\n")
        stream.flush()
    except (BrokenPipeError, ValueError, OSError):
        # Keeps the interpreter's own flush at exit from failing too.
        with contextlib.suppress(OSError):
            devnull = os.open(os.devnull, os.O_WRONLY)
            os.dup2(devnull, fd)
            os.close(devnull)


@contextlib.contextmanager
def _terminate_as_interrupt() -> Iterator[None]:
    """SIGTERM stops the solve as the first Ctrl-C does: the best solution is kept,
    printed and written. Only in the main thread, where signal handlers live."""
    if threading.current_thread() is not threading.main_thread():
        yield
        return

    def interrupt(signum: int, frame: Any) -> None:
        signal.raise_signal(signal.SIGINT)

    previous = signal.signal(signal.SIGTERM, interrupt)
    try:
        yield
    finally:
        signal.signal(signal.SIGTERM, previous)


def _write_out(path: str, instance: dict[str, Any], solution: Solution) -> None:
    if path.endswith(".sol"):
        from zelk.vrplib_format import write_vrplib_solution

        write_vrplib_solution(path, instance, solution)
    else:
        Path(path).write_text(solution.to_json(indent=2) + "\n", encoding="utf-8")


def _report_check(instance: dict[str, Any], solution: Solution) -> bool:
    """Prints the checker's verdict on stderr; True when the solution is valid."""
    problems = check_solution(instance, solution)
    for problem in problems:
        print(f"check: {problem}", file=sys.stderr)
    if problems:
        print(f"check: FAILED ({len(problems)} problems)", file=sys.stderr)
    else:
        print("check: solution is valid", file=sys.stderr)
    return not problems


def _terminal_stderr() -> TextIO | None:
    # The solve keeps the core's lines off descriptor 2 while it runs; the progress line
    # goes to a descriptor of its own on the same terminal.
    if sys.stderr is None or not sys.stderr.isatty():
        return None
    try:
        return os.fdopen(os.dup(2), "w", buffering=1)
    except OSError:
        return None


def _validate(args: argparse.Namespace, instance: dict[str, Any]) -> int:
    types = sorted({str(agent["type"]) for agent in instance["agents"]})
    _print(
        f"{_label(args)}: valid instance: {len(instance['nodes'])} nodes, "
        f"{len(instance['agents'])} agents, agent types {', '.join(types)}"
    )
    reasons = precheck_reasons(instance, prepared=True)
    if reasons:
        rows = [("node", "reason", "why")]
        rows += [(str(r["node"]), str(r["reason"]), str(r["message"])) for r in reasons]
        _print(f"{len(reasons)} required targets no plan can serve:")
        _print("\n".join(line.rstrip() for line in _columns(rows, 2)))
    return EXIT_OK


def _show_warning(message: Any, category: Any, *rest: Any, **kw: Any) -> None:
    print(f"zelk: warning: {message}", file=sys.stderr)


def main(argv: Sequence[str] | None = None) -> int:
    """Runs the command line ``argv`` (default ``sys.argv[1:]``); returns the exit status."""
    args = _parser().parse_args(argv)
    with warnings.catch_warnings():
        warnings.simplefilter("always")
        warnings.showwarning = _show_warning
        if args.command == "batch":
            from zelk.batch_command import run as run_batch

            return run_batch(args)
        return _run(args)


def _run(args: argparse.Namespace) -> int:
    try:
        if sys.stdout is None and args.command != "convert":
            raise _ClosedStdout
        instance = _load(args)
        if args.command == "validate":
            return _validate(args, instance)
        if args.command == "convert":
            with open(args.output, "w", encoding="utf-8") as handle:
                # Distances computed when read are written out in full.
                json.dump(instance, handle, default=lambda value: value.tolist())
                handle.write("\n")
            return EXIT_OK
        return _solve(args, instance)
    except _ClosedStdout:
        # Nothing more can be printed; stop quietly, and keep the interpreter's own
        # flush at exit from failing too.
        with contextlib.suppress(OSError):
            devnull = os.open(os.devnull, os.O_WRONLY)
            os.dup2(devnull, 1)
        print("zelk: error: standard output is closed", file=sys.stderr)
        return EXIT_USAGE
    except KeyboardInterrupt:
        print("zelk: interrupted", file=sys.stderr)
        return EXIT_INTERRUPTED
    except InstanceError as error:
        for problem in error.problems:
            print(f"zelk: error: {_label(args)}: {problem}", file=sys.stderr)
        return EXIT_USAGE
    except (OSError, ValueError, KeyError, RuntimeError, IndexError, MemoryError) as error:
        # FormatError is a ValueError; RuntimeError and IndexError come from the core's
        # reading of the instance.
        _emit(f"zelk: error: {error_text(error)}", 2)
        return EXIT_USAGE


def error_text(error: BaseException) -> str:
    """What to tell about ``error``: never an empty line (a MemoryError has no text)."""
    if isinstance(error, MemoryError):
        return f"out of memory{': ' + str(error) if str(error) else ''} (try --memory-limit)"
    if isinstance(error, KeyError):
        return f"missing key {error}"
    return str(error) or type(error).__name__


def _label(args: argparse.Namespace) -> str:
    return STDIN_LABEL if args.instance == "-" else args.instance
