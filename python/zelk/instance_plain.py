"""The commonest large instance read straight into arrays: nodes of only an id,
coordinates and a role, agents of only an id, a type and their start and end, no
matrices and no constraints. Checking such a dict node by node, completing it and then
reading it into arrays passed over every node about ten times (0.04 s on 10,000 nodes,
most of a 0.1 s budget); here each column is read once, at C speed where Python has it.

Anything else, and any fault at all, is left to the full reading, which names every
place: this path only ever answers for instances it finds valid."""

from __future__ import annotations

from operator import itemgetter
from typing import TYPE_CHECKING, Any

import numpy as np

from zelk.schema import (
    _KNOWN_KEYS,
    _PLAIN_NODE_KEYS,
    InstanceError,
    _canonical_objective,
    _plain_agent,
    warn_no_matrix,
)

if TYPE_CHECKING:
    from zelk.instance import Instance

_TOP_KEYS = frozenset({"name", "nodes", "agents", "options"})
_OPTION_KEYS = frozenset(_KNOWN_KEYS["options"])
_ROLES = frozenset({"DEPOT", "TARGET"})
_NUMBERS = frozenset({int, float})
_OBJECTIVES = frozenset({"min_max", "min_sum", "MIN_MAX", "MIN_SUM"})


def read_plain(instance: Any, *, source: str | None, stacklevel: int) -> Instance | None:
    """The Instance of ``instance`` when it is of the plain kind and valid; None for
    every other instance (the caller then reads it the full way)."""
    if type(instance) is not dict or not instance.keys() <= _TOP_KEYS:
        return None
    nodes, agents = instance.get("nodes"), instance.get("agents")
    if type(nodes) is not list or type(agents) is not list or len(nodes) < 2 or not agents:
        return None
    options = instance.get("options", {})
    if type(options) is not dict or not options.keys() <= _OPTION_KEYS:
        return None
    columns = _node_columns(nodes)
    if columns is None or not all(map(_plain_agent, agents)):
        return None
    # The options and the name by hand: the schema validator's first use costs about
    # 0.1 s in a process, more than reading 10,000 plain nodes.
    options = _canonical_objective({"options": options})["options"]
    if not (
        type(options.get("objective", "min_sum")) is str
        and options.get("objective", "min_sum") in _OBJECTIVES
        and type(options.get("return_to_end", True)) is bool
        and type(options.get("time_limit", 1.0)) in _NUMBERS
        and type(instance.get("name", "")) is str
    ):
        return None
    ids, points, depots = columns
    types = list(dict.fromkeys(agent["type"] for agent in agents))
    from zelk.instance import Instance

    try:
        typed = Instance.from_arrays(
            points,
            agents={
                "type": [agent["type"] for agent in agents],
                "start_node": np.fromiter(map(itemgetter("start_node"), agents), np.uint64, len(agents)),
                "end_node": np.fromiter(map(itemgetter("end_node"), agents), np.uint64, len(agents)),
                "id": np.fromiter(map(itemgetter("id"), agents), np.uint64, len(agents)),
            },
            costs=dict.fromkeys(types, "exact"),
            ids=ids,
            depots=depots,
            objective=options.get("objective", "min_sum"),
            return_to_end=options.get("return_to_end", True),
            time_limit=None if options.get("time_limit") is None else float(options["time_limit"]),
            name=instance.get("name", ""),
        )
    except (InstanceError, OverflowError, ValueError):
        return None  # the full reading names the fault
    warn_no_matrix(sorted(types), source, stacklevel + 1)
    return typed


def _node_columns(nodes: list[Any]) -> tuple[np.ndarray, np.ndarray, np.ndarray] | None:
    """(ids, (n, 3) points, depot mask) of nodes that are all plain, with whole ids that
    do not repeat and finite coordinates; None otherwise."""
    try:
        if not all(map(_PLAIN_NODE_KEYS.issuperset, nodes)):
            return None
        ids = list(map(itemgetter("id"), nodes))
        xs = list(map(itemgetter("x"), nodes))
        ys = list(map(itemgetter("y"), nodes))
    except (TypeError, KeyError):  # an item that is not a mapping, or lacks a key
        return None
    if set(map(type, nodes)) != {dict}:
        return None
    zs = [node.get("z", 0.0) for node in nodes]
    roles = [node.get("type", "TARGET") for node in nodes]
    # bool is not int here: True is not a node id and not a coordinate.
    if (
        set(map(type, ids)) != {int}
        or not set(map(type, xs)) | set(map(type, ys)) | set(map(type, zs)) <= _NUMBERS
        or not set(roles) <= _ROLES
    ):
        return None
    if min(ids) < 0 or max(ids) >= 2**64:
        return None
    node_ids = np.array(ids, dtype=np.uint64)
    if len(np.unique(node_ids)) != len(node_ids):
        return None
    try:
        points = np.ascontiguousarray(np.array([xs, ys, zs], dtype=float).T)
    except OverflowError:  # an int beyond a float
        return None
    if not np.isfinite(points).all():
        return None
    depots = np.fromiter((role == "DEPOT" for role in roles), dtype=bool, count=len(roles))
    return node_ids, points, depots
