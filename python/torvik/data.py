"""Bars and ticks as DataFrames, read by the tester's own readers.

    bars = torvik.read_bars("data/EURUSD_H1.csv")

Every format the tester reads (header CSV, History Center, the terminal's bar
and tick exports), recognised from the first line. A file the tester refuses
raises ``torvik.TesterError`` (a ``ValueError``) with the tester's message.

Bars come as columns open, high, low, close, volume (and spread, the bar
export's minimum in points); ticks as bid and ask. The index is ``time``:
the file's times as they are written (server time, no time zone), datetimes
to the millisecond. The parsed file stays with the frame (``bars.attrs``), so
that ``torvik.backtest(bars)`` runs on it without reading the file again, as
long as the frame still holds the file's rows unchanged.
"""
import numpy as np
import pandas as pd

from . import _torvik

TesterError = _torvik.TesterError

_DATA_ATTR = "torvik_data"


def _frame(data):
    columns = data.columns()
    times = pd.to_datetime(columns.pop("time_ms"), unit="ms")
    frame = pd.DataFrame(columns, index=pd.DatetimeIndex(times, name="time"))
    frame.attrs[_DATA_ATTR] = data
    frame.attrs["name"] = data.name
    frame.attrs["format"] = data.format
    frame.attrs["digits"] = data.digits
    return frame


def _data_from_state(state):
    """Unpickles the parsed data of a frame."""
    return _torvik._data_from_state(state)


def read_bars(path):
    """The bars or ticks of a file, oldest first, as a DataFrame indexed by time."""
    return _frame(_torvik.load_file(str(path)))


def _unchanged(frame, data):
    """Whether the frame still shows exactly the rows `data` holds."""
    if len(frame) != len(data):
        return False
    columns = data.columns()
    times = columns.pop("time_ms")
    index = frame.index
    if not isinstance(index, pd.DatetimeIndex) or index.tz is not None:
        return False
    if not np.array_equal(index.asi8, times * 1_000_000):
        return False
    return all(name in frame.columns and np.array_equal(frame[name].to_numpy(), values)
               for name, values in columns.items())


def _header_csv(frame):
    """A frame of the user's own as the tester's header CSV text."""
    times = frame.index if "time" not in frame.columns else pd.DatetimeIndex(frame["time"])
    missing = [c for c in ("open", "high", "low", "close", "volume") if c not in frame.columns]
    if missing:
        raise ValueError(f"bars: missing columns {', '.join(missing)}")
    out = pd.DataFrame({"time": pd.DatetimeIndex(times).strftime("%Y.%m.%d %H:%M:%S")})
    for name in ("open", "high", "low", "close", "volume"):
        out[name] = frame[name].to_numpy()
    digits = frame.attrs.get("digits")
    return out.to_csv(index=False, float_format=None if digits is None else f"%.{digits}f", lineterminator="\n")


def loaded_data(bars, name=None):
    """The parsed data a run uses for a DataFrame: the file it was read from
    when unchanged, else the frame written as header CSV and parsed again (so
    the tester's checks apply); the frame's name, or else the symbol `name`,
    stands for the file in the report."""
    data = bars.attrs.get(_DATA_ATTR)
    if data is not None and _unchanged(bars, data):
        return data
    if "bid" in bars.columns:
        raise ValueError("bars: a changed tick frame cannot be run; pass the tick file's path")
    label = bars.attrs.get("name")
    if label is None:
        if name is None:
            raise ValueError("bars: a DataFrame not read by torvik.read_bars needs its symbol (symbol=...)")
        label = f"{name} DataFrame"
    elif data is not None:
        label = f"{label} (changed)"
    return _torvik.load_text(_header_csv(bars), label)
