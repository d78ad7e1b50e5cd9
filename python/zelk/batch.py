"""Solving many instances at once: :func:`solve_many` over a local process pool or any
:class:`concurrent.futures.Executor` (a Dask cluster's among them), and the
``zelk batch`` command built on it.

Only plain data crosses to the workers: an instance travels as its JSON dict or as the
path of its file (read by the worker, so on a cluster every worker must see the file at
that path), the solve's keywords as they are, and the result comes back as
:meth:`Solution.to_dict`. A solve that fails, or whose worker dies, gives a Solution
with status ``"error"`` and the reason in ``error``; the other instances go on.
"""

from __future__ import annotations

import concurrent.futures as cf
import contextlib
import ctypes
import inspect
import os
import signal
from collections import Counter
from collections.abc import Iterable, Iterator, Mapping
from pathlib import Path
from typing import Any

from _zelk_core import Problem

from zelk.interrupt import stop_on_interrupt
from zelk.solution import Solution, Statistics, objective_of
from zelk.solving import solve

__all__ = ["default_workers", "failed_solution", "solve_each", "solve_many"]

#: What an instance whose worker died says, once it died alone in a fresh pool too.
WORKER_DIED = "the worker process died while solving this instance (killed, or out of memory?)"

# Keywords of zelk.solve that solve_many passes on.
_SOLVE_KEYWORDS = frozenset(inspect.signature(solve).parameters) - {"instance"}
# The same instance breaking this many pools is run alone next, to find the culprit.
_RUN_ALONE_AFTER = 2


def default_workers() -> int:
    """The cores this process may run on: the size of the default pool."""
    try:
        return max(1, len(os.sched_getaffinity(0)))
    except AttributeError:  # pragma: no cover - platforms without affinity masks
        return max(1, os.cpu_count() or 1)


def failed_solution(message: str, objective: str = "min_sum") -> Solution:
    """The Solution of an instance whose solve failed: status ``"error"``, no routes,
    ``error`` = ``message``."""
    return Solution(
        status="error",
        objective=objective,
        objective_value=None,
        max_cost=None,
        sum_cost=None,
        timeout=False,
        routes=(),
        anytime=(),
        statistics=Statistics(0.0, 0.0, 0.0, 0, 0, 0.0),
        error=message,
    )


def _objective(instance: Any, options: Mapping[str, Any]) -> str:
    named = options.get("objective")
    if named in ("min_max", "min-max", "min_sum", "min-sum"):
        return str(named).replace("-", "_")
    if isinstance(instance, Mapping):
        return objective_of(instance)
    return str(getattr(instance, "objective", "min_sum"))  # a zelk.Instance, or a path


def solve_instance(
    instance: Any,
    options: Mapping[str, Any],
    load: Mapping[str, Any] | None = None,
) -> dict[str, Any]:
    """Runs in a worker: solves one instance and returns the Solution's dictionary,
    that of a failed Solution when the solve raised. ``load`` holds the keywords of
    :func:`zelk.load_instance` for a path (format, TSPLIB and Solomon files' agents,
    depot, distances), and may add ``open`` (open routes)."""
    settings = dict(load or {})
    open_routes = bool(settings.pop("open", False))
    try:
        if isinstance(instance, str) and (settings or open_routes):
            from zelk.formats import apply_options, load_instance
            from zelk.instance import Instance

            # Checked by load_instance: read once, not checked again by the solve.
            instance = Instance.from_prepared(
                apply_options(load_instance(instance, **settings), open_routes=open_routes)
            )
        elif open_routes and isinstance(instance, Mapping):
            instance = {**instance, "options": {**(instance.get("options") or {}),
                                                "return_to_end": False}}  # fmt: skip
        elif open_routes and hasattr(instance, "return_to_end"):  # a zelk.Instance
            instance = instance.with_options(return_to_end=False)
        solution = solve(instance, **options)
    except Exception as error:  # noqa: BLE001 - reported in the instance's entry; the batch goes on
        text = f"{type(error).__name__}: {error}"
        return failed_solution(text, _objective(instance, options)).to_dict()
    return solution.to_dict()


_worker_interrupts = contextlib.ExitStack()  # a pool worker's lifelong Ctrl-C handling


_PR_SET_PDEATHSIG = 1  # from <linux/prctl.h>


def _die_with_parent(parent: int) -> None:
    """Has the kernel kill this worker when its parent dies, however it dies (kill -9
    included): nobody would read its result, and it would hold a core for nothing."""
    try:
        libc = ctypes.CDLL(None, use_errno=True)
        libc.prctl(_PR_SET_PDEATHSIG, signal.SIGKILL, 0, 0, 0)
    except (OSError, AttributeError):  # pragma: no cover - not Linux: no such call
        return
    if os.getppid() == parent:
        return
    # Started by a fork server, whose child this worker is: the server ends when the
    # pool's process does, and this worker with it. Unless that process is already gone.
    try:
        os.kill(parent, 0)
    except ProcessLookupError:
        os._exit(1)
    except PermissionError:  # pragma: no cover - the pid went to another user's process
        os._exit(1)


def _worker_init(parent: int) -> None:
    _die_with_parent(parent)
    # A Ctrl-C at the terminal reaches the workers too: the one running solve stops
    # with its best solution, and an idle worker does not die with a traceback.
    _worker_interrupts.enter_context(stop_on_interrupt())


def _local_pool(workers: int) -> cf.ProcessPoolExecutor:
    # The platform's way of starting processes, as any ProcessPoolExecutor's (a program
    # picks another with multiprocessing.set_start_method).
    return cf.ProcessPoolExecutor(workers, initializer=_worker_init, initargs=(os.getpid(),))


def _stop_workers(pool: cf.ProcessPoolExecutor) -> None:
    """Ends the pool's processes at once: their solves will not be read."""
    processes = getattr(pool, "_processes", None) or {}
    for process in list(processes.values()):
        with contextlib.suppress(OSError, ValueError, AttributeError):
            process.kill()


class _Lost:
    """The worker process running the solve died (a broken pool)."""


_LOST = _Lost()


def _outcome(future: cf.Future, objective: str) -> Solution | _Lost:
    try:
        return Solution.from_dict(future.result())
    except cf.BrokenExecutor:
        return _LOST
    except cf.CancelledError:
        return failed_solution("cancelled before it ran", objective)
    except Exception as error:  # noqa: BLE001 - the executor's own failure (a lost Dask worker, ...)
        return failed_solution(f"{type(error).__name__}: {error}", objective)


def _run(
    executor: cf.Executor,
    jobs: Mapping[int, Any],
    options: Mapping[str, Any],
    load: Mapping[str, Any] | None,
    objectives: Mapping[int, str],
) -> Iterator[tuple[int, Solution | _Lost]]:
    futures = {executor.submit(solve_instance, jobs[i], options, load): i for i in jobs}
    try:
        for future in cf.as_completed(futures):
            index = futures[future]
            yield index, _outcome(future, objectives[index])
    finally:
        for future in futures:  # the caller stopped early: nothing more need start
            future.cancel()


def _on_local_pools(
    jobs: dict[int, Any],
    options: Mapping[str, Any],
    load: Mapping[str, Any] | None,
    objectives: Mapping[int, str],
    workers: int,
) -> Iterator[tuple[int, Solution]]:
    # A dead worker breaks the whole pool and fails every solve it had. Those are run
    # again in a fresh pool; one that was in two broken pools runs alone, and only an
    # instance that kills a pool of its own is reported as the culprit.
    losses: Counter[int] = Counter()
    while jobs:
        alone = [i for i in jobs if losses[i] >= _RUN_ALONE_AFTER]
        together = {i: jobs[i] for i in jobs if losses[i] < _RUN_ALONE_AFTER}
        groups = ([together] if together else []) + [{i: jobs[i]} for i in alone]
        for group in groups:
            pool = _local_pool(min(workers, len(group)))
            finished = False
            try:
                for index, outcome in _run(pool, group, options, load, objectives):
                    if isinstance(outcome, _Lost):
                        losses[index] += 1
                        if len(group) == 1:
                            del jobs[index]
                            yield index, failed_solution(WORKER_DIED, objectives[index])
                        continue
                    del jobs[index]
                    yield index, outcome
                finished = True
            finally:
                # Interrupted or abandoned: do not wait for solves nobody will read.
                if not finished:
                    _stop_workers(pool)
                pool.shutdown(wait=finished, cancel_futures=True)


def _job(instance: Any) -> Any:
    if isinstance(instance, Problem):
        raise TypeError(
            "solve_many takes JSON instance dicts or paths, not zelk.Problem: "
            "a Problem cannot travel to another process"
        )
    if isinstance(instance, (str, os.PathLike)):
        # Absolute, so a worker with another working directory finds the same file.
        return str(Path(instance).absolute())
    if isinstance(instance, Mapping):
        return instance
    from zelk.instance import Instance

    if isinstance(instance, Instance):
        return instance  # arrays pickle as they are
    raise TypeError(
        "solve_many takes zelk.Instance objects, JSON instance dicts or paths "
        f"(got {type(instance).__name__})"
    )


def solve_each(
    instances: Iterable[Mapping[str, Any] | str | os.PathLike[str]],
    *,
    executor: cf.Executor | None = None,
    workers: int | None = None,
    load: Mapping[str, Any] | None = None,
    **solve_options: Any,
) -> Iterator[tuple[int, Solution]]:
    """Yields ``(index, Solution)`` for every instance as its solve ends, in the order
    they end; the arguments are those of :func:`solve_many`. ``load`` holds keywords
    of :func:`zelk.load_instance` for the instances given as paths.

    Closing the generator early cancels the solves that have not started.
    """
    unknown = sorted(set(solve_options) - _SOLVE_KEYWORDS)
    if unknown:
        raise TypeError(f"solve_many got unknown solve options: {', '.join(unknown)}")
    if executor is not None and workers is not None:
        raise ValueError("workers sizes the default pool: give executor or workers, not both")
    if workers is not None and workers < 1:
        raise ValueError(f"workers must be >= 1 (got {workers!r})")
    jobs = {index: _job(instance) for index, instance in enumerate(instances)}
    if not jobs:
        return
    objectives = {index: _objective(job, solve_options) for index, job in jobs.items()}
    if executor is None:
        size = workers or default_workers()
        yield from _on_local_pools(jobs, solve_options, load, objectives, size)
        return
    for index, outcome in _run(executor, jobs, solve_options, load, objectives):
        # A broken pool of the caller's own cannot be replaced here.
        if isinstance(outcome, _Lost):
            outcome = failed_solution(WORKER_DIED, objectives[index])
        yield index, outcome


def solve_many(
    instances: Iterable[Mapping[str, Any] | str | os.PathLike[str]],
    *,
    executor: cf.Executor | None = None,
    workers: int | None = None,
    **solve_options: Any,
) -> list[Solution]:
    """Solves every instance with :func:`zelk.solve` and returns one Solution per
    instance, in the order given.

    Parameters
    ----------
    instances
        :class:`~zelk.Instance` objects, JSON instance dicts, or paths of JSON, TSPLIB
        or Solomon files (the worker reads the file). A :class:`~zelk.Problem` cannot
        travel to another process.
    executor
        Any :class:`concurrent.futures.Executor`; with Dask,
        ``distributed.Client(address).get_executor()`` runs the solves on that
        cluster. Default: a pool of local processes (one per core), replaced by a fresh
        one if a worker process dies, so that only the instance that killed it fails.
    workers
        The size of the default pool (default: every core this process may use).
    **solve_options
        Keywords of :func:`zelk.solve` (``time_limit``, ``objective``, ``seed``, ...),
        the same for every instance. They must pickle; callbacks run in the worker.

    A solve that raises (an invalid instance, a missing file) or whose worker dies
    gives a Solution with status ``"error"`` and the reason in ``error``; the other
    instances are solved as usual.

    Raises
    ------
    TypeError
        For an instance that is neither a dict nor a path, or an unknown keyword.
    """
    items = list(instances)
    solutions: list[Solution | None] = [None] * len(items)
    for index, solution in solve_each(items, executor=executor, workers=workers, **solve_options):
        solutions[index] = solution
    assert all(s is not None for s in solutions) and "solve_each yields every index once"
    return solutions  # type: ignore[return-value]
