"""torvik-tester against the independent replay of its documented rules.

Each case runs the tester and tests/replay/replay.py on the same data and
options and compares trades.csv field by field, the report.json figures the
replay recomputes (net profit, gross profit and loss, drawdowns, counts, the
signal answers, the refusals) and, where the price path has no generated
four-tick bars, equity.csv row by row. The slices are short so that the whole
file runs in well under a minute.

The paths come from CTest (TORVIK_TESTER, TORVIK_LIB); by hand they default
to build/native.
"""

import os

import pytest

from compare import DEFAULT_LIB, DEFAULT_TESTER, ROOT, compare

TESTER = os.environ.get("TORVIK_TESTER", DEFAULT_TESTER)
LIB = os.environ.get("TORVIK_LIB", DEFAULT_LIB)

if not (os.path.exists(TESTER) and os.path.exists(LIB)):
    pytest.skip(f"build the tester and the library first ({TESTER}, {LIB})", allow_module_level=True)

# The bundled history, one slice each, every model under both cadences. USDCHF
# (or GBPUSD) as the symbol text gives the library a profile that trades in the
# tick week and the M1 bars; USDCHF also makes profits convert through the
# closing price (base currency USD).
H1_2023 = ["--from", "2023.01.18", "--to", "2023.05.31"]
M15_2023 = ["--from", "2023.04.01", "--to", "2023.06.30"]
TICK_WEEK = ["--symbol", "USDCHF", "--window", "98"]
# Gold and other symbols with a row in the instrument table: the options the
# replay assumes where the row would give other defaults (it knows no table).
GOLD = ["--contract-size", "100", "--risk", "2"]
ECB_DAY = ["--from", "2014.05.08 06:00", "--to", "2014.05.08 18:00"]
WEEKEND = ["--from", "2014.05.09 12:00", "--to", "2014.05.12 06:00"]

BUNDLED = {
    "eurusd_h1_open_bar": ["--bars", "data/EURUSD_H1.csv"] + H1_2023,
    "eurusd_h1_ohlc_tick": ["--bars", "data/EURUSD_H1.csv", "--model", "ohlc", "--decide", "tick"] + H1_2023,
    "usdjpy_h1_open_tick": ["--bars", "data/USDJPY_H1.csv", "--decide", "tick"] + H1_2023,
    "usdjpy_h1_ohlc_bar": ["--bars", "data/USDJPY_H1.csv", "--model", "ohlc"] + H1_2023,
    "eurusd_m15_as_h1_lower_bar": ["--bars", "data/EURUSD_M15.csv", "--timeframe", "H1"] + M15_2023,
    "usdjpy_m15_as_h1_lower_tick": ["--bars", "data/USDJPY_M15.csv", "--timeframe", "H1", "--decide", "tick",
                                    "--from", "2023.05.01", "--to", "2023.06.15"],
    "usdjpy_m15_as_h1_ohlc_bar": ["--bars", "data/USDJPY_M15.csv", "--timeframe", "H1", "--model", "ohlc"]
                                 + M15_2023,
    "usdjpy_m5_as_h1_lower_tick": ["--bars", "data/USDJPY_M5.csv", "--timeframe", "H1", "--decide", "tick"],
    "eurusd_m1_as_h1_lower_bar": ["--bars", "data/EURUSD_M1.csv", "--timeframe", "H1", "--to", "2021.10.10"],
    "eurusd_m1_as_m15_lower_tick": ["--bars", "data/EURUSD_M1.csv", "--timeframe", "M15", "--decide", "tick",
                                    "--symbol", "GBPUSD", "--spread", "12", "--from", "2021.10.20"],
    "xauusd_h1_export_open_bar": ["--bars", "data/XAUUSD_H1_export.csv"] + GOLD,
    "xauusd_h1_export_ohlc_tick": ["--bars", "data/XAUUSD_H1_export.csv", "--model", "ohlc", "--decide", "tick",
                                   "--from", "2025.06.01", "--to", "2025.08.31"] + GOLD,
    "xauusd_m5_export_as_h1_lower_tick": ["--bars", "data/XAUUSD_M5_export.csv", "--timeframe", "H1",
                                          "--decide", "tick", "--from", "2025.08.01", "--to", "2025.09.15"] + GOLD,
    # the ECB decision (spreads of 10.7-13.9 pips) and the weekend gap
    "tick_week_m15_ticks_bar": ["--bars", "data/EURUSD_ticks.csv", "--timeframe", "M15"] + ECB_DAY + TICK_WEEK,
    "tick_week_m5_ticks_tick": ["--bars", "data/EURUSD_ticks.csv", "--timeframe", "M5", "--decide", "tick",
                                "--from", "2014.05.08 09:00", "--to", "2014.05.08 13:00"] + TICK_WEEK,
    "tick_week_m5_open_bar": ["--bars", "data/EURUSD_ticks.csv", "--timeframe", "M5", "--model", "open"]
                             + WEEKEND + TICK_WEEK,
    "tick_week_m15_ohlc_tick": ["--bars", "data/EURUSD_ticks.csv", "--timeframe", "M15", "--model", "ohlc",
                                "--decide", "tick"] + TICK_WEEK,
}

# Cases where the broker's rules decide the outcome, each with what must
# happen in it, so that a case cannot pass without exercising its rule.
def stop_out(trades, report):
    return any(t["reason"] == "stop-out" for t in trades)


def emptied(trades, report):
    return report["end"]["stopped_by_stop_out"] and stop_out(trades, report)


def refused(code):
    def refused_with(trades, report):
        return str(code) in report["refusals"]["listed_by_code"]
    refused_with.__name__ = f"refused with {code}"
    return refused_with


def some_trades(trades, report):
    return len(trades) > 0


def stop_loss_dropped(trades, report):
    return any(t["note"].startswith("opened without a stop-loss") for t in trades)


def range_kept(trades, report):
    return (report["data"]["first_tested_bar"], report["data"]["last_tested_bar"]) == \
        ("2023.06.01 13:00", "2023.08.01 07:00") and some_trades(trades, report)


HIGH_RISK = ["--deposit", "300", "--risk", "90", "--leverage", "1000"]
STRESS = {
    # stop-outs along the open model's adverse move and along continuous moves
    "stop_outs_open": (["--bars", "data/EURUSD_H1.csv", "--stop-out", "10", "--to", "2023.09.30"] + HIGH_RISK,
                       stop_out),
    "stop_outs_ohlc": (["--bars", "data/EURUSD_H1.csv", "--model", "ohlc", "--stop-out", "10",
                        "--to", "2023.09.30"] + HIGH_RISK, stop_out),
    "stop_outs_lower": (["--bars", "data/EURUSD_M15.csv", "--timeframe", "H1", "--to", "2023.06.30"] + HIGH_RISK,
                        stop_out),
    # a stop-out that leaves no money ends the test
    "emptied_open": (["--bars", "data/USDJPY_H1.csv", "--stop-out", "10", "--to", "2023.03.01"] + HIGH_RISK,
                     emptied),
    "emptied_ohlc": (["--bars", "data/USDJPY_H1.csv", "--model", "ohlc", "--stop-out", "0",
                      "--to", "2023.03.01"] + HIGH_RISK, emptied),
    "emptied_open_eurusd": (["--bars", "data/EURUSD_H1.csv", "--stop-out", "0", "--to", "2023.03.31"] + HIGH_RISK,
                            emptied),
    # a spread wider than the stop distance: the stop-loss is dropped with a note
    "spread_beyond_stops": (["--bars", "data/EURUSD_H1.csv", "--model", "ohlc", "--spread", "2500",
                             "--to", "2023.06.30"], stop_loss_dropped),
    "spread_wide_lower": (["--bars", "data/USDJPY_M15.csv", "--timeframe", "H1", "--spread", "400",
                           "--from", "2023.05.01", "--to", "2023.07.31"], some_trades),
    "window_smallest": (["--bars", "data/EURUSD_H1.csv", "--window", "98", "--to", "2023.04.30"], some_trades),
    "window_largest": (["--bars", "data/EURUSD_H1.csv", "--window", "500", "--model", "ohlc", "--decide", "tick",
                        "--to", "2023.06.30"], some_trades),
    "range_with_times": (["--bars", "data/EURUSD_H1.csv", "--model", "ohlc", "--from", "2023.06.01 13:00",
                          "--to", "2023.08.01 07:00"], range_kept),
    "refused_lot_limits": (["--bars", "data/EURUSD_H1.csv", "--risk", "0", "--fixed-lot", "2", "--max-lot", "1",
                            "--to", "2023.04.30"], refused(131)),
    "refused_no_lot": (["--bars", "data/EURUSD_H1.csv", "--contract-size", "1", "--to", "2023.04.30"],
                       refused(0)),
    "refused_no_money": (["--bars", "data/EURUSD_H1.csv", "--deposit", "300", "--risk", "90", "--leverage", "500",
                          "--to", "2023.06.30"], refused(134)),
    "conversion_rate": (["--bars", "data/USDJPY_H1.csv", "--currency", "EUR", "--conversion-rate", "0.0061",
                         "--model", "ohlc", "--to", "2023.06.30"], some_trades),
    "one_position": (["--bars", "data/EURUSD_H1.csv", "--max-positions", "1", "--model", "ohlc", "--decide",
                      "tick", "--to", "2023.05.31"], some_trades),
}


def run_case(options, tmp_path, equity, replay_env=None):
    if equity:
        options = options + ["--equity", "ticks"]
    problems, trades, report = compare(options, str(tmp_path), tester=TESTER, lib=LIB, equity=equity,
                                       replay_env=replay_env)
    assert not problems, "\n".join(problems)
    return trades, report


def generated_path(options):
    """ohlc and lower paths: their equity rows show the tie fault below, so only trades and figures."""
    model = options[options.index("--model") + 1] if "--model" in options else None
    lower = "--timeframe" in options and "ticks" not in options[options.index("--bars") + 1]
    return model == "ohlc" or (model is None and lower)


@pytest.mark.parametrize("options", BUNDLED.values(), ids=BUNDLED.keys())
def test_bundled_history(options, tmp_path):
    trades, _ = run_case(options, tmp_path, equity=not generated_path(options))
    assert trades, "no trade to compare"


@pytest.mark.parametrize("options,happened", STRESS.values(), ids=STRESS.keys())
def test_broker_rules(options, happened, tmp_path):
    trades, report = run_case(options, tmp_path, equity=not generated_path(options))
    assert happened(trades, report), f"the case did not exercise its rule ({happened.__name__})"


# A tie of the two extremes goes to the low. Compared as differences of
# doubles, a tie in points went either way on their rounding (1.08921 -
# 1.08912 < 1.08912 - 1.08903): about a quarter of the tied bars ran to the
# high first, which closed this sell at its stop-loss instead of its target.
def tied_bar_file(tmp_path):
    """EURUSD H1 up to a sell opened at 2023.02.07 20:00, that bar widened to a tie that reaches both levels."""
    source = os.path.join(ROOT, "data", "EURUSD_H1.csv")
    lines = open(source).read().splitlines()[:645]
    for i, line in enumerate(lines):
        if line.startswith("2023.02.07 20:00,"):
            # open 1.07603; the high and the low 2001 points away, beyond the stop-loss and the take-profit
            lines[i] = "2023.02.07 20:00,1.07603,1.09604,1.05602,1.07021,17216"
    path = tmp_path / "EURUSD_H1.csv"
    path.write_text("\n".join(lines) + "\n")
    return str(path)


def test_tie_goes_to_the_low_first(tmp_path):
    """The sell takes its profit at the low before the high reaches its stop-loss."""
    bars = tied_bar_file(tmp_path)
    run_case(["--bars", bars, "--model", "ohlc", "--symbol", "EURUSD"], tmp_path / "run", equity=True)


GENERATED_WITH_TIES = {
    "eurusd_m15_lower": ["--bars", "data/EURUSD_M15.csv", "--timeframe", "H1", "--from", "2023.04.01",
                         "--to", "2023.04.10"],
    "tick_week_ohlc": ["--bars", "data/EURUSD_ticks.csv", "--timeframe", "M15", "--model", "ohlc",
                       "--to", "2014.05.08"] + TICK_WEEK,
}


@pytest.mark.parametrize("options", GENERATED_WITH_TIES.values(), ids=GENERATED_WITH_TIES.keys())
def test_equity_of_generated_paths(options, tmp_path):
    run_case(options, tmp_path, equity=True)



# In the open model the bar's low and high are sampled also when the rest of
# the bar closed the last position: a take-profit that lifts the balance above
# the peak ends the drawdown in that bar (USDJPY H1: 2024.05.06 03:00), not at
# the next bar's tick, or days later over a weekend.
def test_bar_low_and_high_sampled_after_the_last_close(tmp_path):
    problems, _, _ = compare(["--bars", "data/USDJPY_H1.csv"], str(tmp_path), tester=TESTER, lib=LIB,
                             equity=False)
    assert problems == []
