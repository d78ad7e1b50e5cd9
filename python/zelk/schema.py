"""Checking JSON instances before they reach the core, with a JSON Schema and the rules a
schema cannot state.

The schema ships with the package (``instance.schema.json``, also in the docs) and is
checked with the ``jsonschema`` library. Every problem names its place in the document,
as ``nodes[3].x: 'a' is not of type 'number'``. Beyond the schema, zelk checks that node
and agent ids are unique, that every node id an agent or constraint names exists, that
cost matrices have one row and one column per node and hold finite costs >= 0, and that
time windows do not close before they open.

Where the intent is plain, :func:`prepare_instance` is kinder than the core's own
reader: a node without ``"z"`` lies at z = 0, and an agent type without a cost matrix
travels at the exact Euclidean distance between node coordinates (with a warning).
Unknown keys are ignored, as the core ignores them, with a warning naming them. A node
without an assignment item is given one that allows every agent type, which is what the
core does with it, without the core's warning per node.
"""

from __future__ import annotations

import difflib
import functools
import json
import math
import re
import warnings
from collections.abc import Iterable, Mapping, Sequence
from importlib import resources
from typing import Any

from zelk.fleet import fleet_problems, sequence_refusal
from zelk.formats import FormatError

__all__ = [
    "InstanceError",
    "InstanceWarning",
    "check_instance",
    "instance_problems",
    "instance_schema",
    "prepare_instance",
]

#: At most this many problems are listed in one error.
MAX_PROBLEMS = 20

# Keys the core reads, per kind of object; anything else draws a warning.
_KNOWN_KEYS = {
    "": {"name", "nodes", "agents", "costs", "constraints", "options"},
    "nodes[]": {"id", "x", "y", "z", "type", "demand", "service", "required", "penalty"},
    "agents[]": {"id", "type", "start_node", "end_node", "capacity", "max_length"},
    "options": {"return_to_end", "objective", "time_limit"},
    "constraints[]": {"kind", "items", "precedence"},
    "constraints[].items[]": {"node", "types", "start", "end"},
    "constraints[].precedence[]": {"before", "after", "type"},
}


class InstanceError(FormatError):
    """A JSON instance that is not valid; ``problems`` lists each fault with its place
    (the message shows the first few, one per line)."""

    def __init__(self, problems: Sequence[str], source: str | None = None) -> None:
        self.problems = list(problems)
        shown = self.problems[:MAX_PROBLEMS]
        more = len(self.problems) - len(shown)
        text = "\n".join(shown) + (f"\n... and {more} more" if more > 0 else "")
        super().__init__(f"{source}: {text}" if source else text)


class InstanceWarning(UserWarning):
    """Something in a JSON instance zelk reads in a way worth knowing: an unknown key,
    a missing cost matrix replaced by distances."""


@functools.cache
def instance_schema() -> dict[str, Any]:
    """The JSON Schema of instances (draft 2020-12), as shipped in the package."""
    text = resources.files("zelk").joinpath("instance.schema.json").read_text("utf-8")
    return json.loads(text)


@functools.cache
def _validator() -> Any:
    import jsonschema

    schema = instance_schema()
    cls = jsonschema.validators.validator_for(schema)
    cls.check_schema(schema)
    return cls(schema)


# --------------------------------------------------------------------------- places


def place(path: Iterable[Any]) -> str:
    """``nodes[3].x`` for the path ``("nodes", 3, "x")``; an awkward key is quoted."""
    text = ""
    for part in path:
        if isinstance(part, int):
            text += f"[{part}]"
        elif re.fullmatch(r"[A-Za-z_][A-Za-z0-9_]*", str(part)):
            text += f".{part}" if text else str(part)
        else:
            text += f"[{json.dumps(str(part))}]"
    return text or "the instance"


def _suggestion(value: Any, choices: Sequence[Any]) -> str:
    if not isinstance(value, str):
        return ""
    squeeze = lambda s: re.sub(r"[^a-z0-9]", "", s.lower())
    for choice in choices:
        if squeeze(choice) == squeeze(value):
            return f" (did you mean {choice!r}?)"
    close = difflib.get_close_matches(value, [str(c) for c in choices], n=1)
    return f" (did you mean {close[0]!r}?)" if close else ""


def _message(error: Any) -> str:
    where = place(error.absolute_path)
    if error.validator == "enum":
        choices = error.validator_value
        listed = ", ".join(repr(c) for c in choices)
        return (
            f"{where}: {error.instance!r} is not one of {listed}"
            f"{_suggestion(error.instance, choices)}"
        )
    if error.validator == "anyOf" and error.context:
        # A number or an array of numbers: say what broke in the form that was meant.
        import jsonschema

        meant = [e for e in error.context if e.validator != "type"] or list(error.context)
        return _message(jsonschema.exceptions.best_match(meant))
    if error.validator == "minItems" and error.instance == []:
        return f"{where}: is empty; an instance needs at least one"
    return f"{where}: {error.message}"


# --------------------------------------------------------------------------- checks


def _skeleton(instance: Mapping[str, Any]) -> dict[str, Any]:
    # Matrices are checked by hand below: far faster than the schema validator on a
    # large instance, and their errors can name type, entry and sizes.
    skeleton = dict(instance)
    # Nodes and agents of the plainest kind cannot break the schema: when every one is,
    # the first stands for all (the validator takes about 40 us per item, 0.4 s on
    # 10,000 nodes). One that is not sends the whole list through, so that every
    # message still names its place.
    for key, plain in (("nodes", _plain_node), ("agents", _plain_agent)):
        items = instance.get(key)
        if isinstance(items, list) and len(items) > 1 and all(map(plain, items)):
            skeleton[key] = items[:1]
    costs = instance.get("costs")
    if isinstance(costs, Mapping):
        skeleton["costs"] = {name: [] for name in costs}
    elif isinstance(costs, list):
        skeleton["costs"] = [[] for _ in costs]
    # So are the type lists of assignment items that hold only names: with many agent
    # types they are most of the instance, and the validator takes seconds over them.
    constraints = instance.get("constraints")
    if isinstance(constraints, list):
        skeleton["constraints"] = [_assignment_skeleton(c) for c in constraints]
    return skeleton


_PLAIN_NODE_KEYS = frozenset({"id", "x", "y", "z", "type"})
_PLAIN_AGENT_KEYS = frozenset({"id", "type", "start_node", "end_node"})
_NUMBERS = (int, float)


def _whole_id(value: Any) -> bool:
    return type(value) is int and value >= 0


def _plain_node(node: Any) -> bool:
    """True for a node of only an id, coordinates and a role, each of the schema's type."""
    # Written out: it runs once per node, and calls cost more than the checks.
    if type(node) is not dict or not node.keys() <= _PLAIN_NODE_KEYS:
        return False
    node_id = node.get("id")
    return (
        type(node_id) is int
        and node_id >= 0
        and type(node.get("x")) in _NUMBERS
        and type(node.get("y")) in _NUMBERS
        and type(node.get("z", 0.0)) in _NUMBERS
        and node.get("type", "TARGET") in ("DEPOT", "TARGET")
    )


def _plain_agent(agent: Any) -> bool:
    """True for an agent of only an id, a type name, and start and end node ids."""
    return (
        type(agent) is dict
        and agent.keys() <= _PLAIN_AGENT_KEYS
        and all(_whole_id(agent.get(k)) for k in ("id", "start_node", "end_node"))
        and type(agent.get("type")) is str
    )


def _assignment_skeleton(constraint: Any) -> Any:
    if not isinstance(constraint, Mapping) or constraint.get("kind") != "assignment":
        return constraint
    items = constraint.get("items")
    if not isinstance(items, list):
        return constraint
    # As with nodes: when every item is a node id and a list of names, the first stands
    # for all (10,000 items took the validator 1.3 s).
    if len(items) > 1 and all(map(_plain_assignment_item, items)):
        return {**constraint, "items": [{**items[0], "types": []}]}
    plain = [
        {**item, "types": []}
        if isinstance(item, Mapping)
        and isinstance(item.get("types"), list)
        and set(map(type, item["types"])) <= {str}
        else item
        for item in items
    ]
    return {**constraint, "items": plain}


def _plain_assignment_item(item: Any) -> bool:
    """True for an assignment item of only a node id and a list of type names."""
    if type(item) is not dict or item.keys() != _ASSIGNMENT_ITEM_KEYS:
        return False
    node, types = item["node"], item["types"]
    return type(node) is int and node >= 0 and type(types) is list and set(map(type, types)) <= _STR


_ASSIGNMENT_ITEM_KEYS = frozenset({"node", "types"})
_STR = frozenset({str})


def _plain_costs(row: list[Any]) -> bool:
    """True when every entry of ``row`` is a finite number >= 0, tested with built-ins
    that run at C speed; a row that fails is then searched entry by entry for what to
    report (a sum that overflows sends a valid row there too, which finds nothing)."""
    return (
        set(map(type, row)) <= _NUMBER_TYPES
        and (not row or min(row) >= 0)
        and math.isfinite(sum(row))
    )


_NUMBER_TYPES = frozenset({int, float})


def _array_problems(name: str, where: str, array: Any, n: int) -> list[str]:
    """The faults of a NumPy cost matrix, found without a Python loop over its entries."""
    import numpy

    if array.ndim != 2 or array.shape != (n, n):
        shape = tuple(array.shape)
        return [f"{where}: the matrix of type {name!r} has shape {shape} for {n} nodes (it must be {n} x {n})"]
    if array.dtype.kind not in "iuf":
        return [f"{where}: the matrix of type {name!r} holds {array.dtype} values, not numbers"]
    # Two passes without temporaries for the common, valid case (NaN fails both tests).
    if array.size == 0 or (array.min() >= 0 and array.max() < math.inf):
        return []
    bad = ~numpy.isfinite(array) | (array < 0)
    if not bad.any():
        return []
    i, j = (int(k) for k in numpy.argwhere(bad)[0])
    cost = float(array[i, j])
    rule = "is not a finite cost" if not math.isfinite(cost) else "is negative; travel costs must be >= 0"
    return [f"{where}[{i}][{j}]: the cost {cost:g} of type {name!r} {rule}"]


def _matrix_problems(name: str, where: str, matrix: Any, n: int) -> list[str]:
    from zelk.distances import PositionDistances

    if isinstance(matrix, PositionDistances):
        if len(matrix) != n:
            return [f"{where}: the distances of type {name!r} are between {len(matrix)} points for {n} nodes"]
        return []
    if hasattr(matrix, "__array_interface__") and hasattr(matrix, "ndim"):
        return _array_problems(name, where, matrix, n)
    if not isinstance(matrix, list):
        return [f"{where}: the matrix of type {name!r} is not an array of rows"]
    problems: list[str] = []
    if len(matrix) != n:
        problems.append(
            f"{where}: the matrix of type {name!r} has {len(matrix)} rows for {n} nodes "
            f"(it must be {n} x {n})"
        )
    for i, row in enumerate(matrix):
        if not isinstance(row, list):
            problems.append(f"{where}[{i}]: row {i} of type {name!r} is not an array")
            continue
        if len(row) != n:
            problems.append(
                f"{where}[{i}]: row {i} of type {name!r} has {len(row)} entries for {n} "
                f"nodes (it must be {n} x {n})"
            )
        if _plain_costs(row):
            continue
        for j, cost in enumerate(row):
            if isinstance(cost, bool) or not isinstance(cost, (int, float)):
                problems.append(f"{where}[{i}][{j}]: {cost!r} is not a number")
            elif not math.isfinite(cost):
                problems.append(f"{where}[{i}][{j}]: {cost} is not a finite cost")
            elif cost < 0:
                problems.append(
                    f"{where}[{i}][{j}]: the cost {cost:g} of type {name!r} from vertex {i} "
                    f"to vertex {j} is negative; travel costs must be >= 0"
                )
            if len(problems) > MAX_PROBLEMS:
                return problems
    return problems


def named_matrices(costs: Any) -> dict[str, Any]:
    """An instance's "costs" as {type name: matrix}: an array of matrices names its types
    by index, as the core reads it."""
    if isinstance(costs, Mapping):
        return dict(costs)
    if isinstance(costs, list):
        return {str(k): m for k, m in enumerate(costs)}
    return {}


def _cost_items(costs: Any) -> list[tuple[str, str, Any]]:
    """(type name, place, matrix) per matrix of ``costs``."""
    if isinstance(costs, Mapping):
        return [(str(k), place(["costs", k]), m) for k, m in costs.items()]
    if isinstance(costs, list):
        return [(str(k), place(["costs", k]), m) for k, m in enumerate(costs)]
    return []


def _finite(value: Any) -> bool:
    return not isinstance(value, float) or math.isfinite(value)


_NUMERIC_NODE_KEYS = frozenset({"x", "y", "z", "demand", "service", "penalty"})


def _semantic_problems(instance: Mapping[str, Any]) -> list[str]:
    problems: list[str] = []
    nodes = instance["nodes"]
    agents = instance["agents"]
    first_node: dict[int, int] = {}
    for v, node in enumerate(nodes):
        node_id = int(node["id"])
        if node_id in first_node:
            problems.append(
                f"nodes[{v}]: id {node_id} repeats the id of nodes[{first_node[node_id]}]; "
                "node ids must be unique"
            )
        first_node.setdefault(node_id, v)
        for key, value in node.items():
            if key not in _NUMERIC_NODE_KEYS:
                continue
            if type(value) is float:  # the common case, checked without a call
                if value - value == 0.0:
                    continue
            elif type(value) is int:
                continue
            if not all(map(_finite, value if isinstance(value, list) else [value])):
                problems.append(f"nodes[{v}].{key}: {value} is not a finite number")
    first_agent: dict[int, int] = {}
    for k, agent in enumerate(agents):
        agent_id = int(agent["id"])
        if agent_id in first_agent:
            problems.append(
                f"agents[{k}]: id {agent_id} repeats the id of agents[{first_agent[agent_id]}]; "
                "agent ids must be unique (each agent has a route of its own)"
            )
        first_agent.setdefault(agent_id, k)
        for key in ("start_node", "end_node"):
            if int(agent[key]) not in first_node:
                problems.append(f"agents[{k}].{key}: {agent[key]} is not the id of a node")
    types = {str(agent["type"]) for agent in agents}
    checked: set[int] = set()
    for name, where, matrix in _cost_items(instance.get("costs")):
        if name not in types:
            problems.append(
                f"{where}: no agent has the type {name!r} "
                f"(the agents' types: {', '.join(map(repr, sorted(types)))})"
            )
        # One matrix shared by many types is checked once (under the first name).
        if id(matrix) not in checked:
            checked.add(id(matrix))
            problems.extend(_matrix_problems(name, where, matrix, len(nodes)))
    for c, constraint in enumerate(instance.get("constraints") or []):
        key = "precedence" if constraint["kind"] == "sequence" else "items"
        for i, item in enumerate(constraint.get(key) or []):
            where = f"constraints[{c}].{key}[{i}]"
            for field in ("node", "before", "after"):
                if field in item and int(item[field]) not in first_node:
                    problems.append(f"{where}.{field}: {item[field]} is not the id of a node")
            if constraint["kind"] == "timewindow":
                start, end = item["start"], item["end"]
                if not (_finite(start) and _finite(end)):
                    problems.append(f"{where}: the window [{start}, {end}] is not finite")
                elif end < start:
                    problems.append(
                        f"{where}: the window of node {item['node']} closes at {end:g}, "
                        f"before it opens at {start:g}"
                    )
    problems += _limit_problems(instance, types)
    problems.extend(fleet_problems(instance))
    refusal = sequence_refusal(instance)
    if refusal is not None:
        problems.append(refusal)
    return problems


def _limit_problems(instance: Mapping[str, Any], types: set[str]) -> list[str]:
    """What zelk refuses beyond the JSON entry points' reading: names of types no agent
    has (they match nothing), negative agent limits, and a budget that is not a positive
    finite number (the JSON entry points read 0 or less as their default)."""
    problems: list[str] = []
    for k, agent in enumerate(instance["agents"]):
        for key in ("capacity", "max_length"):
            value = agent.get(key, 0)
            # Arrays of capacities are checked with the other fleet fields.
            if isinstance(value, (bool, list, tuple)):
                continue
            if not _finite(value) or value < 0:
                problems.append(f"agents[{k}].{key}: {value} must be a finite number >= 0")
    for c, constraint in enumerate(instance.get("constraints") or []):
        if constraint["kind"] != "assignment":
            continue
        for i, item in enumerate(constraint["items"]):
            unknown = [name for name in item["types"] if name not in types]
            if unknown:
                problems.append(
                    f"constraints[{c}].items[{i}].types: {', '.join(map(repr, unknown))} is "
                    f"not the type of any agent (the agents' types: "
                    f"{', '.join(map(repr, sorted(types)))})"
                )
            if len(problems) > MAX_PROBLEMS:
                return problems
    options = instance.get("options") or {}
    if "time_limit" in options:
        limit = options["time_limit"]
        if not _finite(limit) or not limit > 0:
            problems.append(
                f"options.time_limit: {limit} must be a positive finite number of seconds"
            )
    return problems


def instance_problems(instance: Any) -> list[str]:
    """Every problem of ``instance`` as a JSON instance, each naming its place; empty
    when it is valid."""
    if not isinstance(instance, Mapping):
        return [f"the instance: a JSON instance is an object, not {type(instance).__name__}"]
    errors = sorted(
        _validator().iter_errors(_skeleton(instance)),
        key=lambda e: [str(p) for p in e.absolute_path],
    )
    problems = [_message(error) for error in errors]
    if problems:
        # The rules below read what the schema guarantees.
        return problems
    return _semantic_problems(instance)


def check_instance(instance: Any, *, source: str | None = None) -> None:
    """Raises :class:`InstanceError` listing the problems of ``instance``, if any;
    ``source`` (a file name) starts the message."""
    problems = instance_problems(instance)
    if problems:
        raise InstanceError(problems, source)


# --------------------------------------------------------------------------- defaults


def _unknown_keys(instance: Mapping[str, Any]) -> dict[str, int]:
    """Unknown key patterns (``nodes[].colour``) and how often each occurs."""
    found: dict[str, int] = {}

    def visit(obj: Any, kind: str) -> None:
        if not isinstance(obj, Mapping):
            return
        for key in obj:
            if key not in _KNOWN_KEYS[kind]:
                pattern = f"{kind}.{key}" if kind else str(key)
                found[pattern] = found.get(pattern, 0) + 1

    visit(instance, "")
    visit(instance.get("options"), "options")
    for kind in ("nodes", "agents"):
        items = instance.get(kind) or []
        known = _KNOWN_KEYS[f"{kind}[]"]
        # Nearly always every item is all known keys: found at C speed, item by item
        # only otherwise.
        try:
            plain = all(map(known.issuperset, items))
        except TypeError:  # an item that is not a mapping has no keys to name
            plain = False
        if not plain:
            for item in items:
                visit(item, f"{kind}[]")
    for constraint in instance.get("constraints") or []:
        visit(constraint, "constraints[]")
        for key in ("items", "precedence"):
            for item in constraint.get(key) or []:
                visit(item, f"constraints[].{key}[]")
    return found


def _warn(message: str, stacklevel: int) -> None:
    warnings.warn(message, InstanceWarning, stacklevel=stacklevel + 1)


def warn_no_matrix(missing: Sequence[str], source: str | None, stacklevel: int) -> None:
    """The warning for agent types that travel at the distance between coordinates."""
    prefix = f"{source}: " if source else ""
    # One line for them all: an instance of many types would otherwise bury the rest.
    shown = ", ".join(map(repr, missing[:3])) + (", ..." if len(missing) > 3 else "")
    _warn(
        f"{prefix}agent type {shown} has no cost matrix: it travels at the exact "
        "Euclidean distance between node coordinates"
        if len(missing) == 1
        else f"{prefix}{len(missing)} agent types ({shown}) have no cost matrix: they "
        "travel at the exact Euclidean distance between node coordinates",
        stacklevel + 1,
    )


def _canonical_objective(instance: Any) -> Any:
    """``instance`` with its objective in the spelling the core reads, when it is one of
    the others zelk accepts (``min-max``, ``Min_Sum``, ...)."""
    options = instance.get("options") if isinstance(instance, Mapping) else None
    if not isinstance(options, Mapping):
        return instance
    objective = options.get("objective")
    if not isinstance(objective, str) or objective in ("min_max", "min_sum"):
        return instance
    from zelk.formats import objective_name

    try:
        canonical = objective_name(objective)
    except ValueError:
        return instance  # the schema names the fault
    return {**instance, "options": {**options, "objective": canonical}}


def prepare_instance(
    instance: Any,
    *,
    source: str | None = None,
    stacklevel: int = 2,
    computed_distances: bool = False,
) -> dict[str, Any]:
    """The instance as the core should read it: checked, then with the kinder defaults
    filled in. ``instance`` itself is not changed. With ``computed_distances``, the types
    without a matrix share one :class:`zelk.distances.PositionDistances` instead of an
    n x n list (for the solve paths; a list is what JSON can write).

    Raises
    ------
    InstanceError
        When the instance is not valid (a ValueError; the message names each place).
    """
    instance = _canonical_objective(instance)
    check_instance(instance, source=source)
    prefix = f"{source}: " if source else ""
    for pattern, count in _unknown_keys(instance).items():
        times = f" ({count} times)" if count > 1 else ""
        _warn(f"{prefix}unknown key {pattern}{times} is ignored", stacklevel + 1)
    prepared = dict(instance)
    nodes = instance["nodes"]
    if any("z" not in node for node in nodes):
        prepared["nodes"] = [node if "z" in node else {**node, "z": 0.0} for node in nodes]
    costs = instance.get("costs")
    named = {name for name, _, _ in _cost_items(costs)}
    missing = sorted({str(a["type"]) for a in instance["agents"]} - named)
    if missing:
        from zelk.distances import PositionDistances

        points = [
            (float(n["x"]), float(n["y"]), float(n.get("z", 0.0))) for n in prepared["nodes"]
        ]
        distances: Any
        if computed_distances:
            # Computed when read, and by the core itself: no n x n list for any size.
            distances = PositionDistances(points)
        else:
            distances = [[math.dist(p, q) for q in points] for p in points]
        # An array of matrices names its types by index; a name needs the object form.
        prepared["costs"] = {**named_matrices(costs), **{name: distances for name in missing}}
        warn_no_matrix(missing, source, stacklevel + 1)
    # The core allows every type on a node without an assignment item, with a warning
    # per node; saying so in the instance keeps the warnings out.
    assigned = {
        int(item["node"])
        for constraint in instance.get("constraints") or []
        if constraint["kind"] == "assignment"
        for item in constraint["items"]
    }
    open_nodes = [int(n["id"]) for n in nodes if int(n["id"]) not in assigned]
    if open_nodes:
        every_type = sorted({str(a["type"]) for a in instance["agents"]})
        items = [{"node": node_id, "types": every_type} for node_id in open_nodes]
        prepared["constraints"] = [
            *(instance.get("constraints") or []),
            {"kind": "assignment", "items": items},
        ]
    return prepared
