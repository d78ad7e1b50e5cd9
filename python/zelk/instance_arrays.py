"""Building a :class:`zelk.Instance` from NumPy arrays: each array checked with NumPy,
without a Python object per node, every fault named by the place the JSON form would
give it (``nodes[3].x``), so that arrays are refused where a dict would be."""

from __future__ import annotations

import math
import warnings
from collections.abc import Mapping, Sequence
from typing import TYPE_CHECKING, Any

import numpy as np

from zelk.distances import DISTANCE_RULES
from zelk.formats import check_node_count, objective_name
from zelk.instance import Cost, _frozen
from zelk.schema import InstanceError, InstanceWarning

if TYPE_CHECKING:
    from zelk.instance import Instance

def from_arrays(
    cls: type[Instance],
    positions: Any,
    agents: int | Mapping[str, Any],
    costs: Mapping[str, Any] | None,
    ids: Any,
    depots: Any,
    demands: Any,
    capacities: Any,
    service: Any,
    required: Any,
    penalty: Any,
    windows: Any,
    window_offsets: Any,
    allowed: Any,
    objective: str,
    return_to_end: bool,
    time_limit: float | None,
    name: str,
) -> Instance:
    problems: list[str] = []
    points = np.asarray(positions, dtype=float)
    if points.ndim != 2 or points.shape[1] not in (2, 3) or len(points) == 0:
        raise InstanceError([f"positions: must have shape (n, 2) or (n, 3) with n >= 1, got {points.shape}"])
    n = len(points)
    check_node_count(n, "positions")
    if points.shape[1] == 2:
        points = np.column_stack([points, np.zeros(n)])
    _finite_rows(problems, points, "nodes[{}].{}", ("x", "y", "z"))
    node_ids = np.arange(n, dtype=np.uint64) if ids is None else _ids(problems, ids, n, "ids")
    _unique(problems, node_ids, "nodes[{}]: id {} repeats the id of nodes[{}]; node ids must be unique")

    if isinstance(agents, (int, np.integer)) and not isinstance(agents, bool):
        if agents < 1:
            raise InstanceError([f"agents: {agents} agents; an instance needs at least one"])
        spec: Mapping[str, Any] = {"start_node": np.full(int(agents), node_ids[0])}
    elif isinstance(agents, Mapping):
        spec = agents
    else:
        raise InstanceError([f"agents: a count or a mapping of arrays, not {type(agents).__name__}"])
    # The number of agents: the length of the first per-agent array given.
    given = [spec[key] for key in ("start_node", "type", "id", "end_node") if spec.get(key) is not None]
    m = len(given[0]) if given else 1
    if m == 0:
        raise InstanceError(["agents: an instance needs at least one agent"])
    starts = _ids(problems, spec.get("start_node", np.full(m, node_ids[0])), m, "start_node")
    ends = _ids(problems, spec.get("end_node", starts), m, "end_node")
    agent_ids = _ids(problems, spec.get("id", np.arange(m)), m, "agents.id")
    _unique(problems, agent_ids, "agents[{}]: id {} repeats the id of agents[{}]; agent ids must be unique")
    known = np.isin(starts, node_ids) & np.isin(ends, node_ids)
    for k in np.flatnonzero(~known)[:5]:
        key, value = ("start_node", starts[k]) if starts[k] not in node_ids else ("end_node", ends[k])
        problems.append(f"agents[{k}].{key}: {value} is not the id of a node")
    type_names = [str(t) for t in np.asarray(spec.get("type", ["agent"] * m), dtype=object).tolist()]
    if len(type_names) != m:
        problems.append(f"agents.type: {len(type_names)} names for {m} agents")
        type_names = (type_names + ["agent"] * m)[:m]
    types = tuple(dict.fromkeys(type_names))
    index = {t: k for k, t in enumerate(types)}
    agent_types = np.array([index[t] for t in type_names], dtype=np.int32)
    limits = _amount_column(problems, spec.get("max_length"), m, "agents[{}].max_length")

    if capacities is None:
        capacities = spec.get("capacity")
    width = _width(demands, capacities)
    scalar = all(value is None or np.ndim(value) <= 1 for value in (demands, capacities))
    demand_rows = _load_rows(problems, demands, n, width, "nodes[{}].demand")
    capacity_rows = _load_rows(problems, capacities, m, width, "agents[{}].capacity")
    service_column = _amount_column(problems, service, n, "nodes[{}].service")
    penalty_column = _amount_column(problems, penalty, n, "nodes[{}].penalty")
    required_column = np.ones(n, dtype=bool) if required is None else np.asarray(required, dtype=bool)
    if required_column.shape != (n,):
        problems.append(f"required: shape {required_column.shape} for {n} nodes")
    at_ends = np.isin(node_ids, np.concatenate([starts, ends]))
    for v in np.flatnonzero(at_ends & (service_column != 0))[:5]:
        problems.append(
            f"nodes[{v}].service: {service_column[v]:g} at node {node_ids[v]}, an agent's start or "
            "end node; service durations apply at targets only"
        )
    depot_mask = at_ends if depots is None else np.asarray(depots, dtype=bool)
    if depot_mask.shape != (n,):
        problems.append(f"depots: shape {depot_mask.shape} for {n} nodes")

    offsets, window_rows = _windows(problems, windows, window_offsets, n)
    allowed_offsets, allowed_flat = _allowed(problems, allowed, n, len(types))
    cost_map = _array_costs(problems, costs, types, n)
    try:
        objective = objective_name(objective)
    except ValueError as error:
        problems.append(str(error))
    if time_limit is not None and not (math.isfinite(time_limit) and time_limit > 0):
        problems.append(f"options.time_limit: {time_limit} must be a positive finite number of seconds")
    if problems:
        raise InstanceError(problems)
    return cls(
        ids=_frozen(node_ids, np.uint64),
        positions=_frozen(points, float),
        depots=_frozen(depot_mask, bool),
        demands=_frozen(demand_rows, float),
        service=_frozen(service_column, float),
        required=_frozen(required_column, bool),
        penalty=_frozen(penalty_column, float),
        window_offsets=offsets,
        windows=window_rows,
        allowed_offsets=allowed_offsets,
        allowed=allowed_flat,
        types=types,
        agent_ids=_frozen(agent_ids, np.uint64),
        agent_types=_frozen(agent_types, np.int32),
        start_nodes=_frozen(starts, np.uint64),
        end_nodes=_frozen(ends, np.uint64),
        capacities=_frozen(capacity_rows, float),
        max_length=_frozen(limits, float),
        costs=cost_map,
        objective=objective,
        return_to_end=bool(return_to_end),
        time_limit=None if time_limit is None else float(time_limit),
        name=name,
        scalar_loads=scalar,
    )


def _finite_rows(problems: list[str], values: np.ndarray, place: str, columns: Sequence[str]) -> None:
    bad = ~np.isfinite(values)
    for v, c in np.argwhere(bad)[:5]:
        problems.append(f"{place.format(v, columns[c])}: {values[v, c]} is not a finite number")


def _ids(problems: list[str], values: Any, count: int, what: str) -> np.ndarray:
    raw = np.asarray(values)
    if raw.shape != (count,):
        problems.append(f"{what}: shape {raw.shape}, one id per entry ({count}) expected")
        return np.zeros(count, dtype=np.uint64)
    whole = raw.dtype.kind in "iu" or (
        raw.dtype.kind == "f" and bool(np.all(np.isfinite(raw) & (raw == np.floor(raw)) & (raw < 2.0**64)))
    )
    if not whole or (raw.dtype.kind != "u" and np.any(raw < 0)):
        problems.append(f"{what}: ids must be whole numbers >= 0")
        return np.zeros(count, dtype=np.uint64)
    return raw.astype(np.uint64)


def _unique(problems: list[str], ids: np.ndarray, message: str) -> None:
    counts = np.unique(ids, return_counts=True)[1]
    if np.all(counts == 1):
        return
    seen: dict[int, int] = {}
    for k, value in enumerate(ids.tolist()):
        if value in seen:
            problems.append(message.format(k, value, seen[value]))
            return
        seen[value] = k


def _amount_column(problems: list[str], values: Any, count: int, place: str) -> np.ndarray:
    if values is None:
        return np.zeros(count)
    column = np.asarray(values, dtype=float)
    if column.shape != (count,):
        problems.append(f"{place.format('')}: shape {column.shape}, one number per entry ({count})")
        return np.zeros(count)
    for k in np.flatnonzero(~(np.isfinite(column) & (column >= 0)))[:5]:
        problems.append(f"{place.format(k)}: {column[k]} must be a finite number >= 0")
    return column


def _width(demands: Any, capacities: Any) -> int:
    widths = [np.shape(value)[1] if np.ndim(value) == 2 else 1 for value in (demands, capacities) if value is not None]
    return max(widths, default=0)


def _load_rows(problems: list[str], values: Any, count: int, width: int, place: str) -> np.ndarray:
    if values is None:
        return np.zeros((count, width))
    rows = np.asarray(values, dtype=float)
    rows = rows.reshape(-1, 1) if rows.ndim == 1 else rows
    if rows.shape != (count, width):
        problems.append(
            f"{place.format('')}: shape {rows.shape}; every demand and capacity array of an "
            f"instance has the same length ({width}) and one row per entry ({count})"
        )
        return np.zeros((count, width))
    for k, d in np.argwhere(~(np.isfinite(rows) & (rows >= 0)))[:5]:
        problems.append(f"{place.format(k)}[{d}]: {rows[k, d]} must be a finite number >= 0")
    return rows


def _windows(problems: list[str], windows: Any, offsets: Any, n: int) -> tuple[np.ndarray, np.ndarray]:
    if windows is None:
        return _frozen(np.zeros(n + 1, dtype=np.int64), np.int64), _frozen(np.zeros((0, 2)), float)
    rows = np.asarray(windows, dtype=float)
    if rows.ndim != 2 or rows.shape[1] != 2:
        problems.append(f"windows: shape {rows.shape}, (start, end) rows expected")
        return _frozen(np.zeros(n + 1, dtype=np.int64), np.int64), _frozen(np.zeros((0, 2)), float)
    if offsets is None:
        if len(rows) != n:
            problems.append(f"windows: {len(rows)} rows for {n} nodes (give window_offsets for several per node)")
            return _frozen(np.zeros(n + 1, dtype=np.int64), np.int64), _frozen(np.zeros((0, 2)), float)
        given = ~np.isnan(rows).all(axis=1)
        rows = rows[given]
        starts = np.zeros(n + 1, dtype=np.int64)
        np.cumsum(given, out=starts[1:])
    else:
        starts = np.asarray(offsets, dtype=np.int64)
        if starts.shape != (n + 1,) or starts[0] != 0 or starts[-1] != len(rows) or np.any(np.diff(starts) < 0):
            problems.append(f"window_offsets: must rise from 0 to {len(rows)} with n + 1 = {n + 1} entries")
    for w in np.flatnonzero(~np.isfinite(rows).all(axis=1))[:5]:
        problems.append(f"windows[{w}]: the window [{rows[w, 0]}, {rows[w, 1]}] is not finite")
    for w in np.flatnonzero(rows[:, 1] < rows[:, 0])[:5]:
        problems.append(f"windows[{w}]: the window closes at {rows[w, 1]:g}, before it opens at {rows[w, 0]:g}")
    return _frozen(starts, np.int64), _frozen(rows, float)


def _allowed(problems: list[str], allowed: Any, n: int, types: int) -> tuple[np.ndarray, np.ndarray]:
    if allowed is None:
        mask = np.ones((n, types), dtype=bool)
    else:
        mask = np.asarray(allowed, dtype=bool)
        if mask.shape != (n, types):
            problems.append(
                f"allowed: shape {mask.shape}; one row per node and one column per agent type ({n}, {types}); "
                "a column for a type no agent has is not the type of any agent"
            )
            mask = np.ones((n, types), dtype=bool)
    rows, columns = np.nonzero(mask)
    offsets = np.zeros(n + 1, dtype=np.int64)
    np.cumsum(np.bincount(rows, minlength=n), out=offsets[1:])
    return _frozen(offsets, np.int64), _frozen(columns.astype(np.int32), np.int32)


def _array_costs(problems: list[str], costs: Mapping[str, Any] | None, types: Sequence[str], n: int) -> dict[str, Cost]:
    from zelk.schema import _array_problems

    given = dict(costs or {})
    known = set(types)
    for name in given:
        if name not in known:
            problems.append(
                f"costs.{name}: no agent has the type {name!r} "
                f"(the agents' types: {', '.join(map(repr, sorted(types)))})"
            )
    out: dict[str, Cost] = {}
    converted: dict[int, Cost] = {}
    for name in types:
        cost = given.get(name)
        if cost is None:
            warnings.warn(
                f"agent type {name!r} has no cost matrix: it travels at the exact Euclidean "
                "distance between node coordinates",
                InstanceWarning,
                stacklevel=4,
            )
            cost = "exact"
        if isinstance(cost, str):
            if cost not in DISTANCE_RULES:
                problems.append(f"costs.{name}: {cost!r} is not a distance rule {DISTANCE_RULES}")
            out[name] = cost
            continue
        if id(cost) not in converted:
            array = np.asarray(cost)
            found = _array_problems(name, f"costs.{name}", array, n)
            problems.extend(found)
            converted[id(cost)] = None if found else _frozen(array, float)
        out[name] = converted[id(cost)]
    return out
