"""The cost tables an instance costs the core, and how to keep them few and small.

An agent type that travels at the distance between node positions (a type without a
matrix, or a TSPLIB file of coordinates) gets a :class:`PositionDistances`: a matrix that
computes its entries when read and reaches the core as a rule, not as n x n numbers, so
that 10,000 nodes cost no table at all. NumPy arrays reach the core as they are, through
the buffer protocol, without a list of lists.

The core keeps one dense table per agent type, in the focal search's graph and in the
improvement engine alike. Agent types that share one matrix and that every assignment
names together are the same type in all but name: :func:`merge_equivalent_types` writes
them as one before the core sees the instance, so that 2,000 types travelling at the
same Euclidean distances cost one table, not 2,000. :func:`table_megabytes` tells what
the tables will take, so a memory limit can refuse an instance before they are built.
"""

from __future__ import annotations

import os
from collections.abc import Mapping
from typing import Any

from zelk.distances import PositionDistances
from zelk.schema import named_matrices

__all__ = [
    "core_costs",
    "default_memory_limit_mb",
    "merge_equivalent_types",
    "table_megabytes",
]

def core_costs(instance: Mapping[str, Any]) -> tuple[dict[str, Any], dict[str, str]]:
    """The keywords ``cost_matrices`` and ``distances`` that hand ``instance``'s costs to
    the core: matrices (lists of rows or arrays, passed as they are), and the rule of each
    type that travels at distances between the nodes."""
    matrices: dict[str, Any] = {}
    distances: dict[str, str] = {}
    for name, matrix in named_matrices(instance.get("costs")).items():
        if isinstance(matrix, PositionDistances):
            distances[name] = matrix.rule
        else:
            matrices[name] = matrix
    return matrices, distances

# The focal search's graph exists only up to this many nodes; it keeps every arc twice,
# each copy with a cost vector (header and allocation) of one double per type.
_GRAPH_NODES = 256
_GRAPH_ARC_BYTES = 2 * 48


def merge_equivalent_types(instance: Mapping[str, Any]) -> dict[str, Any]:
    """``instance`` (checked and complete, as :func:`zelk.schema.prepare_instance` gives
    it) with each group of interchangeable agent types written as its first member.

    Two types are interchangeable when they have the very same matrix object (as every
    type without a matrix of its own has after :func:`prepare_instance`), every
    assignment item lists both or neither, and no precedence names either. Routes,
    costs and feasibility are then the same under either name. The instance is returned
    unchanged when no two types merge.
    """
    agents = instance["agents"]
    types = list(dict.fromkeys(str(agent["type"]) for agent in agents))
    if len(types) < 2:
        return dict(instance)
    matrices = named_matrices(instance.get("costs"))
    constraints = instance.get("constraints") or []
    pinned = {
        str(item["type"])
        for constraint in constraints
        if constraint["kind"] == "sequence"
        for item in constraint.get("precedence") or []
        if "type" in item
    }
    # Where each type is listed, by the distinct lists of the items (most items of a
    # large instance share one list): two types are in the same items exactly when they
    # are in the same distinct lists.
    groups: dict[tuple[str, ...], int] = {}
    for constraint in constraints:
        if constraint["kind"] != "assignment":
            continue
        for item in constraint["items"]:
            groups.setdefault(tuple(item["types"]), len(groups))
    listed: dict[str, list[int]] = {name: [] for name in types}
    for names, group in groups.items():
        for name in set(names):
            if name in listed:
                listed[name].append(group)
    representative: dict[str, str] = {}
    first_of: dict[tuple[Any, ...], str] = {}
    for name in types:
        if name in pinned or name not in matrices:
            representative[name] = name
            continue
        key = (id(matrices[name]), tuple(listed[name]))
        representative[name] = first_of.setdefault(key, name)
    if all(rep == name for name, rep in representative.items()):
        return dict(instance)

    merged = dict(instance)
    merged["agents"] = [{**agent, "type": representative[str(agent["type"])]} for agent in agents]
    kept = set(representative.values())
    merged["costs"] = {name: matrix for name, matrix in matrices.items() if name in kept}
    renamed: dict[tuple[str, ...], list[str]] = {
        names: list(dict.fromkeys(representative.get(t, t) for t in names)) for names in groups
    }
    merged["constraints"] = [
        {
            **constraint,
            "items": [{**item, "types": renamed[tuple(item["types"])]} for item in constraint["items"]],
        }
        if constraint["kind"] == "assignment"
        else constraint
        for constraint in constraints
    ]
    return merged


def table_megabytes(instance: Any) -> float:
    """About how many MB the core's cost tables take for ``instance`` (as the core
    receives it): the focal search's graph, the instance's matrices and the improvement
    engine's tables, n x n entries per agent type each. Arrays are read in place and
    distances between positions are computed when needed: neither costs a table in the
    engine."""
    from zelk.instance import Instance

    if isinstance(instance, Instance):
        # Its matrices are arrays, read in place; its distances are computed.
        n, types, listed = instance.n, len(instance.core_arrays()[1]), 0
    else:
        n = len(instance["nodes"])
        types = len({str(agent["type"]) for agent in instance["agents"]})
        listed = sum(
        1
            for matrix in named_matrices(instance.get("costs")).values()
            if not isinstance(matrix, PositionDistances)
            and not hasattr(matrix, "__array_interface__")
        )
    arcs = n * n
    # A double per arc in the core's copy of each list matrix and in the engine's table.
    total = arcs * 16 * listed
    if n <= _GRAPH_NODES:
        total += arcs * (_GRAPH_ARC_BYTES + 2 * 8 * types)
    return total / 1e6


def default_memory_limit_mb() -> float:
    """The core's own default memory limit: half the machine's memory, at most 4 GiB."""
    four_gib = 4096 * 1048576 / 1e6
    try:
        physical = os.sysconf("SC_PHYS_PAGES") * os.sysconf("SC_PAGE_SIZE")
    except (AttributeError, ValueError, OSError):
        return four_gib
    return min(four_gib, physical / 2 / 1e6) if physical > 0 else four_gib
