"""python3 -m torvik batch ...: torvik-tester batch's options, plus
--scheduler ADDRESS to make the runs on a Dask cluster."""
import sys

from . import _torvik

PROGRAM = "python3 -m torvik batch"
USAGE = f"usage: {PROGRAM} [options] (--help lists them)\n"


def main(argv=None):
    args = sys.argv[1:] if argv is None else list(argv)
    if not args or args[0] != "batch":
        sys.stderr.write(USAGE)
        return 2
    command, status, out, err = _torvik.parse_batch_command(args[1:], PROGRAM)
    sys.stdout.write(out)
    sys.stderr.write(err)
    if command is None:
        return status
    if not command.scheduler:
        sys.stdout.flush()
        return _torvik.run_batch_command(command, PROGRAM, sys.stderr.isatty())
    try:
        from distributed import Client

        client = Client(command.scheduler)
    except (OSError, TimeoutError, ValueError) as e:
        sys.stderr.write(f"{PROGRAM}: no scheduler at {command.scheduler}: {e}\n")
        return 1
    from .cluster import ClusterRuns

    with client:
        try:
            runs = ClusterRuns(client, command.settings)
        except (OSError, ValueError) as e:
            sys.stderr.write(f"{PROGRAM}: {e}\n")
            return 2
        with runs:
            if not command.jobs_given:
                command.jobs = runs.jobs
            sys.stdout.flush()
            sys.stderr.flush()
            return _torvik.run_batch_command(command, PROGRAM, sys.stderr.isatty(), runs)


if __name__ == "__main__":
    sys.exit(main())
