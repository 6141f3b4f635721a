"""The library's fourteen operations on an engine record of the object's own.

    e = torvik.Engine()                 # or Engine(language="ru")
    e.rft(bars, ask=1.0841, bid=1.0840, digits=5, point=0.00001)
    e.init_all("EURUSD", "USD")
    e.open_signal()                     # 0: none, 1: buy, 2: sell
    e.take_profit(), e.stop_loss()

Every operation exists under the export's own name (``Rft``, ``IniAll``,
``LOT``, ``OpenSignal``, ``CloseSignal``, ``rews``, ``ErrorDescription``,
``PoTP``, ``PoSL``, ``Dpp``, ``DSP``, ``DCloseSP``, ``HHH_1``, ``HHH_2``) with
the export's arguments, and under a pythonic name (see ``ALIASES``). The
answers are the shared library's, bit for bit.

Bars are oldest first, as the expert advisor passes them: a DataFrame with
open, high, low, close and volume columns and a ``time`` column or index (as
``torvik.read_bars`` gives), a mapping of such columns, a 2-D array whose
columns are time, open, high, low, close, volume, or an array that
``bar_records`` made. Converting once with ``bar_records`` and passing slices
of the result saves the conversion on every call.

Each engine guards its record with a lock of its own and releases the GIL
while it computes: engines in several threads run in parallel; one engine
shared by threads is safe, but the order of their calls is theirs to keep.
"""
from collections.abc import Mapping

import numpy as np
import pandas as pd

from . import _torvik

# The host's bar record: packed, 44 bytes, low before high.
BAR_RECORD = np.dtype([("time", "<u4"), ("open", "<f8"), ("low", "<f8"), ("high", "<f8"),
                       ("close", "<f8"), ("volume", "<f8")])
assert BAR_RECORD.itemsize == 44

_PRICE_COLUMNS = ("open", "high", "low", "close", "volume")
_TIME_MASK = 0xFFFFFFFF  # the record's time is 32-bit; later times wrap as the host's do


def _seconds(times):
    """Times as integer seconds since 1970 (datetimes or numbers of seconds)."""
    times = np.asarray(times)
    if np.issubdtype(times.dtype, np.datetime64):
        return times.astype("datetime64[s]").astype(np.int64)
    if times.dtype == object:  # pandas Timestamps with a time zone: their UTC
        return np.asarray(pd.to_datetime(times, utc=True).tz_localize(None)).astype("datetime64[s]").astype(np.int64)
    return times.astype(np.int64)


def _columns(bars):
    """time, open, high, low, close, volume of a DataFrame or a mapping."""
    if isinstance(bars, pd.DataFrame):
        if "time" in bars.columns:
            times = bars["time"].to_numpy()
        elif isinstance(bars.index, pd.DatetimeIndex) or bars.index.name == "time":
            times = bars.index.to_numpy()
        else:
            raise ValueError("bars: a 'time' column or a time index is needed")
        missing = [c for c in _PRICE_COLUMNS if c not in bars.columns]
        if missing:
            raise ValueError(f"bars: missing columns {', '.join(missing)}")
        return times, [bars[c].to_numpy() for c in _PRICE_COLUMNS]
    missing = [c for c in ("time",) + _PRICE_COLUMNS if c not in bars]
    if missing:
        raise ValueError(f"bars: missing columns {', '.join(missing)}")
    return bars["time"], [bars[c] for c in _PRICE_COLUMNS]


def bar_records(bars):
    """Bars, oldest first, as the contiguous array of host records the engine reads."""
    if isinstance(bars, np.ndarray) and bars.dtype == BAR_RECORD:
        return np.ascontiguousarray(bars)
    if isinstance(bars, np.ndarray) and bars.dtype.names is None:
        if bars.ndim != 2 or bars.shape[1] != 6:
            raise ValueError("bars: a 2-D array needs six columns: time, open, high, low, close, volume")
        times, prices = bars[:, 0], [bars[:, i] for i in range(1, 6)]
    elif isinstance(bars, Mapping) or hasattr(bars, "columns"):
        times, prices = _columns(bars)
    else:
        raise TypeError("bars: a DataFrame, a mapping of columns, a 2-D array or torvik.bar_records' array")
    records = np.empty(len(times), dtype=BAR_RECORD)
    records["time"] = (_seconds(times) & _TIME_MASK).astype(np.uint32)
    for name, values in zip(_PRICE_COLUMNS, prices):
        records[name] = np.asarray(values, dtype=np.float64)
    return records


class Engine(_torvik.Engine):
    """An engine record of this object's own; language "en" or "ru" for the error texts."""

    def __init__(self, language="en"):
        super().__init__(language)

    def __repr__(self):
        return f"torvik.Engine(language={self.language!r})"

    # The export's arguments; each bar array may have its own total (None: its length).
    def Rft(self, barCount, refBars, refBarsTotal, seriesBars, seriesBarsTotal, extraBars, extraBarsTotal,
            ask, bid, digits, point, positionOpenPrice, positionType, pipMode):
        ref = bar_records(refBars)
        series = ref if seriesBars is refBars else bar_records(seriesBars)
        extra = ref if extraBars is refBars else series if extraBars is seriesBars else bar_records(extraBars)
        return super().Rft(barCount, ref, refBarsTotal, series, seriesBarsTotal, extra, extraBarsTotal,
                           ask, bid, digits, point, positionOpenPrice, positionType, pipMode)

    def rft(self, bars, ask, bid, digits, point, position_open_price=0.0, position_type=0, pip_mode=0,
            bar_count=None):
        """Hands the engine the chart's bars (oldest first) and the market, as the expert does:
        one array as all three of the export's, `bar_count` (default: all of them) the window.
        No position: position_open_price 0; position_type 0 buy, 1 sell."""
        records = bar_records(bars)
        count = len(records) if bar_count is None else bar_count
        return super().Rft(count, records, None, records, None, records, None, ask, bid, digits, point,
                           position_open_price, position_type, pip_mode)

    def lot(self, fixed_lot, risk_percent, risk_multiplier, min_lot, max_lot, lot_step, lot_divisor,
            account_funds, margin_per_lot, risk_split, symbol):
        return self.LOT(fixed_lot, risk_percent, risk_multiplier, min_lot, max_lot, lot_step, lot_divisor,
                        account_funds, margin_per_lot, risk_split, symbol)

    def init_all(self, symbol, currency):
        return self.IniAll(symbol, currency)

    open_signal = _torvik.Engine.OpenSignal
    close_signal = _torvik.Engine.CloseSignal
    reset = _torvik.Engine.rews
    error_description = _torvik.Engine.ErrorDescription
    take_profit = _torvik.Engine.PoTP
    stop_loss = _torvik.Engine.PoSL
    pip_size = _torvik.Engine.Dpp
    dsp = _torvik.Engine.DSP
    dclose_sp = _torvik.Engine.DCloseSP
    hhh_1 = _torvik.Engine.HHH_1
    hhh_2 = _torvik.Engine.HHH_2


# Export name -> pythonic name.
ALIASES = {"Rft": "rft", "IniAll": "init_all", "LOT": "lot", "OpenSignal": "open_signal",
           "CloseSignal": "close_signal", "rews": "reset", "ErrorDescription": "error_description",
           "PoTP": "take_profit", "PoSL": "stop_loss", "Dpp": "pip_size", "DSP": "dsp",
           "DCloseSP": "dclose_sp", "HHH_1": "hhh_1", "HHH_2": "hhh_2"}
