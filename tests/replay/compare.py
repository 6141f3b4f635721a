#!/usr/bin/python3
"""Runs torvik-tester and the replay on the same inputs and compares them.

    compare.py [--tester PATH] [--lib PATH] [--no-equity] -- <tester options without --report>

Prints the first differing trade field by field, the figures that differ and
the figures of report.json that differ from their definitions worked out on
the tester's own trades.csv and equity.csv; exits 1 when anything differs.
"""

import csv
import json
import os
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
DEFAULT_TESTER = os.path.join(ROOT, "build", "native", "tester", "torvik-tester")
DEFAULT_LIB = os.path.join(ROOT, "build", "native", "libtorvik_eng.so")
sys.path.insert(0, HERE)

import figures as file_figures  # noqa: E402

# report.json figures the replay recomputes; money to the cent (the replay's unrounded
# against the report's rounded), percentages and ratios to 1e-4
MONEY_FIGURES = ("total_net_profit", "final_balance", "gross_profit", "gross_loss", "largest_profit_trade",
                 "largest_loss_trade", "absolute_drawdown", "maximal_drawdown", "relative_drawdown",
                 "expected_payoff", "average_profit_trade", "average_loss_trade", "total_commission", "total_swap")
PERCENT_FIGURES = ("maximal_drawdown_percent", "relative_drawdown_percent")
RATIO_FIGURES = ("profit_factor", "average_consecutive_wins", "average_consecutive_losses", "sharpe_ratio")
COUNT_FIGURES = ("total_trades", "profit_trades", "loss_trades", "short_positions", "short_won",
                 "long_positions", "long_won", "bars_in_test", "ticks_modelled", "longest_drawdown_seconds",
                 "longest_drawdown_start", "longest_drawdown_end")
RUN_FIGURES = ("max_consecutive_wins", "max_consecutive_losses", "maximal_consecutive_profit",
               "maximal_consecutive_loss")
# the figures defined on trades.csv and equity.csv: (decimals report.json rounds them to, relative
# tolerance); the daily figures are worked out from equity.csv's cents, the tester's from its unrounded equity
FILE_RATIOS = {"sharpe_annual": (6, 1e-5), "sortino_annual": (6, 1e-5), "calmar_ratio": (6, 1e-6),
               "recovery_factor": (6, 1e-9), "sqn": (6, 1e-9), "cagr_percent": (4, 1e-6),
               "exposure_percent": (4, 1e-9)}
FILE_MONEY = ("average_mae", "average_mfe", "worst_mae", "best_mfe")
SYMBOL_MONEY = ("net_profit", "gross_profit", "gross_loss", "profit", "commission", "swap")
SYMBOL_COUNTS = ("symbol", "model", "chart_bars", "ticks_modelled", "total_trades", "profit_trades", "loss_trades",
                 "orders_refused", "no_lot", "not_sent_levels_too_close")
REFUSAL_FIELDS = ("time", "type", "code", "symbol", "ticket")


def read_rows(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f))


def run_both(options, workdir, tester=DEFAULT_TESTER, lib=DEFAULT_LIB, replay_env=None):
    """Runs both on `options` (a list of tester arguments); returns (tester_dir, replay_dir)."""
    tester_dir = os.path.join(workdir, "tester")
    replay_dir = os.path.join(workdir, "replay")
    subprocess.run([tester] + options + ["--report", tester_dir, "-q"], check=True, cwd=ROOT,
                   stdout=subprocess.DEVNULL)
    subprocess.run([sys.executable, os.path.join(HERE, "replay.py"), "--lib", lib] + options +
                   ["--report", replay_dir], check=True, cwd=ROOT, env=dict(os.environ, **(replay_env or {})))
    return tester_dir, replay_dir


def first_differing_row(kind, tester_rows, replay_rows, differs):
    """The first row in which differs(field, tester text, replay text) holds for a field, and the counts."""
    problems = []
    for i, (t, r) in enumerate(zip(tester_rows, replay_rows)):
        fields = [k for k in t if differs(k, t[k], r.get(k))]
        if fields:
            problems.append(f"{kind} {i + 1} differs in "
                            + ", ".join(f"{k}: tester {t[k]!r} replay {r.get(k)!r}" for k in fields))
            problems.append("  tester: " + ",".join(t.values()))
            problems.append("  replay: " + ",".join(r.values()))
            break
    if len(tester_rows) != len(replay_rows):
        problems.append(f"{kind} count: tester {len(tester_rows)} replay {len(replay_rows)}")
    return problems


NOTE_START = re.compile(r"; (?=opened without a |take-profit |stop-loss )")


def note_parts(note):
    """A trade's notes, one per level, in a canonical order."""
    return sorted(NOTE_START.split(note))


def compare_trades(tester_rows, replay_rows, exact_notes=False):
    """trades.csv field by field, as text (commission and swap included); the notes of the two levels
    in either order unless `exact_notes`."""
    def differs(k, t, r):
        if k == "note" and not exact_notes and r is not None:
            return note_parts(t) != note_parts(r)
        return t != r
    return first_differing_row("trade", tester_rows, replay_rows, differs)


def equity_field_differs(field, t, r):
    """Times and counts exactly, money to a cent (the rounding of the last digit)."""
    if field in ("time", "positions") or r is None:
        return t != r
    return abs(float(t) - float(r)) > 0.0101


def compare_equity(tester_rows, replay_rows):
    return first_differing_row("equity row", tester_rows, replay_rows, equity_field_differs)


def ratio_differs(t, r, tolerance):
    """Beyond `tolerance` relative to the larger of 1 and the value (report.json rounds to 4 or 6 decimals)."""
    if t is None or r is None:
        return t != r
    return abs(t - r) > tolerance * max(1.0, abs(r))


def rounded_differs(t, r, decimals, relative):
    """t, rounded to `decimals`, is not r within that rounding and `relative` of r."""
    if t is None or r is None:
        return t != r
    return abs(t - r) > 0.5 * 10 ** -decimals + 1e-12 + relative * abs(r)


def compare_file_figures(tf, rf, source):
    """The figures defined on the two files, report.json's against those worked out from `source`.
    Calmar and the recovery factor divide by report.json's drawdowns, which are rounded (the percentage to 4
    decimals, the money to cents): their tolerance is what that rounding can make of the quotient."""
    problems = []
    dividend_rounding = {
        "calmar_ratio": 0.00005 / tf["relative_drawdown_percent"] if tf["relative_drawdown_percent"] else 0.0,
        "recovery_factor": 0.005 / tf["maximal_drawdown"] if tf["maximal_drawdown"] else 0.0}
    for k, (decimals, relative) in FILE_RATIOS.items():
        if rounded_differs(tf.get(k), rf[k], decimals, relative + dividend_rounding.get(k, 0.0)):
            problems.append(f"{k}: tester {tf.get(k)} {source} {rf[k]}")
    for k in FILE_MONEY:
        t, r = tf.get(k), rf[k]
        if (t is None) != (r is None) or t is not None and abs(t - r) > 0.0051:
            problems.append(f"{k}: tester {t} {source} {r}")
    if tf.get("average_holding_seconds") != rf["average_holding_seconds"]:
        problems.append(f"average_holding_seconds: tester {tf.get('average_holding_seconds')} "
                        f"{source} {rf['average_holding_seconds']}")
    tm, rm = tf.get("monthly_returns", {}), rf["monthly_returns"]
    if tm.get("years") != rm["years"] or any(
            rounded_differs(t, r, 4, 1e-6) for ty, ry in zip(tm.get("percent", []), rm["percent"])
            for t, r in zip(ty, ry)):
        problems.append(f"monthly_returns: tester {tm} {source} {rm}")
    th, rh = tf.get("trade_histogram", {}), rf["trade_histogram"]
    if th.get("counts") != rh["counts"] or len(th.get("edges", [])) != len(rh["edges"]) or any(
            abs(t - r) > 0.0051 for t, r in zip(th.get("edges", []), rh["edges"])):
        problems.append(f"trade_histogram: tester {th} {source} {rh}")
    return problems


def compare_figures(report, summary):
    problems = []
    tf, rf = report["figures"], summary["figures"]
    for k in MONEY_FIGURES:
        if abs(tf[k] - rf[k]) > 0.0051:
            problems.append(f"{k}: tester {tf[k]} replay {rf[k]}")
    for k in PERCENT_FIGURES:
        if abs(tf[k] - rf[k]) > 1e-4:
            problems.append(f"{k}: tester {tf[k]} replay {rf[k]:.4f}")
    for k in COUNT_FIGURES:
        if tf[k] != rf[k]:
            problems.append(f"{k}: tester {tf[k]} replay {rf[k]}")
    for k in RATIO_FIGURES:
        if ratio_differs(tf.get(k), rf[k], 1e-4):
            problems.append(f"{k}: tester {tf.get(k)} replay {rf[k]}")
    for k in RUN_FIGURES:
        if tf[k]["count"] != rf[k]["count"] or abs(tf[k]["money"] - rf[k]["money"]) > 0.0051:
            problems.append(f"{k}: tester {tf[k]} replay {rf[k]}")
    problems += compare_file_figures(tf, rf, "replay")
    if report["end"]["stopped_by_stop_out"] != summary["end"]["stopped_by_stop_out"] or \
            report["end"]["time"] != summary["end"]["time"]:
        problems.append(f"end: tester {report['end']} replay {summary['end']}")
    signals = report["signals"]
    names = {"0": "none", "1": "buy", "2": "sell"}
    replay_open = {names.get(k, k): v for k, v in summary["signals"]["open"].items()}
    names = {"0": "none", "1": "close_buys", "2": "close_sells"}
    replay_close = {names.get(k, k): v for k, v in summary["signals"]["close"].items()}
    if signals["updates"] != summary["signals"]["updates"]:
        problems.append(f"updates: tester {signals['updates']} replay {summary['signals']['updates']}")
    if {k: v for k, v in signals["open_signal"].items() if v} != replay_open:
        problems.append(f"open signal answers: tester {signals['open_signal']} replay {replay_open}")
    if {k: v for k, v in signals["close_signal"].items() if v} != replay_close:
        problems.append(f"close signal answers: tester {signals['close_signal']} replay {replay_close}")
    return problems + compare_refusals(report["refusals"], summary["refusals"]) + \
        compare_symbols(report, summary)


LEVEL_NAMED = re.compile(r"its (take-profit|stop-loss) (\S+) is (\d+) points")


def level_named(text):
    """An order not sent for a level too close: which level, where, and how far from the price."""
    m = LEVEL_NAMED.search(text or "")
    return m.groups() if m else text


def compare_refusals(tr, rr):
    problems = []
    if (tr["count"], tr["listed_by_code"]) != (rr["count"], rr["listed_by_code"]):
        problems.append(f"refusals (count, listed by code): tester {(tr['count'], tr['listed_by_code'])} "
                        f"replay {(rr['count'], rr['listed_by_code'])}")
    for i, (t, r) in enumerate(zip(tr["listed"], rr["listed"])):
        fields = [k for k in REFUSAL_FIELDS if t[k] != r[k]]
        if r["text"] and level_named(t["text"]) != level_named(r["text"]):
            fields.append("text")
        if t["lots"] is not None and r["lots"] is not None and abs(t["lots"] - r["lots"]) > 1e-9:
            fields.append("lots")
        if fields:
            problems.append(f"refusal {i + 1} differs in {fields}: tester {t} replay {r}")
            break
    return problems


def chart_settings(report, i):
    return report["settings"] if i == 0 else report["symbols"][i]["settings"]


def compare_instrument(settings, resolved, symbol):
    """The instrument and costs the tester resolved for a chart against the replay's reading of the table."""
    inst, costs = settings["instrument"], settings["costs"]
    tester = {
        "digits": settings["digits"], "contract_size": settings["contract_size"],
        "spread_points": settings["spread_points"], "min_lot": settings["min_lot"], "max_lot": settings["max_lot"],
        "lot_step": settings["lot_step"], "risk_percent": settings["risk_percent"], "base": inst["base"],
        "profit_currency": inst["profit_currency"], "margin_currency": inst["margin_currency"],
        "margin_mode": inst["margin_mode"], "max_leverage": inst["max_leverage"], "stop_level": inst["stop_level"],
        "freeze_level": inst["freeze_level"], "kind": inst["kind"], "commission": costs["commission"],
        "commission_per": costs["commission_per"], "swap_long": costs["swap_long"],
        "swap_short": costs["swap_short"], "swap_unit": costs["swap_unit"], "triple_day": costs["triple_day"],
        "source": inst["source"],
    }
    row = resolved["source"]
    expected_source = f"{row} row of" if row else "defaults"
    problems = []
    for k, t in tester.items():
        r = resolved[k]
        same = t.startswith(expected_source) if k == "source" else \
            (abs(t - r) < 1e-9 if isinstance(t, (int, float)) and isinstance(r, (int, float)) else t == r)
        if not same:
            problems.append(f"{symbol} instrument {k}: tester {t!r} replay {r!r}")
    return problems


def compare_symbols(report, summary):
    problems = []
    ts, rs = report["symbols"], summary["symbols"]
    if len(ts) != len(rs):
        return [f"charts: tester {len(ts)} replay {len(rs)}"]
    for i, (t, r) in enumerate(zip(ts, rs)):
        for k in SYMBOL_COUNTS:
            if t[k] != r[k]:
                problems.append(f"{t['symbol']} {k}: tester {t[k]} replay {r[k]}")
        for k in SYMBOL_MONEY:
            if abs(t[k] - r[k]) > 0.0051:
                problems.append(f"{t['symbol']} {k}: tester {t[k]} replay {r[k]}")
        if ratio_differs(t["profit_factor"], r["profit_factor"], 1e-4):
            problems.append(f"{t['symbol']} profit_factor: tester {t['profit_factor']} replay {r['profit_factor']}")
        problems += compare_instrument(chart_settings(report, i), r["instrument"], t["symbol"])
    return problems


def check_own_files(tester_dir, report):
    """report.json's figures against their definitions worked out on the tester's own two files."""
    f = report["figures"]
    own = file_figures.file_figures(read_rows(os.path.join(tester_dir, "trades.csv")),
                                    read_rows(os.path.join(tester_dir, "equity.csv")), f["initial_deposit"],
                                    f["maximal_drawdown"], f["relative_drawdown_percent"], f["total_net_profit"])
    return compare_file_figures(f, own, "from its own files")


def compare(options, workdir, equity=True, exact_notes=False, **paths):
    tester_dir, replay_dir = run_both(options, workdir, **paths)
    tester_rows = read_rows(os.path.join(tester_dir, "trades.csv"))
    replay_rows = read_rows(os.path.join(replay_dir, "trades.csv"))
    with open(os.path.join(tester_dir, "report.json")) as f:
        report = json.load(f)
    with open(os.path.join(replay_dir, "summary.json")) as f:
        summary = json.load(f)
    problems = compare_trades(tester_rows, replay_rows, exact_notes) + compare_figures(report, summary) + \
        check_own_files(tester_dir, report)
    if equity:
        problems += compare_equity(read_rows(os.path.join(tester_dir, "equity.csv")),
                                   read_rows(os.path.join(replay_dir, "equity.csv")))
    return problems, tester_rows, report


def main(argv):
    tester, lib, equity = DEFAULT_TESTER, DEFAULT_LIB, True
    while argv and argv[0] != "--":
        if argv[0] == "--tester":
            tester, argv = argv[1], argv[2:]
        elif argv[0] == "--lib":
            lib, argv = argv[1], argv[2:]
        elif argv[0] == "--no-equity":
            equity, argv = False, argv[1:]
        else:
            break
    if argv and argv[0] == "--":
        argv = argv[1:]
    with tempfile.TemporaryDirectory() as workdir:
        problems, trades, _ = compare(argv, workdir, tester=tester, lib=lib, equity=equity)
    print(f"{' '.join(argv)}: {len(trades)} trades, " + ("same" if not problems else "DIFFERENT"))
    for p in problems:
        print("  " + p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
