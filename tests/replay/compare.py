#!/usr/bin/python3
"""Runs torvik-tester and the replay on the same inputs and compares them.

    compare.py [--tester PATH] [--lib PATH] -- <tester options without --report>

Prints the first differing trade field by field and the figures that differ;
exits 1 when anything differs.
"""

import csv
import json
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
DEFAULT_TESTER = os.path.join(ROOT, "build", "native", "tester", "torvik-tester")
DEFAULT_LIB = os.path.join(ROOT, "build", "native", "libtorvik_eng.so")

# report.json figures the replay recomputes; money to the cent (the replay's unrounded
# against the report's rounded), percentages and ratios to 1e-4
MONEY_FIGURES = ("total_net_profit", "final_balance", "gross_profit", "gross_loss", "largest_profit_trade",
                 "largest_loss_trade", "absolute_drawdown", "maximal_drawdown", "relative_drawdown",
                 "expected_payoff", "average_profit_trade", "average_loss_trade")
PERCENT_FIGURES = ("maximal_drawdown_percent", "relative_drawdown_percent")
RATIO_FIGURES = ("profit_factor", "average_consecutive_wins", "average_consecutive_losses", "sharpe_ratio")
COUNT_FIGURES = ("total_trades", "profit_trades", "loss_trades", "short_positions", "short_won",
                 "long_positions", "long_won", "bars_in_test", "ticks_modelled", "longest_drawdown_seconds",
                 "longest_drawdown_start", "longest_drawdown_end")
RUN_FIGURES = ("max_consecutive_wins", "max_consecutive_losses", "maximal_consecutive_profit",
               "maximal_consecutive_loss")


def read_trades(path):
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


def compare_trades(tester_rows, replay_rows):
    """trades.csv field by field, as text."""
    return first_differing_row("trade", tester_rows, replay_rows, lambda k, t, r: t != r)


def equity_field_differs(field, t, r):
    """Times and counts exactly, money to a cent (the rounding of the last digit)."""
    if field in ("time", "positions") or r is None:
        return t != r
    return abs(float(t) - float(r)) > 0.0101


def compare_equity(tester_rows, replay_rows):
    return first_differing_row("equity row", tester_rows, replay_rows, equity_field_differs)


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
        t, r = tf.get(k), rf[k]
        if (t is None or r is None) and t != r or t is not None and r is not None and abs(t - r) > 1e-4 * max(1, abs(r)):
            problems.append(f"{k}: tester {t} replay {r}")
    for k in RUN_FIGURES:
        if tf[k]["count"] != rf[k]["count"] or abs(tf[k]["money"] - rf[k]["money"]) > 0.0051:
            problems.append(f"{k}: tester {tf[k]} replay {rf[k]}")
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
    tester_refusals = (report["refusals"]["count"], report["refusals"]["listed_by_code"])
    replay_refusals = (summary["refusals"]["count"], summary["refusals"]["listed_by_code"])
    if tester_refusals != replay_refusals:
        problems.append(f"refusals (count, listed by code): tester {tester_refusals} replay {replay_refusals}")
    return problems


def compare(options, workdir, equity=True, **paths):
    tester_dir, replay_dir = run_both(options, workdir, **paths)
    tester_rows = read_trades(os.path.join(tester_dir, "trades.csv"))
    replay_rows = read_trades(os.path.join(replay_dir, "trades.csv"))
    with open(os.path.join(tester_dir, "report.json")) as f:
        report = json.load(f)
    with open(os.path.join(replay_dir, "summary.json")) as f:
        summary = json.load(f)
    problems = compare_trades(tester_rows, replay_rows) + compare_figures(report, summary)
    if equity:
        problems += compare_equity(read_trades(os.path.join(tester_dir, "equity.csv")),
                                   read_trades(os.path.join(replay_dir, "equity.csv")))
    return problems, tester_rows, report


def main(argv):
    tester, lib = DEFAULT_TESTER, DEFAULT_LIB
    while argv and argv[0] != "--":
        if argv[0] == "--tester":
            tester, argv = argv[1], argv[2:]
        elif argv[0] == "--lib":
            lib, argv = argv[1], argv[2:]
        else:
            break
    if argv and argv[0] == "--":
        argv = argv[1:]
    with tempfile.TemporaryDirectory() as workdir:
        problems, trades, _ = compare(argv, workdir, tester=tester, lib=lib)
    print(f"{' '.join(argv)}: {len(trades)} trades, " + ("same" if not problems else "DIFFERENT"))
    for p in problems:
        print("  " + p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
