"""Many instances at once: zelk.solve_many on local processes and on a Dask cluster, and
the zelk batch command; every solution goes through the independent checker."""

from __future__ import annotations

import csv
import json
import multiprocessing
import os
import random
import signal
from pathlib import Path

import pytest

import zelk
import zelk.batch
from checks import check_solution, random_instance
from zelk.batch import solve_each
from zelk.cli import main

# Distinct sizes: a solution returned in the wrong place serves the wrong targets.
SIZES = (6, 9, 12, 7, 10, 8)
BUDGET = 0.2
# What a finished solve says: small instances may be proven optimal.
FINISHED = ("solved", "optimal")


def _instances(sizes=SIZES) -> list[dict]:
    return [random_instance(random.Random(n), n, 2, time_limit=BUDGET) for n in sizes]


def _assert_solves(instances: list, solutions: list[zelk.Solution]) -> None:
    assert len(solutions) == len(instances)
    for instance, solution in zip(instances, solutions):
        assert solution.status in FINISHED, solution.error
        check_solution(instance, solution.to_dict())


def _write(folder: Path, instances: list[dict]) -> list[str]:
    folder.mkdir(exist_ok=True)
    paths = []
    for k, instance in enumerate(instances):
        path = folder / f"i{k}.json"
        path.write_text(json.dumps(instance))
        paths.append(str(path))
    return paths


def test_solve_many_keeps_order_and_isolates_failures(tmp_path: Path) -> None:
    """Each instance gets its own Solution in input order; an invalid instance and a
    missing file in the middle give "error" entries that say why, and survive a round
    trip through the dictionary, while their neighbours are solved."""
    good = _instances()
    broken = dict(good[0], agents="none")
    mixed: list = good[:2] + [broken, str(tmp_path / "missing.json")] + good[2:]
    solutions = zelk.solve_many(mixed, workers=2, time_limit=BUDGET)
    _assert_solves(good, solutions[:2] + solutions[4:])
    errors = solutions[2:4]
    assert [s.status for s in errors] == ["error", "error"]
    assert "agents" in errors[0].error and "missing.json" in errors[1].error
    assert not errors[0].found and errors[0].to_dict()["status"] == "failed"
    assert zelk.Solution.from_dict(errors[0].to_dict()) == errors[0]
    with pytest.raises(TypeError, match="unknown solve options: budget"):
        zelk.solve_many(good, budget=1)


@pytest.mark.parametrize("method", multiprocessing.get_all_start_methods())
def test_workers_start_by_every_method(method: str) -> None:
    """Whichever way the program has multiprocessing start processes (a fork server is
    the default from Python 3.14 on), the workers live to solve: they are not the pool
    process's children then, and must not take that for its death."""
    previous = multiprocessing.get_start_method()
    if method == "fork" and previous != "fork":
        pytest.skip("this run has its workers started another way (conftest.py)")
    multiprocessing.set_start_method(method, force=True)
    try:
        instances = _instances(SIZES[:2])
        _assert_solves(instances, zelk.solve_many(instances, workers=2, time_limit=BUDGET))
    finally:
        multiprocessing.set_start_method(previous, force=True)


def test_local_pool_replaces_a_killed_worker() -> None:
    """A worker killed mid-batch breaks the pool; its instances run again in a fresh
    one, so every instance is still solved, once."""
    instances = _instances()
    others = set(multiprocessing.active_children())
    seen: dict[int, zelk.Solution] = {}
    for index, solution in solve_each(instances, workers=2, time_limit=BUDGET):
        if not seen:
            worker = next(p for p in multiprocessing.active_children() if p not in others)
            os.kill(worker.pid, signal.SIGKILL)
        assert index not in seen
        seen[index] = solution
    _assert_solves(instances, [seen[k] for k in range(len(instances))])


def _die_on_poison(instance, options, load=None, check=False):
    """solve_instance, except that the worker dies on the instance named "poison"."""
    if isinstance(instance, dict) and instance.get("name") == "poison":
        os.kill(os.getpid(), signal.SIGKILL)
    return zelk.batch.solve_instance.__wrapped__(instance, options, load, check)


@pytest.mark.skipif(
    multiprocessing.get_start_method() != "fork", reason="the patch reaches forked workers only"
)
def test_local_pool_names_the_instance_that_kills_its_worker(monkeypatch) -> None:
    """An instance that kills every worker it runs on is, once run alone, the only
    "error" entry; the instances that shared its broken pools are solved."""
    instances = _instances(SIZES[:3])
    poison = dict(instances[1], name="poison")
    _die_on_poison.__wrapped__ = zelk.batch.solve_instance  # type: ignore[attr-defined]
    monkeypatch.setattr(zelk.batch, "solve_instance", _die_on_poison)
    solutions = zelk.solve_many([instances[0], poison, instances[2]], workers=2, time_limit=BUDGET)
    assert solutions[1].status == "error" and solutions[1].error == zelk.batch.WORKER_DIED
    _assert_solves([instances[0], instances[2]], [solutions[0], solutions[2]])


def _summary(out: Path) -> list[dict[str, str]]:
    with open(out / "summary.csv", newline="") as handle:
        return list(csv.DictReader(handle))


def test_batch_writes_results_and_resumes(tmp_path: Path, capfd) -> None:
    """zelk batch writes a result per instance and a summary row per input in order
    (the broken file's says "error", exit 1); a rerun solves only what has no finished
    result: the deleted one and the error, leaving a finished result untouched."""
    paths = _write(tmp_path / "in", _instances(SIZES[:3]))
    Path(paths[1]).write_text("{not json")
    out = tmp_path / "out"
    command = ["batch", *paths, "--out", str(out), "--time-limit", str(BUDGET), "--workers", "2"]
    assert main(command) == 1
    rows = _summary(out)
    assert [r["instance"] for r in rows] == paths
    assert [r["status"] in FINISHED for r in rows] == [True, False, True]
    assert rows[1]["status"] == "error"
    first = json.loads((out / "i0.result.json").read_text())
    assert float(rows[0]["longest"]) == pytest.approx(first["statistics"]["max_cost"], rel=1e-5)
    assert float(rows[0]["sum"]) == pytest.approx(first["statistics"]["sum_cost"], rel=1e-5)
    assert "i1.json: error: " in capfd.readouterr().err

    Path(paths[1]).write_text(json.dumps(_instances([5])[0]))
    (out / "i2.result.json").unlink()
    kept = (out / "i0.result.json").stat().st_mtime_ns
    assert main(command) == 0
    assert "1 of 3 instances already solved" in capfd.readouterr().err
    assert (out / "i0.result.json").stat().st_mtime_ns == kept
    assert all(r["status"] in FINISHED for r in _summary(out))
    assert sorted(p.name for p in out.iterdir()) == [
        "i0.result.json", "i1.result.json", "i2.result.json", "summary.csv"
    ]  # fmt: skip


@pytest.mark.skipif(
    multiprocessing.get_start_method() != "fork", reason="the patch reaches forked workers only"
)
@pytest.mark.parametrize(("planted", "status"), [(False, 0), (True, 3)])
def test_batch_check_is_the_workers_verdict(tmp_path: Path, monkeypatch, planted, status) -> None:
    """--check writes the checker's problems, found in the worker on the Instance it
    solved, into each result, and a problem anywhere makes the exit status 3."""
    if planted:
        monkeypatch.setattr("zelk.check.check_solution", lambda instance, solution: ["planted"])
    paths = _write(tmp_path / "in", _instances(SIZES[:2]))
    out = tmp_path / "out"
    command = ["batch", *paths, "--out", str(out), "--time-limit", str(BUDGET), "--check"]
    assert main([*command, "--workers", "2", "--quiet"]) == status
    for k in range(2):
        result = json.loads((out / f"i{k}.result.json").read_text())
        assert result["check"] == (["planted"] if planted else [])


# --------------------------------------------------------------------------- Dask


@pytest.fixture(scope="module")
def cluster():
    """A Dask cluster of two single-threaded worker processes on this machine."""
    distributed = pytest.importorskip("distributed")
    with distributed.LocalCluster(
        n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None
    ) as local, distributed.Client(local) as client:
        yield local, client


def test_solve_many_on_dask_survives_a_killed_worker(cluster) -> None:
    """On a Dask cluster the same call returns the solutions in order; a worker killed
    after the first result is restarted and its solves run again, so every instance is
    solved."""
    _, client = cluster
    instances = _instances()
    executor = client.get_executor()
    seen: dict[int, zelk.Solution] = {}
    for index, solution in solve_each(instances, executor=executor, time_limit=BUDGET):
        if not seen:
            pids = client.run(os.getpid)
            os.kill(next(iter(pids.values())), signal.SIGKILL)
        seen[index] = solution
    assert sorted(seen) == list(range(len(instances)))
    _assert_solves(instances, [seen[k] for k in range(len(instances))])
    _assert_solves(instances[:2], zelk.solve_many(instances[:2], executor=executor,
                                                  time_limit=BUDGET))  # fmt: skip


def test_batch_command_submits_to_a_scheduler(cluster, tmp_path: Path, capfd) -> None:
    """zelk batch --scheduler solves on the cluster; --workers beside it is a usage
    error."""
    local, _ = cluster
    instances = _instances(SIZES[:3])
    paths = _write(tmp_path / "in", instances)
    out = tmp_path / "out"
    args = ["batch", *paths, "--out", str(out), "--time-limit", str(BUDGET)]
    assert main([*args, "--scheduler", local.scheduler_address]) == 0
    for k, instance in enumerate(instances):
        check_solution(instance, json.loads((out / f"i{k}.result.json").read_text()))
    assert main([*args, "--scheduler", local.scheduler_address, "--workers", "2"]) == 2
    assert "--workers" in capfd.readouterr().err
