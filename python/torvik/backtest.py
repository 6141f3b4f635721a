"""One test run, as ``torvik-tester`` makes it, from Python.

    result = torvik.backtest("data/EURUSD_H1.csv", spread=12)
    result = torvik.backtest(bars, symbol="EURUSD", model="lower", lower="data/EURUSD_M15.csv")
    result.trades, result.equity, result.figures, result.inputs
    result.write_report("out/EURUSD_H1")       # report.json, report.html, trades.csv, equity.csv

The inputs are the command line's options by name: ``pip_mode=5`` is
``--pip-mode 5``, ``from_="2024.01.01"`` (or ``start=``) is ``--from``, a
flag is ``True``, a repeatable option takes a list. Each goes as text through
the command line's own parsing, so defaults, checks and messages are the
command line's: a bad input raises ``torvik.OptionError`` with its message,
a run the tester refuses ``torvik.TesterError``. The run is the tester's own
(on an engine record of its own, without the GIL), so its results and report
files are those of ``torvik-tester`` given the same options.
"""
import datetime as _datetime
import html
import io
import json
import os
import shutil
import tempfile

import pandas as pd

from . import _torvik
from .data import loaded_data

TesterError = _torvik.TesterError
OptionError = _torvik.OptionError

# The four files of a report folder, in the order they are listed.
REPORT_FILES = ("report.json", "report.html", "trades.csv", "equity.csv")
# Python names for options whose own names are not identifiers.
_ALIASES = {"from_": "from", "start": "from", "end": "to"}


def option_name(keyword):
    """The command line's option for a keyword argument: risk_split -> risk-split."""
    return _ALIASES.get(keyword, keyword.rstrip("_").replace("_", "-"))


def _option_text(value):
    if isinstance(value, (_datetime.datetime, pd.Timestamp)):
        return value.strftime("%Y.%m.%d %H:%M") if (value.hour, value.minute) != (0, 0) else value.strftime("%Y.%m.%d")
    if isinstance(value, _datetime.date):
        return value.strftime("%Y.%m.%d")
    return str(value)


def _options(bars, symbol, inputs):
    """The option texts of the run, in the command line's terms, and the data already in memory."""
    charts = bars if isinstance(bars, (list, tuple)) else [bars]
    if not charts:
        raise ValueError("bars: at least one file or DataFrame")
    symbols = [] if symbol is None else symbol if isinstance(symbol, (list, tuple)) else [symbol]
    options, data = [], []
    for i, chart in enumerate(charts):
        if isinstance(chart, pd.DataFrame):
            loaded = loaded_data(chart, symbols[i] if i < len(symbols) else None)
            data.append(loaded)
            options.append(("bars", loaded.name))
        else:
            options.append(("bars", os.fspath(chart)))
    options += [("symbol", str(s)) for s in symbols]
    flags = {o["name"] for o in _torvik.option_table() if o["flag"]}
    for keyword, value in inputs.items():
        name = option_name(keyword)
        if value is None or (name in flags and value is False):
            continue
        if name in flags and value is True:
            value = "true"
        values = value if isinstance(value, (list, tuple)) else [value]
        options += [(name, _option_text(v)) for v in values]
    return options, data


def backtest(bars, symbol=None, **inputs):
    """Runs the test; `bars` a file's path, a DataFrame from torvik.read_bars
    (or of your own), or a list of them for several charts in one account."""
    report = inputs.pop("report", None)
    inputs.pop("quiet", None)
    options, data = _options(bars, symbol, inputs)
    scratch = tempfile.mkdtemp(prefix="torvik-run-")
    try:
        folder = os.path.join(scratch, "report")
        record = json.loads(_torvik.run(options, data, folder))
        files = {}
        for name in REPORT_FILES:
            with open(os.path.join(folder, name), "rb") as f:
                files[name] = f.read()
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    result = Result(options, record, files)
    if report is not None:
        result.write_report(report)
    return result


def _times(column):
    return pd.to_datetime(column, format="%Y.%m.%d %H:%M:%S.%f" if column.str.contains(r"\.\d{3}$").any()
                          else "%Y.%m.%d %H:%M:%S")


class Result:
    """What a run gave: trades, equity, figures, inputs, and its report files."""

    def __init__(self, options, record, files):
        self.options = list(options)  # the option texts the run was given, in the command line's terms
        self.files = files            # the report folder's four files, as bytes
        self.report = json.loads(files["report.json"])
        self.figures = self.report["figures"]
        self.inputs = self.report["settings"]
        self._trades = None
        self._equity = None

    @property
    def trades(self):
        """trades.csv as a DataFrame, one closed trade a row; times as datetimes."""
        if self._trades is None:
            frame = pd.read_csv(io.BytesIO(self.files["trades.csv"]), keep_default_na=False,
                                dtype={"note": str, "reason": str})
            for column in ("open_time", "close_time"):
                frame[column] = _times(frame[column].astype(str)) if len(frame) else pd.to_datetime(frame[column])
            self._trades = frame
        return self._trades

    @property
    def equity(self):
        """equity.csv as a DataFrame indexed by time."""
        if self._equity is None:
            frame = pd.read_csv(io.BytesIO(self.files["equity.csv"]))
            frame["time"] = _times(frame["time"].astype(str)) if len(frame) else pd.to_datetime(frame["time"])
            self._equity = frame.set_index("time")
        return self._equity

    @property
    def html(self):
        """The report page, a complete HTML document."""
        return self.files["report.html"].decode("utf-8")

    def write_report(self, directory):
        """Writes the report folder's four files, as torvik-tester --report writes them."""
        os.makedirs(directory, exist_ok=True)
        for name, content in self.files.items():
            with open(os.path.join(directory, name), "wb") as f:
                f.write(content)
        return directory

    def _repr_html_(self):
        return ('<iframe style="width:100%;height:900px;border:0" sandbox="allow-scripts" srcdoc="'
                + html.escape(self.html, quote=True) + '"></iframe>')

    def __repr__(self):
        return f"<torvik.Result {self.report.get('data', {}).get('file', '')!s}: {self._summary()}>"

    def _summary(self):
        figures = self.figures
        parts = []
        for key, label in (("total_trades", "trades"), ("total_net_profit", "net profit"),
                           ("profit_factor", "profit factor")):
            if key in figures:
                parts.append(f"{label} {figures[key]}")
        return ", ".join(parts)
