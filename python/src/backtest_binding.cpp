// Reading bars and making one run, for torvik.read_bars and torvik.backtest:
// the tester's own readers, option table and run (ExecuteRun, on an engine
// record of the run's own), with the GIL released while they work.
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include "python/src/bindings.h"
#include "tester/batch/execute.h"
#include "tester/batch/plan.h"
#include "tester/data/error.h"
#include "tester/data/source.h"
#include "tester/run/options.h"

namespace py = pybind11;

namespace torvik::python {

namespace {

using tester::LoadedData;

// A file parsed once, shared by the DataFrame that shows it and the runs
// that use it.
struct Data {
    std::shared_ptr<const LoadedData> loaded;
};

// One column of the rows, copied into a new array.
template <typename T, typename Field>
py::array_t<T> Column(const LoadedData& d, Field field)
{
    py::array_t<T> column(static_cast<py::ssize_t>(d.rows.size()));
    T* out = column.mutable_data();
    for (size_t i = 0; i < d.rows.size(); ++i) out[i] = field(d.rows[i]);
    return column;
}

py::dict Columns(const Data& data)
{
    const LoadedData& d = *data.loaded;
    py::dict columns;
    columns["time_ms"] = Column<int64_t>(d, [](const tester::Row& r) { return r.timeMs; });
    if (d.info.IsTicks()) {
        columns["bid"] = Column<double>(d, [](const tester::Row& r) { return r.open; });
        columns["ask"] = Column<double>(d, [](const tester::Row& r) { return r.ask; });
        return columns;
    }
    columns["open"] = Column<double>(d, [](const tester::Row& r) { return r.open; });
    columns["high"] = Column<double>(d, [](const tester::Row& r) { return r.high; });
    columns["low"] = Column<double>(d, [](const tester::Row& r) { return r.low; });
    columns["close"] = Column<double>(d, [](const tester::Row& r) { return r.close; });
    columns["volume"] = Column<double>(d, [](const tester::Row& r) { return r.volume; });
    if (d.info.format == tester::FileFormat::BarExport) {
        columns["spread"] = Column<int32_t>(d, [](const tester::Row& r) { return r.spread; });
    }
    return columns;
}

Data Load(const std::string& path)
{
    const py::gil_scoped_release released;
    return Data{std::make_shared<const LoadedData>(tester::LoadFile(path))};
}

Data LoadText(const std::string& text, const std::string& name)
{
    const py::gil_scoped_release released;
    return Data{std::make_shared<const LoadedData>(tester::LoadText(text, name))};
}

// The inputs of a run from their texts, exactly as the command line applies
// them; throws OptionError with the command line's message.
void CheckOptions(const std::vector<std::pair<std::string, std::string>>& options)
{
    tester::RunInputs in = tester::DefaultInputs();
    for (const auto& [name, text] : options) tester::ApplyOption(in, name, text);
    tester::CheckInputs(in);
}

// One run. `data`: files already in memory, by the name the options give
// them; other files are read. The run's four report files go to reportDir.
// Returns the run's record as run.json's text; a failed run raises its message.
std::string Run(const std::vector<std::pair<std::string, std::string>>& options, const std::vector<Data>& data,
                const std::string& reportDir)
{
    CheckOptions(options);
    tester::RunRecord record;
    {
        const py::gil_scoped_release released;
        tester::DataCache cache;
        for (const Data& d : data) cache.Put(d.loaded->info.name, d.loaded);
        tester::Worker worker(cache, tester::OwnEngine);
        record = tester::ExecuteRun(tester::MakeRequest(0, options), worker, reportDir);
    }
    if (!record.ok) throw tester::TesterError(record.message);
    return tester::RecordText(record);
}

// Data crosses processes (pickled with its DataFrame, shipped to a worker)
// as its file's details and its rows' bytes.
static_assert(std::is_trivially_copyable_v<tester::Row>, "rows are copied as bytes");

py::tuple DataState(const Data& d)
{
    const tester::FileInfo& i = d.loaded->info;
    const std::vector<tester::Row>& rows = d.loaded->rows;
    return py::make_tuple(i.name, static_cast<int>(i.format), i.digits, i.timeframeSeconds, i.rows, i.firstTimeMs,
                          i.lastTimeMs, i.bytes,
                          py::bytes(reinterpret_cast<const char*>(rows.data()), rows.size() * sizeof(tester::Row)));
}

Data DataFromState(const py::tuple& state)
{
    constexpr size_t Fields = 9;
    if (state.size() != Fields) throw py::value_error("not the state of torvik data");
    LoadedData d;
    d.info.name = state[0].cast<std::string>();
    const int format = state[1].cast<int>();
    if (format < static_cast<int>(tester::FileFormat::HistoryCenter) ||
        format > static_cast<int>(tester::FileFormat::TickExport)) {
        throw py::value_error("not the state of torvik data");
    }
    d.info.format = static_cast<tester::FileFormat>(format);
    d.info.digits = state[2].cast<int32_t>();
    d.info.timeframeSeconds = state[3].cast<uint32_t>();
    d.info.rows = state[4].cast<uint64_t>();
    d.info.firstTimeMs = state[5].cast<int64_t>();
    d.info.lastTimeMs = state[6].cast<int64_t>();
    d.info.bytes = state[7].cast<uint64_t>();
    const std::string bytes = state[8].cast<std::string>();
    if (bytes.size() % sizeof(tester::Row) != 0) throw py::value_error("not the state of torvik data");
    d.rows.resize(bytes.size() / sizeof(tester::Row));
    if (!bytes.empty()) std::memcpy(d.rows.data(), bytes.data(), bytes.size());
    return Data{std::make_shared<const LoadedData>(std::move(d))};
}

py::list OptionTable()
{
    py::list table;
    for (const tester::OptionEntry& o : tester::RunOptions()) {
        py::dict row;
        row["name"] = o.name;
        row["help"] = o.help;
        row["default"] = o.defaultText == nullptr ? py::none() : py::object(py::str(o.defaultText));
        row["flag"] = o.flag;
        row["required"] = o.required;
        row["repeatable"] = o.repeatable;
        table.append(row);
    }
    return table;
}

}  // namespace

void BindBacktest(py::module_& m)
{
    // TesterError is a ValueError; OptionError names the option at fault.
    const py::exception<tester::TesterError>& testerError =
        py::register_exception<tester::TesterError>(m, "TesterError", PyExc_ValueError);
    py::register_exception<tester::OptionError>(m, "OptionError", testerError.ptr());

    py::class_<Data>(m, "Data", "A bar or tick file parsed by the tester's readers, held in memory.")
        .def_property_readonly("name", [](const Data& d) { return d.loaded->info.name; })
        .def_property_readonly("format", [](const Data& d) { return tester::FormatName(d.loaded->info.format); })
        .def_property_readonly("digits", [](const Data& d) { return d.loaded->info.digits; })
        .def_property_readonly("timeframe_seconds", [](const Data& d) { return d.loaded->info.timeframeSeconds; })
        .def_property_readonly("is_ticks", [](const Data& d) { return d.loaded->info.IsTicks(); })
        .def("__len__", [](const Data& d) { return d.loaded->rows.size(); })
        .def("columns", &Columns, "The rows as arrays: time_ms and the prices.")
        // Immutable: a copy is the same data.
        .def("__copy__", [](const Data& d) { return d; })
        .def("__deepcopy__", [](const Data& d, const py::object&) { return d; })
        // Every pickle protocol rebuilds it through a function pickle finds by
        // name (the module's own functions are not: their self is a capsule).
        .def("__reduce__", [](const Data& d) {
            return py::make_tuple(py::module_::import("torvik.data").attr("_data_from_state"),
                                  py::make_tuple(DataState(d)));
        });
    m.def("_data_from_state", &DataFromState, py::arg("state"));

    m.def("load_file", &Load, py::arg("path"), "Parses a bar or tick file as the tester does.");
    m.def("load_text", &LoadText, py::arg("text"), py::arg("name"),
          "Parses a text in one of the tester's formats; `name` stands for the file in messages.");
    m.def("check_options", &CheckOptions, py::arg("options"));
    m.def("run", &Run, py::arg("options"), py::arg("data"), py::arg("report_dir"));
    m.def("option_table", &OptionTable, "The run's options as the command line lists them.");
    m.def("symbol_from_file_name", &tester::SymbolFromFileName, py::arg("path"));
}

}  // namespace torvik::python
