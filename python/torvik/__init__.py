"""torvik: the trading-decision engine and its strategy tester, from Python.

    import torvik
    bars = torvik.read_bars("data/EURUSD_H1.csv")
    result = torvik.backtest(bars, symbol="EURUSD")
    result.trades, result.equity, result.figures
    torvik.batch({"bars": ["data/EURUSD_H1.csv"], "spread": "8,12,20"})
"""
from ._torvik import __version__, TesterError, OptionError
from .engine import Engine, bar_records
from .data import read_bars
from .backtest import backtest, Result
from .batch import batch

# Shown as torvik.TesterError and torvik.OptionError.
TesterError.__module__ = OptionError.__module__ = "torvik"

__all__ = ["Engine", "bar_records", "read_bars", "backtest", "Result", "batch", "TesterError", "OptionError",
           "__version__"]
