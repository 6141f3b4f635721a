// Batches from Python: settings from a plan or a batch command line, a whole
// batch on this machine's cores or with its runs made elsewhere (a Python
// callable that ships the request to a cluster and answers the record), the
// worker's side of such a cluster (one run from a request, over data sent as
// bytes and parsed once per process), and the summary. Everything is the
// tester's batch code; this only carries texts across and minds the GIL.
#include <algorithm>
#include <atomic>
#include <exception>
#include <filesystem>
#include <future>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include <pybind11/functional.h>
#include <pybind11/stl.h>

#include "python/src/bindings.h"
#include "tester/batch/batch.h"
#include "tester/batch/batch_options.h"
#include "tester/batch/execute.h"
#include "tester/batch/summary.h"
#include "tester/cli/commands.h"
#include "tester/data/source.h"

namespace py = pybind11;

namespace torvik::python {

namespace {

using tester::BatchCommand;
using tester::BatchCommandFace;
using tester::BatchHooks;
using tester::BatchOutcome;
using tester::BatchProgress;
using tester::BatchSettings;
using tester::Json;
using tester::LoadedData;
using tester::RunRecord;
using tester::RunRequest;

// A problem the user has to fix (a bad plan, a refused folder) is a
// ValueError in Python, with the tester's message.
template <typename F>
auto Checked(F f) -> decltype(f())
{
    try {
        return f();
    } catch (const tester::TesterError& e) {
        throw py::value_error(e.what());
    }
}

Json ParseJson(const std::string& text, const char* what)
{
    Json j = Json::parse(text, nullptr, false);
    if (j.is_discarded()) throw py::value_error(std::string("not JSON: ") + what);
    return j;
}

// A Python callable held by C++ code that copies it on threads without the
// GIL (std::function copies): the reference is shared, and dropped with the GIL.
class SharedCallable {
public:
    explicit SharedCallable(py::function f)
        : f_(new py::function(std::move(f)), [](py::function* p) {
              const py::gil_scoped_acquire gil;
              delete p;
          })
    {
    }
    const py::function& operator*() const { return *f_; }

private:
    std::shared_ptr<py::function> f_;
};

// The runs made by a Python callable: it takes the request as JSON and the
// files of its bars, and answers the record as run.json's text. Called from
// the pool's threads; the GIL is held only for the call, so a callable that
// waits (for a cluster's answer) lets the other threads go on.
tester::Executor PythonExecutor(py::function execute)
{
    const SharedCallable callable(std::move(execute));
    return [callable](const RunRequest& request, tester::Worker&, const std::filesystem::path&) {
        const std::string json = tester::RequestJson(request).dump();
        const std::string* bars = request.Option("bars");
        const std::vector<std::string> files =
            bars != nullptr ? tester::PortfolioFiles(*bars) : std::vector<std::string>{};
        std::string text;
        {
            const py::gil_scoped_acquire gil;
            text = (*callable)(json, files).cast<std::string>();
        }
        return tester::RecordFromText(text);
    };
}

// What a Python progress callback sees.
struct Progress {
    uint64_t done, failed, total, ran;
};

// A batch made for Python: the first Python exception raised in a callback
// (or a Ctrl-C seen on the main thread) stops the batch after the runs in
// flight, and is raised when it returns.
class PythonBatch {
public:
    PythonBatch(uint32_t jobs, std::optional<py::function> progress, std::optional<py::function> execute)
    {
        hooks_.jobs = jobs;
        hooks_.stop = &stop_;
        if (execute) hooks_.execute = PythonExecutor(std::move(*execute));
        std::optional<SharedCallable> callback;
        if (progress) callback.emplace(std::move(*progress));
        hooks_.progress = [this, callback](const BatchProgress& p) {
            const py::gil_scoped_acquire gil;
            try {
                if (PyErr_CheckSignals() != 0) throw py::error_already_set();
                if (callback) (**callback)(Progress{p.done, p.failed, p.total, p.ran});
            } catch (const py::error_already_set&) {
                Stop(std::current_exception());
            }
        };
    }

    BatchOutcome Run(const BatchSettings& settings, tester::BatchFolder* folder)
    {
        try {
            const py::gil_scoped_release release;
            return tester::RunBatch(settings, folder, hooks_);
        } catch (const tester::BatchInterrupted&) {
            if (error_) std::rethrow_exception(error_);
            throw;
        }
    }

private:
    void Stop(std::exception_ptr e)
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (!error_) error_ = std::move(e);
        stop_ = true;
    }

    BatchHooks hooks_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::exception_ptr error_;
};

// A batch made, with what its summary is made from.
struct BatchResult {
    BatchSettings settings;
    BatchOutcome outcome;
    Json summary;
};

BatchResult RunForPython(const BatchSettings& settings, uint32_t jobs, const std::optional<std::string>& report,
                         bool force, std::optional<py::function> progress, std::optional<py::function> execute)
{
    if (jobs == 0) throw py::value_error("jobs must be 1 or more");
    std::unique_ptr<tester::BatchFolder> folder;
    if (report) {
        folder = Checked(
            [&] { return std::make_unique<tester::BatchFolder>(*report, tester::BatchIdentity(settings), force); });
    }
    PythonBatch batch(jobs, std::move(progress), std::move(execute));
    BatchResult result{settings, Checked([&] { return batch.Run(settings, folder.get()); }), {}};
    result.summary = tester::SummaryJson(result.settings, result.outcome);
    if (folder) {
        for (const tester::SummaryFile& f : tester::SummaryFiles(result.settings, result.outcome, result.summary)) {
            folder->WriteSummaryFile(f.name, f.text);
        }
    }
    return result;
}

// Every file the plan's bars entries name, each once, in plan order.
std::vector<std::string> PlanFiles(const BatchSettings& s)
{
    std::vector<std::string> files;
    for (const std::string& entry : s.plan.bars) {
        for (const std::string& f : tester::PortfolioFiles(entry)) {
            if (std::find(files.begin(), files.end(), f) == files.end()) files.push_back(f);
        }
    }
    return files;
}

// The worker's side of a cluster: the files sent to it, each parsed once per
// process and kept, by name and content key, for every later run.
class WorkerFiles {
public:
    struct Parsed {
        std::shared_ptr<const LoadedData> data;
        std::string error;  // the file's message when it could not be parsed
    };

    // The data of `name` whose content is `key`; parsed from `text` by the
    // first caller (without the GIL) while other callers wait.
    Parsed Get(const std::string& name, const std::string& key, std::string_view text)
    {
        std::shared_future<Parsed> future;
        std::optional<std::promise<Parsed>> parser;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            auto it = files_.find({name, key});
            if (it == files_.end()) {
                parser.emplace();
                it = files_.emplace(std::make_pair(name, key), parser->get_future().share()).first;
            }
            future = it->second;
        }
        const py::gil_scoped_release release;
        if (parser) {
            ++parsed_;
            Parsed p;
            try {
                p.data = std::make_shared<const LoadedData>(tester::LoadText(text, name));
            } catch (const std::exception& e) {
                p.error = e.what();
            }
            parser->set_value(std::move(p));
        }
        return future.get();
    }

    uint64_t ParseCount() const { return parsed_.load(); }

private:
    std::atomic<uint64_t> parsed_{0};
    std::mutex mutex_;
    std::map<std::pair<std::string, std::string>, std::shared_future<Parsed>> files_;
};

WorkerFiles& ProcessFiles()
{
    static WorkerFiles* files = new WorkerFiles();  // lives as long as the process; never torn down under a run
    return *files;
}

// One run of a batch on a cluster's worker: `files` are (name, content key,
// bytes) for each file of the run's bars, or (name, key, message) for a file
// the client could not read.
std::string ExecuteRequest(const std::string& requestJson, const std::vector<py::tuple>& files)
{
    const RunRequest request = Checked([&] { return tester::RequestFromJson(ParseJson(requestJson, "a run request")); });
    tester::DataCache cache;  // this run's: the process-wide files under the names the run gives them
    for (const py::tuple& f : files) {
        if (f.size() != 3) throw py::value_error("a file is (name, key, bytes or message)");
        const auto name = f[0].cast<std::string>();
        const auto key = f[1].cast<std::string>();
        if (py::isinstance<py::str>(f[2])) {
            cache.PutError(name, f[2].cast<std::string>());
            continue;
        }
        const py::bytes bytes = f[2].cast<py::bytes>();
        char* data = nullptr;
        Py_ssize_t size = 0;
        if (PyBytes_AsStringAndSize(bytes.ptr(), &data, &size) != 0) throw py::error_already_set();
        const WorkerFiles::Parsed parsed =
            ProcessFiles().Get(name, key, std::string_view(data, static_cast<size_t>(size)));
        if (parsed.data) {
            cache.Put(name, parsed.data);
        } else {
            cache.PutError(name, parsed.error);
        }
    }
    const py::gil_scoped_release release;
    tester::Worker worker(cache, nullptr);
    return tester::RecordText(tester::ExecuteRun(request, worker));
}

// The message a run gives for a file that cannot be read here.
std::string FileError(const std::string& path)
{
    try {
        tester::LoadFile(path);
    } catch (const std::exception& e) {
        return e.what();
    }
    return {};
}

}  // namespace

void BindBatch(py::module_& m)
{
    py::class_<BatchSettings>(m, "BatchSettings", "A batch: its plan and what decides its runs")
        .def_property_readonly(
            "identity", [](const BatchSettings& s) { return tester::BatchIdentity(s).dump(); },
            "What a batch folder records of the batch (JSON)")
        .def_property_readonly("files", &PlanFiles, "Every file the plan's bars name, once each")
        .def_property_readonly("run_reports", [](const BatchSettings& s) { return s.runReports; })
        .def_property_readonly(
            "requests",
            [](const BatchSettings& s) {
                std::vector<std::string> out;
                for (const RunRequest& r : tester::ExpandPlan(s.plan)) out.push_back(tester::RequestJson(r).dump());
                return out;
            },
            "The runs of the complete grid, as request JSON, in plan order");

    m.def(
        "settings_from_json",
        [](const std::string& text) {
            return Checked([&] {
                BatchSettings s = tester::BatchSettingsFromJson(ParseJson(text, "a plan"));
                tester::CheckBatch(s);
                return s;
            });
        },
        py::arg("plan"), "A batch from a plan as a plan file holds it (a JSON object's text)");

    py::class_<BatchCommand>(m, "BatchCommand", "A batch command line, read")
        .def_readonly("settings", &BatchCommand::settings)
        .def_readonly("folder", &BatchCommand::folder)
        .def_readwrite("jobs", &BatchCommand::jobs)
        .def_readonly("jobs_given", &BatchCommand::jobsGiven)
        .def_readonly("force", &BatchCommand::force)
        .def_readonly("quiet", &BatchCommand::quiet)
        .def_readonly("scheduler", &BatchCommand::scheduler);

    m.def(
        "parse_batch_command",
        [](const std::vector<std::string>& args, const std::string& program) {
            std::vector<const char*> argv{program.c_str()};
            for (const std::string& a : args) argv.push_back(a.c_str());
            std::ostringstream out, err;
            auto parsed = tester::ParseBatchCommand(static_cast<int>(argv.size()), argv.data(), out, err,
                                                    BatchCommandFace{program, true});
            std::optional<BatchCommand> command;
            int status = 0;
            if (auto* c = std::get_if<BatchCommand>(&parsed)) {
                command = std::move(*c);
            } else {
                status = std::get<int>(parsed);
            }
            return py::make_tuple(command, status, out.str(), err.str());
        },
        py::arg("args"), py::arg("program"),
        "Reads the batch command line (the arguments after `batch`): (command or None, exit status, "
        "what goes to stdout, what goes to stderr)");

    m.def(
        "run_batch_command",
        [](const BatchCommand& command, const std::string& program, bool progressBar,
           std::optional<py::function> execute) {
            tester::Executor executor;
            if (execute) executor = PythonExecutor(std::move(*execute));
            const py::gil_scoped_release release;
            const int status = tester::RunBatchCommand(command, std::cout, std::cerr, progressBar, executor,
                                                       BatchCommandFace{program, true});
            std::cout.flush();
            return status;
        },
        py::arg("command"), py::arg("program"), py::arg("progress_bar"), py::arg("execute") = py::none(),
        "Makes the batch as torvik-tester batch does, on stdout and stderr; answers the exit status");

    py::class_<Progress>(m, "BatchProgress", "How far a batch is")
        .def_readonly("done", &Progress::done, "runs with a record (made or found in the folder)")
        .def_readonly("failed", &Progress::failed)
        .def_readonly("total", &Progress::total, "runs expected")
        .def_readonly("ran", &Progress::ran, "runs made by this batch")
        .def("__repr__", [](const Progress& p) {
            return "BatchProgress(done=" + std::to_string(p.done) + ", failed=" + std::to_string(p.failed) +
                   ", total=" + std::to_string(p.total) + ", ran=" + std::to_string(p.ran) + ")";
        });

    py::class_<BatchResult>(m, "BatchResult", "A batch made")
        .def_property_readonly("summary_json", [](const BatchResult& r) { return r.summary.dump(); })
        .def_property_readonly("ran", [](const BatchResult& r) { return r.outcome.ran; })
        .def_property_readonly("console", [](const BatchResult& r) { return tester::SummaryConsole(r.summary); })
        .def(
            "summary_files",
            [](const BatchResult& r) {
                std::vector<std::pair<std::string, std::string>> files;
                for (const tester::SummaryFile& f : tester::SummaryFiles(r.settings, r.outcome, r.summary)) {
                    files.emplace_back(f.name, f.text);
                }
                return files;
            },
            "Every file of the summary: (name in the batch folder, text)")
        .def(
            "records", [](const BatchResult& r) {
                std::vector<std::string> texts;
                for (const RunRecord& rec : r.outcome.records) texts.push_back(tester::RecordText(rec));
                return texts;
            },
            "Every run's record (run.json's text), in plan order");

    m.def("run_batch", &RunForPython, py::arg("settings"), py::arg("jobs"), py::arg("report") = py::none(),
          py::arg("force") = false, py::arg("progress") = py::none(), py::arg("execute") = py::none(),
          "Makes the batch on `jobs` threads (into the batch folder `report`, resumed when it holds this batch). "
          "progress(BatchProgress) after each run; execute(request_json, files) -> record text makes the runs "
          "elsewhere.");

    m.def("execute_request", &ExecuteRequest, py::arg("request"), py::arg("files"),
          "One run of a batch from its request (JSON) over files sent as (name, content key, bytes); answers the "
          "record as run.json's text. Each file is parsed once per process.");
    m.def(
        "worker_files_parsed", [] { return ProcessFiles().ParseCount(); },
        "How many files this process has parsed for execute_request");
    m.def("machine_cores", &tester::MachineCores, "The jobs of a batch on this machine by default: its cores");
    m.def("file_error", &FileError, py::arg("path"), "The message of a run whose bars file cannot be read");
}

}  // namespace torvik::python
