"""torvik.backtest against torvik-tester on the bundled data: the same report
files byte for byte, the same trades and figures, the same messages."""
import json
import os
import subprocess

import pandas as pd
import pytest

import torvik

SOURCE = os.environ.get("TORVIK_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
FILES = ("report.json", "report.html", "trades.csv", "equity.csv")


def cli_path():
    path = os.environ.get("TORVIK_TESTER")
    if not path:
        pytest.skip("TORVIK_TESTER names no tester")
    return path


def cli_run(arguments, report):
    done = subprocess.run([cli_path(), *arguments, "--quiet", "--report", str(report)], cwd=SOURCE,
                          capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    return {name: (report / name).read_bytes() for name in FILES}


@pytest.fixture
def in_source(monkeypatch):
    """Paths as the command line is given them, relative to the checkout."""
    monkeypatch.chdir(SOURCE)


# (label, bars as Python gives them, Python inputs, the same on the command line). A "frame:"
# path is passed as the DataFrame torvik.read_bars gives.
RUNS = [
    ("h1-open", "frame:data/EURUSD_H1.csv", dict(symbol="EURUSD"),
     ["--bars", "data/EURUSD_H1.csv", "--symbol", "EURUSD"]),
    ("m15-lower-h1", "data/EURUSD_M15.csv", dict(timeframe="H1", model="lower", from_="2024.01.01"),
     ["--bars", "data/EURUSD_M15.csv", "--timeframe", "H1", "--model", "lower", "--from", "2024.01.01"]),
    ("costs", "frame:data/USDJPY_H1.csv",
     dict(costs="table", commission=7, slippage="0:3", seed=11, risk=1.5, max_positions=2),
     ["--bars", "data/USDJPY_H1.csv", "--costs", "table", "--commission", "7", "--slippage", "0:3",
      "--seed", "11", "--risk", "1.5", "--max-positions", "2"]),
    ("portfolio", ["frame:data/EURUSD_H1.csv", "data/USDJPY_H1.csv"], dict(symbol=["EURUSD", "USDJPY"],
                                                                         commission=5, deposit=50000),
     ["--bars", "data/EURUSD_H1.csv", "--bars", "data/USDJPY_H1.csv", "--symbol", "EURUSD", "--symbol", "USDJPY",
      "--commission", "5", "--deposit", "50000"]),
    ("ticks", "frame:data/EURUSD_ticks.csv", dict(timeframe="M15", equity="ticks"),
     ["--bars", "data/EURUSD_ticks.csv", "--timeframe", "M15", "--equity", "ticks"]),
]


def python_bars(bars):
    if isinstance(bars, list):
        return [python_bars(b) for b in bars]
    return torvik.read_bars(bars[len("frame:"):]) if bars.startswith("frame:") else bars


@pytest.mark.parametrize("label,bars,inputs,arguments", RUNS, ids=[r[0] for r in RUNS])
def test_runs_as_the_command_line(in_source, tmp_path, label, bars, inputs, arguments):
    inputs = dict(inputs)
    symbol = inputs.pop("symbol", None)
    result = torvik.backtest(python_bars(bars), symbol, **inputs)
    expected = cli_run(arguments, tmp_path / "cli")
    written = tmp_path / "python"
    result.write_report(written)
    for name in FILES:
        assert (written / name).read_bytes() == expected[name], name
    cli_report = json.loads(expected["report.json"])
    assert result.figures == cli_report["figures"]
    assert result.inputs == cli_report["settings"]
    assert result.figures["total_trades"] == len(result.trades)
    assert len(result.trades) > 0 or label == "ticks"  # the tick week opens no position
    cli_trades = pd.read_csv(tmp_path / "cli" / "trades.csv", keep_default_na=False)
    assert result.trades["ticket"].tolist() == cli_trades["ticket"].tolist()
    assert result.trades["profit"].tolist() == cli_trades["profit"].tolist()
    assert len(result.equity) == len(pd.read_csv(tmp_path / "cli" / "equity.csv")) > 0
    assert str(cli_report["figures"]["total_net_profit"]) in repr(result)
    assert "<iframe" in result._repr_html_() and "&lt;html" in result._repr_html_().lower()


def test_a_changed_frame_runs_on_its_own_rows(in_source, tmp_path):
    """A frame cut or edited after reading runs on what it holds, not on the file behind it."""
    bars = torvik.read_bars("data/EURUSD_H1.csv")
    head = bars.iloc[:6000]
    cut = tmp_path / "EURUSD_H1.csv"
    with open("data/EURUSD_H1.csv") as f:
        cut.write_text("".join(line for _, line in zip(range(6001), f)))
    expected = cli_run(["--bars", str(cut)], tmp_path / "cli")
    result = torvik.backtest(head)
    assert result.files["trades.csv"] == expected["trades.csv"]
    assert result.figures == json.loads(expected["report.json"])["figures"]
    assert result.figures != torvik.backtest(bars).figures
    # A frame of one's own, with a time column, runs as the file it equals.
    own = pd.DataFrame({"time": head.index, **{c: head[c].to_numpy() for c in head.columns}})
    assert torvik.backtest(own, symbol="EURUSD").files["trades.csv"] == expected["trades.csv"]
    with pytest.raises(ValueError, match="symbol"):
        torvik.backtest(own)


# Inputs the command line refuses, as Python gives them and as the command line does.
REFUSED = [
    (dict(spread="wide"), ["--spread", "wide"]),
    (dict(window=50), ["--window", "50"]),
    (dict(model="sideways"), ["--model", "sideways"]),
    (dict(min_lot=1, max_lot=0.5), ["--min-lot", "1", "--max-lot", "0.5"]),
    (dict(from_="2024.13.01"), ["--from", "2024.13.01"]),
    (dict(start="2024.06.01", end="2024.01.01"), ["--from", "2024.06.01", "--to", "2024.01.01"]),
    (dict(slippage="3:1"), ["--slippage", "3:1"]),
]


@pytest.mark.parametrize("inputs,arguments", REFUSED, ids=[a[0] for _, a in REFUSED])
def test_refused_inputs_raise_the_command_lines_message(in_source, inputs, arguments):
    with pytest.raises(torvik.OptionError) as raised:
        torvik.backtest("data/EURUSD_H1.csv", **inputs)
    done = subprocess.run([cli_path(), "--bars", "data/EURUSD_H1.csv", *arguments, "--quiet"], cwd=SOURCE,
                          capture_output=True, text=True)
    assert done.returncode == 2
    assert done.stderr.splitlines()[0] == f"torvik-tester: {raised.value}"


def test_runs_the_tester_refuses_raise_its_message(in_source):
    arguments = ["--bars", "data/EURUSD_H1.csv", "--model", "ticks"]
    with pytest.raises(torvik.TesterError) as raised:
        torvik.backtest("data/EURUSD_H1.csv", model="ticks")
    done = subprocess.run([cli_path(), *arguments, "--quiet"], cwd=SOURCE, capture_output=True, text=True)
    assert done.returncode != 0
    assert done.stderr.strip() == f"torvik-tester: {raised.value}"
    with pytest.raises(torvik.OptionError, match="no such option"):
        torvik.backtest("data/EURUSD_H1.csv", sprad=12)


def test_runs_in_threads_give_what_each_gives_alone(in_source, tmp_path):
    import threading
    runs = [dict(bars="data/EURUSD_H1.csv", spread=15), dict(bars="data/USDJPY_H1.csv", risk=3)]
    alone = [torvik.backtest(**run).files for run in runs]
    together = [None] * len(runs)

    def make(i):
        together[i] = torvik.backtest(**runs[i]).files

    threads = [threading.Thread(target=make, args=(i,)) for i in range(len(runs))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert together == alone
    # report= writes the folder as --report does.
    torvik.backtest(**runs[0], report=tmp_path / "folder")
    assert {name: (tmp_path / "folder" / name).read_bytes() for name in FILES} == alone[0]
