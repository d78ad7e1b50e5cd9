"""Instance checking in the zelk layer: the shipped JSON Schema, the rules beyond it, and
the kinder defaults; the specified core functions keep their own reader."""

from __future__ import annotations

import copy
import json
import math
import re
from pathlib import Path
from typing import Any

import jsonschema
import pytest

import zelk
from zelk.schema import InstanceError, InstanceWarning, instance_problems, prepare_instance

ROOT = Path(__file__).resolve().parents[2]


def base() -> dict[str, Any]:
    """A valid instance: depot 0 and targets 1, 2 on a line; agents 0 and 1 of type t."""
    return {
        "nodes": [
            {"id": i, "x": float(i), "y": 0.0, "z": 0.0, "type": "DEPOT" if i == 0 else "TARGET"}
            for i in range(3)
        ],
        "agents": [{"id": a, "type": "t", "start_node": 0, "end_node": 0} for a in range(2)],
        "costs": {"t": [[float(abs(i - j)) for j in range(3)] for i in range(3)]},
        "constraints": [
            {"kind": "timewindow", "items": [{"node": 1, "start": 0, "end": 50}]},
            {"kind": "assignment", "items": [{"node": i, "types": ["t"]} for i in range(3)]},
        ],
        "options": {"objective": "min_max", "time_limit": 2},
    }


def damaged(path: str, value: Any) -> dict[str, Any]:
    """base() with the value at ``path`` (dotted, ints index lists) replaced; the value
    ``...`` deletes the key."""
    instance = base()
    *parents, last = [int(p) if p.isdigit() else p for p in path.split(".")]
    target: Any = instance
    for part in parents:
        target = target[part]
    if value is ...:
        del target[last]
    else:
        target[last] = value
    return instance


@pytest.mark.parametrize(
    ("path", "value", "message"),
    [
        # Required keys and types, with their place.
        ("nodes.1.x", ..., "nodes[1]: 'x' is a required property"),
        ("nodes.2.y", "north", "nodes[2].y: 'north' is not of type 'number'"),
        ("agents.0.type", ..., "agents[0]: 'type' is a required property"),
        ("agents.1.start_node", -1, "agents[1].start_node: -1 is less than the minimum of 0"),
        ("nodes", {"id": 0}, "nodes: {'id': 0} is not of type 'array'"),
        ("agents", [], "agents: is empty"),
        ("options.return_to_end", "no", "options.return_to_end: 'no' is not of type 'boolean'"),
        ("constraints.0.items.0.end", ..., "constraints[0].items[0]: 'end' is a required"),
        # Spellings the core would silently read otherwise, with the right one suggested.
        ("options.objective", "MinMax", "options.objective: 'MinMax' is not one of 'min_max', "
         "'min_sum', 'MIN_MAX', 'MIN_SUM' (did you mean 'min_max'?)"),  # fmt: skip
        ("options.objective", "minmax", "options.objective: 'minmax' is not one of"),
        ("nodes.0.type", "depot", "nodes[0].type: 'depot' is not one of 'DEPOT', 'TARGET'"),
        ("constraints.0.kind", "time_window", "constraints[0].kind: 'time_window' is not one of "
         "'assignment', 'timewindow', 'sequence' (did you mean 'timewindow'?)"),  # fmt: skip
        # Rules beyond the schema.
        ("agents.1.id", 0, "agents[1]: id 0 repeats the id of agents[0]; agent ids must be unique"),
        ("nodes.2.id", 1, "nodes[2]: id 1 repeats the id of nodes[1]"),
        ("agents.0.end_node", 9, "agents[0].end_node: 9 is not the id of a node"),
        ("constraints.0.items.0.node", 5, "constraints[0].items[0].node: 5 is not the id"),
        # One item unlike the others among many plain ones is still found and named.
        ("constraints.1.items.2.types", ["t", 3], "constraints[1].items[2].types[1]: 3 is not "
         "of type 'string'"),  # fmt: skip
        ("constraints.1.items.1.node", -2, "constraints[1].items[1].node: -2 is less than"),
        ("constraints.1.items.1.node", 7, "constraints[1].items[1].node: 7 is not the id"),
        ("constraints.0.items.0.start", 60, "constraints[0].items[0]: the window of node 1 "
         "closes at 50, before it opens at 60"),  # fmt: skip
        ("costs.t.1.2", -1.5, "costs.t[1][2]: the cost -1.5 of type 't' from vertex 1 to "
         "vertex 2 is negative"),  # fmt: skip
        ("costs.t.2", [1.0, 1.0], "costs.t[2]: row 2 of type 't' has 2 entries for 3 nodes"),
        ("costs.t", [[0.0] * 3] * 2, "costs.t: the matrix of type 't' has 2 rows for 3 nodes"),
        ("costs.t.0.1", "far", "costs.t[0][1]: 'far' is not a number"),
        ("costs.t.0.1", math.inf, "costs.t[0][1]: inf is not a finite cost"),
        ("costs.lorry", [[0.0] * 3] * 3, "costs.lorry: no agent has the type 'lorry'"),
        ("nodes.0.x", math.nan, "nodes[0].x: nan is not a finite number"),
    ],
)
def test_each_damaged_field_is_named_with_its_place(path: str, value: Any, message: str) -> None:
    """A damaged instance is refused by zelk.solve, naming the place and the rule."""
    instance = damaged(path, value)
    assert any(message in problem for problem in instance_problems(instance)), (
        instance_problems(instance)
    )
    with pytest.raises(InstanceError, match=re.escape(message)):
        zelk.solve(instance, improve=False)


def test_duplicate_agent_ids_still_reach_the_core_unchanged() -> None:
    """The specified entry point keeps its behaviour: both routes carry the same id."""
    result = zelk.solve_json_str(json.dumps(damaged("agents.1.id", 0)))
    assert [route["agent_id"] for route in result["routes"]] == [0, 0]


def test_missing_z_reads_as_zero() -> None:
    """Nodes without "z" solve as nodes at z = 0, without a warning."""
    instance = base()
    for node in instance["nodes"]:
        del node["z"]
    prepared = prepare_instance(instance)
    assert [node["z"] for node in prepared["nodes"]] == [0.0] * 3
    assert all("z" not in node for node in instance["nodes"])  # the caller's dict stays
    solution = zelk.solve(instance, improve=False)
    assert solution.found and solution.objective_value == 4.0  # 0 -> 2 -> 0, one agent


def test_missing_matrix_uses_euclidean_distances_with_a_warning() -> None:
    """A type without a matrix travels at the exact distance between coordinates and the
    warning says so; the result equals the one with that matrix given."""
    points = [(0, 0, 0), (3, 4, 0), (3, 4, 12), (-1, 0, 0)]
    instance = {
        "nodes": [{"id": i, "x": x, "y": y, "z": z} for i, (x, y, z) in enumerate(points)],
        "agents": [{"id": 0, "type": "drone", "start_node": 0, "end_node": 0}],
    }
    with pytest.warns(InstanceWarning, match="agent type 'drone' has no cost matrix"):
        prepared = prepare_instance(instance)
    assert prepared["costs"]["drone"][0][1] == 5.0 and prepared["costs"]["drone"][1][2] == 12.0
    with pytest.warns(InstanceWarning):
        solution = zelk.solve(instance, improve=False)
    # 0 -> 1 -> 2 -> 3 -> 0: 5 + 12 + sqrt(4² + 4² + 12²) + 1, the shortest tour.
    assert solution.objective_value == pytest.approx(18 + math.sqrt(176))
    assert zelk.check_solution(prepared, solution) == []


def test_unknown_keys_are_ignored_with_one_warning_each() -> None:
    """Unknown keys draw one warning per key pattern, counted, and change nothing."""
    instance = base()
    instance["colour"] = "red"
    for node in instance["nodes"]:
        node["label"] = "x"
    with pytest.warns(InstanceWarning) as caught:
        prepare_instance(instance)
    messages = sorted(str(w.message) for w in caught)
    assert messages == [
        "unknown key colour is ignored",
        "unknown key nodes[].label (3 times) is ignored",
    ]


def test_load_instance_names_the_file(tmp_path: Path) -> None:
    """A damaged JSON file is refused by load_instance with the file and the place."""
    path = tmp_path / "bad.json"
    path.write_text(json.dumps(damaged("nodes.1.x", ...)))
    with pytest.raises(InstanceError, match=r"bad.json: nodes\[1\]: 'x' is a required"):
        zelk.load_instance(path)


@pytest.mark.parametrize(
    "path", sorted(ROOT.glob("examples/*.json")), ids=lambda p: p.name
)
def test_shipped_schema_accepts_the_examples(path: Path) -> None:
    """The schema file, read by plain jsonschema as another tool would, accepts every
    example instance, and zelk finds nothing beyond it."""
    schema = json.loads((ROOT / "python/zelk/instance.schema.json").read_text())
    jsonschema.Draft202012Validator.check_schema(schema)
    instance = json.loads(path.read_text())
    jsonschema.Draft202012Validator(schema).validate(instance)
    assert instance_problems(instance) == []


def test_schema_check_leaves_complete_instances_as_they_are() -> None:
    """prepare_instance returns an equal dict for a complete, valid instance; nodes
    without an assignment item get one allowing every type."""
    instance = base()
    prepared = prepare_instance(copy.deepcopy(instance))
    assert prepared["constraints"][-1] == {
        "kind": "assignment",
        "items": [{"node": i, "types": ["t"]} for i in range(3)],
    }
    assert prepare_instance(copy.deepcopy(prepared)) == prepared


def test_docs_carry_the_shipped_schema() -> None:
    """The schema in docs/ is the one the package checks with."""
    docs = json.loads((ROOT / "docs/instance.schema.json").read_text())
    assert docs == zelk.schema.instance_schema()
