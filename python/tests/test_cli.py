"""python3 -m torvik batch: torvik-tester batch's options read by the same
parser, the same folder, console and messages."""
import re

import pytest

from batch_support import cli_batch, module_batch, summary_files

EURUSD = "data/EURUSD_H1.csv"


def options(help_text):
    return set(re.findall(r"^\s+(?:-\w,)?(--[\w-]+)", help_text, re.MULTILINE))


def test_the_module_takes_the_testers_options_and_a_scheduler():
    _, tester_help, _ = cli_batch(["--help"])
    status, module_help, _ = module_batch(["--help"])
    assert status == 0
    assert len(options(tester_help)) > 30
    assert options(module_help) == options(tester_help) | {"--scheduler"}


def test_the_module_makes_the_testers_batch(tmp_path):
    args = ["--bars", f"{EURUSD},data/USDJPY_H1.csv", "--spread", "8,20", "--criterion", "drawdown", "-q"]
    status, tester_out, err = cli_batch([*args, "--report", str(tmp_path / "tester")])
    assert status == 0, err
    status, module_out, err = module_batch([*args, "--report", str(tmp_path / "module")])
    assert status == 0, err
    assert summary_files(tmp_path / "module") == summary_files(tmp_path / "tester")
    assert module_out == tester_out.replace(str(tmp_path / "tester"), str(tmp_path / "module"))


@pytest.mark.parametrize("args", [
    ["--spread", "8"],
    ["--bars", EURUSD, "--search", "random"],
    ["--bars", EURUSD, "--jobs", "0"],
    ["--bars", EURUSD, "--colour", "red"],
    ["--bars", EURUSD, "--plan", "no-such-plan.json"],
])
def test_a_bad_command_line_gives_the_testers_message(args):
    tester = cli_batch(args)
    module = module_batch(args)
    assert tester[0] == module[0] == 2
    assert module[2] == tester[2].replace("torvik-tester batch", "python3 -m torvik batch")


def test_a_batch_refused_at_its_folder_ends_as_the_testers_does(tmp_path):
    (tmp_path / "taken").mkdir()
    (tmp_path / "taken" / "notes.txt").write_text("mine")
    args = ["--bars", EURUSD, "--report", str(tmp_path / "taken"), "-q"]
    tester = cli_batch(args)
    module = module_batch(args)
    assert tester[0] == module[0] != 0
    assert module[2] == tester[2].replace("torvik-tester batch", "python3 -m torvik batch")


def test_an_unreachable_scheduler_is_one_message():
    status, _, err = module_batch(["--bars", EURUSD, "--scheduler", "tcp://127.0.0.1:9", "-q"],
                                  env={"DASK_DISTRIBUTED__COMM__TIMEOUTS__CONNECT": "2s"})
    assert status == 1
    assert err.startswith("python3 -m torvik batch: no scheduler at tcp://127.0.0.1:9")
