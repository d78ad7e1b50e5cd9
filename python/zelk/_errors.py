"""Short argument errors for the compiled module's functions.

When no signature of a compiled function accepts the arguments, the binding layer's
TypeError lists the accepted signatures and then every argument's repr after "Invoked
with: ": a 10 MB instance text passed with a wrong-typed ``time_limit`` makes a 10 MB
message. :func:`short_argument_errors` wraps a function so that the part after "Invoked
with: " keeps only its first :data:`SHOWN_CHARACTERS` characters.
"""

from __future__ import annotations

import functools
from collections.abc import Callable
from typing import Any, TypeVar

F = TypeVar("F", bound=Callable[..., Any])

#: How much of the arguments' repr an argument error keeps.
SHOWN_CHARACTERS = 200

_INVOKED = "\nInvoked with: "


def shorten_argument_error(message: str) -> str | None:
    """``message`` with its "Invoked with: " part cut to :data:`SHOWN_CHARACTERS`
    characters; None when it is not a binding layer argument error or is short enough."""
    head, invoked, shown = message.partition(_INVOKED)
    if not invoked or "incompatible" not in head or len(shown) <= SHOWN_CHARACTERS:
        return None
    return f"{head}{invoked}{shown[:SHOWN_CHARACTERS]}... ({len(shown)} characters in all)"


def short_argument_errors(function: F) -> F:
    """``function`` with its argument errors shortened (see the module docstring); its
    name, docstring and everything else it does are unchanged."""

    @functools.wraps(function)
    def call(*args: Any, **kwargs: Any) -> Any:
        try:
            return function(*args, **kwargs)
        except TypeError as error:
            shortened = shorten_argument_error(str(error))
            if shortened is None:
                raise
        # Raised outside the handler, so the long original is not kept as the context.
        raise TypeError(shortened)

    return call  # type: ignore[return-value]


def short_method_errors(cls: type) -> None:
    """Shortens the argument errors of every method of the compiled class ``cls``, its
    constructor included, in place: ``Problem.set_cost_matrix`` given a 3,000-column
    matrix and a wrong-typed name would otherwise repeat the whole matrix."""
    for name, member in list(vars(cls).items()):
        if name.startswith("__") and name != "__init__":
            continue
        # The binding layer's methods; properties and static methods are left alone.
        if type(member).__name__ == "instancemethod":
            setattr(cls, name, short_argument_errors(member))
