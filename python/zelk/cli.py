"""The ``zelk`` command: solve or convert an instance file.

``zelk solve INSTANCE`` reads a JSON instance, a TSPLIB file or a Solomon file, solves
it and prints a short table (or the result dictionary with ``--json``); ``zelk convert
INSTANCE -o OUT.json`` writes any supported input as a JSON instance.

Exit status: 0 solved (and, with ``--check``, the solution is valid); 1 the search found
no solution; 2 the command line or the input is wrong; 3 ``--check`` found problems;
130 interrupted.
"""

from __future__ import annotations

import argparse
import contextlib
import ctypes
import json
import os
import signal
import sys
import time
from collections.abc import Iterator, Sequence
from typing import Any, TextIO

from _zelk_core import solve_json_str

from zelk.check import check_solution
from zelk.formats import DISTANCE_MODES, FormatError, apply_options, load_instance

__all__ = ["main", "stdout_to_stderr"]

EXIT_OK = 0
EXIT_NO_SOLUTION = 1
EXIT_USAGE = 2
EXIT_CHECK_FAILED = 3
EXIT_INTERRUPTED = 130


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
    """Elapsed time and each improving solution, on a terminal's stderr.

    The search holds the interpreter for its whole run, so no thread can draw; instead
    an interval timer raises SIGALRM, whose handler runs whenever the search polls for
    signals (the same poll that notices Ctrl-C) and redraws the status line.
    """

    def __init__(self, stream: TextIO, objective: str) -> None:
        self._stream = stream
        self._min_sum = objective != "min_max"
        self._start = time.monotonic()
        self._best: tuple[float, float] | None = None
        self._old_handler: Any = None

    def __enter__(self) -> Progress:
        self._start = time.monotonic()
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
        return time.monotonic() - self._start

    def _draw(self) -> None:
        line = f"  searching {self._elapsed():6.1f} s"
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


def _format_table(instance: dict[str, Any], result: dict[str, Any]) -> str:
    nodes = instance["nodes"]
    ids = [str(node["id"]) for node in nodes]
    lines = []
    options = instance.get("options", {})
    objective = "min-max" if options.get("objective") in ("min_max", "MIN_MAX") else "min-sum"
    name = instance.get("name") or "instance"
    lines.append(f"{name}: {len(nodes)} nodes, {len(instance['agents'])} agents, {objective}")
    if result["status"] != "success":
        lines.append("no solution found" + (" (time ran out)" if result["timeout"] else ""))
        return "\n".join(lines)
    rows = [("agent", "cost", "route (node ids)")]
    for route in result["routes"]:
        path = " ".join(ids[v] if 0 <= v < len(ids) else f"?{v}" for v in route["path"])
        rows.append((str(route["agent_id"]), f"{route['cost']:.2f}", path or "-"))
    width_agent = max(len(r[0]) for r in rows)
    width_cost = max(len(r[1]) for r in rows)
    for agent, cost, path in rows:
        lines.append(f"{agent:>{width_agent}}  {cost:>{width_cost}}  {path}")
    stats = result["statistics"]
    lines.append(f"max {stats['max_cost']:.2f}  sum {stats['sum_cost']:.2f}")
    lines.append(
        f"best found at {stats['last_update_time']:.2f} s processor time; "
        f"search took {stats['solve_time']:.2f} s; "
        f"time ran out: {'yes' if result['timeout'] else 'no'}"
    )
    return "\n".join(lines)


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="zelk",
        description="Multiple-travelling-salesman solver: solve or convert instance files "
        "(JSON instances, TSPLIB .tsp files, Solomon time-window files).",
    )
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")

    def add_input(sub: argparse.ArgumentParser) -> None:
        sub.add_argument("instance", metavar="INSTANCE", help="JSON, TSPLIB or Solomon file")
        sub.add_argument(
            "--format",
            choices=("json", "tsplib", "solomon"),
            help="input format (default: recognised from the content)",
        )
        sub.add_argument(
            "--agents", type=int, metavar="M",
            help="TSPLIB/Solomon: number of agents (default 1; Solomon: the file's vehicle number)",
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
        sub.add_argument(
            "--objective", choices=("min-max", "min-sum"),
            help="longest route or sum of routes "
            "(default: the instance's; converted files: min-max)",
        )  # fmt: skip
        sub.add_argument(
            "--open", action="store_true", help="agents need not return to their end node"
        )
        sub.add_argument(
            "--time-limit", type=float, metavar="S",
            help="search budget in processor seconds (default: the instance's, else 60)",
        )  # fmt: skip

    solve = commands.add_parser("solve", help="solve an instance and print the routes")
    add_input(solve)
    solve.add_argument("--json", action="store_true", help="print the result dictionary as JSON")
    solve.add_argument("--out", metavar="FILE", help="write the result dictionary as JSON to FILE")
    solve.add_argument("--plot", metavar="FILE.png", help="draw the routes (needs matplotlib)")
    solve.add_argument("--check", action="store_true", help="verify the solution independently")
    solve.add_argument("--quiet", action="store_true", help="no progress display")

    convert = commands.add_parser("convert", help="write an instance as a JSON instance")
    add_input(convert)
    convert.add_argument("-o", "--output", required=True, metavar="OUT.json", help="file to write")
    return parser


def _load(args: argparse.Namespace) -> dict[str, Any]:
    instance = load_instance(
        args.instance,
        fmt=args.format,
        agents=args.agents,
        depot=args.depot,
        distances=args.distances,
    )
    return apply_options(
        instance, objective=args.objective, open_routes=args.open, time_limit=args.time_limit
    )


def _solve(args: argparse.Namespace, instance: dict[str, Any]) -> int:
    if args.plot:
        try:
            import matplotlib  # noqa: F401
        except ImportError:
            print("zelk: error: --plot needs matplotlib: pip install 'zelk[plot]'", file=sys.stderr)
            return EXIT_USAGE
    objective = instance.get("options", {}).get("objective", "min_sum")
    objective = "min_max" if objective in ("min_max", "MIN_MAX") else "min_sum"
    text = json.dumps(instance)
    time_limit = args.time_limit if args.time_limit is not None else -1.0
    show_progress = not args.quiet and sys.stderr.isatty()
    # Stdout carries only what this command prints: the core's diagnostic lines go to
    # stderr during the solve, whatever the output format.
    with stdout_to_stderr():
        if show_progress:
            with Progress(sys.stderr, objective) as progress:
                result = solve_json_str(text, time_limit, on_solution=progress.on_solution)
        else:
            result = solve_json_str(text, time_limit)

    if args.json:
        json.dump(result, sys.stdout, indent=2)
        sys.stdout.write("\n")
    else:
        print(_format_table(instance, result))
    sys.stdout.flush()
    if args.out:
        with open(args.out, "w", encoding="utf-8") as handle:
            json.dump(result, handle, indent=2)
            handle.write("\n")
    if args.plot and result["status"] == "success":
        from zelk.plot import plot_solution

        plot_solution(instance, result, args.plot)

    if result["status"] != "success":
        if args.check:
            print("check: no solution to check", file=sys.stderr)
        return EXIT_NO_SOLUTION
    if args.check:
        problems = check_solution(instance, result)
        for problem in problems:
            print(f"check: {problem}", file=sys.stderr)
        if problems:
            print(f"check: FAILED ({len(problems)} problems)", file=sys.stderr)
            return EXIT_CHECK_FAILED
        print("check: solution is valid", file=sys.stderr)
    return EXIT_OK


def main(argv: Sequence[str] | None = None) -> int:
    """Runs the command line ``argv`` (default ``sys.argv[1:]``); returns the exit status."""
    args = _parser().parse_args(argv)
    try:
        instance = _load(args)
        if args.command == "convert":
            with open(args.output, "w", encoding="utf-8") as handle:
                json.dump(instance, handle)
                handle.write("\n")
            return EXIT_OK
        return _solve(args, instance)
    except KeyboardInterrupt:
        print("zelk: interrupted", file=sys.stderr)
        return EXIT_INTERRUPTED
    except (OSError, ValueError, KeyError, RuntimeError, IndexError) as error:
        # FormatError is a ValueError; RuntimeError and IndexError come from the core's
        # reading of the instance.
        text = str(error) if not isinstance(error, KeyError) else f"missing key {error}"
        # A fault inside a file names the file, so the message says where to look.
        if isinstance(error, FormatError) and not text.startswith(str(args.instance)):
            text = f"{args.instance}: {text}"
        print(f"zelk: error: {text}", file=sys.stderr)
        return EXIT_USAGE
