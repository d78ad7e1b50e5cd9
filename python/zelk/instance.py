"""A typed, immutable instance: what the solve, the checker, the bound and the command
line share, read once.

An :class:`Instance` holds the nodes, agents and constraints of an instance as read-only
NumPy arrays in vertex and agent order, and the travel costs of each agent type as a
matrix (read in place, never copied into Python lists) or a distance rule (the core
computes those distances itself). It reaches the core as arrays: no node object and no
line of JSON text per node on the way, which is what lets 10,000 nodes start solving in
a few milliseconds.

:meth:`Instance.from_dict` and :meth:`Instance.from_file` check the instance as
:func:`zelk.schema.prepare_instance` does (the same refusals, the same messages);
:meth:`Instance.from_arrays` checks arrays the same way, with NumPy, and names each fault
by the place the JSON form would have (``nodes[3].x``).
"""

from __future__ import annotations

import dataclasses
import json
import math
import os
from collections.abc import Mapping, Sequence
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any

import numpy as np

from zelk.distances import PositionDistances
from zelk.formats import check_node_count, objective_name
from zelk.schema import named_matrices

__all__ = ["Instance"]

# What a type travels at: an (n, n) array of costs, or the name of a distance rule.
Cost = Any


def _frozen(array: Any, dtype: Any, shape: tuple[int, ...] | None = None) -> np.ndarray:
    """``array`` as a C-ordered read-only array of ``dtype``, copied only when its type or
    layout differs."""
    out = np.ascontiguousarray(array, dtype=dtype)
    if shape is not None:
        out = out.reshape(shape)
    if out.flags.writeable:
        # A read-only view: the caller's own array is neither copied nor made read-only.
        out = out.view()
        out.flags.writeable = False
    return out


def _csr(lists: Sequence[Sequence[Any]], dtype: Any, width: int = 0) -> tuple[np.ndarray, np.ndarray]:
    """Per-node lists as (offsets, flat values)."""
    counts = np.fromiter((len(entry) for entry in lists), dtype=np.int64, count=len(lists))
    offsets = np.zeros(len(lists) + 1, dtype=np.int64)
    np.cumsum(counts, out=offsets[1:])
    flat = [value for entry in lists for value in entry]
    shape = (len(flat), width) if width else (len(flat),)
    values = np.array(flat, dtype=dtype).reshape(shape) if flat else np.zeros(shape, dtype=dtype)
    return _frozen(offsets, np.int64), _frozen(values, dtype)


def _csr_arrays(lists: Sequence[np.ndarray], dtype: Any) -> tuple[np.ndarray, np.ndarray]:
    """Per-node arrays (often one shared by many nodes) as (offsets, flat values)."""
    offsets = np.zeros(len(lists) + 1, dtype=np.int64)
    np.cumsum([len(entry) for entry in lists], out=offsets[1:])
    values = np.concatenate(lists).astype(dtype, copy=False) if lists else np.zeros(0, dtype=dtype)
    return _frozen(offsets, np.int64), _frozen(values, dtype)


@dataclass(frozen=True, eq=False, repr=False)
class Instance:
    """One routing instance as read-only arrays. Build it with :meth:`from_dict`,
    :meth:`from_file` or :meth:`from_arrays`; :meth:`to_dict` gives its JSON form.

    Nodes (``n``, in vertex order): ``ids``, ``positions`` (n x 3), ``depots`` (typed
    "DEPOT"), ``demands`` (n x d, d load dimensions), ``service``, ``required``,
    ``penalty``; windows of node ``v`` are rows ``window_offsets[v]`` up to
    ``window_offsets[v + 1]`` of ``windows`` (start, end), in the order given; the agent
    types allowed at ``v`` are ``allowed[allowed_offsets[v]:allowed_offsets[v + 1]]``
    (indices into ``types``). Agents (``m``): ``agent_ids``, ``agent_types`` (indices
    into ``types``), ``start_nodes`` and ``end_nodes`` (node ids), ``capacities``
    (m x d, 0: no limit) and ``max_length`` (0: no limit). ``costs`` maps every type to
    its (n, n) array or to a distance rule ("exact", "nint", "ceil").
    """

    ids: np.ndarray
    positions: np.ndarray
    depots: np.ndarray
    demands: np.ndarray
    service: np.ndarray
    required: np.ndarray
    penalty: np.ndarray
    window_offsets: np.ndarray
    windows: np.ndarray
    allowed_offsets: np.ndarray
    allowed: np.ndarray
    types: tuple[str, ...]
    agent_ids: np.ndarray
    agent_types: np.ndarray
    start_nodes: np.ndarray
    end_nodes: np.ndarray
    capacities: np.ndarray
    max_length: np.ndarray
    costs: Mapping[str, Cost]
    objective: str = "min_sum"
    return_to_end: bool = True
    time_limit: float | None = None
    name: str = ""
    #: Loads given as single numbers (a 0 is then no load at all, as JSON reads it).
    scalar_loads: bool = True
    _dict: dict[str, Any] | None = field(default=None, compare=False)
    _distance_tables: dict[str, PositionDistances] = field(default_factory=dict, compare=False)
    _core: tuple[Any, ...] | None = field(default=None, compare=False)

    # ----------------------------------------------------------------- sizes

    @property
    def n(self) -> int:
        """The number of nodes."""
        return len(self.ids)

    @property
    def m(self) -> int:
        """The number of agents."""
        return len(self.agent_ids)

    @property
    def dimensions(self) -> int:
        """The number of load dimensions."""
        return int(self.demands.shape[1])

    def __repr__(self) -> str:
        label = f"{self.name!r}, " if self.name else ""
        return (
            f"Instance({label}{self.n} nodes, {self.m} agents, {len(self.types)} types, "
            f"{self.objective})"
        )

    # ----------------------------------------------------------------- building

    @classmethod
    def from_dict(
        cls, instance: Mapping[str, Any], *, source: str | None = None, stacklevel: int = 2
    ) -> Instance:
        """The Instance of a JSON instance dict, checked as :func:`zelk.check_instance`
        checks it and completed as :func:`zelk.schema.prepare_instance` completes it
        (warnings included, ``stacklevel`` frames up from the caller's call).

        Raises
        ------
        InstanceError
            When the instance is not valid (a ValueError naming each place).
        """
        from zelk.schema import prepare_instance

        nodes = instance.get("nodes") if isinstance(instance, Mapping) else None
        if isinstance(nodes, Sequence) and not isinstance(nodes, str):
            # Before anything grows with the node count.
            check_node_count(len(nodes), "nodes")
        from zelk.instance_plain import read_plain

        typed = read_plain(instance, source=source, stacklevel=stacklevel + 1)
        if typed is not None:
            return typed
        if isinstance(instance, Mapping):
            # The caller's dict stays the caller's: a later change to it changes no Instance.
            instance = _plain(instance)
        prepared = prepare_instance(
            instance, source=source, stacklevel=stacklevel + 1, computed_distances=True
        )
        return cls.from_prepared(prepared)

    @classmethod
    def from_file(cls, path: str | os.PathLike[str], **options: Any) -> Instance:
        """The Instance of a file of any format :func:`zelk.load_instance` reads (JSON,
        TSPLIB, VRPLIB, Solomon); ``options`` are its keywords."""
        from zelk.formats import load_instance

        options.setdefault("computed_distances", True)
        return cls.from_prepared(load_instance(Path(path), **options))

    @classmethod
    def from_prepared(cls, data: dict[str, Any]) -> Instance:
        """The Instance of a dict that is checked and complete already, as
        :func:`zelk.load_instance` and :func:`zelk.schema.prepare_instance` return it
        (options set by :func:`zelk.formats.apply_options` afterwards included): read
        without checking it again. The dict is kept as :meth:`to_dict`'s answer."""
        nodes, agents = data["nodes"], data["agents"]
        n = len(nodes)
        ids = np.fromiter((node["id"] for node in nodes), dtype=np.uint64, count=n)
        positions = np.array(
            [(node["x"], node["y"], node.get("z", 0.0)) for node in nodes], dtype=float
        ).reshape(n, 3)
        depots = np.fromiter((node.get("type") == "DEPOT" for node in nodes), dtype=bool, count=n)
        fleet = any(not node.keys() <= _PLAIN_NODE for node in nodes) or any(
            not agent.keys() <= _PLAIN_AGENT for agent in agents
        )
        demands, capacities, scalar = _loads(nodes, agents) if fleet else (None, None, True)
        service = _column(nodes, "service", 0.0) if fleet else np.zeros(n)
        penalty = _column(nodes, "penalty", 0.0) if fleet else np.zeros(n)
        required = (
            np.fromiter((node.get("required", True) for node in nodes), dtype=bool, count=n)
            if fleet
            else np.ones(n, dtype=bool)
        )
        types = tuple(dict.fromkeys(str(agent["type"]) for agent in agents))
        type_index = {name: k for k, name in enumerate(types)}
        vertex = {int(node_id): v for v, node_id in enumerate(ids.tolist())}
        # The last item of a node gives its types (the core replaces a node's list); every
        # timewindow item adds a window, in the order given.
        none = np.zeros(0, dtype=np.int32)
        allowed_lists: list[np.ndarray] = [none] * n
        window_lists: list[list[tuple[float, float]]] = [[] for _ in range(n)]
        lists_seen: dict[tuple[str, ...], np.ndarray] = {}
        for constraint in data.get("constraints") or []:
            if constraint["kind"] == "assignment":
                for item in constraint["items"]:
                    names = tuple(item["types"])
                    indices = lists_seen.get(names)
                    if indices is None:
                        indices = np.array([type_index[t] for t in names], dtype=np.int32)
                        lists_seen[names] = indices
                    allowed_lists[vertex[int(item["node"])]] = indices
            elif constraint["kind"] == "timewindow":
                for item in constraint["items"]:
                    window = (float(item["start"]), float(item["end"]))
                    window_lists[vertex[int(item["node"])]].append(window)
        allowed_offsets, allowed = _csr_arrays(allowed_lists, np.int32)
        window_offsets, windows = _csr(window_lists, float, 2)
        options = data.get("options") or {}
        limit = options.get("time_limit")
        return cls(
            ids=_frozen(ids, np.uint64),
            positions=_frozen(positions, float),
            depots=_frozen(depots, bool),
            demands=_frozen(np.zeros((n, 0)) if demands is None else demands, float),
            service=_frozen(service, float),
            required=_frozen(required, bool),
            penalty=_frozen(penalty, float),
            window_offsets=window_offsets,
            windows=windows,
            allowed_offsets=allowed_offsets,
            allowed=allowed,
            types=types,
            agent_ids=_frozen([a["id"] for a in agents], np.uint64),
            agent_types=_frozen([type_index[str(a["type"])] for a in agents], np.int32),
            start_nodes=_frozen([a["start_node"] for a in agents], np.uint64),
            end_nodes=_frozen([a["end_node"] for a in agents], np.uint64),
            capacities=_frozen(
                np.zeros((len(agents), 0)) if capacities is None else capacities, float
            ),
            max_length=_frozen([float(a.get("max_length", 0)) for a in agents], float),
            costs=_costs(data, types),
            objective="min_max" if options.get("objective") in ("min_max", "MIN_MAX") else "min_sum",
            return_to_end=bool(options.get("return_to_end", True)),
            time_limit=None if limit is None else float(limit),
            name=str(data.get("name", "")),
            scalar_loads=scalar,
            _dict=data,
        )

    @classmethod
    def from_arrays(
        cls,
        positions: Any,
        *,
        agents: int | Mapping[str, Any] = 1,
        costs: Mapping[str, Any] | None = None,
        ids: Any = None,
        depots: Any = None,
        demands: Any = None,
        capacities: Any = None,
        service: Any = None,
        required: Any = None,
        penalty: Any = None,
        windows: Any = None,
        window_offsets: Any = None,
        allowed: Any = None,
        objective: str = "min_sum",
        return_to_end: bool = True,
        time_limit: float | None = None,
        name: str = "",
    ) -> Instance:
        """An Instance from NumPy arrays (or anything ``numpy.asarray`` reads), without a
        Python object per node: the fast way in for large instances. Arrays that already
        have the stored type and layout and are read-only are kept, not copied.

        Parameters
        ----------
        positions
            ``(n, 2)`` or ``(n, 3)`` coordinates in vertex order.
        agents
            A count (ids 0, 1, ...; type ``"agent"``; start and end at the first node), or
            a mapping of per-agent arrays: ``"type"`` (names), ``"start_node"``,
            ``"end_node"`` (node ids; end defaults to start), ``"id"``, ``"capacity"``
            (``(m,)`` or ``(m, d)``) and ``"max_length"``.
        costs
            Type name to an ``(n, n)`` matrix or a distance rule ("exact", "nint",
            "ceil"); a type left out travels at the exact distance (with a warning).
        ids, depots
            Node ids (default ``0 .. n-1``); a boolean mask of the nodes typed "DEPOT"
            (default: the agents' start and end nodes).
        demands, capacities
            ``(n,)`` or ``(n, d)`` demands, ``(m,)`` or ``(m, d)`` capacities.
        service, required, penalty
            Per node: service duration, False for optional targets, their penalty.
        windows, window_offsets
            ``(n, 2)`` one window per node (rows of NaN for none), or ``(w, 2)`` windows
            with ``(n + 1,)`` offsets: node ``v`` has rows ``offsets[v]`` to
            ``offsets[v + 1] - 1``.
        allowed
            ``(n, t)`` booleans, column ``k`` for the ``k``-th type in order of first
            appearance among the agents; default every type everywhere.
        objective, return_to_end, time_limit, name
            As the instance's options and name.

        Raises
        ------
        InstanceError
            Naming each fault as the JSON form would place it, for what the JSON path
            refuses: repeated ids, unknown node ids, costs that are negative, not finite
            or of the wrong shape, windows that close before they open, negative or
            non-finite amounts, service at a start or end node, a type no agent has.
        """
        from zelk.instance_arrays import from_arrays

        return from_arrays(
            cls, positions, agents, costs, ids, depots, demands, capacities, service,
            required, penalty, windows, window_offsets, allowed, objective, return_to_end,
            time_limit, name,
        )  # fmt: skip

    # ----------------------------------------------------------------- reading

    def cost_of(self, agent_type: str) -> Any:
        """The matrix of ``agent_type``: its array, or a
        :class:`~zelk.distances.PositionDistances` computing its entries when read."""
        cost = self.costs[agent_type]
        if isinstance(cost, str):
            from zelk.instance_forms import distances_of

            return distances_of(self, cost)
        return cost

    def with_options(self, **options: Any) -> Instance:
        """This Instance with other ``objective``, ``return_to_end``, ``time_limit`` or
        ``name`` (the arrays are shared, not copied)."""
        unknown = set(options) - {"objective", "return_to_end", "time_limit", "name"}
        if unknown:
            raise TypeError(f"with_options() takes objective, return_to_end, time_limit, name (got {sorted(unknown)})")
        if "objective" in options:
            options["objective"] = objective_name(options["objective"])
        limit = options.get("time_limit")
        if limit is not None and not (isinstance(limit, (int, float)) and math.isfinite(limit) and limit > 0):
            raise ValueError(f"time_limit must be a positive finite number of seconds (got {limit!r})")
        return dataclasses.replace(self, _dict=None, _core=None, **options)

    def to_dict(self) -> dict[str, Any]:
        """The JSON instance dict of this Instance (for writing it, and for the readers of
        dicts: :func:`zelk.check_solution`, :func:`zelk.bounds.lower_bound`). Matrices stay
        arrays and distance rules :class:`~zelk.distances.PositionDistances`; the dict is
        built once and shared, so treat it as read-only."""
        if self._dict is None:
            from zelk.instance_forms import as_dict

            object.__setattr__(self, "_dict", as_dict(self))
        assert self._dict is not None
        return self._dict

    def core_arrays(self) -> tuple[dict[str, np.ndarray], list[str], dict[str, Any], dict[str, str]]:
        """What the core's array intake reads: (arrays, type names, cost_matrices,
        distances). Types that only their names tell apart (the same cost object, listed
        together everywhere) go as one, as :func:`zelk.tables.merge_equivalent_types` has
        it for dicts."""
        if self._core is not None:
            return self._core  # type: ignore[return-value]
        from zelk.instance_forms import merged_types

        names, agent_types, allowed_offsets, allowed = merged_types(self)
        arrays: dict[str, np.ndarray] = {
            "ids": self.ids,
            "positions": self.positions,
            "depots": self.depots.view(np.uint8),
            "demands": self.demands,
            "capacities": self.capacities,
            "service": self.service,
            "required": self.required.view(np.uint8),
            "penalty": self.penalty,
            "windows": self.windows,
            "window_offsets": self.window_offsets,
            "allowed": allowed,
            "allowed_offsets": allowed_offsets,
            "agent_ids": self.agent_ids,
            "agent_types": agent_types,
            "start_nodes": self.start_nodes,
            "end_nodes": self.end_nodes,
            "max_length": self.max_length,
        }
        matrices: dict[str, Any] = {}
        distances: dict[str, str] = {}
        for name in names:
            cost = self.costs[name]
            if isinstance(cost, str):
                distances[name] = cost
            else:
                matrices[name] = cost
        object.__setattr__(self, "_core", (arrays, names, matrices, distances))
        return arrays, names, matrices, distances


# --------------------------------------------------------------------------- from dicts


_SCALARS = frozenset({int, float, str, bool, type(None)})
_SCALARS_AND_LIST = _SCALARS | {list}


def _plain(value: Any, copies: dict[int, Any] | None = None) -> Any:
    """``value`` in the shape JSON would give it back: dicts with string keys, lists for
    tuples, NumPy arrays and numbers as lists and numbers. Containers are copied, except
    lists of plain numbers and strings (a matrix's rows), which are shared unchanged:
    nothing in a solve writes to them, and copying a large matrix costs seconds. A
    list met twice (one matrix for many types) is copied once and stays shared. Two-
    dimensional arrays stay arrays."""
    copies = {} if copies is None else copies
    # A node, an agent or an assignment item, the bulk of a large instance: one shallow
    # copy (lists of plain values are shared below anyway).
    if type(value) is dict and all(type(key) is str for key in value):
        kinds = set(map(type, value.values()))
        if kinds <= _SCALARS:
            return dict(value)
        if kinds <= _SCALARS_AND_LIST and all(
            type(item) is not list or set(map(type, item)) <= _SCALARS for item in value.values()
        ):
            return dict(value)
    if isinstance(value, Mapping):
        return {_plain_key(key): _plain(item, copies) for key, item in value.items()}
    if isinstance(value, list) and set(map(type, value)) <= _SCALARS:
        return value
    if isinstance(value, PositionDistances) or getattr(value, "ndim", 0) == 2:
        # A matrix: read in place by the core (an array through the buffer protocol),
        # never written; a list of lists of it would cost seconds and gigabytes.
        return value
    if isinstance(value, (list, tuple)):
        if id(value) not in copies:
            copies[id(value)] = [_plain(item, copies) for item in value]
        return copies[id(value)]
    if type(value) in _SCALARS:
        return value
    if hasattr(value, "tolist"):  # NumPy arrays and numbers
        return _plain(value.tolist())  # a fresh list: its id says nothing
    raise TypeError(f"{type(value).__name__} has no JSON form in an instance")


def _plain_key(key: Any) -> str:
    # As json.dumps writes keys.
    if isinstance(key, str):
        return key
    if key is None or isinstance(key, (bool, int, float)):
        return json.dumps(key)
    raise TypeError(f"keys must be str, int, float, bool or None, not {type(key).__name__}")




_PLAIN_NODE = frozenset({"id", "x", "y", "z", "type"})
_PLAIN_AGENT = frozenset({"id", "type", "start_node", "end_node"})


def _column(items: Sequence[Mapping[str, Any]], key: str, default: float) -> np.ndarray:
    return np.fromiter((float(item.get(key, default)) for item in items), dtype=float, count=len(items))


def _amounts(value: Any, width: int) -> list[float]:
    if value is None or isinstance(value, bool) and width == 0:
        return [0.0] * width
    row = [float(v) for v in value] if isinstance(value, (list, tuple)) else [float(value)]
    return (row + [0.0] * width)[:width] if row else [0.0] * width


def _loads(nodes: Sequence[Any], agents: Sequence[Any]) -> tuple[Any, Any, bool]:
    from zelk.fleet import dimensions

    width = dimensions({"nodes": nodes, "agents": agents})
    scalar = not any(isinstance(n.get("demand"), list) for n in nodes) and not any(
        isinstance(a.get("capacity"), list) for a in agents
    )
    demands = np.array([_amounts(n.get("demand"), width) for n in nodes], dtype=float)
    capacities = np.array([_amounts(a.get("capacity"), width) for a in agents], dtype=float)
    return demands.reshape(len(nodes), width), capacities.reshape(len(agents), width), scalar


def _costs(data: Mapping[str, Any], types: Sequence[str]) -> dict[str, Cost]:
    # One array per matrix object: types that shared a matrix keep sharing it.
    converted: dict[int, Cost] = {}
    costs: dict[str, Cost] = {}
    known = set(types)
    for name, matrix in named_matrices(data.get("costs")).items():
        if name not in known:
            continue
        if id(matrix) not in converted:
            if isinstance(matrix, PositionDistances):
                converted[id(matrix)] = matrix.rule
            else:
                converted[id(matrix)] = _frozen(matrix, float)
        costs[name] = converted[id(matrix)]
    return costs
