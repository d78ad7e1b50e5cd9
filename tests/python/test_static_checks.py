"""tools/static_checks.sh fails on each kind of fault it is there to catch."""

from __future__ import annotations

import shutil
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
SCRIPT = ROOT / "tools" / "static_checks.sh"

pytestmark = pytest.mark.skipif(
    not all(shutil.which(tool) for tool in ("clang-format-14", "ruff", "mypy")),
    reason="clang-format-14, ruff and mypy are installed by tools/test.sh",
)

# Each fault, planted in a copy of the tree: (file, text appended).
PLANTS = {
    "formatting": ("core/RouteRules.h", "\nnamespace vornik {int  planted( ){return 1;}}\n"),
    "lint": ("python/zelk/bounds.py", "\nimport os\n"),
    "types": ("python/zelk/bounds.py", "\n\ndef planted() -> int:\n    return 'text'\n"),
}


@pytest.fixture(scope="module")
def tree(tmp_path_factory: pytest.TempPathFactory) -> Path:
    copy = tmp_path_factory.mktemp("tree")
    for part in ("core", "python", "pyproject.toml", ".clang-format"):
        source = ROOT / part
        if source.is_dir():
            shutil.copytree(source, copy / part, ignore=shutil.ignore_patterns("__pycache__"))
        else:
            shutil.copy(source, copy / part)
    return copy


def run_checks(root: Path) -> subprocess.CompletedProcess[str]:
    return subprocess.run(
        ["bash", str(SCRIPT), str(root)], capture_output=True, text=True, timeout=300
    )


def test_clean_copy_passes(tree: Path) -> None:
    result = run_checks(tree)
    assert result.returncode == 0, result.stdout + result.stderr


@pytest.mark.parametrize("kind", sorted(PLANTS))
def test_planted_fault_fails_the_checks(tree: Path, tmp_path: Path, kind: str) -> None:
    planted = tmp_path / "tree"
    shutil.copytree(tree, planted)
    name, text = PLANTS[kind]
    with open(planted / name, "a", encoding="utf-8") as file:
        file.write(text)
    result = run_checks(planted)
    assert result.returncode != 0, f"{kind} fault passed the checks"
    assert Path(name).name in result.stdout + result.stderr
