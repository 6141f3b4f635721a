#!/usr/bin/python3
"""An independent replay of torvik-tester's documented rules.

Written from the README's sections on the strategy tester (options, data,
chart bars and the models, the run tick by tick, the broker, costs, the
instrument table, several charts in one account, outputs) and from the expert
advisor in mql4/, never from the tester's code: it is a second definition, and
a gap between the two shows as a differing trade. The library's decisions come
from the real shared library, loaded with ctypes.

    replay.py --bars data/EURUSD_H1.csv --report out/replay [tester options]

writes trades.csv and equity.csv in the tester's formats and summary.json with
the figures it can recompute (net profit, drawdowns, counts, the ratios on
days, months and trades, per-symbol figures, signal answers, refusals) and the
instrument settings it resolved.

Prices are kept as whole points (ints) wherever they lie on the grid; a price
as a double is points / 10^digits, the same double the text of the file
parses to. Times are kept in milliseconds.
"""

import argparse
import calendar
import csv
import ctypes
import heapq
import json
import math
import os
import re
import sys
import time as _time

import numpy as np

import figures as file_figures

HERE = os.path.dirname(os.path.abspath(__file__))
BUNDLED_TABLE = os.path.normpath(os.path.join(HERE, "..", "..", "tester", "data", "instruments.csv"))

PERIOD_SECONDS = {"M1": 60, "M5": 300, "M15": 900, "M30": 1800, "H1": 3600, "H4": 14400,
                  "D1": 86400, "W1": 604800, "MN1": 2592000}
HEADER_CSV = "time,open,high,low,close,volume"
BAR_EXPORT = "<DATE>\t<TIME>\t<OPEN>\t<HIGH>\t<LOW>\t<CLOSE>\t<TICKVOL>\t<VOL>\t<SPREAD>"
TICK_EXPORT = "<DATE>\t<TIME>\t<BID>\t<ASK>\t<LAST>\t<VOLUME>\t<FLAGS>"
GRID_TOLERANCE_POINTS = 1e-6   # a price this close to the grid counts as on it
REFUSED_NO_LOT = 0              # also: not sent, a level too close
REFUSED_LOT_LIMITS = 131
REFUSED_NO_MONEY = 134
REFUSED_FROZEN = 145
REFUSALS_LISTED = 1000          # report.json lists the first refusals only
DAY_MS = 86400 * 1000
HOUR_MS = 3600 * 1000
WEEKDAYS = {"mon": 0, "tue": 1, "wed": 2, "thu": 3, "fri": 4}
SATURDAY = 5
TRIPLE_NIGHTS = 3
AFFIX_MARKS = ".-_#!+$"         # a broker's prefix or suffix may start with one of these
PLAIN_AFFIX = 4                 # or be this short
MASK64 = (1 << 64) - 1
SPLITMIX_GAMMA = 0x9E3779B97F4A7C15
SPLITMIX_MUL1 = 0xBF58476D1CE4E5B9
SPLITMIX_MUL2 = 0x94D049BB133111EB

BAR_RECORD = np.dtype([("time", "<u4"), ("open", "<f8"), ("low", "<f8"), ("high", "<f8"),
                       ("close", "<f8"), ("volume", "<f8")])
assert BAR_RECORD.itemsize == 44


class ReplayError(Exception):
    pass


# ---------------------------------------------------------------- data

_day_ms = {}


def parse_time_ms(date_text, time_text):
    """'YYYY.MM.DD' and 'HH:MM[:SS[.mmm]]' to milliseconds since 1970 (server time as is)."""
    day = _day_ms.get(date_text)
    if day is None:
        y, mo, d = (int(x) for x in date_text.split("."))
        day = _day_ms[date_text] = calendar.timegm((y, mo, d, 0, 0, 0)) * 1000
    parts = time_text.split(":")
    hh, mm = int(parts[0]), int(parts[1])
    ss, ms = 0, 0
    if len(parts) > 2:
        sec = parts[2]
        if "." in sec:
            whole, frac = sec.split(".")
            ss, ms = int(whole), int((frac + "000")[:3])
        else:
            ss = int(sec)
    return day + ((hh * 60 + mm) * 60 + ss) * 1000 + ms


def decimals(text):
    return len(text.split(".")[1]) if "." in text else 0


def to_points(text, digits):
    """A price's text as whole points; exact when the text has at most `digits` decimals."""
    places = decimals(text)
    if places == digits and text[0] != "-":
        return int(text.replace(".", ""))
    if places <= digits:
        whole, _, frac = text.partition(".")
        sign = -1 if whole.startswith("-") else 1
        return sign * (abs(int(whole or "0")) * 10 ** digits + int((frac + "0" * digits)[:digits] or "0"))
    return round_half_away(float(text) * 10 ** digits)


def round_half_away(x):
    r = math.floor(abs(x))
    if abs(x) - r >= 0.5:
        r += 1
    return int(math.copysign(r, x)) if r else 0


class Data:
    """The rows of one file: bars (time_ms, o, h, l, c, volume, spread|None) as texts, or ticks."""

    def __init__(self, path):
        self.path = path
        with open(path, "r", newline="") as f:
            lines = [line.rstrip("\r\n") for line in f]
        lines = [line for line in lines if line.strip() != ""]
        if not lines:
            raise ReplayError(f"{path}: empty")
        first = lines[0].strip()
        self.is_ticks = False
        if first == HEADER_CSV:
            self.format, body = "header", lines[1:]
        elif first == BAR_EXPORT:
            self.format, body = "bar-export", lines[1:]
        elif first == TICK_EXPORT:
            self.format, body = "tick-export", lines[1:]
            self.is_ticks = True
        else:
            self.format, body = "history-center", lines
        self.rows = []
        most = 0
        if self.is_ticks:
            bid = ask = None
            for line in body:
                f = line.split("\t")
                t = parse_time_ms(f[0], f[1])
                if f[2].strip():
                    bid = f[2].strip()
                    most = max(most, decimals(bid))
                if f[3].strip():
                    ask = f[3].strip()
                    most = max(most, decimals(ask))
                self.rows.append((t, bid, ask))
        else:
            for line in body:
                if self.format == "bar-export":
                    f = line.split("\t")
                    t = parse_time_ms(f[0], f[1])
                    prices, volume, spread = f[2:6], float(f[6]), int(f[8])
                elif self.format == "header":
                    f = line.split(",")
                    date_text, time_text = f[0].split(" ")
                    t = parse_time_ms(date_text, time_text)
                    prices, volume, spread = f[1:5], float(f[5]), None
                else:
                    f = line.split(",")
                    if " " in f[0]:
                        date_text, time_text = f[0].split(" ")
                        f = [date_text, time_text] + f[1:]
                    t = parse_time_ms(f[0], f[1])
                    prices, volume, spread = f[2:6], float(f[6]), None
                prices = [p.strip() for p in prices]
                most = max([most] + [decimals(p) for p in prices])
                o, h, l, c = prices
                self.rows.append((t, o, h, l, c, volume, spread))
        self.file_digits = most
        if self.is_ticks:
            self.timeframe_seconds = None
        else:
            steps = [b[0] - a[0] for a, b in zip(self.rows, self.rows[1:])]
            self.timeframe_seconds = min(steps) // 1000 if steps else 60


def timeframe_name(seconds):
    for name, s in PERIOD_SECONDS.items():
        if s == seconds and name != "MN1":
            return name
    return None


def align(time_s, timeframe):
    """A chart bar's time: the terminal's alignment of the time of its first row."""
    if timeframe == "MN1":
        tm = _time.gmtime(time_s)
        return calendar.timegm((tm.tm_year, tm.tm_mon, 1, 0, 0, 0))
    if timeframe == "W1":
        days = time_s // 86400
        since_sunday = (days + 4) % 7   # 1970.01.01 was a Thursday
        return (days - since_sunday) * 86400
    if timeframe == "D1":
        return time_s - time_s % 86400
    period = PERIOD_SECONDS[timeframe]
    return time_s - time_s % period


class ChartBar:
    __slots__ = ("time", "open", "high", "low", "close", "volume", "spread", "rows")

    def __init__(self, time_s, o, h, l, c, volume, spread, rows):
        self.time, self.open, self.high, self.low, self.close = time_s, o, h, l, c
        self.volume, self.spread, self.rows = volume, spread, rows


def build_chart(data, digits, chart_tf, own_tf):
    """Chart bars with prices in points; `rows` holds the file's rows (in points) of each bar."""
    if data.is_ticks:
        pts = []
        for t, bid, ask in data.rows:
            pts.append((t, to_points(bid, digits), to_points(ask, digits)))
    else:
        pts = [(t, to_points(o, digits), to_points(h, digits), to_points(l, digits), to_points(c, digits), v, s)
               for t, o, h, l, c, v, s in data.rows]
    bars = []
    if not data.is_ticks and chart_tf == own_tf:
        for r in pts:
            bars.append(ChartBar(r[0] // 1000, r[1], r[2], r[3], r[4], r[5], r[6], [r]))
        return bars
    for r in pts:
        key = align(r[0] // 1000, chart_tf)
        if bars and bars[-1].time == key:
            bars[-1].rows.append(r)
        else:
            bars.append(ChartBar(key, 0, 0, 0, 0, 0, None, [r]))
    for b in bars:
        if data.is_ticks:
            bids = [r[1] for r in b.rows]
            b.open, b.high, b.low, b.close = bids[0], max(bids), min(bids), bids[-1]
            b.volume = float(len(b.rows))
            b.spread = min(r[2] - r[1] for r in b.rows)
        else:
            b.open, b.close = b.rows[0][1], b.rows[-1][4]
            b.high = max(r[2] for r in b.rows)
            b.low = min(r[3] for r in b.rows)
            b.volume = float(sum(r[5] for r in b.rows))
            spreads = [r[6] for r in b.rows if r[6] is not None]
            b.spread = min(spreads) if spreads else None
    return bars


# ---------------------------------------------------------------- the instrument table

def read_table(path):
    """Rows of an instrument table: '#' lines and blank lines skipped, a header naming the columns."""
    header, rows = None, []
    with open(path, newline="") as f:
        for line in f:
            line = line.rstrip("\r\n")
            if not line.strip() or line.startswith("#"):
                continue
            cells = [c.strip() for c in line.split(",")]
            if header is None:
                header = cells
            else:
                rows.append(dict(zip(header, cells)))
    return rows


def affix_ok(affix):
    return len(affix) <= PLAIN_AFFIX or affix[0] in AFFIX_MARKS


def find_row(symbol, rows):
    """The row of the symbol's name ignoring case, else of the longest row symbol it contains with a
    broker's prefix or suffix (the earlier one on a tie)."""
    s = symbol.upper()
    for row in rows:
        if row["symbol"].upper() == s:
            return row
    best, best_key = None, None
    for row in rows:
        name = row["symbol"].upper()
        at = s.find(name)
        while at >= 0:
            if affix_ok(s[:at]) and affix_ok(s[at + len(name):]):
                key = (len(name), -at)
                if best_key is None or key > best_key:
                    best, best_key = row, key
                break
            at = s.find(name, at + 1)
    return best


class Instrument:
    """A chart's instrument and costs: the options given, over the table's row, over the defaults."""

    def __init__(self, a, symbol, row, file_digits):
        self.row = row
        self.source = row["symbol"] if row else None
        if a.digits is not None:
            self.digits = a.digits
        elif row:
            self.digits = max(int(row["digits"]), file_digits)
        else:
            self.digits = file_digits
        # the row's point values on a finer grid when the file's digits (or --digits) are finer than the row's
        finer = 10 ** max(0, self.digits - int(row["digits"])) if row else 1

        def pick(given, column, convert, default, scaled=False):
            if given is not None:
                return given
            if row:
                value = convert(row[column])
                return value * finer if scaled else value
            return default

        six = symbol.upper() if len(symbol) == 6 else None
        self.kind = row["kind"] if row else None   # no row: sized as a currency pair
        self.contract = pick(a.contract_size, "contract_size", float, 100000.0)
        self.base = pick(a.base, "base", str, six[:3] if six else None)
        self.quote = pick(a.quote, "profit", str, six[3:] if six else None)
        self.margin_currency = pick(a.margin_currency, "margin", str, self.base)
        self.margin_mode = pick(a.margin_mode, "margin_mode", str, "forex")
        self.max_leverage = pick(a.max_leverage, "max_leverage", float, 0.0)
        self.leverage = a.leverage if not (0 < self.max_leverage < a.leverage) else self.max_leverage
        self.table_spread = int(row["spread"]) * finer if row else None
        self.stop_level = pick(a.stop_level, "stop_level", int, 0, scaled=True)
        self.freeze_level = pick(a.freeze_level, "freeze_level", int, 0, scaled=True)
        self.min_lot = pick(a.min_lot, "min_lot", float, 0.01)
        self.max_lot = pick(a.max_lot, "max_lot", float, 100.0)
        self.lot_step = pick(a.lot_step, "lot_step", float, 0.01)
        self.risk = a.risk if a.risk is not None else (2.0 if self.kind in ("fx", None) else 0.0)
        table_costs = row if a.costs == "table" else None
        self.commission = a.commission if a.commission is not None else \
            float(table_costs["commission"]) if table_costs else 0.0
        self.commission_per = a.commission_per or (table_costs["commission_per"] if table_costs else "round-turn")
        self.swap_unit = pick(a.swap_unit, "swap_unit", str, "points")
        swap_finer = finer if self.swap_unit == "points" else 1
        self.swap_long = a.swap_long if a.swap_long is not None else \
            float(table_costs["swap_long"]) * swap_finer if table_costs else 0.0
        self.swap_short = a.swap_short if a.swap_short is not None else \
            float(table_costs["swap_short"]) * swap_finer if table_costs else 0.0
        self.triple_day = pick(a.triple_day, "triple_day", str, "wed")


# ---------------------------------------------------------------- library

class Library:
    def __init__(self, path):
        lib = ctypes.CDLL(os.path.abspath(path))
        i32, dbl, ptr, txt = ctypes.c_int32, ctypes.c_double, ctypes.c_void_p, ctypes.c_char_p
        lib.Rft.argtypes = [i32, ptr, i32, ptr, i32, ptr, i32, dbl, dbl, i32, dbl, dbl, i32, i32]
        lib.Rft.restype = i32
        lib.IniAll.argtypes = [txt, txt]
        lib.IniAll.restype = i32
        lib.LOT.argtypes = [dbl, dbl, dbl, dbl, dbl, dbl, i32, dbl, dbl, i32, txt]
        lib.LOT.restype = dbl
        for name in ("OpenSignal", "CloseSignal", "rews", "DSP", "DCloseSP", "HHH_1", "HHH_2"):
            getattr(lib, name).argtypes = []
            getattr(lib, name).restype = i32
        for name in ("PoTP", "PoSL", "Dpp"):
            getattr(lib, name).argtypes = []
            getattr(lib, name).restype = dbl
        lib.ErrorDescription.argtypes = [i32]
        lib.ErrorDescription.restype = txt
        self.lib = lib


# ---------------------------------------------------------------- the run

class Tick:
    __slots__ = ("time_ms", "bid", "ask", "gap")

    def __init__(self, time_ms, bid, ask, gap):
        self.time_ms, self.bid, self.ask, self.gap = time_ms, bid, ask, gap


class Position:
    __slots__ = ("ticket", "chart", "buy", "open_time", "open_price", "lots", "stop_loss",
                 "take_profit", "margin", "note", "worst", "best", "commission", "swap")


class Chart:
    """One chart of the run: its data, instrument, price path, window and latest quote."""

    def __init__(self, index, path, symbol, rate, a, table):
        self.index = index
        self.data = d = Data(path)
        self.symbol = symbol or re.match(r"[A-Za-z]*", os.path.basename(path)).group(0)
        self.inst = Instrument(a, self.symbol, find_row(self.symbol, table), d.file_digits)
        self.digits = self.inst.digits
        self.scale = float(10 ** self.digits)
        self.point = float("1e-%d" % self.digits)
        own_tf = None if d.is_ticks else timeframe_name(d.timeframe_seconds)
        self.chart_tf = a.timeframe or (own_tf if own_tf else "H1")
        if a.model:
            self.model = a.model
        elif d.is_ticks:
            self.model = "ticks"
        elif PERIOD_SECONDS[self.chart_tf] > d.timeframe_seconds:
            self.model = "lower"
        else:
            self.model = "open"
        if self.model == "ticks" and not d.is_ticks:
            raise ReplayError("--model ticks needs a tick file")
        if self.model == "lower" and (d.is_ticks or PERIOD_SECONDS[self.chart_tf] <= d.timeframe_seconds):
            raise ReplayError("--model lower needs bars of a lower timeframe than the chart")
        if self.inst.quote is None:
            raise ReplayError(f"cannot tell the currencies of {self.symbol}")
        self.spread_option = a.spread
        self.fallback_spread = self.inst.table_spread if self.inst.table_spread is not None else \
            (12 if self.digits in (3, 5) else 2)
        self.pip_mode = a.pip_mode if a.pip_mode is not None else (4 if self.digits in (3, 5) else 5)
        self.rate = rate
        self.bars = build_chart(d, self.digits, self.chart_tf, own_tf)
        self.symbol_text = self.symbol.encode("ascii")
        self.bid = self.ask = None      # the latest quote in points, history ticks included
        self.prev = None                # the previous tick of the test
        self.via = set()                # charts its money converts through
        self.converts_others = False
        self.bars_tested = self.ticks_modelled = 0
        self.refused = self.no_lot = self.not_sent = 0
        self.no_lot_reason = None

    def prepare(self, a):
        window_n = a.window
        if not 98 <= window_n <= 500:
            raise ReplayError("--window must be 98 to 500")
        bars = self.bars
        start = window_n - 1
        if a.from_ is not None:
            while start < len(bars) and bars[start].time < a.from_:
                start += 1
        end = len(bars) - 1
        if a.to is not None:
            while end >= 0 and bars[end].time > a.to:
                end -= 1
        self.start, self.end = start, end
        self.history = np.zeros(len(bars), dtype=BAR_RECORD)
        for i, b in enumerate(bars):
            self.history[i] = (b.time, self.price(b.open), self.price(b.low), self.price(b.high),
                               self.price(b.close), b.volume)
        self.window = np.zeros(window_n, dtype=BAR_RECORD)

    def price(self, points):
        return points / self.scale

    def fmt_price(self, points):
        return "%.*f" % (self.digits, points / self.scale)

    def spread_for(self, data_spread):
        if self.spread_option is not None:
            return self.spread_option
        if data_spread is not None:
            return data_spread
        return self.fallback_spread

    def four_ticks(self, time_ms, o, h, l, c, spread):
        """Open, the nearer extreme (the low on a tie), the farther one, close; a gap into the first."""
        low_first = o - l <= h - o
        first, second = (l, h) if low_first else (h, l)
        return [Tick(time_ms, p, p + spread, i == 0) for i, p in enumerate((o, first, second, c))]

    def ticks_of(self, bar):
        """The modelled ticks of a chart bar, and the spread of the open model's rest of the bar."""
        ms = bar.time * 1000
        if self.model == "open":
            s = self.spread_for(bar.spread)
            return [Tick(ms, bar.open, bar.open + s, True)], s
        if self.model == "ohlc":
            s = self.spread_for(bar.spread)
            return self.four_ticks(ms, bar.open, bar.high, bar.low, bar.close, s), s
        if self.model == "lower":
            ticks = []
            for r in bar.rows:
                ticks += self.four_ticks(r[0], r[1], r[2], r[3], r[4], self.spread_for(r[6]))
            return ticks, None
        ticks = []
        for t, bid, ask in bar.rows:
            ticks.append(Tick(t, bid, bid + self.spread_option if self.spread_option is not None else ask, True))
        return ticks, None

    def events(self):
        """(time, chart, bar index, tick index, last of its bar, tick, spread); history first when another
        chart's money converts through this one; then the chart's end (tick None): right after its last tick
        when its data ends, else when its first tick after --to would come."""
        first = 0 if self.converts_others else self.start
        last_time = None
        for i in range(first, self.end + 1):
            ticks, spread = self.ticks_of(self.bars[i])
            n = len(ticks)
            for k, tick in enumerate(ticks):
                yield tick.time_ms, self.index, i, k, k == n - 1, tick, spread
                last_time = tick.time_ms
        if self.start <= self.end:
            if self.end + 1 < len(self.bars):
                last_time = self.ticks_of(self.bars[self.end + 1])[0][0].time_ms
            yield last_time, self.index, self.end + 1, 0, True, None, None


class SplitMix64:
    def __init__(self, seed):
        self.state = seed & MASK64

    def next(self):
        self.state = (self.state + SPLITMIX_GAMMA) & MASK64
        z = self.state
        z = ((z ^ (z >> 30)) * SPLITMIX_MUL1) & MASK64
        z = ((z ^ (z >> 27)) * SPLITMIX_MUL2) & MASK64
        return z ^ (z >> 31)


def parse_slippage(text):
    """(low, high, drawn): 'N' moves every fill N points, 'A:B' draws from A to B."""
    if ":" in text:
        low, high = (int(x) for x in text.split(":"))
        return low, high, True
    return int(text), int(text), False


class Replay:
    def __init__(self, args):
        self.a = args
        table = read_table(args.symbols or BUNDLED_TABLE)
        files = [p for b in args.bars for p in b.split("+")]
        symbols = args.symbol or []
        if symbols and len(symbols) != len(files):
            raise ReplayError("--symbol once per chart")
        rates = args.conversion_rate or []
        self.charts = [Chart(i, f, symbols[i] if symbols else None, rates[i] if i < len(rates) else None,
                             args, table) for i, f in enumerate(files)]
        for c in self.charts:
            c.profit_route = self.route(c, c.inst.quote)
            c.margin_route = self.route(c, c.inst.margin_currency)
            for op, other in c.profit_route + c.margin_route:
                if op in ("mul_via", "div_via"):
                    c.via.add(other)
                    other.converts_others = True
        # equity.csv follows the chart of the shortest timeframe, the first of them
        self.equity_chart = min(self.charts, key=lambda c: PERIOD_SECONDS[c.chart_tf])
        self.last_bar_row_ms = -1    # the time of equity.csv's last bar row
        self.currency_text = args.currency.encode("ascii")
        self.lib = Library(args.lib).lib
        self.slippage = parse_slippage(args.slippage)
        self.rng = SplitMix64(args.seed)

        # the account
        self.balance = args.deposit
        self.positions = []          # in ticket order, every chart's
        self.next_ticket = 1
        self.trades = []             # rows of trades.csv
        self.refusals = []
        self.samples = []            # equity samples in order: (time_ms, equity)
        self.row_samples = []        # the samples since the last row of equity.csv
        self.equity_rows = []
        self.ended_by_stop_out = False
        self.end_time = None
        self.next_rollover = None    # the swap clock; None until the test's first tick
        self.equity_bar_time = None
        self.pending_row = None      # the equity chart's last bar, its row not yet written
        self.signal_counts = {"updates": 0, "open": {}, "close": {}}

    # -------------------------------------------------- money

    def route(self, c, currency):
        """How an amount in `currency` on chart c becomes account money: a list of (operation, operand)."""
        account = self.a.currency
        if currency == account:
            return []
        if currency == c.inst.quote and c.rate is not None:
            return [("rate", c.rate)]
        if currency == c.inst.quote and c.inst.base == account:
            return [("div_own", None)]
        if currency == c.inst.base and c.inst.quote == account:
            return [("mul_own", None)]   # the chart's own price quotes it, before another chart of the pair
        for d in self.charts:
            if d is c:
                continue
            if (d.inst.base, d.inst.quote) == (currency, account):
                return [("mul_via", d)]
            if (d.inst.base, d.inst.quote) == (account, currency):
                return [("div_via", d)]
        if currency == c.inst.base and currency != c.inst.quote:
            # into the profit currency at the chart's own price first
            return [("mul_own", None)] + self.route(c, c.inst.quote)
        raise ReplayError(f"{c.symbol}: {currency} cannot be converted into {account}")

    def convert(self, route, amount, own_price, buy):
        for op, x in route:
            if op == "rate":
                amount = amount * x
            elif op == "div_own":
                amount = amount / own_price
            elif op == "mul_own":
                amount = amount * own_price
            else:
                quote = x.bid if buy else x.ask
                if quote is None:
                    raise ReplayError(f"{x.symbol} has no tick yet to convert with")
                amount = amount * x.price(quote) if op == "mul_via" else amount / x.price(quote)
        return amount

    def profit(self, pos, close_price):
        """Unrounded profit in account money of `pos` closed at the double `close_price`."""
        c = pos.chart
        move = (close_price - pos.open_price) if pos.buy else (pos.open_price - close_price)
        return self.convert(c.profit_route, move * pos.lots * c.inst.contract, close_price, pos.buy)

    def margin_of(self, c, lots, open_price, buy):
        value = lots * c.inst.contract / c.inst.leverage
        if c.inst.margin_mode == "cfd":
            value = value * open_price
        return self.convert(c.margin_route, value, open_price, buy)

    def prices_now(self):
        """{ticket: closing price} of every open position at its chart's latest quote."""
        return {p.ticket: p.chart.price(p.chart.bid if p.buy else p.chart.ask) for p in self.positions}

    def with_chart_at(self, c, bid, ask):
        prices = self.prices_now()
        for p in self.positions:
            if p.chart is c:
                prices[p.ticket] = c.price(bid if p.buy else ask)
        return prices

    def equity_at(self, prices):
        eq = self.balance
        for pos in self.positions:
            eq += self.profit(pos, prices[pos.ticket]) + pos.swap
        return eq

    def total_margin(self):
        m = 0.0
        for pos in self.positions:
            m += pos.margin
        return m

    def margin_level_below(self, prices):
        margin = self.total_margin()
        if not self.positions or margin <= 0:
            return False
        return self.equity_at(prices) / margin * 100 < self.a.stop_out

    def see(self, pos, close_price):
        """The worst and best closing price the position had; its excursions are its profit at them, in
        account money converted at the close."""
        if pos.buy:
            pos.worst, pos.best = min(pos.worst, close_price), max(pos.best, close_price)
        else:
            pos.worst, pos.best = max(pos.worst, close_price), min(pos.best, close_price)

    def sample(self, time_ms, equity):
        self.samples.append((time_ms, equity))
        self.row_samples.append(equity)

    def moves_equity(self, c):
        """Whether chart c's price moves the account's equity: a position of its own or one converted through it."""
        return any(p.chart is c or c in p.chart.via for p in self.positions)

    # -------------------------------------------------- costs

    def slip(self):
        low, high, drawn = self.slippage
        if not drawn:
            return low
        x = self.rng.next()
        return low + (((x >> 32) * (high - low + 1)) >> 32)

    def slipped(self, pos, closing):
        """A close that takes slippage: a buy lower, a sell higher (points)."""
        s = self.slip()
        return closing - s if pos.buy else closing + s

    def rollovers(self, time_ms):
        """Every rollover after the previous tick and at or before this one charges its nights."""
        while self.next_rollover <= time_ms:
            r = self.next_rollover
            # the trading day the rollover ends: the one its last second before the rollover belongs to
            weekday = _time.gmtime((r - 1000) // 1000).tm_wday
            for pos in self.positions:
                inst = pos.chart.inst
                rate = inst.swap_long if pos.buy else inst.swap_short
                if rate == 0 or weekday >= SATURDAY:
                    continue
                nights = TRIPLE_NIGHTS if weekday == WEEKDAYS[inst.triple_day] else 1
                if inst.swap_unit == "points":
                    # a lot's night in account money: the points' value, converted like a profit
                    c = pos.chart
                    rate = self.convert(c.profit_route, rate * c.point * inst.contract,
                                        c.price(c.bid if pos.buy else c.ask), pos.buy)
                pos.swap += cents(nights * pos.lots * rate)
            self.next_rollover = r + DAY_MS

    def start_clock(self, time_ms):
        first = time_ms - time_ms % DAY_MS + self.a.rollover_hour * HOUR_MS
        self.next_rollover = first if first > time_ms else first + DAY_MS

    # -------------------------------------------------- orders

    def close(self, pos, close_price, time_ms, reason):
        self.see(pos, close_price)
        profit = cents(self.profit(pos, close_price))
        self.balance += profit
        self.balance += pos.swap
        self.positions.remove(pos)
        c = pos.chart
        self.trades.append({
            "ticket": pos.ticket, "chart": c, "symbol": c.symbol, "type": "buy" if pos.buy else "sell",
            "open_time": pos.open_time, "open_price": pos.open_price, "lots": pos.lots,
            "stop_loss": pos.stop_loss, "take_profit": pos.take_profit, "close_time": time_ms,
            "close_price": close_price, "commission": pos.commission, "swap": pos.swap, "profit": profit,
            "balance": self.balance, "reason": reason, "mae": self.profit(pos, pos.worst),
            "mfe": self.profit(pos, pos.best), "note": pos.note})

    def close_at(self, pos, points, time_ms, reason):
        self.close(pos, pos.chart.price(points), time_ms, reason)

    def refuse(self, c, tick, buy, lots, code, ticket=None, text=None):
        self.refusals.append({"time": tick.time_ms, "type": "buy" if buy else "sell", "lots": lots, "code": code,
                              "symbol": c.symbol, "ticket": ticket, "chart": c, "text": text})
        c.refused += 1

    def level(self, c, what, name, distance, entry, away, closing, closing_name):
        """One level of an order in points as the expert checks it: (level or None, note, refusal text)."""
        if not (distance > 0):
            return None, f"opened without a {what}: {name} answered {fmt_number(distance)}", None
        level = round_half_away((entry / c.scale + away * distance) * c.scale)
        if level <= 0:
            sign = "+" if away > 0 else "-"
            return None, f"opened without a {what}: {c.fmt_price(entry)} {sign} " \
                         f"{distance:.{c.digits}f} is {c.fmt_price(level)} (not above 0)", None
        points = away * (level - closing)
        needed = max(c.inst.stop_level, 1)
        if points >= needed:
            return level, None, None
        if points <= 0:
            rel = "at or below" if away > 0 else "at or above"
            return None, f"opened without a {what}: {c.fmt_price(level)} is {rel} the {closing_name} " \
                         f"{c.fmt_price(closing)}", None
        if self.a.stops_too_close == "refuse":
            return None, None, f"not sent: its {what} {c.fmt_price(level)} is {points} points from the " \
                               f"{closing_name} {c.fmt_price(closing)} and the broker needs {needed}"
        moved = closing + away * needed
        return moved, f"{what} {c.fmt_price(level)} was {points} points from the {closing_name} " \
                      f"{c.fmt_price(closing)} and the broker needs {needed}: moved out to {c.fmt_price(moved)}", None

    def open_position(self, c, side, tick):
        a, inst = self.a, c.inst
        buy = side == 1
        entry = tick.ask if buy else tick.bid
        entry_price = c.price(entry)
        free_margin = self.equity_at(self.prices_now()) - self.total_margin()
        lots = self.lib.LOT(a.fixed_lot, inst.risk, a.risk_multiplier, inst.min_lot, inst.max_lot, inst.lot_step,
                            int(inst.contract), free_margin, self.margin_of(c, 1.0, entry_price, buy), a.risk_split,
                            c.symbol_text)
        if not (math.isfinite(lots) and lots > 0):
            self.refuse(c, tick, buy, lots, REFUSED_NO_LOT)
            c.no_lot += 1
            return
        closing = tick.bid if buy else tick.ask
        closing_name = "bid" if buy else "ask"
        up = 1 if buy else -1
        notes = []
        tp, note, refused = self.level(c, "take-profit", "PoTP", self.take_profit_distance, entry, up, closing,
                                       closing_name)
        if not refused:
            notes += [note] if note else []
            sl, note, refused = self.level(c, "stop-loss", "PoSL", self.stop_loss_distance, entry, -up, closing,
                                           closing_name)
            notes += [note] if note else []
        if refused:
            self.refuse(c, tick, buy, lots, REFUSED_NO_LOT, text=refused)
            c.not_sent += 1
            return
        if lots < inst.min_lot or lots > inst.max_lot:
            self.refuse(c, tick, buy, lots, REFUSED_LOT_LIMITS)
            return
        s = self.slip()
        fill = entry + s if buy else entry - s
        margin = self.margin_of(c, lots, c.price(fill), buy)
        if free_margin - margin < 0:
            self.refuse(c, tick, buy, lots, REFUSED_NO_MONEY)
            return
        commission = cents(lots * inst.commission * (2 if inst.commission_per == "side" else 1))
        self.balance -= commission
        pos = Position()
        pos.ticket, pos.chart, pos.buy, pos.open_time = self.next_ticket, c, buy, tick.time_ms
        self.next_ticket += 1
        pos.open_price, pos.lots = c.price(fill), lots
        pos.stop_loss, pos.take_profit, pos.margin = sl, tp, margin
        pos.note = "; ".join(notes)
        pos.commission, pos.swap = -commission, 0.0
        pos.worst = pos.best = c.price(closing)
        self.positions.append(pos)

    def frozen(self, c, pos, closing):
        """A position whose take-profit or stop-loss lies within the freeze level cannot be closed."""
        freeze = c.inst.freeze_level
        return freeze > 0 and any(level is not None and abs(level - closing) <= freeze
                                  for level in (pos.take_profit, pos.stop_loss))

    # -------------------------------------------------- the expert

    def own_positions(self, c):
        """A chart's expert counts the orders of its own magic number: its chart's."""
        return [p for p in self.positions if p.chart is c]

    def feed(self, c, tick):
        own = self.own_positions(c)
        newest = own[-1] if own else None
        open_price = newest.open_price if newest else 0.0
        kind = (0 if newest.buy else 1) if newest else 0
        n = len(c.window)
        addr = c.window.ctypes.data
        self.lib.Rft(n, addr, n, addr, n, addr, n, c.price(tick.ask), c.price(tick.bid), c.digits,
                     c.point, open_price, kind, c.pip_mode)
        self.lib.IniAll(c.symbol_text, self.currency_text)

    def update(self, c, tick):
        lib = self.lib
        self.signal_counts["updates"] += 1
        self.feed(c, tick)
        exit_side = lib.CloseSignal()
        count(self.signal_counts["close"], exit_side)
        closed = 0
        if exit_side in (1, 2):
            want_buy = exit_side == 1
            for pos in reversed(self.own_positions(c)):
                if pos.buy != want_buy:
                    continue
                closing = tick.bid if pos.buy else tick.ask
                if self.frozen(c, pos, closing):
                    self.refuse(c, tick, pos.buy, pos.lots, REFUSED_FROZEN, pos.ticket)
                    continue
                self.close_at(pos, self.slipped(pos, closing), tick.time_ms, "close-signal")
                closed += 1
        if closed:
            self.feed(c, tick)
        entry_side = lib.OpenSignal()
        count(self.signal_counts["open"], entry_side)
        self.take_profit_distance = lib.PoTP()
        self.stop_loss_distance = lib.PoSL()
        if entry_side in (1, 2) and len(self.own_positions(c)) < self.a.max_positions:
            self.open_position(c, entry_side, tick)

    # -------------------------------------------------- the broker's moves

    def stop_out(self, prices, time_ms, sampled):
        """Closes the most losing position while the margin level is below the stop-out.
        prices: {ticket: closing price}. Returns True when the test ends for want of money."""
        if not self.close_most_losing(prices, time_ms):
            return False
        if self.no_money_left(prices, time_ms):
            return True
        if sampled:
            self.sample(time_ms, self.equity_at(prices))
        return False

    def close_most_losing(self, prices, time_ms):
        """While the margin level is below the stop-out, the position of the smallest profit plus swap (the
        lower ticket on a tie) closes, slipped; returns whether any did."""
        closed = False
        while self.margin_level_below(prices):
            worst = min(self.positions, key=lambda p: (self.profit(p, prices[p.ticket]) + p.swap, p.ticket))
            at = round_half_away(prices[worst.ticket] * worst.chart.scale)
            self.close_at(worst, self.slipped(worst, at), time_ms, "stop-out")
            closed = True
        return closed

    def no_money_left(self, prices, time_ms):
        """After a stop-out: with the balance or the equity at or below 0 the test ends here."""
        if self.balance > 0 and self.equity_at(prices) > 0:
            return False
        for pos in list(self.positions):
            self.close(pos, prices[pos.ticket], time_ms, "end-of-test")
        self.sample(time_ms, self.balance)
        self.ended_by_stop_out = True
        self.end_time = time_ms
        return True

    def gap(self, c, tick):
        """Every level the new tick reached or jumped over fills at its closing price."""
        c.bid, c.ask = tick.bid, tick.ask
        if not self.positions:
            return False
        for pos in [p for p in self.positions if p.chart is c]:
            closing = tick.bid if pos.buy else tick.ask
            reason = level_reached(pos, closing)
            if reason == "stop-loss":
                self.close_at(pos, self.slipped(pos, closing), tick.time_ms, reason)
            elif reason:
                self.close_at(pos, closing, tick.time_ms, reason)
        # the tick's own sample (step 3) follows; a gap adds none of its own
        return self.stop_out(self.prices_now(), tick.time_ms, sampled=False)

    def continuous(self, c, old, tick):
        """The bid one point at a time from the old tick to the new one, the ask the spread above."""
        spread = tick.ask - tick.bid
        direction = 1 if tick.bid > old.bid else -1
        for step in range(1, abs(tick.bid - old.bid) + 1):
            if not self.positions:
                break
            moving = self.moves_equity(c)
            c.bid = old.bid + direction * step
            c.ask = c.bid + spread
            for pos in [p for p in self.positions if p.chart is c]:
                closing = c.bid if pos.buy else c.ask
                reason = level_reached(pos, closing)
                if reason:
                    fill = self.slipped(pos, closing) if reason == "stop-loss" else closing
                    self.close_at(pos, fill, tick.time_ms, reason)
                    self.sample(tick.time_ms, self.equity_at(self.prices_now()))
            if self.stop_out(self.prices_now(), tick.time_ms, sampled=True):
                return True
            if not moving:
                break   # the account's equity does not move with this chart: one check is all of them
        c.bid, c.ask = tick.bid, tick.ask
        return False

    def rest_of_bar(self, c, bar, tick, spread):
        """The open model: the bar's range after its only tick, the adverse move first."""
        time_ms = tick.time_ms
        low_bid, low_ask = bar.low, bar.low + spread
        high_bid, high_ask = bar.high, bar.high + spread
        mine = lambda: [p for p in self.positions if p.chart is c]
        # 1. stop-losses the range reaches
        for pos in mine():
            if pos.stop_loss is None:
                continue
            if pos.buy and low_bid <= pos.stop_loss:
                fill = pos.stop_loss if tick.bid > pos.stop_loss else tick.bid
            elif not pos.buy and high_ask >= pos.stop_loss:
                fill = pos.stop_loss if tick.ask < pos.stop_loss else tick.ask
            else:
                continue
            self.close_at(pos, self.slipped(pos, fill), time_ms, "stop-loss")
        # 2. the stop-out along the adverse move
        if self.adverse_stop_out(c, tick, low_bid, high_ask, time_ms):
            return True
        # 3. take-profits the range reaches
        for pos in mine():
            if pos.take_profit is None:
                continue
            if pos.buy and high_bid >= pos.take_profit:
                fill = pos.take_profit if tick.bid < pos.take_profit else tick.bid
                worst = low_bid
            elif not pos.buy and low_ask <= pos.take_profit:
                fill = pos.take_profit if tick.ask > pos.take_profit else tick.ask
                worst = high_ask
            else:
                continue
            self.see(pos, c.price(worst))
            self.close_at(pos, fill, time_ms, "take-profit")
        # 4. the bar's equity low and high
        worst_prices = self.with_chart_at(c, low_bid, high_ask)
        best_prices = self.with_chart_at(c, high_bid, low_ask)
        for pos in mine():
            self.see(pos, worst_prices[pos.ticket])
            self.see(pos, best_prices[pos.ticket])
        self.sample(time_ms, self.equity_at(worst_prices))
        self.sample(time_ms, self.equity_at(best_prices))
        return False

    def adverse_stop_out(self, c, tick, low_bid, high_ask, time_ms):
        f_from = 0.0
        while any(p.chart is c for p in self.positions):
            others = self.prices_now()
            mine = [p for p in self.positions if p.chart is c]
            start = {p.ticket: c.price(tick.bid if p.buy else tick.ask) for p in mine}
            worst = {p.ticket: c.price(low_bid if p.buy else high_ask) for p in mine}

            def prices_at(f):
                prices = dict(others)
                prices.update({t: start[t] + f * (worst[t] - start[t]) for t in start})
                return prices

            if not self.margin_level_below(prices_at(1.0)):
                break
            if self.margin_level_below(prices_at(f_from)):
                crossing = f_from
            else:
                lo, hi = f_from, 1.0
                while True:
                    mid = (lo + hi) / 2
                    if mid <= lo or mid >= hi:
                        break
                    if self.margin_level_below(prices_at(mid)):
                        hi = mid
                    else:
                        lo = mid
                crossing = hi
            unrounded = prices_at(crossing)
            at = dict(others)
            for p in mine:
                at[p.ticket] = c.price(toward_worst(unrounded[p.ticket] * c.scale, p.buy))
            if not self.close_most_losing(at, time_ms):
                break   # prices rounded towards the worst cannot lift the level; kept so the loop is bounded
            if self.no_money_left(at, time_ms):
                return True
            self.sample(time_ms, self.equity_at(at))
            f_from = crossing
        return False

    # -------------------------------------------------- the whole test

    def run(self):
        for c in self.charts:
            c.prepare(self.a)
        self.lib.rews()
        in_test = sum(1 for c in self.charts if c.start <= c.end)
        last_tick = None
        for _, ci, i, k, last, tick, spread in heapq.merge(*(c.events() for c in self.charts), key=lambda e: e[0]):
            c = self.charts[ci]
            if tick is None:
                in_test -= 1
                if in_test:
                    self.end_chart(c)   # the others go on
                    continue
                break
            if i < c.start:
                c.bid, c.ask = tick.bid, tick.ask   # history: for conversions only
                continue
            last_tick = tick
            if self.step(c, i, k, tick, spread, last):
                self.equity_row(tick.time_ms, self.balance)
                return
        if last_tick is None:
            return
        self.flush_bar_row()
        for pos in list(self.positions):
            self.close_at(pos, pos.chart.bid if pos.buy else pos.chart.ask, last_tick.time_ms, "end-of-test")
        self.sample(last_tick.time_ms, self.balance)
        self.end_time = last_tick.time_ms
        self.equity_row(last_tick.time_ms, self.balance)

    def end_chart(self, c):
        """A chart whose data ended (or passed --to) while the others go on: its last bar's row if it is the
        equity chart, then its positions close at its last tick's prices."""
        c.ended = True
        if c is self.equity_chart:
            self.flush_bar_row()
            # equity.csv goes on with the chart of the shortest timeframe still running (the first of them)
            running = [x for x in self.charts if not getattr(x, "ended", False)]
            if running:
                self.equity_chart = min(running, key=lambda x: PERIOD_SECONDS[x.chart_tf])
        for pos in [p for p in self.positions if p.chart is c]:
            self.close_at(pos, c.bid if pos.buy else c.ask, c.prev.time_ms, "end-of-test")

    def step(self, c, i, k, tick, spread, last):
        """One modelled tick of chart c, whole; returns True when a stop-out left no money."""
        a = self.a
        bar = c.bars[i]
        window_n = len(c.window)
        by_bars = a.equity == "bars"
        if k == 0:
            c.bars_tested += 1
            c.window[:window_n - 1] = c.history[i - window_n + 1:i]
            c.o = c.hi = c.lo = None
            if c is self.equity_chart:
                self.flush_bar_row()
                self.equity_bar_time = bar.time
        c.ticks_modelled += 1
        if self.next_rollover is None:
            self.start_clock(tick.time_ms)
        else:
            self.rollovers(tick.time_ms)
        if c.prev is not None:
            ended = self.gap(c, tick) if tick.gap else self.continuous(c, c.prev, tick)
            if ended:
                if by_bars:
                    self.pending_row = None
                    self.equity_row(self.equity_bar_time * 1000, self.balance)
                return True
        else:
            c.bid, c.ask = tick.bid, tick.ask
        c.prev = tick
        # the tick's price is one the positions had, also those a close signal closes at this tick (slipped)
        for pos in self.positions:
            if pos.chart is c:
                self.see(pos, c.price(c.bid if pos.buy else c.ask))
        price = c.price(tick.bid)
        if c.o is None:
            c.o = c.hi = c.lo = price
        c.hi, c.lo = max(c.hi, price), min(c.lo, price)
        if a.decide == "tick" or k == 0:
            c.window[window_n - 1] = (bar.time, c.o, c.lo, c.hi, price, k + 1)
            self.update(c, tick)
        prices = self.prices_now()
        for pos in self.positions:
            if pos.chart is c:
                self.see(pos, prices[pos.ticket])
        equity = self.equity_at(prices)
        self.sample(tick.time_ms, equity)
        if c.model == "open":
            if self.rest_of_bar(c, bar, tick, spread):
                self.pending_row = None
                self.equity_row(tick.time_ms if not by_bars else self.equity_bar_time * 1000, self.balance)
                return True
            if not by_bars:
                # a tick's row: what is left after the rest of the bar, at the tick's prices
                self.equity_row(tick.time_ms, self.equity_at(self.prices_now()))
        elif not by_bars:
            self.equity_row(tick.time_ms, equity)
        if by_bars and last and c is self.equity_chart:
            self.pending_row = (bar, spread)
        return False

    def flush_bar_row(self):
        """The equity chart's bar row, written when its next bar starts or the test ends: every chart at its
        latest quote, the equity chart's positions at the bar's close in the open model."""
        if self.pending_row is None:
            return
        bar, spread = self.pending_row
        self.pending_row = None
        if bar.time * 1000 <= self.last_bar_row_ms:
            return   # a bar of the chart taken over that lies before the last row
        self.last_bar_row_ms = bar.time * 1000
        e = self.equity_chart
        prices = self.with_chart_at(e, bar.close, bar.close + spread) if e.model == "open" else self.prices_now()
        self.equity_row(bar.time * 1000, self.equity_at(prices))

    def equity_row(self, time_ms, equity):
        margin = self.total_margin()
        # the row's own equity counts too: in a portfolio, the equity chart's close with another chart's
        # later quote is a value no tick sampled
        low = min(self.row_samples + [equity])
        high = max(self.row_samples + [equity])
        self.equity_rows.append((time_ms, self.balance, equity, low, high, margin, equity - margin,
                                 len(self.positions)))
        self.row_samples = []

    # -------------------------------------------------- outputs

    def fmt_time(self, ms, chart=None):
        text = _time.strftime("%Y.%m.%d %H:%M:%S", _time.gmtime(ms // 1000))
        if (chart or self.equity_chart).data.is_ticks:
            text += ".%03d" % (ms % 1000)
        return text

    def write_trades(self, path):
        header = ("ticket,symbol,type,open_time,open_price,lots,stop_loss,take_profit,close_time,close_price,"
                  "commission,swap,profit,balance,reason,mae,mfe,note")
        lines = [header]
        for t in self.trades:
            c = t["chart"]
            level = lambda k: "" if k is None else c.fmt_price(k)
            lines.append(",".join([
                str(t["ticket"]), t["symbol"], t["type"], self.fmt_time(t["open_time"], c),
                "%.*f" % (c.digits, t["open_price"]), "%.2f" % t["lots"], level(t["stop_loss"]),
                level(t["take_profit"]), self.fmt_time(t["close_time"], c),
                "%.*f" % (c.digits, t["close_price"]), money(t["commission"]), money(t["swap"]),
                money(t["profit"]), money(t["balance"]),
                t["reason"], money(cents(t["mae"])), money(cents(t["mfe"])), csv_field(t["note"])]))
        with open(path, "w") as f:
            f.write("\n".join(lines) + "\n")

    def write_equity(self, path):
        lines = ["time,balance,equity,equity_low,equity_high,margin,free_margin,positions"]
        for t, balance, equity, low, high, margin, free, n in self.equity_rows:
            lines.append(",".join([self.fmt_time(t)] + [money(x) for x in (balance, equity, low, high, margin, free)]
                                  + [str(n)]))
        with open(path, "w") as f:
            f.write("\n".join(lines) + "\n")

    def figures(self):
        deposit = self.a.deposit
        results = [result(t) for t in self.trades]
        gross_profit = sum(p for p in results if p > 0)
        gross_loss = sum(p for p in results if p < 0)
        peak = deposit
        lowest = deposit
        maximal = maximal_pct = relative_pct = relative = 0.0
        for _, eq in self.samples:
            lowest = min(lowest, eq)
            if eq > peak:
                peak = eq
            fall = peak - eq
            if fall > maximal:
                maximal, maximal_pct = fall, fall / peak * 100 if peak > 0 else 0.0
            pct = fall / peak * 100 if peak > 0 else 0.0
            if pct > relative_pct:
                relative_pct, relative = pct, fall
        shorts = [t for t in self.trades if t["type"] == "sell"]
        longs = [t for t in self.trades if t["type"] == "buy"]
        return {
            "total_net_profit": round(self.balance - deposit, 2),
            "final_balance": round(self.balance, 2),
            "gross_profit": round(gross_profit, 2),
            "gross_loss": round(gross_loss, 2),
            "total_trades": len(self.trades),
            "profit_trades": sum(1 for p in results if p > 0),
            "loss_trades": sum(1 for p in results if p < 0),
            "short_positions": len(shorts),
            "short_won": sum(1 for t in shorts if result(t) > 0),
            "long_positions": len(longs),
            "long_won": sum(1 for t in longs if result(t) > 0),
            "largest_profit_trade": max([p for p in results if p > 0], default=0.0),
            "largest_loss_trade": min([p for p in results if p < 0], default=0.0),
            "absolute_drawdown": round(max(0.0, deposit - lowest), 2),
            "maximal_drawdown": round(maximal, 2),
            "maximal_drawdown_percent": maximal_pct,
            "relative_drawdown_percent": relative_pct,
            "relative_drawdown": round(relative, 2),
            "bars_in_test": sum(c.bars_tested for c in self.charts),
            "ticks_modelled": sum(c.ticks_modelled for c in self.charts),
            "profit_factor": gross_profit / -gross_loss if gross_loss < 0 else None,
            "expected_payoff": (self.balance - deposit) / len(results) if results else 0.0,
            "average_profit_trade": mean([p for p in results if p > 0]),
            "average_loss_trade": mean([p for p in results if p < 0]),
            "total_commission": sum(t["commission"] for t in self.trades),
            "total_swap": sum(t["swap"] for t in self.trades),
            **self.runs_of_trades(results),
            "sharpe_ratio": self.sharpe_ratio(),
            **self.longest_drawdown(),
        }

    def symbol_figures(self):
        out = []
        for c in self.charts:
            trades = [t for t in self.trades if t["chart"] is c]
            results = [result(t) for t in trades]
            gross_profit = sum(p for p in results if p > 0)
            gross_loss = sum(p for p in results if p < 0)
            out.append({
                "symbol": c.symbol, "model": c.model, "chart_bars": c.bars_tested, "ticks_modelled": c.ticks_modelled,
                "total_trades": len(trades), "profit_trades": sum(1 for p in results if p > 0),
                "loss_trades": sum(1 for p in results if p < 0), "net_profit": sum(results),
                "gross_profit": gross_profit, "gross_loss": gross_loss,
                "profit_factor": gross_profit / -gross_loss if gross_loss < 0 else None,
                "profit": sum(t["profit"] for t in trades), "commission": sum(t["commission"] for t in trades),
                "swap": sum(t["swap"] for t in trades), "orders_refused": c.refused, "no_lot": c.no_lot,
                "not_sent_levels_too_close": c.not_sent,
                "instrument": {
                    "source": c.inst.source, "digits": c.digits, "contract_size": c.inst.contract,
                    "spread_points": self.a.spread if self.a.spread is not None else c.fallback_spread,
                    "min_lot": c.inst.min_lot, "max_lot": c.inst.max_lot, "lot_step": c.inst.lot_step,
                    "risk_percent": c.inst.risk, "base": c.inst.base, "profit_currency": c.inst.quote,
                    "margin_currency": c.inst.margin_currency, "margin_mode": c.inst.margin_mode,
                    "max_leverage": c.inst.max_leverage, "stop_level": c.inst.stop_level,
                    "freeze_level": c.inst.freeze_level, "kind": c.inst.kind,
                    "commission": c.inst.commission, "commission_per": c.inst.commission_per,
                    "swap_long": c.inst.swap_long, "swap_short": c.inst.swap_short,
                    "swap_unit": c.inst.swap_unit, "triple_day": c.inst.triple_day},
            })
        return out

    def runs_of_trades(self, results):
        """Runs of wins and of losses in closing order; a trade of exactly 0 ends a run and starts none."""
        runs = []   # [sign, count, money]
        for p in results:
            sign = (p > 0) - (p < 0)
            if sign and runs and runs[-1][0] == sign:
                runs[-1][1] += 1
                runs[-1][2] += p
            else:
                runs.append([sign, 1, p])
        wins = [r for r in runs if r[0] > 0]
        losses = [r for r in runs if r[0] < 0]

        def pick(rs, key):
            best = None
            for r in rs:
                if best is None or key(r) > key(best):
                    best = r
            return {"count": best[1], "money": round(best[2], 2)} if best else {"count": 0, "money": 0.0}

        return {
            "max_consecutive_wins": pick(wins, lambda r: r[1]),
            "max_consecutive_losses": pick(losses, lambda r: r[1]),
            "maximal_consecutive_profit": pick(wins, lambda r: r[2]),
            "maximal_consecutive_loss": pick(losses, lambda r: -r[2]),
            "average_consecutive_wins": mean([r[1] for r in wins]),
            "average_consecutive_losses": mean([r[1] for r in losses]),
        }

    def sharpe_ratio(self):
        """Mean over the standard deviation (n - 1) of the trades' returns on the balance before each."""
        returns = [result(t) / (t["balance"] - result(t)) for t in self.trades]
        if len(returns) < 2:
            return None
        m = sum(returns) / len(returns)
        sd = math.sqrt(sum((r - m) ** 2 for r in returns) / (len(returns) - 1))
        return m / sd if sd > 0 else 0.0

    def longest_drawdown(self):
        """The longest time from a peak until equity regained it, or until the end."""
        peak, peak_time = self.a.deposit, self.samples[0][0] if self.samples else 0
        longest, start, end = 0, None, None
        below = False
        for t, eq in self.samples:
            if eq >= peak:
                if below and t - peak_time > longest:
                    longest, start, end = t - peak_time, peak_time, t
                peak, peak_time, below = eq, t, False
            else:
                below = True
        if below and self.samples and self.samples[-1][0] - peak_time > longest:
            longest, start, end = self.samples[-1][0] - peak_time, peak_time, self.samples[-1][0]

        def stamp(ms):   # minutes, and the seconds when there are any
            return None if ms is None else self.fmt_time(ms)[:19 if ms // 1000 % 60 else 16]

        seconds = end // 1000 - start // 1000 if start is not None else 0
        return {"longest_drawdown_seconds": seconds, "longest_drawdown_start": stamp(start),
                "longest_drawdown_end": stamp(end)}

    def write_summary(self, path, trades_path, equity_path):
        listed_by_code = {}
        for r in self.refusals[:REFUSALS_LISTED]:
            listed_by_code[str(r["code"])] = listed_by_code.get(str(r["code"]), 0) + 1
        figures = self.figures()
        with open(trades_path, newline="") as f:
            trade_rows = list(csv.DictReader(f))
        with open(equity_path, newline="") as f:
            equity_rows = list(csv.DictReader(f))
        figures.update(file_figures.file_figures(
            trade_rows, equity_rows, self.a.deposit, figures["maximal_drawdown"],
            figures["relative_drawdown_percent"], figures["total_net_profit"]))
        listed = [{"time": self.fmt_time(r["time"], r["chart"]), "type": r["type"],
                   "lots": r["lots"] if math.isfinite(r["lots"]) else None, "code": r["code"],
                   "symbol": r["symbol"], "ticket": r["ticket"], "text": r["text"]}
                  for r in self.refusals[:REFUSALS_LISTED]]
        summary = {
            "figures": figures,
            "symbols": self.symbol_figures(),
            "end": {"stopped_by_stop_out": self.ended_by_stop_out,
                    "time": self.fmt_time(self.end_time) if self.end_time is not None else None},
            "signals": self.signal_counts,
            "refusals": {"count": len(self.refusals), "listed_by_code": listed_by_code, "listed": listed},
            "settings": {"models": [c.model for c in self.charts], "timeframes": [c.chart_tf for c in self.charts],
                         "equity_chart": self.equity_chart.index},
        }
        with open(path, "w") as f:
            json.dump(summary, f, indent=1)


def level_reached(pos, closing):
    if pos.buy:
        if pos.stop_loss is not None and closing <= pos.stop_loss:
            return "stop-loss"
        if pos.take_profit is not None and closing >= pos.take_profit:
            return "take-profit"
    else:
        if pos.stop_loss is not None and closing >= pos.stop_loss:
            return "stop-loss"
        if pos.take_profit is not None and closing <= pos.take_profit:
            return "take-profit"
    return None


def toward_worst(x, buy):
    """A price in points rounded towards the position's worst price (down for a buy, up for a sell)."""
    nearest = round_half_away(x)
    if abs(x - nearest) <= GRID_TOLERANCE_POINTS:
        return nearest
    return math.floor(x) if buy else math.ceil(x)


def result(trade):
    """A trade's whole result: profit + commission + swap."""
    return trade["profit"] + trade["commission"] + trade["swap"]


def mean(values):
    return sum(values) / len(values) if values else 0.0


def cents(x):
    """Rounded to cents, halves away from zero."""
    return round_half_away(x * 100) / 100


def money(x):
    text = "%.2f" % x
    return "0.00" if text == "-0.00" else text


def fmt_number(x):
    """A double as its shortest round-trip text, without a needless '.0'."""
    if x != x:
        return "nan"
    if math.isfinite(x) and x == int(x):
        return "%d" % x
    return repr(x)


def csv_field(text):
    if any(c in text for c in ',"\n'):
        return '"' + text.replace('"', '""') + '"'
    return text


def count(table, answer):
    table[str(answer)] = table.get(str(answer), 0) + 1


def parse_from(text):
    """--from: a day starts at 00:00."""
    date_text, _, time_text = text.strip().partition(" ")
    return parse_time_ms(date_text, time_text or "00:00") // 1000


def parse_to(text):
    """--to: a day is the last day of the test, the whole of it."""
    date_text, _, time_text = text.strip().partition(" ")
    if time_text:
        return parse_time_ms(date_text, time_text) // 1000
    return parse_time_ms(date_text, "23:59:59") // 1000


def parser():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--bars", required=True, action="append")
    p.add_argument("--lib", default=os.path.join(HERE, "../../build/native/libtorvik_eng.so"))
    p.add_argument("--timeframe")
    p.add_argument("--model", choices=["open", "ohlc", "lower", "ticks"])
    p.add_argument("--decide", choices=["bar", "tick"], default="bar")
    p.add_argument("--symbol", action="append")
    p.add_argument("--symbols")
    p.add_argument("--digits", type=int)
    p.add_argument("--spread", type=int)
    p.add_argument("--window", type=int, default=300)
    p.add_argument("--pip-mode", type=int)
    p.add_argument("--deposit", type=float, default=10000.0)
    p.add_argument("--currency", default="USD")
    p.add_argument("--leverage", type=float, default=100.0)
    p.add_argument("--contract-size", type=float)
    p.add_argument("--margin-currency")
    p.add_argument("--margin-mode", choices=["forex", "cfd"])
    p.add_argument("--max-leverage", type=float)
    p.add_argument("--stop-out", type=float, default=50.0)
    p.add_argument("--base")
    p.add_argument("--quote")
    p.add_argument("--conversion-rate", type=float, action="append")
    p.add_argument("--max-positions", type=int, default=3)
    p.add_argument("--fixed-lot", type=float, default=0.1)
    p.add_argument("--risk", type=float)
    p.add_argument("--risk-multiplier", type=float, default=1.0)
    p.add_argument("--min-lot", type=float)
    p.add_argument("--max-lot", type=float)
    p.add_argument("--lot-step", type=float)
    p.add_argument("--risk-split", type=int, default=1)
    p.add_argument("--stop-level", type=int)
    p.add_argument("--freeze-level", type=int)
    p.add_argument("--stops-too-close", choices=["move", "refuse"], default="move")
    p.add_argument("--costs", choices=["none", "table"], default="none")
    p.add_argument("--commission", type=float)
    p.add_argument("--commission-per", choices=["round-turn", "side"])
    p.add_argument("--swap-long", type=float)
    p.add_argument("--swap-short", type=float)
    p.add_argument("--swap-unit", choices=["points", "money"])
    p.add_argument("--rollover-hour", type=int, default=0)
    p.add_argument("--triple-day", choices=list(WEEKDAYS))
    p.add_argument("--slippage", default="0")
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--from", dest="from_", type=parse_from)
    p.add_argument("--to", type=parse_to)
    p.add_argument("--equity", choices=["bars", "ticks"], default="bars")
    p.add_argument("--report", required=True)
    return p


def main(argv=None):
    args = parser().parse_args(argv)
    try:
        replay = Replay(args)
        replay.run()
    except ReplayError as e:
        print(f"replay: {e}", file=sys.stderr)
        return 1
    os.makedirs(args.report, exist_ok=True)
    trades_path = os.path.join(args.report, "trades.csv")
    equity_path = os.path.join(args.report, "equity.csv")
    replay.write_trades(trades_path)
    replay.write_equity(equity_path)
    replay.write_summary(os.path.join(args.report, "summary.json"), trades_path, equity_path)
    return 0


if __name__ == "__main__":
    sys.exit(main())
