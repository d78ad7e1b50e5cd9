""":func:`solve`, the one call for solving an instance, and what it runs around the core:
output kept quiet, Ctrl-C turned into "stop with the best solution", wall-clock budgets.
"""

from __future__ import annotations

import contextlib
import ctypes
import dataclasses
import gc
import math
import numbers
import os
import sys
import tempfile
import threading
import time
import warnings
from collections.abc import Callable, Iterator, Mapping
from typing import TYPE_CHECKING, Any

import _zelk_core
from _zelk_core import ObjectiveType, Options, Problem, Solver

from zelk.bounds import lower_bound
from zelk.fleet import focal_search_refusal, precheck_reasons
from zelk.formats import objective_name, positive_seconds
from zelk.interrupt import StopFlag, running, stop_on_interrupt
from zelk.solution import Route, Solution, from_result
from zelk.tables import default_memory_limit_mb, merge_equivalent_types, table_megabytes

if TYPE_CHECKING:
    from zelk.instance import Instance

__all__ = ["quiet_output", "solve"]

OnSolution = Callable[[float, float, float], object]

#: The budget when neither the call nor the instance gives one, in seconds.
DEFAULT_TIME_LIMIT = 60.0

_CLOCKS = ("process", "wall")
# The most nodes for which a solve computes the lower bound.
_BOUND_NODES = 1000
# The least budget handed to the core when preparing the call used up the rest.
_MIN_CORE_BUDGET = 1e-3
# Route costs are sums of doubles: a value this close to the bound meets it.
_BOUND_TOLERANCE = 1e-9
# A processor-time budget that never ends first, for the focal search run on a
# wall-clock budget that the stop check enforces.
_NO_BUDGET = 1e9
# What assembling the Solution after the core takes, per route and per node (measured
# 16 ms for 2,000 routes on 256 nodes, 25 ms for 1,000 routes on 10,000 nodes): the
# core stops that much before the call's deadline, since the budget covers the call.
_ASSEMBLY_PER_ROUTE = 1e-5
_ASSEMBLY_PER_NODE = 2e-6


# --------------------------------------------------------------------------- quiet


def _flush_c_streams() -> None:
    # The core writes through the C library's streams; what it left in their buffers
    # must reach the descriptor it was meant for before that descriptor moves.
    try:
        ctypes.CDLL(None).fflush(None)
    except (OSError, AttributeError):  # pragma: no cover - no C library to call
        pass


_quiet_lock = threading.Lock()
_quiet_depth = 0
_quiet_saved: dict[int, int | None] = {}
_quiet_capture: Any = None
_quiet_streams: dict[str, tuple[Any, Any]] = {}  # name -> (original, replacement)

#: Lines of the core worth passing on as Python warnings when its output is kept quiet.
_WARNING_PREFIXES = ("[warning] ",)
_MAX_WARNINGS = 20


def _forward_warnings(text: str) -> None:
    seen: set[str] = set()
    for line in text.splitlines():
        line = line.strip()
        important = line.startswith(_WARNING_PREFIXES) or "memory limit" in line
        if important and line not in seen and len(seen) < _MAX_WARNINGS:
            seen.add(line)
            warnings.warn(f"zelk core: {line}", RuntimeWarning, stacklevel=4)


def _reroute_python_streams() -> None:
    # Python's own streams keep reaching the terminal through the saved descriptors.
    for name, fd in (("stdout", 1), ("stderr", 2)):
        stream = getattr(sys, name)
        saved = _quiet_saved.get(fd)
        if stream is None or saved is None:
            continue
        try:
            if stream.fileno() != fd:
                continue
            replacement = open(  # noqa: SIM115 - closed in _restore_python_streams
                saved, "w", buffering=1, encoding=stream.encoding, errors=stream.errors,
                closefd=False,
            )  # fmt: skip
        except (AttributeError, OSError, ValueError):  # not a file of its own
            continue
        _quiet_streams[name] = (stream, replacement)
        setattr(sys, name, replacement)


def _restore_python_streams() -> None:
    for name, (original, replacement) in _quiet_streams.items():
        with contextlib.suppress(OSError, ValueError):
            replacement.flush()
        # A stream someone else put in place meanwhile stays.
        if getattr(sys, name) is replacement:
            setattr(sys, name, original)
        replacement.close()
    _quiet_streams.clear()


@contextlib.contextmanager
def quiet_output() -> Iterator[None]:
    """Keeps what the core prints (on file descriptors 1 and 2) off the caller's stdout
    and stderr while the block runs; its "[warning] " lines and any line about the
    memory limit come back afterwards as :class:`RuntimeWarning`.

    The descriptors belong to the whole process, so concurrent blocks share one
    redirection, restored when the last one ends. Meanwhile ``sys.stdout`` and
    ``sys.stderr`` (when they write to those descriptors) write to the real ones, so
    Python code in other threads still prints; only other writers of descriptors 1 and
    2 are held back with the core.
    """
    global _quiet_depth, _quiet_capture
    with _quiet_lock:
        if _quiet_depth == 0:
            for stream in (sys.stdout, sys.stderr):
                with contextlib.suppress(Exception):
                    stream.flush()
            _flush_c_streams()
            # Lives across calls: closed when the outermost quiet block ends.
            _quiet_capture = tempfile.TemporaryFile()  # noqa: SIM115
            for fd in (1, 2):
                try:
                    _quiet_saved[fd] = os.dup(fd)
                except OSError:  # closed: it is closed again afterwards
                    _quiet_saved[fd] = None
                os.dup2(_quiet_capture.fileno(), fd)
            _reroute_python_streams()
        _quiet_depth += 1
    try:
        yield
    finally:
        captured = ""
        with _quiet_lock:
            _quiet_depth -= 1
            if _quiet_depth == 0:
                _flush_c_streams()
                _restore_python_streams()
                for fd, saved in _quiet_saved.items():
                    if saved is None:
                        os.close(fd)
                    else:
                        os.dup2(saved, fd)
                        os.close(saved)
                _quiet_saved.clear()
                _quiet_capture.seek(0)
                captured = _quiet_capture.read().decode("utf-8", errors="replace")
                _quiet_capture.close()
                _quiet_capture = None
        if captured:
            _forward_warnings(captured)


# --------------------------------------------------------------------------- instance


def _instance_of(instance: Any) -> Instance:
    from zelk.instance import Instance

    if isinstance(instance, Instance):
        return instance
    if isinstance(instance, (str, os.PathLike)):
        return Instance.from_file(instance)
    if isinstance(instance, Mapping):
        # The warnings of reading it point at the caller of zelk.solve.
        return Instance.from_dict(instance, stacklevel=4)
    raise TypeError(
        "instance must be a zelk.Instance, a JSON instance dict, a path or a zelk.Problem "
        f"(got {type(instance).__name__})"
    )


def _budget(time_limit: float | None, instance_limit: Any) -> float:
    if time_limit is not None:
        return positive_seconds(time_limit, "time_limit")
    if (
        isinstance(instance_limit, (int, float))
        and not isinstance(instance_limit, bool)
        and instance_limit > 0
    ):
        return float(instance_limit)
    return DEFAULT_TIME_LIMIT


# --------------------------------------------------------------------------- solving


class _Stop:
    """The stop check handed to the core: Ctrl-C, a wall-clock deadline, the caller's
    own check, and the end of the main thread (the program is exiting)."""

    def __init__(
        self,
        flag: StopFlag,
        deadline: float | None,
        user: Any,
        proof: Any = None,
        clock: Callable[[], float] = time.monotonic,
        stall: float | None = None,
    ) -> None:
        self.flag = flag
        self.deadline = deadline
        self.user = user
        self.proof = proof
        self.clock = clock
        self.stall = stall
        self.last_improvement: float | None = None  # on `clock`; None before a solution
        self.deadline_passed = False
        self.stalled = False
        self.stopped_by_user = False
        self.proven = False
        self._main = threading.main_thread()

    def improved(self) -> None:
        """A better solution was found just now."""
        self.last_improvement = self.clock()

    def __call__(self) -> bool:
        if self.flag.is_set():
            return True
        if self.proof is not None and self.proof():
            # The best solution meets the lower bound: the rest of the budget cannot help.
            self.proven = True
            return True
        if self.deadline is not None or self.stall is not None:
            now = self.clock()
            if self.deadline is not None and now >= self.deadline:
                self.deadline_passed = True
                return True
            last = self.last_improvement
            if self.stall is not None and last is not None and now - last >= self.stall:
                self.stalled = True
                return True
        if self.user is not None:
            stop = self.user.is_set() if hasattr(self.user, "is_set") else self.user()
            if stop:
                self.stopped_by_user = True
                return True
        return not self._main.is_alive()

    @property
    def interrupted(self) -> bool:
        return self.flag.is_set() or self.stopped_by_user


def solve(
    instance: Instance | Mapping[str, Any] | str | os.PathLike[str] | Problem,
    *,
    time_limit: float | None = None,
    objective: str | None = None,
    improve: bool = True,
    seed: int = 0,
    on_solution: OnSolution | None = None,
    quiet: bool = True,
    clock: str = "wall",
    memory_limit_mb: float | None = None,
    should_stop: Callable[[], bool] | threading.Event | None = None,
    iteration_limit: int | None = None,
    stall_time: float | None = None,
    engine_params: Mapping[str, float | str] | None = None,
    threads: int = 1,
) -> Solution:
    """Solves an instance and returns its :class:`~zelk.Solution`.

    Parameters
    ----------
    instance
        A :class:`~zelk.Instance` (read as it is: the fast way for large instances), a
        JSON instance dict (as :func:`zelk.load_instance` gives), the path of a JSON
        instance, TSPLIB or Solomon file (each read into an Instance once), or a
        :class:`~zelk.Problem`.
    time_limit
        The budget in seconds; default the instance's ``"time_limit"``, else 60.
    objective
        ``"min_max"`` (longest route) or ``"min_sum"`` (sum of routes); default the
        instance's.
    improve
        Run the improvement engine after a brief search (default). False runs the
        focal search alone, as :func:`zelk.solve_json_str` does.
    seed
        The improvement engine's random seed: the same seed repeats a run.
    on_solution
        Called with ``(time, max_cost, sum_cost)`` once per entry of the Solution's
        ``anytime`` list, when it is found.
    quiet
        Keep the core's own lines off stdout and stderr (see :func:`quiet_output`).
    clock
        ``"wall"`` (default): the budget is wall-clock seconds of the whole call.
        ``"process"``: processor time of the solving thread (of the process, for the
        focal search alone), for measurements that a busy machine must not disturb.
        Either way the budget covers the whole call, reading the instance included.
    memory_limit_mb
        The search's memory limit in MB; default the core's.
    should_stop
        A callable or :class:`threading.Event` polled during the solve; when it says
        stop, the solve ends with its best solution and status "interrupted".
    iteration_limit
        With ``improve``: stop the engine after this many steps (or at the budget,
        whichever comes first), so that a run repeats exactly whatever the machine's load.
    stall_time
        Stop early, with the best solution, once this many seconds (on the budget's
        clock) pass after a solution without a better one.
    engine_params
        With ``improve``: the engine's tuning constants by name (temperatures, ruin sizes,
        local-search granularity, ...); :func:`zelk.engine_param_defaults` lists them with
        their defaults. Unknown names and values out of range raise ValueError.
        ``"strategy"`` chooses the search: ``"anneal"`` (ruin and recreate under
        simulated annealing), ``"population"`` (a population of local optima bred by
        order crossover, each child's tour cut optimally into routes) or ``"auto"``
        (the default: the population under min-sum, or with a single agent, on
        instances without loads, windows, service or optional targets, the annealing
        otherwise, as measured).
    threads
        With ``improve``: the engine runs this many walks side by side, one per thread,
        sharing the best solution (0: one per core). Under ``clock="process"`` the budget
        is the processor time of all of them together, so more threads finish sooner on
        the same work; under ``clock="wall"`` it is wall time, and more threads do more
        work in it. ``iteration_limit`` holds per thread; the same seed and iteration
        limit repeat a run with threads too.

    Ctrl-C during the call (in the main thread, or in any thread inside
    :func:`zelk.stop_on_interrupt`) stops the solve with its best solution and status
    "interrupted"; a second Ctrl-C raises :class:`KeyboardInterrupt`.

    Raises
    ------
    ValueError
        When the instance is not a valid instance (the message names the place), or an
        argument is out of range.
    """
    if clock not in _CLOCKS:
        raise ValueError(f"clock must be 'process' or 'wall' (got {clock!r})")
    started = _clock_of(clock)()
    if objective is not None:
        objective = objective_name(objective)
    _check_keywords(time_limit, improve, seed, quiet, memory_limit_mb, iteration_limit,
                    stall_time)  # fmt: skip
    if engine_params is not None and not improve:
        raise ValueError("engine_params applies to the improvement engine (improve=True)")
    if isinstance(threads, bool) or not isinstance(threads, int) or not 0 <= threads <= 1024:
        raise ValueError(f"threads must be a whole number from 0 (one per core) to 1024 (got {threads!r})")
    if threads != 1 and not improve:
        raise ValueError("threads applies to the improvement engine (improve=True)")
    settings = _Settings(improve, seed, on_solution, quiet, clock, memory_limit_mb,
                         should_stop, iteration_limit, stall_time, started,
                         None if engine_params is None else dict(engine_params),
                         threads)  # fmt: skip
    if isinstance(instance, Problem):
        return _solve_problem(instance, time_limit, objective, settings)

    with _collector_paused():
        typed = _instance_of(instance)
        if not improve:
            refusal = focal_search_refusal(typed.to_dict())
            if refusal is not None:
                raise ValueError(refusal)
        name = objective or typed.objective
        budget = _budget(time_limit, typed.time_limit)
        _check_tables(typed, memory_limit_mb)
        arrays, types, matrices, distances = typed.core_arrays()
        min_max = name == "min_max"
        # Above this size the bound costs a second of the budget and is never met.
        bound = None
        if typed.n <= _BOUND_NODES:
            # Interchangeable types as one, as the core reads them: 2,000 types that
            # travel alike cost the bound and the pre-check one table, not 2,000.
            data = merge_equivalent_types(typed.to_dict())
            if objective is not None:
                data = {**data, "options": {**data["options"], "objective": objective}}
            bound = lower_bound(data, name)
            if improve and bound is not None and precheck_reasons(data, prepared=True):
                # Targets no plan can serve count in the bound but not in any plan: the
                # bound would end the solve as soon as a plan for the others undercuts it.
                bound = None

    def run(keywords: dict[str, Any], core_budget: float) -> dict[str, Any]:
        # The arrays go to the core as they are: no node object and no JSON text.
        return _zelk_core.solve_arrays(
            arrays, types, core_budget, objective=name, return_to_end=typed.return_to_end,
            dimensions=typed.dimensions, scalar_loads=typed.scalar_loads,
            cost_matrices=matrices, distances=distances, **keywords,
        )  # fmt: skip

    reserve = _ASSEMBLY_PER_ROUTE * typed.m + _ASSEMBLY_PER_NODE * typed.n
    result, stop = _run(run, budget, settings, bound=bound, min_max=min_max, reserve=reserve)
    with _collector_paused():
        solution = from_result(
            result,
            typed,
            objective=name,
            interrupted=stop.interrupted,
            timeout=(bool(result.get("timeout")) or stop.deadline_passed) and not stop.proven,
        )
    return _with_bound(solution, bound)


@contextlib.contextmanager
def _collector_paused() -> Iterator[None]:
    """Pauses Python's cyclic garbage collector while an instance is copied and checked
    or a result read: what they build holds no cycles, and the collections that its
    allocations trigger walk every node again (a tenth of the call at 10,000 nodes). Not
    while the core runs, where the caller's callbacks may make garbage."""
    enabled = gc.isenabled()
    gc.disable()
    try:
        yield
    finally:
        if enabled:
            gc.enable()


def _check_tables(instance: Instance, memory_limit_mb: float | None) -> None:
    """Refuses an instance whose cost tables alone would pass the memory limit, before
    anything is built."""
    limit = default_memory_limit_mb() if memory_limit_mb is None else memory_limit_mb
    # The core counts a megabyte as 2**20 bytes.
    needed = table_megabytes(instance) / 1.048576
    if needed > limit:
        types = len(instance.core_arrays()[1])
        raise ValueError(
            f"the instance ({instance.n} nodes, {types} agent types with "
            f"matrices of their own) needs about {needed:.0f} MB for its cost tables, more "
            f"than the memory limit of {limit:.0f} MB; raise memory_limit_mb or use fewer "
            "agent types"
        )
def _with_bound(solution: Solution, bound: float | None) -> Solution:
    """The Solution with its lower bound; "optimal" when the bound meets its value."""
    if bound is None:
        return solution
    value = solution.objective_value
    proven = (
        solution.status == "solved"
        and value is not None
        and value <= bound + _BOUND_TOLERANCE * max(1.0, abs(bound))
    )
    return dataclasses.replace(
        solution, lower_bound=bound, status="optimal" if proven else solution.status
    )


def _clock_of(clock: str) -> Callable[[], float]:
    # The solving thread's processor time: the improvement engine runs on the caller's
    # thread and keeps this clock too.
    return time.monotonic if clock == "wall" else time.thread_time


def _check_flag(value: Any, name: str) -> None:
    # 'no' or 1 would pass as a flag; the core would coerce them silently.
    if value is not True and value is not False:
        raise ValueError(f"{name} must be True or False (got {_short(value)})")


def _check_whole(value: Any, name: str, bound: int) -> None:
    if isinstance(value, bool) or not isinstance(value, numbers.Integral) or not 0 <= int(value) < bound:
        raise ValueError(f"{name} must be a whole number >= 0 (got {_short(value)})")


def _check_keywords(
    time_limit: Any,
    improve: Any,
    seed: Any,
    quiet: Any,
    memory_limit_mb: Any,
    iteration_limit: Any,
    stall_time: Any,
) -> None:
    """Refuses what the core would coerce or choke on, naming the keyword."""
    _check_flag(improve, "improve")
    _check_flag(quiet, "quiet")
    _check_whole(seed, "seed", 2**64)
    if iteration_limit is not None:
        _check_whole(iteration_limit, "iteration_limit", 2**63)
    for value, name in ((time_limit, "time_limit"), (stall_time, "stall_time"),
                        (memory_limit_mb, "memory_limit_mb")):  # fmt: skip
        if value is not None:
            positive_seconds(value, name)


def _short(value: Any) -> str:
    text = repr(value)
    return text if len(text) <= 60 else text[:60] + "..."


@dataclasses.dataclass(frozen=True)
class _Settings:
    """How to run the core: the keywords of :func:`solve` beyond instance and budget."""

    improve: bool
    seed: int
    on_solution: OnSolution | None
    quiet: bool
    clock: str
    memory_limit_mb: float | None
    should_stop: Any
    iteration_limit: int | None
    stall_time: float | None
    started: float  # when the call began, on the budget's clock
    engine_params: dict[str, float | str] | None = None
    threads: int = 1


def _run(
    call: Callable[[dict[str, Any], float], Any],
    budget: float,
    settings: _Settings,
    *,
    bound: float | None = None,
    min_max: bool = False,
    reserve: float = 0.0,
) -> tuple[Any, _Stop]:
    # The budget covers the whole call: what preparing the instance took is gone, and
    # the stop check ends the core at the call's deadline whatever the core's own clock
    # says (the core's preparation is outside that clock). The focal search alone
    # measures processor time of the whole process, so there the check is the only
    # deadline of a wall budget.
    wall_by_check = settings.clock == "wall" and not settings.improve
    clock = _clock_of(settings.clock)
    # `reserve`: what the caller needs after the core to hand its answer back.
    deadline = settings.started + budget - min(reserve, budget / 2)
    remaining = max(_MIN_CORE_BUDGET, deadline - clock())
    # With a lower bound, the solve ends as soon as a solution meets it.
    best = [math.inf]
    proof = None
    if bound is not None:
        limit = bound + _BOUND_TOLERANCE * max(1.0, abs(bound))
        proof = lambda: best[0] <= limit
    stop = _Stop(StopFlag(), deadline, settings.should_stop, proof, clock, settings.stall_time)
    keywords: dict[str, Any] = {"should_stop": stop}
    user_report = settings.on_solution

    def report(time_: float, max_cost: float, sum_cost: float) -> None:
        score = max_cost if min_max else sum_cost
        if score < best[0]:
            stop.improved()
        best[0] = min(best[0], score)
        if user_report is not None:
            user_report(time_, max_cost, sum_cost)

    if bound is not None or user_report is not None or settings.stall_time is not None:

        keywords["on_solution"] = report
    if settings.improve:
        keywords.update(improve=True, seed=int(settings.seed), clock=settings.clock)
        if settings.iteration_limit is not None:
            keywords["iteration_limit"] = int(settings.iteration_limit)
        if settings.engine_params is not None:
            keywords["engine_params"] = settings.engine_params
        if settings.threads != 1:
            keywords["threads"] = settings.threads
    if settings.memory_limit_mb is not None:
        keywords["memory_limit_mb"] = float(settings.memory_limit_mb)
    core_budget = _NO_BUDGET if wall_by_check else remaining
    with contextlib.ExitStack() as stack:
        stack.enter_context(stop_on_interrupt())
        stack.enter_context(running(stop.flag))
        if settings.quiet:
            stack.enter_context(quiet_output())
        result = call(keywords, core_budget)
    return result, stop


def _solve_problem(
    problem: Problem, time_limit: float | None, objective: str | None, settings: _Settings
) -> Solution:
    # What the JSON layer refuses, every path refuses: a negative cost makes the focal
    # search report no solution on a feasible instance, -inf an objective of -inf.
    _zelk_core.check_costs(problem)
    # A copy of the options: the ones set for this call stay out of the caller's Problem.
    given = problem.options()
    options = Options()
    options.return_to_end = given.return_to_end
    options.objective = given.objective
    if objective is not None:
        is_max = objective == "min_max"
        options.objective = ObjectiveType.MinMax if is_max else ObjectiveType.MinSum
    budget = _budget(time_limit, given.time_limit)
    name = "min_max" if options.objective == ObjectiveType.MinMax else "min_sum"

    def run(keywords: dict[str, Any], core_budget: float) -> Solver:
        options.time_limit = core_budget
        solver = Solver(problem, options)
        started = time.perf_counter()
        solver.solve(**keywords)
        run.solve_time = time.perf_counter() - started  # type: ignore[attr-defined]
        return solver

    solver, stop = _run(run, budget, settings)
    result = _solver_dict(solver, problem, name, run.solve_time)  # type: ignore[attr-defined]
    nodes = problem.nodes()
    agents = problem.agents_ordered()
    routes = tuple(
        Route(
            agent_id=route["agent_id"],
            agent_type=agent.type,
            path=tuple(route["path"]),
            nodes=tuple(nodes[v].id for v in route["path"]),
            cost=route["cost"],
            returns=options.return_to_end,
        )
        for agent, route in zip(agents, result["routes"])
    )
    from zelk.solution import _assemble

    return _assemble(
        result,
        routes,
        name,
        stop.interrupted,
        bool(result["timeout"]) or stop.deadline_passed,
    )


def _solver_dict(solver: Solver, problem: Problem, objective: str, solve_time: float) -> dict:
    """The result dictionary of a Solver, as the JSON entry points build it."""
    outcome = solver.get_result()
    routes = []
    for k, agent in enumerate(problem.agents_ordered()):
        routes.append(
            {
                "agent_id": agent.id,
                "path": list(outcome.paths.get(k, [])),
                "cost": float(outcome.times.get(k, 0.0)),
            }
        )
    costs = [float(outcome.times.get(k, 0.0)) for k in range(len(routes))]
    anytime = []
    best = 1e18
    # Only strictly improving solutions, as the JSON entry points list them.
    for stamp, snapshot in solver.get_result_process():
        values = list(snapshot.times.values())
        total, longest = sum(values), max(values, default=0.0)
        score = longest if objective == "min_max" else total
        if score < best - 1e-9:
            anytime.append({"time": stamp, "max_cost": longest, "sum_cost": total})
            best = score
    return {
        "status": "success" if outcome.paths else "failed",
        "timeout": outcome.timeout,
        "routes": routes,
        "statistics": {
            "solve_time": solve_time,
            "max_cost": max(costs, default=0.0),
            "sum_cost": sum(costs),
            "n_generated": outcome.n_generated,
            "n_expanded": outcome.n_expanded,
            "last_update_time": outcome.last_update_time,
        },
        "anytime": anytime,
    }
