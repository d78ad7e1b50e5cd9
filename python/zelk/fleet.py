"""Reading the fleet fields of a JSON instance: loads in several dimensions, service
durations, several windows per node and optional targets.

The improvement path honours all of them; the focal search knows none of them.
:func:`fleet_problems` lists what is inconsistent among them (a checked instance's
schema already holds their types and signs), and :func:`focal_search_refusal` names
the first field that would make the focal search give another answer than the
improvement path.
"""

from __future__ import annotations

from collections.abc import Mapping
from typing import Any

__all__ = [
    "depot_ids",
    "dimensions",
    "fleet_problems",
    "focal_search_refusal",
    "merged_windows",
    "precheck_reasons",
    "quantity",
    "scalar_fields",
    "sequence_refusal",
]


def quantity(value: Any) -> tuple[float, ...]:
    """A ``demand`` or ``capacity`` as one number per dimension: a scalar is one
    dimension, absent or None none (zeros of any length)."""
    if value is None:
        return ()
    if isinstance(value, (list, tuple)):
        return tuple(float(v) for v in value)
    return (float(value),)


def dimensions(instance: Mapping[str, Any]) -> int:
    """The number of load dimensions: the length of the arrays, 1 for scalars only, 0
    when no node has a demand and no agent a capacity."""
    lengths = [len(quantity(n.get("demand"))) for n in instance.get("nodes") or []]
    lengths += [len(quantity(a.get("capacity"))) for a in instance.get("agents") or []]
    return max(lengths, default=0)


def depot_ids(instance: Mapping[str, Any]) -> set[int]:
    """The ids of every agent's start and end node."""
    ids: set[int] = set()
    for agent in instance.get("agents") or []:
        ids.add(int(agent["start_node"]))
        ids.add(int(agent["end_node"]))
    return ids


def merged_windows(instance: Mapping[str, Any]) -> dict[int, list[tuple[float, float]]]:
    """Every node's windows from all its ``timewindow`` items: sorted by opening, and
    overlapping or touching windows merged into one."""
    raw: dict[int, list[tuple[float, float]]] = {}
    for constraint in instance.get("constraints") or []:
        if constraint.get("kind") == "timewindow":
            for item in constraint.get("items") or []:
                window = (float(item["start"]), float(item["end"]))
                raw.setdefault(int(item["node"]), []).append(window)
    merged: dict[int, list[tuple[float, float]]] = {}
    for node, windows in raw.items():
        out: list[tuple[float, float]] = []
        for start, end in sorted(windows):
            if out and start <= out[-1][1]:
                out[-1] = (out[-1][0], max(out[-1][1], end))
            else:
                out.append((start, end))
        merged[node] = out
    return merged


def _bool_capacity(value: Any) -> bool:
    # The core reads true as 1 and false as 0; as a capacity that is no reading at all.
    return isinstance(value, bool)


def fleet_problems(instance: Mapping[str, Any]) -> list[str]:
    """What the fleet fields of a schema-valid instance get wrong, each naming its
    place: arrays of different lengths, a scalar beside arrays of length > 1, a service
    duration at an agent's start or end node."""
    problems: list[str] = []
    arrays: list[tuple[str, int]] = []
    scalars: list[str] = []
    for kind, key in (("nodes", "demand"), ("agents", "capacity")):
        for k, item in enumerate(instance.get(kind) or []):
            value = item.get(key)
            if isinstance(value, list):
                arrays.append((f"{kind}[{k}].{key}", len(value)))
            elif value is not None and not _bool_capacity(value) and float(value) != 0:
                scalars.append(f"{kind}[{k}].{key}")
    lengths = sorted({length for _, length in arrays})
    if len(lengths) > 1:
        first = arrays[0]
        other = next(a for a in arrays if a[1] != first[1])
        problems.append(
            f"{other[0]}: has {other[1]} dimensions, {first[0]} has {first[1]}; every demand "
            "and capacity array of an instance has the same length"
        )
    elif lengths and lengths[0] != 1 and scalars:
        problems.append(
            f"{scalars[0]}: a single number beside arrays of {lengths[0]} dimensions "
            f"(as {arrays[0][0]}); give an array of {lengths[0]} numbers"
        )
    depots = depot_ids(instance)
    for v, node in enumerate(instance.get("nodes") or []):
        service = node.get("service", 0)
        if int(node["id"]) in depots and service:
            problems.append(
                f"nodes[{v}].service: {service:g} at node {node['id']}, an agent's start or "
                "end node; service durations apply at targets only"
            )
    return problems


def sequence_refusal(instance: Mapping[str, Any]) -> str | None:
    """Why zelk refuses the instance's ``sequence`` constraints: no solver path enforces
    an order between targets, and ignoring one would return a plan that breaks it."""
    for c, constraint in enumerate(instance.get("constraints") or []):
        if constraint.get("kind") == "sequence":
            return (
                f"constraints[{c}].kind: 'sequence' constraints are not supported: no solver "
                "path enforces an order between targets; remove the constraint"
            )
    return None


def _focal_fields(instance: Mapping[str, Any]) -> list[tuple[str, str]]:
    """(place, what) of each field the focal search would read otherwise than the
    improvement path does."""
    found: list[tuple[str, str]] = []
    nodes = instance.get("nodes") or []
    agents = instance.get("agents") or []
    capacity = next(
        (k for k, a in enumerate(agents) if any(quantity(a.get("capacity")))
         and not _bool_capacity(a.get("capacity"))),
        None,
    )  # fmt: skip
    demand = next((v for v, n in enumerate(nodes) if any(quantity(n.get("demand")))), None)
    if capacity is not None and demand is not None:
        found.append((f"agents[{capacity}].capacity", "a capacity with non-zero demands"))
    for v, node in enumerate(nodes):
        if node.get("service", 0):
            found.append((f"nodes[{v}].service", "a service duration"))
            break
    for v, node in enumerate(nodes):
        if node.get("required", True) is False:
            found.append((f"nodes[{v}].required", "an optional target"))
            break
    counts: dict[int, set[tuple[float, float]]] = {}
    for constraint in instance.get("constraints") or []:
        if constraint.get("kind") == "timewindow":
            for item in constraint.get("items") or []:
                window = (float(item["start"]), float(item["end"]))
                counts.setdefault(int(item["node"]), set()).add(window)
    several = next((node for node, windows in counts.items() if len(windows) > 1), None)
    if several is not None:
        found.append((f"timewindow items of node {several}", "a second time window"))
    for k, agent in enumerate(agents):
        limit = agent.get("max_length", 0)
        if isinstance(limit, float) and not limit.is_integer():
            found.append((f"agents[{k}].max_length", "a limit with decimals"))
            break
    return found


def focal_search_refusal(instance: Mapping[str, Any]) -> str | None:
    """The refusal of a solve by the focal search alone, when the instance holds a field
    it would not honour; None when the focal search gives the answer the fields mean."""
    fields = _focal_fields(instance)
    if not fields:
        return None
    where, what = fields[0]
    return (
        f"{where}: {what}, which the focal search alone does not honour; the improvement "
        "path does (drop improve=False / --no-improve)"
    )


def precheck_reasons(
    instance: Mapping[str, Any], *, prepared: bool = False
) -> list[dict[str, Any]]:
    """The required targets no plan can serve, each with its reason ("type", "arc",
    "window", "capacity" or "limit") and a message, from the core's pre-check of the
    instance as :func:`zelk.solve` reads it; empty when this build of the core has none.
    ``prepared``: the instance comes from :func:`zelk.schema.prepare_instance` already.

    Raises
    ------
    InstanceError
        When the instance is not valid.
    """
    import json
    import warnings

    import _zelk_core

    from zelk.schema import prepare_instance

    precheck = getattr(_zelk_core, "precheck_json_str", None)
    if precheck is None:
        return []
    if not prepared:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")  # the solve or the reader says them
            instance = prepare_instance(instance, computed_distances=True)
    from zelk.tables import core_costs

    text = json.dumps({key: value for key, value in instance.items() if key != "costs"})
    matrices, distances = core_costs(instance)
    return list(precheck(text, cost_matrices=matrices, distances=distances))


def scalar_fields(instance: Mapping[str, Any]) -> dict[str, Any]:
    """The instance as the focal search reads it: demand and capacity arrays of one
    dimension, or of zeros, as numbers (the focal search reads numbers only)."""
    # The focal search does not enforce loads, and the solve was refused where they
    # would matter: the first dimension stands for all.
    def flat(value: Any) -> Any:
        return value[0] if value else 0

    nodes = [
        {**n, "demand": flat(n["demand"])} if isinstance(n.get("demand"), list) else n
        for n in instance["nodes"]
    ]
    agents = [
        {**a, "capacity": flat(a["capacity"])} if isinstance(a.get("capacity"), list) else a
        for a in instance["agents"]
    ]
    return {**instance, "nodes": nodes, "agents": agents}
