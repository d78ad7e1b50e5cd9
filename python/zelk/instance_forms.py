"""The other forms of a :class:`zelk.Instance`: its JSON instance dict, and the types
the core receives, with interchangeable types as one."""

from __future__ import annotations

from typing import TYPE_CHECKING, Any

import numpy as np

from zelk.distances import PositionDistances
from zelk.instance import _csr_arrays, _frozen

if TYPE_CHECKING:
    from zelk.instance import Instance

def distances_of(instance: Instance, rule: str) -> PositionDistances:
    # Built once per Instance and rule: the checker and the schedule read it per leg.
    table = instance._distance_tables.get(rule)
    if table is None:
        table = instance._distance_tables[rule] = PositionDistances(instance.positions.tolist(), rule)
    return table


def as_dict(instance: Instance) -> dict[str, Any]:
    ids = instance.ids.tolist()
    x, y, z = (instance.positions[:, k].tolist() for k in range(3))
    nodes: list[dict[str, Any]] = [
        {"id": i, "x": a, "y": b, "z": c} for i, a, b, c in zip(ids, x, y, z)
    ]
    for v in np.flatnonzero(instance.depots).tolist():
        nodes[v]["type"] = "DEPOT"
    width = instance.dimensions
    if width:
        rows = instance.demands.tolist()
        for node, row in zip(nodes, rows):
            if any(row):
                node["demand"] = row[0] if instance.scalar_loads and width == 1 else row
    for key, column, default in (("service", instance.service, 0.0), ("penalty", instance.penalty, 0.0)):
        for v in np.flatnonzero(column != default).tolist():
            nodes[v][key] = float(column[v])
    for v in np.flatnonzero(~instance.required).tolist():
        nodes[v]["required"] = False
    agents: list[dict[str, Any]] = []
    capacity_rows = instance.capacities.tolist()
    for k in range(instance.m):
        agent: dict[str, Any] = {
            "id": int(instance.agent_ids[k]),
            "type": instance.types[int(instance.agent_types[k])],
            "start_node": int(instance.start_nodes[k]),
            "end_node": int(instance.end_nodes[k]),
        }
        if width and any(capacity_rows[k]):
            row = capacity_rows[k]
            agent["capacity"] = row[0] if instance.scalar_loads and width == 1 else row
        if instance.max_length[k]:
            agent["max_length"] = float(instance.max_length[k])
        agents.append(agent)
    names = instance.types
    width = len(names)
    if len(instance.allowed) == instance.n * width and np.array_equal(
        instance.allowed.reshape(instance.n, width), np.broadcast_to(np.arange(width), (instance.n, width))
    ):
        # Every node lists every type, in order: one list for all, without reading
        # n x types entries one by one.
        every = list(names)
        items = [{"node": node_id, "types": every} for node_id in ids]
    else:
        offsets = instance.allowed_offsets.tolist()
        flat = instance.allowed.tolist()
        lists: dict[tuple[int, ...], list[str]] = {}
        items = []
        for v, node_id in enumerate(ids):
            listed = tuple(flat[offsets[v] : offsets[v + 1]])
            if listed not in lists:
                lists[listed] = [names[t] for t in listed]
            items.append({"node": node_id, "types": lists[listed]})
    constraints: list[dict[str, Any]] = [{"kind": "assignment", "items": items}]
    if len(instance.windows):
        starts = instance.window_offsets.tolist()
        rows = instance.windows.tolist()
        constraints.append(
            {
                "kind": "timewindow",
                "items": [
                    {"node": ids[v], "start": s, "end": e}
                    for v in range(instance.n)
                    for s, e in rows[starts[v] : starts[v + 1]]
                ],
            }
        )
    costs = {name: instance.cost_of(name) for name in instance.types}
    options: dict[str, Any] = {"objective": instance.objective, "return_to_end": instance.return_to_end}
    if instance.time_limit is not None:
        options["time_limit"] = instance.time_limit
    data = {"nodes": nodes, "agents": agents, "costs": costs, "constraints": constraints, "options": options}
    if instance.name:
        data["name"] = instance.name
    return data


def merged_types(instance: Instance) -> tuple[list[str], np.ndarray, np.ndarray, np.ndarray]:
    """(type names, agent type indices, allowed offsets, allowed indices) with
    interchangeable types as their first member: the same cost object, allowed at the
    same nodes. The Instance itself stays as given."""
    types = instance.types
    unchanged = (list(types), instance.agent_types, instance.allowed_offsets, instance.allowed)
    if len(types) < 2:
        return unchanged
    # The distinct lists of the nodes (most nodes of a large instance share one).
    flat, bounds = instance.allowed, instance.allowed_offsets.tolist()
    groups: dict[bytes, int] = {}
    pieces: list[np.ndarray] = []
    group_of = []
    for v in range(instance.n):
        piece = flat[bounds[v] : bounds[v + 1]]
        group = groups.setdefault(piece.tobytes(), len(pieces))
        if group == len(pieces):
            pieces.append(piece)
        group_of.append(group)
    # Each type's row: its cost as a number, then the lists it is in as bits. Equal rows
    # are interchangeable types.
    listed = np.zeros((len(types), len(pieces)), dtype=bool)
    for group, piece in enumerate(pieces):
        listed[piece, group] = True
    cost_codes: dict[Any, int] = {}
    codes = np.array(
        [cost_codes.setdefault(cost if isinstance(cost, str) else id(cost), len(cost_codes))
         for cost in (instance.costs[name] for name in types)],
        dtype=np.int64,
    )  # fmt: skip
    rows = np.column_stack([codes[:, None].view(np.uint8), np.packbits(listed, axis=1)])
    first: dict[bytes, int] = {}
    representative = np.array(
        [first.setdefault(row.tobytes(), t) for t, row in enumerate(rows)], dtype=np.int64
    )
    if np.array_equal(representative, np.arange(len(types))):
        return unchanged
    kept = np.unique(representative)
    renumber = np.zeros(len(types), dtype=np.int32)
    renumber[kept] = np.arange(len(kept), dtype=np.int32)
    mapping = renumber[representative]
    # A list that names two merged types names their representative once, where the
    # first of them stood.
    renamed = [
        np.array(list(dict.fromkeys(mapping[piece].tolist())), dtype=np.int32) for piece in pieces
    ]
    offsets, allowed = _csr_arrays([renamed[group] for group in group_of], np.int32)
    names = [types[t] for t in kept.tolist()]
    return names, _frozen(mapping[instance.agent_types], np.int32), offsets, allowed
