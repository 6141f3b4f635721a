#include "tester/batch/folder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <set>

#include <fmt/format.h>

#include "tester/data/error.h"

namespace torvik::tester {

namespace {

namespace fs = std::filesystem;

constexpr const char* IdentityFile = "batch.json";
constexpr const char* LockFile = ".lock";
constexpr const char* RunsFolder = "runs";
constexpr const char* RecordFile = "run.json";
constexpr const char* PartialSuffix = ".partial";
constexpr int IdentityVersion = 1;
// What a batch writes at the top of its folder besides batch.json and runs/.
const char* const SummaryNames[] = {"summary.csv", "summary.json", "summary.html", "walk_forward.csv", "oos"};

std::string ReadText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Json IdentityJson(const Json& identity) { return Json{{"version", IdentityVersion}, {"batch", identity}}; }

void RemoveSummary(const fs::path& dir)
{
    std::error_code ec;
    for (const char* name : SummaryNames) fs::remove_all(dir / name, ec);
}

// A folder a batch may take: none yet, an empty one, or what a batch killed
// before it wrote its batch.json left (an empty runs/ and the lock file).
bool Unclaimed(const fs::path& dir)
{
    std::error_code ec;
    if (!fs::exists(dir, ec)) return true;
    for (const fs::directory_entry& e : fs::directory_iterator(dir, ec)) {
        const std::string name = e.path().filename().string();
        const bool leftover = name == LockFile || (name == RunsFolder && e.is_directory() && fs::is_empty(e.path()));
        if (!leftover) return false;
    }
    return true;
}

}  // namespace

void WriteFileAtomically(const fs::path& path, const std::string& text, bool durable)
{
    const fs::path partial = path.string() + PartialSuffix;
    std::FILE* f = std::fopen(partial.c_str(), "wb");
    if (f == nullptr) throw TesterError(fmt::format("{}: cannot write", path.string()));
    bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size() && std::fflush(f) == 0;
    if (written && durable) written = fsync(fileno(f)) == 0;
    written = std::fclose(f) == 0 && written;
    std::error_code ec;
    if (written) fs::rename(partial, path, ec);
    if (!written || ec) {
        fs::remove(partial, ec);
        throw TesterError(fmt::format("{}: cannot write", path.string()));
    }
}

BatchFolder::BatchFolder(const fs::path& dir, const Json& identity, bool force) : dir_(dir)
{
    const fs::path file = dir_ / IdentityFile;
    if (!fs::exists(file) && !Unclaimed(dir_)) {
        throw TesterError(
            fmt::format("{} is not a batch folder (it has no {}) and is not empty; give a new or empty "
                        "folder",
                        dir_.string(), IdentityFile));
    }
    std::error_code ec;
    fs::create_directories(dir_ / RunsFolder, ec);
    if (ec || !fs::is_directory(dir_ / RunsFolder)) {
        throw TesterError(fmt::format("{}: cannot create the batch folder", dir_.string()));
    }
    lock_ = open((dir_ / LockFile).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock_ < 0) throw TesterError(fmt::format("{}: cannot write", (dir_ / LockFile).string()));
    if (flock(lock_, LOCK_EX | LOCK_NB) != 0) {
        close(lock_);
        throw TesterError(fmt::format("{}: another batch is running in this folder", dir_.string()));
    }
    try {
        const Json wanted = IdentityJson(identity);
        if (!fs::exists(file)) {
            WriteFileAtomically(file, wanted.dump(2) + "\n", true);
        } else if (Json::parse(ReadText(file), nullptr, false) != wanted) {
            if (!force) {
                throw TesterError(
                    fmt::format("{} holds another batch (its plan or settings differ from these); give a new folder, "
                                "or --force to replace it (the runs of the new plan that it holds are kept)",
                                dir_.string()));
            }
            replaced_ = true;
            RemoveSummary(dir_);
            WriteFileAtomically(file, wanted.dump(2) + "\n", true);
        }
    } catch (...) {
        close(lock_);
        throw;
    }
}

BatchFolder::~BatchFolder()
{
    if (lock_ >= 0) close(lock_);  // releases the lock
}

fs::path BatchFolder::RunFolder(const std::string& id) const { return dir_ / RunsFolder / id; }

std::vector<RunRecord> BatchFolder::Load()
{
    std::vector<RunRecord> records;
    std::error_code ec;
    for (const fs::directory_entry& e : fs::directory_iterator(dir_)) {
        if (e.path().extension() == PartialSuffix) fs::remove(e.path(), ec);
    }
    std::vector<fs::path> leftovers;
    for (const fs::directory_entry& e : fs::directory_iterator(dir_ / RunsFolder)) {
        const fs::path record = e.path() / RecordFile;
        bool whole = false;
        if (e.is_directory() && fs::exists(record)) {
            try {
                RunRecord r = RecordFromText(ReadText(record));
                whole = r.request.id == e.path().filename().string();
                if (whole) records.push_back(std::move(r));
            } catch (const TesterError&) {
                // cut short by a crash of the machine: made again
            }
        }
        if (!whole) leftovers.push_back(e.path());
    }
    for (const fs::path& p : leftovers) fs::remove_all(p, ec);
    return records;
}

void BatchFolder::Write(const RunRecord& record) const
{
    const fs::path dir = RunFolder(record.request.id);
    std::error_code ec;
    fs::create_directories(dir, ec);
    WriteFileAtomically(dir / RecordFile, RecordText(record), true);
}

void BatchFolder::WriteSummaryFile(const std::string& name, const std::string& text) const
{
    const fs::path path = dir_ / name;
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    WriteFileAtomically(path, text, false);
}

void BatchFolder::Prune(const std::vector<std::string>& keep) const
{
    const std::set<std::string> kept(keep.begin(), keep.end());
    std::vector<fs::path> gone;
    for (const fs::directory_entry& e : fs::directory_iterator(dir_ / RunsFolder)) {
        if (kept.count(e.path().filename().string()) == 0) gone.push_back(e.path());
    }
    std::error_code ec;
    for (const fs::path& p : gone) fs::remove_all(p, ec);
}

}  // namespace torvik::tester
