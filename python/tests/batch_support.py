"""What the batch, command-line and cluster tests share: the tester's own
batch for comparison, the files of a batch folder, a Dask cluster of real
processes on the loopback address."""
import ctypes
import json
import os
import signal
import socket
import subprocess
import sys
import time
from pathlib import Path

SOURCE = Path(os.environ.get("TORVIK_SOURCE_DIR", Path(__file__).resolve().parents[2]))
TESTER = os.environ.get("TORVIK_TESTER", str(SOURCE / "build/native/tester/torvik-tester"))
STARTUP_SECONDS = 30


def cli_batch(args, cwd=SOURCE):
    """torvik-tester batch with `args`; answers (status, stdout, stderr)."""
    done = subprocess.run([TESTER, "batch", *args], cwd=cwd, capture_output=True, text=True, timeout=300)
    return done.returncode, done.stdout, done.stderr


def module_batch(args, cwd=SOURCE, env=None):
    """python3 -m torvik batch with `args`."""
    done = subprocess.run([sys.executable, "-m", "torvik", "batch", *args], cwd=cwd, capture_output=True,
                          text=True, timeout=300, env=None if env is None else dict(os.environ, **env))
    return done.returncode, done.stdout, done.stderr


def write_plan(path, plan):
    path.write_text(json.dumps(plan))
    return str(path)


def summary_files(folder):
    """Every file of a batch folder but the runs' own: batch.json, the summary,
    the walk-forward's files; by name relative to the folder."""
    folder = Path(folder)
    return {str(p.relative_to(folder)): p.read_bytes()
            for p in sorted(folder.rglob("*"))
            if p.is_file() and p.relative_to(folder).parts[0] != "runs"}


def die_with_parent():
    """In the child, before it runs: killed when the test process ends, however
    it ends, so no scheduler or worker outlives a test."""
    PR_SET_PDEATHSIG = 1
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class LoopbackCluster:
    """A scheduler and `workers` single-threaded worker processes (no nanny, so
    a killed worker stays dead) on 127.0.0.1, started in `workdir`: the
    workers cannot find the bar files on their disk, only in what they are sent."""

    def __init__(self, workdir, workers=2):
        self.port = free_port()
        self.address = f"tcp://127.0.0.1:{self.port}"
        self.workdir = workdir
        self.logs = []
        self.scheduler = self._start("scheduler", ["distributed.cli.dask_scheduler", "--host", "127.0.0.1",
                                                   "--port", str(self.port), "--no-dashboard"])
        self.workers = [self._start(f"worker{i}", ["distributed.cli.dask_worker", self.address, "--nthreads", "1",
                                                   "--no-nanny", "--no-dashboard", "--host", "127.0.0.1"])
                        for i in range(workers)]

    def _start(self, name, args):
        import torvik

        log = open(self.workdir / f"{name}.log", "w")
        self.logs.append(log)
        # the package as this process imports it, wherever the workers start
        env = dict(os.environ, PYTHONPATH=str(Path(torvik.__file__).resolve().parents[1]))
        return subprocess.Popen([sys.executable, "-m", *args], cwd=self.workdir, stdout=log, stderr=subprocess.STDOUT,
                                env=env, preexec_fn=die_with_parent)

    def client(self):
        from distributed import Client

        client = Client(self.address, timeout=f"{STARTUP_SECONDS}s")
        if self.workers:
            client.wait_for_workers(len(self.workers), timeout=STARTUP_SECONDS)
        return client

    def kill_worker(self, i):
        self.workers[i].send_signal(signal.SIGKILL)

    def wait_for_threads(self, client, threads):
        """Polls until the scheduler counts `threads` threads (bounded)."""
        deadline = time.monotonic() + STARTUP_SECONDS
        while sum(client.nthreads().values()) != threads:
            assert time.monotonic() < deadline, f"the scheduler still has {client.nthreads()}"
            time.sleep(0.1)

    def stop(self):
        for p in [*self.workers, self.scheduler]:
            if p.poll() is None:
                p.kill()
            p.wait(timeout=STARTUP_SECONDS)
        for log in self.logs:
            log.close()
