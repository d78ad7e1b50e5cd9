"""Instance formats: readers that turn TSPLIB and Solomon files into the JSON instance.

Every converter returns the instance as a plain ``dict`` in the JSON instance format
(``nodes``, ``agents``, ``costs``, ``constraints``, ``options``), ready for
:func:`json.dumps` and :func:`zelk.solve_json_str`. Converted instances give all agents
one type, ``"agent"``, and list that type for every node in an ``assignment``
constraint, so the solver has nothing to warn about per node.

TSPLIB distances follow the TSPLIB95 definitions: ``EUC_2D``, ``EUC_3D``, ``MAN_2D``,
``MAN_3D`` and ``MAX_2D``/``MAX_3D`` are rounded to the nearest integer, ``CEIL_2D`` up,
``ATT`` is the pseudo-Euclidean distance, ``GEO`` the great-circle distance on the
idealised earth, and ``EXPLICIT`` reads the weights in any of the matrix layouts. With
``distances="exact"`` the same formulas are used without rounding.

A Solomon file gives each customer its ``demand``, its ``service`` duration and its
``[ready, due]`` window (the depot's window is the horizon), and every vehicle the
file's capacity; the matrix holds the plain distances. VRPLIB files (``TYPE`` CVRP or
VRPTW) are read by the ``vrplib`` package (:mod:`zelk.vrplib_format`).

The readers refuse what they cannot hold before allocating it: a ``DIMENSION`` (or a
Solomon vehicle number) above ``max_nodes`` (default :data:`NODE_LIMIT`), or larger than
the file could hold, is a :class:`FormatError`, and so is a number that is not finite or
beyond :data:`NUMBER_LIMIT` in magnitude (the message names the line and field). Only
regular files are read, and no more than their size.
"""

from __future__ import annotations

import errno
import io
import json
import math
import numbers
import os
import re
import stat
from collections.abc import Iterator, Sequence
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any

from zelk.distances import PositionDistances

__all__ = [
    "AGENT_TYPE",
    "NODE_LIMIT",
    "NUMBER_LIMIT",
    "FormatError",
    "SolomonData",
    "TsplibData",
    "apply_options",
    "detect_format",
    "load_instance",
    "nint",
    "parse_solomon",
    "parse_tsplib",
    "read_file",
    "solomon_to_instance",
    "tsplib_distance",
    "tsplib_matrix",
    "tsplib_to_instance",
]

#: The agent type name of every converted instance.
AGENT_TYPE = "agent"

#: The most nodes a reader accepts unless told otherwise: the instance's matrix alone is
#: ``n * n`` Python floats, about 800 MB at this size.
NODE_LIMIT = 10000

#: The largest magnitude a number in a TSPLIB or Solomon file may have. Near 2**53 a
#: double no longer holds every whole number, so route sums lose whole units; far beyond,
#: the distance formulas overflow (the square of 1e300 is infinite).
NUMBER_LIMIT = 1e15

#: TSPLIB's value of pi and earth radius for GEO distances (deliberately not math.pi).
GEO_PI = 3.141592
GEO_RADIUS = 6378.388

DISTANCE_MODES = ("nint", "exact")
OBJECTIVES = {
    "min-max": "min_max",
    "min-sum": "min_sum",
    "min_max": "min_max",
    "min_sum": "min_sum",
}


def objective_name(value: Any, what: str = "objective") -> str:
    """``"min_max"`` or ``"min_sum"`` for any spelling zelk accepts: ``min_max``,
    ``min-max``, ``MIN_MAX`` (any case, ``-`` or ``_``), and the same for min-sum.

    Raises
    ------
    ValueError
        Naming ``what`` and the spellings, for anything else.
    """
    if isinstance(value, str):
        key = value.strip().lower().replace("-", "_")
        if key in ("min_max", "min_sum"):
            return key
    raise ValueError(
        f"{what} must be min_max or min_sum (also written min-max, MIN_MAX, ...) (got {value!r})"
    )


class FormatError(ValueError):
    """An instance file that does not follow its format; the message names the fault."""


# --------------------------------------------------------------------------- TSPLIB


def nint(x: float) -> int:
    """TSPLIB's nearest integer, ``(int)(x + 0.5)``."""
    return math.floor(x + 0.5)


def _geo_radians(coordinate: float) -> float:
    # DDD.MM: whole degrees, then minutes as the fractional part. TSPLIB truncates the
    # degrees (its reference code casts to int), which is what its optimal tours use.
    degrees = int(coordinate)
    minutes = coordinate - degrees
    return GEO_PI * (degrees + 5.0 * minutes / 3.0) / 180.0


def tsplib_distance(
    kind: str, a: Sequence[float], b: Sequence[float], *, exact: bool = False
) -> float:
    """The TSPLIB distance of type ``kind`` between points ``a`` and ``b``.

    Parameters
    ----------
    kind
        An ``EDGE_WEIGHT_TYPE`` with coordinates: ``EUC_2D``, ``EUC_3D``, ``CEIL_2D``,
        ``MAN_2D``, ``MAN_3D``, ``MAX_2D``, ``MAX_3D``, ``ATT`` or ``GEO``.
    exact
        Skip TSPLIB's rounding and return the real-valued distance.
    """
    if kind == "GEO":
        lat_a, lon_a = _geo_radians(a[0]), _geo_radians(a[1])
        lat_b, lon_b = _geo_radians(b[0]), _geo_radians(b[1])
        q1 = math.cos(lon_a - lon_b)
        q2 = math.cos(lat_a - lat_b)
        q3 = math.cos(lat_a + lat_b)
        # Rounding can push the argument a hair outside [-1, 1] for identical points.
        arc = math.acos(max(-1.0, min(1.0, 0.5 * ((1.0 + q1) * q2 - (1.0 - q1) * q3))))
        if exact:
            return GEO_RADIUS * arc
        return float(int(GEO_RADIUS * arc + 1.0))
    deltas = [abs(p - q) for p, q in zip(a, b)]
    if kind.endswith("_2D"):
        deltas = deltas[:2]
    if kind == "ATT":
        r = math.sqrt((deltas[0] ** 2 + deltas[1] ** 2) / 10.0)
        if exact:
            return r
        t = nint(r)
        return float(t + 1 if t < r else t)
    if kind in ("EUC_2D", "EUC_3D", "CEIL_2D"):
        d = math.sqrt(sum(x * x for x in deltas))
        if exact:
            return d
        return float(math.ceil(d) if kind == "CEIL_2D" else nint(d))
    if kind in ("MAN_2D", "MAN_3D"):
        d = sum(deltas)
        return d if exact else float(nint(d))
    if kind in ("MAX_2D", "MAX_3D"):
        if exact:
            return max(deltas)
        return float(max(nint(x) for x in deltas))
    raise FormatError(f"unsupported EDGE_WEIGHT_TYPE {kind!r}")


@dataclass
class TsplibData:
    """What a TSPLIB file says: header, node ids and coordinates, explicit weights."""

    name: str
    kind: str  # EDGE_WEIGHT_TYPE
    weight_format: str  # EDGE_WEIGHT_FORMAT ("" when absent)
    ids: list[int]
    coords: list[tuple[float, ...]] | None  # NODE_COORD_SECTION, else DISPLAY_DATA_SECTION
    weights: list[float] = field(default_factory=list)  # EDGE_WEIGHT_SECTION, flat
    depots: list[int] = field(default_factory=list)  # DEPOT_SECTION ids


_SECTION = re.compile(r"^([A-Z][A-Z0-9_]*)\s*:?\s*$")
_HEADER = re.compile(r"^([A-Z][A-Z0-9_]*)\s*:\s*(.*?)\s*$")


def _lines(text: str) -> Iterator[tuple[int, str]]:
    """The stripped lines of ``text`` with their 1-based numbers, one at a time."""
    for number, raw in enumerate(io.StringIO(text, newline=None), start=1):
        yield number, raw.strip()


def _number(token: str, where: str) -> float:
    try:
        value = float(token)
    except ValueError:
        raise FormatError(f"{where}: {token!r} is not a number") from None
    if not math.isfinite(value):
        raise FormatError(f"{where}: {token!r} is not a finite number")
    if abs(value) > NUMBER_LIMIT:
        raise FormatError(f"{where}: {token!r} is beyond the limit of {NUMBER_LIMIT:g}")
    return value


def _whole_number(token: str, where: str) -> int:
    value = _number(token, where)
    if not value.is_integer():
        raise FormatError(f"{where}: {token!r} is not a whole number")
    return int(value)


def check_node_count(n: int, what: str = "nodes") -> None:
    """Refuses an instance of more than :data:`NODE_LIMIT` nodes with a ValueError naming
    ``what``, before anything of its size is built."""
    if n > NODE_LIMIT:
        raise ValueError(
            f"{what}: {n} nodes is more than zelk's limit of {NODE_LIMIT:,} nodes"
        )


def _check_node_count(what: str, n: int, max_nodes: int | None, unit: str = "nodes") -> None:
    limit = NODE_LIMIT if max_nodes is None else max_nodes
    if n > limit:
        raise FormatError(f"{what} {n} is above the limit of {limit} {unit}")


_LAYOUTS = (
    "FULL_MATRIX",
    "UPPER_ROW",
    "LOWER_ROW",
    "UPPER_DIAG_ROW",
    "LOWER_DIAG_ROW",
    "UPPER_COL",
    "LOWER_COL",
    "UPPER_DIAG_COL",
    "LOWER_DIAG_COL",
)


def _pair_count(weight_format: str, n: int) -> int:
    """The number of weights an explicit layout of ``n`` nodes lists."""
    if weight_format not in _LAYOUTS:
        raise FormatError(f"unsupported EDGE_WEIGHT_FORMAT {weight_format!r}")
    if weight_format == "FULL_MATRIX":
        return n * n
    return n * (n + 1) // 2 if "DIAG" in weight_format else n * (n - 1) // 2


def _axis(k: int) -> str:
    """The name of the k-th (0-based) coordinate of a node line."""
    return "xyz"[k] if k < 3 else f"coordinate {k + 1}"


def parse_tsplib(text: str, *, max_nodes: int | None = None) -> TsplibData:
    """Parses TSPLIB text (``TYPE`` TSP or ATSP). Raises :class:`FormatError`.

    ``DIMENSION`` is checked against ``max_nodes`` (default :data:`NODE_LIMIT`) and
    against what the text could hold before anything of that size is allocated; the
    sections are then read line by line into their final lists.
    """
    # First pass: the header alone (a header line may follow a section; it ends it).
    header: dict[str, str] = {}
    for _, line in _lines(text):
        if line == "EOF":
            break
        head = _HEADER.match(line)
        if head and not line[0].isdigit() and not head.group(1).endswith("_SECTION"):
            header[head.group(1)] = head.group(2)

    kind = header.get("EDGE_WEIGHT_TYPE", "")
    if not kind:
        raise FormatError("the TSPLIB header has no EDGE_WEIGHT_TYPE")
    weight_format = header.get("EDGE_WEIGHT_FORMAT", "")
    problem_type = header.get("TYPE", "TSP").split()[0] if header.get("TYPE") else "TSP"
    if problem_type not in ("TSP", "ATSP"):
        raise FormatError(f"unsupported TSPLIB TYPE {problem_type!r} (TSP and ATSP are read)")
    if "DIMENSION" not in header:
        raise FormatError("the TSPLIB header has no DIMENSION")
    try:
        n = int(header["DIMENSION"])
    except ValueError:
        raise FormatError(f"DIMENSION {header['DIMENSION']!r} is not a whole number") from None
    if n < 1:
        raise FormatError(f"DIMENSION must be at least 1 (got {n})")
    _check_node_count("DIMENSION", n, max_nodes)
    # A node line holds at least three one-character tokens and two spaces, a weight at
    # least one character and a separator: a text shorter than that cannot hold the
    # instance, whatever its header says.
    if kind == "EXPLICIT":
        n_weights = _pair_count(weight_format, n)
        need, what = 2 * n_weights - 1, f"{n_weights} weights"
    else:
        n_weights = 0
        need, what = 6 * n - 1, f"{n} node lines"
    if need > len(text):
        raise FormatError(
            f"DIMENSION {n} does not fit the file: {what} take at least {need} "
            f"characters, the file has {len(text)}"
        )

    # Second pass: the sections. Display coordinates only place the nodes of an explicit
    # matrix; they never give distances.
    coord_section = "NODE_COORD_SECTION"
    if kind == "EXPLICIT" and not re.search(r"^\s*NODE_COORD_SECTION", text, re.MULTILINE):
        coord_section = "DISPLAY_DATA_SECTION"
    ids: list[int] = []
    coords: list[tuple[float, ...]] = []
    has_coords = False
    weights: list[float] = []
    depots: list[int] = []
    depots_done = False
    current: str | None = None
    for number, line in _lines(text):
        if not line:
            continue
        if line == "EOF":
            break
        section = _SECTION.match(line)
        if section and section.group(1).endswith("_SECTION"):
            current = section.group(1)
            has_coords = has_coords or current == coord_section
            continue
        head = _HEADER.match(line)
        if head and not line[0].isdigit():
            current = None
            continue
        if current is None:
            raise FormatError(f"line {number}: unexpected line outside any section: {line!r}")
        row = line.split()
        if current == coord_section:
            if len(row) < 3:
                raise FormatError(f"line {number}: node line {line!r} needs an id and coordinates")
            if len(ids) == n:
                raise FormatError(f"line {number}: DIMENSION is {n} but the file lists more nodes")
            ids.append(_whole_number(row[0], f"line {number}, node id"))
            coords.append(
                tuple(
                    _number(t, f"line {number}, node {row[0]} {_axis(k)}")
                    for k, t in enumerate(row[1:])
                )
            )
        elif current == "EDGE_WEIGHT_SECTION":
            if kind == "EXPLICIT" and len(weights) + len(row) > n_weights:
                raise FormatError(
                    f"line {number}: EDGE_WEIGHT_FORMAT {weight_format} of {n} nodes has "
                    f"{n_weights} weights, the file has more"
                )
            weights.extend(_number(t, f"line {number}, EDGE_WEIGHT_SECTION") for t in row)
        elif current == "DEPOT_SECTION" and not depots_done:
            for t in row:
                depot = _whole_number(t, f"line {number}, DEPOT_SECTION")
                if depot == -1:
                    depots_done = True
                    break
                depots.append(depot)

    if has_coords:
        if len(ids) != n:
            raise FormatError(f"DIMENSION is {n} but the file lists {len(ids)} nodes")
        if len(set(ids)) != n:
            raise FormatError("node ids repeat")
    elif kind != "EXPLICIT":
        raise FormatError(f"EDGE_WEIGHT_TYPE {kind} needs a NODE_COORD_SECTION")
    if kind == "EXPLICIT" and not weights:
        raise FormatError("EDGE_WEIGHT_TYPE EXPLICIT needs an EDGE_WEIGHT_SECTION")
    return TsplibData(
        name=header.get("NAME", ""),
        kind=kind,
        weight_format=weight_format,
        ids=ids if has_coords else list(range(1, n + 1)),
        coords=coords if has_coords else None,
        weights=weights,
        depots=depots,
    )


def _pairs(weight_format: str, n: int) -> Iterator[tuple[int, int]]:
    """The (row, column) of each entry of an explicit layout, in file order."""
    # A symmetric matrix read column by column visits the same pairs in the same
    # order as the opposite triangle read row by row, hence the aliases.
    layout = {
        "UPPER_COL": "LOWER_ROW",
        "LOWER_COL": "UPPER_ROW",
        "UPPER_DIAG_COL": "LOWER_DIAG_ROW",
        "LOWER_DIAG_COL": "UPPER_DIAG_ROW",
    }.get(weight_format, weight_format)
    first, last = {
        "FULL_MATRIX": (lambda i: 0, lambda i: n),
        "UPPER_ROW": (lambda i: i + 1, lambda i: n),
        "LOWER_ROW": (lambda i: 0, lambda i: i),
        "UPPER_DIAG_ROW": (lambda i: i, lambda i: n),
        "LOWER_DIAG_ROW": (lambda i: 0, lambda i: i + 1),
    }[layout]
    for i in range(n):
        for j in range(first(i), last(i)):
            yield i, j


def tsplib_matrix(data: TsplibData, distances: str = "nint") -> list[list[float]]:
    """The full distance matrix of ``data``, rows and columns in node order."""
    if distances not in DISTANCE_MODES:
        raise ValueError(f"distances must be one of {DISTANCE_MODES} (got {distances!r})")
    n = len(data.ids)
    if data.kind == "EXPLICIT":
        count = _pair_count(data.weight_format, n)
        if len(data.weights) != count:
            raise FormatError(
                f"EDGE_WEIGHT_FORMAT {data.weight_format} of {n} nodes has {count} "
                f"weights, the file has {len(data.weights)}"
            )
        matrix = [[0.0] * n for _ in range(n)]
        full = data.weight_format == "FULL_MATRIX"
        for (i, j), w in zip(_pairs(data.weight_format, n), data.weights):
            matrix[i][j] = w
            if not full:
                matrix[j][i] = w
        return matrix
    assert data.coords is not None
    exact = distances == "exact"
    coords = data.coords
    if data.kind in ("EUC_2D", "CEIL_2D"):
        return _euclidean_rows(coords, exact, ceil=data.kind == "CEIL_2D")
    return [
        [
            0.0 if i == j else tsplib_distance(data.kind, coords[i], coords[j], exact=exact)
            for j in range(n)
        ]
        for i in range(n)
    ]


def _euclidean_rows(
    coords: Sequence[Sequence[float]], exact: bool, *, ceil: bool
) -> list[list[float]]:
    """The EUC_2D / CEIL_2D matrix with the arithmetic of :func:`tsplib_distance`, in
    one comprehension per row: a thousand nodes take a fraction of a second, not
    seconds."""
    points = [(float(c[0]), float(c[1])) for c in coords]
    sqrt, floor = math.sqrt, math.floor
    rows = []
    for xi, yi in points:
        row = [sqrt((xi - xj) * (xi - xj) + (yi - yj) * (yi - yj)) for xj, yj in points]
        if ceil and not exact:
            row = [float(math.ceil(d)) for d in row]
        elif not exact:
            row = [float(int(floor(d + 0.5))) for d in row]
        rows.append(row)
    return rows


# --------------------------------------------------------------------------- Solomon


@dataclass
class SolomonData:
    """A Solomon VRPTW file: one row per node, the depot first."""

    name: str
    vehicles: int  # the file's NUMBER: an upper bound on vehicles, 0 when absent
    ids: list[int]
    coords: list[tuple[float, float]]
    ready: list[float]
    due: list[float]
    service: list[float]
    demand: list[float] = field(default_factory=list)
    capacity: float = 0.0  # the file's CAPACITY, 0 when absent


_INT = re.compile(r"^[+-]?\d+$")


# The fields of a Solomon node line, as its column headings name them.
_SOLOMON_FIELDS = (
    "CUST NO.",
    "XCOORD.",
    "YCOORD.",
    "DEMAND",
    "READY TIME",
    "DUE DATE",
    "SERVICE TIME",
)


def parse_solomon(text: str, *, max_nodes: int | None = None) -> SolomonData:
    """Parses a Solomon file: the node table starts at the first line with exactly seven
    whole numbers; the vehicle count is the first two-number line before it.

    The vehicle number and the node count may not exceed ``max_nodes`` (default
    :data:`NODE_LIMIT`); the node lines are read one at a time.
    """
    name = ""
    vehicles: int | None = None
    capacity = 0.0
    data: SolomonData | None = None
    for number, line in _lines(text):
        fields = line.split()
        if data is None:
            name = name or " ".join(fields)
            if len(fields) == 7 and all(_INT.match(t) for t in fields):
                data = SolomonData(
                    name=name, vehicles=vehicles or 0, ids=[], coords=[], ready=[], due=[],
                    service=[], capacity=capacity,
                )  # fmt: skip
            else:
                if vehicles is None and len(fields) == 2 and all(_INT.match(t) for t in fields):
                    vehicles = _whole_number(fields[0], f"line {number}, NUMBER")
                    capacity = _number(fields[1], f"line {number}, CAPACITY")
                    _check_node_count(
                        f"line {number}: the vehicle number", vehicles, max_nodes, "agents"
                    )
                continue
        if not fields:
            continue
        if len(fields) != 7:
            raise FormatError(
                f"line {number}: node line {line!r} has {len(fields)} fields, not 7"
            )
        _check_node_count(f"line {number}: node count", len(data.ids) + 1, max_nodes)
        values = [
            _number(t, f"line {number}, {heading}") for t, heading in zip(fields, _SOLOMON_FIELDS)
        ]
        node_id, x, y, demand, ready, due, service = values
        if demand < 0 or service < 0:
            raise FormatError(f"line {number}: node {int(node_id)}: demand and service must be >= 0")
        if not node_id.is_integer():
            raise FormatError(f"line {number}, CUST NO.: {fields[0]!r} is not a whole number")
        if due < ready:
            raise FormatError(
                f"line {number}: node {int(node_id)}: due date {due:g} is before ready time "
                f"{ready:g}"
            )
        data.ids.append(int(node_id))
        data.coords.append((x, y))
        data.ready.append(ready)
        data.due.append(due)
        data.service.append(service)
        data.demand.append(demand)
    if data is None:
        raise FormatError("no node line (seven whole numbers) found")
    if len(set(data.ids)) != len(data.ids):
        raise FormatError("customer numbers repeat")
    return data


# --------------------------------------------------------------------------- instances


def _build(
    name: str,
    ids: list[int],
    coords: Sequence[Sequence[float]] | None,
    matrix: Sequence[Sequence[float]],
    *,
    agents: int,
    depot: int | None,
    windows: list[tuple[float, float]] | None = None,
    service: Sequence[float] | None = None,
    demand: Sequence[Any] | None = None,
    capacity: Any = None,
) -> dict[str, Any]:
    if agents < 1:
        raise ValueError(f"agents must be at least 1 (got {agents})")
    depot_id = ids[0] if depot is None else depot
    if depot_id not in ids:
        raise ValueError(f"depot {depot_id} is not a node id of the instance")
    nodes = []
    for k, node_id in enumerate(ids):
        point = list(coords[k]) if coords is not None else []
        point += [0.0] * (3 - len(point))
        nodes.append(
            {
                "id": node_id,
                "x": point[0],
                "y": point[1],
                "z": point[2],
                "type": "DEPOT" if node_id == depot_id else "TARGET",
            }
        )
        # Loads and service belong to targets; the depot carries none.
        if demand is not None and node_id != depot_id and demand[k]:
            nodes[-1]["demand"] = demand[k]
        if service is not None and node_id != depot_id and service[k]:
            nodes[-1]["service"] = service[k]
    constraints: list[dict[str, Any]] = [
        {"kind": "assignment", "items": [{"node": i, "types": [AGENT_TYPE]} for i in ids]}
    ]
    if windows is not None:
        constraints.append(
            {
                "kind": "timewindow",
                "items": [{"node": i, "start": s, "end": e} for i, (s, e) in zip(ids, windows)],
            }
        )
    return {
        "name": name,
        "nodes": nodes,
        "agents": [
            {"id": a, "type": AGENT_TYPE, "start_node": depot_id, "end_node": depot_id}
            | ({"capacity": capacity} if capacity else {})
            for a in range(agents)
        ],
        "costs": {AGENT_TYPE: matrix},
        "constraints": constraints,
        "options": {"objective": "min_max", "return_to_end": True},
    }


def tsplib_to_instance(
    text: str,
    *,
    agents: int = 1,
    depot: int | None = None,
    distances: str = "nint",
    max_nodes: int | None = None,
    computed_distances: bool = False,
) -> dict[str, Any]:
    """A JSON instance from TSPLIB text: ``agents`` agents start and end at node id
    ``depot`` (default: the file's DEPOT_SECTION, else its first node); at most
    ``max_nodes`` nodes (default :data:`NODE_LIMIT`). With ``computed_distances``, the
    matrix of a file of 2-D coordinates (EUC_2D, CEIL_2D) is a
    :class:`zelk.distances.PositionDistances`, computed when read, not an n x n list."""
    data = parse_tsplib(text, max_nodes=max_nodes)
    if depot is None and data.depots:
        depot = data.depots[0]
    matrix: Any
    if computed_distances and data.kind in ("EUC_2D", "CEIL_2D") and distances in DISTANCE_MODES:
        # The core computes these as it needs them: no n x n table for 10,000 nodes.
        assert data.coords is not None
        rule = "exact" if distances == "exact" else "ceil" if data.kind == "CEIL_2D" else "nint"
        matrix = PositionDistances([(c[0], c[1]) for c in data.coords], rule)
    else:
        matrix = tsplib_matrix(data, distances)
    return _build(data.name, data.ids, data.coords, matrix, agents=agents, depot=depot)


def solomon_to_instance(
    text: str,
    *,
    agents: int | None = None,
    depot: int | None = None,
    distances: str = "exact",
    max_nodes: int | None = None,
) -> dict[str, Any]:
    """A JSON instance from Solomon text: every customer's demand, service duration and
    window ``[ready, due]``, every vehicle the file's capacity; ``agents`` defaults to
    the file's vehicle number; at most ``max_nodes`` nodes and vehicles (default
    :data:`NODE_LIMIT`)."""
    if distances not in DISTANCE_MODES:
        raise ValueError(f"distances must be one of {DISTANCE_MODES} (got {distances!r})")
    data = parse_solomon(text, max_nodes=max_nodes)
    n = len(data.ids)
    matrix = []
    for i in range(n):
        row = []
        for j in range(n):
            d = math.dist(data.coords[i], data.coords[j])
            if distances == "nint":
                d = float(nint(d))
            row.append(0.0 if i == j else d)
        matrix.append(row)
    return _build(
        data.name,
        data.ids,
        data.coords,
        matrix,
        agents=agents if agents is not None else max(data.vehicles, 1),
        depot=depot,
        windows=list(zip(data.ready, data.due)),
        service=data.service,
        demand=data.demand,
        capacity=data.capacity,
    )


#: The input formats the readers know, as ``--format`` names them.
INPUT_FORMATS = ("json", "tsplib", "vrplib", "solomon")


def detect_format(path: str | Path, text: str) -> str:
    """``"json"``, ``"tsplib"``, ``"vrplib"`` or ``"solomon"``: by the file's content,
    then its suffix."""
    from zelk.vrplib_format import is_vrplib

    stripped = text.lstrip()
    if stripped.startswith("{"):
        return "json"
    if re.search(r"^\s*(DIMENSION|EDGE_WEIGHT_TYPE)\s*:", text, re.MULTILINE):
        return "vrplib" if is_vrplib(text) else "tsplib"
    if any(
        len(f) == 7 and all(_INT.match(t) for t in f)
        for f in (line.split() for _, line in _lines(text))
    ):
        return "solomon"
    suffix = Path(path).suffix.lower()
    if suffix == ".json":
        return "json"
    if suffix in (".tsp", ".atsp"):
        return "tsplib"
    if suffix == ".vrp":
        return "vrplib"
    raise FormatError(f"{path}: not a JSON instance, a TSPLIB file or a Solomon file")


def positive_seconds(value: Any, what: str) -> float:
    """``value`` as a number of seconds: a finite number > 0, or ValueError naming
    ``what``."""
    if (
        isinstance(value, bool)
        or not isinstance(value, numbers.Real)
        or not math.isfinite(value)
        or not float(value) > 0
    ):
        raise ValueError(f"{what} must be a positive finite number (got {value!r})")
    return float(value)


def apply_options(
    instance: dict[str, Any],
    *,
    objective: str | None = None,
    open_routes: bool = False,
    time_limit: float | None = None,
) -> dict[str, Any]:
    """Sets the instance's options in place from the command-line spellings
    (``objective`` "min-max"/"min-sum"); returns the instance."""
    options = instance.setdefault("options", {})
    if objective is not None:
        options["objective"] = objective_name(objective, "--objective")
    if open_routes:
        options["return_to_end"] = False
    if time_limit is not None:
        options["time_limit"] = positive_seconds(time_limit, "--time-limit")
    return instance


def read_file(path: str | Path) -> bytes:
    """The bytes of the regular file at ``path``, no more than its size when opened.

    Raises
    ------
    OSError
        When the file cannot be opened, or is not a regular file: a folder
        (:class:`IsADirectoryError`), a device such as ``/dev/zero`` that never ends, or
        a FIFO that may never get a writer. These are refused without reading or waiting.
    ValueError
        When ``path`` holds a NUL character.
    """
    name = os.fspath(path)
    # O_NONBLOCK: opening a FIFO without a writer returns at once instead of waiting.
    flags = os.O_RDONLY | getattr(os, "O_NONBLOCK", 0) | getattr(os, "O_CLOEXEC", 0)
    fd = os.open(name, flags)
    try:
        info = os.fstat(fd)
        if stat.S_ISDIR(info.st_mode):
            raise IsADirectoryError(errno.EISDIR, os.strerror(errno.EISDIR), name)
        if not stat.S_ISREG(info.st_mode):
            raise OSError(errno.EINVAL, "Not a regular file", name)
        size = info.st_size
        chunks = []
        while size > 0:
            chunk = os.read(fd, min(size, 1 << 24))
            if not chunk:
                break  # the file shrank meanwhile
            chunks.append(chunk)
            size -= len(chunk)
        return b"".join(chunks)
    finally:
        os.close(fd)


def load_instance(
    path: str | Path,
    *,
    fmt: str | None = None,
    agents: int | None = None,
    depot: int | None = None,
    distances: str | None = None,
    max_nodes: int | None = None,
    computed_distances: bool = False,
) -> dict[str, Any]:
    """Reads a JSON instance, a TSPLIB, VRPLIB or Solomon file as a JSON instance dict.

    ``fmt`` forces the format (otherwise :func:`detect_format`); ``agents``, ``depot``
    and ``distances`` apply to TSPLIB, VRPLIB and Solomon files only (``distances``
    defaults to ``"nint"`` for TSPLIB and VRPLIB, as their published values use, and
    ``"exact"`` for Solomon); ``max_nodes`` (default :data:`NODE_LIMIT`) bounds the nodes
    of every format. ``computed_distances``: distances between coordinates (TSPLIB
    EUC_2D and CEIL_2D files, JSON types without a matrix) stay
    :class:`zelk.distances.PositionDistances`, computed when read, instead of n x n lists;
    the solve paths read them so, and JSON writers need ``tolist()``.

    Raises
    ------
    FormatError
        When the file does not follow its format, naming the file (and the line, for
        TSPLIB and Solomon files); a JSON file must be valid UTF-8, and the message of
        one that is not gives the offset of the first bad byte.
    OSError, ValueError
        As :func:`read_file`: the file cannot be opened, is not a regular file, or the
        path holds a NUL character.
    """
    return instance_from_bytes(
        read_file(path),
        str(path),
        fmt=fmt,
        agents=agents,
        depot=depot,
        distances=distances,
        max_nodes=max_nodes,
        stacklevel=4,
        computed_distances=computed_distances,
    )


def instance_from_bytes(
    data: bytes | bytearray,
    source: str,
    *,
    fmt: str | None = None,
    agents: int | None = None,
    depot: int | None = None,
    distances: str | None = None,
    max_nodes: int | None = None,
    stacklevel: int = 2,
    computed_distances: bool = False,
) -> dict[str, Any]:
    """The instance held in ``data``, read as :func:`load_instance` reads a file;
    ``source`` names it in messages (a path, or ``<stdin>``) and, as a path, tells the
    format when ``fmt`` is not given."""
    path = source
    # Only numbers are read from TSPLIB and Solomon files, and a number with an
    # undecodable byte is refused as not a number: a stray byte in a comment or a name
    # does no harm there. Universal newlines: CRLF files read like LF ones.
    text = data.decode("utf-8", errors="replace").replace("\r\n", "\n").replace("\r", "\n")
    fmt = fmt or detect_format(Path(path), text)
    if fmt == "json":
        if agents is not None or depot is not None or distances is not None:
            raise ValueError(
                "--agents, --depot and --distances apply to TSPLIB and Solomon files only"
            )
        # Strictly: names that differ only in undecodable bytes must not become equal.
        try:
            text = data.decode("utf-8")
        except UnicodeDecodeError as error:
            raise FormatError(
                f"{path}: not valid UTF-8: byte {data[error.start]:#04x} at offset {error.start}"
            ) from None
        try:
            instance = json.loads(text)
        except json.JSONDecodeError as error:
            raise FormatError(f"{path}: not valid JSON: {error}") from None
        if not isinstance(instance, dict):
            raise FormatError(f"{path}: a JSON instance is an object")
        # Before anything grows with the node count: a file of coordinates only would
        # get an n x n distance table per agent type.
        nodes = instance.get("nodes")
        if isinstance(nodes, list):
            try:
                _check_node_count("the node count", len(nodes), max_nodes)
            except FormatError as error:
                raise FormatError(f"{path}: {error}") from None
        from zelk.schema import prepare_instance

        return prepare_instance(
            instance, source=source, stacklevel=stacklevel, computed_distances=computed_distances
        )
    try:
        if fmt == "tsplib":
            return tsplib_to_instance(
                text,
                agents=1 if agents is None else agents,
                depot=depot,
                distances=distances or "nint",
                max_nodes=max_nodes,
                computed_distances=computed_distances,
            )
        if fmt == "vrplib":
            from zelk.vrplib_format import vrplib_to_instance

            return vrplib_to_instance(
                text, agents=agents, depot=depot, distances=distances or "nint",
                max_nodes=max_nodes,
            )  # fmt: skip
        if fmt == "solomon":
            return solomon_to_instance(
                text,
                agents=agents,
                depot=depot,
                distances=distances or "exact",
                max_nodes=max_nodes,
            )
    except FormatError as error:
        raise FormatError(f"{path}: {error}") from None
    raise ValueError(f"unknown format {fmt!r} (json, tsplib, vrplib or solomon)")
