// torvik._torvik.Engine: the fourteen operations on an engine record of the
// object's own, called as the export layer calls them (same operations, same
// floating-point state), so that engines in one process never share a record.
// Each object guards its record with its own mutex; the GIL is released while
// the engine works, so engines in several threads run side by side.
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>

#include "calibration/calibration.h"
#include "engine/engine_state.h"
#include "engine/fp_state_guard.h"
#include "market/bar_ingestion.h"
#include "messages/error_description.h"
#include "money/lot_sizing.h"
#include "python/src/bindings.h"
#include "signals/entry_signal.h"
#include "signals/exit_signal.h"

namespace py = pybind11;

namespace torvik::python {

namespace {

enum class Language { English, Russian };

// A bar array from Python: a C-contiguous buffer of packed 44-byte records
// (the host's layout, oldest first). `total` is how many records the engine
// may read; it never exceeds what the buffer holds.
struct BarArray {
    py::buffer_info info;
    const BarRecord* data = nullptr;
    int32_t total = 0;
};

BarArray Bars(const py::buffer& buffer, const py::object& total, const char* what)
{
    BarArray bars{buffer.request()};
    const py::buffer_info& info = bars.info;
    if (info.itemsize != static_cast<py::ssize_t>(sizeof(BarRecord)) || info.ndim != 1 ||
        (info.size > 1 && info.strides[0] != static_cast<py::ssize_t>(sizeof(BarRecord)))) {
        throw py::type_error(std::string(what) + ": a contiguous array of 44-byte bar records (torvik.bar_records)");
    }
    if (info.size > INT32_MAX) throw py::value_error(std::string(what) + ": more than 2^31 - 1 bars");
    const auto held = static_cast<int32_t>(info.size);
    bars.total = total.is_none() ? held : total.cast<int32_t>();
    // The engine reads up to `total` records: never beyond the array.
    if (bars.total > held) {
        throw py::value_error(std::string(what) + ": total " + std::to_string(bars.total) + " exceeds the " +
                              std::to_string(held) + " bars given");
    }
    bars.data = static_cast<const BarRecord*>(info.ptr);
    return bars;
}

// An ANSI text for the engine: a str in code page 1251 (the terminal's), bytes
// as they are, None as a null pointer (which the operations accept).
struct AnsiText {
    std::string text;
    bool null = false;
    const char* Get() const { return null ? nullptr : text.c_str(); }
};

AnsiText Ansi(const py::object& value)
{
    AnsiText t;
    if (value.is_none()) {
        t.null = true;
    } else if (py::isinstance<py::bytes>(value)) {
        t.text = value.cast<std::string>();
    } else {
        const py::bytes encoded = value.attr("encode")("cp1251");
        t.text = encoded.cast<std::string>();
    }
    return t;
}

class Engine {
public:
    explicit Engine(const std::string& language) : state_(std::make_unique<EngineState>())
    {
        if (language == "en" || language == "english") {
            language_ = Language::English;
        } else if (language == "ru" || language == "russian") {
            language_ = Language::Russian;
        } else {
            throw py::value_error("language: \"en\" or \"ru\", not \"" + language + "\"");
        }
    }

    const char* LanguageCode() const { return language_ == Language::English ? "en" : "ru"; }

    // `operation` on the record, without the GIL, under the record's lock and
    // in the floating-point state the engine computes in.
    template <typename Operation>
    auto OnRecord(Operation operation)
    {
        const py::gil_scoped_release released;
        const std::lock_guard<std::mutex> lock(mutex_);
        const FpStateGuard guard;
        return operation(*state_);
    }

    int32_t Rft(int32_t barCount, const BarArray& ref, const BarArray& series, const BarArray& extra, double ask,
                double bid, int32_t digits, double point, double positionOpenPrice, int32_t positionType,
                int32_t pipMode)
    {
        const BarIngestion in{barCount, ref.data,  ref.total, series.data,       series.total, extra.data,
                              extra.total, ask, bid, digits, point, positionOpenPrice, positionType, pipMode};
        return OnRecord([&](EngineState& s) { return torvik::Rft(s, in); });
    }

    py::str ErrorDescription(int32_t code) const
    {
        const char* text = nullptr;
        {
            const FpStateGuard guard;
            text = language_ == Language::English ? EnglishErrorDescription(code) : RussianErrorDescription(code);
        }
        const std::string bytes(text);
        const char* encoding = language_ == Language::English ? "ascii" : "cp1251";
        PyObject* decoded = PyUnicode_Decode(bytes.data(), static_cast<py::ssize_t>(bytes.size()), encoding, "strict");
        if (decoded == nullptr) throw py::error_already_set();
        return py::reinterpret_steal<py::str>(decoded);
    }

private:
    std::unique_ptr<EngineState> state_;
    std::mutex mutex_;
    Language language_ = Language::English;
};

double Lot(double fixedLot, double riskPercent, double riskMultiplier, double minLot, double maxLot, double lotStep,
           int32_t lotDivisor, double accountFunds, double marginPerLot, int32_t riskSplit, const py::object& symbol)
{
    const AnsiText text = Ansi(symbol);
    const LotRequest r{fixedLot, riskPercent,  riskMultiplier, minLot,    maxLot, lotStep,
                       lotDivisor, accountFunds, marginPerLot,   riskSplit, text.Get()};
    const FpStateGuard guard;
    return torvik::LOT(r);
}

}  // namespace

void BindEngine(py::module_& m)
{
    py::class_<Engine>(m, "Engine", "The fourteen operations on an engine record of this object's own.")
        .def(py::init<const std::string&>(), py::arg("language") = "en")
        .def_property_readonly("language", &Engine::LanguageCode)
        // The record lives in this process; pickle's older protocols would
        // otherwise try to build an engine without its record.
        .def("__reduce_ex__",
             [](const Engine&, const py::object&) -> py::object {
                 throw py::type_error("an engine's record stays in its process: make a new torvik.Engine there");
             })
        .def(
            "Rft",
            [](Engine& e, int32_t barCount, const py::buffer& refBars, const py::object& refBarsTotal,
               const py::buffer& seriesBars, const py::object& seriesBarsTotal, const py::buffer& extraBars,
               const py::object& extraBarsTotal, double ask, double bid, int32_t digits, double point,
               double positionOpenPrice, int32_t positionType, int32_t pipMode) {
                const BarArray ref = Bars(refBars, refBarsTotal, "refBars");
                const BarArray series = Bars(seriesBars, seriesBarsTotal, "seriesBars");
                const BarArray extra = Bars(extraBars, extraBarsTotal, "extraBars");
                return e.Rft(barCount, ref, series, extra, ask, bid, digits, point, positionOpenPrice, positionType,
                             pipMode);
            },
            py::arg("barCount"), py::arg("refBars"), py::arg("refBarsTotal"), py::arg("seriesBars"),
            py::arg("seriesBarsTotal"), py::arg("extraBars"), py::arg("extraBarsTotal"), py::arg("ask"),
            py::arg("bid"), py::arg("digits"), py::arg("point"), py::arg("positionOpenPrice"),
            py::arg("positionType"), py::arg("pipMode"))
        .def(
            "IniAll",
            [](Engine& e, const py::object& symbol, const py::object& currency) {
                const AnsiText s = Ansi(symbol);
                const AnsiText c = Ansi(currency);
                return e.OnRecord([&](EngineState& st) { return torvik::IniAll(st, s.Get(), c.Get()); });
            },
            py::arg("symbolText"), py::arg("currencyText"))
        .def(
            "LOT",
            [](Engine&, double fixedLot, double riskPercent, double riskMultiplier, double minLot, double maxLot,
               double lotStep, int32_t lotDivisor, double accountFunds, double marginPerLot, int32_t riskSplit,
               const py::object& symbol) {
                return Lot(fixedLot, riskPercent, riskMultiplier, minLot, maxLot, lotStep, lotDivisor, accountFunds,
                           marginPerLot, riskSplit, symbol);
            },
            py::arg("fixedLot"), py::arg("riskPercent"), py::arg("riskMultiplier"), py::arg("minLot"),
            py::arg("maxLot"), py::arg("lotStep"), py::arg("lotDivisor"), py::arg("accountFunds"),
            py::arg("marginPerLot"), py::arg("riskSplit"), py::arg("symbol"))
        .def("OpenSignal", [](Engine& e) { return e.OnRecord([](EngineState& s) { return torvik::OpenSignal(s); }); })
        .def("CloseSignal",
             [](Engine& e) { return e.OnRecord([](EngineState& s) { return torvik::CloseSignal(s); }); })
        .def("rews", [](Engine& e) { return e.OnRecord([](EngineState& s) { return torvik::rews(s); }); })
        .def("ErrorDescription", &Engine::ErrorDescription, py::arg("code"))
        .def("PoTP", [](Engine& e) { return e.OnRecord([](EngineState& s) { return torvik::PoTP(s); }); })
        .def("PoSL", [](Engine& e) { return e.OnRecord([](EngineState& s) { return torvik::PoSL(s); }); })
        .def("Dpp", [](Engine& e) { return e.OnRecord([](EngineState& s) { return torvik::Dpp(s); }); })
        .def("DSP", [](Engine& e) { return e.OnRecord([](EngineState& s) { return torvik::DSP(s); }); })
        .def("DCloseSP", [](Engine& e) { return e.OnRecord([](EngineState& s) { return torvik::DCloseSP(s); }); })
        .def("HHH_1", [](Engine& e) { return e.OnRecord([](EngineState& s) { return torvik::HHH_1(s); }); })
        .def("HHH_2", [](Engine& e) { return e.OnRecord([](EngineState& s) { return torvik::HHH_2(s); }); });
}

}  // namespace torvik::python
