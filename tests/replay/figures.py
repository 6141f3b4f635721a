"""The report's figures that are defined on trades.csv and equity.csv alone.

Worked out again from the files' text as the README's "The ratios, exactly"
defines them, so that they can be computed both from the replay's files and
from the tester's own: the first comparison shows a gap in the price path, the
second a gap in a figure's definition.
"""

import calendar
import math

DAY_SECONDS = 86400
YEAR_DAYS = 365.25
TRADING_DAYS = 252


def parse_time(text):
    """'YYYY.MM.DD HH:MM:SS[.mmm]' as seconds since 1970 (float with milliseconds)."""
    date_text, time_text = text.split(" ")
    y, mo, d = (int(x) for x in date_text.split("."))
    hh, mm, ss = time_text.split(":")
    whole = calendar.timegm((y, mo, d, int(hh), int(mm), 0))
    return whole + float(ss)


def mean(values):
    return sum(values) / len(values) if values else 0.0


def sample_sd(values):
    m = mean(values)
    return math.sqrt(sum((v - m) ** 2 for v in values) / (len(values) - 1))


def daily_returns(equity_rows, deposit):
    """r_d = E_d / E_(d-1) - 1, E_d the equity of the day's last row, E_0 the deposit."""
    last_of_day = {}
    for row in equity_rows:
        last_of_day[row["time"].split(" ")[0]] = float(row["equity"])
    values = [last_of_day[d] for d in sorted(last_of_day)]
    returns = []
    previous = deposit
    for e in values:
        returns.append(e / previous - 1)
        previous = e
    return returns


def sharpe_annual(returns):
    if len(returns) < 2:
        return None
    sd = sample_sd(returns)
    if sd == 0:
        return None
    return mean(returns) / sd * math.sqrt(TRADING_DAYS)


def sortino_annual(returns):
    if len(returns) < 2 or not any(r < 0 for r in returns):
        return None
    downside = math.sqrt(sum(min(r, 0.0) ** 2 for r in returns) / len(returns))
    return mean(returns) / downside * math.sqrt(TRADING_DAYS)


def span_seconds(equity_rows):
    return parse_time(equity_rows[-1]["time"]) - parse_time(equity_rows[0]["time"]) if equity_rows else 0.0


def cagr_percent(equity_rows, deposit):
    t = span_seconds(equity_rows)
    if t < DAY_SECONDS:
        return None
    last = float(equity_rows[-1]["equity"])
    if last <= 0:
        return -100.0
    years = t / (YEAR_DAYS * DAY_SECONDS)
    return ((last / deposit) ** (1 / years) - 1) * 100


def exposure_percent(trades, equity_rows):
    t = span_seconds(equity_rows)
    if t == 0:
        return None
    spans = sorted((parse_time(r["open_time"]), parse_time(r["close_time"])) for r in trades)
    covered = 0.0
    start = end = None
    for a, b in spans:
        if end is None or a > end:
            if end is not None:
                covered += end - start
            start, end = a, b
        else:
            end = max(end, b)
    if end is not None:
        covered += end - start
    return covered / t * 100


def monthly_returns(equity_rows, deposit):
    """{years, percent}: a month's return from the previous month's equity (the deposit before the first)."""
    if not equity_rows:
        return {"years": [], "percent": []}
    last_of_month = {}
    for row in equity_rows:
        y, mo = (int(x) for x in row["time"][:7].split("."))
        last_of_month[(y, mo)] = float(row["equity"])
    years = list(range(min(y for y, _ in last_of_month), max(y for y, _ in last_of_month) + 1))
    percent = [[None] * 12 for _ in years]
    previous = deposit
    for (y, mo) in sorted(last_of_month):
        e = last_of_month[(y, mo)]
        percent[y - years[0]][mo - 1] = (e / previous - 1) * 100
        previous = e
    return {"years": years, "percent": percent}


def histogram(profits_cents):
    """Sturges' bin count at most, the smallest width of 1, 2, 5 x 10^k cents; edges in money."""
    n = len(profits_cents)
    if n == 0:
        return {"edges": [], "counts": []}
    most = math.ceil(math.log2(n)) + 1
    lo, hi = min(profits_cents), max(profits_cents)
    scale = 1
    while True:
        for unit in (1, 2, 5):
            w = unit * scale
            first, last = lo // w, hi // w + 1
            if last - first <= most:
                counts = [0] * (last - first)
                for p in profits_cents:
                    counts[p // w - first] += 1
                return {"edges": [(first + i) * w / 100 for i in range(last - first + 1)], "counts": counts}
        scale *= 10


def cents_of(text):
    return int(round(float(text) * 100))


def file_figures(trades, equity_rows, deposit, maximal_drawdown, relative_drawdown_percent, net_profit):
    """The figures of report.json defined on the two files (and the drawdowns they name)."""
    returns = daily_returns(equity_rows, deposit)
    cagr = cagr_percent(equity_rows, deposit)
    # a trade's whole result, summed as the tester sums it
    profits = [float(r["profit"]) + float(r.get("commission", 0) or 0) + float(r.get("swap", 0) or 0)
               for r in trades]
    holding = [parse_time(r["close_time"]) - parse_time(r["open_time"]) for r in trades]
    maes = [float(r["mae"]) for r in trades]
    mfes = [float(r["mfe"]) for r in trades]
    sqn = None
    if len(profits) >= 2 and sample_sd(profits) > 0:
        sqn = math.sqrt(len(profits)) * mean(profits) / sample_sd(profits)
    return {
        "sharpe_annual": sharpe_annual(returns),
        "sortino_annual": sortino_annual(returns),
        "cagr_percent": cagr,
        "calmar_ratio": cagr / relative_drawdown_percent
        if cagr is not None and relative_drawdown_percent else None,
        "recovery_factor": net_profit / maximal_drawdown if maximal_drawdown else None,
        "sqn": sqn,
        "exposure_percent": exposure_percent(trades, equity_rows),
        "average_holding_seconds": math.floor(mean(holding) + 0.5) if holding else 0,
        "average_mae": mean(maes) if maes else None,
        "average_mfe": mean(mfes) if mfes else None,
        "worst_mae": min(maes) if maes else None,
        "best_mfe": max(mfes) if mfes else None,
        "monthly_returns": monthly_returns(equity_rows, deposit),
        "trade_histogram": histogram([int(round(p * 100)) for p in profits]),
    }
