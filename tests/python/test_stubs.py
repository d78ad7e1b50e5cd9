"""The stub package must describe exactly what the compiled module creates."""

import ast
from pathlib import Path

import _zelk_core
import pytest

import zelk

STUB = Path(__file__).resolve().parents[2] / "python" / "_zelk_core-stubs" / "__init__.pyi"

# The order in which the module creates its names on import.
REGISTRATION_ORDER = [
    "ObjectiveType",
    "NodeType",
    "Position",
    "Node",
    "Agent",
    "Options",
    "AssignmentConstraint",
    "TimeWindowConstraint",
    "Problem",
    "Result",
    "Solver",
    "solve_json_file",
    "solve_json_str",
    "precheck_json_str",
    "engine_param_defaults",
    "check_costs",
    "solve_arrays",
]


def _public(names: object) -> set[str]:
    return {name for name in names if not name.startswith("_")}  # type: ignore[attr-defined]


def _stub_tree() -> ast.Module:
    return ast.parse(STUB.read_text(encoding="utf-8"))


def _defined_names(body: list[ast.stmt]) -> set[str]:
    names: set[str] = set()
    for statement in body:
        if isinstance(statement, (ast.ClassDef, ast.FunctionDef)):
            names.add(statement.name)
        elif isinstance(statement, ast.AnnAssign) and isinstance(statement.target, ast.Name):
            names.add(statement.target.id)
        elif isinstance(statement, ast.Assign):
            names.update(t.id for t in statement.targets if isinstance(t, ast.Name))
    return names


def _stub_classes() -> dict[str, ast.ClassDef]:
    return {s.name: s for s in _stub_tree().body if isinstance(s, ast.ClassDef)}


def test_stub_names_equal_module_names() -> None:
    """Every public name of _zelk_core has a stub, and the stub invents none."""
    assert _public(_defined_names(_stub_tree().body)) == _public(dir(_zelk_core))


@pytest.mark.parametrize("class_name", sorted(_stub_classes()))
def test_stub_class_members_equal_module_members(class_name: str) -> None:
    """Each stubbed class lists exactly the public members the compiled class has."""
    stub_members = _public(_defined_names(_stub_classes()[class_name].body))
    assert stub_members == _public(dir(getattr(_zelk_core, class_name)))


def test_names_are_created_in_registration_order() -> None:
    """The module namespace holds the public names in the order they were registered."""
    assert [name for name in vars(_zelk_core) if not name.startswith("_")] == REGISTRATION_ORDER


def test_zelk_reexports_every_public_name() -> None:
    """zelk.__all__ lists the module's names in order, and they are the same objects; the
    package's own helpers follow them."""
    assert zelk.__all__[: len(REGISTRATION_ORDER)] == REGISTRATION_ORDER
    assert zelk.__all__[len(REGISTRATION_ORDER) :] == [
        "load_instance",
        "check_solution",
        "plot_solution",
        "plot_anytime",
        "solve",
        "Solution",
        "Route",
        "Stop",
        "AnytimeEntry",
        "Statistics",
        "stop_on_interrupt",
        "solve_many",
        "Reason",
        "Instance",
    ]
    for name in REGISTRATION_ORDER:
        assert getattr(zelk, name) is getattr(_zelk_core, name)


def test_module_docstring_names_the_solver() -> None:
    """The module docstring names the solver and says these are its core bindings."""
    assert "ZELK MTSP Solver" in (_zelk_core.__doc__ or "")
    assert "core bindings" in (_zelk_core.__doc__ or "")


def test_version_is_a_string() -> None:
    """The package reports a version string."""
    assert isinstance(zelk.__version__, str) and zelk.__version__
