"""Batches on a real Dask cluster on the loopback address: a scheduler and two
worker processes, one of them killed part-way; the summary is still the
one-machine batch's, byte for byte."""
import faulthandler
import os

import pytest

import torvik
from torvik.cluster import files_parsed

from batch_support import SOURCE, LoopbackCluster, cli_batch, module_batch, summary_files, write_plan

EURUSD = "data/EURUSD_H1.csv"
USDJPY = "data/USDJPY_H1.csv"
# Results back before a worker is killed: part-way, with runs in flight on both
# (TORVIK_KILL_AFTER picks another moment, 1 to 39).
KILL_AFTER = int(os.environ.get("TORVIK_KILL_AFTER", "8"))
# A cluster test that hangs ends the test process (its stacks on stderr) and,
# with it, the cluster's processes; each takes a few seconds.
HANG_SECONDS = 120


@pytest.fixture
def cluster(tmp_path):
    workdir = tmp_path / "cluster"
    workdir.mkdir()
    faulthandler.dump_traceback_later(HANG_SECONDS, exit=True)
    c = LoopbackCluster(workdir)
    try:
        yield c
    finally:
        c.stop()
        faulthandler.cancel_dump_traceback_later()


def cli_folder(tmp_path, plan, name="cli"):
    status, out, err = cli_batch(["--plan", write_plan(tmp_path / f"{name}.json", plan), "--report",
                                  str(tmp_path / name), "-q"])
    assert status == 0, err
    return summary_files(tmp_path / name), out


def test_a_worker_killed_part_way_loses_nothing(cluster, tmp_path, monkeypatch):
    monkeypatch.chdir(SOURCE)
    plan = {"bars": [EURUSD, USDJPY], "spread": "4:80:4"}
    expected, _ = cli_folder(tmp_path, plan)
    killed = []

    def kill_one(p):
        if p.done >= KILL_AFTER and not killed:
            cluster.kill_worker(1)
            killed.append(p.done)

    with cluster.client() as client:
        frame = torvik.batch(plan, client=client, report=tmp_path / "cluster-batch", progress=kill_one)
        assert killed and killed[0] < len(frame)
        cluster.wait_for_threads(client, 1)
        # the survivor made most runs of both files, and parsed each file once
        assert list(client.run(files_parsed).values()) == [2]
    assert frame.attrs["ran"] == len(frame) == 40
    assert summary_files(tmp_path / "cluster-batch") == expected


def test_searches_and_walk_forward_are_driven_the_same_on_a_cluster(cluster, tmp_path, monkeypatch):
    monkeypatch.chdir(SOURCE)
    plans = {
        "genetic": {"bars": [EURUSD], "spread": "4:40:4", "window": "150:300:50", "search": "genetic",
                    "passes": 14, "population": 6},
        "walk-forward": {"bars": [EURUSD], "spread": "10,30", "in-sample": "9mo", "out-of-sample": "6mo"},
    }
    with cluster.client() as client:
        for name, plan in plans.items():
            expected, _ = cli_folder(tmp_path, plan, name)
            torvik.batch(plan, client=client, report=tmp_path / f"{name}-cluster")
            assert summary_files(tmp_path / f"{name}-cluster") == expected, name
        # the same batch again at once, and again: its runs are the same, its tasks new
        for _ in range(3):
            again = torvik.batch(plans["genetic"], client=client, jobs=4)
            assert again.attrs["files"]["summary.json"].encode() == expected_genetic(tmp_path)


def expected_genetic(tmp_path):
    return (tmp_path / "genetic" / "summary.json").read_bytes()


def test_the_module_command_with_a_scheduler_is_the_testers_batch(cluster, tmp_path):
    plan = {"bars": [EURUSD, "data/missing.csv"], "spread": "8,20", "criterion": "recovery"}
    expected, expected_out = cli_folder(tmp_path, plan)
    with cluster.client():
        pass  # the workers are up
    status, out, err = module_batch(["--plan", str(tmp_path / "cli.json"), "--report", str(tmp_path / "module"),
                                     "-q", "--scheduler", cluster.address])
    assert status == 0, err
    assert summary_files(tmp_path / "module") == expected
    assert out == expected_out.replace(str(tmp_path / "cli"), str(tmp_path / "module"))


@pytest.mark.parametrize("extra, message", [
    (["--run-reports"], "each run's own report is written where the run is made"),
    ([], "the cluster has no workers yet"),
])
def test_a_batch_the_cluster_cannot_make_is_refused_before_any_run(extra, message, tmp_path):
    faulthandler.dump_traceback_later(HANG_SECONDS, exit=True)
    empty = LoopbackCluster(tmp_path, workers=0)
    try:
        with empty.client():
            pass  # the scheduler is up
        status, _, err = module_batch(["--bars", EURUSD, "--report", str(tmp_path / "batch"), "-q", *extra,
                                       "--scheduler", empty.address])
    finally:
        empty.stop()
        faulthandler.cancel_dump_traceback_later()
    assert status == 2
    assert err.startswith(f"python3 -m torvik batch: {message}") and err.count("\n") == 1
    assert not (tmp_path / "batch").exists()
