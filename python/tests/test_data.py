"""torvik.read_bars: every format the tester reads, and its messages."""
import os
import subprocess

import numpy as np
import pandas as pd
import pytest

import torvik

SOURCE = os.environ.get("TORVIK_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))


def data(name):
    return os.path.join(SOURCE, "data", name)


def independent(path, **read):
    """The file read by pandas alone, with correctly rounded numbers."""
    return pd.read_csv(path, float_precision="round_trip", **read)


@pytest.mark.parametrize("name", ["EURUSD_H1.csv", "EURUSD_M15.csv", "BTCUSD_H1.csv"])
def test_header_csv_rows_as_written(name):
    bars = torvik.read_bars(data(name))
    expected = independent(data(name))
    assert list(bars.columns) == ["open", "high", "low", "close", "volume"]
    assert bars.attrs["format"] == "header"
    assert (bars.index == pd.to_datetime(expected["time"], format="%Y.%m.%d %H:%M")).all()
    for column in bars.columns:
        assert np.array_equal(bars[column].to_numpy(), expected[column].to_numpy(dtype=float)), column


def test_bar_export_with_its_spread():
    bars = torvik.read_bars(data("XAUUSD_H1_export.csv"))
    expected = independent(data("XAUUSD_H1_export.csv"), sep="\t")
    assert bars.attrs["format"] == "bar-export"
    assert (bars.index == pd.to_datetime(expected["<DATE>"] + " " + expected["<TIME>"])).all()
    assert np.array_equal(bars["high"].to_numpy(), expected["<HIGH>"].to_numpy())
    assert np.array_equal(bars["volume"].to_numpy(), expected["<TICKVOL>"].to_numpy(dtype=float))
    assert np.array_equal(bars["spread"].to_numpy(), expected["<SPREAD>"].to_numpy())


def test_tick_export_carries_an_empty_side_forward():
    ticks = torvik.read_bars(data("EURUSD_ticks.csv"))
    expected = independent(data("EURUSD_ticks.csv"), sep="\t")
    assert list(ticks.columns) == ["bid", "ask"]
    assert ticks.attrs["format"] == "tick-export"
    times = pd.to_datetime(expected["<DATE>"] + " " + expected["<TIME>"], format="%Y.%m.%d %H:%M:%S.%f")
    assert (ticks.index == times).all()
    assert ticks.index[0].microsecond == 135000  # milliseconds kept
    for side in ("bid", "ask"):
        assert np.array_equal(ticks[side].to_numpy(), expected[f"<{side.upper()}>"].ffill().to_numpy()), side


def test_history_center_export():
    bars = torvik.read_bars(data("USDJPY_M5.csv"))
    expected = independent(data("USDJPY_M5.csv"), header=None, names=["d", "t", "o", "h", "l", "c", "v"])
    assert bars.attrs["format"] == "history-center"
    assert (bars.index == pd.to_datetime(expected["d"] + " " + expected["t"], format="%Y.%m.%d %H:%M")).all()
    assert np.array_equal(bars["low"].to_numpy(), expected["l"].to_numpy())


def test_history_center_format_reads_as_the_header_csv(tmp_path):
    header = torvik.read_bars(data("EURUSD_H1.csv")).iloc[:300]
    lines = [f"{t:%Y.%m.%d,%H:%M},{r.open:.5f},{r.high:.5f},{r.low:.5f},{r.close:.5f},{r.volume:.0f}"
             for t, r in header.iterrows()]
    path = tmp_path / "EURUSD60.csv"
    path.write_text("\r\n".join(lines) + "\r\n")
    bars = torvik.read_bars(path)
    assert bars.attrs["format"] == "history-center"
    pd.testing.assert_frame_equal(bars, header, check_exact=True)


BAD_FILES = [
    ("missing.csv", None),
    ("high_below_low.csv", "time,open,high,low,close,volume\n2024.01.02 10:00,1.1,1.0,1.2,1.1,5\n"),
    ("backwards.csv", "time,open,high,low,close,volume\n2024.01.02 10:00,1,1,1,1,5\n2024.01.02 09:00,1,1,1,1,5\n"),
    ("not_a_number.csv", "2024.01.02,10:00,1.1,1.2,x,1.1,5\n"),
    ("bad_date.csv", "time,open,high,low,close,volume\n2024.13.02 10:00,1,1,1,1,5\n"),
    ("empty.csv", ""),
]


@pytest.mark.parametrize("name,text", BAD_FILES, ids=[b[0] for b in BAD_FILES])
def test_refused_files_raise_the_testers_message(tmp_path, monkeypatch, name, text):
    monkeypatch.chdir(tmp_path)
    if text is not None:
        (tmp_path / name).write_text(text)
    with pytest.raises(torvik.TesterError) as raised:
        torvik.read_bars(name)
    assert isinstance(raised.value, ValueError)
    tester = os.environ.get("TORVIK_TESTER")
    if tester:
        cli = subprocess.run([tester, "--bars", name, "--quiet"], capture_output=True, text=True, cwd=tmp_path)
        assert cli.returncode != 0
        assert cli.stderr.strip() == f"torvik-tester: {raised.value}"
    assert str(raised.value).startswith(name)


@pytest.mark.parametrize("name,inputs", [("EURUSD_H1.csv", {}), ("EURUSD_ticks.csv", {"timeframe": "M15"})])
def test_a_frame_pickled_elsewhere_still_runs_on_its_parsed_file(name, inputs):
    import pickle
    bars = torvik.read_bars(data(name))
    shipped = pickle.loads(pickle.dumps(bars))
    pd.testing.assert_frame_equal(shipped, bars, check_exact=True)
    assert shipped.attrs["torvik_data"].format == bars.attrs["format"]
    assert torvik.backtest(shipped, **inputs).files == torvik.backtest(bars, **inputs).files
    # Rows cut short are refused, not read beyond.
    rebuild, (state,) = bars.attrs["torvik_data"].__reduce__()
    with pytest.raises(ValueError):
        rebuild(state[:-1] + (state[-1][:-1],))
    for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
        assert len(pickle.loads(pickle.dumps(bars.attrs["torvik_data"], protocol))) == len(bars)
