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

Solomon files have no service-time field in the JSON format, so the service time of a
customer is added to every move out of it: ``t(i, j) = service(i) + dist(i, j)``. Each
node gets its ``[ready, due]`` window; the depot's window is the horizon.
"""

from __future__ import annotations

import json
import math
import re
from collections.abc import Sequence
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any

__all__ = [
    "AGENT_TYPE",
    "FormatError",
    "TsplibData",
    "SolomonData",
    "nint",
    "tsplib_distance",
    "parse_tsplib",
    "tsplib_matrix",
    "tsplib_to_instance",
    "parse_solomon",
    "solomon_to_instance",
    "detect_format",
    "load_instance",
    "apply_options",
]

#: The agent type name of every converted instance.
AGENT_TYPE = "agent"

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


class FormatError(ValueError):
    """An instance file that does not follow its format; the message names the fault."""


# --------------------------------------------------------------------------- TSPLIB


def nint(x: float) -> int:
    """TSPLIB's nearest integer, ``(int)(x + 0.5)``."""
    return int(math.floor(x + 0.5))


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


def _number(token: str, where: str) -> float:
    try:
        return float(token)
    except ValueError:
        raise FormatError(f"{where}: {token!r} is not a number") from None


def parse_tsplib(text: str) -> TsplibData:
    """Parses TSPLIB text (``TYPE`` TSP or ATSP). Raises :class:`FormatError`."""
    header: dict[str, str] = {}
    sections: dict[str, list[list[str]]] = {}
    current: list[list[str]] | None = None
    for raw in text.splitlines():
        line = raw.strip()
        if not line:
            continue
        if line == "EOF":
            break
        section = _SECTION.match(line)
        if section and section.group(1).endswith("_SECTION"):
            current = sections.setdefault(section.group(1), [])
            continue
        head = _HEADER.match(line)
        if head and not line[0].isdigit():
            header[head.group(1)] = head.group(2)
            current = None
            continue
        if current is None:
            raise FormatError(f"unexpected line outside any section: {line!r}")
        current.append(line.split())

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

    # Display coordinates only place the nodes of an explicit matrix; they never give
    # distances.
    coord_rows = sections.get("NODE_COORD_SECTION")
    if coord_rows is None and kind == "EXPLICIT":
        coord_rows = sections.get("DISPLAY_DATA_SECTION")
    ids = list(range(1, n + 1))
    coords: list[tuple[float, ...]] | None = None
    if coord_rows is not None:
        if len(coord_rows) != n:
            raise FormatError(f"DIMENSION is {n} but the file lists {len(coord_rows)} nodes")
        ids, coords = [], []
        for row in coord_rows:
            if len(row) < 3:
                raise FormatError(f"node line {' '.join(row)!r} needs an id and coordinates")
            ids.append(int(_number(row[0], "node id")))
            coords.append(tuple(_number(t, f"node {row[0]}") for t in row[1:]))
        if len(set(ids)) != n:
            raise FormatError("node ids repeat")
    elif kind != "EXPLICIT":
        raise FormatError(f"EDGE_WEIGHT_TYPE {kind} needs a NODE_COORD_SECTION")

    weights = [
        _number(t, "EDGE_WEIGHT_SECTION")
        for row in sections.get("EDGE_WEIGHT_SECTION", [])
        for t in row
    ]
    depots = []
    for row in sections.get("DEPOT_SECTION", []):
        for t in row:
            if int(_number(t, "DEPOT_SECTION")) == -1:
                break
            depots.append(int(_number(t, "DEPOT_SECTION")))
    if kind == "EXPLICIT" and not weights:
        raise FormatError("EDGE_WEIGHT_TYPE EXPLICIT needs an EDGE_WEIGHT_SECTION")
    return TsplibData(
        name=header.get("NAME", ""),
        kind=kind,
        weight_format=weight_format,
        ids=ids,
        coords=coords,
        weights=weights,
        depots=depots,
    )


def _pairs(weight_format: str, n: int) -> list[tuple[int, int]]:
    """The (row, column) of each entry of an explicit layout, in file order."""
    # A symmetric matrix read column by column visits the same pairs in the same
    # order as the opposite triangle read row by row, hence the aliases.
    layout = {
        "UPPER_COL": "LOWER_ROW",
        "LOWER_COL": "UPPER_ROW",
        "UPPER_DIAG_COL": "LOWER_DIAG_ROW",
        "LOWER_DIAG_COL": "UPPER_DIAG_ROW",
    }.get(weight_format, weight_format)
    if layout == "FULL_MATRIX":
        return [(i, j) for i in range(n) for j in range(n)]
    if layout == "UPPER_ROW":
        return [(i, j) for i in range(n) for j in range(i + 1, n)]
    if layout == "LOWER_ROW":
        return [(i, j) for i in range(n) for j in range(i)]
    if layout == "UPPER_DIAG_ROW":
        return [(i, j) for i in range(n) for j in range(i, n)]
    if layout == "LOWER_DIAG_ROW":
        return [(i, j) for i in range(n) for j in range(i + 1)]
    raise FormatError(f"unsupported EDGE_WEIGHT_FORMAT {weight_format!r}")


def tsplib_matrix(data: TsplibData, distances: str = "nint") -> list[list[float]]:
    """The full distance matrix of ``data``, rows and columns in node order."""
    if distances not in DISTANCE_MODES:
        raise ValueError(f"distances must be one of {DISTANCE_MODES} (got {distances!r})")
    n = len(data.ids)
    if data.kind == "EXPLICIT":
        pairs = _pairs(data.weight_format, n)
        if len(data.weights) != len(pairs):
            raise FormatError(
                f"EDGE_WEIGHT_FORMAT {data.weight_format} of {n} nodes has {len(pairs)} "
                f"weights, the file has {len(data.weights)}"
            )
        matrix = [[0.0] * n for _ in range(n)]
        full = data.weight_format == "FULL_MATRIX"
        for (i, j), w in zip(pairs, data.weights):
            matrix[i][j] = w
            if not full:
                matrix[j][i] = w
        return matrix
    assert data.coords is not None
    exact = distances == "exact"
    coords = data.coords
    return [
        [
            0.0 if i == j else tsplib_distance(data.kind, coords[i], coords[j], exact=exact)
            for j in range(n)
        ]
        for i in range(n)
    ]


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


_INT = re.compile(r"^[+-]?\d+$")


def parse_solomon(text: str) -> SolomonData:
    """Parses a Solomon file: the node table starts at the first line with exactly seven
    whole numbers; the vehicle count is the first two-number line before it."""
    lines = [line.split() for line in text.splitlines()]
    start = next(
        (k for k, f in enumerate(lines) if len(f) == 7 and all(_INT.match(t) for t in f)), None
    )
    if start is None:
        raise FormatError("no node line (seven whole numbers) found")
    name = next((" ".join(f) for f in lines if f), "")
    vehicles = 0
    for fields in lines[:start]:
        if len(fields) == 2 and all(_INT.match(t) for t in fields):
            vehicles = int(fields[0])
            break
    data = SolomonData(
        name=name, vehicles=vehicles, ids=[], coords=[], ready=[], due=[], service=[]
    )
    for fields in lines[start:]:
        if not fields:
            continue
        if len(fields) != 7:
            raise FormatError(f"node line {' '.join(fields)!r} has {len(fields)} fields, not 7")
        values = [_number(t, "node line") for t in fields]
        node_id, x, y, _demand, ready, due, service = values
        if due < ready:
            raise FormatError(
                f"node {int(node_id)}: due date {due:g} is before ready time {ready:g}"
            )
        data.ids.append(int(node_id))
        data.coords.append((x, y))
        data.ready.append(ready)
        data.due.append(due)
        data.service.append(service)
    if len(set(data.ids)) != len(data.ids):
        raise FormatError("customer numbers repeat")
    return data


# --------------------------------------------------------------------------- instances


def _build(
    name: str,
    ids: list[int],
    coords: Sequence[Sequence[float]] | None,
    matrix: list[list[float]],
    *,
    agents: int,
    depot: int | None,
    windows: list[tuple[float, float]] | None = None,
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
            for a in range(agents)
        ],
        "costs": {AGENT_TYPE: matrix},
        "constraints": constraints,
        "options": {"objective": "min_max", "return_to_end": True},
    }


def tsplib_to_instance(
    text: str, *, agents: int = 1, depot: int | None = None, distances: str = "nint"
) -> dict[str, Any]:
    """A JSON instance from TSPLIB text: ``agents`` agents start and end at node id
    ``depot`` (default: the file's DEPOT_SECTION, else its first node)."""
    data = parse_tsplib(text)
    if depot is None and data.depots:
        depot = data.depots[0]
    return _build(
        data.name,
        data.ids,
        data.coords,
        tsplib_matrix(data, distances),
        agents=agents,
        depot=depot,
    )


def solomon_to_instance(
    text: str, *, agents: int | None = None, depot: int | None = None, distances: str = "exact"
) -> dict[str, Any]:
    """A JSON instance from Solomon text: service time folded into the moves out of each
    node, every node's window ``[ready, due]``; ``agents`` defaults to the file's
    vehicle number."""
    if distances not in DISTANCE_MODES:
        raise ValueError(f"distances must be one of {DISTANCE_MODES} (got {distances!r})")
    data = parse_solomon(text)
    n = len(data.ids)
    matrix = []
    for i in range(n):
        row = []
        for j in range(n):
            d = math.dist(data.coords[i], data.coords[j])
            if distances == "nint":
                d = float(nint(d))
            row.append(0.0 if i == j else data.service[i] + d)
        matrix.append(row)
    return _build(
        data.name,
        data.ids,
        data.coords,
        matrix,
        agents=agents if agents is not None else max(data.vehicles, 1),
        depot=depot,
        windows=list(zip(data.ready, data.due)),
    )


def detect_format(path: str | Path, text: str) -> str:
    """``"json"``, ``"tsplib"`` or ``"solomon"``: by the file's content, then its suffix."""
    stripped = text.lstrip()
    if stripped.startswith("{"):
        return "json"
    if re.search(r"^\s*(DIMENSION|EDGE_WEIGHT_TYPE)\s*:", text, re.MULTILINE):
        return "tsplib"
    if any(
        len(f) == 7 and all(_INT.match(t) for t in f)
        for f in (line.split() for line in text.splitlines())
    ):
        return "solomon"
    suffix = Path(path).suffix.lower()
    if suffix == ".json":
        return "json"
    if suffix in (".tsp", ".atsp"):
        return "tsplib"
    raise FormatError(f"{path}: not a JSON instance, a TSPLIB file or a Solomon file")


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
        if objective not in OBJECTIVES:
            raise ValueError(f"objective must be min-max or min-sum (got {objective!r})")
        options["objective"] = OBJECTIVES[objective]
    if open_routes:
        options["return_to_end"] = False
    if time_limit is not None and time_limit > 0:
        options["time_limit"] = time_limit
    return instance


def load_instance(
    path: str | Path,
    *,
    fmt: str | None = None,
    agents: int | None = None,
    depot: int | None = None,
    distances: str | None = None,
) -> dict[str, Any]:
    """Reads a JSON instance, a TSPLIB file or a Solomon file as a JSON instance dict.

    ``fmt`` forces the format (otherwise :func:`detect_format`); ``agents``, ``depot``
    and ``distances`` apply to TSPLIB and Solomon files only (``distances`` defaults to
    ``"nint"`` for TSPLIB, as its published values use, and ``"exact"`` for Solomon).
    """
    # Universal newlines: CRLF files (the Solomon set) read like LF ones.
    text = Path(path).read_text(encoding="utf-8", errors="replace")
    fmt = fmt or detect_format(path, text)
    if fmt == "json":
        if agents is not None or depot is not None or distances is not None:
            raise ValueError(
                "--agents, --depot and --distances apply to TSPLIB and Solomon files only"
            )
        try:
            instance = json.loads(text)
        except json.JSONDecodeError as error:
            raise FormatError(f"{path}: not valid JSON: {error}") from None
        if not isinstance(instance, dict):
            raise FormatError(f"{path}: a JSON instance is an object")
        from zelk.schema import prepare_instance

        return prepare_instance(instance, source=str(path), stacklevel=3)
    if fmt == "tsplib":
        return tsplib_to_instance(
            text, agents=1 if agents is None else agents, depot=depot, distances=distances or "nint"
        )
    if fmt == "solomon":
        return solomon_to_instance(text, agents=agents, depot=depot, distances=distances or "exact")
    raise ValueError(f"unknown format {fmt!r} (json, tsplib or solomon)")
