"""Enumerations and instance records as Python sees them."""

import gc
import operator
import pickle
from collections.abc import Callable
from typing import Any

import pytest

from zelk import (
    Agent,
    AssignmentConstraint,
    Node,
    NodeType,
    ObjectiveType,
    Options,
    Position,
    Problem,
    Result,
    TimeWindowConstraint,
)

MEMBERS = [
    # (enumeration, member name, value)
    (ObjectiveType, "MinMax", 0),
    (ObjectiveType, "MinSum", 1),
    (NodeType, "DEPOT", 0),
    (NodeType, "TARGET", 1),
]


@pytest.mark.parametrize(("enum", "name", "value"), MEMBERS)
def test_enum_member_protocol(enum: Any, name: str, value: int) -> None:
    """Each member round-trips through its value, int, str, repr and pickling."""
    member = getattr(enum, name)
    assert enum(value) == member
    assert member.name == name
    assert member.value == value
    assert int(member) == value
    assert operator.index(member) == value
    assert str(member) == f"{enum.__name__}.{name}"
    assert repr(member) == f"<{enum.__name__}.{name}: {value}>"
    assert member.__getstate__() == value
    assert pickle.loads(pickle.dumps(member)) == member
    assert hash(member) == hash(enum(value))


def test_enum_members_mapping() -> None:
    """__members__ maps each name to its member, and nothing else."""
    assert ObjectiveType.__members__ == {
        "MinMax": ObjectiveType.MinMax,
        "MinSum": ObjectiveType.MinSum,
    }
    assert NodeType.__members__ == {"DEPOT": NodeType.DEPOT, "TARGET": NodeType.TARGET}


def test_enum_equality_is_within_one_enumeration() -> None:
    """Members equal only members of their own enumeration, never ints or other enums."""
    assert ObjectiveType(1) == ObjectiveType.MinSum
    assert ObjectiveType.MinSum != ObjectiveType.MinMax
    # Same value 1, different enumeration.
    assert ObjectiveType.MinSum != NodeType.TARGET
    assert ObjectiveType.MinSum != 1
    assert ObjectiveType.MinSum != None  # noqa: E711
    assert len({NodeType.DEPOT, NodeType(0), NodeType.TARGET}) == 2


@pytest.mark.parametrize(
    "operation",
    [
        # no ordering
        lambda: ObjectiveType.MinMax < ObjectiveType.MinSum,
        lambda: NodeType.DEPOT >= NodeType.TARGET,
        # no arithmetic or bit operations
        lambda: ObjectiveType.MinSum + 1,
        lambda: NodeType.DEPOT | NodeType.TARGET,
        lambda: ~NodeType.DEPOT,
        # construction only from integers that fit
        lambda: ObjectiveType("MinSum"),
        lambda: NodeType(2**40),
    ],
)
def test_enum_rejects_ordering_arithmetic_and_bad_values(operation: Callable[[], Any]) -> None:
    """The enumerations are closed: no ordering, no arithmetic, no non-integer values."""
    with pytest.raises(TypeError):
        operation()


def test_enum_members_stay_in_their_class() -> None:
    """Members are class attributes; they are not copied into the module."""
    import _zelk_core

    for name in ("MinMax", "MinSum", "DEPOT", "TARGET"):
        assert not hasattr(_zelk_core, name)


@pytest.mark.parametrize(
    ("factory", "attribute", "expected"),
    [
        (Position, "x", 0.0),
        (Position, "z", 0.0),
        (Node, "id", 0),
        (Node, "type", NodeType.TARGET),
        (Node, "demand", 0.0),
        (Agent, "id", 0),
        (Agent, "type", ""),
        (Agent, "start_node", 0),
        (Agent, "end_node", 0),
        (Agent, "capacity_limit", 0.0),
        (Agent, "time_limit", 0.0),
        (Options, "return_to_end", True),
        (Options, "objective", ObjectiveType.MinSum),
        (Options, "time_limit", 60.0),
        (lambda: Problem().options(), "time_limit", 60.0),
        (lambda: Problem().options(), "objective", ObjectiveType.MinSum),
    ],
)
def test_defaults(factory: Callable[[], Any], attribute: str, expected: object) -> None:
    """Default-constructed records read back the documented defaults."""
    value = getattr(factory(), attribute)
    assert value == expected
    assert type(value) is type(expected)


def test_default_node_sits_at_the_origin() -> None:
    """A default Node is at (0, 0, 0)."""
    position = Node().position
    assert (position.x, position.y, position.z) == (0.0, 0.0, 0.0)


def test_options_is_a_live_view_of_the_problem() -> None:
    """Assigning through options() changes what a later options() call returns."""
    problem = Problem()
    problem.options().time_limit = 5.0
    problem.options().objective = ObjectiveType.MinMax
    problem.options().return_to_end = False
    options = problem.options()
    assert (options.time_limit, options.objective, options.return_to_end) == (
        5.0,
        ObjectiveType.MinMax,
        False,
    )


def test_options_view_keeps_the_problem_alive() -> None:
    """The view stays valid after the last reference to its Problem is dropped."""
    problem = Problem()
    options = problem.options()
    del problem
    gc.collect()
    options.time_limit = 7.0
    assert options.time_limit == 7.0


def test_node_position_is_a_view_and_assignment_copies() -> None:
    """node.position refers into the node; assigning a Position stores a copy."""
    node = Node()
    node.position.x = 1.0
    node.position.y = -2.5
    assert (node.position.x, node.position.y) == (1.0, -2.5)

    replacement = Position()
    replacement.z = 3.0
    node.position = replacement
    replacement.z = 99.0
    assert node.position.z == 3.0

    view = Node().position
    gc.collect()
    view.x = 4.0  # the temporary Node is kept alive by its view
    assert view.x == 4.0


def test_nodes_and_agents_are_copies_in_insertion_order(
    line_problem: Callable[..., Problem],
) -> None:
    """nodes()/agents_ordered() list copies in order; editing them leaves the Problem alone."""
    problem = line_problem(3)
    nodes = problem.nodes()
    assert [node.id for node in nodes] == [0, 1, 2, 3]
    assert [node.type for node in nodes] == [NodeType.DEPOT] + [NodeType.TARGET] * 3
    nodes[1].id = 42
    nodes[1].position.x = -1.0
    # Growing the stored list must not disturb lists handed out before.
    for _ in range(100):
        problem.add_node(Node())
    assert nodes[1].id == 42
    assert problem.nodes()[1].id == 1
    assert problem.nodes()[1].position.x == 1.0
    assert len(problem.nodes()) == 104

    second = Agent()
    second.id = 0  # duplicate ids are kept
    second.type = "drone"
    problem.add_agent(agent=second, id=second.id)
    assert [(a.id, a.type) for a in problem.agents_ordered()] == [(0, "truck"), (0, "drone")]


def test_add_node_stores_a_copy() -> None:
    """Changing a Node after add_node does not change the stored node."""
    problem = Problem()
    node = Node()
    node.id = 5
    problem.add_node(node)
    node.id = 6
    assert [n.id for n in problem.nodes()] == [5]


def test_every_parameter_accepts_its_keyword() -> None:
    """All methods take their parameters by the documented keyword names."""
    assignment = AssignmentConstraint()
    assignment.set_assignment(node=1, types=["a", "b"])
    assignment.set_assignment(1, [])
    windows = TimeWindowConstraint()
    windows.set_timewindow(node=1, start=5.0, end=2.0)  # start > end is not checked
    problem = Problem()
    problem.add_node(node=Node())
    problem.add_agent(agent=Agent(), id=2**64 - 1)
    problem.set_cost_matrix(agent_type="", matrix=[[0, 1], [1.5, 0]])
    problem.set_assignment_constraint(constraint=assignment)
    problem.set_timewindow_constraint(constraint=windows)


def test_unsigned_and_float_fields_convert() -> None:
    """Unsigned fields take the whole 64-bit range; float fields accept ints."""
    node = Node()
    node.id = 2**64 - 1
    node.demand = 3
    assert node.id == 2**64 - 1
    assert node.demand == 3.0 and isinstance(node.demand, float)
    agent = Agent()
    agent.end_node = 2**63
    agent.time_limit = 10
    assert (agent.end_node, agent.time_limit) == (2**63, 10.0)


BAD_ASSIGNMENTS = [
    # (factory, attribute, bad value)
    (Node, "id", -1),  # negative into unsigned
    (Node, "id", 2**64),  # too large for 64 bits
    (Node, "id", 1.5),  # float into int
    (Node, "id", "1"),
    (Node, "type", 1),  # int is not a NodeType
    (Node, "type", ObjectiveType.MinSum),  # wrong enumeration
    (Node, "position", (1.0, 2.0, 3.0)),
    (Node, "demand", "x"),
    (Agent, "start_node", -5),
    (Agent, "type", 3),
    (Options, "objective", 1),
    (Options, "time_limit", None),
    (Position, "x", "0"),
]


@pytest.mark.parametrize(("factory", "attribute", "value"), BAD_ASSIGNMENTS)
def test_bad_property_values_raise_type_error(
    factory: Callable[[], Any], attribute: str, value: object
) -> None:
    """A value of the wrong type raises TypeError and leaves the field unchanged."""
    record = factory()
    before = getattr(record, attribute)
    with pytest.raises(TypeError):
        setattr(record, attribute, value)
    after = getattr(record, attribute)
    if isinstance(before, Position):
        assert (after.x, after.y, after.z) == (before.x, before.y, before.z)
    else:
        assert after == before


BAD_CALLS = [
    # (callable taking fresh objects, description)
    pytest.param(lambda: Problem().add_node(Agent()), id="add_node with an Agent"),
    pytest.param(lambda: Problem().add_agent(Agent(), -1), id="negative agent id"),
    pytest.param(lambda: Problem().add_agent(Agent()), id="missing id"),
    pytest.param(lambda: Problem().set_cost_matrix("a", [[0, "x"]]), id="non-number entry"),
    pytest.param(lambda: Problem().set_cost_matrix("a", [0, 1]), id="rows are not lists"),
    pytest.param(lambda: Problem().set_cost_matrix(1, [[0]]), id="type name not a str"),
    pytest.param(lambda: AssignmentConstraint().set_assignment(-1, ["a"]), id="negative node"),
    pytest.param(lambda: AssignmentConstraint().set_assignment(1, "ab"), id="types as a str"),
    pytest.param(lambda: AssignmentConstraint().set_assignment(1, [1]), id="type name int"),
    pytest.param(lambda: TimeWindowConstraint().set_timewindow(1, "a", 2.0), id="start str"),
    pytest.param(lambda: TimeWindowConstraint().set_timewindow(-1, 0.0, 2.0), id="node < 0"),
    pytest.param(lambda: Problem().set_timewindow_constraint(AssignmentConstraint()),
                 id="wrong constraint class"),
    pytest.param(lambda: Problem().options(1), id="options takes no argument"),
    pytest.param(lambda: Node(1), id="constructor takes no argument"),
]


@pytest.mark.parametrize("call", BAD_CALLS)
def test_bad_arguments_raise_type_error(call: Callable[[], Any]) -> None:
    """Arguments that cannot be converted raise TypeError."""
    with pytest.raises(TypeError):
        call()


def test_failed_add_leaves_problem_unchanged(line_problem: Callable[..., Problem]) -> None:
    """A rejected add_agent does not add anything."""
    problem = line_problem(2)
    with pytest.raises(TypeError):
        problem.add_agent(Agent(), -1)
    assert len(problem.agents_ordered()) == 1


def test_result_has_no_python_constructor() -> None:
    """Results only come from a Solver: Result() raises TypeError."""
    with pytest.raises(TypeError, match="No constructor defined"):
        Result()


@pytest.mark.parametrize(
    "name", ["n_generated", "n_expanded", "timeout", "last_update_time", "paths", "times"]
)
def test_result_properties_are_read_only(name: str) -> None:
    """Every Result property can be read but not assigned."""
    prop = getattr(Result, name)
    assert isinstance(prop, property)
    assert prop.fget is not None
    assert prop.fset is None


def test_records_carry_no_docstrings() -> None:
    """Records carry no docstrings of their own."""
    for cls in (Position, Node, Agent, Options, Problem, Result):
        assert cls.__doc__ is None, cls
