"""torvik.batch on this machine, and through an executor as a cluster uses
it, against torvik-tester batch: the same folder, byte for byte."""
import pandas
import pandas.testing
import pytest

import torvik
from torvik import _torvik
from torvik.batch import settings
from torvik.cluster import ClusterRuns, run_request

from batch_support import SOURCE, summary_files, cli_batch, write_plan

EURUSD = "data/EURUSD_H1.csv"
USDJPY = "data/USDJPY_H1.csv"

PLANS = {
    "grid of two files": {"bars": [EURUSD, USDJPY], "spread": "8,20", "window": "200:300:100",
                          "criterion": "profit-factor"},
    "portfolio and a missing file": {"bars": [f"{EURUSD}+{USDJPY}", "data/missing.csv"], "spread": [10, 30]},
    "genetic search": {"bars": [EURUSD], "spread": "4:40:4", "window": "150:300:50", "search": "genetic",
                       "passes": 12, "population": 6, "search-seed": 7},
    "walk-forward": {"bars": [EURUSD], "spread": "10,30", "in-sample": "9mo", "out-of-sample": "6mo",
                     "criterion": "sharpe"},
}


class InProcessClient:
    """Stands in for a Dask client: tasks run at once in the calling thread,
    scattered data is the data itself."""

    class Done:
        def __init__(self, value):
            self.value = value

        def result(self):
            return self.value

        def release(self):
            pass

    def __init__(self):
        self.keys = []
        self.scattered = 0

    def nthreads(self):
        return {"in-process": 2}

    def scatter(self, data, broadcast, hash):  # noqa: A002 (dask's name)
        self.scattered += len(data)
        return [self.Done(d) for d in data]

    def submit(self, function, request, payload, version, key):
        self.keys.append(key)
        files = [(name, content, data.value if isinstance(data, self.Done) else data)
                 for name, content, data in payload]
        return self.Done(function(request, files, version))


def cli_folder(tmp_path, plan):
    status, _, err = cli_batch(["--plan", write_plan(tmp_path / "plan.json", plan), "--report",
                                   str(tmp_path / "cli"), "--jobs", "2", "-q"])
    assert status == 0, err
    return summary_files(tmp_path / "cli")


@pytest.mark.parametrize("name", PLANS)
def test_a_batch_from_python_writes_the_command_lines_folder(name, tmp_path, monkeypatch):
    monkeypatch.chdir(SOURCE)
    plan = PLANS[name]
    expected = cli_folder(tmp_path, plan)

    frame = torvik.batch(plan, jobs=2, report=tmp_path / "local")
    assert summary_files(tmp_path / "local") == expected
    pandas.testing.assert_frame_equal(frame, pandas.read_csv(tmp_path / "cli" / "summary.csv"))
    assert frame.attrs["files"]["summary.json"].encode() == expected["summary.json"]

    # The cluster's way: requests and records as texts, the files as bytes.
    client = InProcessClient()
    with ClusterRuns(client, settings(plan)) as runs:
        shipped = _torvik.run_batch(settings(plan), 2, str(tmp_path / "shipped"), execute=runs)
    assert summary_files(tmp_path / "shipped") == expected
    assert client.scattered == len([f for f in settings(plan).files if (SOURCE / f).exists()])
    assert len(set(client.keys)) == len(client.keys) == shipped.ran


def test_a_task_key_is_the_run_and_the_content_of_its_files(tmp_path):
    bars = tmp_path / "EURUSD_H1.csv"
    bars.write_bytes((SOURCE / EURUSD).read_bytes())
    plan = {"bars": [str(bars)], "spread": "8,20"}

    def keys():
        client = InProcessClient()
        with ClusterRuns(client, settings(plan)) as runs:
            _torvik.run_batch(settings(plan), 1, execute=runs)
        return client.keys

    def parts(key):  # torvik-run-<index>-<options>-<content>-<batch>
        return key.split("-")[2:]

    parsed = _torvik.worker_files_parsed()
    first, same = keys(), keys()
    bars.write_bytes(bars.read_bytes().replace(b"1.07016", b"1.07017", 1))
    changed = keys()
    assert len(first) == len(same) == len(changed) == 2
    for a, b, c in zip(first, same, changed):
        assert parts(a)[:3] == parts(b)[:3] and parts(a)[3] != parts(b)[3]  # a batch's tasks are its own
        assert parts(a)[:2] == parts(c)[:2] and parts(a)[2] != parts(c)[2]  # the content is in the key
    assert _torvik.worker_files_parsed() == parsed + 2  # each content once, for all its runs


def test_a_worker_of_another_version_refuses_the_run():
    request = settings({"bars": [EURUSD]}).requests[0]
    with pytest.raises(RuntimeError, match=f"this worker has torvik {torvik.__version__}, the batch's client 0.0.1"):
        run_request(request, [], "0.0.1")


def test_a_folder_resumes_and_another_batchs_folder_is_refused(tmp_path, monkeypatch):
    monkeypatch.chdir(SOURCE)
    plan = {"bars": [EURUSD], "spread": "8,12,20"}
    expected = cli_folder(tmp_path, plan)
    folder = tmp_path / "cli"

    again = torvik.batch(write_plan(tmp_path / "same.json", plan), report=folder)
    assert again.attrs["ran"] == 0
    assert summary_files(folder) == expected

    other = {"bars": [EURUSD], "spread": "8,16"}
    with pytest.raises(ValueError, match="holds another batch"):
        torvik.batch(other, report=folder)
    replaced = torvik.batch(other, report=folder, force=True)
    assert replaced.attrs["ran"] == 1  # spread 8 is the same run in both plans
    assert list(replaced["spread"]) == [8, 16]


def test_an_exception_in_progress_stops_the_batch_and_the_folder_resumes(tmp_path, monkeypatch):
    monkeypatch.chdir(SOURCE)
    plan = {"bars": [EURUSD], "spread": "4:32:4"}
    folder = tmp_path / "stopped"

    class Enough(Exception):
        pass

    seen = []

    def progress(p):
        seen.append((p.done, p.ran, p.total))
        if p.ran == 3:
            raise Enough()

    with pytest.raises(Enough):
        torvik.batch(plan, jobs=1, report=folder, progress=progress)
    assert seen == [(1, 1, 8), (2, 2, 8), (3, 3, 8)]
    assert not (folder / "summary.csv").exists()
    assert len(list(folder.glob("runs/*/run.json"))) == 3

    resumed = torvik.batch(plan, jobs=2, report=folder)
    assert resumed.attrs["ran"] == 5
    assert summary_files(folder) == cli_folder(tmp_path, plan)


@pytest.mark.parametrize("plan, error, message", [
    ({"spread": 8}, ValueError, "--bars: is required"),
    ({"bars": []}, ValueError, "--bars: has no values"),
    ({"bars": [EURUSD], "colour": "red"}, ValueError, '"colour" is not an option of a plan'),
    ({"bars": [EURUSD], "search": "random"}, ValueError, 'neither complete nor genetic'),
    ({"bars": [EURUSD], "run-reports": True}, ValueError, "run_reports is for batches on this machine"),
    (["bars", EURUSD], TypeError, "a plan is a dict or the path of a plan file"),
])
def test_a_bad_plan_is_refused_with_the_testers_message(plan, error, message):
    with pytest.raises(error, match=message):
        torvik.batch(plan, client=InProcessClient())
