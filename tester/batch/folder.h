// The batch folder: what the batch is (batch.json), one folder per run
// (runs/<id>/run.json, and the run's report when asked), and the summary at
// the top. Every file is written under a temporary name and renamed when
// complete, so a batch killed at any moment leaves only whole files; a
// resumed batch takes the runs whose run.json is there and makes the rest.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tester/batch/record.h"

namespace torvik::tester {

// Writes `text` to `path` through a temporary file in the same folder,
// flushed to the disk before the rename when `durable`.
void WriteFileAtomically(const std::filesystem::path& path, const std::string& text, bool durable);

class BatchFolder {
public:
    // Opens or creates `dir` for the batch described by `identity`. A folder
    // of another batch is refused with a message, unless `force`, which makes
    // it this batch's (the runs it keeps are those of this batch's plan). Only
    // one batch at a time may use a folder.
    BatchFolder(const std::filesystem::path& dir, const Json& identity, bool force);
    ~BatchFolder();
    BatchFolder(const BatchFolder&) = delete;
    BatchFolder& operator=(const BatchFolder&) = delete;

    // The records written before, in no particular order. Leftovers of runs
    // that did not finish (temporary files, a report without its run.json)
    // are removed.
    std::vector<RunRecord> Load();
    // Where a run's report goes.
    std::filesystem::path RunFolder(const std::string& id) const;
    // Writes the run's run.json, safe from any thread.
    void Write(const RunRecord& record) const;
    // Writes a file of the summary (a name relative to the folder).
    void WriteSummaryFile(const std::string& name, const std::string& text) const;
    // Removes the runs whose ids are not in `keep` (after --force).
    void Prune(const std::vector<std::string>& keep) const;
    const std::filesystem::path& Dir() const { return dir_; }
    bool Replaced() const { return replaced_; }

private:
    std::filesystem::path dir_;
    int lock_ = -1;
    bool replaced_ = false;  // held another batch, taken over by force
};

}  // namespace torvik::tester
