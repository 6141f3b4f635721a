"""A batch's runs on a Dask cluster.

Each run is a pure task: its request (JSON) in, its record (run.json's text)
out, keyed by the run's id, the content of its files and the batch, so the
scheduler can make it again on another worker when the one that had it is
lost. (The batch's part keeps a batch made again at once from reusing the key
of a task the scheduler is still forgetting: such a task is cancelled.) The bar
files travel from the client: each file's bytes are scattered to every worker
once, and each worker process parses a file once (by name and content) for
all the runs it makes.
"""
import hashlib
import json
import uuid

from . import _torvik

# A file the client could not read: the workers answer the runs that use it
# with the message the run would give here.
UNREADABLE = "unreadable"


def run_request(request, files, version):
    """On the worker: one run. files: (name, content key, bytes or message);
    version: the client's torvik, which the worker's must be to make the same run."""
    if version != _torvik.__version__:
        raise RuntimeError(f"this worker has torvik {_torvik.__version__}, the batch's client {version}: "
                           "install the client's on every worker")
    return _torvik.execute_request(request, [tuple(f) for f in files])


# Runs in flight per worker thread: one running, one waiting on the worker,
# so that no thread is idle while a result goes to the client and the next
# run comes back through the scheduler.
IN_FLIGHT_PER_THREAD = 2


def files_parsed():
    """On a worker (client.run(files_parsed)): how many files its process has
    parsed for runs: each file once, whatever number of runs use it."""
    return _torvik.worker_files_parsed()


class ClusterRuns:
    """The executor of a batch on `client`'s cluster: called with a request's
    JSON and the names of its files, it answers the record's text. `jobs` is
    how many runs to keep in flight."""

    def __init__(self, client, settings):
        if settings.run_reports:
            raise ValueError("each run's own report is written where the run is made: "
                             "run_reports is for batches on this machine")
        threads = sum(client.nthreads().values())
        if threads == 0:
            raise ValueError("the cluster has no workers yet: start them (dask worker ADDRESS) first")
        self.client = client
        self.jobs = IN_FLIGHT_PER_THREAD * threads
        self._batch = uuid.uuid4().hex[:8]
        self._files = {name: self._send(name) for name in settings.files}

    def _send(self, name):
        try:
            with open(name, "rb") as f:
                data = f.read()
        except OSError:
            return (name, UNREADABLE, _torvik.file_error(name))
        key = hashlib.sha256(data).hexdigest()
        # A key of this batch's own: a scattered key released by the batch before
        # and scattered again at once would be forgotten under the new one.
        [future] = self.client.scatter([data], broadcast=True, hash=False)
        return (name, key, future)

    def __call__(self, request, files):
        payload = [self._files[name] for name in files]
        digest = hashlib.sha256(request.encode())
        for _, key, _ in payload:
            digest.update(key.encode())
        run_id = json.loads(request)["id"]
        future = self.client.submit(run_request, request, payload, _torvik.__version__,
                                    key=f"torvik-run-{run_id}-{digest.hexdigest()[:16]}-{self._batch}")
        try:
            return future.result()
        finally:
            future.release()

    def close(self):
        """Lets the cluster forget the files."""
        for _, _, data in self._files.values():
            if not isinstance(data, str):
                data.release()
        self._files = {}

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
