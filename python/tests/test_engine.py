"""torvik.Engine against the shared libraries' exports, called through ctypes,
on the bundled bars: every operation, bit for bit."""
import ctypes
import os
import pickle
import struct
import threading

import numpy as np
import pytest

import torvik
from torvik.engine import bar_records

SOURCE = os.environ.get("TORVIK_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
WINDOW = 300
# Now and then a window of another length: the shortest and longest the library takes, and beyond.
OTHER_LENGTHS = (1, 2, 50, 97, 98, 500, 501)
# (file, symbol, account currency, digits, point, pip mode, spread in points)
CHARTS = [
    ("data/EURUSD_H1.csv", "EURUSD", "USD", 5, 0.00001, 5, 12),
    ("data/USDJPY_H1.csv", "USDJPY", "USD", 3, 0.001, 3, 14),
    ("data/XAUUSD_H1_export.csv", "XAUUSD", "USD", 2, 0.01, 2, 30),
    ("data/BTCUSD_H1.csv", "BTCUSD", "EUR", 2, 0.01, 2, 2500),
]


class SharedLibrary:
    """The fourteen exports of a built library, declared as the expert imports them."""

    def __init__(self, path):
        lib = ctypes.CDLL(path)
        i32, f64, ptr, text = ctypes.c_int32, ctypes.c_double, ctypes.c_void_p, ctypes.c_char_p
        signatures = {
            "Rft": (i32, [i32, ptr, i32, ptr, i32, ptr, i32, f64, f64, i32, f64, f64, i32, i32]),
            "IniAll": (i32, [text, text]),
            "LOT": (f64, [f64, f64, f64, f64, f64, f64, i32, f64, f64, i32, text]),
            "ErrorDescription": (text, [i32]),
        }
        for name in ("OpenSignal", "CloseSignal", "rews", "DSP", "DCloseSP", "HHH_1", "HHH_2"):
            signatures[name] = (i32, [])
        for name in ("PoTP", "PoSL", "Dpp"):
            signatures[name] = (f64, [])
        for name, (result, args) in signatures.items():
            function = getattr(lib, name)
            function.restype, function.argtypes = result, args
            setattr(self, name, function)


def library(variable):
    path = os.environ.get(variable)
    if not path:
        pytest.skip(f"{variable} names no shared library")
    return SharedLibrary(path)


def host_bars(frame):
    """The bars as the host lays them out (packed, low before high), written independently of the package."""
    times = frame.index.asi8 // 1_000_000_000
    rows = zip(times, frame["open"], frame["low"], frame["high"], frame["close"], frame["volume"])
    return ctypes.create_string_buffer(b"".join(struct.pack("<Iddddd", *row) for row in rows))


def bits(value):
    return struct.pack("<d", value) if isinstance(value, float) else value


def session(calls, bars, chart, windows):
    """The expert's sequence on each window (bars, calibration, decisions, lots, every reading).
    `calls` is (rft, other operations by export name); answers as bit patterns."""
    _, symbol, currency, digits, point, pip_mode, spread = chart
    rft, op = calls
    closes = bars["close"].to_numpy()
    answers = []
    for n, end in enumerate(windows):
        window_answers = answers
        answers = []
        start = end - (OTHER_LENGTHS[n // 97 % len(OTHER_LENGTHS)] if n % 97 == 96 else WINDOW)
        bid = float(closes[end - 1])
        ask = bid + spread * point
        # No position, a buy and a sell opened some bars back, in turn.
        position_type = n % 3 - 1
        open_price = float(closes[start + n % 50]) if position_type >= 0 else 0.0
        answers.append(rft(start, end, ask, bid, digits, point, open_price, max(position_type, 0), pip_mode))
        answers.append(op["IniAll"](symbol.encode(), currency.encode()))
        for name in ("CloseSignal", "OpenSignal", "PoTP", "PoSL", "Dpp", "DSP", "DCloseSP", "HHH_1", "HHH_2"):
            answers.append(op[name]())
        answers.append(op["LOT"](0.1, 2.0 + n % 5, 1.0, 0.01, 50.0, 0.01, 100000, 10000.0 + 37.5 * n, 1000.0,
                                 n % 3, symbol.encode()))
        if n % 40 == 39:
            answers.append(op["rews"]())
        answers = window_answers + [tuple(bits(a) for a in answers)]
    return answers


def library_calls(lib, frame):
    buffer = host_bars(frame)
    base = ctypes.addressof(buffer)

    def rft(start, end, *market):
        count = end - start
        window = base + start * 44
        return lib.Rft(count, window, count, window, count, window, count, *market)

    names = ("IniAll", "LOT", "CloseSignal", "OpenSignal", "PoTP", "PoSL", "Dpp", "DSP", "DCloseSP", "HHH_1",
             "HHH_2", "rews")
    return rft, {name: getattr(lib, name) for name in names}


def engine_calls(engine, frame, through_frame=0):
    """Windows as slices of one converted array; every `through_frame`-th as a DataFrame slice."""
    records = bar_records(frame)
    calls = {"n": 0}

    def rft(start, end, ask, bid, digits, point, open_price, position_type, pip_mode):
        calls["n"] += 1
        bars = frame.iloc[start:end] if through_frame and calls["n"] % through_frame == 0 else records[start:end]
        return engine.rft(bars, ask, bid, digits, point, open_price, position_type, pip_mode)

    names = ("IniAll", "LOT", "CloseSignal", "OpenSignal", "PoTP", "PoSL", "Dpp", "DSP", "DCloseSP", "HHH_1",
             "HHH_2", "rews")
    return rft, {name: getattr(engine, name) for name in names}


def windows_of(frame, count=None):
    """Where the windows end: after every bar (count None) or at `count` places."""
    first = max(OTHER_LENGTHS)
    if count is None:
        return list(range(first, len(frame) + 1))
    return np.linspace(first, len(frame), count, dtype=int).tolist()


@pytest.fixture(scope="module")
def english():
    return library("TORVIK_ENG_LIB")


@pytest.fixture(scope="module", params=CHARTS, ids=lambda c: c[1])
def chart(request):
    return request.param, torvik.read_bars(os.path.join(SOURCE, request.param[0]))


def test_every_operation_answers_as_the_shared_library(english, chart):
    setup, frame = chart
    windows = windows_of(frame)
    expected = session(library_calls(english, frame), frame, setup, windows)
    got = session(engine_calls(torvik.Engine(), frame, through_frame=7), frame, setup, windows)
    assert got == expected
    # The decisions were exercised, not only their defaults (CloseSignal and OpenSignal
    # are the third and fourth answers); the metals and crypto never enter here.
    assert any(window[2] in (1, 2) for window in got)
    if setup[1] in ("EURUSD", "USDJPY"):
        assert sum(window[3] in (1, 2) for window in got) > 20


def test_pythonic_names_are_the_same_operations(english):
    frame = torvik.read_bars(os.path.join(SOURCE, "data/EURUSD_H1.csv")).iloc[-WINDOW:]
    a, b = torvik.Engine(), torvik.Engine()
    a.Rft(WINDOW, frame, None, frame, None, frame, None, 1.1012, 1.1, 5, 0.00001, 0.0, 0, 5)
    b.rft(frame, ask=1.1012, bid=1.1, digits=5, point=0.00001, pip_mode=5)
    a.IniAll("EURUSD", "USD")
    b.init_all("EURUSD", "USD")
    pairs = [("OpenSignal", "open_signal"), ("CloseSignal", "close_signal"), ("PoTP", "take_profit"),
             ("PoSL", "stop_loss"), ("Dpp", "pip_size"), ("DSP", "dsp"), ("DCloseSP", "dclose_sp"),
             ("HHH_1", "hhh_1"), ("HHH_2", "hhh_2"), ("rews", "reset")]
    for export, alias in pairs:
        assert bits(getattr(a, export)()) == bits(getattr(b, alias)()), export
    assert set(torvik.engine.ALIASES) == {"Rft", "IniAll", "LOT", "ErrorDescription"} | {p[0] for p in pairs}


@pytest.mark.parametrize("language,variable,encoding", [("en", "TORVIK_ENG_LIB", "ascii"),
                                                         ("ru", "TORVIK_RUS_LIB", "cp1251")])
def test_error_texts_in_either_language(language, variable, encoding):
    lib = library(variable)
    engine = torvik.Engine(language)
    codes = list(range(-2, 160)) + list(range(3990, 4220)) + [2**31 - 1, -2**31]
    for code in codes:
        assert engine.error_description(code) == lib.ErrorDescription(code).decode(encoding), code
    if language == "ru":
        assert any(ord(c) > 127 for c in engine.error_description(4000 + 1))


LOT_CASES = [
    # fixed, risk %, multiplier, min, max, step, divisor, funds, margin per lot, split, symbol
    (0.1, 0.0, 1.0, 0.01, 100.0, 0.01, 100000, 10000.0, 1000.0, 0, b"EURUSD"),
    (0.1, 5.0, 1.5, 0.01, 100.0, 0.01, 100000, 25000.0, 3300.0, 1, b"GBPJPY"),
    (0.0, 2.0, 1.0, 0.1, 10.0, 0.1, 100, 1234.56, 87.65, 2, b"XAUUSD"),
    (1.0, 100.0, 3.0, 1.0, 2.0, 1.0, 1, 1e9, 1e-3, 5, b"BTCUSD"),
    (0.5, 1.0, 1.0, 0.0, 0.0, 0.0, 0, 0.0, 0.0, 0, b""),
    (0.5, -1.0, -2.0, 0.01, 100.0, 0.01, -5, -100.0, -1.0, -3, b"USDJPY"),
    (0.1, 1.0, 1.0, 0.01, 100.0, 0.01, 100000, 10000.0, 1000.0, 0, None),
]


@pytest.mark.parametrize("case", LOT_CASES)
def test_lots_as_the_shared_library(english, case):
    assert bits(torvik.Engine().LOT(*case)) == bits(english.LOT(*case))
    assert bits(torvik.Engine().lot(*case)) == bits(english.LOT(*case))


def test_engines_in_threads_answer_as_each_alone():
    charts = [(setup, torvik.read_bars(os.path.join(SOURCE, setup[0]))) for setup in CHARTS[:2]]
    alone = [session(engine_calls(torvik.Engine(), frame), frame, setup, windows_of(frame, 60))
             for setup, frame in charts]
    together = [None] * len(charts)

    def run(i):
        setup, frame = charts[i]
        together[i] = session(engine_calls(torvik.Engine(), frame), frame, setup, windows_of(frame, 60))

    threads = [threading.Thread(target=run, args=(i,)) for i in range(len(charts))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert together == alone


@pytest.mark.parametrize("form", ["frame", "mapping", "array"])
def test_every_form_of_bars_gives_the_same_records(form):
    frame = torvik.read_bars(os.path.join(SOURCE, "data/USDJPY_H1.csv")).iloc[:500]
    seconds = frame.index.asi8 // 1_000_000_000
    columns = {"time": seconds, **{c: frame[c].to_numpy() for c in ("open", "high", "low", "close", "volume")}}
    given = {"frame": frame, "mapping": columns,
             "array": np.column_stack([columns[c] for c in ("time", "open", "high", "low", "close", "volume")])}
    assert bytes(bar_records(given[form])) == bytes(host_bars(frame))[:-1]


def test_bar_totals_beyond_the_array_are_refused():
    records = bar_records(torvik.read_bars(os.path.join(SOURCE, "data/EURUSD_H1.csv")).iloc[:400])
    engine = torvik.Engine()
    with pytest.raises(ValueError, match="exceeds"):
        engine.Rft(300, records, 401, records, 400, records, 400, 1.1, 1.1, 5, 0.00001, 0.0, 0, 5)
    with pytest.raises(TypeError, match="44-byte"):
        torvik._torvik.Engine.Rft(engine, 300, np.zeros(400), None, records, None, records, None, 1.1, 1.1, 5,
                                  0.00001, 0.0, 0, 5)
    with pytest.raises(ValueError, match="six columns"):
        engine.rft(np.zeros(400), 1.1, 1.1, 5, 0.00001)
    with pytest.raises(ValueError):
        torvik.Engine(language="de")


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
def test_an_engine_refuses_pickling_under_every_protocol(protocol):
    with pytest.raises(TypeError, match="stays in its process"):
        pickle.dumps(torvik.Engine(), protocol)
