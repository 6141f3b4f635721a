"""Runs per second of a batch on a Dask cluster of this machine (1 and 2
single-threaded workers on 127.0.0.1) against the same batch on local jobs
(1 and 2), and where the cluster's overhead goes: the texts a run ships
(request and record), a scheduler round trip, the files sent once.

    PYTHONPATH=build/native/python /usr/bin/python3 bench/cluster_batch.py [--runs 64] [--repetitions 5]

Run from the source folder (the plan names data/EURUSD_H1.csv), by hand, on
an otherwise idle machine: it measures, it does not judge.
"""
import argparse
import os
import signal
import socket
import statistics
import subprocess
import sys
import time
from pathlib import Path

import torvik
from torvik import _torvik
from torvik.batch import settings as batch_settings
from torvik.cluster import ClusterRuns

STARTUP_SECONDS = 30


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Cluster:
    """A scheduler and `workers` one-thread workers, as separate processes."""

    def __init__(self, workers):
        port = free_port()
        self.address = f"tcp://127.0.0.1:{port}"
        env = dict(os.environ, PYTHONPATH=str(Path(torvik.__file__).resolve().parents[1]))
        quiet = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL, "env": env}
        self.processes = [subprocess.Popen([sys.executable, "-m", "distributed.cli.dask_scheduler", "--host",
                                            "127.0.0.1", "--port", str(port), "--no-dashboard"], **quiet)]
        for _ in range(workers):
            self.processes.append(subprocess.Popen(
                [sys.executable, "-m", "distributed.cli.dask_worker", self.address, "--nthreads", "1", "--no-nanny",
                 "--no-dashboard", "--host", "127.0.0.1"], **quiet))
        from distributed import Client

        self.client = Client(self.address, timeout=f"{STARTUP_SECONDS}s")
        self.client.wait_for_workers(workers, timeout=STARTUP_SECONDS)

    def cpu_seconds(self):
        """CPU time used so far by the scheduler and by the workers together."""
        def used(pid):
            fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
            return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")  # utime + stime

        return used(self.processes[0].pid), sum(used(p.pid) for p in self.processes[1:])

    def close(self):
        self.client.close()
        for p in self.processes:
            p.send_signal(signal.SIGTERM)
        for p in self.processes:
            try:
                p.wait(timeout=10)
            except subprocess.TimeoutExpired:
                p.kill()


def median_seconds(make, repetitions):
    times = []
    for _ in range(repetitions):
        started = time.perf_counter()
        make()
        times.append(time.perf_counter() - started)
    return statistics.median(times), min(times), max(times)


def line(what, runs, seconds):
    median, low, high = seconds
    print(f"{what:<44} {runs / median:7.1f} runs/s  median {median * 1000:7.0f} ms"
          f"  (min {low * 1000:.0f}, max {high * 1000:.0f})")
    return runs / median


def shipped_texts(plan):
    """What one run of the plan ships: its request and record, in bytes, and
    the time to make the record into text and back (a cluster's serialising)."""
    s = batch_settings(plan)
    request = s.requests[0]
    files = [(name, "key", Path(name).read_bytes()) for name in s.files]
    record = _torvik.execute_request(request, files)
    return len(request), len(record)


def noop(x):
    return x


def round_trip(client, repetitions=200):
    """Median seconds of a trivial task submitted and waited for, one at a time."""
    times = []
    for i in range(repetitions):
        started = time.perf_counter()
        client.submit(noop, i, pure=False).result()
        times.append(time.perf_counter() - started)
    return statistics.median(times)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=64, help="runs of the batch (spread 1..N)")
    parser.add_argument("--repetitions", type=int, default=5)
    parser.add_argument("--bars", default="data/EURUSD_H1.csv")
    args = parser.parse_args()
    plan = {"bars": [args.bars], "spread": f"1:{args.runs}:1"}
    runs = args.runs
    reps = args.repetitions
    print(f"{runs} runs of {args.bars} (spread 1..{runs}), medians of {reps}; load average "
          f"{os.getloadavg()[0]:.2f} at the start")

    local = {}
    for jobs in (1, 2):
        local[jobs] = line(f"local batch, {jobs} job{'s' if jobs > 1 else ''}", runs,
                           median_seconds(lambda: torvik.batch(plan, jobs=jobs), reps))

    # The cluster's way in this process: request and record as texts, files as bytes.
    s = batch_settings(plan)
    contents = {name: Path(name).read_bytes() for name in s.files}

    def ship(request, files):
        return _torvik.execute_request(request, [(name, "bench", contents[name]) for name in files])

    def shipped():
        _torvik.run_batch(s, 1, execute=ship)

    line("texts and bytes shipped in process, 1 job", runs, median_seconds(shipped, reps))
    request_bytes, record_bytes = shipped_texts(plan)
    print(f"{'':<44} a run ships {request_bytes} bytes of request and {record_bytes} bytes of record")

    for workers in (1, 2):
        cluster = Cluster(workers)
        try:
            client = cluster.client
            started = time.perf_counter()
            with ClusterRuns(client, s):
                scatter_seconds = time.perf_counter() - started
            threads = sum(client.nthreads().values())
            name = f"cluster, {workers} worker{'s' if workers > 1 else ''}"
            line(f"{name} ({threads} in flight)", runs,
                 median_seconds(lambda: torvik.batch(plan, client=client, jobs=threads), reps))
            scheduler_before, workers_before = cluster.cpu_seconds()
            client_before = time.process_time()
            rate = line(f"{name} ({2 * threads} in flight, the default)", runs,
                        median_seconds(lambda: torvik.batch(plan, client=client), reps))
            client_cpu = time.process_time() - client_before
            scheduler_after, workers_after = cluster.cpu_seconds()
            made = runs * reps
            print(f"{'':<44} CPU per run: client {client_cpu / made * 1000:.1f} ms, scheduler "
                  f"{(scheduler_after - scheduler_before) / made * 1000:.1f} ms, workers "
                  f"{(workers_after - workers_before) / made * 1000:.1f} ms")
            print(f"{'':<44} {rate / local[workers]:.2f} of the local rate with {workers} "
                  f"job{'s' if workers > 1 else ''}; a no-op task's round trip {round_trip(client) * 1000:.1f} ms; "
                  f"the file sent to every worker in {scatter_seconds * 1000:.0f} ms")
        finally:
            cluster.close()


if __name__ == "__main__":
    main()
