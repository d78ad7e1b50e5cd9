"""Ctrl-C as "stop now and keep the best solution" for solves in any thread.

Inside :func:`stop_on_interrupt` (which :func:`zelk.solve` enters by itself when it runs
in the main thread), the first Ctrl-C sets the stop flag of every running solve, and of
every solve started later in the block; each ends as if its budget had run out and
returns its best solution with status "interrupted". A second Ctrl-C raises
:class:`KeyboardInterrupt` in the main thread as usual.

Only the main thread can set a signal handler, so a program that runs solves in worker
threads enters the block in its main thread around the waiting:

>>> with zelk.stop_on_interrupt():              # doctest: +SKIP
...     solutions = list(pool.map(zelk.solve, instances))

A handler of the program's own is left in place: the block changes only Python's
default handler.
"""

from __future__ import annotations

import contextlib
import signal
import threading
from collections.abc import Iterator
from typing import Any

__all__ = ["StopFlag", "stop_on_interrupt"]

# Re-entrant: the handler runs in the main thread, possibly while that thread holds it.
_lock = threading.RLock()
_running: set[StopFlag] = set()
_depth = 0  # nesting of stop_on_interrupt blocks in the main thread
_previous: Any = None  # the handler the outermost block replaced
_presses = 0  # Ctrl-C presses since the outermost block began


class StopFlag:
    """A solve's stop flag: set by Ctrl-C (through :func:`stop_on_interrupt`)."""

    def __init__(self) -> None:
        self._event = threading.Event()

    def set(self) -> None:
        self._event.set()

    def is_set(self) -> bool:
        return self._event.is_set()


def _on_sigint(signum: int, frame: object) -> None:
    global _presses
    _presses += 1
    if _presses > 1:
        raise KeyboardInterrupt
    with _lock:
        flags = list(_running)
    for flag in flags:
        flag.set()


@contextlib.contextmanager
def running(flag: StopFlag) -> Iterator[StopFlag]:
    """Registers ``flag`` as a running solve's for the block; a Ctrl-C already pressed
    in the enclosing :func:`stop_on_interrupt` block sets it at once."""
    with _lock:
        _running.add(flag)
        if _presses > 0:
            flag.set()
    try:
        yield flag
    finally:
        with _lock:
            _running.discard(flag)


@contextlib.contextmanager
def stop_on_interrupt() -> Iterator[None]:
    """Within the block, Ctrl-C stops every running :func:`zelk.solve` with its best
    solution; a second Ctrl-C raises KeyboardInterrupt.

    Does nothing outside the main thread or when the program has a SIGINT handler of
    its own. Blocks nest.
    """
    global _depth, _previous, _presses
    if threading.current_thread() is not threading.main_thread():
        yield
        return
    installed = False
    if _depth == 0:
        if signal.getsignal(signal.SIGINT) is not signal.default_int_handler:
            yield
            return
        _previous = signal.signal(signal.SIGINT, _on_sigint)
        _presses = 0
        installed = True
    _depth += 1
    try:
        yield
    finally:
        _depth -= 1
        if installed:
            signal.signal(signal.SIGINT, _previous)
            _previous = None


def presses() -> int:
    """Ctrl-C presses seen by the current :func:`stop_on_interrupt` block."""
    return _presses
