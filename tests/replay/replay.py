#!/usr/bin/python3
"""An independent replay of torvik-tester's documented rules.

Written from the README's sections on the strategy tester (options, data,
chart bars and the models, the run tick by tick, the broker, outputs) and
from the expert advisor in mql4/, never from the tester's code: it is a second
definition, and a gap between the two shows as a differing trade. The
library's decisions come from the real shared library, loaded with ctypes.

    replay.py --bars data/EURUSD_H1.csv --report out/replay [tester options]

writes trades.csv and equity.csv in the tester's formats and summary.json with the figures
it can recompute (net profit, drawdowns, counts, signal answers, refusals).

Prices are kept as whole points (ints) wherever they lie on the grid; a price
as a double is points / 10^digits, the same double the text of the file
parses to. Times are kept in milliseconds.
"""

import argparse
import calendar
import ctypes
import json
import math
import os
import re
import sys
import time as _time

import numpy as np

PERIOD_SECONDS = {"M1": 60, "M5": 300, "M15": 900, "M30": 1800, "H1": 3600, "H4": 14400,
                  "D1": 86400, "W1": 604800, "MN1": 2592000}
HEADER_CSV = "time,open,high,low,close,volume"
BAR_EXPORT = "<DATE>\t<TIME>\t<OPEN>\t<HIGH>\t<LOW>\t<CLOSE>\t<TICKVOL>\t<VOL>\t<SPREAD>"
TICK_EXPORT = "<DATE>\t<TIME>\t<BID>\t<ASK>\t<LAST>\t<VOLUME>\t<FLAGS>"
GRID_TOLERANCE_POINTS = 1e-6   # a price this close to the grid counts as on it
REFUSED_NO_LOT = 0
REFUSED_LOT_LIMITS = 131
REFUSED_NO_MONEY = 134
REFUSALS_LISTED = 1000          # report.json lists the first refusals only

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
    __slots__ = ("ticket", "buy", "open_time", "open_price", "lots", "stop_loss",
                 "take_profit", "margin", "note", "mae", "mfe")


class Replay:
    def __init__(self, args):
        self.a = args
        self.data = Data(args.bars)
        d = self.data
        self.digits = args.digits if args.digits is not None else d.file_digits
        self.scale = float(10 ** self.digits)
        self.point = float("1e-%d" % self.digits)
        own_tf = None if d.is_ticks else timeframe_name(d.timeframe_seconds)
        self.chart_tf = args.timeframe or (own_tf if own_tf else "H1")
        if args.model:
            self.model = args.model
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
        self.symbol = args.symbol or re.match(r"[A-Za-z]*", os.path.basename(args.bars)).group(0)
        self.default_spread = 12 if self.digits in (3, 5) else 2
        self.pip_mode = args.pip_mode if args.pip_mode is not None else (4 if self.digits in (3, 5) else 5)
        base = args.base or (self.symbol[:3] if len(self.symbol) == 6 else None)
        quote = args.quote or (self.symbol[3:6] if len(self.symbol) == 6 else None)
        if quote == args.currency:
            self.conversion = "direct"
        elif base == args.currency:
            self.conversion = "base"
        elif args.conversion_rate is not None:
            self.conversion = "rate"
        else:
            raise ReplayError("profit cannot be converted: give --conversion-rate")
        self.bars = build_chart(d, self.digits, self.chart_tf, own_tf)
        self.symbol_text = self.symbol.encode("ascii")
        self.currency_text = args.currency.encode("ascii")
        self.lib = Library(args.lib).lib

        # the account
        self.balance = args.deposit
        self.positions = []          # in ticket order
        self.next_ticket = 1
        self.trades = []             # rows of trades.csv
        self.refusals = []
        self.samples = []            # equity samples in order: (time_ms, equity)
        self.row_samples = []        # the samples since the last row of equity.csv
        self.equity_rows = []
        self.ended_by_stop_out = False
        self.end_time = None
        self.signal_counts = {"updates": 0, "open": {}, "close": {}}

    # -------------------------------------------------- money

    def price(self, points):
        return points / self.scale

    def profit(self, pos, close_price):
        """Unrounded profit in account money of `pos` closed at the double `close_price`."""
        move = (close_price - pos.open_price) if pos.buy else (pos.open_price - close_price)
        value = move * pos.lots * self.a.contract_size
        if self.conversion == "base":
            value = value / close_price
        elif self.conversion == "rate":
            value = value * self.a.conversion_rate
        return value

    def margin_of(self, lots, open_price):
        value = lots * self.a.contract_size / self.a.leverage
        if self.conversion == "direct":
            value = value * open_price
        elif self.conversion == "rate":
            value = value * open_price * self.a.conversion_rate
        return value

    def equity_at(self, prices):
        """prices: {ticket: double closing price}."""
        eq = self.balance
        for pos in self.positions:
            eq += self.profit(pos, prices[pos.ticket])
        return eq

    def quote_prices(self, bid, ask):
        return {p.ticket: self.price(bid if p.buy else ask) for p in self.positions}

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
        p = self.profit(pos, close_price)
        pos.mae = min(pos.mae, p)
        pos.mfe = max(pos.mfe, p)

    def sample(self, time_ms, equity):
        self.samples.append((time_ms, equity))
        self.row_samples.append(equity)

    # -------------------------------------------------- orders

    def close(self, pos, close_price, time_ms, reason):
        self.see(pos, close_price)
        profit = cents(self.profit(pos, close_price))
        self.balance += profit
        self.positions.remove(pos)
        self.trades.append({
            "ticket": pos.ticket, "symbol": self.symbol, "type": "buy" if pos.buy else "sell",
            "open_time": pos.open_time, "open_price": pos.open_price, "lots": pos.lots,
            "stop_loss": pos.stop_loss, "take_profit": pos.take_profit, "close_time": time_ms,
            "close_price": close_price, "profit": profit, "balance": self.balance, "reason": reason,
            "mae": pos.mae, "mfe": pos.mfe, "note": pos.note})

    def level_note(self, what, name, distance, entry, away, closing):
        """The level of one order in points, or None and the reason it is missing."""
        if not (distance > 0):
            return None, f"opened without a {what}: {name} answered {fmt_number(distance)}"
        level = round_half_away((entry / self.scale + away * distance) * self.scale)
        if level <= 0:
            sign = "+" if away > 0 else "-"
            return None, f"opened without a {what}: {self.fmt_price(entry)} {sign} " \
                         f"{distance:.{self.digits}f} is {self.fmt_price(level)} (not above 0)"
        if away * (level - closing) <= 0:
            side = "bid" if (what == "take-profit") == (away > 0) else "ask"
            rel = "at or below" if away > 0 else "at or above"
            return None, f"opened without a {what}: {self.fmt_price(level)} is {rel} the {side} " \
                         f"{self.fmt_price(closing)}"
        return level, None

    def open_position(self, side, tick):
        a = self.a
        buy = side == 1
        entry = tick.ask if buy else tick.bid
        entry_price = self.price(entry)
        prices = self.quote_prices(tick.bid, tick.ask)
        free_margin = self.equity_at(prices) - self.total_margin()
        lots = self.lib.LOT(a.fixed_lot, a.risk, a.risk_multiplier, a.min_lot, a.max_lot, a.lot_step,
                            int(a.contract_size), free_margin, self.margin_of(1.0, entry_price), a.risk_split,
                            self.symbol_text)
        if not (math.isfinite(lots) and lots > 0):
            self.refusals.append((tick.time_ms, REFUSED_NO_LOT))
            return
        if lots < a.min_lot or lots > a.max_lot:
            self.refusals.append((tick.time_ms, REFUSED_LOT_LIMITS))
            return
        margin = self.margin_of(lots, entry_price)
        if free_margin - margin < 0:
            self.refusals.append((tick.time_ms, REFUSED_NO_MONEY))
            return
        closing = tick.bid if buy else tick.ask
        up = 1 if buy else -1
        notes = []
        tp, note = self.level_note("take-profit", "PoTP", self.take_profit_distance, entry, up, closing)
        if note:
            notes.append(note)
        sl, note = self.level_note("stop-loss", "PoSL", self.stop_loss_distance, entry, -up, closing)
        if note:
            notes.append(note)
        pos = Position()
        pos.ticket, pos.buy, pos.open_time = self.next_ticket, buy, tick.time_ms
        self.next_ticket += 1
        pos.open_price, pos.lots = entry_price, lots
        pos.stop_loss, pos.take_profit, pos.margin = sl, tp, margin
        pos.note = "; ".join(notes)
        pos.mae = pos.mfe = self.profit(pos, self.price(closing))
        self.positions.append(pos)

    # -------------------------------------------------- the expert

    def feed(self, window, tick):
        newest = self.positions[-1] if self.positions else None
        open_price = newest.open_price if newest else 0.0
        kind = (0 if newest.buy else 1) if newest else 0
        n = len(window)
        addr = window.ctypes.data
        self.lib.Rft(n, addr, n, addr, n, addr, n, self.price(tick.ask), self.price(tick.bid), self.digits,
                     self.point, open_price, kind, self.pip_mode)
        self.lib.IniAll(self.symbol_text, self.currency_text)

    def update(self, window, tick):
        lib = self.lib
        self.signal_counts["updates"] += 1
        self.feed(window, tick)
        exit_side = lib.CloseSignal()
        count(self.signal_counts["close"], exit_side)
        closed = 0
        if exit_side in (1, 2):
            want_buy = exit_side == 1
            for pos in reversed(list(self.positions)):
                if pos.buy == want_buy:
                    self.close(pos, self.price(tick.bid if pos.buy else tick.ask), tick.time_ms, "close-signal")
                    closed += 1
        if closed:
            self.feed(window, tick)
        entry_side = lib.OpenSignal()
        count(self.signal_counts["open"], entry_side)
        self.take_profit_distance = lib.PoTP()
        self.stop_loss_distance = lib.PoSL()
        if entry_side in (1, 2) and len(self.positions) < self.a.max_positions:
            self.open_position(entry_side, tick)

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
        """While the margin level is below the stop-out, the position of the smallest profit (the lower
        ticket on a tie) closes; returns whether any did."""
        closed = False
        while self.margin_level_below(prices):
            worst = min(self.positions, key=lambda p: (self.profit(p, prices[p.ticket]), p.ticket))
            self.close(worst, prices[worst.ticket], time_ms, "stop-out")
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

    def gap(self, tick):
        """Every level the new tick reached or jumped over fills at its closing price."""
        if not self.positions:
            return False
        for pos in list(self.positions):
            closing = tick.bid if pos.buy else tick.ask
            reason = self.level_reached(pos, closing)
            if reason:
                self.close(pos, self.price(closing), tick.time_ms, reason)
        # the tick's own sample (step 3) follows; a gap adds none of its own
        return self.stop_out(self.quote_prices(tick.bid, tick.ask), tick.time_ms, sampled=False)

    def level_reached(self, pos, closing):
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

    def continuous(self, old, tick):
        """The bid one point at a time from the old tick to the new one, the ask the spread above."""
        if not self.positions:
            return False
        spread = tick.ask - tick.bid
        direction = 1 if tick.bid > old.bid else -1
        for step in range(1, abs(tick.bid - old.bid) + 1):
            bid = old.bid + direction * step
            ask = bid + spread
            for pos in list(self.positions):
                closing = bid if pos.buy else ask
                reason = self.level_reached(pos, closing)
                if reason:
                    self.close(pos, self.price(closing), tick.time_ms, reason)
                    self.sample(tick.time_ms, self.equity_at(self.quote_prices(bid, ask)))
            if self.stop_out(self.quote_prices(bid, ask), tick.time_ms, sampled=True):
                return True
            if not self.positions:
                return False
        return False

    def rest_of_bar(self, bar, tick, spread):
        """The open model: the bar's range after its only tick, the adverse move first."""
        time_ms = tick.time_ms
        low_bid, low_ask = bar.low, bar.low + spread
        high_bid, high_ask = bar.high, bar.high + spread
        # 1. stop-losses the range reaches
        for pos in list(self.positions):
            if pos.stop_loss is None:
                continue
            if pos.buy and low_bid <= pos.stop_loss:
                fill = pos.stop_loss if tick.bid > pos.stop_loss else tick.bid
            elif not pos.buy and high_ask >= pos.stop_loss:
                fill = pos.stop_loss if tick.ask < pos.stop_loss else tick.ask
            else:
                continue
            self.close(pos, self.price(fill), time_ms, "stop-loss")
        # 2. the stop-out along the adverse move
        if self.adverse_stop_out(tick, low_bid, high_ask, time_ms):
            return True
        # 3. take-profits the range reaches
        for pos in list(self.positions):
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
            self.see(pos, self.price(worst))
            self.close(pos, self.price(fill), time_ms, "take-profit")
        # 4. the bar's equity low and high
        worst_prices = {p.ticket: self.price(low_bid if p.buy else high_ask) for p in self.positions}
        best_prices = {p.ticket: self.price(high_bid if p.buy else low_ask) for p in self.positions}
        for pos in self.positions:
            self.see(pos, worst_prices[pos.ticket])
            self.see(pos, best_prices[pos.ticket])
        self.sample(time_ms, self.equity_at(worst_prices))
        self.sample(time_ms, self.equity_at(best_prices))
        return False

    def adverse_stop_out(self, tick, low_bid, high_ask, time_ms):
        start = {p.ticket: self.price(tick.bid if p.buy else tick.ask) for p in self.positions}
        worst = {p.ticket: self.price(low_bid if p.buy else high_ask) for p in self.positions}

        def prices_at(f):
            return {t: start[t] + f * (worst[t] - start[t]) for t in start}

        f_from = 0.0
        while self.positions and self.margin_level_below(prices_at(1.0)):
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
            at = {p.ticket: self.price(self.toward_worst(unrounded[p.ticket], p.buy)) for p in self.positions}
            if not self.close_most_losing(at, time_ms):
                break   # prices rounded towards the worst cannot lift the level; kept so the loop is bounded
            if self.no_money_left(at, time_ms):
                return True
            self.sample(time_ms, self.equity_at(at))
            f_from = crossing
        return False

    def toward_worst(self, price, buy):
        x = price * self.scale
        nearest = round_half_away(x)
        if abs(x - nearest) <= GRID_TOLERANCE_POINTS:
            return nearest
        return math.floor(x) if buy else math.ceil(x)

    # -------------------------------------------------- ticks of a chart bar

    def spread_for(self, data_spread):
        if self.a.spread is not None:
            return self.a.spread
        if data_spread is not None:
            return data_spread
        return self.default_spread

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
            ticks.append(Tick(t, bid, bid + self.a.spread if self.a.spread is not None else ask, True))
        return ticks, None

    # -------------------------------------------------- the whole test

    def run(self):
        a = self.a
        bars = self.bars
        window_n = a.window
        if not 98 <= window_n <= 500:
            raise ReplayError("--window must be 98 to 500")
        start = window_n - 1
        if a.from_ is not None:
            while start < len(bars) and bars[start].time < a.from_:
                start += 1
        end = len(bars) - 1
        if a.to is not None:
            while end >= 0 and bars[end].time > a.to:
                end -= 1
        self.first_bar, self.last_bar = start, end
        history = np.zeros(len(bars), dtype=BAR_RECORD)
        for i, b in enumerate(bars):
            history[i] = (b.time, self.price(b.open), self.price(b.low), self.price(b.high), self.price(b.close),
                          b.volume)
        window = np.zeros(window_n, dtype=BAR_RECORD)
        self.lib.rews()
        self.ticks_modelled = 0
        self.bars_tested = 0
        last_tick = self.run_bars(bars, start, end, history, window)
        if last_tick is None:
            return
        if not self.ended_by_stop_out:
            for pos in list(self.positions):
                closing = last_tick.bid if pos.buy else last_tick.ask
                self.close(pos, self.price(closing), last_tick.time_ms, "end-of-test")
            self.sample(last_tick.time_ms, self.balance)
            self.end_time = last_tick.time_ms
        self.equity_row(last_tick.time_ms, self.balance)

    def run_bars(self, bars, start, end, history, window):
        """The test's chart bars tick by tick; returns the last tick."""
        window_n = len(window)
        prev = None
        for i in range(start, end + 1):
            bar = bars[i]
            self.bars_tested += 1
            window[:window_n - 1] = history[i - window_n + 1:i]
            ticks, bar_spread = self.ticks_of(bar)
            o = hi = lo = None
            for k, tick in enumerate(ticks):
                self.ticks_modelled += 1
                if prev is not None:
                    ended = self.gap(tick) if tick.gap else self.continuous(prev, tick)
                    if ended:
                        if self.a.equity == "bars":
                            self.equity_row(bar.time * 1000, self.balance)
                        return tick
                price = self.price(tick.bid)
                if o is None:
                    o = hi = lo = price
                hi, lo = max(hi, price), min(lo, price)
                if self.a.decide == "tick" or k == 0:
                    window[window_n - 1] = (bar.time, o, lo, hi, price, k + 1)
                    self.update(window, tick)
                prices = self.quote_prices(tick.bid, tick.ask)
                for pos in self.positions:
                    self.see(pos, prices[pos.ticket])
                equity = self.equity_at(prices)
                self.sample(tick.time_ms, equity)
                if self.model == "open":
                    if self.rest_of_bar(bar, tick, bar_spread):
                        self.equity_row(tick.time_ms if self.a.equity == "ticks" else bar.time * 1000,
                                        self.balance)
                        return tick
                    if self.a.equity == "ticks":
                        # a tick's row: what is left after the rest of the bar, at the tick's prices
                        self.equity_row(tick.time_ms, self.equity_at(prices))
                    # a bar's row: at the bar's close
                    equity = self.equity_at(self.quote_prices(bar.close, bar.close + bar_spread))
                elif self.a.equity == "ticks":
                    self.equity_row(tick.time_ms, equity)
                prev = tick
            if self.a.equity == "bars":
                self.equity_row(bar.time * 1000, equity)
        return prev

    def equity_row(self, time_ms, equity):
        margin = self.total_margin()
        low = min(self.row_samples) if self.row_samples else equity
        high = max(self.row_samples) if self.row_samples else equity
        self.equity_rows.append((time_ms, self.balance, equity, low, high, margin, equity - margin,
                                 len(self.positions)))
        self.row_samples = []

    # -------------------------------------------------- outputs

    def fmt_price(self, points):
        return "%.*f" % (self.digits, points / self.scale)

    def fmt_time(self, ms):
        text = _time.strftime("%Y.%m.%d %H:%M:%S", _time.gmtime(ms // 1000))
        if self.data.is_ticks:
            text += ".%03d" % (ms % 1000)
        return text

    def write_trades(self, path):
        # The replay models an account without costs: commission and swap are 0.
        header = ("ticket,symbol,type,open_time,open_price,lots,stop_loss,take_profit,close_time,close_price,"
                  "commission,swap,profit,balance,reason,mae,mfe,note")
        lines = [header]
        for t in self.trades:
            level = lambda k: "" if k is None else self.fmt_price(k)
            lines.append(",".join([
                str(t["ticket"]), t["symbol"], t["type"], self.fmt_time(t["open_time"]),
                "%.*f" % (self.digits, t["open_price"]), "%.2f" % t["lots"], level(t["stop_loss"]),
                level(t["take_profit"]), self.fmt_time(t["close_time"]),
                "%.*f" % (self.digits, t["close_price"]), money(0.0), money(0.0), money(t["profit"]),
                money(t["balance"]),
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
        profits = [t["profit"] for t in self.trades]
        gross_profit = sum(p for p in profits if p > 0)
        gross_loss = sum(p for p in profits if p < 0)
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
            "profit_trades": sum(1 for p in profits if p > 0),
            "loss_trades": sum(1 for p in profits if p < 0),
            "short_positions": len(shorts),
            "short_won": sum(1 for t in shorts if t["profit"] > 0),
            "long_positions": len(longs),
            "long_won": sum(1 for t in longs if t["profit"] > 0),
            "largest_profit_trade": max([p for p in profits if p > 0], default=0.0),
            "largest_loss_trade": min([p for p in profits if p < 0], default=0.0),
            "absolute_drawdown": round(max(0.0, deposit - lowest), 2),
            "maximal_drawdown": round(maximal, 2),
            "maximal_drawdown_percent": maximal_pct,
            "relative_drawdown_percent": relative_pct,
            "relative_drawdown": round(relative, 2),
            "bars_in_test": self.bars_tested,
            "ticks_modelled": self.ticks_modelled,
            "profit_factor": gross_profit / -gross_loss if gross_loss < 0 else None,
            "expected_payoff": (self.balance - deposit) / len(profits) if profits else 0.0,
            "average_profit_trade": mean([p for p in profits if p > 0]),
            "average_loss_trade": mean([p for p in profits if p < 0]),
            **self.runs_of_trades(profits),
            "sharpe_ratio": self.sharpe_ratio(),
            **self.longest_drawdown(),
        }

    def runs_of_trades(self, profits):
        """Runs of wins and of losses in closing order; a trade of exactly 0 ends a run and starts none."""
        runs = []   # [sign, count, money]
        for p in profits:
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
        returns = [t["profit"] / (t["balance"] - t["profit"]) for t in self.trades]
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

    def write_summary(self, path):
        listed_by_code = {}
        for _, code in self.refusals[:REFUSALS_LISTED]:
            listed_by_code[str(code)] = listed_by_code.get(str(code), 0) + 1
        summary = {
            "figures": self.figures(),
            "end": {"stopped_by_stop_out": self.ended_by_stop_out,
                    "time": self.fmt_time(self.end_time) if self.end_time is not None else None},
            "signals": self.signal_counts,
            "refusals": {"count": len(self.refusals), "listed_by_code": listed_by_code},
            "settings": {"model": self.model, "digits": self.digits, "symbol": self.symbol,
                         "timeframe": self.chart_tf, "conversion": self.conversion},
        }
        with open(path, "w") as f:
            json.dump(summary, f, indent=1)


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


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--bars", required=True)
    p.add_argument("--lib", default=os.path.join(os.path.dirname(__file__), "../../build/native/libtorvik_eng.so"))
    p.add_argument("--timeframe")
    p.add_argument("--model", choices=["open", "ohlc", "lower", "ticks"])
    p.add_argument("--decide", choices=["bar", "tick"], default="bar")
    p.add_argument("--symbol")
    p.add_argument("--digits", type=int)
    p.add_argument("--spread", type=int)
    p.add_argument("--window", type=int, default=300)
    p.add_argument("--pip-mode", type=int)
    p.add_argument("--deposit", type=float, default=10000.0)
    p.add_argument("--currency", default="USD")
    p.add_argument("--leverage", type=float, default=100.0)
    p.add_argument("--contract-size", type=float, default=100000.0)
    p.add_argument("--stop-out", type=float, default=50.0)
    p.add_argument("--base")
    p.add_argument("--quote")
    p.add_argument("--conversion-rate", type=float)
    p.add_argument("--max-positions", type=int, default=3)
    p.add_argument("--fixed-lot", type=float, default=0.1)
    p.add_argument("--risk", type=float, default=2.0)
    p.add_argument("--risk-multiplier", type=float, default=1.0)
    p.add_argument("--min-lot", type=float, default=0.01)
    p.add_argument("--max-lot", type=float, default=100.0)
    p.add_argument("--lot-step", type=float, default=0.01)
    p.add_argument("--risk-split", type=int, default=1)
    p.add_argument("--from", dest="from_", type=parse_from)
    p.add_argument("--to", type=parse_to)
    p.add_argument("--equity", choices=["bars", "ticks"], default="bars")
    p.add_argument("--report", required=True)
    args = p.parse_args(argv)
    try:
        replay = Replay(args)
        replay.run()
    except ReplayError as e:
        print(f"replay: {e}", file=sys.stderr)
        return 1
    os.makedirs(args.report, exist_ok=True)
    replay.write_trades(os.path.join(args.report, "trades.csv"))
    replay.write_summary(os.path.join(args.report, "summary.json"))
    replay.write_equity(os.path.join(args.report, "equity.csv"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
