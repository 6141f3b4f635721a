"""Batches: many runs of a plan, optimisation, walk-forward, on this machine's
cores or on a Dask cluster, summarised as a DataFrame.

    summary = torvik.batch({"bars": ["data/EURUSD_H1.csv"], "spread": "8:20:4"})
    summary = torvik.batch("plan.json", client=Client("tcp://host:8786"), report="out/grid")
"""
import io
import json
import os

from . import _torvik


def settings(plan):
    """The batch of a plan: a dict as a plan file holds it (run options and the
    batch's own settings, each a value, a list or a range text) or the path of
    a plan file. Bar files are named as the plan names them."""
    if isinstance(plan, _torvik.BatchSettings):
        return plan
    if isinstance(plan, (str, os.PathLike)):
        with open(plan, encoding="utf-8") as f:
            text = f.read()
    elif isinstance(plan, dict):
        text = json.dumps(plan)
    else:
        raise TypeError(f"a plan is a dict or the path of a plan file, not {type(plan).__name__}")
    return _torvik.settings_from_json(text)


def batch(plan, client=None, jobs=None, report=None, force=False, progress=None):
    """Makes every run of `plan` and answers the summary: one row per run in
    plan order, its inputs and every figure, as summary.csv has them.

    client: a dask.distributed.Client to make the runs on its cluster (the bar
    files are sent to every worker once); None: this machine's cores.
    jobs: runs made at once (default: the cores, or twice the cluster's threads).
    report: the batch folder, written as `torvik-tester batch --report` writes
    it; a folder that holds this batch is resumed, one of another batch is
    refused unless force.
    progress: called with a BatchProgress (done, failed, total, ran) after
    each run.

    The summary's JSON (best runs, searches, walk-forward) is in
    frame.attrs["summary"], every summary file's text by name in
    frame.attrs["files"], and the runs made now (not found in the folder) in
    frame.attrs["ran"].
    """
    s = settings(plan)
    report = None if report is None else os.fspath(report)
    if client is None:
        result = _torvik.run_batch(s, jobs or _torvik.machine_cores(), report, force, progress)
    else:
        from .cluster import ClusterRuns

        with ClusterRuns(client, s) as runs:
            result = _torvik.run_batch(s, jobs or runs.jobs, report, force, progress, runs)
    return summary_frame(result)


def summary_frame(result):
    """The summary of a batch made as a DataFrame, read from summary.csv's text."""
    import pandas

    files = dict(result.summary_files())
    frame = pandas.read_csv(io.StringIO(files["summary.csv"]))
    frame.attrs["summary"] = json.loads(result.summary_json)
    frame.attrs["files"] = files
    frame.attrs["ran"] = result.ran
    return frame
